// Filing alignments into a read's result: hit counts from the search,
// flags, clearing, combining and the numbering of hits.
#include "fm/mapper/mapper_result.h"

#include <gtest/gtest.h>

#include "alignment_fixture.h"
#include "seeding_fixture.h"

namespace {

using align_test::code_of;
using align_test::hex_of;
using namespace seed_test;

// A search over set with the given number of occurrences and strand.
MapperSearch search_with(const MapperIndex *set, unsigned long long occurrences, uint32_t strand) {
  MapperSearch s;
  s.index = set;
  s.strand = strand;
  s.search.forward = {100, 100 + occurrences};
  s.search.reverse = {7, 7 + occurrences};
  return s;
}

TEST(MapperResult, AddClearAndHitNumbering) {
  const std::vector<Reference> refs = references({letters("ACGTACGTTGCA")});
  const MapperIndex main = build_index(refs, 4);
  const MapperIndex converted = build_index(refs, 4, 0, true);
  OwnedRead t(letters("ACGT"));
  MapperResult result;
  EXPECT_EQ(result.mapping_quality, 255);
  EXPECT_EQ(result.hit_count(), 0u);

  Alignment a = code_of("I2 M10");
  a.tag = 77;
  result.add_alignment(&t.read, search_with(&main, 3, 1), std::move(a), 5);
  EXPECT_TRUE(a.code.empty());
  EXPECT_EQ(a.tag, 0u);
  result.ga_mark = true;
  result.add_alignment(&t.read, search_with(&converted, 2, 0), code_of("M12"), 0);
  result.add_alignment(&t.read, search_with(&main, 1, 1), code_of("M3 D1 M9"), 9);

  ASSERT_EQ(result.strand[0].alignments.size(), 1u);
  ASSERT_EQ(result.strand[1].alignments.size(), 2u);
  EXPECT_EQ(result.strand[0].hit_total, 2u);
  EXPECT_EQ(result.strand[1].hit_total, 4u);
  EXPECT_EQ(result.hit_count(), 6u);
  const MapperAlignment &first = result.strand[1].alignments[0];
  EXPECT_EQ(first.read, &t.read);
  EXPECT_EQ(first.hit_count, 3u);
  EXPECT_EQ(first.reference_offset, 5u);
  EXPECT_EQ(first.flags, 0);
  EXPECT_EQ(first.alignment.tag, 77u);
  EXPECT_EQ(hex_of(first.alignment), "81 09");
  EXPECT_EQ(first.search.search.forward.begin, 100u);
  EXPECT_EQ(result.strand[0].alignments[0].flags, kAlignmentSecondSet | kAlignmentGaMark);
  EXPECT_EQ(result.strand[1].alignments[1].flags, kAlignmentGaMark);

  // Hits: strand 0 first (2), then strand 1 alignment by alignment (3, 1).
  const struct {
    uint64_t hit;
    uint32_t strand, alignment, occurrence;
  } hits[] = {{0, 0, 0, 0}, {1, 0, 0, 1}, {2, 1, 0, 0}, {4, 1, 0, 2}, {5, 1, 1, 0}};
  for (const auto &h : hits) {
    uint32_t occurrence = 99;
    const MapperAlignment *found = result.find_hit(h.hit, &occurrence);
    EXPECT_EQ(found, &result.strand[h.strand].alignments[h.alignment]) << h.hit;
    EXPECT_EQ(occurrence, h.occurrence) << h.hit;
  }
  uint32_t occurrence = 0;
  EXPECT_EQ(result.find_hit(6, &occurrence), nullptr);

  result.best_score = 40;
  result.mapping_quality = 60;
  result.clear();
  EXPECT_TRUE(result.strand[0].alignments.empty());
  EXPECT_TRUE(result.strand[1].alignments.empty());
  EXPECT_EQ(result.hit_count(), 0u);
  EXPECT_EQ(result.best_score, 0);
  EXPECT_EQ(result.mapping_quality, 255);
  EXPECT_TRUE(result.ga_mark);

  // Filing again reuses the entries and their transcript buffers; the
  // caller keeps its room.
  const uint8_t *buffer = result.strand[1].alignments.begin()->alignment.code.data();
  Alignment next = code_of("M4 I2");
  result.add_alignment(&t.read, search_with(&main, 1, 1), std::move(next), 0);
  EXPECT_TRUE(next.code.empty());
  EXPECT_GE(next.code.capacity(), 2u);
  ASSERT_EQ(result.strand[1].alignments.size(), 1u);
  EXPECT_EQ(result.strand[1].alignments[0].alignment.code.data(), buffer);
  EXPECT_EQ(hex_of(result.strand[1].alignments[0].alignment), "03 81");
  EXPECT_EQ(result.strand[1].alignments[0].reference_offset, 0u);
  EXPECT_EQ(result.hit_count(), 1u);
}

TEST(MapperResult, CombineMovesAlignmentsAndTakesTheScores) {
  const MapperIndex set = build_index(references({letters("ACGTACGTTGCA")}), 4);
  OwnedRead t(letters("ACGT"));
  MapperResult into, other;
  into.add_alignment(&t.read, search_with(&set, 2, 0), code_of("M1"), 0);
  into.best_score = 3;
  other.add_alignment(&t.read, search_with(&set, 4, 0), code_of("M2"), 0);
  other.add_alignment(&t.read, search_with(&set, 1, 1), code_of("M3"), 0);
  other.add_alignment(&t.read, search_with(&set, 5, 0), code_of("M4"), 0);
  other.best_score = 9;
  other.mapping_quality = 12;
  into.combine(&other);
  EXPECT_EQ(into.best_score, 9);
  EXPECT_EQ(into.mapping_quality, 12);
  ASSERT_EQ(into.strand[0].alignments.size(), 3u);
  EXPECT_EQ(hex_of(into.strand[0].alignments[0].alignment), "00");
  EXPECT_EQ(hex_of(into.strand[0].alignments[1].alignment), "01");
  EXPECT_EQ(hex_of(into.strand[0].alignments[2].alignment), "03");
  EXPECT_EQ(into.strand[0].hit_total, 11u);
  EXPECT_EQ(into.strand[1].hit_total, 1u);
  EXPECT_EQ(other.hit_count(), 0u);
  EXPECT_TRUE(other.strand[0].alignments.empty());
  EXPECT_TRUE(other.strand[1].alignments.empty());
}

}  // namespace
