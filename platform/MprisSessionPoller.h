#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// Playback state of a media session, numbered as the system media controls
// number them. MPRIS players report Playing, Paused and Stopped; a player that
// leaves the bus counts as Closed. Opened and Changing never occur here.
enum class MediaPlaybackStatus { Closed = 0, Opened = 1, Changing = 2, Stopped = 3, Playing = 4, Paused = 5 };

// One look at the current media session.
struct MediaSessionReading {
    bool hasSession = false;   // a player was there to read
    bool statusRead = false;
    MediaPlaybackStatus status = MediaPlaybackStatus::Closed;
    bool titleRead = false;    // the metadata was read (an absent title reads as empty)
    QString title;
    QString player;            // bus name of the player that was read
};

// Reads the current media session from the MPRIS players on a D-Bus session
// bus ("org.mpris.MediaPlayer2.*": PlaybackStatus and the "xesam:title" of
// its Metadata). Every call is asynchronous and answered on the thread of
// this object, so nothing here blocks it and no thread of its own exists.
//
// The current player is, in this order: one of the preferred process or of
// one of its parent processes (a browser's audio comes from a child of the
// process that owns its player); the player followed so far, once it has
// played (so that its pause is seen) or while it plays; the first playing
// player; the one followed so far; the first player by name. When the
// followed player leaves the bus, the next reading reports it Closed once.
class MprisSessionPoller : public QObject {
    Q_OBJECT

public:
    static constexpr int kCallTimeoutMs = 1000;

    MprisSessionPoller(const QDBusConnection& bus, quint32 preferredPid, QObject* parent = nullptr);
    ~MprisSessionPoller() override;

    // False without a connected bus: nothing can be read then.
    bool isAvailable() const;
    // Starts one reading, answered by readingFinished. False while a reading
    // is under way or without a bus.
    bool read();

    // The process and its parents, nearest first (from /proc).
    static QList<quint32> processAncestry(quint32 pid);

signals:
    void readingFinished(const MediaSessionReading& reading);

private:
    struct Player {
        QString name;
        quint32 pid = 0;
        bool statusRead = false;
        MediaPlaybackStatus status = MediaPlaybackStatus::Closed;
        bool metadataRead = false;
        QString title;
    };

    void onNames(QDBusPendingCallWatcher* call);
    void askPlayer(int index);
    void playerAnswered();
    int choosePlayer() const;
    void finish(const MediaSessionReading& reading);
    QDBusPendingCallWatcher* call(const QString& service, const QString& path, const QString& interface,
                                  const QString& method, const QVariantList& arguments);

    QDBusConnection bus;
    QList<quint32> preferredPids;
    QString followed;
    bool followedHasPlayed = false;
    bool reading = false;
    quint64 round = 0;
    QList<Player> players;
    int answersPending = 0;
};

Q_DECLARE_METATYPE(MediaSessionReading)
