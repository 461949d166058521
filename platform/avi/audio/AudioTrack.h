#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace avi {

// A file's sound, played forwards from a time at a speed, with the clock the picture follows
// while it plays.
//
// Decoding and time-stretching run on a thread of their own; output goes to the default
// audio device through Qt Multimedia, or, where there is none (CI, headless), to a silent
// stand-in that consumes the samples at the real-time rate so the clock still runs.
// Control calls come from one thread (the device's user-interface thread).
class AudioTrack {
public:
    virtual ~AudioTrack() = default;

    // Start hearing the file from this media time (seconds) at this speed (thousandths of
    // normal). The pitch is kept from 250 to 3000; outside that the track stays silent and
    // start() returns false (the picture then keeps its own clock).
    virtual bool start(double fromSeconds, int speed) = 0;
    // Stop at once; nothing is left playing.
    virtual void stop() = 0;
    // Muted: samples still flow (so the clock runs) but nothing is heard. Takes effect at once.
    virtual void setMuted(bool muted) = 0;
    // The media time, in seconds, of what is being heard now; nullopt unless started.
    virtual std::optional<double> clockSeconds() const = 0;
    // Whether a real output device is in use (false for the silent stand-in).
    virtual bool audible() const = 0;
};

// The file's first decodable audio stream, or nullptr (with the reason in *error) when it has
// none or it cannot be decoded: the device then plays its picture silently.
std::unique_ptr<AudioTrack> openAudioTrack(const QString &path, QString *error);

// Tests and CI: force the silent stand-in even where a sound device exists.
void setSilentAudioOnly(bool silent);

} // namespace avi
