// The nyr file object: construction, round trips, the streaming writer's
// failures, the fields rewrite, and every malformed-file case of the
// readers, including a file cut at every byte.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/input_stream.h"
#include "nyr_test_data.h"
#include "seqio/nyr_file.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using nyr_test::StreamOver;
using nyr_test::written_bytes;
using ryx_test::hex_bytes;
using ryx_test::hex_fixture;
using ryx_test::ScratchDir;

const std::string kBadFile = "^Error reading assembly file\n$";

std::string one_contig() { return hex_fixture("seqio/one_contig_two_reads_v3.nyr.hex"); }
std::string two_contigs() { return hex_fixture("seqio/two_contigs_multi_hit_wrap_v3.nyr.hex"); }

// Replaces `removed` bytes at pos with the bytes of hex; a change inside the
// record section moves the fields offset with it.
std::string patched(std::string bytes, size_t pos, const std::string &hex, size_t removed) {
  const std::string with = hex_bytes(hex);
  uint64_t offset = 0;
  for (int i = 0; i < 8; i++) offset |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[8 + i])) << (8 * i);
  bytes.replace(pos, removed, with);
  if (pos >= 16 && pos < offset) {
    offset += with.size() - removed;
    for (int i = 0; i < 8; i++) bytes[8 + i] = static_cast<char>(offset >> (8 * i));
  }
  return bytes;
}

std::string with_offset(std::string bytes, uint64_t offset) {
  for (int i = 0; i < 8; i++) bytes[8 + i] = static_cast<char>(offset >> (8 * i));
  return bytes;
}

size_t find(const std::string &bytes, const std::string &hex) {
  const size_t at = bytes.find(hex_bytes(hex));
  if (at == std::string::npos) throw std::runtime_error("pattern not in fixture: " + hex);
  return at;
}

// In a child: limits the address space so that an allocation sized by a
// corrupt count fails with status 69 instead of succeeding. The address
// sanitizer reserves far more address space up front, so it goes without.
void limit_memory() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  struct rlimit limit = {256u << 20, 256u << 20};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

// --- Construction ---

TEST(NyrFileObject, ConstructorsInstallTheirSlots) {
  const uint32_t lengths[] = {10, 30, 20};
  nyr_file_t *none = nyr_file_new(3, lengths, 0);
  EXPECT_EQ(none->sources->matches, nullptr);
  EXPECT_EQ(none->get_match, nullptr);
  EXPECT_EQ(none->slot_zero, nullptr);
  EXPECT_NE(none->contig_get_length, nullptr);
  EXPECT_EQ(nyr_file_get_longest_contig(none), 30u);
  EXPECT_EQ(none->contig_get_length(none, none->contigs[2]), 20u);

  nyr_file_t *like = nyr_file_new_like(none);
  EXPECT_EQ(like->contig_count, 3u);
  uint32_t *copied = nyr_file_get_contig_lengths(like);
  EXPECT_EQ(std::vector<uint32_t>(copied, copied + 3), (std::vector<uint32_t>{10, 30, 20}));
  ryx_free(copied);

  nyr_file_t *empty = nyr_file_new_empty();
  EXPECT_EQ(empty->sources, nullptr);
  EXPECT_EQ(empty->contig_get_length, nullptr);
  EXPECT_EQ(nyr_file_get_longest_contig(empty), 0u);
  empty->read_count = 2;
  nyr_file_alloc_matches(empty);
  ASSERT_NE(empty->get_match, nullptr);
  EXPECT_EQ(empty->get_match(empty, 1), nullptr);
  EXPECT_EQ(empty->slot_zero(empty), 0);
  // A heap record stored in the handle goes with it.
  nyr_file_set_match(empty, 1, nyr_match_new(nullptr, 0, 0, 0, 0, 1, nyr_test::owned_code({0})));

  seq_record_t *records[] = {seq_record_new(7), seq_record_new(9)};
  nyr_file_t *from_seqs = nyr_file_new_from_seqs(2, records, 1);
  EXPECT_EQ(nyr_file_get_longest_contig(from_seqs), 9u);
  EXPECT_NE(from_seqs->get_match, nullptr);
  seq_record_free(records[0]);
  seq_record_free(records[1]);

  nyr_file_t *blank = nyr_file_new_blank();
  EXPECT_NE(blank->sources, nullptr);
  EXPECT_EQ(blank->get_match, nullptr);

  for (nyr_file_t *file : {none, like, empty, from_seqs, blank}) EXPECT_EQ(nyr_file_free(file), nullptr);
  EXPECT_EQ(nyr_file_free(nullptr), nullptr);
}

