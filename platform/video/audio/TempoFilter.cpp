#include "platform/video/audio/TempoFilter.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace video::audio {

namespace {

std::string decimal(int value)
{
    char text[16];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("0");
}

AVFilterContext *addTempo(AVFilterGraph *graph, const char *name, double factor)
{
    AVFilterContext *ctx =
        avfilter_graph_alloc_filter(graph, avfilter_get_by_name("atempo"), name);
    if (!ctx)
        return nullptr;
    if (av_opt_set_double(ctx, "tempo", factor, AV_OPT_SEARCH_CHILDREN) < 0
        || avfilter_init_str(ctx, nullptr) < 0)
        return nullptr;
    return ctx;
}

} // namespace

std::unique_ptr<TempoFilter> TempoFilter::create(int speed, int rate, int channels, QString *error)
{
    auto fail = [error](const char *why) -> std::unique_ptr<TempoFilter> {
        if (error)
            *error = QString::fromUtf8(why);
        return nullptr;
    };
    if (speed < 250 || speed > 3000 || rate <= 0 || channels <= 0)
        return fail("この速度では音を再生できません");

    std::unique_ptr<TempoFilter> f(new TempoFilter);
    f->m_rate = rate;
    f->m_channels = channels;
    av_channel_layout_uninit(f->m_layout.get());
    av_channel_layout_default(f->m_layout.get(), channels);
    f->m_graph.reset(avfilter_graph_alloc());
    f->m_frame.reset(av_frame_alloc());
    if (!f->m_graph || !f->m_frame)
        return fail("音の速度変換を準備できません");
    // One thread: the graph runs on the decoding thread, and the machine is shared.
    f->m_graph->nb_threads = 1;

    char layoutName[64] = {};
    av_channel_layout_describe(f->m_layout.get(), layoutName, sizeof layoutName);
    const std::string args = "sample_rate=" + decimal(rate) + ":sample_fmt=s16:channel_layout="
                             + layoutName + ":time_base=1/" + decimal(rate);
    if (avfilter_graph_create_filter(&f->m_source, avfilter_get_by_name("abuffer"), "in",
                                     args.c_str(), nullptr, f->m_graph.get())
            < 0
        || avfilter_graph_create_filter(&f->m_sink, avfilter_get_by_name("abuffersink"), "out",
                                        nullptr, nullptr, f->m_graph.get())
               < 0)
        return fail("音の速度変換を準備できません");

    const double tempo = speed / 1000.0;
    AVFilterContext *last = f->m_source;
    if (tempo < 0.5) {
        const double each = std::sqrt(tempo);
        AVFilterContext *first = addTempo(f->m_graph.get(), "tempo1", each);
        AVFilterContext *second = addTempo(f->m_graph.get(), "tempo2", each);
        if (!first || !second || avfilter_link(last, 0, first, 0) < 0
            || avfilter_link(first, 0, second, 0) < 0)
            return fail("音の速度変換を準備できません");
        last = second;
    } else {
        AVFilterContext *only = addTempo(f->m_graph.get(), "tempo", tempo);
        if (!only || avfilter_link(last, 0, only, 0) < 0)
            return fail("音の速度変換を準備できません");
        last = only;
    }
    if (avfilter_link(last, 0, f->m_sink, 0) < 0
        || avfilter_graph_config(f->m_graph.get(), nullptr) < 0)
        return fail("音の速度変換を準備できません");
    return f;
}

bool TempoFilter::push(const int16_t *samples, int frames, std::vector<int16_t> *out)
{
    if (frames <= 0)
        return true;
    ff::FramePtr in(av_frame_alloc());
    if (!in)
        return false;
    in->format = AV_SAMPLE_FMT_S16;
    in->sample_rate = m_rate;
    in->nb_samples = frames;
    if (av_channel_layout_copy(&in->ch_layout, m_layout.get()) < 0
        || av_frame_get_buffer(in.get(), 0) < 0)
        return false;
    std::memcpy(in->data[0], samples, size_t(frames) * size_t(m_channels) * sizeof(int16_t));
    in->pts = m_nextPts;
    m_nextPts += frames;
    if (av_buffersrc_add_frame(m_source, in.get()) < 0)
        return false;
    return drain(out);
}

bool TempoFilter::finish(std::vector<int16_t> *out)
{
    if (av_buffersrc_add_frame(m_source, nullptr) < 0)
        return false;
    return drain(out);
}

bool TempoFilter::drain(std::vector<int16_t> *out)
{
    for (;;) {
        const int ret = av_buffersink_get_frame(m_sink, m_frame.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return false;
        const bool usable = m_frame->format == AV_SAMPLE_FMT_S16
                            && m_frame->ch_layout.nb_channels == m_channels;
        if (usable) {
            const auto *data = reinterpret_cast<const int16_t *>(m_frame->data[0]);
            out->insert(out->end(), data, data + size_t(m_frame->nb_samples) * size_t(m_channels));
        }
        av_frame_unref(m_frame.get());
        if (!usable)
            return false;
    }
}

} // namespace video::audio
