#include "playback/CueManager.h"

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "audiofile/AudioFileProbe.h"
#include "playback/CueTemplate.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QRandomGenerator64>
#include <QSet>
#include <QThread>

#include <algorithm>

CueManager* CueManager::instance()
{
    static CueManager manager;
    return &manager;
}

CueManager::CueManager(AudioEngine* transport)
    : QObject(nullptr)
    , m_audioEngine(transport ? transport : AudioEngine::instance())
    , m_randomSource([] { return QRandomGenerator64::global()->generate(); })
{
    qRegisterMetaType<CueManager::PlayMode>("CueManager::PlayMode");

    connect(m_audioEngine, &AudioEngine::stateChanged, this, &CueManager::onAudioEngineStateChanged);
    connect(m_audioEngine, &AudioEngine::playbackFinished, this, &CueManager::onAudioEnginePlaybackFinished);
    connect(m_audioEngine, &AudioEngine::positionChanged, this, &CueManager::playbackPositionChanged);
    connect(m_audioEngine, &AudioEngine::durationChanged, this, &CueManager::playbackDurationChanged);
    connect(m_audioEngine, &AudioEngine::currentCueChanged, this, &CueManager::currentCueChanged);

    // Cues save themselves while they are destroyed; that has to happen while
    // the application, its database and the engine's threads still exist, not
    // from a static destructor after main() has returned.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &CueManager::shutdown);

    loadAllCuesFromDatabase();
}

CueManager::~CueManager()
{
    if (!m_shutDown)
        shutdown();
}

void CueManager::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // The transport's end report below must start no other cue.
    m_stopRequested = true;
    m_audioEngine->stop();
    m_audioEngine->clearPreloadQueue();
    // Let the engine's threads and callback settle.
    QThread::msleep(100);

    const QList<Cue*> cues = m_cues.values();  // ascending id order
    m_cues.clear();
    for (Cue* cue : cues)
        delete cue;

    m_focusCue = nullptr;
    m_playing = false;
    m_playOrder.clear();
    m_loopCountMemory.clear();
    m_currentIndex = -1;
}

// ---------------------------------------------------------------------------
// Registry

Cue* CueManager::getCue(int cueId) const
{
    return m_cues.value(cueId, nullptr);
}

Cue* CueManager::getOrLoadCue(int cueId)
{
    if (Cue* cue = getCue(cueId))
        return cue;
    auto* cue = new Cue();
    if (cue->loadFromDatabase(cueId) && !cue->filePath().isEmpty()) {
        m_cues.insert(cueId, cue);
        return cue;
    }
    delete cue;
    return nullptr;
}

Cue* CueManager::newCueFromTemplate(const QString& filePath) const
{
    return newCueFromTemplate(filePath, CueTemplate::fromSettings());
}

Cue* CueManager::newCueFromTemplate(const QString& filePath, const CueTemplate& cueTemplate) const
{
    if (filePath.isEmpty() || !QFileInfo::exists(filePath)) {
        qWarning() << "CueManager::createCue - Invalid file path:" << filePath;
        return nullptr;
    }

    // A new cue already has no duration and an unset loop region (0..0).
    auto* cue = new Cue(-1, QFileInfo(filePath).completeBaseName(), filePath);
    cue->setImporting(true);
    cueTemplate.applyTo(cue);
    cue->setImporting(false);
    return cue;
}

Cue* CueManager::createCue(const QString& filePath)
{
    Cue* cue = newCueFromTemplate(filePath);
    if (!cue)
        return nullptr;
    cue->setParent(this);
    if (!cue->saveToDatabase(false)) {
        qWarning() << "CueManager::createCue - Failed to save new cue to database";
        delete cue;
        return nullptr;
    }
    if (cue->id() < 1) {
        qWarning() << "CueManager::createCue - Invalid ID from database:" << cue->id();
        delete cue;
        return nullptr;
    }
    m_cues.insert(cue->id(), cue);
    Q_EMIT cueCreated(cue);
    return cue;
}

