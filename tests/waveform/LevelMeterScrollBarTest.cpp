#include "waveform/LevelMeterScrollBar.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <limits>

// The level meter: the amplitude-to-meter scale, the rise and decay of the bar
// and its peak line tick by tick, what it paints, and the handle's mouse rules.
class LevelMeterScrollBarTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void levelScale_data();
    void levelScale();
    void levelColours_data();
    void levelColours();
    void decayTimerRunsOnlyWhileTheMeterMoves();
    void barRisesAtOnceAndFallsByTenPercent();
    void peakHoldsThenFalls();
    void fullToNothingEmptiesInFortyFourTicks();
    void inactiveMeterIsBlank();
    void paintsMeterPeakAndHandle();
    void mouseSetsValue_data();
    void mouseSetsValue();
    void narrowBarDoesNotDivideByZero();
};

namespace {

void tick(LevelMeterScrollBar& bar, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QMetaObject::invokeMethod(&bar, "onDecayTimer", Qt::DirectConnection);
}

bool near(const QColor& a, const QColor& b, int tolerance = 6)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

// A stopped meter: ticks come only from the test.
std::unique_ptr<LevelMeterScrollBar> makeBar(int width = 200, int height = 14)
{
    auto bar = std::make_unique<LevelMeterScrollBar>(Qt::Horizontal, nullptr);
    bar->findChild<QTimer*>()->stop();
    bar->setRange(0, 100);
    bar->setValue(50);
    bar->setFixedSize(width, height);
    return bar;
}

}  // namespace

void LevelMeterScrollBarTest::levelScale_data()
{
    QTest::addColumn<float>("amplitude");
    QTest::addColumn<float>("level");

    QTest::newRow("full scale") << 1.0f << 1.0f;
    QTest::newRow("-6 dB") << 0.5f << 0.8997f;
    QTest::newRow("-20 dB") << 0.1f << 0.6667f;
    QTest::newRow("-40 dB") << 0.01f << 0.3333f;
    QTest::newRow("-60 dB") << 0.001f << 0.0f;
    QTest::newRow("below -80 dB") << 0.00005f << 0.0f;
    QTest::newRow("over full scale") << 2.0f << 1.0f;
    QTest::newRow("negative") << -0.3f << 0.0f;
    QTest::newRow("silence") << 0.0f << 0.0f;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0.0f;
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 1.0f;
}

void LevelMeterScrollBarTest::levelScale()
{
    QFETCH(float, amplitude);
    QFETCH(float, level);
    LevelMeterScrollBar bar(Qt::Horizontal, nullptr);
    bar.setLevel(0.7f);
    bar.setLevel(amplitude);
    QVERIFY2(std::abs(bar.level() - level) < 0.0001f, qPrintable(QString::number(bar.level())));
    QCOMPARE(bar.displayLevel(), 0.0f);  // drawn from the next tick on
}

void LevelMeterScrollBarTest::levelColours_data()
{
    QTest::addColumn<float>("level");
    QTest::addColumn<QString>("colour");
    QTest::newRow("low") << 0.2f << "#4caf50";
    QTest::newRow("just below orange") << 0.69f << "#4caf50";
    QTest::newRow("orange") << 0.7f << "#ff9800";
    QTest::newRow("just below red") << 0.89f << "#ff9800";
    QTest::newRow("red") << 0.9f << "#f44336";
}

void LevelMeterScrollBarTest::levelColours()
{
    QFETCH(float, level);
    QFETCH(QString, colour);
    QCOMPARE(LevelMeterScrollBar::levelColor(level).name(), colour);
}

void LevelMeterScrollBarTest::decayTimerRunsOnlyWhileTheMeterMoves()
{
    LevelMeterScrollBar bar(Qt::Horizontal, nullptr);
    auto* timer = bar.findChild<QTimer*>();
    QVERIFY(timer);
    // Idle, nothing wakes the window.
    QVERIFY(!timer->isActive());
    bar.setLevel(0.0f);
    QVERIFY(!timer->isActive());
    bar.setLevel(1.0f);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 50);
    QVERIFY(!timer->isSingleShot());
    QTRY_COMPARE(bar.displayLevel(), 1.0f);
    // Back to silence: the bar and its peak fall to nothing, then the ticks end.
    bar.setLevel(0.0f);
    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 20000);
    QCOMPARE(bar.displayLevel(), 0.0f);
    QCOMPARE(bar.peakLevel(), 0.0f);
    // Switched off while it moves, the meter is blank and still.
    bar.setLevel(1.0f);
    QVERIFY(timer->isActive());
    bar.setActive(false);
    QVERIFY(!timer->isActive());
}

