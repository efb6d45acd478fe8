#include "recording/RecordingDialog.h"

#include "platform/PulseAudioCapture.h"
#include "playback/AudioOutputDevice.h"
#include "recording/RecordingFileWriter.h"
#include "recording/RecordingPcm.h"
#include "recording/RecordingWaveformWidget.h"
#include "recording/RecordingsFolder.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDebug>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

QPixmap svgPixmap(const QString& svg)
{
    QPixmap pixmap;
    pixmap.loadFromData(svg.toUtf8(), "SVG");
    return pixmap;
}

QIcon playIcon()
{
    return QIcon(svgPixmap(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='24' height='24'>"
                                          "<path d='M7 5 L19 12 L7 19 Z' fill='#e0e0e0'/></svg>")));
}

QIcon pauseIcon()
{
    return QIcon(svgPixmap(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='24' height='24'>"
                                          "<rect x='6' y='5' width='4' height='14' rx='1' fill='#e0e0e0'/>"
                                          "<rect x='14' y='5' width='4' height='14' rx='1' fill='#e0e0e0'/>"
                                          "</svg>")));
}

QIcon stopIcon()
{
    return QIcon(svgPixmap(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='24' height='24'>"
                                          "<rect x='6' y='6' width='12' height='12' rx='1' fill='#e0e0e0'/>"
                                          "</svg>")));
}

const QString kLookOn = QStringLiteral("QPushButton { background: transparent; border: none; }"
                                       "QPushButton:hover { background: #3a3a3a; border-radius: 4px; }");
const QString kLookOff = QStringLiteral("QPushButton { background: transparent; border: none; }"
                                        "QPushButton:hover { background: transparent; }");

constexpr float kSilenceThreshold = 0.001f;

}  // namespace

RecordingDialog::RecordingDialog(QWidget* parent)
    : QDialog(parent)
{
    QSettings settings;
    trimSilence = settings.value(SettingsKeys::kRecordingTrimSilence, SettingsKeys::kRecordingTrimSilenceDefault).toBool();
    format = settings.value(SettingsKeys::kRecordingFormat, QString::fromLatin1(SettingsKeys::kRecordingFormatDefault))
                 .toString();
    sampleRate = settings.value(SettingsKeys::kRecordingSampleRate, SettingsKeys::kRecordingSampleRateDefault).toInt();

    setupUi();
    updateTransportButtons();
}

RecordingDialog::~RecordingDialog()
{
    // No callback may run into a half-destroyed dialog.
    closePreviewDevice();
    if (captureDevice)
        captureDevice->stop();
    captureDevice.reset();
}

