// MapperRay against a full matrix of the same recurrences, and the
// drop-off rules on small cases.
#include "fm/mapper/mapper_ray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "fm/mapper/mapper_parameters.h"

namespace {

using Symbols = std::vector<uint8_t>;

// The full matrix: gaps open from match or mismatch steps only, row 0 is
// deletions along the top, column 0 insertions down from the start.
struct FullMatrix {
  std::vector<std::vector<int64_t>> h, e;
};

FullMatrix full_matrix(const MapperParameters &p, const Symbols &read, const Symbols &ref) {
  const int64_t inf = MapperRay::kMinusInfinity;
  const size_t n = read.size(), m = ref.size();
  FullMatrix x;
  x.h.assign(m + 1, std::vector<int64_t>(n + 1, inf));
  x.e = x.h;
  x.h[0][0] = 0;
  x.e[0][0] = -static_cast<int64_t>(p.deletion_open) - p.deletion_cost;
  for (size_t i = 1; i <= n; i++) x.h[0][i] = -static_cast<int64_t>(p.gap_open) - static_cast<int64_t>(i) * p.gap_cost;
  for (size_t c = 1; c <= m; c++) {
    x.h[c][0] = x.e[c - 1][0];
    x.e[c][0] = x.h[c][0] - p.deletion_cost;
    int64_t f = inf;
    for (size_t i = 1; i <= n; i++) {
      const int64_t s =
          read[i - 1] == ref[c - 1] && read[i - 1] < 4 ? p.match_score : -static_cast<int64_t>(p.mismatch_cost);
      const int64_t d = x.h[c - 1][i - 1] + s;
      x.h[c][i] = std::max({x.e[c - 1][i], f, d});
      x.e[c][i] = std::max(x.e[c - 1][i], d - static_cast<int64_t>(p.deletion_open)) - p.deletion_cost;
      f = std::max(f, d - static_cast<int64_t>(p.gap_open)) - p.gap_cost;
    }
  }
  return x;
}

TEST(MapperRay, WithoutDropOffItIsTheFullMatrix) {
  std::mt19937_64 rng(3);
  for (int trial = 0; trial < 40; trial++) {
    MapperParameters p;
    if (trial % 2 == 1) {
      p.gap_open = 2;
      p.deletion_open = 3;
      p.gap_cost = 1;
      p.deletion_cost = 2;
    }
    const bool global = trial % 4 >= 2;
    const size_t n = 1 + rng() % 30, m = 1 + rng() % 40;
    Symbols read(n), ref(m);
    for (auto &c : read) c = static_cast<uint8_t>(rng() % 5);
    for (auto &c : ref) c = static_cast<uint8_t>(rng() % 5);
    const FullMatrix want = full_matrix(p, read, ref);
    MapperRay ray;
    ray.setup(&p, static_cast<int32_t>(n), read.data(), global, 1000000);
    for (size_t c = 1; c <= m; c++) {
      bool done = true;
      const int32_t got = ray.column(static_cast<int32_t>(c), ref[c - 1], &done);
      EXPECT_FALSE(done);
      int64_t column_max = INT64_MIN;
      for (size_t i = 0; i <= n; i++) {
        ASSERT_EQ(ray.value(static_cast<int32_t>(i), static_cast<int32_t>(c)), want.h[c][i])
            << "trial " << trial << " cell " << i << "," << c;
        ASSERT_EQ(ray.value_e(static_cast<int32_t>(i), static_cast<int32_t>(c)), want.e[c][i]);
        column_max = std::max(column_max, want.h[c][i]);
      }
      EXPECT_EQ(got, global ? want.h[c][n] : column_max);
    }
    EXPECT_EQ(ray.column_count(), static_cast<int32_t>(m + 1));
  }
}

TEST(MapperRay, ColumnZeroHoldsTheInsertionsTheDropOffPays) {
  MapperParameters p;  // gap cost 3, no open cost
  const Symbols read(40, 0);
  MapperRay ray;
  ray.setup(&p, 40, read.data(), false, 50);
  EXPECT_EQ(ray.column_info(0).first_row, 0);
  EXPECT_EQ(ray.column_info(0).end_row, 17);  // rows 0 to 16
  for (int32_t i = 0; i <= 16; i++) EXPECT_EQ(ray.value(i, 0), -3 * i);
  EXPECT_EQ(ray.value(17, 0), MapperRay::kMinusInfinity);
  EXPECT_EQ(ray.value_e(0, 0), -3);
  EXPECT_EQ(ray.column_info(0).best, 0);
}

TEST(MapperRay, RowsFarBelowTheBestAreDroppedUntilNoneIsLeft) {
  MapperParameters p;
  const Symbols read(30, 0);  // all A
  MapperRay ray;
  ray.setup(&p, 30, read.data(), false, 50);
  // Ten matches, then a reference of Cs only: every row falls away.
  int32_t c = 1;
  bool done = false;
  for (; c <= 10; c++) EXPECT_EQ(ray.column(c, 0, &done), c);
  EXPECT_FALSE(done);
  int32_t last = 0;
  for (; !done && c < 200; c++) {
    ray.column(c, 1, &done);
    // The rows kept lie within the drop-off of the best score.
    const MapperRayColumn &k = ray.column_info(c);
    for (int32_t i = k.first_row; i < k.end_row; i++) EXPECT_GE(ray.value(i, c), k.best - 50);
    last = c;
  }
  EXPECT_TRUE(done);
  EXPECT_EQ(ray.column_info(last).best, 10);
  EXPECT_LT(last, 40);
  // The column before keeps its rows for a backtrace from it.
  EXPECT_GT(ray.column_info(last - 1).end_row, ray.column_info(last - 1).first_row);
}

TEST(MapperRay, GlobalColumnShortOfTheLastRowGivesIntMin) {
  MapperParameters p;
  const Symbols read(30, 2);
  MapperRay ray;
  ray.setup(&p, 30, read.data(), true, 50);
  EXPECT_EQ(ray.column_info(0).best, INT_MIN);  // column 0 ends at row 16
  bool done = false;
  EXPECT_EQ(ray.column(1, 2, &done), INT_MIN);  // rows up to 18
  EXPECT_FALSE(done);
  int32_t c = 2;
  int32_t score = INT_MIN;
  for (; c <= 30 && score == INT_MIN; c++) score = ray.column(c, 2, &done);
  // Row 30 is reached by the diagonal of matches first at column 30; the
  // rows grow by two per column, so an insertion path reaches it earlier
  // with a lower score.
  EXPECT_NE(score, INT_MIN);
  EXPECT_LT(c - 1, 30);
  for (; c <= 30; c++) score = ray.column(c, 2, &done);
  EXPECT_EQ(score, 30);
}

}  // namespace
