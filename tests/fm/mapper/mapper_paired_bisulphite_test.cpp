// Bisulphite read pairs on a random genome indexed C->T and G->A
// converted: fragments of the two original strands (directional) and of
// their complements (non-directional) map as pairs at their true place;
// ties between candidate pairs depend only on the pair's index.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "allocation_counter.h"
#include "bisulphite_fixture.h"

namespace {

using namespace map_test;

constexpr size_t kGenomeSize = kSlowBuild ? 150000 : 1000000;
constexpr uint32_t kAtStretch = 10000;  // 600 symbols of A and T only on sequence 0

struct BisulphitePair {
  Symbols mate[2];
  uint32_t sequence = 0;
  uint32_t start[2] = {0, 0};
  bool reverse[2] = {false, false};
  bool second_set = false;  // both mates match the G->A converted set
};

class MapperPairedBisulphite : public BisulphiteSuite<MapperPairedBisulphite> {
 protected:
  static void SetUpTestSuite() {
    Genome genome = random_genome(78, kGenomeSize, 0, 0);
    std::mt19937_64 rng(9);
    plant_at_stretch(genome, rng, kAtStretch, 600);
    index_both_ways(std::move(genome));
  }

  // The pair of a fragment of the top strand's [at, at + length) of
  // sequence, read from the strand of kind: mate 1 the first 100 symbols
  // of that strand's (converted) fragment, mate 2 the reverse complement
  // of its last 100.
  static BisulphitePair bisulphite_pair(std::mt19937_64 &rng, Kind kind, uint32_t sequence, uint32_t at,
                                        uint32_t length, double substitutions) {
    const Symbols &s = genome_->sequences[sequence];
    const Symbols top(s.begin() + at, s.begin() + at + length);
    Symbols strand;
    switch (kind) {
      case kOriginalTop: strand = convert(rng, top); break;
      case kOriginalBottom: strand = convert(rng, reverse_complement(top)); break;
      // The complements are copies of the treated original strands.
      case kComplementTop: strand = reverse_complement(convert(rng, top)); break;
      case kComplementBottom: strand = reverse_complement(convert(rng, reverse_complement(top))); break;
    }
    BisulphitePair p;
    p.sequence = sequence;
    p.mate[0] = mutate(rng, Symbols(strand.begin(), strand.begin() + 100), {substitutions, 0, 0});
    p.mate[1] = mutate(rng, reverse_complement(Symbols(strand.end() - 100, strand.end())), {substitutions, 0, 0});
    // Strands that read the top left to right put mate 1 forward at the
    // left end; the others put it reversed at the right end.
    const bool left_to_right = kind == kOriginalTop || kind == kComplementBottom;
    p.start[0] = left_to_right ? at : at + length - 100;
    p.start[1] = left_to_right ? at + length - 100 : at;
    p.reverse[0] = !left_to_right;
    p.reverse[1] = left_to_right;
    // The bottom strand's C->T conversion is the top's G->A conversion.
    p.second_set = kind == kOriginalBottom || kind == kComplementBottom;
    return p;
  }
  static BisulphitePair random_pair(std::mt19937_64 &rng, Kind kind) {
    for (;;) {
      const uint32_t sequence = static_cast<uint32_t>(rng() % 2);
      const uint32_t length = 250 + static_cast<uint32_t>(rng() % 300);
      const uint32_t at = static_cast<uint32_t>(rng() % (genome_->sequences[sequence].size() - length));
      if (sequence == 0 && at < kAtStretch + 1000) continue;
      return bisulphite_pair(rng, kind, sequence, at, length, 0.005);
    }
  }

