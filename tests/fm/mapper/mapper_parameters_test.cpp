#include <gtest/gtest.h>

#include "fm/mapper/mapper_parameters.h"

namespace {

TEST(MapperParameters, DefaultsOfEverySetting) {
  MapperParameters p;
  EXPECT_FALSE(p.are_ready());
  EXPECT_EQ(p.max_read_length, 500000U);
  EXPECT_EQ(p.min_seed_length, 15U);
  EXPECT_EQ(p.acceleration_depth, 10U);
  EXPECT_FALSE(p.short_read_warned.load());
  EXPECT_FALSE(p.long_read_warned.load());
  EXPECT_EQ(p.match_score, 1U);
  EXPECT_EQ(p.mismatch_cost, 2U);
  EXPECT_EQ(p.gap_open, 0U);
  EXPECT_EQ(p.gap_cost, 3U);
  EXPECT_EQ(p.deletion_open, 0U);
  EXPECT_EQ(p.deletion_cost, 3U);
  EXPECT_EQ(p.align_mode, kAlignLocal);
  EXPECT_EQ(p.similarity.numerator, 4);
  EXPECT_EQ(p.similarity.denominator, 5);
  EXPECT_EQ(p.length_fraction.numerator, 1);
  EXPECT_EQ(p.length_fraction.denominator, 2);
  EXPECT_EQ(p.max_align, 1U);
  EXPECT_EQ(p.repeat_mode, kRepeatRandom);
  EXPECT_EQ(p.index_memory_mb, 0U);
  EXPECT_EQ(p.mapper_memory_mb, 0U);
  EXPECT_TRUE(p.fasta_paths.empty());
  EXPECT_TRUE(p.circular.empty());
  EXPECT_FALSE(p.fasta_pending);
  EXPECT_EQ(p.position_sampling_shift, 4U);
  EXPECT_FALSE(p.progress_off);
  EXPECT_EQ(p.strand_mask, 3U);
  EXPECT_FALSE(p.bisulphite);
  EXPECT_FALSE(p.non_directional);
  EXPECT_EQ(p.normal_type_limit, 500U);
  EXPECT_FALSE(p.longest_only);
  EXPECT_FALSE(p.sensitive);
  EXPECT_FALSE(p.mapping_quality);
  EXPECT_EQ(p.forced_extender, kExtenderAutomatic);
  // The bounds of the default costs: mismatch 2, gaps 3.
  EXPECT_EQ(p.smallest_cost, 2);
  EXPECT_EQ(p.largest_cost, 3);
}

TEST(MapperParameters, CostBoundsFollowTheCosts) {
  struct {
    uint32_t mismatch, gap, deletion;
    int32_t smallest, largest;
  } const cases[] = {
      {2, 3, 1, 1, 3},
      {10, 1, 3, 1, 10},
      {4, 4, 4, 4, 4},
      {1, 3, 2, 1, 3},
  };
  for (auto const &t : cases) {
    MapperParameters p;
    p.mismatch_cost = t.mismatch;
    p.gap_cost = t.gap;
    p.deletion_cost = t.deletion;
    p.match_score = 7;  // not an error cost
    p.derive_cost_bounds();
    EXPECT_EQ(p.smallest_cost, t.smallest) << t.mismatch << " " << t.gap << " " << t.deletion;
    EXPECT_EQ(p.largest_cost, t.largest) << t.mismatch << " " << t.gap << " " << t.deletion;
  }
}

}  // namespace
