// Heap set-up for a process that builds a large document in memory.
#pragma once

#include <cstddef>

namespace kp {

// Lets the heap grow by `bytes` at once and asks the system to back that
// room with transparent huge pages, so that a process filling it takes one
// page fault per 2 MiB instead of one per 4 KiB. Only address space is
// taken: memory is used as the heap fills. Once per process; does nothing
// where the C library or the system has no such means (or under a
// sanitizer, which brings its own allocator).
void ReserveHugePageHeap(size_t bytes);

}  // namespace kp
