// The editor and preview side of RecordingDialog: loading the selected
// recording, keeping its audio in step with the waveform's cuts, and playing it.
#include "recording/RecordingDialog.h"

#include "audiofile/AudioFileDecoder.h"
#include "audiofile/PcmBuffer.h"
#include "playback/AudioOutputDevice.h"
#include "recording/RecordingFileWriter.h"
#include "recording/RecordingItemDelegate.h"
#include "recording/RecordingJobQueue.h"
#include "recording/RecordingPcm.h"
#include "recording/RecordingWaveformWidget.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int kPreviewRate = 44100;
constexpr int kPreviewChannels = 2;
constexpr qint64 kReadFrames = 8192;

// The whole file as 16-bit stereo 44100 Hz; at most maxFrames frames when
// maxFrames >= 1. Empty when it cannot be decoded.
QByteArray decodeToS16(const QString& path, qint64 maxFrames, qint64* declaredFrames = nullptr)
{
    QByteArray pcm;
    AudioFileDecoder decoder;
    if (!decoder.open(QFileInfo(path).absoluteFilePath()))
        return pcm;
    if (declaredFrames)
        *declaredFrames = decoder.declaredFrames();
    // The declared length is a hint that a damaged header may inflate: never
    // reserved beyond what the file's size can hold.
    qint64 expected = PcmBuffer::plausibleFrames(decoder.declaredFrames(), QFileInfo(path).size());
    if (maxFrames >= 1)
        expected = std::min(expected, maxFrames);
    pcm.reserve(qsizetype(std::max<qint64>(expected, 0) * kPreviewChannels * 2));

    std::vector<float> floats(size_t(kReadFrames * kPreviewChannels));
    std::vector<qint16> samples(size_t(kReadFrames * kPreviewChannels));
    qint64 total = 0;
    for (;;) {
        qint64 frames = decoder.read(floats.data(), kReadFrames);
        if (frames <= 0)
            break;
        bool last = false;
        if (maxFrames >= 1 && total + frames > maxFrames) {
            frames = maxFrames - total;
            last = true;
        }
        RecordingPcm::floatToS16(floats.data(), samples.data(), frames * kPreviewChannels);
        pcm.append(reinterpret_cast<const char*>(samples.data()), qsizetype(frames * kPreviewChannels * 2));
        total += frames;
        if (last)
            break;
    }
    return pcm;
}

}  // namespace

// --- selection and loading -------------------------------------------------

QStandardItem* RecordingDialog::currentRecordingItem() const
{
    const QModelIndex index = recordingsView->currentIndex();
    return index.isValid() ? recordingsModel->itemFromIndex(index) : nullptr;
}

void RecordingDialog::onRecordingSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    Q_UNUSED(deselected);
    if (selected.indexes().isEmpty())
        return;
    // A click on a check box toggles it and loads nothing.
    if (itemDelegate && itemDelegate->skipNextSelection) {
        itemDelegate->skipNextSelection = false;
        return;
    }
    onRecordingSelected();
}

void RecordingDialog::onRecordingSelected()
{
    if (state == Recording || state == RecordingPaused || closeRequested)
        return;
    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    saveEditsIfModified();

    QStandardItem* item = currentRecordingItem();
    if (!item)
        return;
    const QString path = item->data(Qt::UserRole).toString();
    if (path.isEmpty())
        return;

    if (!QFileInfo::exists(path)) {
        ++loadGeneration;
        loadPending = false;
        waveform->setPeaks({});
        timeLabel->setText(QStringLiteral("00:00.00"));
        releaseEditor();
        updateWaveformInteractivity();
        return;
    }

    const qint64 stored = item->data(Qt::UserRole + 1).toLongLong();
    const qint64 maxFrames = stored > 0 ? qint64(editSampleRate) * stored / 1000 : -1;
    loadForEditing(path, maxFrames);
}

void RecordingDialog::releaseEditor()
{
    QByteArray none;
    {
        std::optional<AudioOutputDevice::Lock> lock;
        if (previewDevice)
            lock.emplace(*previewDevice);
        editPcm.swap(none);
    }
    ++editGeneration;
    freeOnWorker(std::move(none), editHistory.takeAll());
    editPath.clear();
    recomputeEditLength();
}

