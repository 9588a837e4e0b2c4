// The drop-off extender on small references built with the real index
// builder, with seeds made by hand.
#include <gtest/gtest.h>

#include "alignment_fixture.h"
#include "fm/mapper/mapper_dropoff_extender.h"
#include "mapping_fixture.h"

namespace {

using namespace map_test;

// One linear sequence: random bases with a run of As on either side of a
// core at 1000, so that a read whose flanks are Ts can align only its
// core.
class DropoffExtender : public ::testing::Test {
 protected:
  DropoffExtender() : rng_(5) {
    bases_ = random_bases(rng_, 3000);
    core_ = Symbols(bases_.begin() + 1000, bases_.begin() + 1060);
    genome_.sequences = {bases_};
    genome_.circular = {false};
  }
  void plant_flanks(uint32_t flank) {
    std::fill(bases_.begin() + 1000 - flank - 10, bases_.begin() + 1000, 0);
    std::fill(bases_.begin() + 1000 + core_.size(), bases_.begin() + 1000 + core_.size() + flank + 10, 0);
    genome_.sequences = {bases_};
    index_ = std::make_unique<MapperIndex>(index_genome(genome_));
  }
  // flank Ts, the core (or its first core_length symbols), flank Ts.
  Symbols flanked(uint32_t flank, uint32_t core_length) const {
    Symbols x(flank, 3);
    x.insert(x.end(), core_.begin(), core_.begin() + core_length);
    x.insert(x.end(), flank, 3);
    return x;
  }

  std::mt19937_64 rng_;
  Symbols bases_, core_;
  Genome genome_;
  std::unique_ptr<MapperIndex> index_;
  MapperParameters p_;
  MapperResult result_;
};

TEST_F(DropoffExtender, WholeReadSeedIsFiledOnceWithoutExtension) {
  plant_flanks(20);
  OwnedRead read(core_);
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*index_, read.read, 0, 0, 60));
  MapperDropoffExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
  EXPECT_EQ(result_.strand[0].alignments[0].alignment.code, align_test::code_of("M60").code);
  EXPECT_EQ(result_.best_score, 60);
  EXPECT_EQ(seeds.seeds[0].score, 0);  // not written by this extender
}

TEST_F(DropoffExtender, SeedThatPassesTheFilterIsFiledSoftClipped) {
  // 60 of 100 columns match: the seed passes the 4/5 similarity over half
  // the columns by itself, and no extension into the flanks scores.
  plant_flanks(20);
  OwnedRead read(flanked(20, 60));
  MapperSeeds seeds;
  const MapperSearch seed = seed_of(*index_, read.read, 0, 20, 60);
  // The same seed twice: the second is extended but not filed again.
  seeds.seeds = {seed, seed};
  MapperDropoffExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
  const MapperAlignment &a = result_.strand[0].alignments[0];
  EXPECT_EQ(a.alignment.code, align_test::code_of("I20 M60 I20").code);
  EXPECT_EQ(a.reference_offset, 0u);
  EXPECT_TRUE(a.search.search.equal(&seed.search));
  EXPECT_EQ(result_.best_score, 60);
}

TEST_F(DropoffExtender, SeedThatFailsTheFilterIsNotFiled) {
  // 30 of 100 columns match.
  plant_flanks(35);
  OwnedRead read(flanked(35, 30));
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*index_, read.read, 0, 35, 30));
  MapperDropoffExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  // Whatever the extension adds (a T of the flank may meet a T of the
  // reference after the core), the alignment stays short of the filter.
  EXPECT_EQ(result_.hit_count(), 0u);
  EXPECT_GE(result_.best_score, 30);
}

TEST_F(DropoffExtender, ExtensionThroughErrorsReplacesTheSeed) {
  // A read of 300 from the reference with a substitution every 25 symbols
  // and one deletion and one insertion: the extension spans it all and
  // scores above the seed, which is dropped.
  Symbols bases = random_bases(rng_, 4000);
  genome_.sequences = {bases};
  index_ = std::make_unique<MapperIndex>(index_genome(genome_));
  Symbols source(bases.begin() + 1500, bases.begin() + 1800);
  for (uint32_t i = 12; i < 300; i += 25) source[i] = static_cast<unsigned char>((source[i] + 1) % 4);
  source.erase(source.begin() + 200);     // a deleted reference base
  source.insert(source.begin() + 80, 2);  // an inserted read base
  OwnedRead read(source);
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*index_, read.read, 0, 114, 24));
  MapperDropoffExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
  const MapperAlignment &a = result_.strand[0].alignments[0];
  _sequence_position place{0, 0};
  a.search.search.get_match_positions(0, 1, &place);
  EXPECT_EQ(place.offset + a.reference_offset, 1500u);
  EXPECT_EQ(read_span(a.alignment.code), 300u);
  EXPECT_EQ(reference_span(a.alignment.code), 300u);
  EXPECT_EQ(leading_clip(a.alignment.code), 0u);
  EXPECT_GT(result_.best_score, 200);
}

}  // namespace