  // Maps pairs of the given kinds; counts those reported as a pair at their
  // true place, strand and reference set.
  static int map_kinds(PairedWorker &worker, std::mt19937_64 &rng, std::initializer_list<Kind> kinds, int per_kind) {
    int right = 0, index = 0;
    for (Kind kind : kinds) {
      for (int i = 0; i < per_kind; i++) {
        const BisulphitePair p = random_pair(rng, kind);
        const PairOut out = worker.map(p.mate[0], p.mate[1], kFbSs, static_cast<unsigned long long>(index++));
        if (!out.paired) continue;
        bool ok = true;
        for (int m = 0; m < 2 && ok; m++) {
          EXPECT_EQ(out.mate[m].mapping_quality, 255);  // never computed in bisulphite runs
          ok = out.mate[m].hits.size() == 1;
          if (!ok) break;
          const Hit &h = out.mate[m].hits[0];
          ok = h.sequence == p.sequence && h.reverse == p.reverse[m] && h.second_set == p.second_set &&
               std::llabs(static_cast<int64_t>(h.position) - static_cast<int64_t>(p.start[m])) <= 10;
        }
        right += ok;
      }
    }
    return right;
  }
};

TEST_F(MapperPairedBisulphite, DirectionalPairsOfBothOriginalStrandsMap) {
  Setup setup(false);
  setup.parameters.mapping_quality = true;
  PairedWorker worker(&setup.parameters);
  std::mt19937_64 rng(1);
  const int per_kind = kSlowBuild ? 100 : 400;
  EXPECT_GE(map_kinds(worker, rng, {kOriginalTop, kOriginalBottom}, per_kind), 2 * per_kind * 97 / 100);
}

TEST_F(MapperPairedBisulphite, NonDirectionalPairsOfAllFourStrandsMap) {
  Setup setup(true);
  PairedWorker worker(&setup.parameters);
  std::mt19937_64 rng(2);
  const int per_kind = kSlowBuild ? 50 : 200;
  EXPECT_GE(map_kinds(worker, rng, {kOriginalTop, kOriginalBottom, kComplementTop, kComplementBottom}, per_kind),
            4 * per_kind * 97 / 100);
}

TEST_F(MapperPairedBisulphite, ThreadCountDoesNotChangeTiesOrOutput) {
  // Pairs from the A/T stretch read alike converted either way: the
  // candidate of each conversion holds the same single pair, and one draw
  // chooses.
  Setup setup(true);
  std::mt19937_64 rng(3);
  std::vector<BisulphitePair> pairs;
  for (uint32_t i = 0; i < 40; i++) pairs.push_back(bisulphite_pair(rng, kOriginalTop, 0, kAtStretch + i, 400, 0));
  for (int i = 0; i < 120; i++) pairs.push_back(random_pair(rng, static_cast<Kind>(i % 4)));
  std::shuffle(pairs.begin(), pairs.end(), rng);

  std::vector<PairOut> alone(pairs.size());
  {
    PairedWorker worker(&setup.parameters);
    for (size_t i = 0; i < pairs.size(); i++) alone[i] = worker.map(pairs[i].mate[0], pairs[i].mate[1], kFbSs, i);
  }
  int ties = 0, second_set = 0;
  for (size_t i = 0; i < pairs.size(); i++) {
    const Symbols &a = pairs[i].mate[0];
    if (!std::all_of(a.begin(), a.end(), [](unsigned char c) { return c == 0 || c == 3; })) continue;
    ties++;
    ASSERT_TRUE(alone[i].paired) << i;
    ASSERT_EQ(alone[i].mate[0].hit_total, 1u);
    ASSERT_EQ(alone[i].mate[0].hits.size(), 1u);
    EXPECT_EQ(alone[i].mate[0].hits[0].position, pairs[i].start[0]);
    second_set += alone[i].mate[0].hits[0].second_set;
  }
  EXPECT_EQ(ties, 40);
  EXPECT_GT(second_set, 5);
  EXPECT_LT(second_set, 35);

  std::vector<PairOut> shared(pairs.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      PairedWorker worker(&setup.parameters);
      for (size_t i; (i = next.fetch_add(1)) < pairs.size();)
        shared[i] = worker.map(pairs[i].mate[0], pairs[i].mate[1], kFbSs, i);
    });
  }
  for (std::thread &t : threads) t.join();
  for (size_t i = 0; i < pairs.size(); i++) EXPECT_EQ(shared[i], alone[i]) << "pair " << i;
}

TEST_F(MapperPairedBisulphite, SteadyStateAllocatesNothing) {
  Setup setup(true);
  std::mt19937_64 rng(4);
  // Each pair twice: the mapping converts the mates in place.
  std::vector<std::unique_ptr<OwnedRead>> first, again;
  for (int i = 0; i < 60; i++) {
    const BisulphitePair p = random_pair(rng, static_cast<Kind>(i % 4));
    for (const Symbols &m : p.mate) {
      first.push_back(std::make_unique<OwnedRead>(m));
      again.push_back(std::make_unique<OwnedRead>(m));
    }
  }
  Mapper mapper(&setup.parameters);
  MapperPairedResult result(mapper.random_state(), 1);
  MapperSampler sampler(mapper.random_state(), 1);
  MapperSample sample;
  auto run = [&](std::vector<std::unique_ptr<OwnedRead>> &reads) {
    for (size_t i = 0; i + 1 < reads.size(); i += 2) {
      mapper.paired_run(&reads[i]->read, &reads[i + 1]->read, &result, &kFbSs, i);
      sampler.paired_run(&result, &sample);
    }
  };
  run(first);
  const uint64_t before = ryx_test::allocation_count();
  run(again);
  EXPECT_EQ(ryx_test::allocation_count(), before);
}

}  // namespace
