#include "audiofile/AudioFileDecoder.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "audiofile/FfmpegLibrary.h"

namespace {

const FfmpegLibrary::Functions& av()
{
    return FfmpegLibrary::functions();
}

// Demuxers of audio formats; nothing that can pull in other files (playlists,
// concat lists, image sequences) or devices.
constexpr const char* kAllowedDemuxers =
    "mp3,wav,w64,flac,ogg,mov,aac,asf,matroska,aiff,caf,ape,wv,mpc,mpc8,tta,au,voc,ac3,eac3,dts,"
    "truehd,amr,amrnb,amrwb,opus,loas,latm";

// Failures in a row without any progress (the demuxer stuck at one byte
// position, or the decoder failing without taking input) after which the
// rest of the file is given up.
constexpr int kMaxErrorsWithoutProgress = 64;

// How far the decoded length may fall short of the declared one before the
// file counts as cut: codec delay and padding account for a few thousand
// frames, a cut file for anything up to the whole declared length.
constexpr qint64 kShortFileToleranceMs = 1000;

QString ffmpegErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av().av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

void quietLibraryLogging()
{
    // The library prints every damaged frame to stderr; our own warnings say
    // what matters.
    static std::once_flag once;
    std::call_once(once, [] { av().av_log_set_level(AV_LOG_FATAL); });
}

void boundLibraryAllocations()
{
    // A damaged header can make a demuxer ask for gigabytes at once (a size
    // field taken at its word). No block of a real file comes near this, so a
    // request past it fails and the file is reported as unreadable instead.
    static std::once_flag once;
    std::call_once(once, [] { av().av_max_alloc(size_t(64) << 20); });
}

}  // namespace

struct AudioFileDecoder::State {
    QString path;
    QString error;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    int codecThreads = 1;  // a setting: kept across release()
    int outputRate = kSampleRate;  // a setting: kept across release()

    // Layout the resampler was set up for.
    AVChannelLayout resamplerLayout{};
    int resamplerRate = 0;
    int resamplerFormat = -1;

    std::vector<float> pending;  // converted frames not handed out yet
    size_t pendingOffset = 0;    // in floats

    bool demuxerDone = false;
    bool decoderDone = false;
    bool resamplerFlushed = false;
    bool stoppedOnError = false;
    bool endReported = false;
    int skipped = 0;
    qint64 framesOut = 0;         // handed out by read()
    qint64 declaredFrames = 0;    // 0: unknown
    bool declaredIsEstimate = false;  // guessed from the bit rate and file size

    ~State() { release(); }

    void release()
    {
        if (skipped > 0)
            qWarning() << "[Decode] Skipped" << skipped << "damaged packets in" << path;
        av().swr_free(&resampler);
        av().avcodec_free_context(&codec);
        av().avformat_close_input(&format);
        av().av_packet_free(&packet);
        av().av_frame_free(&frame);
        av().av_channel_layout_uninit(&resamplerLayout);
        pending.clear();
        pending.shrink_to_fit();
        pendingOffset = 0;
        streamIndex = -1;
        resamplerRate = 0;
        resamplerFormat = -1;
        demuxerDone = decoderDone = resamplerFlushed = false;
        stoppedOnError = false;
        endReported = false;
        skipped = 0;
        framesOut = 0;
        declaredFrames = 0;
        declaredIsEstimate = false;
    }

    bool fail(const QString& text)
    {
        error = text;
        release();
        return false;
    }

    // Reading gave up before the real end of the data.
    void giveUp(const QString& text)
    {
        stoppedOnError = true;
        error = text;
    }

    size_t pendingFrames() const { return (pending.size() - pendingOffset) / kChannels; }

    bool endedShort() const
    {
        return decoderDone && resamplerFlushed && pendingFrames() == 0 && !stoppedOnError
            && !declaredIsEstimate && framesOut > 0 && framesOut + kShortFileToleranceMs * outputRate / 1000 < declaredFrames;
    }

