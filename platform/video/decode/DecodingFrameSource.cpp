#include "platform/video/decode/DecodingFrameSource.h"

#include "platform/video/decode/FirstPackets.h"
#include "platform/video/decode/Headroom.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <new>
#include <chrono>
#include <climits>

namespace video {

namespace {

// What a run keeps free under an address-space limit, whatever the picture size: room for
// the decoder's own tables and its frame threads' copies besides the pictures.
constexpr qint64 kHeadroomFloor = qint64(64) << 20;

} // namespace

// A call's hold on the source: announced before the lock is taken, so that the work at rest
// steps aside between two packets, and woken again once the call is done.
class DecodingFrameSource::CommandLock {
public:
    explicit CommandLock(const DecodingFrameSource &source) : m_source(source)
    {
        m_source.m_rest.callWaits();
        m_source.m_mutex.lock();
        m_source.m_rest.callIn();
    }
    ~CommandLock()
    {
        m_source.m_mutex.unlock();
        m_source.m_rest.callDone();
    }
    CommandLock(const CommandLock &) = delete;
    CommandLock &operator=(const CommandLock &) = delete;

private:
    const DecodingFrameSource &m_source;
};

DecodingFrameSource::DecodingFrameSource(std::unique_ptr<MediaFile> file,
    std::unique_ptr<VideoDecoder> decoder, bool skipFarPictures)
    : m_file(std::move(file)),
      m_decoder(std::move(decoder)),
      m_cache(kDefaultCacheCap),
      m_packet(ff::makePacket()),
      m_shown(m_file->info().frameCount),
      m_skipFar(skipFarPictures),
      m_rest(m_mutex, *this, kBelowAfter)
{
    m_decoder->setPalette(m_file->palette());
    learnReorderDelay(*m_file, *m_decoder, m_packet.get(), kDelayProbePackets);
    if (dropSilentLeadIn(*m_file, *m_decoder, m_packet.get(), kLeadInPackets))
        m_shown.forget(m_file->info().frameCount);
}

DecodingFrameSource::~DecodingFrameSource()
{
    setDecodeAhead(false);
}

int DecodingFrameSource::clampPosition(int position) const
{
    return std::clamp(position, 0, m_shown.size() - 1);
}

bool DecodingFrameSource::knownAndCached(int position) const
{
    const int shown = m_shown.at(position);
    return shown >= 0 && m_cache.contains(shown);
}

// Within the cap again, around the picture last asked for (the work at rest and a new cap
// move nothing else).
void DecodingFrameSource::trimAroundLastRequest()
{
    m_cache.trim(m_lastRequest, m_direction,
        m_shown.empty() ? -1 : m_shown.at(m_lastRequest), m_playing);
}

int DecodingFrameSource::locate(int position, bool jump)
{
    if (m_shown.empty())
        return -1;
    const int p = clampPosition(position);
    // A step or a wind back walks down through what the last decode kept: it is decoded in
    // full, to keep the stretch below it too.
    const bool walkDown = p < m_lastRequest && m_lastRequest - p <= m_keepWindow / 2;
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
        if (!prepareRun(p, jump && !walkDown) || runUntil(p) == RunEnd::Failed)
            return -1;
    }
    return knownAndCached(p) ? p : -1;
}

bool DecodingFrameSource::prepareRun(int position, bool jump)
{
    const int start = chooseStart(position);
    // Carrying on costs a decode per frame up to the position; a restart at the keyframe
    // costs about as much from there, plus a seek and the risk of an open GOP.
    const FrameIndex &index = m_file->index();
    const int startSlot = index.packet(start).slot;
    const bool certain = index.everyPacketIsKeyframe() || m_shown.startKnown(start);
    const int restartCost = certain ? kRestartCost : kUncertainRestartCost;
    // A run from the same keyframe still short of the position (the work at rest was
    // interrupted while it passed unreferenced pictures, with nothing learnt yet) is never
    // dearer to carry on than to start again.
    const int lastTrusted = m_run.lastTrusted();
    const bool sameRunShort = m_run.carriesOn() && m_run.start() == start &&
        m_run.lastPacket() >= 0 &&
        index.packet(m_run.lastPacket()).slot + m_decoder->delay() + 2 < position;
    const bool carryOn = sameRunShort || (m_run.carriesOn() && lastTrusted < position &&
        position - lastTrusted <= position - startSlot + restartCost);
    if (carryOn) {
        m_run.widen();
        return true;
    }
    return startRun(start, jump && refillIsCheap(position - startSlot));
}

