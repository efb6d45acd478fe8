#pragma once

#include <QList>
#include <QPointer>

class Cue;

// Show mode plays every cue on volume A. The cues switched for it keep their
// own choice held, so every save, copy and export in the meantime stores the
// operator's choice, never the forced one: quitting or crashing in show mode
// loses nothing. Leaving show mode gives each cue its own choice back.
class ShowModeForcedVolumes {
public:
    // Switches each cue that is on volume B to A. Does nothing and returns
    // false while cues are already forced, so the choices held since show
    // mode began are never taken over by the forced ones.
    bool force(const QList<Cue*>& cues);
    // Holds the own choice of a cue the show is about to switch (the A/B
    // switch during a show), so that it is stored unchanged and given back
    // on leaving, like a forced cue's.
    void hold(Cue* cue);
    // Gives every forced cue that still exists its own choice back; returns
    // how many were given back.
    int restore();

    bool isActive() const { return m_active; }
    bool isForced(const Cue* cue) const;
    int forcedCount() const { return int(m_forced.size()); }

private:
    QList<QPointer<Cue>> m_forced;
    bool m_active = false;
};
