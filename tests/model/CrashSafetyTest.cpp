#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <memory>

// A process killed in the middle of a batch of saves must leave every cue
// either as it was or as it was saved, never a mix, every playlist order
// whole, and every save it finished in the file. The test runs the saves in a
// child process (this program started with --child), which reports each save
// it has finished, and kills it with SIGKILL after a random number of them:
// the test needs no particular speed of the machine.
namespace {

constexpr int kCues = 40;
constexpr int kPoints = 20;

// Writes generation g into every field that has its own storage: the row, the
// volume and pan points and the waveform.
void applyGeneration(Cue* cue, int g)
{
    cue->setRemark(QStringLiteral("gen %1").arg(g));
    cue->setColor("#4a5a6a");
    cue->setVolumeA(g % 101);
    cue->setPreWait(g);
    QList<qint64> times;
    QList<double> gains;
    QList<double> positions;
    for (int i = 0; i < kPoints; ++i) {
        times << qint64(i) * 1000 + g % 1000;
        gains << double(g % 97) / 96.0;
        positions << double(g % 21) / 10.0 - 1.0;
    }
    cue->setVolumeEnvelope(times, gains);
    cue->setPanEnvelope(times, positions);
    cue->setWaveform(QList<float>(2000, float(g % 50 + 1) / 100.0f));
}

int runChild(const QString& dbPath)
{
    DatabaseManager* db = DatabaseManager::instance();
    if (!db->initialize(dbPath))
        return 2;
    QList<Cue*> cues;
    if (!db->loadAllCues(cues) || cues.size() != kCues)
        return 3;
    QSqlQuery playlist = db->execute("SELECT id FROM playlist_groups");
    const int playlistId = playlist.next() ? playlist.value(0).toInt() : -1;
    QList<int> order;
    for (Cue* cue : cues)
        order << cue->id();

    // Generations go on from the newest one stored by earlier children.
    int newest = 0;
    for (Cue* cue : cues)
        newest = std::max(newest, cue->remark().mid(4).toInt());

    QRandomGenerator rng(quint32(QCoreApplication::applicationPid()));
    for (int g = newest + 1, saves = 1;; ++g, ++saves) {
        Cue* cue = cues[rng.bounded(cues.size())];
        applyGeneration(cue, g);
        if (!cue->saveToDatabase(false))
            return 4;
        std::shuffle(order.begin(), order.end(), rng);
        if (!db->updatePlaylistSongOrder(playlistId, order))
            return 5;
        std::printf("saved %d %d\n", saves, g);
        std::fflush(stdout);
    }
}

// Reads the child's reports ("saved <saves> <generation>") until it has
// finished `saves` saves; returns the last report.
struct Progress {
    int saves = 0;
    int generation = 0;
};

Progress waitForSaves(QProcess& child, int saves)
{
    Progress progress;
    while (progress.saves < saves) {
        // A guard against a child that hangs, not a speed requirement.
        if (!child.canReadLine() && !child.waitForReadyRead(60000))
            break;
        while (child.canReadLine()) {
            const QList<QByteArray> words = child.readLine().trimmed().split(' ');
            if (words.size() == 3 && words[0] == "saved") {
                progress.saves = words[1].toInt();
                progress.generation = words[2].toInt();
            }
        }
    }
    return progress;
}

}  // namespace

class CrashSafetyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedSavesLeaveWholeCues();
};

void CrashSafetyTest::killedSavesLeaveWholeCues()
{
    QTemporaryDir dir;
    const QString dbPath = dir.filePath("crash.db");
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(dbPath));
    PlaylistGroup playlist;
    playlist.name = "show";
    QVERIFY(db->insertPlaylistGroup(playlist, 0));
    {
        std::vector<std::unique_ptr<Cue>> cues;
        for (int i = 0; i < kCues; ++i) {
            cues.push_back(std::make_unique<Cue>(-1, "cue", "/nowhere/cue.wav"));
            cues.back()->setDuration(60000);
            applyGeneration(cues.back().get(), 0);
            QVERIFY(cues.back()->saveToDatabase(false));
            QVERIFY(cues.back()->addToPlaylist(playlist.id, -1));
        }
    }
    db->close();

    QRandomGenerator rng(20261210);
    for (int round = 0; round < 6; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--child", dbPath});
        QVERIFY(child.waitForStarted());
        // Up to some 2000 pages of log: the later kills can land while the
        // log is being checkpointed too.
        const int killAfter = 20 + int(rng.bounded(150));
        const Progress reported = waitForSaves(child, killAfter);
        QVERIFY2(reported.saves >= killAfter, qPrintable(QStringLiteral("the child stopped after %1 saves, exit code %2")
                                                             .arg(reported.saves)
                                                             .arg(child.exitCode())));
        QCOMPARE(child.state(), QProcess::Running);  // still saving: it did not fail on its own
        QThread::usleep(rng.bounded(3000));  // somewhere inside one of the next saves
        child.kill();  // SIGKILL
        QVERIFY(child.waitForFinished());

        QVERIFY(db->initialize(dbPath));
        QSqlQuery integrity = db->execute("PRAGMA integrity_check");
        QVERIFY(integrity.next());
        QCOMPARE(integrity.value(0).toString(), QString("ok"));

        QList<Cue*> loaded;
        QVERIFY(db->loadAllCues(loaded));
        QCOMPARE(loaded.size(), kCues);
        int newestSave = 0;
        for (Cue* cue : loaded) {
            const int g = cue->remark().mid(4).toInt();
            newestSave = std::max(newestSave, g);
            Cue expected;
            expected.setDuration(60000);
            applyGeneration(&expected, g);
            QCOMPARE(cue->volumeA(), expected.volumeA());
            QCOMPARE(cue->preWaitMs(), g);
            QCOMPARE(cue->envelopeTimes(), expected.envelopeTimes());
            QCOMPARE(cue->envelopeGains(), expected.envelopeGains());
            QCOMPARE(cue->panEnvelopeTimes(), expected.panEnvelopeTimes());
            QCOMPARE(cue->panEnvelopePositions(), expected.panEnvelopePositions());
            QList<float> peaks;
            int points = 0;
            QVERIFY(db->loadWaveformDataCompressed(cue->id(), peaks, &points));
            QCOMPARE(peaks.size(), 2000);
            QVERIFY(std::fabs(peaks.first() - expected.waveform().first()) < 1e-4f);
        }
        qDeleteAll(loaded);
        // Every save the child reported finished is in the file.
        QVERIFY2(newestSave >= reported.generation, qPrintable(QStringLiteral("newest save %1, reported %2")
                                                                   .arg(newestSave)
                                                                   .arg(reported.generation)));

        // The order is a whole rewrite or the previous one: every cue once, 0..n-1.
        QSqlQuery order = db->execute("SELECT COUNT(*), COUNT(DISTINCT song_id), MIN(song_order), MAX(song_order) "
                                      "FROM playlist_songs WHERE playlist_id = ?",
                                      {playlist.id});
        QVERIFY(order.next());
        QCOMPARE(order.value(0).toInt(), kCues);
        QCOMPARE(order.value(1).toInt(), kCues);
        QCOMPARE(order.value(2).toInt(), 0);
        QCOMPARE(order.value(3).toInt(), kCues - 1);
        db->close();
    }
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLocal8Bit(argv[2]));
    CrashSafetyTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CrashSafetyTest.moc"
