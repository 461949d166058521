#pragma once

#include "platform/mci/Result.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace mci {

// The interface a device type implements. The interpreter parses and checks the text; a
// device receives typed requests with numbers already in range of a signed 32-bit integer,
// in the device's current time format. Every call comes on the user-interface thread.

enum class TimeFormat { Frames, Milliseconds };

enum class StatusItem {
    Length,
    Position,
    Mode,          // "not ready", "stopped", "playing", "paused", "seeking"
    FrameRate,     // frames per second times 1000, a whole number
    Speed,
    TimeFormat,    // "frames" or "milliseconds"
    Audio,         // "on" or "off"
    FramesSkipped, // frames skipped to keep time in the current or last play
};

struct PlayRequest {
    std::optional<qint32> from;
    std::optional<qint32> to;
    bool reverse = false;
    bool repeat = false;
};

struct SeekRequest {
    enum class Kind { To, Start, End };
    Kind kind = Kind::To;
    qint32 position = 0; // for Kind::To
};

struct Rect {
    qint32 left = 0;
    qint32 top = 0;
    qint32 width = 0;
    qint32 height = 0;
};

class Device {
public:
    virtual ~Device() = default;

    // Whether the device can play what it opened (a decodable video stream with frames).
    virtual bool canPlay() const = 0;

    virtual Result play(const PlayRequest &request) = 0;
    virtual Result pause() = 0;
    virtual Result stop() = 0;
    virtual Result seek(const SeekRequest &request) = 0;
    virtual Result status(StatusItem item) = 0;
    virtual Result setTimeFormat(TimeFormat format) = 0;
    virtual Result setSpeed(qint32 speed) = 0;
    virtual Result setAudio(bool on) = 0;
    // "0 0 W H": the source rectangle.
    virtual Result whereSource() = 0;
    // Place the device window: screen pixels, the height including the title allowance.
    virtual Result putWindow(const Rect &rect) = 0;
    // Draw the current frame into a registered drawing surface, clipped to rect.
    virtual Result update(const Rect &rect, QImage &surface) = 0;
    // Write the current frame at source size as a 24-bit BMP file.
    virtual Result capture(const QString &path) = 0;
    // Return when the current play has ended (at once when nothing plays), running the
    // event loop meanwhile. Used by the "wait" flag.
    virtual void waitForPlayEnd() = 0;
    // What went wrong since the last command on its own, as a play that stopped at a frame
    // it could not read or ran out of memory: answered once, by the next command to the
    // device or by the wait for that play, instead of what the command would have done.
    virtual Result takeFailure() { return Result::success(); }
};

// Opens PATH as a device of one type. On failure returns nullptr and sets error.
using DeviceFactory =
    std::function<std::unique_ptr<Device>(const QString &path, QString *error)>;

} // namespace mci
