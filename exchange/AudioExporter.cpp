#include "exchange/AudioExporter.h"
#include "exchange/WriteFailureReason.h"

#include "audiofile/AudioFileDecoder.h"
#include "exchange/AtomicFileCopy.h"
#include "exchange/ExportGainShaper.h"
#include "exchange/ExportNames.h"
#include "exchange/ExportUi.h"
#include "exchange/ExportWorker.h"
#include "exchange/Mp3FileEncoder.h"
#include "exchange/WavFileWriter.h"
#include "model/Cue.h"
#include "settings/SettingsKeys.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Status = AudioExportResult::Status;

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

void report(std::atomic<int>* permille, qint64 done, qint64 total)
{
    if (permille && total > 0)
        permille->store(int(std::clamp<qint64>(done * 1000 / total, 0, 1000)), std::memory_order_relaxed);
}

// A short queue of decoded blocks between the decoding thread and the
// writer. stop() releases both sides at once. Written blocks come back for
// the next decode: a fresh block for every read would be allocated, zeroed
// and paged in anew, which costs as much as writing it.
class DecodedBlocks {
public:
    struct Block {
        std::vector<float> samples;
        qint64 frames = 0;
    };
    static constexpr size_t kDepth = 6;

    bool push(Block&& block)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopped || m_queue.size() < kDepth; });
        if (m_stopped)
            return false;
        m_queue.push_back(std::move(block));
        m_changed.notify_all();
        return true;
    }
    bool pop(Block* block)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopped || m_finished || !m_queue.empty(); });
        if (m_stopped || m_queue.empty())
            return false;
        *block = std::move(m_queue.front());
        m_queue.pop_front();
        m_changed.notify_all();
        return true;
    }
    void finish()
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }
    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }
    bool stopped()
    {
        std::lock_guard lock(m_mutex);
        return m_stopped;
    }
    // A block for the next decode, of frames frames: one handed back if
    // there is one.
    Block spare(qint64 frames)
    {
        Block block;
        {
            std::lock_guard lock(m_mutex);
            if (!m_spares.empty()) {
                block = std::move(m_spares.back());
                m_spares.pop_back();
            }
        }
        block.samples.resize(size_t(frames) * 2);
        block.frames = 0;
        return block;
    }
    void giveBack(Block&& block)
    {
        std::lock_guard lock(m_mutex);
        if (m_spares.size() < kDepth)
            m_spares.push_back(std::move(block));
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_queue;
    std::vector<Block> m_spares;
    bool m_finished = false;
    bool m_stopped = false;
};

// One of the two writers behind a common face.
class Sink {
public:
    explicit Sink(bool mp3)
        : m_mp3(mp3)
    {
    }
    bool open(const QString& path, int rate, QString* error)
    {
        if (m_mp3) {
            if (m_encoder.open(path, rate))
                return true;
            *error = m_encoder.errorString();
            return false;
        }
        if (m_wav.open(path, rate))
            return true;
        *error = QStringLiteral("Cannot open output file: ") + path;
        return false;
    }
    bool write(const float* samples, qint64 frames)
    {
        return m_mp3 ? m_encoder.encode(samples, frames) : m_wav.write(samples, frames);
    }
    bool finish() { return m_mp3 ? m_encoder.finish() : m_wav.finish(); }
    void discard()
    {
        if (m_mp3)
            m_encoder.discard();
        else
            m_wav.discard();
    }
    QString reason(const QString& folder, const QString& fallbackText) const
    {
        const QFileDevice::FileError error = m_mp3 ? m_encoder.fileError() : m_wav.fileError();
        const QString text = m_mp3 ? m_encoder.errorString() : m_wav.errorString();
        if (m_mp3 && m_encoder.encodeError() && error == QFileDevice::NoError)
            return QStringLiteral("MP3 编码失败");
        return WriteFailureReason::describe(folder, error, text.isEmpty() ? fallbackText : text);
    }
    QString failureText(const AudioExportJob& job) const
    {
        if (!m_mp3)
            return QStringLiteral("WAV write failed: ") + m_wav.errorString() + QStringLiteral(" for ") + job.targetPath;
        if (m_encoder.bytesWritten() == 0 && !m_encoder.encodeError())
            return QStringLiteral("MP3 encoding produced no data for ") + job.targetPath;
        return QStringLiteral("MP3 encoding failed: encodeError=%1, totalEncoded=%2 (%3)")
            .arg(m_encoder.encodeError() ? QStringLiteral("true") : QStringLiteral("false"))
            .arg(m_encoder.bytesWritten())
            .arg(m_encoder.errorString());
    }

private:
    bool m_mp3;
    WavFileWriter m_wav;
    Mp3FileEncoder m_encoder;
};

}  // namespace

