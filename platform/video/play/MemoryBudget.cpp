#include "platform/video/play/MemoryBudget.h"

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace video {

MachineMemory MachineMemory::read()
{
    MachineMemory m;
    if (std::FILE *meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, meminfo)) {
            unsigned long long kib = 0;
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                m.available = qint64(kib) * 1024;
                break;
            }
        }
        std::fclose(meminfo);
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return m;
    // Under a limit whose use cannot be read, nothing is left to grow into.
    m.addressSpaceLeft = 0;
    if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
        unsigned long long pages = 0;
        if (std::fscanf(statm, "%llu", &pages) == 1) {
            const qint64 used = qint64(pages) * qint64(sysconf(_SC_PAGESIZE));
            m.addressSpaceLeft = std::max<qint64>(0, qint64(limit.rlim_cur) - used);
        }
        std::fclose(statm);
    }
    return m;
}

} // namespace video
