#include "playback/PlaybackEngine.h"

#include "settings/SettingsKeys.h"
#include "model/Cue.h"
#include "playback/CrossfadePlan.h"
#include "playback/CueSnapshot.h"
#include "audiofile/PcmBuffer.h"
#include "playback/PcmCache.h"
#include "playback/WorkerThread.h"

#include <QDebug>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>

namespace {

// How often the GUI side looks at what the callback and the workers did.
constexpr int kPollIntervalMs = 10;
constexpr int kDeviceAttempts = 3;
constexpr int kDeviceRetryDelayMs = 500;
constexpr int kShutdownWaitMs = 3000;

}  // namespace

PlaybackEngine::PlaybackEngine(QObject* parent)
    : QObject(parent)
    , m_decode(&decodeFileToBuffer)
    , m_cache(std::make_shared<PcmCache>())
    , m_preloader(m_cache, m_decode)
{
    if (!m_device.isAvailable())
        qWarning() << "PlaybackEngine - context init failed:" << m_device.initError();
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    m_pollTimer.setInterval(kPollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &PlaybackEngine::onPoll);
}

PlaybackEngine::~PlaybackEngine()
{
    // The engine can outlive the application object (a singleton at exit):
    // nothing below may start the poll timer again.
    m_shuttingDown = true;
    m_pollTimer.stop();
    if (m_currentPcm && m_currentPcm->isFilling())
        m_currentPcm->requestCancel();
    if (m_decodeThread && !WorkerThread::waitAndRelease(m_decodeThread, kShutdownWaitMs))
        qWarning() << "~PlaybackEngine: Decode thread did not terminate in time, leaving it to finish on its own";
    m_decodeThread = nullptr;
    if (!m_preloader.shutdown(kShutdownWaitMs))
        qWarning() << "~PlaybackEngine: Preload thread did not terminate in time, leaving it to finish on its own";
    stopAsyncCrossfadeDecode();
    stop();
    // No callback runs after this, so every buffer may go.
    closeDevice();
    for (const QMetaObject::Connection& connection : m_cueConnections)
        disconnect(connection);
}

// ---------------------------------------------------------------------------
// Device

void PlaybackEngine::staticDataCallback(void* userData, float* out, int frames)
{
    if (!userData)
        return;
    static_cast<PlaybackEngine*>(userData)->m_renderer.render(out, frames);
}

bool PlaybackEngine::initializeDevice()
{
    if (m_device.isOpen())
        return true;

    QString wanted;
    if (!m_outputDeviceName.isEmpty() && m_outputDeviceName != QLatin1String(SettingsKeys::kAudioOutputDeviceDefault)
        && m_device.isAvailable()) {
        bool listed = false;
        const QStringList names = m_device.outputDeviceNames(&listed);
        if (listed) {
            if (names.contains(m_outputDeviceName))
                wanted = m_outputDeviceName;
            else
                qWarning() << "PlaybackEngine - device not found:" << m_outputDeviceName;
        }
    }

    QString error;
    for (int attempt = 1; attempt <= kDeviceAttempts; ++attempt) {
        if (m_device.open(wanted, &PlaybackEngine::staticDataCallback, this, &error)) {
            updatePolling();
            return true;
        }
        qWarning() << "PlaybackEngine - device init attempt" << attempt << "failed:" << error;
        if (attempt < kDeviceAttempts)
            QThread::msleep(kDeviceRetryDelayMs);
    }
    qWarning() << "PlaybackEngine - device init failed after" << kDeviceAttempts << "attempts:" << error;
    return false;
}

void PlaybackEngine::closeDevice()
{
    m_device.close();
    m_renderer.setOutputLost(false);
    updatePolling();
}

bool PlaybackEngine::reinitializeDevice()
{
    const quint64 frames = m_renderer.positionFrames();
    const qint64 ms = m_renderer.positionMs();
    m_renderer.pause();
    closeDevice();
    const bool ok = initializeDevice();
    if (ok)
        m_renderer.setPosition(frames, ms);  // the device is open but not started: no callback runs
    else
        qWarning() << "PlaybackEngine::reinitializeDevice - Reinit failed";
    return ok;
}

