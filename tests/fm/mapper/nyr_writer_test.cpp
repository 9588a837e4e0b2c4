// The read mapper's nyr writer against hand-written fixtures, against the
// seqio writer, read back through the seqio reader, and its failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/chunk_arena.h"
#include "common/input_stream.h"
#include "common/memory.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/runtime/file.h"
#include "nyr_writer_cases.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using ryx_test::hex_bytes;
using ryx_test::hex_fixture;
using ryx_test::read_file;
using ryx_test::ScratchDir;

// Runs fill on a new writer over a new file at path and finishes the file.
void write_nyr(const std::string &path, NYRScoringScheme scheme, const std::function<void(NYRWriter &)> &fill) {
  File *file = File::create(path.c_str());
  ASSERT_NE(file, nullptr);
  auto *writer = new NYRWriter(file, scheme);
  fill(*writer);
  delete writer;
}

std::string written_by_writer(NYRScoringScheme scheme, const std::function<void(NYRWriter &)> &fill) {
  ScratchDir dir;
  const std::string path = dir.file("out.nyr");
  write_nyr(path, scheme, fill);
  return read_file(path);
}

uint64_t header_offset(const std::string &bytes) {
  uint64_t offset = 0;
  for (int i = 7; i >= 0; i--) offset = offset << 8 | static_cast<unsigned char>(bytes.at(8 + i));
  return offset;
}

// Fields of a packed hit record, copied out (the record's fields may be
// misaligned, so they are never bound to references).
uint32_t contig_of(const nyr_match_t *hit) { return uint32_t{hit->contig}; }
uint32_t position_of(const nyr_match_t *hit) { return uint32_t{hit->position}; }

// A regular expression matching text literally.
std::string literal(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

struct FixtureCase {
  const char *fixture;
  NYRScoringScheme (*scheme)();
  void (*fill)(NYRWriter &);
  nyr_cases::SeqioCase (*seqio)();
};

const FixtureCase kFixtures[] = {
    {"fm/mapper/one_reference_unmatched_and_single.nyr.hex", nyr_cases::default_scheme,
     nyr_cases::one_reference_unmatched_and_single, nyr_cases::seqio_one_reference_unmatched_and_single},
    {"fm/mapper/two_references_pairs_multi_hits_wraps.nyr.hex", nyr_cases::affine_global_scheme,
     nyr_cases::two_references_pairs_multi_hits_wraps, nyr_cases::seqio_two_references_pairs_multi_hits_wraps},
};

TEST(NYRWriter, WritesTheHandWrittenFixtures) {
  for (FixtureCase const &c : kFixtures) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(written_by_writer(c.scheme(), c.fill), hex_fixture(c.fixture));
  }
}

TEST(NYRWriter, SeqioWriterWritesTheSameBytesForTheSameRecords) {
  for (FixtureCase const &c : kFixtures) {
    SCOPED_TRACE(c.fixture);
    const std::string ours = written_by_writer(c.scheme(), c.fill);
    const std::string theirs = nyr_cases::seqio_bytes(c.seqio());
    EXPECT_EQ(ours, theirs);
  }
}

