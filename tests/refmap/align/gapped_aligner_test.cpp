// Gapped aligner: the rerun agrees with the scorer, every traced code
// rescores to the candidate's score inside the band (random cases in every
// mode and space), worked codes (perfect hits, an inserted base, colour
// state changes), the end diagonals traced lowest first with unwanted ones
// discarded, a dropped traceback that meets an earlier one, and the
// alignment errors on cells nothing explains.
#include "refmap/align/gapped_aligner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gapped_model.h"
#include "refmap/align/gapped_scorer.h"
#include "seqio/alignment_code.h"
#include "seqio/seq_record.h"

namespace {

using gapped_model::Block;
using gapped_model::Rules;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCaseScale = 20;
#else
constexpr int kCaseScale = 1;
#endif

std::vector<uint8_t> code_bytes(alignment_code_t *code) {
  const uint8_t *bytes = alignment_code_get_bytes(code);
  return std::vector<uint8_t>(bytes, bytes + alignment_code_get_length(code));
}

// One scorer and aligner over a set of queries.
struct Rig {
  std::vector<std::vector<uint8_t>> queries;
  std::vector<seq_record_t *> records;
  gapped_scorer_t *scorer = nullptr;
  gapped_aligner_t *aligner = nullptr;
  alignment_code_t *code = nullptr;

  Rig(const Block &block, const std::vector<std::vector<uint8_t>> &qs, const Rules &rules) : queries(qs) {
    for (const auto &q : queries) records.push_back(gapped_model::make_record(q));
    scorer = gapped_scorer_new(records.data(), static_cast<int32_t>(records.size()), block.bases.data(),
                               block.known.data(), static_cast<int16_t>(rules.x), static_cast<int16_t>(rules.g),
                               static_cast<int16_t>(rules.d), rules.mode, static_cast<int16_t>(rules.c));
    aligner = gapped_aligner_new(scorer);
    code = alignment_code_new();
  }
  ~Rig() {
    alignment_code_free(code);
    gapped_aligner_free(aligner);
    gapped_scorer_free(scorer);
    for (seq_record_t *r : records) seq_record_free(r);
  }
};

// Traces every alignment of random candidates and checks each code against
// the model.
void run_random_traces(bool colour, int cases, uint32_t seed) {
  std::mt19937 rng(seed);
  const Block block = gapped_model::random_block(rng, 5000, 0.02);
  int done = 0;
  int failures = 0;
  while (done < cases && failures == 0) {
    Rules rules;
    rules.x = 1 + static_cast<int>(rng() % 3);
    rules.g = 1 + static_cast<int>(rng() % 3);
    rules.d = 1 + static_cast<int>(rng() % 3);
    rules.c = colour ? 1 + static_cast<int>(rng() % 3) : -1;
    const int modes[3] = {0, 1, 3};
    rules.mode = modes[rng() % 3];
    std::vector<std::vector<uint8_t>> queries;
    std::vector<candidate_t> candidates;
    for (uint32_t q = 0; q < 200; q++) {
      int n = 15 + static_cast<int>(rng() % 41);
      if (rng() % 10 == 0) n = kGappedMaxQueryLength;
      const int64_t origin = 40 + static_cast<int64_t>(rng() % 4800);
      queries.push_back(gapped_model::random_query(block, rng, n, origin, colour));
      candidates.push_back({static_cast<uint32_t>(origin + static_cast<int>(rng() % 9) - 4), q});
    }
    Rig rig(block, queries, rules);
    const uint16_t *scores = gapped_scorer_score(rig.scorer, candidates.data(), static_cast<int32_t>(candidates.size()));
    std::vector<uint16_t> score_copy(scores, scores + candidates.size());
    std::vector<uint16_t> mask_copy(gapped_scorer_scores(rig.scorer), gapped_scorer_scores(rig.scorer) + candidates.size());
    for (size_t j = 0; j < candidates.size() && failures == 0; j++) {
      const candidate_t c = candidates[j];
      const std::vector<uint8_t> &query = queries[c.query];
      const bool odd = (c.query & 1) != 0;
      // Half the candidates with every diagonal wanted, half with a random
      // wanted mask.
      const bool all_wanted = (j & 1) == 0;
      const uint16_t wanted = all_wanted ? 0xffff : static_cast<uint16_t>(rng());
      gapped_aligner_fill(rig.aligner, &c, wanted);
      std::string where = "mode " + std::to_string(rules.mode) + " x" + std::to_string(rules.x) + " g" +
                          std::to_string(rules.g) + " d" + std::to_string(rules.d) + " c" + std::to_string(rules.c) +
                          " query " + std::to_string(c.query) + " at " + std::to_string(c.position);
      EXPECT_EQ(rig.aligner->score, score_copy[j]) << where;
      EXPECT_EQ(rig.aligner->end_mask, mask_copy[j]) << where;
      const uint16_t mask = rig.aligner->end_mask;
      int traced = 0;
      int last_diagonal = -1;
      while (gapped_aligner_align(rig.aligner, rig.code)) {
        traced++;
        const int32_t start = alignment_code_get_position(rig.code);
        const std::vector<uint8_t> bytes = code_bytes(rig.code);
        const gapped_model::Rescored r = gapped_model::rescore(block, query, odd, c.position, rules, bytes.data(),
                                                               static_cast<int32_t>(bytes.size()), start);
        EXPECT_EQ(r.score, rig.aligner->score) << where;
        EXPECT_EQ(r.read_bases, static_cast<int>(query.size())) << where;
        EXPECT_TRUE(r.in_band) << where;
        if (r.end_diagonal >= 0) {
          EXPECT_TRUE(mask >> r.end_diagonal & 1) << where << " end diagonal " << r.end_diagonal;
          EXPECT_TRUE(wanted >> r.end_diagonal & 1) << where << " end diagonal " << r.end_diagonal;
          EXPECT_GT(r.end_diagonal, last_diagonal) << where;
          last_diagonal = r.end_diagonal;
          if (traced == 1 && all_wanted) {
            EXPECT_EQ(r.end_diagonal, __builtin_ctz(mask)) << where;
          }
        } else {
          EXPECT_EQ(r.score, 0) << where;
        }
        if (traced > 16) break;
      }
      EXPECT_EQ(alignment_code_get_length(rig.code), 0);
      EXPECT_LE(traced, __builtin_popcount(mask)) << where;
      // With nothing visited yet the first traceback always gives a code.
      if (all_wanted && mask != 0) {
        EXPECT_GE(traced, 1) << where;
      }
      if (testing::Test::HasFailure()) failures++;
      done++;
    }
  }
  EXPECT_GE(done, cases);
}

TEST(GappedAlignerRandom, NucleotideCodesRescoreToTheirScores) { run_random_traces(false, 50000 / kCaseScale, 31); }
TEST(GappedAlignerRandom, ColourCodesRescoreToTheirScores) { run_random_traces(true, 50000 / kCaseScale, 32); }

class GappedAlignerCase : public testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(5);
    block_ = gapped_model::random_block(rng, 400, 0);
  }
  std::vector<uint8_t> slice(int64_t p, int n) const {
    return std::vector<uint8_t>(block_.codes.begin() + p, block_.codes.begin() + p + n);
  }
  Block block_;
};

