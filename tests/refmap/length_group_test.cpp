// Length groups over read files (the read limit and its quarter rule,
// interleaved pairs, reads of unmappable length), the classes a group
// spans, the read-length check and the block size from memory.
#include "refmap/length_group.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/memory.h"
#include "common/string_util.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_composite.h"
#include "seqio/seq_file_list.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using ryx_test::write_file;

// A FASTA file with one read per length given.
std::string fasta_of_lengths(const std::vector<int32_t> &lengths) {
  std::string text;
  for (size_t i = 0; i < lengths.size(); i++) {
    text += ">r" + std::to_string(i) + "\n";
    for (int32_t j = 0; j < lengths[i]; j++) text += "ACGT"[(i + j) % 4];
    text += "\n";
  }
  return text;
}

seq_db_t *open_reads(const ScratchDir &dir, const std::string &name, const std::vector<int32_t> &lengths) {
  write_file(dir.file(name), fasta_of_lengths(lengths));
  seq_db_t *db = seq_db_open(dir.file(name).c_str(), 2, 699, 0, kLengthGroupBuckets);
  EXPECT_NE(db, nullptr);
  return db;
}

std::vector<int32_t> repeat(int32_t length, int32_t count) { return std::vector<int32_t>(count, length); }

// Groups of a list of plain files, each given as its lengths.
struct Files {
  explicit Files(const std::vector<std::vector<int32_t>> &files) {
    for (size_t i = 0; i < files.size(); i++) dbs.push_back(open_reads(dir, "f" + std::to_string(i), files[i]));
  }
  ~Files() {
    for (seq_db_t *db : dbs) seq_db_free(db);
  }
  std::vector<length_group_t> groups(int32_t limit) {
    int32_t count = 0;
    length_group_t *built = length_groups_build(dbs.data(), nullptr, nullptr, static_cast<int32_t>(dbs.size()),
                                                &count, limit, kLengthGroupBuckets);
    std::vector<length_group_t> out(built, built + count);
    length_groups_free(built);
    return out;
  }
  ScratchDir dir;
  std::vector<seq_db_t *> dbs;
};

TEST(LengthGroup, FilesJoinWhileWithinTheLimitOrBelowItsQuarter) {
  struct Case {
    const char *name;
    std::vector<int32_t> file_reads;        // reads of length 20 per file
    std::vector<std::vector<int32_t>> ranges;  // expected [first, end) per group
  } cases[] = {
      // 20 + 20 stay within 100; then 40 mappable reads are above the
      // quarter (25) and 40 + 70 exceed 100: a new group.
      {"third file too large", {20, 20, 70}, {{0, 40}, {40, 110}}},
      // 20 mappable reads are within the quarter: the 90 join although
      // 110 exceeds the limit.
      {"quarter rule", {20, 90}, {{0, 110}}},
      {"each file its own group", {60, 60, 60}, {{0, 60}, {60, 120}, {120, 180}}},
  };
  for (const Case &c : cases) {
    std::vector<std::vector<int32_t>> files;
    for (int32_t n : c.file_reads) files.push_back(repeat(20, n));
    Files f(files);
    std::vector<length_group_t> groups = f.groups(100);
    ASSERT_EQ(groups.size(), c.ranges.size()) << c.name;
    for (size_t g = 0; g < groups.size(); g++) {
      EXPECT_EQ(groups[g].first_read, c.ranges[g][0]) << c.name << " group " << g;
      EXPECT_EQ(groups[g].end_read, c.ranges[g][1]) << c.name << " group " << g;
      EXPECT_EQ(groups[g].mappable, c.ranges[g][1] - c.ranges[g][0]) << c.name;
      EXPECT_EQ(groups[g].histogram[20], groups[g].mappable) << c.name;
      EXPECT_EQ(groups[g].paired, 0);
    }
  }
}

TEST(LengthGroup, ReadsOfUnmappableLengthCountButAreNotMappable) {
  // 60 reads of 10 and 60 of 70 bases leave the first group with nothing
  // mappable, so the next file always joins.
  Files f({repeat(10, 60), repeat(70, 60), {15, 30, 55, 56, 14}});
  std::vector<length_group_t> groups = f.groups(100);
  ASSERT_EQ(groups.size(), 1u);
  const length_group_t &g = groups[0];
  EXPECT_EQ(g.first_read, 0);
  EXPECT_EQ(g.end_read, 125);
  EXPECT_EQ(g.mappable, 3);
  EXPECT_EQ(g.shortest, 15);
  EXPECT_EQ(g.length_bound, 56);
  EXPECT_EQ(g.histogram[15] + g.histogram[30] + g.histogram[55], 3);
  EXPECT_EQ(g.histogram[14], 0);
}

TEST(LengthGroup, GroupWithoutMappableReads) {
  Files f({repeat(12, 5)});
  std::vector<length_group_t> groups = f.groups(100);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].mappable, 0);
  EXPECT_EQ(groups[0].end_read, 5);
}

