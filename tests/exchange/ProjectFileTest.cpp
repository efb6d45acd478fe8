#include "ExchangeFixture.h"
#include "FakeExportUi.h"
#include "exchange/DroppedFilesImport.h"
#include "exchange/GuiThreadSlices.h"
#include "exchange/ProjectFileIO.h"
#include "exchange/ProjectFileReader.h"
#include "model/WaveformStorage.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QJsonObject>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <vector>

// Project files: a playlist written and read back into a new playlist with
// every cue field, envelope and waveform equal; what the writer leaves out;
// what the reader refuses, rounds and resolves; hostile waveform blobs;
// names and paths that try to leave their folder; file drops.
class ProjectFileTest : public QObject {
    Q_OBJECT

private:
    ExchangeFixture f;
    QList<Cue*> m_cues;
    int m_playlist = -1;

    void makeRichPlaylist();
    QByteArray writeFile(const QString& name, const QByteArray& bytes);
    std::vector<std::unique_ptr<Cue>> loadPlaylist(int playlistId);
    QJsonObject baseCue() const;

private Q_SLOTS:
    void initTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void writerLeavesOutDefaults_data();
    void writerLeavesOutDefaults();
    void readerRefuses_data();
    void readerRefuses();
    void cueTable_data();
    void cueTable();
    void hostileWaveform_data();
    void hostileWaveform();
    void namesStayInsideTheFolder();
    void exportFailures();
    void audioCopyNames();
    void dropsImportProjectsThenLists();
    void hostileValuesAreBroughtIntoRange();
    void cancelledImportLeavesNothing();
    void importsLetTheWindowRunEveryFewMilliseconds_data();
    void importsLetTheWindowRunEveryFewMilliseconds();
    void killedImportLeavesNothing_data();
    void killedImportLeavesNothing();
};

void ProjectFileTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void ProjectFileTest::init()
{
    f.reset();
    m_cues.clear();
    m_playlist = -1;
}