AudioExportRegion AudioExporter::region(const AudioExportJob& job)
{
    AudioExportRegion r;
    if (!job.clip) {
        r.toEnd = true;
        r.wholeFile = true;
        return r;
    }
    // An unknown duration limits nothing.
    qint64 clipEnd = job.durationMs;
    if (job.loopEndMs > 0)
        clipEnd = job.durationMs > 0 ? std::min(job.loopEndMs, job.durationMs) : job.loopEndMs;
    qint64 start = std::max<qint64>(job.loopStartMs, 0);
    if (clipEnd <= start)
        start = 0;
    if (clipEnd <= 0) {
        // No duration and no loop end: the whole file.
        r.toEnd = true;
        r.wholeFile = true;
        return r;
    }
    r.startMs = start;
    r.endMs = clipEnd;
    r.wholeFile = start == 0 && job.durationMs > 0 && clipEnd == job.durationMs;
    r.toEnd = r.wholeFile;
    return r;
}

bool AudioExporter::copyApplies(const AudioExportJob& job)
{
    const QString suffix = QFileInfo(job.sourcePath).suffix().toUpper();
    if (suffix != (job.mp3 ? QLatin1String("MP3") : QLatin1String("WAV")))
        return false;
    if (!region(job).wholeFile)
        return false;
    return !job.processed || !job.shape || ExportGainShaper::isIdentity(*job.shape, job.volumeA);
}

AudioExportResult AudioExporter::run(const AudioExportJob& job, const std::atomic<bool>* cancel,
                                     std::atomic<int>* permille)
{
    AudioExportResult result;
    const QString targetFolder = QFileInfo(job.targetPath).absolutePath();
    if (copyApplies(job)) {
        QString copyReason;
        const AtomicFileCopy::Result copied =
            AtomicFileCopy::copy(job.sourcePath, job.targetPath, cancel, permille, &copyReason);
        if (copied == AtomicFileCopy::Result::Copied)
            return {Status::Copied, 0, {}};
        if (copied == AtomicFileCopy::Result::Cancelled)
            return {Status::Cancelled, 0, {}};
        qWarning().noquote() << job.logPrefix + QStringLiteral("Direct copy failed, falling back to decode") << "("
                             << copyReason << ")";
        // The render would meet the same full or read-only folder.
        if (copyReason == WriteFailureReason::diskFull() || copyReason == WriteFailureReason::noPermission()) {
            result.reason = copyReason;
            return result;
        }
    }

    const int rate = job.sampleRate > 0 ? job.sampleRate : AudioFileDecoder::kSampleRate;
    const AudioExportRegion r = region(job);
    const qint64 startFrame = qint64(double(r.startMs) * rate / 1000.0);
    const qint64 wantedFrames = r.toEnd ? -1 : qint64(double(r.endMs - r.startMs) * rate / 1000.0);
    if (wantedFrames == 0) {
        result.reason = QStringLiteral("导出范围为空");
        return result;
    }

    AudioFileDecoder decoder;
    decoder.setOutputSampleRate(rate);
    decoder.setCodecThreads(0);
    if (!decoder.open(job.sourcePath)) {
        qWarning().noquote() << job.logPrefix + QStringLiteral("Decoder init failed for") << job.sourcePath << ":"
                             << decoder.errorString();
        result.reason = QStringLiteral("无法解码音频文件");
        return result;
    }
    const qint64 expected = wantedFrames > 0 ? wantedFrames : std::max<qint64>(decoder.declaredFrames() - startFrame, 1);
    // The fade window is measured against the stored duration, or the file's
    // declared length while that is unknown.
    const qint64 dataDurationMs =
        job.durationMs > 0 ? job.durationMs : qint64(double(decoder.declaredFrames()) * 1000.0 / rate);

    // The decoder runs on a thread of its own, a few blocks ahead of the
    // shaping and the writer: decoding and encoding overlap.
    DecodedBlocks blocks;
    bool decodeFailed = false;
    std::thread producer([&] {
        std::vector<float> scratch(size_t(kReadFrames) * 2);
        // Decode and drop up to the start: exact to the frame for every codec.
        for (qint64 skipped = 0; skipped < startFrame && !blocks.stopped();) {
            if (cancelled(cancel))
                break;
            const qint64 n = decoder.read(scratch.data(), std::min(kReadFrames, startFrame - skipped));
            if (n <= 0)
                break;
            skipped += n;
        }
        for (qint64 read = 0; (wantedFrames < 0 || read < wantedFrames) && !cancelled(cancel);) {
            DecodedBlocks::Block block = blocks.spare(kReadFrames);
            const qint64 want = wantedFrames < 0 ? kReadFrames : std::min(kReadFrames, wantedFrames - read);
            const qint64 frames = decoder.read(block.samples.data(), want);
            block.frames = frames;
            if (frames <= 0 || !blocks.push(std::move(block)))
                break;
            read += frames;
        }
        decodeFailed = decoder.stoppedOnError();
        blocks.finish();
    });

    const bool shape = job.processed && job.shape;
    ExportGainShaper shaper(job.shape, job.volumeA, r.startMs, dataDurationMs, rate);
    Sink sink(job.mp3);
    QString error;
    QString reason;
    bool opened = false;
    qint64 done = 0;
    Status status = Status::Written;
    DecodedBlocks::Block block;
    while (blocks.pop(&block)) {
        if (cancelled(cancel)) {
            status = Status::Cancelled;
            break;
        }
        if (!opened) {
            // Opened once there is audio: a file that yields nothing leaves no file.
            if (!sink.open(job.targetPath, rate, &error)) {
                qWarning().noquote() << job.logPrefix + error;
                reason = sink.reason(targetFolder, error);
                status = Status::Failed;
                break;
            }
            opened = true;
        }
        float* samples = block.samples.data();
        if (shape)
            shaper.apply(samples, done, block.frames);
        if (!sink.write(samples, block.frames)) {
            qWarning().noquote() << job.logPrefix + sink.failureText(job);
            reason = sink.reason(targetFolder, QString());
            status = Status::Failed;
            break;
        }
        done += block.frames;
        report(permille, done, expected);
        blocks.giveBack(std::move(block));
    }
    blocks.stop();
    producer.join();
    if (status != Status::Written || cancelled(cancel)) {
        sink.discard();
        return {status == Status::Written ? Status::Cancelled : status, done, reason};
    }
    if (decodeFailed)
        qWarning().noquote() << job.logPrefix + QStringLiteral("Read error in") << job.sourcePath << ":"
                             << decoder.errorString();
    if (done == 0) {
        qWarning().noquote() << job.logPrefix + QStringLiteral("No frames read for") << job.sourcePath;
        result.reason = QStringLiteral("无法解码音频文件");
        return result;
    }
    if (!sink.finish()) {
        qWarning().noquote() << job.logPrefix + sink.failureText(job);
        result.reason = sink.reason(targetFolder, QString());
        return result;
    }
    return {Status::Written, done, {}};
}

