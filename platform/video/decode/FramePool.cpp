#include "platform/video/decode/FramePool.h"

#include "platform/video/decode/IdlePriority.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <thread>
#include <map>
#include <utility>
#include <vector>

namespace video {

namespace {

constexpr std::size_t kMaxSlab = std::size_t(32) << 20;

std::size_t roundUp(std::size_t n, std::size_t to)
{
    return (n + to - 1) / to * to;
}

// Slab size for buffers of `piece` bytes: the smallest whole number of huge pages that holds
// a whole number of buffers with at most a sixteenth left over (320x240 RGB555 pictures go
// thirteen to 2 MB; 1920x1088 4:2:0 ones, 3.1 MB, six to 18 MB rather than one to 4 MB).
std::size_t slabBytesFor(std::size_t piece)
{
    const std::size_t smallest = roundUp(piece, FramePool::kHugePage);
    const std::size_t largest = std::max(kMaxSlab, smallest);
    std::size_t best = smallest;
    std::size_t bestWaste = smallest - piece;
    for (std::size_t bytes = smallest; bytes <= largest; bytes += FramePool::kHugePage) {
        const std::size_t waste = bytes - bytes / piece * piece;
        if (waste * 16 <= bytes)
            return bytes;
        if (waste * best < bestWaste * bytes) { // a smaller share of the slab wasted
            best = bytes;
            bestWaste = waste;
        }
    }
    return best;
}

// 2 MB-aligned anonymous memory, advised into huge pages (only advice: without them the
// memory works all the same, faulted in 4 KB at a time).
uint8_t *mapSlab(std::size_t bytes)
{
    const std::size_t span = bytes + FramePool::kHugePage;
    void *raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto begin = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = roundUp(begin, FramePool::kHugePage);
    if (aligned > begin)
        munmap(raw, aligned - begin);
    const std::size_t tail = begin + span - (aligned + bytes);
    if (tail > 0)
        munmap(reinterpret_cast<void *>(aligned + bytes), tail);
    auto *slab = reinterpret_cast<uint8_t *>(aligned);
    madvise(slab, bytes, MADV_HUGEPAGE);
    return slab;
}

} // namespace

struct FramePool::Slab {
    State *state = nullptr;
    uint8_t *base = nullptr;
    std::size_t bytes = 0;
    std::size_t piece = 0;
    int count = 0;     // buffers the slab holds
    int out = 0;       // handed out now
    int untouched = 0; // never handed out: the last `untouched` of the slab
    bool faultedIn = false; // its untouched buffers are in memory already (prefaulted)
    std::vector<uint8_t *> returned;

    Slab(State *owner, uint8_t *memory, std::size_t size, std::size_t pieceSize)
        : state(owner), base(memory), bytes(size), piece(pieceSize),
          count(int(size / pieceSize)), untouched(count)
    {
    }
    uint8_t *takeUntouched() { return base + std::size_t(count - untouched--) * piece; }
};

struct FramePool::State {
    std::mutex mutex;
    std::size_t idleCap = 0;
    std::map<std::size_t, std::vector<Slab *>> bySize;
    std::size_t mapped = 0;
    std::size_t idle = 0;
    std::size_t out = 0;
    int slabs = 0;
    std::int64_t fresh = 0;
    std::int64_t reused = 0;
    std::int64_t prefaulted = 0;
    bool closed = false; // the pool is gone; the last slab to go takes this with it

    // The prefaulting thread's work: a slab of buffers of this size, 0 for none.
    bool prefault = false;
    std::size_t prefaultPiece = 0;
    bool stopping = false;
    std::condition_variable wake;

    // Buffers of this size that can be handed out without a page fault.
    int ready(std::size_t piece) const
    {
        const auto it = bySize.find(piece);
        int n = 0;
        if (it != bySize.end()) {
            for (const Slab *s : it->second)
                n += int(s->returned.size()) + (s->faultedIn ? s->untouched : 0);
        }
        return n;
    }
    // Called under the lock after a buffer of this size went out.
    void maybePrefault(std::size_t piece)
    {
        if (prefault && prefaultPiece == 0 && !closed && ready(piece) == 0 &&
            idle + slabBytesFor(piece) <= idleCap) {
            prefaultPiece = piece;
            wake.notify_one();
        }
    }

