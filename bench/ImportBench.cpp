// The cue table's import of audio files, on an offscreen window:
//   1. 1 000 generated WAV files imported at the end of an empty playlist;
//   2. the same files inserted into the middle of a 1 000-cue playlist;
//   3. the same number of files into the middle of a playlist ten times as
//      long: the import's own work must not grow with the playlist's length.
//   4. a dropped folder of 1 000 files (walked on the GUI thread);
//   5. the check a replacement of a cue's audio makes of the new file on the
//      GUI thread (it opens it, starts decoding and reads its length), on a
//      10-minute MP3, against the same work done the plain way in this
//      process: FFmpeg's own calls opening the file, finding its stream,
//      decoding its first 4096 frames and reading its duration.
// The imported files are 44.1 kHz stereo MP3s of two to four minutes of
// music-like noise (hard links of three generated files, each under a name
// of its own).
// For each import: the total time, and the worst lateness of a 16 ms GUI timer from
// the start of the import until 200 ms after it returned (the table's reload
// and the first waveform parses included). Baselines measured in the same
// run: the same timer with the GUI thread idle, and storing the same number
// of cues and playlist rows straight through the database in one transaction.
//
//   ImportBench [--files N]
#include "BenchAudio.h"
#include "BenchRun.h"
#include "app/Startup.h"
#include "app/UiStyleManager.h"
#include "lists/AudioFileMatch.h"
#include "lists/TrackListManager.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "model/PlaylistGroup.h"
#include "playback/CueManager.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <functional>
#include <vector>

namespace {

constexpr int kTimerMs = 16;
constexpr double kStallTargetMs = 100.0;
constexpr double kGrowthTarget = 1.5;
constexpr double kCheckTargetMs = 16.0;

// Records how late a 16 ms timer fires while it runs.
class LatenessProbe : public QObject {
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTimerMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                m_worstMs = std::max(m_worstMs, double(now - m_last) / 1e6 - kTimerMs);
            m_last = now;
        });
    }
    void start()
    {
        m_worstMs = 0.0;
        m_last = -1;
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double worstMs() const { return m_worstMs; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    double m_worstMs = 0.0;
};

int newPlaylist(const QString& name)
{
    PlaylistGroup group;
    group.name = name;
    int sortOrder = 0;
    DatabaseManager::instance()->getNextGroupSortOrder(sortOrder);
    return DatabaseManager::instance()->insertPlaylistGroup(group, sortOrder) ? group.id : -1;
}

QStringList g_sources;

// Three MP3s of two, three and four minutes, 44.1 kHz stereo at 192 kbit/s.
bool makeSources(const QString& folder)
{
    QDir().mkpath(folder);
    for (int minutes : {2, 3, 4}) {
        const QString path = QStringLiteral("%1/source %2.mp3").arg(folder).arg(minutes);
        if (!BenchAudio::makeNoiseFile(path, minutes * 60, {"-c:a", "libmp3lame", "-b:a", "192k"}))
            return false;
        g_sources.append(path);
    }
    return true;
}

QList<QUrl> makeFiles(const QString& folder, int count)
{
    QDir().mkpath(folder);
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/take %2.mp3").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
        const QString& source = g_sources[i % g_sources.size()];
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(path).constData()) != 0)
            return {};
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

// count stored cues in a new playlist, straight through the database.
int storePlaylist(const QString& name, const QList<QUrl>& files, int count)
{
    const int playlist = newPlaylist(name);
    DatabaseManager* db = DatabaseManager::instance();
    DatabaseTransaction transaction(db);
    for (int i = 0; i < count; ++i) {
        Cue cue(-1, QStringLiteral("%1 %2").arg(name).arg(i), files[i % files.size()].toLocalFile());
        cue.setDuration(500);
        cue.setColor(QStringLiteral("#4a5a6a"));
        cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
        if (!cue.saveToDatabase(true) || !db->insertPlaylistSong(playlist, cue.id(), i))
            return -1;
    }
    return transaction.commit() ? playlist : -1;
}