bool PlaybackEngine::setOutputDevice(const QString& deviceName)
{
    closeDevice();
    m_outputDeviceName = deviceName;
    return true;
}

QString PlaybackEngine::getOutputDeviceName() const
{
    return m_outputDeviceName.isEmpty() ? QString::fromLatin1(SettingsKeys::kAudioOutputDeviceDefault) : m_outputDeviceName;
}

QStringList PlaybackEngine::getAvailableDevices() const
{
    QStringList devices{QLatin1String(SettingsKeys::kAudioOutputDeviceDefault)};
    if (!m_device.isAvailable())
        return devices;
    bool listed = false;
    const QStringList names = m_device.outputDeviceNames(&listed);
    if (!listed) {
        qWarning() << "PlaybackEngine - device enumeration failed";
        return devices;
    }
    return devices + names;
}

// ---------------------------------------------------------------------------
// Transport primitives

void PlaybackEngine::play()
{
    if (!m_device.isOpen()) {
        qWarning() << "PlaybackEngine::play - Device not initialized, attempting reinit...";
        if (!reinitializeDevice()) {
            Q_EMIT errorOccurred(QStringLiteral("音频设备初始化失败，请检查音频输出设备"));
            return;
        }
    }
    if (m_renderer.isPlaying())
        return;

    withRenderer([this](Garbage&) { m_renderer.play(); });
    QString error;
    if (m_device.start(&error))
        return;

    qWarning() << "PlaybackEngine::play - start failed, attempting device reinit:" << error;
    if (!reinitializeDevice()) {
        Q_EMIT errorOccurred(QStringLiteral("音频设备重新初始化失败，请检查音频输出设备"));
        return;
    }
    withRenderer([this](Garbage&) { m_renderer.play(); });
    if (!m_device.start(&error)) {
        m_renderer.pause();
        Q_EMIT errorOccurred(QStringLiteral("音频设备启动失败：") + error);
    }
}

void PlaybackEngine::pause()
{
    m_renderer.pause();
}

void PlaybackEngine::setVolume(float gain)
{
    if (m_gainHold.active) {
        // The first gain set after the hold belongs to the cue that is still
        // decoding; later changes (main volume, a pause fade) scale the held
        // gain of the cue that is heard by the same factor.
        if (!m_gainHold.referenceSet) {
            m_gainHold.reference = gain;
            m_gainHold.referenceSet = true;
        }
        const float factor = m_gainHold.reference > 0.0f ? gain / m_gainHold.reference : 1.0f;
        m_renderer.holdOutgoingGain(m_gainHold.gain * factor);
    }
    m_renderer.setVolume(gain);
}

void PlaybackEngine::seek(qint64 positionMs)
{
    withRenderer([&](Garbage&) {
        if (!m_currentCue)
            return;
        qint64 t = std::clamp<qint64>(positionMs, 0, std::max<qint64>(m_renderer.durationMs(), 0));
        const qint64 loopStart = m_currentCue->loopStartMs();
        const qint64 loopEnd = m_currentCue->loopEndMs();
        if (loopEnd > loopStart)
            t = std::clamp(t, loopStart, loopEnd);
        m_renderer.seek(quint64(double(m_sampleRate) * double(t) / 1000.0), t);
    });
}

void PlaybackEngine::stop()
{
    stopAsyncCrossfadeDecode();
    std::shared_ptr<PcmBuffer> outgoing;
    QString outgoingPath;
    bool cueExists = false;
    withRenderer([&](Garbage& garbage) {
        m_renderer.unload();
        ++m_loadGeneration;
        m_seenEndReports = m_renderer.endReports();
        abandonCurrentDecode(garbage);
        cueExists = !m_currentCue.isNull();
        outgoing = std::move(m_currentPcm);
        outgoingPath = m_currentPath;
        garbage.push_back(std::move(m_currentSnapshot));
        m_currentPcm.reset();
        m_currentSnapshot.reset();
        m_currentPath.clear();
        m_currentCue = nullptr;
        dropIncomingLocked(garbage);
    });
    m_gainHold = GainHold{};
    // Outside the lock: storing may evict (free) other entries.
    if (cueExists)
        keepInCache(outgoingPath, outgoing);
    updatePolling();
}

