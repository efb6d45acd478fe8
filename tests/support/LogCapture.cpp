#include "support/LogCapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_mutex;
QStringList g_lines;
}  // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_mutex);
    g_lines.clear();
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

void LogCapture::handler(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_mutex);
    g_lines.append(message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

int LogCapture::count(const QString& fragment) const
{
    QMutexLocker lock(&g_mutex);
    int n = 0;
    for (const QString& line : g_lines)
        n += line.contains(fragment) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&g_mutex);
    g_lines.clear();
}
