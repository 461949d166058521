#include "platform/video/FrameSource.h"
#include "platform/video/decode/VideoDecoder.h"
#include "tests/decode/ReferenceDecode.h"
#include "tests/support/AviCorpus.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <thread>

namespace {

using Kind = AviCorpus::Kind;

// Largest difference of any colour channel; 0 when the pictures are the same.
int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull() || b.isNull())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *la = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *lb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            worst = std::max({worst, std::abs(qRed(la[x]) - qRed(lb[x])),
                std::abs(qGreen(la[x]) - qGreen(lb[x])), std::abs(qBlue(la[x]) - qBlue(lb[x]))});
        }
    }
    return worst;
}

struct Fixture {
    QString path;
    AviCorpus::Spec spec;
    ReferenceDecode reference;
};

// One reference decode per file for the whole binary.
const Fixture &fixture(Kind kind)
{
    static std::map<Kind, Fixture> made;
    auto it = made.find(kind);
    if (it == made.end()) {
        Fixture f;
        QString error;
        f.path = AviCorpus::file(kind, &error);
        EXPECT_FALSE(f.path.isEmpty()) << error.toStdString();
        f.spec = AviCorpus::spec(kind);
        if (!f.path.isEmpty())
            f.reference = referenceDecode(f.path);
        it = made.emplace(kind, std::move(f)).first;
    }
    return it->second;
}

// Positions worth checking: the ends, each keyframe and its neighbours, null frames and
// a few spread at random (fixed seed).
std::set<int> interestingPositions(const video::FrameSource &source, const Fixture &f)
{
    const int count = source.info().frameCount;
    std::set<int> positions{0, 1, count - 1, count / 2};
    for (int p = 0; p < count; ++p) {
        if (source.isKeyframe(p) && p > 0) {
            for (int d : {-3, -2, -1, 0, 1, 2})
                positions.insert(p + d);
        }
    }
    for (int p = 1; p < count; ++p) {
        if (f.reference.framesByPosition[size_t(p)] ==
            f.reference.framesByPosition[size_t(p - 1)])
            positions.insert(p); // a null frame, or a frame that repeats the one before
    }
    std::mt19937 random(1234);
    for (int i = 0; i < 6; ++i)
        positions.insert(int(random() % unsigned(count)));
    std::set<int> valid;
    for (int p : positions) {
        if (p >= 0 && p < count)
            valid.insert(p);
    }
    return valid;
}

class FrameExactness : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        const Fixture &f = fixture(GetParam());
        if (f.path.isEmpty())
            GTEST_SKIP() << "could not make the file";
    }
    const Fixture &f() const { return fixture(GetParam()); }

    std::unique_ptr<video::FrameSource> open() const
    {
        QString error;
        auto source = video::openFrameSource(f().path, &error);
        EXPECT_TRUE(source) << error.toStdString();
        return source;
    }

    void expectFrame(video::FrameSource &source, int position, const char *how) const
    {
        const auto &ref = f().reference.framesByPosition;
        const int clamped = std::min(position, int(ref.size()) - 1);
        const QImage image = source.frameAt(position);
        ASSERT_FALSE(image.isNull()) << how << " to " << position;
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        EXPECT_EQ(maxDifference(image, ref[size_t(clamped)]), 0) << how << " to " << position;
    }
};

TEST_P(FrameExactness, ReportsSizeRateAndLength)
{
    auto source = open();
    ASSERT_TRUE(source);
    const video::VideoInfo &info = source->info();
    EXPECT_EQ(info.width, f().spec.width);
    EXPECT_EQ(info.height, f().spec.height);
    EXPECT_EQ(info.frameCount, f().spec.frameCount);
    EXPECT_EQ(info.rateNum, f().spec.rateNum);
    EXPECT_EQ(info.rateDen, f().spec.rateDen);
    EXPECT_EQ(info.hasAudio, GetParam() == Kind::WithAudio);
    EXPECT_EQ(int(f().reference.framesByPosition.size()), info.frameCount);
    EXPECT_TRUE(source->isKeyframe(0));
    if (f().spec.keyframeInterval > 1) {
        EXPECT_FALSE(source->isKeyframe(1));
    }
}

