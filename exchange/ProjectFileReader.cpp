#include "exchange/ProjectFileReader.h"

#include "model/WaveformStorage.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// About 30 years: far past any audio file, far from overflowing.
constexpr double kMaxAbsMs = 1e12;

double boundedNumber(double value, double limit)
{
    return std::clamp(value, -limit, limit);
}

void readEnvelope(const QJsonValue& value, double defaultValue, bool* has, QList<qint64>* times,
                  QList<double>* values)
{
    if (!value.isArray())
        return;
    const QJsonArray points = value.toArray();
    if (points.isEmpty() || points.size() > ProjectFileReader::kMaxEnvelopePoints)
        return;
    for (const QJsonValue& point : points) {
        const QJsonObject object = point.toObject();
        times->append(ProjectFileReader::secondsToMs(object.value(QLatin1String("time")), 0));
        const QJsonValue v = object.value(QLatin1String("value"));
        const double d = v.isDouble() && std::isfinite(v.toDouble()) ? v.toDouble() : defaultValue;
        values->append(d);
    }
    *has = true;
}

// The project folder + "/CUESOUND/" + the file-name part, or empty when the
// name could leave that folder.
QString resolveSoundPath(const QString& path, const QString& baseFolder)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const QString fileName = path.mid(slash + 1);
    if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String(".."))
        return {};
    return QDir(baseFolder).absolutePath() + QStringLiteral("/CUESOUND/") + fileName;
}

QString resolvePath(const QString& stored, const QString& baseFolder, QString* skipReason)
{
    if (stored.startsWith(QLatin1String("CUESOUND/"), Qt::CaseInsensitive)
        || stored.startsWith(QLatin1String("CUESOUND\\"), Qt::CaseInsensitive)) {
        const QString resolved = resolveSoundPath(stored, baseFolder);
        if (resolved.isEmpty())
            *skipReason = QStringLiteral("unsafe CUESOUND path");
        return resolved;
    }
    QString path = stored;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(path))
        return path;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:/"));
    if (drive.match(path).hasMatch())
        return path;  // made on Windows; names nothing here
    return QDir::cleanPath(QDir(baseFolder).absolutePath() + QLatin1Char('/') + path);
}

}  // namespace

qint64 ProjectFileReader::secondsToMs(const QJsonValue& value, qint64 fallback)
{
    if (!value.isDouble())
        return fallback;
    const double ms = value.toDouble() * 1000.0;
    if (!std::isfinite(ms))
        return fallback;
    return qint64(std::llround(boundedNumber(ms, kMaxAbsMs)));
}

int ProjectFileReader::fractionToVolume(const QJsonValue& value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double volume = value.toDouble() * 100.0;
    if (!std::isfinite(volume))
        return fallback;
    return int(std::lround(boundedNumber(volume, 1e6)));
}

int ProjectFileReader::toInt(const QJsonValue& value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double d = value.toDouble();
    if (!std::isfinite(d))
        return fallback;
    return int(std::lround(boundedNumber(d, double(std::numeric_limits<int>::max()))));
}

ProjectDocument ProjectFileReader::parse(const QByteArray& bytes)
{
    ProjectDocument document;
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject()) {
        document.error = ProjectDocument::Error::NotAnObject;
        return document;
    }
    const QJsonObject root = json.object();
    document.version = root.value(QLatin1String("version")).toString();
    document.playlistName = root.value(QLatin1String("playlistName")).toString();
    document.cues = root.value(QLatin1String("cues")).toArray();
    document.playMode = toInt(root.value(QLatin1String("playMode")), 0);
    if (document.playlistName.isEmpty())
        document.error = ProjectDocument::Error::EmptyName;
    else if (document.cues.isEmpty())
        document.error = ProjectDocument::Error::NoCues;
    return document;
}

ProjectCueEntry ProjectFileReader::cueEntry(const QJsonValue& value, const QString& baseFolder)
{
    ProjectCueEntry entry;
    const QJsonObject cue = value.toObject();
    auto text = [&cue](const char* key) -> std::optional<QString> {
        const QJsonValue v = cue.value(QLatin1String(key));
        if (v.isUndefined())
            return std::nullopt;
        return v.toString();
    };

    const QString stored = cue.value(QLatin1String("filePath")).toString();
    if (stored.isEmpty()) {
        entry.skipReason = QStringLiteral("empty filePath");
        return entry;
    }
    entry.filePath = resolvePath(stored, baseFolder, &entry.skipReason);
    if (entry.filePath.isEmpty())
        return entry;

    entry.durationMs = std::max<qint64>(secondsToMs(cue.value(QLatin1String("duration")), 0), 0);
    entry.name = text("name");
    entry.alias = text("alias");
    entry.remark = text("remark");
    entry.color = text("color");

    const QJsonValue volumeA = cue.value(QLatin1String("volumeA"));
    if (!volumeA.isUndefined())
        entry.volumeA = fractionToVolume(volumeA, 100);
    else if (cue.contains(QLatin1String("volume")))
        entry.volumeA = fractionToVolume(cue.value(QLatin1String("volume")), 100);
    if (cue.contains(QLatin1String("volumeB")))
        entry.volumeB = fractionToVolume(cue.value(QLatin1String("volumeB")), 100);
    if (cue.contains(QLatin1String("volumeChoose")))
        entry.volumeChoose = toInt(cue.value(QLatin1String("volumeChoose")), 0);

    entry.startMs = std::max<qint64>(secondsToMs(cue.value(QLatin1String("start")), 0), 0);
    entry.endMs = std::max<qint64>(secondsToMs(cue.value(QLatin1String("end")), 0), 0);

    if (cue.contains(QLatin1String("preWait")))
        entry.preWaitMs = toInt(cue.value(QLatin1String("preWait")), 0);
    entry.fadeInMs = secondsToMs(cue.value(QLatin1String("fadeIn")), 0);
    entry.fadeOutMs = secondsToMs(cue.value(QLatin1String("fadeOut")), 0);
    entry.fadeEnabled = cue.value(QLatin1String("fadeEnabled")).toBool(false);
    if (cue.contains(QLatin1String("playCount")))
        entry.loopCount = toInt(cue.value(QLatin1String("playCount")), 1);

    readEnvelope(cue.value(QLatin1String("volumeEnvelope")), 1.0, &entry.hasVolumeEnvelope, &entry.volumeTimes,
                 &entry.volumeGains);
    readEnvelope(cue.value(QLatin1String("panEnvelope")), 0.0, &entry.hasPanEnvelope, &entry.panTimes,
                 &entry.panPositions);

    const QJsonValue waveform = cue.value(QLatin1String("waveformData"));
    const QJsonValue target = cue.value(QLatin1String("waveformTargetPoints"));
    if (!waveform.isUndefined() && !target.isUndefined()) {
        const QString encoded = waveform.toString();
        entry.waveformTargetPoints = toInt(target, 2000);
        if (!encoded.isEmpty()) {
            const auto decoded =
                QByteArray::fromBase64Encoding(encoded.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
            // Only a blob that reads back as peaks is stored: anything else
            // would sit in the database as a waveform that never shows.
            if (decoded && !decoded.decoded.isEmpty()
                && !WaveformStorage::decodeCompressed(decoded.decoded, nullptr).isEmpty())
                entry.waveformBlob = decoded.decoded;
            else
                entry.waveformRejected = true;
        }
    }
    return entry;
}
