#include "platform/EarlyWriteback.h"

#include <QTemporaryFile>
#include <QtTest>

class EarlyWritebackTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsWholeSteps_data();
    void startsWholeSteps();
    void noFileStartsNothing();
};

void EarlyWritebackTest::startsWholeSteps_data()
{
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<qint64>("started");
    constexpr qint64 step = 1 << 20;
    QTest::newRow("less than a step") << QList<qint64>{step - 1} << qint64(0);
    QTest::newRow("one step") << QList<qint64>{step} << step;
    QTest::newRow("a step and a half") << QList<qint64>{step + step / 2} << step;
    QTest::newRow("growing by halves") << QList<qint64>{step / 2, step, step + step / 2, 2 * step + 1} << 2 * step;
    QTest::newRow("many steps at once") << QList<qint64>{5 * step + 7} << 5 * step;
}

void EarlyWritebackTest::startsWholeSteps()
{
    QFETCH(QList<qint64>, sizes);
    QFETCH(qint64, started);
    QTemporaryFile file;
    QVERIFY(file.open());
    EarlyWriteback writeback(1 << 20);
    const QByteArray chunk(64 * 1024, 'x');
    for (qint64 size : sizes) {
        while (file.size() < size)
            QVERIFY(file.write(chunk.constData(), std::min<qint64>(chunk.size(), size - file.size())) > 0);
        QVERIFY(file.flush());
        writeback.written(file.handle(), file.size());
    }
    QCOMPARE(writeback.started(), started);
    writeback.reset();
    QCOMPARE(writeback.started(), qint64(0));
}

void EarlyWritebackTest::noFileStartsNothing()
{
    EarlyWriteback writeback(4096);
    writeback.written(-1, 1 << 20);
    QCOMPARE(writeback.started(), qint64(0));
}

QTEST_GUILESS_MAIN(EarlyWritebackTest)
#include "EarlyWritebackTest.moc"
