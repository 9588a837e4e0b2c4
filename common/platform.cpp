#include "common/platform.h"

#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

uint64_t platform_physical_memory_bytes() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

int platform_hardware_threads() {
  unsigned n = std::thread::hardware_concurrency();
  if (n == 0) {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    n = online > 0 ? static_cast<unsigned>(online) : 1;
  }
  return static_cast<int>(n);
}

uint64_t platform_steady_clock_ns() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

void platform_wall_clock(int64_t *seconds, int64_t *microseconds) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  *seconds = tv.tv_sec;
  *microseconds = tv.tv_usec;
}
