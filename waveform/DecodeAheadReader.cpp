#include "waveform/DecodeAheadReader.h"

#include "audiofile/AudioFileDecoder.h"

#include <QDebug>

#include <algorithm>
#include <system_error>

DecodeAheadReader::DecodeAheadReader(AudioFileDecoder& decoder, qint64 blockFrames, int blockCount, bool ownThread)
    : m_decoder(decoder)
    , m_blockFrames(std::max<qint64>(1, blockFrames))
    , m_blocks(size_t(std::max(2, blockCount)))
{
    for (Block& block : m_blocks)
        block.samples.resize(size_t(m_blockFrames) * AudioFileDecoder::kChannels);
    if (!ownThread)
        return;
    try {
        m_thread = std::thread(&DecodeAheadReader::decodeLoop, this);
        m_threaded = true;
    } catch (const std::system_error& error) {
        qWarning() << "[Decode] No decoding thread, reading in turn:" << error.what();
    }
}

DecodeAheadReader::~DecodeAheadReader()
{
    if (!m_threaded)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void DecodeAheadReader::decodeLoop()
{
    const int count = int(m_blocks.size());
    for (size_t write = 0;; write = (write + 1) % m_blocks.size()) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_ready + (m_holding ? 1 : 0) < count; });
            if (m_stopping)
                return;
        }
        Block& block = m_blocks[write];
        block.frames = m_decoder.read(block.samples.data(), m_blockFrames);
        {
            std::lock_guard lock(m_mutex);
            ++m_ready;
        }
        m_changed.notify_all();
        if (block.frames == 0)
            return;  // the empty block marks the end
    }
}

qint64 DecodeAheadReader::next(const float** frames)
{
    if (!m_threaded) {
        Block& block = m_blocks.front();
        block.frames = m_finished ? 0 : m_decoder.read(block.samples.data(), m_blockFrames);
        m_finished = block.frames == 0;
        *frames = block.samples.data();
        return block.frames;
    }

    std::unique_lock lock(m_mutex);
    if (m_holding) {
        m_holding = false;
        m_readIndex = (m_readIndex + 1) % m_blocks.size();
        lock.unlock();
        m_changed.notify_all();
        lock.lock();
    }
    if (m_finished) {
        *frames = m_blocks[m_readIndex].samples.data();
        return 0;
    }
    m_changed.wait(lock, [&] { return m_ready > 0; });
    --m_ready;
    const Block& block = m_blocks[m_readIndex];
    if (block.frames == 0) {
        m_finished = true;  // the end block is not handed back: nothing follows it
    } else {
        m_holding = true;
    }
    *frames = block.samples.data();
    return block.frames;
}