QByteArray ProjectFileTest::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(f.path(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return bytes;
}

std::vector<std::unique_ptr<Cue>> ProjectFileTest::loadPlaylist(int playlistId)
{
    QList<int> ids;
    f.db()->getPlaylistSongIds(playlistId, ids);
    std::vector<std::unique_ptr<Cue>> loaded;
    for (int id : ids) {
        auto cue = std::make_unique<Cue>();
        cue->loadFromDatabase(id);
        loaded.push_back(std::move(cue));
    }
    return loaded;
}

void ProjectFileTest::makeRichPlaylist()
{
    m_playlist = f.newPlaylist("Gala 2026", 4);
    for (int i = 0; i < 3; ++i) {
        const QString path = f.path(QString("audio/track%1.wav").arg(i));
        QDir().mkpath(f.path("audio"));
        QVERIFY(TestAudio::writeWav(path, TestAudio::WavSpec{}));
        m_cues.append(f.addCue(m_playlist, path, 10000 + i));
    }
    Cue* a = m_cues[0];
    a->setAlias("Opening, part 1");
    a->setRemark("cue the lights");
    a->setColor("#5a3a3a");
    a->setPreWait(1500);
    a->setLoopCount(0);
    a->setVolumeA(29);
    a->setVolumeB(71);
    a->setVolumeChoose(1);
    a->setFadeDurations(1001, 2999);
    a->setFadeEnabled(true);
    a->setLoopRange(1001, 7003, true);
    a->setEnvelopeEnabled(true);
    a->setVolumeEnvelope({0, 2501, 10000}, {1.0, 0.33, 0.0});
    a->setPanEnvelopeEnabled(true);
    a->setPanEnvelope({0, 4999, 10000}, {-1.0, 0.25, 1.0});
    a->saveToDatabase(true);
    QList<float> peaks;
    for (int k = 0; k < 2000; ++k)
        peaks.append(float(k % 100) / 100.0f);
    QVERIFY(f.db()->saveWaveformDataCompressed(a->id(), 2000, peaks));

    Cue* b = m_cues[1];  // fades switched off, times kept
    b->setFadeDurations(1500, 500);
    b->setFadeEnabled(false);
    b->setLoopRange(3000, 10001, true);  // runs to the end of its file
    b->setVolumeA(100);
    b->setVolumeB(100);
    b->saveToDatabase(true);

    Cue* c = m_cues[2];  // everything at its default
    c->setVolumeA(100);
    c->setVolumeB(100);
    c->setFadeDurations(0, 0);
    c->saveToDatabase(true);
}

void ProjectFileTest::roundTrip_data()
{
    QTest::addColumn<bool>("includeAudio");
    QTest::newRow("without audio") << false;
    QTest::newRow("with audio") << true;
}

void ProjectFileTest::roundTrip()
{
    QFETCH(bool, includeAudio);
    makeRichPlaylist();
    const QString folder = f.makeFolder("export");
    FakeExportUi ui;
    QList<PlaylistGroup> records;
    f.db()->loadAllPlaylistGroups(records);
    QVERIFY(ProjectFileIO::exportProject(folder, "Gala 2026", m_playlist, includeAudio, records, ui, f.cues.get()));
    QVERIFY(ui.messages.isEmpty());
    const QString project = includeAudio ? folder + "/Gala 2026/Gala 2026.crv" : folder + "/Gala 2026.crv";
    QVERIFY(QFile::exists(project));
    if (includeAudio) {
        QCOMPARE(QDir(folder + "/Gala 2026/CUESOUND").entryList(QDir::Files),
                 QStringList({"track0.wav", "track1.wav", "track2.wav"}));
        // The folder travels: move it and read it from there.
        QVERIFY(QDir().rename(folder + "/Gala 2026", f.path("moved")));
    }
    const QString readFrom = includeAudio ? f.path("moved/Gala 2026.crv") : project;

    const PlaylistImportResult result = ProjectFileIO::importProject(readFrom, ui);
    QVERIFY(result.succeeded());
    QVERIFY(result.playlistId != m_playlist);
    QCOMPARE(result.statusText, QString("成功导入播放列表: Gala 2026 (3个Cue)"));
    QVERIFY(ui.messages.isEmpty());
    QList<PlaylistGroup> after;
    f.db()->loadAllPlaylistGroups(after);
    const auto imported = std::find_if(after.begin(), after.end(), [&](auto& g) { return g.id == result.playlistId; });
    QVERIFY(imported != after.end());
    QCOMPARE(imported->name, QString("Gala 2026"));
    QCOMPARE(imported->playMode, 4);

    const auto copies = loadPlaylist(result.playlistId);
    QCOMPARE(qsizetype(copies.size()), m_cues.size());
    for (int i = 0; i < m_cues.size(); ++i) {
        Cue original;
        QVERIFY(original.loadFromDatabase(m_cues[i]->id()));
        const Cue& copy = *copies[i];
        QVERIFY(copy.id() != original.id());
        const QString expectedPath = includeAudio ? QDir(f.path("moved")).absolutePath() + "/CUESOUND/"
                + QFileInfo(original.filePath()).fileName()
                                                  : original.filePath();
        QCOMPARE(copy.filePath(), expectedPath);
        QCOMPARE(copy.name(), original.name());
        QCOMPARE(copy.alias(), original.alias());
        QCOMPARE(copy.remark(), original.remark());
        QCOMPARE(copy.color(), original.color());
        QCOMPARE(copy.durationMs(), original.durationMs());
        QCOMPARE(copy.preWaitMs(), original.preWaitMs());
        QCOMPARE(copy.loopCount(), original.loopCount());
        QCOMPARE(copy.volumeA(), original.volumeA());
        QCOMPARE(copy.volumeB(), original.volumeB());
        QCOMPARE(copy.volumeChoose(), original.volumeChoose());
        QCOMPARE(copy.fadeEnabled(), original.fadeEnabled());
        QCOMPARE(copy.fadeInMs(), original.fadeInMs());
        QCOMPARE(copy.fadeOutMs(), original.fadeOutMs());
        QCOMPARE(copy.loopStartMs(), original.loopStartMs());
        QCOMPARE(copy.loopEndMs(), original.loopEndMs());
        QCOMPARE(copy.envelopeEnabled(), original.envelopeEnabled());
        QCOMPARE(copy.panEnvelopeEnabled(), original.panEnvelopeEnabled());
        if (original.envelopeEnabled()) {
            QCOMPARE(copy.envelopeTimes(), original.envelopeTimes());
            QCOMPARE(copy.envelopeGains(), original.envelopeGains());
        }
        if (original.panEnvelopeEnabled()) {
            QCOMPARE(copy.panEnvelopeTimes(), original.panEnvelopeTimes());
            QCOMPARE(copy.panEnvelopePositions(), original.panEnvelopePositions());
        }
        QByteArray originalBlob, copiedBlob;
        int originalTarget = 0, copiedTarget = 0;
        const bool hadWaveform = f.db()->loadWaveformData(original.id(), originalBlob, &originalTarget);
        QCOMPARE(f.db()->loadWaveformData(copy.id(), copiedBlob, &copiedTarget), hadWaveform);
        QCOMPARE(copiedBlob, originalBlob);
        QCOMPARE(copiedTarget, originalTarget);
    }
}

void ProjectFileTest::writerLeavesOutDefaults_data()
{
    using Setup = std::function<void(Cue&)>;
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QStringList>("extraKeys");
    QTest::newRow("defaults") << Setup([](Cue&) {}) << QStringList{};
    QTest::newRow("volume A") << Setup([](Cue& c) { c.setVolumeA(80); }) << QStringList{"volume", "volumeA"};
    QTest::newRow("volume B") << Setup([](Cue& c) { c.setVolumeB(10); }) << QStringList{"volumeB"};
    QTest::newRow("choice B") << Setup([](Cue& c) { c.setVolumeChoose(1); }) << QStringList{"volumeChoose"};
    QTest::newRow("endless") << Setup([](Cue& c) { c.setLoopCount(0); }) << QStringList{"playCount"};
    QTest::newRow("pre-wait") << Setup([](Cue& c) { c.setPreWait(500); }) << QStringList{"preWait"};
    QTest::newRow("fade switch") << Setup([](Cue& c) { c.setFadeEnabled(true); }) << QStringList{"fadeEnabled"};
    QTest::newRow("fade times") << Setup([](Cue& c) { c.setFadeDurations(1, 2); }) << QStringList{"fadeIn", "fadeOut"};
    QTest::newRow("loop start") << Setup([](Cue& c) { c.setLoopRange(2500, 10000, true); }) << QStringList{"start"};
    QTest::newRow("loop end") << Setup([](Cue& c) { c.setLoopRange(0, 7000, true); }) << QStringList{"end"};
    QTest::newRow("texts") << Setup([](Cue& c) {
        c.setAlias("a");
        c.setRemark("r");
        c.setColor("#4a5a6a");
    }) << QStringList{"alias", "color", "remark"};
    QTest::newRow("envelope switched on") << Setup([](Cue& c) { c.setEnvelopeEnabled(true); })
                                          << QStringList{"volumeEnvelope"};
    QTest::newRow("pan points but switched off") << Setup([](Cue& c) { c.setPanEnvelope({0, 1}, {0.0, 1.0}); })
                                                 << QStringList{};
}

void ProjectFileTest::writerLeavesOutDefaults()
{
    using Setup = std::function<void(Cue&)>;
    QFETCH(Setup, setup);
    QFETCH(QStringList, extraKeys);
    Cue cue(7, "n", "/m/n.wav");
    cue.setDuration(10000);
    cue.setVolumeA(100);
    cue.setVolumeB(100);
    cue.setFadeDurations(0, 0);
    cue.setLoopRange(0, 10000, true);
    setup(cue);
    cue.clearDirty();
    QStringList expected = QStringList{"cueId", "duration", "filePath", "name", "rowIndex"} + extraKeys;
    expected.sort();
    const QJsonObject o = ProjectFileIO::cueToJson(&cue, 3, {}, false);
    QCOMPARE(o.keys(), expected);
    QCOMPARE(o.value("rowIndex").toInt(), 3);
    QCOMPARE(o.value("cueId").toInt(), 7);
    QCOMPARE(o.value("duration").toDouble(), 10.0);
}

void ProjectFileTest::readerRefuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("imported");
    const QByteArray cue = R"({"filePath": "/m/a.wav"})";
    QTest::newRow("bad JSON") << QByteArray("{\"version\": ") << QStringList{"错误/无效的CRV文件格式"} << false;
    QTest::newRow("empty file") << QByteArray() << QStringList{"错误/无效的CRV文件格式"} << false;
    QTest::newRow("array") << QByteArray("[" + cue + "]") << QStringList{"错误/无效的CRV文件格式"} << false;
    QTest::newRow("empty name") << QByteArray(R"({"version": "1.0", "playlistName": "", "cues": [)" + cue + "]}")
                                << QStringList{"错误/播放列表名称为空"} << false;
    QTest::newRow("no cues") << QByteArray(R"({"version": "1.0", "playlistName": "p", "cues": []})")
                             << QStringList{"提示/该工程文件没有包含任何Cue"} << false;
    QTest::newRow("version 2.0") << QByteArray(R"({"version": "2.0", "playlistName": "p", "cues": [)" + cue + "]}")
                                 << QStringList{"警告/不支持的版本: 2.0\n可能无法正常导入"} << true;
    QTest::newRow("no version") << QByteArray(R"({"playlistName": "p", "cues": [)" + cue + "]}")
                                << QStringList{"警告/不支持的版本: \n可能无法正常导入"} << true;
}

