#include "platform/avi/decode/FramePool.h"
#include "platform/avi/decode/MediaFile.h"
#include "platform/avi/decode/VideoDecoder.h"
#include "tests/support/AviCorpus.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using avi::FramePool;

struct BufferUnref {
    void operator()(AVBufferRef *b) const { av_buffer_unref(&b); }
};
using Buffer = std::unique_ptr<AVBufferRef, BufferUnref>;

TEST(FramePool, HandsOutReleasedMemoryAgain)
{
    FramePool pool;
    Buffer first(pool.get(150000));
    ASSERT_TRUE(first);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first->data) % FramePool::kAlign, 0u);
    EXPECT_EQ(first->size, 150000u);
    std::memset(first->data, 0x5a, first->size);
    const uint8_t *memory = first->data;
    const size_t mapped = pool.stats().mappedBytes;
    EXPECT_GE(mapped, size_t(150000));
    EXPECT_EQ(pool.stats().outBytes % FramePool::kAlign, 0u);
    first.reset();
    EXPECT_EQ(pool.stats().outBytes, 0u);

    Buffer again(pool.get(150000));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->data, memory); // the touched memory first, not the untouched rest
    EXPECT_EQ(pool.stats().mappedBytes, mapped);
    EXPECT_EQ(pool.stats().fresh, 1);
    EXPECT_EQ(pool.stats().reused, 1);

    // Another size has slabs of its own; buffers never overlap.
    Buffer other(pool.get(40000));
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->data + other->size <= again->data ||
        again->data + again->size <= other->data);
    EXPECT_EQ(pool.stats().slabs, 2);
}

// A buffer handed out twice at once would show as a pattern overwritten by another thread.
TEST(FramePool, BuffersComeBackFromWhicheverThreadDropsThem)
{
    FramePool pool;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<Buffer, uint8_t>> handedOver; // as to a cache on another thread
    std::atomic<int> damaged{0};
    std::atomic<bool> done{false};
    auto intact = [](const AVBufferRef *b, uint8_t mark) {
        for (size_t i = 0; i < b->size; i += 997) {
            if (b->data[i] != mark)
                return false;
        }
        return true;
    };
    std::thread evictor([&] {
        std::unique_lock lock(mutex);
        while (!done || !handedOver.empty()) {
            ready.wait(lock, [&] { return done || !handedOver.empty(); });
            while (!handedOver.empty()) {
                auto [buffer, mark] = std::move(handedOver.front());
                handedOver.pop_front();
                lock.unlock();
                if (!intact(buffer.get(), mark))
                    ++damaged;
                buffer.reset();
                lock.lock();
            }
        }
    });
    std::vector<std::thread> decoders;
    for (int t = 0; t < 3; ++t) {
        decoders.emplace_back([&, t] {
            std::mt19937 random{unsigned(t)};
            std::deque<std::pair<Buffer, uint8_t>> held; // reference frames of its own
            for (int i = 0; i < 400; ++i) {
                const size_t size = (random() % 2) ? 115200 : 460800;
                Buffer b(pool.get(size));
                if (!b) {
                    ++damaged;
                    continue;
                }
                const auto mark = uint8_t(t * 64 + i % 64);
                std::memset(b->data, mark, b->size);
                held.emplace_back(std::move(b), mark);
                if (held.size() > 3) {
                    std::lock_guard lock(mutex);
                    handedOver.push_back(std::move(held.front()));
                    held.pop_front();
                    ready.notify_one();
                }
            }
            for (auto &[buffer, mark] : held) {
                if (!intact(buffer.get(), mark))
                    ++damaged;
            }
        });
    }
    for (std::thread &t : decoders)
        t.join();
    {
        std::lock_guard lock(mutex);
        done = true;
        ready.notify_one();
    }
    evictor.join();
    EXPECT_EQ(damaged, 0);
    const FramePool::Stats s = pool.stats();
    EXPECT_EQ(s.outBytes, 0u);
    EXPECT_EQ(s.fresh + s.reused, 1200);
    EXPECT_GT(s.reused, 0);
    // All of it came back: more of the same sizes come out of what is there.
    for (int i = 0; i < 100; ++i) {
        Buffer small(pool.get(115200));
        Buffer large(pool.get(460800));
        ASSERT_TRUE(small && large);
    }
    EXPECT_EQ(pool.stats().fresh, s.fresh);
    EXPECT_EQ(pool.stats().mappedBytes, s.mappedBytes);
}