// The replacement check done the plain way: open, find the audio stream,
// decode its first 4096 frames, read the duration. The duration in ms, or -1.
qint64 plainFfmpegCheckMs(const QString& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return -1;
    qint64 duration = -1;
    const AVCodec* codec = nullptr;
    const int stream = avformat_find_stream_info(format, nullptr) >= 0
        ? av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0)
        : -1;
    AVCodecContext* context = stream >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    if (context && avcodec_parameters_to_context(context, format->streams[stream]->codecpar) >= 0
        && avcodec_open2(context, codec, nullptr) >= 0) {
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        int decoded = 0;
        while (decoded < 4096 && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(context, packet) >= 0) {
                while (avcodec_receive_frame(context, frame) >= 0)
                    decoded += frame->nb_samples;
            }
            av_packet_unref(packet);
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        if (decoded > 0 && format->duration > 0)
            duration = format->duration / (AV_TIME_BASE / 1000);
    }
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return duration;
}

struct Run {
    double totalMs = 0.0;
    double worstLatenessMs = 0.0;
    int added = 0;
    double reloadMs = 0.0;  // loading the resulting playlist into the table, as the import does at its end
};

Run importInto(TrackListManager* trackList, int playlist, const QList<QUrl>& urls, int row)
{
    trackList->loadPlaylist(playlist);
    trackList->clearParseQueue();
    BenchRun::runEventsFor(100);
    const int before = trackList->rowCount();
    LatenessProbe probe;
    probe.start();
    QElapsedTimer wall;
    wall.start();
    if (row < 0)
        trackList->importUrls(urls);
    else
        trackList->insertUrlsAt(urls, row);
    Run run;
    run.totalMs = double(wall.nsecsElapsed()) / 1e6;
    BenchRun::runEventsFor(200);
    probe.stop();
    run.worstLatenessMs = probe.worstMs();
    run.added = trackList->rowCount() - before;
    trackList->clearParseQueue();
    std::vector<double> reloads;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer reload;
        reload.start();
        trackList->loadPlaylist(playlist);
        reloads.push_back(double(reload.nsecsElapsed()) / 1e6);
        trackList->clearParseQueue();
    }
    std::sort(reloads.begin(), reloads.end());
    run.reloadMs = reloads[1];
    return run;
}

