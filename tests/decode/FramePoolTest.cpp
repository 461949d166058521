#include "platform/video/decode/FramePool.h"
#include "platform/video/decode/MediaFile.h"
#include "platform/video/decode/SlabBooks.h"
#include "platform/video/decode/VideoDecoder.h"
#include "tests/support/ClipCorpus.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

using video::FramePool;

struct BufferUnref {
    void operator()(AVBufferRef *b) const { av_buffer_unref(&b); }
};
using Buffer = std::unique_ptr<AVBufferRef, BufferUnref>;

// What the pool maps for the first buffer of a size.
size_t slabBytes(size_t size)
{
    FramePool probe;
    Buffer one(probe.get(size));
    return probe.stats().mappedBytes;
}

// Buffers of the size asked for, aligned; one handed out twice at once would show as a
// pattern overwritten by another thread.
TEST(FramePool, BuffersComeBackFromWhicheverThreadDropsThem)
{
    FramePool pool;
    using Marked = std::pair<Buffer, uint8_t>;
    std::mutex mutex;
    std::deque<Marked> handedOver; // as to a cache on another thread
    std::atomic<int> damaged{0};
    std::atomic<int> running{3};
    const auto check = [&](const Marked &m) {
        for (size_t i = 0; i < m.first->size; i += 997)
            damaged += m.first->data[i] != m.second;
    };
    std::thread evictor([&] {
        for (bool last = false; !last; std::this_thread::yield()) {
            last = running == 0;
            std::unique_lock lock(mutex);
            const std::deque<Marked> batch = std::exchange(handedOver, {});
            lock.unlock();
            for (const Marked &m : batch)
                check(m);
        }
    });
    std::vector<std::thread> decoders;
    for (int t = 0; t < 3; ++t) {
        decoders.emplace_back([&, t] {
            std::mt19937 random{unsigned(t)};
            std::deque<Marked> held; // reference frames of its own
            for (int i = 0; i < 400; ++i) {
                const size_t size = (random() % 2) ? 115208 : 460800; // 115208: not 64 * n
                Buffer b(pool.get(size));
                if (!b || b->size != size ||
                    reinterpret_cast<uintptr_t>(b->data) % FramePool::kAlign != 0) {
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
                }
            }
            for (const Marked &m : held)
                check(m);
            --running;
        });
    }
    for (std::thread &t : decoders)
        t.join();
    evictor.join();
    EXPECT_EQ(damaged, 0);
    // All of it came back: more of the same sizes come out of what is there.
    const std::size_t mapped = pool.stats().mappedBytes;
    for (int i = 0; i < 100; ++i) {
        Buffer small(pool.get(115208));
        Buffer large(pool.get(460800));
        ASSERT_TRUE(small && large);
    }
    EXPECT_LE(pool.stats().mappedBytes, mapped);
}

// Fully idle slabs beyond the cap go back to the system, partly used ones stay; new frames
// go into the idle memory still there before any fresh slab.
TEST(FramePool, HoldsNoMoreIdleMemoryThanItsCapOnceBuffersComeBack)
{
    constexpr size_t kCap = size_t(8) << 20;
    constexpr size_t kFrame = 3133440; // a 1920x1088 4:2:0 picture
    FramePool pool(kCap);
    std::vector<Buffer> cached;
    for (int i = 0; i < 40; ++i)
        cached.emplace_back(pool.get(kFrame));
    const size_t mappedFull = pool.stats().mappedBytes;
    EXPECT_LE(mappedFull, 40 * kFrame + 40 * kFrame / 8); // little lost to slab rounding
    for (int i = 0; i < 15; ++i) { // dropped as a cache drops frames: from both ends
        cached[size_t(i)].reset();
        cached[size_t(39 - i)].reset();
    }
    const FramePool::Stats s = pool.stats();
    EXPECT_LT(s.mappedBytes, mappedFull / 2);
    for (size_t i = 0; i < s.idleBytes / kFrame; ++i)
        cached[i].reset(pool.get(kFrame));
    EXPECT_EQ(pool.stats().mappedBytes, s.mappedBytes);
    cached.clear();
    EXPECT_LE(pool.stats().idleBytes, kCap + slabBytes(kFrame));
    pool.setIdleCap(0);
    EXPECT_EQ(pool.stats().mappedBytes, 0u);
}

// Whether the mapping holding `address` may take transparent huge pages (THPeligible in
// /proc/self/smaps); -1 when the system does not say.
int hugeEligible(const void *address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return -1;
    const auto at = reinterpret_cast<uintptr_t>(address);
    bool inside = false;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> range = line.left(line.indexOf(' ')).split('-');
        bool ok[2] = {};
        const uintptr_t from = range.size() == 2 ? range[0].toULongLong(&ok[0], 16) : 0;
        const uintptr_t to = range.size() == 2 ? range[1].toULongLong(&ok[1], 16) : 0;
        if (ok[0] && ok[1]) {
            inside = from <= at && at < to;
        } else if (inside && line.startsWith("THPeligible:")) {
            return line.mid(12).trimmed().toInt();
        }
    }
    return -1;
}