TEST(NyrFileObject, RecordsLoadedIntoTheArenaGoWithIt) {
  // Freeing arena records one by one would be an invalid free under the
  // sanitizer build; a multi-hit heap block stored by hand is freed whole.
  ScratchDir dir;
  const std::string path = dir.file("in.nyr");
  ryx_test::write_file(path, two_contigs());
  nyr_file_t *file = nyr_file_read(path.c_str(), 1);
  EXPECT_EQ(file->records_in_arena, 1);
  nyr_file_free(file);

  file = nyr_test::two_contigs_fields();
  nyr_file_set_match(file, 0, nyr_test::multi_hit_block());
  nyr_file_free(file);
}

TEST(NyrFileObject, AccessorsOfListsAndContigs) {
  nyr_file_t *file = nyr_test::two_contigs_fields();
  EXPECT_EQ(nyr_file_get_read_file_sequence_count(file, 0), 4u);
  EXPECT_EQ(nyr_file_get_reference_file_sequence_count(file, 0), 2u);
  nyr_contig_t *contig = nyr_contig_new(5, 0);
  EXPECT_EQ(nyr_contig_is_circular(contig), 0);
  nyr_contig_set_circular(contig);
  EXPECT_EQ(nyr_contig_is_circular(contig), 1);
  EXPECT_EQ(nyr_contig_get_length(file, contig), 5u);
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_contig_write(out, contig); }), hex_bytes("05000000 0100"));
  nyr_contig_free(contig);
  nyr_file_free(file);
}

// --- Round trips ---

TEST(NyrFileRoundTrip, WriteReadWriteKeepsTheBytes) {
  ScratchDir dir;
  const std::string first = dir.file("first.nyr"), second = dir.file("second.nyr");
  nyr_file_t *file = nyr_test::two_contigs_fields();
  file->command_line = nyr_test::owned("ryx_refmap -x");
  file->scheme = nyr_scoring_scheme_new(4, 4, 4, 4, 1, -2, -2, -2, 3);
  // A hit one wrap beyond the circular contig, with a quality.
  nyr_match_t *hit = nyr_match_new(nullptr, 0, 2999, 1, 0, 2, nyr_test::owned_code({255, 2}));
  hit->quality = 17;
  nyr_file_set_match(file, 1, hit);
  nyr_file_save(first.c_str(), file);
  nyr_file_free(file);

  nyr_file_t *back = nyr_file_read(first.c_str(), 1);
  const nyr_match_t *read = nyr_file_get_match(back, 1);
  EXPECT_EQ(uint32_t(read->position), 2999u);
  EXPECT_EQ(read->quality, 17);
  EXPECT_EQ(nyr_file_get_match(back, 0), nullptr);
  EXPECT_STREQ(back->command_line, "ryx_refmap -x");
  EXPECT_EQ(back->scheme->mode, 3);
  nyr_file_write(second.c_str(), back);
  nyr_file_free(back);
  EXPECT_EQ(ryx_test::read_file(first), ryx_test::read_file(second));
}

TEST(NyrFileRoundTrip, GzipFilesReadLikePlainOnes) {
  ScratchDir dir;
  const std::string path = dir.file("in.nyr.gz");
  ryx_test::write_gzip_file(path, two_contigs());
  nyr_file_t *file = nyr_file_read(path.c_str(), 1);
  EXPECT_EQ(nyr_file_get_match(file, 0)->position, 1500u);
  nyr_file_free(file);
  ryx_test::write_gzip_file(path, with_offset(two_contigs(), 5000));
  EXPECT_EXIT(nyr_file_read_header(path.c_str()), testing::ExitedWithCode(65), kBadFile);
}

TEST(NyrFileRoundTrip, RecordsSizeOfFinishedAndUnfinishedFiles) {
  ScratchDir dir;
  const std::string path = dir.file("in.nyr");
  ryx_test::write_file(path, one_contig());
  FILE *file = fopen(path.c_str(), "rb");
  EXPECT_EQ(nyr_file_get_records_size(file), 6);
  EXPECT_EQ(ftell(file), 16);
  fclose(file);
  input_stream_t *stream = input_stream_open(path.c_str(), "rb");
  EXPECT_EQ(nyr_file_get_records_size_stream(stream), 6);
  EXPECT_EQ(input_stream_tell(stream), 16);
  input_stream_close(stream);
  // A file whose writer never patched the offset is a bad file, not -16.
  ryx_test::write_file(path, with_offset(one_contig(), 0));
  EXPECT_EXIT(
      {
        FILE *f = fopen(path.c_str(), "rb");
        nyr_file_get_records_size(f);
      },
      testing::ExitedWithCode(65), kBadFile);
}

