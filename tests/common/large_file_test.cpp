// Large-file helpers: piecewise transfers, seeks, tell and truncate.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/large_file.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

TEST(LargeFile, ReadAndWriteRoundTripAndStopAtTheEnd) {
  ScratchDir dir;
  const std::string path = dir.file("blob");
  std::string data(3 * 1000 * 1000 + 7, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 131 + (i >> 11));
  FILE *out = fopen(path.c_str(), "wb");
  EXPECT_EQ(large_file_write(data.data(), data.size(), out), data.size());
  EXPECT_EQ(large_file_tell(out), static_cast<int64_t>(data.size()));
  fclose(out);
  EXPECT_TRUE(ryx_test::read_file(path) == data);

  FILE *in = fopen(path.c_str(), "rb");
  std::string back(data.size() + 100, '\0');
  // Asking for more than the file holds returns what is there.
  EXPECT_EQ(large_file_read(back.data(), back.size(), in), data.size());
  EXPECT_TRUE(back.substr(0, data.size()) == data);
  EXPECT_EQ(large_file_read(back.data(), 10, in), 0u);
  fclose(in);
}

TEST(LargeFile, SeekReportsSuccessAndTellFollows) {
  ScratchDir dir;
  const std::string path = dir.file("ten");
  ryx_test::write_file(path, "0123456789");
  FILE *f = fopen(path.c_str(), "rb");
  EXPECT_TRUE(large_file_seek(f, 7, SEEK_SET));
  EXPECT_EQ(large_file_tell(f), 7);
  EXPECT_EQ(getc(f), '7');
  EXPECT_TRUE(large_file_seek(f, -3, SEEK_END));
  EXPECT_EQ(large_file_tell(f), 7);
  EXPECT_TRUE(large_file_seek(f, -2, SEEK_CUR));
  EXPECT_EQ(getc(f), '5');
  EXPECT_FALSE(large_file_seek(f, -20, SEEK_SET));
  // Offsets past 4 GiB pass through unharmed.
  EXPECT_TRUE(large_file_seek(f, INT64_C(5) << 32, SEEK_SET));
  EXPECT_EQ(large_file_tell(f), INT64_C(5) << 32);
  fclose(f);
}

TEST(LargeFile, BytesLeftFollowsThePositionAndKnowsNoPipe) {
  ScratchDir dir;
  const std::string path = dir.file("ten");
  ryx_test::write_file(path, "0123456789");
  FILE *f = fopen(path.c_str(), "rb");
  EXPECT_EQ(large_file_bytes_left(f), 10);
  EXPECT_EQ(getc(f), '0');
  EXPECT_EQ(getc(f), '1');
  EXPECT_EQ(large_file_bytes_left(f), 8);
  EXPECT_TRUE(large_file_seek(f, 0, SEEK_END));
  EXPECT_EQ(large_file_bytes_left(f), 0);
  // Past the end nothing is left either.
  EXPECT_TRUE(large_file_seek(f, 25, SEEK_SET));
  EXPECT_EQ(large_file_bytes_left(f), 0);
  fclose(f);

  // A file open for update counts what was written once a seek flushed it.
  FILE *w = fopen(dir.file("grow").c_str(), "w+b");
  fputs("abcdef", w);
  EXPECT_TRUE(large_file_seek(w, 2, SEEK_SET));
  EXPECT_EQ(large_file_bytes_left(w), 4);
  fclose(w);

  FILE *pipe = popen("printf abc", "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(large_file_bytes_left(pipe), -1);
  pclose(pipe);
}

TEST(LargeFile, TruncateShortensAndReportsFailure) {
  ScratchDir dir;
  const std::string path = dir.file("ten");
  ryx_test::write_file(path, "0123456789");
  EXPECT_EQ(large_file_truncate(path.c_str(), 4), 0);
  EXPECT_EQ(ryx_test::read_file(path), "0123");
  EXPECT_EQ(large_file_truncate(dir.file("missing").c_str(), 0), -1);
}

}  // namespace
