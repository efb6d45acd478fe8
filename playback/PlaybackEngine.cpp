#include "playback/PlaybackEngine.h"

#include "settings/SettingsKeys.h"
#include "model/Cue.h"
#include "playback/CrossfadePlan.h"
#include "playback/CueSnapshot.h"
#include "audiofile/PcmBuffer.h"
#include "playback/PcmCache.h"
#include "playback/WorkerThread.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <utility>

namespace {

// How often the GUI side looks at what the callback and the workers did.
constexpr int kPollIntervalMs = 10;
constexpr int kShutdownWaitMs = 3000;

// Enough of a buffer is there to start playing it: the first frames the
// renderer waits for, or all there will be.
bool hasStartData(const PcmBuffer& buffer)
{
    return !buffer.isFilling() || quint64(buffer.frames()) >= PlaybackRenderer::kStartFrames;
}

}  // namespace

void PlaybackEngine::Voice::swap(Voice& other) noexcept
{
    cue.swap(other.cue);
    path.swap(other.path);
    pcm.swap(other.pcm);
    snapshot.swap(other.snapshot);
}

void PlaybackEngine::Retired::take(Voice& voice)
{
    Q_ASSERT(used < kSlots);
    if (used < kSlots)
        voices[used++].swap(voice);
}

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
    connect(&m_opener, &OutputOpener::opened, this, &PlaybackEngine::onDeviceOpened);
}

PlaybackEngine::~PlaybackEngine()
{
    // The engine can outlive the application object (a singleton at exit):
    // nothing below may start the poll timer again.
    m_shuttingDown = true;
    m_pollTimer.stop();
    dropPendingCrossfade();
    m_cache->abandon(m_current.pcm);
    m_cache->abandon(m_incoming.pcm);
    QDeadlineTimer deadline(kShutdownWaitMs);
    for (const QPointer<QThread>& thread : std::as_const(m_decodeThreads)) {
        if (!WorkerThread::wait(thread, int(std::max<qint64>(deadline.remainingTime(), 0)))) {
            qWarning() << "~PlaybackEngine: Decode thread did not terminate in time, leaving it to finish on its own";
            break;
        }
    }
    if (!m_preloader.shutdown(kShutdownWaitMs))
        qWarning() << "~PlaybackEngine: Preload thread did not terminate in time, leaving it to finish on its own";
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

bool PlaybackEngine::staticActiveProbe(void* userData)
{
    return userData && static_cast<PlaybackEngine*>(userData)->m_renderer.isPlaying();
}

quint64 PlaybackEngine::staticContentProbe(void* userData)
{
    return userData ? static_cast<PlaybackEngine*>(userData)->m_renderer.contentFrames() : 0;
}

bool PlaybackEngine::initializeDevice()
{
    if (m_device.isOpen())
        return true;
    const bool named = !m_outputDeviceName.isEmpty()
        && m_outputDeviceName != QLatin1String(SettingsKeys::kAudioOutputDeviceDefault);
    if (m_device.isAvailable() && m_device.backend() == AudioOutputDevice::Backend::PulseAudio) {
        if (!m_opener.isOpening())
            m_opener.open(named ? m_outputDeviceName : QString());
        return false;
    }

    QString wanted;
    if (named && m_device.isAvailable()) {
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
    if (m_device.open(wanted, &PlaybackEngine::staticDataCallback, this, &error, &PlaybackEngine::staticActiveProbe,
                      &PlaybackEngine::staticContentProbe)) {
        updatePolling();
        return true;
    }
    qWarning() << "PlaybackEngine - device init failed:" << m_device.libraryName() << error;
    return false;
}

void PlaybackEngine::onDeviceOpened(std::shared_ptr<PulseAudioOutput> output, const QString& error)
{
    const QString failure = std::exchange(m_openFailureMessage, QString());
    if (output) {
        m_device.adopt(std::move(output), &PlaybackEngine::staticDataCallback, this, &PlaybackEngine::staticActiveProbe,
                       &PlaybackEngine::staticContentProbe);
        updatePolling();
    } else {
        qWarning() << "PlaybackEngine - device init failed:" << m_device.libraryName() << error;
        if (!failure.isEmpty())
            Q_EMIT errorOccurred(failure);
    }
    Q_EMIT deviceOpenFinished(m_device.isOpen());
}

void PlaybackEngine::failPlay(const QString& message)
{
    if (m_opener.isOpening())
        m_openFailureMessage = message;
    else
        Q_EMIT errorOccurred(message);
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
    else if (!m_opener.isOpening())
        qWarning() << "PlaybackEngine::reinitializeDevice - Reinit failed";
    return ok;
}

bool PlaybackEngine::setOutputDevice(const QString& deviceName)
{
    closeDevice();
    m_opener.cancel();  // an open under way is for the old device
    m_openFailureMessage.clear();
    m_outputDeviceName = deviceName;
    // Opened now, silent, rather than by the first cue: an output stream can
    // take a second or more to start asking for blocks (a PulseAudio stream
    // does), and the first cue of a show must not wait for that. A cue still
    // sounding reopens the device through play(); a failure here is tried
    // again, with retries, when a cue loads.
    if (m_device.isAvailable() && !m_renderer.isPlaying())
        initializeDevice();
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
            failPlay(QStringLiteral("音频设备初始化失败，请检查音频输出设备"));
            return;
        }
    }
    if (m_renderer.isPlaying())
        return;

    Retired retired;
    withRenderer(retired, [this] { m_renderer.play(); });
    QString error;
    if (m_device.start(&error)) {
        updatePolling();
        return;
    }

    qWarning() << "PlaybackEngine::play - start failed, attempting device reinit:" << error;
    if (!reinitializeDevice()) {
        failPlay(QStringLiteral("音频设备重新初始化失败，请检查音频输出设备"));
        return;
    }
    withRenderer(retired, [this] { m_renderer.play(); });
    if (!m_device.start(&error)) {
        m_renderer.pause();
        Q_EMIT errorOccurred(QStringLiteral("音频设备启动失败：") + error);
    }
    updatePolling();
}

