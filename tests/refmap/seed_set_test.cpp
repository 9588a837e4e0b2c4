// Seed levels and spaced-seed design: the designed seeds of every length
// class, move limit and cost setting checked against a brute-force
// enumeration of error configurations, the level choice, the building
// blocks, the extra fixed masks and the design failures.
#include "refmap/seed_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<int32_t> starts_of(const seed_pattern_t &p) { return std::vector<int32_t>(p.starts, p.starts + p.placement_count); }

// Every placement of a set as the read positions it needs free of errors:
// each '#' at string position j of a placement at s needs s + j, and in
// colour space also s + j - 1.
std::vector<std::vector<bool>> placements(const seed_set_t *set, int32_t length) {
  std::vector<std::vector<bool>> out;
  for (int32_t k = 0; k < set->pattern_count; k++) {
    const seed_pattern_t &p = set->patterns[k];
    EXPECT_EQ(static_cast<int32_t>(strlen(p.mask)), p.span);
    EXPECT_EQ(p.mask[p.span - 1], '#') << p.mask;
    for (int32_t s : starts_of(p)) {
      EXPECT_GE(s, 0) << p.mask;
      EXPECT_LE(s + p.span, length) << p.mask << " at " << s;
      std::vector<bool> need(length, false);
      for (int32_t j = 0; j < p.span; j++) {
        if (p.mask[j] != '#') continue;
        need[s + j] = true;
        if (p.colour && s + j >= 1) need[s + j - 1] = true;
      }
      out.push_back(need);
    }
  }
  return out;
}

// Brute force over the error model: for m mismatches (none, one when the
// budget holds two units, two when it holds three), the rest of the budget
// clipped and split in every way between the read ends, and the mismatches
// at every choice of distinct positions at least one unit inside the aligned
// part, some placement must avoid every error. Returns the configurations
// tried.
int64_t expect_covered(const seed_set_t *set, int32_t unit, int32_t budget, const std::string &label) {
  const int32_t length = set->min_length;
  const std::vector<std::vector<bool>> needs = placements(set, length);
  const int32_t units = budget / unit;
  const int32_t most_mismatches = std::max(0, std::min(2, units - 1));
  int64_t tried = 0;
  for (int32_t m = 0; m <= most_mismatches; m++) {
    int32_t clip = budget - m * unit;
    if (clip < 0) continue;
    for (int32_t left = 0; left <= clip; left++) {
      int32_t right_end = length - (clip - left);
      int32_t lo = left + unit, hi = right_end - unit;  // mismatch positions [lo, hi)
      std::vector<std::vector<int32_t>> choices;
      if (m == 0) choices.push_back({});
      if (m == 1)
        for (int32_t i = lo; i < hi; i++) choices.push_back({i});
      if (m == 2)
        for (int32_t i = lo; i < hi; i++)
          for (int32_t j = i + 1; j < hi; j++) choices.push_back({i, j});
      for (const auto &mismatches : choices) {
        std::vector<bool> error(length, false);
        for (int32_t p = 0; p < length; p++) error[p] = p < left || p >= right_end;
        for (int32_t p : mismatches) error[p] = true;
        bool found = false;
        for (const auto &need : needs) {
          bool clean = true;
          for (int32_t p = 0; p < length && clean; p++) clean = !(need[p] && error[p]);
          if (clean) {
            found = true;
            break;
          }
        }
        tried++;
        if (!found) {
          ADD_FAILURE() << label << ": uncovered with clip " << left << "+" << clip - left << " and " << m
                        << " mismatches";
          return tried;
        }
      }
    }
  }
  return tried;
}

struct grid_stats_t {
  int64_t sets = 0;
  int64_t configurations = 0;
  int64_t extra_levels = 0;
};

