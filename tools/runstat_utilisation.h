// Resource use of the command that ryx_runstat runs: run time, processor
// time of the finished children and samples of the memory still available
// on the machine; and the processor features shown in the run log.
#pragma once

#include <cstdint>

class UtilisationReporter {
 public:
  // Starts the clock for the child pid, records the processor time that
  // finished children have used so far and takes a first memory sample.
  explicit UtilisationReporter(int pid);

  // Takes one sample of the available memory; a sample the system cannot
  // give changes nothing but the sample count.
  void update();

  // Microseconds since the reporter was created.
  uint64_t get_time_passed() const;

  // Records the processor time of the finished children at the end (kept
  // as it was when the system cannot tell).
  void complete();

  int get_pid() const { return pid_; }
  uint64_t get_sample_count() const { return sample_count_; }
  // Available memory in MiB: the highest and lowest sample and the last
  // one. Lowest stays at all bits set and the others at 0 while no sample
  // succeeded.
  uint64_t get_memory_high_mb() const { return memory_high_mb_; }
  uint64_t get_memory_low_mb() const { return memory_low_mb_; }
  uint64_t get_memory_last_mb() const { return memory_last_mb_; }
  // Processor time of the children between creation and complete(), in
  // microseconds, in user and in system mode.
  uint64_t get_user_time_us() const { return user_end_us_ - user_start_us_; }
  uint64_t get_system_time_us() const { return system_end_us_ - system_start_us_; }

 private:
  int32_t pid_;
  uint64_t start_us_;
  uint64_t user_start_us_ = 0;
  uint64_t system_start_us_ = 0;
  uint64_t user_end_us_ = 0;
  uint64_t system_end_us_ = 0;
  uint64_t sample_count_ = 0;
  uint64_t memory_low_mb_ = UINT64_MAX;
  uint64_t memory_high_mb_ = 0;
  uint64_t memory_last_mb_ = 0;
};

// Processor features: ECX of identification leaf 1 in the low 32 bits and
// EBX of leaf 7, subleaf 0, in the high 32 bits; a leaf the processor does
// not have contributes zeros.
uint64_t get_cpu_features();

// True when every bit of mask is set in get_cpu_features().
bool has_cpu_features(uint64_t mask);

// Feature masks in the layout of get_cpu_features().
constexpr uint64_t kCpuFeatureSsse3 = uint64_t{1} << 9;
constexpr uint64_t kCpuFeatureSse41 = uint64_t{1} << 19;
constexpr uint64_t kCpuFeatureSse42 = uint64_t{1} << 20;
constexpr uint64_t kCpuFeaturePopcnt = uint64_t{1} << 23;
constexpr uint64_t kCpuFeatureAvx2 = uint64_t{1} << 37;  // leaf 7 EBX bit 5
