#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include "model/Cue.h"
#include "playback/CueManager.h"

// Keeps the engine's decode-ahead and cache order on what plays next: the
// selected cue and the next cues of the play order are decoded ahead (two at
// most beyond the playing one), and the cache ranks every other cue by how
// far it is from being played. Showing a playlist therefore decodes only the
// cue Play would start and the one after it, not the whole table.
// GUI thread only.
//
// Only the next kPlannedCues are ranked: a cue further from being played than
// that counts as not in the play order, the first the cache lets go. Ranking
// all of a playlist of 100 000 cues held the window for some 30 ms at every
// cue change.
class PlayOrderPreload : public QObject {
    Q_OBJECT

public:
    static constexpr int kPlannedCues = 1000;

    PlayOrderPreload(CueManager* registry, QObject* parent = nullptr);

    // The cues of the shown table, in table order.
    void setShownCues(const QList<Cue*>& cues);
    void setSelectedCue(Cue* cue);

    // The cues in the order they are expected to play, soonest first, and
    // how many of them to decode ahead. current: the cue loaded in the
    // engine (null when none); order/currentIndex: the registry's play order
    // when a cue of it is current; shown: the table. At most kPlannedCues.
    struct Plan {
        QList<Cue*> order;
        int decodeAhead = 0;
    };
    static Plan plan(CueManager::PlayMode mode, Cue* current, const QList<Cue*>& order, int currentIndex,
                     const QList<Cue*>& shown, Cue* selected);

public Q_SLOTS:
    void refresh();

private:
    CueManager* m_registry;
    QList<QPointer<Cue>> m_shown;
    QPointer<Cue> m_selected;
};
