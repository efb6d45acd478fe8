#include "lists/AudioImportFiles.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace {

// In the order the file chooser names them.
const QStringList& audioSuffixes()
{
    static const QStringList suffixes{QStringLiteral("mp3"), QStringLiteral("wav"), QStringLiteral("flac"),
                                      QStringLiteral("ogg"), QStringLiteral("m4a"), QStringLiteral("aac"),
                                      QStringLiteral("wma")};
    return suffixes;
}

}  // namespace

bool AudioImportFiles::isAudioFile(const QString& path)
{
    static const QSet<QString> suffixes(audioSuffixes().cbegin(), audioSuffixes().cend());
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

QString AudioImportFiles::chooserFilter()
{
    QStringList patterns;
    for (const QString& suffix : audioSuffixes())
        patterns.append(QStringLiteral("*.") + suffix);
    return QStringLiteral("音频 (%1);;所有文件 (*.*)").arg(patterns.join(QLatin1Char(' ')));
}

QStringList AudioImportFiles::collect(const QList<QUrl>& urls, QStringList* skipped)
{
    QStringList files;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (info.isFile()) {
            if (isAudioFile(path))
                files.append(path);
            else if (skipped)
                skipped->append(info.fileName());
        } else if (info.isDir()) {
            QDirIterator walk(path, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (walk.hasNext()) {
                const QString file = walk.next();
                if (isAudioFile(file))
                    files.append(file);
            }
        }
    }
    return files;
}

QList<QUrl> AudioImportFiles::droppable(const QList<QUrl>& urls)
{
    QList<QUrl> kept;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if ((info.isFile() && isAudioFile(info.filePath())) || info.isDir())
            kept.append(url);
    }
    return kept;
}
