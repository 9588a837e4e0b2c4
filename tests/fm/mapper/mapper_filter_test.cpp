// The similarity and length-fraction filter: its verdict against every
// stretch checked directly, and alignments walked column by column.
#include "fm/mapper/mapper_filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "alignment_fixture.h"
#include "fm/mapper/mapper_parameters.h"

namespace {

using align_test::code_of;

// Columns from a string: 'm' match, 'x' anything else.
MapperFilter track(const std::string &columns, uint32_t sn = 4, uint32_t sd = 5, uint32_t ln = 1, uint32_t ld = 2) {
  MapperFilter f(sn, sd, ln, ld);
  for (char c : columns) f.add(c == 'm', 1);
  return f;
}

// Whether some stretch of at least floor(n x length fraction) columns has
// a match share of at least the similarity, every stretch counted.
bool passes_directly(const std::string &columns, uint32_t sn, uint32_t sd, uint32_t ln, uint32_t ld) {
  const size_t n = columns.size();
  const size_t w = n * ln / ld;
  if (w == 0) return true;
  for (size_t i = 0; i < n; i++) {
    size_t matches = 0;
    for (size_t j = i; j < n; j++) {
      matches += columns[j] == 'm';
      if (j + 1 - i >= w && matches * sd >= (j + 1 - i) * sn) return true;
    }
  }
  return false;
}

TEST(MapperFilter, DefaultsFromTheParameters) {
  MapperParameters p;
  const MapperFilter f(&p);
  EXPECT_EQ(f.similarity_numerator, 4u);
  EXPECT_EQ(f.similarity_denominator, 5u);
  EXPECT_EQ(f.length_numerator, 1u);
  EXPECT_EQ(f.length_denominator, 2u);
  MapperFilter g(&p);
  g.add(true, 2);
  g.add(false, 1);
  EXPECT_EQ(g.track, (std::vector<int32_t>{1, 1, -4}));
}

// 100 columns with 4/5 and 1/2: some stretch of 50 or more needs 80 %.
TEST(MapperFilter, HundredColumnsAtFourFifthsAndHalfTheLength) {
  const struct {
    std::string columns;
    bool pass;
  } cases[] = {
      {std::string(40, 'm') + std::string(60, 'x'), true},   // 40 of 50
      {std::string(39, 'm') + std::string(61, 'x'), false},  // 39 of 50 at best
      {std::string(60, 'x') + std::string(40, 'm'), true},
      {std::string(30, 'x') + std::string(40, 'm') + std::string(30, 'x'), true},
      {[] {
         std::string s;
         for (int i = 0; i < 20; i++) s += "mmmmx";
         return s;
       }(),
       true},  // exactly 80 % everywhere
      {[] {
         std::string s;
         for (int i = 0; i < 25; i++) s += "mmmx";
         return s;
       }(),
       false},  // 75 %
      {std::string(100, 'x'), false},
  };
  for (const auto &c : cases) {
    const MapperFilter f = track(c.columns);
    EXPECT_EQ(!f.disqualified(false), c.pass) << c.columns;
    EXPECT_EQ(!f.disqualified(true), c.pass) << c.columns;
  }
  // A length fraction of 0, or a track too short for one column: passes.
  EXPECT_FALSE(track(std::string(100, 'x'), 4, 5, 0, 2).disqualified(false));
  EXPECT_FALSE(track("x").disqualified(true));
  EXPECT_FALSE(track("").disqualified(false));
}

TEST(MapperFilter, EveryStretchCheckedDirectly) {
  std::mt19937 rng(8);
  const uint32_t fractions[][4] = {{4, 5, 1, 2}, {9, 10, 3, 4}, {1, 2, 1, 1}, {2, 3, 1, 10}, {0, 1, 1, 2}};
  for (const auto &fr : fractions) {
    for (int round = 0; round < 300; round++) {
      std::string columns(rng() % 90, 'm');
      const unsigned error_rate = rng() % 60;
      for (char &c : columns)
        if (rng() % 100 < error_rate) c = 'x';
      const MapperFilter f = track(columns, fr[0], fr[1], fr[2], fr[3]);
      const bool want = passes_directly(columns, fr[0], fr[1], fr[2], fr[3]);
      ASSERT_EQ(!f.disqualified(false), want) << columns << " " << fr[0] << "/" << fr[1];
      ASSERT_EQ(!f.disqualified(true), want) << columns << " " << fr[0] << "/" << fr[1];
    }
  }
}

// Codes against reference and read: clips, gaps and mismatches are
// non-match columns, equal bases match, N matches nothing.
TEST(MapperFilter, AlignmentColumns) {
  const uint8_t reference[] = {0, 1, 2, 3, 0, 1, 2, 3, 4, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2};
  const uint8_t read[] = {3, 3, 0, 1, 2, 3, 0, 1, 2, 3, 4, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
  MapperFilter f(4, 5, 1, 1);  // the whole alignment must reach 80 %
  struct Case {
    const char *ops;
    std::string columns;
  } cases[] = {
      // Clip 2, 8 identical, the N pair (reference 4, read 4) and 10 more.
      {"I2 M8 M1 M10", "xx" + std::string(8, 'm') + "x" + std::string(10, 'm')},
      // A deletion of the reference N, then the read shifted: mismatches.
      {"I2 M8 D1 M3 I8", "xx" + std::string(8, 'm') + "x" + "xxx" + std::string(8, 'x')},
  };
  for (const Case &c : cases) {
    EXPECT_TRUE(filter_alignment(&f, code_of(c.ops), reference, read, false) == passes_directly(c.columns, 4, 5, 1, 1));
    std::vector<int32_t> want;
    for (char ch : c.columns) want.push_back(ch == 'm' ? 1 : -4);
    EXPECT_EQ(f.track, want) << c.ops;
  }
  // 18 of 21 columns match: 85 %; the first case passes as a whole.
  EXPECT_TRUE(filter_alignment(&f, code_of("I2 M8 M1 M10"), reference, read, true));
  EXPECT_FALSE(filter_alignment(&f, code_of("I2 M8 D1 M3 I8"), reference, read, true));
}

}  // namespace
