#include "platform/video/audio/AudioDecoder.h"
#include "platform/video/decode/Container.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace video::audio {

namespace {

// Lossy codecs need some sound before the target to settle (MP3's bit reservoir and
// overlap); it is decoded and dropped.
constexpr double kPreroll = 0.5;
// A stream that starts later than asked is padded with silence, but never with more than
// this: a broken timestamp must not make minutes of nothing.
constexpr double kMaxLeadingSilence = 60.0;
constexpr double kLatestStart = 1e7;

bool isPcm(AVCodecID id)
{
    const AVCodecDescriptor *d = avcodec_descriptor_get(id);
    return d && d->name && std::strncmp(d->name, "pcm_", 4) == 0;
}

struct FirstAudio {
    ff::CodecPtr codec;
    int stream = -1;
    bool sawAudio = false;
};

// The audio streams to try, in order: in a file of several programmes (a TV recording), those
// of the programme whose picture is shown, where it has any; else every one in the file.
std::vector<unsigned> audioCandidates(AVFormatContext *format, int videoStreamId)
{
    std::vector<unsigned> all;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            all.push_back(i);
    }
    if (format->nb_programs < 2 || videoStreamId < 0)
        return all;
    for (unsigned v = 0; v < format->nb_streams; ++v) {
        if (format->streams[v]->id != videoStreamId ||
            format->streams[v]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        const AVProgram *program = av_find_program_from_stream(format, nullptr, int(v));
        if (!program)
            break;
        std::vector<unsigned> own;
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
            const unsigned i = program->stream_index[k];
            if (i < format->nb_streams &&
                format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                own.push_back(i);
        }
        return own.empty() ? all : own;
    }
    return all;
}

// The first audio stream with a decoder that opens.
FirstAudio firstDecodableAudio(AVFormatContext *format, int videoStreamId)
{
    FirstAudio first;
    for (const unsigned i : audioCandidates(format, videoStreamId)) {
        if (first.stream >= 0)
            break;
        AVStream *stream = format->streams[i];
        const AVCodecParameters *par = stream->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        first.sawAudio = true;
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        if (!codec || par->sample_rate <= 0)
            continue;
        ff::CodecPtr ctx(avcodec_alloc_context3(codec));
        if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0)
            continue;
        ctx->pkt_timebase = stream->time_base;
        ctx->thread_count = 1;
        if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
            continue;
        first.codec = std::move(ctx);
        first.stream = int(i);
    }
    return first;
}

} // namespace

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString &path, OpenError *error,
    int videoStreamId)
{
    auto fail = [error](OpenError::Why why) -> std::unique_ptr<AudioDecoder> {
        if (error)
            *error = why;
        return nullptr;
    };

    // An unfinished recording is read as far as its data goes, as the picture is.
    int code = 0;
    ff::FormatPtr format = container::open(path, &code);
    if (!format)
        return fail(OpenError::Why::SoundUnopenable);
    if (container::isText(format.get()))
        return fail(OpenError::Why::SoundNotInVideo);
    // The AVI header describes the sound fully, and probing would decode the picture too;
    // other containers (a transport stream above all) may say nothing until probed.
    double origin = 0;
    if (!container::isAvi(format.get())) {
        avformat_find_stream_info(format.get(), nullptr);
        // Time 0 of the video is the container's start (a transport stream's clock does
        // not start at 0).
        if (format->start_time != AV_NOPTS_VALUE && format->start_time > 0)
            origin = double(format->start_time) / AV_TIME_BASE;
        // The sound of a video file: a plain sound file (a WAV) is none.
        if (av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) < 0)
            return fail(OpenError::Why::SoundNotInVideo);
    }
    FirstAudio first = firstDecodableAudio(format.get(), videoStreamId);
    if (first.stream < 0)
        return fail(first.sawAudio ? OpenError::Why::SoundUnsupported : OpenError::Why::NoSound);
    std::unique_ptr<AudioDecoder> d(new AudioDecoder);
    d->m_origin = origin;
    d->m_codec = std::move(first.codec);
    d->m_streamIndex = first.stream;

    // Only the chosen stream is read: the demuxer then skips the picture's chunks.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != d->m_streamIndex)
            format->streams[i]->discard = AVDISCARD_ALL;

    d->m_packet.reset(av_packet_alloc());
    d->m_frame.reset(av_frame_alloc());
    if (!d->m_packet || !d->m_frame)
        return fail(OpenError::Why::OutOfMemory);
    d->m_format = std::move(format);
    return d;
}

