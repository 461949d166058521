#include "platform/video/FFmpegHandles.h"
#include "platform/video/decode/VideoDecoder.h"
#include "platform/video/decode/YuvToRgb.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

namespace {

namespace ff = video::ff;

struct Case {
    AVPixelFormat format;
    AVColorRange range;
    AVColorSpace space;
    AVChromaLocation siting;
    int width;
    int height;
    const char *name;
};

// A picture with smooth colour (what most of a video frame is) and, in its right quarter,
// hard colour edges every few pixels (what tells chroma interpolation apart).
ff::FramePtr makeFrame(const Case &c)
{
    ff::FramePtr frame = ff::makeFrame();
    frame->format = c.format;
    frame->width = c.width;
    frame->height = c.height;
    frame->color_range = c.range;
    frame->colorspace = c.space;
    frame->chroma_location = c.siting;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    std::mt19937 random(7);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(c.format);
    for (int plane = 0; plane < 3; ++plane) {
        const int sx = plane ? desc->log2_chroma_w : 0;
        const int sy = plane ? desc->log2_chroma_h : 0;
        const int w = (c.width + (1 << sx) - 1) >> sx;
        const int h = (c.height + (1 << sy) - 1) >> sy;
        for (int y = 0; y < h; ++y) {
            uint8_t *row = frame->data[plane] + ptrdiff_t(y) * frame->linesize[plane];
            for (int x = 0; x < w; ++x) {
                const int v = x >= w * 3 / 4 ? ((x / 3 + y / 3 + plane) % 2 ? 40 : 215)
                    : 128 + int(90 * std::sin((x + 2 * y) * (0.02 + 0.01 * plane) + plane));
                row[x] = uint8_t(std::clamp(v + int(random() % 7) - 3, 16, 235));
            }
        }
    }
    return frame;
}

// The conversion as the standards write it, in doubles: chroma interpolated linearly from
// the sites the frame gives (held flat beyond the outermost samples), then the matrix.
std::vector<uint8_t> textbook(const AVFrame *frame, bool fullRange)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    const int sx = desc->log2_chroma_w, sy = desc->log2_chroma_h;
    const int cw = (frame->width + (1 << sx) - 1) >> sx;
    const int ch = (frame->height + (1 << sy) - 1) >> sy;
    const AVChromaLocation loc = frame->chroma_location;
    const bool left = loc == AVCHROMA_LOC_LEFT || loc == AVCHROMA_LOC_TOPLEFT;
    const bool top = loc == AVCHROMA_LOC_TOPLEFT || loc == AVCHROMA_LOC_TOP;
    // Where chroma sample k sits, in luma samples.
    const auto site = [](int k, int shift, bool onFirst) {
        return shift == 0 ? double(k) : 2.0 * k + (onFirst ? 0.0 : 0.5);
    };
    const auto sample = [&](int plane, double x, double y) {
        const auto along = [](double pos, int count, int shift, bool onFirst, auto &&siteOf) {
            // Neighbouring samples and the weight of the second.
            int k = 0;
            while (k + 1 < count && siteOf(k + 1, shift, onFirst) <= pos)
                ++k;
            if (pos <= siteOf(0, shift, onFirst) || k + 1 >= count)
                return std::tuple{k, k, 0.0};
            const double a = siteOf(k, shift, onFirst), b = siteOf(k + 1, shift, onFirst);
            return std::tuple{k, k + 1, (pos - a) / (b - a)};
        };
        const auto [x0, x1, wx] = along(x, cw, sx, left, site);
        const auto [y0, y1, wy] = along(y, ch, sy, top, site);
        const auto at = [&](int xx, int yy) {
            return double(frame->data[plane][ptrdiff_t(yy) * frame->linesize[plane] + xx]);
        };
        return (1 - wy) * ((1 - wx) * at(x0, y0) + wx * at(x1, y0)) +
            wy * ((1 - wx) * at(x0, y1) + wx * at(x1, y1));
    };
    const bool bt709 = frame->colorspace == AVCOL_SPC_BT709;
    const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
    const double kg = 1 - kr - kb;
    std::vector<uint8_t> out(size_t(frame->width) * frame->height * 4);
    for (int y = 0; y < frame->height; ++y) {
        for (int x = 0; x < frame->width; ++x) {
            const double luma = frame->data[0][ptrdiff_t(y) * frame->linesize[0] + x];
            const double yy = fullRange ? luma : (luma - 16) * 255 / 219;
            const double scale = fullRange ? 1.0 : 255.0 / 224;
            const double u = (sample(1, x, y) - 128) * scale;
            const double v = (sample(2, x, y) - 128) * scale;
            const double rgb[3] = {yy + 2 * (1 - kb) * u,
                yy - 2 * kb * (1 - kb) / kg * u - 2 * kr * (1 - kr) / kg * v,
                yy + 2 * (1 - kr) * v};
            uint8_t *px = &out[(size_t(y) * frame->width + x) * 4];
            for (int c = 0; c < 3; ++c)
                px[c] = uint8_t(std::clamp(std::lround(rgb[c]), 0L, 255L));
            px[3] = 0xff;
        }
    }
    return out;
}