void RecordingDialog::setupUi()
{
    setWindowTitle(tr("录音"));
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(10, 10, 10, 10);
    mainLayout->setSpacing(8);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(8);
    sourceList = new QListWidget(this);
    sourceList->setMinimumWidth(200);
    sourceList->setSelectionMode(QAbstractItemView::SingleSelection);
    middle->addWidget(sourceList, 1);

    auto* controls = new QVBoxLayout;
    controls->setSpacing(8);
    auto* recordBar = new QHBoxLayout;
    recordIndicator = new QLabel(this);
    recordIndicator->setFixedSize(40, 40);
    recordIndicator->setAlignment(Qt::AlignCenter);
    recordIndicator->setCursor(Qt::PointingHandCursor);
    recordIndicator->setToolTip(tr("点击开始录音"));
    recordIndicator->installEventFilter(this);
    showIndicator(QStringLiteral("#e74c3c"), 1.0);
    playPauseButton = new QPushButton(this);
    playPauseButton->setFixedSize(32, 32);
    stopButton = new QPushButton(this);
    stopButton->setFixedSize(32, 32);
    stopButton->setIcon(stopIcon());
    stopButton->setToolTip(tr("停止录音"));
    recordBar->addWidget(recordIndicator);
    recordBar->addWidget(playPauseButton);
    recordBar->addWidget(stopButton);
    recordBar->addStretch(0);
    controls->addLayout(recordBar);

    auto* timeRow = new QHBoxLayout;
    timeLabel = new QLabel(QStringLiteral("00:00.00"), this);
    selectionLabel = new QLabel(this);
    selectionLabel->hide();
    timeRow->addWidget(timeLabel);
    timeRow->addWidget(selectionLabel);
    controls->addLayout(timeRow);
    controls->addStretch(0);

    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(new QLabel(tr("格式"), this));
    formatCombo = new QComboBox(this);
    formatCombo->addItem(QStringLiteral("MP3"), QStringLiteral("mp3"));
    formatCombo->addItem(QStringLiteral("WAV"), QStringLiteral("wav"));
    const int formatIndex = formatCombo->findData(format);
    if (formatIndex >= 0)
        formatCombo->setCurrentIndex(formatIndex);
    formatRow->addWidget(formatCombo);
    formatRow->addWidget(new QLabel(tr("采样率"), this));
    sampleRateCombo = new QComboBox(this);
    sampleRateCombo->addItem(QStringLiteral("44100 Hz"), 44100);
    sampleRateCombo->addItem(QStringLiteral("48000 Hz"), 48000);
    sampleRateCombo->addItem(QStringLiteral("32000 Hz"), 32000);
    const int rateIndex = sampleRateCombo->findData(sampleRate);
    if (rateIndex >= 0)
        sampleRateCombo->setCurrentIndex(rateIndex);
    formatRow->addWidget(sampleRateCombo);
    formatRow->addStretch(0);
    controls->addLayout(formatRow);
    trimSilenceCheck = new QCheckBox(tr("截掉首尾静音"), this);
    trimSilenceCheck->setChecked(trimSilence);
    controls->addWidget(trimSilenceCheck);
    middle->addLayout(controls, 1);

    recordingsView = new QListView(this);
    recordingsView->setMinimumWidth(150);
    recordingsModel = new QStandardItemModel(recordingsView);
    recordingsView->setModel(recordingsModel);
    recordingsView->setEditTriggers(QAbstractItemView::DoubleClicked);
    middle->addWidget(recordingsView, 1);
    mainLayout->addLayout(middle, 0);

    waveform = new RecordingWaveformWidget(this);
    mainLayout->addWidget(waveform, 1);

    connect(playPauseButton, &QPushButton::clicked, this, &RecordingDialog::onPlayPauseClicked);
    connect(stopButton, &QPushButton::clicked, this, &RecordingDialog::onStopClicked);
    connect(recordingsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RecordingDialog::onRecordingSelectionChanged);
    connect(waveform, &RecordingWaveformWidget::durationChanged, this, &RecordingDialog::onWaveformDurationChanged);
    connect(waveform, &RecordingWaveformWidget::rangeDeleted, this, &RecordingDialog::onRangeDeleted);
    connect(waveform, &RecordingWaveformWidget::rangeKept, this, &RecordingDialog::onRangeKept);
    connect(waveform, &RecordingWaveformWidget::undoPerformed, this, &RecordingDialog::onUndoPerformed);
    connect(waveform, &RecordingWaveformWidget::selectionChanged, this, &RecordingDialog::onWaveformSelectionChanged);
    connect(waveform, &RecordingWaveformWidget::selectionRangeChanged, this,
            &RecordingDialog::onWaveformSelectionRangeChanged);
    connect(waveform, &RecordingWaveformWidget::playbackPosChanged, this,
            &RecordingDialog::onWaveformPlaybackPosChanged);
}

bool RecordingDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == recordIndicator && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        onRecordClicked();
    return QDialog::eventFilter(watched, event);
}

void RecordingDialog::updateTransportButtons()
{
    const bool hasItems = recordingsModel->rowCount() > 0;
    switch (state) {
    case Idle:
        playPauseButton->setIcon(playIcon());
        playPauseButton->setToolTip(hasItems ? tr("播放") : QString());
        playPauseButton->setStyleSheet(hasItems ? kLookOn : kLookOff);
        stopButton->setStyleSheet(kLookOff);
        return;
    case Recording:
        playPauseButton->setIcon(pauseIcon());
        playPauseButton->setToolTip(tr("暂停录音"));
        break;
    case RecordingPaused:
        playPauseButton->setIcon(playIcon());
        playPauseButton->setToolTip(tr("继续录音"));
        break;
    case Playing:
        playPauseButton->setIcon(pauseIcon());
        playPauseButton->setToolTip(tr("暂停播放"));
        break;
    case PlaybackPaused:
        playPauseButton->setIcon(playIcon());
        playPauseButton->setToolTip(tr("继续播放"));
        break;
    }
    playPauseButton->setStyleSheet(kLookOn);
    stopButton->setStyleSheet(kLookOn);
}

void RecordingDialog::onStopClicked()
{
    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    else if (state == Recording || state == RecordingPaused)
        stopRecording();
}

QString RecordingDialog::checkedSourceText() const
{
    for (int i = 0; i < sourceList->count(); ++i) {
        if (sourceList->item(i)->checkState() == Qt::Checked)
            return sourceList->item(i)->text();
    }
    return QString();
}

QString RecordingDialog::formatTime(qint64 ms)
{
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'))
        .arg((ms / 10) % 100, 2, 10, QLatin1Char('0'));
}

