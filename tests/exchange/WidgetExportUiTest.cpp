#include "exchange/BusyOverlay.h"
#include "exchange/ExportWorker.h"
#include "exchange/WidgetExportUi.h"

#include <QApplication>
#include <QLabel>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>

// The real dialogs behind the export seam: the busy overlay and its bar, and
// a progress dialog that keeps repainting and can be cancelled while the
// work runs on its worker thread.
class WidgetExportUiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void breathingBar();
    void busyOverlay();
    void cancelReachesWorkInProgress();
};

void WidgetExportUiTest::breathingBar()
{
    const QImage bar = BusyOverlay::breathingBarPixmap(1.0).toImage();
    QCOMPARE(bar.size(), QSize(200, 4));
    QVERIFY(qAlpha(bar.pixel(100, 2)) > 0);
    QVERIFY(qBlue(bar.pixel(100, 2)) > qRed(bar.pixel(100, 2)));  // the blue glow in the middle
}

void WidgetExportUiTest::busyOverlay()
{
    QWidget parent;
    BusyOverlay overlay(&parent);
    QCOMPARE(overlay.size(), QSize(200, 80));
    QVERIFY(overlay.windowFlags() & Qt::FramelessWindowHint);
    const QList<QLabel*> labels = overlay.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels[0]->text(), QString("正在打开文件夹选择器..."));
}

void WidgetExportUiTest::cancelReachesWorkInProgress()
{
    QWidget parent;
    parent.show();
    WidgetExportUi ui(&parent);
    ui.progressStart("导出进度", "正在导出 1 个音频...", 100);
    int ticks = 0;  // the GUI thread keeps running its timers meanwhile
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    QTimer::singleShot(400, [&] {
        auto* dialog = parent.findChild<QProgressDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());  // shown after its 300 ms delay
        QVERIFY(dialog->value() > 0);
        dialog->cancel();
    });
    std::atomic<bool> sawCancel{false};
    const bool cancelled = ExportWorker::run(
        [&](const std::atomic<bool>& cancel, std::atomic<int>& permille) {
            for (int i = 0; i < 1000 && !cancel.load(); ++i) {
                permille.store(std::min(i, 999));
                QThread::msleep(10);
            }
            sawCancel = cancel.load();
        },
        &ui, 0, 100);
    QVERIFY(cancelled);
    QVERIFY(sawCancel);
    QVERIFY(ticks > 10);
    ui.progressEnd();
    QVERIFY(!parent.findChild<QProgressDialog*>());
}

QTEST_MAIN(WidgetExportUiTest)
#include "WidgetExportUiTest.moc"
