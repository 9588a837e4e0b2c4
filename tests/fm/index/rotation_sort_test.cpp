// Rotation sorting against a naive co-lexicographic sort, and the
// single-sequence arrays built from it.
#include "fm/index/rotation_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Symbols = std::vector<unsigned char>;

// Compares the rotations at p and q reading backward cyclically: <0, 0, >0.
template <typename T>
int compare_rotations(const std::vector<T> &x, uint32_t p, uint32_t q) {
  const uint32_t n = static_cast<uint32_t>(x.size());
  for (uint32_t d = 0; d < n; d++) {
    if (x[p] != x[q]) return x[p] < x[q] ? -1 : 1;
    p = p == 0 ? n - 1 : p - 1;
    q = q == 0 ? n - 1 : q - 1;
  }
  return 0;
}

template <typename T>
std::vector<uint32_t> naive_order(const std::vector<T> &x) {
  std::vector<uint32_t> order(x.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t p, uint32_t q) { return compare_rotations(x, p, q) < 0; });
  return order;
}

// The sorted order must list the same rotations as the naive order, rank
// by rank; equal rotations (periodic strings) may come in any order.
template <typename T>
void expect_same_rotations(const std::vector<T> &x, const std::vector<uint32_t> &got, const std::string &what) {
  const std::vector<uint32_t> want = naive_order(x);
  ASSERT_EQ(got.size(), want.size()) << what;
  std::vector<uint32_t> seen(got);
  std::sort(seen.begin(), seen.end());
  for (uint32_t i = 0; i < seen.size(); i++) ASSERT_EQ(seen[i], i) << what << ": not a permutation";
  for (size_t i = 0; i < got.size(); i++)
    ASSERT_EQ(compare_rotations(x, got[i], want[i]), 0) << what << ": rank " << i;
}

// Linear check of a full order of a primitive string: neighbours in the
// order are ordered by their first symbol, and equal first symbols by the
// ranks of the positions before them (the rotation at p reads x[p], then
// the rotation at p - 1).
void expect_order_consistent(const Symbols &x, const std::vector<uint32_t> &sa) {
  const uint32_t n = static_cast<uint32_t>(x.size());
  std::vector<uint32_t> rank(n, ~0u);
  for (uint32_t i = 0; i < n; i++) {
    ASSERT_LT(sa[i], n);
    ASSERT_EQ(rank[sa[i]], ~0u) << "position listed twice";
    rank[sa[i]] = i;
  }
  for (uint32_t i = 0; i + 1 < n; i++) {
    const uint32_t p = sa[i], q = sa[i + 1];
    ASSERT_LE(x[p], x[q]) << "row " << i;
    if (x[p] == x[q]) {
      ASSERT_LT(rank[p == 0 ? n - 1 : p - 1], rank[q == 0 ? n - 1 : q - 1]) << "row " << i;
    }
  }
}

std::vector<uint32_t> sort_bytes(Symbols &x, int alphabet, unsigned int *repeats) {
  std::vector<uint32_t> out(x.size(), 0xDEADu);
  make_reverse_rotation_array(x.data(), static_cast<unsigned int>(x.size()), alphabet, out.data(), repeats);
  return out;
}

Symbols random_symbols(std::mt19937_64 &rng, size_t n, int alphabet) {
  Symbols x(n);
  for (auto &c : x) c = static_cast<unsigned char>(rng() % alphabet);
  return x;
}

// Smallest period of x that divides its length.
uint32_t primitive_copies(const Symbols &x) {
  const size_t n = x.size();
  for (size_t p = 1; p <= n; p++) {
    if (n % p != 0) continue;
    bool periodic = true;
    for (size_t i = p; i < n && periodic; i++) periodic = x[i] == x[i - p];
    if (periodic) return static_cast<uint32_t>(n / p);
  }
  return 1;
}

TEST(RotationSort, MatchesNaiveSortOnRandomStrings) {
  std::mt19937_64 rng(7);
  for (int alphabet = 1; alphabet <= 6; alphabet++) {
    for (int round = 0; round < 400; round++) {
      const size_t n = 1 + rng() % (round < 200 ? 12 : 300);
      Symbols x = random_symbols(rng, n, alphabet);
      const Symbols before = x;
      unsigned int repeats = 0;
      const std::vector<uint32_t> got = sort_bytes(x, 6, &repeats);
      ASSERT_EQ(x, before) << "input changed";
      expect_same_rotations(x, got, "alphabet " + std::to_string(alphabet) + " length " + std::to_string(n));
      const uint32_t copies = primitive_copies(x);
      EXPECT_EQ(repeats, copies >= 2 ? copies : 0u) << "length " << n;
    }
  }
}