void RecordingDialog::showIndicator(const QString& color, double opacity)
{
    const QString svg = QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40'>"
                                       "<circle cx='20' cy='20' r='10' fill='%1' fill-opacity='%2'/></svg>")
                            .arg(color, QString::number(opacity, 'f', 2));
    recordIndicator->setPixmap(svgPixmap(svg));
}

// --- capture ---------------------------------------------------------------

void RecordingDialog::onRecordClicked()
{
    if (state == Playing || state == PlaybackPaused)
        stopPlayback();
    if (state == Recording || state == RecordingPaused)
        stopRecording();
    else if (!checkedSourceText().isEmpty())
        startRecording();
}

void RecordingDialog::startRecording()
{
    if (state != Idle)
        return;
    QListWidgetItem* item = nullptr;
    for (int i = 0; i < sourceList->count() && !item; ++i) {
        if (sourceList->item(i)->checkState() == Qt::Checked)
            item = sourceList->item(i);
    }
    if (!item)
        return;
    const QString kind = item->data(Qt::UserRole).toString();
    const quint32 pid = kind == QLatin1String("application") ? item->data(Qt::UserRole + 1).toUInt() : 0;
    if (kind.isEmpty())
        return;

    PulseAudioCapture::Source source;
    if (kind == QLatin1String("all")) {
        source.kind = PulseAudioCapture::SourceKind::AllSystemAudio;
    } else if (kind == QLatin1String("application") && pid != 0) {
        source.kind = PulseAudioCapture::SourceKind::Application;
        source.processId = pid;
    } else {
        source.kind = PulseAudioCapture::SourceKind::Device;
        source.deviceName = item->text();
    }
    int rate = sampleRateCombo->currentData().toInt();
    if (rate <= 0)
        rate = 44100;

    auto capture = std::make_unique<PulseAudioCapture>();
    QString error;
    if (!capture->start(source, rate, &RecordingDialog::captureDataCallback, this, &error)) {
        qWarning() << "[Recording] Capture could not start:" << error;
        return;
    }

    state = Recording;
    captureDevice = std::move(capture);
    captureChannels = PulseAudioCapture::kChannels;
    captureSampleRate = rate;
    capturePaused = false;
    accumulatedMs = 0;
    {
        QMutexLocker lock(&captureMutex);
        pendingPcm.clear();
        recordedPcm.clear();
    }

    waveform->clear();
    waveform->setRecording(true);
    waveform->setInteractive(false);
    waveform->setPlaybackPosition(-1);
    recordClock.start();
    timeLabel->setText(QStringLiteral("00:00.00"));

    delete indicatorTimer;
    indicatorTimer = new QTimer(this);
    indicatorTimer->setInterval(50);
    connect(indicatorTimer, &QTimer::timeout, this, &RecordingDialog::onIndicatorTick);
    delete waveformTimer;
    waveformTimer = new QTimer(this);
    waveformTimer->setInterval(50);
    connect(waveformTimer, &QTimer::timeout, this, &RecordingDialog::flushWaveform);
    indicatorTimer->start();
    waveformTimer->start();

    sourcePid = pid;
    smtcTrackChanged = false;
    updateTransportButtons();
}

void RecordingDialog::captureDataCallback(void* userData, const char* data, int bytes)
{
    auto* self = static_cast<RecordingDialog*>(userData);
    if (!self || !data)
        return;
    self->appendCapturedAudio(data, bytes);
}

void RecordingDialog::appendCapturedAudio(const char* data, int bytes)
{
    if (capturePaused.load(std::memory_order_relaxed))
        return;
    QMutexLocker lock(&captureMutex);
    pendingPcm.append(data, bytes);
    recordedPcm.append(data, bytes);
}

void RecordingDialog::toggleRecordingPause()
{
    if (state == Recording) {
        capturePaused = true;
        accumulatedMs += recordClock.elapsed();
        state = RecordingPaused;
    } else if (state == RecordingPaused) {
        capturePaused = false;
        recordClock.restart();
        state = Recording;
    }
    updateTransportButtons();
}

void RecordingDialog::flushWaveform()
{
    if (state != Recording)
        return;
    QByteArray fresh;
    {
        QMutexLocker lock(&captureMutex);
        if (pendingPcm.isEmpty())
            return;
        fresh.swap(pendingPcm);
    }
    const QList<PeakPair> peaks =
        RecordingPcm::peaks(fresh.constData(), fresh.size(), captureChannels, captureSampleRate);
    if (!peaks.isEmpty())
        waveform->appendPeaks(peaks);
}

