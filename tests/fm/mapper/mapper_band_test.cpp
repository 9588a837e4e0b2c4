// The vectorised band against the scalar oracle: whole bands column by
// column, depth-first walks that roll columns back as an extender does,
// bands that step up to 32-bit lanes, and backtraces through the band's
// cell tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "band_oracle.h"
#include "fm/mapper/mapper_band.h"

using band_test::Costs;
using band_test::OracleBand;

namespace {

std::unique_ptr<VectorizedMapperBand> make_band(Costs k) {
  MapperBand *band = MapperBand::create(k.match, k.mismatch, k.insertion_open, k.insertion_cost, k.deletion_open,
                                        k.deletion_cost);
  return std::unique_ptr<VectorizedMapperBand>(static_cast<VectorizedMapperBand *>(band));
}

std::string describe(Costs k, uint32_t rows, int32_t threshold, bool global) {
  return testing::PrintToString(std::vector<int64_t>{k.match, k.mismatch, k.insertion_open, k.insertion_cost,
                                                     k.deletion_open, k.deletion_cost, rows, threshold, global});
}

// Compares column c of the band with the oracle: the column result, the
// end row, every cell of a read row (H and, where it exists, E) and the
// cells outside the read, which the band may only under-state.
void expect_column(VectorizedMapperBand const &band, OracleBand const &oracle, int64_t c, int64_t result,
                   Costs k, int *failures) {
  auto fail = [&](char const *what, int64_t r, int64_t want, int64_t got) {
    if (++*failures <= 5) ADD_FAILURE() << what << " at row " << r << " column " << c << ": want " << want << " got " << got;
  };
  if (result != oracle.result(c)) fail("column result", -2, oracle.result(c), result);
  if (band.max_row_index(static_cast<uint32_t>(c)) != oracle.max_row(c)) {
    fail("max row", -2, oracle.max_row(c), band.max_row_index(static_cast<uint32_t>(c)));
  }
  bool in16 = c < band.step_up_column();
  for (int64_t f = 0; f < oracle.height(); f++) {
    int64_t r = c + f - oracle.upper();
    int64_t want = oracle.h(r, c);
    int64_t got = band.value(static_cast<int32_t>(r), static_cast<int32_t>(c));
    if (r >= -1 && r < oracle.rows()) {
      if (got != want) fail("H", r, want, got);
      // Every read row's score, also less one deletion, fits the 16-bit
      // lanes of its column without touching the floor.
      int64_t stored = want + band.bias();
      if (in16 && (stored - k.deletion_open - k.deletion_cost <= -32768 || stored > 32767)) {
        fail("16-bit range", r, want + band.bias(), band.bias());
      }
      int64_t want_e = band.is_linear() ? (c == 0 ? INT_MIN : band_test::minus(oracle.h(r, c - 1), k.deletion_cost))
                                        : oracle.e(r, c);
      int64_t got_e = band.value_e(static_cast<int32_t>(r), static_cast<int32_t>(c));
      if (want_e == INT_MIN || !band_test::is_inf(want_e)) {
        if (got_e != want_e) fail("E", r, want_e, got_e);
      } else if (got_e > MapperBand::kMinusInfinity / 2) {
        fail("E minus infinity", r, want_e, got_e);
      }
    } else if (!band_test::is_inf(want) && got > want) {
      fail("outside the read", r, want, got);
    }
  }
}

struct Case {
  Costs costs;
  uint32_t rows;
  int32_t threshold;
  bool global;
};

// Costs within the option ranges of the read mapper.
Case option_case(std::mt19937 &random, uint32_t max_rows) {
  Case t;
  bool affine = random() % 2 == 0;
  t.costs = {static_cast<int32_t>(1 + random() % 10),
             static_cast<int32_t>(1 + random() % 10),
             affine ? static_cast<int32_t>(random() % 11) : 0,
             static_cast<int32_t>(1 + random() % 3),
             affine ? static_cast<int32_t>(random() % 11) : 0,
             static_cast<int32_t>(1 + random() % 3)};
  if (random() % 4 == 0) t.costs = {1, 2, 0, 3, 0, 3};  // the defaults
  t.rows = 1 + random() % max_rows;
  t.global = random() % 2 == 0;
  int32_t all = static_cast<int32_t>(t.rows) * t.costs.match;
  switch (random() % 4) {
    case 0: t.threshold = 0; break;
    case 1: t.threshold = -static_cast<int32_t>(random() % (2 * all + 1)); break;
    default: t.threshold = static_cast<int32_t>(random() % (all + 1)); break;
  }
  return t;
}

// Costs far outside the option ranges: large gap costs make columns span
// more than 16 bits from the start, or make the insertion scan costs pass
// 32767 while the columns still fit.
Case wide_case(std::mt19937 &random) {
  Case t = option_case(random, 60);
  t.costs.match = static_cast<int32_t>(1 + random() % 127);
  t.costs.mismatch = static_cast<int32_t>(1 + random() % 127);
  t.costs.insertion_cost = static_cast<int32_t>(1 + random() % 5000);
  if (t.costs.insertion_open != 0) t.costs.insertion_open = static_cast<int32_t>(random() % 20000);
  t.costs.deletion_cost = random() % 2 ? 1 : static_cast<int32_t>(1 + random() % 5000);
  if (t.costs.deletion_open != 0) t.costs.deletion_open = static_cast<int32_t>(random() % 400);
  if (random() % 3 == 0) t.threshold = -static_cast<int32_t>(random() % 200000);
  return t;
}

// Runs one whole band column by column and compares every column.
void run_whole_band(Case const &t, std::mt19937 &random, std::vector<uint32_t> *step_ups = nullptr) {
  SCOPED_TRACE(describe(t.costs, t.rows, t.threshold, t.global));
  std::vector<uint8_t> read = band_test::random_read(random, t.rows);
  OracleBand oracle(t.costs, t.rows, t.threshold, t.global, read);
  std::vector<uint8_t> ref = band_test::random_reference(random, read, oracle.columns());
  auto band = make_band(t.costs);
  band->update_parameters(t.rows, t.threshold, t.global, ref.data(), read.data());
  ASSERT_EQ(band->upper_width(), oracle.upper());
  ASSERT_EQ(band->lower_width(), oracle.lower());
  ASSERT_EQ(band->band_height(), oracle.height());
  ASSERT_EQ(band->column_count(), oracle.columns());
  if (step_ups != nullptr) step_ups->push_back(band->step_up_column() == 0 ? 0 : band->step_up_column() > band->column_count() ? 2 : 1);
  int failures = 0;
  for (int64_t c = 0; c < oracle.columns() && failures == 0; c++) {
    oracle.compute(c, ref[c]);
    int32_t result = band->column(static_cast<uint32_t>(c), ref[c]);
    expect_column(*band, oracle, c, result, t.costs, &failures);
  }
  // The diagonal match runs equal the cell-by-cell test, from random cells
  // and from column ends, where the runs of an alignment's last matches
  // start.
  const int32_t columns = static_cast<int32_t>(oracle.columns());
  for (int i = 0; i < 40 && failures == 0 && columns > 0; i++) {
    const int32_t c = static_cast<int32_t>(random() % static_cast<uint32_t>(columns));
    const int32_t r = i % 2 == 0 ? static_cast<int32_t>(random() % t.rows)
                                 : std::max(0, band->max_row_index(static_cast<uint32_t>(c)));
    EXPECT_EQ(band->match_run(r, c), band->MapperBand::match_run(r, c)) << "cell " << r << ", " << c;
  }
}

TEST(MapperBand, EqualsTheOracleWithinTheOptionRanges) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 700; round++) run_whole_band(option_case(random, round < 600 ? 120 : 700), random);
}

