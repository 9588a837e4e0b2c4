// Candidate filter: window counts of every space and mode against a plain
// per-position model, the keep rule with thresholds, the neighbouring
// diagonal, short and null queries, candidates at the block's edges.
#include "refmap/align/candidate_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "seqio/seq_record.h"
#include "tests/refmap/align/ungapped_model.h"

namespace {

using namespace ungapped_model;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomRounds = 40;
#else
constexpr int kRandomRounds = 300;
#endif

struct window_rule_t {
  int lengths[2];
  int steps[2];
  int count;
  bool every_third;
};

// Window lengths and steps as the filter's table gives them.
window_rule_t rule_of(int mode, bool colour) {
  if (!colour) {
    if (mode == 0) return {{30, 0}, {30, 0}, 1, true};
    if (mode == 1) return {{20, 0}, {20, 0}, 1, true};
    return {{17, 21}, {17, 21}, 2, false};
  }
  if (mode == 0) return {{29, 0}, {30, 0}, 1, true};
  if (mode == 1) return {{19, 0}, {20, 0}, 1, true};
  return {{16, 23}, {16, 23}, 2, false};
}

// Does query position i match on diagonal d, one position at a time?
bool model_match(const packed_t &block, const seq_record_t *q, int64_t d, int i, bool colour) {
  const int n = static_cast<int>(q->length);
  auto base = [&](int j) { return j < n && q->residues[j] < 4 ? static_cast<int>(q->residues[j]) : -1; };
  if (!colour) {
    const int b = block.at(d + i);
    return base(i) >= 0 && b != kUnknown && b == base(i);
  }
  const int q0 = base(i), q1 = base(i + 1);
  const int b0 = block.at(d + i), b1 = block.at(d + i + 1);
  return q0 >= 0 && q1 >= 0 && b0 != kUnknown && b1 != kUnknown && (q0 ^ q1) == (b0 ^ b1);
}

// The window count of one candidate by the definitions.
int model_count(const packed_t &block, const seq_record_t *q, candidate_t cand, int mode, bool colour) {
  const window_rule_t rule = rule_of(mode, colour);
  const int n = static_cast<int>(q->length);
  const int64_t p = static_cast<int32_t>(cand.position);
  std::vector<std::vector<bool>> starts(rule.count, std::vector<bool>(n, false));
  for (int v = 0; v < rule.count; v++) {
    for (int i = 0; i < n; i++) {
      for (int64_t d : {p, p - 1}) {
        bool all = true;
        for (int t = 0; t < rule.lengths[v] && all; t++) all = model_match(block, q, d, i + t, colour);
        if (all) starts[v][i] = true;
      }
      if (rule.every_third) {
        // Forward read positions 0, 3, 6, ...
        const int forward = (cand.query & 1) ? n - rule.steps[0] - i : i;
        if (((forward % 3) + 3) % 3 != 0) starts[v][i] = false;
      }
    }
  }
  int count = 0;
  int at = 0;
  for (;;) {
    int best_land = -1;
    for (int v = 0; v < rule.count; v++) {
      for (int i = at; i < n; i++) {
        if (starts[v][i]) {
          const int land = i + rule.steps[v];
          if (best_land < 0 || land < best_land) best_land = land;
          break;
        }
      }
    }
    if (best_land < 0) break;
    count++;
    at = best_land;
  }
  return count;
}

struct filter_case_t {
  packed_t block;
  std::vector<seq_record_t *> queries;
  std::vector<int64_t> sources;  // diagonal each query was copied from
  explicit filter_case_t(std::vector<int> codes) : block(std::move(codes)) {}
  ~filter_case_t() {
    for (seq_record_t *q : queries) seq_record_free(q);
  }
  candidate_filter_t *filter(int mode, bool colour) {
    return candidate_filter_new(queries.data(), static_cast<int32_t>(queries.size()), block.bases.data(),
                                block.known.data(), static_cast<int64_t>(block.codes.size()), mode, colour);
  }
};

// Queries copied from the block with sparse errors and Ns; some null; the
// odd ones reverse complements of the even ones.
void fill_queries(filter_case_t &fc, std::mt19937 &rng, int pairs) {
  const int size = static_cast<int>(fc.block.codes.size());
  for (int k = 0; k < pairs; k++) {
    const int n = rng() % 5 == 0 ? 5 + static_cast<int>(rng() % 30) : 30 + static_cast<int>(rng() % 100);
    const int64_t source = static_cast<int64_t>(rng() % (size - n));
    std::vector<int> codes(n);
    const int error_rate = 5 + static_cast<int>(rng() % 40);
    for (int i = 0; i < n; i++) {
      const int b = fc.block.at(source + i);
      codes[i] = b == kUnknown ? static_cast<int>(rng() % 4) : b;
      if (rng() % error_rate == 0) codes[i] = static_cast<int>(rng() % 4);
      if (rng() % 200 == 0) codes[i] = 4;
    }
    const bool null_pair = rng() % 10 == 0;
    fc.queries.push_back(null_pair ? nullptr : record(codes));
    std::vector<int> reverse(codes.rbegin(), codes.rend());
    for (int &v : reverse) v = v < 4 ? 3 - v : v;
    fc.queries.push_back(null_pair ? nullptr : record(reverse));
    fc.sources.push_back(source);
    fc.sources.push_back(source);
  }
}

TEST(CandidateFilter, CountsMatchThePlainModelInEverySpaceAndMode) {
  std::mt19937 rng(2718);
  for (int round = 0; round < kRandomRounds; round++) {
    filter_case_t fc(random_block_codes(rng, 600 + static_cast<int>(rng() % 600)));
    fill_queries(fc, rng, 4);
    const int size = static_cast<int>(fc.block.codes.size());
    const int mode = round % 3;
    const bool colour = (round / 3) % 2 == 1;
    candidate_filter_t *filter = fc.filter(mode, colour);
    for (uint32_t q = 0; q < fc.queries.size(); q++) {
      if (fc.queries[q] == nullptr) continue;
      std::vector<int64_t> positions = {fc.sources[q], fc.sources[q] + 1, fc.sources[q] - 1, fc.sources[q] + 2,
                                        static_cast<int64_t>(rng() % size), -3, 0, size - 2};
      for (int64_t pos : positions) {
        const candidate_t cand = {static_cast<uint32_t>(static_cast<int32_t>(pos)), q};
        ASSERT_EQ(candidate_filter_count(filter, cand), model_count(fc.block, fc.queries[q], cand, mode, colour))
            << "round " << round << " mode " << mode << " colour " << colour << " query " << q << " at " << pos;
      }
    }
    candidate_filter_free(filter);
  }
}

TEST(CandidateFilter, ApplyKeepsCandidatesReachingTheirThresholdInOrder) {
  std::mt19937 rng(31);
  for (int round = 0; round < 30; round++) {
    filter_case_t fc(random_block_codes(rng, 900));
    fill_queries(fc, rng, 5);
    const int mode = round % 3;
    const bool colour = round % 2 == 1;
    std::vector<uint32_t> thresholds(8);
    for (uint32_t &t : thresholds) t = rng() % 4;
    std::vector<candidate_t> list;
    for (uint32_t q = 0; q < fc.queries.size(); q++) {
      for (int k = 0; k < 6; k++) {
        const int64_t pos = k < 3 ? fc.sources[q] + k - 1 : static_cast<int64_t>(rng() % 900);
        list.push_back({static_cast<uint32_t>(pos), q});
      }
    }
    std::vector<candidate_t> expected;
    for (const candidate_t &cand : list) {
      const seq_record_t *q = fc.queries[cand.query];
      if (q == nullptr) continue;
      if (static_cast<uint32_t>(model_count(fc.block, q, cand, mode, colour)) >= thresholds[q->length / 32]) {
        expected.push_back(cand);
      }
    }
    candidate_filter_t *filter = fc.filter(mode, colour);
    const int32_t kept = candidate_filter_apply(filter, list.data(), static_cast<int32_t>(list.size()),
                                                thresholds.data());
    candidate_filter_free(filter);
    ASSERT_EQ(kept, static_cast<int32_t>(expected.size())) << "round " << round;
    for (int32_t k = 0; k < kept; k++) {
      EXPECT_EQ(list[k].position, expected[k].position);
      EXPECT_EQ(list[k].query, expected[k].query);
    }
  }
}

// An exact copy of 60 block bases: one window per step from position 0.
TEST(CandidateFilter, ExactCopyCountsAndTheNeighbouringDiagonal) {
  std::mt19937 rng(5);
  std::vector<int> codes(400);
  for (int &v : codes) v = static_cast<int>(rng() % 4);
  filter_case_t fc(codes);
  fc.queries.push_back(record(std::vector<int>(codes.begin() + 100, codes.begin() + 160)));
  struct expect_t {
    int mode;
    bool colour;
    int count;
  } cases[] = {
      {0, false, 2},  // windows at 0 and 30
      {1, false, 2},  // 0, then the next third from 20: 21 (42 is too short)
      {2, false, 3},  // 17-long windows land first: 0, 17, 34 (51 is too short)
      {0, true, 2},   // 29 of the 59 colours at 0 and at 30
      {1, true, 2},   // 0, 21
      {2, true, 3},   // 0, 16, 32
  };
  for (const expect_t &e : cases) {
    candidate_filter_t *filter = fc.filter(e.mode, e.colour);
    EXPECT_EQ(candidate_filter_count(filter, {100, 0}), e.count) << "mode " << e.mode << " colour " << e.colour;
    // One position past the true diagonal: credited through diagonal P - 1.
    EXPECT_EQ(candidate_filter_count(filter, {101, 0}), e.count) << "mode " << e.mode << " colour " << e.colour;
    // One position before it: neither diagonal matches.
    EXPECT_LT(candidate_filter_count(filter, {99, 0}), e.count) << "mode " << e.mode << " colour " << e.colour;
    candidate_filter_free(filter);
  }
}

TEST(CandidateFilter, ShortAndNullQueries) {
  std::vector<int> codes(300);
  for (size_t j = 0; j < codes.size(); j++) codes[j] = static_cast<int>((j * 7 + j / 5) % 4);
  filter_case_t fc(codes);
  fc.queries.push_back(record(std::vector<int>(codes.begin() + 50, codes.begin() + 66)));  // 16 bases
  fc.queries.push_back(nullptr);
  for (int mode = 0; mode < 3; mode++) {
    candidate_filter_t *filter = fc.filter(mode, false);
    EXPECT_EQ(candidate_filter_count(filter, {50, 0}), 0);
    EXPECT_EQ(candidate_filter_count(filter, {50, 1}), 0);
    candidate_t list[3] = {{50, 0}, {60, 1}, {50, 0}};
    const uint32_t zero[1] = {0};
    EXPECT_EQ(candidate_filter_apply(filter, list, 3, zero), 2);  // the null query's candidate goes
    EXPECT_EQ(list[1].query, 0u);
    const uint32_t one[1] = {1};
    EXPECT_EQ(candidate_filter_apply(filter, list, 2, one), 0);
    candidate_filter_free(filter);
  }
}

TEST(CandidateFilterDeath, UnknownMode) {
  const uint8_t bytes[80] = {};
  EXPECT_EXIT(candidate_filter_new(nullptr, 0, bytes, bytes, 16, 3, 0), testing::ExitedWithCode(1),
              "^Unknown candidate filter mode 3\n$");
}

}  // namespace
