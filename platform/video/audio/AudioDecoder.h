#pragma once

#include "platform/video/FFmpegHandles.h"
#include "platform/video/OpenError.h"
#include "platform/video/audio/TempoFilter.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace video::audio {

// What the sound is turned into for the output: signed 16-bit, interleaved.
struct OutputFormat {
    int rate = 48000;
    int channels = 2;
};

// The sound of one video file, decoded from a time, resampled to an output format and
// time-stretched to a speed. Synchronous and single-threaded: the track runs it on its
// decoding thread, the tests call it directly.
class AudioDecoder {
public:
    // The file's first audio stream that FFmpeg can decode; nullptr with the reason in *error
    // when the file is no video or has no such stream.
    // `videoStreamId`: the id of the video stream shown (VideoInfo::streamId), whose
    // programme's sound is taken in a file of several.
    static std::unique_ptr<AudioDecoder> open(const QString &path, OpenError *error,
        int videoStreamId = -1);

    QString codecName() const;
    int sourceRate() const { return m_codec->sample_rate; }
    int sourceChannels() const { return m_codec->ch_layout.nb_channels; }

    // Makes the next pull() give the sound from fromSeconds on (earlier samples of the packet
    // the seek lands on are dropped, a late start is filled with silence) at speed
    // (thousandths of normal, 250..3000) in the given format.
    bool begin(double fromSeconds, int speed, OutputFormat format, StartError *error);

    // Writes up to maxFrames frames (maxFrames * channels samples); returns how many.
    // 0 only at the end of the sound, or when the stream cannot be read any further.
    int pull(int16_t *out, int maxFrames);

    // While *flag is set, pull() gives up at once (returning 0) instead of decoding on: a
    // start far into a file whose index is missing may decode a long way before sounding.
    void setCancelFlag(const std::atomic<bool> *flag) { m_cancel = flag; }

private:
    AudioDecoder() = default;
    void produce();
    void sendPacket(const AVPacket *packet);
    void receiveFrames();
    void takeFrame(const AVFrame *frame);
    bool configureResampler(const AVFrame *frame);
    void finishResampler();
    void deliver(const int16_t *samples, int frames);
    void finishStream();

    ff::FormatPtr m_format;
    ff::CodecPtr m_codec;
    ff::PacketPtr m_packet;
    ff::FramePtr m_frame;
    ff::ResamplerPtr m_swr;
    std::unique_ptr<TempoFilter> m_tempo;
    int m_streamIndex = -1;
    double m_origin = 0; // seconds of stream time at the video's time 0

    OutputFormat m_out;
    // Resampler input as configured, to notice a change of format within the stream.
    int m_swrRate = 0;
    int m_swrFormat = -1;
    int m_swrChannels = 0;

    // Source samples from media time 0: where the next decoded frame starts, and the first
    // one to be heard.
    double m_from = 0;
    int64_t m_nextSample = 0;
    int64_t m_firstWanted = 0;
    bool m_positioned = false;
    bool m_fileEnded = true;

    const std::atomic<bool> *m_cancel = nullptr;
    std::vector<int16_t> m_converted; // scratch for the resampler's output
    std::vector<int16_t> m_ready;     // output samples waiting for pull()
    size_t m_readyPos = 0;
};

} // namespace video::audio
