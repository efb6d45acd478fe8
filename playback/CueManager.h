#pragma once

#include "playback/AudioEngine.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class Cue;
class CueTemplate;

// Owner of every cue in memory (the registry, keyed by the cue's stored id)
// and sequencer of the playlist being played: the play order, the current
// index in it, the six play modes, next and previous, and the reaction to the
// transport's end reports. GUI thread only.
class CueManager : public QObject {
    Q_OBJECT

public:
    enum PlayMode {
        SingleLoop = 0,
        ListLoop = 1,
        Random = 2,
        Custom = 3,
        CustomListLoop = 4,
        CustomRandom = 5,
    };
    Q_ENUM(PlayMode)

    static CueManager* instance();

    // Drives the given transport (AudioEngine::instance() when null), loads
    // every stored cue and shuts itself down when the application quits.
    explicit CueManager(AudioEngine* transport = nullptr);
    ~CueManager() override;

    // Stops the sound and deletes every cue (unsaved changes are written).
    void shutdown();

    // Registry
    Cue* getCue(int cueId) const;
    Cue* getOrLoadCue(int cueId);
    // Every registered cue, in ascending id order.
    QList<Cue*> allCues() const { return m_cues.values(); }
    Cue* createCue(const QString& filePath);
    // A cue for the file with the new-cue template applied, neither stored
    // nor registered (the caller owns it; registerCue() once it is stored);
    // null when the file does not exist. What createCue() starts from.
    Cue* newCueFromTemplate(const QString& filePath) const;
    // The same with the template read once by the caller, for a batch.
    Cue* newCueFromTemplate(const QString& filePath, const CueTemplate& cueTemplate) const;
    bool deleteCue(int cueId);
    bool deleteCue(Cue* cue);
    void registerCue(Cue* cue);
    // A stored cue of a new playlist that no view shows yet, registered
    // without cueCreated: a list import registers thousands at once, and
    // the views read the playlist when it is shown. A cue whose id is taken
    // or unset is deleted instead.
    void registerImportedCue(Cue* cue);
    void loadAllCuesFromDatabase();
    int cleanupOrphanedCues();
    bool deleteCueIfOrphaned(Cue* cue);
    int getPlaylistCount(Cue* cue) const;
    bool removeCueFromPlaylist(Cue* cue, int playlistId);
    void resolveCueDuration(Cue* cue);
    void setFocusCue(Cue* cue);

    // Playlist membership and order in the database
    bool addCueToPlaylist(Cue* cue, int playlistId, int position);
    QList<int> getPlaylistCueIds(int playlistId) const;
    bool setPlaylistOrder(int playlistId, const QList<int>& cueIds);

    // Sequencer
    void setPlaylist(const QList<Cue*>& cues);
    // Resumes a paused cue, or plays the entry at the current index; a start
    // position above 0 is where that entry starts (clamped into its loop
    // region), so nothing of it is heard from elsewhere first.
    void playPlaylist(qint64 startPosMs = -1);
    void pausePlaylist();
    void stopPlaylist();
    void playNext();
    void playPrevious();
    void playCue(Cue* cue, qint64 startPosMs);
    void seek(qint64 positionMs);
    void setMainVolume(int volume);
    void setPlayMode(PlayMode mode);
    PlayMode playMode() const { return m_playMode; }
    void rebuildLoopCountMemory();

    QList<Cue*> getPlaylist() const { return m_playOrder; }
    int getCurrentIndex() const { return m_currentIndex; }
    void setCurrentIndex(int index) { m_currentIndex = index; }
    bool isPlaying() const { return m_playing; }
    void setShowMode(bool showMode) { m_showMode = showMode; }

    // Transport facade
    AudioEngine* audioEngine() const { return m_audioEngine; }
    Cue* getCurrentCue() const;
    bool isCurrentCue(Cue* cue) const;
    qint64 getCurrentPosition() const;
    qint64 getCurrentDuration() const;
    bool isPaused() const;

    int nextIndex();
    int previousIndex();
    void stopPlayback();
    void pausePlayback();
    void syncPlayingState();
    bool isFinishAtEndMode() const { return m_playMode < Custom; }
    int handleCustomNextIndex();

    // Source of the 64-bit values the random modes draw from; the process-wide
    // generator unless replaced (tests make the order predictable).
    void setRandomSource(std::function<quint64()> source);

Q_SIGNALS:
    void cueCreated(Cue* cue);
    void cueRemoved(Cue* cue);
    void focusChanged(Cue* cue);
    void playlistStarted();
    void playlistPaused();
    void playlistStopped();
    void playlistFinished();
    void currentCueChanged(Cue* cue);
    void playModeChanged(CueManager::PlayMode mode);
    void playbackStateChanged(bool isPlaying);
    void playbackPositionChanged(qlonglong positionMs);
    void playbackDurationChanged(qlonglong durationMs);
    // Something the operator must know about the play order, e.g. that none
    // of its cues could be played, so it was stopped.
    void errorOccurred(const QString& message);

private Q_SLOTS:
    void onAudioEngineStateChanged(AudioEngine::State state);
    void onAudioEnginePlaybackFinished();

private:
    bool inRange(int index) const { return index >= 0 && index < m_playOrder.size(); }
    int wrapNext() const;
    int wrapPrevious() const;
    int autoNextIndex();
    int customNextIndex();
    int userNextIndex();
    int randomIndex();
    int previousFromHistory();
    Cue* followingCue() const;
    void playCurrent(qint64 startPosMs = -1);
    void stepToUserNext();
    // Every cue the automatic advance can reach from here has just ended
    // without producing a sound: going on would only spin.
    bool nothingLeftToPlay(int nextIndex) const;
    void startOnTransport(Cue* cue, qint64 startPosMs);
    // Starts the cue that follows the one that has just ended; false when
    // nothing was started (the order has ended or was stopped).
    bool advanceAfterEnd();
    void stopForNothingPlayable();

    QMap<int, Cue*> m_cues;
    AudioEngine* m_audioEngine = nullptr;
    int m_mainVolume = 50;
    Cue* m_focusCue = nullptr;
    QList<Cue*> m_playOrder;
    int m_currentIndex = -1;
    PlayMode m_playMode = ListLoop;
    QList<int> m_playedIndices;
    QList<int> m_playHistory;
    QMap<Cue*, int> m_loopCountMemory;
    bool m_playing = false;
    bool m_stopRequested = false;
    bool m_showMode = false;
    bool m_handlingFinished = false;
    // An end was reported while the previous one was being handled.
    bool m_finishedAgain = false;
    bool m_shutDown = false;
    int m_nullSkips = 0;
    // The cue last handed to the transport, and the cues that ended without
    // a sound since a cue last played (or the operator last started one).
    QPointer<Cue> m_lastStarted;
    QSet<Cue*> m_soundless;
    std::function<quint64()> m_randomSource;
};
