#pragma once

#include "platform/video/FFmpegHandles.h"
#include "platform/video/FrameSource.h"
#include "platform/video/decode/VideoDecoder.h"

#include <QImage>

#include <deque>
#include <map>

namespace video {

// Decoded frames by display slot, within a byte cap. A frame is kept as the decoder gave it
// (planar YUV is a third the size of RGB32, and most frames decoded on the way to a target
// are never shown) and converted to an image when it is asked for. Images are kept beside
// their frames, at most two (the picture on show, which its holder shares, and the one made
// last, such as the next picture prepared at rest), so that a window redrawn or a step to a
// picture prepared ahead does not convert again; a new image takes over the memory of a kept
// one nothing else holds. The cap is for frames: the images come on top of it, so that making
// one never pushes out a frame that a step back needs.
//
// Eviction keeps what is near the position being shown: the frame farthest from it goes
// first, and when the position moves backwards the frames already passed count 16 times, so
// that a backward walk keeps the stretch still ahead of it. A play going backwards has the
// frames it passed in its queue already: those go before any other (`passedFirst`), or a
// stretch decoded below them would lose its lowest frames to the last few of the one above
// and decode them again with the next.
class FrameCache {
public:
    explicit FrameCache(qint64 capBytes) : m_cap(capBytes) {}

    void setCap(qint64 capBytes) { m_cap = capBytes; }
    qint64 cap() const { return m_cap; }
    qint64 bytes() const { return m_bytes; }
    int count() const { return int(m_entries.size()); }
    bool contains(int slot) const { return m_entries.count(slot) != 0; }
    bool hasImage(int slot) const
    {
        const auto it = m_entries.find(slot);
        return it != m_entries.end() && !it->second.image.isNull();
    }

    void put(int slot, const AVFrame *frame);
    void erase(int slot);
    QImage image(int slot, FrameConverter &converter, int width, int height, int clockwise = 0);
    // The frame unconverted (or its image, when it has one); null when not held. Asked for
    // by a play, which converts what it shows itself into the picture on show: the images
    // kept for the frames asked for before are let go (the one handed on with them).
    PicturePtr picture(int slot, int width, int height, int clockwise = 0);
    // Evicts until within the cap; `keep` is never evicted.
    void trim(int center, int direction, int keep, bool passedFirst = false);
    void clear();
    // What holding this decoded frame costs.
    static qint64 frameBytes(const AVFrame *frame);

private:
    struct Entry {
        ff::FramePtr frame;
        QImage image;
        qint64 bytes = 0;
    };
    static constexpr std::size_t kImagesKept = 2;

    void drop(std::map<int, Entry>::iterator it);

    std::map<int, Entry> m_entries;
    std::deque<int> m_imageSlots; // entries that hold an image, oldest first
    qint64 m_cap;
    qint64 m_bytes = 0;
};

} // namespace video