// Checks the levels of one class against the level rules and, once per
// distinct design, against the brute force.
void check_class(int32_t lower, int32_t upper, int32_t move, int32_t x, int32_t colour_cost, int32_t limit,
                 int32_t mode, std::map<std::tuple<int, int, int, int>, bool> &verified, grid_stats_t &stats) {
  int32_t count = -1;
  seed_set_t *sets = seed_sets_choose(lower, upper, lower, upper, move, x, colour_cost, limit, mode, 1, &count);
  const int32_t unit = (colour_cost == -1 || x < colour_cost) ? x + 1 : colour_cost;
  int32_t cap = 99;
  if (upper <= 30 - move) cap = 3;
  if (upper <= 26 - move) cap = 2;
  if (upper <= 22 - move) cap = 1;
  const int32_t levels = std::min(limit / unit + 1, cap);
  const std::string label = "class " + std::to_string(lower) + " move " + std::to_string(move) + " x " +
                            std::to_string(x) + " C " + std::to_string(colour_cost) + " S " + std::to_string(limit) +
                            " mode " + std::to_string(mode);
  ASSERT_EQ(count, levels + (levels >= 2 ? 1 : 0)) << label;
  const int32_t level_lengths[] = {lower, std::max(lower, 22 - move), std::max(lower, 26 - move),
                                   std::max(lower, 30 - move)};
  for (int32_t i = 0; i < levels; i++) {
    const seed_set_t *set = &sets[i];
    int32_t s = std::min(limit, unit * (i + 1) - 1);
    EXPECT_EQ(set->score_limit, s) << label;
    EXPECT_EQ(set->min_length, level_lengths[i]) << label;
    EXPECT_EQ(set->length_bound, upper) << label;
    EXPECT_EQ(set->extra, 0) << label;
    EXPECT_GT(set->pattern_count, 0) << label;
    int32_t error_unit = mode == 3 ? 1 : x + 1;
    int32_t budget = mode == 3 ? s / unit : s;
    auto key = std::make_tuple(set->min_length, error_unit, budget, colour_cost != -1 ? 1 : 0);
    if (!verified[key]) {
      verified[key] = true;
      stats.configurations += expect_covered(set, error_unit, budget, label + " level " + std::to_string(i));
      stats.sets++;
    }
  }
  if (count > levels) {
    const seed_set_t *extra = &sets[levels];
    EXPECT_EQ(extra->extra, 1);
    EXPECT_EQ(extra->pattern_count, 1);
    EXPECT_EQ(extra->patterns[0].placement_count, 0);
    EXPECT_STREQ(extra->patterns[0].mask,
                 seed_extra_mask(level_lengths[levels - 1], levels == 2, colour_cost != -1));
    EXPECT_EQ(extra->min_length, level_lengths[levels - 1]);
    EXPECT_EQ(extra->score_limit, sets[levels - 1].score_limit);
    stats.extra_levels++;
  }
  seed_sets_free(sets, count);
}

TEST(SeedSet, EveryClassMoveLimitAndCostCoversItsErrors) {
  const int32_t classes[][2] = {{15, 22}, {22, 30}, {30, 40}, {40, 56}};
  std::map<std::tuple<int, int, int, int>, bool> verified;
  grid_stats_t stats;
  for (const auto &c : classes) {
    for (int32_t move = 0; move <= 12; move++) {
      for (int32_t x = 1; x <= 3; x++) {
        for (int32_t colour_cost : {-1, 1, 2, 3}) {
          const int32_t unit = (colour_cost == -1 || x < colour_cost) ? x + 1 : colour_cost;
          // The largest score limits the option checks let through.
          const int32_t most = colour_cost == -1 ? 4 * (x + 1) - 1 : 3 * unit - 1;
          for (int32_t limit = 0; limit <= most; limit++) {
            for (int32_t mode : {0, 1, 3}) {
              check_class(c[0], c[1], move, x, colour_cost, limit, mode, verified, stats);
              if (testing::Test::HasFailure()) return;
            }
          }
        }
      }
    }
  }
  // The grid reaches designs for up to two mismatches.
  EXPECT_GT(stats.sets, 100);
  EXPECT_GT(stats.configurations, 100000);
  EXPECT_GT(stats.extra_levels, 0);
}

TEST(SeedSet, BudgetBelowOneUnitKeepsTheFirstContiguousMask) {
  struct {
    int32_t length;
    std::string mask;
    std::vector<int32_t> starts;
  } cases[] = {
      {20, std::string(17, '#'), {1, 3}},
      {30, std::string(26, '#'), {2}},
  };
  for (const auto &c : cases) {
    seed_set_t *set = seed_set_design(c.length, c.length + 1, 2, 2, 0);
    ASSERT_EQ(set->pattern_count, 1);
    EXPECT_EQ(std::string(set->patterns[0].mask), c.mask);
    EXPECT_EQ(starts_of(set->patterns[0]), c.starts);
    EXPECT_EQ(set->patterns[0].colour, 0);
    EXPECT_EQ(set->min_length, c.length);
    EXPECT_EQ(set->length_bound, c.length + 1);
    seed_set_free(set);
  }
}

