#include "platform/TerminationSignals.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

int s_pipe[2] = {-1, -1};
struct sigaction s_previous[std::size(kSignals)];

void onSignal(int signalNumber)
{
    // Only async-signal-safe calls here.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &number, 1);
    errno = savedErrno;
}

void closePipe()
{
    for (int& fd : s_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (s_pipe[0] >= 0) {
        qWarning() << "TerminationSignals - Handlers are already installed";
        return;
    }
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning() << "TerminationSignals - Cannot create the signal pipe:" << std::strerror(errno);
        closePipe();
        return;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &s_previous[i]);

    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::onSignalPipeReadable);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &s_previous[i], nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    closePipe();
}

QString TerminationSignals::signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    default:
        return QString::number(signalNumber);
    }
}

void TerminationSignals::onSignalPipeReadable()
{
    unsigned char numbers[16];
    const ssize_t count = ::read(s_pipe[0], numbers, sizeof numbers);
    if (count <= 0)
        return;
    for (int signalNumber : kSignals)
        ::signal(signalNumber, SIG_DFL);
    Q_EMIT terminationRequested(numbers[0]);
}
