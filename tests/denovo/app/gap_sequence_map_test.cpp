// Gap-sequence map: entries and their merged sequences, the stage-file
// piece against a hand-written fixture, round trips, and refused pieces.
#include "denovo/app/gap_sequence_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "seqio/seq_record.h"
#include "test_support.h"
#include "tests/denovo/reads/piece_files.h"

namespace {

std::string written(const gap_sequence_map_t *map) {
  return denovo_reads_test::written_bytes([&](FILE *f) { gap_sequence_map_write(f, map); });
}

FILE *file_of(const std::string &bytes) {
  FILE *f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  return f;
}

gap_sequence_t entry(int32_t offset, int32_t end, const std::vector<uint8_t> &codes) {
  seq_record_t *r = seq_record_new(static_cast<uint32_t>(codes.size()));
  if (!codes.empty()) memcpy(r->residues, codes.data(), codes.size());
  return {offset, end, r};
}

TEST(GapSequenceMap, GoldenPiece) {
  const std::string golden = ryx_test::hex_fixture("denovo/app/one_gap.gapmap.hex");
  FILE *f = file_of(golden);
  gap_sequence_map_t *map = gap_sequence_map_read(f);
  EXPECT_EQ(fgetc(f), EOF);
  fclose(f);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->count, 1u);
  gap_sequence_t e;
  ASSERT_EQ(gap_sequence_map_find(map, 0x80000007u, &e), 1);
  EXPECT_EQ(e.offset, 3);
  EXPECT_EQ(e.end, 2);
  ASSERT_EQ(e.sequence->length, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(e.sequence->residues), 5), std::string("\0\1\2\3\4", 5));
  EXPECT_EQ(gap_sequence_map_find(map, 7u, &e), 0);
  EXPECT_EQ(written(map), golden);
  gap_sequence_map_free(map);
}

TEST(GapSequenceMap, NullMapIsOneZeroByte) {
  EXPECT_EQ(written(nullptr), std::string(1, '\0'));
  FILE *f = file_of(std::string(1, '\0'));
  EXPECT_EQ(gap_sequence_map_read(f), nullptr);
  fclose(f);
}

TEST(GapSequenceMap, RoundTripAndTakenSequences) {
  gap_sequence_map_t *map = gap_sequence_map_new();
  for (uint32_t i = 0; i < 300; i++) {
    const gap_sequence_t e = entry(static_cast<int32_t>(i % 17), static_cast<int32_t>(i % 5),
                                   std::vector<uint8_t>(i % 40, static_cast<uint8_t>(i % 5)));
    EXPECT_EQ(gap_sequence_map_insert(map, i * 3 | (i % 2 ? 0x80000000u : 0), &e), 1);
  }
  gap_sequence_t again = entry(0, 0, {1});
  EXPECT_EQ(gap_sequence_map_insert(map, 3 | 0x80000000u, &again), 0);
  seq_record_free(again.sequence);
  // A taken sequence is the caller's; the entry stays with length 0.
  seq_record_t *taken = gap_sequence_map_take_sequence(map, 6);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->length, 2u);
  EXPECT_EQ(gap_sequence_map_take_sequence(map, 6), nullptr);
  seq_record_free(taken);
  const std::string bytes = written(map);
  FILE *f = file_of(bytes);
  gap_sequence_map_t *back = gap_sequence_map_read(f);
  fclose(f);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->count, map->count);
  for (uint32_t i = 0; i < 300; i++) {
    const uint32_t key = i * 3 | (i % 2 ? 0x80000000u : 0);
    gap_sequence_t a, b;
    ASSERT_EQ(gap_sequence_map_find(map, key, &a), 1);
    ASSERT_EQ(gap_sequence_map_find(back, key, &b), 1);
    EXPECT_EQ(a.offset, b.offset);
    EXPECT_EQ(a.end, b.end);
    const uint32_t length = a.sequence == nullptr ? 0 : a.sequence->length;
    ASSERT_EQ(b.sequence->length, length);
    if (length > 0) {
      EXPECT_EQ(memcmp(a.sequence->residues, b.sequence->residues, length), 0);
    }
  }
  EXPECT_EQ(written(back), bytes);
  gap_sequence_map_free(back);
  gap_sequence_map_free(map);
}

