// BufferedReader block handling and BufferedWriter block writes.
#include <gtest/gtest.h>

#include <string>

#include "fm/runtime/buffered_reader.h"
#include "fm/runtime/buffered_writer.h"
#include "memory_stream.h"

using ryx_test::MemoryReader;
using ryx_test::MemoryWriter;
using ryx_test::SinkLog;

namespace {

constexpr long long kMiB = 1 << 20;

std::string counting_bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

TEST(BufferedReader, FirstBlockIsReadAtConstruction) {
  std::vector<long long> reads;
  BufferedReader reader(new MemoryReader(counting_bytes(100), &reads));
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0], kMiB);
  EXPECT_EQ(reader.end(), 100u);
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(reader.block_size(), static_cast<uint64_t>(kMiB));
  EXPECT_STREQ(reader.name(), "memory");
}

TEST(BufferedReader, ShortReadReturnsWhatWasLeft) {
  const std::string data = counting_bytes(kMiB + 500);
  BufferedReader reader(new MemoryReader(data));
  std::string out(2 * kMiB, '\0');
  ASSERT_EQ(reader.attempt_read(out.data(), kMiB - 10), kMiB - 10);
  EXPECT_EQ(reader.attempt_read(out.data() + kMiB - 10, kMiB), 510);
  EXPECT_EQ(out.substr(0, data.size()), data);
  EXPECT_EQ(reader.attempt_read(out.data(), 1), 0);
}

TEST(BufferedReader, ReserveKeepsUnreadBytesInFrontAndRefills) {
  const std::string data = counting_bytes(3 * kMiB);
  BufferedReader reader(new MemoryReader(data));
  reader.set_position(kMiB - 100);
  EXPECT_EQ(reader.reserveNewBlock(200), static_cast<uint64_t>(kMiB));
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(reader.buffer()), kMiB), data.substr(kMiB - 100, kMiB));
}

TEST(BufferedReader, ReserveBeyondTheBlockDoublesIt) {
  const std::string data = counting_bytes(5 * kMiB);
  BufferedReader reader(new MemoryReader(data));
  reader.set_position(1000);
  uint64_t held = reader.reserveNewBlock(2 * kMiB + 1);
  EXPECT_EQ(reader.block_size(), static_cast<uint64_t>(4 * kMiB));
  EXPECT_EQ(held, static_cast<uint64_t>(4 * kMiB));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(reader.buffer()), held), data.substr(1000, held));
}

TEST(BufferedReader, ReserveAtTheEndZeroFills) {
  const std::string data = counting_bytes(1000);
  BufferedReader reader(new MemoryReader(data));
  reader.set_position(990);
  // Leave stale bytes behind the data to see them cleared.
  EXPECT_EQ(reader.reserveNewBlock(64), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(reader.buffer()), 10), data.substr(990));
  for (int i = 10; i < 64; i++) EXPECT_EQ(reader.buffer()[i], 0) << i;
  // Beyond what was reserved, the slack behind the data is zero as well.
  for (uint64_t i = 0; i < kBufferedReaderSlack; i++) EXPECT_EQ(reader.buffer()[10 + i], 0);
}

TEST(BufferedReader, ConsumeSkipsAcrossBlocks) {
  const std::string data = counting_bytes(3 * kMiB + 7);
  BufferedReader reader(new MemoryReader(data));
  EXPECT_EQ(reader.consumeNewBlock(kMiB + 5), static_cast<uint64_t>(kMiB));
  char byte;
  ASSERT_EQ(reader.attempt_read(&byte, 1), 1);
  EXPECT_EQ(byte, data[kMiB + 5]);
  // Past the end: everything is discarded and the old end returned.
  EXPECT_EQ(reader.consumeNewBlock(5 * kMiB), 7u);
  EXPECT_EQ(reader.end(), 0u);
  EXPECT_EQ(reader.attempt_read(&byte, 1), 0);
}

TEST(BufferedReader, PositionEstimateFollowsTheSource) {
  // The memory source's raw offset is its byte count, so the estimate must
  // equal the logical position whenever the interpolation has two readings.
  const std::string data = counting_bytes(3 * kMiB);
  BufferedReader reader(new MemoryReader(data));
  EXPECT_EQ(reader.estimate_raw_position(), 0);
  std::string out(kMiB, '\0');
  long long consumed = 0;
  for (long long step : {1000LL, 300000LL, kMiB - 301000, 777LL, kMiB}) {
    ASSERT_EQ(reader.attempt_read(out.data(), step), step);
    consumed += step;
    EXPECT_EQ(reader.estimate_raw_position(), consumed) << step;
  }
}

TEST(BufferedWriter, LargeWriteGoesOutInWholeBlocks) {
  SinkLog log;
  const std::string data = counting_bytes(3 * kMiB + 10);
  {
    BufferedWriter writer(new MemoryWriter(&log));
    EXPECT_TRUE(writer.is_buffered());
    EXPECT_EQ(writer.attempt_write(data.data(), 3 * kMiB), 3 * kMiB);
    EXPECT_EQ(log.writes, (std::vector<long long>{kMiB, kMiB}));
    EXPECT_EQ(writer.fill(), static_cast<uint64_t>(kMiB));
    EXPECT_EQ(writer.attempt_write(data.data() + 3 * kMiB, 10), 10);
    EXPECT_EQ(log.writes.size(), 3u);
    writer.flush();
    EXPECT_EQ(log.flushes, 1);
    EXPECT_EQ(log.writes.back(), 10);
    EXPECT_EQ(writer.attempt_write("tail", 4), 4);
  }
  EXPECT_EQ(log.bytes, data + "tail");
  EXPECT_EQ(log.flushes, 2);  // the destructor's
}

TEST(BufferedWriter, FlushResizeGrowsByDoubling) {
  SinkLog log;
  BufferedWriter writer(new MemoryWriter(&log));
  writer.attempt_write("abc", 3);
  writer.flush_resize(3 * kMiB);
  EXPECT_EQ(writer.capacity(), static_cast<uint64_t>(4 * kMiB));
  EXPECT_EQ(writer.fill(), 0u);
  EXPECT_EQ(log.bytes, "abc");
  writer.attempt_write("de", 2);
  writer.flush_resize(100);
  EXPECT_EQ(writer.capacity(), static_cast<uint64_t>(4 * kMiB));
  EXPECT_EQ(log.bytes, "abcde");
  const std::string big = counting_bytes(4 * kMiB);
  writer.attempt_write(big.data(), 4 * kMiB);
  EXPECT_EQ(log.writes.back(), 2);  // the 4 MiB still fit the buffer
}

TEST(BufferedWriterDeath, ShortSinkWriteIsFatal) {
  EXPECT_EXIT(
      {
        SinkLog log;
        log.limit = 100;
        BufferedWriter writer(new MemoryWriter(&log));
        writer.attempt_write(std::string(200, 'x').data(), 200);
        writer.flush();
      },
      testing::ExitedWithCode(1), "^Error while writing file memory-out\n$");
}

}  // namespace
