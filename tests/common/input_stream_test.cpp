// Input stream: refills, seeks, ungetc, gets and reads over plain files,
// gzip files and wrapped handles; read errors of the source end the process.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/bin_codec.h"
#include "common/input_stream.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

constexpr int64_t kBuf = kInputStreamBufferSize;

// Deterministic bytes with no short period, so that a byte read from the
// wrong offset shows.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 23);
  }
  return s;
}

enum class Source { kPlainPath, kGzipPath, kFile, kGzHandle };

const char *source_name(Source s) {
  switch (s) {
    case Source::kPlainPath: return "plain file by path";
    case Source::kGzipPath: return "gzip file by path";
    case Source::kFile: return "wrapped FILE*";
    case Source::kGzHandle: return "wrapped gz handle";
  }
  return "?";
}

constexpr Source kAllSources[] = {Source::kPlainPath, Source::kGzipPath, Source::kFile, Source::kGzHandle};

// The same data as a plain and a gzip file.
struct Files {
  Files(const ScratchDir &dir, const std::string &name, const std::string &bytes)
      : data(bytes), plain(dir.file(name)), gz(dir.file(name + ".gz")) {
    ryx_test::write_file(plain, data);
    ryx_test::write_gzip_file(gz, data);
  }
  input_stream_t *open(Source s) const {
    switch (s) {
      case Source::kPlainPath: return input_stream_open(plain.c_str(), "rb");
      case Source::kGzipPath: return input_stream_open(gz.c_str(), "rb");
      case Source::kFile: return input_stream_new_file(fopen(plain.c_str(), "rb"));
      case Source::kGzHandle: return input_stream_new_gz(gzopen(gz.c_str(), "rb"));
    }
    return nullptr;
  }
  std::string data;
  std::string plain;
  std::string gz;
};

TEST(InputStream, EverySourceGivesTheSameBytesByGetc) {
  ScratchDir dir;
  const Files files(dir, "data", pattern(2 * kBuf + 12345));
  for (Source s : kAllSources) {
    SCOPED_TRACE(source_name(s));
    input_stream_t *in = files.open(s);
    ASSERT_NE(in, nullptr);
    std::string got;
    for (int c; (c = input_stream_getc(in)) >= 0;) got.push_back(static_cast<char>(c));
    EXPECT_TRUE(got == files.data) << "read " << got.size() << " of " << files.data.size();
    EXPECT_EQ(input_stream_getc(in), -1);
    EXPECT_EQ(input_stream_tell(in), static_cast<int64_t>(files.data.size()));
    EXPECT_EQ(input_stream_close(in), 0);
  }
}

TEST(InputStream, ReadsInOddPiecesAcrossRefills) {
  ScratchDir dir;
  const Files files(dir, "data", pattern(3 * kBuf + 7));
  const size_t pieces[] = {1, 7, kBuf - 3, 10, 65539, kBuf + 1, 3};
  for (Source s : {Source::kPlainPath, Source::kGzipPath}) {
    SCOPED_TRACE(source_name(s));
    input_stream_t *in = files.open(s);
    std::string got;
    for (size_t i = 0; got.size() < files.data.size(); i++) {
      std::string piece(pieces[i % std::size(pieces)], '\0');
      const size_t n = input_stream_read(piece.data(), 1, piece.size(), in);
      ASSERT_GT(n, 0u);
      got.append(piece, 0, n);
    }
    EXPECT_TRUE(got == files.data);
    char c;
    EXPECT_EQ(input_stream_read(&c, 1, 1, in), 0u);
    input_stream_close(in);
  }
}

TEST(InputStream, ReadCountsWholeItems) {
  ScratchDir dir;
  const Files files(dir, "ten", "0123456789");
  input_stream_t *in = files.open(Source::kPlainPath);
  char buf[16] = {};
  EXPECT_EQ(input_stream_read(buf, 4, 0, in), 0u);
  EXPECT_EQ(input_stream_tell(in), 0);
  // 10 bytes arrive for 3 items of 4: two whole items.
  EXPECT_EQ(input_stream_read(buf, 4, 3, in), 2u);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  input_stream_close(in);
}