    // Takes slabs none of whose buffers is out off the books while more than the cap is idle
    // (all of them once the pool is closed). The caller unmaps them outside the lock.
    void trim(std::vector<std::pair<uint8_t *, std::size_t>> &unmap)
    {
        for (auto it = bySize.begin(); it != bySize.end();) {
            std::vector<Slab *> &list = it->second;
            for (auto s = list.begin(); s != list.end();) {
                Slab *slab = *s;
                const bool drop = slab->out == 0 && (closed || idle > idleCap);
                if (!drop) {
                    ++s;
                    continue;
                }
                idle -= std::size_t(slab->count) * slab->piece;
                mapped -= slab->bytes;
                --slabs;
                unmap.emplace_back(slab->base, slab->bytes);
                delete slab;
                s = list.erase(s);
            }
            it = list.empty() ? bySize.erase(it) : std::next(it);
        }
    }
};

namespace {

void unmapAll(const std::vector<std::pair<uint8_t *, std::size_t>> &unmap)
{
    for (const auto &[base, bytes] : unmap)
        munmap(base, bytes);
}

} // namespace

// Called wherever the last reference to a buffer goes.
void FramePool::release(void *opaque, uint8_t *data)
{
    auto *slab = static_cast<Slab *>(opaque);
    State *state = slab->state;
    std::vector<std::pair<uint8_t *, std::size_t>> unmap;
    bool last = false;
    {
        std::lock_guard lock(state->mutex);
        slab->returned.push_back(data);
        --slab->out;
        state->idle += slab->piece;
        state->out -= slab->piece;
        if (slab->out == 0 || state->idle > state->idleCap)
            state->trim(unmap); // `slab` may be gone after this
        last = state->closed && state->slabs == 0;
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
        lock.unlock();
        const std::size_t bytes = slabBytesFor(piece);
        uint8_t *base = mapSlab(bytes);
        if (base) {
            // A zero write faults a page in and leaves it as fresh memory reads: zero.
            for (std::size_t offset = 0; offset < bytes; offset += 4096)
                reinterpret_cast<volatile uint8_t *>(base)[offset] = 0;
        }
        lock.lock();
        state->prefaultPiece = 0;
        if (!base)
            continue;
        if (state->stopping) {
            lock.unlock();
            munmap(base, bytes);
            return;
        }
        auto *slab = new Slab(state, base, bytes, piece);
        slab->faultedIn = true;
        state->bySize[piece].push_back(slab);
        ++state->slabs;
        ++state->prefaulted;
        state->mapped += bytes;
        state->idle += bytes / piece * piece;
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
    std::vector<std::pair<uint8_t *, std::size_t>> unmap;
    bool last = false;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->closed = true;
        m_state->trim(unmap);
        last = m_state->slabs == 0;
    }
    unmapAll(unmap);
    if (last)
        delete m_state;
}

void FramePool::setIdleCap(std::size_t bytes)
{
    std::vector<std::pair<uint8_t *, std::size_t>> unmap;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->idleCap = bytes;
        m_state->trim(unmap);
    }
    unmapAll(unmap);
}

FramePool::Stats FramePool::stats() const
{
    std::lock_guard lock(m_state->mutex);
    Stats s;
    s.mappedBytes = m_state->mapped;
    s.idleBytes = m_state->idle;
    s.outBytes = m_state->out;
    s.slabs = m_state->slabs;
    s.fresh = m_state->fresh;
    s.reused = m_state->reused;
    s.prefaulted = m_state->prefaulted;
    return s;
}

int FramePool::ready(std::size_t size) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->ready(roundUp(size, kAlign));
}

