#include "app/ShowModeForcedVolumes.h"

#include "model/Cue.h"

#include <QDebug>

bool ShowModeForcedVolumes::force(const QList<Cue*>& cues)
{
    if (m_active)
        return false;
    m_active = true;
    m_forced.clear();
    for (Cue* cue : cues) {
        if (!cue || cue->volumeChoose() == 0)
            continue;
        cue->holdVolumeChoose(cue->volumeChoose());
        cue->setVolumeChoose(0);
        m_forced.append(cue);
    }
    return true;
}

void ShowModeForcedVolumes::hold(Cue* cue)
{
    m_active = true;
    if (!cue || isForced(cue))
        return;
    cue->holdVolumeChoose(cue->volumeChoose());
    m_forced.append(cue);
}

int ShowModeForcedVolumes::restore()
{
    int restored = 0;
    for (const QPointer<Cue>& cue : std::as_const(m_forced)) {
        if (!cue)
            continue;  // deleted during the show
        if (!cue->hasHeldVolumeChoose()) {
            qWarning() << "[Exit ShowMode] Original volumeChoose not found for Cue" << cue->id();
            continue;
        }
        const int own = cue->storedVolumeChoose();
        cue->releaseVolumeChoose();
        cue->setVolumeChoose(own);
        ++restored;
    }
    m_forced.clear();
    m_active = false;
    return restored;
}

bool ShowModeForcedVolumes::isForced(const Cue* cue) const
{
    for (const QPointer<Cue>& forced : m_forced) {
        if (forced.data() == cue)
            return true;
    }
    return false;
}