void PlaybackEngine::pause()
{
    m_renderer.pause();
    updatePolling();
}

void PlaybackEngine::cutOutput()
{
    if (!m_device.isOpen())
        return;
    const qint64 unheard = m_device.cut();
    if (unheard <= 0 || m_renderer.isPlaying() || !m_current.cue || m_renderer.isCrossfading())
        return;
    Retired retired;
    withRenderer(retired, [&] {
        const quint64 frames = m_renderer.positionFrames();
        const quint64 heard = frames > quint64(unheard) ? frames - quint64(unheard) : 0;
        m_renderer.setPosition(heard, PcmBuffer::framesToMs(qint64(heard)));
    });
}

void PlaybackEngine::setVolume(float gain)
{
    rampVolume(gain, 0);
}

void PlaybackEngine::rampVolume(float gain, qint64 rampFrames)
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
    m_renderer.setVolume(gain, rampFrames);
}

void PlaybackEngine::seek(qint64 positionMs)
{
    syncHandover();
    Cue* cue = m_current.cue.data();
    if (!cue)
        return;
    qint64 t = std::clamp<qint64>(positionMs, 0, std::max<qint64>(m_renderer.durationMs(), 0));
    const qint64 loopStart = cue->loopStartMs();
    const qint64 loopEnd = cue->loopEndMs();
    if (loopEnd > loopStart)
        t = std::clamp(t, loopStart, loopEnd);
    const quint64 frame = quint64(PcmBuffer::msToFrames(t));
    Retired retired;
    withRenderer(retired, [&] { m_renderer.seek(frame, t); });
}

void PlaybackEngine::stop()
{
    m_openFailureMessage.clear();  // nobody waits for a start any more
    dropPendingCrossfade();
    Retired retired;
    int outgoingSlot = 0;
    withRenderer(retired, [&] {
        m_renderer.unload();
        ++m_loadGeneration;
        m_seenEndReports = m_renderer.endReports();
        outgoingSlot = retired.used;
        retired.take(m_current);
        retired.take(m_incoming);
        m_sameFileCrossfade = false;
    });
    m_gainHold = GainHold{};
    m_watchedDecode.reset();
    // The outgoing cue's complete data goes back to the cache, so playing it
    // again decodes nothing.
    const Voice& outgoing = retired.voices[outgoingSlot];
    if (outgoing.cue)
        keepInCache(outgoing.path, outgoing.pcm);
    releaseRetired(retired);
    updatePolling();
}

