#include "base/heap.h"

#include <cstdint>
#include <algorithm>
#include <cstdlib>

#if defined(__GLIBC__) && defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define KP_HUGE_PAGE_HEAP 1
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#else
#define KP_HUGE_PAGE_HEAP 0
#endif

namespace kp {

void ReserveHugePageHeap(size_t bytes) {
#if KP_HUGE_PAGE_HEAP
  static bool done = false;
  if (done || bytes == 0) return;
  done = true;
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  // Blocks up to 32 MiB from the heap itself; the heap grows by `bytes`
  // beyond what a growth needs and does not give its top back.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TOP_PAD, int(std::min<size_t>(bytes, size_t(1) << 30)));
  mallopt(M_TRIM_THRESHOLD, int(std::min<size_t>(2 * bytes, size_t(1) << 30)));
  const uintptr_t before = reinterpret_cast<uintptr_t>(sbrk(0));
  void* volatile grow = std::malloc(1 << 20);  // more than the top holds: the heap grows
  std::free(grow);
  const uintptr_t after = reinterpret_cast<uintptr_t>(sbrk(0));
  const uintptr_t start = (before + kHuge - 1) & ~(kHuge - 1), end = after & ~(kHuge - 1);
  if (after == uintptr_t(-1) || before == uintptr_t(-1) || end <= start) return;
  madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // a hint: failure changes nothing
#else
  (void)bytes;
#endif
}

}  // namespace kp