TEST(RotationSort, PeriodicStringsReportTheirCopies) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 300; round++) {
    const size_t word_length = 1 + rng() % 9;
    const size_t copies = 2 + rng() % 15;
    const Symbols word = random_symbols(rng, word_length, 2 + static_cast<int>(rng() % 5));
    Symbols x;
    for (size_t k = 0; k < copies; k++) x.insert(x.end(), word.begin(), word.end());
    const Symbols before = x;
    unsigned int repeats = 0;
    const std::vector<uint32_t> got = sort_bytes(x, 6, &repeats);
    ASSERT_EQ(x, before);
    expect_same_rotations(x, got, "periodic");
    // The word itself may repeat (ABAB), so count copies of the primitive
    // root.
    EXPECT_EQ(repeats, primitive_copies(x));
  }
}

TEST(RotationSort, ConstantStringsGiveTheIdentity) {
  for (unsigned int n : {1u, 2u, 3u, 12u, 1000u}) {
    Symbols x(n, 2);
    unsigned int repeats = 0;
    const std::vector<uint32_t> got = sort_bytes(x, 6, &repeats);
    for (unsigned int i = 0; i < n; i++) ASSERT_EQ(got[i], i);
    EXPECT_EQ(repeats, n == 1 ? 0u : n);
    EXPECT_EQ(x, Symbols(n, 2));
  }
}

TEST(RotationSort, LeavesTheCountAloneWithoutRepeatsAndAcceptsNoCount) {
  Symbols x = {0, 1, 2, 3, 5};
  unsigned int repeats = 0;
  sort_bytes(x, 6, &repeats);
  EXPECT_EQ(repeats, 0u);
  Symbols y = {1, 1, 1, 1};
  const std::vector<uint32_t> got = sort_bytes(y, 6, nullptr);
  EXPECT_EQ(got, (std::vector<uint32_t>{0, 1, 2, 3}));
}

TEST(RotationSort, NameStringsWithLargeAlphabets) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 100; round++) {
    const uint32_t alphabet = 1 + static_cast<uint32_t>(rng() % 2000);
    std::vector<uint32_t> x(1 + rng() % 400);
    for (auto &c : x) c = static_cast<uint32_t>(rng() % alphabet);
    const std::vector<uint32_t> before = x;
    std::vector<uint32_t> out(x.size());
    make_reverse_rotation_array_int(x.data(), static_cast<unsigned int>(x.size()), static_cast<int>(alphabet),
                                    out.data(), nullptr);
    ASSERT_EQ(x, before);
    expect_same_rotations(x, out, "names");
  }
}

// Longer strings whose rotations share long stretches: a unit repeated
// many times and broken once by a separator, and runs of one symbol.
TEST(RotationSort, LongRepeatsAndRunsBrokenOnce) {
  std::mt19937_64 rng(3);
  struct Case {
    const char *name;
    Symbols x;
  };
  std::vector<Case> cases;
  {
    const Symbols unit = random_symbols(rng, 1000, 4);
    Symbols x;
    for (int k = 0; k < 300; k++) x.insert(x.end(), unit.begin(), unit.end());
    x.push_back(5);
    cases.push_back({"1 kb unit x 300 and a separator", x});
  }
  {
    Symbols x(200000, 0);
    x[123456] = 1;
    cases.push_back({"run of A broken by one C", x});
  }
  {
    Symbols x;
    for (int k = 0; k < 40000; k++) {
      const Symbols unit = {0, 1, 0, 2, 0, 1, 0};
      x.insert(x.end(), unit.begin(), unit.end());
    }
    x.push_back(3);
    cases.push_back({"short unit repeated, one T", x});
  }
  {
    Symbols x = random_symbols(rng, 300000, 6);
    cases.push_back({"random over six symbols", x});
  }
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Symbols before = c.x;
    unsigned int repeats = 0;
    const std::vector<uint32_t> got = sort_bytes(c.x, 6, &repeats);
    ASSERT_EQ(c.x, before);
    EXPECT_EQ(repeats, 0u);
    expect_order_consistent(c.x, got);
  }
}

TEST(RotationSortDeath, RefusesStringsBeyondThirtyOneBitPositions) {
  unsigned char x[1] = {0};
  unsigned int out[1];
  EXPECT_EXIT(make_reverse_rotation_array(x, 0x80000000u, 6, out, nullptr), testing::ExitedWithCode(1),
              "^Sequence of 2147483648 bases is too long to index \\(at most 2147483647 bases, separator "
              "included\\)\\.\n$");
  EXPECT_EXIT(make_burrows_wheeler_sequence(x, 0xFFFFFFFFu, 0, -1), testing::ExitedWithCode(1),
              "^Sequence of 4294967295 bases is too long to index");
}

TEST(RotationSortDeath, RefusesSymbolsOutsideTheAlphabet) {
  unsigned char x[3] = {0, 6, 1};
  unsigned int out[3];
  EXPECT_EXIT(make_reverse_rotation_array(x, 3, 6, out, nullptr), testing::ExitedWithCode(1),
              "^Rotation sort: symbol 6 is outside the alphabet of 6 symbols\\.\n$");
}

// ---------------------------------------------------------------------------
// Single-sequence arrays.