AVBufferRef *FramePool::get(std::size_t size)
{
    if (size == 0 || size > std::size_t(INT_MAX))
        return nullptr;
    const std::size_t piece = roundUp(size, kAlign);
    State &st = *m_state;
    Slab *slab = nullptr;
    uint8_t *data = nullptr;
    bool reusedReturned = false;
    {
        std::lock_guard lock(st.mutex);
        const auto it = st.bySize.find(piece);
        if (it != st.bySize.end()) {
            // Memory already touched first (no faults), from the busiest slab, so that the
            // others empty and can go back; untouched memory only after that.
            for (Slab *s : it->second) {
                if (!s->returned.empty() && (!slab || s->out > slab->out))
                    slab = s;
            }
            if (slab) {
                data = slab->returned.back();
                slab->returned.pop_back();
                ++st.reused;
                reusedReturned = true;
            } else {
                // Prefaulted memory before memory still to be faulted in.
                for (Slab *s : it->second) {
                    const bool better = !slab || s->faultedIn > slab->faultedIn ||
                        (s->faultedIn == slab->faultedIn && s->out > slab->out);
                    if (s->untouched > 0 && better)
                        slab = s;
                }
                if (slab) {
                    data = slab->takeUntouched();
                    ++(slab->faultedIn ? st.reused : st.fresh);
                }
            }
            if (slab) {
                ++slab->out;
                st.idle -= piece;
                st.out += piece;
                // Only while the holders keep more and more: a buffer that came back stands
                // for one about to come back again, as a cache full of frames lets one go
                // for every one it takes, and a slab faulted in then would only sit idle.
                if (!reusedReturned)
                    st.maybePrefault(piece);
            }
        }
    }
    if (!slab) {
        const std::size_t bytes = slabBytesFor(piece);
        uint8_t *base = mapSlab(bytes);
        if (!base)
            return nullptr;
        slab = new Slab(m_state, base, bytes, piece);
        data = slab->takeUntouched();
        slab->out = 1;
        std::lock_guard lock(st.mutex);
        st.bySize[piece].push_back(slab);
        ++st.slabs;
        st.mapped += bytes;
        st.idle += std::size_t(slab->count - 1) * piece;
        st.out += piece;
        ++st.fresh;
        st.maybePrefault(piece);
    }
    AVBufferRef *ref = av_buffer_create(data, size, &FramePool::release, slab, 0);
    if (!ref)
        release(slab, data);
    return ref;
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

namespace {

// Where each plane of a picture goes in one buffer: lines of at least `width` pixels, each a
// multiple of its plane's alignment (widening the picture rather than each line, which some
// decoders rely on: a 4:2:2 luma line twice its chroma lines), each plane starting aligned
// and followed by libavcodec's slack for readers that run a little past the end (16 bytes
// plus up to a line alignment). False when the format has no such layout.
struct Layout {
    int lines[4] = {};
    std::size_t offsets[4] = {};
    std::size_t planes[4] = {};
    std::size_t total = 0;
};

bool layOut(AVPixelFormat format, int width, int height, const int *lineAlign, Layout &l)
{
    for (int attempt = 0;; ++attempt) {
        if (attempt > 16 || av_image_fill_linesizes(l.lines, format, width) < 0)
            return false;
        bool aligned = true;
        for (int i = 0; i < 4; ++i)
            aligned = aligned && (lineAlign[i] <= 0 || l.lines[i] % lineAlign[i] == 0);
        if (aligned)
            break;
        width += width & ~(width - 1); // the lowest bit set: wider, better aligned lines
    }
    ptrdiff_t lines[4];
    for (int i = 0; i < 4; ++i)
        lines[i] = l.lines[i];
    if (av_image_fill_plane_sizes(l.planes, format, height, lines) < 0)
        return false;
    constexpr std::size_t kSlack = 16 + FramePool::kAlign - 1;
    l.total = 0;
    for (int i = 0; i < 4 && l.planes[i] > 0; ++i) {
        l.offsets[i] = roundUp(l.total, FramePool::kAlign);
        l.total = l.offsets[i] + l.planes[i] + kSlack;
    }
    return l.total > 0 && l.total <= std::size_t(INT_MAX);
}

} // namespace

int FramePool::fill(AVFrame *frame, const int *lineAlign, int width, int height)
{
    const auto format = AVPixelFormat(frame->format);
    Layout l;
    if (!layOut(format, width, height, lineAlign, l))
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
    for (const auto &[piece, slabs] : m_state->bySize) {
        for (const Slab *slab : slabs) {
            if (buffer->data >= slab->base && buffer->data < slab->base + slab->bytes)
                return true;
        }
    }
    return false;
}

} // namespace video