TEST(FramePool, HoldsNoMoreIdleMemoryThanItsCapOnceBuffersComeBack)
{
    constexpr size_t kCap = size_t(8) << 20;
    FramePool pool(kCap);
    constexpr size_t kFrame = 3133440; // a 1920x1088 4:2:0 picture
    std::vector<Buffer> cached;
    for (int i = 0; i < 40; ++i) {
        cached.emplace_back(pool.get(kFrame));
        ASSERT_TRUE(cached.back());
    }
    const size_t mappedFull = pool.stats().mappedBytes;
    EXPECT_GE(mappedFull, 40 * kFrame);
    EXPECT_LE(mappedFull, 40 * kFrame + 40 * kFrame / 8); // little lost to slab rounding
    // Evicted in the order a cache drops frames: from both ends, the middle stays.
    for (int i = 0; i < 15; ++i) {
        cached[size_t(i)].reset();
        cached[size_t(39 - i)].reset();
    }
    size_t largestSlab = 0;
    {
        FramePool probe;
        Buffer one(probe.get(kFrame));
        largestSlab = probe.stats().mappedBytes;
    }
    const FramePool::Stats s = pool.stats();
    EXPECT_EQ(s.outBytes, 10 * ((kFrame + FramePool::kAlign - 1) / FramePool::kAlign *
        FramePool::kAlign));
    // Fully idle slabs beyond the cap are gone; partly used ones stay.
    EXPECT_LT(s.mappedBytes, mappedFull / 2);
    EXPECT_GT(s.idleBytes, 0u);
    // New frames go into the idle memory still there before any fresh slab.
    const size_t idleFrames = s.idleBytes / kFrame;
    for (size_t i = 0; i < idleFrames; ++i)
        cached[i].reset(pool.get(kFrame));
    EXPECT_EQ(pool.stats().mappedBytes, s.mappedBytes);
    EXPECT_EQ(pool.stats().reused, int64_t(idleFrames));
    cached.clear();
    EXPECT_LE(pool.stats().mappedBytes, kCap + largestSlab);
    EXPECT_LE(pool.stats().idleBytes, kCap + largestSlab);
    pool.setIdleCap(0);
    EXPECT_EQ(pool.stats().mappedBytes, 0u);
}

TEST(FramePool, BuffersOutliveThePool)
{
    Buffer kept;
    {
        FramePool pool;
        kept.reset(pool.get(1 << 20));
        ASSERT_TRUE(kept);
        Buffer dropped(pool.get(1 << 20));
    }
    std::memset(kept->data, 7, kept->size); // still the buffer's own memory
    EXPECT_EQ(kept->data[kept->size - 1], 7);
    kept.reset(); // takes the last slab, and the pool's books, with it
}