// ---------------------------------------------------------------------------
// Renderer hand-over

template <typename Change>
void PlaybackEngine::withRenderer(Change&& change)
{
    Garbage garbage;  // destroyed after the lock below is released
    garbage.reserve(8);  // no allocation while the callback waits
    {
        AudioOutputDevice::Lock lock(m_device);
        syncHandoverLocked(garbage);
        change(garbage);
    }
    rewatchCues();
}

void PlaybackEngine::syncHandoverLocked(Garbage& garbage)
{
    const quint64 handovers = m_renderer.handovers();
    if (handovers == m_seenHandovers)
        return;
    m_seenHandovers = handovers;
    m_gainHold = GainHold{};

    if (m_renderer.lastHandover() == PlaybackRenderer::Handover::ToIncoming) {
        if (!m_sameFileCrossfade) {
            abandonCurrentDecode(garbage);
            garbage.push_back(std::move(m_currentPcm));
            m_currentPcm = std::move(m_incomingPcm);
            m_currentPath = m_incomingPath;
        }
        garbage.push_back(std::move(m_currentSnapshot));
        m_currentSnapshot = std::move(m_incomingSnapshot);
        m_currentCue = m_nextCue;
    } else {
        // Faded to silence: the data is gone, the cue stays current.
        abandonCurrentDecode(garbage);
        garbage.push_back(std::move(m_currentPcm));
        m_currentPcm.reset();
    }
    dropIncomingLocked(garbage);
}

void PlaybackEngine::dropIncomingLocked(Garbage& garbage)
{
    garbage.push_back(std::move(m_incomingPcm));
    garbage.push_back(std::move(m_incomingSnapshot));
    m_incomingPcm.reset();
    m_incomingSnapshot.reset();
    m_incomingPath.clear();
    m_nextCue = nullptr;
    m_sameFileCrossfade = false;
}

void PlaybackEngine::rewatchCues()
{
    Cue* current = m_currentCue.data();
    Cue* next = m_nextCue.data();
    if (current == m_watchedCurrent && next == m_watchedNext)
        return;
    for (const QMetaObject::Connection& connection : m_cueConnections)
        disconnect(connection);
    m_cueConnections.clear();
    m_watchedCurrent = current;
    m_watchedNext = next;
    auto watch = [this](Cue* cue) {
        m_cueConnections.push_back(connect(cue, &Cue::dataUpdated, this, [this, cue] { onCueChanged(cue); }));
        m_cueConnections.push_back(connect(cue, &QObject::destroyed, this, [this] { onCueDestroyed(); }));
    };
    if (current)
        watch(current);
    if (next && next != current)
        watch(next);
}

void PlaybackEngine::onCueChanged(Cue* cue)
{
    // Fades, envelopes and the loop region take effect at the next block.
    // The snapshot is built before the device lock, which only swaps it in.
    const std::shared_ptr<const CueSnapshot> snapshot = CueSnapshot::fromCue(*cue);
    withRenderer([&](Garbage& garbage) {
        if (cue == m_currentCue.data() && m_renderer.currentCue()) {
            garbage.push_back(std::move(m_currentSnapshot));
            m_currentSnapshot = snapshot;
            m_renderer.setCurrentCue(m_currentSnapshot.get());
        }
        if (cue == m_nextCue.data() && m_incomingSnapshot) {
            garbage.push_back(std::move(m_incomingSnapshot));
            m_incomingSnapshot = snapshot;
            m_renderer.setIncomingCue(m_incomingSnapshot.get());
        }
    });
}

void PlaybackEngine::onCueDestroyed()
{
    // The cue is gone: its sound stops (or, for the incoming cue of a
    // crossfade, the crossfade ends in silence). Guarded pointers are already
    // null here; checked after the hand-over sync, they tell which one it was.
    withRenderer([this](Garbage&) {
        if (m_currentCue.isNull())
            m_renderer.setCurrentCue(nullptr);
        if (m_nextCue.isNull())
            m_renderer.setIncomingCue(nullptr);
    });
}

// ---------------------------------------------------------------------------
// Decoding and cache

