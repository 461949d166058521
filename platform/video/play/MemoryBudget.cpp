#include "platform/video/play/MemoryBudget.h"

#include "platform/video/AddressSpace.h"

#include <cstdio>
#include <string>

namespace video {

namespace {

// The first number in a file; -1 when there is none ("max", or no such file).
qint64 numberIn(const std::string &path)
{
    qint64 value = -1;
    if (std::FILE *file = std::fopen(path.c_str(), "r")) {
        long long read = 0;
        if (std::fscanf(file, "%lld", &read) == 1)
            value = read;
        std::fclose(file);
    }
    return value;
}

// What the process's control group still lets it have, where it is held to less than the
// machine (a container): MemAvailable counts the whole machine's. -1 without a limit.
qint64 controlGroupLeft()
{
    std::FILE *groups = std::fopen("/proc/self/cgroup", "r");
    if (!groups)
        return -1;
    qint64 left = -1;
    char line[1024];
    while (std::fgets(line, sizeof line, groups)) {
        std::string entry(line);
        if (!entry.empty() && entry.back() == '\n')
            entry.pop_back();
        const std::size_t first = entry.find(':');
        const std::size_t second = entry.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        const std::string controllers = entry.substr(first + 1, second - first - 1);
        const std::string path = entry.substr(second + 1);
        qint64 limit = -1;
        qint64 usage = -1;
        if (controllers.empty()) { // the unified hierarchy
            limit = numberIn("/sys/fs/cgroup" + path + "/memory.max");
            usage = numberIn("/sys/fs/cgroup" + path + "/memory.current");
        } else if (controllers == "memory") {
            limit = numberIn("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes");
            usage = numberIn("/sys/fs/cgroup/memory" + path + "/memory.usage_in_bytes");
        }
        // An unlimited group of the first kind reads as a number near 2^63.
        if (limit >= 0 && usage >= 0 && limit < (qint64(1) << 50)) {
            const qint64 here = std::max<qint64>(0, limit - usage);
            left = left < 0 ? here : std::min(left, here);
        }
    }
    std::fclose(groups);
    return left;
}

} // namespace

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
    if (const qint64 group = controlGroupLeft(); group >= 0)
        m.available = std::min(m.available, group);
    // Under a limit whose use cannot be read, nothing is left to grow into.
    if (const AddressSpace space = AddressSpace::now(); space.limited)
        m.addressSpaceLeft = space.left.value_or(0);
    return m;
}

} // namespace video