void ProjectFileTest::readerRefuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, messages);
    QFETCH(bool, imported);
    writeFile("project.crv", bytes);
    FakeExportUi ui;
    const PlaylistImportResult result = ProjectFileIO::importProject(f.path("project.crv"), ui);
    QCOMPARE(ui.messageTexts(), messages);
    QCOMPARE(result.succeeded(), imported);
    QList<PlaylistGroup> groups;
    f.db()->loadAllPlaylistGroups(groups);
    QCOMPARE(groups.size(), imported ? 1 : 0);

    FakeExportUi missing;
    ProjectFileIO::importProject(f.path("nowhere.crv"), missing);
    QCOMPARE(missing.messageTexts(), QStringList{"错误/无法打开文件: " + f.path("nowhere.crv")});
}

QJsonObject ProjectFileTest::baseCue() const
{
    return QJsonObject{{"filePath", "/m/a.wav"}, {"duration", 10.0}};
}

void ProjectFileTest::cueTable_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("no volumes") << QByteArray("{}") << "volumeA" << QVariant(100);
    QTest::newRow("no volume B") << QByteArray("{}") << "volumeB" << QVariant(100);
    QTest::newRow("volume fallback") << QByteArray(R"({"volume": 0.4})") << "volumeA" << QVariant(40);
    QTest::newRow("volume rounds") << QByteArray(R"({"volumeA": 0.29})") << "volumeA" << QVariant(29);
    QTest::newRow("volume B rounds") << QByteArray(R"({"volumeB": 0.57})") << "volumeB" << QVariant(57);
    QTest::newRow("volume not a number") << QByteArray(R"({"volumeA": "x"})") << "volumeA" << QVariant(100);
    QTest::newRow("fade times round") << QByteArray(R"({"fadeIn": 1.001})") << "fadeIn" << QVariant(1001);
    QTest::newRow("no fade switch is off") << QByteArray(R"({"fadeIn": 2, "fadeOut": 1})") << "fadeEnabled"
                                           << QVariant(false);
    QTest::newRow("fade switch") << QByteArray(R"({"fadeEnabled": true})") << "fadeEnabled" << QVariant(true);
    QTest::newRow("fade switch not a boolean") << QByteArray(R"({"fadeEnabled": 1})") << "fadeEnabled"
                                               << QVariant(false);
    QTest::newRow("pre-wait") << QByteArray(R"({"preWait": 1500})") << "preWait" << QVariant(1500);
    QTest::newRow("pre-wait not a number") << QByteArray(R"({"preWait": "x"})") << "preWait" << QVariant(0);
    QTest::newRow("endless") << QByteArray(R"({"playCount": 0})") << "loopCount" << QVariant(0);
    QTest::newRow("play count not a number") << QByteArray(R"({"playCount": null})") << "loopCount" << QVariant(1);
    QTest::newRow("choice B") << QByteArray(R"({"volumeChoose": 1})") << "volumeChoose" << QVariant(1);
    QTest::newRow("choice out of range") << QByteArray(R"({"volumeChoose": 5})") << "volumeChoose" << QVariant(0);
    QTest::newRow("start rounds") << QByteArray(R"({"start": 1.001, "end": 5.0})") << "loopStart" << QVariant(1001);
    QTest::newRow("start only runs to the end") << QByteArray(R"({"start": 2.5})") << "loopEnd" << QVariant(10000);
    QTest::newRow("start after end leaves the loop unset") << QByteArray(R"({"start": 6, "end": 5})") << "loopStart"
                                                           << QVariant(0);
    QTest::newRow("huge start") << QByteArray(R"({"start": 1e300})") << "loopStart" << QVariant(0);
    QTest::newRow("name follows the file") << QByteArray("{}") << "name" << QVariant("a");
    QTest::newRow("name") << QByteArray(R"({"name": "Walk-in"})") << "name" << QVariant("Walk-in");
    QTest::newRow("one envelope point") << QByteArray(R"({"volumeEnvelope": [{"time": 1, "value": 0.5}]})")
                                        << "envelope" << QVariant("1:0-1,10000-1");
    QTest::newRow("envelope") << QByteArray(R"({"volumeEnvelope": [{"time": 0}, {"time": 2.0005, "value": 0.5}]})")
                              << "envelope" << QVariant("1:0-1,2001-0.5");
    QTest::newRow("pan out of range keeps defaults")
        << QByteArray(R"({"panEnvelope": [{"time": 0, "value": -3}, {"time": 1}]})") << "pan" << QVariant("1:0-0,10000-0");
    QTest::newRow("pan") << QByteArray(R"({"panEnvelope": [{"time": 0, "value": -1}, {"time": 1}]})") << "pan"
                         << QVariant("1:0--1,1000-0");
    QTest::newRow("CUESOUND path") << QByteArray(R"({"filePath": "CUESOUND/a.mp3"})") << "path"
                                   << QVariant("<base>/CUESOUND/a.mp3");
    QTest::newRow("cuesound any case, backslash") << QByteArray(R"({"filePath": "cuesound\\a.mp3"})") << "path"
                                                  << QVariant("<base>/CUESOUND/a.mp3");
    QTest::newRow("CUESOUND escape") << QByteArray(R"({"filePath": "CUESOUND/../../x.mp3"})") << "path"
                                     << QVariant("<base>/CUESOUND/x.mp3");
    QTest::newRow("CUESOUND dot dot") << QByteArray(R"({"filePath": "CUESOUND/.."})") << "path" << QVariant("<none>");
    QTest::newRow("relative path") << QByteArray(R"({"filePath": "songs\\b.wav"})") << "path"
                                   << QVariant("<base>/songs/b.wav");
    QTest::newRow("no path") << QByteArray(R"({"filePath": ""})") << "path" << QVariant("<none>");
}

