#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/video/decode/SlabBooks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace video {

// Memory for decoded pictures, recycled.
//
// Why: the frame source keeps every frame decoded on the way to a target, so the decoder
// keeps asking for new picture memory. libavcodec's own pool gets it from malloc and zeroes
// it, and on this kind of virtual machine the first touch of each fresh 4 KB page costs
// about 10 us: a 320x240 MS Video 1 seek that decodes 24 frames spent two thirds of its
// time there, a 1920x1080 MJPEG one more than half.
//
// How: buffers are cut from slabs of 2 MB-aligned memory advised into transparent huge pages
// (one fault per 2 MB instead of 512, SlabMemory.h), several buffers of one size to a slab so
// that little is wasted. A buffer whose last reference goes comes back here from whichever
// thread drops it (the decoder's frame threads, the cache's owner) and is handed out again.
// New buffers are taken from the busiest slab, so that the others empty (SlabBooks.h); a slab
// all of whose buffers are idle goes back to the system while more idle memory than the cap
// is held. Pictures are laid out in one buffer each (PictureLayout.h).
//
// Thread-safe: this is the locking front door over the books. The pool may be destroyed while
// buffers are still out: their slabs then go when their last buffer does.
class FramePool {
public:
    static constexpr std::size_t kDefaultIdleCap = std::size_t(32) << 20;
    // What a decoder of pictures of this size keeps idle: three pictures, within 8 and 32 MB
    // (small pictures still get a slab's worth; they cost little and fault in slowly).
    static std::size_t idleCapFor(std::size_t pictureBytes)
    {
        return std::clamp(3 * pictureBytes, std::size_t(8) << 20, kDefaultIdleCap);
    }
    static constexpr std::size_t kAlign = 64; // of every buffer, as av_malloc's

    // With `prefault`, a thread of the pool's own, at idle priority, maps and faults in a
    // slab of the size last asked for whenever none of that size is left in memory after a
    // buffer that had never been handed out went, so that a decoder that keeps needing new
    // memory (frames the cache holds on to) finds it faulted in: on this kind of virtual
    // machine the first touch of memory the host has not backed yet costs about 4 ms per 2 MB
    // even in huge pages. Within the idle cap only.
    explicit FramePool(std::size_t idleCapBytes = kDefaultIdleCap, bool prefault = false);
    ~FramePool();
    FramePool(const FramePool &) = delete;
    FramePool &operator=(const FramePool &) = delete;

    // A buffer of `size` bytes (not zeroed when recycled), kAlign-aligned; null when out of
    // memory.
    AVBufferRef *get(std::size_t size);
    void setIdleCap(std::size_t bytes);
    // Whether new slabs are advised into huge pages (they are unless told otherwise). A
    // holder about to keep a great deal of new memory at once does better without: see
    // SlabMemory.h.
    void setHugePages(bool huge);

    using Stats = SlabTotals;
    Stats stats() const;
    // Buffers of this size that would be handed out without a page fault.
    int ready(std::size_t size) const;

    // AVCodecContext::get_buffer2 for a decoder whose `opaque` is a FramePool. Pictures the
    // pool cannot serve (palettised, hardware or bitstream formats, decoders that do not
    // take caller memory) get libavcodec's default.
    static int getBuffer2(AVCodecContext *context, AVFrame *frame, int flags);
    // Points the decoder at this pool; before avcodec_open2.
    void attach(AVCodecContext *context);
    // Whether the buffer's memory is the pool's.
    bool owns(const AVBufferRef *buffer) const;
    // Makes `copy` a copy of the picture `source` (pixels, palette and properties) in pool
    // memory. For pictures a decoder made in memory of its own: raw video hands out the
    // packet it was read into, palettised pictures come from libavcodec's pool; holding
    // those keeps fresh memory busy where a copy lets it be reused at once.
    bool copyFrom(const AVFrame *source, AVFrame *copy);

private:
    struct State;
    static void release(void *opaque, uint8_t *data);
    static void prefaultLoop(State *state);
    // A buffer of `piece` bytes from a slab of its own, mapped for it.
    SlabBooks::Handout takeFromNewSlab(std::size_t piece);
    // Gives `frame` (format set) one pooled buffer laid out for width x height.
    int fill(AVFrame *frame, const int *lineAlign, int width, int height);

    State *m_state;
    std::thread m_prefaulter;
};

} // namespace video
