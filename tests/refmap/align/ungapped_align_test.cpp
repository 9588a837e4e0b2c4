// Ungapped alignment: every code of random cases rescores to the scorer's
// score against the block, covers the whole query and stays on the
// candidate's diagonal; the worked codes of the clipping rules, the perfect
// hit and the colour-space state change.
#include "refmap/align/ungapped_align.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "refmap/align/ungapped_scorer.h"
#include "seqio/alignment_code.h"
#include "tests/refmap/align/ungapped_model.h"

namespace {

using namespace ungapped_model;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomCandidates = 10000;
#else
constexpr int kRandomCandidates = 100000;
#endif

struct aligned_t {
  std::vector<uint8_t> bytes;
  int32_t position;
  int score;
};

// Scores and aligns one candidate of one query.
aligned_t align_one(const packed_t &block, const std::vector<int> &query, uint32_t index, int64_t p, int x, int c,
                    int mode) {
  std::vector<seq_record_t *> queries(index + 1, nullptr);
  queries[index] = record(query);
  const candidate_t cand = {static_cast<uint32_t>(static_cast<int32_t>(p)), index};
  ungapped_scorer_t *s = ungapped_scorer_new(queries.data(), static_cast<int32_t>(queries.size()),
                                             block.bases.data(), block.known.data(), static_cast<int16_t>(x),
                                             static_cast<int16_t>(c), mode);
  const uint16_t score = ungapped_scorer_score(s, &cand, 1)[0];
  alignment_code_t *code = alignment_code_new();
  ungapped_align(s, cand, score, code);
  aligned_t out;
  const uint8_t *bytes = alignment_code_get_bytes(code);
  out.bytes.assign(bytes, bytes + alignment_code_get_length(code));
  out.position = alignment_code_get_position(code);
  out.score = score;
  alignment_code_free(code);
  ungapped_scorer_free(s);
  seq_record_free(queries[index]);
  return out;
}

TEST(UngappedAlign, EveryCodeRescoresToItsScore) {
  std::mt19937 rng(77);
  const packed_t block(random_block_codes(rng, 3000));
  alignment_code_t *code = alignment_code_new();
  int done = 0, trials = 0, escapes = 0, clipped = 0;
  while (done < kRandomCandidates) {
    random_case_t rc;
    fill_random_case(rc, rng, block, 12, 5, trials % 2 == 1);
    ungapped_scorer_t *s = ungapped_scorer_new(rc.queries.data(), static_cast<int32_t>(rc.queries.size()),
                                               block.bases.data(), block.known.data(), static_cast<int16_t>(rc.x),
                                               static_cast<int16_t>(rc.c), rc.mode);
    const uint16_t *scores = ungapped_scorer_score(s, rc.candidates.data(), static_cast<int32_t>(rc.candidates.size()));
    for (size_t j = 0; j < rc.candidates.size(); j++) {
      const candidate_t cand = rc.candidates[j];
      const seq_record_t *q = rc.queries[cand.query];
      if (q == nullptr) continue;
      ungapped_align(s, cand, scores[j], code);
      const int32_t position = alignment_code_get_position(code);
      const uint8_t *bytes = alignment_code_get_bytes(code);
      const int32_t length = alignment_code_get_length(code);
      const rescored_t r = rescore(bytes, length, position, block, q, cand.query & 1, rc.x, rc.c);
      // Where the path must reach the query's end (global; colour
      // semi-global odd) its value may be negative, which scores 0.
      const bool anchored = rc.mode == 3 || (rc.mode == 1 && rc.c != -1 && (cand.query & 1));
      const int expected = anchored && r.score < 0 ? 0 : r.score;
      ASSERT_EQ(expected, scores[j]) << "trial " << trials << " candidate " << j << " mode " << rc.mode << " x "
                                     << rc.x << " c " << rc.c << " query " << cand.query;
      ASSERT_EQ(r.read_bases, static_cast<int>(q->length));
      ASSERT_FALSE(r.foreign_ops);
      ASSERT_FALSE(r.off_diagonal);
      if (alignment_code_leading_insertions(length, bytes) < q->length) {
        ASSERT_EQ(r.diagonal, static_cast<int32_t>(cand.position)) << "trial " << trials << " candidate " << j;
      } else {
        // Nothing aligned: the code sits where the clips meet.
        const int32_t p = static_cast<int32_t>(cand.position);
        ASSERT_TRUE(position >= p && position <= p + static_cast<int32_t>(q->length)) << position << " " << p;
      }
      for (int32_t b = 0; b < length; b++) escapes += bytes[b] == kCodeEscape;
      clipped += alignment_code_leading_insertions(length, bytes) > 0;
    }
    ungapped_scorer_free(s);
    done += static_cast<int>(rc.candidates.size());
    trials++;
  }
  alignment_code_free(code);
  // The cases reach state changes and clips, not only whole runs.
  EXPECT_GT(escapes, 100);
  EXPECT_GT(clipped, 100);
}

struct code_case_t {
  const char *name;
  int mode;
  uint32_t index;
  int x;
  int c;
  std::vector<int> flips;  // query positions XORed with 1 (a mismatch)
  int n;
  std::vector<uint8_t> bytes;
  int32_t offset;          // code position - candidate position
};

TEST(UngappedAlign, CodesOfTheClippingRules) {
  std::vector<int> codes(300);
  for (size_t j = 0; j < codes.size(); j++) codes[j] = static_cast<int>((j * 7 + j / 3) % 4);
  const packed_t block(codes);
  const int p = 41;
  const code_case_t cases[] = {
      // Five matches, two mismatches, two matches, x = 2.
      {"local", 0, 0, 2, -1, {5, 6}, 9, {4, 128 + 3}, 0},
      {"semi_forward", 1, 0, 2, -1, {5, 6}, 9, {4, 128 + 3}, 0},
      {"semi_reverse", 1, 1, 2, -1, {5, 6}, 9, {8}, 0},
      {"global", 3, 0, 2, -1, {5, 6}, 9, {8}, 0},
      // An odd query whose first base mismatches: one clipped base.
      {"semi_reverse_first", 1, 1, 1, -1, {0}, 20, {128, 18}, 1},
      // No match at all: every base clipped, at the candidate position.
      {"local_none", 0, 0, 1, -1, {0, 1, 2, 3, 4, 5}, 6, {128 + 5}, 0},
      // The first run to reach the best sum wins.
      {"local_tie", 0, 0, 3, -1, {3}, 7, {2, 128 + 3}, 0},
      {"perfect_local", 0, 0, 2, -1, {}, 25, {24}, 0},
      {"perfect_colour", 1, 1, 2, 3, {}, 25, {24}, 0},
      // Colour: state 0 for ten positions, then state 1 (c = 2).
      {"colour_change", 3, 0, 2, 2, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, 22, {9, 255, 1, 11}, 0},
      // Colour, local: the change costs more than the tail is worth.
      {"colour_clip", 0, 0, 2, 9, {6, 7, 8, 9}, 10, {5, 128 + 3}, 0},
      // Colour, odd query in state 1 throughout: opens with the state and
      // pays c at the end.
      {"colour_odd_start", 3, 1, 2, 2, {0, 1, 2, 3, 4, 5, 6, 7}, 8, {255, 1, 7}, 0},
  };
  for (const code_case_t &cc : cases) {
    std::vector<int> query(codes.begin() + p, codes.begin() + p + cc.n);
    for (int f : cc.flips) query[f] ^= 1;
    const aligned_t a = align_one(block, query, cc.index, p, cc.x, cc.c, cc.mode);
    EXPECT_EQ(a.bytes, cc.bytes) << cc.name;
    EXPECT_EQ(a.position, p + cc.offset) << cc.name;
  }
}

// Colour: a path from state 0 into state 2 at position 10 of a 30-base
// query gives ten columns, an escape with 2, then twenty columns.
TEST(UngappedAlign, ColourEscapeAtTheStateChange) {
  std::vector<int> codes(200);
  for (size_t j = 0; j < codes.size(); j++) codes[j] = static_cast<int>((j * 3 + j / 5) % 4);
  const packed_t block(codes);
  const int p = 60;
  std::vector<int> query(codes.begin() + p, codes.begin() + p + 30);
  for (int i = 10; i < 30; i++) query[i] ^= 2;
  for (int mode : {0, 1, 3}) {
    const aligned_t a = align_one(block, query, 0, p, 2, 3, mode);
    EXPECT_EQ(a.score, 27) << mode;
    EXPECT_EQ(a.bytes, (std::vector<uint8_t>{9, 255, 2, 19})) << mode;
    EXPECT_EQ(a.position, p) << mode;
  }
}

}  // namespace