void ProjectFileTest::cueTable()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    QJsonObject object = baseCue();
    const QJsonObject extra = QJsonDocument::fromJson(json).object();
    for (auto it = extra.begin(); it != extra.end(); ++it)
        object.insert(it.key(), it.value());
    const QString base = f.makeFolder("project");
    std::unique_ptr<Cue> cue(ProjectFileIO::cueFromJson(object, base));
    auto envelope = [](bool on, const QList<qint64>& t, const QList<double>& v) {
        QStringList points;
        for (int i = 0; i < t.size(); ++i)
            points.append(QString("%1-%2").arg(t[i]).arg(v[i]));
        return QString("%1:%2").arg(on ? 1 : 0).arg(points.join(','));
    };
    QVariant actual;
    if (field == "path")
        actual = cue ? QVariant(cue->filePath().replace(QDir(base).absolutePath(), "<base>")) : QVariant("<none>");
    else if (!cue)
        QFAIL("no cue");
    else if (field == "volumeA")
        actual = cue->volumeA();
    else if (field == "volumeB")
        actual = cue->volumeB();
    else if (field == "fadeIn")
        actual = int(cue->fadeInMs());
    else if (field == "fadeEnabled")
        actual = cue->fadeEnabled();
    else if (field == "preWait")
        actual = cue->preWaitMs();
    else if (field == "loopCount")
        actual = cue->loopCount();
    else if (field == "volumeChoose")
        actual = cue->volumeChoose();
    else if (field == "loopStart")
        actual = int(cue->loopStartMs());
    else if (field == "loopEnd")
        actual = int(cue->loopEndMs());
    else if (field == "name")
        actual = cue->name();
    else if (field == "envelope")
        actual = envelope(cue->envelopeEnabled(), cue->envelopeTimes(), cue->envelopeGains());
    else if (field == "pan")
        actual = envelope(cue->panEnvelopeEnabled(), cue->panEnvelopeTimes(), cue->panEnvelopePositions());
    QCOMPARE(actual.toString(), expected.toString());
    if (cue) {
        cue->clearDirty();
        cue->clearWaveformDirty();
    }
}

