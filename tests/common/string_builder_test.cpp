// printf-style string builder: growth by doubling, positions, long
// arguments.
#include "common/string_builder.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace {

TEST(StringBuilder, NewBuilderIsEmptyWith256Bytes) {
  StringBuilder builder;
  EXPECT_EQ(builder.capacity(), 256u);
  EXPECT_EQ(builder.position(), 0u);
  EXPECT_EQ(builder.str(), "");
  EXPECT_STREQ(builder.c_str(), "");
}

TEST(StringBuilder, AppendsAtThePosition) {
  StringBuilder builder;
  EXPECT_EQ(builder.printf("%d", 42), 2);
  EXPECT_EQ(builder.printf("%d", 42), 2);
  EXPECT_EQ(builder.str(), "4242");
  EXPECT_EQ(builder.position(), 4u);
  EXPECT_EQ(builder.printf("%s", ""), 0);
  EXPECT_EQ(builder.printf("-%c-%5.2f|%-3s|%x", 'z', 3.14159, "ab", 255u), 15);
  EXPECT_EQ(builder.str(), "4242-z- 3.14|ab |ff");
  EXPECT_STREQ(builder.c_str(), "4242-z- 3.14|ab |ff");
  EXPECT_EQ(builder.capacity(), 256u);
}

TEST(StringBuilder, GrowsByDoublingUntilTheTextFits) {
  const std::string text(600, 'q');
  StringBuilder builder;
  EXPECT_EQ(builder.printf("%s", text.c_str()), 600);
  EXPECT_EQ(builder.capacity(), 1024u);
  EXPECT_EQ(builder.str(), text);
  EXPECT_EQ(builder.position(), 600u);

  // A text that exactly fills the buffer needs no growth; one more byte
  // doubles it.
  StringBuilder exact;
  exact.printf("%s", std::string(250, 'a').c_str());
  exact.printf("%s", std::string(6, 'b').c_str());
  EXPECT_EQ(exact.capacity(), 256u);
  EXPECT_EQ(exact.str(), std::string(250, 'a') + std::string(6, 'b'));
  exact.printf("c");
  EXPECT_EQ(exact.capacity(), 512u);
  EXPECT_EQ(exact.str(), std::string(250, 'a') + std::string(6, 'b') + "c");
}

TEST(StringBuilder, LongStringArgumentsAfterExistingText) {
  std::string a(3000, 'a'), b(70000, 'b');
  a[1234] = 'X';
  b[65535] = 'Y';
  StringBuilder builder;
  builder.printf("head:");
  EXPECT_EQ(builder.printf("[%s|%d|%s]", a.c_str(), -17, b.c_str()),
            static_cast<int>(a.size() + b.size() + 7));
  builder.printf(":tail");
  const std::string expected = "head:[" + a + "|-17|" + b + "]:tail";
  EXPECT_EQ(builder.str(), expected);
  EXPECT_EQ(builder.position(), expected.size());
  EXPECT_EQ(builder.capacity(), 131072u);  // 256 doubled until the text fits
  EXPECT_STREQ(builder.c_str(), expected.c_str());
}

TEST(StringBuilder, ManySmallPiecesAcrossGrowths) {
  StringBuilder builder;
  std::string expected;
  for (int i = 0; i < 1000; i++) {
    builder.printf("%d,", i);
    expected += std::to_string(i) + ",";
  }
  EXPECT_EQ(builder.str(), expected);
  EXPECT_EQ(builder.capacity(), 4096u);
}

int through_vprintf(StringBuilder &builder, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int written = builder.vprintf(format, args);
  va_end(args);
  return written;
}

TEST(StringBuilder, VprintfReusesTheArgumentsWhenGrowing) {
  StringBuilder builder;
  const std::string long_text(1000, 'v');
  EXPECT_EQ(through_vprintf(builder, "%s=%d", long_text.c_str(), 9), 1002);
  EXPECT_EQ(builder.str(), long_text + "=9");
}

TEST(StringBuilder, TakeHandsOverTheTextAndEmptiesTheBuilder) {
  StringBuilder builder;
  builder.printf("%s", std::string(300, 't').c_str());
  EXPECT_EQ(builder.take(), std::string(300, 't'));
  EXPECT_EQ(builder.position(), 0u);
  EXPECT_EQ(builder.capacity(), 256u);
  builder.printf("again");
  EXPECT_EQ(builder.str(), "again");
}

TEST(StringBuilder, UnrenderableTextLeavesTheBuilderUnchanged) {
  StringBuilder builder;
  builder.printf("keep");
  // A wide character outside the C locale's range cannot be converted.
  const wchar_t wide[] = {static_cast<wchar_t>(0x4e2d), 0};
  EXPECT_EQ(builder.printf("%ls", wide), -1);
  EXPECT_EQ(builder.str(), "keep");
  EXPECT_STREQ(builder.c_str(), "keep");
  builder.printf("!");
  EXPECT_EQ(builder.str(), "keep!");
}

}  // namespace
