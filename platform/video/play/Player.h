#pragma once

#include "platform/video/play/ClockSource.h"
#include "platform/video/play/DecodeAhead.h"
#include "platform/video/play/MemoryBudget.h"
#include "platform/video/play/PictureTimes.h"
#include "platform/video/play/PlayPlan.h"
#include "platform/video/play/PlaybackClock.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace video {

class AudioTrack;
class FrameSource;

// The playback engine of the video device. Knows nothing of windows or command text: it holds
// the position, the picture at that position, and plays a PlayPlan in real time.
//
// Threads. Everything here runs on the thread that owns the Player (the user-interface
// thread) except DecodeAhead's thread, which only calls FrameSource::pictureAt and fills a
// bounded queue of decoded frames. Presentation is driven by a 4 ms precise timer (or by
// tick() in tests): each tick asks the clock which ordinal is due, takes the latest decoded
// frame up to it from the queue, converts it into the picture on show and never waits for
// the decoder. A frame the decoder did not deliver in time is skipped and counted; the last
// frame of a play is never skipped (the play ends when it is on screen). A frame that cannot
// be read ends the play there, on the last picture shown (playFailed()). Only seek() decodes
// on this thread, a single frameAt call.
//
// Time. A play's clock runs in the file's time (PictureTimes), scaled by the speed: each
// picture is due at its own time, so a file whose pictures keep their rate has one every
// period and a phone's variable rate holds a picture or hurries through a burst as it was
// recorded, in step with the sound.
//
// Pre-roll. A play shows its first picture as soon as it is decoded, but its clock (and its
// sound) start only when DecodeAhead is primed - its queue full, or holding the play's last
// frame - so that a play whose next frames need a long decode first (backwards just below a
// keyframe, the first frame below a far keyframe) does not lose them to the clock. A forward
// play waits so at most MemoryBudget::prerollLimit. A reverse play decides from its decoding
// as measured so far (DecodeAhead::pace): its clock starts as soon as the frames queued carry
// the picture, with a margin, while the next stretch decodes from its keyframe at that pace
// (prerollCarries), and at the latest after MemoryBudget::kReversePrerollMost; before its
// first stretch is decoded nothing is measured, so it waits for that. A decoder still not
// ready then plays on and skips what it must. The device shows the busy sign meanwhile.
// Pre-roll is part of Playing: a stop, pause, seek or new play ends it like any play, and a
// wait for the play's end includes it.
//
// Clocks. While the sound plays (forward, speed 250 to 3000, audio on, a track that started)
// the audio clock leads and the picture follows AudioTrack::clockSeconds(); the
// PlaybackClock is re-anchored to it on every tick so that losing the sound (audio off, a
// speed out of its range) continues from the same place. Otherwise the PlaybackClock leads,
// reading "now" from the injected ClockSource.
//
// States. Stopped, Playing, Paused and Seeking (with the play's direction in the plan); all
// changes go through transition(), which does the entry and exit work and tells listeners.
class Player : public QObject {
    Q_OBJECT
public:
    enum class Mode { Stopped, Playing, Paused, Seeking };
    // The mode as the status command names it: "stopped", "playing", "paused", "seeking".
    static const char *modeName(Mode mode);

    struct Options {
        bool autoTick = true; // drive tick() from a timer; tests may tick by hand
        // Most frames queued ahead of the picture, decoded but not yet converted; in bytes
        // the MemoryBudget bounds them. Backwards the frames come a keyframe-bounded stretch
        // at a time, each stretch decoded forwards from its keyframe; a deep queue carries
        // the picture while the next stretch decodes.
        int queueCapacity = MemoryBudget::kForwardQueueMost;
        // Backwards the budget alone bounds it, unless this is smaller.
        int reverseQueueCapacity = std::numeric_limits<int>::max();
        // What the machine can spare, read once as each reverse play starts;
        // MachineMemory::read when empty.
        std::function<MachineMemory()> machineMemory = {};
    };

    // The source must outlive the player; audio may be null (silent picture).
    Player(FrameSource &source, AudioTrack *audio, std::shared_ptr<const ClockSource> clock,
        Options options);
    ~Player() override;

    Mode mode() const { return m_mode; }
    bool backward() const { return m_plan.backward; }
    bool repeating() const { return m_mode == Mode::Playing && m_plan.repeat; }
    int position() const { return m_position; }
    qint64 framesSkipped() const { return m_skipped; }
    // Why the last play stopped before its end (a frame it could not read, or its decoding
    // ran out of memory), told once: a new play or seek clears it too.
    enum class PlayFailure { None, Unreadable, OutOfMemory };
    PlayFailure takePlayFailure() { return std::exchange(m_failure, PlayFailure::None); }
    // Whether the play in progress waits for its decoder before its clock starts.
    bool prerolling() const { return m_mode == Mode::Playing && m_startPending; }
    double framesPerSecond() const { return m_fps; }
    int speed() const { return m_speed; }
    bool audioOn() const { return m_audioOn; }
    // Whether the sound's clock leads the picture right now.
    bool audioLeads() const { return m_audioLeads; }

