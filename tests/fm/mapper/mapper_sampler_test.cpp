// The hit sampler: uniform, reproducible picks, and the hits turned into
// sequence ids and positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "mapping_fixture.h"

namespace {

using namespace map_test;

// How often each pick comes out over many reseeds.
std::map<std::vector<uint64_t>, int> pick_counts(uint32_t capacity, uint64_t hits, int rounds, bool sorted) {
  RandomState random;
  MapperSampler sampler(&random, capacity);
  std::map<std::vector<uint64_t>, int> counts;
  for (int i = 0; i < rounds; i++) {
    random.reseed(static_cast<unsigned long long>(2 * i + 1));
    const uint32_t k = sampler.pick_random_sample(hits);
    std::vector<uint64_t> picks(sampler.picks().begin(), sampler.picks().begin() + k);
    if (sorted) std::sort(picks.begin(), picks.end());
    counts[picks]++;
  }
  return counts;
}

TEST(MapperSampler, OneOfSevenHitsEachWithProbabilityOneSeventh) {
  const auto counts = pick_counts(1, 7, 7000, false);
  ASSERT_EQ(counts.size(), 7u);
  for (const auto &[pick, n] : counts) {
    ASSERT_EQ(pick.size(), 1u);
    EXPECT_LT(pick[0], 7u);
    EXPECT_GT(n, 850);
    EXPECT_LT(n, 1150);
  }
}

TEST(MapperSampler, FewerHitsThanRoomAreAllReportedInRandomOrder) {
  const auto orders = pick_counts(10, 3, 600, false);
  EXPECT_EQ(orders.size(), 6u);  // every order of the three
  for (const auto &[order, n] : orders) {
    EXPECT_EQ(std::set<uint64_t>(order.begin(), order.end()), (std::set<uint64_t>{0, 1, 2}));
    EXPECT_GT(n, 60);
  }
  // The order depends only on the seed.
  RandomState a(5ULL), b(5ULL);
  MapperSampler sa(&a, 10), sb(&b, 10);
  sa.pick_random_sample(3);
  sb.pick_random_sample(3);
  EXPECT_EQ(sa.picks(), sb.picks());
}

TEST(MapperSampler, ReservoirPicksEveryHitEquallyOften) {
  // Three of ten: each hit in 3/10 of the samples, the samples distinct.
  const auto sets = pick_counts(3, 10, 6000, true);
  std::map<uint64_t, int> per_hit;
  for (const auto &[set, n] : sets) {
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(std::set<uint64_t>(set.begin(), set.end()).size(), 3u);
    for (uint64_t h : set) {
      EXPECT_LT(h, 10u);
      per_hit[h] += n;
    }
  }
  ASSERT_EQ(per_hit.size(), 10u);
  for (const auto &[h, n] : per_hit) {
    EXPECT_GT(n, 1600) << h;
    EXPECT_LT(n, 2000) << h;
  }
  EXPECT_EQ(sets.size(), 120u);  // every choice of 3 of 10 occurs
}

// One linear sequence with text x planted twice and text y three times,
// and one circular sequence.
class SamplerOnAReference : public ::testing::Test {
 protected:
  SamplerOnAReference() : rng_(4) {
    x_ = random_bases(rng_, 40);
    y_ = random_bases(rng_, 50);
    Symbols a = random_bases(rng_, 2000);
    for (uint32_t at : {100u, 900u}) std::copy(x_.begin(), x_.end(), a.begin() + at);
    for (uint32_t at : {300u, 1200u, 1700u}) std::copy(y_.begin(), y_.end(), a.begin() + at);
    genome_.sequences = {random_bases(rng_, 500), a, random_bases(rng_, 1000)};
    genome_.circular = {false, false, true};
    index_ = std::make_unique<MapperIndex>(index_genome(genome_));
    index_->first_sequence_id = 10;
  }
  MapperAlignment alignment_of(const Symbols &text, uint32_t strand, uint32_t reference_offset, uint8_t flags) {
    MapperAlignment a;
    a.search.index = index_.get();
    index_->matcher->init_search(&a.search.search, text.data(), static_cast<int>(text.size()));
    a.search.strand = strand;
    a.alignment.add_matches(static_cast<uint32_t>(text.size() - reference_offset));
    a.alignment.tag = 77;
    a.hit_count = static_cast<uint32_t>(a.search.count());
    a.reference_offset = reference_offset;
    a.flags = flags;
    return a;
  }

