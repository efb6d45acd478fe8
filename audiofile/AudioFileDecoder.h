#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// Decodes one audio file to interleaved 32-bit float stereo at 44100 Hz,
// the one format the whole program plays, measures and draws.
//
// Mono sources play on both channels at full level. Only local files are
// opened (paths come from project and M3U8 files), and only audio demuxers
// are allowed. Damage is skipped: as long as the demuxer delivers packets the
// read goes on to the real end of the data, with the decoder and the
// resampler flushed so no tail is lost.
//
// One instance belongs to one thread at a time; separate instances share no
// state, so any number of threads may decode at once.
class AudioFileDecoder {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;

    AudioFileDecoder();
    ~AudioFileDecoder();
    AudioFileDecoder(const AudioFileDecoder&) = delete;
    AudioFileDecoder& operator=(const AudioFileDecoder&) = delete;

    // Threads for codecs that can decode several frames at once (FLAC, ALAC,
    // WavPack); other codecs ignore it. 1, the default, decodes on the
    // calling thread only; 0 gives one per core. Takes effect at the next open().
    void setCodecThreads(int count);
    // Threads the codec of the open file decodes on besides the calling
    // thread: 0 when it decodes on the calling thread.
    int codecThreadsInUse() const;

    // Output rate in Hz for files opened from now on; kSampleRate unless
    // changed (the audio export writes other rates). Values below 1 mean kSampleRate.
    void setOutputSampleRate(int hz);
    int outputSampleRate() const;

    // Opens path (a local file path, UTF-8 safe). False with errorString() set
    // when the file cannot be opened or holds no decodable audio stream.
    bool open(const QString& path);
    void close();
    bool isOpen() const;

    // Length in output frames (at the output rate) as the container declares it; 0 when
    // unknown. An estimate: the real length is what read() delivers. A length
    // more than kMaxFramesPerFileByte frames per byte of the file counts as
    // unknown: a damaged header may claim anything (10^16 frames and more),
    // while even digital silence in the largest blocks of a lossless codec,
    // resampled from 8 kHz, stays far below it.
    static constexpr qint64 kMaxFramesPerFileByte = 65536;
    qint64 declaredFrames() const;

    // Milliseconds of that many frames at rate Hz, truncated, for any frame
    // count (no overflow); 0 when the rate is not positive.
    static qint64 framesToMs(qint64 frames, int rate);

    // Reads up to maxFrames frames into out (2 floats per frame). Returns the
    // number of frames written; 0 once the end is reached.
    qint64 read(float* out, qint64 maxFrames);
    bool atEnd() const;

    // True once reading has given up on errors before the real end of the
    // data (errorString() says why): what was read is only part of the file.
    bool stoppedOnError() const;

    // True once reading has reached the real end of the data well short (by
    // more than a second) of the length the container declares: the file has
    // been cut, or damage cost more than a second of it. Logged once when the
    // end is reached. Never true when nothing
    // could be decoded, nor when the container holds no length and FFmpeg
    // guessed one from the bit rate and the file size (ADTS AAC, some MP3
    // and WMA), which can be off by seconds either way.
    bool endedShort() const;

    // Packets that failed to decode and were skipped so far.
    int skippedPackets() const;

    QString errorString() const;
    QString path() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
