#include "platform/video/decode/FrameCache.h"

#include <cstdlib>
#include <utility>

namespace video {

qint64 FrameCache::frameBytes(const AVFrame *frame)
{
    qint64 total = 0;
    for (const AVBufferRef *buf : frame->buf) {
        if (buf)
            total += qint64(buf->size);
    }
    for (int i = 0; i < frame->nb_extended_buf; ++i)
        total += qint64(frame->extended_buf[i]->size);
    return total + qint64(sizeof(AVFrame));
}

void FrameCache::put(int slot, const AVFrame *frame)
{
    if (contains(slot))
        return;
    ff::FramePtr copy = ff::makeFrame();
    if (!copy || av_frame_ref(copy.get(), frame) < 0)
        return;
    Entry entry;
    entry.bytes = frameBytes(copy.get());
    entry.frame = std::move(copy);
    const qint64 bytes = entry.bytes;
    m_entries.emplace(slot, std::move(entry));
    m_bytes += bytes; // after the insert, which may throw
}

void FrameCache::erase(int slot)
{
    const auto it = m_entries.find(slot);
    if (it != m_entries.end())
        drop(it);
}

void FrameCache::drop(std::map<int, Entry>::iterator it)
{
    if (!it->second.image.isNull())
        std::erase(m_imageSlots, it->first);
    m_bytes -= it->second.bytes;
    m_entries.erase(it);
}

QImage FrameCache::image(int slot, FrameConverter &converter, int width, int height,
    int clockwise)
{
    const auto it = m_entries.find(slot);
    if (it == m_entries.end())
        return {};
    Entry &e = it->second;
    if (e.image.isNull() && e.frame) {
        // The memory of a kept image that only the cache holds (not the picture on show)
        // takes the new picture: steps back and forth then use the same two images over and
        // over, the picture on show and the one made last, and never need a third.
        QImage reused;
        for (auto s = m_imageSlots.begin(); s != m_imageSlots.end(); ++s) {
            const auto held = m_entries.find(*s);
            if (held != m_entries.end() && held->second.image.isDetached()) {
                reused = std::move(held->second.image);
                m_imageSlots.erase(s);
                break;
            }
        }
        if (!converter.convertInto(e.frame.get(), width, height, clockwise, reused))
            return {};
        m_imageSlots.push_back(slot); // first: it may throw, and the image is then not held
        e.image = std::move(reused);
        while (m_imageSlots.size() > kImagesKept) {
            const auto old = m_entries.find(m_imageSlots.front());
            m_imageSlots.pop_front();
            if (old != m_entries.end())
                old->second.image = QImage();
        }
    }
    return e.image;
}

namespace {

// Converts on whichever thread asks: each thread has scalers of its own.
class DecodedPicture : public Picture {
public:
    DecodedPicture(ff::FramePtr frame, int width, int height, int clockwise)
        : m_frame(std::move(frame)), m_width(width), m_height(height), m_clockwise(clockwise)
    {
    }
    QImage toImage() const override
    {
        return converter().convert(m_frame.get(), m_width, m_height, m_clockwise);
    }
    bool renderInto(QImage &image) const override
    {
        return converter().convertInto(m_frame.get(), m_width, m_height, m_clockwise, image);
    }

private:
    static FrameConverter &converter()
    {
        thread_local FrameConverter converter;
        return converter;
    }

    ff::FramePtr m_frame;
    int m_width;
    int m_height;
    int m_clockwise;
};

} // namespace

PicturePtr FrameCache::picture(int slot, int width, int height, int clockwise)
{
    const auto it = m_entries.find(slot);
    QImage image = it != m_entries.end() ? it->second.image : QImage();
    for (const int held : std::exchange(m_imageSlots, {})) {
        if (const auto e = m_entries.find(held); e != m_entries.end())
            e->second.image = QImage();
    }
    if (it == m_entries.end())
        return nullptr;
    const Entry &e = it->second;
    if (!image.isNull())
        return std::make_shared<ReadyPicture>(std::move(image));
    ff::FramePtr ref = ff::makeFrame();
    if (!e.frame || !ref || av_frame_ref(ref.get(), e.frame.get()) < 0)
        return nullptr;
    return std::make_shared<DecodedPicture>(std::move(ref), width, height, clockwise);
}

void FrameCache::trim(int center, int direction, int keep, bool passedFirst)
{
    while (m_bytes > m_cap && m_entries.size() > 1) {
        // The candidates are the two ends of the ordered map.
        auto low = m_entries.begin();
        auto high = std::prev(m_entries.end());
        if (low->first == keep)
            ++low;
        if (high->first == keep && high != m_entries.begin())
            --high;
        qint64 lowScore = qint64(center) - low->first;
        qint64 highScore = qint64(high->first) - center;
        if (direction < 0)
            highScore *= 16;
        const bool passed = passedFirst && direction < 0 && high->first > center;
        auto victim = passed || std::abs(highScore) > std::abs(lowScore) ? high : low;
        if (victim->first == keep)
            break;
        drop(victim);
    }
}

void FrameCache::clear()
{
    m_entries.clear();
    m_imageSlots.clear();
    m_bytes = 0;
}

} // namespace video
