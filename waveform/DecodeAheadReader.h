#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class AudioFileDecoder;

// Reads an open decoder on a thread of its own, a few blocks ahead of the
// caller, so that decoding and the caller's work on the previous block run
// at the same time. The blocks live in a fixed ring: nothing is allocated
// while reading. The decoder must not be touched by anyone else while the
// reader exists; destroying the reader stops its thread.
//
// Without a thread of its own (ownThread false, or none could be started)
// the caller decodes each block in turn; the blocks are the same.
class DecodeAheadReader {
public:
    DecodeAheadReader(AudioFileDecoder& decoder, qint64 blockFrames, int blockCount, bool ownThread);
    ~DecodeAheadReader();
    DecodeAheadReader(const DecodeAheadReader&) = delete;
    DecodeAheadReader& operator=(const DecodeAheadReader&) = delete;

    // The next block of interleaved stereo frames; returns its frame count,
    // 0 at the end. *frames stays valid until the next call.
    qint64 next(const float** frames);

private:
    struct Block {
        std::vector<float> samples;
        qint64 frames = 0;
    };

    void decodeLoop();

    AudioFileDecoder& m_decoder;
    const qint64 m_blockFrames;
    std::vector<Block> m_blocks;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_ready = 0;          // decoded blocks the caller has not taken yet
    bool m_holding = false;   // the caller still uses the block it took last
    bool m_stopping = false;
    bool m_finished = false;  // the caller has seen the end
    size_t m_readIndex = 0;

    bool m_threaded = false;  // false: the caller decodes (no thread could start)
    std::thread m_thread;
};