// Whether the work at rest can decode a stretch of this many pictures again soon after a jump
// past it, at what a picture has cost so far (and with no picture skipped, so that a larger
// picture with fewer references to skip still fits): then the jump itself decodes only the last
// few pictures before its target in full. The cost is CPU time, so that a machine kept busy by
// other programs does not turn every jump into a wide one.
bool DecodingFrameSource::refillIsCheap(int pictures) const
{
    if (!m_skipFar || !m_rest.running() || m_decoder->fullDecodes() < kRestAhead)
        return false;
    return pictures * m_decoder->secondsPerPicture() <= kRefillSeconds;
}

bool DecodingFrameSource::carriesOnCheaply(int position) const
{
    const int lastTrusted = m_run.lastTrusted();
    return m_run.carriesOn() && lastTrusted >= 0 && lastTrusted < position &&
        position - lastTrusted <= 2 * kRestAhead;
}

QImage DecodingFrameSource::frameAt(int position)
{
    CommandLock lock(*this);
    m_playing = false;
    keepPlayMemory();
    const int p = locate(position, true);
    if (p < 0)
        return {};
    const int shown = m_shown.at(p);
    const QImage image = m_cache.image(shown, m_converter, m_file->decodedWidth(),
        m_file->decodedHeight(), m_file->clockwise());
    m_cache.trim(p, m_direction, shown);
    m_rest.placeAt(p, true);
    return image;
}

// Not a place of rest: a play asks for its pictures this way, one after another, and prepares
// the next ones itself; what was left to do at the last place of rest is not wanted now.
PicturePtr DecodingFrameSource::pictureAt(int position)
{
    CommandLock lock(*this);
    m_rest.drop();
    m_playing = true;
    keepPlayMemory();
    const int p = locate(position, false);
    keepPlayMemory(); // the direction may have turned
    if (p < 0)
        return nullptr;
    const int shown = m_shown.at(p);
    PicturePtr picture = m_cache.picture(shown, m_file->decodedWidth(), m_file->decodedHeight(),
        m_file->clockwise());
    m_cache.trim(p, m_direction, shown, m_playing);
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
        if (m_shown.startShows(key, position))
            return key;
        before = key;
    }
}

bool DecodingFrameSource::startRun(int keyPacket, bool narrow)
{
    m_decoder->reset();
    m_decoder->setPalette(m_file->paletteAt(keyPacket));
    const bool positioned = m_file->seekToPacket(keyPacket);
    m_run = DecodeRun(m_file->index(), m_file->namesPicturesByPacket(), keyPacket, positioned,
        narrow);
    return positioned;
}

DecodingFrameSource::RunEnd DecodingFrameSource::runUntil(int position)
{
    // Bounded: a damaged file must not keep us here; every packet yields at most a frame.
    for (int packets = 0; packets <= m_file->index().packetCount() + 16; ++packets) {
        if (const std::optional<RunEnd> end = runStep(position))
            return *end;
    }
    finishRun();
    return RunEnd::Failed;
}

std::optional<DecodingFrameSource::RunEnd> DecodingFrameSource::runStep(int position)
{
    const auto frameHandler = [this](AVFrame *frame) { onFrame(frame); };
    if (knownAndCached(position))
        return RunEnd::Reached;
    if (m_run.passed(position) && m_shown.at(position) < 0)
        return RunEnd::Overshot;
    if (m_run.passed(position))
        return RunEnd::Reached; // known, but the frame itself was evicted on the way
    // Before the packet is read, so that the run can carry on from here once memory is back.
    if (addressSpaceNearlyFull(std::max<qint64>(kHeadroomFloor, 8 * pictureBytes())))
        throw std::bad_alloc();
    int packetIndex = -1;
    if (!m_file->readVideoPacket(m_packet.get(), &packetIndex)) {
        m_run.flushing();
        m_decoder->decode(nullptr, frameHandler);
        finishRun();
        return RunEnd::EndOfStream;
    }
    m_run.sent(m_packet->dts, packetIndex);
    // The decoder hands each picture the pts of the packet it came from: the packet's number
    // names the picture where timestamps repeat, go backwards or were only guessed.
    if (m_file->namesPicturesByPacket())
        m_packet->pts = packetIndex >= 0 ? packetIndex : AV_NOPTS_VALUE;
    const bool skip = m_skipFar && m_run.maySkip() && packetIndex >= 0 && farBefore(packetIndex);
    if (skip)
        m_run.skipping(m_file->index().packet(packetIndex).slot);
    m_decoder->setSkipNonReference(skip);
    m_decoder->decode(m_packet.get(), frameHandler);
    av_packet_unref(m_packet.get());
    return std::nullopt;
}

