// Line reader: line ends, the 0xFF end marker, the last line and growth.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/line_reader.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

// Every line the reader returns, checking that each length matches the text
// and that the end stays the end.
std::vector<std::string> all_lines(line_reader_t *reader) {
  std::vector<std::string> lines;
  for (int64_t n; (n = line_reader_next(reader)) >= 0;) {
    EXPECT_EQ(static_cast<size_t>(n), std::string(reader->buffer).size());
    lines.emplace_back(reader->buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(line_reader_next(reader), -1);
  EXPECT_EQ(line_reader_next(reader), -1);
  return lines;
}

struct LineCase {
  const char *name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(LineReader, LineEndsAndTheEndOfInput) {
  ScratchDir dir;
  const LineCase cases[] = {
      {"carriage return stays", "a\r\nb", {"a\r", "b"}},
      {"form feed ends a line", "a\fb\n", {"a", "b"}},
      {"0xFF ends the input", "ab\xFF" "cd\nef\n", {"ab"}},
      {"0xFF at the start", "\xFF" "abc\n", {}},
      {"last line without end byte", "one\ntwo", {"one", "two"}},
      {"empty lines", "\n\nx\n\n", {"", "", "x", ""}},
      {"empty input", "", {}},
  };
  for (const LineCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("lines");
    ryx_test::write_file(path, c.bytes);
    line_reader_t *reader = line_reader_open(path.c_str());
    EXPECT_EQ(all_lines(reader), c.lines);
    EXPECT_EQ(line_reader_free(reader), nullptr);
  }
  EXPECT_EQ(line_reader_free(nullptr), nullptr);
}

TEST(LineReader, LongLinesGrowTheBufferByDoubling) {
  ScratchDir dir;
  const std::string path = dir.file("long");
  const std::string fits(1023, 'f');   // with its terminator exactly 1024 bytes
  const std::string over(1024, 'o');
  const std::string huge(5000, 'h');
  ryx_test::write_file(path, fits + "\n" + over + "\n" + huge + "\nshort\n");
  line_reader_t *reader = line_reader_new(fopen(path.c_str(), "rb"));
  EXPECT_EQ(line_reader_next(reader), 1023);
  EXPECT_EQ(reader->size, 1024u);
  EXPECT_EQ(std::string(reader->buffer), fits);
  EXPECT_EQ(line_reader_next(reader), 1024);
  EXPECT_EQ(reader->size, 2048u);
  EXPECT_EQ(line_reader_next(reader), 5000);
  EXPECT_EQ(reader->size, 8192u);
  EXPECT_EQ(std::string(reader->buffer), huge);
  EXPECT_EQ(line_reader_next(reader), 5);
  EXPECT_STREQ(reader->buffer, "short");
  EXPECT_EQ(line_reader_next(reader), -1);
  EXPECT_EQ(reader->size, 0u);
  line_reader_free(reader);
}

TEST(LineReaderDeath, OpenFailureGoesToStandardOutput) {
  ScratchDir dir;
  const std::string path = dir.file("missing.txt");
  // Standard output is sent to standard error so the message can be matched.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        line_reader_open(path.c_str());
      },
      testing::ExitedWithCode(1), "^ERROR: could not open file: " + path + "\n$");
}

}  // namespace