QString AudioDecoder::codecName() const
{
    return QString::fromLatin1(avcodec_get_name(m_codec->codec_id));
}

bool AudioDecoder::begin(double fromSeconds, int speed, OutputFormat format, StartError *error)
{
    auto fail = [error](StartError why) {
        if (error)
            *error = why;
        return false;
    };
    if (format.rate <= 0 || format.channels <= 0 || format.channels > 8)
        return fail(StartError::OutputFormat);
    if (speed < 250 || speed > 3000)
        return fail(StartError::Speed);
    if (!std::isfinite(fromSeconds) || fromSeconds < 0)
        fromSeconds = 0;
    // Far past any file's end, and small enough for sample counts and timestamps.
    fromSeconds = std::min(fromSeconds, kLatestStart);

    m_out = format;
    m_tempo.reset();
    if (speed != 1000) {
        m_tempo = TempoFilter::create(speed, format.rate, format.channels, error);
        if (!m_tempo)
            return false;
    }
    m_swr.reset();
    m_swrRate = 0;
    m_swrFormat = -1;
    m_swrChannels = 0;
    m_ready.clear();
    m_readyPos = 0;

    AVStream *stream = m_format->streams[m_streamIndex];
    const double preroll = isPcm(m_codec->codec_id) ? 0.0 : kPreroll;
    const double seekTo = m_origin + std::max(0.0, fromSeconds - preroll);
    const int64_t ts = int64_t(std::floor(seekTo / av_q2d(stream->time_base)));
    if (avformat_seek_file(m_format.get(), m_streamIndex, INT64_MIN, ts, ts, 0) < 0
        && av_seek_frame(m_format.get(), m_streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0
        && av_seek_frame(m_format.get(), m_streamIndex, 0, AVSEEK_FLAG_BACKWARD) < 0)
        return fail(StartError::Seek);
    avcodec_flush_buffers(m_codec.get());

    m_from = fromSeconds;
    m_positioned = false;
    m_fileEnded = false;
    return true;
}

int AudioDecoder::pull(int16_t *out, int maxFrames)
{
    const size_t channels = size_t(m_out.channels);
    while (m_readyPos >= m_ready.size()) {
        m_ready.clear();
        m_readyPos = 0;
        if (m_fileEnded || (m_cancel && m_cancel->load()))
            return 0;
        produce();
    }
    const size_t frames = std::min(size_t(std::max(maxFrames, 0)),
                                   (m_ready.size() - m_readyPos) / channels);
    std::memcpy(out, m_ready.data() + m_readyPos, frames * channels * sizeof(int16_t));
    m_readyPos += frames * channels;
    return int(frames);
}

void AudioDecoder::produce()
{
    const int ret = av_read_frame(m_format.get(), m_packet.get());
    if (ret < 0) {
        // End of file, or a file that cannot be read further: what was decoded is heard.
        sendPacket(nullptr);
        finishStream();
        m_fileEnded = true;
        return;
    }
    if (m_packet->stream_index == m_streamIndex)
        sendPacket(m_packet.get());
    av_packet_unref(m_packet.get());
}

void AudioDecoder::sendPacket(const AVPacket *packet)
{
    int ret = avcodec_send_packet(m_codec.get(), packet);
    if (ret == AVERROR(EAGAIN)) {
        receiveFrames();
        ret = avcodec_send_packet(m_codec.get(), packet);
    }
    // A damaged packet is skipped; the next one may decode.
    receiveFrames();
}

void AudioDecoder::receiveFrames()
{
    while (avcodec_receive_frame(m_codec.get(), m_frame.get()) >= 0) {
        takeFrame(m_frame.get());
        av_frame_unref(m_frame.get());
    }
}

void AudioDecoder::takeFrame(const AVFrame *frame)
{
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : m_codec->sample_rate;
    if (frame->nb_samples <= 0 || rate <= 0)
        return;
    if (!m_positioned) {
        int64_t ts = frame->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE)
            ts = frame->pts;
        const double tb = av_q2d(m_format->streams[m_streamIndex]->time_base);
        // Without a timestamp the seek is taken to have landed where it was asked.
        const double start = ts == AV_NOPTS_VALUE ? m_from : ts * tb - m_origin;
        m_nextSample = std::llround(start * rate);
        m_firstWanted = std::llround(m_from * rate);
        m_positioned = true;
        if (m_nextSample > m_firstWanted) {
            const double gap = std::min(double(m_nextSample - m_firstWanted) / rate,
                                        kMaxLeadingSilence);
            std::vector<int16_t> silence(size_t(std::llround(gap * m_out.rate)) * m_out.channels);
            deliver(silence.data(), int(silence.size() / size_t(m_out.channels)));
        }
    }
    const int64_t start = m_nextSample;
    m_nextSample += frame->nb_samples;
    const int skip = int(std::clamp<int64_t>(m_firstWanted - start, 0, frame->nb_samples));
    const int count = frame->nb_samples - skip;
    if (count == 0 || !configureResampler(frame))
        return;

    const auto fmt = AVSampleFormat(frame->format);
    const int bytes = av_get_bytes_per_sample(fmt);
    const int planes = av_sample_fmt_is_planar(fmt) ? frame->ch_layout.nb_channels : 1;
    const int step = av_sample_fmt_is_planar(fmt) ? bytes : bytes * frame->ch_layout.nb_channels;
    std::vector<const uint8_t *> in(size_t(std::max(planes, 1)));
    for (int p = 0; p < planes; ++p)
        in[size_t(p)] = frame->extended_data[p] + size_t(skip) * size_t(step);

    const int capacity = swr_get_out_samples(m_swr.get(), count);
    if (capacity <= 0)
        return;
    m_converted.resize(size_t(capacity) * size_t(m_out.channels));
    auto *outPlane = reinterpret_cast<uint8_t *>(m_converted.data());
    const int got = swr_convert(m_swr.get(), &outPlane, capacity, in.data(), count);
    if (got > 0)
        deliver(m_converted.data(), got);
}

