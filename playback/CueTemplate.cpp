#include "playback/CueTemplate.h"

#include "model/Cue.h"
#include "settings/SettingsKeys.h"

#include <QSettings>

#include <cmath>

namespace {

// Seconds from the settings store to whole milliseconds. The small bias keeps
// values such as 4.35 s (4349.999... ms in binary) from losing a millisecond.
qint64 secondsToMs(double seconds)
{
    return qint64(std::trunc(seconds * 1000.0 + 1e-6));
}

}  // namespace

CueTemplate CueTemplate::fromSettings()
{
    QSettings settings;
    using namespace SettingsKeys;
    CueTemplate t;
    t.m_fadeEnabled = settings.value(kTemplateFadeEnabled, kTemplateFadeEnabledDefault).toBool();
    t.m_fadeInMs = secondsToMs(settings.value(kTemplateFadeInSec, kTemplateFadeInSecDefault).toDouble());
    t.m_fadeOutMs = secondsToMs(settings.value(kTemplateFadeOutSec, kTemplateFadeOutSecDefault).toDouble());
    t.m_loopCount = settings.value(kTemplateLoopCount, kTemplateLoopCountDefault).toInt();
    t.m_preWaitMs = int(secondsToMs(settings.value(kTemplatePreWaitSec, kTemplatePreWaitSecDefault).toDouble()));
    t.m_panEnabled = settings.value(kTemplatePanEnvelopeEnabled, kTemplatePanEnvelopeEnabledDefault).toBool();
    t.m_envelopeEnabled = settings.value(kTemplateEnvelopeEnabled, kTemplateEnvelopeEnabledDefault).toBool();
    t.m_volumeA = settings.value(kTemplateVolumeA, kTemplateVolumeADefault).toInt();
    t.m_volumeB = settings.value(kTemplateVolumeB, kTemplateVolumeBDefault).toInt();
    t.m_forceVolumeA = settings.value(kTemplateForceVolumeA, kTemplateForceVolumeADefault).toBool();
    return t;
}

void CueTemplate::applyTo(Cue* cue) const
{
    cue->setFadeEnabled(m_fadeEnabled);
    cue->setFadeDurations(m_fadeInMs, m_fadeOutMs);
    cue->setLoopCount(m_loopCount);
    cue->setPreWait(m_preWaitMs);
    cue->setPanEnvelopeEnabled(m_panEnabled);
    cue->setEnvelopeEnabled(m_envelopeEnabled);
    cue->setVolumeA(m_volumeA);
    cue->setVolumeB(m_volumeB);
    if (m_forceVolumeA)
        cue->setVolumeChoose(0);
}