bool CueManager::deleteCue(int cueId)
{
    Cue* cue = getCue(cueId);
    if (!cue) {
        qWarning() << "CueManager::deleteCue - Cue not found:" << cueId;
        return false;
    }
    if (m_audioEngine->getCurrentCue() == cue) {
        m_stopRequested = true;
        m_playing = false;
        m_audioEngine->stop();
        Q_EMIT playbackStateChanged(false);
    }
    if (!cue->deleteFromDatabase()) {
        qWarning() << "CueManager::deleteCue - Failed to delete from database:" << cueId;
        return false;
    }
    m_cues.remove(cueId);
    // Its rows are gone: unsaved changes must not write them back (as orphan
    // points or waveform rows) when the object is destroyed.
    cue->clearDirty();
    cue->clearWaveformDirty();
    if (m_focusCue == cue) {
        m_focusCue = nullptr;
        Q_EMIT focusChanged(nullptr);
    }
    m_playOrder.removeAll(cue);
    m_loopCountMemory.remove(cue);
    m_soundless.remove(cue);
    Q_EMIT cueRemoved(cue);
    delete cue;
    return true;
}

bool CueManager::deleteCue(Cue* cue)
{
    return cue ? deleteCue(cue->id()) : false;
}

void CueManager::registerCue(Cue* cue)
{
    if (!cue)
        return;
    if (cue->id() < 1) {
        qWarning() << "CueManager::registerCue - Invalid ID:" << cue->id();
        return;
    }
    m_cues.insert(cue->id(), cue);
    cue->setParent(this);
    Q_EMIT cueCreated(cue);
}

void CueManager::registerImportedCue(Cue* cue)
{
    if (!cue || cue->id() < 1 || m_cues.contains(cue->id())) {
        qWarning() << "CueManager::registerImportedCue - Not registered:" << (cue ? cue->id() : -1);
        delete cue;
        return;
    }
    m_cues.insert(cue->id(), cue);
    cue->setParent(this);
}

void CueManager::loadAllCuesFromDatabase()
{
    QList<Cue*> loaded;
    if (!DatabaseManager::instance()->loadAllCues(loaded)) {
        qWarning() << "CueManager::loadAllCuesFromDatabase - Failed to load cues from database";
        qDeleteAll(loaded);
        return;
    }
    for (Cue* cue : std::as_const(loaded)) {
        m_cues.insert(cue->id(), cue);
        cue->setParent(this);
    }
}

int CueManager::cleanupOrphanedCues()
{
    QMap<int, QList<int>> songsByPlaylist;
    if (!DatabaseManager::instance()->loadAllPlaylistSongs(songsByPlaylist)) {
        qWarning() << "CueManager::cleanupOrphanedCues - Failed to load playlist songs";
        return 0;
    }
    QSet<int> inPlaylists;
    for (const QList<int>& ids : std::as_const(songsByPlaylist))
        for (int id : ids)
            inPlaylists.insert(id);

    QList<int> orphans;
    for (auto it = m_cues.constBegin(); it != m_cues.constEnd(); ++it)
        if (!inPlaylists.contains(it.key()))
            orphans.append(it.key());

    int deleted = 0;
    for (int id : std::as_const(orphans))
        if (deleteCue(id))
            ++deleted;
    return deleted;
}

bool CueManager::deleteCueIfOrphaned(Cue* cue)
{
    if (!cue)
        return true;
    if (cue->getPlaylistIds().isEmpty())
        return deleteCue(cue->id());
    return true;
}

int CueManager::getPlaylistCount(Cue* cue) const
{
    return cue ? int(cue->getPlaylistIds().size()) : 0;
}

bool CueManager::removeCueFromPlaylist(Cue* cue, int playlistId)
{
    if (!cue)
        return true;
    if (!cue->removeFromPlaylist(playlistId))
        return false;
    m_playOrder.removeAll(cue);
    if (cue->getPlaylistIds().isEmpty())
        return deleteCue(cue->id());
    return true;
}