TEST_F(GappedAlignerCase, PerfectHitIsOneRunFromDiagonal7) {
  const int n = 35;
  for (int colour = 0; colour < 2; colour++)
    for (int mode : {0, 1, 3})
      for (uint32_t index : {0u, 1u}) {
        Rules rules;
        rules.mode = mode;
        rules.c = colour ? 2 : -1;
        std::vector<std::vector<uint8_t>> queries(index + 1, slice(100, n));
        Rig rig(block_, queries, rules);
        const candidate_t c{100, index};
        gapped_aligner_fill(rig.aligner, &c, 0xffff);
        EXPECT_EQ(rig.aligner->score, n);
        EXPECT_EQ(rig.aligner->end_mask, 1u << 7);
        ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
        EXPECT_EQ(alignment_code_get_position(rig.code), 100);
        EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({static_cast<uint8_t>(n - 1)}));
        EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);
        EXPECT_EQ(alignment_code_get_length(rig.code), 0);
        EXPECT_EQ(alignment_code_get_position(rig.code), 0);
      }
}

TEST_F(GappedAlignerCase, InsertedBaseGivesOneInsertionColumn) {
  const int n = 40;
  Rules rules;
  rules.mode = 3;
  rules.x = 2;
  rules.g = 2;
  std::vector<uint8_t> query = slice(100, n - 1);
  uint8_t extra = 0;
  while (extra == query[19] || extra == query[20]) extra++;
  query.insert(query.begin() + 20, extra);
  Rig rig(block_, {query}, rules);
  const candidate_t c{100, 0};
  gapped_aligner_fill(rig.aligner, &c, 0xffff);
  EXPECT_EQ(rig.aligner->score, n - 1 - rules.g);
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), 100);
  // 20 aligned columns, one insertion, 19 aligned columns.
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({19, 128, 18}));
  EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);
}

