#include "audiofile/PcmBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

PcmBuffer::ChunkTable::ChunkTable(qsizetype capacity)
    : capacity(capacity)
    , chunks(std::make_unique<float*[]>(size_t(capacity)))
{
}

namespace {

constexpr size_t kChunkBytes = size_t(PcmBuffer::kChunkFrames) * PcmBuffer::kChannels * sizeof(float);

// Frames staged by the writer before they go into the file in one write.
constexpr qint64 kStageFrames = 16384;

// Without a file: a chunk's pages are made present in one call: touched one
// by one as the decoder writes, their faults cost the decode more than
// decoding itself on some machines (a virtual machine's fault is expensive).
float* allocateChunk()
{
    void* pages = mmap(nullptr, kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<float*>(pages);
}

void freeChunk(float* chunk)
{
    munmap(chunk, kChunkBytes);
}

bool writeAll(int file, const char* bytes, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t written = pwrite(file, bytes, size, at);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= size_t(written);
        at += written;
    }
    return true;
}

qsizetype chunksFor(qint64 frames)
{
    return qsizetype(std::clamp<qint64>(frames, 0, PcmBuffer::kMaxReserveFrames) / PcmBuffer::kChunkFrames + 1);
}

}  // namespace

qint64 PcmBuffer::msToFrames(qint64 ms)
{
    if (ms <= 0)
        return 0;
    // In double: 44100 x ms overflows 64 bits from about 2 x 10^14 ms on.
    const double frames = double(ms) * kSampleRate / 1000.0;
    return frames >= 9.0e18 ? qint64(9.0e18) : qint64(frames);
}

qint64 PcmBuffer::plausibleFrames(qint64 hintFrames, qint64 fileBytes)
{
    qint64 frames = std::clamp<qint64>(hintFrames, 0, kMaxReserveFrames);
    if (fileBytes >= 0)
        frames = std::min(frames, std::min(fileBytes, kMaxReserveFrames) * kMaxFramesPerFileByte);
    return std::min(frames, kMaxReserveFrames);
}

PcmBuffer::PcmBuffer(qint64 expectedFrames)
{
    const qsizetype chunks = chunksFor(expectedFrames);
    m_ownedTable = std::make_unique<ChunkTable>(std::max<qsizetype>(chunks, 16));
    m_table.store(m_ownedTable.get(), std::memory_order_release);
}

PcmBuffer::~PcmBuffer()
{
    ChunkTable* table = m_table.load(std::memory_order_acquire);
    for (qsizetype i = 0; i < m_chunkCount; ++i)
        freeChunk(table->chunks[i]);
    if (m_file >= 0)
        close(m_file);
}

std::shared_ptr<PcmBuffer> PcmBuffer::fromInterleaved(const float* samples, qint64 frames)
{
    auto buffer = std::make_shared<PcmBuffer>(frames);
    buffer->append(samples, frames);
    buffer->finish(State::Complete);
    return buffer;
}

void PcmBuffer::growTable(qsizetype neededChunks)
{
    ChunkTable* current = m_table.load(std::memory_order_relaxed);
    if (neededChunks <= current->capacity)
        return;
    auto larger = std::make_unique<ChunkTable>(std::max(neededChunks, current->capacity * 2));
    std::copy(current->chunks.get(), current->chunks.get() + m_chunkCount, larger->chunks.get());
    m_table.store(larger.get(), std::memory_order_release);
    m_oldTables.push_back(std::move(m_ownedTable));
    m_ownedTable = std::move(larger);
}

void PcmBuffer::reserveFrames(qint64 frames)
{
    if (frames > 0)
        growTable(chunksFor(frames));
}

float* PcmBuffer::mapChunk(qsizetype chunk)
{
    if (!m_fileTried) {
        m_fileTried = true;
        m_file = memfd_create("corvelle-pcm", MFD_CLOEXEC);
        if (m_file >= 0)
            m_stage = std::make_unique<float[]>(size_t(kStageFrames * kChannels));
    }
    if (m_file < 0)
        return allocateChunk();
    const off_t end = off_t(chunk + 1) * off_t(kChunkBytes);
    if (ftruncate(m_file, end) != 0)
        throw std::bad_alloc();
    void* pages = mmap(nullptr, kChunkBytes, PROT_READ, MAP_SHARED, m_file, end - off_t(kChunkBytes));
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<float*>(pages);
}