void CueManager::resolveCueDuration(Cue* cue)
{
    if (!cue)
        return;
    const QString path = cue->filePath();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        qWarning() << "CueManager::resolveCueDuration - File not found:" << path;
        return;
    }
    if (cue->durationMs() > 0)
        return;
    const qint64 duration = probeDurationMs(path);
    if (duration < 1) {
        qWarning() << "CueManager::resolveCueDuration - Failed to resolve duration for:" << path;
        return;
    }
    cue->setDuration(duration);
    if (cue->loopEndMs() < 1)
        cue->setLoopRange(0, duration, false);
    cue->saveToDatabase(false);
}

void CueManager::setFocusCue(Cue* cue)
{
    m_focusCue = cue;
    Q_EMIT focusChanged(cue);
}

bool CueManager::addCueToPlaylist(Cue* cue, int playlistId, int position)
{
    if (!cue) {
        qWarning() << "CueManager::addCueToPlaylist - Cue is null";
        return false;
    }
    return cue->addToPlaylist(playlistId, position);
}

QList<int> CueManager::getPlaylistCueIds(int playlistId) const
{
    QList<int> ids;
    if (!DatabaseManager::instance()->getPlaylistSongIds(playlistId, ids))
        return {};
    return ids;
}

bool CueManager::setPlaylistOrder(int playlistId, const QList<int>& cueIds)
{
    return DatabaseManager::instance()->updatePlaylistSongOrder(playlistId, cueIds);
}

// ---------------------------------------------------------------------------
// Index rules

int CueManager::wrapNext() const
{
    return m_currentIndex + 1 < m_playOrder.size() ? m_currentIndex + 1 : 0;
}

int CueManager::wrapPrevious() const
{
    return m_currentIndex > 0 ? m_currentIndex - 1 : int(m_playOrder.size()) - 1;
}

int CueManager::autoNextIndex()
{
    switch (m_playMode) {
    case SingleLoop:
        return m_currentIndex;
    case ListLoop:
        return m_playOrder.isEmpty() ? -1 : wrapNext();
    case Random:
        return randomIndex();
    default:
        return -1;
    }
}

int CueManager::customNextIndex()
{
    return inRange(m_currentIndex) ? handleCustomNextIndex() : -1;
}

int CueManager::userNextIndex()
{
    if (m_playOrder.isEmpty())
        return -1;
    if (m_playMode == Random || m_playMode == CustomRandom)
        return randomIndex();
    return wrapNext();
}

int CueManager::nextIndex()
{
    return m_playMode <= Random ? autoNextIndex() : customNextIndex();
}

int CueManager::previousIndex()
{
    if (m_playMode == Random || m_playMode == CustomRandom)
        return previousFromHistory();
    return wrapPrevious();
}

int CueManager::handleCustomNextIndex()
{
    switch (m_playMode) {
    case CustomListLoop:
        return wrapNext();
    case CustomRandom:
        return randomIndex();
    case Custom:
        return -1;
    default:
        qWarning() << "handleCustomNextIndex called with unexpected mode:" << int(m_playMode);
        return -1;
    }
}

void CueManager::setRandomSource(std::function<quint64()> source)
{
    m_randomSource = source ? std::move(source) : [] { return QRandomGenerator64::global()->generate(); };
}

int CueManager::randomIndex()
{
    const int n = int(m_playOrder.size());
    const int current = m_currentIndex;
    if (n < 2)
        return current;
    // The cue being left counts as played.
    if (!m_playedIndices.contains(current))
        m_playedIndices.append(current);
    if (m_playedIndices.size() >= n)
        m_playedIndices.clear();

    QList<int> candidates;
    for (int i = 0; i < n; ++i)
        if (i != current && !m_playedIndices.contains(i))
            candidates.append(i);
    if (candidates.isEmpty()) {
        m_playedIndices.clear();
        for (int i = 0; i < n; ++i)
            if (i != current)
                candidates.append(i);
    }
    if (candidates.isEmpty())
        return current;

    // Uniform pick without modulo bias: draw under the smallest all-ones mask
    // that covers the candidate count and retry when it is out of range.
    const quint64 count = quint64(candidates.size());
    quint64 mask = 0;
    while (mask < count - 1)
        mask = (mask << 1) | 1;
    quint64 pick = 0;
    do {
        pick = m_randomSource() & mask;
    } while (pick >= count);
    return candidates.at(int(pick));
}

