#pragma once

#include "platform/video/FFmpegHandles.h"

extern "C" {
#include <libavfilter/avfilter.h>
}

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace video::audio {

// Why the sound could not start at a place and speed; the device plays on silently, so none
// of these reaches the user.
enum class StartError { None, OutputFormat, Speed, TempoUnavailable, Seek };

// Changes the tempo of interleaved s16 sound without changing its pitch (libavfilter's atempo).
//
// libavfilter is opened on the first change of tempo, not linked: with the speech synthesis,
// image and network libraries it draws in, it costs about 11 MB of resident memory that a
// picture played at its own speed never needs.
//
// One atempo instance takes factors from 0.5 to 100; below 0.5 two are chained, each taking
// the square root. The factor goes in as a double option, never through text: FFmpeg reads
// numbers in option strings with strtod, which follows the process locale that
// QCoreApplication takes from the environment.
class TempoFilter {
public:
    // speed in thousandths of normal, 250..3000; nullptr with the reason in *error otherwise.
    static std::unique_ptr<TempoFilter> create(int speed, int rate, int channels,
        StartError *error);

    // Feeds frames of sound and appends what comes out to *out.
    bool push(const int16_t *samples, int frames, std::vector<int16_t> *out);
    // No more input: appends the rest held inside the filter to *out.
    bool finish(std::vector<int16_t> *out);

private:
    struct GraphFreer {
        void operator()(AVFilterGraph *graph) const;
    };

    TempoFilter() = default;
    bool drain(std::vector<int16_t> *out);

    std::unique_ptr<AVFilterGraph, GraphFreer> m_graph;
    AVFilterContext *m_source = nullptr; // owned by m_graph
    AVFilterContext *m_sink = nullptr;   // owned by m_graph
    ff::FramePtr m_frame;
    ff::ChannelLayout m_layout;
    int m_rate = 0;
    int m_channels = 0;
    int64_t m_nextPts = 0;
};

} // namespace video::audio