bool PlaybackEngine::loadCue(Cue* cue)
{
    if (!cue) {
        Q_EMIT errorOccurred(QStringLiteral("Cue is null"));
        return false;
    }
    const QString path = cue->filePath();
    if (!QFileInfo::exists(path)) {
        Q_EMIT errorOccurred(QStringLiteral("File not found: ") + path);
        return false;
    }

    stopAsyncCrossfadeDecode();
    m_renderer.pause();
    withRenderer([this](Garbage& garbage) { abandonCurrentDecode(garbage); });
    // The outgoing cue's complete data goes back to the cache, so playing it
    // again (or loading the same cue again) decodes nothing.
    if (m_currentCue)
        keepInCache(m_currentPath, m_currentPcm);

    qint64 durationMs = cue->durationMs();
    std::shared_ptr<PcmBuffer> buffer;
    bool fromCache = false;
    if (std::optional<PcmCacheEntry> entry = m_cache->take(path)) {
        buffer = entry->pcm;
        fromCache = true;
        durationMs = entry->frames > 0 ? PcmBuffer::framesToMs(entry->frames) : entry->durationMs;
    } else {
        buffer = std::make_shared<PcmBuffer>(qint64(m_sampleRate) * std::max<qint64>(durationMs, 0) / 1000);
    }

    std::shared_ptr<const CueSnapshot> snapshot = CueSnapshot::fromCue(*cue);
    withRenderer([&](Garbage& garbage) {
        ++m_loadGeneration;
        m_seenEndReports = m_renderer.endReports();
        abandonCurrentDecode(garbage);
        garbage.push_back(std::move(m_currentPcm));
        garbage.push_back(std::move(m_currentSnapshot));
        dropIncomingLocked(garbage);
        m_currentCue = cue;
        m_currentPath = path;
        m_currentPcm = buffer;
        m_currentSnapshot = std::move(snapshot);
        m_renderer.load(m_currentPcm.get(), m_currentSnapshot.get(), durationMs);
    });
    m_gainHold = GainHold{};

    if (!fromCache)
        startDecode(path, buffer);

    if (!initializeDevice()) {
        Q_EMIT errorOccurred(QStringLiteral("Failed to initialize SDL audio device"));
        return false;
    }
    return true;
}

void PlaybackEngine::keepInCache(const QString& path, const std::shared_ptr<PcmBuffer>& pcm)
{
    // Only data that was decoded to its end: a cut-off decode would play short.
    if (!pcm || path.isEmpty() || pcm->state() != PcmBuffer::State::Complete || pcm->frames() <= 0)
        return;
    const qint64 frames = pcm->frames();
    m_cache->store(path, PcmCacheEntry{pcm, frames, PcmBuffer::framesToMs(frames)});
}

void PlaybackEngine::abandonCurrentDecode(Garbage&)
{
    // The decoder stops at its next read and cleans up by itself; nobody
    // waits for it.
    if (m_currentPcm && m_currentPcm->isFilling())
        m_currentPcm->requestCancel();
    WorkerThread::release(m_decodeThread);
    m_decodeThread = nullptr;
    m_decodeReportPending = false;
}

void PlaybackEngine::startDecode(const QString& path, const std::shared_ptr<PcmBuffer>& buffer)
{
    const DecodeFunction decode = m_decode;
    m_decodeThread = WorkerThread::start(QStringLiteral("MADecodeThread"), [decode, path, buffer] {
        decode(path, *buffer);
    });
    m_decodeReportPending = true;
    updatePolling();
}

void PlaybackEngine::preloadCues(const QList<Cue*>& cues)
{
    m_cache->updateCacheBudget();
    const QString current = m_currentCue ? m_currentCue->filePath() : QString();
    QList<PreloadRequest> requests;
    QSet<QString> queued;  // a playlist may hold thousands of cues
    for (Cue* cue : cues) {
        if (!cue || cue->id() < 1)
            continue;
        const QString path = cue->filePath();
        if (path.isEmpty() || path == current || queued.contains(path) || m_cache->contains(path))
            continue;
        requests.append(PreloadRequest{path, cue->durationMs()});
        queued.insert(path);
    }
    m_preloader.replaceQueue(requests);
}

