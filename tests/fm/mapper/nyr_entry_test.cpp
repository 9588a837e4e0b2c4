// The bytes of single read records: entry flags and counts, hit flags,
// mapping quality and the wrap of positions at or past a sequence's end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fm/mapper/nyr_entry.h"
#include "fm/mapper/nyr_read_file.h"
#include "fm/mapper/nyr_reference_file.h"
#include "fm/mapper/nyr_scoring_scheme.h"
#include "memory_stream.h"
#include "test_support.h"

namespace {

using ryx_test::hex_bytes;

// Three reference sequences: 1000 and 50 bases (circular), 300 bases;
// indexes take 1 byte, positions 2.
const uint32_t kLengths[] = {1000, 300, 50};
constexpr uint32_t kCount = 3;
constexpr uint32_t kLongest = 1000;

std::string serialized(NYREntry const &entry) {
  ryx_test::SinkLog log;
  ryx_test::MemoryWriter writer(&log);
  entry.serialize(&writer, kCount, kLongest, kLengths);
  return log.bytes;
}

struct HitSpec {
  uint32_t sequence, position;
  bool shifted, reverse, second_set, ga_mark;
  uint8_t quality;
  std::vector<uint8_t> code;
};

NYREntry make_entry(bool bisulphite, bool paired, uint32_t hit_total, std::vector<HitSpec> const &hits) {
  NYREntry entry(bisulphite);
  for (HitSpec const &h : hits)
    entry.add_alignment(h.sequence, h.position, h.shifted, h.reverse, h.code, h.second_set, h.ga_mark, h.quality);
  entry.set_paired(paired);
  entry.add_hits(hit_total);
  return entry;
}

constexpr uint8_t kNone = NYRAlignment::kNoQuality;

TEST(NYREntry, EntryFlagsAndCounts) {
  const HitSpec hit = {1, 20, false, false, false, false, kNone, {0x09}};
  const std::string hit_bytes = hex_bytes("01 01 14 00 00 09");
  struct {
    const char *what;
    bool bisulphite, paired;
    uint32_t hit_total;
    std::vector<HitSpec> hits;
    std::string expected;
  } const cases[] = {
      {"unmatched", false, false, 0, {}, hex_bytes("00")},
      {"unmatched mate of a pair", false, true, 0, {}, hex_bytes("08")},
      {"unmatched in a bisulphite run", true, false, 0, {}, hex_bytes("00")},
      {"one hit of one", false, false, 1, {hit}, hex_bytes("01") + hit_bytes},
      {"one hit of one, bisulphite", true, false, 1, {hit}, hex_bytes("21") + hit_bytes},
      {"one hit of one, paired", false, true, 1, {hit}, hex_bytes("09") + hit_bytes},
      {"one hit of five", false, false, 5, {hit}, hex_bytes("03 03") + hit_bytes},
      {"two hits of five", false, false, 5, {hit, hit}, hex_bytes("07 03 00") + hit_bytes + hit_bytes},
      {"two hits of five, paired, bisulphite", true, true, 5, {hit, hit},
       hex_bytes("2F 03 00") + hit_bytes + hit_bytes},
      {"one hit of 256: total - 2 takes a long flex number", false, false, 256, {hit},
       hex_bytes("03 FE FE 00") + hit_bytes},
      {"one hit of 255", false, false, 255, {hit}, hex_bytes("03 FD") + hit_bytes},
      // A total below the stored hits would leave hits the reader never
      // expects; the total is raised to their number.
      {"three hits, total never added", false, false, 0, {hit, hit, hit},
       hex_bytes("07 01 01") + hit_bytes + hit_bytes + hit_bytes},
      {"one hit, total never added", false, false, 0, {hit}, hex_bytes("01") + hit_bytes},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(serialized(make_entry(c.bisulphite, c.paired, c.hit_total, c.hits)), c.expected);
  }
}

TEST(NYREntry, HitFlagsQualityAndWrap) {
  std::vector<uint8_t> long_code(300, 0x7F);
  struct {
    const char *what;
    HitSpec hit;
    std::string expected;
  } const cases[] = {
      {"forward, no quality", {0, 7, false, false, false, false, kNone, {0x09}}, hex_bytes("01 00 07 00 00 09")},
      {"reverse, no quality", {0, 7, false, true, false, false, kNone, {0x09}}, hex_bytes("01 00 07 00 01 09")},
      {"quality 0", {0, 7, false, false, false, false, 0, {0x09}}, hex_bytes("01 00 07 00 02 00 09")},
      {"quality 254", {0, 7, false, true, false, false, 254, {0x09}}, hex_bytes("01 00 07 00 03 FE 09")},
      {"G->A mark", {0, 7, false, false, false, true, kNone, {0x09}}, hex_bytes("01 00 07 00 08 09")},
      {"second index set", {0, 7, false, false, true, false, kNone, {0x09}}, hex_bytes("01 00 07 00 10 09")},
      {"last position before the end", {0, 999, false, false, false, false, kNone, {0x09}},
       hex_bytes("01 00 E7 03 00 09")},
      // The shifted copy of a circular occurrence: one length further on.
      {"shifted", {0, 150, true, true, false, false, 37, {0x1D}}, hex_bytes("01 00 96 00 07 25 00 1D")},
      {"shifted at position 0", {2, 0, true, false, false, false, kNone, {0x09}}, hex_bytes("01 02 00 00 04 00 09")},
      // Positions at or past the end are reduced, never cut to the field.
      {"position equal to the length", {0, 1000, false, false, false, false, kNone, {0x09}},
       hex_bytes("01 00 00 00 04 00 09")},
      {"position past the end", {2, 70, false, false, false, false, kNone, {0x09}},
       hex_bytes("01 02 14 00 04 00 09")},
      {"position two lengths on", {0, 2500, false, false, false, false, kNone, {0x09}},
       hex_bytes("01 00 F4 01 04 01 09")},
      {"shifted and past the end", {0, 1990, true, false, false, true, 0, {0x7F, 0x47}},
       hex_bytes("02 00 DE 03 0E 00 01 7F 47")},
      {"position of many lengths on the short sequence", {2, 65535 + 50, false, false, false, false, kNone, {0x09}},
       hex_bytes("01 02 23 00 04 FE 1E 05 09")},
      {"300 code bytes", {1, 0, false, false, false, false, kNone, long_code},
       hex_bytes("FE 2C 01 01 00 00 00") + std::string(300, '\x7F')},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(serialized(make_entry(false, false, 1, {c.hit})), hex_bytes("01") + c.expected);
  }
}

TEST(NYRFields, ReferenceFileReadFileAndSchemeEntries) {
  ryx_test::SinkLog log;
  ryx_test::MemoryWriter writer(&log);

  NYRReferenceFile reference("chr.fa");
  reference.add(5, false);
  reference.add(70000, true);
  reference.add(12, false);
  EXPECT_EQ(reference.sequence_count(), 3U);
  EXPECT_EQ(reference.total_length(), 70017U);
  EXPECT_EQ(reference.sequence_longest(), 70000U);
  EXPECT_TRUE(reference.get_sequence(1).circular);
  reference.serialize(&writer);
  EXPECT_EQ(log.bytes, hex_bytes("00 03 00 00 00 00 00 00 00 81 11 01 00 00 00 00 00 06 63 68 72 2E 66 61"));

  struct {
    NYRReadFile file;
    std::string expected;
  } const reads[] = {
      {NYRReadFile("a.fq", false), hex_bytes("00 02 00 00 00 00 00 00 00 1E 00 00 00 00 00 00 00 04 61 2E 66 71")},
      {NYRReadFile("a.fq", true), hex_bytes("02 02 00 00 00 00 00 00 00 1E 00 00 00 00 00 00 00 04 61 2E 66 71")},
      {NYRReadFile("a.fq", "b.fq", true),
       hex_bytes("03 02 00 00 00 00 00 00 00 1E 00 00 00 00 00 00 00 04 61 2E 66 71 04 62 2E 66 71")},
      {NYRReadFile("a.fq", nullptr, true), hex_bytes("02 02 00 00 00 00 00 00 00 1E 00 00 00 00 00 00 00 04 61 2E 66 71")},
  };
  for (auto const &r : reads) {
    NYRReadFile file = r.file;
    file.add(10);
    file.add(20);
    log.bytes.clear();
    file.serialize(&writer);
    EXPECT_EQ(log.bytes, r.expected);
  }

  log.bytes.clear();
  NYRScoringScheme(3, 5, 4, 2, 0, 1, false).serialize(&writer);
  EXPECT_EQ(log.bytes, hex_bytes("03 06 00 02 00 01 00 01 00 03 00 FB FF FB FF FB FF FF FF 00"));
}

TEST(NYREntryDeathTest, HitOnAnUnknownReferenceSequence) {
  NYREntry entry = make_entry(false, false, 1, {{3, 0, false, false, false, false, kNone, {0x09}}});
  EXPECT_EXIT(serialized(entry), testing::ExitedWithCode(1), "^Hit on reference sequence 3 of only 3\n$");
}

TEST(NYREntryDeathTest, ShortWriteIsTheWriteError) {
  ryx_test::SinkLog log;
  log.limit = 3;
  NYREntry entry = make_entry(false, false, 1, {{0, 7, false, false, false, false, kNone, {0x09}}});
  EXPECT_EXIT(
      {
        ryx_test::MemoryWriter writer(&log, "sink");
        entry.serialize(&writer, kCount, kLongest, kLengths);
      },
      testing::ExitedWithCode(1), "^Error while writing file sink\n$");
}

}  // namespace
