#include "platform/video/decode/DecodingFrameSource.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <climits>

namespace video {

DecodingFrameSource::DecodingFrameSource(std::unique_ptr<MediaFile> file,
    std::unique_ptr<VideoDecoder> decoder)
    : m_file(std::move(file)),
      m_decoder(std::move(decoder)),
      m_cache(kDefaultCacheCap),
      m_packet(ff::makePacket()),
      m_shown(size_t(std::max(0, m_file->info().frameCount)), -1)
{
    m_decoder->setPalette(m_file->palette());
    learnReorderDelay();
}

void DecodingFrameSource::learnReorderDelay()
{
    // DivX 5 marks its MPEG-4 streams low-delay although they have B-frames. libavcodec's
    // decoder finds out at the first B-frame and from then on holds a picture back, but a
    // decode that starts in a fresh decoder puts out its first P-frame early and then once
    // more, one slot off until the end of the run: the picture at a position would depend on
    // whether the decoder had been through a B-frame before. Decoding the file's first
    // packets once, here, lets every run start with what the decoder knows after them.
    const AVCodecParameters *par = m_file->codecParameters();
    if (par->codec_id != AV_CODEC_ID_MPEG4 || !m_file->seekToPacket(0))
        return;
    const auto ignore = [](AVFrame *) {};
    int packetIndex = -1;
    for (int i = 0; i < kDelayProbePackets && m_decoder->delay() == 0 &&
         m_file->readVideoPacket(m_packet.get(), &packetIndex); ++i) {
        m_decoder->decode(m_packet.get(), ignore);
        av_packet_unref(m_packet.get());
    }
    av_packet_unref(m_packet.get());
    m_decoder->reset();
}

int DecodingFrameSource::clampPosition(int position) const
{
    return std::clamp(position, 0, int(m_shown.size()) - 1);
}

bool DecodingFrameSource::knownAndCached(int position) const
{
    const int shown = m_shown[size_t(position)];
    return shown >= 0 && m_cache.contains(shown);
}

int DecodingFrameSource::locate(int position)
{
    if (m_shown.empty())
        return -1;
    const int p = clampPosition(position);
    if (p != m_lastRequest)
        m_direction = p < m_lastRequest ? -1 : 1;
    m_lastRequest = p;
    m_target = p;

    if (knownAndCached(p)) {
        ++m_hits;
        return p;
    }
    ++m_misses;
    // A file rewritten under us no longer matches its index; a deleted one will soon stop
    // reading. Either way its frames can no longer be trusted.
    if (!m_file->unchanged())
        return -1;
    for (int attempt = 0; attempt < 8 && !knownAndCached(p); ++attempt) {
        const int start = chooseStart(p);
        // Carrying on costs a decode per frame up to p; a restart at the keyframe costs
        // about as much from there, plus a seek and the risk of an open GOP.
        const int startSlot = m_file->index().packet(start).slot;
        const bool certain = m_file->index().everyPacketIsKeyframe() ||
            m_firstTrusted.count(start) != 0;
        const int restartCost = certain ? kRestartCost : kUncertainRestartCost;
        const bool carryOn = m_positioned && m_trusted && m_lastTrusted < p &&
            p - m_lastTrusted <= p - startSlot + restartCost;
        if (!carryOn && !startRun(start))
            return -1;
        if (runUntil(p) == RunEnd::Failed)
            return -1;
    }
    return knownAndCached(p) ? p : -1;
}

QImage DecodingFrameSource::frameAt(int position)
{
    std::lock_guard lock(m_mutex);
    const int p = locate(position);
    if (p < 0)
        return {};
    const int shown = m_shown[size_t(p)];
    const QImage image = m_cache.image(shown, m_converter, m_file->decodedWidth(),
        m_file->decodedHeight(), m_file->clockwise());
    m_cache.trim(p, m_direction, shown);
    return image;
}

PicturePtr DecodingFrameSource::pictureAt(int position)
{
    std::lock_guard lock(m_mutex);
    const int p = locate(position);
    if (p < 0)
        return nullptr;
    const int shown = m_shown[size_t(p)];
    PicturePtr picture = m_cache.picture(shown, m_file->decodedWidth(), m_file->decodedHeight(),
        m_file->clockwise());
    m_cache.trim(p, m_direction, shown);
    return picture;
}

qint64 DecodingFrameSource::pictureBytes() const
{
    const AVCodecParameters *par = m_file->codecParameters();
    const int bytes = par->format >= 0
        ? av_image_get_buffer_size(AVPixelFormat(par->format), par->width, par->height, 1)
        : -1;
    return bytes > 0 ? bytes : FrameSource::pictureBytes();
}

int DecodingFrameSource::chooseStart(int position) const
{
    const FrameIndex &index = m_file->index();
    int before = index.packetCount();
    for (;;) {
        const int key = index.keyframeAtOrBefore(position, before);
        if (key <= 0)
            return 0;
        const auto learned = m_firstTrusted.find(key);
        if (learned == m_firstTrusted.end() || learned->second <= position)
            return key;
        before = key;
    }
}

bool DecodingFrameSource::startRun(int keyPacket)
{
    m_decoder->reset();
    m_decoder->setPalette(m_file->paletteAt(keyPacket));
    m_positioned = m_file->seekToPacket(keyPacket);
    m_trusted = false;
    m_firstPending = false;
    m_runStart = keyPacket;
    m_lastOut = -1;
    m_lastSent = -1;
    m_lastTrusted = -1;
    m_lastFar = -1;
    return m_positioned;
}

DecodingFrameSource::RunEnd DecodingFrameSource::runUntil(int position)
{
    const auto frameHandler = [this](AVFrame *frame) { onFrame(frame); };
    // Bounded: a damaged file must not keep us here; every packet yields at most a frame.
    for (int packets = 0; packets <= m_file->index().packetCount() + 16; ++packets) {
        if (knownAndCached(position))
            return RunEnd::Reached;
        if (m_trusted && m_lastTrusted > position && m_shown[size_t(position)] < 0)
            return RunEnd::Overshot;
        if (m_trusted && m_lastTrusted > position)
            return RunEnd::Reached; // known, but the frame itself was evicted on the way
        int packetIndex = -1;
        if (!m_file->readVideoPacket(m_packet.get(), &packetIndex)) {
            m_flushDts = m_lastSent + 1;
            m_decoder->decode(nullptr, frameHandler);
            finishRun();
            return RunEnd::EndOfStream;
        }
        m_lastSent = int(m_packet->dts);
        m_decoder->decode(m_packet.get(), frameHandler);
        av_packet_unref(m_packet.get());
    }
    finishRun();
    return RunEnd::Failed;
}

void DecodingFrameSource::onFrame(AVFrame *frame)
{
    ++m_framesDecoded;
    if (frame->key_frame)
        m_file->learnRotationFrom(frame);
    const int slotTotal = int(m_shown.size());
    int slot = m_lastOut + 1;
    if (m_file->presentsByTime()) {
        const int64_t pts =
            frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
        slot = m_file->slotOfTime(pts); // -1: decoded only to decode others
    } else {
        // Pictures flushed at the end carry no dts; each is pushed out as a packet after the
        // last one would have pushed it. Counting on from the last picture out instead
        // would be wrong whenever the decoder dropped one (the B-frames of an open GOP at
        // the start of a run): the keyframe just before the end would take the run's first
        // slot.
        int64_t dts = frame->pkt_dts;
        if (dts == AV_NOPTS_VALUE && m_flushDts >= 0)
            dts = m_flushDts++;
        if (dts != AV_NOPTS_VALUE) {
            const int64_t fromDts = dts - m_decoder->delay();
            if (fromDts > m_lastOut && fromDts < INT32_MAX)
                slot = int(fromDts);
        }
    }
    if (slot >= 0)
        m_lastOut = slot;
    if (!m_trusted) {
        const bool key = frame->key_frame || frame->pict_type == AV_PICTURE_TYPE_I;
        // Outside AVI a file may start in the middle of a GOP (a cut transport stream). A
        // keyframe that is decoded but never shown (an edit list's pre-roll) never comes out
        // of the decoder: what follows it is what it starts.
        const bool hiddenStart = m_file->presentsByTime() && m_runStart >= 0 &&
            m_file->index().packet(m_runStart).slot < 0;
        if (!key && !hiddenStart && (m_runStart != 0 || m_file->presentsByTime()))
            return;
        m_trusted = true;
        m_firstPending = true;
    }
    // An edit list's pre-roll, keyframe included, is decoded and never shown.
    if (slot < 0)
        return;
    if (m_firstPending) {
        m_firstPending = false;
        m_firstTrusted[m_runStart] = slot;
        // Before a file's first frame there is nothing else to show.
        if (m_runStart == 0) {
            for (int s = 0; s < std::min(slot, slotTotal); ++s)
                m_shown[size_t(s)] = slot;
        }
    }
    if (slot < 0 || slot >= slotTotal)
        return;
    if (m_lastTrusted >= 0) {
        for (int s = m_lastTrusted + 1; s < slot; ++s)
            m_shown[size_t(s)] = m_lastTrusted;
    }
    m_shown[size_t(slot)] = slot;
    m_lastTrusted = slot;
    // Frames too far before the target would only be evicted again; not holding them lets
    // the decoder reuse their buffers.
    // The latest of them is held all the same: null frames up to the target would show it.
    const qint64 keepWindow =
        std::max<qint64>(16, m_cache.cap() / std::max<qint64>(1, FrameCache::frameBytes(frame)));
    if (m_lastFar >= 0 && m_lastFar != m_shown[size_t(m_target)])
        m_cache.erase(m_lastFar);
    m_lastFar = slot < m_target - keepWindow ? slot : -1;
    m_cache.put(slot, frame);
    if (m_cache.bytes() > m_cache.cap())
        m_cache.trim(m_target, m_direction, slot <= m_target ? slot : m_shown[size_t(m_target)]);
}

void DecodingFrameSource::finishRun()
{
    // A start that gave no keyframe before the end (a keyframe flag on a chunk that holds
    // none, like the empty VOP Xvid flags after its keyframes) is never used again.
    if ((!m_trusted || m_firstPending) && m_runStart >= 0)
        m_firstTrusted[m_runStart] = INT_MAX;
    if (m_trusted && m_lastTrusted >= 0) {
        for (int s = m_lastTrusted + 1; s < int(m_shown.size()); ++s)
            m_shown[size_t(s)] = m_lastTrusted;
    }
    m_decoder->reset();
    m_positioned = false;
    m_trusted = false;
    m_firstPending = false;
    m_flushDts = -1;
}

FrameSource::Stats DecodingFrameSource::stats() const
{
    std::lock_guard lock(m_mutex);
    Stats s;
    s.cacheCapBytes = m_cache.cap();
    s.cacheBytes = m_cache.bytes();
    s.cachedFrames = m_cache.count();
    s.framesDecoded = m_framesDecoded;
    s.hits = m_hits;
    s.misses = m_misses;
    return s;
}

bool DecodingFrameSource::isCached(int position) const
{
    std::lock_guard lock(m_mutex);
    return !m_shown.empty() && knownAndCached(clampPosition(position));
}

bool DecodingFrameSource::isKeyframe(int position) const
{
    return m_file->index().isKeyframeSlot(position);
}

void DecodingFrameSource::setCacheCapBytes(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_cache.setCap(std::max<qint64>(bytes, 0));
    m_cache.trim(m_lastRequest, m_direction,
        m_shown.empty() ? -1 : m_shown[size_t(m_lastRequest)]);
}

std::unique_ptr<FrameSource> openFrameSource(const QString &path, QString *error)
{
    QString message;
    auto file = MediaFile::open(path, &message);
    if (!file) {
        if (error)
            *error = message;
        return nullptr;
    }
    const bool byTime = file->presentsByTime();
    auto decoder = VideoDecoder::open(file->codecParameters(),
        file->index().everyPacketIsKeyframe(), &message, file->timeBase());
    if (!decoder) {
        if (error)
            *error = message;
        return nullptr;
    }
    auto source = std::make_unique<DecodingFrameSource>(std::move(file), std::move(decoder));
    // Outside AVI a file can hold a video stream of which nothing decodes (a broken
    // bitstream, a missing decoder configuration); it is no video to open.
    if (byTime && !source->pictureAt(0)) {
        if (error)
            *error = QStringLiteral("映像を読めません");
        return nullptr;
    }
    return source;
}

} // namespace video