// Whether the packet's picture is too far before the target for the cache to keep, with
// pictures after it (in the file) that are too: so the picture at the target never is one
// skipped, even after a run of null frames.
bool DecodingFrameSource::farBefore(int packetIndex) const
{
    const FrameIndex &index = m_file->index();
    const int margin = m_decoder->delay() + 2;
    const int limit = m_target - (m_run.narrow() ? kJumpKeep : m_keepWindow);
    if (packetIndex + margin >= index.packetCount())
        return false;
    const int here = index.packet(packetIndex).slot;
    const int later = index.packet(packetIndex + margin).slot;
    return here >= 0 && later >= 0 && here + margin < limit && later < limit;
}

void DecodingFrameSource::onFrame(AVFrame *frame)
{
    ++m_framesDecoded;
    if (frame->key_frame)
        m_file->learnRotationFrom(frame);
    const DecodeRun::Out out{frame->pts, frame->pkt_dts,
        frame->key_frame || frame->pict_type == AV_PICTURE_TYPE_I};
    const int slot = m_run.onFrame(out, m_decoder->delay(), m_shown);
    if (slot >= 0)
        keep(slot, frame);
}

// Frames too far before the target would only be evicted again; not holding them lets the
// decoder reuse their buffers. The latest of them is held all the same: null frames up to the
// target would show it.
void DecodingFrameSource::keep(int slot, AVFrame *frame)
{
    setKeepWindow(FrameCache::frameBytes(frame));
    const int released = m_run.holdFar(slot < m_target - m_keepWindow ? slot : -1);
    if (released >= 0 && released != m_shown.at(m_target))
        m_cache.erase(released);
    m_cache.put(slot, frame);
    // Around the picture last asked for, not the target: the work at rest decodes a stretch
    // below its place, and the pictures between the two must stay for the steps down.
    if (m_cache.bytes() > m_cache.cap())
        m_cache.trim(m_lastRequest, m_direction, slot <= m_target ? slot : m_shown.at(m_target),
            m_playing);
}

void DecodingFrameSource::finishRun()
{
    m_run.finish(m_shown);
    m_decoder->reset();
}

FrameSource::Stats DecodingFrameSource::stats() const
{
    CommandLock lock(*this);
    Stats s;
    s.cacheCapBytes = m_cache.cap();
    s.cacheBytes = m_cache.bytes();
    s.cachedFrames = m_cache.count();
    s.framesDecoded = m_framesDecoded;
    s.hits = m_hits;
    s.misses = m_misses;
    return s;
}

FramePool::Stats DecodingFrameSource::poolStats() const
{
    CommandLock lock(*this);
    const FramePool *pool = std::as_const(*m_decoder).framePool();
    return pool ? pool->stats() : FramePool::Stats{};
}

bool DecodingFrameSource::isCached(int position) const
{
    CommandLock lock(*this);
    return !m_shown.empty() && knownAndCached(clampPosition(position));
}

bool DecodingFrameSource::isKeyframe(int position) const
{
    return m_file->index().isKeyframeSlot(position);
}

void DecodingFrameSource::setCacheCapBytes(qint64 bytes)
{
    CommandLock lock(*this);
    // A play sets its cap as it starts and the one at rest as it ends: either way the pictures
    // the last play passed are no longer in a queue.
    m_playing = false;
    m_cache.setCap(std::max<qint64>(bytes, 0));
    // Before the first picture of the next run comes out: that run decides from the window
    // which pictures are too far to decode, and a window of the old cap would leave a grown
    // cache half empty (a reverse play's first stretch would then be decoded twice).
    setKeepWindow(pictureBytes());
    trimAroundLastRequest();
    keepPlayMemory();
}

