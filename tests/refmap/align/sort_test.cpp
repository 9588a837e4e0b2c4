// In-place sorts: every form against std::sort over a table of input
// shapes and sizes, signed and unsigned order, the candidate order of the
// seed search, the bounded range stack, equal keys and the bubble sort.
#include "refmap/align/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// Input shapes, each as signed 64-bit values that every kind truncates to
// its width.
std::vector<int64_t> shape(const std::string &name, uint32_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<int64_t> v(n);
  for (uint32_t k = 0; k < n; k++) {
    if (name == "random") v[k] = static_cast<int64_t>(rng());
    if (name == "ascending") v[k] = k;
    if (name == "descending") v[k] = static_cast<int64_t>(n) - k;
    if (name == "equal") v[k] = 7;
    if (name == "few_keys") v[k] = static_cast<int64_t>(rng() % 3) - 1;
    if (name == "organ_pipe") v[k] = k < n / 2 ? k : n - k;
    if (name == "sawtooth") v[k] = k % 37;
    if (name == "sign_mix") v[k] = static_cast<int64_t>(rng() % 2001) - 1000;
  }
  return v;
}

const char *kShapes[] = {"random", "ascending", "descending", "equal", "few_keys", "organ_pipe", "sawtooth", "sign_mix"};
const uint32_t kSizes[] = {0, 1, 2, 3, 15, 16, 17, 33, 100, 1000, 3000};

template <typename T>
void check_sort(const char *label, const std::function<void(T *, uint32_t)> &sort) {
  for (const char *name : kShapes) {
    for (uint32_t n : kSizes) {
      std::vector<int64_t> source = shape(name, n, n * 31 + 5);
      std::vector<T> got(n), want(n);
      for (uint32_t k = 0; k < n; k++) got[k] = want[k] = static_cast<T>(source[k]);
      std::sort(want.begin(), want.end());
      sort(got.data(), n);
      ASSERT_EQ(got, want) << label << " " << name << " n=" << n;
    }
  }
}

TEST(Sort, EveryFormMatchesStdSort) {
  check_sort<uint32_t>("sort_u32", [](uint32_t *a, uint32_t n) { sort_u32(a, n); });
  check_sort<uint32_t>("sort_u32_array", [](uint32_t *a, uint32_t n) { sort_u32_array({a, n}); });
  check_sort<int32_t>("sort_i32", [](int32_t *a, uint32_t n) { sort_i32(a, n); });
  check_sort<int32_t>("sort_i32_array", [](int32_t *a, uint32_t n) { sort_i32_array({a, n}); });
  check_sort<uint64_t>("sort_u64", [](uint64_t *a, uint32_t n) { sort_u64(a, n); });
  check_sort<uint64_t>("sort_u64_array", [](uint64_t *a, uint32_t n) { sort_u64_array({a, n}); });
  check_sort<int64_t>("sort_i64", [](int64_t *a, uint32_t n) { sort_i64(a, n); });
  check_sort<int64_t>("sort_i64_array", [](int64_t *a, uint32_t n) { sort_i64_array({a, n}); });
  check_sort<uint32_t>("quicksort_u32", [](uint32_t *a, uint32_t n) { quicksort_u32(a, n); });
  check_sort<uint32_t>("quicksort_u32_array", [](uint32_t *a, uint32_t n) { quicksort_u32_array({a, n}); });
  check_sort<int32_t>("quicksort_i32", [](int32_t *a, uint32_t n) { quicksort_i32(a, n); });
  check_sort<int32_t>("quicksort_i32_array", [](int32_t *a, uint32_t n) { quicksort_i32_array({a, n}); });
  check_sort<uint64_t>("quicksort_u64", [](uint64_t *a, uint32_t n) { quicksort_u64(a, n); });
  check_sort<uint64_t>("quicksort_u64_array", [](uint64_t *a, uint32_t n) { quicksort_u64_array({a, n}); });
  check_sort<int64_t>("quicksort_i64", [](int64_t *a, uint32_t n) { quicksort_i64(a, n); });
  check_sort<int64_t>("quicksort_i64_array", [](int64_t *a, uint32_t n) { quicksort_i64_array({a, n}); });
}

TEST(Sort, SignedFormsPutNegativeValuesFirstUnsignedLast) {
  std::vector<int32_t> s32 = {5, -3, 0, 2147483647, -2147483647 - 1, 1};
  sort_i32(s32.data(), 6);
  EXPECT_EQ(s32, (std::vector<int32_t>{-2147483647 - 1, -3, 0, 1, 5, 2147483647}));
  std::vector<uint32_t> u32 = {5, 0xFFFFFFFDu, 0, 0x7FFFFFFFu, 0x80000000u, 1};
  sort_u32(u32.data(), 6);
  EXPECT_EQ(u32, (std::vector<uint32_t>{0, 1, 5, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFDu}));
  std::vector<int64_t> s64 = {4, -1, INT64_MIN, INT64_MAX, 0};
  quicksort_i64(s64.data(), 5);
  EXPECT_EQ(s64, (std::vector<int64_t>{INT64_MIN, -1, 0, 4, INT64_MAX}));
  std::vector<uint64_t> u64 = {4, UINT64_MAX, 0, UINT64_C(1) << 63};
  quicksort_u64(u64.data(), 4);
  EXPECT_EQ(u64, (std::vector<uint64_t>{0, 4, UINT64_C(1) << 63, UINT64_MAX}));
}

