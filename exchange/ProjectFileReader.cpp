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

// Values outside low..high are kept: the cue clamps volume gains and refuses
// a pan envelope with such a position; outOfRange says which it is.
void readEnvelope(const QJsonValue& value, double defaultValue, double low, double high, const QString& name,
                  const QString& outOfRange, bool* has, QList<qint64>* times, QList<double>* values,
                  ImportNotes* notes)
{
    if (!value.isArray())
        return;
    const QJsonArray points = value.toArray();
    if (points.isEmpty())
        return;
    if (points.size() > ProjectFileReader::kMaxEnvelopePoints) {
        notes->add(QStringLiteral("%1的点超过 %2 个，该包络未导入").arg(name).arg(ProjectFileReader::kMaxEnvelopePoints));
        return;
    }
    bool outside = false;
    for (const QJsonValue& point : points) {
        const QJsonObject object = point.toObject();
        times->append(ProjectFileReader::secondsToMs(object.value(QLatin1String("time")), 0));
        const QJsonValue v = object.value(QLatin1String("value"));
        const double d = v.isDouble() && std::isfinite(v.toDouble()) ? v.toDouble() : defaultValue;
        outside = outside || d < low || d > high;
        values->append(d);
    }
    if (outside)
        notes->add(QStringLiteral("%1的值超出 %2 到 %3，%4").arg(name).arg(low).arg(high).arg(outOfRange));
    *has = true;
}

template <typename T>
T bounded(T value, T low, T high, const QString& what, ImportNotes* notes)
{
    if (value >= low && value <= high)
        return value;
    notes->add(what);
    return std::clamp(value, low, high);
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
    if (document.playMode < 0 || document.playMode > kMaxPlayMode) {
        document.playMode = kFallbackPlayMode;
        document.playModeAdjusted = true;
    }
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

    ImportNotes* notes = &entry.notes;
    const QString volumeRange = QStringLiteral("音量超出 0 到 100，已限制到范围内");
    const QJsonValue volumeA = cue.value(QLatin1String("volumeA"));
    if (!volumeA.isUndefined())
        entry.volumeA = bounded(fractionToVolume(volumeA, 100), 0, 100, volumeRange, notes);
    else if (cue.contains(QLatin1String("volume")))
        entry.volumeA = bounded(fractionToVolume(cue.value(QLatin1String("volume")), 100), 0, 100, volumeRange, notes);
    if (cue.contains(QLatin1String("volumeB")))
        entry.volumeB = bounded(fractionToVolume(cue.value(QLatin1String("volumeB")), 100), 0, 100, volumeRange, notes);
    if (cue.contains(QLatin1String("volumeChoose"))) {
        const int choose = toInt(cue.value(QLatin1String("volumeChoose")), 0);
        entry.volumeChoose = choose == 1 ? 1 : 0;
        if (choose != 0 && choose != 1)
            notes->add(QStringLiteral("音量选择不是 A 或 B，已改为 A"));
    }

    entry.startMs = std::max<qint64>(secondsToMs(cue.value(QLatin1String("start")), 0), 0);
    entry.endMs = std::max<qint64>(secondsToMs(cue.value(QLatin1String("end")), 0), 0);

    if (cue.contains(QLatin1String("preWait"))) {
        const int preWait = toInt(cue.value(QLatin1String("preWait")), 0);
        if (preWait < 0)
            notes->add(QStringLiteral("预等待为负数，已改为 0 秒"));
        else if (preWait > kMaxPreWaitMs)
            notes->add(QStringLiteral("预等待超过 60 秒，已改为 60 秒"));
        entry.preWaitMs = std::clamp(preWait, 0, kMaxPreWaitMs);
    }
    const QString fadeRange = QStringLiteral("淡入淡出时间超出 0 到 20 秒，已限制到范围内");
    entry.fadeInMs = bounded(secondsToMs(cue.value(QLatin1String("fadeIn")), 0), qint64(0), kMaxFadeMs, fadeRange, notes);
    entry.fadeOutMs =
        bounded(secondsToMs(cue.value(QLatin1String("fadeOut")), 0), qint64(0), kMaxFadeMs, fadeRange, notes);
    entry.fadeEnabled = cue.value(QLatin1String("fadeEnabled")).toBool(false);
    if (cue.contains(QLatin1String("playCount"))) {
        // 0 means endless: a negative count is no request for that.
        const int count = toInt(cue.value(QLatin1String("playCount")), 1);
        if (count < 0)
            notes->add(QStringLiteral("播放次数为负数，已改为 1 次"));
        else if (count > kMaxLoopCount)
            notes->add(QStringLiteral("播放次数超过 99 次，已改为 99 次"));
        entry.loopCount = count < 0 ? 1 : std::min(count, kMaxLoopCount);
    }

    readEnvelope(cue.value(QLatin1String("volumeEnvelope")), 1.0, 0.0, 1.0, QStringLiteral("音量包络"),
                 QStringLiteral("已限制到范围内"), &entry.hasVolumeEnvelope, &entry.volumeTimes, &entry.volumeGains,
                 notes);
    readEnvelope(cue.value(QLatin1String("panEnvelope")), 0.0, -1.0, 1.0, QStringLiteral("声像包络"),
                 QStringLiteral("该包络未导入"), &entry.hasPanEnvelope, &entry.panTimes, &entry.panPositions, notes);

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
            if (entry.waveformRejected)
                notes->add(QStringLiteral("波形数据无法读取，未导入（之后会重新生成）"));
        }
    }
    return entry;
}
