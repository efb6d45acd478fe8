#pragma once

#include <QtGlobal>

class Cue;

// The new-cue template of the settings (fades, play count, pre-wait,
// envelopes, volumes): what every new cue starts with. Read once for a batch
// of new cues rather than from the settings store per cue.
class CueTemplate {
public:
    static CueTemplate fromSettings();
    void applyTo(Cue* cue) const;

private:
    bool m_fadeEnabled = false;
    qint64 m_fadeInMs = 0;
    qint64 m_fadeOutMs = 0;
    int m_loopCount = 1;
    int m_preWaitMs = 0;
    bool m_panEnabled = false;
    bool m_envelopeEnabled = false;
    int m_volumeA = 100;
    int m_volumeB = 100;
    bool m_forceVolumeA = false;
};
