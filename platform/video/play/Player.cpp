#include "platform/video/play/Player.h"

#include "platform/video/FrameSource.h"
#include "platform/video/audio/AudioTrack.h"

#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcPlay, "kurimo.video.play", QtWarningMsg)

namespace video {

namespace {

// Speeds at which the sound can keep its pitch and therefore lead the picture.
constexpr int kAudioMinSpeed = 250;
constexpr int kAudioMaxSpeed = 3000;

} // namespace

const char *Player::modeName(Mode mode)
{
    switch (mode) {
    case Mode::Stopped: return "stopped";
    case Mode::Playing: return "playing";
    case Mode::Paused: return "paused";
    case Mode::Seeking: return "seeking";
    }
    return "not ready";
}

Player::Player(FrameSource &source, AudioTrack *audio, std::shared_ptr<const ClockSource> clock,
    Options options)
    : m_source(source)
    , m_audio(audio)
    , m_clockSource(std::move(clock))
    , m_options(std::move(options))
    , m_decoder(source, m_clockSource)
{
    const VideoInfo &info = source.info();
    if (info.rateNum > 0 && info.rateDen > 0)
        m_fps = double(info.rateNum) / info.rateDen;
    m_times = PictureTimes(info.pictureMs, m_fps);
    m_prerollLimit = MemoryBudget::prerollLimit(qint64(info.width) * info.height);
    setCacheCap(budget().cacheBytes);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(4);
    connect(&m_timer, &QTimer::timeout, this, &Player::tick);
}

Player::~Player()
{
    m_timer.stop();
    m_decoder.halt();
    stopAudio();
}

const QImage &Player::picture()
{
    if (m_picture.isNull())
        m_picture = m_source.frameAt(m_position);
    return m_picture;
}

bool Player::seek(int position)
{
    transition(Mode::Seeking);
    m_failure = PlayFailure::None;
    QImage image = m_source.frameAt(position);
    const bool ok = !image.isNull();
    if (ok) {
        m_position = position;
        m_picture = std::move(image);
        emit pictureChanged();
    }
    transition(Mode::Stopped);
    return ok;
}

void Player::play(const PlayPlan &plan)
{
    if (m_mode == Mode::Playing)
        transition(Mode::Stopped, CacheAfterPlay::Keep);
    const MemoryBudget b = budget(plan.backward ? &plan : nullptr);
    setCacheCap(plan.backward ? b.reverseCacheBytes : b.cacheBytes);
    m_plan = plan;
    m_skipped = 0;
    m_failure = PlayFailure::None;
    // A play that starts where the picture already is (a resume) has its first frame shown.
    m_presented = (m_position == plan.from && !m_picture.isNull()) ? 0 : -1;
    const SteadyTime now = m_clockSource->now();
    m_clock = PlaybackClock(now, 0.0, rate(), PlaybackClock::Direction::Forward);
    // A repeating play decodes its first frame even when it is on screen: the first lap
    // fills the head that every later wrap is carried by.
    m_decoder.begin(plan, plan.repeat ? 0 : m_presented + 1,
        queueCapacityIn(b, m_options, plan.backward),
        plan.repeat ? lapHeadFor(m_source.pictureBytes()) : 0);
    m_startPending = true;
    m_playAsked = now;
    transition(Mode::Playing);
}

MemoryBudget Player::budget(const PlayPlan *reverse)
{
    const VideoInfo &info = m_source.info();
    MemoryBudget b = MemoryBudget::forPicture(m_source.pictureBytes(),
        qint64(info.width) * info.height, rate());
    if (reverse) {
        const qint64 stretch = scanKeyframes(*reverse);
        const MachineMemory machine =
            m_options.machineMemory ? m_options.machineMemory() : MachineMemory::read();
        b.growReverse(machine, stretch);
        qCDebug(lcPlay) << "reverse play: stretches of up to" << stretch << "frames, cache of"
                        << b.reverseCacheBytes / b.pictureBytes << "pictures; available"
                        << (machine.available >> 20) << "MiB, address space left"
                        << (machine.addressSpaceLeft >> 20) << "MiB";
    }
    return b;
}

void Player::setCacheCap(qint64 bytes)
{
    if (bytes != m_cacheCapSet) {
        m_cacheCapSet = bytes;
        m_source.setCacheCapBytes(bytes);
    }
}

qint64 Player::scanKeyframes(const PlayPlan &plan)
{
    m_keyframes.clear();
    qint64 longest = 0;
    qint64 run = 0;
    for (int p = plan.high(); p >= 0; --p) {
        run += p >= plan.low() ? 1 : 0;
        if (m_source.isKeyframe(p)) {
            m_keyframes.push_back(p);
            longest = std::max(longest, run);
            run = 0;
            if (p <= plan.low())
                break;
        }
    }
    return std::max(longest, run);
}

qint64 Player::runFramesTo(qint64 ordinal) const
{
    const int position = m_plan.positionOf(ordinal);
    // Descending: the first at or below the position. A source that names no keyframes
    // decodes from the start.
    const auto key = std::lower_bound(m_keyframes.begin(), m_keyframes.end(), position,
        std::greater<int>());
    return position - (key == m_keyframes.end() ? 0 : *key) + 1;
}

bool Player::prerollCarries(qint64 queued, double framesPerSecond, qint64 runFrames,
    double decodeRate)
{
    if (decodeRate <= 0 || framesPerSecond <= 0)
        return false;
    return double(queued) / framesPerSecond >= kPrerollMargin * double(runFrames) / decodeRate;
}

int Player::queueCapacityFor(const Options &options, qint64 pictureBytes, qint64 pixels,
    bool backward, double framesPerSecond)
{
    return queueCapacityIn(MemoryBudget::forPicture(pictureBytes, pixels, framesPerSecond),
        options, backward);
}

int Player::queueCapacityIn(const MemoryBudget &budget, const Options &options, bool backward)
{
    return backward ? budget.frames(budget.reverseQueueBytes, options.reverseQueueCapacity)
                    : budget.frames(budget.forwardQueueBytes, options.queueCapacity);
}

int Player::lapHeadFor(qint64 pictureBytes)
{
    const MemoryBudget budget = MemoryBudget::forPicture(pictureBytes, 0);
    return budget.frames(budget.lapHeadBytes, MemoryBudget::kLapHeadFrames);
}

void Player::pause()
{
    if (m_mode == Mode::Playing)
        transition(Mode::Paused);
}

void Player::stop()
{
    if (m_mode != Mode::Stopped)
        transition(Mode::Stopped);
}

void Player::setSpeed(int speed)
{
    // The same speed again (the panel resends it freely) must not restart the sound.
    if (speed == m_speed)
        return;
    if (m_mode != Mode::Playing || m_startPending) { // the clock starts at the new rate
        m_speed = speed;
        return;
    }
    const SteadyTime now = m_clockSource->now();
    progressAt(now); // brings the picture clock in step with the sound, if it leads
    m_speed = speed;
    m_clock.setRate(now, rate());
    if (m_audioLeads)
        stopAudio();
    startAudioIfDue(now);
}

void Player::setAudioOn(bool on)
{
    m_audioOn = on;
    if (m_mode != Mode::Playing || m_startPending) // the sound starts with the clock
        return;
    const SteadyTime now = m_clockSource->now();
    if (!on && m_audioLeads) {
        progressAt(now);
        m_audio->setMuted(true);
        stopAudio();
    } else if (on && !m_audioLeads) {
        startAudioIfDue(now);
    }
}

void Player::tick()
{
    if (m_mode != Mode::Playing)
        return;
    if (m_decoder.outOfMemory()) {
        m_failure = PlayFailure::OutOfMemory;
        transition(Mode::Stopped);
        return;
    }
    const SteadyTime now = m_clockSource->now();
    if (m_startPending && !prerollDone(now))
        return;
    const double progress = progressAt(now);
    qint64 due = m_times.ordinalAt(m_plan, progress);
    const qint64 last = m_plan.lastOrdinal();
    const bool ending = last >= 0 && due >= last;
    if (ending)
        due = last;
    m_decoder.setDue(due);
    const std::optional<DecodeAhead::Frame> frame = m_decoder.takeUpTo(due);
    if (frame && !present(*frame))
        return;
    if (ending) {
        // The end of a play is exact: a play whose last frame the decoder has not delivered
        // yet goes on until it has (it is decoding it now), rather than blocking this thread.
        if (m_presented >= last)
            transition(Mode::Stopped);
        return;
    }
    if (m_audioLeads && m_plan.repeat && m_plan.cycleOf(due) != m_audioCycle) {
        // The range wrapped: the sound starts again where the picture is in the new lap, so
        // that the time since the wrap (a tick comes late) is not played twice.
        m_audioCycle = m_plan.cycleOf(due);
        const double lapStart = double(m_audioCycle) * m_times.lapOf(m_plan);
        m_audioAnchorProgress = std::max(progress, lapStart);
        m_audioAnchorSeconds =
            (m_times.timeOf(m_plan.from) + (m_audioAnchorProgress - lapStart)) / m_fps;
        if (!m_audio->start(m_audioAnchorSeconds, m_speed)) {
            m_audioLeads = false;
            m_clock.reanchor(now, m_audioAnchorProgress);
        }
    }
}

bool Player::prerollDone(SteadyTime now)
{
    // Asked before the first picture leaves the queue, which would leave room in it.
    const bool primed = m_decoder.primed();
    // The first picture goes on screen the moment it is decoded, whatever the clock.
    if (m_presented < 0) {
        const std::optional<DecodeAhead::Frame> frame = m_decoder.takeUpTo(0);
        if (frame && !present(*frame))
            return false;
    }
    if (!primed) {
        const SteadyTime::duration waited = now - m_playAsked;
        if (!m_plan.backward && waited < m_prerollLimit)
            return false;
        if (m_plan.backward && waited < MemoryBudget::kReversePrerollMost) {
            const DecodeAhead::Pace pace = m_decoder.pace();
            if (!prerollCarries(pace.queued, rate(), runFramesTo(pace.next), pace.rate()))
                return false;
        }
    }
    // The play's time starts now, not at the command: neither the decoding ahead nor what
    // held this thread since (a window's first paint, say) counts as frames gone by. The
    // sound starts here too, in step with it.
    m_startPending = false;
    m_clock.reanchor(now, 0.0);
    m_clock.setRate(now, rate()); // a speed set during the pre-roll
    startAudioIfDue(now);
    if (lcPlay().isDebugEnabled()) {
        const DecodeAhead::Pace pace = m_decoder.pace();
        qCDebug(lcPlay) << "pre-roll" << std::chrono::duration<double>(now - m_playAsked).count()
                        << "s; decoded" << pace.framesDecoded << "frames at" << pace.rate()
                        << "a second; queued" << pace.queued;
    }
    return true;
}

bool Player::present(const DecodeAhead::Frame &frame)
{
    if (frame.ordinal <= m_presented)
        return true;
    // Into the picture on show, where nothing else holds it: a play keeps one image.
    if (!frame.picture || !frame.picture->renderInto(m_picture)) {
        // A frame that cannot be read ends the play on the last picture shown: playing on
        // would report positions whose pictures nobody saw. The frames the decoder passed
        // over before it were late, not shown; the unreadable one is neither.
        m_skipped += frame.ordinal - m_presented - 1;
        m_failure = PlayFailure::Unreadable;
        qCDebug(lcPlay) << "play stopped: frame" << frame.position << "cannot be read";
        transition(Mode::Stopped);
        return false;
    }
    m_skipped += frame.ordinal - m_presented - 1;
    m_presented = frame.ordinal;
    m_position = frame.position;
    emit pictureChanged();
    return true;
}

double Player::progressAt(SteadyTime now)
{
    if (m_audioLeads) {
        if (const std::optional<double> seconds = m_audio->clockSeconds()) {
            const double progress =
                m_audioAnchorProgress + (*seconds - m_audioAnchorSeconds) * m_fps;
            m_clock.reanchor(now, progress);
            return progress;
        }
    }
    return m_clock.positionAt(now);
}

void Player::startAudioIfDue(SteadyTime now)
{
    if (!m_audio || !m_audioOn || m_plan.backward || m_speed < kAudioMinSpeed
        || m_speed > kAudioMaxSpeed)
        return;
    const double progress = std::max(0.0, progressAt(now));
    m_audioCycle = m_times.cycleAt(m_plan, progress);
    const double seconds = m_times.fileTimeAt(m_plan, progress) / m_fps;
    m_audio->setMuted(false);
    if (!m_audio->start(seconds, m_speed))
        return;
    m_audioLeads = true;
    m_audioAnchorProgress = progress;
    m_audioAnchorSeconds = seconds;
}

void Player::stopAudio()
{
    if (m_audio)
        m_audio->stop();
    m_audioLeads = false;
}

void Player::transition(Mode to, CacheAfterPlay cache)
{
    const Mode from = m_mode;
    if (from == Mode::Playing && lcPlay().isDebugEnabled()) {
        const DecodeAhead::Pace pace = m_decoder.pace();
        qCDebug(lcPlay) << "play decoded" << pace.framesDecoded << "frames in" << pace.seconds
                        << "s; skipped" << m_skipped;
    }
    if (from == Mode::Playing) {
        m_timer.stop();
        m_decoder.halt();
        stopAudio();
        if (cache == CacheAfterPlay::Rest)
            setCacheCap(budget().cacheBytes);
    }
    m_mode = to;
    if (to == Mode::Playing) {
        if (!m_startPending) // a play starts its sound on its first tick
            startAudioIfDue(m_clockSource->now());
        if (m_options.autoTick)
            m_timer.start();
    }
    qCDebug(lcPlay) << modeName(from) << "->" << modeName(to) << "at" << m_position
                    << (m_plan.backward ? "backward" : "forward");
    if (from != to)
        emit modeChanged(to);
}

} // namespace video