TEST(MapperBand, EqualsTheOracleWithWideCosts) {
  std::mt19937 random(77);
  std::vector<uint32_t> kinds;
  for (int round = 0; round < 600; round++) run_whole_band(wide_case(random), random, &kinds);
  // All three layouts occurred: 32-bit only, stepped up, 16-bit only.
  for (uint32_t kind : {0U, 1U, 2U}) EXPECT_NE(std::count(kinds.begin(), kinds.end(), kind), 0) << kind;
}

// Scores that pass 65000 within the band force the step-up to 32-bit lanes
// part way; with option costs that takes a read part of thousands.
TEST(MapperBand, StepsUpPast65000AndStillEqualsTheOracle) {
  std::mt19937 random(4242);
  const Case cases[] = {
      {{10, 4, 0, 3, 0, 3}, 6600, 6600 * 10 - 2000, false},
      {{9, 10, 4, 2, 7, 1}, 7400, 7400 * 9 - 3000, false},
      {{100, 30, 0, 3, 0, 2}, 800, 0, false},
      {{120, 127, 6, 3, 2, 1}, 700, 700 * 120 - 15000, true},
      {{127, 1, 0, 1, 0, 1}, 600, -20000, true},
  };
  for (Case const &t : cases) {
    std::vector<uint32_t> kind;
    run_whole_band(t, random, &kind);
    EXPECT_EQ(kind[0], 1U) << describe(t.costs, t.rows, t.threshold, t.global);
  }
}

