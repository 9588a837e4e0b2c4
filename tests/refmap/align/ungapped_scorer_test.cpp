// Ungapped scorer: the vector kernels against the plain scalar model on
// random cases over both spaces, the three modes and both strands; the
// worked examples of the end rules, spacers, Ns, positions before the
// block, null queries and the colour-space state change.
#include "refmap/align/ungapped_scorer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/refmap/align/ungapped_model.h"

namespace {

using namespace ungapped_model;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomCandidates = 10000;
#else
constexpr int kRandomCandidates = 100000;
#endif

std::vector<uint16_t> score_all(const packed_t &block, const std::vector<seq_record_t *> &queries,
                                const std::vector<candidate_t> &candidates, int x, int c, int mode) {
  ungapped_scorer_t *s = ungapped_scorer_new(queries.data(), static_cast<int32_t>(queries.size()),
                                             block.bases.data(), block.known.data(), static_cast<int16_t>(x),
                                             static_cast<int16_t>(c), mode);
  const uint16_t *scores = ungapped_scorer_score(s, candidates.data(), static_cast<int32_t>(candidates.size()));
  std::vector<uint16_t> out(scores, scores + candidates.size());
  ungapped_scorer_free(s);
  return out;
}

// One score of one query at one position.
int score_one(const packed_t &block, const std::vector<int> &query, uint32_t index, int64_t p, int x, int c,
              int mode) {
  std::vector<seq_record_t *> queries(index + 1, nullptr);
  queries[index] = record(query);
  const std::vector<candidate_t> list = {{static_cast<uint32_t>(static_cast<int32_t>(p)), index}};
  const int score = score_all(block, queries, list, x, c, mode)[0];
  seq_record_free(queries[index]);
  return score;
}

TEST(UngappedScorer, VectorKernelsEqualScalarModel) {
  std::mt19937 rng(20240611);
  const packed_t block(random_block_codes(rng, 3000));
  int done = 0, trials = 0, positive = 0;
  while (done < kRandomCandidates) {
    random_case_t rc;
    fill_random_case(rc, rng, block, 12, 5, trials % 2 == 1);
    const auto scores = score_all(block, rc.queries, rc.candidates, rc.x, rc.c, rc.mode);
    for (size_t j = 0; j < rc.candidates.size(); j++) {
      const candidate_t cand = rc.candidates[j];
      const int expected = model_score(block, cand, rc.queries[cand.query], rc.mode, rc.x, rc.c);
      ASSERT_EQ(scores[j], expected) << "trial " << trials << " candidate " << j << " query " << cand.query
                                     << " position " << static_cast<int32_t>(cand.position) << " mode " << rc.mode
                                     << " x " << rc.x << " c " << rc.c;
      positive += expected > 0;
    }
    done += static_cast<int>(rc.candidates.size());
    trials++;
  }
  // The cases must exercise real scores, not only zeros.
  EXPECT_GT(positive, done / 3);
}

TEST(UngappedScorer, PerfectHitScoresItsLengthEverywhere) {
  std::mt19937 rng(5);
  std::vector<int> codes(400);
  for (int &v : codes) v = static_cast<int>(rng() % 4);
  const packed_t block(codes);
  for (int n : {1, 4, 17, 33, 60}) {
    for (int p : {1, 2, 3, 4, 101, 250}) {
      const std::vector<int> query(codes.begin() + p, codes.begin() + p + n);
      for (int mode : {0, 1, 3}) {
        for (uint32_t index : {0u, 1u}) {
          for (int c : {-1, 3}) {
            EXPECT_EQ(score_one(block, query, index, p, 2, c, mode), n)
                << "n " << n << " p " << p << " mode " << mode << " index " << index << " c " << c;
          }
        }
      }
    }
  }
}

// Five matches, two mismatches, two matches with x = 2.
TEST(UngappedScorer, EndRulesOfTheModes) {
  std::vector<int> codes(200, 0);
  for (size_t j = 0; j < codes.size(); j++) codes[j] = static_cast<int>(j % 4);
  const packed_t block(codes);
  const int p = 37;
  std::vector<int> query(codes.begin() + p, codes.begin() + p + 9);
  query[5] ^= 1;
  query[6] ^= 2;
  struct row_t {
    int mode;
    uint32_t index;
    int expected;
  };
  const row_t rows[] = {{0, 0, 5}, {0, 1, 5}, {1, 0, 5}, {1, 1, 3}, {3, 0, 3}, {3, 1, 3}};
  for (const row_t &r : rows) {
    EXPECT_EQ(score_one(block, query, r.index, p, 2, -1, r.mode), r.expected) << r.mode << " " << r.index;
  }
  // With x = 3 the whole read goes negative: global gives 0.
  EXPECT_EQ(score_one(block, query, 0, p, 3, -1, 3), 1);
  query[0] ^= 1;
  query[1] ^= 1;
  EXPECT_EQ(score_one(block, query, 0, p, 3, -1, 3), 0);
}

TEST(UngappedScorer, SpacersNsAndPositionsBeforeTheBlock) {
  std::vector<int> codes(300);
  for (size_t j = 0; j < codes.size(); j++) codes[j] = static_cast<int>((j * 5 + j / 7) % 4);
  for (int j = 120; j < 124; j++) codes[j] = kUnknown;
  const packed_t block(codes);
  // A window over four spacer positions: 26 matches, 4 mismatches.
  const std::vector<int> query(codes.begin() + 100, codes.begin() + 130);
  std::vector<int> copy = query;
  for (int i = 20; i < 24; i++) copy[i] = 0;
  EXPECT_EQ(score_one(block, copy, 0, 100, 1, -1, 3), 26 - 4);
  EXPECT_EQ(score_one(block, copy, 0, 100, 1, -1, 0), 26 - 4);
  EXPECT_EQ(score_one(block, copy, 0, 100, 3, -1, 0), 20);
  // An N in the query is a mismatch even where the block holds a base.
  copy = std::vector<int>(codes.begin() + 10, codes.begin() + 40);
  copy[15] = 4;
  EXPECT_EQ(score_one(block, copy, 0, 10, 1, -1, 3), 28);
  EXPECT_EQ(score_one(block, copy, 0, 10, 1, 2, 3), 28);
  // A query laid 5 positions before the block: those positions mismatch.
  const std::vector<int> head(codes.begin(), codes.begin() + 25);
  std::vector<int> shifted(5, 0);
  shifted.insert(shifted.end(), head.begin(), head.end());
  EXPECT_EQ(score_one(block, shifted, 1, -5, 2, -1, 1), 25);
  EXPECT_EQ(score_one(block, shifted, 0, -5, 2, -1, 1), 15);
  EXPECT_EQ(score_one(block, shifted, 0, -5, 2, 1, 0), 25);
}

TEST(UngappedScorer, NullQueriesAndEmptyLists) {
  const packed_t block(std::vector<int>(100, 2));
  std::vector<seq_record_t *> queries = {nullptr, record(std::vector<int>(20, 2)), nullptr};
  const std::vector<candidate_t> list = {{10, 0}, {10, 1}, {11, 2}, {12, 1}};
  for (int c : {-1, 2}) {
    const auto scores = score_all(block, queries, list, 1, c, 0);
    EXPECT_EQ(scores, (std::vector<uint16_t>{0, 20, 0, 20})) << c;
  }
  ungapped_scorer_t *s = ungapped_scorer_new(queries.data(), 3, block.bases.data(), block.known.data(), 1, -1, 0);
  EXPECT_EQ(ungapped_scorer_score(s, list.data(), 0), nullptr);
  ungapped_scorer_free(s);
  for (seq_record_t *q : queries) seq_record_free(q);
}

// An even query equal to the block for ten positions and to the block XOR
// 1 after them: one state change pays off when c < n - 10.
TEST(UngappedScorer, ColourStateChange) {
  std::vector<int> codes(200);
  for (size_t j = 0; j < codes.size(); j++) codes[j] = static_cast<int>((j * 3 + j / 5) % 4);
  const packed_t block(codes);
  const int p = 50, n = 30;
  std::vector<int> query(codes.begin() + p, codes.begin() + p + n);
  for (int i = 10; i < n; i++) query[i] ^= 1;
  for (int c : {0, 1, 5, 19, 20, 25}) {
    const int expected = c < n - 10 ? n - c : 10;
    EXPECT_EQ(score_one(block, query, 0, p, 2, c, 0), expected) << c;
  }
  // An odd query may start in state 1 for free but pays c to end there.
  std::vector<int> all_one(codes.begin() + p, codes.begin() + p + n);
  for (int &v : all_one) v ^= 1;
  EXPECT_EQ(score_one(block, all_one, 1, p, 2, 4, 3), n - 4);
  EXPECT_EQ(score_one(block, all_one, 0, p, 2, 4, 3), n - 4);
  EXPECT_EQ(score_one(block, all_one, 0, p, 2, 40, 3), 0);
}

TEST(UngappedScorer, TooLongQueryIsRefused) {
  const packed_t block(std::vector<int>(100, 1));
  std::vector<seq_record_t *> queries = {record(std::vector<int>(61, 1))};
  EXPECT_EXIT(ungapped_scorer_new(queries.data(), 1, block.bases.data(), block.known.data(), 1, -1, 0),
              testing::ExitedWithCode(1), "Query of 61 positions too long for the ungapped scorer\n");
  seq_record_free(queries[0]);
}

}  // namespace