  std::mt19937_64 rng_;
  Symbols x_, y_;
  Genome genome_;
  std::unique_ptr<MapperIndex> index_;
};

TEST_F(SamplerOnAReference, EveryHitOfTheResultTurnsIntoAPlace) {
  MapperResult result;
  // Filed as the extenders file them, with the flags of a hit found in
  // the second set.
  for (const MapperAlignment &a : {alignment_of(x_, 0, 3, 0), alignment_of(y_, 1, 0, kAlignmentSecondSet)}) {
    MapperResultStrand &s = result.strand[a.search.strand];
    s.alignments.push() = a;
    s.hit_total += a.hit_count;
  }
  result.mapping_quality = 17;
  ASSERT_EQ(result.hit_count(), 5u);
  RandomState random(9ULL);
  MapperSampler sampler(&random, 10);
  MapperSample sample;
  sampler.run(&result, &sample, 1);
  EXPECT_EQ(sample.hit_total[1], 5u);
  EXPECT_EQ(sample.mapping_quality[1], 17);
  EXPECT_TRUE(sample.entries[0].empty());
  ASSERT_EQ(sample.entries[1].size(), 5u);
  std::set<std::tuple<uint32_t, uint32_t, bool, bool>> places;
  for (const MapperSampleEntry &e : sample.entries[1]) {
    places.insert({e.reference_sequence, e.position, e.reverse, e.second_set});
    EXPECT_FALSE(e.shifted);
    EXPECT_FALSE(e.ga_mark);
    EXPECT_EQ(e.tag, 77u);
    EXPECT_EQ(e.transcript.size(), 1u);
  }
  const std::set<std::tuple<uint32_t, uint32_t, bool, bool>> want = {
      {11, 103, false, false},
      {11, 903, false, false},  // x from its fourth symbol
      {11, 300, true, true},
      {11, 1200, true, true},
      {11, 1700, true, true}};
  EXPECT_EQ(places, want);

  // A read without hits empties the mate's entries.
  result.clear();
  sampler.run(&result, &sample, 1);
  EXPECT_EQ(sample.hit_total[1], 0u);
  EXPECT_EQ(sample.mapping_quality[1], 255);
  EXPECT_TRUE(sample.entries[1].empty());
}

TEST_F(SamplerOnAReference, PositionPastTheEndOfACircularSequenceWraps) {
  // A text over the origin of the circular sequence: its occurrence starts
  // at 990, and an alignment 15 symbols into it starts at 1005 = 5.
  const Symbols &circle = genome_.sequences[2];
  Symbols text(circle.end() - 10, circle.end());
  text.insert(text.end(), circle.begin(), circle.begin() + 30);
  const MapperAlignment a = alignment_of(text, 0, 15, kAlignmentGaMark);
  ASSERT_EQ(a.hit_count, 1u);
  MapperSampleEntry entry;
  MapperSampler::fill_entry(a, 0, true, &entry);
  EXPECT_EQ(entry.reference_sequence, 12u);
  EXPECT_EQ(entry.position, 5u);
  EXPECT_TRUE(entry.shifted);
  EXPECT_TRUE(entry.ga_mark);
  EXPECT_EQ(entry.tag, 77u);
  // Within the first lap nothing changes.
  const MapperAlignment b = alignment_of(text, 0, 4, 0);
  MapperSampler::fill_entry(b, 0, false, &entry);
  EXPECT_EQ(entry.position, 994u);
}

TEST_F(SamplerOnAReference, ReadOverTheOriginOfACircularSequenceMapsInsideIt) {
  MapperParameters p;
  p.main_set.push_back(std::move(*index_));
  Worker worker(&p);
  const Symbols &circle = genome_.sequences[2];
  for (uint32_t before : {5u, 20u, 60u}) {
    Symbols source(circle.end() - before, circle.end());
    source.insert(source.end(), circle.begin(), circle.begin() + (80 - before));
    for (bool reverse : {false, true}) {
      OwnedRead read(reverse ? reverse_complement(source) : source);
      const Mapped m = worker.map(&read.read, before);
      ASSERT_EQ(m.hits.size(), 1u);
      EXPECT_EQ(m.hits[0].sequence, 12u);
      EXPECT_EQ(m.hits[0].position, 1000 - before);
      EXPECT_EQ(m.hits[0].reverse, reverse);
    }
  }
}

}  // namespace
