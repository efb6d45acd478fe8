#include "RecordingTestSupport.h"

#include "recording/RecordingDialog.h"
#include "recording/RecordingWaveformWidget.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

// The recording dialog's window: what it reads from the settings, its
// transport buttons by state, its keys and its title strip.
class RecordingWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static void addItem(RecordingDialog& d, const QString& path)
    {
        auto* item = new QStandardItem(QFileInfo(path).completeBaseName());
        item->setData(path, Qt::UserRole);
        item->setData(QVariant::fromValue<qint64>(1000), Qt::UserRole + 1);
        item->setCheckable(true);
        d.recordingsModel->appendRow(item);
    }

    // The play triangle covers the middle of the icon; the pause bars leave it empty.
    static QString iconShape(const QPushButton* button)
    {
        const QImage image = button->icon().pixmap(QSize(24, 24), 1.0).toImage();
        if (image.isNull())
            return QStringLiteral("none");
        return qAlpha(image.pixel(12, 12)) > 128 ? QStringLiteral("play") : QStringLiteral("pause");
    }

    static QString look(const QPushButton* button)
    {
        return button->styleSheet().contains(QStringLiteral("hover { background: #3a3a3a"))
                   ? QStringLiteral("on")
                   : QStringLiteral("off");
    }

    static void sendMouse(QWidget* target, QEvent::Type type, const QPoint& globalPos, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, target->mapFromGlobal(globalPos), globalPos,
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
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

    void readsItsSettings_data()
    {
        QTest::addColumn<QVariant>("format");
        QTest::addColumn<QVariant>("rate");
        QTest::addColumn<QVariant>("trim");
        QTest::addColumn<QVariant>("autoStop");
        QTest::addColumn<QString>("formatShown");
        QTest::addColumn<int>("rateShown");
        QTest::addColumn<bool>("trimShown");
        QTest::addColumn<bool>("autoStopShown");
        QTest::newRow("nothing stored") << QVariant() << QVariant() << QVariant() << QVariant() << "MP3" << 44100
                                        << true << false;
        QTest::newRow("wav at 48000") << QVariant("wav") << QVariant(48000) << QVariant(false) << QVariant(true)
                                      << "WAV" << 48000 << false << true;
        QTest::newRow("rate not offered") << QVariant("mp3") << QVariant(22050) << QVariant() << QVariant() << "MP3"
                                          << 44100 << true << false;
        QTest::newRow("format not offered") << QVariant("flac") << QVariant(32000) << QVariant() << QVariant()
                                            << "MP3" << 32000 << true << false;
    }
    void readsItsSettings()
    {
        QFETCH(QVariant, format);
        QFETCH(QVariant, rate);
        QFETCH(QVariant, trim);
        QFETCH(QVariant, autoStop);
        QSettings settings;
        using namespace SettingsKeys;
        const std::pair<const char*, QVariant> stored[] = {
            {kRecordingFormat, format}, {kRecordingSampleRate, rate}, {kRecordingTrimSilence, trim},
            {kRecordingAutoStop, autoStop}};
        for (const auto& [key, value] : stored) {
            if (value.isValid())
                settings.setValue(key, value);
        }
        RecordingDialog d;
        d.listSources = nullptr;
        QTEST(d.formatCombo->currentText(), "formatShown");
        QTEST(d.sampleRateCombo->currentData().toInt(), "rateShown");
        QTEST(d.trimSilenceCheck->isChecked(), "trimShown");
        QTEST(d.autoStopCheck->isChecked(), "autoStopShown");
        QCOMPARE(d.autoStopActive.load(), d.autoStopCheck->isChecked());
        d.autoStopCheck->toggle();
        QCOMPARE(d.autoStopActive.load(), d.autoStopCheck->isChecked());

        QVERIFY(d.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(d.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(d.size(), QSize(900, 600));

        // Closing writes back what is shown.
        d.formatCombo->setCurrentIndex(d.formatCombo->findData("wav"));
        d.sampleRateCombo->setCurrentIndex(d.sampleRateCombo->findData(32000));
        d.reject();
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingFormat).toString(), QString("wav"));
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingSampleRate).toInt(), 32000);
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingAutoStop).toBool(), d.autoStopCheck->isChecked());
    }

    void transportButtons_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("hasItems");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("tooltip");
        QTest::addColumn<QString>("playLook");
        QTest::addColumn<QString>("stopLook");
        QTest::newRow("idle, empty list") << int(RecordingDialog::Idle) << false << "play" << "" << "off" << "off";
        QTest::newRow("idle with recordings") << int(RecordingDialog::Idle) << true << "play" << "播放" << "on"
                                              << "off";
        QTest::newRow("recording") << int(RecordingDialog::Recording) << false << "pause" << "暂停录音" << "on"
                                   << "on";
        QTest::newRow("recording paused") << int(RecordingDialog::RecordingPaused) << true << "play" << "继续录音"
                                          << "on" << "on";
        QTest::newRow("playing") << int(RecordingDialog::Playing) << true << "pause" << "暂停播放" << "on" << "on";
        QTest::newRow("playback paused") << int(RecordingDialog::PlaybackPaused) << true << "play" << "继续播放"
                                         << "on" << "on";
    }
    void transportButtons()
    {
        QFETCH(int, state);
        QFETCH(bool, hasItems);
        RecordingDialog d;
        d.listSources = nullptr;
        if (hasItems)
            addItem(d, m_dir.filePath("a.wav"));
        d.state = state;
        d.updateTransportButtons();
        QTEST(iconShape(d.playPauseButton), "icon");
        QTEST(d.playPauseButton->toolTip(), "tooltip");
        QTEST(look(d.playPauseButton), "playLook");
        QTEST(look(d.stopButton), "stopLook");
        QCOMPARE(d.recordIndicator->toolTip(), QString("点击开始录音"));
        QVERIFY(d.playPauseButton->isEnabled() && d.stopButton->isEnabled());
        d.state = RecordingDialog::Idle;
    }

    void emptyListPlayDoesNothing()
    {
        RecordingDialog d;
        d.listSources = nullptr;
        d.playPauseButton->click();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
        d.stopButton->click();
        QCOMPARE(d.state, int(RecordingDialog::Idle));
    }

    void escapeClearsTheSelectionAndNeverCloses()
    {
        RecordingDialog d;
        d.listSources = nullptr;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.waveform->setPeaks(QList<PeakPair>(200, PeakPair{-0.5f, 0.5f}));
        d.waveform->setSelection(100, 900);
        QVERIFY(d.waveform->hasSelection());
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(!d.waveform->hasSelection());
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));  // never set by a close
    }

    void titleStripMovesTheDialog()
    {
        RecordingDialog d;
        d.listSources = nullptr;
        d.move(100, 100);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QPoint start = d.pos();
        const QPoint grab = d.titleBar->mapToGlobal(QPoint(200, 10));
        sendMouse(d.titleBar, QEvent::MouseButtonPress, grab, Qt::LeftButton);
        sendMouse(d.titleBar, QEvent::MouseMove, grab + QPoint(40, 25), Qt::LeftButton);
        sendMouse(d.titleBar, QEvent::MouseButtonRelease, grab + QPoint(40, 25), Qt::NoButton);
        QCOMPARE(d.pos(), start + QPoint(40, 25));

        // Dragging elsewhere moves nothing.
        const QPoint elsewhere = d.waveform->mapToGlobal(QPoint(50, 50));
        sendMouse(d.waveform, QEvent::MouseButtonPress, elsewhere, Qt::LeftButton);
        sendMouse(d.waveform, QEvent::MouseMove, elsewhere + QPoint(40, 25), Qt::LeftButton);
        sendMouse(d.waveform, QEvent::MouseButtonRelease, elsewhere + QPoint(40, 25), Qt::NoButton);
        QCOMPARE(d.pos(), start + QPoint(40, 25));
    }

    // Return stops, unless a name is being edited in the list: then it ends the rename.
    void returnFollowsTheFocus()
    {
        RecordingDialog d;
        d.listSources = nullptr;
        const QString path = m_dir.filePath("take.wav");
        QVERIFY(RecordingTestSupport::writeWav(path, RecordingTestSupport::sine(44100, 300, 440), 44100));
        addItem(d, path);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QVERIFY(d.returnShortcut->isEnabled());
        d.recordingsView->edit(d.recordingsModel->index(0, 0));
        QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QVERIFY(!d.returnShortcut->isEnabled());
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        editor->setText("renamed");
        QTest::keyClick(d.windowHandle(), Qt::Key_Return);
        QTRY_COMPARE(d.recordingsModel->item(0)->text(), QString("renamed"));
        QTRY_VERIFY(d.returnShortcut->isEnabled());
        QVERIFY(QFileInfo::exists(m_dir.filePath("renamed.wav")));
        QCOMPARE(d.state, int(RecordingDialog::Idle));
        QVERIFY(d.isVisible());
    }
};

QTEST_MAIN(RecordingWindowTest)
#include "RecordingWindowTest.moc"
