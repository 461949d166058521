#include "platform/video/decode/Headroom.h"

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace video {

bool addressSpaceNearlyFull(qint64 margin)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    // The first field of statm is the address space in use, in pages.
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return false;
    unsigned long long pages = 0;
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    if (!read)
        return false;
    const qint64 used = qint64(pages) * qint64(sysconf(_SC_PAGESIZE));
    return qint64(limit.rlim_cur) - used < margin;
}

} // namespace video
