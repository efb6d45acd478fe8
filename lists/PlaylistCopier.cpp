#include "lists/PlaylistCopier.h"

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/CueManager.h"

#include <QDebug>

PlaylistCopier::PlaylistCopier(CueManager* registry)
    : m_registry(registry)
{
}

int PlaylistCopier::copyPlaylist(const PlaylistGroup& source)
{
    DatabaseManager* db = DatabaseManager::instance();
    PlaylistGroup copy;
    copy.name = source.name + QStringLiteral(" 副本");
    copy.playMode = 0;  // a copy starts as SingleLoop, whatever the source plays
    copy.currentIndex = 0;
    int sortOrder = 0;
    if (!db->getNextGroupSortOrder(sortOrder))
        sortOrder = 0;
    if (!db->insertPlaylistGroup(copy, sortOrder) || copy.id < 1) {
        qWarning() << "PlaylistCopier::copyPlaylist - Failed to insert playlist copy of" << source.id;
        return -1;
    }
    const QList<int> cueIds = m_registry->getPlaylistCueIds(source.id);
    for (int cueId : cueIds) {
        // Cues imported in this session are stored but not yet in memory.
        Cue* original = m_registry->getOrLoadCue(cueId);
        if (!original)
            continue;
        Cue* cue = copyCue(*original);
        if (!cue)
            continue;
        if (!m_registry->addCueToPlaylist(cue, copy.id, -1))
            qWarning() << "PlaylistCopier::copyPlaylist - Failed to add cue" << cue->id() << "to" << copy.id;
    }
    return copy.id;
}

Cue* PlaylistCopier::copyCue(const Cue& source)
{
    Cue* cue = m_registry->createCue(source.filePath());
    if (!cue)
        return nullptr;
    m_created.append(cue);
    cue->setName(source.name());
    cue->setDuration(source.durationMs());
    cue->setAlias(source.alias());
    cue->setRemark(source.remark());
    cue->setVolumeA(source.volumeA());
    cue->setVolumeB(source.volumeB());
    cue->setVolumeChoose(source.storedVolumeChoose());
    cue->setPreWait(source.preWaitMs());
    cue->setLoopCount(source.loopCount());
    // Taken as the source holds it: unchecked and not saved on its own.
    cue->setLoading(true);
    cue->setLoopRange(source.loopStartMs(), source.loopEndMs());
    cue->setLoading(false);
    cue->setFadeEnabled(source.fadeEnabled());
    cue->setFadeDurations(source.fadeInMs(), source.fadeOutMs());
    cue->assignStoredEnvelopes(source.envelopeTimes(), source.envelopeGains());
    cue->setEnvelopeEnabled(source.envelopeEnabled());
    cue->setColor(source.color());
    cue->assignStoredPanEnvelope(source.panEnvelopeTimes(), source.panEnvelopePositions());
    cue->setPanEnvelopeEnabled(source.panEnvelopeEnabled());
    QList<float> peaks = source.waveform();
    // Cues of a playlist not shown yet hold no peaks; their stored ones are
    // copied instead of parsing the file again.
    int targetPoints = 0;
    if (peaks.isEmpty() && source.id() > 0)
        DatabaseManager::instance()->loadWaveformDataCompressed(source.id(), peaks, &targetPoints);
    if (!peaks.isEmpty())
        cue->setWaveform(peaks);
    if (!cue->saveToDatabase(true)) {
        qWarning() << "PlaylistCopier::copyCue - Failed to save copy of cue" << source.id();
        return nullptr;  // stays in the registry like any cue without a playlist
    }
    return cue;
}