void RecordingDialog::onIndicatorTick()
{
    if (state == Recording || state == RecordingPaused) {
        ++indicatorPhase;
        const double opacity = (1.0 + std::sin(indicatorPhase * 0.1)) * 0.5 * 0.7 + 0.3;
        showIndicator(state == Recording ? QStringLiteral("#e74c3c") : QStringLiteral("#883333"), opacity);
        if (state == Recording)
            timeLabel->setText(formatTime(accumulatedMs + recordClock.elapsed()));
    } else if (state == Playing) {
        updatePlaybackPosition();
    }
}

double RecordingDialog::recentRms() const
{
    if (captureSampleRate < 1 || captureChannels < 1)
        return 0.0;
    const qint64 window = RecordingPcm::recentRmsWindowBytes(captureSampleRate, captureChannels);
    QByteArray recent;
    {
        QMutexLocker lock(&captureMutex);
        recent = recordedPcm.right(window);
        recent.detach();  // no reference into the shared buffer after unlocking
    }
    return RecordingPcm::rms(recent.constData(), recent.size());
}

void RecordingDialog::trimTrackChangeTail()
{
    QMutexLocker lock(&captureMutex);
    const qint64 cut = RecordingPcm::trackChangeCutBytes(recordedPcm.constData(), recordedPcm.size(),
                                                         captureSampleRate, captureChannels);
    if (cut > 0)
        recordedPcm.chop(cut);
}

void RecordingDialog::stopRecording()
{
    if (state != Recording && state != RecordingPaused)
        return;
    if (captureDevice)
        captureDevice->stop();
    captureDevice.reset();
    delete indicatorTimer;
    indicatorTimer = nullptr;
    delete waveformTimer;
    waveformTimer = nullptr;

    flushWaveform();

    if (trimSilenceCheck->isChecked()) {
        qint64 lead = 0;
        qint64 trail = 0;
        waveform->trimSilence(kSilenceThreshold, &lead, &trail);
        QMutexLocker lock(&captureMutex);
        if (captureSampleRate > 0 && captureChannels > 0 && (lead > 0 || trail > 0))
            recordedPcm = RecordingPcm::withoutLeadAndTrail(recordedPcm, lead, trail, captureSampleRate,
                                                            captureChannels);
    }
    if (smtcTrackChanged.load()) {
        trimTrackChangeTail();
        smtcTrackChanged = false;
    }

    const QString path = saveRecording();
    qint64 duration = 0;
    {
        QMutexLocker lock(&captureMutex);
        duration = RecordingPcm::durationMs(recordedPcm.size(), captureSampleRate, captureChannels);
    }

    state = Idle;
    capturePaused = false;
    waveform->setRecording(false);
    waveform->setInteractive(true);
    waveform->setPlaybackPosition(0);
    indicatorPhase = 0;
    showIndicator(QStringLiteral("#e74c3c"), 1.0);

    if (!path.isEmpty()) {
        addRecordingItem(path, duration);
        timeLabel->setText(formatTime(duration));
    } else {
        // The waveform must show what the editor holds, or cuts would not match.
        const QList<PeakPair> peaks = computePeaks(editPcm, editChannels);
        if (peaks.isEmpty())
            waveform->clear();
        else
            waveform->setPeaks(peaks);
        timeLabel->setText(formatTime(editDurationMs));
    }
    {
        QMutexLocker lock(&captureMutex);
        recordedPcm.clear();
        pendingPcm.clear();
    }
    updateTransportButtons();
}

// --- files -----------------------------------------------------------------

QString RecordingDialog::recordingsFolderPath() const
{
    return recordingsFolder.isEmpty() ? RecordingsFolder::resolve() : recordingsFolder;
}

QString RecordingDialog::writeRecordingFile(const QString& folder, const UnsavedRecording& recording, QString* error)
{
    // Beside the program first, then the data folder (a full or read-only disk
    // there must not lose the recording).
    QStringList folders;
    if (!folder.isEmpty())
        folders << folder;
    else
        folders << RecordingsFolder::besideProgram() << RecordingsFolder::inDataFolder();
    for (const QString& candidate : folders) {
        if (!RecordingsFolder::prepare(candidate)) {
            *error = tr("无法写入文件夹 %1").arg(candidate);
            continue;
        }
        const QString path = RecordingsFolder::uniqueFilePath(candidate, tr("录音"), QDateTime::currentDateTime(),
                                                              recording.suffix);
        const auto fileFormat = recording.suffix == QLatin1String("mp3") ? RecordingFileWriter::Format::Mp3
                                                                         : RecordingFileWriter::Format::Wav;
        QString writeError;
        if (RecordingFileWriter::write(path, recording.pcm, recording.channels, recording.sampleRate, fileFormat,
                                       &writeError))
            return path;
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), writeError);
    }
    return QString();
}