// ---------------------------------------------------------------------------
// Renderer hand-over

template <typename Change>
void PlaybackEngine::withRenderer(Retired& retired, Change&& change)
{
    {
        AudioOutputDevice::Lock lock(m_device);
        syncHandoverLocked(retired);
        change();
    }
    releaseRetired(retired);
    rewatchCues();
}

void PlaybackEngine::syncHandover()
{
    if (m_renderer.handovers() == m_seenHandovers)
        return;
    Retired retired;
    withRenderer(retired, [] {});
}

void PlaybackEngine::syncHandoverLocked(Retired& retired)
{
    const quint64 handovers = m_renderer.handovers();
    if (handovers == m_seenHandovers)
        return;
    m_seenHandovers = handovers;
    m_gainHold = GainHold{};

    if (m_renderer.lastHandover() == PlaybackRenderer::Handover::ToIncoming) {
        // The incoming cue plays on as the current one (within one file it
        // already shares the current data).
        retired.take(m_current);
        m_current.swap(m_incoming);
    } else {
        // Faded to silence: the data is gone, the cue stays current.
        Voice data;
        data.pcm.swap(m_current.pcm);
        retired.take(data);
        retired.take(m_incoming);
    }
    m_sameFileCrossfade = false;
}

void PlaybackEngine::releaseRetired(Retired& retired)
{
    for (int i = 0; i < retired.used; ++i) {
        const std::shared_ptr<PcmBuffer>& pcm = retired.voices[i].pcm;
        if (pcm && pcm != m_current.pcm && pcm != m_incoming.pcm && pcm != m_crossfadeBuffer)
            m_cache->abandon(pcm);
    }
    // Data taken over by a crossfade may still be decoding: its outcome is
    // the current cue's now.
    if (m_current.pcm && m_current.pcm->isFilling() && m_watchedDecode != m_current.pcm) {
        m_watchedDecode = m_current.pcm;
        updatePolling();
    }
}

void PlaybackEngine::rewatchCues()
{
    Cue* current = m_current.cue.data();
    Cue* next = m_incoming.cue.data();
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
    // The snapshots are built before the device lock, which only swaps them in.
    std::shared_ptr<const CueSnapshot> forCurrent = CueSnapshot::fromCue(*cue);
    std::shared_ptr<const CueSnapshot> forIncoming = forCurrent;
    Retired retired;
    withRenderer(retired, [&] {
        if (cue == m_current.cue.data() && m_renderer.currentCue()) {
            m_current.snapshot.swap(forCurrent);
            m_renderer.setCurrentCue(m_current.snapshot.get());
        }
        if (cue == m_incoming.cue.data() && m_incoming.snapshot) {
            m_incoming.snapshot.swap(forIncoming);
            m_renderer.setIncomingCue(m_incoming.snapshot.get());
        }
    });
}

void PlaybackEngine::onCueDestroyed()
{
    // The cue is gone: its sound stops. The outgoing cue of a crossfade falls
    // silent while the mix goes on into the incoming one; for the incoming
    // cue the crossfade ends in silence. Guarded pointers are already null
    // here; checked after the hand-over sync, they tell which one it was.
    Retired retired;
    withRenderer(retired, [this] {
        if (m_current.cue.isNull())
            m_renderer.setCurrentCue(nullptr);
        if (m_incoming.cue.isNull())
            m_renderer.setIncomingCue(nullptr);
    });
}

// ---------------------------------------------------------------------------
// Decoding and cache