int CueManager::previousFromHistory()
{
    const qsizetype h = m_playHistory.size();
    if (h > 1) {
        m_playHistory.removeLast();
        return m_playHistory.last();
    }
    if (h == 1)
        return m_playHistory.first();
    return wrapPrevious();
}

Cue* CueManager::followingCue() const
{
    if (m_playMode != ListLoop && m_playMode != CustomListLoop)
        return nullptr;
    if (m_playOrder.isEmpty() || !inRange(m_currentIndex))
        return nullptr;
    return m_playOrder.at(wrapNext());
}

// ---------------------------------------------------------------------------
// Starting and stopping

void CueManager::setPlaylist(const QList<Cue*>& cues)
{
    // History entries are indexes: carry them over to where their cues sit in
    // the new order, and drop those whose cue is not in it.
    QList<int> history;
    for (int index : std::as_const(m_playHistory)) {
        if (!inRange(index))
            continue;
        const int mapped = int(cues.indexOf(m_playOrder.at(index)));
        if (mapped >= 0 && (history.isEmpty() || history.last() != mapped))
            history.append(mapped);
    }
    m_playHistory = history;

    m_playOrder = cues;
    m_currentIndex = 0;
    m_playedIndices.clear();
    m_soundless.clear();
    m_stopRequested = false;
    rebuildLoopCountMemory();
}

void CueManager::rebuildLoopCountMemory()
{
    m_loopCountMemory.clear();
    if (m_playMode < Custom || m_playMode > CustomRandom)
        return;
    for (Cue* cue : std::as_const(m_playOrder))
        if (cue)
            m_loopCountMemory.insert(cue, cue->loopCount());
}

void CueManager::startOnTransport(Cue* cue, qint64 startPosMs)
{
    m_lastStarted = cue;
    m_audioEngine->autoAdvance = m_playMode != Custom;
    const bool ok = m_audioEngine->play(cue, m_playMode <= Random, startPosMs);
    if (!ok)
        return;
    // The cue after this one is decoded ahead in the list-loop modes.
    Cue* following = followingCue();
    if (following && following != cue)
        m_audioEngine->prioritizePreload(following);
}

void CueManager::playCurrent(qint64 startPosMs)
{
    if (m_playOrder.isEmpty() || !inRange(m_currentIndex))
        return;
    Cue* cue = m_playOrder.at(m_currentIndex);
    if (!cue) {
        // An order made only of empty entries must not skip forever.
        if (m_nullSkips >= m_playOrder.size()) {
            stopPlaylist();
            Q_EMIT playlistFinished();
            return;
        }
        ++m_nullSkips;
        stepToUserNext();
        --m_nullSkips;
        return;
    }
    if (cue->isDirty())
        cue->saveToDatabase(false);
    m_playing = true;
    if (m_playMode >= Custom && m_playMode <= CustomRandom)
        m_loopCountMemory.insert(cue, cue->loopCount());
    if (m_playHistory.isEmpty() || m_playHistory.last() != m_currentIndex)
        m_playHistory.append(m_currentIndex);
    if (startPosMs <= 0)
        startPosMs = m_showMode ? cue->loopStartMs() : -1;
    startOnTransport(cue, startPosMs);
}

void CueManager::playPlaylist(qint64 startPosMs)
{
    if (m_playOrder.isEmpty())
        return;
    if (m_audioEngine->getState() == AudioEngine::Paused) {
        m_audioEngine->resume();
        m_playing = true;
        Q_EMIT playbackStateChanged(true);
        return;
    }
    m_playing = true;
    m_stopRequested = false;
    m_soundless.clear();
    if (!inRange(m_currentIndex))
        m_currentIndex = 0;
    for (Cue* cue : std::as_const(m_cues))
        if (cue->isDirty())
            cue->saveToDatabase(false);
    Q_EMIT playbackStateChanged(true);
    playCurrent(startPosMs);
    Q_EMIT playlistStarted();
}

