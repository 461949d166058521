#include "platform/video/decode/FirstPackets.h"

#include <optional>
#include <vector>

namespace video {

void learnReorderDelay(MediaFile &file, VideoDecoder &decoder, AVPacket *packet, int packets)
{
    // DivX 5 marks its MPEG-4 streams low-delay although they have B-frames. libavcodec's
    // decoder finds out at the first B-frame and from then on holds a picture back, but a
    // decode that starts in a fresh decoder puts out its first P-frame early and then once
    // more, one slot off until the end of the run: the picture at a position would depend on
    // whether the decoder had been through a B-frame before. Decoding the file's first
    // packets once, here, lets every run start with what the decoder knows after them.
    const AVCodecParameters *par = file.codecParameters();
    if (par->codec_id != AV_CODEC_ID_MPEG4 || !file.seekToPacket(0))
        return;
    const auto ignore = [](AVFrame *) {};
    int packetIndex = -1;
    for (int i = 0; i < packets && decoder.delay() == 0 &&
         file.readVideoPacket(packet, &packetIndex); ++i) {
        decoder.decode(packet, ignore);
        av_packet_unref(packet);
    }
    av_packet_unref(packet);
    decoder.reset();
}

namespace {

// The packets shown before the keyframe at `keySlot` that put out nothing.
std::vector<int> silentBefore(const FrameIndex &index, const std::vector<bool> &out, int keySlot)
{
    std::vector<int> silent;
    for (int i = 0; i < index.packetCount(); ++i) {
        const int slot = index.packet(i).slot;
        if (slot >= 0 && slot < keySlot && !out[size_t(i)])
            silent.push_back(i);
    }
    return silent;
}

} // namespace

bool dropSilentLeadIn(MediaFile &file, VideoDecoder &decoder, AVPacket *packet, int packets)
{
    // A file cut in the middle of a GOP starts with packets the decoder shows nothing for (no
    // parameter sets or no keyframe yet), or with pictures it shows damaged; an open GOP's
    // leading B-pictures come out before their keyframe though they refer to pictures not in
    // the file. What a plain decode from the start shows up to its first keyframe is found
    // here once; the packets before it that show nothing are no positions.
    if (!file.presentsByTime())
        return false;
    // What an earlier open of the file found, where its first picture out was the keyframe:
    // the decode of the first position then goes through every packet this one would, and
    // leaves the decoder knowing as much.
    if (const std::optional<std::vector<int>> &kept = file.keptLeadIn())
        return !kept->empty() && file.dropPositions(*kept);
    if (!file.seekToPacket(0)) {
        file.keepLeadIn(std::nullopt);
        return false;
    }
    const FrameIndex &index = file.index();
    std::vector<bool> out(size_t(index.packetCount()), false);
    int keySlot = -1;
    bool keyFirst = false;
    bool anyOut = false;
    const auto collect = [&](AVFrame *frame) {
        const int64_t number = frame->pts;
        if (keySlot >= 0)
            return;
        const bool first = !anyOut;
        anyOut = true;
        if (number < 0 || number >= index.packetCount())
            return;
        out[size_t(number)] = true;
        const int slot = index.packet(int(number)).slot;
        if (slot >= 0 && (frame->key_frame || frame->pict_type == AV_PICTURE_TYPE_I)) {
            keySlot = slot;
            keyFirst = first;
        }
    };
    int packetIndex = -1;
    bool more = true;
    for (int i = 0; i < packets && keySlot < 0 &&
         (more = file.readVideoPacket(packet, &packetIndex)); ++i) {
        packet->pts = packetIndex >= 0 ? packetIndex : AV_NOPTS_VALUE;
        decoder.decode(packet, collect);
    }
    if (!more)
        decoder.decode(nullptr, collect);
    av_packet_unref(packet);
    decoder.reset();
    if (keySlot < 0) {
        file.keepLeadIn(std::nullopt);
        return false;
    }
    const std::vector<int> silent = silentBefore(index, out, keySlot);
    file.keepLeadIn(keyFirst ? std::optional(silent) : std::nullopt);
    return !silent.empty() && file.dropPositions(silent);
}

} // namespace video
