#include "RecordingTestSupport.h"

#include "recording/AutoStopMode.h"
#include "recording/RecordingDialog.h"
#include "recording/RecordingWaveformWidget.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

using namespace RecordingTestSupport;

Q_DECLARE_METATYPE(AutoStopMode)

// The smart end: when a recording stops by itself, and how each source's
// detector is chosen, shown and switched.
class AutoStopTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QImage image(const QIcon& icon)
    {
        return icon.pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

    static QListWidgetItem* addApplication(RecordingDialog& d, const QString& name)
    {
        auto* item = new QListWidgetItem(name, d.sourceList);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, "application");
        item->setData(Qt::UserRole + 1, 1234u);
        return item;
    }

    // Steps: L = 2 s loud, Q = 2 s silent, q = 2 s too faint to count, each
    // followed by one check at recordedMs + (checks so far) x stepMs of
    // recorded time; P = the media session reported a stop, T = it reported
    // another title (no check of their own).
    void runChecks(bool mediaSession, bool switchedOn, qint64 recordedMs, qint64 stepMs, const QString& steps,
                   int stopsAtCheck, qint64 savedMs)
    {
        RecordingDialog d;
        d.listSources = nullptr;
        const QString folder = m_dir.filePath(QTest::currentTestFunction() + QString("-")
                                              + QTest::currentDataTag());
        QDir().mkpath(folder);
        d.setRecordingsFolder(folder);
        d.formatCombo->setCurrentIndex(d.formatCombo->findData("wav"));
        d.trimSilenceCheck->setChecked(false);
        d.autoStopCheck->setChecked(switchedOn);
        d.state = RecordingDialog::Recording;
        d.captureSampleRate = 44100;
        d.captureChannels = 2;
        d.accumulatedMs = recordedMs;
        d.recordClock.start();
        d.smtcActive = mediaSession;

        const QByteArray loud = sine(44100, 2000, 440, 0.5);
        const QByteArray faint = sine(44100, 2000, 440, 0.04);  // RMS 0.028
        const QByteArray quiet = silence(44100, 2000);
        int check = 0;
        int stoppedAt = -1;
        for (const QChar step : steps) {
            if (step == 'P' || step == 'T') {
                d.smtcStopRequested = true;
                if (step == 'T')
                    d.smtcTrackChanged = true;
                continue;
            }
            const QByteArray& audio = step == 'L' ? loud : step == 'q' ? faint : quiet;
            d.appendCapturedAudio(audio.constData(), int(audio.size()));
            d.accumulatedMs = recordedMs + check * stepMs;
            d.recordClock.start();
            d.checkAutoStop();
            if (d.state == RecordingDialog::Idle) {
                stoppedAt = check;
                break;
            }
            ++check;
        }
        QCOMPARE(stoppedAt, stopsAtCheck);
        if (stoppedAt < 0) {
            d.state = RecordingDialog::Idle;
            return;
        }
        QVERIFY(QTest::qWaitFor([&] { return !d.isBusyWithFiles(); }, 20000));
        QCOMPARE(d.recordingsModel->rowCount(), 1);
        QVERIFY(!d.smtcTrackChanged);
        if (savedMs >= 0) {
            const QString path = d.recordingsModel->item(0)->data(Qt::UserRole).toString();
            QCOMPARE(RecordingPcm::durationMs(wavData(path).size(), 44100, 2), savedMs);
        }
    }

    static void release(QWidget* widget)
    {
        QMouseEvent event(QEvent::MouseButtonRelease, QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)),
                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        QSettings().clear();
    }

    // Steps: L = 2 s loud, Q = 2 s silent, q = 2 s too faint to count,
    // each followed by one check; P = the media session reported a stop,
    // T = it reported another title (no check of their own).
    void checkAutoStop_data()
    {
        QTest::addColumn<bool>("mediaSession");
        QTest::addColumn<bool>("switchedOn");
        QTest::addColumn<qint64>("recordedMs");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("stopsAtCheck");  // -1: never
        QTest::addColumn<qint64>("savedMs");     // -1: not looked at

        // Silence detector.
        QTest::newRow("never loud, never stops") << false << true << qint64(20000) << "QQQQQQQQQQQQ" << -1
                                                 << qint64(-1);
        QTest::newRow("loud, then the tenth quiet check stops") << false << true << qint64(20000) << "LQQQQQQQQQQQ"
                                                                << 10 << qint64(22000);
        QTest::newRow("faint counts as quiet") << false << true << qint64(20000) << "LqqqqqqqqqqQ" << 10
                                               << qint64(-1);
        QTest::newRow("a loud check takes one quiet check back") << false << true << qint64(20000)
                                                                 << "LQQQQQLQQQQQQQ" << 12 << qint64(-1);
        QTest::newRow("never below zero") << false << true << qint64(20000) << "LLLLLQQQQQQQQQQQ" << 14
                                          << qint64(-1);
        QTest::newRow("not within the first 20 s") << false << true << qint64(0) << "LQQQQQQQQQQQ" << -1
                                                   << qint64(-1);
        QTest::newRow("switched off") << false << false << qint64(20000) << "LQQQQQQQQQQQ" << -1 << qint64(-1);

        // Media-session detector.
        QTest::newRow("a stop before any sound is forgotten") << true << true << qint64(20000) << "PQLQQQ" << -1
                                                              << qint64(-1);
        QTest::newRow("a stop after sound") << true << true << qint64(20000) << "LPQ" << 1 << qint64(4000);
        QTest::newRow("silence alone does not stop it") << true << true << qint64(20000) << "LQQQQQQQQQQQ" << -1
                                                        << qint64(-1);
        QTest::newRow("another title: the next track's start is cut") << true << true << qint64(20000) << "LLTL"
                                                                       << 2 << qint64(6000 - 800);
        QTest::newRow("another title after a quiet gap") << true << true << qint64(20000) << "LTQ" << 1
                                                         << qint64(4000 - 50);
        QTest::newRow("media session, not within 20 s") << true << true << qint64(0) << "LPQ" << -1 << qint64(-1);
    }
    void checkAutoStop()
    {
        QFETCH(bool, mediaSession);
        QFETCH(bool, switchedOn);
        QFETCH(qint64, recordedMs);
        QFETCH(QString, steps);
        QFETCH(int, stopsAtCheck);
        QFETCH(qint64, savedMs);
        runChecks(mediaSession, switchedOn, recordedMs, 0, steps, stopsAtCheck, savedMs);
    }

    // The recording starts with these steps, each 2 s of recorded time: a
    // sound heard in the first 20 s counts, though nothing stops before 20 s.
    void soundWithinTheFirst20Seconds_data()
    {
        QTest::addColumn<bool>("mediaSession");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("stopsAtCheck");  // -1: never

        // Silence: quiet from 2 s on; quiet checks count from 20 s, the tenth stops.
        QTest::newRow("silence: a short sound, then quiet") << false << QString("L" + QString(25, 'Q')) << 19;
        QTest::newRow("silence: sound until 18 s, then quiet") << false << QString(9, 'L') + QString(20, 'Q')
                                                               << 19;
        QTest::newRow("silence: never loud") << false << QString(30, 'Q') << -1;
        // Media session: the player stopped at 4 s; the stop waits for 20 s.
        QTest::newRow("media session: a short sound, then a stop") << true << QString("LQP" + QString(15, 'Q'))
                                                                   << 10;
        QTest::newRow("media session: a stop before any sound is still forgotten")
            << true << QString("PLQ" + QString(15, 'Q')) << -1;
    }
    void soundWithinTheFirst20Seconds()
    {
        QFETCH(bool, mediaSession);
        QFETCH(QString, steps);
        QFETCH(int, stopsAtCheck);
        runChecks(mediaSession, true, 0, 2000, steps, stopsAtCheck, -1);
    }

    void defaultModes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<AutoStopMode>("mode");
        QTest::newRow("player with a media session") << "vlc" << MediaSession;
        QTest::newRow("unknown program") << "someplayer" << MediaSession;
        QTest::newRow("command-line player") << "pacat" << Silence;
        QTest::newRow("letter case ignored") << "Audacity" << Silence;
        QTest::newRow("whole system") << "ALL (录制所有声音)" << MediaSession;
        QTest::newRow("a device") << "USB Mic" << MediaSession;
    }
    void defaultModes()
    {
        QFETCH(QString, name);
        QTEST(RecordingDialog::defaultAutoStopMode(name), "mode");
    }

    void storedOverrides_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("name");
        QTest::addColumn<AutoStopMode>("mode");
        QTest::newRow("switched to silence") << QStringList{"vlc|R"} << "vlc" << Silence;
        QTest::newRow("switched to the media session") << QStringList{"pacat|G"} << "pacat" << MediaSession;
        QTest::newRow("anything but G is silence") << QStringList{"vlc|x"} << "vlc" << Silence;
        QTest::newRow("the later entry wins") << QStringList{"vlc|R", "vlc|G"} << "vlc" << MediaSession;
        QTest::newRow("names are case-sensitive") << QStringList{"VLC|R"} << "vlc" << MediaSession;
        QTest::newRow("entry without a bar is skipped") << QStringList{"pacatG"} << "pacat" << Silence;
        QTest::newRow("entry with two bars is skipped") << QStringList{"vlc|R|x"} << "vlc" << MediaSession;
        QTest::newRow("an empty name") << QStringList{"|R"} << "" << Silence;
    }
    void storedOverrides()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, name);
        QSettings().setValue(SettingsKeys::kRecordingSmtcOverrides, stored);
        RecordingDialog d;
        d.listSources = nullptr;
        QTEST(d.autoStopModeFor(name), "mode");
        // Written back as read.
        d.saveSmtcOverrides();
        QCOMPARE(AutoStopModes::parseOverrides(QSettings().value(SettingsKeys::kRecordingSmtcOverrides).toStringList()),
                 AutoStopModes::parseOverrides(stored));
    }

    void decorations_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QChar>("letter");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("note");  // tooltip and title-bar text
        QTest::addColumn<QString>("noteColor");
        const QString tip = QStringLiteral("⚠ 提示：切换模式可能误判");
        const QString warning = QStringLiteral("⚠ 警告：当前智能结束模式将大概率失效！");
        QTest::newRow("known media player") << "vlc" << QStringList() << QChar('G') << QColor(31, 78, 121) << ""
                                            << "";
        QTest::newRow("unknown program") << "someplayer" << QStringList() << QChar('G') << QColor(128, 128, 128)
                                         << "" << "";
        QTest::newRow("silence by default") << "pacat" << QStringList() << QChar('R') << QColor(255, 140, 0) << ""
                                            << "";
        QTest::newRow("switched to silence") << "someplayer" << QStringList{"someplayer|R"} << QChar('R')
                                             << QColor(255, 140, 0) << tip << "#FF8C00";
        QTest::newRow("switched to the media session") << "pacat" << QStringList{"pacat|G"} << QChar('G')
                                                       << QColor(176, 64, 64) << warning << "#B04040";
        QTest::newRow("stored as its default") << "vlc" << QStringList{"vlc|G"} << QChar('G') << QColor(31, 78, 121)
                                               << "" << "";
        QTest::newRow("sets ignore letter case") << "VLC" << QStringList{"vlc|R"} << QChar('G')
                                                 << QColor(31, 78, 121) << "" << "";
    }
    void decorations()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, stored);
        QFETCH(QChar, letter);
        QFETCH(QColor, color);
        QFETCH(QString, note);
        QFETCH(QString, noteColor);
        QSettings().setValue(SettingsKeys::kRecordingSmtcOverrides, stored);
        RecordingDialog d;
        d.listSources = nullptr;
        d.show();
        QListWidgetItem* item = addApplication(d, name);
        d.onSourceItemClicked(item);
        d.updateAllSourceItemIcons();
        const QImage expected = image(RecordingDialog::makeModeIcon(letter, color));
        QCOMPARE(image(item->icon()), expected);
        QCOMPARE(item->toolTip(), note);
        QVERIFY(d.autoStopModeIcon->isVisible());
        QCOMPARE(d.autoStopModeIcon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 expected);
        QCOMPARE(d.autoStopWarningLabel->isVisible(), !note.isEmpty());
        if (!note.isEmpty()) {
            QCOMPARE(d.autoStopWarningLabel->text(), note);
            QVERIFY(d.autoStopWarningLabel->styleSheet().contains("color: " + noteColor));
        }
    }

    void clickOnTheModeIconSwitchesIt()
    {
        RecordingDialog d;
        d.listSources = nullptr;
        d.show();
        QListWidgetItem* pacat = addApplication(d, "pacat");
        auto* all = new QListWidgetItem("ALL (录制所有声音)", d.sourceList);
        all->setCheckState(Qt::Unchecked);
        all->setData(Qt::UserRole, "all");

        // The whole system has no switch.
        d.onSourceItemClicked(all);
        QVERIFY(!d.autoStopModeIcon->isVisible());
        d.toggleAutoStopMode();
        QVERIFY(d.smtcOverrides.isEmpty());

        d.onSourceItemClicked(pacat);
        QVERIFY(d.autoStopModeIcon->isVisible());
        release(d.autoStopModeIcon);
        QCOMPARE(d.autoStopModeFor("pacat"), MediaSession);
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingSmtcOverrides).toStringList(), QStringList{"pacat|G"});
        QCOMPARE(image(pacat->icon()), image(RecordingDialog::makeModeIcon('G', QColor(176, 64, 64))));
        QVERIFY(d.autoStopWarningLabel->isVisible());

        // Back to its default: the entry stays, the warning goes.
        release(d.autoStopModeIcon);
        QCOMPARE(d.autoStopModeFor("pacat"), Silence);
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingSmtcOverrides).toStringList(), QStringList{"pacat|R"});
        QVERIFY(!d.autoStopWarningLabel->isVisible());
        QVERIFY(pacat->toolTip().isEmpty());
    }
};

QTEST_MAIN(AutoStopTest)
#include "AutoStopTest.moc"