TEST(MapperBand, StepUpColumnIsTheFirstColumnSpanningMoreThan65000) {
  Costs k{10, 4, 0, 3, 0, 3};
  uint32_t rows = 6600;
  int32_t threshold = 6600 * 10 - 2000;
  std::vector<uint8_t> read(rows, 1);
  auto band = make_band(k);
  band->update_parameters(rows, threshold, false, read.data(), read.data());
  uint32_t step = band->step_up_column();
  ASSERT_GT(step, 0U);
  ASSERT_LE(step, band->column_count());
  MapperBandAid aid(rows, band->column_count(), band->lower_width(), band->upper_width(), -k.mismatch, k.match,
                    k.insertion_open, k.insertion_cost, k.deletion_open, k.deletion_cost);
  int64_t minus_lowest = 0;
  EXPECT_GT(aid.get_column_range(step, &minus_lowest), 65000);
  EXPECT_LE(aid.get_column_range(step - 1, &minus_lowest), 65000);
}

// An extender's walk: depth-first over reference continuations, one column
// per step, rolling back to a shallower column after each finished branch.
// The oracle rolls back the same way; every column is compared as it is
// computed.
void run_walk(Case const &t, std::mt19937 &random, int64_t focus) {
  SCOPED_TRACE(describe(t.costs, t.rows, t.threshold, t.global));
  std::vector<uint8_t> read = band_test::random_read(random, t.rows);
  OracleBand oracle(t.costs, t.rows, t.threshold, t.global, read);
  std::vector<uint8_t> ref = band_test::random_reference(random, read, oracle.columns());
  auto band = make_band(t.costs);
  band->update_parameters(t.rows, t.threshold, t.global, ref.data(), read.data());
  // Nodes: (depth, code). Branching happens mostly near the focus column.
  struct Node {
    int64_t depth;
    uint8_t code;
  };
  std::vector<Node> stack = {{0, ref[0]}};
  int failures = 0;
  int64_t computed = 0;
  while (!stack.empty() && failures == 0 && computed < 6 * oracle.columns() + 200) {
    Node node = stack.back();
    stack.pop_back();
    oracle.compute(node.depth, node.code);
    int32_t result = band->column(static_cast<uint32_t>(node.depth), node.code);
    computed++;
    expect_column(*band, oracle, node.depth, result, t.costs, &failures);
    int64_t next = node.depth + 1;
    if (next >= oracle.columns()) continue;
    bool near = next > focus - 6 && next < focus + 6;
    int children = 1 + (random() % (near ? 2 : 9) == 0 ? 1 : 0) + (near && random() % 3 == 0 ? 1 : 0);
    for (int i = 0; i < children; i++) {
      uint8_t code = i == children - 1 ? ref[next] : static_cast<uint8_t>(random() % 5);
      stack.push_back({next, code});
    }
  }
  EXPECT_GE(computed, oracle.columns());
}

TEST(MapperBand, RollbackRecomputesColumnsAsTheOracleDoes) {
  std::mt19937 random(99);
  for (int round = 0; round < 150; round++) {
    Case t = option_case(random, 80);
    run_walk(t, random, static_cast<int64_t>(random() % (t.rows + 1)));
  }
}

TEST(MapperBand, RollbackAcrossTheStepUp) {
  std::mt19937 random(5);
  const Case cases[] = {
      {{100, 30, 0, 3, 0, 2}, 800, 0, false},
      {{120, 127, 6, 3, 2, 1}, 700, 700 * 120 - 15000, true},
  };
  for (Case const &t : cases) {
    std::vector<uint8_t> probe(t.rows, 0);
    auto band = make_band(t.costs);
    band->update_parameters(t.rows, t.threshold, t.global, probe.data(), probe.data());
    int64_t step = band->step_up_column();
    ASSERT_GT(step, 0);
    ASSERT_LT(step, band->column_count());
    run_walk(t, random, step);
  }
}

