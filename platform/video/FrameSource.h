#pragma once

#include "platform/video/OpenError.h"

#include <QImage>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace video {

// What the device needs to know of a file's video.
struct VideoInfo {
    int width = 0;
    int height = 0;
    // Number of frame slots in the file's index, null frames included. Positions run from 0
    // to frameCount; position p shows the last frame whose time is at or before p / rate, so
    // position frameCount shows the last frame.
    int frameCount = 0;
    int rateNum = 25; // frames per second = rateNum / rateDen
    int rateDen = 1;
    bool hasAudio = false;
    // The container's id of the video stream shown (a transport stream's PID), so that the
    // sound can be taken from the same programme; -1 where streams carry none.
    int streamId = -1;
    // Where pictures carry times of their own: each position's time in milliseconds from the
    // first picture. Empty where the rate says it (AVI).
    std::vector<qint64> pictureMs;
};

// A decoded frame not yet turned into an image. Holding one keeps the frame's memory alive,
// whatever the cache does; toImage() converts on the calling thread, so the decode thread can
// hand frames on at once and leave the conversion to a thread of its own.
class Picture {
public:
    virtual ~Picture() = default;
    // RGB32 at source size; null when the frame cannot be converted.
    virtual QImage toImage() const = 0;
    // Makes `image` this picture, converting into the memory `image` already has where it is
    // the only holder of it and of the right size and format, so that the picture on show is
    // replaced without a second image of its size; false, and `image` as it was, when the
    // frame cannot be converted.
    virtual bool renderInto(QImage &image) const
    {
        QImage made = toImage();
        if (made.isNull())
            return false;
        image = std::move(made);
        return true;
    }
};
using PicturePtr = std::shared_ptr<const Picture>;

// A picture that already is an image.
class ReadyPicture : public Picture {
public:
    explicit ReadyPicture(QImage image) : m_image(std::move(image)) {}
    QImage toImage() const override { return m_image; }

private:
    QImage m_image;
};

// Exact frames of a video file's picture stream, by position.
//
// frameAt(p) is exactly the picture a full sequential decode shows at position p, whatever
// the codec and however far apart its keyframes. It keeps decoded frames around recent
// positions (bounded by a byte cap) so that neighbours cost little. Thread-safe: the device
// asks from its decode thread and from the user-interface thread.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual const VideoInfo &info() const = 0;
    // RGB32 at source size; a null image only when the frame cannot be decoded at all.
    virtual QImage frameAt(int position) = 0;
    // The same frame, left unconverted where the source can; null when it cannot be decoded.
    virtual PicturePtr pictureAt(int position)
    {
        QImage image = frameAt(position);
        return image.isNull() ? nullptr : std::make_shared<ReadyPicture>(std::move(image));
    }
    // What one decoded frame held unconverted costs, for sizing queues of them.
    virtual qint64 pictureBytes() const { return qint64(info().width) * info().height * 4; }

    // Optional queries, with harmless defaults so that stand-ins need not implement them.
    struct Stats {
        qint64 cacheCapBytes = 0; // the cache never holds more than this
        qint64 cacheBytes = 0;
        int cachedFrames = 0;
        qint64 framesDecoded = 0; // decoder output since open: the cost of the calls so far
        qint64 hits = 0;          // frameAt calls answered from the cache
        qint64 misses = 0;        // frameAt calls that had to decode
    };
    virtual Stats stats() const { return {}; }
    // Whether frameAt(position) would answer from the cache, without decoding.
    virtual bool isCached(int /*position*/) const { return false; }
    // Whether the position's frame starts a keyframe-bounded stretch of the file.
    virtual bool isKeyframe(int /*position*/) const { return false; }
    virtual void setCacheCapBytes(qint64 /*bytes*/) {}

    // Decoding ahead at rest. Once on, every frameAt call, and restAt, marks a place where the
    // picture stands still: while nothing else is asked, the source prepares the pictures just
    // after it (and the one before, where that costs a single decode) on a thread of its own at
    // idle priority, and leaves off between two packets the moment another call comes. Off by
    // default, so that what a call costs depends on the calls before it alone.
    virtual void setDecodeAhead(bool /*on*/) {}
    virtual void restAt(int /*position*/) {}
    // Blocks until the work started at the last place of rest is done (tests and benches).
    virtual void waitForRest() {}
};

// How a source decodes. The defaults are the player's but for the index cache, which the
// player's open names (tests open without one); benches that compare change them.
struct DecodeOptions {
    // Picture memory from a FramePool of the decoder's own, else from libavcodec's pool; and
    // whether that pool faults memory in ahead of need.
    bool pooledMemory = true;
    bool prefaultedMemory = true;
    // Unreferenced pictures far before a target are left undecoded.
    bool skipFarPictures = true;
    // Where picture indexes that took a scan of the whole file are kept between opens
    // (device/Opening.h gives the user's cache folder); empty: every open scans again.
    QString indexCache;
    // Called on the opening thread once the index is whole: benches time it, tests hold the
    // open there.
    std::function<void()> afterIndex;
};

// Opens the file on the calling thread; nullptr with the reason in *error when it is not a
// usable video, or when `cancelled` was set meanwhile.
std::unique_ptr<FrameSource> openFrameSource(const QString &path, OpenError *error,
    const std::atomic<bool> *cancelled = nullptr, const DecodeOptions &options = {});

} // namespace video
