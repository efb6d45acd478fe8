// Times the database work of a large show: 10 000 cues with 20 volume and 20
// pan points and a stored waveform each, in 50 playlists. The saves of edited
// cues are compared with SQLite's own checkpointing, measured in the same run.
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlQuery>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <numeric>
#include <memory>

namespace {

constexpr int kCues = 10000;
constexpr int kPlaylists = 50;
constexpr int kBigPlaylist = 500;
constexpr int kSaves = 1000;

double ms(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.warning=false");
    QTextStream out(stdout);
    QTemporaryDir dir;
    DatabaseManager* db = DatabaseManager::instance();
    if (!db->initialize(dir.filePath("bench.db")))
        return 1;

    QRandomGenerator rng(42);
    QList<float> peaks(2000);
    QList<int> playlistIds;
    for (int p = 0; p < kPlaylists; ++p) {
        PlaylistGroup group;
        group.name = QStringLiteral("Playlist %1").arg(p);
        db->insertPlaylistGroup(group, p);
        playlistIds << group.id;
    }

    QElapsedTimer timer;
    timer.start();
    db->beginTransaction();
    QList<int> cueIds;
    for (int i = 0; i < kCues; ++i) {
        Cue cue(-1, "cue", QStringLiteral("/show/audio/cue-%1.mp3").arg(i));
        cue.setDuration(180000 + i);
        cue.setColor("#4a5a6a");
        QList<qint64> times;
        QList<double> gains, pans;
        for (int k = 0; k < 20; ++k) {
            times << k * 9000;
            gains << rng.generateDouble();
            pans << rng.generateDouble() * 2 - 1;
        }
        cue.setVolumeEnvelope(times, gains);
        cue.setPanEnvelope(times, pans);
        for (float& v : peaks)
            v = float(rng.generateDouble());
        cue.setWaveform(peaks);
        cue.saveToDatabase(false);
        cueIds << cue.id();
        // The first playlist holds 500 cues, the others share the rest.
        const int playlist = i < kBigPlaylist ? 0 : 1 + (i - kBigPlaylist) % (kPlaylists - 1);
        db->insertPlaylistSong(playlistIds[playlist], cue.id(), i);
    }
    db->commitTransaction();
    const double fillMs = ms(timer);
    db->close();  // copies the log into the file
    out << "fill " << kCues << " cues: " << fillMs << " ms, file "
        << QFileInfo(dir.filePath("bench.db")).size() / (1024 * 1024) << " MB\n";

    // Load everything, as at start.
    db->initialize(dir.filePath("bench.db"));
    QList<Cue*> cues;
    timer.restart();
    db->loadAllCues(cues);
    out << "load all cues: " << ms(timer) << " ms (" << cues.size() << " cues)\n";

    // Save one edited cue, many times over: the operator's edits during a
    // show. What counts is the worst save, which holds the GUI thread. Each
    // save is followed by the same-run baseline: one plain SQLite commit of
    // the same row (its volume), through the same connection.
    auto report = [&out](const QString& name, QList<double> times, const char* target) {
        std::sort(times.begin(), times.end());
        const double mean = std::accumulate(times.cbegin(), times.cend(), 0.0) / times.size();
        const double p99 = times[qsizetype(times.size() * 0.99) - 1];
        out << name << " mean: " << mean << " ms\n";
        out << name << " p99: " << p99 << " ms" << target << "\n";
        out << name << " worst: " << times.last() << " ms" << target << "\n";
    };
    auto timeSaves = [&](const char* name, bool measured) {
        QList<double> times;
        QList<double> plain;
        for (int i = 0; i < kSaves; ++i) {
            Cue* cue = cues[rng.bounded(cues.size())];
            cue->setVolumeA(int(rng.bounded(101)));
            QList<double> gains = cue->envelopeGains();
            gains[3] = rng.generateDouble();
            cue->setVolumeEnvelope(cue->envelopeTimes(), gains);
            timer.restart();
            cue->saveToDatabase(false);
            times << ms(timer);
            if (measured) {
                timer.restart();
                db->execute("BEGIN");
                db->execute("UPDATE songs SET volume_a = ? WHERE id = ?", {cue->volumeA(), cue->id()});
                db->execute("COMMIT");
                plain << ms(timer);
            }
        }
        report(QString::fromLatin1(name), times, measured ? " (target ≤ 5 ms)" : "");
        if (measured)
            report(QStringLiteral("  baseline, one plain SQLite commit of the same row"), plain, "");
    };
    // For comparison: SQLite's own checkpoint, inside the commit that takes
    // the log past its limit.
    db->execute("PRAGMA wal_autocheckpoint = 1000");
    timeSaves("for comparison, checkpoint inside the save", false);
    db->close();
    db->initialize(dir.filePath("bench.db"));
    timeSaves("save one edited cue", true);
    // The floor of this machine: no checkpoint anywhere, the log only grows.
    db->close();
    db->initialize(dir.filePath("bench.db"));
    db->execute("PRAGMA wal_autocheckpoint = 0");
    timeSaves("floor, no checkpoint at all", false);

    // Rewrite the order of the 500-cue playlist.
    QList<int> order;
    db->getPlaylistSongIds(playlistIds[0], order);
    double total = 0;
    for (int i = 0; i < 20; ++i) {
        std::shuffle(order.begin(), order.end(), rng);
        timer.restart();
        db->updatePlaylistSongOrder(playlistIds[0], order);
        total += ms(timer);
    }
    out << "reorder a " << order.size() << "-cue playlist: " << total / 20 << " ms mean\n";

    // Delete 100 cues one by one, as the track list does.
    timer.restart();
    for (int i = 0; i < 100; ++i)
        db->deleteCue(cueIds[i * 50]);
    out << "delete 100 cues one by one: " << ms(timer) << " ms\n";

    QSqlQuery freePages = db->execute("PRAGMA freelist_count");
    freePages.next();
    out << "free pages left after the deletes: " << freePages.value(0).toInt() << "\n";

    qDeleteAll(cues);
    return 0;
}
