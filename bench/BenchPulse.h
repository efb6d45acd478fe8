#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <ctime>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// What the output benchmarks need around them: a private PulseAudio server
// whose only output is a null sink, a recording of that sink's monitor read
// sample by sample with the time each sample was played, and a busy loop on
// every core.
namespace BenchPulse {

// Its own server in dir; this process and every program it starts talk to it.
class Server {
public:
    ~Server() { stop(); }
    bool start(const QString& dir, const QString& sinkName);
    void stop();

private:
    pid_t m_pid = 0;
};

// parec of the sink's monitor, float samples, read on a thread of its own.
class MonitorRecorder {
public:
    static constexpr int kRate = 44100;
    ~MonitorRecorder() { stop(); }
    bool start(const QString& sinkName);
    void stop();

    qint64 frames() const;
    // CPU time (ms) of the thread that reads the monitor: the measuring
    // apparatus, to be taken out of this process's CPU time. 0 when stopped.
    double readerCpuMs() const;
    // Steady-clock time (ns) at which the frame came out of the monitor: the
    // arrival of the chunk that brought it. Not a running count of frames
    // from one origin: a sink that rewinds to take in new audio at once sends
    // the rewound span to its monitor twice, and the count runs ahead of the
    // clock. Nor the arrival taken back by the frames after it: a sink
    // renders a little ahead of its clock, and those frames are not out yet.
    double frameTimeNs(qint64 frame) const;
    // The first frame of the first chunk that arrived at or after timeNs.
    qint64 frameAt(double timeNs) const;
    // First frame at or after from with sound on it (|sample| > threshold), or -1.
    qint64 firstSound(qint64 from, qint64 to = -1) const;
    qint64 lastSound(qint64 from, qint64 to) const;
    struct Gap {
        qint64 start;
        qint64 frames;
    };
    // Runs of silence longer than minMs between from and to.
    std::vector<Gap> gaps(qint64 from, qint64 to, double minMs) const;

private:
    void readLoop(int fd);
    bool silentAt(qint64 frame) const;

    pid_t m_pid = 0;
    int m_fd = -1;
    std::thread m_reader;
    clockid_t m_readerClock{};  // the reader's CPU clock, while it runs
    bool m_haveReaderClock = false;
    mutable std::mutex m_mutex;
    std::vector<float> m_left;  // the left channel is enough to hear a gap
    struct Chunk {
        qint64 end;  // one past its last frame
        double arrivalNs;
    };
    std::vector<Chunk> m_chunks;
};

// One process spinning on every core until stop().
class BusyLoad {
public:
    ~BusyLoad() { stop(); }
    void start(int processes);
    void stop();

private:
    std::vector<pid_t> m_pids;
};

// Steady-clock now, in ns (the clock the recorder maps samples to).
double nowNs();
// Runs a program, waits for it, returns its wall time in ms (-1 on failure).
double runMs(const QString& program, const QStringList& args);
// Writes seconds of a 440 Hz sine at half scale as 16-bit stereo WAV.
bool writeSine(const QString& path, double seconds);

}  // namespace BenchPulse
