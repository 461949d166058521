#pragma once

#include "platform/video/audio/AudioClock.h"

namespace video::audio {

class SampleQueue;

// Where the decoded samples go: a sound device, or the silent stand-in. An output takes
// frames from its queue at the real-time rate on a thread of its own, and says how far the
// listener has got.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Begins taking samples; false when the output cannot play (nothing is left running).
    virtual bool start() = 0;
    // Stops at once; harmless when not started or already stopped.
    virtual void stop() = 0;
    // Samples still flow, but as silence.
    virtual void setMuted(bool muted) = 0;
    // Thread-safe.
    virtual OutputPosition position() const = 0;
    virtual bool audible() const = 0;
};

} // namespace video::audio
