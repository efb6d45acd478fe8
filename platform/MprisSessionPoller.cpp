#include "platform/MprisSessionPoller.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>

#include <algorithm>

namespace {

const QString kPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");

bool statusFromText(const QString& text, MediaPlaybackStatus* status)
{
    if (text == QLatin1String("Playing"))
        *status = MediaPlaybackStatus::Playing;
    else if (text == QLatin1String("Paused"))
        *status = MediaPlaybackStatus::Paused;
    else if (text == QLatin1String("Stopped"))
        *status = MediaPlaybackStatus::Stopped;
    else
        return false;
    return true;
}

// A D-Bus value as Qt hands it over: nested maps arrive still marshalled.
QVariantMap toMap(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

}  // namespace

MprisSessionPoller::MprisSessionPoller(const QDBusConnection& connection, quint32 preferredPid, QObject* parent)
    : QObject(parent)
    , bus(connection)
    , preferredPids(processAncestry(preferredPid))
{
    qRegisterMetaType<MediaSessionReading>();
}

MprisSessionPoller::~MprisSessionPoller() = default;

bool MprisSessionPoller::isAvailable() const
{
    return bus.isConnected();
}

QList<quint32> MprisSessionPoller::processAncestry(quint32 pid)
{
    QList<quint32> chain;
    while (pid > 1 && chain.size() < 32 && !chain.contains(pid)) {
        chain.append(pid);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            break;
        // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 1).simplified().split(' ');
        if (close < 0 || fields.size() < 2)
            break;
        pid = fields.at(1).toUInt();
    }
    return chain;
}

QDBusPendingCallWatcher* MprisSessionPoller::call(const QString& service, const QString& path,
                                                  const QString& interface, const QString& method,
                                                  const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return new QDBusPendingCallWatcher(bus.asyncCall(message, kCallTimeoutMs), this);
}

bool MprisSessionPoller::read()
{
    if (reading || !isAvailable())
        return false;
    reading = true;
    ++round;
    players.clear();
    answersPending = 0;
    QDBusPendingCallWatcher* names =
        call(kBusService, QStringLiteral("/org/freedesktop/DBus"), kBusService, QStringLiteral("ListNames"), {});
    const quint64 thisRound = round;
    connect(names, &QDBusPendingCallWatcher::finished, this, [this, thisRound](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (thisRound == round)
            onNames(w);
    });
    return true;
}

void MprisSessionPoller::onNames(QDBusPendingCallWatcher* w)
{
    const QDBusMessage reply = w->reply();
    QStringList names;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        names = reply.arguments().constFirst().toStringList();
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return !n.startsWith(kPlayerPrefix); }),
                names.end());
    std::sort(names.begin(), names.end());

    if (!followed.isEmpty() && !names.contains(followed)) {
        // The player followed so far has gone: its session closed.
        MediaSessionReading closed;
        closed.hasSession = true;
        closed.statusRead = true;
        closed.status = MediaPlaybackStatus::Closed;
        closed.player = followed;
        followed.clear();
        followedHasPlayed = false;
        finish(closed);
        return;
    }
    if (names.isEmpty()) {
        finish(MediaSessionReading());
        return;
    }
    for (const QString& name : names) {
        Player player;
        player.name = name;
        players.append(player);
    }
    answersPending = 2 * int(players.size());
    for (int i = 0; i < players.size(); ++i)
        askPlayer(i);
}

void MprisSessionPoller::askPlayer(int index)
{
    const quint64 thisRound = round;
    const QString name = players.at(index).name;
    QDBusPendingCallWatcher* pid = call(kBusService, QStringLiteral("/org/freedesktop/DBus"), kBusService,
                                        QStringLiteral("GetConnectionUnixProcessID"), {name});
    connect(pid, &QDBusPendingCallWatcher::finished, this, [this, thisRound, index](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (thisRound != round)
            return;
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            players[index].pid = reply.arguments().constFirst().toUInt();
        playerAnswered();
    });

    QDBusPendingCallWatcher* properties =
        call(name, kPlayerPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
             {kPlayerInterface});
    connect(properties, &QDBusPendingCallWatcher::finished, this,
            [this, thisRound, index](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (thisRound != round)
                    return;
                const QDBusMessage reply = w->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    const QVariantMap values = toMap(reply.arguments().constFirst());
                    Player& player = players[index];
                    player.statusRead =
                        statusFromText(values.value(QStringLiteral("PlaybackStatus")).toString(), &player.status);
                    const auto metadata = values.constFind(QStringLiteral("Metadata"));
                    if (metadata != values.cend()) {
                        player.metadataRead = true;
                        player.title = toMap(*metadata).value(QStringLiteral("xesam:title")).toString();
                    }
                }
                playerAnswered();
            });
}

void MprisSessionPoller::playerAnswered()
{
    if (--answersPending > 0)
        return;
    const int chosen = choosePlayer();
    const Player& player = players.at(chosen);
    if (player.name != followed)
        followedHasPlayed = false;
    followed = player.name;
    if (player.statusRead && player.status == MediaPlaybackStatus::Playing)
        followedHasPlayed = true;
    MediaSessionReading result;
    result.hasSession = true;
    result.player = player.name;
    result.statusRead = player.statusRead;
    result.status = player.status;
    result.titleRead = player.metadataRead;
    result.title = player.title;
    finish(result);
}

int MprisSessionPoller::choosePlayer() const
{
    for (quint32 pid : preferredPids) {
        for (int i = 0; i < players.size(); ++i) {
            if (players.at(i).pid == pid)
                return i;
        }
    }
    auto playing = [this](int i) {
        return players.at(i).statusRead && players.at(i).status == MediaPlaybackStatus::Playing;
    };
    int followedIndex = -1;
    int firstPlaying = -1;
    for (int i = 0; i < players.size(); ++i) {
        if (players.at(i).name == followed)
            followedIndex = i;
        if (firstPlaying < 0 && playing(i))
            firstPlaying = i;
    }
    // A player that has played is kept, so that its pause is seen; an idle
    // one gives way to a player that plays.
    if (followedIndex >= 0 && (followedHasPlayed || playing(followedIndex)))
        return followedIndex;
    if (firstPlaying >= 0)
        return firstPlaying;
    return followedIndex >= 0 ? followedIndex : 0;
}

void MprisSessionPoller::finish(const MediaSessionReading& result)
{
    reading = false;
    players.clear();
    emit readingFinished(result);
}