// Every record of the multi-hit fixture as the seqio reader gives it back,
// with wrap counts resolved against the sequence lengths.
TEST(NYRWriter, SeqioReaderReadsBackEveryRecord) {
  ScratchDir dir;
  const std::string path = dir.file("out.nyr");
  write_nyr(path, nyr_cases::affine_global_scheme(), nyr_cases::two_references_pairs_multi_hits_wraps);

  nyr_file_t *header = nyr_file_read_header(path.c_str());
  EXPECT_EQ(header->version, 3);
  ASSERT_EQ(header->contig_count, 3U);
  EXPECT_EQ(header->read_count, 5U);
  const uint32_t lengths[] = {1000, 300, 50};
  const int circular[] = {1, 0, 1};
  for (uint32_t i = 0; i < 3; i++) {
    EXPECT_EQ(header->contigs[i]->length, lengths[i]);
    EXPECT_EQ(nyr_contig_is_circular(header->contigs[i]), circular[i]);
  }
  EXPECT_STREQ(header->program_name, "ryx_readalign");
  EXPECT_STREQ(header->program_version, "1.2");
  EXPECT_EQ(header->command_line, nullptr);  // empty strings read back as none
  ASSERT_EQ(header->reference_files->count, 2);
  EXPECT_STREQ(header->reference_files->entries[1]->names[0], "b.fa");
  EXPECT_EQ(header->reference_files->entries[0]->sequence_count, 2);
  EXPECT_EQ(header->reference_files->entries[0]->residue_count, 1300);
  ASSERT_EQ(header->read_files->count, 2);
  seq_file_info_t const *pair = header->read_files->entries[0];
  EXPECT_TRUE(seq_file_info_is_pair(pair));
  EXPECT_TRUE(seq_file_info_is_paired(pair));
  EXPECT_STREQ(pair->names[1], "r_2.fq");
  EXPECT_EQ(pair->sequence_count, 2);
  EXPECT_FALSE(seq_file_info_is_pair(header->read_files->entries[1]));
  EXPECT_EQ(header->read_files->entries[1]->residue_count, 150);
  ASSERT_NE(header->scheme, nullptr);
  EXPECT_EQ(header->scheme->insertion_first, 7);
  EXPECT_EQ(header->scheme->insertion_further, 2);
  EXPECT_EQ(header->scheme->deletion_first, 7);
  EXPECT_EQ(header->scheme->deletion_further, 1);
  EXPECT_EQ(header->scheme->match, 2);
  EXPECT_EQ(header->scheme->mismatch[2], -4);
  EXPECT_EQ(header->scheme->colour_error, -1);
  EXPECT_EQ(header->scheme->mode, 3);

  struct Hit {
    uint32_t contig, position;
    bool reverse, paired;
    uint8_t quality;
    uint64_t count;
    std::vector<uint8_t> code;
  };
  const std::vector<std::vector<Hit>> expected = {
      {{0, 980, false, true, 255, 1, {0x13}}},
      {{0, 1150, true, true, 37, 1, {0x1D}}},
      {{1, 299, false, false, 255, 5, {0x00}}},
      {{2, 70, false, false, 255, 300, {0x09}}, {0, 2990, false, false, 0, 300, {0x7F, 0x47}}},
      {},
  };
  input_stream_t *stream = input_stream_open(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  input_stream_seek(stream, 16, SEEK_SET);
  chunk_arena_t *arena = chunk_arena_new();
  for (size_t r = 0; r < expected.size(); r++) {
    SCOPED_TRACE(r);
    nyr_match_t *hit = nyr_match_read_all(3, stream, arena, 3, 1000, lengths, header->fields_offset);
    for (Hit const &want : expected[r]) {
      ASSERT_NE(hit, nullptr);
      EXPECT_EQ(contig_of(hit), want.contig);
      EXPECT_EQ(position_of(hit), want.position);
      EXPECT_EQ(nyr_match_is_reverse(hit), want.reverse);
      EXPECT_EQ(nyr_match_is_paired(hit), want.paired);
      EXPECT_EQ(uint8_t{hit->quality}, want.quality);
      EXPECT_EQ(nyr_match_get_count(hit), want.count);
      EXPECT_EQ(nyr_test::code_of(hit), want.code);
      hit = nyr_match_next_hit(hit);
    }
    EXPECT_EQ(hit, nullptr);
  }
  EXPECT_EQ(input_stream_tell(stream), header->fields_offset);
  input_stream_close(stream);
  chunk_arena_free(arena);
  nyr_file_free(header);
}

// Reference indexes take the bytes of sequence count - 1, positions those
// of the longest length - 1: one record on the last sequence at its last
// position, checked byte by byte and read back.
TEST(NYRWriter, IndexAndPositionWidthsFollowCountAndLongestLength) {
  struct {
    uint32_t sequences, longest;
    int index_bytes, position_bytes;
  } const cases[] = {
      {1, 100, 0, 1},   {256, 100, 1, 1}, {257, 100, 2, 1},     {1, 1, 0, 0},
      {1, 256, 0, 1},   {1, 257, 0, 2},   {3, 65536, 1, 2},     {3, 65537, 1, 3},
      {65537, 2, 3, 1}, {2, 16777217, 1, 4},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(testing::Message() << c.sequences << " sequences, longest " << c.longest);
    ScratchDir dir;
    const std::string path = dir.file("out.nyr");
    const uint32_t index = c.sequences - 1, position = c.longest - 1;
    write_nyr(path, nyr_cases::default_scheme(), [&](NYRWriter &writer) {
      NYRReferenceFile reference("ref.fa");
      for (uint32_t i = 0; i < c.sequences; i++) reference.add(c.longest, false);
      writer.add_reference_file(reference);
      EXPECT_EQ(writer.reference_sequence_count(), c.sequences);
      EXPECT_EQ(writer.longest_reference(), c.longest);
      NYREntry entry(false);
      entry.add_alignment(index, position, false, false, {0x00}, false, false, NYRAlignment::kNoQuality);
      entry.add_hits(1);
      writer.add_entry(entry);
    });
    std::string record = hex_bytes("01 01");
    for (int i = 0; i < c.index_bytes; i++) record += static_cast<char>(index >> (8 * i));
    for (int i = 0; i < c.position_bytes; i++) record += static_cast<char>(position >> (8 * i));
    record += hex_bytes("00 00");
    const std::string bytes = read_file(path);
    EXPECT_EQ(bytes.substr(16, record.size()), record);
    EXPECT_EQ(header_offset(bytes), 16 + record.size());

    nyr_file_t *file = nyr_file_read(path.c_str(), 1);
    nyr_match_t *hit = nyr_file_get_match(file, 0);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(contig_of(hit), index);
    EXPECT_EQ(position_of(hit), position);
    nyr_file_free(file);
  }
}

// Enough records to pass the 1 MiB buffer several times: all of them come
// back in order.
TEST(NYRWriter, RecordsAcrossManyBufferFlushesReadBackInOrder) {
  ScratchDir dir;
  const std::string path = dir.file("out.nyr");
  const uint32_t reads = 600000;
  write_nyr(path, nyr_cases::default_scheme(), [&](NYRWriter &writer) {
    NYRReferenceFile reference("ref.fa");
    reference.add(70000, false);
    writer.add_reference_file(reference);
    NYRReadFile file("reads.fq", false);
    for (uint32_t i = 0; i < reads; i++) {
      file.add(20);
      NYREntry entry(false);
      if (i % 3 != 0) {
        entry.add_alignment(0, i % 70000, false, i % 2 == 0, {0x13}, false, false, NYRAlignment::kNoQuality);
        entry.add_hits(1 + i % 4);
      }
      writer.add_entry(entry);
    }
    writer.add_read_file(file);
    EXPECT_EQ(writer.entry_count(), reads);
  });
  EXPECT_GT(read_file(path).size(), 3U << 20);
  nyr_file_t *file = nyr_file_read(path.c_str(), 1);
  ASSERT_EQ(file->read_count, reads);
  EXPECT_EQ(file->read_files->entries[0]->sequence_count, reads);
  EXPECT_EQ(file->read_files->entries[0]->residue_count, 20 * static_cast<int64_t>(reads));
  for (uint32_t i = 0; i < reads; i++) {
    nyr_match_t *hit = nyr_file_get_match(file, i);
    if (i % 3 == 0) {
      ASSERT_EQ(hit, nullptr) << i;
      continue;
    }
    ASSERT_NE(hit, nullptr) << i;
    ASSERT_EQ(position_of(hit), i % 70000) << i;
    ASSERT_EQ(nyr_match_is_reverse(hit), i % 2 == 0) << i;
    ASSERT_EQ(nyr_match_get_count(hit), 1 + i % 4) << i;
  }
  nyr_file_free(file);
}

// A run that mapped nothing: no references, an empty read file.
TEST(NYRWriter, EmptyRunIsACompleteFile) {
  ScratchDir dir;
  const std::string path = dir.file("out.nyr");
  write_nyr(path, nyr_cases::default_scheme(),
            [](NYRWriter &writer) { writer.add_read_file(NYRReadFile("empty.fq", false)); });
  const std::string bytes = read_file(path);
  EXPECT_EQ(header_offset(bytes), 16U);
  nyr_file_t *file = nyr_file_read(path.c_str(), 1);
  EXPECT_EQ(file->contig_count, 0U);
  EXPECT_EQ(file->read_count, 0U);
  ASSERT_EQ(file->read_files->count, 1);
  EXPECT_EQ(file->read_files->entries[0]->sequence_count, 0);
  nyr_file_free(file);
}

// --- Failures ---

// A file on disk that fails in one chosen way.
class FaultyFile : public FilePointerFile {
 public:
  enum Fault { kSeekFails, kPatchWriteRefused, kFullAfter };
  FaultyFile(FILE *file, char const *path, Fault fault, long long room)
      : FilePointerFile(file, path, 0), fault_(fault), room_(room) {}
  bool seek(long long offset, int origin) override {
    if (fault_ == kSeekFails) return false;
    seeked_ = true;
    return FilePointerFile::seek(offset, origin);
  }
  long long attempt_write(void const *buffer, long long count) override {
    if (fault_ == kPatchWriteRefused && seeked_) return 0;
    if (fault_ == kFullAfter) {
      const long long n = count < room_ - taken_ ? count : room_ - taken_;
      const long long put = n > 0 ? FilePointerFile::attempt_write(buffer, n) : 0;
      taken_ += put;
      return put;
    }
    return FilePointerFile::attempt_write(buffer, count);
  }

 private:
  Fault fault_;
  long long room_;
  long long taken_ = 0;
  bool seeked_ = false;
};

// The failures while writing records, the fields block or the header
// patch: each ends with the file classes' write-error message, and the file
// left behind never carries a fields offset, so no reader takes it for a
// finished one. The two-reference fixture has 46 record bytes (after the
// 16 of the header) and a fields block of 166.
TEST(NYRWriterDeathTest, FailedWriteOrSeekNeverLeavesAFinishedLookingFile) {
  struct {
    const char *what;
    FaultyFile::Fault fault;
    long long room;
  } const cases[] = {
      {"header cut short", FaultyFile::kFullAfter, 10},
      {"records cut short", FaultyFile::kFullAfter, 40},
      {"fields block cut short", FaultyFile::kFullAfter, 62 + 100},
      {"seek to the header fails", FaultyFile::kSeekFails, 0},
      {"header patch refused", FaultyFile::kPatchWriteRefused, 0},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = dir.file("out.nyr");
    EXPECT_EXIT(
        {
          FILE *out = fopen(path.c_str(), "wb+");
          auto *writer = new NYRWriter(new FaultyFile(out, path.c_str(), c.fault, c.room),
                                       nyr_cases::affine_global_scheme());
          nyr_cases::two_references_pairs_multi_hits_wraps(*writer);
          delete writer;
        },
        testing::ExitedWithCode(1), "^" + literal("Error while writing file " + path + "\n") + "$");
    const std::string left = read_file(path);
    if (left.size() >= 16) {
      EXPECT_EQ(header_offset(left), 0U);
      EXPECT_EXIT(nyr_file_read_header(path.c_str()), testing::ExitedWithCode(65), "^Error reading assembly file\n$");
    }
  }
}

// A device that takes no bytes: the flush at the end fails (all records fit
// the buffer), and a long run fails while its records are still streaming.
TEST(NYRWriterDeathTest, FullDeviceFailsOnFlushAndWhileStreaming) {
  if (!ryx_test::file_exists("/dev/full")) GTEST_SKIP() << "no full device";
  const std::string message = "^" + literal("Error while writing file /dev/full\n") + "$";
  EXPECT_EXIT(
      {
        auto *writer = new NYRWriter(File::create("/dev/full"), nyr_cases::default_scheme());
        nyr_cases::one_reference_unmatched_and_single(*writer);
        delete writer;
      },
      testing::ExitedWithCode(1), message);
  EXPECT_EXIT(
      {
        auto *writer = new NYRWriter(File::create("/dev/full"), nyr_cases::default_scheme());
        NYRReferenceFile reference("ref.fa");
        reference.add(100, false);
        writer->add_reference_file(reference);
        // 2 MiB of records must reach the device before the writer ends.
        for (int i = 0; i < (2 << 20); i++) writer->add_entry(NYREntry(false));
        fprintf(stderr, "streamed without an error\n");
      },
      testing::ExitedWithCode(1), message);
}

// A pipe cannot tell its position, so the header cannot be patched.
TEST(NYRWriterDeathTest, OutputThatCannotBePatchedIsAWriteError) {
  ScratchDir dir;
  const std::string path = dir.file("pipe");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EXIT(
      {
        // Opened for reading and writing, a fifo opens without a reader.
        auto *writer = new NYRWriter(File::create(path.c_str()), nyr_cases::default_scheme());
        nyr_cases::one_reference_unmatched_and_single(*writer);
        delete writer;
      },
      testing::ExitedWithCode(1), "^" + literal("Error while writing file " + path + "\n") + "$");
}

TEST(NYRWriterDeathTest, ReferenceFileAfterTheFirstEntryIsRefused) {
  ScratchDir dir;
  const std::string path = dir.file("out.nyr");
  EXPECT_EXIT(
      {
        auto *writer = new NYRWriter(File::create(path.c_str()), nyr_cases::default_scheme());
        NYRReferenceFile first("a.fa");
        first.add(100, false);
        writer->add_reference_file(first);
        writer->add_entry(NYREntry(false));
        NYRReferenceFile second("b.fa");
        second.add(1000, false);
        writer->add_reference_file(second);
        delete writer;
      },
      testing::ExitedWithCode(1), "^Reference files must be added before the first entry\n$");
}

}  // namespace
