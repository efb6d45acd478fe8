#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <vector>

// Decoded audio of one file: interleaved 32-bit float stereo at 44100 Hz.
//
// One writer (a decode thread) appends while any number of readers (the
// audio callback among them) read what is already there, without locks.
// Samples live in fixed chunks that never move, so growing the buffer never
// relocates a sample a reader may be copying. The frame count is published
// after the samples are written, the final state after the last frame.
//
// The chunks are pages of an anonymous in-memory file (memfd), mapped read
// only: the writer stages a block in memory of its own and writes it into
// the file. Filling fresh anonymous pages one fault at a time cost more than
// the decoding on a virtual machine (about 4 ms a megabyte); the kernel
// fills file pages in one call. Where no memfd can be made, the chunks are
// plain anonymous memory written in place.
class PcmBuffer {
public:
    static constexpr int kChannels = 2;
    static constexpr int kSampleRate = 44100;
    static constexpr qint64 kChunkFrames = 65536;
    // A length known in advance is a hint, never trusted beyond these: the
    // most a file can plausibly hold per byte (silence compresses well;
    // music is nowhere near), and a day of audio in any case.
    static constexpr qint64 kMaxFramesPerFileByte = 256;
    static constexpr qint64 kMaxReserveFrames = qint64(kSampleRate) * 3600 * 24;

    enum class State {
        Filling,    // a decoder is still appending
        Complete,   // the whole file is in
        Failed,     // the decoder stopped on an error; what is in stays valid
        Cancelled,  // the writer gave up because nobody needs the rest
        Short,      // the end was reached well before the length the file
                    // declares (a cut file): what is in is all there is
    };

    // expectedFrames sizes the chunk table (up to kMaxReserveFrames); the
    // buffer grows past it anyway.
    explicit PcmBuffer(qint64 expectedFrames = 0);
    ~PcmBuffer();
    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;

    // A complete buffer holding a copy of the given samples.
    static std::shared_ptr<PcmBuffer> fromInterleaved(const float* samples, qint64 frames);

    // Frames in ms milliseconds at 44100 Hz; 0 for negative values, and
    // no overflow for absurd ones.
    static qint64 msToFrames(qint64 ms);
    // What to reserve for a file of fileBytes bytes (negative: unknown) whose
    // length is said to be hintFrames: the hint, bounded by what the file can
    // hold and by kMaxReserveFrames.
    static qint64 plausibleFrames(qint64 hintFrames, qint64 fileBytes);

    // --- writer (one thread) ---
    // Makes room in the chunk table for this many frames up front (up to
    // kMaxReserveFrames).
    void reserveFrames(qint64 frames);
    // Room for up to wantFrames frames at the end, inside one chunk; *granted
    // tells how many. Nothing is visible to readers before commit(), and the
    // room is valid until then.
    float* writeRoom(qint64 wantFrames, qint64* granted);
    void commit(qint64 frames);
    void append(const float* samples, qint64 frames);
    void finish(State state, const QString& error = QString());

    // --- any thread ---
    qint64 frames() const { return m_frames.load(std::memory_order_acquire); }
    State state() const { return m_state.load(std::memory_order_acquire); }
    bool isFilling() const { return state() == State::Filling; }
    // The decoder read to the real end of the data: the frames are all the
    // file has, whether or not that is the length it declares.
    bool endReached() const
    {
        const State s = state();
        return s == State::Complete || s == State::Short;
    }
    // Meaningful once the buffer is no longer filling.
    QString errorString() const;
    // Asks the writer to stop at its next read; readers keep what is there.
    void requestCancel() { m_cancel.store(true, std::memory_order_relaxed); }
    bool cancelRequested() const { return m_cancel.load(std::memory_order_relaxed); }

    // Copies up to count frames starting at frame first into out; returns the
    // frames copied (fewer near the published end). Lock-free, allocates
    // nothing: safe on the audio thread.
    qint64 copyFrames(qint64 first, qint64 count, float* out) const;
    float sample(qint64 frame, int channel) const;

    // Size as the cache counts it: 4 bytes per float.
    qint64 byteSize() const { return frames() * kChannels * qint64(sizeof(float)); }
    qint64 durationMs() const { return framesToMs(frames()); }
    static qint64 framesToMs(qint64 frames) { return qint64(double(frames) * 1000.0 / kSampleRate); }

private:
    struct ChunkTable {
        explicit ChunkTable(qsizetype capacity);
        qsizetype capacity;
        std::unique_ptr<float*[]> chunks;
    };

    void growTable(qsizetype neededChunks);
    float* mapChunk(qsizetype chunk);

    std::atomic<ChunkTable*> m_table{nullptr};
    std::atomic<qint64> m_frames{0};
    std::atomic<State> m_state{State::Filling};
    std::atomic<bool> m_cancel{false};
    QString m_error;  // written before the final state is published

    // Writer-only bookkeeping.
    qsizetype m_chunkCount = 0;
    int m_file = -1;  // the memfd behind the chunks; -1: anonymous chunks
    bool m_fileTried = false;
    std::unique_ptr<float[]> m_stage;  // where the writer's room is, with a file
    float* m_room = nullptr;  // the room last handed out
    // Tables replaced by larger ones: a reader may still be looking at one,
    // so they live as long as the buffer.
    std::vector<std::unique_ptr<ChunkTable>> m_oldTables;
    std::unique_ptr<ChunkTable> m_ownedTable;
};
