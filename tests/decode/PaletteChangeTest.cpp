#include "platform/video/FrameSource.h"
#include "tests/support/AviCorpus.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Palettised video may change its palette mid-stream (a palette-change chunk before a
// frame). The right colours of a frame are then those of the last change before it in the
// file, however the frame was reached: from the start, by a seek far past changes never
// read, or walking backwards across them.
class PaletteChange : public ::testing::TestWithParam<uint32_t> {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    static constexpr int kFrames = 60;
    static constexpr int kKeyEvery = 20;

    // Changes before frames 10 (between keyframes), 20 (at a keyframe) and 47.
    static std::vector<uint32_t> paletteAt(int frame)
    {
        std::vector<uint32_t> palette = AviCorpus::patternPalette();
        const uint32_t by = frame < 10 ? 0 : frame < 20 ? 1 : frame < 47 ? 2 : 3;
        for (uint32_t &rgb : palette)
            rgb = (rgb + by * 0x3f1d07u) & 0xffffffu;
        return palette;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        AviCorpus::RawAvi avi =
            AviCorpus::patternAvi(kWidth, kHeight, kFrames, kKeyEvery, GetParam());
        avi.palette = paletteAt(0);
        for (int n : {10, 20, 47})
            avi.chunks[size_t(n)].paletteChange = paletteAt(n);
        m_path = m_dir.filePath("palette.avi");
        ASSERT_TRUE(AviCorpus::writeAvi(m_path, avi));
    }

    std::unique_ptr<video::FrameSource> open() const
    {
        QString error;
        auto source = video::openFrameSource(m_path, &error);
        EXPECT_TRUE(source) << error.toStdString();
        return source;
    }

    // How many pixels of the frame at `n` are not the pattern through its palette.
    static int wrongPixels(const QImage &image, int n)
    {
        if (image.size() != QSize(kWidth, kHeight))
            return kWidth * kHeight;
        const QByteArray indices = AviCorpus::patternFrame(kWidth, kHeight, n);
        const std::vector<uint32_t> palette = paletteAt(n);
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const uint32_t want = palette[uint8_t(indices[y * kWidth + x])];
                wrong += (image.pixel(x, y) & 0xffffffu) != want;
            }
        }
        return wrong;
    }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_P(PaletteChange, EveryFrameHasTheColoursOfTheLastChangeBeforeIt)
{
    auto source = open();
    ASSERT_TRUE(source);
    ASSERT_EQ(source->info().frameCount, kFrames);
    for (int n = 0; n < kFrames; ++n)
        EXPECT_EQ(wrongPixels(source->frameAt(n), n), 0) << "in order, frame " << n;
    for (int n = kFrames - 1; n >= 0; --n)
        EXPECT_EQ(wrongPixels(source->frameAt(n), n), 0) << "backwards, frame " << n;
    for (int n : {50, 25, 12, 55, 5, 47, 46, 20, 19, 10, 9}) {
        auto fresh = open(); // straight there: the changes before it never read
        ASSERT_TRUE(fresh);
        EXPECT_EQ(wrongPixels(fresh->frameAt(n), n), 0) << "seek to " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Dib8AndRle8, PaletteChange, ::testing::Values(0u, 1u),
    [](const ::testing::TestParamInfo<uint32_t> &info) {
        return std::string(info.param == 1 ? "rle8" : "dib8");
    });

} // namespace
