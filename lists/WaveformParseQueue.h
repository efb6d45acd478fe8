#pragma once

#include "model/Cue.h"  // complete for the meta-types of the signals
#include "playback/WaveformParseRequester.h"
#include "waveform/WaveformParser.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class WaveformParseJob;

template <typename T>
class QFutureWatcher;

// Gives every cue its waveform peaks: from the cue itself, from the database,
// or by parsing its file in the background, one cue at a time on the global
// thread pool. The cue the operator selects goes first; a parse it displaces
// is cancelled and done again later. Peaks are kept per cue, so a cue seen
// before is neither read nor parsed again.
class WaveformParseQueue : public WaveformParseRequester {
    Q_OBJECT

public:
    // Runs on a pool thread; must stop early once the job is cancelled and
    // must not touch any cue.
    using ParseFunction = std::function<WaveformParser::Result(const QString& filePath, WaveformParseJob& job)>;

    // The real parse: a WaveformParser whose cancel the job reaches.
    static WaveformParser::Result parseFile(const QString& filePath, WaveformParseJob& job);

    // A displaced parse may still be winding down on the pool while the next
    // one runs; beyond that the queue waits rather than stack up decodes.
    static constexpr int kMaxWindingDown = 1;
    // kMaxWindingDown, or fewer where the global pool is too small to leave
    // one of its threads free besides.
    static int windingDownAllowed();

    explicit WaveformParseQueue(QObject* parent = nullptr);
    ~WaveformParseQueue() override;

    void setParseFunction(ParseFunction parse);

    // Queues a cue unless its peaks are known; priority puts it first and
    // displaces a parse of another cue.
    void enqueueWaveformParse(Cue* cue, bool priority) override;
    // Takes known peaks of the cues (their own or the database's) and queues
    // the rest, in the given order.
    void loadOrParse(const QList<Cue*>& cues);
    // Queues cues known to have no stored peaks, at the end, without asking
    // the database again.
    void queueForParse(const QList<Cue*>& cues);

    bool hasCachedWaveform(Cue* cue) const { return m_cache.contains(cue); }
    QList<float> cachedWaveform(Cue* cue) const { return m_cache.value(cue); }
    void clearWaveformCache() { m_cache.clear(); }

    // Drops every waiting cue and cancels the running parse.
    void clearParseQueue();
    void stopWaveformParsing();
    // The registry deleted the cue.
    void forgetCue(Cue* cue);

    // State, for the track list and tests
    bool isParsing() const { return m_parsing; }
    Cue* parsingCue() const { return m_runningCue; }
    QList<Cue*> queuedCues() const;
    bool isPending(Cue* cue) const { return m_pending.contains(cue); }
    int windingDownCount() const { return int(m_windingDown.size()); }

Q_SIGNALS:
    void waveformUpdated(Cue* cue);
    void waveformParseStatus(QString message, int timeout = 3000);
    // A parse measured the cue's file (its duration may have been corrected).
    void durationParsed(Cue* cue);

private:
    using Watcher = QFutureWatcher<QList<float>>;

    void processNextParseTask();
    // Takes queued cues off the front until one needs parsing.
    Cue* takeNextParsable();
    void startParse(Cue* cue);
    void onParseFinished(Watcher* watcher, QPointer<Cue> cue, std::shared_ptr<WaveformParseJob> job);
    void abandonRunningParse();
    void letWindDown(Watcher* watcher);
    bool fileUsable(Cue* cue) const;
    // Peaks read from the database become the cue's and the cache's.
    void adoptStoredPeaks(Cue* cue, const QList<float>& peaks);
    bool loadStoredPeaks(Cue* cue);

    ParseFunction m_parse;
    Watcher* m_watcher = nullptr;
    std::shared_ptr<WaveformParseJob> m_job;
    Cue* m_runningCue = nullptr;
    QHash<Cue*, QList<float>> m_cache;
    QSet<Cue*> m_pending;         // queued or being parsed
    QList<QPointer<Cue>> m_queue;  // front first
    bool m_parsing = false;
    QList<Watcher*> m_windingDown;
};
