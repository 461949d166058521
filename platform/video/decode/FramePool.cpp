#include "platform/video/decode/FramePool.h"

#include "platform/video/decode/IdlePriority.h"
#include "platform/video/decode/PictureLayout.h"
#include "platform/video/decode/SlabMemory.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace video {

namespace {

void unmapAll(const SlabBooks::Unmaps &unmap)
{
    for (const auto &[base, bytes] : unmap)
        slab::unmap(base, bytes);
}

} // namespace

// The books under their lock, shared with the buffers out and the prefaulting thread.
struct FramePool::State : SlabBooks {
    std::mutex mutex;
    std::size_t idleCap = 0;
    bool huge = true; // new slabs advised into huge pages
    bool closed = false; // the pool is gone; the last slab to go takes this with it

    // The prefaulting thread's work: a slab of buffers of this size, 0 for none.
    bool prefault = false;
    std::size_t prefaultPiece = 0;
    bool stopping = false;
    std::condition_variable wake;

    // Called under the lock after a buffer of this size went out.
    void maybePrefault(std::size_t piece)
    {
        if (prefault && prefaultPiece == 0 && !closed && ready(piece) == 0 &&
            totals().idleBytes + slab::bytesFor(piece) <= idleCap) {
            prefaultPiece = piece;
            wake.notify_one();
        }
    }
    // Under the lock: what more than the cap is idle, all of it once the pool is closed.
    void trim(Unmaps &unmap) { dropIdle(idleCap, closed, unmap); }
};

// Called wherever the last reference to a buffer goes.
void FramePool::release(void *opaque, uint8_t *data)
{
    auto *slab = static_cast<Slab *>(opaque);
    auto *state = static_cast<State *>(slab->books);
    SlabBooks::Unmaps unmap;
    bool last = false;
    {
        std::lock_guard lock(state->mutex);
        state->giveBack(slab, data);
        if (slab->out == 0 || state->totals().idleBytes > state->idleCap)
            state->trim(unmap); // `slab` may be gone after this
        last = state->closed && state->totals().slabs == 0;
    }
    unmapAll(unmap);
    if (last)
        delete state;
}

FramePool::FramePool(std::size_t idleCapBytes, bool prefault) : m_state(new State)
{
    m_state->idleCap = idleCapBytes;
    m_state->prefault = prefault;
    if (prefault)
        m_prefaulter = std::thread([state = m_state] { prefaultLoop(state); });
}

// Maps the slab asked for and faults every page of it in, at idle priority: only time no
// other thread wants goes into it. A prefaulted slab is idle memory like any other.
void FramePool::prefaultLoop(State *state)
{
    lowerToIdlePriority();
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->stopping || state->prefaultPiece != 0; });
        if (state->stopping)
            return;
        const std::size_t piece = state->prefaultPiece;
        const bool huge = state->huge;
        lock.unlock();
        const std::size_t bytes = slab::bytesFor(piece);
        uint8_t *base = slab::mapFaultedIn(bytes, huge);
        lock.lock();
        state->prefaultPiece = 0;
        if (!base)
            continue;
        if (state->stopping) {
            lock.unlock();
            slab::unmap(base, bytes);
            return;
        }
        state->add(base, bytes, piece, true);
    }
}

FramePool::~FramePool()
{
    if (m_prefaulter.joinable()) {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->stopping = true;
        }
        m_state->wake.notify_one();
        m_prefaulter.join();
    }
    SlabBooks::Unmaps unmap;
    bool last = false;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->closed = true;
        m_state->trim(unmap);
        last = m_state->totals().slabs == 0;
    }
    unmapAll(unmap);
    if (last)
        delete m_state;
}

void FramePool::setIdleCap(std::size_t bytes)
{
    SlabBooks::Unmaps unmap;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->idleCap = bytes;
        m_state->trim(unmap);
    }
    unmapAll(unmap);
}

void FramePool::setHugePages(bool huge)
{
    std::lock_guard lock(m_state->mutex);
    m_state->huge = huge;
}

FramePool::Stats FramePool::stats() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->totals();
}

int FramePool::ready(std::size_t size) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->ready(slab::roundUp(size, kAlign));
}

