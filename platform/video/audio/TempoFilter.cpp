#include "platform/video/audio/TempoFilter.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/macros.h>
#include <libavutil/opt.h>
}

#include <dlfcn.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>

namespace video::audio {

namespace {

// The library's entry points, or none of them when it cannot be opened.
struct Library {
    decltype(&avfilter_get_by_name) getByName = nullptr;
    decltype(&avfilter_graph_alloc) graphAlloc = nullptr;
    decltype(&avfilter_graph_free) graphFree = nullptr;
    decltype(&avfilter_graph_alloc_filter) allocFilter = nullptr;
    decltype(&avfilter_graph_create_filter) createFilter = nullptr;
    decltype(&avfilter_init_str) initStr = nullptr;
    decltype(&avfilter_link) link = nullptr;
    decltype(&avfilter_graph_config) config = nullptr;
    decltype(&av_buffersrc_add_frame) addFrame = nullptr;
    decltype(&av_buffersink_get_frame) getFrame = nullptr;
    bool loaded = false;

    static const Library &get()
    {
        static const Library library = open();
        return library;
    }

private:
    static Library open()
    {
        Library l;
        // Never closed: the sound may run until the program ends.
        void *handle =
            dlopen("libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return l;
        const auto find = [handle](auto &entry, const char *name) {
            entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(handle, name));
            return entry != nullptr;
        };
        l.loaded = find(l.getByName, "avfilter_get_by_name") &&
            find(l.graphAlloc, "avfilter_graph_alloc") &&
            find(l.graphFree, "avfilter_graph_free") &&
            find(l.allocFilter, "avfilter_graph_alloc_filter") &&
            find(l.createFilter, "avfilter_graph_create_filter") &&
            find(l.initStr, "avfilter_init_str") && find(l.link, "avfilter_link") &&
            find(l.config, "avfilter_graph_config") &&
            find(l.addFrame, "av_buffersrc_add_frame") &&
            find(l.getFrame, "av_buffersink_get_frame");
        return l;
    }
};

std::string decimal(int value)
{
    char text[16];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("0");
}

AVFilterContext *addTempo(const Library &lib, AVFilterGraph *graph, const char *name,
    double factor)
{
    AVFilterContext *ctx = lib.allocFilter(graph, lib.getByName("atempo"), name);
    if (!ctx)
        return nullptr;
    if (av_opt_set_double(ctx, "tempo", factor, AV_OPT_SEARCH_CHILDREN) < 0
        || lib.initStr(ctx, nullptr) < 0)
        return nullptr;
    return ctx;
}

} // namespace

void TempoFilter::GraphFreer::operator()(AVFilterGraph *graph) const
{
    Library::get().graphFree(&graph); // made by the library, so it is open
}

std::unique_ptr<TempoFilter> TempoFilter::create(int speed, int rate, int channels,
    StartError *error)
{
    auto fail = [error](StartError why) -> std::unique_ptr<TempoFilter> {
        if (error)
            *error = why;
        return nullptr;
    };
    if (speed < 250 || speed > 3000 || rate <= 0 || channels <= 0)
        return fail(StartError::Speed);

    const Library &lib = Library::get();
    if (!lib.loaded)
        return fail(StartError::TempoUnavailable);
    std::unique_ptr<TempoFilter> f(new TempoFilter);
    f->m_rate = rate;
    f->m_channels = channels;
    av_channel_layout_uninit(f->m_layout.get());
    av_channel_layout_default(f->m_layout.get(), channels);
    f->m_graph.reset(lib.graphAlloc());
    f->m_frame.reset(av_frame_alloc());
    if (!f->m_graph || !f->m_frame)
        return fail(StartError::TempoUnavailable);
    // One thread: the graph runs on the decoding thread, and the machine is shared.
    f->m_graph->nb_threads = 1;

    char layoutName[64] = {};
    av_channel_layout_describe(f->m_layout.get(), layoutName, sizeof layoutName);
    const std::string args = "sample_rate=" + decimal(rate) + ":sample_fmt=s16:channel_layout="
                             + layoutName + ":time_base=1/" + decimal(rate);
    if (lib.createFilter(&f->m_source, lib.getByName("abuffer"), "in", args.c_str(), nullptr,
            f->m_graph.get()) < 0
        || lib.createFilter(&f->m_sink, lib.getByName("abuffersink"), "out", nullptr, nullptr,
               f->m_graph.get()) < 0)
        return fail(StartError::TempoUnavailable);

    const double tempo = speed / 1000.0;
    AVFilterContext *last = f->m_source;
    if (tempo < 0.5) {
        const double each = std::sqrt(tempo);
        AVFilterContext *first = addTempo(lib, f->m_graph.get(), "tempo1", each);
        AVFilterContext *second = addTempo(lib, f->m_graph.get(), "tempo2", each);
        if (!first || !second || lib.link(last, 0, first, 0) < 0
            || lib.link(first, 0, second, 0) < 0)
            return fail(StartError::TempoUnavailable);
        last = second;
    } else {
        AVFilterContext *only = addTempo(lib, f->m_graph.get(), "tempo", tempo);
        if (!only || lib.link(last, 0, only, 0) < 0)
            return fail(StartError::TempoUnavailable);
        last = only;
    }
    if (lib.link(last, 0, f->m_sink, 0) < 0
        || lib.config(f->m_graph.get(), nullptr) < 0)
        return fail(StartError::TempoUnavailable);
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
    if (Library::get().addFrame(m_source, in.get()) < 0)
        return false;
    return drain(out);
}

bool TempoFilter::finish(std::vector<int16_t> *out)
{
    if (Library::get().addFrame(m_source, nullptr) < 0)
        return false;
    return drain(out);
}

bool TempoFilter::drain(std::vector<int16_t> *out)
{
    for (;;) {
        const int ret = Library::get().getFrame(m_sink, m_frame.get());
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