void RecordingDialog::freeOnWorker(QByteArray pcm, QList<RecordingEditHistory::StatePtr> states)
{
    qint64 bytes = pcm.size();
    for (const auto& state : std::as_const(states))
        bytes += state->bytes();
    if (!jobs || bytes <= kInlineEditBytes)
        return;  // small: freed here on return
    jobs->enqueue(
        [pcm = std::move(pcm), states = std::move(states)]() mutable {
            pcm = QByteArray();
            states.clear();
            return true;
        },
        [](bool) {});
}

// The editor lets go of what it held at once; the file is decoded on the
// worker (after any file work given before) and taken by onRecordingLoaded.
void RecordingDialog::loadForEditing(const QString& path, qint64 maxFrames)
{
    releaseEditor();
    editPath = path;
    const quint64 generation = ++loadGeneration;
    loadPending = !path.isEmpty();
    updateWaveformInteractivity();
    if (path.isEmpty())
        return;
    const int rate = editSampleRate;
    jobs->enqueue(
        [path, maxFrames, rate] {
            LoadedAudio audio;
            audio.pcm = decodeToS16(path, maxFrames);
            audio.peaks = RecordingPcm::peaks(audio.pcm.constData(), audio.pcm.size(), kPreviewChannels, rate);
            return audio;
        },
        [this, generation](const LoadedAudio& audio) { onRecordingLoaded(generation, audio); });
}

void RecordingDialog::onRecordingLoaded(quint64 generation, const LoadedAudio& audio)
{
    // A later selection, a recording or a close has taken the editor since.
    if (generation != loadGeneration || state == Recording || state == RecordingPaused)
        return;
    loadPending = false;
    {
        QByteArray pcm = audio.pcm;
        std::optional<AudioOutputDevice::Lock> lock;
        if (previewDevice)
            lock.emplace(*previewDevice);
        editPcm.swap(pcm);
    }
    editHistory.reset(editPcm);
    recomputeEditLength();
    updateWaveformInteractivity();

    if (audio.peaks.isEmpty()) {
        waveform->setPlaybackPosition(-1);
        playWhenLoaded = false;
        return;
    }
    waveform->setPeaks(audio.peaks);
    const qint64 duration = editFrames * 1000 / editSampleRate;
    timeLabel->setText(formatTime(duration));
    waveform->setPlaybackPosition(0);
    QStandardItem* item = currentRecordingItem();
    if (item && item->data(Qt::UserRole).toString() == editPath) {
        const qint64 stored = item->data(Qt::UserRole + 1).toLongLong();
        if (std::llabs(duration - stored) > 50)
            item->setData(QVariant::fromValue<qint64>(duration), Qt::UserRole + 1);
    }
    if (playWhenLoaded) {
        playWhenLoaded = false;
        if (state == Idle)
            startPlayback();
    }
}

void RecordingDialog::recomputeEditLength()
{
    editFrames = editChannels > 0 ? editPcm.size() / (qint64(editChannels) * 2) : 0;
    editDurationMs = editSampleRate > 0 ? editFrames * 1000 / editSampleRate : 0;
}

QList<PeakPair> RecordingDialog::computePeaks(const QByteArray& pcm, int channels) const
{
    if (pcm.isEmpty() || channels < 1)
        return {};
    return RecordingPcm::peaks(pcm.constData(), pcm.size(), channels, editSampleRate);
}

QList<PeakPair> RecordingDialog::loadFilePeaks(const QString& path, qint64* durationMs)
{
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return loadWavPeaks(path, durationMs);
    qint64 declared = 0;
    const QByteArray pcm = decodeToS16(path, -1, &declared);
    const QList<PeakPair> peaks = RecordingPcm::peaks(pcm.constData(), pcm.size(), kPreviewChannels, kPreviewRate);
    if (durationMs) {
        *durationMs = declared > 0 ? declared * 1000 / kPreviewRate : 0;
        if (*durationMs == 0 && !peaks.isEmpty())
            *durationMs = qint64(kPreviewRate / 100) * peaks.size() * 1000 / kPreviewRate;
    }
    return peaks;
}

