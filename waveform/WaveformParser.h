#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>

// Turns an audio file into the peak list the waveform view draws: the file
// is decoded to mono at 44100 Hz, cut into equal buckets, and the largest
// absolute sample of each bucket, normalised to the loudest bucket, becomes
// one point.
//
// Created, used and destroyed by one worker thread; parse() blocks. Only
// cancel() may be called from another thread.
class WaveformParser : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultPoints = 2000;

    struct Result {
        QList<float> peaks;    // empty on failure
        qint64 durationMs = 0; // length of the decoded audio; 0 on failure
    };

    explicit WaveformParser(QObject* parent = nullptr);
    ~WaveformParser() override;

    // Decodes the whole file; any length is parsed completely, in memory
    // that does not grow with the length. A parse that takes longer than the
    // time limit (wall time) fails.
    Result parse(const QString& filePath, int targetPoints);
    void setTimeLimit(std::chrono::milliseconds limit);

    // Stops a running parse at its next check (every 100 chunks of 65536
    // frames). Thread-safe.
    void cancel();
    void reset();

    bool isSupportedFormat(const QString& filePath) const;

Q_SIGNALS:
    void parsingStarted(QString filePath);
    void parsingProgress(int percent);
    void parsingFinished(QString filePath, bool success, QList<float> waveform);
    void parsingCancelled(QString filePath);
    void parsingFailed(QString filePath);
    void parsingCompleted(QString filePath, QList<float> waveform);

private:
    Result decodeAudioFile(const QString& filePath);

    bool m_isParsing = false;
    QString m_currentFilePath;
    int m_targetPoints = kDefaultPoints;
    std::atomic<bool> m_cancelRequested{false};
    std::chrono::milliseconds m_timeLimit;
};
