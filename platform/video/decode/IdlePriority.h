#pragma once

namespace video {

// Puts the calling thread at idle priority (SCHED_IDLE, else nice 19 for this thread alone):
// it then runs only on time no other thread wants.
void lowerToIdlePriority();

} // namespace video
