// Gapped scorer: scores and end masks against the plain banded programme
// of gapped_model.h on random cases in every mode, query parity and space,
// the worked cases of the scoring rules, the byte range at the longest
// reads with the highest costs, and the buffers of the scoring call.
#include "refmap/align/gapped_scorer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gapped_model.h"
#include "seqio/seq_record.h"

namespace {

using gapped_model::Block;
using gapped_model::Result;
using gapped_model::Rules;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCaseScale = 20;  // the sanitizer builds run a twentieth
#else
constexpr int kCaseScale = 1;
#endif

// Queries and candidates scored by one scorer, with the model's results.
struct Batch {
  std::vector<std::vector<uint8_t>> queries;
  std::vector<bool> present;  // false: a null query
  std::vector<candidate_t> candidates;
};

// Scores a batch and compares every candidate with the model; returns the
// number of disagreements (the first few are reported).
int check_batch(const Block &block, const Batch &batch, const Rules &rules, const std::string &label) {
  std::vector<seq_record_t *> records;
  for (size_t q = 0; q < batch.queries.size(); q++)
    records.push_back(batch.present[q] ? gapped_model::make_record(batch.queries[q]) : nullptr);
  gapped_scorer_t *scorer =
      gapped_scorer_new(records.data(), static_cast<int32_t>(records.size()), block.bases.data(), block.known.data(),
                        static_cast<int16_t>(rules.x), static_cast<int16_t>(rules.g), static_cast<int16_t>(rules.d),
                        rules.mode, static_cast<int16_t>(rules.c));
  const uint16_t *scores =
      gapped_scorer_score(scorer, batch.candidates.data(), static_cast<int32_t>(batch.candidates.size()));
  const uint16_t *masks = gapped_scorer_scores(scorer);
  int wrong = 0;
  for (size_t j = 0; j < batch.candidates.size(); j++) {
    const candidate_t c = batch.candidates[j];
    Result want;
    if (batch.present[c.query]) want = gapped_model::score(block, batch.queries[c.query], c.query & 1, c.position, rules);
    if (scores[j] != want.score || masks[j] != want.mask) {
      if (++wrong <= 5)
        ADD_FAILURE() << label << " mode " << rules.mode << " x" << rules.x << " g" << rules.g << " d" << rules.d
                      << " c" << rules.c << " query " << c.query << " (length " << batch.queries[c.query].size()
                      << ") at " << c.position << ": score " << scores[j] << " mask " << masks[j] << ", model "
                      << want.score << " mask " << want.mask;
    }
  }
  gapped_scorer_free(scorer);
  for (seq_record_t *r : records) seq_record_free(r);
  return wrong;
}

// Random batches: each with its own costs and one of the given modes.
void run_random(bool colour, const std::vector<int> &modes, int cases, uint32_t seed) {
  std::mt19937 rng(seed);
  const Block block = gapped_model::random_block(rng, 6000, 0.02);
  int done = 0;
  int wrong = 0;
  while (done < cases && wrong == 0) {
    Rules rules;
    rules.x = 1 + static_cast<int>(rng() % 3);
    rules.g = 1 + static_cast<int>(rng() % 3);
    rules.d = 1 + static_cast<int>(rng() % 3);
    rules.c = colour ? 1 + static_cast<int>(rng() % 3) : -1;
    rules.mode = modes[rng() % modes.size()];
    if (rng() % 8 == 0) rules.x = rules.g = rules.d = 3, rules.c = colour ? 3 : -1;
    Batch batch;
    const int queries = 400;
    for (int q = 0; q < queries; q++) {
      int n = 15 + static_cast<int>(rng() % 41);
      if (rng() % 10 == 0) n = (rng() & 1) ? 55 : kGappedMaxQueryLength;
      if (rng() % 200 == 0) n = 1 + static_cast<int>(rng() % 14);
      const int64_t origin = 40 + static_cast<int64_t>(rng() % 5800);
      batch.queries.push_back(gapped_model::random_query(block, rng, n, origin, colour));
      batch.present.push_back(rng() % 100 != 0);
      // One candidate on the query's own diagonal or near it, sometimes a
      // second one further off.
      const int jitter = static_cast<int>(rng() % 9) - 4;
      batch.candidates.push_back({static_cast<uint32_t>(origin + jitter), static_cast<uint32_t>(q)});
      if (rng() % 4 == 0)
        batch.candidates.push_back(
            {static_cast<uint32_t>(origin + static_cast<int>(rng() % 25) - 12), static_cast<uint32_t>(q)});
    }
    done += static_cast<int>(batch.candidates.size());
    wrong += check_batch(block, batch, rules, colour ? "colour" : "nucleotide");
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(done, cases);
}

constexpr int kRandomCases = 34000 / kCaseScale;  // per test; three tests per space

TEST(GappedScorerRandom, NucleotideLocalMatchesModel) { run_random(false, {0}, kRandomCases, 11); }
TEST(GappedScorerRandom, NucleotideSemiGlobalMatchesModel) { run_random(false, {1}, kRandomCases, 12); }
TEST(GappedScorerRandom, NucleotideGlobalMatchesModel) { run_random(false, {3}, kRandomCases, 13); }
TEST(GappedScorerRandom, ColourLocalMatchesModel) { run_random(true, {0}, kRandomCases, 21); }
TEST(GappedScorerRandom, ColourSemiGlobalMatchesModel) { run_random(true, {1}, kRandomCases, 22); }
TEST(GappedScorerRandom, ColourGlobalMatchesModel) { run_random(true, {3}, kRandomCases, 23); }

// A fixed block and helpers to score single queries on it.
class GappedScorerCase : public testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(5);
    block_ = gapped_model::random_block(rng, 400, 0);
  }