void LevelMeterScrollBarTest::barRisesAtOnceAndFallsByTenPercent()
{
    auto bar = makeBar();
    bar->setLevel(std::pow(10.0f, (0.8f * 60.0f - 60.0f) / 20.0f));  // meter 0.8
    tick(*bar);
    QVERIFY(std::abs(bar->displayLevel() - 0.8f) < 1e-4f);
    tick(*bar, 5);  // held steady
    QVERIFY(std::abs(bar->displayLevel() - 0.8f) < 1e-4f);
    QVERIFY(std::abs(bar->peakLevel() - 0.8f) < 1e-4f);

    bar->setLevel(std::pow(10.0f, (0.5f * 60.0f - 60.0f) / 20.0f));  // meter 0.5
    // Down by 10 % a tick until it passes below the level, then back on it.
    const float expected[] = {0.72f, 0.648f, 0.5832f, 0.52488f, 0.472392f, 0.5f, 0.5f};
    for (float value : expected) {
        tick(*bar);
        QVERIFY2(std::abs(bar->displayLevel() - value) < 1e-3f, qPrintable(QString::number(bar->displayLevel())));
    }
}

void LevelMeterScrollBarTest::peakHoldsThenFalls()
{
    auto bar = makeBar();
    bar->setLevel(std::pow(10.0f, (0.8f * 60.0f - 60.0f) / 20.0f));
    tick(*bar);
    bar->setLevel(std::pow(10.0f, (0.5f * 60.0f - 60.0f) / 20.0f));
    tick(*bar, 10);  // held for ten ticks
    QVERIFY(std::abs(bar->peakLevel() - 0.8f) < 1e-4f);
    tick(*bar);
    QVERIFY(std::abs(bar->peakLevel() - 0.76f) < 1e-4f);
    tick(*bar);
    QVERIFY(std::abs(bar->peakLevel() - 0.722f) < 1e-4f);
    // 5 % a tick until it is no longer above the level, which becomes the new peak.
    int ticks = 0;
    while (bar->peakLevel() > 0.5001f && ticks < 100) {
        tick(*bar);
        ++ticks;
    }
    QCOMPARE(ticks, 8);
    tick(*bar);
    QVERIFY(std::abs(bar->peakLevel() - 0.5f) < 1e-4f);
}

void LevelMeterScrollBarTest::fullToNothingEmptiesInFortyFourTicks()
{
    auto bar = makeBar();
    bar->setLevel(1.0f);
    tick(*bar);
    bar->setLevel(0.0f);
    tick(*bar, 43);
    QVERIFY(bar->displayLevel() > 0.0f);
    tick(*bar);
    QCOMPARE(bar->displayLevel(), 0.0f);
    // The peak: ten ticks held, then about 90 more.
    bar = makeBar();
    bar->setLevel(1.0f);
    tick(*bar);
    bar->setLevel(0.0f);
    int ticks = 0;
    while (bar->peakLevel() > 0.0f && ticks < 200) {
        tick(*bar);
        ++ticks;
    }
    QCOMPARE(ticks, 10 + 90);
}

void LevelMeterScrollBarTest::inactiveMeterIsBlank()
{
    auto bar = makeBar();
    bar->setLevel(1.0f);
    tick(*bar);
    QVERIFY(bar->isActive());
    bar->setActive(false);
    QCOMPARE(bar->displayLevel(), 0.0f);
    QCOMPARE(bar->peakLevel(), 0.0f);
    QCOMPARE(bar->level(), 0.0f);

    bar->setLevel(1.0f);  // stored, animated, not drawn
    tick(*bar);
    QCOMPARE(bar->displayLevel(), 1.0f);
    const QImage image = bar->grab().toImage();
    QVERIFY(near(image.pixelColor(20, 7), QColor("#444444"), 2));

    bar->setActive(true);
    const QImage shown = bar->grab().toImage();
    QVERIFY(near(shown.pixelColor(20, 7), QColor("#4CAF50")));
}