void CueManager::pausePlaylist()
{
    if (m_audioEngine->getState() != AudioEngine::Playing)
        return;
    m_audioEngine->pause();
    Q_EMIT playlistPaused();
}

void CueManager::stopPlaylist()
{
    m_playing = false;
    m_stopRequested = true;
    m_audioEngine->stop();
    Q_EMIT playlistStopped();
    Q_EMIT playbackStateChanged(false);
}

void CueManager::playNext()
{
    m_soundless.clear();
    stepToUserNext();
}

void CueManager::stepToUserNext()
{
    if (m_playOrder.isEmpty())
        return;
    m_stopRequested = false;
    const int next = userNextIndex();
    if (inRange(next)) {
        m_currentIndex = next;
        playCurrent();
        return;
    }
    stopPlaylist();
    Q_EMIT playlistFinished();
}

void CueManager::playPrevious()
{
    if (m_playOrder.isEmpty())
        return;
    m_stopRequested = false;
    m_soundless.clear();
    const int previous = previousIndex();
    if (!inRange(previous)) {
        stopPlaylist();
        Q_EMIT playlistFinished();
        return;
    }
    m_currentIndex = previous;
    playCurrent();
}

void CueManager::playCue(Cue* cue, qint64 startPosMs)
{
    if (!cue)
        return;
    if (cue == m_audioEngine->getCurrentCue() && m_audioEngine->getState() == AudioEngine::Playing) {
        // Start it again from the beginning without advancing the order.
        m_stopRequested = true;
        m_audioEngine->stop();
    }
    m_playing = true;
    m_stopRequested = false;
    m_soundless.clear();

    if (m_playMode <= Random) {
        if (!m_playOrder.isEmpty()) {
            int index = int(m_playOrder.indexOf(cue));
            if (index < 0) {
                m_playOrder.append(cue);
                index = int(m_playOrder.size()) - 1;
            }
            m_currentIndex = index;
            if (m_playMode == Random) {
                m_playedIndices.clear();
                m_playedIndices.append(index);
            }
        }
    } else if (m_playMode <= CustomRandom) {
        m_loopCountMemory.insert(cue, cue->loopCount());
    }
    startOnTransport(cue, m_showMode ? -1 : startPosMs);
}

void CueManager::seek(qint64 positionMs)
{
    m_audioEngine->seek(positionMs);
}

void CueManager::setMainVolume(int volume)
{
    m_mainVolume = std::clamp(volume, 0, 100);
    m_audioEngine->setMainVolume(m_mainVolume);
}

void CueManager::setPlayMode(PlayMode mode)
{
    if (mode == m_playMode)
        return;
    m_playMode = mode;
    // The running (or paused) cue, and one queued behind a crossfade, follow
    // the new mode at once.
    m_audioEngine->followPlayMode(mode < Custom, mode != Custom);
    // The cue decoded ahead is the one that follows under the new mode.
    Cue* following = followingCue();
    if (following && following != m_audioEngine->getCurrentCue())
        m_audioEngine->prioritizePreload(following);
    Q_EMIT playModeChanged(mode);
}

void CueManager::stopPlayback()
{
    m_playing = false;
    m_stopRequested = true;
    m_audioEngine->stop();
    Q_EMIT playbackStateChanged(false);
}

void CueManager::pausePlayback()
{
    if (m_audioEngine->getState() != AudioEngine::Playing)
        return;
    m_audioEngine->pause();
    m_playing = false;
    Q_EMIT playbackStateChanged(false);
}

void CueManager::syncPlayingState()
{
    const bool playing = m_audioEngine->getState() == AudioEngine::Playing;
    if (playing == m_playing)
        return;
    m_playing = playing;
    Q_EMIT playbackStateChanged(playing);
}

// ---------------------------------------------------------------------------
// Transport facade and its reports

