#include "platform/video/decode/DecodingFrameSource.h"
#include "platform/video/device/Opening.h"
#include "tests/support/ClipCorpus.h"

#include <deque>

#include <gtest/gtest.h>

namespace {

// One keyframe and B-frames that nothing references, as the 4K file of the reverse bench
// is made (x264 with two B-frames), at a size a test decodes quickly: 150 frames.
QString oneKeyframeFile(QString *error)
{
    return ClipCorpus::generate("reverse-one-key",
        {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30", "-frames:v", "150", "-c:v",
            "libx264", "-preset", "ultrafast", "-bf", "2", "-g", "1000", "-pix_fmt", "yuv420p"},
        error);
}

} // namespace

// A reverse play as its decode thread walks the source: down from the top, each picture
// asked for with the ones before it still held by the play's queue, which lets go of one
// picture for every one it takes. Every stretch is kept whole for the walk down through it,
// the lowest pictures included, and the memory of the pictures shown is reused for the next
// stretch: the play never takes more fresh picture memory than it holds at once.
TEST(ReverseWalk, EveryStretchIsKeptWholeAndReusesTheMemoryOfTheOneShown)
{
    QString error;
    const QString path = oneKeyframeFile(&error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    video::DecodeOptions options;
    options.prefaultedMemory = false; // every new buffer counted as fresh where it is taken
    std::unique_ptr<video::FrameSource> opened = video::openFrameSource(path, &error, options);
    ASSERT_TRUE(opened) << error.toStdString();
    auto *source = dynamic_cast<video::DecodingFrameSource *>(opened.get());
    ASSERT_NE(source, nullptr);
    const int length = source->info().frameCount;
    ASSERT_EQ(length, 150);

    // Room for 20 pictures (and the decoder's padding of each), a queue of 15.
    constexpr int kStretch = 20;
    constexpr int kQueue = 15;
    source->setCacheCapBytes(source->pictureBytes() * 11 / 10 * kStretch);
    const qint64 freshBefore = source->poolStats().fresh;
    std::deque<video::PicturePtr> queue;
    int window = 0; // what the first stretch keeps, with nothing passed in the cache
    int stretches = 0;
    for (int p = length - 1; p >= 0; --p) {
        const bool stretch = !source->isCached(p);
        queue.push_back(source->pictureAt(p));
        ASSERT_TRUE(queue.back()) << p;
        if (queue.size() > kQueue)
            queue.pop_front(); // shown
        if (!stretch)
            continue;
        ++stretches;
        if (window == 0) {
            while (window <= p && source->isCached(p - window))
                ++window;
            EXPECT_GE(window, kStretch);
        }
        for (int q = p; q > std::max(p - window, -1); --q)
            EXPECT_TRUE(source->isCached(q)) << "stretch from " << p << ", picture " << q;
    }
    EXPECT_EQ(stretches, (length + window - 1) / window);
    // What is held at once: the cache, the queue, and the decoder's own few pictures (its
    // references and what its threads hold).
    EXPECT_LE(source->poolStats().fresh - freshBefore, window + kQueue + 8);
}