    // Called once when the last frame has been handed out.
    void reportEnd()
    {
        if (endReported)
            return;
        endReported = true;
        if (endedShort())
            qWarning() << "[Decode] Shorter than declared:" << path << "decoded"
                       << AudioFileDecoder::framesToMs(framesOut, outputRate) << "ms of"
                       << AudioFileDecoder::framesToMs(declaredFrames, outputRate) << "ms";
    }

    bool setUpResampler(const AVFrame* source)
    {
        AVChannelLayout inLayout{};
        if (source->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || source->ch_layout.nb_channels <= 0)
            av().av_channel_layout_default(&inLayout, std::max(1, source->ch_layout.nb_channels));
        else if (av().av_channel_layout_copy(&inLayout, &source->ch_layout) < 0)
            return false;

        const bool same = resampler && resamplerRate == source->sample_rate
            && resamplerFormat == source->format
            && av().av_channel_layout_compare(&resamplerLayout, &inLayout) == 0;
        if (same) {
            av().av_channel_layout_uninit(&inLayout);
            return true;
        }

        if (resampler) {
            // A format change inside the stream: hand out what the old
            // resampler still holds before replacing it.
            drainResampler();
            av().swr_free(&resampler);
        }

        AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
        int rc = av().swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_FLT, outputRate, &inLayout,
                                     AVSampleFormat(source->format), source->sample_rate, 0, nullptr);
        if (rc >= 0 && inLayout.nb_channels == 1) {
            // Mono plays on both channels at full level, not at -3 dB.
            const double matrix[2] = {1.0, 1.0};
            rc = av().swr_set_matrix(resampler, matrix, 1);
        }
        if (rc >= 0)
            rc = av().swr_init(resampler);
        if (rc < 0) {
            av().swr_free(&resampler);
            av().av_channel_layout_uninit(&inLayout);
            error = "Resampler init failed: " + ffmpegErrorText(rc);
            return false;
        }
        av().av_channel_layout_uninit(&resamplerLayout);
        resamplerLayout = inLayout;
        resamplerRate = source->sample_rate;
        resamplerFormat = source->format;
        return true;
    }

    void compactPending()
    {
        if (pendingOffset == 0)
            return;
        pending.erase(pending.begin(), pending.begin() + long(pendingOffset));
        pendingOffset = 0;
    }

    // Converts samples (or flushes the resampler when input is null) and
    // appends the result to pending.
    void convert(const uint8_t** input, int inputSamples)
    {
        compactPending();
        const int capacity = av().swr_get_out_samples(resampler, inputSamples) + 64;
        if (capacity <= 0)
            return;
        const size_t oldSize = pending.size();
        pending.resize(oldSize + size_t(capacity) * kChannels);
        uint8_t* out = reinterpret_cast<uint8_t*>(pending.data() + oldSize);
        const int produced = av().swr_convert(resampler, &out, capacity, input, inputSamples);
        pending.resize(oldSize + size_t(std::max(produced, 0)) * kChannels);
    }

    void drainResampler()
    {
        if (!resampler)
            return;
        for (;;) {
            const size_t before = pending.size();
            convert(nullptr, 0);
            if (pending.size() == before)
                break;
        }
    }

    // Feeds the decoder until it yields a frame. False when the stream has
    // ended (the decoder is then flushed).
    //
    // Damage never ends the read while the demuxer still delivers packets: a
    // packet the decoder rejects, or a frame it cannot decode, is skipped and
    // the next one is tried. Only a reader that makes no progress gives up: a
    // demuxer failing again and again at the same byte position (an I/O
    // error), or a decoder reporting errors without asking for input.
    bool receiveFrame()
    {
        int errorsWithoutInput = 0;
        for (;;) {
            const int rc = av().avcodec_receive_frame(codec, frame);
            if (rc == 0)
                return true;
            if (rc == AVERROR_EOF) {
                decoderDone = true;
                return false;
            }
            if (rc != AVERROR(EAGAIN)) {
                // A damaged frame: skip it, the decoder carries on.
                ++skipped;
                if (++errorsWithoutInput > kMaxErrorsWithoutProgress) {
                    giveUp(QStringLiteral("read failed: ") + ffmpegErrorText(rc));
                    decoderDone = true;
                    return false;
                }
                continue;
            }
            if (demuxerDone) {
                // Already flushing but the decoder wants more: nothing left.
                decoderDone = true;
                return false;
            }
            if (!readPacket())
                continue;  // the demuxer is done: the decoder is being flushed
            errorsWithoutInput = 0;
            if (av().avcodec_send_packet(codec, packet) < 0)
                ++skipped;  // a packet the decoder rejects is dropped
            av().av_packet_unref(packet);
        }
    }

    // Reads the next packet of the audio stream into packet. False at the end
    // of the data, or when the demuxer keeps failing without moving on; the
    // decoder is then told that no more input follows.
    bool readPacket()
    {
        int failuresHere = 0;
        int64_t failurePosition = -1;
        for (;;) {
            const int rc = av().av_read_frame(format, packet);
            if (rc >= 0) {
                if (packet->stream_index == streamIndex)
                    return true;
                av().av_packet_unref(packet);
                continue;
            }
            const bool endOfData = rc == AVERROR_EOF || (format->pb && format->pb->eof_reached);
            if (!endOfData) {
                // A damaged stretch the demuxer resyncs past, or an I/O
                // error that repeats at the same place.
                const int64_t position = format->pb ? av().avio_seek(format->pb, 0, SEEK_CUR) : -1;
                if (position != failurePosition) {
                    failurePosition = position;
                    failuresHere = 0;
                }
                if (++failuresHere <= kMaxErrorsWithoutProgress)
                    continue;
                giveUp(QStringLiteral("read failed: ") + ffmpegErrorText(rc));
            }
            demuxerDone = true;
            av().avcodec_send_packet(codec, nullptr);
            return false;
        }
    }

    // Makes at least one converted frame available; false at the end.
    bool fill()
    {
        while (pendingFrames() == 0) {
            if (!decoderDone && receiveFrame()) {
                if (frame->nb_samples > 0 && setUpResampler(frame))
                    convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                av().av_frame_unref(frame);
                continue;
            }
            if (!resamplerFlushed) {
                resamplerFlushed = true;
                drainResampler();
                continue;
            }
            return false;
        }
        return true;
    }
};

