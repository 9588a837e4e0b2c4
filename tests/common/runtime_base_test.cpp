// Exit helper, fail-fast allocation, worker counts, memory size and clocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "common/clock.h"
#include "common/cpus.h"
#include "common/memory.h"
#include "common/platform.h"
#include "common/ryx_exit.h"

namespace {

TEST(Allocation, ZeroSizesNeverEndTheProcess) {
  void *p = ryx_malloc(0);
  p = ryx_free(p);
  EXPECT_EQ(p, nullptr);
  void *q = ryx_malloc(16);
  q = ryx_realloc(q, 0);  // may free and return null: no exit either way
  ryx_free(q);
  ryx_malloc_check(nullptr, 0);
  EXPECT_EQ(ryx_free(nullptr), nullptr);
}

TEST(Allocation, CallocZeroesAndReallocKeepsContents) {
  auto *p = static_cast<unsigned char *>(ryx_calloc(4096));
  for (int i = 0; i < 4096; i++) ASSERT_EQ(p[i], 0) << i;
  for (int i = 0; i < 4096; i++) p[i] = static_cast<unsigned char>(i);
  p = static_cast<unsigned char *>(ryx_realloc(p, 1 << 20));
  for (int i = 0; i < 4096; i++) ASSERT_EQ(p[i], static_cast<unsigned char>(i)) << i;
  ryx_free(p);
}

TEST(AllocationDeath, FailureEndsWithStatus69AndTheSize) {
  const size_t huge = SIZE_MAX - 4095;
  // The sanitizer build may print its own warning first; the message ends the output.
  const std::string expected = "Out of memory allocating " + std::to_string(huge) + " bytes\\.\n$";
  EXPECT_EXIT(ryx_malloc(huge), testing::ExitedWithCode(69), expected);
  EXPECT_EXIT(ryx_calloc(huge), testing::ExitedWithCode(69), expected);
  EXPECT_EXIT(ryx_realloc(nullptr, huge), testing::ExitedWithCode(69), expected);
  EXPECT_EXIT(ryx_malloc_check(nullptr, 7), testing::ExitedWithCode(69),
              "Out of memory allocating 7 bytes\\.\n$");
}

// The leak flag is observed from an atexit handler, as a leak checker would.
void report_leak_flag() { fprintf(stderr, "flag=%d\n", __lsan_is_turned_off()); }

// A normal exit runs the exit handlers with the leak flag clear; a failed
// one ends at once, without them (other threads may still be running), and
// still delivers what was written to the standard streams.
TEST(ExitDeath, NormalExitRunsHandlersFailedExitEndsAtOnce) {
  EXPECT_EXIT(
      {
        atexit(report_leak_flag);
        ryx_exit(0);
      },
      testing::ExitedWithCode(0), "^flag=0\n$");
  EXPECT_EXIT(
      {
        atexit(report_leak_flag);
        setvbuf(stderr, nullptr, _IOFBF, 1024);
        fputs("buffered", stderr);
        ryx_exit(2);
      },
      testing::ExitedWithCode(2), "^buffered$");
  EXPECT_EXIT(ryx_exit(74), testing::ExitedWithCode(74), "");
}

// Only the first exit decides the status, even when a second thread fails
// with another status at the same time.
TEST(ExitDeath, FirstExitDecides) {
  EXPECT_EXIT(
      {
        std::thread other([] {
          usleep(100000);
          ryx_exit(5);
        });
        ryx_exit(4);
      },
      testing::ExitedWithCode(4), "");
}

// Every case sets both counts and puts them back, so no case depends on
// another's leftovers.
struct CpuCase {
  int requested;
  int maximum;
  int expected;  // -1: the hardware thread count
};

TEST(Cpus, RequestedCountAndCap) {
  const int hw = get_system_number_of_cpus();
  ASSERT_GE(hw, 1);
  const CpuCase cases[] = {
      {0, 0, -1}, {-3, 0, -1}, {8, 4, 4}, {8, 16, 8}, {8, 0, 8}, {8, -1, 8}, {1, 0, 1},
  };
  for (const CpuCase &c : cases) {
    set_number_of_cpus(c.requested);
    set_max_number_of_cpus(c.maximum);
    EXPECT_EQ(get_max_number_of_cpus(), c.maximum);
    EXPECT_EQ(get_number_of_cpus(), c.expected < 0 ? hw : c.expected)
        << "requested " << c.requested << " max " << c.maximum;
  }
  set_number_of_cpus(0);
  set_max_number_of_cpus(0);
}

TEST(Cpus, HardwareCapAppliesToTheHardwareCount) {
  set_number_of_cpus(0);
  set_max_number_of_cpus(1);
  EXPECT_EQ(get_number_of_cpus(), 1);
  set_max_number_of_cpus(0);
}

// The physical memory size agrees with the kernel's own MemTotal line.
TEST(Memory, PhysicalMemoryMatchesTheKernelTotal) {
  std::ifstream in("/proc/meminfo");
  std::string line;
  long long kb = -1;
  while (std::getline(in, line)) {
    if (line.rfind("MemTotal:", 0) == 0) {
      std::istringstream(line.substr(9)) >> kb;
      break;
    }
  }
  ASSERT_GT(kb, 0);
  EXPECT_EQ(get_phys_mem_size_mb(), kb / 1024);
  EXPECT_EQ(get_memory_usage_kb(), 0);
}

TEST(Clock, ThirtyTwoBitClockIsTheLowBitsOfTheWideOne) {
  int64_t wide = time_get_usec();
  uint32_t narrow = time_get_usec32();
  // The two readings are microseconds apart; compare modulo 2^32.
  uint32_t diff = narrow - static_cast<uint32_t>(wide);
  EXPECT_LT(diff, 5000000u);
  EXPECT_GT(wide, INT64_C(1600000000) * 1000000);  // after 2020
  int64_t before = time_get_usec();
  time_sleep_ms(20);
  EXPECT_GE(time_get_usec() - before, 19000);
}

TEST(Platform, SteadyClockAdvances) {
  uint64_t a = platform_steady_clock_ns();
  time_sleep_ms(2);
  uint64_t b = platform_steady_clock_ns();
  EXPECT_GE(b - a, 1000000u);
  EXPECT_GE(platform_hardware_threads(), 1);
}

}  // namespace
