#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class AudioEngine;
class Cue;
class CueManager;
class LoudnessScan;

// The loudness normalisation of the main window: which gain in dB the
// playing cue gets (target minus its measured loudness), the cache of gains
// worked out, the provisional gain while a cue is measured, its own
// measurement on the pool, and the scan of the shown table. Stored loudness
// is reset at every start (files may have changed), so with normalisation on
// the shown table is measured as soon as it is shown, the playing or
// selected cue first. GUI thread only.
class LoudnessNormalizer : public QObject {
    Q_OBJECT

public:
    // What the window tells it: the switch, the target, the shown table and
    // the selected cue.
    struct Sources {
        std::function<bool()> enabled;
        std::function<int()> target;
        std::function<QList<Cue*>()> shownCues;
        std::function<Cue*()> selectedCue;
    };

    LoudnessNormalizer(AudioEngine* transport, CueManager* registry, Sources sources, QObject* parent = nullptr);

    // Sets the engine's loudness gain for the cue about to play or playing.
    void applyGain(Cue* cue);
    // Measures the shown table's cues without a gain in the background.
    void startScan();
    // A newly shown table is measured at once, before the rest of the table
    // shown before it; what is being measured already is not measured again.
    void scanShownTable();
    // Stops the running scan (what it has started is still reported) and
    // forgets every worked-out gain.
    void stopScan();
    // Adds the gains of the table's measured cues.
    void prefillGains();
    // Works the table's (and the cached) gains out again for a new target.
    void recomputeGains(int target);
    // A cue the operator selected is measured before the rest of the scan.
    void onCueSelected(Cue* cue);

private:
    void measureCue(Cue* cue);
    void launchScan(const QList<Cue*>& shown);
    void retireScan();
    // Whether a running scan measures the cue (or is about to).
    bool isScanning(int cueId) const;
    void onMeasured(int scanId, int cueId, const QString& filePath, double lufs);

    AudioEngine* m_transport;
    CueManager* m_registry;
    Sources m_sources;
    QMap<int, double> m_gainCache;
    // The running scan of the table's cues, null when none.
    LoudnessScan* m_scan = nullptr;
    // Stopped scans whose started measurements are still to report.
    QList<LoudnessScan*> m_retiring;
    int m_pendingCueId = -1;
    int m_scanCount = 0;
    // Cues with a measurement of their own on the pool.
    QSet<int> m_measuringIds;
};
