#include "exchange/AtomicFileCopy.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

AtomicFileCopy::Result AtomicFileCopy::copy(const QString& source, const QString& target,
                                            const std::atomic<bool>* cancel, std::atomic<int>* permille)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Result::Failed;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return Result::Failed;
    const qint64 total = in.size();
    qint64 done = 0;
    auto abandon = [&out](Result result) {
        out.cancelWriting();
        out.commit();
        return result;
    };
    while (!in.atEnd()) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return abandon(Result::Cancelled);
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() || out.write(block) != block.size())
            return abandon(Result::Failed);
        done += block.size();
        if (permille && total > 0)
            permille->store(int(std::min<qint64>(done * 1000 / total, 1000)), std::memory_order_relaxed);
    }
    if (in.error() != QFileDevice::NoError || done != total)
        return abandon(Result::Failed);
    return out.commit() ? Result::Copied : Result::Failed;
}
