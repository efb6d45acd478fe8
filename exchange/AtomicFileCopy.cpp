#include "exchange/AtomicFileCopy.h"

#include "exchange/WriteFailureReason.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

AtomicFileCopy::Result AtomicFileCopy::copy(const QString& source, const QString& target,
                                            const std::atomic<bool>* cancel, std::atomic<int>* permille,
                                            QString* reason)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        if (reason)
            *reason = QStringLiteral("无法读取音频文件");
        return Result::Failed;
    }
    QSaveFile out(target);
    const QString folder = QFileInfo(target).absolutePath();
    if (!out.open(QIODevice::WriteOnly)) {
        if (reason)
            *reason = WriteFailureReason::describe(folder, out.error(), out.errorString());
        return Result::Failed;
    }
    const qint64 total = in.size();
    qint64 done = 0;
    auto abandon = [&](Result result) {
        if (reason && result == Result::Failed)
            *reason = in.error() != QFileDevice::NoError ? QStringLiteral("无法读取音频文件")
                                                         : WriteFailureReason::describe(folder, out.error(),
                                                                                        out.errorString());
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
    if (out.commit())
        return Result::Copied;
    if (reason)
        *reason = WriteFailureReason::describe(folder, out.error(), out.errorString());
    return Result::Failed;
}