bool AudioDecoder::configureResampler(const AVFrame *frame)
{
    const int channels = frame->ch_layout.nb_channels;
    if (m_swr && m_swrRate == frame->sample_rate && m_swrFormat == frame->format
        && m_swrChannels == channels)
        return true;
    if (m_swr)
        finishResampler();

    // Files often leave the layout unspecified (no channel mask): take the usual one.
    ff::ChannelLayout inLayout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC
        || av_channel_layout_check(&frame->ch_layout) == 0)
        av_channel_layout_default(inLayout.get(), channels);
    else if (av_channel_layout_copy(inLayout.get(), &frame->ch_layout) < 0)
        return false;
    ff::ChannelLayout outLayout(m_out.channels);

    SwrContext *raw = nullptr;
    if (swr_alloc_set_opts2(&raw, outLayout.get(), AV_SAMPLE_FMT_S16, m_out.rate, inLayout.get(),
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr)
        < 0)
        return false;
    ff::ResamplerPtr swr(raw);
    if (swr_init(swr.get()) < 0)
        return false;
    m_swr = std::move(swr);
    m_swrRate = frame->sample_rate;
    m_swrFormat = frame->format;
    m_swrChannels = channels;
    return true;
}

void AudioDecoder::finishResampler()
{
    if (!m_swr)
        return;
    for (;;) {
        const int capacity = std::max(swr_get_out_samples(m_swr.get(), 0), 0) + 256;
        m_converted.resize(size_t(capacity) * size_t(m_out.channels));
        auto *outPlane = reinterpret_cast<uint8_t *>(m_converted.data());
        const int got = swr_convert(m_swr.get(), &outPlane, capacity, nullptr, 0);
        if (got <= 0)
            break;
        deliver(m_converted.data(), got);
    }
    m_swr.reset();
}

void AudioDecoder::deliver(const int16_t *samples, int frames)
{
    if (frames <= 0)
        return;
    if (m_tempo)
        m_tempo->push(samples, frames, &m_ready);
    else
        m_ready.insert(m_ready.end(), samples, samples + size_t(frames) * size_t(m_out.channels));
}

void AudioDecoder::finishStream()
{
    finishResampler();
    if (m_tempo)
        m_tempo->finish(&m_ready);
}

} // namespace video::audio
