// What the platform says about memory: the machine's physical memory and the
// process's resident set, so that a long run can stop with an error before
// the machine starts swapping.
#pragma once

#include <cstdint>

namespace ts {

// Bytes of physical memory; 0 when the platform does not say.
int64_t PhysicalMemoryBytes();

// Bytes of this process's memory resident now; -1 when the platform does not
// say. Cheap enough to ask every few thousand allocations, not on each one.
int64_t ResidentBytes();

}  // namespace ts
