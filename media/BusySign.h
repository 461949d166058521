#pragma once

#include <chrono>
#include <functional>

// The busy sign: while a command to the device takes longer than a moment (a step across a
// long run of pictures without a keyframe, a reverse play's first pictures, a file being
// indexed), the busy cursor shows over every window of the program, and goes the moment the
// command ends. A command that ends within the moment shows nothing, so quick steps and the
// poll never flicker.
//
// The command blocks the user-interface thread, so no timer of it can fire meanwhile: a helper
// thread watches the clock and shows the sign through the window system's own connection,
// which may be used from any thread (X11). Elsewhere nothing is shown.
namespace BusySign {

constexpr std::chrono::milliseconds kDelay{300};

// One command under way, from construction to destruction, on the user-interface thread.
// Commands run inside another one's event loop (an open that indexes) count as the outer one.
class Command {
public:
    Command();
    ~Command();
    Command(const Command &) = delete;
    Command &operator=(const Command &) = delete;
};

// Tests: what shows (true, called on the helper thread) and hides (false, on the
// user-interface thread) the sign; an empty function brings the real one back.
void setIndicator(std::function<void(bool busy)> indicator);

} // namespace BusySign
