#include "bench/seek/DecodingFloor.h"

#include "platform/video/decode/VideoDecoder.h"
#include "tests/decode/ReferenceDecode.h"

#include <chrono>
#include <map>
#include <utility>

using namespace video;

namespace {

ff::CodecPtr openDecoder(const AVCodecParameters *par, int threads)
{
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    ff::CodecPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!context || avcodec_parameters_to_context(context.get(), par) < 0)
        return nullptr;
    context->thread_count = threads;
    context->thread_type = FF_THREAD_FRAME;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

} // namespace

bool DecodingFloor::load(const QString &path, int positions, QString *error)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.toLocal8Bit().constData(), nullptr, nullptr) < 0) {
        *error = QStringLiteral("cannot open");
        return false;
    }
    ff::FormatPtr format(raw);
    avformat_find_stream_info(format.get(), nullptr);
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) {
        *error = QStringLiteral("no video stream");
        return false;
    }
    for (;;) {
        ff::PacketPtr packet = ff::makePacket();
        if (av_read_frame(format.get(), packet.get()) < 0)
            break;
        if (packet->stream_index != stream || packet->size <= 0)
            continue;
        // The packet's number comes out with its picture, however the decoder reorders.
        packet->pts = int64_t(m_packets.size());
        m_packets.push_back(std::move(packet));
    }
    bool intraOnly = true;
    for (const ff::PacketPtr &packet : m_packets)
        intraOnly = intraOnly && (packet->flags & AV_PKT_FLAG_KEY);

    const AVCodecParameters *par = format->streams[stream]->codecpar;
    m_context = openDecoder(par, VideoDecoder::frameThreads(par, intraOnly));
    if (!m_context) {
        *error = QStringLiteral("no decoder");
        return false;
    }
    m_frame = ff::makeFrame();
    // Warmed by one pass over the whole file.
    for (const ff::PacketPtr &packet : m_packets) {
        while (avcodec_send_packet(m_context.get(), packet.get()) == AVERROR(EAGAIN))
            drainAll();
        drainAll();
    }
    avcodec_send_packet(m_context.get(), nullptr);
    drainAll();
    avcodec_flush_buffers(m_context.get());

    // Each picture's slot as the tests' yardstick gives it; its packet by its place in the file.
    std::map<int64_t, int> byPos;
    for (size_t i = 0; i < m_packets.size(); ++i)
        byPos.emplace(m_packets[i]->pos, int(i));
    m_shownAt.assign(m_packets.size(), -1);
    std::vector<std::pair<int, int>> slotAndPacket;
    walkReferenceDecode(path, [&](int slot, const AVFrame *picture, int, int) {
        const auto packet = byPos.find(picture->pkt_pos);
        if (packet == byPos.end())
            return;
        m_shownAt[size_t(packet->second)] = slot;
        slotAndPacket.emplace_back(slot, packet->second);
    });
    m_packetShown.assign(size_t(std::max(0, positions)), -1);
    size_t next = 0;
    int shown = -1;
    for (int p = 0; p < positions; ++p) {
        while (next < slotAndPacket.size() && slotAndPacket[next].first <= p)
            shown = slotAndPacket[next++].second;
        m_packetShown[size_t(p)] = shown;
    }
    if (slotAndPacket.empty() || m_packetShown.empty() || m_packetShown.front() < 0 ||
        next != slotAndPacket.size()) {
        *error = QStringLiteral("%1 pictures do not fit %2 positions")
                     .arg(slotAndPacket.size())
                     .arg(positions);
        return false;
    }
    return true;
}

// The last keyframe in the file before the picture that shows at or before it: a picture of
// an open GOP shown before its keyframe needs the GOP before.
int DecodingFloor::keyframeFor(int packet) const
{
    int key = 0;
    for (int i = 0; i <= packet; ++i) {
        const int shown = m_shownAt[size_t(i)];
        if ((m_packets[size_t(i)]->flags & AV_PKT_FLAG_KEY) && shown >= 0 &&
            shown <= m_shownAt[size_t(packet)])
            key = i;
    }
    return key;
}

void DecodingFloor::drainAll()
{
    while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0)
        av_frame_unref(m_frame.get());
}

double DecodingFloor::msTo(int position)
{
    if (position < 0 || position >= int(m_packetShown.size()))
        return -1;
    const int64_t wanted = m_packetShown[size_t(position)];
    const int key = keyframeFor(int(wanted));
    const int wantedSlot = m_shownAt[size_t(wanted)];
    m_decoded = 0;
    bool out = false;
    const auto drain = [&] {
        while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0) {
            ++m_decoded;
            out = out || m_frame->pts == wanted;
            av_frame_unref(m_frame.get());
        }
    };
    const auto start = std::chrono::steady_clock::now();
    for (int i = key; i < int(m_packets.size()) && !out; ++i) {
        // A picture shown before the target is only needed when others refer to it.
        const int shown = m_shownAt[size_t(i)];
        m_context->skip_frame = shown >= 0 && shown < wantedSlot ? AVDISCARD_NONREF
                                                               : AVDISCARD_DEFAULT;
        while (avcodec_send_packet(m_context.get(), m_packets[size_t(i)].get()) == AVERROR(EAGAIN))
            drain();
        drain();
    }
    if (!out) {
        avcodec_send_packet(m_context.get(), nullptr);
        drain();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    m_context->skip_frame = AVDISCARD_DEFAULT;
    avcodec_flush_buffers(m_context.get());
    return out ? ms : -1;
}
