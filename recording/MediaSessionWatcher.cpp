#include "recording/MediaSessionWatcher.h"

#include "platform/MprisSessionPoller.h"

#include <QTimer>

MediaSessionWatcher::MediaSessionWatcher(quint32 pid, const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , poller(new MprisSessionPoller(bus, pid, this))
    , waitTimer(new QTimer(this))
{
    waitTimer->setSingleShot(true);
    connect(waitTimer, &QTimer::timeout, this, &MediaSessionWatcher::poll);
    connect(poller, &MprisSessionPoller::readingFinished, this, &MediaSessionWatcher::onReading);
}

MediaSessionWatcher::~MediaSessionWatcher() = default;

bool MediaSessionWatcher::start()
{
    if (!poller->isAvailable())
        return false;
    running = true;
    poll();
    return true;
}

void MediaSessionWatcher::stop()
{
    running = false;
    waitTimer->stop();
}

void MediaSessionWatcher::poll()
{
    if (running && !poller->read())
        waitTimer->start(pollIntervalMs);
}

void MediaSessionWatcher::onReading(const MediaSessionReading& reading)
{
    if (!running)
        return;
    ++polls;
    if (reading.hasSession) {
        const auto status = reading.statusRead ? std::optional<MediaPlaybackStatus>(reading.status) : std::nullopt;
        if (tracker.onStatus(status) == MediaSessionTracker::Event::Stop)
            emit stopRequested(false);
        ++countedPolls;
        if (countedPolls % kTitleEveryPolls == 0 && reading.titleRead
            && tracker.onTitle(reading.title) == MediaSessionTracker::Event::TrackChange)
            emit stopRequested(true);
    }
    if (running)
        waitTimer->start(pollIntervalMs);
}