// What the decoder's pool keeps idle, and in which pages. A play going backwards lets go of
// the pictures it has shown, a stretch at a time, while it decodes the next stretch into new
// ones: the decoder's pool keeps what comes back, up to the cache's cap, so that the next
// stretch reuses it instead of faulting in fresh memory (on this kind of virtual machine 6 to
// 40 ms for a 4K picture's 12 MB, as much as decoding it). The memory was the play's already:
// what it holds and what idles never exceed what it held.
void DecodingFrameSource::keepPlayMemory()
{
    FramePool *pool = m_decoder->framePool();
    if (!pool)
        return;
    const std::size_t least = FramePool::idleCapFor(std::size_t(pictureBytes()));
    const std::size_t cap = m_playing && m_direction < 0
        ? std::max(least, std::size_t(m_cache.cap()))
        : least;
    if (cap != m_poolIdleCap) {
        m_poolIdleCap = cap;
        pool->setIdleCap(cap);
    }
    // A play keeps a new picture for every one it asks for until its cache is full (a reverse
    // play a whole stretch of them before its first picture): fresh memory, cheaper in small
    // pages here (SlabMemory.h). A seek or a step keeps one at a time, in huge pages.
    if (m_playing != m_poolSmallPages) {
        m_poolSmallPages = m_playing;
        pool->setHugePages(!m_playing);
    }
}

void DecodingFrameSource::setKeepWindow(qint64 frameBytes)
{
    const qint64 window = std::max<qint64>(16, m_cache.cap() / std::max<qint64>(1, frameBytes));
    m_keepWindow = int(std::min<qint64>(window, INT_MAX / 2));
}

void DecodingFrameSource::setDecodeAhead(bool on)
{
    if (on)
        m_rest.start();
    else
        m_rest.stop();
}

void DecodingFrameSource::restAt(int position)
{
    CommandLock lock(*this);
    m_playing = false;
    keepPlayMemory();
    if (!m_shown.empty())
        m_rest.placeAt(clampPosition(position), true);
}

void DecodingFrameSource::waitForRest()
{
    m_rest.waitUntilDone();
}

// The pictures after the place of rest, nearest first, and the next one's image. Going
// backwards, the ones after only where the running decode reaches them at once: anything more
// would go back to a keyframe and evict what the walk down still needs.
int DecodingFrameSource::restGoalAhead(int place, bool images) const
{
    const int last = m_shown.size() - 1;
    const bool intra = m_file->index().everyPacketIsKeyframe();
    for (int q = place + 1; q <= std::min(last, place + kRestAhead); ++q) {
        if (!knownAndCached(q))
            return m_direction < 0 && !intra && !carriesOnCheaply(q) ? -1 : q;
        if (q == place + 1 && images && !m_cache.hasImage(m_shown.at(q)))
            return q;
    }
    return -1;
}

// The picture before, and with it the stretch below that a jump left undecoded or a walk down
// is about to need: a run up to the highest one missing keeps those under it. Only the one
// before where every picture is a keyframe.
int DecodingFrameSource::restGoalBelow(int place) const
{
    const bool intra = m_file->index().everyPacketIsKeyframe();
    for (int q = place - 1; q >= std::max(0, place - (intra ? 1 : kRefillDepth)); --q) {
        if (!knownAndCached(q))
            return q;
    }
    return -1;
}

bool DecodingFrameSource::restConvert(int position)
{
    const int shown = m_shown.at(position);
    const bool made = !m_cache.image(shown, m_converter, m_file->decodedWidth(),
        m_file->decodedHeight(), m_file->clockwise()).isNull();
    trimAroundLastRequest();
    return made && m_cache.hasImage(shown);
}

bool DecodingFrameSource::restSetOut(int position)
{
    if (!m_file->unchanged())
        return false;
    m_target = position;
    return prepareRun(position, false);
}

std::optional<bool> DecodingFrameSource::restPacket(int position)
{
    m_target = position;
    const std::optional<RunEnd> end = runStep(position);
    if (!end)
        return std::nullopt;
    trimAroundLastRequest();
    return *end != RunEnd::Failed;
}

} // namespace video
