#include "platform/TerminationSignals.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

// SIGTERM and SIGINT arrive as a Qt signal in the event loop.
class TerminationSignalsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void signalArrivesInTheEventLoop_data();
    void signalArrivesInTheEventLoop();
    void earlierHandlersComeBack();
};

void TerminationSignalsTest::signalArrivesInTheEventLoop_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM";
    QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT";
}

void TerminationSignalsTest::signalArrivesInTheEventLoop()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, name);
    TerminationSignals termination;
    QVERIFY(termination.isInstalled());
    QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);

    QCOMPARE(::raise(signalNumber), 0);  // would end this test program without the handler
    QVERIFY(requested.wait(5000));
    QCOMPARE(requested.count(), 1);
    QCOMPARE(requested.first().first().toInt(), signalNumber);
    QCOMPARE(TerminationSignals::signalName(signalNumber), name);

    // A second signal would take its default action: the handler is gone.
    struct sigaction current {};
    QCOMPARE(::sigaction(signalNumber, nullptr, &current), 0);
    QVERIFY(current.sa_handler == SIG_DFL);
}

void TerminationSignalsTest::earlierHandlersComeBack()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction before {};
    QCOMPARE(::sigaction(SIGTERM, &ignore, &before), 0);
    {
        TerminationSignals termination;
        QVERIFY(termination.isInstalled());
        TerminationSignals second;  // one at a time
        QVERIFY(!second.isInstalled());
        struct sigaction current {};
        ::sigaction(SIGTERM, nullptr, &current);
        QVERIFY(current.sa_handler != SIG_IGN && current.sa_handler != SIG_DFL);
    }
    struct sigaction after {};
    ::sigaction(SIGTERM, &before, &after);
    QVERIFY(after.sa_handler == SIG_IGN);
    TerminationSignals again;  // the pipe was given back
    QVERIFY(again.isInstalled());
}

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "TerminationSignalsTest.moc"
