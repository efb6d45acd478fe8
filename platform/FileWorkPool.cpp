#include "platform/FileWorkPool.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace FileWorkPool {

namespace {
// Two: an existence check need not wait behind a long run of length probes.
constexpr int kThreads = 2;
}  // namespace

QThreadPool* instance()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setObjectName(QStringLiteral("FileWorkPool"));
        pool->setMaxThreadCount(kThreads);
    }
    return pool;
}

}  // namespace FileWorkPool
