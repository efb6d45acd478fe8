#include "BenchRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace BenchRun {

void runEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void idleFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

void sleepInEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        idleFor(5);
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printRuns(const char* what, std::vector<double> ms, int width)
{
    std::sort(ms.begin(), ms.end());
    const double sum = std::accumulate(ms.begin(), ms.end(), 0.0);
    std::printf("  %-*s min %6.2f  median %6.2f  mean %6.2f  max %6.2f ms  (%zu runs)\n", width, what, ms.front(),
                ms[ms.size() / 2], sum / double(ms.size()), ms.back(), ms.size());
}

}  // namespace BenchRun