AudioFileDecoder::AudioFileDecoder()
    : d(std::make_unique<State>())
{
}

AudioFileDecoder::~AudioFileDecoder() = default;

bool AudioFileDecoder::open(const QString& path)
{
    quietLibraryLogging();
    boundLibraryAllocations();
    close();
    d->path = path;
    d->error.clear();

    if (path.isEmpty())
        return d->fail("empty path");

    AVDictionary* options = nullptr;
    av().av_dict_set(&options, "protocol_whitelist", "file", 0);
    d->format = av().avformat_alloc_context();
    if (!d->format)
        return d->fail("out of memory");
    d->format->format_whitelist = av().av_strdup(kAllowedDemuxers);
    // The explicit protocol keeps a colon in the file name from being read
    // as some other protocol.
    const QByteArray url = "file:" + path.toUtf8();
    int rc = av().avformat_open_input(&d->format, url.constData(), nullptr, &options);
    av().av_dict_free(&options);
    if (rc < 0) {
        d->format = nullptr;  // freed by avformat_open_input on failure
        return d->fail(ffmpegErrorText(rc));
    }

    rc = av().avformat_find_stream_info(d->format, nullptr);
    if (rc < 0)
        return d->fail(ffmpegErrorText(rc));

    const AVCodec* codec = nullptr;
    rc = av().av_find_best_stream(d->format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (rc < 0 || !codec)
        return d->fail(rc == AVERROR_DECODER_NOT_FOUND ? QStringLiteral("no decoder for the audio stream")
                                                       : QStringLiteral("no audio stream"));
    d->streamIndex = rc;
    AVStream* stream = d->format->streams[d->streamIndex];

    d->codec = av().avcodec_alloc_context3(codec);
    if (!d->codec)
        return d->fail("out of memory");
    rc = av().avcodec_parameters_to_context(d->codec, stream->codecpar);
    d->codec->thread_count = d->codecThreads;
    if (d->codecThreads != 1)
        d->codec->thread_type = FF_THREAD_FRAME;
    if (rc >= 0)
        rc = av().avcodec_open2(d->codec, codec, nullptr);
    if (rc < 0)
        return d->fail(ffmpegErrorText(rc));
    if (d->codec->sample_rate <= 0)
        return d->fail("invalid sample rate");

    // Only the audio stream is read; cover art and other streams are dropped
    // by the demuxer instead of being handed to us.
    for (unsigned i = 0; i < d->format->nb_streams; ++i) {
        if (int(i) != d->streamIndex)
            d->format->streams[i]->discard = AVDISCARD_ALL;
    }

    d->packet = av().av_packet_alloc();
    d->frame = av().av_frame_alloc();
    if (!d->packet || !d->frame)
        return d->fail("out of memory");

    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        d->declaredFrames = av().av_rescale_q(stream->duration, stream->time_base, AVRational{1, d->outputRate});
    else if (d->format->duration != AV_NOPTS_VALUE && d->format->duration > 0)
        d->declaredFrames = av().av_rescale_q(d->format->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, d->outputRate});
    d->declaredIsEstimate = d->format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    const qint64 fileBytes = d->format->pb ? av().avio_size(d->format->pb) : -1;
    if (d->declaredFrames < 0
        || (fileBytes > 0 && d->declaredFrames / kMaxFramesPerFileByte >= fileBytes)) {
        qWarning() << "[Decode] Ignoring a length the file cannot hold:" << d->declaredFrames << "frames in"
                   << fileBytes << "bytes:" << path;
        d->declaredFrames = 0;
        d->declaredIsEstimate = false;
    }
    return true;
}