TEST(InputStream, SeekInsideTheBufferLeavesTheSourceAlone) {
  ScratchDir dir;
  const Files files(dir, "small", pattern(1000));
  FILE *file = fopen(files.plain.c_str(), "rb");
  input_stream_t *in = input_stream_new_file(file);
  EXPECT_EQ(input_stream_getc(in), static_cast<uint8_t>(files.data[0]));
  const int64_t source = ftello(file);
  EXPECT_EQ(source, 1000);

  struct Move { int64_t offset; int whence; int64_t target; };
  // Each target is read, so the next relative move starts one past it.
  const Move moves[] = {{100, SEEK_SET, 100}, {-50, SEEK_CUR, 51}, {200, SEEK_CUR, 252}, {0, SEEK_SET, 0},
                        {999, SEEK_SET, 999}, {-999, SEEK_CUR, 1}, {0, SEEK_CUR, 2}};
  for (const Move &m : moves) {
    SCOPED_TRACE(std::to_string(m.offset) + " from " + std::to_string(m.whence));
    input_stream_seek(in, m.offset, m.whence);
    EXPECT_EQ(ftello(file), source);  // the source did not move
    EXPECT_EQ(input_stream_tell(in), m.target);
    EXPECT_EQ(input_stream_getc(in), static_cast<uint8_t>(files.data[m.target]));
  }
  input_stream_close(in);

  // The same on a gz handle: its position stays where the refill left it.
  gzFile gz = gzopen(files.gz.c_str(), "rb");
  in = input_stream_new_gz(gz);
  input_stream_getc(in);
  const z_off_t gz_position = gztell(gz);
  input_stream_seek(in, 700, SEEK_SET);
  input_stream_seek(in, -300, SEEK_CUR);
  EXPECT_EQ(gztell(gz), gz_position);
  EXPECT_EQ(input_stream_tell(in), 400);
  EXPECT_EQ(input_stream_getc(in), static_cast<uint8_t>(files.data[400]));
  input_stream_close(in);
}

TEST(InputStream, SeeksBeyondTheBufferMoveTheSource) {
  ScratchDir dir;
  const Files files(dir, "large", pattern(3 * kBuf + 5));
  struct Move { int64_t offset; int whence; };
  // Relative moves outside the buffer are the case where the source stands
  // ahead of the logical position by the unread bytes.
  const Move moves[] = {{2 * kBuf, SEEK_SET},     {-(kBuf + kBuf / 2), SEEK_CUR}, {kBuf + 1000, SEEK_CUR},
                        {5, SEEK_SET},            {kBuf + 7, SEEK_CUR},           {kBuf, SEEK_SET},
                        {-(kBuf - 10), SEEK_CUR}, {3 * kBuf, SEEK_SET},          {-2 * kBuf, SEEK_CUR}};
  for (Source s : kAllSources) {
    SCOPED_TRACE(source_name(s));
    input_stream_t *in = files.open(s);
    int64_t model = 0;
    ASSERT_EQ(input_stream_getc(in), static_cast<uint8_t>(files.data[0]));
    model = 1;
    for (const Move &m : moves) {
      model = m.whence == SEEK_SET ? m.offset : model + m.offset;
      input_stream_seek(in, m.offset, m.whence);
      ASSERT_EQ(input_stream_tell(in), model) << m.offset << " from " << m.whence;
      ASSERT_EQ(input_stream_getc(in), static_cast<uint8_t>(files.data[model])) << "at " << model;
      model++;
    }
    input_stream_seek(in, static_cast<int64_t>(files.data.size()), SEEK_SET);
    EXPECT_EQ(input_stream_getc(in), -1);
    input_stream_close(in);
  }
}

TEST(InputStream, SeekFromTheEndDropsTheBuffer) {
  ScratchDir dir;
  const Files files(dir, "small", pattern(1000));
  FILE *file = fopen(files.plain.c_str(), "rb");
  input_stream_t *in = input_stream_new_file(file);
  input_stream_getc(in);
  // The target is buffered, yet the buffer goes and the source moves.
  input_stream_seek(in, -10, SEEK_END);
  EXPECT_EQ(in->left, 0);
  EXPECT_EQ(in->position, 0);
  EXPECT_EQ(ftello(file), 990);
  EXPECT_EQ(input_stream_tell(in), 990);
  EXPECT_EQ(input_stream_getc(in), static_cast<uint8_t>(files.data[990]));
  input_stream_close(in);
}

TEST(InputStream, UngetcGivesTheByteBack) {
  ScratchDir dir;
  const Files files(dir, "text", "abcdef");
  for (Source s : kAllSources) {
    SCOPED_TRACE(source_name(s));
    input_stream_t *in = files.open(s);
    // Nothing buffered yet: the byte goes back to the source.
    EXPECT_EQ(input_stream_ungetc('Q', in), 'Q');
    EXPECT_EQ(input_stream_getc(in), 'Q');
    EXPECT_EQ(input_stream_getc(in), 'a');
    EXPECT_EQ(input_stream_ungetc('a', in), 'a');
    EXPECT_EQ(input_stream_getc(in), 'a');
    EXPECT_EQ(input_stream_getc(in), 'b');
    // A different byte replaces the one read.
    EXPECT_EQ(input_stream_ungetc('Z', in), 'Z');
    EXPECT_EQ(input_stream_tell(in), 1);
    EXPECT_EQ(input_stream_getc(in), 'Z');
    EXPECT_EQ(input_stream_getc(in), 'c');
    EXPECT_EQ(input_stream_ungetc(-1, in), -1);  // the end marker is no byte
    EXPECT_EQ(input_stream_getc(in), 'd');
    input_stream_close(in);
  }
}

