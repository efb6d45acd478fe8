#include "exchange/ExportWorker.h"

#include "exchange/ExportUi.h"
#include "platform/PoolTask.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <memory>

bool ExportWorker::run(const Work& work, ExportUi* ui, int progressBase, int progressSpan)
{
    std::atomic<bool> cancel{false};
    std::atomic<int> permille{0};
    if (!ui) {
        work(cancel, permille);
        return false;
    }

    QEventLoop loop;
    // What the work wrote is read here after wait(), which waits inside Qt
    // where ThreadSanitizer cannot see it: the hand-back is marked.
    std::unique_ptr<QThread> thread(QThread::create([&] {
        work(cancel, permille);
        PoolTask::detail::handOver(&cancel);
    }));
    // Queued: a thread that ends before exec() still ends the loop.
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer poll;
    poll.setInterval(30);
    auto check = [&] {
        if (ui->progressCancelled())
            cancel.store(true);
        if (progressSpan > 0)
            ui->progressSet(progressBase + int(qint64(progressSpan) * permille.load() / 1000));
    };
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    thread->start();
    poll.start();
    loop.exec();
    thread->wait();
    PoolTask::detail::takeOver(&cancel);
    check();
    return cancel.load();
}