// Walks continuation trees of local bands as run_walk does and checks that
// every column result stays at or below the reach bound of each column
// above it on its path; returns how many bounds were finite.
int64_t check_reach_bounds(Case const &t, std::mt19937 &random) {
  SCOPED_TRACE(describe(t.costs, t.rows, t.threshold, false));
  std::vector<uint8_t> read = band_test::random_read(random, t.rows);
  auto band = make_band(t.costs);
  band->update_parameters(t.rows, t.threshold, false, nullptr, read.data());
  std::vector<uint8_t> ref = band_test::random_reference(random, read, band->column_count());
  band->update_parameters(t.rows, t.threshold, false, ref.data(), read.data());
  struct Node {
    uint32_t depth;
    uint8_t code;
    int32_t bound;  // least reach bound of the columns above
  };
  std::vector<Node> stack = {{0, ref[0], INT_MAX}};
  int64_t finite = 0;
  int64_t computed = 0;
  while (!stack.empty() && computed < 6 * static_cast<int64_t>(band->column_count()) + 200) {
    const Node node = stack.back();
    stack.pop_back();
    const int32_t result = band->column(node.depth, node.code);
    computed++;
    EXPECT_LE(result, node.bound) << "column " << node.depth;
    if (result > node.bound) return finite;
    const int32_t own = band->reach_bound(node.depth);
    // A bound never lies below what its own column already holds.
    EXPECT_GE(own, result) << "column " << node.depth;
    if (own != INT_MAX) finite++;
    const uint32_t next = node.depth + 1;
    if (next >= band->column_count()) continue;
    const int children = 1 + (random() % 4 == 0 ? 1 : 0);
    for (int i = 0; i < children; i++) {
      const uint8_t code = i == children - 1 ? ref[next] : static_cast<uint8_t>(random() % 5);
      stack.push_back({next, code, std::min(node.bound, own)});
    }
  }
  return finite;
}

TEST(MapperBand, NoLaterColumnPassesTheReachBound) {
  std::mt19937 random(41);
  int64_t finite = 0;
  for (int round = 0; round < 200; round++) {
    Case t = round % 5 == 4 ? wide_case(random) : option_case(random, 120);
    finite += check_reach_bounds(t, random);
  }
  EXPECT_GT(finite, 5000);
}

TEST(MapperBand, ReachBoundFallsBelowTheFullMatchJustPastTheReadEnd) {
  Costs k{1, 2, 0, 3, 0, 3};
  std::mt19937 random(3);
  const uint32_t rows = 100;
  std::vector<uint8_t> read = band_test::random_read(random, rows);
  for (uint8_t &x : read) x &= 3;
  // The read itself, then a reference tail of other symbols.
  std::vector<uint8_t> ref = read;
  for (int i = 0; i < 200; i++) ref.push_back(static_cast<uint8_t>(random() % 4));
  auto band = make_band(k);
  band->update_parameters(rows, 0, false, ref.data(), read.data());
  ASSERT_GT(band->column_count(), rows + 2);
  for (uint32_t c = 0; c < rows + 2; c++) band->column(c, ref[c]);
  // Mid-read the whole read may still be matched; one column past the
  // read end nothing can come back to the full match.
  EXPECT_GE(band->reach_bound(rows / 2), static_cast<int32_t>(rows));
  EXPECT_GE(band->reach_bound(rows - 1), static_cast<int32_t>(rows));
  EXPECT_LT(band->reach_bound(rows), static_cast<int32_t>(rows));
  EXPECT_LT(band->reach_bound(rows + 1), static_cast<int32_t>(rows));
}

TEST(MapperBand, ReachBoundIsUnknownInThirtyTwoBitColumns) {
  const Case t = {{100, 30, 0, 3, 0, 2}, 800, 0, false};
  std::vector<uint8_t> read(t.rows, 1);
  auto band = make_band(t.costs);
  band->update_parameters(t.rows, t.threshold, false, read.data(), read.data());
  const uint32_t step = band->step_up_column();
  ASSERT_GT(step, 0U);
  ASSERT_LT(step + 1, band->column_count());
  for (uint32_t c = 0; c <= step; c++) band->column(c, read[c]);
  EXPECT_EQ(band->reach_bound(step), INT_MAX);
}

