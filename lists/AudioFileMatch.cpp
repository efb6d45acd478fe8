#include "lists/AudioFileMatch.h"

#include "audiofile/AudioFileDecoder.h"
#include "audiofile/AudioFileProbe.h"
#include "model/Cue.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>

#include <cstdlib>
#include <vector>

namespace {

const QString kDuration = QStringLiteral("duration");
const QString kFileSize = QStringLiteral("fileSize");
const QString kFileName = QStringLiteral("fileName");
const QString kBaseName = QStringLiteral("baseName");

// The decoder's first output frames; enough to know its packets decode.
constexpr qint64 kProbeFrames = 4096;

}  // namespace

QVariantMap AudioFileMatch::audioFileInfo(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {{kDuration, probeDurationMs(path)},
            {kFileSize, info.size()},
            {kFileName, info.fileName()},
            {kBaseName, info.completeBaseName()}};
}

QVariantMap AudioFileMatch::expectedInfo(const Cue& cue)
{
    const QFileInfo info(cue.filePath());
    return {{kDuration, cue.durationMs()},
            {kFileSize, qint64(0)},
            {kFileName, info.fileName()},
            {kBaseName, info.completeBaseName()}};
}

bool AudioFileMatch::matchesAudioInfo(const QVariantMap& expected, const QVariantMap& found)
{
    if (expected.isEmpty() || found.isEmpty())
        return false;
    const QString expectedName = expected.value(kFileName).toString();
    const QString foundName = found.value(kFileName).toString();
    if (!expectedName.isEmpty() && !foundName.isEmpty() && expectedName != foundName)
        return false;
    const qint64 expectedMs = expected.value(kDuration).toLongLong();
    const qint64 foundMs = found.value(kDuration).toLongLong();
    if (expectedMs > 0 && foundMs > 0 && std::llabs(expectedMs - foundMs) > kDurationToleranceMs)
        return false;
    return true;
}

QStringList AudioFileMatch::findFilesByName(const QString& folder, const QString& fileName)
{
    QStringList found;
    if (folder.isEmpty() || fileName.isEmpty())
        return found;
    QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        walk.next();
        if (walk.fileName() == fileName)
            found.append(walk.filePath());
    }
    return found;
}

QString AudioFileMatch::nearestExistingDir(const QString& path)
{
    if (path.isEmpty())
        return QDir::homePath();
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir())
        return folder;
    const QString parent = QFileInfo(folder).absolutePath();
    if (QFileInfo(parent).isDir())
        return parent;
    return QStringLiteral("/");
}

bool AudioFileMatch::decodesAudio(const QString& path)
{
    AudioFileDecoder decoder;
    if (!decoder.open(path))
        return false;
    std::vector<float> frames(kProbeFrames * AudioFileDecoder::kChannels);
    return decoder.read(frames.data(), kProbeFrames) > 0;
}

QList<AudioFileMatch::Candidate> AudioFileMatch::searchFolder(const QString& folder, const QList<Wanted>& wanted)
{
    QList<Candidate> result(wanted.size());
    if (folder.isEmpty())
        return result;
    const QDir dir(folder);

    // Names not lying right in the folder are looked for in one walk.
    QHash<QString, QStringList> below;
    for (const Wanted& file : wanted) {
        if (!file.fileName.isEmpty() && !QFileInfo(dir.filePath(file.fileName)).isFile())
            below.insert(file.fileName, {});
    }
    if (!below.isEmpty()) {
        QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
        while (walk.hasNext()) {
            walk.next();
            const auto entry = below.find(walk.fileName());
            if (entry != below.end())
                entry->append(walk.filePath());
        }
    }

    QHash<QString, QVariantMap> probed;
    auto infoOf = [&probed](const QString& path) {
        auto known = probed.constFind(path);
        if (known == probed.constEnd())
            known = probed.insert(path, audioFileInfo(path));
        return *known;
    };

    for (int i = 0; i < wanted.size(); ++i) {
        const Wanted& file = wanted[i];
        if (file.fileName.isEmpty())
            continue;
        Candidate& candidate = result[i];
        const QString direct = dir.filePath(file.fileName);
        if (QFileInfo(direct).isFile()) {
            candidate.path = direct;
        } else {
            const QStringList paths = below.value(file.fileName);
            if (paths.size() == 1) {
                candidate.path = paths.first();
            } else if (paths.size() > 1) {
                // The nearest length wins; a file that gives no length (it
                // cannot be decoded) only when no other is there.
                qint64 best = -1;
                for (const QString& path : paths) {
                    const qint64 ms = infoOf(path).value(kDuration).toLongLong();
                    const qint64 distance = ms > 0 ? std::llabs(ms - file.durationMs) : -1;
                    if (distance >= 0 && (best < 0 || distance < best)) {
                        best = distance;
                        candidate.path = path;
                    }
                }
                if (candidate.path.isEmpty())
                    candidate.path = paths.first();
            }
        }
        if (candidate.path.isEmpty())
            continue;
        candidate.info = infoOf(candidate.path);
        const QVariantMap expected{{kDuration, file.durationMs}, {kFileName, file.fileName}};
        candidate.accepted = matchesAudioInfo(expected, candidate.info) && decodesAudio(candidate.path);
    }
    return result;
}