bool waitFor(const std::function<bool()> &done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

TEST(FramePool, PrefaultsASlabWhenNoneOfTheSizeIsLeftInMemoryWithinTheCap)
{
    constexpr size_t kFrame = 3133440;
    FramePool pool(size_t(32) << 20, true);
    std::vector<Buffer> cached;
    cached.emplace_back(pool.get(kFrame));
    ASSERT_TRUE(cached.back());
    ASSERT_TRUE(waitFor([&] { return pool.stats().prefaulted == 1; }));
    const FramePool::Stats before = pool.stats();
    EXPECT_EQ(before.fresh, 1);
    // The slab mapped for the first buffer has more fresh buffers; the prefaulted ones go
    // first, and they read as fresh memory does.
    Buffer next(pool.get(kFrame));
    ASSERT_TRUE(next);
    EXPECT_EQ(pool.stats().fresh, 1);
    EXPECT_EQ(pool.stats().reused, 1);
    for (size_t i = 0; i < kFrame; i += 4096)
        ASSERT_EQ(next->data[i], 0) << i;
    cached.push_back(std::move(next));
    // Holding on to every buffer (a cache filling up): each time the prefaulted ones run out
    // another slab is faulted in, until one more would put idle memory over the cap.
    const size_t slab = before.mappedBytes / 2;
    for (int i = 0; i < 12; ++i) {
        cached.emplace_back(pool.get(kFrame));
        ASSERT_TRUE(cached.back());
        EXPECT_TRUE(waitFor([&] {
            return pool.ready(kFrame) > 0 || pool.stats().idleBytes + slab > (size_t(32) << 20);
        })) << i;
        EXPECT_EQ(pool.stats().fresh, 1) << i;
    }
    EXPECT_EQ(pool.stats().prefaulted, 7);
    EXPECT_LE(pool.stats().idleBytes, size_t(32) << 20);
}

TEST(FramePool, GoesWhilePrefaulting)
{
    for (int i = 0; i < 20; ++i) {
        FramePool pool(size_t(64) << 20, true);
        Buffer b(pool.get(size_t(30) << 20)); // a large slab to fault in behind our back
        ASSERT_TRUE(b);
    }
}

// The same decoder with and without the pool: the pictures must be the same to the byte,
// every one of them in pool memory, and memory let go by the "cache" must be reused.
class PooledDecoding : public ::testing::TestWithParam<AviCorpus::Kind> {};

struct Decoded {
    std::vector<avi::ff::FramePtr> frames;
    std::unique_ptr<avi::VideoDecoder> decoder;
};

// `prefaulted` off keeps the pool's books free of the prefaulting thread's timing.
Decoded decodeAll(const QString &path, bool pooled, bool prefaulted = false)
{
    Decoded d;
    QString error;
    auto file = avi::MediaFile::open(path, &error);
    EXPECT_TRUE(file) << error.toStdString();
    if (!file)
        return d;
    avi::VideoDecoder::setPooledMemory(pooled, prefaulted);
    d.decoder = avi::VideoDecoder::open(file->codecParameters(),
        file->index().everyPacketIsKeyframe(), &error);
    avi::VideoDecoder::setPooledMemory(true);
    EXPECT_TRUE(d.decoder) << error.toStdString();
    if (!d.decoder)
        return d;
    d.decoder->setPalette(file->palette());
    auto keep = [&](AVFrame *frame) {
        avi::ff::FramePtr ref = avi::ff::makeFrame();
        av_frame_ref(ref.get(), frame);
        d.frames.push_back(std::move(ref));
    };
    auto packet = avi::ff::makePacket();
    int index = -1;
    while (file->readVideoPacket(packet.get(), &index)) {
        d.decoder->decode(packet.get(), keep);
        av_packet_unref(packet.get());
    }
    d.decoder->decode(nullptr, keep);
    return d;
}

// Every row of every plane (and the palette), whatever the line padding.
bool samePicture(const AVFrame *a, const AVFrame *b)
{
    if (a->format != b->format || a->width != b->width || a->height != b->height)
        return false;
    const auto format = AVPixelFormat(a->format);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    const int planes = av_pix_fmt_count_planes(format);
    for (int p = 0; p < planes; ++p) {
        const int bytes = av_image_get_linesize(format, a->width, p);
        const bool chroma = p == 1 || p == 2;
        const int rows = chroma ? AV_CEIL_RSHIFT(a->height, desc->log2_chroma_h) : a->height;
        for (int y = 0; y < rows; ++y) {
            if (std::memcmp(a->data[p] + ptrdiff_t(y) * a->linesize[p],
                    b->data[p] + ptrdiff_t(y) * b->linesize[p], size_t(bytes)) != 0)
                return false;
        }
    }
    if (desc->flags & AV_PIX_FMT_FLAG_PAL)
        return std::memcmp(a->data[1], b->data[1], AVPALETTE_SIZE) == 0;
    return true;
}

TEST_P(PooledDecoding, GivesTheSamePicturesInPoolMemoryAndReusesIt)
{
    QString error;
    const QString path = AviCorpus::file(GetParam(), &error);
    if (path.isEmpty())
        GTEST_SKIP() << error.toStdString();
    Decoded plain = decodeAll(path, false);
    Decoded pooled = decodeAll(path, true);
    ASSERT_TRUE(plain.decoder && pooled.decoder);
    EXPECT_EQ(plain.decoder->framePool(), nullptr);
    const FramePool *pool = pooled.decoder->framePool();
    ASSERT_NE(pool, nullptr);
    ASSERT_EQ(pooled.frames.size(), plain.frames.size());
    ASSERT_FALSE(pooled.frames.empty());
    for (size_t i = 0; i < pooled.frames.size(); ++i) {
        EXPECT_TRUE(samePicture(pooled.frames[i].get(), plain.frames[i].get())) << i;
        EXPECT_TRUE(pool->owns(pooled.frames[i]->buf[0])) << i;
    }

    // The cache lets go of everything on the display thread, the decoder of what it kept
    // (after a reset, only a picture some decoders paint the next one over); the next decode
    // reuses that memory.
    const size_t pictureBytes = pooled.frames.front()->buf[0]->size;
    const FramePool::Stats held = pool->stats();
    std::thread([&] { pooled.frames.clear(); }).join();
    pooled.decoder->reset();
    EXPECT_LE(pool->stats().outBytes, pictureBytes + FramePool::kAlign);
    EXPECT_LE(pool->stats().mappedBytes, held.mappedBytes);
    const int64_t freshBefore = pool->stats().fresh;
    QString openError;
    auto file = avi::MediaFile::open(path, &openError);
    ASSERT_TRUE(file);
    auto packet = avi::ff::makePacket();
    int index = -1;
    int decoded = 0;
    for (int i = 0; i < 8 && file->readVideoPacket(packet.get(), &index); ++i) {
        pooled.decoder->decode(packet.get(), [&](AVFrame *) { ++decoded; });
        av_packet_unref(packet.get());
    }
    EXPECT_GT(decoded, 0);
    EXPECT_EQ(pool->stats().fresh, freshBefore);
}

INSTANTIATE_TEST_SUITE_P(Codecs, PooledDecoding,
    ::testing::Values(AviCorpus::Kind::H264, AviCorpus::Kind::Mpeg4Packed,
        AviCorpus::Kind::Mjpeg, AviCorpus::Kind::MsVideo1, AviCorpus::Kind::Cinepak,
        AviCorpus::Kind::Huffyuv, AviCorpus::Kind::Dv, AviCorpus::Kind::Dib24,
        AviCorpus::Kind::Dib8, AviCorpus::Kind::Rle8),
    [](const ::testing::TestParamInfo<AviCorpus::Kind> &info) {
        return AviCorpus::name(info.param).toStdString();
    });

// Large long-GOP pictures decode on two frame threads, which ask the pool from both while
// its own thread faults memory in.
TEST(PooledDecoding, FrameThreadsGiveTheSamePictures)
{
    QString error;
    const QString path = AviCorpus::generate(QStringLiteral("pool-h264-threads"),
        {"-f", "lavfi", "-i", "testsrc2=size=656x496:rate=25", "-frames:v", "24", "-an",
            "-c:v", "libx264", "-preset", "ultrafast", "-g", "8", "-bf", "2", "-pix_fmt",
            "yuv420p"},
        &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    Decoded plain = decodeAll(path, false);
    Decoded pooled = decodeAll(path, true, true);
    ASSERT_TRUE(plain.decoder && pooled.decoder);
    ASSERT_EQ(pooled.frames.size(), 24u);
    ASSERT_EQ(plain.frames.size(), 24u);
    for (size_t i = 0; i < pooled.frames.size(); ++i) {
        EXPECT_TRUE(samePicture(pooled.frames[i].get(), plain.frames[i].get())) << i;
        EXPECT_EQ(pooled.frames[i]->pkt_dts, plain.frames[i]->pkt_dts) << i;
        EXPECT_TRUE(pooled.decoder->framePool()->owns(pooled.frames[i]->buf[0])) << i;
    }
}

} // namespace