// Walks back from an end cell with the band's cell tests only, in the way
// the extender's backtrace does, and returns the operations from the end
// to the start: 'M' match or mismatch, 'I' insertion, 'D' deletion. The
// walk stops at row -1 or column -1; what is left there is the start
// column's insertions or row -1's deletions.
std::string trace_back(MapperBand const &band, int32_t r, int32_t c, int *stuck) {
  std::string ops;
  int state = 0;  // 0 any step, 2 inside a deletion
  while (r >= 0 && c >= 0) {
    int32_t run = 0;
    if (state == 2) {
      if (band.continued_deletion(r, c)) {
        ops += 'D';
        c--;
        continue;
      }
      state = 0;
    }
    if (band.possible_match_or_mismatch(r, c)) {
      ops += 'M';
      r--;
      c--;
    } else if (band.possible_insertion(r, c, &run)) {
      ops.append(static_cast<size_t>(run), 'I');
      r -= run;
    } else if (band.possible_deletion(r, c)) {
      ops += 'D';
      c--;
      state = 2;
    } else {
      ++*stuck;
      return ops;
    }
  }
  ops.append(static_cast<size_t>(r + 1), 'I');
  ops.append(static_cast<size_t>(c + 1), 'D');
  return ops;
}

// Score of operations listed from the end of the alignment to its start.
int64_t score_of(std::string const &ops, Costs k, std::vector<uint8_t> const &read, std::vector<uint8_t> const &ref,
                 int64_t r, int64_t c) {
  int64_t total = 0;
  for (size_t i = 0; i < ops.size(); i++) {
    char op = ops[i];
    bool opens = i + 1 == ops.size() || ops[i + 1] != op;  // the run's first operation in forward order
    if (op == 'M') {
      total += (read[r] < 4 && read[r] == ref[c]) ? k.match : -k.mismatch;
      r--;
      c--;
    } else if (op == 'I') {
      total -= k.insertion_cost + (opens ? k.insertion_open : 0);
      r--;
    } else {
      total -= k.deletion_cost + (opens ? k.deletion_open : 0);
      c--;
    }
  }
  EXPECT_EQ(r, -1);
  EXPECT_EQ(c, -1);
  return total;
}

TEST(MapperBand, BacktraceTestsFollowAnOptimalPath) {
  std::mt19937 random(31337);
  int traced = 0;
  for (int round = 0; round < 400; round++) {
    Case t = option_case(random, 100);
    SCOPED_TRACE(describe(t.costs, t.rows, t.threshold, t.global));
    std::vector<uint8_t> read = band_test::random_read(random, t.rows);
    auto band = make_band(t.costs);
    band->update_parameters(t.rows, t.threshold, t.global, nullptr, read.data());
    std::vector<uint8_t> ref = band_test::random_reference(random, read, band->column_count());
    band->update_parameters(t.rows, t.threshold, t.global, ref.data(), read.data());
    uint32_t best_column = 0;
    int32_t best = band->range(0, band->column_count(), &best_column);
    if (best == INT_MIN) continue;
    int32_t end_row = band->max_row_index(best_column);
    if (end_row < 0) continue;
    int stuck = 0;
    std::string ops = trace_back(*band, end_row, static_cast<int32_t>(best_column), &stuck);
    ASSERT_EQ(stuck, 0) << ops;
    EXPECT_EQ(score_of(ops, t.costs, read, ref, end_row, best_column), band->value(end_row, best_column)) << ops;
    traced++;
  }
  EXPECT_GT(traced, 300);
}

TEST(MapperBand, RangeReturnsTheBestColumnResultAndItsFirstColumn) {
  Costs k{1, 2, 0, 3, 0, 3};
  std::vector<uint8_t> read = {0, 1, 2, 3, 0, 1, 2, 3};
  std::vector<uint8_t> ref = {0, 1, 2, 3, 0, 1, 2, 3, 3, 3, 3, 3};
  auto band = make_band(k);
  band->update_parameters(8, 0, false, ref.data(), read.data());
  uint32_t column = 99;
  EXPECT_EQ(band->range(3, 3, &column), INT_MIN);
  EXPECT_EQ(column, 0U);
  EXPECT_EQ(band->range(0, 8, &column), 8);
  EXPECT_EQ(column, 7U);
  // Columns 8 and 9 add deletions after the full match: the maximum stays
  // in the earlier rows, so the best is still first reached at column 7.
  band->update_parameters(8, 0, false, ref.data(), read.data());
  EXPECT_EQ(band->range(0, band->column_count(), &column), 8);
  EXPECT_EQ(column, 7U);
}

