#include "lists/PlayOrderPreload.h"

#include "playback/AudioEngine.h"
#include "playback/PlaybackEngine.h"

#include <algorithm>

namespace {

bool isRandom(CueManager::PlayMode mode)
{
    return mode == CueManager::Random || mode == CueManager::CustomRandom;
}

// list from index start on, wrapping round to the entries before it; at most
// limit of them.
QList<Cue*> wrappedFrom(const QList<Cue*>& list, int start, int limit)
{
    QList<Cue*> out;
    const int n = std::min(int(list.size()), limit);
    out.reserve(n);
    for (int k = 0; k < n; ++k)
        out.append(list.at((start + k) % int(list.size())));
    return out;
}

}  // namespace

PlayOrderPreload::PlayOrderPreload(CueManager* registry, QObject* parent)
    : QObject(parent)
    , m_registry(registry)
{
    if (!m_registry)
        return;
    connect(m_registry, &CueManager::currentCueChanged, this, &PlayOrderPreload::refresh);
    connect(m_registry, &CueManager::playModeChanged, this, &PlayOrderPreload::refresh);
}

void PlayOrderPreload::setShownCues(const QList<Cue*>& cues)
{
    m_shown.clear();
    for (Cue* cue : cues)
        m_shown.append(cue);
    refresh();
}

void PlayOrderPreload::setSelectedCue(Cue* cue)
{
    if (m_selected == cue)
        return;
    m_selected = cue;
    refresh();
}

PlayOrderPreload::Plan PlayOrderPreload::plan(CueManager::PlayMode mode, Cue* current, const QList<Cue*>& order,
                                              int currentIndex, const QList<Cue*>& shown, Cue* selected)
{
    Plan result;
    const bool random = isRandom(mode);
    const bool inOrder = current && currentIndex >= 0 && currentIndex < order.size()
                         && order.at(currentIndex) == current;
    if (inOrder) {
        // What the play order starts after the current cue; in the random
        // modes nobody knows yet, so only the operator's selection is
        // decoded ahead.
        // One more than planned: the wrap may end on the current cue.
        result.order = wrappedFrom(order, currentIndex + 1, kPlannedCues + 1);
        result.order.removeAll(current);
        result.decodeAhead = random ? 0 : PlaybackEngine::kDecodeAhead;
    } else {
        // Nothing of the shown table plays: Play starts the selected row, or
        // the first one, and the rows after it follow.
        int start = selected ? int(shown.indexOf(selected)) : 0;
        if (start < 0)
            start = 0;
        result.order = shown.isEmpty() ? QList<Cue*>{} : wrappedFrom(shown, start, kPlannedCues + 1);
        if (current)
            result.order.removeAll(current);
        result.decodeAhead = random ? 1 : PlaybackEngine::kDecodeAhead;
    }
    // The operator's next press comes first.
    if (selected && selected != current) {
        result.order.removeAll(selected);
        result.order.prepend(selected);
        result.decodeAhead = std::max(result.decodeAhead, 1);
    }
    if (result.order.size() > kPlannedCues)
        result.order.resize(kPlannedCues);
    return result;
}

void PlayOrderPreload::refresh()
{
    if (!m_registry)
        return;
    AudioEngine* engine = m_registry->audioEngine();
    if (!engine)
        return;
    QList<Cue*> shown;
    shown.reserve(m_shown.size());
    for (const QPointer<Cue>& cue : std::as_const(m_shown))
        if (cue)
            shown.append(cue.data());
    Cue* current = m_registry->getCurrentCue();
    const Plan next = plan(m_registry->playMode(), current, m_registry->getPlaylist(), m_registry->getCurrentIndex(),
                           shown, m_selected.data());
    engine->preloadCues(next.order, next.decodeAhead);
}