TEST(LengthGroup, InterleavedPairAddsBothHalvesAndThePairedFlag) {
  ScratchDir dir;
  // The composite takes the parts array over.
  auto **parts = static_cast<seq_db_t **>(ryx_malloc(2 * sizeof(seq_db_t *)));
  parts[0] = open_reads(dir, "a.fa", repeat(25, 4));
  parts[1] = open_reads(dir, "b.fa", repeat(40, 4));
  seq_db_t *pair = seq_db_new_interleaved(parts, 2);
  seq_db_t *single = open_reads(dir, "c.fa", repeat(18, 3));
  seq_db_t *dbs[2] = {pair, single};
  paired_setting_t *setting = paired_setting_parse("fb", "ss", 100, 300);
  paired_setting_t *settings[2] = {setting, nullptr};
  seq_file_info_t *entries[2] = {
      seq_file_info_new_pair(string_duplicate(dir.file("a.fa").c_str()), string_duplicate(dir.file("b.fa").c_str()), -1, -1),
      seq_file_info_new(string_duplicate(dir.file("c.fa").c_str()), -1, -1)};
  seq_file_info_list_t list{entries, 2, 0};
  int32_t count = 0;
  length_group_t *groups = length_groups_build(dbs, settings, &list, 2, &count, 100, kLengthGroupBuckets);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(groups[0].end_read, 11);
  EXPECT_EQ(groups[0].mappable, 11);
  EXPECT_EQ(groups[0].paired, 1);
  EXPECT_EQ(groups[0].histogram[25], 4);
  EXPECT_EQ(groups[0].histogram[40], 4);
  EXPECT_EQ(groups[0].histogram[18], 3);
  EXPECT_EQ(groups[0].shortest, 18);
  EXPECT_EQ(groups[0].length_bound, 41);
  EXPECT_EQ(length_group_first_class(&groups[0]), 0);
  EXPECT_EQ(length_group_last_class(&groups[0]), 3);
  length_groups_free(groups);
  paired_setting_free(setting);
  seq_file_info_free(entries[0]);
  seq_file_info_free(entries[1]);
  seq_db_free(single);
  seq_file_info_free_db(pair, 1);
}

TEST(LengthGroup, ClassesFollowShortestAndLongestRead) {
  struct Case {
    int32_t shortest, bound, first, last;
  } cases[] = {
      {22, 23, 1, 1},  // all reads 22 bases: [22,30) alone
      {15, 56, 0, 3},  // 15 to 55: every class
      {21, 22, 0, 0},  // bound 22 ends in [15,22)
      {29, 31, 1, 2},  // 29 and 30 bases
      {40, 41, 3, 3},
      {39, 40, 2, 2},
  };
  for (const Case &c : cases) {
    length_group_t group{};
    group.shortest = c.shortest;
    group.length_bound = c.bound;
    EXPECT_EQ(length_group_first_class(&group), c.first) << c.shortest << ".." << c.bound;
    EXPECT_EQ(length_group_last_class(&group), c.last) << c.shortest << ".." << c.bound;
  }
}

TEST(LengthGroup, CountOverAClassWindow) {
  length_group_t group{};
  group.histogram[21] = 3;
  group.histogram[22] = 5;
  group.histogram[29] = 7;
  group.histogram[30] = 11;
  EXPECT_EQ(length_group_count(&group, 15, 22), 3);
  EXPECT_EQ(length_group_count(&group, 22, 30), 12);
  EXPECT_EQ(length_group_count(&group, 30, 40), 11);
}

TEST(ReadLengths, AllTooShortOrAllTooLongStopTheRun) {
  Files short_reads({repeat(14, 3), repeat(10, 2)});
  EXPECT_EXIT(read_lengths_check(short_reads.dbs.data(), 2, nullptr, 1), testing::ExitedWithCode(1),
              "^All reads are too short to be mapped. Minimum read length allowed is 15 bp.\n$");
  Files long_reads({repeat(56, 3), repeat(80, 2)});
  EXPECT_EXIT(read_lengths_check(long_reads.dbs.data(), 2, nullptr, 1), testing::ExitedWithCode(1),
              "^All reads are too long to be mapped. Maximum read length allowed is 55 bp.\n$");
}

TEST(ReadLengths, SomeOutsideTheRangeOnlyWarn) {
  Files f({{14, 20, 60}});
  testing::internal::CaptureStderr();
  read_lengths_check(f.dbs.data(), 1, nullptr, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Some reads are too short to be mapped. Minimum read length allowed is 15 bp.\n"
            "Some reads are too long to be mapped. Maximum read length allows is 55 bp.\n");
  // The long-read setting allows 8000.
  testing::internal::CaptureStderr();
  read_lengths_check(f.dbs.data(), 1, nullptr, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Some reads are too short to be mapped. Minimum read length allowed is 15 bp.\n");
  Files fine({{15, 55}});
  testing::internal::CaptureStderr();
  read_lengths_check(fine.dbs.data(), 1, nullptr, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(BlockSize, FromMemoryClampedOrFromTheOption) {
  EXPECT_EQ(map_memory_base(16384, 1.0), (10922 - 400) / 6);
  EXPECT_EQ(map_memory_base(16384, 0.5), (5461 - 400) / 6);
  // A memory fraction of 0 gives a negative base.
  EXPECT_EQ(map_memory_base(16384, 0.0), -66);
  struct Case {
    int32_t base, masks;
    int64_t option, size;
  } cases[] = {
      {-66, 3, 0, INT64_C(8) << 20},    // negative base: the smallest block
      {1753, 4, 0, INT64_C(400) << 20},  // 438 is above 400
      {1753, 5, 0, INT64_C(350) << 20},
      {2000, 5, 0, INT64_C(400) << 20},  // exactly 400
      {2005, 5, 0, INT64_C(400) << 20},  // 401
      {35, 5, 0, INT64_C(8) << 20},      // 7
      {45, 5, 0, INT64_C(9) << 20},
      {-66, 3, 1000, 1000},              // the option wins
  };
  for (const Case &c : cases)
    EXPECT_EQ(map_block_size(c.base, c.masks, c.option), c.size) << c.base << " / " << c.masks;
}

}  // namespace