TEST(SeedSet, DefaultsGiveBudgetsTwoFiveAndEight) {
  int32_t count = 0;
  seed_set_t *sets = seed_sets_choose(30, 40, 30, 40, 0, 2, -1, 8, 0, 0, &count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(sets[0].score_limit, 2);
  EXPECT_EQ(sets[1].score_limit, 5);
  EXPECT_EQ(sets[2].score_limit, 8);
  // Budget 2 is below one unit: a single contiguous mask.
  EXPECT_EQ(sets[0].pattern_count, 1);
  EXPECT_EQ(std::string(sets[0].patterns[0].mask).find('-'), std::string::npos);
  // Budget 5 covers clipping only, 8 one mismatch: spaced masks appear.
  bool spaced = false;
  for (int32_t k = 0; k < sets[2].pattern_count; k++) spaced |= strchr(sets[2].patterns[k].mask, '-') != nullptr;
  EXPECT_TRUE(spaced);
  expect_covered(&sets[1], 3, 5, "level 1");
  expect_covered(&sets[2], 3, 8, "level 2");
  seed_sets_free(sets, count);
}

TEST(SeedSet, GlobalModeCountsTheBudgetInUnits) {
  int32_t count = 0;
  seed_set_t *global = seed_sets_choose(30, 40, 30, 40, 0, 2, -1, 8, 3, 0, &count);
  ASSERT_EQ(count, 3);
  // Level 2: budget 8 / 3 = 2 units of cost 1, so f = 2 (one mismatch).
  seed_set_t *direct = seed_set_design(30, 40, 0, 2, 0);
  ASSERT_EQ(global[2].pattern_count, direct->pattern_count);
  for (int32_t k = 0; k < direct->pattern_count; k++) {
    EXPECT_STREQ(global[2].patterns[k].mask, direct->patterns[k].mask);
    EXPECT_EQ(starts_of(global[2].patterns[k]), starts_of(direct->patterns[k]));
  }
  EXPECT_EQ(global[2].score_limit, 8);
  seed_set_free(direct);
  seed_sets_free(global, count);
}

TEST(SeedSet, LevelCountFollowsTheClassBoundAndMoveLimit) {
  struct {
    int32_t lower, upper, move, gapped, levels;
  } cases[] = {
      {15, 22, 0, 1, 1},  // bound 22: one level, so no extra level either
      {22, 26, 0, 0, 2},  // bound 26: two levels
      {22, 30, 0, 0, 3},  // bound 30: three
      {22, 30, 0, 1, 4},  // and the extra level
      {15, 22, 1, 1, 3},  // move 1: bound 22 allows two levels, plus the extra
      {40, 56, 0, 0, 3},  // S = 8 allows three
  };
  for (const auto &c : cases) {
    int32_t count = 0;
    seed_set_t *sets = seed_sets_choose(c.lower, c.upper, c.lower, c.upper, c.move, 2, -1, 8, 0, c.gapped, &count);
    EXPECT_EQ(count, c.levels) << c.lower << " " << c.upper << " " << c.move;
    seed_sets_free(sets, count);
  }
}

TEST(SeedSet, ExtraMasksByLengthLevelsAndSpace) {
  struct {
    int32_t length, two, colour;
    const char *mask;
  } cases[] = {
      {40, 1, 0, "####################"},  {45, 1, 1, "###################"},
      {40, 0, 0, "##-###-###-###-###-##"}, {55, 0, 1, "###--###--###--###--###"},
      {30, 1, 0, "#################"},     {39, 1, 1, "################"},
      {30, 0, 0, "#-###-###-###-###-#"},   {30, 0, 1, "##--###--###--###--##"},
      {29, 1, 0, "###############"},       {15, 1, 1, "##############"},
      {22, 0, 0, "###-###-###-###"},       {22, 0, 1, "###--###--###--###"},
  };
  for (const auto &c : cases) EXPECT_STREQ(seed_extra_mask(c.length, c.two, c.colour), c.mask);

  // A colour class [30,40) with three designed levels ends on v = 30.
  int32_t count = 0;
  seed_set_t *sets = seed_sets_choose(30, 40, 30, 40, 0, 2, 3, 8, 0, 1, &count);
  ASSERT_EQ(count, 4);
  EXPECT_STREQ(sets[3].patterns[0].mask, "##--###--###--###--##");
  EXPECT_EQ(sets[3].patterns[0].span, 21);
  EXPECT_EQ(sets[3].patterns[0].colour, 1);
  EXPECT_EQ(sets[3].length_bound, 40);
  seed_sets_free(sets, count);
}

TEST(SeedSet, TiledAndContiguousBuildingBlocks) {
  seed_pattern_list_t list{};
  seed_pattern_tile(&list, 0, 20, 18, "##-");
  ASSERT_EQ(list.count, 1);
  // Tiled up to its last '#' within 16 characters, laid to end at 16 .. 20.
  EXPECT_STREQ(list.patterns[0].mask, "##-##-##-##-##-#");
  EXPECT_EQ(starts_of(list.patterns[0]), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  seed_pattern_tile(&list, 1, 29, 27, "####--");
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list.patterns[1].mask, "####--####--####--####");
  EXPECT_EQ(list.patterns[1].colour, 1);
  EXPECT_EQ(starts_of(list.patterns[1]), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  // No '#' fits a window shorter than the period: nothing is added.
  seed_pattern_tile(&list, 0, 3, 2, "###--");
  EXPECT_EQ(list.count, 2);
  // Contiguous, several steps: b = 40 gives d = 40 - 25 / 3 = 32, e = 9.
  seed_pattern_contiguous(&list, 55, 40);
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.patterns[2].span, 32);
  EXPECT_EQ(starts_of(list.patterns[2]), (std::vector<int32_t>{8, 17}));
  // Below 16 the mask is the whole window b.
  seed_pattern_contiguous(&list, 40, 14);
  EXPECT_EQ(list.patterns[3].span, 14);
  EXPECT_EQ(starts_of(list.patterns[3]).size(), 27u);
  seed_pattern_list_clear(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.patterns, nullptr);
}

TEST(SeedSet, PlacementWordsAndCoverageResults) {
  char mask[] = "##-#";
  int32_t starts[] = {0};
  seed_pattern_t p{mask, 4, 1, starts, 0};
  EXPECT_EQ(seed_pattern_word(&p, 0), 0xBu);
  EXPECT_EQ(seed_pattern_word(&p, 62), (UINT64_C(3) << 62) | 2u);  // wraps modulo 64
  p.colour = 1;
  EXPECT_EQ(seed_pattern_word(&p, 1), 0x1Fu);  // 0x16 widened by its lower neighbours

  // One 10-base contiguous seed on 12 bases at start 1: clipping 2 bases
  // at one end hits it (1), a mismatch anywhere too (2 when asked).
  char solid[] = "##########";
  int32_t one[] = {1};
  seed_pattern_t q{solid, 10, 1, one, 0};
  EXPECT_EQ(seed_coverage_check(1, &q, 1, kSeedPlacementsDesigned, 12, 1, 1), 0);
  EXPECT_EQ(seed_coverage_check(1, &q, 1, kSeedPlacementsDesigned, 12, 1, 2), 1);
  EXPECT_EQ(seed_coverage_check(2, &q, 1, kSeedPlacementsDesigned, 12, 1, 2), 2);
  EXPECT_EQ(seed_coverage_check(0, &q, 1, kSeedPlacementsDesigned, 12, 1, 2), 0);
  // Every placement (starts 0 .. 2) covers any two clipped bases.
  EXPECT_EQ(seed_coverage_check(1, &q, 1, kSeedPlacementsEvery, 12, 1, 2), 0);
  // No pattern at all covers nothing.
  EXPECT_EQ(seed_coverage_check(3, &q, 0, kSeedPlacementsDesigned, 30, 3, 9), 3);
}

TEST(SeedSetDeathTest, BudgetAboveThreeUnits) {
  EXPECT_EXIT(seed_set_design(40, 56, 2, 12, 0), testing::ExitedWithCode(1), "^too many possible mismatches\n$");
}

TEST(SeedSetDeathTest, DesignThatLeavesConfigurationsUncovered) {
  // Three units of 4 on 15 bases leave too little read for any seed to
  // survive the clipping.
  EXPECT_EXIT(seed_set_design(15, 16, 3, 15, 0), testing::ExitedWithCode(1), "^pattern error 15 4 15 1\n$");
}

}  // namespace
