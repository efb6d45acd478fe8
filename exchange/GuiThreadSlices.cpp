#include "exchange/GuiThreadSlices.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

std::function<qint64()>& clockOverride()
{
    static std::function<qint64()> clock;
    return clock;
}

qint64 now()
{
    if (clockOverride())
        return clockOverride()();
    static const QElapsedTimer steady = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return steady.nsecsElapsed();
}

}  // namespace

void GuiThreadSlices::setClock(std::function<qint64()> clock)
{
    clockOverride() = std::move(clock);
}

bool GuiThreadSlices::run(const std::function<bool()>& step, const std::function<bool()>& beforeSlice)
{
    enum class End { Running, Done, Stopped };
    End end = End::Running;
    QEventLoop loop;
    // A zero timer fires once per turn of the loop, after the events that
    // are waiting (paints, timers, input) have been delivered.
    QTimer slice;
    slice.setInterval(0);
    QObject::connect(&slice, &QTimer::timeout, &loop, [&] {
        if (end != End::Running)
            return;  // beforeSlice let events run and one came back here
        auto finish = [&](End how) {
            end = how;
            slice.stop();
            loop.quit();
        };
        if (!beforeSlice())
            return finish(End::Stopped);
        const qint64 start = now();
        do {
            if (!step())
                return finish(End::Done);
        } while (now() - start < kSliceNs);
    });
    slice.start();
    loop.exec();
    // The loop also ends when the application quits: the rest is done here,
    // so that the caller sees the whole work or none of it.
    while (end == End::Running) {
        if (!step())
            end = End::Done;
    }
    return end == End::Done;
}