class YuvToRgbFormats : public ::testing::TestWithParam<Case> {};

TEST_P(YuvToRgbFormats, IsTheTextbookConversionToWithinRounding)
{
    const Case c = GetParam();
    ff::FramePtr frame = makeFrame(c);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(video::YuvToRgb::handles(frame.get()));
    std::vector<uint8_t> a(size_t(c.width) * c.height * 4);
    video::YuvToRgb::convertRows(frame.get(), a.data(), c.width * 4, 0, c.height);
    const std::vector<uint8_t> b = textbook(frame.get(), c.range == AVCOL_RANGE_JPEG);
    int largest = 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_TRUE(i % 4 != 3 || a[i] == 0xff) << "not opaque at " << i / 4;
        const int d = i % 4 == 3 ? 0 : std::abs(int(a[i]) - int(b[i]));
        largest = std::max(largest, d);
        sum += d;
    }
    EXPECT_LE(largest, 1);
    EXPECT_LT(sum / (double(a.size()) * 3 / 4), 0.1); // mean over the colour channels
}

INSTANTIATE_TEST_SUITE_P(Formats, YuvToRgbFormats,
    ::testing::Values(
        Case{AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, AVCOL_SPC_UNSPECIFIED,
            AVCHROMA_LOC_UNSPECIFIED, 64, 48, "420"},
        Case{AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, AVCHROMA_LOC_LEFT, 97, 51,
            "420_709_left_odd"},
        Case{AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG, AVCHROMA_LOC_TOPLEFT, 64,
            48, "420_topleft"},
        Case{AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_JPEG, AVCOL_SPC_UNSPECIFIED,
            AVCHROMA_LOC_CENTER, 80, 60, "j420"},
        Case{AV_PIX_FMT_YUV422P, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG, AVCHROMA_LOC_LEFT, 65, 33,
            "422_left_odd"},
        Case{AV_PIX_FMT_YUVJ422P, AVCOL_RANGE_JPEG, AVCOL_SPC_UNSPECIFIED,
            AVCHROMA_LOC_UNSPECIFIED, 64, 48, "j422"},
        Case{AV_PIX_FMT_YUV444P, AVCOL_RANGE_MPEG, AVCOL_SPC_UNSPECIFIED,
            AVCHROMA_LOC_UNSPECIFIED, 33, 17, "444"}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(YuvToRgb, LeavesOtherFormatsToSwscale)
{
    auto handles = [](AVPixelFormat format, AVColorSpace space = AVCOL_SPC_UNSPECIFIED) {
        ff::FramePtr frame = ff::makeFrame();
        frame->format = format;
        frame->width = frame->height = 16;
        frame->colorspace = space;
        return av_frame_get_buffer(frame.get(), 0) >= 0 && video::YuvToRgb::handles(frame.get());
    };
    for (AVPixelFormat format : {AV_PIX_FMT_PAL8, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV410P,
             AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUV411P})
        EXPECT_FALSE(handles(format)) << av_get_pix_fmt_name(format);
    EXPECT_TRUE(handles(AV_PIX_FMT_YUV420P));
    EXPECT_FALSE(handles(AV_PIX_FMT_YUV420P, AVCOL_SPC_BT2020_NCL)); // a matrix of its own
}

// A play converts into the picture on show in place; only where nothing else holds that
// image: a copy kept elsewhere (the cache's, a capture's) must keep the picture it was given.
TEST(FrameConverter, ConvertsIntoAnImageInPlaceOnlyWhereItIsTheSoleHolder)
{
    struct Row {
        AVPixelFormat format; // 4:1:0 goes through swscale
        bool shared;
        int width;
        bool inPlace;
    };
    for (const Row r : {Row{AV_PIX_FMT_YUV420P, false, 64, true},
             Row{AV_PIX_FMT_YUV420P, true, 64, false}, Row{AV_PIX_FMT_YUV420P, false, 32, false},
             Row{AV_PIX_FMT_YUV410P, false, 64, true}, Row{AV_PIX_FMT_YUV410P, true, 64, false}}) {
        SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(r.format) << " shared "
                                        << r.shared << " width " << r.width);
        ff::FramePtr frame = makeFrame(Case{r.format, AVCOL_RANGE_MPEG, AVCOL_SPC_UNSPECIFIED,
            AVCHROMA_LOC_UNSPECIFIED, 64, 48, ""});
        ASSERT_TRUE(frame);
        video::FrameConverter converter;
        const QImage expected = converter.convert(frame.get(), 64, 48);
        QImage target(r.width, 48, QImage::Format_RGB32);
        target.fill(Qt::black);
        const QImage other = r.shared ? target : QImage();
        const uchar *before = target.constBits();
        ASSERT_TRUE(converter.convertInto(frame.get(), 64, 48, 0, target));
        EXPECT_EQ(target, expected);
        EXPECT_EQ(target.constBits() == before, r.inPlace);
        if (r.shared) {
            EXPECT_EQ(other.pixel(10, 10), qRgb(0, 0, 0));
        }
    }
}

} // namespace
