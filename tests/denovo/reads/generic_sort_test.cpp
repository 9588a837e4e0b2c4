// Generic sort: results against std::sort for several element sizes, the
// caller context, the rand() use, the partitions' postconditions and a
// bounded number of comparisons when keys repeat.
#include "denovo/reads/generic_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Elements are the key (first 4 bytes, little-endian) followed by filler
// that identifies the element, so lost or duplicated bytes show.
struct Elements {
  size_t size;
  std::vector<uint8_t> bytes;
  uint64_t count() const { return bytes.size() / size; }
  uint8_t *at(uint64_t i) { return bytes.data() + i * size; }
};

uint32_t key_of(const void *p) {
  uint32_t k;
  memcpy(&k, p, 4);
  return k;
}

struct Context {
  uint64_t calls = 0;
  bool descending = false;
};

int compare_keys(const void *a, const void *b, void *context) {
  auto *c = static_cast<Context *>(context);
  c->calls++;
  const uint32_t x = key_of(a), y = key_of(b);
  const int r = x < y ? -1 : x > y ? 1 : 0;
  return c->descending ? -r : r;
}

Elements make_elements(uint64_t n, size_t size, uint32_t distinct_keys, std::mt19937 &rng) {
  Elements e{size, std::vector<uint8_t>(n * size)};
  for (uint64_t i = 0; i < n; i++) {
    const uint32_t key = static_cast<uint32_t>(rng() % distinct_keys);
    memcpy(e.at(i), &key, 4);
    for (size_t b = 4; b < size; b++) e.at(i)[b] = static_cast<uint8_t>(i * 7 + b);
  }
  return e;
}

std::vector<std::vector<uint8_t>> as_rows(Elements &e) {
  std::vector<std::vector<uint8_t>> rows;
  for (uint64_t i = 0; i < e.count(); i++) rows.emplace_back(e.at(i), e.at(i) + e.size);
  return rows;
}

TEST(GenericSort, MatchesStdSortForManySizesAndElementWidths) {
  std::mt19937 rng(7);
  const uint64_t counts[] = {0, 1, 2, 5, 31, 32, 33, 64, 200, 5000};
  const size_t widths[] = {4, 8, 13, 32, 40, 75};
  for (size_t width : widths) {
    for (uint64_t n : counts) {
      for (uint32_t distinct : {3u, 1000000u}) {
        SCOPED_TRACE(testing::Message() << "width " << width << " n " << n << " keys " << distinct);
        Elements e = make_elements(n, width, distinct, rng);
        auto expected = as_rows(e);
        Context context;
        generic_sort(e.bytes.data(), n, width, compare_keys, &context);
        auto got = as_rows(e);
        for (uint64_t i = 1; i < n; i++) ASSERT_LE(key_of(got[i - 1].data()), key_of(got[i].data()));
        // Same elements, byte for byte, in some order.
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected);
      }
    }
  }
}

TEST(GenericSort, PassesTheCallerContextToEveryComparison) {
  std::mt19937 rng(11);
  Elements e = make_elements(300, 4, 1000, rng);
  Context context;
  context.descending = true;
  generic_sort(e.bytes.data(), e.count(), 4, compare_keys, &context);
  for (uint64_t i = 1; i < e.count(); i++) EXPECT_GE(key_of(e.at(i - 1)), key_of(e.at(i)));
  EXPECT_GT(context.calls, 0u);
}

TEST(GenericSort, DrawsFromRandOnlyForRangesOf32OrMore) {
  std::mt19937 rng(3);
  srand(12345);
  const int first = rand();
  const int second = rand();
  ASSERT_NE(first, second);

  Context context;
  Elements short_run = make_elements(31, 4, 100, rng);
  srand(12345);
  generic_sort(short_run.bytes.data(), 31, 4, compare_keys, &context);
  EXPECT_EQ(rand(), first) << "31 elements must not draw";

  Elements long_run = make_elements(32, 4, 100, rng);
  srand(12345);
  generic_sort(long_run.bytes.data(), 32, 4, compare_keys, &context);
  EXPECT_NE(rand(), first) << "32 elements must draw a pivot";
}