// Guards the tests below: if neighbouring frames looked alike, a decoder that is one frame
// off would pass them.
TEST_P(FrameExactness, NeighbouringFramesDiffer)
{
    const auto &ref = f().reference.framesByPosition;
    ASSERT_GT(ref.size(), 2u);
    int different = 0;
    for (size_t p = 1; p < ref.size(); ++p)
        different += maxDifference(ref[p], ref[p - 1]) > 8;
    const int nulls = GetParam() == Kind::NullFrames ? 14 : 0;
    const int packedNulls = GetParam() == Kind::Mpeg4Packed ? 2 : 0;
    EXPECT_GE(different, int(ref.size()) - 1 - nulls - packedNulls);
}

TEST_P(FrameExactness, SeekStepAndWindGiveTheSequentialFrames)
{
    auto probe = open();
    ASSERT_TRUE(probe);
    const int count = probe->info().frameCount;
    for (int p : interestingPositions(*probe, f())) {
        SCOPED_TRACE(p);
        auto source = open(); // cold: nothing decoded yet
        ASSERT_TRUE(source);
        expectFrame(*source, p, "seek");
        if (p + 1 < count)
            expectFrame(*source, p + 1, "step forward");
        expectFrame(*source, p, "step back");
        if (p > 0)
            expectFrame(*source, p - 1, "step back");
        if (p + 10 < count)
            expectFrame(*source, p + 10, "wind forward");
        if (p - 10 >= 0)
            expectFrame(*source, p - 10, "wind back");
    }
    auto source = open();
    expectFrame(*source, count, "seek to the end");
}

