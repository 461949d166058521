#pragma once

namespace video {

// While one lives, what FFmpeg logs on this thread is dropped; other threads' messages go
// out as ever. The hook that makes it so is set before main(), while no other thread can be
// logging.
class QuietHere {
public:
    QuietHere();
    ~QuietHere();
    QuietHere(const QuietHere &) = delete;
    QuietHere &operator=(const QuietHere &) = delete;
};

} // namespace video