TEST(NyrFileRoundTrip, LegacyPairCount) {
  const std::string bytes = hex_bytes(
      "52 59 58 80 00 00 00 00"  // header bytes 0-7
      "02 00 00 00  AA BB CC DD"  // contig count 2, 4 skipped bytes
      "01 61  00  02 62 63  00  00"  // five strings
      "01  00112233445566778899AABBCCDDEEFF"  // a flag of 1 and 16 bytes
      "000000000000 000000000000"  // two contigs of 6 bytes
      "FE 34 12");  // the count
  ScratchDir dir;
  const std::string path = dir.file("legacy");
  ryx_test::write_file(path, bytes);
  FILE *file = fopen(path.c_str(), "rb");
  EXPECT_EQ(nyr_file_read_legacy_pair_count(file), 0x1234u);
  fclose(file);
}

// --- Writer failures ---

TEST(NyrFileWriterDeath, OutputProblemsAreErrors) {
  nyr_file_t *file = nyr_test::one_contig_two_reads();
  EXPECT_EXIT(nyr_file_write("/nonexistent-dir/out.nyr", file), testing::ExitedWithCode(73),
              "^Error opening assembly file for writing\n$");
  // A full device: the flush after the fields block fails.
  EXPECT_EXIT(nyr_file_write("/dev/full", file), testing::ExitedWithCode(74), "^Error writing assembly file\n$");
  // An output that cannot seek back to the header: an error, not a note.
  EXPECT_EXIT(
      {
        int fds[2];
        if (pipe(fds) != 0) _exit(3);
        FILE *out = fdopen(fds[1], "wb");
        nyr_file_write_start(out, file);
        nyr_file_write_finish(out, file);
        _exit(0);
      },
      testing::ExitedWithCode(74), "^Error writing assembly file: could not write the fields offset - seek failed\\.\n$");
  nyr_file_free(file);
}

TEST(NyrFileWriter, FinishLeavesTheOffsetOfTheFieldsBlock) {
  nyr_file_t *file = nyr_test::one_contig_two_reads();
  const std::string bytes = written_bytes([&](FILE *out) {
    nyr_file_write_start(out, nullptr);
    fwrite("\x00\x00\x00", 1, 3, out);  // three unmatched reads' records
    nyr_file_write_finish(out, file);
  });
  EXPECT_EQ(bytes.substr(0, 16), hex_bytes("52 59 58 80 00 00 00 03 13 00 00 00 00 00 00 00"));
  const std::string fields = written_bytes([&](FILE *out) { nyr_fields_write(out, file); });
  EXPECT_EQ(bytes.substr(19), fields);
  nyr_file_free(file);
}

// --- Fields rewrite ---

TEST(NyrFileRewrite, ReplacesTheFieldsAndStampsVersion2) {
  for (int version : {3, 1}) {
    SCOPED_TRACE(version);
    ScratchDir dir;
    const std::string path = dir.file("in.nyr");
    const std::string original = hex_fixture("seqio/one_contig_two_reads_v" + std::to_string(version) + ".nyr.hex");
    ryx_test::write_file(path, original);
    nyr_file_t *file = nyr_file_read(path.c_str(), 1);
    ryx_free(file->program_name);
    file->program_name = nyr_test::owned("a longer program name");
    nyr_file_rewrite_fields(path.c_str(), file);
    const std::string bytes = ryx_test::read_file(path);
    EXPECT_EQ(bytes[7], 2);
    EXPECT_EQ(bytes.substr(8, 14), original.substr(8, 14));  // offset and records untouched
    EXPECT_EQ(bytes.substr(22), written_bytes([&](FILE *out) { nyr_fields_write(out, file); }));
    nyr_file_free(file);
    file = nyr_file_read(path.c_str(), 1);
    EXPECT_STREQ(file->program_name, "a longer program name");
    EXPECT_EQ(nyr_file_get_match(file, 1)->position, 10u);
    nyr_file_free(file);
  }
}

TEST(NyrFileRewriteDeath, ChecksTheFileBeforeWritingAnything) {
  struct Case {
    const char *name;
    std::string bytes;
    int status;
    std::string message;
  } cases[] = {
      {"unfinished file", with_offset(one_contig(), 0), 65, kBadFile},
      {"offset beyond the end", with_offset(one_contig(), 4000), 65, kBadFile},
      {"offset at the end", with_offset(one_contig(), one_contig().size()), 65, kBadFile},
      {"bad magic", patched(one_contig(), 1, "58", 1), 65, kBadFile},
      {"newer version", patched(one_contig(), 7, "04", 1), 65,
       "^Error reading assembly file: file version newer than this program\\.\n$"},
      {"version 0 records", hex_fixture("seqio/one_contig_two_reads_v0.nyr.hex"), 65,
       "^Cannot rewrite the fields of a version 0 assembly file\n$"},
  };
  nyr_file_t *file = nyr_test::one_contig_two_reads();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.file("in.nyr");
    ryx_test::write_file(path, c.bytes);
    EXPECT_EXIT(nyr_file_rewrite_fields(path.c_str(), file), testing::ExitedWithCode(c.status), c.message);
    EXPECT_EQ(ryx_test::read_file(path), c.bytes);
  }
  EXPECT_EXIT(nyr_file_rewrite_fields("/nonexistent-dir/x.nyr", file), testing::ExitedWithCode(73),
              "^Error opening assembly file for writing\n$");
  nyr_file_free(file);
}