void LevelMeterScrollBarTest::paintsMeterPeakAndHandle()
{
    auto bar = makeBar(200, 14);
    bar->setValue(0);  // handle at the left edge, out of the way
    bar->setLevel(1.0f);
    tick(*bar);
    QImage image = bar->grab().toImage();
    QVERIFY(near(image.pixelColor(100, 7), QColor("#4CAF50")));  // up to 70 %: green
    QVERIFY(near(image.pixelColor(170, 7), QColor("#FF9800")));  // 80..90 %: orange
    QVERIFY(near(image.pixelColor(194, 7), QColor("#F44336")));  // from 95 %: red
    QVERIFY(near(image.pixelColor(8, 7), QColor("#2196F3"), 30));  // the handle

    // The level falls from 0.8 to 0.5: bar at half the width, peak line at 0.8.
    bar = makeBar(200, 14);
    bar->setValue(0);
    bar->setLevel(std::pow(10.0f, (0.8f * 60.0f - 60.0f) / 20.0f));
    tick(*bar);
    bar->setLevel(std::pow(10.0f, (0.5f * 60.0f - 60.0f) / 20.0f));
    tick(*bar, 6);
    QVERIFY(std::abs(bar->displayLevel() - 0.5f) < 1e-4f);
    image = bar->grab().toImage();
    QVERIFY2(image.pixelColor(160, 7).lightness() > 180, qPrintable(image.pixelColor(160, 7).name()));
    QVERIFY(near(image.pixelColor(168, 7), QColor("#444444"), 2));
    QVERIFY(near(image.pixelColor(120, 7), QColor("#444444"), 2));
    QVERIFY(near(image.pixelColor(50, 7), QColor("#4CAF50")));
}

void LevelMeterScrollBarTest::mouseSetsValue_data()
{
    QTest::addColumn<int>("pressX");
    QTest::addColumn<int>("moveX");
    QTest::addColumn<int>("afterPress");
    QTest::addColumn<int>("afterMove");

    // 200 px, range 0..100, value 50: the handle spans x 92..107.
    QTest::newRow("click left of handle jumps") << 10 << -1 << 1 << 1;
    QTest::newRow("click inside handle keeps value") << 95 << -1 << 50 << 50;
    QTest::newRow("drag by the handle keeps the grab point") << 95 << 187 << 50 << 100;
    QTest::newRow("drag past the left end") << 100 << -50 << 50 << 0;
    QTest::newRow("click right of handle centres it there") << 150 << -1 << 77 << 77;
}

void LevelMeterScrollBarTest::mouseSetsValue()
{
    QFETCH(int, pressX);
    QFETCH(int, moveX);
    QFETCH(int, afterPress);
    QFETCH(int, afterMove);
    auto bar = makeBar(200, 14);
    bar->show();
    QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
    QSignalSpy changed(bar.get(), &QScrollBar::valueChanged);

    QTest::mousePress(bar.get(), Qt::LeftButton, {}, {pressX, 7});
    QCOMPARE(bar->value(), afterPress);
    if (moveX != -1)
        QTest::mouseMove(bar.get(), {moveX, 7});
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, {moveX != -1 ? moveX : pressX, 7});
    QCOMPARE(bar->value(), afterMove);
    QCOMPARE(changed.isEmpty(), afterMove == 50 && afterPress == 50);

    // Without a button held, moves change nothing.
    QTest::mouseMove(bar.get(), {20, 7});
    QCOMPARE(bar->value(), afterMove);
}

void LevelMeterScrollBarTest::narrowBarDoesNotDivideByZero()
{
    auto bar = makeBar(12, 14);
    bar->show();
    QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, {11, 7});
    QTest::mouseMove(bar.get(), {3, 7});
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, {3, 7});
    QVERIFY(bar->value() >= 0 && bar->value() <= 100);
    QVERIFY(!bar->grab().isNull());
}

QTEST_MAIN(LevelMeterScrollBarTest)
#include "LevelMeterScrollBarTest.moc"
