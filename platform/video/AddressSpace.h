#pragma once

#include <QtGlobal>

#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace video {

// The process's address-space limit (ulimit -v) and what is left under it.
struct AddressSpace {
    bool limited = false;
    std::optional<qint64> left; // none where the address space in use cannot be read

    static AddressSpace now()
    {
        AddressSpace a;
        rlimit limit{};
        if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return a;
        a.limited = true;
        // The first field of statm is the address space in use, in pages.
        if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
            unsigned long long pages = 0;
            if (std::fscanf(statm, "%llu", &pages) == 1) {
                const qint64 used = qint64(pages) * qint64(sysconf(_SC_PAGESIZE));
                a.left = std::max<qint64>(0, qint64(limit.rlim_cur) - used);
            }
            std::fclose(statm);
        }
        return a;
    }
};

} // namespace video
