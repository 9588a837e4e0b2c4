// ABI reader: the golden trace, traces with and without qualities, inline
// data, the one-record database, and damaged traces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binary_builders.h"
#include "seq_read_paths.h"
#include "seqio/seq_db.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::AbiEntry;
using seqio_test::Rec;

constexpr uint32_t kMask = kSeqMaskReads;

AbiEntry entry(const std::string &tag, const std::string &data, uint32_t number = 1, uint16_t type = 2,
               uint16_t element_size = 1) {
  AbiEntry e;
  e.tag = tag;
  e.number = number;
  e.type = type;
  e.element_size = element_size;
  e.data = data;
  return e;
}

AbiEntry sample(const std::string &name) {
  return entry("SMPL", std::string(1, static_cast<char>(name.size())) + name, 1, 18);
}

const std::string kQualities = "\x0a\x14\x1e\x28\x32";

std::vector<AbiEntry> golden_entries() {
  return {entry("PBAS", "ACGTN"), entry("PCON", kQualities), sample("samp"),
          entry("DATA", std::string("\0\1\0\2", 4), 9, 4, 2)};
}

std::string write(const ScratchDir &dir, const std::string &name, const std::string &bytes, bool gz = false) {
  const std::string path = dir.file(name);
  seqio_test::write_maybe_gzip(path, bytes, gz);
  return path;
}

TEST(AbiReader, GoldenTraceIsOneRecord) {
  const std::string golden = ryx_test::hex_fixture("seqio/abi_with_quality.ab1.hex");
  ASSERT_EQ(seqio_test::abi_file(golden_entries()), golden);
  ScratchDir dir;
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = write(dir, "trace", golden, gz);
    seqio_test::expect_four_paths(path, 0, kMask, false, {{"samp", "ACGTN", false, ""}}, false);
    seqio_test::expect_four_paths(path, 0, kMask, true, {{"samp", "ACGTN", true, kQualities}}, false);
    seq_db_t *db = seq_db_open(path.c_str(), 2, kMask, 1, 0);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->sequence_count, 1);
    EXPECT_EQ(db->residue_count, 5);
    // Fetching the record again reads it again.
    for (int i = 0; i < 2; i++) {
      seq_record_t *record = db->get(db, 0);
      EXPECT_EQ(seqio_test::bytes_of(record), std::string("\0\1\2\3\4", 5));
      seq_record_release(record);
    }
    seq_db_free(db);
    // Traces are never streamed: no pull reader.
    EXPECT_EXIT(seqio_test::read_pull(path, 0, kMask, false), testing::ExitedWithCode(1),
                "^Problem with sequence file " + path + "\n$");
  }
}

TEST(AbiReader, TraceWithoutQualities) {
  ScratchDir dir;
  const std::string path = write(dir, "noq", seqio_test::abi_file({entry("PBAS", "GATTACA"), sample("s1")}));
  seqio_test::expect_four_paths(path, 0, kMask, false, {{"s1", "GATTACA", false, ""}}, false);
  EXPECT_EXIT(seqio_test::read_db(path, 0, kMask, true, false), testing::ExitedWithCode(1), "^No quality scores\n$");
  EXPECT_EXIT(seqio_test::read_for_each(path, 0, kMask, true), testing::ExitedWithCode(1), "^No quality scores\n$");
  // Without bases, qualities or name the trace is one empty record, whose
  // (empty) qualities can be read.
  const std::string empty = write(dir, "empty", seqio_test::abi_file({entry("DATA", "abcdefgh", 9)}));
  seqio_test::expect_four_paths(empty, 0, kMask, true, {{"", "", true, ""}}, false);
}

TEST(AbiReader, InlineData) {
  // Data of at most 4 bytes stands in the entry's data-offset field; the
  // sample name is the string after its length byte.
  ScratchDir dir;
  const std::string three =
      write(dir, "three", seqio_test::abi_file({entry("PBAS", "ACG"), entry("PCON", "\x01\x02\x03"), sample("ab")}));
  seqio_test::expect_four_paths(three, 0, kMask, true, {{"ab", "ACG", true, "\x01\x02\x03"}}, false);
  const std::string four = write(dir, "four", seqio_test::abi_file({sample("xyz"), entry("PBAS", "TTGA")}));
  seqio_test::expect_four_paths(four, 0, kMask, false, {{"xyz", "TTGA", false, ""}}, false);
  // Entries of other numbers do not count.
  const std::string other = write(dir, "other", seqio_test::abi_file({entry("PBAS", "CCCC", 2), entry("PBAS", "AC")}));
  seqio_test::expect_four_paths(other, 0, kMask, false, {{"", "AC", false, ""}}, false);
}

TEST(AbiReader, DamagedTraces) {
  struct Case {
    const char *name;
    std::string bytes;
  };
  auto with = [](AbiEntry e, int64_t elements, int64_t data_size, int64_t data_offset) {
    e.elements = elements;
    e.data_size = data_size;
    e.data_offset = data_offset;
    return e;
  };
  const std::string golden = ryx_test::hex_fixture("seqio/abi_with_quality.ab1.hex");
  const Case cases[] = {
      {"data size not element size x elements", seqio_test::abi_file({entry("PBAS", "ACGT"),
                                                                      with(entry("DATA", "abcdef", 9), 3, 6, -1)})},
      {"bases of two bytes each", seqio_test::abi_file({entry("PBAS", "ACGTAC", 1, 2, 2)})},
      {"qualities of two bytes each", seqio_test::abi_file({entry("PBAS", "AC"), entry("PCON", "\1\2\3\4", 1, 2, 2)})},
      {"bases and qualities of different lengths",
       seqio_test::abi_file({entry("PBAS", "ACGTA"), entry("PCON", "\1\2\3")})},
      {"directory beyond the file", seqio_test::abi_file({entry("PBAS", "ACGTA")}, -1, 100000)},
      {"more entries than the directory holds", seqio_test::abi_file({entry("PBAS", "ACGTA")}, 1000)},
      {"the largest entry count", seqio_test::abi_file({entry("PBAS", "ACGTA")}, 0xffffffff)},
      {"bases beyond the file", seqio_test::abi_file({with(entry("PBAS", "ACGTACGT"), -1, -1, 5000)})},
      {"2^31 - 1 bases", seqio_test::abi_file({with(entry("PBAS", "ACGTACGT"), 0x7fffffff, 0x7fffffff, -1)})},
      {"2^31 bases", seqio_test::abi_file({with(entry("PBAS", "ACGTACGT"), 0x80000000, 0x80000000, -1)})},
      {"name beyond the file", seqio_test::abi_file({entry("PBAS", "ACGT"), with(sample("longname"), -1, -1, 9000)})},
      {"cut inside the header", golden.substr(0, 30)},
      {"cut inside the directory", golden.substr(0, golden.size() - 10)},
  };
  ScratchDir dir;
  int n = 0;
  for (const Case &c : cases) {
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (gz ? ", gzip" : ", plain"));
      const std::string path = write(dir, "bad" + std::to_string(n++), c.bytes, gz);
      const std::string message = "^ABI format error in file " + path + "\n$";
      EXPECT_EXIT(seqio_test::read_db(path, 0, kMask, false, false), testing::ExitedWithCode(1), message);
      EXPECT_EXIT(seqio_test::read_for_each(path, 0, kMask, true), testing::ExitedWithCode(1), message);
    }
  }
}

}  // namespace