  // The block's codes from p, n of them.
  std::vector<uint8_t> slice(int64_t p, int n) const {
    return std::vector<uint8_t>(block_.codes.begin() + p, block_.codes.begin() + p + n);
  }

  // Scores the query at position with the query at index `index` (its
  // parity chooses the strand), checks the model agrees, returns both.
  Result run(const std::vector<uint8_t> &query, uint32_t position, const Rules &rules, uint32_t index = 0) {
    std::vector<seq_record_t *> records(index + 1, nullptr);
    records[index] = gapped_model::make_record(query);
    gapped_scorer_t *scorer = gapped_scorer_new(records.data(), static_cast<int32_t>(records.size()),
                                                block_.bases.data(), block_.known.data(), rules.x, rules.g,
                                                rules.d, rules.mode, rules.c);
    const candidate_t candidate{position, index};
    Result got;
    got.score = gapped_scorer_score(scorer, &candidate, 1)[0];
    got.mask = gapped_scorer_scores(scorer)[0];
    const Result want = gapped_model::score(block_, query, index & 1, position, rules);
    EXPECT_EQ(got.score, want.score);
    EXPECT_EQ(got.mask, want.mask);
    gapped_scorer_free(scorer);
    seq_record_free(records[index]);
    return got;
  }

  Block block_;
};

TEST_F(GappedScorerCase, PerfectMatchScoresLengthOnDiagonal7) {
  const int n = 40;
  for (int colour = 0; colour < 2; colour++)
    for (int mode : {0, 1, 3})
      for (uint32_t index : {0u, 1u}) {
        Rules rules;
        rules.mode = mode;
        rules.c = colour ? 3 : -1;
        const Result r = run(slice(100, n), 100, rules, index);
        EXPECT_EQ(r.score, n) << "mode " << mode << " colour " << colour << " index " << index;
        EXPECT_EQ(r.mask, 1u << 7) << "mode " << mode << " colour " << colour << " index " << index;
      }
}

