#include "ExchangeFixture.h"
#include "FakeExportUi.h"
#include "exchange/M3U8PlaylistIO.h"
#include "exchange/ProjectFileIO.h"
#include "exchange/SelectedCuesExport.h"
#include "support/LimitedFolder.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QDirIterator>
#include <QtTest>

#include <memory>

// Exports into a folder that cannot take them: a full disk (a 2 MB tmpfs,
// where the program runs as root) or a read-only folder. The operator is told
// why, with a warning, and nothing half-written is left behind.
class FullDiskExportTest : public QObject {
    Q_OBJECT

private:
    ExchangeFixture f;
    QString m_audio;  // 15 s (2.6 MB): larger than the whole small disk
    int m_playlist = -1;
    Cue* m_cue = nullptr;

    // The folder of the row, or nullptr (test skipped) where it cannot be made.
    std::unique_ptr<LimitedFolder> folder(const QString& kind)
    {
        const auto which = kind == QLatin1String("full") ? LimitedFolder::Kind::Full : LimitedFolder::Kind::ReadOnly;
        auto limited = std::make_unique<LimitedFolder>(which, 2 * 1024 * 1024, [](const QString&) {});
        return limited->usable() ? std::move(limited) : nullptr;
    }
    QStringList entries(const QString& path) const
    {
        QStringList all;
        QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            all.append(it.next());
        return all;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(f.initDatabase());
        m_audio = f.path("long.wav");
        TestAudio::WavSpec spec;
        spec.seconds = 15.0;
        QVERIFY(TestAudio::writeWav(m_audio, spec));
    }
    void init()
    {
        f.reset();
        m_playlist = f.newPlaylist("Show");
        m_cue = f.addCue(m_playlist, m_audio, 10000);
    }

    void exports_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << "full" << "磁盘已满";
        QTest::newRow("read-only folder") << "read-only" << "没有写入权限";
    }

    void exports()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);

        // The selected cues, rendered (processed WAV) and copied (raw WAV).
        for (bool processed : {true, false}) {
            auto limited = folder(kind);
            if (!limited)
                QSKIP("this folder cannot be made here (a full disk needs root for its tmpfs)");
            FakeExportUi ui;
            ui.folder = limited->path();
            SelectedCuesExport::Settings settings;
            settings.format = "WAV";
            settings.processed = processed;
            settings.clip = processed;
            const auto summary = SelectedCuesExport::run({{m_cue, 0}}, settings, ui);
            QCOMPARE(summary.failed, 1);
            QCOMPARE(ui.results.value(0).icon, ExportUi::Icon::Warning);
            QVERIFY2(ui.results.value(0).text.contains(reason), qPrintable(ui.results.value(0).text));
            QVERIFY2(entries(limited->path()).isEmpty(), qPrintable(entries(limited->path()).join(", ")));
        }

        // A project with its audio: the failure says why, and no empty folders stay.
        {
            auto limited = folder(kind);
            FakeExportUi ui;
            ui.folder = limited->path();
            ProjectFileIO::ExportRequest request;
            request.playlistId = m_playlist;
            request.playlistName = "Show";
            request.includeAudio = true;
            QVERIFY(!ProjectFileIO::runExport(request, ui, f.cues.get()));
            QCOMPARE(ui.messages.size(), 1);
            QCOMPARE(ui.messages[0].icon, ExportUi::Icon::Critical);
            QVERIFY2(ui.messages[0].text.contains(reason), qPrintable(ui.messages[0].text));
            QVERIFY2(entries(limited->path()).isEmpty(), qPrintable(entries(limited->path()).join(", ")));
        }

        // An M3U8 list with its audio: four of five fail for want of room.
        {
            auto limited = folder(kind);
            for (int i = 0; i < 4; ++i)
                f.addCue(m_playlist, m_audio, 10000);
            QSettings().setValue("export/m3u8/includeAudio", true);
            QSettings().setValue("export/m3u8/type", "clip");
            QSettings().setValue("export/format", "WAV");
            FakeExportUi ui;
            ui.folder = limited->path();
            const auto summary = M3U8PlaylistIO::exportM3U8({m_playlist, "Show", "/last"}, ui, f.cues.get());
            QCOMPARE(summary.succeeded, 0);
            const QString text = ui.results.isEmpty() ? ui.messages.value(0).text : ui.results[0].text;
            const ExportUi::Icon icon = ui.results.isEmpty() ? ui.messages.value(0).icon : ui.results[0].icon;
            QVERIFY(icon != ExportUi::Icon::Information);
            QVERIFY2(text.contains(reason), qPrintable(text));
            if (!summary.written)
                QVERIFY2(entries(limited->path()).isEmpty(), qPrintable(entries(limited->path()).join(", ")));
        }
    }
};

QTEST_MAIN(FullDiskExportTest)
#include "FullDiskExportTest.moc"
