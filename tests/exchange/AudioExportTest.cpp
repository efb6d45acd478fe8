#include "ExchangeFixture.h"
#include "FakeExportUi.h"
#include "audiofile/AudioFileDecoder.h"
#include "exchange/AudioExporter.h"
#include "exchange/SelectedCuesExport.h"
#include "exchange/WavFileWriter.h"
#include "support/LogCapture.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <functional>

// The audio export: frames taken exactly from the loop region whatever the
// source codec, the shaping like playback, the copy shortcut, the writers,
// failures that leave nothing behind, and the export of selected cues with
// its unique names and a cancel in the middle of a long cue.
class AudioExportTest : public QObject {
    Q_OBJECT

private:
    ExchangeFixture f;
    QString m_ramp;  // 12 s float WAV: left a ramp, right its negative
    QString m_dc;    // 10 s of 0.5 on both channels

    static QVector<float> decodeAll(const QString& path, int rate = 44100);
    static QVector<float> readWav(const QString& path, int* rate = nullptr);
    AudioExportJob job(const QString& source, const QString& target, qint64 duration);

private Q_SLOTS:
    void initTestCase();
    void init();
    void wavHeader();
    void clipIsSampleExact_data();
    void clipIsSampleExact();
    void mp3OutputKeepsItsLength();
    void shapingOnDc_data();
    void shapingOnDc();
    void copyShortcut_data();
    void copyShortcut();
    void unwritableTargetLeavesNothing();
    void selectedCuesGetUniqueNames();
    void selectedCuesReportFailures();
    void selectedCueDeletedWhileTheChooserIsOpen();
    void cancelStopsInsideALongCue();
};

QVector<float> AudioExportTest::decodeAll(const QString& path, int rate)
{
    AudioFileDecoder decoder;
    decoder.setOutputSampleRate(rate);
    if (!decoder.open(path))
        return {};
    QVector<float> all;
    QVector<float> block(8192 * 2);
    for (qint64 n; (n = decoder.read(block.data(), 8192)) > 0;)
        all.append(block.mid(0, n * 2));
    return all;
}

QVector<float> AudioExportTest::readWav(const QString& path, int* rate)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(36, 4) != "data")
        return {};
    if (rate)
        *rate = qFromLittleEndian<quint32>(bytes.constData() + 24);
    const quint32 dataBytes = qFromLittleEndian<quint32>(bytes.constData() + 40);
    if (qsizetype(44 + dataBytes) != bytes.size())
        return {};
    QVector<float> samples(dataBytes / 4);
    std::memcpy(samples.data(), bytes.constData() + 44, dataBytes);
    return samples;
}

AudioExportJob AudioExportTest::job(const QString& source, const QString& target, qint64 duration)
{
    Cue cue;
    cue.setFilePath(source);
    cue.setDuration(duration);
    AudioExportJob j = AudioExportJob::fromCue(cue);
    j.targetPath = target;
    j.logPrefix = "[Export] ";
    return j;
}

void AudioExportTest::initTestCase()
{
    QVERIFY(f.initDatabase());
    const int frames = 12 * 44100;
    QVector<float> ramp(frames * 2);
    for (int i = 0; i < frames; ++i) {
        ramp[2 * i] = float(i % 44100) / 44100.0f * 0.8f - 0.4f;
        ramp[2 * i + 1] = -ramp[2 * i];
    }
    m_ramp = f.path("ramp.wav");
    QVERIFY(TestAudio::writeWav(m_ramp, ramp, 44100, 2, TestAudio::SampleFormat::Float32));
    QVERIFY(TestAudio::encode(m_ramp, f.path("ramp.flac")));
    QVERIFY(TestAudio::encode(m_ramp, f.path("ramp.mp3"), {"-c:a", "libmp3lame", "-b:a", "192k"}));
    m_dc = f.path("dc.wav");
    QVERIFY(TestAudio::writeWav(m_dc, QVector<float>(10 * 44100 * 2, 0.5f), 44100, 2, TestAudio::SampleFormat::Float32));
}

void AudioExportTest::init()
{
    f.reset();
}