TEST(InputStream, UngetcTwiceAtTheBufferStartKeepsTheOrder) {
  ScratchDir dir;
  const Files files(dir, "text", "abcdef");
  for (Source s : kAllSources) {
    SCOPED_TRACE(source_name(s));
    input_stream_t *in = files.open(s);
    EXPECT_EQ(input_stream_getc(in), 'a');
    input_stream_ungetc('a', in);  // back to the buffer start, 6 bytes unread
    EXPECT_EQ(input_stream_ungetc('X', in), 'X');
    std::string rest;
    for (int c; (c = input_stream_getc(in)) >= 0;) rest.push_back(static_cast<char>(c));
    EXPECT_EQ(rest, "Xabcdef");
    input_stream_close(in);
  }
}

TEST(InputStream, GetsReadsLinesLikeFgets) {
  ScratchDir dir;
  const Files files(dir, "lines", "ab\ncd\n\nlonger line\nend");
  for (Source s : {Source::kPlainPath, Source::kGzipPath}) {
    SCOPED_TRACE(source_name(s));
    input_stream_t *in = files.open(s);
    char line[64];
    // Size 1 leaves no room for a byte: nothing is read.
    EXPECT_EQ(input_stream_gets(line, 1, in), nullptr);
    EXPECT_EQ(input_stream_tell(in), 0);
    struct Call { int size; const char *expected; };
    const Call calls[] = {{64, "ab\n"}, {64, "cd\n"}, {64, "\n"}, {4, "lon"}, {4, "ger"},
                          {4, " li"},  {64, "ne\n"}, {64, "end"}};
    for (const Call &call : calls) {
      ASSERT_EQ(input_stream_gets(line, call.size, in), line);
      EXPECT_STREQ(line, call.expected);
    }
    EXPECT_EQ(input_stream_gets(line, 64, in), nullptr);
    input_stream_close(in);
  }
}

TEST(InputStream, GetsJoinsALineAcrossTheRefill) {
  ScratchDir dir;
  const std::string head(kBuf - 3, 'h');
  const Files files(dir, "straddle", head + "\nspans the refill\nlast\n");
  input_stream_t *in = files.open(Source::kGzipPath);
  std::vector<char> line(kBuf + 100);
  ASSERT_NE(input_stream_gets(line.data(), static_cast<int>(line.size()), in), nullptr);
  EXPECT_EQ(std::string(line.data()), head + "\n");
  ASSERT_NE(input_stream_gets(line.data(), static_cast<int>(line.size()), in), nullptr);
  EXPECT_STREQ(line.data(), "spans the refill\n");
  input_stream_close(in);
}

TEST(InputStream, OpenFailureGivesNull) {
  ScratchDir dir;
  EXPECT_EQ(input_stream_open(dir.file("missing").c_str(), "rb"), nullptr);
  EXPECT_EQ(input_stream_close(nullptr), 0);
}

TEST(InputStream, FreeKeepFileLeavesTheSourceOpen) {
  ScratchDir dir;
  const Files files(dir, "text", "abcdef");
  FILE *file = fopen(files.plain.c_str(), "rb");
  input_stream_t *in = input_stream_new_file(file);
  input_stream_getc(in);
  input_stream_free_keep_file(in);
  EXPECT_EQ(ftello(file), 6);  // still usable
  EXPECT_EQ(fseeko(file, 2, SEEK_SET), 0);
  EXPECT_EQ(getc(file), 'c');
  fclose(file);
}

// gzip files that fail in different places, as (name, bytes) from an intact
// compressed file of the given data.
struct BadGzip {
  const char *name;
  std::string bytes;
};

std::vector<BadGzip> bad_gzips(const ScratchDir &dir) {
  const std::string data = pattern(3 * kBuf / 2);
  const std::string whole_path = dir.file("whole.gz");
  ryx_test::write_gzip_file(whole_path, data);
  const std::string whole = ryx_test::read_file(whole_path);
  // Exactly one buffer of data: the first refill is full, the error shows at
  // the second.
  ryx_test::write_gzip_file(whole_path, pattern(kBuf));
  const std::string one_buffer = ryx_test::read_file(whole_path);

  std::vector<BadGzip> cases;
  cases.push_back({"trailer cut", whole.substr(0, whole.size() - 4)});
  cases.push_back({"cut in the middle", whole.substr(0, whole.size() / 2)});
  cases.push_back({"one buffer, trailer cut", one_buffer.substr(0, one_buffer.size() - 6)});
  std::string one_buffer_bad_length = one_buffer;
  one_buffer_bad_length[one_buffer.size() - 1] ^= 0x01;  // top byte of the length trailer
  cases.push_back({"one buffer, wrong length", one_buffer_bad_length});
  // A complete first member followed by a cut second one.
  cases.push_back({"second member cut", one_buffer + one_buffer.substr(0, one_buffer.size() - 3)});
  std::string bad_crc = whole;
  bad_crc[whole.size() - 8] ^= 0x55;  // first byte of the CRC-32 trailer
  cases.push_back({"wrong check value", bad_crc});
  // A valid header followed by a deflate block of the reserved type 3.
  cases.push_back({"invalid block type", ryx_test::hex_bytes("1F 8B 08 00 00 00 00 00 00 03 FF FF FF FF")});
  return cases;
}