void ProjectFileTest::hostileWaveform_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("stored");
    QList<float> peaks(2000, 0.5f);
    const QByteArray good = WaveformStorage::encodeCompressed(peaks, 2000);
    QTest::newRow("valid") << QString::fromLatin1(good.toBase64()) << true;
    QTest::newRow("not base64") << QString("!!!not base64***") << false;
    QTest::newRow("base64 of garbage") << QString::fromLatin1(QByteArray(64, 'z').toBase64()) << false;
    QByteArray forged = good;
    qToBigEndian<quint32>(0x7fffffff, forged.data());  // claims 2 GiB once uncompressed
    QTest::newRow("forged length") << QString::fromLatin1(forged.toBase64()) << false;
    QTest::newRow("truncated") << QString::fromLatin1(good.left(good.size() / 2).toBase64()) << false;
    QByteArray raw = WaveformStorage::encode(peaks, 2000);
    raw[0] = 'X';
    QTest::newRow("wrong magic") << QString::fromLatin1(qCompress(raw).toBase64()) << false;
    QByteArray longCount = WaveformStorage::encode(peaks, 2000);
    qToLittleEndian<qint32>(4000000, longCount.data() + 12);
    QTest::newRow("count beyond the data") << QString::fromLatin1(qCompress(longCount).toBase64()) << false;
}

void ProjectFileTest::hostileWaveform()
{
    QFETCH(QString, data);
    QFETCH(bool, stored);
    QJsonObject cue = baseCue();
    cue.insert("waveformData", data);
    cue.insert("waveformTargetPoints", 2000);
    const QJsonObject root{{"version", "1.0"}, {"playlistName", "p"}, {"cues", QJsonArray{cue}}};
    writeFile("wave.crv", QJsonDocument(root).toJson());
    FakeExportUi ui;
    LogCapture log;
    const PlaylistImportResult result = ProjectFileIO::importProject(f.path("wave.crv"), ui);
    QVERIFY(result.succeeded());
    const auto cues = loadPlaylist(result.playlistId);
    QCOMPARE(cues.size(), size_t(1));  // the cue comes in either way
    QCOMPARE(f.db()->hasWaveformData(cues[0]->id()), stored);
    QCOMPARE(log.contains("[Import] Invalid waveform data"), !stored);
}

void ProjectFileTest::namesStayInsideTheFolder()
{
    const int playlist = f.newPlaylist("../../escape");
    QVERIFY(TestAudio::writeWav(f.path("a.wav"), TestAudio::WavSpec{}));
    f.addCue(playlist, f.path("a.wav"), 1000);
    const QString folder = f.makeFolder("deep/inside");
    FakeExportUi ui;
    QVERIFY(ProjectFileIO::exportProject(folder, "../../escape", playlist, true, {}, ui, f.cues.get()));
    QVERIFY(QFile::exists(folder + "/....escape/....escape.crv"));
    QVERIFY(QFile::exists(folder + "/....escape/CUESOUND/a.wav"));
    QVERIFY(!QFile::exists(f.path("escape.crv")));
    QFile file(folder + "/....escape/....escape.crv");
    QVERIFY(file.open(QIODevice::ReadOnly));
    // The playlist keeps its name inside the file.
    QCOMPARE(QJsonDocument::fromJson(file.readAll()).object().value("playlistName").toString(), QString("../../escape"));
}