// With one key, or a handful, the three-way split sets all equal elements
// aside at once; a two-way split would take about n^2 / 2 comparisons here.
TEST(GenericSort, RepeatedKeysCostLinearlyManyComparisonsPerLevel) {
  std::mt19937 rng(5);
  const uint64_t n = 200000;
  Elements all_equal = make_elements(n, 8, 1, rng);
  Context context;
  generic_sort(all_equal.bytes.data(), n, 8, compare_keys, &context);
  EXPECT_LT(context.calls, 2 * n);

  Elements few_keys = make_elements(n, 8, 4, rng);
  Context few;
  generic_sort(few_keys.bytes.data(), n, 8, compare_keys, &few);
  EXPECT_LT(few.calls, 8 * n);
  for (uint64_t i = 1; i < n; i++) ASSERT_LE(key_of(few_keys.at(i - 1)), key_of(few_keys.at(i)));
}

TEST(GenericSort, TwoWayPartitionSplitsAroundThePivot) {
  std::mt19937 rng(9);
  for (uint64_t n : {1u, 2u, 7u, 50u}) {
    for (uint32_t distinct : {1u, 3u, 100u}) {
      for (uint64_t pivot : {uint64_t{0}, n / 2, n - 1}) {
        Elements e = make_elements(n, 4, distinct, rng);
        const uint32_t pivot_key = key_of(e.at(pivot));
        Context context;
        const uint64_t at = generic_sort_partition(e.bytes.data(), n, 4, compare_keys, &context, pivot);
        ASSERT_LT(at, n);
        EXPECT_EQ(key_of(e.at(at)), pivot_key);
        for (uint64_t i = 0; i < at; i++) EXPECT_LT(key_of(e.at(i)), pivot_key);
        for (uint64_t i = at + 1; i < n; i++) EXPECT_GE(key_of(e.at(i)), pivot_key);
      }
    }
  }
}

TEST(GenericSort, ThreeWayPartitionGathersTheEqualRun) {
  std::mt19937 rng(13);
  for (uint64_t n : {1u, 2u, 7u, 50u, 500u}) {
    for (uint32_t distinct : {1u, 3u, 100u}) {
      for (uint64_t pivot : {uint64_t{0}, n / 2, n - 1}) {
        Elements e = make_elements(n, 12, distinct, rng);
        auto before = as_rows(e);
        const uint32_t pivot_key = key_of(e.at(pivot));
        const auto equal = std::count_if(before.begin(), before.end(),
                                         [&](const std::vector<uint8_t> &r) { return key_of(r.data()) == pivot_key; });
        Context context;
        uint64_t begin = 0, end = 0;
        generic_sort_partition3(e.bytes.data(), n, 12, compare_keys, &context, pivot, &begin, &end);
        ASSERT_LE(begin, end);
        ASSERT_LE(end, n);
        EXPECT_EQ(end - begin, static_cast<uint64_t>(equal));
        for (uint64_t i = 0; i < begin; i++) EXPECT_LT(key_of(e.at(i)), pivot_key);
        for (uint64_t i = begin; i < end; i++) EXPECT_EQ(key_of(e.at(i)), pivot_key);
        for (uint64_t i = end; i < n; i++) EXPECT_GT(key_of(e.at(i)), pivot_key);
        auto after = as_rows(e);
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, before);
        // One comparison per element besides the pivot.
        EXPECT_EQ(context.calls, n - 1);
      }
    }
  }
}

TEST(GenericSort, InsertionSortOrdersShortRuns) {
  std::mt19937 rng(17);
  for (uint64_t n : {0u, 1u, 2u, 3u, 31u, 100u}) {
    Elements e = make_elements(n, 33, 10, rng);
    Context context;
    generic_insertion_sort(e.bytes.data(), n, 33, compare_keys, &context);
    for (uint64_t i = 1; i < n; i++) EXPECT_LE(key_of(e.at(i - 1)), key_of(e.at(i)));
  }
}

TEST(GenericSort, SwapExchangesElementsOfAnyLength) {
  for (size_t size : {1u, 31u, 32u, 33u, 64u, 100u}) {
    std::vector<uint8_t> a(size), b(size);
    for (size_t i = 0; i < size; i++) {
      a[i] = static_cast<uint8_t>(i);
      b[i] = static_cast<uint8_t>(200 - i);
    }
    const auto a0 = a, b0 = b;
    generic_sort_swap(a.data(), b.data(), size);
    EXPECT_EQ(a, b0);
    EXPECT_EQ(b, a0);
  }
}

}  // namespace
