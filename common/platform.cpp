#include "common/platform.h"

#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
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

uint64_t platform_page_size() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<uint64_t>(size) : 0;
}

// The kernel's own estimate of memory available for new work (free pages
// plus reclaimable caches) is the "MemAvailable" line of /proc/meminfo, in
// KiB. Plain free memory is near zero on a machine that has read much,
// because the page cache fills it, so it would say little about a run.
bool platform_available_memory_pages(uint64_t *pages) {
  uint64_t page_size = platform_page_size();
  if (page_size == 0) return false;
  FILE *in = fopen("/proc/meminfo", "r");
  if (in == nullptr) return false;
  char line[256];
  bool found = false;
  unsigned long long kib = 0;
  while (fgets(line, sizeof line, in) != nullptr) {
    if (strncmp(line, "MemAvailable:", 13) == 0) {
      found = sscanf(line + 13, "%llu", &kib) == 1;
      break;
    }
  }
  fclose(in);
  if (!found) return false;
  *pages = static_cast<uint64_t>(kib) * 1024 / page_size;
  return true;
}

bool platform_free_disk_bytes(const char *path, uint64_t *bytes) {
  struct statvfs fs;
  if (path == nullptr || statvfs(path, &fs) != 0) return false;
  // f_bavail excludes the blocks reserved for the superuser; f_frsize is
  // the unit the block counts are given in.
  *bytes = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
  return true;
}

bool platform_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
#if defined(__x86_64__) || defined(__i386__)
  // Leaves above the highest one the processor reports return the data of
  // that highest leaf on some processors instead of zeros, so the maximum
  // of the leaf's range (basic or extended) is checked first.
  unsigned int highest = __get_cpuid_max(leaf & 0x80000000u, nullptr);
  if (highest == 0 || leaf > highest) return false;
  unsigned int a, b, c, d;
  __cpuid_count(leaf, subleaf, a, b, c, d);
  regs[0] = a;
  regs[1] = b;
  regs[2] = c;
  regs[3] = d;
  return true;
#else
  (void)leaf;
  (void)subleaf;
  (void)regs;
  return false;
#endif
}

const char *platform_name() {
#if defined(__x86_64__)
  return "Linux x86-64";
#elif defined(__aarch64__)
  return "Linux arm64";
#else
  return "Linux";
#endif
}