void PlaybackEngine::prioritizePreload(Cue* cue)
{
    if (!cue || cue->id() < 1)
        return;
    const QString path = cue->filePath();
    if (m_cache->contains(path))
        return;
    if (m_currentCue && !m_currentCue->filePath().isEmpty() && m_currentCue->filePath() == path)
        return;
    m_preloader.prioritize(PreloadRequest{path, cue->durationMs()});
}

void PlaybackEngine::clearPreloadQueue()
{
    m_preloader.clearQueue();
}

void PlaybackEngine::clearPreloadCache()
{
    m_cache->clear();
}

void PlaybackEngine::removeFromCache(const QString& filePath)
{
    m_cache->remove(filePath);
}

bool PlaybackEngine::isCached(const QString& filePath) const
{
    return m_cache->contains(filePath);
}

bool PlaybackEngine::isDecodeComplete() const
{
    return m_currentPcm && m_currentPcm->state() == PcmBuffer::State::Complete;
}

qint64 PlaybackEngine::cacheMemoryUsage() const
{
    return m_cache->memoryUsage();
}

void PlaybackEngine::setDecodeFunction(DecodeFunction decode)
{
    m_decode = decode ? std::move(decode) : DecodeFunction(&decodeFileToBuffer);
    m_preloader.setDecodeFunction(m_decode);
}

// ---------------------------------------------------------------------------
// Crossfade

bool PlaybackEngine::startCrossfade(Cue* next)
{
    if (!crossfadeEnabled)
        return false;
    withRenderer([](Garbage&) {});
    if (!m_currentCue) {
        qWarning() << "[Crossfade] Invalid: no current cue";
        return false;
    }
    if (m_renderer.isCrossfading()) {
        // A running mix is cut off; the current cue plays alone meanwhile.
        withRenderer([this](Garbage& garbage) {
            m_renderer.cancelCrossfade();
            dropIncomingLocked(garbage);
        });
    }

    if (m_crossfadeDecodeRunning) {
        if (next && m_pendingCrossfadeCue.data() == next)
            return true;  // crossfadeDecodeReady follows
        stopAsyncCrossfadeDecode();
    }
    if (next && m_crossfadeDecodeFailed && m_pendingCrossfadeCue.data() == next) {
        // Its decode has just failed: trying again would only fail again.
        // The caller falls back to a normal start, which reports the error.
        qWarning() << "[Crossfade] Incoming cue could not be decoded, no crossfade:" << next->filePath();
        stopAsyncCrossfadeDecode();
        return false;
    }

    std::shared_ptr<PcmBuffer> incoming;
    bool sameFile = false;
    quint64 incomingFrames = 0;
    QString incomingPath;
    if (next) {
        incomingPath = next->filePath();
        if (!QFileInfo::exists(incomingPath)) {
            qWarning() << "[Crossfade] File not found:" << incomingPath;
            return false;
        }
        if (next == m_currentCue.data() || incomingPath == m_currentPath) {
            sameFile = true;
            incomingFrames = m_currentPcm ? quint64(m_currentPcm->frames()) : 0;
        } else if (m_crossfadeDecodeDone && m_pendingCrossfadeCue.data() == next && m_crossfadeBuffer
                   && m_crossfadeBuffer->frames() > 0) {
            incoming = std::move(m_crossfadeBuffer);
            m_crossfadeBuffer.reset();
            m_crossfadeDecodeDone = false;
            incomingFrames = quint64(incoming->frames());
        } else {
            stopAsyncCrossfadeDecode();
            if (std::optional<PcmCacheEntry> entry = m_cache->find(incomingPath)) {
                incoming = entry->pcm;  // shared; the entry stays in the cache
                incomingFrames = quint64(entry->frames);
            } else {
                // Decode it first; the current cue plays on meanwhile, at its
                // own gain whatever gain is set for its successor.
                m_preloader.stopWorker();
                if (!m_gainHold.active) {
                    m_gainHold = GainHold{};
                    m_gainHold.active = true;
                    m_gainHold.gain = m_renderer.currentCueGain();
                    m_renderer.holdOutgoingGain(m_gainHold.gain);
                }
                startAsyncCrossfadeDecode(next);
                return true;
            }
        }
    }

    // The outgoing cue keeps decoding if it still does: the mix reads what
    // is there, so nothing has to be decoded on this thread.
    m_preloader.stopWorker();
    const qint64 currentDuration = m_renderer.durationMs();
    const qint64 loopEnd = m_currentCue->loopEndMs();
    CrossfadeRequest request;
    request.wantedMs = crossfadeDurationMs;
    request.currentDurationMs = currentDuration;
    request.nextDurationMs = next ? next->durationMs() : 0;
    request.incomingFrames = incomingFrames;
    request.nextLoopStartMs = next ? next->loopStartMs() : 0;
    request.outgoingRegionEndMs = (loopEnd >= 1 && loopEnd < currentDuration) ? loopEnd : currentDuration;
    request.positionFrames = m_renderer.positionFrames();
    request.sampleRate = int(m_sampleRate);
    const CrossfadePlan plan = CrossfadePlan::make(request);

    if (plan.refused) {
        qWarning() << "[Crossfade] ABORT: Cue too short (cur=" << currentDuration << "ms, next=" << plan.nextDurationMs
                   << "ms, required=" << plan.requiredMs << "ms), canceling crossfade";
        return false;
    }
    if (plan.loopStartReset)
        qWarning() << "[Crossfade] WARN: loopStart" << next->loopStartMs() << "ms exceeds total frames, resetting to 0";

    std::shared_ptr<const CueSnapshot> snapshot = next ? CueSnapshot::fromCue(*next) : nullptr;
    PlaybackRenderer::CrossfadeSetup setup;
    setup.incoming = incoming.get();
    setup.incomingCue = snapshot.get();
    setup.sameFile = sameFile;
    setup.incomingDurationMs = next ? (next->durationMs() >= 1 ? next->durationMs()
                                                               : PcmBuffer::framesToMs(qint64(incomingFrames)))
                                    : 0;
    setup.incomingStartFrame = plan.incomingStartFrames;
    setup.lengthFrames = plan.lengthFrames;
    setup.moveOutgoing = plan.outgoingMoved;
    setup.outgoingPositionFrames = plan.outgoingPositionFrames;
    setup.curve = crossfadeCurve;
    // The outgoing cue keeps the gain it had; the transport then sets the
    // gain of the incoming one.
    setup.outgoingGain = m_renderer.currentCueGain();

    withRenderer([&](Garbage& garbage) {
        dropIncomingLocked(garbage);
        m_incomingPcm = std::move(incoming);
        m_incomingSnapshot = std::move(snapshot);
        m_incomingPath = incomingPath;
        m_nextCue = next;
        m_sameFileCrossfade = sameFile;
        m_renderer.beginCrossfade(setup);
    });
    m_gainHold = GainHold{};
    return true;
}

