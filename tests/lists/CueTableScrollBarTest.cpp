#include "TrackListFixture.h"
#include "support/HeldThreadPool.h"
#include "support/TestTiming.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>

// The cue table's scroll bar spans the whole table. Qt's raster engine hands
// large non-solid fills (the Fusion bar's gradients) to the global pool and
// waits for them; while a waveform parse holds one of a two-thread pool,
// that is the thread kept free, and every repaint of the bar took it.
class CueTableScrollBarTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void paintsWithoutThePool_data();
    void paintsWithoutThePool();

private:
    TrackListFixture f;
};

void CueTableScrollBarTest::initTestCase()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    QVERIFY(f.initDatabase());
}

void CueTableScrollBarTest::paintsWithoutThePool_data()
{
    QTest::addColumn<int>("height");
    QTest::newRow("small window") << 300;
    QTest::newRow("full screen") << 1000;
}

void CueTableScrollBarTest::paintsWithoutThePool()
{
    QFETCH(int, height);
    f.setUp();
    QScrollBar* bar = f.table->verticalScrollBar();
    bar->setRange(0, 10000);
    bar->resize(bar->sizeHint().width(), height);

    constexpr int kHeldMs = 500;
    HeldThreadPool held(kHeldMs);
    QImage image(bar->size(), QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer timer;
    timer.start();
    for (int value : {0, 5000, 10000}) {
        bar->setValue(value);
        bar->render(&image);
    }
    const qint64 paintMs = timer.elapsed();
    held.release();
    f.tearDown();
    QVERIFY2(paintMs < kHeldMs / 2 * TestTiming::kSlowdown,
             qPrintable(QStringLiteral("three paints of the bar took %1 ms, waiting for the pool").arg(paintMs)));
}

QTEST_MAIN(CueTableScrollBarTest)
#include "CueTableScrollBarTest.moc"
