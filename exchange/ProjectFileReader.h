#pragma once

#include "exchange/ImportNotes.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// One entry of a project file's "cues" array, read and checked but not yet
// applied to a cue: times in whole milliseconds (rounded), volumes 0..100
// (rounded), paths resolved, the waveform blob validated.
struct ProjectCueEntry {
    QString filePath;  // empty: the entry is skipped
    qint64 durationMs = 0;
    std::optional<QString> name;
    std::optional<QString> alias;
    std::optional<QString> remark;
    std::optional<QString> color;
    int volumeA = 100;
    int volumeB = 100;
    std::optional<int> volumeChoose;
    qint64 startMs = 0;
    qint64 endMs = 0;  // 0: absent
    std::optional<int> preWaitMs;
    qint64 fadeInMs = 0;
    qint64 fadeOutMs = 0;
    bool fadeEnabled = false;  // an absent "fadeEnabled" means off
    std::optional<int> loopCount;
    bool hasVolumeEnvelope = false;
    QList<qint64> volumeTimes;
    QList<double> volumeGains;
    bool hasPanEnvelope = false;
    QList<qint64> panTimes;
    QList<double> panPositions;
    QByteArray waveformBlob;  // stored as it is; empty when absent or unusable
    int waveformTargetPoints = 2000;
    bool waveformRejected = false;  // present but not a waveform we can read
    QString skipReason;             // why filePath is empty
    ImportNotes notes;              // values brought into range, parts left out
};

// The top level of a project file.
struct ProjectDocument {
    enum class Error { None, NotAnObject, EmptyName, NoCues };
    Error error = Error::None;
    QString version;
    QString playlistName;
    int playMode = 0;  // 0..5; a value out of range becomes ListLoop (1)
    bool playModeAdjusted = false;
    QJsonArray cues;
    bool versionSupported() const { return version == QLatin1String("1.0"); }
};

// Reads project files (".crv", JSON) without touching the database or the
// file system: files may come from anywhere, so every value is checked and
// bounded here before any cue sees it.
class ProjectFileReader {
public:
    static constexpr qint64 kMaxFileBytes = qint64(256) * 1024 * 1024;
    // Envelopes with more points than this are dropped: no drawn envelope
    // has them, and the cue sorts its points in quadratic time.
    static constexpr int kMaxEnvelopePoints = 4096;
    // The ranges the cue settings bar allows.
    static constexpr int kMaxPreWaitMs = 60000;
    static constexpr int kMaxLoopCount = 99;
    static constexpr qint64 kMaxFadeMs = 20000;
    static constexpr int kMaxPlayMode = 5;
    static constexpr int kFallbackPlayMode = 1;

    static ProjectDocument parse(const QByteArray& bytes);
    // baseFolder: the folder of the project file; it resolves "CUESOUND/"
    // paths (any letter case, "/" or "\") and other relative paths.
    static ProjectCueEntry cueEntry(const QJsonValue& value, const QString& baseFolder);

    // Seconds to whole milliseconds, rounded; non-numbers and non-finite
    // values give fallback, huge values are bounded.
    static qint64 secondsToMs(const QJsonValue& value, qint64 fallback = 0);
    // A fraction (1.0 = 100) to a volume, rounded; the cue clamps it.
    static int fractionToVolume(const QJsonValue& value, int fallback = 100);
    // An integer that may have been written as a double; rounded and bounded.
    static int toInt(const QJsonValue& value, int fallback);
};