void AudioExportTest::wavHeader()
{
    const QByteArray h = WavFileWriter::header(48000, 800);
    QCOMPARE(h.size(), 44);
    QCOMPARE(h.left(4), QByteArray("RIFF"));
    QCOMPARE(qFromLittleEndian<quint32>(h.constData() + 4), 836u);
    QCOMPARE(h.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(qFromLittleEndian<quint32>(h.constData() + 16), 16u);
    QCOMPARE(qFromLittleEndian<quint16>(h.constData() + 20), quint16(3));
    QCOMPARE(qFromLittleEndian<quint16>(h.constData() + 22), quint16(2));
    QCOMPARE(qFromLittleEndian<quint32>(h.constData() + 24), 48000u);
    QCOMPARE(qFromLittleEndian<quint32>(h.constData() + 28), 384000u);
    QCOMPARE(qFromLittleEndian<quint16>(h.constData() + 32), quint16(8));
    QCOMPARE(qFromLittleEndian<quint16>(h.constData() + 34), quint16(32));
    QCOMPARE(h.mid(36, 4), QByteArray("data"));
    QCOMPARE(qFromLittleEndian<quint32>(h.constData() + 40), 800u);

    // Past the 32-bit sizes the writer refuses instead of writing a broken file.
    WavFileWriter writer;
    QVERIFY(writer.open(f.path("limit.wav"), 44100));
    const float frame[2] = {0.1f, 0.2f};
    QVERIFY(writer.write(frame, 1));
    QVERIFY(!writer.write(frame, WavFileWriter::kMaxFrames));  // checked before any sample is read
    writer.discard();
    QVERIFY(!QFile::exists(f.path("limit.wav")));
    QCOMPARE(QDir(f.dir.path()).entryList({"limit.wav*"}, QDir::Files | QDir::Hidden), QStringList());
}

void AudioExportTest::clipIsSampleExact_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("rate");
    QTest::newRow("wav") << "ramp.wav" << 44100;
    QTest::newRow("flac") << "ramp.flac" << 44100;
    QTest::newRow("mp3") << "ramp.mp3" << 44100;
    QTest::newRow("wav at 48 kHz") << "ramp.wav" << 48000;
    QTest::newRow("mp3 at 96 kHz") << "ramp.mp3" << 96000;
}

void AudioExportTest::clipIsSampleExact()
{
    QFETCH(QString, source);
    QFETCH(int, rate);
    const QString target = f.path("clip.wav");
    AudioExportJob j = job(f.path(source), target, 12000);
    j.loopStartMs = 2345;
    j.loopEndMs = 7890;
    j.clip = true;
    j.sampleRate = rate;
    QCOMPARE(AudioExporter::run(j).status, AudioExportResult::Status::Written);

    int writtenRate = 0;
    const QVector<float> clip = readWav(target, &writtenRate);
    QCOMPARE(writtenRate, rate);
    const qint64 first = qint64(2345.0 * rate / 1000.0);
    const qint64 count = qint64((7890.0 - 2345.0) * rate / 1000.0);
    QCOMPARE(clip.size(), count * 2);
    const QVector<float> reference = decodeAll(f.path(source), rate);
    QVERIFY(reference.size() >= (first + count) * 2);
    for (qint64 i = 0; i < count * 2; ++i) {
        if (clip[i] != reference[first * 2 + i])
            QFAIL(qPrintable(QString("sample %1 differs: %2 vs %3").arg(i).arg(clip[i]).arg(reference[first * 2 + i])));
    }
}

void AudioExportTest::mp3OutputKeepsItsLength()
{
    const QString target = f.path("clip.mp3");
    AudioExportJob j = job(m_ramp, target, 12000);
    j.loopStartMs = 1000;
    j.loopEndMs = 6000;
    j.clip = true;
    j.mp3 = true;
    QCOMPARE(AudioExporter::run(j).status, AudioExportResult::Status::Written);
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(4);
    QCOMPARE(quint8(head[0]), quint8(0xFF));  // a frame, nothing of ours before it
    // The info frame carries the padding: the decoded length is the clip's.
    const QVector<float> decoded = decodeAll(target);
    QCOMPARE(decoded.size() / 2, 5 * 44100);
}

