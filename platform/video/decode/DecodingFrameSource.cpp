#include "platform/video/decode/DecodingFrameSource.h"

#include "platform/video/decode/Headroom.h"
#include "platform/video/decode/IdlePriority.h"

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
        ++m_source.m_waiting;
        m_source.m_mutex.lock();
        --m_source.m_waiting;
    }
    ~CommandLock()
    {
        m_source.m_mutex.unlock();
        m_source.m_restWake.notify_all();
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
      m_shown(size_t(std::max(0, m_file->info().frameCount)), -1),
      m_skipFar(skipFarPictures)
{
    m_decoder->setPalette(m_file->palette());
    learnReorderDelay();
    learnLeadIn();
}

DecodingFrameSource::~DecodingFrameSource()
{
    setDecodeAhead(false);
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

void DecodingFrameSource::learnLeadIn()
{
    // A file cut in the middle of a GOP starts with packets the decoder shows nothing for (no
    // parameter sets or no keyframe yet), or with pictures it shows damaged; an open GOP's
    // leading B-pictures come out before their keyframe though they refer to pictures not in
    // the file. What a plain decode from the start shows up to its first keyframe is found
    // here once; the packets before it that show nothing are no positions.
    if (!m_file->presentsByTime() || !m_file->seekToPacket(0))
        return;
    const FrameIndex &index = m_file->index();
    std::vector<bool> out(size_t(index.packetCount()), false);
    int keySlot = -1;
    const auto collect = [&](AVFrame *frame) {
        const int64_t packet = frame->pts;
        if (keySlot >= 0 || packet < 0 || packet >= index.packetCount())
            return;
        out[size_t(packet)] = true;
        const int slot = index.packet(int(packet)).slot;
        if (slot >= 0 && (frame->key_frame || frame->pict_type == AV_PICTURE_TYPE_I))
            keySlot = slot;
    };
    int packetIndex = -1;
    bool more = true;
    for (int i = 0; i < kLeadInPackets && keySlot < 0 &&
         (more = m_file->readVideoPacket(m_packet.get(), &packetIndex)); ++i) {
        m_packet->pts = packetIndex >= 0 ? packetIndex : AV_NOPTS_VALUE;
        m_decoder->decode(m_packet.get(), collect);
    }
    if (!more)
        m_decoder->decode(nullptr, collect);
    av_packet_unref(m_packet.get());
    m_decoder->reset();
    if (keySlot < 0)
        return;
    std::vector<int> silent;
    for (int i = 0; i < index.packetCount(); ++i) {
        const int slot = index.packet(i).slot;
        if (slot >= 0 && slot < keySlot && !out[size_t(i)])
            silent.push_back(i);
    }
    if (!silent.empty() && m_file->dropPositions(silent))
        m_shown.assign(size_t(m_file->info().frameCount), -1);
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

// Within the cap again, around the picture last asked for (the work at rest and a new cap
// move nothing else).
void DecodingFrameSource::trimAroundLastRequest()
{
    m_cache.trim(m_lastRequest, m_direction,
        m_shown.empty() ? -1 : m_shown[size_t(m_lastRequest)]);
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
    const int startSlot = m_file->index().packet(start).slot;
    const bool certain = m_file->index().everyPacketIsKeyframe() ||
        m_firstTrusted.count(start) != 0;
    const int restartCost = certain ? kRestartCost : kUncertainRestartCost;
    // A run from the same keyframe still short of the position (the work at rest was
    // interrupted while it passed unreferenced pictures, with nothing learnt yet) is never
    // dearer to carry on than to start again.
    const bool sameRunShort = m_positioned && m_trusted && m_runStart == start &&
        m_lastPacket >= 0 &&
        m_file->index().packet(m_lastPacket).slot + m_decoder->delay() + 2 < position;
    const bool carryOn = sameRunShort || (m_positioned && m_trusted &&
        m_lastTrusted < position && position - m_lastTrusted <= position - startSlot + restartCost);
    if (carryOn) {
        m_narrowRun = false;
        return true;
    }
    m_narrowRun = jump && refillIsCheap(position - startSlot);
    return startRun(start);
}

// Whether the work at rest can decode a stretch of this many pictures again soon after a jump
// past it, at what a picture has cost so far (and with no picture skipped, so that a larger
// picture with fewer references to skip still fits): then the jump itself decodes only the last
// few pictures before its target in full. The cost is CPU time, so that a machine kept busy by
// other programs does not turn every jump into a wide one.
bool DecodingFrameSource::refillIsCheap(int pictures) const
{
    if (!m_skipFar || !m_restThread.joinable() || m_decoder->fullDecodes() < kRestAhead)
        return false;
    return pictures * m_decoder->secondsPerPicture() <= kRefillSeconds;
}

bool DecodingFrameSource::carriesOnCheaply(int position) const
{
    return m_positioned && m_trusted && m_lastTrusted >= 0 && m_lastTrusted < position &&
        position - m_lastTrusted <= 2 * kRestAhead;
}

QImage DecodingFrameSource::frameAt(int position)
{
    CommandLock lock(*this);
    const int p = locate(position, true);
    if (p < 0)
        return {};
    const int shown = m_shown[size_t(p)];
    const QImage image = m_cache.image(shown, m_converter, m_file->decodedWidth(),
        m_file->decodedHeight(), m_file->clockwise());
    m_cache.trim(p, m_direction, shown);
    scheduleRest(p, true);
    return image;
}

// Not a place of rest: a play asks for its pictures this way, one after another, and prepares
// the next ones itself; what was left to do at the last place of rest is not wanted now.
PicturePtr DecodingFrameSource::pictureAt(int position)
{
    CommandLock lock(*this);
    if (m_restPending) {
        m_restPending = false;
        m_rested.notify_all();
    }
    const int p = locate(position, false);
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
    m_lastPacket = -1;
    m_lastTrusted = -1;
    m_lastFar = -1;
    m_skipHorizon = -1;
    return m_positioned;
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
    if (m_trusted && m_lastTrusted > position && m_shown[size_t(position)] < 0)
        return RunEnd::Overshot;
    if (m_trusted && m_lastTrusted > position)
        return RunEnd::Reached; // known, but the frame itself was evicted on the way
    // Before the packet is read, so that the run can carry on from here once memory is back.
    if (addressSpaceNearlyFull(std::max<qint64>(kHeadroomFloor, 8 * pictureBytes())))
        throw std::bad_alloc();
    int packetIndex = -1;
    if (!m_file->readVideoPacket(m_packet.get(), &packetIndex)) {
        m_flushDts = m_lastSent + 1;
        m_decoder->decode(nullptr, frameHandler);
        finishRun();
        return RunEnd::EndOfStream;
    }
    m_lastSent = int(m_packet->dts);
    if (packetIndex >= 0)
        m_lastPacket = packetIndex;
    // The decoder hands each picture the pts of the packet it came from: the packet's number
    // names the picture where timestamps repeat, go backwards or were only guessed.
    if (m_file->presentsByTime())
        m_packet->pts = packetIndex >= 0 ? packetIndex : AV_NOPTS_VALUE;
    // Only once the start has proved itself (its keyframe out), so that what a start shows
    // first is learnt from a plain decode.
    const bool skip = m_skipFar && m_trusted && !m_firstPending && packetIndex >= 0 &&
        farBefore(packetIndex);
    if (skip) {
        // A skipped picture may be shown between the last frame learnt and the next: the
        // slots in between are not all the last one's.
        m_lastTrusted = -1;
        // A picture is shown at or before the slot of its packet in an AVI (it comes out
        // after it or with it); elsewhere the slot is where it is shown.
        m_skipHorizon = std::max(m_skipHorizon, m_file->index().packet(packetIndex).slot);
    }
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
    const int limit = m_target - (m_narrowRun ? kJumpKeep : m_keepWindow);
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
    const int slotTotal = int(m_shown.size());
    int slot = m_lastOut + 1;
    if (m_file->presentsByTime()) {
        // -1: decoded only to decode others (an edit list's pre-roll, a second field)
        const int64_t packet = frame->pts;
        slot = packet >= 0 && packet < m_file->index().packetCount()
            ? m_file->index().packet(int(packet)).slot
            : -1;
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
        // From the start of the file, everything a plain decode shows is a position (the lead
        // in was measured so), damaged pictures before the first keyframe included.
        if (!key && !hiddenStart && m_runStart != 0)
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
    if (slot < 0 || slot >= slotTotal || slot <= m_skipHorizon)
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
    m_keepWindow = int(std::min<qint64>(keepWindow, INT_MAX / 2));
    if (m_lastFar >= 0 && m_lastFar != m_shown[size_t(m_target)])
        m_cache.erase(m_lastFar);
    m_lastFar = slot < m_target - keepWindow ? slot : -1;
    m_cache.put(slot, frame);
    // Around the picture last asked for, not the target: the work at rest decodes a stretch
    // below its place, and the pictures between the two must stay for the steps down.
    if (m_cache.bytes() > m_cache.cap())
        m_cache.trim(m_lastRequest, m_direction,
            slot <= m_target ? slot : m_shown[size_t(m_target)]);
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
    m_skipHorizon = -1;
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
    m_cache.setCap(std::max<qint64>(bytes, 0));
    trimAroundLastRequest();
}

void DecodingFrameSource::setDecodeAhead(bool on)
{
    if (on == m_restThread.joinable())
        return;
    if (on) {
        m_quit = false;
        m_gateStops = false;
        m_idleGate = std::thread([this] { idleGate(); });
        m_restThread = std::thread([this] { restLoop(); });
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_restPending = false;
    }
    m_gateStops = true;
    m_restWake.notify_all();
    m_wantTurn.release();
    m_turn.release();
    m_restThread.join();
    m_idleGate.join();
    // Neither thread is left to take what was released for it.
    while (m_wantTurn.try_acquire()) {}
    while (m_turn.try_acquire()) {}
    m_rested.notify_all();
}

void DecodingFrameSource::idleGate()
{
    lowerToIdlePriority();
    for (;;) {
        m_wantTurn.acquire();
        if (m_gateStops)
            return;
        m_turn.release();
    }
}

void DecodingFrameSource::restAt(int position)
{
    CommandLock lock(*this);
    if (!m_shown.empty())
        scheduleRest(clampPosition(position), true);
}

void DecodingFrameSource::waitForRest()
{
    std::unique_lock lock(m_mutex);
    m_restHurried = true; // nothing to step aside for
    m_restWake.notify_all();
    m_rested.wait(lock, [&] { return !m_restPending; });
}

void DecodingFrameSource::scheduleRest(int position, bool images)
{
    if (!m_restThread.joinable() || m_quit)
        return;
    m_restPending = true;
    m_restImages = images;
    m_restAt = position;
    m_restFor = -1;
    m_restBehind = 0;
    m_restRunning = false;
    m_restSince = std::chrono::steady_clock::now();
    m_restHurried = false;
}

void DecodingFrameSource::restLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_restWake.wait(lock, [&] { return m_quit || (m_restPending && m_waiting == 0); });
        if (m_quit)
            return;
        // A stretch below the place is a decode from a keyframe, and a call that comes meanwhile
        // waits for its packet in hand: only once the place has stood a moment, so that a
        // step or a wind right after a seek finds the decoder free.
        const auto due = m_restSince + kBelowAfter;
        const int goal = restGoal();
        if (goal >= 0 && goal < m_restAt && !m_restRunning && !m_restHurried &&
            !m_file->index().everyPacketIsKeyframe() && std::chrono::steady_clock::now() < due) {
            const auto since = m_restSince;
            m_restWake.wait_until(lock, due,
                [&] { return m_quit || m_restHurried || m_restSince != since; });
            continue;
        }
        // Only once a core has had nothing else to do.
        lock.unlock();
        m_wantTurn.release();
        m_turn.acquire();
        lock.lock();
        if (m_quit)
            return;
        if (!m_restPending || m_waiting > 0)
            continue;
        bool more = false;
        try {
            more = restStep();
        } catch (const std::bad_alloc &) {
            // Resting only gets ahead of what may be asked; out of memory it stops.
        }
        if (!more) {
            m_restPending = false;
            m_rested.notify_all();
        }
    }
}

// The pictures after the place of rest, nearest first; then the one before where every
// picture is a keyframe. Going backwards, the ones after only where the running decode
// reaches them at once: anything more would go back to a keyframe and evict what the walk
// down still needs.
int DecodingFrameSource::restGoal() const
{
    const int last = int(m_shown.size()) - 1;
    const bool intra = m_file->index().everyPacketIsKeyframe();
    for (int q = m_restAt + 1; q <= std::min(last, m_restAt + kRestAhead); ++q) {
        if (!knownAndCached(q)) {
            if (m_direction < 0 && !intra && !carriesOnCheaply(q))
                break;
            return q;
        }
        if (q == m_restAt + 1 && m_restImages && !m_cache.hasImage(m_shown[size_t(q)]))
            return q;
    }
    // The picture before, and with it the stretch below that a jump left undecoded or a walk
    // down is about to need: a run up to the highest one missing keeps those under it. Twice
    // at most for a place, so that a cache too small for them never has the work go back and
    // forth. The second one is carried on to its end, not cut after its first packet.
    if (m_restBehind >= 2)
        return m_restFor >= 0 && m_restFor < m_restAt && !knownAndCached(m_restFor) ? m_restFor
                                                                                  : -1;
    for (int q = m_restAt - 1; q >= std::max(0, m_restAt - (intra ? 1 : kRefillDepth)); --q) {
        if (!knownAndCached(q))
            return q;
    }
    return -1;
}

bool DecodingFrameSource::restStep()
{
    if (m_shown.empty() || m_restAt < 0)
        return false;
    const int goal = restGoal();
    if (goal < 0)
        return false;
    if (goal != m_restFor) {
        m_restFor = goal;
        m_restRunning = false;
        m_restTries = 0;
        if (goal < m_restAt)
            ++m_restBehind;
        m_restPackets = 0;
    }
    if (knownAndCached(goal)) { // only its image is missing
        const int shown = m_shown[size_t(goal)];
        const bool made = !m_cache.image(shown, m_converter, m_file->decodedWidth(),
            m_file->decodedHeight(), m_file->clockwise()).isNull();
        trimAroundLastRequest();
        return made && m_cache.hasImage(shown);
    }
    // As a call would go about it, but a packet at a time; given up where a call would.
    if (!m_restRunning) {
        if (++m_restTries > 8 || !m_file->unchanged())
            return false;
        m_target = goal;
        if (!prepareRun(goal, false))
            return false;
        m_restRunning = true;
    }
    if (++m_restPackets > m_file->index().packetCount() + 16) {
        finishRun();
        return false;
    }
    m_target = goal;
    const std::optional<RunEnd> end = runStep(goal);
    if (!end)
        return true;
    m_restRunning = false;
    trimAroundLastRequest();
    return *end != RunEnd::Failed;
}

std::unique_ptr<FrameSource> openFrameSource(const QString &path, OpenError *error,
    const std::atomic<bool> *cancelled, const DecodeOptions &options)
{
    // A transport stream of several programmes opens the first one whose video decodes; a
    // file that opens none says why its first failed.
    std::optional<OpenError> first;
    int choices = 1;
    for (int choice = 0; choice < choices; ++choice) {
        OpenError message;
        auto file = MediaFile::open(path, &message, choice, &choices, cancelled);
        std::unique_ptr<DecodingFrameSource> source;
        if (file) {
            auto decoder = VideoDecoder::open(file->codecParameters(),
                file->index().everyPacketIsKeyframe(), &message, file->timeBase(), options);
            const bool byTime = file->presentsByTime();
            if (decoder)
                source = std::make_unique<DecodingFrameSource>(std::move(file), std::move(decoder),
                    options.skipFarPictures);
            // Outside AVI a file can hold a video stream of which nothing decodes (a broken
            // bitstream, a missing decoder configuration); it is no video to open.
            if (source && byTime && !source->pictureAt(0)) {
                source.reset();
                message = OpenError::Why::Undecodable;
            }
        }
        if (source)
            return source;
        if (!first || *first == OpenError::Why::None)
            first = message;
    }
    if (error)
        *error = first.value_or(OpenError{});
    return nullptr;
}

} // namespace video