QString RecordingDialog::saveRecording()
{
    UnsavedRecording recording;
    {
        QMutexLocker lock(&captureMutex);
        recording.pcm = recordedPcm;
    }
    if (recording.pcm.isEmpty())
        return QString();
    recording.channels = captureChannels;
    recording.sampleRate = captureSampleRate;
    recording.suffix = formatCombo->currentData().toString() == QLatin1String("mp3") ? QStringLiteral("mp3")
                                                                                     : QStringLiteral("wav");
    QString error;
    const QString path = writeRecordingFile(recordingsFolder, recording, &error);
    if (path.isEmpty()) {
        unsavedRecordings.append(recording);
        reportSaveFailure(error);
    }
    return path;
}

bool RecordingDialog::retryUnsavedRecordings(const QString& folder)
{
    QString error;
    for (qsizetype i = 0; i < unsavedRecordings.size();) {
        const UnsavedRecording& recording = unsavedRecordings.at(i);
        const QString path = writeRecordingFile(folder.isEmpty() ? recordingsFolder : folder, recording, &error);
        if (path.isEmpty()) {
            ++i;
            continue;
        }
        const qint64 duration =
            RecordingPcm::durationMs(recording.pcm.size(), recording.sampleRate, recording.channels);
        unsavedRecordings.removeAt(i);
        addRecordingItem(path, duration);
    }
    if (!unsavedRecordings.isEmpty()) {
        reportSaveFailure(error);
        return false;
    }
    if (saveFailureBox) {
        // close() is refused by a message box without an escape button.
        saveFailureBox->hide();
        saveFailureBox->deleteLater();
    }
    updateTransportButtons();
    return true;
}

void RecordingDialog::discardUnsavedRecordings()
{
    unsavedRecordings.clear();
}

void RecordingDialog::reportSaveFailure(const QString& error)
{
    qWarning() << "[Recording] Failed to save recording:" << error;
    const QString text = tr("录音未能保存：%1\n录音仍保留在内存中，可以重试，或另选一个文件夹保存。").arg(error);
    if (saveFailureBox) {
        saveFailureBox->setText(text);
        return;
    }
    // Not modal: a recording stopped by itself must not wait for a click.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音保存失败"), text, QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* retry = box->addButton(tr("重试"), QMessageBox::AcceptRole);
    QPushButton* saveElsewhere = box->addButton(tr("另存到…"), QMessageBox::ActionRole);
    QPushButton* discard = box->addButton(tr("放弃录音"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::buttonClicked, this, [this, retry, saveElsewhere, discard](QAbstractButton* button) {
        if (button == retry) {
            QTimer::singleShot(0, this, [this] { retryUnsavedRecordings(); });
        } else if (button == saveElsewhere) {
            QTimer::singleShot(0, this, [this] {
                const QString folder = QFileDialog::getExistingDirectory(this, tr("选择保存目录"));
                if (folder.isEmpty())
                    reportSaveFailure(tr("未选择文件夹"));
                else
                    retryUnsavedRecordings(folder);
            });
        } else if (button == discard) {
            discardUnsavedRecordings();
        }
    });
    saveFailureBox = box;
    box->open();
}

bool RecordingDialog::writeEditedFile(const QString& path)
{
    if (editPcm.isEmpty())
        return false;
    QString error;
    if (RecordingFileWriter::write(path, editPcm, editChannels, editSampleRate,
                                   RecordingFileWriter::formatForPath(path), &error))
        return true;
    qWarning() << "[Recording] Failed to write edited recording:" << path << error;
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音保存失败"),
                                tr("剪辑后的录音未能写入：%1\n原文件保持不变。").arg(error), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
}

void RecordingDialog::saveEditsIfModified()
{
    if (!editPath.isEmpty() && !editPcm.isEmpty() && !editUndoStack.isEmpty())
        writeEditedFile(editPath);
}

void RecordingDialog::addRecordingItem(const QString& path, qint64 durationMs)
{
    auto* item = new QStandardItem(QFileInfo(path).completeBaseName());
    item->setData(path, Qt::UserRole);
    item->setData(QVariant::fromValue<qint64>(durationMs), Qt::UserRole + 1);
    item->setCheckable(true);
    item->setCheckState(Qt::Unchecked);
    recordingsModel->appendRow(item);
    recordingsView->selectionModel()->setCurrentIndex(item->index(), QItemSelectionModel::ClearAndSelect);
}