// New slabs are advised into huge pages unless the holder says it is about to keep a great
// deal of fresh memory, which small pages fault in more cheaply here; either way the
// prefaulting thread maps as the pool is told.
TEST(FramePool, AdvisesNewSlabsIntoHugePagesUnlessToldNot)
{
    constexpr size_t kFrame = 3133440;
    for (const bool prefault : {false, true}) {
        for (const bool huge : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "prefault " << prefault << ", huge " << huge);
            FramePool pool(size_t(64) << 20, prefault);
            pool.setHugePages(huge);
            std::vector<Buffer> held;
            held.emplace_back(pool.get(kFrame));
            ASSERT_TRUE(held.back());
            const int eligible = hugeEligible(held.back()->data);
            if (eligible < 0)
                GTEST_SKIP() << "no THPeligible in /proc/self/smaps";
            EXPECT_EQ(eligible, huge ? 1 : 0);
            if (!prefault)
                continue;
            // The slab faulted in ahead comes out next, mapped as the pool was told.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (pool.stats().prefaulted == 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ASSERT_EQ(pool.stats().prefaulted, 1);
            for (int i = 0; i < 8 && pool.stats().reused == 0; ++i)
                held.emplace_back(pool.get(kFrame));
            ASSERT_GT(pool.stats().reused, 0);
            EXPECT_EQ(hugeEligible(held.back()->data), huge ? 1 : 0);
        }
    }
}

// Which idle buffer goes next: one handed out before (no page fault) ahead of untouched
// memory, prefaulted memory ahead of memory still to fault in, among equals the busiest
// slab's (so that the others empty and can go back), and none when every buffer is out.
TEST(SlabBooks, HandsOutFaultedInMemoryFirstFromTheBusiestSlab)
{
    struct SlabSetUp {
        bool faultedIn;
        int handedOut;
        int givenBack;
    };
    struct Case {
        const char *what;
        std::vector<SlabSetUp> slabs;
        int expected; // the slab the next buffer comes from, -1 for none
    };
    const Case cases[] = {
        {"prefaulted before fresh", {{false, 0, 0}, {true, 0, 0}}, 1},
        {"busiest untouched", {{false, 2, 0}, {false, 1, 0}}, 0},
        {"returned before prefaulted", {{true, 1, 0}, {false, 3, 1}}, 1},
        {"busiest returned", {{false, 3, 1}, {false, 4, 1}}, 1},
        {"all out", {{false, 4, 0}}, -1},
    };
    constexpr std::size_t kPiece = 64;
    constexpr std::size_t kSlab = 4 * kPiece;
    alignas(64) static uint8_t memory[3 * kSlab]; // only pointed into: the books touch none
    for (const Case &c : cases) {
        video::SlabBooks books;
        std::vector<video::Slab *> slabs;
        for (const SlabSetUp &set : c.slabs) {
            video::Slab *slab =
                books.add(memory + slabs.size() * kSlab, kSlab, kPiece, set.faultedIn);
            std::vector<uint8_t *> out;
            for (int i = 0; i < set.handedOut; ++i)
                out.push_back(books.takeUntouched(slab).data);
            for (int i = 0; i < set.givenBack; ++i)
                books.giveBack(slab, out[size_t(i)]);
            slabs.push_back(slab);
        }
        const video::SlabBooks::Handout next = books.take(kPiece);
        const int from = int(std::find(slabs.begin(), slabs.end(), next.slab) - slabs.begin());
        EXPECT_EQ(next.slab ? from : -1, c.expected) << c.what;
        if (next.slab) {
            EXPECT_GE(next.data, next.slab->base) << c.what;
            EXPECT_LT(next.data, next.slab->base + kSlab) << c.what;
        }
    }
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

// The pool's own thread faults a slab in ahead of need while the pool is used and when it
// goes.
TEST(FramePool, GoesWhilePrefaulting)
{
    for (int i = 0; i < 20; ++i) {
        FramePool pool(size_t(64) << 20, true);
        Buffer b(pool.get(size_t(30) << 20)); // a large slab to fault in behind our back
        ASSERT_TRUE(b);
        if (i == 0) {
            for (int wait = 0; wait < 500 && pool.ready(size_t(30) << 20) == 0; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_GT(pool.ready(size_t(30) << 20), 0);
        }
    }
}

// Decoders take their pictures from the pool (whether those are right, every codec's exact
// frames show), and all of it comes back when the cache on another thread and the decoder
// let go.
TEST(PooledDecoding, PicturesLiveInPoolMemoryAndComeBack)
{
    QString error;
    const QString path = ClipCorpus::file(ClipCorpus::Kind::H264, &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    video::OpenError why;
    auto file = video::MediaFile::open(path, &why);
    ASSERT_TRUE(file) << int(why.why);
    auto decoder = video::VideoDecoder::open(file->codecParameters(),
        file->index().everyPacketIsKeyframe(), &why);
    ASSERT_TRUE(decoder) << int(why.why);
    const FramePool *pool = decoder->framePool();
    ASSERT_NE(pool, nullptr);
    std::vector<video::ff::FramePtr> frames;
    auto packet = video::ff::makePacket();
    int index = -1;
    for (int i = 0; i < 40 && file->readVideoPacket(packet.get(), &index); ++i) {
        decoder->decode(packet.get(), [&](AVFrame *frame) {
            frames.push_back(video::ff::makeFrame());
            av_frame_ref(frames.back().get(), frame);
        });
        av_packet_unref(packet.get());
    }
    ASSERT_GT(frames.size(), 30u);
    for (const video::ff::FramePtr &frame : frames)
        EXPECT_TRUE(pool->owns(frame->buf[0]));
    std::thread([&] { frames.clear(); }).join();
    decoder->reset();
    EXPECT_EQ(pool->stats().outBytes, 0u); // nothing kept once the cache and the decoder let go
}

} // namespace