void ProjectFileTest::exportFailures()
{
    const int empty = f.newPlaylist("empty");
    FakeExportUi ui;
    const QString folder = f.makeFolder("out");
    QVERIFY(!ProjectFileIO::exportProject(folder, "empty", empty, false, {}, ui, f.cues.get()));
    QCOMPARE(ui.messageTexts(), QStringList{"提示/当前播放列表没有Cue"});

    // Cues stored but not in the registry.
    const int orphan = f.newPlaylist("orphan");
    Cue loose(-1, "x", "/m/x.wav");
    loose.saveToDatabase(true);
    f.db()->insertPlaylistSong(orphan, loose.id(), 0);
    FakeExportUi ui2;
    QVERIFY(!ProjectFileIO::exportProject(folder, "orphan", orphan, false, {}, ui2, f.cues.get()));
    QCOMPARE(ui2.messageTexts(), QStringList{"提示/当前播放列表没有有效Cue"});

    // An unwritable folder ends in the failure box and leaves nothing.
    const int playlist = f.newPlaylist("p");
    f.addCue(playlist, "/m/y.wav", 1000);
    QFile blocker(f.path("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FakeExportUi ui3;
    ui3.folder = f.path("blocker");
    ProjectFileIO::ExportRequest request;
    request.playlistId = playlist;
    request.playlistName = "p";
    QVERIFY(!ProjectFileIO::runExport(request, ui3, f.cues.get()));
    QCOMPARE(ui3.messageTexts(), QStringList{"导出失败/导出工程文件时发生错误\n原因：目标不是文件夹\n未留下任何文件。"});
    QCOMPARE(QSettings().value("export/lastDir").toString(), ui3.folder);

    // Success box, with the folder opened on request.
    FakeExportUi ui4;
    ui4.folder = folder;
    ui4.pressOpen = true;
    QVERIFY(ProjectFileIO::runExport(request, ui4, f.cues.get()));
    QCOMPARE(ui4.results.value(0).title, QString("导出成功"));
    QCOMPARE(ui4.results.value(0).text, QString("工程文件已导出到:\n%1\n\n播放列表: p\n不包含音频文件").arg(folder));
    QCOMPARE(ui4.openedFolders, QStringList{folder});
    QCOMPARE(ui4.chooserTitles, QStringList{"选择工程文件导出目录"});
}

void ProjectFileTest::audioCopyNames()
{
    QDir().mkpath(f.path("one"));
    QDir().mkpath(f.path("two"));
    for (const char* name : {"one/a.mp3", "two/a.mp3", "one/song.remix.mp3", "one/noext"}) {
        QFile file(f.path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name);
    }
    Cue c1(1, "", f.path("one/a.mp3"));
    Cue c2(2, "", f.path("two/a.mp3"));
    Cue c3(3, "", f.path("one/a.mp3"));  // the same file again: one copy
    Cue c4(4, "", f.path("one/song.remix.mp3"));
    Cue c5(5, "", f.path("one/noext"));
    Cue c6(6, "", f.path("missing.mp3"));
    const QString sound = f.makeFolder("sound");
    QHash<QString, QString> copied;
    QVERIFY(ProjectFileIO::copyAudioFiles({&c1, &c2, &c3, &c4, &c5, &c6}, sound, copied));
    QCOMPARE(copied.value(c1.filePath()), QString("a.mp3"));
    QCOMPARE(copied.value(c2.filePath()), QString("a_1.mp3"));
    QCOMPARE(copied.value(c4.filePath()), QString("song.mp3"));
    QCOMPARE(copied.value(c5.filePath()), QString("noext"));
    QVERIFY(!copied.contains(c6.filePath()));
    QCOMPARE(QDir(sound).entryList(QDir::Files | QDir::Hidden).size(), 4);
    const QJsonObject o = ProjectFileIO::cueToJson(&c6, 5, copied, true);
    QCOMPARE(o.value("filePath").toString(), c6.filePath());  // keeps its own path
    for (Cue* c : {&c1, &c2, &c3, &c4, &c5, &c6})
        c->clearDirty();
}

void ProjectFileTest::dropsImportProjectsThenLists()
{
    QVERIFY(TestAudio::writeWav(f.path("x.wav"), TestAudio::WavSpec{}));
    const QByteArray cue = R"({"filePath": "x.wav"})";
    writeFile("first.crv", R"({"version": "1.0", "playlistName": "first", "cues": [)" + cue + "]}");
    writeFile("second.CRV", R"({"version": "1.0", "playlistName": "second", "cues": [)" + cue + "]}");
    writeFile("list.m3u8", "#EXTM3U\nx.wav\n");
    const QList<QUrl> urls = {QUrl::fromLocalFile(f.path("list.m3u8")), QUrl::fromLocalFile(f.path("x.wav")),
                              QUrl::fromLocalFile(f.path("first.crv")), QUrl::fromLocalFile(f.path("second.CRV"))};
    FakeExportUi ui;
    QStringList imported;
    QVERIFY(DroppedFilesImport::importFiles(urls, ui,
                                            [&](const PlaylistImportResult& r) { imported.append(r.statusText); },
                                            f.cues.get()));
    QCOMPARE(imported, QStringList({"成功导入播放列表: first (1个Cue)", "成功导入播放列表: second (1个Cue)",
                                    "成功导入 M3U8 播放列表: list (1个音频文件)"}));
    LogCapture log;
    QVERIFY(!DroppedFilesImport::importFiles({QUrl::fromLocalFile(f.path("x.wav"))}, ui, {}, f.cues.get()));
    QVERIFY(log.contains("[Import] No CRV or M3U8 files found in drop"));
}

void ProjectFileTest::hostileValuesAreBroughtIntoRange()
{
    // Values the settings bar could never set, as a damaged or hand-made
    // project file carries them.
    QJsonArray bigEnvelope;
    for (int i = 0; i < ProjectFileReader::kMaxEnvelopePoints + 1; ++i)
        bigEnvelope.append(QJsonObject{{"time", i * 0.001}, {"value", 0.5}});
    QJsonArray cues;
    cues.append(QJsonObject{{"filePath", "/m/a.wav"}, {"duration", 6.0}, {"preWait", 1e300}, {"playCount", -7},
                            {"fadeIn", 1e30}, {"fadeEnabled", true}, {"volumeA", 5.0}});
    cues.append(QJsonObject{{"filePath", "/m/b.wav"}, {"duration", 6.0}, {"playCount", 1000}, {"preWait", -5},
                            {"volumeEnvelope", bigEnvelope}});
    cues.append(QJsonObject{{"filePath", "/m/c.wav"}, {"duration", 60.0}, {"preWait", 3000}, {"playCount", 3},
                            {"fadeIn", 2.0}, {"fadeOut", 1.5}});
    const QJsonObject root{{"version", "1.0"}, {"playlistName", "Hostile"}, {"playMode", 99}, {"cues", cues}};
    writeFile("hostile.crv", QJsonDocument(root).toJson());

    FakeExportUi ui;
    const PlaylistImportResult result = ProjectFileIO::importProject(f.path("hostile.crv"), ui);
    QVERIFY(result.succeeded());
    QList<PlaylistGroup> groups;
    QVERIFY(f.db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups[0].playMode, 1);  // out of range: the list loop, the default

    const auto loaded = loadPlaylist(result.playlistId);
    QCOMPARE(int(loaded.size()), 3);
    const Cue* a = loaded[0].get();
    QCOMPARE(a->preWaitMs(), 60000);
    QCOMPARE(a->loopCount(), 1);  // not endless
    QCOMPARE(a->fadeInMs(), qint64(6000));  // no longer than the file
    QCOMPARE(a->volumeA(), 100);
    const Cue* b = loaded[1].get();
    QCOMPARE(b->loopCount(), 99);
    QCOMPARE(b->preWaitMs(), 0);
    QVERIFY(!b->envelopeEnabled());
    const Cue* c = loaded[2].get();  // in range: as written
    QCOMPARE(c->preWaitMs(), 3000);
    QCOMPARE(c->loopCount(), 3);
    QCOMPARE(c->fadeInMs(), qint64(2000));
    QCOMPARE(c->fadeOutMs(), qint64(1500));

    // One notice lists it all.
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].icon, ExportUi::Icon::Warning);
    const QString notice = ui.messages[0].text;
    for (const char* line : {"播放模式无效，已改为列表循环（1 处）", "预等待超过 60 秒，已改为 60 秒（1 处）",
                             "预等待为负数，已改为 0 秒（1 处）", "播放次数为负数，已改为 1 次（1 处）",
                             "播放次数超过 99 次，已改为 99 次（1 处）", "淡入淡出时间超出 0 到 20 秒，已限制到范围内（1 处）",
                             "淡入淡出比 Cue 的播放范围还长，已缩短（1 处）", "音量超出 0 到 100，已限制到范围内（1 处）",
                             "音量包络的点超过 4096 个，该包络未导入（1 处）"})
        QVERIFY2(notice.contains(QString::fromUtf8(line)), qPrintable(notice));
    // Read behind the progress dialog, which is closed again.
    QCOMPARE(ui.progressStarts, 1);
    QVERIFY(!ui.progressOpen);
}