void PlaybackEngine::cancelCrossfade()
{
    if (!m_renderer.isCrossfading())
        return;
    withRenderer([this](Garbage& garbage) {
        m_renderer.cancelCrossfade();
        dropIncomingLocked(garbage);
    });
}

void PlaybackEngine::startAsyncCrossfadeDecode(Cue* cue)
{
    stopAsyncCrossfadeDecode();
    m_pendingCrossfadeCue = cue;
    m_crossfadeDecodeRunning = true;
    m_crossfadeDecodeDone = false;
    m_crossfadeDecodeFailed = false;
    const QString path = cue->filePath();
    auto buffer = std::make_shared<PcmBuffer>(qint64(m_sampleRate) * std::max<qint64>(cue->durationMs(), 0) / 1000);
    m_crossfadeBuffer = buffer;
    const DecodeFunction decode = m_decode;
    m_crossfadeThread = WorkerThread::start(QStringLiteral("XfadeDecodeThread"), [decode, path, buffer] {
        decode(path, *buffer);
    });
    updatePolling();
}

void PlaybackEngine::stopAsyncCrossfadeDecode()
{
    // An abandoned decode owns only its buffer: it can neither hand its data
    // over nor announce itself once it is let go here.
    if (m_crossfadeBuffer && m_crossfadeBuffer->isFilling())
        m_crossfadeBuffer->requestCancel();
    WorkerThread::release(m_crossfadeThread);
    m_crossfadeThread = nullptr;
    m_crossfadeBuffer.reset();
    m_crossfadeDecodeRunning = false;
    m_crossfadeDecodeDone = false;
    m_crossfadeDecodeFailed = false;
    m_pendingCrossfadeCue = nullptr;
}

