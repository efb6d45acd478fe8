// What recording costs on the GUI thread: the 50 ms waveform flush, a cut in
// a long recording, writing it as WAV and MP3, and loading it back for the
// editor. Each figure is printed beside a baseline of plain copying or
// writing the same bytes, measured in the same run.
#include "audiofile/AudioFileDecoder.h"
#include "recording/RecordingDialog.h"
#include "recording/RecordingFileWriter.h"
#include "recording/RecordingPcm.h"
#include "recording/RecordingWaveformWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardItemModel>
#include <QTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

// Puts a dialog where a capture of pcm has just run, as the capture thread
// and the 50 ms flushes would have left it.
class RecordingBench {
public:
    static void prime(RecordingDialog& d, const QByteArray& pcm, const QString& folder)
    {
        d.listSources = nullptr;
        d.setRecordingsFolder(folder);
        d.state = RecordingDialog::Recording;
        d.captureSampleRate = 44100;
        d.captureChannels = 2;
        d.waveform->clear();
        d.waveform->setRecording(true);
        const qint64 block = 44100 / 20 * 4;
        for (qint64 at = 0; at < pcm.size(); at += block)
            d.waveform->appendPeaks(RecordingPcm::peaks(pcm.constData() + at, std::min(block, pcm.size() - at), 2, 44100));
        d.recordedPcm = pcm;
    }
    // The editor holding pcm as if the worker had just decoded it.
    static void loadDecoded(RecordingDialog& d, const QByteArray& pcm, const QString& path)
    {
        d.listSources = nullptr;
        d.loadForEditing(QString(), -1);
        d.editPath = path;
        d.loadPending = true;
        d.onRecordingLoaded(d.loadGeneration, {pcm, RecordingPcm::peaks(pcm.constData(), pcm.size(), 2, 44100)});
    }
    static void cut(RecordingDialog& d, qint64 startMs, qint64 endMs)
    {
        d.waveform->setSelection(startMs, endMs);
        d.waveform->deleteSelection();
    }
    static void undo(RecordingDialog& d) { d.waveform->undo(); }
    static int rows(RecordingDialog& d) { return d.recordingsModel->rowCount(); }
    static qint64 editBytes(RecordingDialog& d) { return d.editPcm.size(); }
};

namespace {

constexpr int kRate = 44100;

QByteArray tone(qint64 seconds)
{
    const qint64 frames = seconds * kRate;
    QByteArray pcm(qsizetype(frames * 4), Qt::Uninitialized);
    auto* out = reinterpret_cast<qint16*>(pcm.data());
    for (qint64 i = 0; i < frames; ++i) {
        const qint16 v = qToLittleEndian<qint16>(qint16(std::lround(12000.0 * std::sin(2 * M_PI * 440.0 * double(i) / kRate))));
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
    return pcm;
}

// Best of a few runs, in ms.
double bestMs(int runs, const std::function<void()>& work)
{
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(end - start).count());
    }
    return best;
}

