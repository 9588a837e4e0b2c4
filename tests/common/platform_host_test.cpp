// Host facts of the platform layer: page size, available memory, free disk
// space, processor identification and the platform's name.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/platform.h"
#include "test_support.h"

namespace {

TEST(PlatformHost, PageSizeAndAvailableMemory) {
  uint64_t page = platform_page_size();
  ASSERT_GT(page, 0u);
  EXPECT_EQ(page & (page - 1), 0u) << "not a power of two: " << page;
  uint64_t pages = 0;
  ASSERT_TRUE(platform_available_memory_pages(&pages));
  EXPECT_GT(pages, 0u);
  EXPECT_LE(pages * page, platform_physical_memory_bytes());
}

TEST(PlatformHost, FreeDiskBytesOfAnExistingPathOnly) {
  ryx_test::ScratchDir dir;
  uint64_t bytes = 0;
  ASSERT_TRUE(platform_free_disk_bytes(dir.path().c_str(), &bytes));
  // The standard library's own measurement of the same file system; files
  // written meanwhile by other tests may move it a little.
  double expected = static_cast<double>(std::filesystem::space(dir.path()).available);
  EXPECT_NEAR(static_cast<double>(bytes), expected, 256.0 * 1024 * 1024);

  uint64_t untouched = 12345;
  EXPECT_FALSE(platform_free_disk_bytes((dir.path() + "/missing").c_str(), &untouched));
  EXPECT_FALSE(platform_free_disk_bytes(nullptr, &untouched));
  EXPECT_EQ(untouched, 12345u);
}

TEST(PlatformHost, CpuidChecksTheHighestLeafFirst) {
  uint32_t regs[4] = {0, 0, 0, 0};
  ASSERT_TRUE(platform_cpuid(0, 0, regs));
  const uint32_t highest = regs[0];
  EXPECT_GE(highest, 1u);
  // Leaf 0 names the vendor in EBX, EDX, ECX: twelve printable characters.
  for (int r : {1, 3, 2})
    for (int b = 0; b < 4; b++) {
      char c = static_cast<char>(regs[r] >> (8 * b));
      EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "register " << r << " byte " << b;
    }
  // Leaf 1 ECX bit 19: SSE4.1, which every build of the suite requires.
  ASSERT_TRUE(platform_cpuid(1, 0, regs));
  EXPECT_NE(regs[2] & (1u << 19), 0u);

  uint32_t untouched[4] = {1, 2, 3, 4};
  EXPECT_FALSE(platform_cpuid(highest + 1, 0, untouched));
  EXPECT_EQ(untouched[0], 1u);
  EXPECT_EQ(untouched[3], 4u);
  // The extended range has a maximum of its own.
  ASSERT_TRUE(platform_cpuid(0x80000000u, 0, regs));
  EXPECT_FALSE(platform_cpuid(regs[0] + 1, 0, untouched));
}

TEST(PlatformHost, NameIsGiven) {
  std::string name = platform_name();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find('\n'), std::string::npos);
}

}  // namespace