Cue* CueManager::getCurrentCue() const
{
    return m_audioEngine->getCurrentCue();
}

bool CueManager::isCurrentCue(Cue* cue) const
{
    return cue && cue == m_audioEngine->getCurrentCue();
}

qint64 CueManager::getCurrentPosition() const
{
    return m_audioEngine->isCrossfading() ? m_audioEngine->getCurrentPosition() : m_audioEngine->getPosition();
}

qint64 CueManager::getCurrentDuration() const
{
    return m_audioEngine->getDuration();
}

bool CueManager::isPaused() const
{
    return m_audioEngine->getState() == AudioEngine::Paused;
}

bool CueManager::nothingLeftToPlay(int nextIndex) const
{
    Cue* next = m_playOrder.at(nextIndex);
    if (m_soundless.isEmpty() || (next && !m_soundless.contains(next)))
        return false;
    // The same cue again (SingleLoop), or an order all of whose cues failed.
    if (m_playMode == SingleLoop)
        return true;
    for (Cue* cue : m_playOrder) {
        if (cue && !m_soundless.contains(cue))
            return false;
    }
    return true;
}

void CueManager::onAudioEngineStateChanged(AudioEngine::State state)
{
    switch (state) {
    case AudioEngine::Playing:
        m_playing = true;
        Q_EMIT playbackStateChanged(true);
        break;
    case AudioEngine::Paused:
        m_playing = false;
        Q_EMIT playbackStateChanged(false);
        break;
    case AudioEngine::Stopped:
        // The end of one cue inside a running playlist is not a stop; the end
        // report decides what follows. An output that could not be brought
        // back is: nothing sounds until the operator starts again.
        if (m_stopRequested || m_playOrder.isEmpty() || m_audioEngine->hasOutputFailed()) {
            m_playing = false;
            Q_EMIT playbackStateChanged(false);
        }
        break;
    }
}

void CueManager::onAudioEnginePlaybackFinished()
{
    if (m_handlingFinished) {
        // The cue tried next could not start (its file is missing or cannot
        // be loaded) while the previous end is being handled: the transport
        // has already told the operator which cue it was. The outer handling
        // moves on past it once the failed start has returned.
        m_finishedAgain = true;
        return;
    }
    m_handlingFinished = true;
    // Every cue of the order gets its chance once per round, plus one: an
    // order of cues that all fail ends in nothingLeftToPlay() well before.
    int attempts = 2 * int(m_playOrder.size()) + 2;
    do {
        m_finishedAgain = false;
        if (!advanceAfterEnd())
            break;
    } while (m_finishedAgain && !m_stopRequested && --attempts > 0);
    if (m_finishedAgain && !m_stopRequested) {
        // Not one of the tries sounded (a random order kept drawing cues
        // that fail): stop rather than spin.
        stopForNothingPlayable();
    }
    m_finishedAgain = false;
    m_handlingFinished = false;
}

void CueManager::stopForNothingPlayable()
{
    qCritical() << "CueManager - no cue of the play order can be played, stopping";
    m_playing = false;
    m_stopRequested = true;
    Q_EMIT playbackStateChanged(false);
    Q_EMIT errorOccurred(QStringLiteral("播放列表中没有可以播放的音频，已停止播放"));
}

bool CueManager::advanceAfterEnd()
{
    if (m_stopRequested)
        return false;
    // A cue that could not be heard is remembered until one is.
    if (!m_audioEngine->endedWithoutSound())
        m_soundless.clear();
    else if (Cue* ended = m_lastStarted.data())
        m_soundless.insert(ended);
    if (!m_playOrder.isEmpty() && m_currentIndex >= 0) {
        const int next = nextIndex();
        if (inRange(next) && nothingLeftToPlay(next)) {
            m_finishedAgain = false;
            stopForNothingPlayable();
            return false;
        }
        if (inRange(next)) {
            m_currentIndex = next;
            playCurrent();
            return true;
        }
    }
    m_playing = false;
    Q_EMIT playbackStateChanged(false);
    Q_EMIT playlistFinished();
    return false;
}
