#pragma once

#include "platform/MprisSessionPoller.h"

#include <QString>

#include <optional>

// Decides from successive looks at the media session when a recorded track
// has ended: playback leaving Playing (to Paused, Stopped or Closed) after it
// was seen playing, or the title changing while it plays. A title read at
// the poll where playback first started counts as the first title, not as a
// change. Opened, Changing and a change between two non-playing states end
// nothing.
class MediaSessionTracker {
public:
    enum class Event { None, Stop, TrackChange };

    // One poll's status; nullopt when it could not be read.
    Event onStatus(std::optional<MediaPlaybackStatus> status);
    // The title read at a title poll.
    Event onTitle(const QString& title);

private:
    std::optional<MediaPlaybackStatus> previousStatus;
    bool seenPlaying = false;
    bool justStartedPlaying = false;
    QString lastTitle;
};
