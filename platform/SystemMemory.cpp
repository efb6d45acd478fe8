#include "platform/SystemMemory.h"

#include <QFile>
#include <QList>

namespace SystemMemory {

qint64 parseMemAvailable(const QByteArray& meminfo)
{
    for (const QByteArray& line : meminfo.split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QList<QByteArray> fields = line.mid(13).simplified().split(' ');
        bool ok = false;
        const qint64 value = fields.value(0).toLongLong(&ok);
        if (!ok || value < 0)
            return -1;
        const QByteArray unit = fields.value(1).toLower();
        if (unit == "kb")
            return value * 1024;
        if (unit.isEmpty() || unit == "b")
            return value;
        return -1;
    }
    return -1;
}

qint64 availableBytes()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // A proc file reports size 0; readAll reads until the end regardless.
    return parseMemAvailable(file.readAll());
}

}  // namespace SystemMemory