TEST_F(GappedScorerCase, InsertionEndsOnDiagonal6AndDeletionOnDiagonal8) {
  const int n = 40;
  Rules rules;
  rules.mode = 3;
  rules.x = 2;
  rules.g = 2;
  rules.d = 3;
  // An extra base after query base 19 that differs from both neighbours.
  std::vector<uint8_t> inserted = slice(100, n - 1);
  uint8_t extra = 0;
  while (extra == inserted[19] || extra == inserted[20]) extra++;
  inserted.insert(inserted.begin() + 20, extra);
  Result r = run(inserted, 100, rules);
  EXPECT_EQ(r.score, n - 1 - rules.g);
  EXPECT_EQ(r.mask, 1u << 6);
  // Block base 120 left out of the read.
  std::vector<uint8_t> deleted = slice(100, 20);
  const std::vector<uint8_t> rest = slice(121, n - 20);
  deleted.insert(deleted.end(), rest.begin(), rest.end());
  r = run(deleted, 100, rules);
  EXPECT_EQ(r.score, n - rules.d);
  EXPECT_EQ(r.mask, 1u << 8);
}

TEST_F(GappedScorerCase, HopelessReadsScoreZero) {
  const std::vector<uint8_t> all_n(30, 4);
  for (int colour = 0; colour < 2; colour++)
    for (int mode : {0, 1, 3})
      for (uint32_t index : {0u, 1u}) {
        Rules rules;
        rules.mode = mode;
        rules.c = colour ? 2 : -1;
        const Result r = run(all_n, 150, rules, index);
        EXPECT_EQ(r.score, 0);
        // Local and free-start modes hold every cell at 0 or above, so every
        // diagonal reaches the score 0; with an anchored start every end
        // cell is below 0 and there is no end.
        const bool free_start = !gapped_model::anchored_start(rules, index & 1);
        EXPECT_EQ(r.mask, free_start ? 0xffffu : 0u) << "mode " << mode << " colour " << colour;
      }
}

TEST_F(GappedScorerCase, SemiGlobalClipsTheStartOfOddQueriesOnly) {
  const int n = 30;
  Rules rules;
  rules.mode = 1;
  rules.x = 2;
  std::vector<uint8_t> query = slice(200, n);
  query[0] = static_cast<uint8_t>((query[0] + 1) & 3);
  EXPECT_EQ(run(query, 200, rules, 1).score, n - 1);
  EXPECT_EQ(run(query, 200, rules, 0).score, n - 1 - rules.x);
}

TEST_F(GappedScorerCase, ColourStateChangeCostsC) {
  // Codes equal to the block up to base 9, then the block exclusive-ored
  // with 1: one change of state.
  const int n = 30;
  std::vector<uint8_t> query = slice(100, n);
  for (int i = 10; i < n; i++) query[i] ^= 1;
  for (int c = 1; c <= 3; c++) {
    Rules rules;
    rules.mode = 0;
    rules.c = c;
    EXPECT_EQ(run(query, 100, rules, 0).score, n - c);
    rules.mode = 3;
    EXPECT_EQ(run(query, 100, rules, 0).score, n - c);
    // An even query starts in state 0 and may end in any state; an odd one
    // starts in any state and ends in state 0. Changing from state 1 to 0
    // after base 9 costs one change for an odd query, and a second one for
    // an even query (its start in state 1); the other way round it is the
    // odd query that pays twice.
    std::vector<uint8_t> flipped_start = slice(100, n);
    for (int i = 0; i < 10; i++) flipped_start[i] ^= 1;
    EXPECT_EQ(run(flipped_start, 100, rules, 1).score, n - c);
    EXPECT_EQ(run(flipped_start, 100, rules, 0).score, n - 2 * c);
    EXPECT_EQ(run(query, 100, rules, 1).score, n - 2 * c);
  }
}