bool AudioExporter::exportCueAudio(Cue* cue, int position, const QString& outputFolder, const QString& format,
                                   int sampleRate, const QString& type, QString& outputName,
                                   QSet<QString>* namesTaken, ExportUi* ui, int progressBase, int progressSpan,
                                   bool* wasCancelled, QString* failureReason)
{
    if (wasCancelled)
        *wasCancelled = false;
    if (!cue)
        return false;
    if (!QFileInfo::exists(cue->filePath())) {
        qWarning() << "[Export Audio] File not found:" << cue->filePath();
        if (failureReason)
            *failureReason = QStringLiteral("音频文件不存在");
        return false;
    }
    QSettings settings;
    using namespace SettingsKeys;
    ExportNames::CueNaming naming;
    naming.useSeq = settings.value(kExportUseSeq, kExportUseSeqDefaultExport).toBool();
    naming.useAlias = settings.value(kExportUseAlias, kExportUseAliasDefaultExport).toBool();
    naming.useFilename = settings.value(kExportUseFilename, kExportUseFilenameDefaultExport).toBool();

    AudioExportJob job = AudioExportJob::fromCue(*cue);
    job.mp3 = isMp3(format);
    job.sampleRate = sampleRate > 0 ? sampleRate : 44100;
    job.clip = type == QLatin1String("clip");
    job.processed = job.clip;
    job.logPrefix = QStringLiteral("[Export Audio] ");

    const QString name = ExportNames::cueFileName(naming, position + 1, cue->alias(), cue->filePath(), cue->id());
    // An existing file of a former export is replaced; a name already used
    // by this export is not.
    const QString fileName = ExportNames::uniqueFileName(outputFolder, name, extension(job.mp3),
                                                         namesTaken ? *namesTaken : QSet<QString>(), false);
    job.targetPath = QDir(outputFolder).filePath(fileName);
    if (!ExportNames::isInside(outputFolder, job.targetPath))
        return false;

    AudioExportResult result;
    const bool cancelled = ExportWorker::run(
        [&](const std::atomic<bool>& cancel, std::atomic<int>& permille) { result = run(job, &cancel, &permille); },
        ui, progressBase, progressSpan);
    if (wasCancelled)
        *wasCancelled = cancelled && result.status == Status::Cancelled;
    if (!result.succeeded()) {
        if (failureReason)
            *failureReason = result.reason;
        return false;
    }
    if (namesTaken)
        namesTaken->insert(fileName.toLower());
    outputName = fileName;
    return true;
}
