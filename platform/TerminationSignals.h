#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Turns SIGTERM (a desktop logout, `kill`) and SIGINT (Ctrl+C in the terminal
// that started the program) into a Qt signal of the GUI thread, so that they
// end the program through its orderly close instead of killing it on the
// spot. The handler itself only writes the signal's number into a pipe; the
// pipe's notifier emits `terminationRequested` from the event loop.
//
// Once a signal has been delivered, the next one takes its default action:
// should the orderly close hang, a second Ctrl+C still ends the program.
// One object at a time; destroying it restores the earlier handlers.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }
    static QString signalName(int signalNumber);

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void onSignalPipeReadable();

    QSocketNotifier* m_notifier = nullptr;
};