TEST_F(GappedAlignerCase, ColourStateChangesBecomeEscapes) {
  const int n = 30;
  Rules rules;
  rules.mode = 3;
  rules.c = 2;
  // Even query: state 0, then state 1 from base 10.
  std::vector<uint8_t> even = slice(100, n);
  for (int i = 10; i < n; i++) even[i] ^= 1;
  // Odd query: state 1 up to base 9, then state 0, in which it must end.
  std::vector<uint8_t> odd = slice(100, n);
  for (int i = 0; i < 10; i++) odd[i] ^= 1;
  Rig rig(block_, {even, odd}, rules);
  const candidate_t c0{100, 0};
  gapped_aligner_fill(rig.aligner, &c0, 0xffff);
  EXPECT_EQ(rig.aligner->score, n - rules.c);
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), 100);
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({9, 255, 1, 19}));
  const candidate_t c1{100, 1};
  gapped_aligner_fill(rig.aligner, &c1, 0xffff);
  EXPECT_EQ(rig.aligner->score, n - rules.c);
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), 100);
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({255, 1, 9, 255, 0, 19}));
}

TEST_F(GappedAlignerCase, MeetingTracebackIsDropped) {
  // Global, x = g = d = 3: a read that matches the block on diagonal 7 up
  // to its last base, which matches none of the block bases around it. Its
  // last base is as good mismatched on diagonal 7 as inserted (diagonal 6),
  // and both paths run through the cells of diagonal 7: the second one
  // traced (diagonal 7) is dropped.
  const int n = 30;
  Rules rules;
  rules.mode = 3;
  rules.x = rules.g = rules.d = 3;
  int64_t p = 100;
  while (block_.codes[p + n - 2] == block_.codes[p + n - 1] || block_.codes[p + n - 1] == block_.codes[p + n] ||
         block_.codes[p + n - 2] == block_.codes[p + n])
    p++;
  std::vector<uint8_t> query = slice(p, n - 1);
  uint8_t last = 0;
  while (last == block_.codes[p + n - 2] || last == block_.codes[p + n - 1] || last == block_.codes[p + n]) last++;
  query.push_back(last);
  Rig rig(block_, {query}, rules);
  const candidate_t c{static_cast<uint32_t>(p), 0};
  gapped_aligner_fill(rig.aligner, &c, 0xffff);
  EXPECT_EQ(rig.aligner->score, n - 4);
  ASSERT_EQ(rig.aligner->end_mask, (1u << 6) | (1u << 7));
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), p);
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({static_cast<uint8_t>(n - 2), 128}));
  EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);
  EXPECT_EQ(alignment_code_get_length(rig.code), 0);
  EXPECT_EQ(rig.aligner->end_mask, 0);
}

TEST_F(GappedAlignerCase, UnwantedDiagonalIsTracedButDiscarded) {
  // Local, two separate 10-base matches of a 20-base read: the first half
  // on diagonal 7, the second half on diagonal 12, each scoring 10.
  Rules rules;
  rules.mode = 0;
  rules.x = 3;
  rules.g = rules.d = 3;
  std::vector<uint8_t> query;
  int64_t p = 60;
  for (; p < 300; p++) {
    query = slice(p, 10);
    const std::vector<uint8_t> second = slice(p + 15, 10);
    query.insert(query.end(), second.begin(), second.end());
    const gapped_model::Result r = gapped_model::score(block_, query, false, static_cast<uint32_t>(p), rules);
    if (r.score == 10 && r.mask == ((1u << 7) | (1u << 12))) break;
  }
  ASSERT_LT(p, 300) << "no block stretch gives two separate best matches";
  Rig rig(block_, {query}, rules);
  const candidate_t c{static_cast<uint32_t>(p), 0};

  gapped_aligner_fill(rig.aligner, &c, 0xffff);
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), p);
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({9, 128 + 9}));
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), p + 15);
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({128 + 9, 9}));
  EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);

  // Diagonal 7 covered by the previous candidate: its code is discarded and
  // the next diagonal is given at once.
  gapped_aligner_fill(rig.aligner, &c, static_cast<uint16_t>(0xffff & ~(1u << 7)));
  ASSERT_EQ(gapped_aligner_align(rig.aligner, rig.code), 1);
  EXPECT_EQ(alignment_code_get_position(rig.code), p + 15);
  EXPECT_EQ(code_bytes(rig.code), std::vector<uint8_t>({128 + 9, 9}));
  EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);

  // Nothing wanted: nothing given, and a later call stays empty.
  gapped_aligner_fill(rig.aligner, &c, 0);
  EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);
  EXPECT_EQ(gapped_aligner_align(rig.aligner, rig.code), 0);
  EXPECT_EQ(alignment_code_get_length(rig.code), 0);
}