void print(const char* name, double value, const char* unit, double target, const char* baselineName, double baseline)
{
    std::printf("%s: %.3f %s (target ≤ %g)  [%s: %.3f %s]\n", name, value, unit, target, baselineName, baseline, unit);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    volatile qint64 sink = 0;

    // Every 50 ms while recording: peaks of the audio that came in (48 kHz, the largest rate).
    const QByteArray fiftyMs = QByteArray(48000 / 20 * 4, '\x11');
    const double flush = bestMs(200, [&] { sink = sink + RecordingPcm::peaks(fiftyMs.constData(), fiftyMs.size(), 2, 48000).size(); });
    const double flushCopy = bestMs(200, [&] { QByteArray c(fiftyMs.constData(), fiftyMs.size()); sink = sink + c.size(); });
    print("waveform_flush_50ms", flush, "ms", 0.5, "copy", flushCopy);

    const QByteArray tenMinutes = tone(600);
    // The operator cuts minute 1..2 of a 10-minute recording in the dialog's
    // editor. A 16 ms timer stands for the GUI's work: its worst lateness from
    // the cut request until the cut audio is the editor's is the stall the
    // operator meets. The baseline copies the same bytes on the GUI thread,
    // as a cut made there does. Worst of three cuts, each undone after.
    const double copy = bestMs(3, [&] { QByteArray c(tenMinutes.constData(), tenMinutes.size()); sink = sink + c.size(); });
    {
        RecordingDialog d;
        d.setRecordingsFolder(dir.filePath("cut"));
        RecordingBench::loadDecoded(d, tenMinutes, dir.filePath("cut/ten.wav"));
        const qint64 cutBytes = tenMinutes.size() - 4LL * kRate * 60;
        double worstLate = 0;
        double worstTotal = 0;
        for (int run = 0; run < 3; ++run) {
            QEventLoop loop;
            QElapsedTimer since;
            QElapsedTimer total;
            bool requested = false;
            bool landed = false;
            QTimer tick;
            tick.setTimerType(Qt::PreciseTimer);
            tick.setInterval(16);
            QObject::connect(&tick, &QTimer::timeout, [&] {
                const double gapMs = double(since.nsecsElapsed()) / 1e6;
                since.restart();
                if (!requested) {
                    requested = true;
                    QTimer::singleShot(4, &loop, [&] {
                        total.start();
                        RecordingBench::cut(d, 60000, 120000);
                    });
                    return;
                }
                worstLate = std::max(worstLate, gapMs - 16.0);
                if (!landed && RecordingBench::editBytes(d) == cutBytes) {
                    landed = true;
                    worstTotal = std::max(worstTotal, double(total.nsecsElapsed()) / 1e6);
                }
                if (landed && !d.isBusyWithFiles())
                    loop.quit();
            });
            since.start();
            tick.start();
            loop.exec();
            tick.stop();
            RecordingBench::undo(d);
            while (d.isBusyWithFiles() || RecordingBench::editBytes(d) != tenMinutes.size())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        print("cut_10min_recording_gui_stall", worstLate, "ms", 50, "copy on the GUI thread", copy);
        print("cut_10min_recording_until_landed", worstTotal, "ms", 400, "copy on the GUI thread", copy);
    }

    const QString wavPath = dir.filePath("ten.wav");
    const double wav = bestMs(3, [&] {
        RecordingFileWriter::write(wavPath, tenMinutes, 2, kRate, RecordingFileWriter::Format::Wav, nullptr);
    });
    const double plainWrite = bestMs(3, [&] {
        QFile f(dir.filePath("plain.raw"));
        f.open(QIODevice::WriteOnly);
        f.write(tenMinutes);
    });
    print("save_wav_10min", wav, "ms", 1000, "plain write", plainWrite);

    const QByteArray oneMinute = tenMinutes.left(4 * kRate * 60);
    const QString mp3Path = dir.filePath("one.mp3");
    const double mp3 = bestMs(1, [&] {
        RecordingFileWriter::write(mp3Path, oneMinute, 2, kRate, RecordingFileWriter::Format::Mp3, nullptr);
    });
    const double plainWriteMinute = bestMs(3, [&] {
        QFile f(dir.filePath("plain-minute.raw"));
        f.open(QIODevice::WriteOnly);
        f.write(oneMinute);
    });
    print("save_mp3_1min", mp3, "ms", 1500, "plain write", plainWriteMinute);

    const double plainRead = bestMs(3, [&] {
        QFile f(wavPath);
        f.open(QIODevice::ReadOnly);
        sink = sink + f.readAll().size();
    });
    const double peaks = bestMs(3, [&] {
        qint64 duration = 0;
        sink = sink + RecordingDialog::loadWavPeaks(wavPath, &duration).size();
    });
    print("load_wav_peaks_10min", peaks, "ms", 1000, "plain read", plainRead);

    const double decode = bestMs(2, [&] {
        AudioFileDecoder decoder;
        decoder.open(wavPath);
        std::vector<float> buffer(8192 * 2);
        while (qint64 n = decoder.read(buffer.data(), 8192))
            sink = sink + n;
    });
    print("decode_wav_10min", decode, "ms", 2000, "plain read", plainRead);
    // Stopping a 10-minute MP3 recording in the dialog: saving, encoding and
    // decoding it back for the editor run on the worker, so the GUI thread
    // (the main window's timers during a show) only sees short steps. A 5 ms
    // timer measures the longest gap between its ticks meanwhile.
    const double onGuiThread = bestMs(1, [&] {
        const QString path = dir.filePath("sync.mp3");
        RecordingFileWriter::write(path, tenMinutes, 2, kRate, RecordingFileWriter::Format::Mp3, nullptr);
        AudioFileDecoder decoder;
        decoder.open(path);
        std::vector<float> buffer(8192 * 2);
        while (qint64 n = decoder.read(buffer.data(), 8192))
            sink = sink + n;
    });
    {
        RecordingDialog d;
        RecordingBench::prime(d, tenMinutes, dir.filePath("dialog"));
        QElapsedTimer gap;
        double longest = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
            gap.restart();
        });
        QElapsedTimer total;
        total.start();
        gap.start();
        tick.start();
        d.stopRecording();
        while (d.isBusyWithFiles() || RecordingBench::rows(d) == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
        const double stopToEditor = double(total.nsecsElapsed()) / 1e6;
        tick.stop();
        sink = sink + RecordingBench::editBytes(d);
        print("gui_stall_stop_save_load_10min_mp3", longest, "ms", 50, "same work on the GUI thread", onGuiThread);
        print("stop_to_editor_10min_mp3", stopToEditor, "ms", 6000, "same work on the GUI thread", onGuiThread);
    }
    return sink < 0 ? 1 : 0;
}
