#include "platform/SystemMemory.h"

#include <QtTest>

class SystemMemoryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsMemAvailable_data();
    void readsMemAvailable();
    void thisMachineReportsSomething();
};

void SystemMemoryTest::readsMemAvailable_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("usual") << QByteArray("MemTotal:       24576000 kB\nMemFree:        1000 kB\n"
                                         "MemAvailable:   16000000 kB\nBuffers:        100 kB\n")
                           << qint64(16000000) * 1024;
    QTest::newRow("missing") << QByteArray("MemTotal:       24576000 kB\nMemFree:        1000 kB\n") << qint64(-1);
    QTest::newRow("garbage value") << QByteArray("MemAvailable:   lots kB\n") << qint64(-1);
    QTest::newRow("unknown unit") << QByteArray("MemAvailable:   16 GB\n") << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
}

void SystemMemoryTest::readsMemAvailable()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, bytes);
    QCOMPARE(SystemMemory::parseMemAvailable(text), bytes);
}

void SystemMemoryTest::thisMachineReportsSomething()
{
    QVERIFY(SystemMemory::availableBytes() > 0);
}

QTEST_GUILESS_MAIN(SystemMemoryTest)
#include "SystemMemoryTest.moc"