void AudioExportTest::shapingOnDc_data()
{
    QTest::addColumn<int>("volumeA");
    QTest::addColumn<bool>("fades");
    QTest::addColumn<double>("pan");         // constant pan; NaN = off
    QTest::addColumn<bool>("volumeRamp");    // 1.0 at 0 s down to 0.0 at 10 s
    QTest::addColumn<bool>("clip");          // loop 2..8 s
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<double>>("left");
    QTest::addColumn<QList<double>>("right");

    const double off = std::nan("");
    QTest::newRow("volume A") << 50 << false << off << false << false << QList<qint64>{500, 5000}
                              << QList<double>{0.25, 0.25} << QList<double>{0.25, 0.25};
    QTest::newRow("fades over the loop") << 100 << true << off << false << false
                                         << QList<qint64>{1000, 2500, 5000, 7500, 9000}
                                         << QList<double>{0, 0.25, 0.5, 0.25, 0}
                                         << QList<double>{0, 0.25, 0.5, 0.25, 0};
    QTest::newRow("fades in a clip") << 100 << true << off << false << true << QList<qint64>{2500, 5000, 7500}
                                     << QList<double>{0.25, 0.5, 0.25} << QList<double>{0.25, 0.5, 0.25};
    QTest::newRow("full left") << 100 << false << -1.0 << false << false << QList<qint64>{100, 9000}
                               << QList<double>{0.5, 0.5} << QList<double>{0, 0};
    QTest::newRow("half right") << 100 << false << 0.5 << false << false << QList<qint64>{100}
                                << QList<double>{0.25} << QList<double>{0.5};
    QTest::newRow("volume envelope") << 100 << false << off << true << false << QList<qint64>{0, 5000}
                                     << QList<double>{0.5, 0.25} << QList<double>{0.5, 0.25};
    QTest::newRow("everything") << 80 << true << 0.5 << true << false << QList<qint64>{2500}
                                << QList<double>{0.5 * 0.8 * 0.5 * 0.75 * 0.5} << QList<double>{0.5 * 0.8 * 0.5 * 0.75};
}

void AudioExportTest::shapingOnDc()
{
    QFETCH(int, volumeA);
    QFETCH(bool, fades);
    QFETCH(double, pan);
    QFETCH(bool, volumeRamp);
    QFETCH(bool, clip);
    QFETCH(QList<qint64>, times);
    QFETCH(QList<double>, left);
    QFETCH(QList<double>, right);

    Cue cue;
    cue.setFilePath(m_dc);
    cue.setDuration(10000);
    cue.setLoopRange(2000, 8000, true);
    cue.setVolumeA(volumeA);
    cue.setFadeDurations(1000, 1000);
    cue.setFadeEnabled(fades);
    if (!std::isnan(pan)) {
        cue.setPanEnvelopeEnabled(true);
        cue.setPanEnvelope({0, 10000}, {pan, pan});
    }
    if (volumeRamp) {
        cue.setEnvelopeEnabled(true);
        cue.setVolumeEnvelope({0, 10000}, {1.0, 0.0});
    }
    AudioExportJob j = AudioExportJob::fromCue(cue);
    j.targetPath = f.path("dc-out.wav");
    j.processed = true;
    j.clip = clip;
    QCOMPARE(AudioExporter::run(j).status, AudioExportResult::Status::Written);
    const QVector<float> out = readWav(j.targetPath);
    QCOMPARE(out.size(), (clip ? 6 : 10) * 44100 * 2);
    for (int k = 0; k < times.size(); ++k) {
        const qint64 frame = (times[k] - (clip ? 2000 : 0)) * 44100 / 1000;
        QVERIFY2(std::fabs(out[frame * 2] - left[k]) < 1e-6,
                 qPrintable(QString("left at %1 ms: %2").arg(times[k]).arg(out[frame * 2])));
        QVERIFY2(std::fabs(out[frame * 2 + 1] - right[k]) < 1e-6,
                 qPrintable(QString("right at %1 ms: %2").arg(times[k]).arg(out[frame * 2 + 1])));
    }
}

