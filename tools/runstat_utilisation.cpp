#include "tools/runstat_utilisation.h"

#include <sys/resource.h>
#include <sys/time.h>

#include "common/platform.h"

namespace {

// Page size assumed when the system does not report one.
constexpr uint64_t kFallbackPageSize = 4096;

uint64_t now_us() { return platform_steady_clock_ns() / 1000; }

uint64_t timeval_us(const struct timeval &tv) {
  return static_cast<uint64_t>(tv.tv_sec) * 1000000 + static_cast<uint64_t>(tv.tv_usec);
}

// Processor time of all children that have ended and been waited for.
bool children_times(uint64_t *user_us, uint64_t *system_us) {
  struct rusage usage;
  if (getrusage(RUSAGE_CHILDREN, &usage) != 0) return false;
  *user_us = timeval_us(usage.ru_utime);
  *system_us = timeval_us(usage.ru_stime);
  return true;
}

}  // namespace

UtilisationReporter::UtilisationReporter(int pid) : pid_(pid), start_us_(now_us()) {
  children_times(&user_start_us_, &system_start_us_);
  user_end_us_ = user_start_us_;
  system_end_us_ = system_start_us_;
  update();
}

void UtilisationReporter::update() {
  sample_count_++;
  uint64_t page_size = platform_page_size();
  if (page_size == 0) page_size = kFallbackPageSize;
  uint64_t pages;
  if (!platform_available_memory_pages(&pages)) return;
  memory_last_mb_ = (pages * page_size) >> 20;
  if (memory_last_mb_ > memory_high_mb_) memory_high_mb_ = memory_last_mb_;
  if (memory_last_mb_ < memory_low_mb_) memory_low_mb_ = memory_last_mb_;
}

uint64_t UtilisationReporter::get_time_passed() const { return now_us() - start_us_; }

void UtilisationReporter::complete() { children_times(&user_end_us_, &system_end_us_); }

uint64_t get_cpu_features() {
  uint32_t regs[4];
  uint64_t features = 0;
  if (platform_cpuid(1, 0, regs)) features |= regs[2];
  if (platform_cpuid(7, 0, regs)) features |= static_cast<uint64_t>(regs[1]) << 32;
  return features;
}

bool has_cpu_features(uint64_t mask) { return (get_cpu_features() & mask) == mask; }