TEST(GapSequenceMapDeath, RefusedPieces) {
  const std::string golden = ryx_test::hex_fixture("denovo/app/one_gap.gapmap.hex");
  const std::string entry_bytes = golden.substr(9);
  struct Case {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"edge twice", golden.substr(0, 1) + std::string("\2\0\0\0\0\0\0\0", 8) + entry_bytes + entry_bytes,
       "ERROR: edge: 80000007 is already present in map\n"},
      {"presence byte 2", std::string(1, '\2'), "gap_sequence_map_read: presence byte is 2"},
      {"count beyond the file", golden.substr(0, 1) + std::string("\x10\0\0\0\0\0\0\0", 8) + entry_bytes,
       "gap_sequence_map_read: 16 entries do not fit"},
      {"residue above 4", golden.substr(0, golden.size() - 1) + "\x05", "is not a base code"},
      {"negative offset", golden.substr(0, 13) + std::string("\xff\xff\xff\xff", 4) + golden.substr(17),
       "negative number of bases"},
      {"residues cut short", golden.substr(0, golden.size() - 2), "do not fit in the file"},
      {"entry cut short", golden.substr(0, 15), "1 entries do not fit"},
      {"offset beyond a side", golden.substr(0, 13) + std::string("\x01\x20\0\0", 4) + golden.substr(17),
       "gap_sequence_map_read: entry 0 covers more than 8192 bases on one side"},
      {"end beyond a side", golden.substr(0, 17) + std::string("\x01\x20\0\0", 4) + golden.substr(21),
       "gap_sequence_map_read: entry 0 covers more than 8192 bases on one side"},
      {"merged sequence too long", golden.substr(0, 21) + std::string("\x01\x40\0\0", 4) + golden.substr(25),
       "gap_sequence_map_read: the merged sequence of entry 0 is longer than 16384 residues"},
  };
  for (const Case &c : cases) {
    EXPECT_EXIT(
        {
          FILE *f = file_of(c.bytes);
          gap_sequence_map_read(f);
        },
        testing::ExitedWithCode(1), c.message)
        << c.name;
  }
}

TEST(GapSequenceMap, LargestValuesLoad) {
  // Offset and end of 8192 (00 20 00 00) are the largest a side gives.
  const std::string golden = ryx_test::hex_fixture("denovo/app/one_gap.gapmap.hex");
  const std::string side("\0\x20\0\0", 4);
  FILE *f = file_of(golden.substr(0, 13) + side + side + golden.substr(21));
  gap_sequence_map_t *map = gap_sequence_map_read(f);
  fclose(f);
  gap_sequence_t e;
  ASSERT_EQ(gap_sequence_map_find(map, 0x80000007u, &e), 1);
  EXPECT_EQ(e.offset, 8192);
  EXPECT_EQ(e.end, 8192);
  gap_sequence_map_free(map);
}

TEST(GapSequenceMapDeath, EdgesOutsideTheGraph) {
  gap_sequence_map_t *map = gap_sequence_map_new();
  const gap_sequence_t e = entry(1, 1, {0, 1});
  gap_sequence_map_insert(map, 0x80000007u, &e);
  gap_sequence_map_check_edges(map, 8);  // slot 7 of 8, reverse strand: fine
  gap_sequence_map_check_edges(nullptr, 0);
  EXPECT_EXIT(gap_sequence_map_check_edges(map, 7), testing::ExitedWithCode(1),
              "^gap_sequence_map_read: edge 80000007 is not an edge of the graph\n$");
  EXPECT_EXIT(gap_sequence_map_check_edges(map, 0), testing::ExitedWithCode(1), "edge 80000007 is not an edge");
  gap_sequence_map_free(map);
}

}  // namespace
