#include "denovo/reads/table_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr uintptr_t kLargePage = uintptr_t{1} << 21;
// Below two large pages at least one would be lost to the rounding.
constexpr size_t kSmallestAdvised = size_t{1} << 22;

}  // namespace

void table_memory_advise_large_pages(void *p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (p == nullptr || bytes < kSmallestAdvised) return;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(p) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kLargePage - 1);
  if (end <= start) return;
  // Only a hint: a system without large pages refuses it and the table
  // works the same on small ones.
  (void)madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}