// Storing the same cues and rows without the table: the database's own floor.
double storeFloorMs(const QList<QUrl>& urls)
{
    const int playlist = newPlaylist(QStringLiteral("floor"));
    QElapsedTimer wall;
    wall.start();
    DatabaseManager* db = DatabaseManager::instance();
    DatabaseTransaction transaction(db);
    std::vector<std::unique_ptr<Cue>> cues;
    for (int i = 0; i < urls.size(); ++i) {
        auto cue = std::make_unique<Cue>(-1, QStringLiteral("floor %1").arg(i), urls[i].toLocalFile());
        if (!cue->saveToDatabase(true) || !db->insertPlaylistSong(playlist, cue->id(), i))
            return -1.0;
        cues.push_back(std::move(cue));
    }
    transaction.commit();
    const double ms = double(wall.nsecsElapsed()) / 1e6;
    for (auto& cue : cues)
        cue->clearDirty();
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SDL_AUDIODRIVER", "dummy");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    QApplication app(argc, argv);
    Startup::setApplicationNames();
    Startup::limitGlobalThreadPool();
    UiStyleManager::applyApplicationStyle();
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    int fileCount = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--files")
            fileCount = args[i + 1].toInt();
    }
    if (!DatabaseManager::instance()->initialize(dir.filePath("bench.db"))) {
        std::fprintf(stderr, "database could not be opened\n");
        return 1;
    }

    std::printf("Making %d MP3 files and the stored playlists...\n", fileCount);
    std::fflush(stdout);
    if (!makeSources(dir.filePath("sources"))) {
        std::fprintf(stderr, "ffmpeg could not make the MP3 files\n");
        return 1;
    }
    const QList<QUrl> first = makeFiles(dir.filePath("first"), fileCount);
    const QList<QUrl> second = makeFiles(dir.filePath("second"), fileCount);
    const int empty = newPlaylist(QStringLiteral("empty"));
    const int full = storePlaylist(QStringLiteral("full"), first, fileCount);
    const int huge = storePlaylist(QStringLiteral("huge"), first, 10 * fileCount);
    if (first.isEmpty() || second.isEmpty() || full < 0 || huge < 0) {
        std::fprintf(stderr, "could not make the files or the playlists\n");
        return 1;
    }

    CueManager* registry = CueManager::instance();
    QTableView table;
    table.resize(1200, 800);
    auto* trackList = new TrackListManager(&table, nullptr, registry);
    table.show();
    QCoreApplication::processEvents();

    LatenessProbe idle;
    idle.start();
    BenchRun::runEventsFor(1000);
    idle.stop();

    const double floorMs = storeFloorMs(second);
    const Run intoEmpty = importInto(trackList, empty, first, -1);
    const Run intoMiddle = importInto(trackList, full, second, fileCount / 2);
    const Run intoHuge = importInto(trackList, huge, first, 5 * fileCount);
    const int folderList = newPlaylist(QStringLiteral("folder"));
    const Run folder = importInto(trackList, folderList, {QUrl::fromLocalFile(dir.filePath("second"))}, -1);

    std::printf("Encoding a 10-minute MP3...\n");
    std::fflush(stdout);
    const QString longMp3 = dir.filePath("long.mp3");
    const QStringList mp3Codec{"-c:a", "libmp3lame", "-b:a", "192k"};
    if (!BenchAudio::makeNoiseFile(longMp3, 600, mp3Codec)) {
        std::fprintf(stderr, "ffmpeg could not make the MP3\n");
        return 1;
    }
    std::vector<double> checks;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer check;
        check.start();
        const bool decodes = AudioFileMatch::decodesAudio(longMp3);
        const QVariantMap info = AudioFileMatch::audioFileInfo(longMp3);
        checks.push_back(double(check.nsecsElapsed()) / 1e6);
        if (!decodes || info.value("duration").toLongLong() < 590000) {
            std::fprintf(stderr, "the MP3 did not check out\n");
            return 1;
        }
    }
    std::sort(checks.begin(), checks.end());
    std::vector<double> plainChecks;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer check;
        check.start();
        if (plainFfmpegCheckMs(longMp3) < 590000) {
            std::fprintf(stderr, "FFmpeg could not check the MP3\n");
            return 1;
        }
        plainChecks.push_back(double(check.nsecsElapsed()) / 1e6);
    }
    std::sort(plainChecks.begin(), plainChecks.end());

    std::printf("\nImport into the cue table, %d files\n", fileCount);
    std::printf("import %d files into an empty playlist: %.0f ms, %d added\n", fileCount, intoEmpty.totalMs,
                intoEmpty.added);
    std::printf("  16 ms timer worst lateness: %.1f ms (target ≤ %.0f)\n", intoEmpty.worstLatenessMs,
                kStallTargetMs);
    std::printf("import %d files into the middle of a %d-cue playlist: %.0f ms, %d added\n", fileCount, fileCount,
                intoMiddle.totalMs, intoMiddle.added);
    std::printf("  16 ms timer worst lateness: %.1f ms (target ≤ %.0f)\n", intoMiddle.worstLatenessMs,
                kStallTargetMs);
    std::printf("  baseline, the same timer on an idle GUI thread: %.1f ms\n", idle.worstMs());
    std::printf("  baseline, storing %d cues and their playlist rows in one transaction: %.0f ms\n", fileCount,
                floorMs);
    // The table's reload at the end grows with the playlist, as any switch
    // to it does; the import's own work must not.
    const double growth =
        (intoHuge.totalMs - intoHuge.reloadMs) / std::max(intoEmpty.totalMs - intoEmpty.reloadMs, 1.0);
    std::printf("import %d files into the middle of a %d-cue playlist: %.0f ms, %d added\n", fileCount,
                10 * fileCount, intoHuge.totalMs, intoHuge.added);
    std::printf("  16 ms timer worst lateness: %.1f ms (target ≤ %.0f)\n", intoHuge.worstLatenessMs,
                kStallTargetMs);
    std::printf("  baseline, loading the resulting playlist into the table (the import's last step): %.0f ms "
                "(%.0f ms for the first import's)\n",
                intoHuge.reloadMs, intoEmpty.reloadMs);
    std::printf("import time without that reload, %d-cue playlist / empty playlist: %.2f x (target ≤ %.1f)\n",
                10 * fileCount, growth, kGrowthTarget);

    std::printf("import a dropped folder of %d files into an empty playlist: %.0f ms, %d added\n", fileCount,
                folder.totalMs, folder.added);
    std::printf("  16 ms timer worst lateness: %.1f ms (target ≤ %.0f)\n", folder.worstLatenessMs, kStallTargetMs);
    std::printf("check of a replacement file on the GUI thread, 10-minute MP3: %.1f ms (target ≤ %.0f)\n",
                checks[checks.size() / 2], kCheckTargetMs);
    std::printf("  baseline, the same check through FFmpeg's calls directly (open, find the stream, decode 4096 "
                "frames, read the duration): %.1f ms\n",
                plainChecks[plainChecks.size() / 2]);

    delete trackList;
    return 0;
}
