#pragma once

#include <QtGlobal>

#include <atomic>
#include <mutex>

class WaveformParser;

// What the GUI thread and one background parse share: the request to stop
// and the parsed file's length. The parse registers its parser while it
// runs, so that cancel() reaches the decode loop instead of letting an
// abandoned parse decode a whole file for nothing.
class WaveformParseJob {
public:
    // GUI thread (or any): stops the parse at its next check.
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }

    // Pool thread: the parser of this job, or null once it is done. attach()
    // refuses when the job was cancelled already.
    bool attach(WaveformParser* parser);
    void detach();

    void setDurationMs(qint64 ms) { m_durationMs.store(ms); }
    qint64 durationMs() const { return m_durationMs.load(); }

private:
    std::mutex m_mutex;  // keeps the parser alive while cancel() reaches it
    WaveformParser* m_parser = nullptr;
    std::atomic<bool> m_cancelled{false};
    std::atomic<qint64> m_durationMs{0};
};
