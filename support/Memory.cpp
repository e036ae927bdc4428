#include "support/Memory.h"

#include <unistd.h>

#include <cstdio>

namespace ts {

int64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<int64_t>(pages) * size : 0;
}

int64_t ResidentBytes() {
    // The second field of statm is the resident set, in pages.
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long long total = 0, resident = 0;
    const int read = std::fscanf(f, "%lld %lld", &total, &resident);
    std::fclose(f);
    const long size = sysconf(_SC_PAGESIZE);
    return read == 2 && size > 0 ? static_cast<int64_t>(resident) * size : -1;
}

}  // namespace ts
