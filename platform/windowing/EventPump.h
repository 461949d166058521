#pragma once

#include <functional>

namespace windowing {

// Process every pending window event once, from inside a handler. Clicks, timer ticks and
// repaints run to their end nested inside the caller.
void doEvents();

// Tests: run this instead of the real pump (to press a button at the third turn, say);
// an empty function brings the real pump back.
void setEventPump(std::function<void()> pump);

} // namespace windowing