QList<PeakPair> RecordingDialog::loadWavPeaks(const QString& path, qint64* durationMs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray header = file.read(44);
    if (header.size() < 44 || !header.startsWith("RIFF") || header.mid(8, 4) != "WAVE")
        return {};
    const int channels = qFromLittleEndian<quint16>(header.constData() + 22);
    const qint64 rate = qFromLittleEndian<qint32>(header.constData() + 24);
    const int bits = qFromLittleEndian<quint16>(header.constData() + 34);
    const qint64 dataSize = qFromLittleEndian<quint32>(header.constData() + 40);
    if (channels <= 0 || rate <= 0 || bits != 16)
        return {};
    if (durationMs)
        *durationMs = dataSize * 1000 / (channels * rate * 2);
    const QByteArray data = file.readAll();
    return RecordingPcm::peaks(data.constData(), data.size(), channels, int(rate));
}

// --- preview ---------------------------------------------------------------

void RecordingDialog::onPlayPauseClicked()
{
    switch (state) {
    case Idle:
        if (savesInFlight > 0)
            playWhenLoaded = true;  // plays the new recording once it is saved and loaded
        else if (recordingsModel->rowCount() > 0)
            startPlayback();
        return;
    case Recording:
    case RecordingPaused:
        toggleRecordingPause();
        return;
    case Playing:
        // The position stays in playFrame; resuming opens the device again.
        closePreviewDevice();
        state = PlaybackPaused;
        updateTransportButtons();
        return;
    case PlaybackPaused:
        if (!openPreviewDevice()) {
            stopPlayback();
            return;
        }
        state = Playing;
        updateTransportButtons();
        return;
    }
}

bool RecordingDialog::openPreviewDevice()
{
    closePreviewDevice();
    auto device = std::make_unique<AudioOutputDevice>();
    QString error;
    if (!device->isAvailable()) {
        qWarning() << "[Recording] Preview output unavailable:" << device->initError();
        return false;
    }
    if (!device->open(QString(), &RecordingDialog::previewDataCallback, this, &error) || !device->start(&error)) {
        qWarning() << "[Recording] Preview output could not start:" << error;
        device->close();
        return false;
    }
    previewDevice = std::move(device);
    return true;
}

void RecordingDialog::closePreviewDevice()
{
    if (!previewDevice)
        return;
    previewDevice->close();  // returns once the callback has stopped for good
    previewDevice.reset();
}