// Checks rows, symbols, record, samples and mapping of the array of x
// (already reduced to its primitive word of length n).
void expect_sequence_array(const Symbols &x, const NucleotideArray &array, unsigned int id, int shift) {
  const uint32_t n = static_cast<uint32_t>(x.size());
  ASSERT_EQ(array.length(), n);
  const std::vector<uint32_t> order = naive_order(x);
  bool has_separator = false;
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t q = order[i] + 1 == n ? 0 : order[i] + 1;
    ASSERT_EQ(array.get(i), x[q]) << "row " << i;
    has_separator |= x[q] == 5;
  }
  ASSERT_EQ(array.sequence_count(), 1u);
  const na_sequence &record = array.sequence(0);
  EXPECT_EQ(record.sequence_id, id);
  EXPECT_EQ(record.length, n);
  EXPECT_EQ(record.circular, has_separator ? 0 : 1);
  EXPECT_EQ(array.non_circular_count(), has_separator ? 1u : 0u);
  if (has_separator) {
    EXPECT_EQ(record.position, n - 1);
    EXPECT_EQ(array.get(record.row), 5);
    EXPECT_EQ(x[n - 1], 5);
  } else {
    EXPECT_EQ(record.row, 0u);
    EXPECT_EQ(record.position, order[0] + 1 == n ? 0 : order[0] + 1);
  }
  // Last-to-first steps walk the text forward one position at a time.
  uint64_t row = record.row;
  uint32_t position = record.position;
  for (uint32_t step = 0; step < n; step++) {
    const uint32_t q = order[row] + 1 == n ? 0 : order[row] + 1;
    ASSERT_EQ(q, position);
    const unsigned char c = array.get(row);
    row = array.C()[c] + array.occ(row, c);
    position = position + 1 == n ? 0 : position + 1;
  }
  EXPECT_EQ(row, record.row);
  if (shift < 0) {
    EXPECT_EQ(array.position_samples(), nullptr);
    return;
  }
  bool sampled = false;
  for (uint32_t i = 0; i < n; i++) {
    if (!array.is_sampled(i)) continue;
    sampled = true;
    const uint64_t v = array.sample(i);
    EXPECT_EQ(array.sample_sequence(v), 0u);
    EXPECT_EQ(array.sample_position(v), order[i] + 1 == n ? 0 : order[i] + 1);
  }
  EXPECT_EQ(array.position_mappings().size(), sampled ? 0u : 1u);
}

TEST(BurrowsWheelerSequence, MatchesTheNaiveOrder) {
  std::mt19937_64 rng(17);
  for (int round = 0; round < 200; round++) {
    const bool circular = round % 2 == 1;
    Symbols x = random_symbols(rng, 1 + rng() % 700, 5);
    if (!circular) x.push_back(5);
    if (primitive_copies(x) != 1) continue;
    const Symbols before = x;
    const int shift = static_cast<int>(rng() % 6) - 1;
    std::unique_ptr<NucleotideArray> array =
        make_burrows_wheeler_sequence(x.data(), static_cast<unsigned int>(x.size()), 0, shift);
    ASSERT_EQ(x, before);
    expect_sequence_array(x, *array, 0, shift);
  }
}

TEST(BurrowsWheelerSequence, ExactRepeatsAreIndexedAsOneCopy) {
  struct Case {
    const char *name;
    Symbols x;
    size_t rows;
  };
  const Case cases[] = {
      {"same base 12 times", Symbols(12, 2), 1},
      {"5-base word 3 times", {0, 1, 3, 3, 2, 0, 1, 3, 3, 2, 0, 1, 3, 3, 2}, 5},
      {"word of a repeated pair", {0, 1, 0, 1, 0, 1, 0, 1}, 2},
      {"non-circular repeat with its separator", {0, 1, 0, 1, 0, 1, 5}, 7},
      {"lone separator", {5}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Symbols x = c.x;
    std::unique_ptr<NucleotideArray> array =
        make_burrows_wheeler_sequence(x.data(), static_cast<unsigned int>(x.size()), 3, -1);
    ASSERT_EQ(x, c.x);
    ASSERT_EQ(array->length(), c.rows);
    expect_sequence_array(Symbols(c.x.begin(), c.x.begin() + c.rows), *array, 3, -1);
  }
}

TEST(BurrowsWheelerSequence, SequencesOfAllLettersAndTheirSeparator) {
  std::mt19937_64 rng(23);
  Symbols x = random_symbols(rng, 5000, 4);
  x.push_back(5);
  std::unique_ptr<NucleotideArray> array = make_burrows_wheeler_sequence(x.data(), 5001, 0, 4);
  std::vector<uint64_t> totals(6, 0);
  for (unsigned char c : x) totals[c]++;
  unsigned long long counts[7];
  array->occ_all_popcnt(5001, counts);
  EXPECT_EQ(counts[1], totals[0]);
  EXPECT_EQ(counts[4], totals[0] + totals[1] + totals[2] + totals[3]);
  EXPECT_EQ(counts[5], 5000u);
  int separators = 0;
  for (uint64_t r = 0; r < 5001; r++) separators += array->get(r) == 5;
  EXPECT_EQ(separators, 1);
  EXPECT_EQ(array->get(array->sequence(0).row), 5);
}

}  // namespace
