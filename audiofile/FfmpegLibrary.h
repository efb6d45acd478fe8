#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

// The FFmpeg functions the decoder calls, from libraries opened when they
// are first needed instead of when the program starts: with the dozens of
// codec libraries they pull in, loading them used to take longer than a bare
// Qt window's whole start, before the first line of main ran.
//
// The first caller of functions() opens them and every other caller waits
// until that is done. warmUp() does it on a pool thread ahead of time, so
// that the first cue played does not wait for it.
//
// Opening them takes the dynamic loader's lock for as long as it runs, and
// Qt takes that lock too while it builds and first shows a window (plugins,
// fonts): holdWorkers() makes the worker threads that ask for FFmpeg before
// warmUp() wait for it, so that their loading does not stall the window. The
// thread that called holdWorkers() is never held; it loads at once.
class FfmpegLibrary {
public:
#define CORVELLE_FFMPEG_FUNCTIONS(X)                                                                      \
    X(avutil, av_channel_layout_compare) X(avutil, av_channel_layout_copy)                                \
    X(avutil, av_channel_layout_default) X(avutil, av_channel_layout_uninit) X(avutil, av_dict_free)      \
    X(avutil, av_dict_set) X(avutil, av_frame_alloc) X(avutil, av_frame_free) X(avutil, av_frame_unref)   \
    X(avutil, av_log_set_level) X(avutil, av_max_alloc) X(avutil, av_rescale_q) X(avutil, av_strdup)      \
    X(avutil, av_strerror) X(swresample, swr_alloc_set_opts2) X(swresample, swr_convert)                  \
    X(swresample, swr_free) X(swresample, swr_get_out_samples) X(swresample, swr_init)                    \
    X(swresample, swr_set_matrix) X(avcodec, av_packet_alloc) X(avcodec, av_packet_free)                  \
    X(avcodec, av_packet_unref) X(avcodec, avcodec_alloc_context3) X(avcodec, avcodec_free_context)       \
    X(avcodec, avcodec_open2) X(avcodec, avcodec_parameters_to_context) X(avcodec, avcodec_receive_frame) \
    X(avcodec, avcodec_send_packet) X(avformat, av_find_best_stream) X(avformat, av_read_frame)           \
    X(avformat, avformat_alloc_context) X(avformat, avformat_close_input)                                 \
    X(avformat, avformat_find_stream_info) X(avformat, avformat_open_input) X(avformat, avio_seek)        \
    X(avformat, avio_size)

    struct Functions {
#define CORVELLE_FFMPEG_POINTER(library, name) decltype(&::name) name = nullptr;
        CORVELLE_FFMPEG_FUNCTIONS(CORVELLE_FFMPEG_POINTER)
#undef CORVELLE_FFMPEG_POINTER
    };

    // Opens the libraries on the first call; a missing library or function
    // ends the program, as a missing library did when it was linked.
    static const Functions& functions();
    // Opens them on a pool thread, returning at once, and lets held workers go.
    static void warmUp();
    // Until warmUp(), or maxHoldMs at most, other threads wait in
    // functions() instead of loading the libraries.
    static void holdWorkers(int maxHoldMs);
};