TEST_F(GappedAlignerCase, BuffersGrowForLongerQueriesAndColour) {
  Rules rules;
  rules.mode = 3;
  Rig short_rig(block_, {slice(100, 20), slice(100, 50)}, rules);
  const candidate_t a{100, 0};
  const candidate_t b{100, 1};
  gapped_aligner_fill(short_rig.aligner, &a, 0xffff);
  EXPECT_EQ(short_rig.aligner->row_capacity, 27);
  gapped_aligner_fill(short_rig.aligner, &b, 0xffff);
  EXPECT_EQ(short_rig.aligner->row_capacity, 57);
  gapped_aligner_fill(short_rig.aligner, &a, 0xffff);
  EXPECT_EQ(short_rig.aligner->row_capacity, 57);
  ASSERT_EQ(gapped_aligner_align(short_rig.aligner, short_rig.code), 1);
  EXPECT_EQ(code_bytes(short_rig.code), std::vector<uint8_t>({19}));
  rules.c = 3;
  Rig colour_rig(block_, {slice(100, 20)}, rules);
  gapped_aligner_fill(colour_rig.aligner, &a, 0xffff);
  EXPECT_EQ(colour_rig.aligner->row_capacity, 4 * 27);
}

// A perfect 30-base hit at 100 whose kept rows no longer agree with what
// the walk reads: one cell of diagonal 7 lowered in every state, or query
// base 0 changed after the rerun (a free-start walk then finds nothing to
// start from at query base 0).
struct BrokenCell {
  int mode;
  int colour;
  uint32_t index;
  int query_base;  // the lowered cell's query base; -1: query base 0 changed
  const char *message;
};

TEST_F(GappedAlignerCase, UnexplainedCellsAreAlignmentErrors) {
  const BrokenCell cases[] = {
      {0, 0, 0, 15, "^Alignment error 1\n$"},
      {0, 0, 0, -1, "^Alignment error 0\n$"},
      {3, 0, 0, 15, "^Alignment error 2, query 0\n$"},
      {1, 0, 1, 15, "^Alignment error 2, query 1\n$"},
      {1, 0, 1, -1, "^Alignment error 0, query 1\n$"},
      {3, 0, 0, 29, "^Alignment error 1, query 0\n$"},
      {3, 1, 0, 15, "^Alignment error color space 2, query 0\n$"},
      {0, 1, 1, -1, "^Alignment error color space 0, query 1\n$"},
      {1, 1, 1, 29, "^Alignment error color space 1, query 1\n$"},
  };
  for (const BrokenCell &bc : cases) {
    Rules rules;
    rules.mode = bc.mode;
    rules.c = bc.colour ? 2 : -1;
    std::vector<std::vector<uint8_t>> queries(bc.index + 1, slice(100, 30));
    Rig rig(block_, queries, rules);
    const candidate_t c{100, bc.index};
    gapped_aligner_fill(rig.aligner, &c, 0xffff);
    const int states = bc.colour ? 4 : 1;
    if (bc.query_base < 0) {
      rig.scorer->padded[bc.index][7] ^= 1;
    } else {
      const int row = bc.query_base + 3;
      for (int s = 0; s < states; s++) rig.aligner->rows[(row * states + s) * 16 + 7] -= 1;
    }
    EXPECT_EXIT(gapped_aligner_align(rig.aligner, rig.code), testing::ExitedWithCode(1), bc.message)
        << "mode " << bc.mode << " colour " << bc.colour << " base " << bc.query_base;
  }
}

}  // namespace