void RecordingDialog::startPlayback()
{
    if (state != Idle)
        return;
    QModelIndex index = recordingsView->currentIndex();
    if (!index.isValid()) {
        const int rows = recordingsModel->rowCount();
        if (rows == 0)
            return;
        index = recordingsModel->index(rows - 1, 0);
        recordingsView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    QStandardItem* item = recordingsModel->itemFromIndex(index);
    if (!item)
        return;
    const QString path = item->data(Qt::UserRole).toString();
    if (path.isEmpty())
        return;

    closePreviewDevice();
    if (editPath != path || (editPcm.isEmpty() && !loadPending)) {
        if (!QFileInfo::exists(path))
            return;
        loadForEditing(path, -1);
    }
    // Everything is decoded before the device starts; nothing decodes on the
    // audio thread. The preview starts when the decoding is done.
    if (loadPending) {
        playWhenLoaded = true;
        return;
    }
    // Audio that cannot be decoded is not previewed.
    if (editPcm.isEmpty())
        return;
    editSampleRate = kPreviewRate;
    editChannels = kPreviewChannels;

    playFrame = 0;
    playByteOffset = 0;
    previewEnded = false;
    previewPath = path;

    qint64 start = 0;
    if (waveform->hasSelection()) {
        loopStartFrame = qint64(editSampleRate) * waveform->selectionStart() / 1000;
        loopEndFrame = qint64(editSampleRate) * waveform->selectionEnd() / 1000;
        start = waveform->selectionStart();
    } else {
        loopStartFrame = 0;
        loopEndFrame = 0;
        start = std::max<qint64>(waveform->playbackPosition(), 0);
    }
    pendingSeekFrame = -1;
    const qint64 frame = qint64(editSampleRate) * start / 1000;
    playFrame = frame;
    playByteOffset = frame * editChannels * 2;
    waveform->setPlaybackPosition(start);

    if (!openPreviewDevice())
        return;
    state = Playing;
    if (!indicatorTimer) {
        indicatorTimer = new QTimer(this);
        indicatorTimer->setInterval(50);
        connect(indicatorTimer, &QTimer::timeout, this, &RecordingDialog::onIndicatorTick);
    }
    indicatorTimer->start();
    updateTransportButtons();
}

void RecordingDialog::previewDataCallback(void* userData, float* out, int frames)
{
    auto* self = static_cast<RecordingDialog*>(userData);
    if (!self || !out) {
        if (out)
            std::memset(out, 0, size_t(frames) * kPreviewChannels * sizeof(float));
        return;
    }
    self->renderPreview(out, frames);
}

// Audio thread: copies from editPcm, which the GUI thread replaces only while
// the device is locked. No lock, no allocation, no logging here.
void RecordingDialog::renderPreview(float* out, int frameCount)
{
    constexpr qint64 kFrameBytes = kPreviewChannels * 2;
    const char* pcm = editPcm.constData();
    const qint64 totalFrames = editPcm.size() / kFrameBytes;
    auto copyFrames = [&](qint64 from, qint64 count, float* dst) {
        const char* src = pcm + from * kFrameBytes;
        for (qint64 i = 0; i < count * kPreviewChannels; ++i)
            dst[i] = RecordingPcm::s16ToFloat(qFromLittleEndian<qint16>(src + i * 2));
    };
    auto zero = [&](qint64 fromFrame) {
        if (fromFrame < frameCount)
            std::memset(out + fromFrame * kPreviewChannels, 0,
                        size_t(frameCount - fromFrame) * kPreviewChannels * sizeof(float));
    };
    if (totalFrames == 0) {
        zero(0);
        return;
    }

    const qint64 seek = pendingSeekFrame.exchange(-1);
    if (seek >= 0)
        playFrame = seek;
    const qint64 oldFrame = std::max<qint64>(playFrame.load(), 0);
    const qint64 copied = std::clamp<qint64>(totalFrames - oldFrame, 0, frameCount);
    copyFrames(oldFrame, copied, out);
    qint64 newFrame = oldFrame + copied;

    const qint64 loopStart = loopStartFrame.load();
    const qint64 loopEnd = loopEndFrame.load();
    const bool looping = loopEnd > std::max<qint64>(loopStart, 0);
    if (looping && newFrame >= loopEnd) {
        const qint64 kept = std::clamp<qint64>(loopEnd - oldFrame, 0, frameCount);
        const qint64 remaining = frameCount - kept;
        const qint64 from = std::clamp<qint64>(loopStart, 0, totalFrames);
        const qint64 filled = std::clamp<qint64>(totalFrames - from, 0, remaining);
        copyFrames(from, filled, out + kept * kPreviewChannels);
        zero(kept + filled);
        newFrame = from + filled;
    } else if (copied < frameCount) {
        zero(copied);
        previewEnded.store(true);
    }
    playFrame = newFrame;
    playByteOffset = newFrame * kFrameBytes;
}

void RecordingDialog::updatePlaybackPosition()
{
    if (previewEnded.load()) {
        stopPlayback();
        return;
    }
    if (pendingSeekFrame.load() >= 0)
        return;
    const qint64 position = editSampleRate > 0 ? playFrame.load() * 1000 / editSampleRate : 0;
    waveform->setPlaybackPosition(position);
    timeLabel->setText(formatTime(position));
}

void RecordingDialog::stopPlayback()
{
    if (state == Recording || state == RecordingPaused)
        return;
    closePreviewDevice();
    delete indicatorTimer;
    indicatorTimer = nullptr;

    state = Idle;
    playFrame = 0;
    playByteOffset = 0;
    pendingSeekFrame = -1;
    loopStartFrame = 0;
    loopEndFrame = 0;
    previewEnded = false;

    waveform->setPlaybackPosition(waveform->hasSelection() ? waveform->selectionStart() : 0);
    indicatorPhase = 0;
    showIndicator(QStringLiteral("#e74c3c"), 1.0);
    if (editDurationMs > 0)
        timeLabel->setText(formatTime(editDurationMs));
    updateTransportButtons();
}

// --- waveform reactions ----------------------------------------------------

void RecordingDialog::onWaveformSelectionChanged(bool hasSel)
{
    selectionLabel->setVisible(hasSel);
    if (hasSel && editSampleRate > 0) {
        loopStartFrame = qint64(editSampleRate) * waveform->selectionStart() / 1000;
        loopEndFrame = qint64(editSampleRate) * waveform->selectionEnd() / 1000;
    } else {
        loopStartFrame = 0;
        loopEndFrame = 0;
    }
}

void RecordingDialog::onWaveformSelectionRangeChanged(qlonglong startMs, qlonglong endMs)
{
    selectionLabel->setText(QStringLiteral("[ %1 ]").arg(formatTime(std::llabs(endMs - startMs))));
    selectionLabel->setVisible(startMs != endMs);
}

void RecordingDialog::onWaveformPlaybackPosChanged(qlonglong ms)
{
    if ((state == Playing || state == PlaybackPaused) && editSampleRate > 0)
        pendingSeekFrame = qint64(editSampleRate) * ms / 1000;
}

void RecordingDialog::onWaveformDurationChanged(qlonglong ms)
{
    // While a recording stops, the silence trim reports the new recording's
    // length; the list's current item is another recording then.
    if (state == Recording || state == RecordingPaused)
        return;
    timeLabel->setText(formatTime(ms));
    // The waveform counts whole 10 ms peaks; the audio was cut to the exact
    // ms (the cut reaches the editor before this signal). Storing the peak
    // count would cut the file's end off at the next load.
    // An edit still built on the worker already counts with its exact length.
    const qint64 bytes = editHistory.currentBytes();
    const qint64 stored = bytes == 0 ? ms : RecordingPcm::durationMs(bytes, editSampleRate, editChannels);
    if (QStandardItem* item = currentRecordingItem())
        item->setData(QVariant::fromValue<qint64>(stored), Qt::UserRole + 1);
    if (ms == 0 && state == Idle)
        QTimer::singleShot(0, this, &RecordingDialog::deleteCurrentRecording);
}

// --- edits -----------------------------------------------------------------
// Each edit names its new state at once (its length is known) and builds the
// audio, at once when small, else on the worker after the file work and edits
// given before it. The audio is swapped in with the preview device locked, so
// the callback never sees a buffer being changed or freed.

void RecordingDialog::onRangeDeleted(qint64 startMs, qint64 endMs)
{
    const RecordingEditHistory::StatePtr from = editHistory.current();
    if (!from || from->bytes() == 0)
        return;
    const qint64 start = RecordingPcm::byteOffsetOfMs(startMs, editSampleRate, editChannels);
    const qint64 end = RecordingPcm::byteOffsetOfMs(endMs, editSampleRate, editChannels);
    const qint64 s = qint64(editSampleRate) * startMs / 1000;
    const qint64 e = qint64(editSampleRate) * endMs / 1000;
    const auto to = editHistory.push(RecordingPcm::withoutRangeBytes(from->bytes(), start, end));
    applyEdit(
        from, to, [start, end](const QByteArray& pcm) { return RecordingPcm::withoutRange(pcm, start, end); },
        [s, e](qint64 frame) {
            if (frame >= e)
                return frame - (e - s);  // the same sound keeps playing
            return frame >= s ? s : frame;
        });
}

void RecordingDialog::onRangeKept(qint64 startMs, qint64 endMs)
{
    const RecordingEditHistory::StatePtr from = editHistory.current();
    if (!from || from->bytes() == 0)
        return;
    const qint64 start = RecordingPcm::byteOffsetOfMs(startMs, editSampleRate, editChannels);
    const qint64 end = RecordingPcm::byteOffsetOfMs(endMs, editSampleRate, editChannels);
    const auto to = editHistory.push(RecordingPcm::rangeOnlyBytes(from->bytes(), start, end));
    applyEdit(
        from, to, [start, end](const QByteArray& pcm) { return RecordingPcm::rangeOnly(pcm, start, end); },
        [](qint64) { return qint64(0); });
}

void RecordingDialog::onUndoPerformed()
{
    const RecordingEditHistory::StatePtr back = editHistory.undo();
    if (!back)
        return;
    applyEdit(nullptr, back, nullptr, [](qint64) { return qint64(0); });
}

void RecordingDialog::applyEdit(const RecordingEditHistory::StatePtr& from, const RecordingEditHistory::StatePtr& to,
                                std::function<QByteArray(const QByteArray&)> build,
                                std::function<qint64(qint64)> frameAfter)
{
    if (editsInFlight == 0 && (!build || from->bytes() <= kInlineEditBytes)) {
        // Everything asked for before has landed: every state is filled.
        if (build)
            to->fill(build(from->pcm()));
        swapEditAudio(to->pcm(), frameAfter);
        return;
    }
    ++editsInFlight;
    const quint64 generation = editGeneration;
    jobs->enqueue(
        [from, to, build = std::move(build)] {
            if (build)
                to->fill(build(from->pcm()));
            return true;
        },
        [this, to, generation, frameAfter = std::move(frameAfter)](bool) mutable {
            --editsInFlight;
            RecordingEditHistory::StatePtr landed = std::move(to);
            if (generation == editGeneration)
                swapEditAudio(landed->pcm(), frameAfter);
            else  // the editor let go of that recording meanwhile
                freeOnWorker(QByteArray(), {std::move(landed)});
        });
}

void RecordingDialog::swapEditAudio(QByteArray next, const std::function<qint64(qint64)>& frameAfter)
{
    {
        std::optional<AudioOutputDevice::Lock> lock;
        if (previewDevice)
            lock.emplace(*previewDevice);
        editPcm.swap(next);
        recomputeEditLength();
        if (state == Playing || state == PlaybackPaused) {
            const qint64 frame = frameAfter(playFrame.load());
            playFrame = frame;
            playByteOffset = frame * editChannels * 2;
        }
    }
    // The audio before an undo is no state any more.
    if (next.isDetached())
        freeOnWorker(std::move(next));
}

void RecordingDialog::writeEditedFile(const QString& path)
{
    const RecordingEditHistory::StatePtr written = editHistory.current();
    if (!written || written->bytes() == 0 || path.isEmpty())
        return;
    editHistory.markWritten();
    const int channels = editChannels;
    const int rate = editSampleRate;
    // Queued after the edits still in flight, which fill the state first.
    jobs->enqueue(
        [path, written, channels, rate] {
            QString error;
            RecordingFileWriter::write(path, written->pcm(), channels, rate, RecordingFileWriter::formatForPath(path),
                                       &error);
            return error;
        },
        [this, path](const QString& error) {
            if (error.isEmpty())
                return;
            qWarning() << "[Recording] Failed to write edited recording:" << path << error;
            auto* box = new QMessageBox(QMessageBox::Warning, tr("录音保存失败"),
                                        tr("剪辑后的录音未能写入：%1\n原文件保持不变。").arg(error), QMessageBox::Ok,
                                        this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
}

bool RecordingDialog::editModified() const
{
    return !editPath.isEmpty() && editHistory.currentBytes() > 0 && editHistory.isModified();
}

void RecordingDialog::saveEditsIfModified()
{
    if (editModified())
        writeEditedFile(editPath);
}

void RecordingDialog::deleteCurrentRecording()
{
    QStandardItem* item = currentRecordingItem();
    if (!item)
        return;
    const int row = item->row();
    const QString path = item->data(Qt::UserRole).toString();
    if (!path.isEmpty())
        QFile::remove(path);
    ++loadGeneration;
    loadPending = false;
    releaseEditor();
    updateWaveformInteractivity();
    recordingsModel->removeRow(row);

    const int rows = recordingsModel->rowCount();
    if (rows > 0) {
        const QModelIndex next = recordingsModel->index(std::min(rows - 1, row), 0);
        recordingsView->selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect);
        // The selection change has usually loaded it already.
        if (editPath != next.data(Qt::UserRole).toString())
            onRecordingSelected();
    } else {
        waveform->clear();
        timeLabel->setText(formatTime(0));
        selectionLabel->hide();
        updateTransportButtons();
    }
}