void AudioExportTest::copyShortcut_data()
{
    QTest::addColumn<bool>("processed");
    QTest::addColumn<int>("volumeA");
    QTest::addColumn<bool>("clipOfWholeFile");
    QTest::addColumn<bool>("copied");
    QTest::newRow("raw whole file") << false << 50 << false << true;
    QTest::newRow("processed, nothing to change") << true << 100 << false << true;
    QTest::newRow("processed at volume 50") << true << 50 << false << false;
    QTest::newRow("clip over the whole file, processed") << true << 80 << true << false;
    QTest::newRow("clip over the whole file, raw") << false << 80 << true << true;
}

void AudioExportTest::copyShortcut()
{
    QFETCH(bool, processed);
    QFETCH(int, volumeA);
    QFETCH(bool, clipOfWholeFile);
    QFETCH(bool, copied);
    const QString source = f.path("int16.wav");
    QVERIFY(TestAudio::writeWav(source, TestAudio::WavSpec{}));
    AudioExportJob j = job(source, f.path("copy-out.wav"), 1000);
    j.processed = processed;
    j.volumeA = volumeA;
    j.clip = clipOfWholeFile;
    j.loopStartMs = 0;
    j.loopEndMs = 1000;
    const AudioExportResult result = AudioExporter::run(j);
    QCOMPARE(result.status, copied ? AudioExportResult::Status::Copied : AudioExportResult::Status::Written);
    QFile in(source);
    QFile out(j.targetPath);
    QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll() == out.readAll(), copied);
}