void ProjectFileTest::cancelledImportLeavesNothing()
{
    QJsonArray cues;
    for (int i = 0; i < 1000; ++i)
        cues.append(QJsonObject{{"filePath", QString("/m/%1.wav").arg(i)}, {"duration", 6.0}});
    writeFile("many.crv", QJsonDocument(QJsonObject{{"version", "1.0"}, {"playlistName", "Many"}, {"cues", cues}})
                              .toJson());
    FakeExportUi ui;
    ui.cancelAtValue = 700;  // while the cues are being stored
    QVERIFY(!ProjectFileIO::importProject(f.path("many.crv"), ui).succeeded());
    QVERIFY(ui.cancelSeenAt >= 700);
    QList<PlaylistGroup> groups;
    QVERIFY(f.db()->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.size(), 0);
    QSqlQuery count = f.db()->execute("SELECT COUNT(*) FROM songs");
    QVERIFY(count.next());
    QCOMPARE(count.value(0).toInt(), 0);
    QVERIFY(!ui.progressOpen);
}

void ProjectFileTest::importsLetTheWindowRunEveryFewMilliseconds_data()
{
    QTest::addColumn<bool>("list");
    QTest::newRow("project file") << false;
    QTest::newRow("M3U8 list") << true;
}

// The cues are stored on the GUI thread in slices of some 8 ms, with the
// window's events delivered between them. The clock moves 1 ms each time it
// is read, so a slice stores a fixed handful of cues on any machine; a zero
// timer standing for the window's events counts the rows stored between two
// of its turns.
void ProjectFileTest::importsLetTheWindowRunEveryFewMilliseconds()
{
    QFETCH(bool, list);
    constexpr int kCues = 1000;
    QVERIFY(TestAudio::writeWav(f.path("x.wav"), TestAudio::WavSpec{}));
    QByteArray m3u8 = "#EXTM3U\n";
    QJsonArray cues;
    for (int i = 0; i < kCues; ++i) {
        m3u8 += "x.wav\n";
        cues.append(QJsonObject{{"filePath", "x.wav"}, {"duration", 1.0}});
    }
    writeFile("many.m3u8", m3u8);
    writeFile("many.crv", QJsonDocument(QJsonObject{{"version", "1.0"}, {"playlistName", "Many"}, {"cues", cues}})
                              .toJson());
    qint64 clockMs = 0;
    GuiThreadSlices::setClock([&clockMs] { return ++clockMs * 1000000; });
    int lastRows = 0;
    int mostRowsBetweenTurns = 0;
    int turns = 0;
    QTimer window;
    window.setInterval(0);
    connect(&window, &QTimer::timeout, [&] {
        QSqlQuery count = f.db()->execute("SELECT COUNT(*) FROM playlist_songs");
        const int rows = count.next() ? count.value(0).toInt() : 0;
        mostRowsBetweenTurns = std::max(mostRowsBetweenTurns, rows - lastRows);
        lastRows = rows;
        ++turns;
    });
    window.start();
    FakeExportUi ui;
    PlaylistImportResult result;
    QVERIFY(DroppedFilesImport::importFiles({QUrl::fromLocalFile(f.path(list ? "many.m3u8" : "many.crv"))}, ui,
                                            [&result](const PlaylistImportResult& r) { result = r; }, f.cues.get()));
    window.stop();
    GuiThreadSlices::setClock({});
    QVERIFY(result.succeeded());
    QList<int> ids;
    QVERIFY(f.db()->getPlaylistSongIds(result.playlistId, ids));
    QCOMPARE(ids.size(), kCues);
    // And those stored after the last turn, before the import returned.
    mostRowsBetweenTurns = std::max(mostRowsBetweenTurns, kCues - lastRows);
    QVERIFY2(mostRowsBetweenTurns <= 10, qPrintable(QStringLiteral("%1 cues stored between two turns of the event "
                                                                     "loop (%2 turns)")
                                                         .arg(mostRowsBetweenTurns)
                                                         .arg(turns)));
    // The new cues joined the registry: the table finds them there.
    QVERIFY(f.cues->getCue(ids.first()) && f.cues->getCue(ids.last()));
}