TEST_F(GappedScorerCase, LongestReadsWithHighestCostsStayInByteRange) {
  Rules rules;
  rules.x = rules.g = rules.d = 3;
  for (int colour = 0; colour < 2; colour++)
    for (int n : {55, kGappedMaxQueryLength})
      for (int mode : {0, 1, 3})
        for (uint32_t index : {0u, 1u}) {
          rules.mode = mode;
          rules.c = colour ? 3 : -1;
          // Perfect on the band's lowest and highest diagonals, perfect on
          // the centre, and wrong at every base.
          for (int k : {0, 15, 7}) {
            const Result r = run(slice(93 + k, n), 100, rules, index);
            EXPECT_EQ(r.score, n);
            EXPECT_EQ(r.mask, 1u << k);
          }
          std::vector<uint8_t> wrong = slice(100, n);
          for (uint8_t &b : wrong) b ^= 2;
          run(wrong, 100, rules, index);
          // Perfect first half, wrong second half, and the reverse.
          std::vector<uint8_t> half = slice(100, n);
          for (int i = n / 2; i < n; i++) half[i] ^= 2;
          run(half, 100, rules, index);
          for (int i = 0; i < n; i++) half[i] ^= 2;
          run(half, 100, rules, index);
        }
}

TEST_F(GappedScorerCase, UnknownBlockBasesAndNsNeverMatch) {
  Block block = block_;
  for (int p = 110; p < 115; p++) block.codes[p] = 4;
  block.pack();
  std::swap(block, block_);
  std::vector<uint8_t> query = slice(100, 30);  // holds the stored bases of the unknown stretch
  for (int p = 110; p < 115; p++) query[p - 100] = static_cast<uint8_t>((p * 7) & 3);
  query[25] = 4;
  Rules rules;
  rules.mode = 3;
  rules.x = 1;
  EXPECT_EQ(run(query, 100, rules).score, 30 - 6 * 2);
  std::swap(block, block_);
}

TEST(GappedScorer, EmptyCallKeepsBuffersAndNullQueriesScoreZero) {
  std::mt19937 rng(3);
  const Block block = gapped_model::random_block(rng, 300, 0);
  std::vector<uint8_t> codes(block.codes.begin() + 100, block.codes.begin() + 130);
  seq_record_t *records[3] = {gapped_model::make_record(codes), nullptr, seq_record_new_empty()};
  gapped_scorer_t *scorer =
      gapped_scorer_new(records, 3, block.bases.data(), block.known.data(), 2, 3, 3, 0, -1);
  const candidate_t list[3] = {{100, 0}, {100, 1}, {100, 2}};
  const uint16_t *scores = gapped_scorer_score(scorer, list, 3);
  ASSERT_NE(scores, nullptr);
  EXPECT_EQ(scores[0], 30);
  EXPECT_EQ(scores[1], 0);
  EXPECT_EQ(scores[2], 0);
  EXPECT_EQ(gapped_scorer_scores(scorer)[0], 1u << 7);
  EXPECT_EQ(gapped_scorer_scores(scorer)[1], 0);
  EXPECT_EQ(gapped_scorer_score(scorer, list, 0), nullptr);
  EXPECT_EQ(scorer->scores[0], 30);
  EXPECT_EQ(gapped_scorer_scores(scorer)[0], 1u << 7);
  gapped_scorer_free(scorer);
  seq_record_free(records[0]);
  seq_record_free(records[2]);
}

TEST(GappedScorerDeathTest, QueryTooLongForTheBand) {
  std::mt19937 rng(3);
  const Block block = gapped_model::random_block(rng, 300, 0);
  seq_record_t *record = gapped_model::make_record(std::vector<uint8_t>(kGappedMaxQueryLength + 1, 0));
  EXPECT_EXIT(gapped_scorer_new(&record, 1, block.bases.data(), block.known.data(), 2, 3, 3, 0, -1),
              testing::ExitedWithCode(1), "^Gapped scorer: query 0 is longer than 60 bases\n$");
  seq_record_free(record);
}

}  // namespace
