#include "BenchPulse.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace BenchPulse {

namespace {

constexpr float kSilence = 1e-4f;

pid_t spawn(const QStringList& argv, int stdoutFd = -1)
{
    std::vector<QByteArray> args;
    for (const QString& arg : argv)
        args.push_back(arg.toLocal8Bit());
    std::vector<char*> raw;
    for (QByteArray& arg : args)
        raw.push_back(arg.data());
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (stdoutFd >= 0) {
            dup2(stdoutFd, STDOUT_FILENO);
            close(stdoutFd);
        }
        execvp(raw[0], raw.data());
        _exit(127);
    }
    return pid;
}

void finish(pid_t& pid, int signal)
{
    if (pid <= 0)
        return;
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = 0;
}

}  // namespace

double nowNs()
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

double runMs(const QString& program, const QStringList& args)
{
    const double start = nowNs();
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
        return -1.0;
    return (nowNs() - start) / 1e6;
}

bool Server::start(const QString& dir, const QString& sinkName)
{
    const QString runtime = dir + "/pulse";
    QDir().mkpath(runtime);
    QDir().mkpath(dir + "/pulse-state");
    qputenv("PULSE_RUNTIME_PATH", QFile::encodeName(runtime));
    qputenv("PULSE_STATE_PATH", QFile::encodeName(dir + "/pulse-state"));
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + runtime + "/native"));
    qputenv("PULSE_SINK", sinkName.toUtf8());
    m_pid = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                   "--disable-shm=yes", "--log-level=error", "--log-target=stderr",
                   "--load=module-null-sink sink_name=" + sinkName, "--load=module-native-protocol-unix"});
    for (int i = 0; i < 100; ++i) {
        QProcess info;
        info.start("pactl", {"info"});
        if (info.waitForFinished(2000) && info.exitCode() == 0)
            return true;
        QThread::msleep(100);
    }
    return false;
}

void Server::stop()
{
    finish(m_pid, SIGTERM);
}

bool MonitorRecorder::start(const QString& sinkName)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    m_pid = spawn({"parec", "--device=" + sinkName + ".monitor", "--raw", "--format=float32le", "--channels=2",
                   "--rate=44100", "--latency-msec=5"},
                  fds[1]);
    close(fds[1]);
    m_fd = fds[0];
    m_reader = std::thread([this] { readLoop(m_fd); });
    // Without it the reader's time stays in the figures: they err high.
    m_haveReaderClock = pthread_getcpuclockid(m_reader.native_handle(), &m_readerClock) == 0;
    return m_pid > 0;
}

void MonitorRecorder::readLoop(int fd)
{
    std::vector<char> bytes(1 << 16);
    std::vector<char> carry;
    for (;;) {
        const ssize_t n = read(fd, bytes.data(), bytes.size());
        const double arrival = nowNs();
        if (n <= 0)
            return;
        carry.insert(carry.end(), bytes.begin(), bytes.begin() + n);
        const size_t frames = carry.size() / 8;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < frames; ++i) {
            float left;
            std::memcpy(&left, carry.data() + i * 8, sizeof left);
            m_left.push_back(left);
        }
        carry.erase(carry.begin(), carry.begin() + qsizetype(frames * 8));
        if (frames > 0)
            m_chunks.push_back({qint64(m_left.size()), arrival});
    }
}

void MonitorRecorder::stop()
{
    finish(m_pid, SIGTERM);
    if (m_reader.joinable())
        m_reader.join();
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

double MonitorRecorder::readerCpuMs() const
{
    timespec used{};
    if (!m_haveReaderClock || !m_reader.joinable() || clock_gettime(m_readerClock, &used) != 0)
        return 0.0;
    return double(used.tv_sec) * 1e3 + double(used.tv_nsec) / 1e6;
}

qint64 MonitorRecorder::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return qint64(m_left.size());
}

double MonitorRecorder::frameTimeNs(qint64 frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto chunk = std::upper_bound(m_chunks.begin(), m_chunks.end(), frame,
                                        [](qint64 f, const Chunk& c) { return f < c.end; });
    if (chunk == m_chunks.end())
        return 1e300;
    return chunk->arrivalNs;
}

qint64 MonitorRecorder::frameAt(double timeNs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The first frame of the first chunk that arrived at or after timeNs.
    const auto chunk = std::lower_bound(m_chunks.begin(), m_chunks.end(), timeNs,
                                        [](const Chunk& c, double t) { return c.arrivalNs < t; });
    if (chunk == m_chunks.end())
        return qint64(m_left.size());
    return chunk == m_chunks.begin() ? 0 : std::prev(chunk)->end;
}

bool MonitorRecorder::silentAt(qint64 frame) const
{
    return std::fabs(m_left[size_t(frame)]) <= kSilence;
}

qint64 MonitorRecorder::firstSound(qint64 from, qint64 to) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 end = to < 0 ? qint64(m_left.size()) : std::min<qint64>(to, qint64(m_left.size()));
    for (qint64 f = std::max<qint64>(from, 0); f < end; ++f)
        if (!silentAt(f))
            return f;
    return -1;
}

qint64 MonitorRecorder::lastSound(qint64 from, qint64 to) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (qint64 f = std::min<qint64>(to, qint64(m_left.size())) - 1; f >= std::max<qint64>(from, 0); --f)
        if (!silentAt(f))
            return f;
    return -1;
}

std::vector<MonitorRecorder::Gap> MonitorRecorder::gaps(qint64 from, qint64 to, double minMs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Gap> found;
    const qint64 minFrames = qint64(minMs * kRate / 1000.0);
    qint64 runStart = -1;
    const qint64 end = std::min<qint64>(to, qint64(m_left.size()));
    for (qint64 f = std::max<qint64>(from, 0); f < end; ++f) {
        if (silentAt(f)) {
            if (runStart < 0)
                runStart = f;
        } else if (runStart >= 0) {
            if (f - runStart > minFrames)
                found.push_back({runStart, f - runStart});
            runStart = -1;
        }
    }
    return found;
}

void BusyLoad::start(int processes)
{
    for (int i = 0; i < processes; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
        m_pids.push_back(pid);
    }
}

void BusyLoad::stop()
{
    for (pid_t& pid : m_pids)
        finish(pid, SIGKILL);
    m_pids.clear();
}

bool writeSine(const QString& path, double seconds)
{
    const int rate = 44100;
    const qint64 frames = qint64(seconds * rate);
    QByteArray data;
    data.resize(frames * 4);
    auto* out = reinterpret_cast<qint16*>(data.data());
    for (qint64 i = 0; i < frames; ++i) {
        const auto s = qint16(std::lround(0.5 * 32767.0 * std::sin(2.0 * M_PI * 440.0 * double(i) / rate)));
        out[2 * i] = s;
        out[2 * i + 1] = s;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    auto le32 = [&](quint32 v) { file.write(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [&](quint16 v) { file.write(reinterpret_cast<const char*>(&v), 2); };
    file.write("RIFF");
    le32(quint32(36 + data.size()));
    file.write("WAVEfmt ");
    le32(16);
    le16(1);
    le16(2);
    le32(rate);
    le32(rate * 4);
    le16(4);
    le16(16);
    file.write("data");
    le32(quint32(data.size()));
    return file.write(data) == data.size();
}

}  // namespace BenchPulse
