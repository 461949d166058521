#pragma once

#include "platform/video/OpenError.h"

#include <QString>
#include <memory>
#include <optional>

namespace video {

// A file's sound, played forwards from a time at a speed, with the clock the picture follows
// while it plays.
//
// Decoding and time-stretching run on a thread of their own; output goes to the default
// audio device through Qt Multimedia, or, where there is none (CI, headless), to a silent
// stand-in that consumes the samples at the real-time rate so the clock still runs.
// Control calls come from one thread (the device's user-interface thread); clockSeconds() may
// also be asked from any other thread.
//
// Threads while started: the decoding thread, and either the sound device's thread (a
// QThread with its own event loop holding the QAudioSink, so a busy user-interface thread
// does not make the sound stutter) or the stand-in's thread. stop() ends and joins them all.
//
// The clock: what the listener hears now, so it waits out the device's latency (with
// PulseAudio about 0.1 to 0.3 s between start() and the clock moving) and stands still while
// the device starves. It is smoothed (no steps at buffer boundaries) and never goes back.
// When the sound has ended (or a start lies past its end) it runs on at the speed in real
// time, so the picture can carry on to its own end.
class AudioTrack {
public:
    virtual ~AudioTrack() = default;

    // Start hearing the file from this media time (seconds) at this speed (thousandths of
    // normal). The pitch is kept from 250 to 3000; outside that the track stays silent and
    // start() returns false (the picture then keeps its own clock). Stops what was playing
    // first, so a change of speed or position is a new start() at clockSeconds(). Returns
    // once about 0.3 s of sound is ready (a few milliseconds; at most 0.4 s).
    virtual bool start(double fromSeconds, int speed) = 0;
    // Stop at once; nothing is left playing.
    virtual void stop() = 0;
    // Muted: samples still flow (so the clock runs) but nothing is heard. Takes effect at once
    // for what is handed to the device; what it already holds (its latency) still sounds.
    // Kept across starts.
    virtual void setMuted(bool muted) = 0;
    // The media time, in seconds, of what is being heard now; nullopt unless started.
    virtual std::optional<double> clockSeconds() const = 0;
    // Whether a real output device is in use: true only while started on one (false for the
    // silent stand-in and when stopped).
    virtual bool audible() const = 0;
};

// The file's first decodable audio stream (in a file of several programmes, of the programme
// whose video stream has the id `videoStreamId`), or nullptr (with the reason in *error) when
// it has none or it cannot be decoded: the device then plays its picture silently.
std::unique_ptr<AudioTrack> openAudioTrack(const QString &path, OpenError *error,
    int videoStreamId = -1);

// Tests and CI: force the silent stand-in even where a sound device exists.
void setSilentAudioOnly(bool silent);

} // namespace video