// --- Malformed files ---

struct BadFile {
  const char *name;
  std::string bytes;
  int status;
  std::string message;
};

std::vector<BadFile> bad_files() {
  const std::string one = one_contig();
  const std::string two = two_contigs();
  const std::string v1 = hex_fixture("seqio/one_contig_two_reads_v1.nyr.hex");
  const std::string newer = "^Error reading assembly file: file version newer than this program\\.\n$";
  const std::string early = "^Error reading file: early termination\n$";
  return {
      {"empty file", "", 65, kBadFile},
      {"seven header bytes", one.substr(0, 7), 65, kBadFile},
      {"bad letter", patched(one, 0, "51", 1), 65, kBadFile},
      {"byte 3 not 0x80", patched(one, 3, "81", 1), 65, kBadFile},
      {"non-zero byte 5", patched(one, 5, "01", 1), 65, kBadFile},
      {"version 4", patched(one, 7, "04", 1), 65, newer},
      {"header cut in the offset", one.substr(0, 12), 1, early},
      {"offset 0: unfinished", with_offset(one, 0), 65, kBadFile},
      {"offset 15", with_offset(one, 15), 65, kBadFile},
      {"offset at the end", with_offset(one, one.size()), 65, kBadFile},
      {"offset beyond the end", with_offset(one, one.size() + 100), 65, kBadFile},
      {"offset of all ones", with_offset(one, UINT64_MAX), 65, kBadFile},
      {"read count beyond the records", patched(one, 26, "07", 1), 65, kBadFile},
      {"scheme type 5", patched(one, find(one, "03 0500 0200 0500"), "05", 1), 65,
       "^Unsupported scoring scheme, type 5\n$"},
      {"contig pairs", patched(v1, v1.size() - 1, "01", 1), 65, "^Read error: contig pairs not implemented\n$"},
      {"list count beyond 2^31 - 1", patched(one, find(one, "01 00 0100000000000000 64"), "FF 00000080", 1), 65,
       kBadFile},
      {"contig index not below the count", patched(two, find(two, "02 01 2B 01") + 1, "02", 1), 65, kBadFile},
      {"contig index in a skipped hit", patched(two, find(two, "01 01 14 00") + 1, "07", 1), 65, kBadFile},
      {"code past the record section", patched(one, 18, "02", 1), 65, kBadFile},
      {"hit count past the record section", patched(two, 16, "07 03 10", 3), 65, kBadFile},
      {"records short of the section", patched(one, 21, "09 00", 1), 65, kBadFile},
      {"wrap beyond 32 bits", patched(two, find(two, "05 00 09") + 1, "FF FFFFFFFF", 1), 65, kBadFile},
      {"contig table cut", one.substr(0, one.size() - 3), 1, early},
      {"huge contig count", patched(one, 22, "FFFFFFFF", 4), 1, early},
      {"huge string length", patched(one, 34, "FF FFFFFFFF", 1), 1, "^Read error\n$"},
  };
}

TEST(NyrFileReadDeath, EveryMalformedFileGivesItsMessageAndStatus) {
  for (const BadFile &c : bad_files()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.file("bad.nyr");
    ryx_test::write_file(path, c.bytes);
    EXPECT_EXIT(
        {
          limit_memory();
          nyr_file_read(path.c_str(), 1);
        },
        testing::ExitedWithCode(c.status), c.message);
  }
  EXPECT_EXIT(nyr_file_read("/nonexistent-dir/in.nyr", 1), testing::ExitedWithCode(66),
              "^Error opening assembly file for reading\n$");
  EXPECT_EXIT(nyr_file_read_header("/nonexistent-dir/in.nyr"), testing::ExitedWithCode(66),
              "^Error opening assembly file for reading\n$");
}

TEST(NyrFileReadDeath, FileCutAtEveryByteEndsWithAClearError) {
  const std::string messages =
      "^(Error reading assembly file|Error reading file: early termination|Read error)\n$";
  auto status_1_or_65 = [](int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 65);
  };
  for (const std::string &whole : {one_contig(), two_contigs()}) {
    for (size_t cut = 0; cut < whole.size(); cut++) {
      SCOPED_TRACE(cut);
      ScratchDir dir;
      const std::string path = dir.file("cut.nyr");
      ryx_test::write_file(path, whole.substr(0, cut));
      EXPECT_EXIT(nyr_file_read(path.c_str(), 1), status_1_or_65, messages);
    }
  }
}

}  // namespace
