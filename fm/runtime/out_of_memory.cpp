#include "fm/runtime/out_of_memory.h"

#include <pthread.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "common/ryx_exit.h"

namespace {
// glibc's default when the stack limit is unlimited; used only when the
// attributes cannot be read.
constexpr size_t kFallbackStackSize = size_t{8} << 20;
}  // namespace

void OutOfMemory::fail(size_t bytes) {
  fprintf(stderr, "Out of memory allocating %zu bytes.\n", bytes);
  ryx_exit(69);
}

size_t OutOfMemory::thread_stack_size() {
  pthread_attr_t attributes;
  size_t size = 0;
  if (pthread_attr_init(&attributes) != 0) return kFallbackStackSize;
  if (pthread_attr_getstacksize(&attributes, &size) != 0 || size == 0) size = kFallbackStackSize;
  pthread_attr_destroy(&attributes);
  return size;
}

void *OutOfMemory::allocate(size_t bytes, size_t alignment) {
  const size_t n = bytes == 0 ? 1 : bytes;
  void *p = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    p = malloc(n);
  } else if (posix_memalign(&p, alignment, n) != 0) {
    p = nullptr;
  }
  if (p == nullptr) fail(bytes);
  return p;
}
