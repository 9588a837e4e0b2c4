// File factories, stdio and gzip files, and the fatal paths of reading and
// writing.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "fm/runtime/buffered_reader.h"
#include "fm/runtime/buffered_writer.h"
#include "fm/runtime/file.h"
#include "test_support.h"

using ryx_test::ScratchDir;

namespace {

// Mixed text and binary content, a few blocks long.
std::string sample_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<char>(i % 7 == 0 ? '\n' : random() & 0xFF);
  return bytes;
}

std::string read_all_through(Reader *reader, long long piece) {
  std::string out;
  std::string buffer(static_cast<size_t>(piece), '\0');
  for (;;) {
    long long got = reader->attempt_read(buffer.data(), piece);
    out.append(buffer.data(), static_cast<size_t>(got));
    if (got < piece) break;
  }
  return out;
}

TEST(File, ShortNames) {
  const struct {
    char const *path;
    char const *short_name;
  } cases[] = {
      {"reads.fq", "reads.fq"},        {"/reads.fq", "/reads.fq"},   {"data/run1/reads.fq", "reads.fq"},
      {"/data/reads.fq", "reads.fq"},  {"dir/", ""},                 {"/", "/"},
  };
  for (const auto &c : cases) {
    // The names come from the path alone; a bare File stands in.
    struct Probe : File {
      explicit Probe(char const *path) : File(path, 0) {}
      long long attempt_read(void *, long long) override { return 0; }
      long long attempt_write(void const *, long long) override { return 0; }
      bool seek(long long, int) override { return false; }
      void rewind() override {}
      long long tell() const override { return 0; }
      FILE *pointer() const override { return nullptr; }
      void flush() override {}
    } probe(c.path);
    EXPECT_STREQ(probe.name(), c.path);
    EXPECT_STREQ(probe.name_short(), c.short_name) << c.path;
  }
}

TEST(File, OpenMissingFileGivesNull) {
  ScratchDir dir;
  EXPECT_EQ(File::open(dir.file("missing").c_str(), false), nullptr);
  EXPECT_EQ(File::open(dir.file("missing").c_str(), true), nullptr);
  EXPECT_EQ(File::create(dir.file("no/such/dir").c_str()), nullptr);
}

TEST(File, EmptyPlainFile) {
  ScratchDir dir;
  ryx_test::write_file(dir.file("empty"), "");
  std::unique_ptr<File> file(File::open(dir.file("empty").c_str(), false));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size(), 0);
  char byte;
  EXPECT_EQ(file->attempt_read(&byte, 1), 0);
  BufferedReader buffered(File::open(dir.file("empty").c_str(), false));
  EXPECT_EQ(buffered.end(), 0u);
  EXPECT_EQ(buffered.attempt_read(&byte, 1), 0);
}

// The same content stored plain and gzip-compressed reads back identical
// through the file itself, a buffer around it, and the buffer's in-place
// access, with pieces of several sizes; size() is the size on disk.
TEST(File, GzipAndPlainReadIdentically) {
  ScratchDir dir;
  const std::string content = sample_bytes(3 * 1048576 + 12345, 7);
  ryx_test::write_file(dir.file("plain"), content);
  ryx_test::write_gzip_file(dir.file("packed.gz"), content);
  for (const char *name : {"plain", "packed.gz"}) {
    const std::string path = dir.file(name);
    SCOPED_TRACE(name);
    {
      std::unique_ptr<File> file(File::open(path.c_str(), false));
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(file->size(), static_cast<long long>(ryx_test::read_file(path).size()));
      EXPECT_FALSE(file->is_buffered());
      EXPECT_EQ(read_all_through(file.get(), 1 << 20), content);
    }
    for (long long piece : {1LL, 1000LL, 1LL << 20, 5LL << 20}) {
      BufferedReader reader(File::open(path.c_str(), false));
      EXPECT_TRUE(reader.is_buffered());
      std::string got = piece == 1 ? std::string() : read_all_through(&reader, piece);
      if (piece == 1) {
        // Byte by byte through the in-place view.
        for (;;) {
          if (reader.position() == reader.end() && reader.reserveNewBlock(1) == 0) break;
          got.push_back(static_cast<char>(reader.buffer()[reader.position()]));
          reader.set_position(reader.position() + 1);
        }
      }
      EXPECT_EQ(got, content) << piece;
    }
  }
}

TEST(File, GzipSeekTellAndRawOffset) {
  ScratchDir dir;
  const std::string content = sample_bytes(200000, 3);
  ryx_test::write_gzip_file(dir.file("a.gz"), content);
  std::unique_ptr<File> file(File::open(dir.file("a.gz").c_str(), false));
  ASSERT_NE(file, nullptr);
  long long previous = file->raw_offset();
  std::string buffer(50000, '\0');
  for (int i = 0; i < 4; i++) {
    ASSERT_EQ(file->attempt_read(buffer.data(), 50000), 50000);
    long long raw = file->raw_offset();
    EXPECT_GE(raw, previous);
    EXPECT_LE(raw, file->size());
    previous = raw;
  }
  EXPECT_EQ(file->tell(), 200000);
  ASSERT_TRUE(file->seek(1000, SEEK_SET));
  EXPECT_EQ(file->tell(), 1000);
  ASSERT_EQ(file->attempt_read(buffer.data(), 10), 10);
  EXPECT_EQ(buffer.substr(0, 10), content.substr(1000, 10));
  file->rewind();
  EXPECT_EQ(file->tell(), 0);
  ASSERT_EQ(file->attempt_read(buffer.data(), 5), 5);
  EXPECT_EQ(buffer.substr(0, 5), content.substr(0, 5));
}