void ProjectFileTest::killedImportLeavesNothing_data()
{
    importsLetTheWindowRunEveryFewMilliseconds_data();
}

// A process killed in the middle of an import leaves what it had committed.
// A second connection to the file sees just that: looked at while the cues
// are being stored, it must find the database as it was.
void ProjectFileTest::killedImportLeavesNothing()
{
    QFETCH(bool, list);
    constexpr int kCues = 1000;
    QVERIFY(TestAudio::writeWav(f.path("x.wav"), TestAudio::WavSpec{}));
    QByteArray m3u8 = "#EXTM3U\n";
    QJsonArray cues;
    for (int i = 0; i < kCues; ++i) {
        m3u8 += "x.wav\n";
        cues.append(QJsonObject{{"filePath", "x.wav"}, {"duration", 1.0}});
    }
    writeFile("many.m3u8", m3u8);
    writeFile("many.crv", QJsonDocument(QJsonObject{{"version", "1.0"}, {"playlistName", "Many"}, {"cues", cues}})
                              .toJson());
    struct LookingUi : FakeExportUi {
        QStringList seen;  // what the second connection found, once per progress step
        void progressSet(int value) override
        {
            FakeExportUi::progressSet(value);
            // The second half of the progress is the storing; its end the commit.
            if (value <= progressMaximum / 2 || value >= progressMaximum)
                return;
            QSqlDatabase other = QSqlDatabase::database("killed");
            QSqlQuery count(other);
            if (!count.exec("SELECT (SELECT COUNT(*) FROM playlist_groups), (SELECT COUNT(*) FROM songs), "
                            "(SELECT COUNT(*) FROM playlist_songs)")
                || !count.next()) {
                seen.append("query failed: " + count.lastError().text());
                return;
            }
            seen.append(QStringLiteral("%1 playlists, %2 cues, %3 rows")
                            .arg(count.value(0).toInt())
                            .arg(count.value(1).toInt())
                            .arg(count.value(2).toInt()));
        }
    };
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "killed");
        other.setDatabaseName(f.path("exchange.db"));
        QVERIFY(other.open());
    }
    qint64 clockMs = 0;
    GuiThreadSlices::setClock([&clockMs] { return ++clockMs * 1000000; });
    LookingUi ui;
    PlaylistImportResult result;
    DroppedFilesImport::importFiles({QUrl::fromLocalFile(f.path(list ? "many.m3u8" : "many.crv"))}, ui,
                                    [&result](const PlaylistImportResult& r) { result = r; }, f.cues.get());
    GuiThreadSlices::setClock({});
    QSqlDatabase::database("killed").close();
    QSqlDatabase::removeDatabase("killed");
    QVERIFY(result.succeeded());
    QStringList different = ui.seen;
    different.removeDuplicates();
    QVERIFY2(different == QStringList{"0 playlists, 0 cues, 0 rows"}, qPrintable(different.join(" | ")));
    QVERIFY(ui.seen.size() > 10);  // looked at all through the storing
}

QTEST_MAIN(ProjectFileTest)
#include "ProjectFileTest.moc"
