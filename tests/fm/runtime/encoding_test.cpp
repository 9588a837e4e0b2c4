// Flex numbers, sized numbers and strings against hand-written bytes, and
// their round trips at every width boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/array_list.h"
#include "common/bin_codec.h"
#include "fm/runtime/encoding.h"
#include "memory_stream.h"
#include "test_support.h"

using ryx_test::MemoryReader;
using ryx_test::MemoryWriter;
using ryx_test::SinkLog;

namespace {

TEST(Encoding, Flex32MatchesTheCommonEncoding) {
  const unsigned int values[] = {0, 1, 253, 254, 255, 65535, 65536, 4294967295U};
  SinkLog log;
  MemoryWriter writer(&log);
  for (unsigned int v : values) file_write_flex_number(&writer, v);
  EXPECT_EQ(log.bytes, ryx_test::hex_fixture("fm/runtime/flex32_boundaries.hex"));
  MemoryReader reader(log.bytes);
  for (unsigned int v : values) EXPECT_EQ(file_read_flex_number(&reader), v);
}

// The same values through the common runtime's encoder give the same bytes.
TEST(Encoding, Flex32EqualsTheCommonRuntime) {
  std::vector<unsigned int> values = {0, 1, 252, 253, 254, 255, 256, 65534, 65535, 65536, 65537, 4294967295U};
  for (unsigned int v = 1; v < 4000000000U; v = v * 3 + 7) values.push_back(v);
  for (unsigned int v : values) {
    SinkLog log;
    MemoryWriter writer(&log);
    file_write_flex_number(&writer, v);
    array_list_t *common = array_list_new(1);
    bin_bytes_append_flex_number(common, v);
    EXPECT_EQ(log.bytes, std::string(reinterpret_cast<char *>(common->items), common->count)) << v;
    array_list_free(common);
  }
}

TEST(Encoding, Flex64Bytes) {
  const unsigned long long values[] = {0, 252, 253, 254, 65535, 65536, 4294967295ULL, 4294967296ULL, UINT64_MAX};
  SinkLog log;
  MemoryWriter writer(&log);
  for (unsigned long long v : values) file_write_flex_number64(&writer, v);
  EXPECT_EQ(log.bytes, ryx_test::hex_fixture("fm/runtime/flex64_boundaries.hex"));
  MemoryReader reader(log.bytes);
  for (unsigned long long v : values) EXPECT_EQ(file_read_flex_number64(&reader), v);
}

// Every value around each width boundary of both forms survives a round
// trip and takes the expected number of bytes.
TEST(Encoding, FlexRoundTripsAroundEveryBoundary) {
  struct Case {
    unsigned long long value;
    size_t bytes32;  // 0: not a 32-bit value
    size_t bytes64;
  };
  std::vector<Case> cases;
  auto width32 = [](unsigned long long v) -> size_t { return v < 254 ? 1 : v <= 65535 ? 3 : 5; };
  auto width64 = [](unsigned long long v) -> size_t {
    return v <= 252 ? 1 : v <= 65535 ? 3 : v <= 4294967295ULL ? 5 : 9;
  };
  const unsigned long long edges[] = {1, 252, 253, 254, 65535, 65536, 4294967295ULL, 4294967296ULL, UINT64_MAX - 1};
  for (unsigned long long edge : edges) {
    for (unsigned long long v : {edge - 1, edge, edge + 1}) cases.push_back({v, v <= 4294967295ULL ? width32(v) : 0, width64(v)});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    SinkLog log64;
    MemoryWriter writer64(&log64);
    file_write_flex_number64(&writer64, c.value);
    EXPECT_EQ(log64.bytes.size(), c.bytes64);
    MemoryReader reader64(log64.bytes);
    EXPECT_EQ(file_read_flex_number64(&reader64), c.value);
    if (c.bytes32 == 0) continue;
    SinkLog log32;
    MemoryWriter writer32(&log32);
    file_write_flex_number(&writer32, static_cast<unsigned int>(c.value));
    EXPECT_EQ(log32.bytes.size(), c.bytes32);
    MemoryReader reader32(log32.bytes);
    EXPECT_EQ(file_read_flex_number(&reader32), c.value);
  }
}

TEST(Encoding, SizedNumbersAndStrings) {
  SinkLog log;
  MemoryWriter writer(&log);
  const struct {
    unsigned int value;
    unsigned int max;
  } numbers[] = {{0x12, 255}, {0x1234, 256}, {5, 0}, {0x123456, 0xFFFFFF}, {0x12345678, 0x1000000}, {7, 0xFFFFFFFF}};
  for (const auto &n : numbers) file_write_number(&writer, n.value, n.max);
  file_write_string(&writer, "");
  file_write_string(&writer, "ACGT");
  EXPECT_EQ(log.bytes, ryx_test::hex_fixture("fm/runtime/sized_numbers_and_strings.hex"));

  MemoryReader reader(log.bytes);
  const unsigned int expected[] = {0x12, 0x1234, 0, 0x123456, 0x12345678, 0};
  for (size_t i = 0; i < 6; i++) EXPECT_EQ(file_read_number(&reader, numbers[i].max), expected[i]);
  EXPECT_EQ(file_read_string(&reader), "");
  EXPECT_EQ(file_read_string(&reader), "ACGT");

  EXPECT_EQ(number_width(255), 1u);
  EXPECT_EQ(number_width(256), 2u);
  EXPECT_EQ(number_width(65535), 2u);
  EXPECT_EQ(number_width(65536), 3u);
  EXPECT_EQ(number_width(16777216), 4u);
}

TEST(Encoding, LongStringUsesAWideLength) {
  const std::string text(70000, 'q');
  SinkLog log;
  MemoryWriter writer(&log);
  file_write_string(&writer, text);
  EXPECT_EQ(log.bytes.substr(0, 5), ryx_test::hex_bytes("ff 70 11 01 00"));
  MemoryReader reader(log.bytes);
  EXPECT_EQ(file_read_string(&reader), text);
}

TEST(EncodingDeath, ShortTransfersAreFatal) {
  // A string cut off by the end of the data.
  EXPECT_EXIT(
      {
        MemoryReader reader(ryx_test::hex_bytes("05 41 43"));
        file_read_string(&reader);
      },
      testing::ExitedWithCode(1), "^Unexpected end of file while reading file memory\n$");
  // A damaged huge length fails on the missing bytes, not on memory.
  EXPECT_EXIT(
      {
        MemoryReader reader(ryx_test::hex_bytes("ff ff ff ff f0 41"));
        file_read_string(&reader);
      },
      testing::ExitedWithCode(1), "^Unexpected end of file while reading file memory\n$");
  EXPECT_EXIT(
      {
        MemoryReader reader(ryx_test::hex_bytes("fe 01"));
        file_read_flex_number(&reader);
      },
      testing::ExitedWithCode(1), "^Unexpected end of file while reading file memory\n$");
  EXPECT_EXIT(
      {
        MemoryReader reader(ryx_test::hex_bytes("ff 01 02 03 04"));
        file_read_flex_number64(&reader);
      },
      testing::ExitedWithCode(1), "^Unexpected end of file while reading file memory\n$");
  EXPECT_EXIT(
      {
        SinkLog log;
        log.limit = 2;
        MemoryWriter writer(&log);
        file_write_number(&writer, 0x123456, 0xFFFFFF);
      },
      testing::ExitedWithCode(1), "^Error while writing file memory-out\n$");
  EXPECT_EXIT(
      {
        SinkLog log;
        log.limit = 3;
        MemoryWriter writer(&log);
        file_write_string(&writer, "ACGT");
      },
      testing::ExitedWithCode(1), "^Error while writing file memory-out\n$");
}

}  // namespace