qint64 PlaybackEngine::expectedFrames(const QString& path, qint64 durationMs) const
{
    // A stored length is a hint (a damaged header may have claimed anything):
    // trusted no further than the file's size allows.
    const QFileInfo file(path);
    return PcmBuffer::plausibleFrames(PcmBuffer::msToFrames(durationMs), file.exists() ? file.size() : -1);
}

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

    m_renderer.pause();
    syncHandover();

    // The file's data, wherever it is: the cache, a preload or a prepared
    // crossfade still decoding it, or the current data itself (loading the
    // same cue again).
    const PcmCache::Claim claim = m_cache->claim(path, expectedFrames(path, cue->durationMs()), PcmCache::Use::Take);
    const std::shared_ptr<PcmBuffer>& pcm = claim.pcm;
    const qint64 durationMs = pcm->isFilling() ? cue->durationMs() : PcmBuffer::framesToMs(pcm->frames());

    Voice incoming;
    incoming.cue = cue;
    incoming.path = path;
    incoming.pcm = pcm;
    incoming.snapshot = CueSnapshot::fromCue(*cue);
    Retired retired;
    int outgoingSlot = 0;
    withRenderer(retired, [&] {
        ++m_loadGeneration;
        m_seenEndReports = m_renderer.endReports();
        outgoingSlot = retired.used;
        retired.take(m_current);
        retired.take(m_incoming);
        m_sameFileCrossfade = false;
        m_current.swap(incoming);
        m_renderer.load(m_current.pcm.get(), m_current.snapshot.get(), durationMs);
    });
    m_gainHold = GainHold{};
    m_watchedDecode = pcm->isFilling() ? pcm : nullptr;
    dropPendingCrossfade();

    // The outgoing cue's complete data goes back to the cache, so playing it
    // again (or loading the same cue again) decodes nothing.
    // It has just been played: of all it is the furthest from playing again.
    const Voice& outgoing = retired.voices[outgoingSlot];
    m_cache->setPlaying(path, outgoing.path);
    if (outgoing.cue && outgoing.pcm != m_current.pcm)
        keepInCache(outgoing.path, outgoing.pcm);

    if (claim.mustDecode)
        startDecode(QStringLiteral("MADecodeThread"), path, pcm);
    updatePolling();

    // The data is there; a device that cannot be opened now is the
    // start's concern (play() tries again and reports it).
    if (!initializeDevice())
        qWarning() << "PlaybackEngine::loadCue - no output device yet:" << m_device.libraryName();
    return true;
}

void PlaybackEngine::keepInCache(const QString& path, const std::shared_ptr<PcmBuffer>& pcm)
{
    // Only data that was decoded to its end: a cut-off decode would play short.
    if (!pcm || path.isEmpty() || !pcm->endReached() || pcm->frames() <= 0)
        return;
    const qint64 frames = pcm->frames();
    m_cache->store(path, PcmCacheEntry{pcm, frames, PcmBuffer::framesToMs(frames)});
}

void PlaybackEngine::startDecode(const QString& threadName, const QString& path,
                                 const std::shared_ptr<PcmBuffer>& buffer)
{
    m_decodeThreads.removeIf([](const QPointer<QThread>& thread) { return thread.isNull(); });
    const DecodeFunction decode = m_decode;
    const std::shared_ptr<PcmCache> cache = m_cache;
    m_decodeThreads.append(WorkerThread::start(threadName, [decode, cache, path, buffer] {
        decode(path, *buffer);
        cache->decodeFinished(path, buffer);
    }));
}

void PlaybackEngine::preloadCues(const QList<Cue*>& cues, int decodeAhead)
{
    m_cache->updateCacheBudget();
    const QString current = m_current.cue ? m_current.cue->filePath() : QString();
    QStringList order;
    if (!current.isEmpty())
        order.append(current);
    QList<PreloadRequest> requests;
    QSet<QString> seen;  // a playlist may hold thousands of cues
    int ahead = 0;
    for (Cue* cue : cues) {
        if (!cue || cue->id() < 1)
            continue;
        const QString path = cue->filePath();
        if (path.isEmpty() || path == current || seen.contains(path))
            continue;
        seen.insert(path);
        order.append(path);
        // Only the first few are decoded ahead, cached or not: the rest
        // ranks the cache.
        if (ahead >= decodeAhead)
            continue;
        ++ahead;
        if (!m_cache->contains(path))
            requests.append(PreloadRequest{path, cue->durationMs()});
    }
    m_cache->setPlayOrder(order);
    m_preloader.replaceQueue(requests);
}

