#include "exchange/M3U8Text.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

QString M3U8Text::title(const QString& alias, const QString& audioFilePath)
{
    QString text = alias.isEmpty() ? QFileInfo(audioFilePath).completeBaseName() : alias;
    static const QRegularExpression breaks(QStringLiteral("[,\\r\\n]"));
    return text.remove(breaks);
}

QByteArray M3U8Text::write(const QList<Entry>& entries)
{
    QString text = QStringLiteral("#EXTM3U\n#EXT-X-VERSION:3\n");
    for (const Entry& entry : entries) {
        text += QStringLiteral("#EXTINF:%1,%2\n").arg(double(entry.durationMs) / 1000.0, 0, 'f', 2).arg(entry.title);
        QString location = entry.location;
        location.replace(QLatin1Char('\\'), QLatin1Char('/'));
        location.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
        text += location + QLatin1Char('\n');
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString M3U8Text::resolve(const QString& line, const QString& folder)
{
    QString path = line;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    // A drive letter keeps its path as it is: it names nothing here.
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:/"));
    if (drive.match(path).hasMatch())
        return path;
    return QDir::cleanPath(QDir(folder).absolutePath() + QLatin1Char('/') + path);
}

M3U8Text::Reading M3U8Text::read(const QByteArray& bytes, const QString& folder)
{
    Reading reading;
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QString text = QString::fromUtf8(data);
    static const QRegularExpression url(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+://"));
    bool first = true;
    for (QStringView raw : QStringView(text).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed().toString();
        if (line.isEmpty())
            continue;
        if (first) {
            reading.empty = false;
            reading.hasHeader = line.startsWith(QLatin1String("#EXTM3U"));
            first = false;
        }
        if (line.startsWith(QLatin1Char('#')))
            continue;
        if (url.match(line).hasMatch()) {
            const QUrl parsed(line);
            if (parsed.isLocalFile() && !parsed.toLocalFile().isEmpty())
                reading.paths.append(QDir::cleanPath(parsed.toLocalFile()));
            else
                reading.urls.append(line);
            continue;
        }
        reading.paths.append(resolve(line, folder));
    }
    return reading;
}
