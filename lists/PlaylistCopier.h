#pragma once

#include "model/PlaylistGroup.h"

#include <QList>

class Cue;
class CueManager;

// Copies a playlist with its cues: a new playlist named after the source with
// " 副本" appended, holding new cues for the same files with every setting of
// the source cues. The caller holds the transaction around the copies.
class PlaylistCopier {
public:
    explicit PlaylistCopier(CueManager* registry);

    // The new playlist's id, or -1 when its record could not be stored.
    int copyPlaylist(const PlaylistGroup& source);
    // A stored, registered copy of source in no playlist; null on failure.
    Cue* copyCue(const Cue& source);

    // Every cue made so far, for the caller to drop again when its
    // transaction fails.
    QList<Cue*> createdCues() const { return m_created; }

private:
    CueManager* m_registry;
    QList<Cue*> m_created;
};