qint64 AudioFileDecoder::framesToMs(qint64 frames, int rate)
{
    if (rate <= 0)
        return 0;
    // Whole seconds first: frames * 1000 overflows for absurd counts.
    const qint64 seconds = frames / rate;
    constexpr qint64 kMaxSeconds = std::numeric_limits<qint64>::max() / 1000;
    if (seconds > kMaxSeconds || seconds < -kMaxSeconds)
        return seconds > 0 ? kMaxSeconds * 1000 : -kMaxSeconds * 1000;
    return seconds * 1000 + frames % rate * 1000 / rate;
}

void AudioFileDecoder::setCodecThreads(int count)
{
    d->codecThreads = std::max(0, count);
}

void AudioFileDecoder::setOutputSampleRate(int hz)
{
    d->outputRate = hz > 0 ? hz : kSampleRate;
}

int AudioFileDecoder::outputSampleRate() const
{
    return d->outputRate;
}

int AudioFileDecoder::codecThreadsInUse() const
{
    if (!d->codec || !(d->codec->active_thread_type & FF_THREAD_FRAME))
        return 0;
    return std::max(d->codec->thread_count, 0);
}

void AudioFileDecoder::close()
{
    d->release();
}

bool AudioFileDecoder::isOpen() const
{
    return d->format != nullptr;
}

qint64 AudioFileDecoder::declaredFrames() const
{
    return d->declaredFrames;
}

qint64 AudioFileDecoder::read(float* out, qint64 maxFrames)
{
    if (!d->format || !out || maxFrames <= 0)
        return 0;
    qint64 written = 0;
    while (written < maxFrames) {
        if (!d->fill()) {
            d->reportEnd();
            break;
        }
        const qint64 n = std::min<qint64>(maxFrames - written, qint64(d->pendingFrames()));
        std::memcpy(out + written * kChannels, d->pending.data() + d->pendingOffset,
                    size_t(n) * kChannels * sizeof(float));
        d->pendingOffset += size_t(n) * kChannels;
        d->framesOut += n;
        written += n;
    }
    return written;
}

bool AudioFileDecoder::atEnd() const
{
    return !d->format || (d->decoderDone && d->resamplerFlushed && d->pendingFrames() == 0);
}

bool AudioFileDecoder::stoppedOnError() const
{
    return d->stoppedOnError;
}

bool AudioFileDecoder::endedShort() const
{
    return d->format && d->endedShort();
}

int AudioFileDecoder::skippedPackets() const
{
    return d->skipped;
}

QString AudioFileDecoder::errorString() const
{
    return d->error;
}

QString AudioFileDecoder::path() const
{
    return d->path;
}
