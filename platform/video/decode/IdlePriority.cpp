#include "platform/video/decode/IdlePriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace video {

void lowerToIdlePriority()
{
    sched_param idle{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle) != 0)
        setpriority(PRIO_PROCESS, 0, 19); // this thread only, on Linux
}

} // namespace video
