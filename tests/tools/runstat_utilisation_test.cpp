// Memory samples, processor time and processor features of ryx_runstat.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/platform.h"
#include "tools/runstat_command.h"
#include "tools/runstat_utilisation.h"

namespace {

TEST(UtilisationReporter, SamplesKeepHighLastAndLowInOrder) {
  UtilisationReporter reporter(1234);
  EXPECT_EQ(reporter.get_pid(), 1234);
  EXPECT_EQ(reporter.get_sample_count(), 1u);
  // One sample: all three agree.
  EXPECT_EQ(reporter.get_memory_high_mb(), reporter.get_memory_last_mb());
  EXPECT_EQ(reporter.get_memory_low_mb(), reporter.get_memory_last_mb());
  EXPECT_GT(reporter.get_memory_last_mb(), 0u);
  EXPECT_LE(reporter.get_memory_high_mb(), platform_physical_memory_bytes() >> 20);
  for (int i = 0; i < 5; i++) reporter.update();
  EXPECT_EQ(reporter.get_sample_count(), 6u);
  EXPECT_GE(reporter.get_memory_high_mb(), reporter.get_memory_last_mb());
  EXPECT_GE(reporter.get_memory_last_mb(), reporter.get_memory_low_mb());
}

TEST(UtilisationReporter, ProcessorTimeOfTheWaitedChildOnly) {
  // A child that burns processor time in user mode for about 0.3 s.
  SystemCommand command;
  char *argv[] = {const_cast<char *>("/bin/sh"), const_cast<char *>("-c"),
                  const_cast<char *>("i=0; while [ $i -lt 200000 ]; do i=$((i+1)); done"), nullptr};
  ASSERT_TRUE(command.start(3, argv));
  UtilisationReporter reporter(command.get_pid());
  EXPECT_EQ(reporter.get_user_time_us(), 0u);
  ASSERT_EQ(command.wait(20, nullptr), 0);
  // Before complete() the end times are the start times.
  EXPECT_EQ(reporter.get_user_time_us(), 0u);
  reporter.complete();
  uint64_t passed = reporter.get_time_passed();
  EXPECT_GT(reporter.get_user_time_us(), 10000u);
  // The child's time is at most the time that passed, give or take the
  // moment it ran before the reporter started (long on a loaded machine);
  // counting any time twice would give about twice the time passed.
  EXPECT_LE(reporter.get_user_time_us() + reporter.get_system_time_us(), passed + 100000);
}

// The compiler's own feature detection is the independent oracle.
TEST(CpuFeatures, AgreeWithTheCompilersDetection) {
  __builtin_cpu_init();
  struct {
    uint64_t mask;
    bool has;
  } cases[] = {
      {kCpuFeatureSsse3, __builtin_cpu_supports("ssse3") != 0},
      {kCpuFeatureSse41, __builtin_cpu_supports("sse4.1") != 0},
      {kCpuFeatureSse42, __builtin_cpu_supports("sse4.2") != 0},
      {kCpuFeaturePopcnt, __builtin_cpu_supports("popcnt") != 0},
      {kCpuFeatureAvx2, __builtin_cpu_supports("avx2") != 0},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(has_cpu_features(c.mask), c.has) << std::hex << c.mask;
    EXPECT_EQ((get_cpu_features() & c.mask) != 0, c.has) << std::hex << c.mask;
  }
  EXPECT_TRUE(has_cpu_features(0));
  // The build needs SSE4.1, SSSE3 and popcount, so all three together hold.
  EXPECT_TRUE(has_cpu_features(kCpuFeatureSsse3 | kCpuFeatureSse41 | kCpuFeaturePopcnt));
  // A mask is only met when every bit is.
  EXPECT_FALSE(has_cpu_features(~uint64_t{0}));
}

}  // namespace
