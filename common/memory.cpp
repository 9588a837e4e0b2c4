#include "common/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/platform.h"
#include "common/ryx_exit.h"

namespace {
constexpr int64_t kFallbackMemoryMb = 4096;
}

extern "C" void ryx_malloc_check(const void *p, size_t size) {
  if (p == nullptr && size != 0) {
    fprintf(stderr, "Out of memory allocating %zu bytes.\n", size);
    ryx_exit(69);
  }
}

extern "C" void *ryx_malloc(size_t size) {
  void *p = malloc(size);
  ryx_malloc_check(p, size);
  return p;
}

extern "C" void *ryx_calloc(size_t size) {
  void *p = malloc(size);
  ryx_malloc_check(p, size);
  if (p != nullptr) memset(p, 0, size);
  return p;
}

extern "C" void *ryx_realloc(void *p, size_t size) {
  void *q = realloc(p, size);
  ryx_malloc_check(q, size);
  return q;
}

extern "C" void *ryx_free(void *p) {
  free(p);
  return nullptr;
}

extern "C" int64_t get_phys_mem_size_mb(void) {
  uint64_t bytes = platform_physical_memory_bytes();
  if (bytes == 0) return kFallbackMemoryMb;
  return static_cast<int64_t>(bytes >> 20);
}

extern "C" int64_t get_memory_usage_kb(void) { return 0; }