AVBufferRef *FramePool::get(std::size_t size)
{
    if (size == 0 || size > std::size_t(INT_MAX))
        return nullptr;
    const std::size_t piece = slab::roundUp(size, kAlign);
    SlabBooks::Handout taken;
    {
        std::lock_guard lock(m_state->mutex);
        taken = m_state->take(piece);
        // Only while the holders keep more and more: a buffer that came back stands for one
        // about to come back again, as a cache full of frames lets one go for every one it
        // takes, and a slab faulted in then would only sit idle.
        if (taken.slab && !taken.cameBack)
            m_state->maybePrefault(piece);
    }
    if (!taken.slab)
        taken = takeFromNewSlab(piece);
    if (!taken.slab)
        return nullptr;
    AVBufferRef *ref = av_buffer_create(taken.data, size, &FramePool::release, taken.slab, 0);
    if (!ref)
        release(taken.slab, taken.data);
    return ref;
}

SlabBooks::Handout FramePool::takeFromNewSlab(std::size_t piece)
{
    const std::size_t bytes = slab::bytesFor(piece);
    bool huge = true;
    {
        std::lock_guard lock(m_state->mutex);
        huge = m_state->huge;
    }
    uint8_t *base = slab::map(bytes, huge);
    if (!base)
        return {};
    std::lock_guard lock(m_state->mutex);
    const SlabBooks::Handout taken = m_state->takeUntouched(m_state->add(base, bytes, piece,
        false));
    m_state->maybePrefault(piece);
    return taken;
}

void FramePool::attach(AVCodecContext *context)
{
    context->opaque = this;
    context->get_buffer2 = &FramePool::getBuffer2;
#if LIBAVCODEC_VERSION_MAJOR < 60
    // It is (a lock guards the pool); saying so keeps frame threads from warning about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    context->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

int FramePool::fill(AVFrame *frame, const int *lineAlign, int width, int height)
{
    PictureLayout l;
    if (!l.layOut(AVPixelFormat(frame->format), width, height, lineAlign, kAlign))
        return AVERROR(EINVAL);
    AVBufferRef *buffer = get(l.total);
    if (!buffer)
        return AVERROR(ENOMEM);
    frame->buf[0] = buffer;
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
        const bool plane = i < 4 && l.planes[i] > 0;
        frame->data[i] = plane ? buffer->data + l.offsets[i] : nullptr;
        frame->linesize[i] = plane ? l.lines[i] : 0;
    }
    frame->extended_data = frame->data;
    return 0;
}

// Lays the picture out as libavcodec's default does (the decoder's dimension and line
// alignment, the same slack after each plane), but in one buffer from the pool.
int FramePool::getBuffer2(AVCodecContext *context, AVFrame *frame, int flags)
{
    auto *pool = static_cast<FramePool *>(context->opaque);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    const bool served = pool && desc && frame->width > 0 && frame->height > 0 &&
        !context->hwaccel && !frame->hw_frames_ctx && !context->hw_frames_ctx &&
        context->codec && (context->codec->capabilities & AV_CODEC_CAP_DR1) &&
        !(desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
            AV_PIX_FMT_FLAG_BITSTREAM));
    if (served) {
        int w = frame->width;
        int h = frame->height;
        int lineAlign[AV_NUM_DATA_POINTERS] = {};
        avcodec_align_dimensions2(context, &w, &h, lineAlign);
        if (pool->fill(frame, lineAlign, w, h) == 0)
            return 0;
    }
    return avcodec_default_get_buffer2(context, frame, flags);
}

bool FramePool::copyFrom(const AVFrame *source, AVFrame *copy)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(source->format));
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
        source->width <= 0 || source->height <= 0 || source->hw_frames_ctx)
        return false;
    av_frame_unref(copy);
    copy->format = source->format;
    copy->width = source->width;
    copy->height = source->height;
    const int lineAlign[4] = {int(kAlign), int(kAlign), int(kAlign), int(kAlign)};
    if (fill(copy, lineAlign, source->width, source->height) < 0 ||
        av_frame_copy(copy, source) < 0 || av_frame_copy_props(copy, source) < 0) {
        av_frame_unref(copy);
        return false;
    }
    return true;
}

bool FramePool::owns(const AVBufferRef *buffer) const
{
    if (!buffer)
        return false;
    std::lock_guard lock(m_state->mutex);
    return m_state->holds(buffer->data);
}

} // namespace video
