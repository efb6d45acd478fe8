#pragma once

#include "exchange/AudioExportJob.h"

#include <QSet>
#include <QString>

#include <atomic>

class Cue;
class ExportUi;

struct AudioExportResult {
    enum class Status { Written, Copied, Failed, Cancelled };
    Status status = Status::Failed;
    qint64 frames = 0;
    QString reason;  // why it failed, in the operator's words ("磁盘已满", ...)
    bool succeeded() const { return status == Status::Written || status == Status::Copied; }
};

// The audio export of one cue: the region, the copy shortcut, the decode at
// the requested rate, the shaping and the WAV or MP3 writer. run() works on
// a job only and may run on any thread; the other entry points run on the
// GUI thread and hand the work to a worker thread.
class AudioExporter {
public:
    static constexpr qint64 kReadFrames = 16384;

    static bool isMp3(const QString& format) { return format == QLatin1String("MP3"); }
    static QString extension(bool mp3) { return mp3 ? QStringLiteral(".mp3") : QStringLiteral(".wav"); }

    static AudioExportRegion region(const AudioExportJob& job);
    // The file is copied byte for byte: its own format, the whole file, and
    // nothing for the shaping to change.
    static bool copyApplies(const AudioExportJob& job);

    // Exports the job; cancel is polled between blocks, permille receives
    // the progress (0..1000). Logs each failure with the job's prefix. A
    // failed or cancelled export leaves no file behind.
    static AudioExportResult run(const AudioExportJob& job, const std::atomic<bool>* cancel = nullptr,
                                 std::atomic<int>* permille = nullptr);

    // The per-cue export that fills the "MUSIC" folder of an M3U8 export:
    // type "clip" exports the loop region shaped like playback, "full" the
    // whole file raw. The name comes from the naming settings; namesTaken
    // (lower-case) keeps names unique within one export and receives the
    // name used. On success outputName holds the file name with extension.
    // With a ui, the work runs on a worker thread and the ui's progress
    // dialog (already started) can cancel it; progress values from
    // progressBase to progressBase + progressSpan.
    static bool exportCueAudio(Cue* cue, int position, const QString& outputFolder, const QString& format,
                               int sampleRate, const QString& type, QString& outputName,
                               QSet<QString>* namesTaken = nullptr, ExportUi* ui = nullptr,
                               int progressBase = 0, int progressSpan = 0, bool* cancelled = nullptr,
                               QString* failureReason = nullptr);
};
