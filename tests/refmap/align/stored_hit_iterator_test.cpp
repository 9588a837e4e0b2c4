// Stored-hit iterator: the wanted strand's hits inside the block in stored
// order, the block-end rules, positions from the stored codes, mark and
// reset, and random stored sets in the driver's order against a plain walk.
#include "refmap/align/stored_hit_iterator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "refmap/align/hit_iterator.h"
#include "refmap/ref_block.h"

namespace {

// Codes written from the byte layout: 0-127 a match run of value + 1,
// 128-191 an insertion run of value - 127, 192-254 a deletion run of
// value - 191.
const std::vector<uint8_t> kThirtyMatches = {29};
const std::vector<uint8_t> kClippedStart = {130, 26};      // 3 insertions, 27 matches
const std::vector<uint8_t> kDeletionInside = {9, 193, 19};  // 10 matches, 2 deletions, 20 matches
const std::vector<uint8_t> kClippedEnd = {24, 132};         // 25 matches, 5 insertions

struct stored_t {
  int32_t sequence;
  int32_t offset;
  const std::vector<uint8_t> *code;
  int32_t reverse;
};

void get_stored(const void *hits, int32_t index, stored_hit_t *hit) {
  const stored_t &s = static_cast<const std::vector<stored_t> *>(hits)->at(index);
  hit->sequence = s.sequence;
  hit->offset = s.offset;
  hit->code = s.code->data();
  hit->code_length = static_cast<int32_t>(s.code->size());
  hit->reverse = s.reverse;
}

// A block of three pieces: sequence 3 from offset 1000 (400 bases), all of
// sequence 4 (300) and the first 500 bases of sequence 5, each after a
// spacer of 128 positions.
struct block_fixture_t {
  int32_t starts[3] = {128, 656, 1084};
  int32_t sequences[3] = {3, 4, 5};
  int32_t offsets[3] = {1000, 0, 0};
  int32_t lengths[3] = {400, 300, 500};
  ref_block_desc_t desc{};
  ref_block_t block{};
  block_fixture_t() {
    desc.piece_count = 3;
    desc.length = 1712;
    desc.starts = starts;
    desc.sequences = sequences;
    desc.offsets = offsets;
    desc.lengths = lengths;
    block.length = desc.length;
    block.desc = &desc;
  }
};

int64_t block_pos(const ref_block_t *block, int32_t sequence, int32_t offset) {
  const ref_block_desc_t *desc = block->desc;
  const int32_t piece = sequence - desc->sequences[0];
  return static_cast<int64_t>(desc->starts[piece]) + offset - desc->offsets[piece];
}

struct walked_t {
  int32_t sequence, offset;
  bool operator==(const walked_t &o) const { return sequence == o.sequence && offset == o.offset; }
};

std::vector<walked_t> walk(const std::vector<stored_t> &hits, const block_fixture_t &fx, int32_t strand,
                           int32_t read_length) {
  stored_hit_list_t list = {read_length, 25, 27, static_cast<int32_t>(hits.size()), &hits, get_stored};
  hit_iterator_t *it = stored_hit_iterator_new(&list, &fx.block, strand, block_pos);
  std::vector<walked_t> out;
  while (hit_iterator_next(it)) {
    const stored_hit_t *hit = stored_hit_iterator_current(it);
    out.push_back({hit->sequence, hit->offset});
  }
  EXPECT_EQ(hit_iterator_next(it), 0);  // stays at the end
  stored_hit_iterator_free(it);
  return out;
}

TEST(StoredHitIterator, NoStoredHits) {
  block_fixture_t fx;
  std::vector<stored_t> none;
  EXPECT_TRUE(walk(none, fx, 0, 30).empty());
  EXPECT_TRUE(walk(none, fx, 1, 30).empty());
}

TEST(StoredHitIterator, InterleavedStrandsYieldOnlyTheWantedOneInStoredOrder) {
  block_fixture_t fx;
  // Before the block (sequence 2, and sequence 3 below offset 1000), then
  // inside, with the strands mixed.
  const std::vector<stored_t> hits = {
      {2, 50, &kThirtyMatches, 0},    {3, 999, &kThirtyMatches, 1},   {3, 999, &kThirtyMatches, 0},
      {3, 1000, &kThirtyMatches, 1},  {3, 1010, &kThirtyMatches, 0},  {3, 1200, &kThirtyMatches, 1},
      {4, 5, &kThirtyMatches, 0},     {4, 250, &kThirtyMatches, 1},   {5, 100, &kThirtyMatches, 0},
      {5, 300, &kThirtyMatches, 1},   {6, 0, &kThirtyMatches, 0},
  };
  EXPECT_EQ(walk(hits, fx, 0, 30), (std::vector<walked_t>{{3, 1010}, {4, 5}, {5, 100}}));
  EXPECT_EQ(walk(hits, fx, 1, 30), (std::vector<walked_t>{{3, 1000}, {3, 1200}, {4, 250}, {5, 300}}));
}

// One strand's hits stored before the other's, as the driver stores a
// block's hits: a search over both strands at once may probe an
// other-strand hit and start past wanted ones; the wanted strand alone
// never does.
TEST(StoredHitIterator, OtherStrandGroupNeverMovesTheStartPastWantedHits) {
  block_fixture_t fx;
  std::vector<stored_t> hits;
  for (int k = 0; k < 6; k++) hits.push_back({3, 1000 + 20 * k, &kThirtyMatches, 1});
  for (int k = 0; k < 3; k++) hits.push_back({3, 1100 + 20 * k, &kThirtyMatches, 0});
  EXPECT_EQ(walk(hits, fx, 1, 30).size(), 6u);
  EXPECT_EQ(walk(hits, fx, 0, 30).size(), 3u);
}

TEST(StoredHitIterator, BlockEndRules) {
  block_fixture_t fx;
  struct case_t {
    int32_t offset;
    const std::vector<uint8_t> *code;
    bool yielded;
  } cases[] = {
      {339, &kThirtyMatches, true},     // 339 + 60 + 100 <= 500: not measured
      {470, &kThirtyMatches, true},     // ends at 500
      {471, &kThirtyMatches, false},    // ends at 501: the iteration ends
      {475, &kClippedEnd, true},        // 25 reference bases: ends at 500
      {476, &kDeletionInside, false},   // 32 reference bases
      {500, &kClippedEnd, false},       // starts at the piece end, runs past it
      {501, &kThirtyMatches, false},    // starts past the piece end
  };
  for (const case_t &c : cases) {
    const std::vector<stored_t> hits = {{4, 10, &kThirtyMatches, 0}, {5, c.offset, c.code, 0},
                                        {5, 100000, &kThirtyMatches, 0}};
    const std::vector<walked_t> got = walk(hits, fx, 0, 30);
    ASSERT_EQ(got.size(), c.yielded ? 2u : 1u) << "offset " << c.offset;
  }
  // A hit on a later sequence than the block's last piece ends the walk.
  const std::vector<stored_t> later = {{6, 0, &kThirtyMatches, 0}, {4, 10, &kThirtyMatches, 0}};
  EXPECT_TRUE(walk(later, fx, 0, 30).empty());
}

TEST(StoredHitIterator, PositionsScoresAndCodes) {
  block_fixture_t fx;
  const std::vector<stored_t> hits = {{3, 1100, &kClippedStart, 0}, {4, 20, &kDeletionInside, 0},
                                      {5, 40, &kClippedEnd, 0}};
  stored_hit_list_t list = {30, 25, 27, 3, &hits, get_stored};
  hit_iterator_t *it = stored_hit_iterator_new(&list, &fx.block, 0, block_pos);
  EXPECT_EQ(hit_iterator_score(it), 25);
  EXPECT_EQ(hit_iterator_prescore(it), 27);
  EXPECT_EQ(hit_iterator_had_candidates(it), 0);
  EXPECT_EQ(stored_hit_iterator_list(it)->count, 3);
  struct expect_t {
    int32_t aligned_start, read_start, read_end, aligned_end;
  } expected[] = {
      // 128 + 100: 3 leading insertions, 27 reference bases, read span 30.
      {228, 225, 255, 255},
      // 656 + 20: 32 reference bases, read span 30.
      {676, 676, 708, 708},
      // 1084 + 40: 25 reference bases, read span 25, 5 read bases after.
      {1124, 1124, 1154, 1149},
  };
  for (const expect_t &e : expected) {
    ASSERT_EQ(hit_iterator_next(it), 1);
    EXPECT_EQ(hit_iterator_aligned_start(it), e.aligned_start);
    EXPECT_EQ(hit_iterator_read_start(it), e.read_start);
    EXPECT_EQ(hit_iterator_min_start(it), e.read_start);
    EXPECT_EQ(hit_iterator_max_start(it), e.read_start);
    EXPECT_EQ(hit_iterator_read_end(it), e.read_end);
    EXPECT_EQ(hit_iterator_min_end(it), e.read_end);
    EXPECT_EQ(hit_iterator_max_end(it), e.read_end);
    EXPECT_EQ(hit_iterator_aligned_end(it), e.aligned_end);
    EXPECT_EQ(hit_iterator_min_pos(it), e.aligned_start);
    EXPECT_EQ(hit_iterator_max_pos(it), e.aligned_end);
    const stored_hit_t *hit = stored_hit_iterator_current(it);
    EXPECT_EQ(hit_iterator_code_length(it), hit->code_length);
    EXPECT_EQ(hit_iterator_code_data(it), hit->code);
  }
  EXPECT_EQ(hit_iterator_next(it), 0);
  stored_hit_iterator_free(it);
}

TEST(StoredHitIterator, MarkAndReset) {
  block_fixture_t fx;
  std::vector<stored_t> hits;
  for (int k = 0; k < 5; k++) hits.push_back({4, 10 * k, &kThirtyMatches, 0});
  stored_hit_list_t list = {30, 30, 30, 5, &hits, get_stored};
  hit_iterator_t *it = stored_hit_iterator_new(&list, &fx.block, 0, block_pos);
  hit_iterator_mark(it);  // before the first hit: a reset starts over
  ASSERT_EQ(hit_iterator_next(it), 1);
  ASSERT_EQ(hit_iterator_next(it), 1);
  hit_iterator_reset_to_mark(it);
  ASSERT_EQ(hit_iterator_next(it), 1);
  EXPECT_EQ(stored_hit_iterator_current(it)->offset, 0);
  ASSERT_EQ(hit_iterator_next(it), 1);
  hit_iterator_mark(it);  // at offset 10
  while (hit_iterator_next(it)) {
  }
  hit_iterator_reset_to_mark(it);
  ASSERT_EQ(hit_iterator_next(it), 1);
  EXPECT_EQ(stored_hit_iterator_current(it)->offset, 10);
  ASSERT_EQ(hit_iterator_next(it), 1);
  EXPECT_EQ(stored_hit_iterator_current(it)->offset, 20);
  stored_hit_iterator_free(it);
}

TEST(StoredHitIterator, CompareOrdersByStrandSequenceAndOffset) {
  struct case_t {
    stored_t hit;
    int32_t strand;
    int expected;
  } cases[] = {
      {{3, 1000, &kThirtyMatches, 0}, 0, 0},  {{3, 1000, &kThirtyMatches, 1}, 0, -1},
      {{3, 1000, &kThirtyMatches, 1}, 1, 0},  {{3, 999, &kThirtyMatches, 0}, 0, -1},
      {{3, 1001, &kThirtyMatches, 0}, 0, 1},  {{2, 5000, &kThirtyMatches, 0}, 0, -1},
      {{4, 0, &kThirtyMatches, 0}, 0, 1},     {{4, 0, &kThirtyMatches, 0}, 1, -1},
  };
  for (const case_t &c : cases) {
    std::vector<stored_t> one = {c.hit};
    stored_hit_t hit;
    get_stored(&one, 0, &hit);
    EXPECT_EQ(stored_hit_compare(&hit, 3, 1000, c.strand), c.expected)
        << c.hit.sequence << ":" << c.hit.offset << " strand " << c.hit.reverse << "/" << c.strand;
  }
}

// Random stored sets in the driver's order: per earlier block the hits of
// one strand and then those of the other, each strand ascending over the
// whole array. The iterator must yield exactly what a plain walk over the
// wanted strand from the first hit at or after the block start yields.
TEST(StoredHitIterator, RandomStoredSetsMissNothing) {
  std::mt19937 rng(99);
  block_fixture_t fx;
  const std::vector<uint8_t> *codes[] = {&kThirtyMatches, &kClippedStart, &kDeletionInside, &kClippedEnd};
  for (int round = 0; round < 500; round++) {
    std::vector<stored_t> all[2];
    for (int strand = 0; strand < 2; strand++) {
      const int n = static_cast<int>(rng() % 12);
      for (int k = 0; k < n; k++) {
        const int32_t sequence = 2 + static_cast<int32_t>(rng() % 5);
        all[strand].push_back({sequence, static_cast<int32_t>(rng() % 1600), codes[rng() % 4], strand});
      }
      std::sort(all[strand].begin(), all[strand].end(), [](const stored_t &a, const stored_t &b) {
        return a.sequence != b.sequence ? a.sequence < b.sequence : a.offset < b.offset;
      });
    }
    // Cut both strands into the same number of groups and interleave them,
    // the strand order of each group drawn at random.
    const int groups = 1 + static_cast<int>(rng() % 3);
    std::vector<stored_t> hits;
    size_t at[2] = {0, 0};
    for (int g = 0; g < groups; g++) {
      const int first = static_cast<int>(rng() % 2);
      for (int s : {first, 1 - first}) {
        const size_t end = g + 1 == groups ? all[s].size() : std::min(all[s].size(), at[s] + rng() % 6);
        for (; at[s] < end; at[s]++) hits.push_back(all[s][at[s]]);
      }
    }
    for (int strand = 0; strand < 2; strand++) {
      std::vector<walked_t> expected;
      bool started = false;
      for (const stored_t &h : hits) {
        if (h.reverse != strand) continue;
        if (!started) {
          started = h.sequence > 3 || (h.sequence == 3 && h.offset >= 1000);
          if (!started) continue;
        }
        const int32_t reference = h.code == &kDeletionInside ? 32 : h.code == &kClippedEnd ? 25 : h.code == &kClippedStart ? 27 : 30;
        const bool inside = h.sequence < 5 || (h.sequence == 5 && h.offset + reference <= 500);
        if (!inside) break;
        expected.push_back({h.sequence, h.offset});
      }
      ASSERT_EQ(walk(hits, fx, strand, 30), expected) << "round " << round << " strand " << strand;
    }
  }
}

}  // namespace
