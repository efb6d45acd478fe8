#include "audiofile/FfmpegLibrary.h"

#include <QByteArray>
#include <QThreadPool>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <dlfcn.h>

namespace {

struct Hold {
    std::mutex mutex;
    std::condition_variable released;
    bool held = false;
    std::thread::id holder;
    std::chrono::steady_clock::time_point until;
};

Hold& hold()
{
    static Hold instance;
    return instance;
}

void releaseHold()
{
    Hold& h = hold();
    {
        std::lock_guard lock(h.mutex);
        h.held = false;
    }
    h.released.notify_all();
}

void waitForHold()
{
    Hold& h = hold();
    std::unique_lock lock(h.mutex);
    if (!h.held)
        return;
    if (std::this_thread::get_id() == h.holder) {
        lock.unlock();
        releaseHold();
        return;
    }
    h.released.wait_until(lock, h.until, [&h] { return !h.held; });
}

// The libraries of the FFmpeg the program was built against, by their
// version's file name, each after the ones it needs.
struct Library {
    const char* name;
    QByteArray fileName;
};

void* open(const QByteArray& fileName)
{
    void* handle = dlopen(fileName.constData(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        qFatal("FFmpeg could not be loaded: %s", dlerror());
    return handle;
}

FfmpegLibrary::Functions load()
{
    void* avutil = open("libavutil.so." + QByteArray::number(LIBAVUTIL_VERSION_MAJOR));
    void* swresample = open("libswresample.so." + QByteArray::number(LIBSWRESAMPLE_VERSION_MAJOR));
    void* avcodec = open("libavcodec.so." + QByteArray::number(LIBAVCODEC_VERSION_MAJOR));
    void* avformat = open("libavformat.so." + QByteArray::number(LIBAVFORMAT_VERSION_MAJOR));
    FfmpegLibrary::Functions functions;
#define CORVELLE_FFMPEG_RESOLVE(library, name)                                     \
    functions.name = reinterpret_cast<decltype(functions.name)>(dlsym(library, #name)); \
    if (!functions.name)                                                           \
        qFatal("FFmpeg function %s is missing: %s", #name, dlerror());
    CORVELLE_FFMPEG_FUNCTIONS(CORVELLE_FFMPEG_RESOLVE)
#undef CORVELLE_FFMPEG_RESOLVE
    return functions;
}

}  // namespace

const FfmpegLibrary::Functions& FfmpegLibrary::functions()
{
    // Every decoder call comes through here: once loaded, no lock.
    static std::atomic<const Functions*> ready{nullptr};
    if (const Functions* functions = ready.load(std::memory_order_acquire))
        return *functions;
    waitForHold();
    static const Functions loaded = load();
    ready.store(&loaded, std::memory_order_release);
    return loaded;
}

void FfmpegLibrary::holdWorkers(int maxHoldMs)
{
    Hold& h = hold();
    std::lock_guard lock(h.mutex);
    h.held = true;
    h.holder = std::this_thread::get_id();
    h.until = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxHoldMs);
}

void FfmpegLibrary::warmUp()
{
    releaseHold();
    QThreadPool::globalInstance()->start([] { functions(); });
}