TEST(File, CreateWriteSeekAndReadBack) {
  ScratchDir dir;
  const std::string path = dir.file("out.bin");
  {
    std::unique_ptr<File> file(File::create(path.c_str()));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), 0);
    EXPECT_EQ(file->attempt_write("hello world", 11), 11);
    EXPECT_EQ(file->tell(), 11);
    ASSERT_TRUE(file->seek(6, SEEK_SET));
    char word[5];
    ASSERT_EQ(file->attempt_read(word, 5), 5);
    EXPECT_EQ(std::string(word, 5), "world");
    EXPECT_NE(file->pointer(), nullptr);
  }
  EXPECT_EQ(ryx_test::read_file(path), "hello world");
  std::unique_ptr<File> writable(File::open(path.c_str(), true));
  ASSERT_NE(writable, nullptr);
  EXPECT_EQ(writable->size(), 11);
  ASSERT_EQ(writable->attempt_write("J", 1), 1);
  writable.reset();
  EXPECT_EQ(ryx_test::read_file(path), "Jello world");

  std::unique_ptr<File> temporary(File::create_temporary());
  ASSERT_NE(temporary, nullptr);
  EXPECT_STREQ(temporary->name(), "<tmp>");
}

TEST(FileDeath, TruncatedGzipIsAReadErrorNotTheEnd) {
  ScratchDir dir;
  const std::string content = sample_bytes(300000, 11);
  ryx_test::write_gzip_file(dir.file("full.gz"), content);
  std::string packed = ryx_test::read_file(dir.file("full.gz"));
  const std::string path = dir.file("cut.gz");
  ryx_test::write_file(path, packed.substr(0, packed.size() / 2));
  EXPECT_EXIT(
      {
        std::unique_ptr<File> file(File::open(path.c_str(), false));
        std::string buffer(1 << 20, '\0');
        while (file->attempt_read(buffer.data(), 1 << 20) > 0) {
        }
      },
      testing::ExitedWithCode(74), "^Error while reading file " + path + ": " + path + ": unexpected end of file\n$");
  // Cut inside the 8-byte trailer: all data is there but the check is not.
  ryx_test::write_file(path, packed.substr(0, packed.size() - 3));
  EXPECT_EXIT(
      {
        BufferedReader reader(File::open(path.c_str(), false));
        std::string buffer(1 << 20, '\0');
        while (reader.attempt_read(buffer.data(), 1 << 20) > 0) {
        }
      },
      testing::ExitedWithCode(74), "^Error while reading file " + path + ": " + path + ": unexpected end of file\n$");
}

TEST(FileDeath, CorruptGzipIsAReadError) {
  ScratchDir dir;
  const std::string content = sample_bytes(300000, 5);
  ryx_test::write_gzip_file(dir.file("full.gz"), content);
  std::string packed = ryx_test::read_file(dir.file("full.gz"));
  for (size_t i = 100; i < 200; i++) packed[i] = static_cast<char>(packed[i] ^ 0x5A);
  const std::string path = dir.file("bad.gz");
  ryx_test::write_file(path, packed);
  EXPECT_EXIT(
      {
        BufferedReader reader(File::open(path.c_str(), false));
        std::string buffer(1 << 20, '\0');
        while (reader.attempt_read(buffer.data(), 1 << 20) > 0) {
        }
      },
      testing::ExitedWithCode(74), "^Error while reading file " + path + ": .+\n$");
}

TEST(FileDeath, WritingToAGzFileIsFatal) {
  ScratchDir dir;
  const std::string path = dir.file("in.txt");
  ryx_test::write_file(path, "ACGT\n");
  const std::string message = "^Write operation to read-only file " + path + "\n$";
  EXPECT_EXIT(File::open(path.c_str(), false)->attempt_write("x", 1), testing::ExitedWithCode(70), message);
  EXPECT_EXIT(File::open(path.c_str(), false)->flush(), testing::ExitedWithCode(70), message);
  EXPECT_EXIT(File::open(path.c_str(), false)->pointer(), testing::ExitedWithCode(70), message);
}

TEST(FileDeath, FailedWritesReportTheFile) {
  // /dev/full takes the bytes into the stdio buffer and fails the flush.
  EXPECT_EXIT(
      {
        File *file = File::create("/dev/full");
        file->attempt_write("abc", 3);
        file->flush();
      },
      testing::ExitedWithCode(1), "^Error while writing file /dev/full\n$");
  // Failing at the close, through the destructor.
  EXPECT_EXIT(
      {
        File *file = File::create("/dev/full");
        file->attempt_write("abc", 3);
        delete file;
      },
      testing::ExitedWithCode(1), "^Error while writing file /dev/full\n$");
  // Through a BufferedWriter: the short write of a whole block.
  EXPECT_EXIT(
      {
        BufferedWriter writer(File::create("/dev/full"));
        std::string block(3 << 20, 'x');
        writer.attempt_write(block.data(), static_cast<long long>(block.size()));
      },
      testing::ExitedWithCode(1), "^Error while writing file /dev/full\n$");
}

TEST(FileDeath, ShortReadReportedByTheCaller) {
  ScratchDir dir;
  const std::string path = dir.file("short.bin");
  ryx_test::write_file(path, "abc");
  EXPECT_EXIT(
      {
        BufferedReader reader(File::open(path.c_str(), false));
        char buffer[8];
        if (reader.attempt_read(buffer, 8) != 8) reader.read_error();
      },
      testing::ExitedWithCode(1), "^Unexpected end of file while reading file " + path + "\n$");
}

}  // namespace