void PlaybackEngine::prioritizePreload(Cue* cue)
{
    if (!cue || cue->id() < 1)
        return;
    const QString path = cue->filePath();
    if (m_cache->contains(path))
        return;
    if (m_current.cue && !m_current.cue->filePath().isEmpty() && m_current.cue->filePath() == path)
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
    return m_current.pcm && m_current.pcm->endReached();
}

qint64 PlaybackEngine::decodedLengthMs() const
{
    if (!m_current.pcm || m_current.pcm->isFilling())
        return -1;
    return PcmBuffer::framesToMs(m_current.pcm->frames());
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

void PlaybackEngine::setLoopPasses(int passesLeft)
{
    Retired retired;
    withRenderer(retired, [&] {
        if (m_renderer.isCrossfading())
            m_renderer.setIncomingPassesLeft(passesLeft);
        else if (!m_crossfadePending)
            m_renderer.setPassesLeft(passesLeft);
    });
    // A crossfade still waiting for its data takes it along when it begins.
    m_incomingPasses = passesLeft;
}

bool PlaybackEngine::startCrossfade(Cue* next, bool playOutIfRefused)
{
    if (!crossfadeEnabled)
        return false;
    syncHandover();
    if (!m_current.cue) {
        qWarning() << "[Crossfade] Invalid: no current cue";
        return false;
    }
    if (m_renderer.isCrossfading()) {
        // A running mix is cut off; the current cue plays alone meanwhile.
        Retired retired;
        withRenderer(retired, [&] {
            m_renderer.cancelCrossfade();
            retired.take(m_incoming);
            m_sameFileCrossfade = false;
        });
    }

    std::shared_ptr<PcmBuffer> incoming;
    QString incomingPath;
    bool sameFile = false;
    // Until the transport says otherwise, a cue coming in plays one pass.
    if (!m_crossfadePending || m_pendingCrossfadeCue.data() != next)
        m_incomingPasses = 0;
    if (m_crossfadePending) {
        if (next && m_pendingCrossfadeCue.data() == next) {
            if (!m_crossfadeReady)
                return true;  // crossfadeDecodeReady follows
            if (m_crossfadeDecodeFailed) {
                // Trying again would only fail again. The caller falls back
                // to a normal start, which reports the error.
                qWarning() << "[Crossfade] Incoming cue could not be decoded, no crossfade:" << next->filePath();
                dropPendingCrossfade();
                return false;
            }
            incoming = m_crossfadeBuffer;
            incomingPath = m_pendingCrossfadePath;
            playOutIfRefused = playOutIfRefused || m_crossfadePlayOut;
            clearPendingCrossfade();  // its data (still decoding, maybe) now mixes in
        } else {
            dropPendingCrossfade();
        }
    }

    if (next && !incoming) {
        incomingPath = next->filePath();
        if (!QFileInfo::exists(incomingPath)) {
            qWarning() << "[Crossfade] File not found:" << incomingPath;
            return false;
        }
        if (next == m_current.cue.data() || incomingPath == m_current.path) {
            sameFile = true;
            incoming = m_current.pcm;
        } else {
            // The cache's entry, a preload still at it, or a decode of our
            // own; it mixes in as soon as its first data is there.
            PcmCache::Claim claim =
                m_cache->claim(incomingPath, expectedFrames(incomingPath, next->durationMs()), PcmCache::Use::Share);
            if (!hasStartData(*claim.pcm)) {
                m_crossfadePending = true;
                m_crossfadeReady = false;
                m_crossfadeDecodeFailed = false;
                m_crossfadePlayOut = playOutIfRefused;
                m_pendingCrossfadeCue = next;
                m_pendingCrossfadePath = incomingPath;
                m_crossfadeBuffer = claim.pcm;
                if (claim.mustDecode)
                    startDecode(QStringLiteral("XfadeDecodeThread"), incomingPath, claim.pcm);
                // The current cue plays on meanwhile, at its own gain
                // whatever gain is set for its successor.
                m_preloader.stopWorker();
                if (!m_gainHold.active) {
                    m_gainHold = GainHold{};
                    m_gainHold.active = true;
                    m_gainHold.gain = m_renderer.currentCueGain();
                    m_renderer.holdOutgoingGain(m_gainHold.gain);
                }
                updatePolling();
                return true;
            }
            incoming = std::move(claim.pcm);
        }
    }

    // The outgoing cue keeps decoding if it still does: the mix reads what
    // is there, so nothing has to be decoded on this thread.
    m_preloader.stopWorker();
    const qint64 currentDuration = m_renderer.durationMs();
    const qint64 loopEnd = m_current.cue->loopEndMs();
    const quint64 incomingFrames = incoming ? quint64(incoming->frames()) : 0;
    const bool incomingComplete = !incoming || !incoming->isFilling();
    CrossfadeRequest request;
    request.wantedMs = crossfadeDurationMs;
    request.currentDurationMs = currentDuration;
    request.nextDurationMs = next ? next->durationMs() : 0;
    request.incomingFrames = incomingFrames;
    request.incomingComplete = incomingComplete;
    request.nextLoopStartMs = next ? next->loopStartMs() : 0;
    request.outgoingRegionEndMs = (loopEnd >= 1 && loopEnd < currentDuration) ? loopEnd : currentDuration;
    request.positionFrames = m_renderer.positionFrames();
    request.sampleRate = int(m_sampleRate);
    const CrossfadePlan plan = CrossfadePlan::make(request);

    if (plan.refused && !(playOutIfRefused && next)) {
        qWarning() << "[Crossfade] ABORT: Cue too short (cur=" << currentDuration << "ms, next=" << plan.nextDurationMs
                   << "ms, required=" << plan.requiredMs << "ms), canceling crossfade";
        if (!sameFile)
            m_cache->abandon(incoming);
        return false;
    }
    if (plan.refused)
        qWarning() << "[Crossfade] Cue too short for a crossfade (cur=" << currentDuration << "ms, next="
                   << plan.nextDurationMs << "ms, required=" << plan.requiredMs
                   << "ms): the playing cue plays to its end, then the next one starts";
    if (plan.loopStartReset)
        qWarning() << "[Crossfade] WARN: loopStart" << next->loopStartMs() << "ms exceeds total frames, resetting to 0";

    Voice voice;
    voice.cue = next;
    voice.path = incomingPath;
    voice.pcm = incoming;
    voice.snapshot = next ? CueSnapshot::fromCue(*next) : nullptr;
    PlaybackRenderer::CrossfadeSetup setup;
    setup.incoming = sameFile ? nullptr : incoming.get();
    setup.incomingCue = voice.snapshot.get();
    setup.sameFile = sameFile;
    setup.incomingDurationMs = !next ? 0
        : next->durationMs() >= 1 ? next->durationMs()
        : incomingComplete        ? PcmBuffer::framesToMs(qint64(incomingFrames))
                                  : 0;
    setup.incomingStartFrame = plan.incomingStartFrames;
    setup.lengthFrames = plan.lengthFrames;
    setup.mixStartFrame = plan.mixStartFrames;
    setup.incomingPassesLeft = m_incomingPasses;
    setup.outgoingEndFrame = plan.outgoingEndFrames;
    setup.curve = crossfadeCurve;
    // The outgoing cue keeps the gain it had; the transport then sets the
    // gain of the incoming one.
    setup.outgoingGain = m_renderer.currentCueGain();

    Retired retired;
    withRenderer(retired, [&] {
        retired.take(m_incoming);
        m_incoming.swap(voice);
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
    Retired retired;
    withRenderer(retired, [&] {
        m_renderer.cancelCrossfade();
        retired.take(m_incoming);
        m_sameFileCrossfade = false;
    });
}

void PlaybackEngine::clearPendingCrossfade()
{
    m_crossfadePending = false;
    m_crossfadeReady = false;
    m_crossfadeDecodeFailed = false;
    m_crossfadePlayOut = false;
    m_pendingCrossfadeCue = nullptr;
    m_pendingCrossfadePath.clear();
    m_crossfadeBuffer.reset();
}

void PlaybackEngine::dropPendingCrossfade()
{
    // A decode started only for this crossfade stops at its next read; one
    // that a preload or the cache still wants goes on.
    const std::shared_ptr<PcmBuffer> buffer = m_crossfadeBuffer;
    clearPendingCrossfade();
    if (buffer && buffer != m_current.pcm && buffer != m_incoming.pcm)
        m_cache->abandon(buffer);
}

// ---------------------------------------------------------------------------
// GUI-thread side of the callback and the workers

void PlaybackEngine::updatePolling()
{
    if (m_shuttingDown)
        return;
    // Idle (nothing playing, nothing decoding) the engine costs nothing.
    const bool needed = (m_device.isOpen() && m_renderer.isPlaying()) || m_watchedDecode || m_crossfadePending;
    if (needed && !m_pollTimer.isActive())
        m_pollTimer.start();
    else if (!needed && m_pollTimer.isActive())
        m_pollTimer.stop();
}

void PlaybackEngine::checkDevice()
{
    if (!m_device.isOpen() || !m_device.isLost())
        return;
    // A vanished device (an SDL device keeps calling the callback; a lost
    // sound server calls nothing) must not run the position on in
    // silence. Reopen (on the default device if the chosen one is gone) and
    // carry on where the cue was; a failure is the transport's to retry.
    qWarning() << "PlaybackEngine - output device lost, reopening:" << m_device.libraryName();
    m_renderer.setOutputLost(true);
    if (!m_renderer.isPlaying()) {
        closeDevice();  // the next play() opens it again
        return;
    }
    if (reinitializeDevice()) {
        play();
        if (m_renderer.isPlaying())
            return;
    }
    Q_EMIT outputLost();
}

void PlaybackEngine::onPoll()
{
    checkDevice();
    syncHandover();

    bool decodeCompleted = false;
    QStringList errors;
    if (m_watchedDecode && m_watchedDecode != m_current.pcm) {
        m_watchedDecode.reset();  // replaced before it ended: nothing to report
    } else if (m_watchedDecode && !m_watchedDecode->isFilling()) {
        const std::shared_ptr<PcmBuffer> pcm = std::move(m_watchedDecode);
        m_watchedDecode.reset();
        const PcmBuffer::State state = pcm->state();
        if (state == PcmBuffer::State::Failed) {
            if (pcm->frames() > 0)
                qWarning() << "[MADecode] Reading stopped on errors after" << pcm->frames()
                           << "frames:" << pcm->errorString();
            else
                qWarning() << "[MADecode] 打开文件失败, error:" << pcm->errorString();
            errors.append(QStringLiteral("FFmpeg decode error: ") + pcm->errorString());
        } else if (pcm->endReached() && pcm->frames() == 0) {
            qWarning() << "[MADecode] WARNING: 0 frames decoded - bad audio file:" << m_current.path;
            errors.append(QStringLiteral("No audio data could be decoded from: ") + m_current.path);
        } else if (pcm->endReached()) {
            // A cut file plays what it has; its real length replaces the
            // declared one.
            if (state == PcmBuffer::State::Short)
                qWarning() << "[MADecode] File is shorter than it declares:" << m_current.path << pcm->errorString();
            decodeCompleted = true;
        }
    }

    bool crossfadeReady = false;
    if (m_crossfadePending && !m_crossfadeReady && m_crossfadeBuffer && hasStartData(*m_crossfadeBuffer)) {
        m_crossfadeReady = true;
        crossfadeReady = true;
        if (m_crossfadeBuffer->frames() == 0) {
            if (m_crossfadeBuffer->state() == PcmBuffer::State::Failed)
                qWarning() << "[XfadeDecode] decodeCueToBufferChunked - init failed:" << m_crossfadeBuffer->errorString();
            else
                qWarning() << "[XfadeDecode] No audio data decoded for the incoming cue";
            m_crossfadeDecodeFailed = true;
        }
    }

    // The end of the outgoing data while a crossfade waits for its incoming
    // cue belongs to that crossfade: the transport already plays the
    // incoming cue, which comes in as soon as its data is there.
    const quint64 endReports = m_renderer.endReports();
    const bool ended = endReports != m_seenEndReports && !m_crossfadePending;
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