float* PcmBuffer::writeRoom(qint64 wantFrames, qint64* granted)
{
    const qint64 used = m_frames.load(std::memory_order_relaxed);
    qint64 offset = used % kChunkFrames;
    qsizetype chunk = qsizetype(used / kChunkFrames);
    if (chunk >= m_chunkCount) {
        growTable(chunk + 1);
        m_table.load(std::memory_order_relaxed)->chunks[chunk] = mapChunk(chunk);
        m_chunkCount = chunk + 1;
        offset = 0;
    }
    *granted = std::min(wantFrames, kChunkFrames - offset);
    if (m_file < 0) {
        m_room = m_table.load(std::memory_order_relaxed)->chunks[chunk] + offset * kChannels;
        return m_room;
    }
    *granted = std::min(*granted, kStageFrames);
    m_room = m_stage.get();
    return m_room;
}

void PcmBuffer::commit(qint64 frames)
{
    if (frames <= 0)
        return;
    const qint64 used = m_frames.load(std::memory_order_relaxed);
    if (m_file >= 0) {
        const size_t bytes = size_t(frames * kChannels) * sizeof(float);
        const off_t at = off_t(used) * off_t(kChannels * sizeof(float));
        if (!writeAll(m_file, reinterpret_cast<const char*>(m_room), bytes, at))
            throw std::bad_alloc();  // the in-memory file could not grow: out of memory
        // Maps the written pages for the readers now, so the audio callback
        // never takes a page fault on them. (Where the kernel cannot, a
        // reader's first touch maps them.)
        float* chunk = m_table.load(std::memory_order_relaxed)->chunks[used / kChunkFrames];
        const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
        const uintptr_t first = reinterpret_cast<uintptr_t>(chunk + (used % kChunkFrames) * kChannels) & ~(page - 1);
        const uintptr_t last = reinterpret_cast<uintptr_t>(chunk + (used % kChunkFrames) * kChannels) + bytes;
        madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_READ);
    }
    m_frames.store(used + frames, std::memory_order_release);
}

void PcmBuffer::append(const float* samples, qint64 frames)
{
    while (frames > 0) {
        qint64 granted = 0;
        float* room = writeRoom(frames, &granted);
        std::memcpy(room, samples, size_t(granted * kChannels) * sizeof(float));
        commit(granted);
        samples += granted * kChannels;
        frames -= granted;
    }
}

void PcmBuffer::finish(State state, const QString& error)
{
    m_error = error;
    m_state.store(state, std::memory_order_release);
}

QString PcmBuffer::errorString() const
{
    if (isFilling())
        return QString();
    return m_error;
}

qint64 PcmBuffer::copyFrames(qint64 first, qint64 count, float* out) const
{
    // Frames first: everything they cover, the table included, is then visible.
    const qint64 available = frames();
    if (first < 0 || first >= available || count <= 0)
        return 0;
    const qint64 n = std::min(count, available - first);
    const ChunkTable* table = m_table.load(std::memory_order_acquire);
    qint64 done = 0;
    while (done < n) {
        const qint64 frame = first + done;
        const qint64 offset = frame % kChunkFrames;
        const qint64 take = std::min(n - done, kChunkFrames - offset);
        std::memcpy(out + done * kChannels, table->chunks[frame / kChunkFrames] + offset * kChannels,
                    size_t(take * kChannels) * sizeof(float));
        done += take;
    }
    return n;
}

float PcmBuffer::sample(qint64 frame, int channel) const
{
    if (frame < 0 || frame >= frames() || channel < 0 || channel >= kChannels)
        return 0.0f;
    const ChunkTable* table = m_table.load(std::memory_order_acquire);
    return table->chunks[frame / kChunkFrames][(frame % kChunkFrames) * kChannels + channel];
}
