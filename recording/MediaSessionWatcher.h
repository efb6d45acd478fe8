#pragma once

#include "recording/MediaSessionTracker.h"

#include <QDBusConnection>
#include <QObject>

class MprisSessionPoller;
class QTimer;

// Follows the current media session while a recording runs in media-session
// mode and asks for the stop when its track ends or changes. It polls about
// every 300 ms (the title on every fifth poll) with asynchronous D-Bus calls
// on the thread it lives on, so it needs no thread of its own and can be
// deleted at any moment. Without a session bus nothing is watched.
class MediaSessionWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollIntervalMs = 300;
    static constexpr int kTitleEveryPolls = 5;

    // pid: the recorded application, whose player is preferred (0: none).
    explicit MediaSessionWatcher(quint32 pid, const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                 QObject* parent = nullptr);
    ~MediaSessionWatcher() override;

    // False when there is no session bus to watch.
    bool start();
    void stop();
    bool isRunning() const { return running; }

    void setPollInterval(int ms) { pollIntervalMs = ms; }
    // Polls finished since the start.
    int pollCount() const { return polls; }

signals:
    // The track ended (trackChanged false) or another track began (true).
    void stopRequested(bool trackChanged);

private:
    void poll();
    void onReading(const MediaSessionReading& reading);

    MprisSessionPoller* poller = nullptr;
    QTimer* waitTimer = nullptr;
    MediaSessionTracker tracker;
    bool running = false;
    int pollIntervalMs = kPollIntervalMs;
    int countedPolls = 0;
    int polls = 0;
};
