#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/audio/AudioTrack.h"

#include <QString>

#include <memory>

namespace video {

// How the player decodes: DecodeOptions' defaults, with the index cache of the user's cache
// folder.
DecodeOptions playerOptions();

// Opens a video file as openFrameSource does, but on a thread of its own: the scan of a long
// file (MKV without cues, MPEG-TS, fragmented MP4) takes seconds, and the caller waits a
// moment on the spot, then with its event loop running until the file is open, so that a
// panel repaints and answers its timers meanwhile. User input waits, so nothing clicked can
// start a second open or use a half-made device. Quitting the application gives the open up.
// The player's: picture indexes kept in the user's cache folder.
std::unique_ptr<FrameSource> openKeepingEventsAlive(const QString &path, OpenError *error,
    const DecodeOptions &options = playerOptions());

// The sound of an opened video; none, without a look at the file, where the video's open
// found no sound stream in it: the sound's own open probes the file again, which decodes
// the first pictures of an H.264 stream (10 to 20 ms at 1080p).
std::unique_ptr<AudioTrack> openSoundOf(const QString &path, const FrameSource &source,
    OpenError *error);

// openFrameSource on the calling thread, with the reason in words (tests, benches).
std::unique_ptr<FrameSource> openFrameSource(const QString &path, QString *error,
    const DecodeOptions &options = {});

struct OpenHold {
    int holdMs = 250; // how long the caller may be held before its event loop runs
};
OpenHold &openHold(); // tests set it to 0 to see the event loop run

} // namespace video
