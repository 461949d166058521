// Packets kept from the decoder because their header says nothing refers to their picture:
// the rule byte by byte, and a whole decode that must put out the same pictures, pushed out
// by the same packets, as the decode that is handed every packet.

#include "platform/video/decode/Container.h"
#include "platform/video/decode/UnreferencedPicture.h"
#include "platform/video/decode/VideoDecoder.h"
#include "tests/support/ClipCorpus.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/imgutils.h>
}

#include <map>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (int v : values)
        data.append(char(v));
    return data;
}

// A VOP of the given coding type (0 I, 1 P, 2 B, 3 S) with a few bytes of picture after it.
QByteArray vop(int type)
{
    return bytes({0, 0, 1, 0xb6, type << 6 | 0x15, 0x55, 0x66, 0x77, 0x10, 0x00, 0x00, 0x80});
}

TEST(UnreferencedPicture, OnlyALoneBVopGoesWithoutTheDecoder)
{
    const QByteArray vol = bytes({0, 0, 1, 0x20, 0x08, 0xc8, 0x0d, 0x80});
    const QByteArray userData = QByteArray("\0\0\x01\xb2XviD0050", 12);
    const struct {
        const char *what;
        AVCodecID codec;
        QByteArray data;
        bool leftOut;
    } cases[] = {
        {"a B-VOP", AV_CODEC_ID_MPEG4, vop(2), true},
        {"a B-VOP ending in two zero bytes", AV_CODEC_ID_MPEG4, vop(2) + bytes({0, 0}), true},
        {"an I-VOP", AV_CODEC_ID_MPEG4, vop(0), false},
        {"a P-VOP", AV_CODEC_ID_MPEG4, vop(1), false},
        {"an S-VOP (global motion, a reference)", AV_CODEC_ID_MPEG4, vop(3), false},
        {"a B-VOP after the encoder's name", AV_CODEC_ID_MPEG4, userData + vop(2), false},
        {"a B-VOP after a VOL header", AV_CODEC_ID_MPEG4, vol + vop(2), false},
        {"a B-VOP with user data behind it", AV_CODEC_ID_MPEG4, vop(2) + userData, false},
        {"a B-VOP with a start code in its last three bytes", AV_CODEC_ID_MPEG4,
            vop(2) + bytes({0, 0, 1}), false},
        {"a P-VOP with a B-VOP packed behind it", AV_CODEC_ID_MPEG4, vop(1) + vop(2), false},
        {"two B-VOPs", AV_CODEC_ID_MPEG4, vop(2) + vop(2), false},
        {"a B-VOP after a stuffing byte", AV_CODEC_ID_MPEG4, bytes({0}) + vop(2), false},
        {"a B-VOP start code without its type", AV_CODEC_ID_MPEG4, bytes({0, 0, 1, 0xb6}), false},
        {"an H.264 slice nothing refers to", AV_CODEC_ID_H264,
            bytes({0, 0, 1, 0x01, 0x9e, 0x02, 0x04}), false},
        {"a B-VOP's bytes as MPEG-2", AV_CODEC_ID_MPEG2VIDEO, vop(2), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(video::unreferencedPicture(c.codec,
                      reinterpret_cast<const uint8_t *>(c.data.constData()), int(c.data.size())),
            c.leftOut);
    }
    EXPECT_FALSE(video::unreferencedPicture(AV_CODEC_ID_MPEG4, nullptr, 0));
}

TEST(UnreferencedPicture, APacketOfTwoVopsMarksAPackedStream)
{
    const struct {
        const char *what;
        QByteArray data;
        bool packs;
    } cases[] = {
        {"a P-VOP with a B-VOP behind it", vop(1) + vop(2), true},
        {"headers, user data and an I-VOP", bytes({0, 0, 1, 0xb0, 1, 0, 0, 1, 0xb2}) + vop(0),
            false},
        {"a lone B-VOP", vop(2), false},
        {"a B-VOP and a VOP start code cut short", vop(2) + bytes({0, 0, 1}), false},
        {"a VOP start code right at the end", vop(1) + bytes({0, 0, 1, 0xb6}), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(video::packsPictures(AV_CODEC_ID_MPEG4,
                      reinterpret_cast<const uint8_t *>(c.data.constData()), int(c.data.size())),
            c.packs);
    }
}

struct Decode {
    std::map<int64_t, QByteArray> pictureByDts; // what each packet pushed out
    int bPictures = 0;
    qint64 leftOut = 0;
};

QByteArray digest(const AVFrame *frame)
{
    const auto format = AVPixelFormat(frame->format);
    const int size = av_image_get_buffer_size(format, frame->width, frame->height, 1);
    QByteArray data(size, Qt::Uninitialized);
    av_image_copy_to_buffer(reinterpret_cast<uint8_t *>(data.data()), size, frame->data,
        frame->linesize, format, frame->width, frame->height, 1);
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

// Every packet from the start, every picture but the keyframe's told to be skipped where
// `skip`.
Decode decodeAll(const QString &path, bool skip)
{
    Decode result;
    int code = 0;
    video::ff::FormatPtr format = video::container::open(path, &code);
    if (!format || avformat_find_stream_info(format.get(), nullptr) < 0)
        return result;
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return result;
    const AVStream *video = format->streams[stream];
    auto decoder = video::VideoDecoder::open(video->codecpar, false, nullptr, video->time_base);
    if (!decoder)
        return result;
    const auto onFrame = [&](AVFrame *frame) {
        result.bPictures += frame->pict_type == AV_PICTURE_TYPE_B;
        result.pictureByDts[frame->pkt_dts] = digest(frame);
    };
    video::ff::PacketPtr packet = video::ff::makePacket();
    bool first = true;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            decoder->setSkipNonReference(skip && !first);
            first = false;
            decoder->decode(packet.get(), onFrame);
        }
        av_packet_unref(packet.get());
    }
    decoder->decode(nullptr, onFrame);
    result.leftOut = decoder->packetsLeftOut();
    return result;
}

TEST(UnreferencedPicture, TheDecoderSparedThemPutsOutTheSamePicturesWithTheSamePackets)
{
    QString error;
    // Large enough for frame threads, where a packet left out changes which thread decodes
    // which picture.
    const QString loose = ClipCorpus::generate(QStringLiteral("mpeg4-b-720"),
        {"-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25", "-frames:v", "60", "-c:v",
            "mpeg4", "-vtag", "XVID", "-bf", "2", "-g", "30", "-q:v", "4"},
        &error);
    ASSERT_FALSE(loose.isEmpty()) << error.toStdString();
    const QString packed = ClipCorpus::file(ClipCorpus::Kind::Mpeg4Packed, &error);
    ASSERT_FALSE(packed.isEmpty()) << error.toStdString();

    const struct {
        QString path;
        bool bPicturesLeftOut; // a packed B-frame rides in its reference's packet
    } files[] = {{loose, true}, {packed, false}};
    for (const auto &f : files) {
        SCOPED_TRACE(f.path.toStdString());
        const Decode plain = decodeAll(f.path, false);
        const Decode spared = decodeAll(f.path, true);
        ASSERT_GT(plain.bPictures, 0);
        EXPECT_EQ(plain.leftOut, 0);
        EXPECT_EQ(spared.leftOut, f.bPicturesLeftOut ? plain.bPictures : 0);
        EXPECT_EQ(spared.bPictures, 0);
        EXPECT_EQ(spared.pictureByDts.size(), plain.pictureByDts.size() - size_t(plain.bPictures));
        for (const auto &[dts, picture] : spared.pictureByDts) {
            const auto same = plain.pictureByDts.find(dts);
            ASSERT_NE(same, plain.pictureByDts.end()) << "pushed out by " << dts;
            EXPECT_EQ(same->second, picture) << "pushed out by " << dts;
        }
    }
}

} // namespace