// Consumers that read to the end through the different refill paths.
void consume_by_getc(input_stream_t *in) {
  while (input_stream_getc(in) >= 0) {
  }
}
void consume_by_read(input_stream_t *in) {
  std::vector<char> buf(100000);
  while (input_stream_read(buf.data(), 1, buf.size(), in) > 0) {
  }
}
void consume_by_gets(input_stream_t *in) {
  std::vector<char> buf(5000);
  while (input_stream_gets(buf.data(), static_cast<int>(buf.size()), in) != nullptr) {
  }
}
void consume_by_codec(input_stream_t *in) {
  for (;;) bin_stream_read_u32(in);  // ends the process one way or the other
}

TEST(InputStreamDeath, BadGzipIsAnErrorNeverTheEnd) {
  ScratchDir dir;
  int n = 0;
  for (const BadGzip &bad : bad_gzips(dir)) {
    const std::string path = dir.file("bad" + std::to_string(n++) + ".gz");
    ryx_test::write_file(path, bad.bytes);
    const std::string message = "^Problem reading file " + path + "\n$";
    for (void (*consume)(input_stream_t *) : {consume_by_getc, consume_by_read, consume_by_gets, consume_by_codec}) {
      SCOPED_TRACE(bad.name);
      EXPECT_EXIT(
          {
            input_stream_t *in = input_stream_open(path.c_str(), "rb");
            consume(in);
            input_stream_close(in);
            exit(0);
          },
          testing::ExitedWithCode(1), message);
    }
  }
}

TEST(InputStreamDeath, WrappedSourcesReportTheirErrorsToo) {
  ScratchDir dir;
  const std::string path = dir.file("cut.gz");
  ryx_test::write_file(path, bad_gzips(dir)[1].bytes);
  EXPECT_EXIT(
      {
        input_stream_t *in = input_stream_new_gz(gzopen(path.c_str(), "rb"));
        consume_by_getc(in);
        exit(0);
      },
      testing::ExitedWithCode(1), "^Problem reading file \\(unnamed input\\)\n$");
  // Reading a directory through stdio fails at the first read.
  EXPECT_EXIT(
      {
        input_stream_t *in = input_stream_new_file(fopen(dir.path().c_str(), "rb"));
        consume_by_getc(in);
        exit(0);
      },
      testing::ExitedWithCode(1), "^Problem reading file \\(unnamed input\\)\n$");
  EXPECT_EXIT(
      {
        input_stream_t *in = input_stream_new_file(fopen(dir.path().c_str(), "rb"));
        in->path = "named by its caller";
        consume_by_getc(in);
        exit(0);
      },
      testing::ExitedWithCode(1), "^Problem reading file named by its caller\n$");
}

// Data that ends exactly at a refill boundary ends cleanly, whether in one
// member, in two, or followed by bytes that are not a member.
TEST(InputStream, CompleteGzipAtBufferMultiplesEndsCleanly) {
  ScratchDir dir;
  const std::string one = pattern(kBuf);
  const std::string path = dir.file("member.gz");
  ryx_test::write_gzip_file(path, one);
  const std::string member = ryx_test::read_file(path);
  struct Case { const char *name; std::string file; std::string data; };
  const Case cases[] = {{"one member", member, one},
                        {"two members", member + member, one + one},
                        {"member and trailing bytes", member + "xyz", one}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file("clean.gz");
    ryx_test::write_file(file, c.file);
    input_stream_t *in = input_stream_open(file.c_str(), "rb");
    std::string got;
    for (int ch; (ch = input_stream_getc(in)) >= 0;) got.push_back(static_cast<char>(ch));
    EXPECT_TRUE(got == c.data) << got.size();
    EXPECT_EQ(input_stream_getc(in), -1);
    // Back and to the end again: still clean.
    input_stream_seek(in, -5, SEEK_CUR);
    EXPECT_EQ(input_stream_read(got.data(), 1, 10, in), 5u);
    EXPECT_EQ(input_stream_close(in), 0);
  }
}

}  // namespace