// ---------------------------------------------------------------------------
// GUI-thread side of the callback and the workers

void PlaybackEngine::updatePolling()
{
    if (m_shuttingDown)
        return;
    const bool needed = m_device.isOpen() || m_decodeReportPending || m_crossfadeDecodeRunning;
    if (needed && !m_pollTimer.isActive())
        m_pollTimer.start();
    else if (!needed && m_pollTimer.isActive())
        m_pollTimer.stop();
}

void PlaybackEngine::checkDevice()
{
    if (!m_device.isOpen() || !m_device.isLost())
        return;
    // SDL keeps calling the callback for a vanished device, so the position
    // would run on in silence. Reopen (on the default device if the chosen
    // one is gone) and carry on where the cue was.
    qWarning() << "PlaybackEngine - output device lost, reopening";
    m_renderer.setOutputLost(true);
    if (!m_renderer.isPlaying()) {
        closeDevice();  // the next play() opens it again
        return;
    }
    if (reinitializeDevice()) {
        play();
        return;
    }
    // No device: the position stands still while playing, which the
    // transport's stall check sees and answers with its own recovery.
    m_renderer.play();
}

void PlaybackEngine::onPoll()
{
    checkDevice();

    if (m_renderer.handovers() != m_seenHandovers)
        withRenderer([](Garbage&) {});

    bool decodeCompleted = false;
    QStringList errors;
    if (m_decodeReportPending && m_currentPcm && !m_currentPcm->isFilling()) {
        m_decodeReportPending = false;
        WorkerThread::release(m_decodeThread);
        m_decodeThread = nullptr;
        const PcmBuffer::State state = m_currentPcm->state();
        if (state == PcmBuffer::State::Failed) {
            if (m_currentPcm->frames() > 0)
                qWarning() << "[MADecode] Reading stopped on errors after" << m_currentPcm->frames()
                           << "frames:" << m_currentPcm->errorString();
            else
                qWarning() << "[MADecode] 打开文件失败, error:" << m_currentPcm->errorString();
            errors.append(QStringLiteral("FFmpeg decode error: ") + m_currentPcm->errorString());
        } else if (state == PcmBuffer::State::Complete && m_currentPcm->frames() == 0) {
            qWarning() << "[MADecode] WARNING: 0 frames decoded - bad audio file:" << m_currentPath;
            errors.append(QStringLiteral("No audio data could be decoded from: ") + m_currentPath);
        } else if (state == PcmBuffer::State::Complete) {
            decodeCompleted = true;
        }
    }

    bool crossfadeReady = false;
    if (m_crossfadeDecodeRunning && m_crossfadeBuffer && !m_crossfadeBuffer->isFilling()) {
        m_crossfadeDecodeRunning = false;
        WorkerThread::release(m_crossfadeThread);
        m_crossfadeThread = nullptr;
        if (m_crossfadeBuffer->state() == PcmBuffer::State::Complete && m_crossfadeBuffer->frames() > 0) {
            m_crossfadeDecodeDone = true;
        } else {
            if (m_crossfadeBuffer->state() == PcmBuffer::State::Failed)
                qWarning() << "[XfadeDecode] decodeCueToBufferChunked - init failed:" << m_crossfadeBuffer->errorString();
            else
                qWarning() << "[XfadeDecode] No audio data decoded for the incoming cue";
            m_crossfadeDecodeFailed = true;
            m_crossfadeBuffer.reset();
        }
        crossfadeReady = true;
    }

    const quint64 endReports = m_renderer.endReports();
    const bool ended = endReports != m_seenEndReports;
    m_seenEndReports = endReports;
    const quint64 generation = m_loadGeneration;
    updatePolling();

    // Signals last: their receivers may call straight back into the engine.
    for (const QString& error : errors)
        Q_EMIT errorOccurred(error);
    if (decodeCompleted)
        Q_EMIT decodingCompleted();
    // An end reported for data that has since been replaced is dropped.
    if (ended && generation == m_loadGeneration)
        Q_EMIT playbackFinished();
    if (crossfadeReady)
        Q_EMIT crossfadeDecodeReady();
}