// What the play queue does: it holds decoded frames long after the cache has let them go
// and the decoder has reused its buffers, and converts them on a thread of its own. Room for
// two frames only, so the walk backwards keeps missing and restarting.
TEST_P(FrameExactness, PicturesHeldPastTheCacheConvertElsewhereToTheSequentialFrames)
{
    auto source = open();
    ASSERT_TRUE(source);
    source->setCacheCapBytes(qint64(f().spec.width) * f().spec.height * 4 * 2);
    const int count = source->info().frameCount;
    std::vector<video::PicturePtr> held;
    for (int p = count - 1; p >= 0; --p) {
        held.push_back(source->pictureAt(p));
        ASSERT_TRUE(held.back()) << p;
    }
    for (int p = 0; p < count; ++p) // forwards too, the decoder running on
        held.push_back(source->pictureAt(p));
    EXPECT_LE(source->stats().cacheBytes, source->stats().cacheCapBytes);

    std::vector<QImage> images(held.size());
    std::thread converter([&] {
        for (size_t i = 0; i < held.size(); ++i)
            images[i] = held[i] ? held[i]->toImage() : QImage();
    });
    converter.join();
    const auto &ref = f().reference.framesByPosition;
    for (size_t i = 0; i < held.size(); ++i) {
        const int p = i < size_t(count) ? count - 1 - int(i) : int(i) - count;
        ASSERT_FALSE(images[i].isNull()) << p;
        EXPECT_EQ(images[i].format(), QImage::Format_RGB32);
        EXPECT_EQ(maxDifference(images[i], ref[size_t(p)]), 0) << p;
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, FrameExactness,
    ::testing::ValuesIn(AviCorpus::allKinds()),
    [](const ::testing::TestParamInfo<Kind> &info) {
        return AviCorpus::name(info.param).toStdString();
    });

// Long-GOP files: what a step, a step back and a wind step cost, counted in decoded frames.
class StepCost : public ::testing::TestWithParam<Kind> {};

TEST_P(StepCost, StepsAndWindsReuseTheDecoderAndTheCache)
{
    const QString path = AviCorpus::file(GetParam());
    ASSERT_FALSE(path.isEmpty());
    QString error;
    auto source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const int target = 40; // ten frames before the second keyframe (50)
    ASSERT_FALSE(source->frameAt(target).isNull());
    auto decodedSince = [&](qint64 before) { return source->stats().framesDecoded - before; };

    qint64 before = source->stats().framesDecoded;
    ASSERT_FALSE(source->frameAt(target - 1).isNull());
    EXPECT_EQ(decodedSince(before), 0) << "a step back after a seek is a cache hit";
    ASSERT_FALSE(source->frameAt(target - 10).isNull());
    EXPECT_EQ(decodedSince(before), 0) << "so is a wind step back";

    before = source->stats().framesDecoded;
    ASSERT_FALSE(source->frameAt(target + 1).isNull());
    EXPECT_LE(decodedSince(before), 2) << "a step forward continues the decoder";
    before = source->stats().framesDecoded;
    ASSERT_FALSE(source->frameAt(target + 11).isNull());
    EXPECT_LE(decodedSince(before), 11) << "a wind step forward decodes ten frames";
    EXPECT_GT(source->stats().hits, 0);
}

INSTANTIATE_TEST_SUITE_P(LongGop, StepCost,
    ::testing::Values(Kind::H264, Kind::Mpeg4Packed),
    [](const ::testing::TestParamInfo<Kind> &info) {
        return AviCorpus::name(info.param).toStdString();
    });

TEST(FrameSourceThreads, TwoThreadsGetExactFramesAtOnce)
{
    const Fixture &f = fixture(Kind::H264);
    ASSERT_FALSE(f.path.isEmpty());
    QString error;
    auto source = video::openFrameSource(f.path, &error);
    ASSERT_TRUE(source);
    std::atomic<int> wrong{0};
    auto walk = [&](int from, int step) {
        for (int i = 0, p = from; i < 40; ++i, p += step) {
            const QImage image = source->frameAt(p);
            if (maxDifference(image, f.reference.framesByPosition[size_t(p)]) != 0)
                ++wrong;
        }
    };
    std::thread forward(walk, 5, 1);
    std::thread backward(walk, 140, -2);
    forward.join();
    backward.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(NullFrames, ShowTheFrameBeforeThem)
{
    const Fixture &f = fixture(Kind::NullFrames);
    ASSERT_FALSE(f.path.isEmpty());
    QString error;
    auto source = video::openFrameSource(f.path, &error);
    ASSERT_TRUE(source);
    EXPECT_EQ(f.reference.decodedFrames, 86); // 100 slots, 14 of them empty
    for (int p : {3, 10, 94}) {
        EXPECT_EQ(maxDifference(source->frameAt(p), source->frameAt(p - 1)), 0) << p;
        EXPECT_GT(maxDifference(source->frameAt(p + 1), source->frameAt(p)), 8) << p;
    }
}

// With every frame a keyframe, a wind step goes straight to its target.
TEST(StepCostIntraOnly, WindStepDecodesOneFrame)
{
    const QString path = AviCorpus::file(AviCorpus::Kind::Mjpeg);
    ASSERT_FALSE(path.isEmpty());
    QString error;
    auto source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    ASSERT_FALSE(source->frameAt(20).isNull());
    const qint64 before = source->stats().framesDecoded;
    ASSERT_FALSE(source->frameAt(30).isNull());
    EXPECT_EQ(source->stats().framesDecoded - before, 1);
}

// A long run of null frames: the frame before it is shown all along, however small the
// cache and however far the run reaches.
TEST(NullFrames, LongRunShowsTheFrameBeforeItWithASmallCache)
{
    const int width = 64;
    const int height = 48;
    AviCorpus::RawAvi avi = AviCorpus::patternAvi(width, height, 80, 1, 0);
    for (int n = 10; n < 60; ++n)
        avi.chunks[size_t(n)] = {};
    QTemporaryDir dir;
    const QString path = dir.filePath("gap.avi");
    ASSERT_TRUE(AviCorpus::writeAvi(path, avi));
    QString error;
    auto source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_EQ(source->info().frameCount, 80);
    source->setCacheCapBytes(width * height * 4 * 3);
    const ReferenceDecode reference = referenceDecode(path);
    ASSERT_EQ(reference.framesByPosition.size(), 80u);
    for (int p : {59, 35, 9, 60, 10}) {
        EXPECT_EQ(maxDifference(source->frameAt(p), reference.framesByPosition[size_t(p)]), 0)
            << p;
    }
    EXPECT_EQ(maxDifference(source->frameAt(59), source->frameAt(9)), 0);
    EXPECT_GT(maxDifference(source->frameAt(60), source->frameAt(59)), 8);
}

// Converted images share recycled pixel memory: an image handed out must keep its picture
// while later frames are converted and evicted, and after the source itself is gone.
TEST(ConvertedImages, KeepTheirPicturesAfterLaterCallsAndTheSourceIsGone)
{
    const Fixture &f = fixture(Kind::H264);
    ASSERT_FALSE(f.path.isEmpty());
    QString error;
    auto source = video::openFrameSource(f.path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    // Two frames' room: nearly every call evicts an image and frees its buffer for reuse.
    source->setCacheCapBytes(qint64(f.spec.width) * f.spec.height * 4 * 2);
    std::vector<std::pair<int, QImage>> kept;
    for (int p : {30, 31, 90, 5, 6, 7, 60, 120, 121, 2})
        kept.emplace_back(p, source->frameAt(p));
    EXPECT_LE(source->stats().cacheBytes, source->stats().cacheCapBytes);
    source.reset();
    for (const auto &[p, image] : kept)
        EXPECT_EQ(maxDifference(image, f.reference.framesByPosition[size_t(p)]), 0) << p;
}

// Pictures from 640x480 up are converted in two bands on two threads, and long-GOP ones
// decode on two frame threads (smaller ones, like the rest of the corpus, on one). The seam
// must not show, the colour must be the one-pass colour and the frame the sequential one:
// full-range MJPEG (4:2:0 and 4:2:2), limited-range BT.709 H.264 with B-frames and MPEG-4
// with packed B-frames as Xvid writes them, every frame against the one-pass reference.
class LargePictures : public ::testing::TestWithParam<int> {};

TEST_P(LargePictures, DecodeAndConvertToTheSequentialOnePassPicture)
{
    // An odd height puts the last chroma row and the band boundary off the usual grid.
    const QString odd = QStringLiteral("testsrc2=size=656x497:rate=25");
    const QString even = QStringLiteral("testsrc2=size=656x496:rate=25");
    const struct {
        QString input;
        QStringList codec;
    } recipes[] = {
        {odd, {"-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p"}},
        {odd, {"-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj422p"}},
        {odd, {"-c:v", "libx264", "-preset", "ultrafast", "-g", "8", "-bf", "2", "-pix_fmt",
                  "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709",
                  "-color_trc", "bt709"}},
        {even, {"-c:v", "libxvid", "-bf", "2", "-g", "8", "-q:v", "4"}},
    };
    const auto &recipe = recipes[GetParam()];
    QString error;
    const QString path = AviCorpus::generate(QStringLiteral("large-%1").arg(GetParam()),
        QStringList{"-f", "lavfi", "-i", recipe.input, "-frames:v", "20", "-an"} +
            recipe.codec,
        &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    const ReferenceDecode reference = referenceDecode(path);
    auto source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    ASSERT_GE(qint64(source->info().width) * source->info().height,
        video::FrameConverter::kBandedPixels);
    const int count = source->info().frameCount;
    ASSERT_EQ(int(reference.framesByPosition.size()), count);
    // Backwards restarts at every keyframe; then seeks and steps from a fresh source.
    for (int p = count - 1; p >= 0; --p) {
        EXPECT_EQ(maxDifference(source->frameAt(p), reference.framesByPosition[size_t(p)]), 0)
            << p;
    }
    auto fresh = video::openFrameSource(path, &error);
    ASSERT_TRUE(fresh) << error.toStdString();
    for (int p : {13, 14, 6, 7, 19, 0, 9}) {
        EXPECT_EQ(maxDifference(fresh->frameAt(p), reference.framesByPosition[size_t(p)]), 0)
            << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, LargePictures, ::testing::Values(0, 1, 2, 3));

} // namespace
