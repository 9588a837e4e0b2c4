// Replaces the global operator new and delete of the mapper test program
// with counting ones over malloc and free.
#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> g_news{0};
}

// The replacements pair malloc with free, which is all they must match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void *operator new(size_t n) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  void *p = malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void *operator new[](size_t n) { return operator new(n); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }

uint64_t ryx_test::allocation_count() { return g_news.load(std::memory_order_relaxed); }