void AudioExportTest::unwritableTargetLeavesNothing()
{
    // A folder path that is a file: no write can succeed there, not even as root.
    QFile blocker(f.path("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (bool mp3 : {false, true}) {
        LogCapture log;
        AudioExportJob j = job(m_dc, f.path("not-a-folder/out") + AudioExporter::extension(mp3), 10000);
        j.mp3 = mp3;
        j.processed = true;
        j.volumeA = 50;
        QCOMPARE(AudioExporter::run(j).status, AudioExportResult::Status::Failed);
        QVERIFY(log.contains("Cannot open output file:"));
    }
    // A source that cannot be decoded: failed, and no file.
    QFile garbage(f.path("garbage.mp3"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    LogCapture log;
    AudioExportJob j = job(garbage.fileName(), f.path("garbage-out.wav"), 1000);
    j.clip = true;
    QCOMPARE(AudioExporter::run(j).status, AudioExportResult::Status::Failed);
    QVERIFY(log.contains("Decoder init failed for"));
    QVERIFY(!QFile::exists(j.targetPath));
}

void AudioExportTest::selectedCuesGetUniqueNames()
{
    const int playlist = f.newPlaylist("p");
    Cue* cue = f.addCue(playlist, m_dc, 10000);
    const QString folder = f.makeFolder("selected");
    QFile existing(folder + "/dc_1.wav");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep");
    existing.close();

    FakeExportUi ui;
    ui.folder = folder;
    SelectedCuesExport::Settings settings;
    settings.format = "WAV";
    settings.lastDir = "/start";
    settings.processed = true;
    const auto summary = SelectedCuesExport::run({{cue, 0}, {cue, 1}}, settings, ui);
    QCOMPARE(summary.succeeded, 2);
    QCOMPARE(summary.failed, 0);
    QVERIFY(QFile::exists(folder + "/dc.wav"));
    QVERIFY(QFile::exists(folder + "/dc_2.wav"));
    QFile kept(folder + "/dc_1.wav");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep"));
    QCOMPARE(ui.chooserTitles, QStringList{"选择导出目录"});
    QCOMPARE(ui.chooserStarts, QStringList{"/start"});
    QCOMPARE(QSettings().value("export/lastDir").toString(), folder);
    QCOMPARE(ui.progressLabel, QString("正在导出 2 个音频 (WAV)..."));
    QCOMPARE(ui.results.size(), 1);
    QCOMPARE(ui.results[0].title, QString("导出完成"));
    QCOMPARE(ui.results[0].text, QString("成功导出 2 个 WAV 音频文件到:\n%1").arg(folder));
    QCOMPARE(ui.statuses.value(0), qMakePair(QString("导出完成: 2 成功, 0 失败"), 3000));
}

void AudioExportTest::selectedCuesReportFailures()
{
    const int playlist = f.newPlaylist("p");
    Cue* good = f.addCue(playlist, m_dc, 10000);
    Cue* missing = f.addCue(playlist, f.path("gone.wav"), 1000);
    QFile blocker(f.path("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    FakeExportUi ui;
    ui.folder = f.path("blocked");  // a file, not a folder
    SelectedCuesExport::Settings settings;
    settings.format = "MP3";
    settings.processed = true;
    LogCapture log;
    const auto summary = SelectedCuesExport::run({{good, 0}, {missing, 1}}, settings, ui);
    QCOMPARE(summary.succeeded, 0);
    QCOMPARE(summary.failed, 2);
    QVERIFY(log.contains("[Export] File not found:"));
    QCOMPARE(ui.results.value(0).icon, ExportUi::Icon::Warning);
    // The summary says why each failed.
    QCOMPARE(ui.results.value(0).text,
             QString("成功 0 个，失败 2 个\n导出目录: %1\n失败原因：目标不是文件夹（1 个）；音频文件不存在（1 个）")
                 .arg(ui.folder));

    // Cancelled at the folder chooser: nothing happens.
    FakeExportUi none;
    QVERIFY(!SelectedCuesExport::run({{good, 0}}, settings, none).started);
    QVERIFY(none.results.isEmpty());
}

void AudioExportTest::selectedCueDeletedWhileTheChooserIsOpen()
{
    // The export waits 100 ms and then for the folder chooser: a cue deleted
    // meanwhile is counted as failed, never read.
    struct DeletingUi : FakeExportUi {
        std::function<void()> whileOpen;
        QString chooseFolder(const QString& title, const QString& start) override
        {
            whileOpen();
            return FakeExportUi::chooseFolder(title, start);
        }
    };
    const int playlist = f.newPlaylist("p");
    Cue* kept = f.addCue(playlist, m_dc, 10000);
    Cue* doomed = f.addCue(playlist, m_dc, 10000);
    DeletingUi ui;
    ui.folder = f.makeFolder("deleted");
    ui.whileOpen = [&] { QVERIFY(f.cues->deleteCue(doomed)); };
    SelectedCuesExport::Settings settings;
    settings.format = "WAV";
    const auto summary = SelectedCuesExport::run({{doomed, 0}, {kept, 1}}, settings, ui);
    QCOMPARE(summary.succeeded, 1);
    QCOMPARE(summary.failed, 1);
    QCOMPARE(QDir(ui.folder).entryList(QDir::Files).size(), 1);
}

void AudioExportTest::cancelStopsInsideALongCue()
{
    const QString longFile = f.path("long.wav");
    TestAudio::WavSpec spec;
    spec.seconds = 240;
    spec.signal = TestAudio::Signal::Noise;
    QVERIFY(TestAudio::writeWav(longFile, spec));
    const int playlist = f.newPlaylist("p");
    Cue* cue = f.addCue(playlist, longFile, 240000);
    cue->setVolumeA(70);
    const QString folder = f.makeFolder("cancel");

    FakeExportUi ui;
    ui.folder = folder;
    ui.cancelAtValue = 3;  // 3 % into the first of two cues
    SelectedCuesExport::Settings settings;
    settings.format = "MP3";
    settings.processed = true;
    const auto summary = SelectedCuesExport::run({{cue, 0}, {cue, 1}}, settings, ui);
    QCOMPARE(summary.succeeded, 0);
    QCOMPARE(summary.failed, 0);
    QVERIFY2(ui.cancelSeenAt >= 3 && ui.cancelSeenAt < 100, qPrintable(QString::number(ui.cancelSeenAt)));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(AudioExportTest)
#include "AudioExportTest.moc"
