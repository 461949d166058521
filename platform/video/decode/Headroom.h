#pragma once

#include <QtGlobal>

namespace video {

// Whether less than `margin` bytes of address space are left under the process's limit
// (ulimit -v); never without a limit. libavcodec's own error paths do not all survive an
// allocation failing inside the decoder (with frame threads, an assertion ends the program),
// so a run stops short of that, between two packets, and reports the memory as gone.
bool addressSpaceNearlyFull(qint64 margin);

} // namespace video