TEST(MapperBand, DefaultScoresKeepAThousandRowPartIn16Bits) {
  Costs k{1, 2, 0, 3, 0, 3};
  std::vector<uint8_t> read(1000, 2);
  auto band = make_band(k);
  for (bool global : {false, true}) {
    band->update_parameters(1000, 0, global, read.data(), read.data());
    EXPECT_EQ(band->step_up_column(), band->column_count() + 1);
    MapperBandAid aid(1000, band->column_count(), band->lower_width(), band->upper_width(), -2, 1, 0, 3, 0, 3);
    int64_t minus_lowest = 0;
    for (int64_t a = 0; a <= band->column_count(); a++) EXPECT_LT(aid.get_column_range(a, &minus_lowest), 10000);
  }
  // Even the widest band of such a part: global, any threshold.
  band->update_parameters(1000, -100000, true, read.data(), read.data());
  EXPECT_EQ(band->step_up_column(), band->column_count() + 1);
}

TEST(MapperBand, GlobalColumnsReportTheLastRowOnceTheBandReachesIt) {
  Costs k{1, 2, 0, 3, 0, 3};
  std::mt19937 random(8);
  std::vector<uint8_t> read = band_test::random_read(random, 200);
  auto band = make_band(k);
  band->update_parameters(200, 180, true, nullptr, read.data());
  std::vector<uint8_t> ref = band_test::random_reference(random, read, band->column_count());
  band->update_parameters(200, 180, true, ref.data(), read.data());
  int64_t first = 200 - static_cast<int64_t>(band->lower_width()) - 1;
  ASSERT_GT(first, 0);
  for (uint32_t c = 0; c < band->column_count(); c++) {
    int32_t v = band->column(c, ref[c]);
    if (c < first) {
      EXPECT_EQ(v, INT_MIN) << c;
    } else {
      EXPECT_EQ(v, band->value(199, static_cast<int32_t>(c))) << c;
      EXPECT_NE(v, INT_MIN) << c;
    }
  }
}

TEST(MapperBand, AnNInTheReadScoresMinusTheMismatchAgainstEveryCode) {
  Costs k{1, 2, 0, 3, 0, 3};
  uint8_t read[1] = {4};
  auto band = make_band(k);
  for (uint8_t code = 0; code < 5; code++) {
    band->update_parameters(1, 0, false, &code, read);
    EXPECT_EQ(band->column(0, code), -2) << static_cast<int>(code);
    EXPECT_EQ(band->value(0, 0), -2);
  }
  for (uint8_t a = 0; a < 5; a++) {
    for (uint8_t b = 0; b < 5; b++) EXPECT_EQ(band->score(a, b), a == b && a < 4 ? 1 : -2);
  }
}

// With unequal insertion and deletion costs and gap opens, the cells next
// to the start column and row -1 are tested with the real gap costs.
TEST(MapperBand, EdgeGapsUseTheRealCosts) {
  Costs k{1, 10, 4, 2, 3, 1};
  uint8_t read[3] = {0, 0, 0};
  uint8_t ref[4] = {3, 0, 0, 0};
  auto band = make_band(k);
  band->update_parameters(3, -30, true, ref, read);
  for (uint32_t c = 0; c < 4; c++) band->column(c, ref[c]);
  // (0, 1): one deletion (-4) then a match.
  EXPECT_EQ(band->value(0, 1), -3);
  EXPECT_TRUE(band->possible_match_or_mismatch(0, 1));
  // (0, 0): a mismatch (-10), or three insertions' worth of start column
  // then a deletion (-6 - 4), or a deletion then an insertion (-4 - 6).
  EXPECT_EQ(band->value(0, 0), -10);
  EXPECT_TRUE(band->possible_match_or_mismatch(0, 0));
  EXPECT_TRUE(band->possible_deletion(0, 0));
  int32_t run = 0;
  EXPECT_TRUE(band->possible_insertion(0, 0, &run));
  EXPECT_EQ(run, 1);
  // (2, 0): three insertions then a deletion (-10 - 4), or a deletion then
  // three insertions (-4 - 10); the mismatch path costs -18.
  EXPECT_EQ(band->value(2, 0), -14);
  EXPECT_FALSE(band->possible_match_or_mismatch(2, 0));
  EXPECT_TRUE(band->possible_deletion(2, 0));
  EXPECT_TRUE(band->continued_deletion(2, 0));
  EXPECT_TRUE(band->possible_insertion(2, 0, &run));
  EXPECT_EQ(run, 3);
}

}  // namespace
