// Paired-read settings from option words, and bit sets.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "seqio/bit_set.h"
#include "seqio/paired_setting.h"

namespace {

TEST(PairedSetting, EveryOrientationAndDistanceMode) {
  const char *orientations[] = {"ff", "fb", "bf", "bb"};
  const char *modes[] = {"ss", "se", "es", "ee"};
  for (int o = 0; o < 4; o++) {
    for (int d = 0; d < 4; d++) {
      paired_setting_t *s = paired_setting_parse(orientations[o], modes[d], 180 + o, 250 + d);
      ASSERT_NE(s, nullptr) << orientations[o] << " " << modes[d];
      EXPECT_EQ(s->orientation, o);
      EXPECT_EQ(s->distance_mode, d);
      EXPECT_EQ(s->min_distance, 180 + o);
      EXPECT_EQ(s->max_distance, 250 + d);
      EXPECT_EQ(s->pair_info_only, 0);
      EXPECT_EQ(paired_setting_free(s), nullptr);
    }
  }
}

// Words must be exactly one of the four forms. "no" and the "d" prefix are
// words of the option line, handled before these two words are parsed, so
// they are refused here like any other word.
TEST(PairedSetting, MalformedWordsGiveNull) {
  const struct {
    const char *orientation, *mode;
  } bad[] = {
      {"FB", "ss"}, {"fbx", "ss"}, {"f", "ss"},  {"", "ss"},   {"no", "ss"}, {"d", "ss"},  {"dfb", "ss"},
      {"fb ", "ss"}, {"fb", "SS"}, {"fb", "sx"}, {"fb", "s"},  {"fb", ""},   {"fb", "no"}, {"fb", "sse"},
      {"bs", "ss"}, {"fb", "fb"},
  };
  for (const auto &b : bad)
    EXPECT_EQ(paired_setting_parse(b.orientation, b.mode, 100, 200), nullptr)
        << "'" << b.orientation << "' '" << b.mode << "'";
}

TEST(PairedSetting, NewAndCopyClearThePairInformationFlag) {
  paired_setting_t *s = paired_setting_new(2, 3, 0, 100000);
  EXPECT_EQ(s->orientation, 2);
  EXPECT_EQ(s->distance_mode, 3);
  EXPECT_EQ(s->min_distance, 0);
  EXPECT_EQ(s->max_distance, 100000);
  EXPECT_EQ(s->pair_info_only, 0);
  // The "d" form of the option marks the setting after parsing; a copy made
  // for the next file starts unmarked.
  s->pair_info_only = 1;
  paired_setting_t *copy = paired_setting_copy(s);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->orientation, 2);
  EXPECT_EQ(copy->distance_mode, 3);
  EXPECT_EQ(copy->min_distance, 0);
  EXPECT_EQ(copy->max_distance, 100000);
  EXPECT_EQ(copy->pair_info_only, 0);
  EXPECT_EQ(paired_setting_copy(nullptr), nullptr);
  paired_setting_free(copy);
  paired_setting_free(s);
  EXPECT_EQ(paired_setting_free(nullptr), nullptr);
}

TEST(BitSet, LayoutIsLowBitFirst) {
  bit_set_t *set = bit_set_new(9);
  EXPECT_EQ(set[0], 0);
  EXPECT_EQ(set[1], 0);
  bit_set_set(set, 8);
  EXPECT_EQ(set[0], 0);
  EXPECT_EQ(set[1], 1);
  bit_set_set(set, 3);
  EXPECT_EQ(set[0], 8);
  EXPECT_EQ(bit_set_get(set, 8), 1);
  EXPECT_EQ(bit_set_get(set, 3), 1);
  EXPECT_EQ(bit_set_get(set, 7), 0);
  EXPECT_EQ(bit_set_free(set), nullptr);
}

TEST(BitSet, AgainstABoolVector) {
  std::mt19937 rng(5);
  for (int n : {1, 7, 8, 63, 64, 65, 1000}) {
    bit_set_t *set = bit_set_new(n);
    std::vector<bool> model(static_cast<size_t>(n), false);
    for (int i = 0; i < n / 2 + 1; i++) {
      int index = static_cast<int>(rng() % static_cast<unsigned>(n));
      bit_set_set(set, index);
      bit_set_set(set, index);  // setting twice keeps it set
      model[static_cast<size_t>(index)] = true;
    }
    for (int i = 0; i < n; i++) ASSERT_EQ(bit_set_get(set, i), model[static_cast<size_t>(i)] ? 1 : 0) << n << " " << i;
    bit_set_free(set);
  }
}

TEST(BitSet, NullSetsAndEmptySets) {
  EXPECT_EQ(bit_set_get(nullptr, 5), 0);
  bit_set_set(nullptr, 5);
  bit_set_free(nullptr);
  bit_set_t *none = bit_set_new(0);
  bit_set_free(none);
  bit_set_t *negative = bit_set_new(-40);
  bit_set_free(negative);
}

}  // namespace