    // The picture at position(), at source size; decoded here if nothing is held yet. Null
    // only when the frame cannot be decoded.
    const QImage &picture();

    // Show exactly this frame now, ending any play. False (and nothing changes but the end of
    // a play) when the frame cannot be decoded.
    bool seek(int position);
    // Start a play (replacing one in progress). The plan's positions must be valid.
    void play(const PlayPlan &plan);
    void pause();
    void stop();
    void setSpeed(int speed);
    void setAudioOn(bool on);

    // One presentation step: what the timer runs.
    void tick();
    // Tests: let the decode thread finish what it can do now.
    void waitForDecoder() { m_decoder.waitIdle(); }

    // Frames a play's queue holds, for pictures of this many bytes and pixels, on a machine
    // with nothing to spare (a reverse play grows it as it starts).
    static int queueCapacityFor(const Options &options, qint64 pictureBytes, qint64 pixels,
        bool backward, double framesPerSecond = 25.0);
    static int queueCapacityIn(const MemoryBudget &budget, const Options &options, bool backward);
    // Frames of a repeating range's head kept from its first lap.
    static int lapHeadFor(qint64 pictureBytes);
    // Whether `queued` frames, shown at `framesPerSecond`, carry the picture while the
    // decoder, at `decodeRate` frames a second, decodes the `runFrames` the frame after them
    // needs; with a margin, since the pace was measured before the pictures shown were
    // converted beside it. False while nothing was measured (a rate of 0).
    static bool prerollCarries(qint64 queued, double framesPerSecond, qint64 runFrames,
        double decodeRate);
    static constexpr double kPrerollMargin = 1.5;

signals:
    void pictureChanged();
    void modeChanged(Player::Mode mode);

private:
    // What leaving a play does to the frame cache's cap: back to the cap at rest, or kept as
    // it is (a play replacing a play, which sets its own).
    enum class CacheAfterPlay { Rest, Keep };
    void transition(Mode to, CacheAfterPlay cache = CacheAfterPlay::Rest);
    // Only a change: setting the cap waits for a decode the source is in.
    void setCacheCap(qint64 bytes);
    // For pictures of this source at the speed set; a reverse plan's grown as the machine
    // allows.
    MemoryBudget budget(const PlayPlan *reverse = nullptr);
    // Notes the keyframes from the top of a reverse plan down to the one at or below its
    // end; the most frames of the plan that one keyframe-bounded stretch holds.
    qint64 scanKeyframes(const PlayPlan &plan);
    // Frames a decode from its keyframe up to the frame of this ordinal takes.
    qint64 runFramesTo(qint64 ordinal) const;
    // Shows the frame; false when it cannot be read, which has ended the play.
    bool present(const DecodeAhead::Frame &frame);
    // Ends the pre-roll when the decoder is primed or the limit passed; whether it ended.
    bool prerollDone(SteadyTime now);
    // Periods of the file's time the play has gone through (laps included), speed applied.
    double progressAt(SteadyTime now);
    void startAudioIfDue(SteadyTime now);
    void stopAudio();
    double rate() const { return m_fps * m_speed / 1000.0; }

    FrameSource &m_source;
    AudioTrack *m_audio;
    std::shared_ptr<const ClockSource> m_clockSource;
    Options m_options;
    std::chrono::milliseconds m_prerollLimit{1000};
    std::vector<int> m_keyframes; // of a reverse play, from its top down
    qint64 m_cacheCapSet = -1;
    double m_fps = 25.0;
    PictureTimes m_times;

    Mode m_mode = Mode::Stopped;
    int m_position = 0;
    QImage m_picture;
    int m_speed = 1000;
    bool m_audioOn = true;

    PlayPlan m_plan;
    PlaybackClock m_clock;
    qint64 m_presented = -1; // ordinal on screen in the current play; -1 before the first
    qint64 m_skipped = 0;
    PlayFailure m_failure = PlayFailure::None;
    bool m_startPending = false; // pre-roll: the play's clock has not started yet
    SteadyTime m_playAsked{};    // when the play was asked for: the pre-roll's limit runs from it

    bool m_audioLeads = false;
    double m_audioAnchorProgress = 0.0; // progress when the sound started
    double m_audioAnchorSeconds = 0.0;  // media time the sound started from
    qint64 m_audioCycle = 0;            // repeat cycle the sound belongs to

    QTimer m_timer;
    DecodeAhead m_decoder; // last: its thread stops before anything it uses goes
};

} // namespace video
