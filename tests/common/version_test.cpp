// Version records and the version text.
#include "common/version.h"

#include <gtest/gtest.h>

#include <string>

#include "common/ryx_exit.h"

namespace {

TEST(Version, TextsOfBothKeys) {
  struct Case {
    const char *key;
    const char *text;
    int major, minor, patch;
  } cases[] = {
      {"ryx_assembly_version", "5.1.1.184548-201811011136", 5, 1, 1},
      {"ryx_sage_version", "1.0.1.184548-201811011136", 1, 0, 1},
  };
  for (const Case &k : cases) {
    char *text = version_get_string(k.key);
    EXPECT_STREQ(text, k.text);
    text = version_free_string(text);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(version_get_major(k.key), k.major);
    EXPECT_EQ(version_get_minor(k.key), k.minor);
    EXPECT_EQ(version_get_patch(k.key), k.patch);
    EXPECT_STREQ(version_get_suffix(k.key), "");
  }
  EXPECT_EQ(version_get_build_number(), 184548);
}

TEST(VersionDeath, UnknownKeyEndsWithStatus1) {
  const char *message = "^Unable to find version name\n$";
  EXPECT_EXIT(version_get_string("ryx_version"), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(version_get_string(""), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(version_get_string(nullptr), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(version_get_major("RYX_ASSEMBLY_VERSION"), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(version_get_minor("x"), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(version_get_patch("x"), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(version_get_suffix("x"), testing::ExitedWithCode(1), message);
}

}  // namespace
