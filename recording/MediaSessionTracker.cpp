#include "recording/MediaSessionTracker.h"

MediaSessionTracker::Event MediaSessionTracker::onStatus(std::optional<MediaPlaybackStatus> status)
{
    if (!status) {
        justStartedPlaying = false;
        return Event::None;
    }
    if (!previousStatus) {
        previousStatus = status;
        if (*status == MediaPlaybackStatus::Playing) {
            justStartedPlaying = !seenPlaying;
            seenPlaying = true;
        } else {
            justStartedPlaying = false;
        }
        return Event::None;
    }
    if (*status == MediaPlaybackStatus::Playing) {
        justStartedPlaying = !seenPlaying;
        seenPlaying = true;
        previousStatus = status;
        return Event::None;
    }
    const bool ended = *status == MediaPlaybackStatus::Closed || *status == MediaPlaybackStatus::Stopped
                       || *status == MediaPlaybackStatus::Paused;
    const bool stop = seenPlaying && *previousStatus == MediaPlaybackStatus::Playing && ended;
    justStartedPlaying = false;
    previousStatus = status;
    return stop ? Event::Stop : Event::None;
}

MediaSessionTracker::Event MediaSessionTracker::onTitle(const QString& title)
{
    const bool changed = !justStartedPlaying && seenPlaying && !lastTitle.isEmpty() && title != lastTitle;
    lastTitle = title;
    return changed ? Event::TrackChange : Event::None;
}