// A candidate of the seed search: position word, then query word.
struct candidate_words_t {
  uint32_t position;
  uint32_t query;
};

TEST(Sort, CandidatesComeOutByQueryThenPositionWithNegativeDiagonalsLast) {
  std::vector<candidate_words_t> list = {
      {500, 2}, {0xFFFFFFF0u, 1}, {30, 1}, {7, 2}, {30, 0}, {12, 1}, {0x80000000u, 0}, {1, 0},
  };
  std::vector<uint64_t> words(list.size());
  memcpy(words.data(), list.data(), list.size() * 8);
  sort_u64(words.data(), static_cast<uint32_t>(words.size()));
  memcpy(list.data(), words.data(), list.size() * 8);
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (const auto &c : list) got.emplace_back(c.query, c.position);
  std::vector<std::pair<uint32_t, uint32_t>> want = {
      {0, 1}, {0, 30}, {0, 0x80000000u}, {1, 12}, {1, 30}, {1, 0xFFFFFFF0u}, {2, 7}, {2, 500},
  };
  EXPECT_EQ(got, want);
}

TEST(Sort, ShortArraysAreLeftToTheInsertionPass) {
  for (uint32_t n : {0u, 1u, 2u, 16u, 17u}) {
    std::vector<uint64_t> v = {};
    for (uint32_t k = 0; k < n; k++) v.push_back((k * 7919u) % 23u);
    sort_stats_t stats;
    sort_u64_measured(v.data(), n, &stats);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << n;
    // Up to 16 elements no range is partitioned; 17 need one partition.
    EXPECT_EQ(stats.partitions, n <= 16 ? 0u : 1u) << n;
  }
}

TEST(Sort, EqualKeysStayBalancedInTheCutOffSort) {
  const uint32_t n = 1 << 16;
  std::vector<uint64_t> v(n, 42);
  sort_stats_t stats;
  sort_u64_measured(v.data(), n, &stats);
  EXPECT_EQ(v, std::vector<uint64_t>(n, 42));
  // Balanced halves: about n steps per level over log2(n / 16) levels.
  EXPECT_LE(stats.scan_steps, static_cast<uint64_t>(2.0 * n * std::log2(n)));
  EXPECT_LE(stats.max_depth, 18);

  // The plain form passes over equal keys and degrades to quadratic work.
  const uint32_t m = 2000;
  std::vector<uint64_t> w(m, 42);
  quicksort_u64_measured(w.data(), m, &stats);
  EXPECT_EQ(w, std::vector<uint64_t>(m, 42));
  EXPECT_GT(stats.scan_steps, static_cast<uint64_t>(m) * m / 4);
}

// The range stack holds at most about log2(n) ranges for every shape, since
// the smaller part of each partition is sorted first: a range below the top
// is at least as large as everything above it.
TEST(Sort, RangeStackStaysLogarithmic) {
  const uint32_t n = 1 << 15;
  for (const char *name : kShapes) {
    std::vector<int64_t> source = shape(name, n, 99);
    std::vector<uint64_t> v(source.begin(), source.end());
    sort_stats_t stats;
    sort_u64_measured(v.data(), n, &stats);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << name;
    // Ranges of at most 16 elements are not split: log2(n / 16) + 2.
    EXPECT_LE(stats.max_depth, 13) << name;
    // The plain form is quadratic with few distinct keys; skip those.
    const std::string few[] = {"equal", "few_keys", "sawtooth"};
    if (std::find(std::begin(few), std::end(few), name) != std::end(few)) continue;
    std::vector<uint64_t> w(source.begin(), source.end());
    quicksort_u64_measured(w.data(), n, &stats);
    EXPECT_TRUE(std::is_sorted(w.begin(), w.end())) << name;
    EXPECT_LE(stats.max_depth, 17) << name;
  }
}

struct record3_t {
  uint8_t key;
  uint8_t tag[2];
};

int by_key_descending(const void *a, const void *b, void *context) {
  ++*static_cast<int *>(context);
  return static_cast<const record3_t *>(a)->key < static_cast<const record3_t *>(b)->key;
}

TEST(Sort, BubbleSortUsesTheCallersCompareAndKeepsEqualsInOrder) {
  std::vector<record3_t> items = {{3, {'a', 0}}, {9, {'b', 0}}, {3, {'c', 0}}, {1, {'d', 0}}, {9, {'e', 0}}};
  int calls = 0;
  bubble_sort(items.data(), items.size(), sizeof(record3_t), by_key_descending, &calls);
  std::string order;
  for (const auto &r : items) order += static_cast<char>(r.tag[0]);
  EXPECT_EQ(order, "beacd");
  EXPECT_GT(calls, 0);

  calls = 0;
  bubble_sort(items.data(), 1, sizeof(record3_t), by_key_descending, &calls);
  bubble_sort(nullptr, 0, sizeof(record3_t), by_key_descending, &calls);
  EXPECT_EQ(calls, 0);
}

}  // namespace
