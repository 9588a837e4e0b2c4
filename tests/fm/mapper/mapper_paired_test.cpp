// Read pairs through the engine and the sampler, as a worker maps them:
// simulated fragments map as pairs at their true place, the pair sample is
// uniform and reproducible, the repeat option, mates too short to map,
// bisulphite pairs, thread-count independence and steady-state allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "allocation_counter.h"
#include "mapping_fixture.h"

namespace {

using namespace map_test;

// A simulated fragment: the two mates and where they lie.
struct Fragment {
  Symbols mate[2];
  uint32_t sequence = 0;
  uint32_t start[2] = {0, 0};  // first reference symbol of each mate
  bool reverse[2] = {false, false};
};

// A fragment of length symbols from [at, at + length) of sequence with
// mates of 100: mate 1 forward at its left end and mate 2 reverse at its
// right, or, from the other strand, the two swapped and each reverse
// complemented.
Fragment fragment(std::mt19937_64 &rng, const Genome &g, uint32_t sequence, uint32_t at, uint32_t length,
                  bool other_strand, double substitutions) {
  const Symbols &s = g.sequences[sequence];
  const Symbols left(s.begin() + at, s.begin() + at + 100);
  const Symbols right(s.begin() + at + length - 100, s.begin() + at + length);
  Fragment f;
  f.sequence = sequence;
  if (!other_strand) {
    f.mate[0] = mutate(rng, left, {substitutions, 0, 0});
    f.mate[1] = mutate(rng, reverse_complement(right), {substitutions, 0, 0});
  } else {
    // Seen from the other strand, mate 1 reads the right end backward and
    // mate 2 the left end forward.
    f.mate[0] = mutate(rng, reverse_complement(right), {substitutions, 0, 0});
    f.mate[1] = mutate(rng, left, {substitutions, 0, 0});
  }
  f.start[0] = other_strand ? at + length - 100 : at;
  f.start[1] = other_strand ? at : at + length - 100;
  f.reverse[0] = other_strand;
  f.reverse[1] = !other_strand;
  return f;
}

bool near(uint32_t a, uint32_t b) { return std::llabs(static_cast<int64_t>(a) - static_cast<int64_t>(b)) <= 10; }

// A random genome with a 400-symbol block planted ten times on sequence 0
// and another twice on sequence 1, 3000 symbols apart.
class MapperPaired : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    genome_ = new Genome(random_genome(41, kSlowBuild ? 150000 : 400000, 0, 0));
    std::mt19937_64 rng(42);
    ten_ = new Symbols(random_bases(rng, 400));
    two_ = new Symbols(random_bases(rng, 400));
    for (uint32_t k = 0; k < 10; k++) std::copy(ten_->begin(), ten_->end(), genome_->sequences[0].begin() + 5000 + 3000 * k);
    for (uint32_t k = 0; k < 2; k++) std::copy(two_->begin(), two_->end(), genome_->sequences[1].begin() + 5000 + 3000 * k);
    index_ = new MapperIndex(index_genome(*genome_));
  }
  static void TearDownTestSuite() {
    delete index_;
    delete ten_;
    delete two_;
    delete genome_;
  }
  // Parameters searching the genome; the index is lent and taken back.
  struct Setup {
    Setup() { parameters.main_set.push_back(std::move(*index_)); }
    ~Setup() { *index_ = std::move(parameters.main_set[0]); }
    MapperParameters parameters;
  };
  // Mates 1 (forward) and 2 (reverse) of a planted block: 300 apart.
  static std::pair<Symbols, Symbols> block_mates(const Symbols &block) {
    return {Symbols(block.begin(), block.begin() + 100),
            reverse_complement(Symbols(block.begin() + 300, block.begin() + 400))};
  }
  // A fragment from a random place of sequences 0 to 2 away from the
  // planted blocks.
  static Fragment random_fragment(std::mt19937_64 &rng, bool other_strand, double substitutions) {
    for (;;) {
      const uint32_t sequence = static_cast<uint32_t>(rng() % 3);
      const uint32_t length = 250 + static_cast<uint32_t>(rng() % 300);
      const uint32_t at = static_cast<uint32_t>(rng() % (genome_->sequences[sequence].size() - length));
      if (sequence < 2 && at < 40000) continue;
      return fragment(rng, *genome_, sequence, at, length, other_strand, substitutions);
    }
  }

  static Genome *genome_;
  static Symbols *ten_;
  static Symbols *two_;
  static MapperIndex *index_;
};

Genome *MapperPaired::genome_ = nullptr;
Symbols *MapperPaired::ten_ = nullptr;
Symbols *MapperPaired::two_ = nullptr;
MapperIndex *MapperPaired::index_ = nullptr;

TEST_F(MapperPaired, FragmentsFromEitherStrandMapAsPairsAtTheirPlace) {
  Setup setup;
  setup.parameters.mapping_quality = true;
  // The strand options do not apply to pairs.
  setup.parameters.strand_mask = 1;
  PairedWorker worker(&setup.parameters);
  std::mt19937_64 rng(1);
  const int n = kSlowBuild ? 200 : 600;
  int right = 0;
  for (int i = 0; i < n; i++) {
    const Fragment f = random_fragment(rng, i % 2 == 1, 0.01);
    OwnedRead m1(f.mate[0]), m2(f.mate[1]);
    const PairOut out = worker.map(&m1.read, &m2.read, kFbSs, static_cast<unsigned long long>(i));
    if (!out.paired) continue;
    bool ok = true;
    for (int m = 0; m < 2; m++) {
      ok &= out.mate[m].hits.size() == 1 && out.mate[m].hit_total == 1 && out.mate[m].mapping_quality == 60;
      if (!ok) break;
      const Hit &h = out.mate[m].hits[0];
      ok &= h.sequence == f.sequence && h.reverse == f.reverse[m] && near(h.position, f.start[m]);
    }
    right += ok;
  }
  EXPECT_GE(right, n * 97 / 100);
}

TEST_F(MapperPaired, MatesOutsideTheDistanceAreReportedOnTheirOwn) {
  Setup setup;
  setup.parameters.mapping_quality = true;
  PairedWorker worker(&setup.parameters);
  std::mt19937_64 rng(2);
  // A fragment of 800: mate 2's start lies 800 after mate 1's.
  const Fragment f = fragment(rng, *genome_, 2, 20000, 800, false, 0);
  OwnedRead m1(f.mate[0]), m2(f.mate[1]);
  PairOut out = worker.map(&m1.read, &m2.read, kFbSs, 5);
  EXPECT_FALSE(out.paired);
  for (int m = 0; m < 2; m++) {
    ASSERT_EQ(out.mate[m].hits.size(), 1u);
    EXPECT_EQ(out.mate[m].hit_total, 1u);
    EXPECT_EQ(out.mate[m].mapping_quality, 60);
    EXPECT_EQ(out.mate[m].hits[0].position, f.start[m]);
  }
  // Exactly at the maximum they pair.
  out = worker.map(&m1.read, &m2.read, {1, 0, 200, 800}, 5);
  EXPECT_TRUE(out.paired);
  out = worker.map(&m1.read, &m2.read, {1, 0, 200, 799}, 5);
  EXPECT_FALSE(out.paired);
}

TEST_F(MapperPaired, OneOfTenPairsIsReportedUniformlyAndTenWithRoomForTen) {
  const auto [a, b] = block_mates(*ten_);
  OwnedRead m1(a), m2(b);
  const MapperPairedParameters setting{1, 0, 0, 1000};
  {
    Setup setup;
    PairedWorker worker(&setup.parameters);
    std::map<uint32_t, int> chosen;
    const int rounds = 2000;
    for (int i = 0; i < rounds; i++) {
      const PairOut out = worker.map(&m1.read, &m2.read, setting, static_cast<unsigned long long>(i));
      ASSERT_TRUE(out.paired);
      ASSERT_EQ(out.mate[0].hit_total, 10u);
      ASSERT_EQ(out.mate[1].hit_total, 10u);
      ASSERT_EQ(out.mate[0].hits.size(), 1u);
      ASSERT_EQ(out.mate[1].hits.size(), 1u);
      // The two hits reported belong to one pair.
      EXPECT_EQ(out.mate[1].hits[0].position, out.mate[0].hits[0].position + 300);
      chosen[out.mate[0].hits[0].position]++;
    }
    ASSERT_EQ(chosen.size(), 10u);
    for (const auto &[position, n] : chosen) {
      EXPECT_EQ((position - 5000) % 3000, 0u) << position;
      EXPECT_GT(n, rounds / 10 - 70) << position;
      EXPECT_LT(n, rounds / 10 + 70) << position;
    }
    // The same index gives the same pair.
    EXPECT_EQ(worker.map(&m1.read, &m2.read, setting, 17), worker.map(&m1.read, &m2.read, setting, 17));
  }
  {
    Setup setup;
    setup.parameters.max_align = 10;
    PairedWorker worker(&setup.parameters);
    const PairOut out = worker.map(&m1.read, &m2.read, setting, 3);
    ASSERT_TRUE(out.paired);
    ASSERT_EQ(out.mate[0].hits.size(), 10u);
    ASSERT_EQ(out.mate[1].hits.size(), 10u);
    std::set<uint32_t> places;
    for (size_t i = 0; i < 10; i++) {
      places.insert(out.mate[0].hits[i].position);
      EXPECT_EQ(out.mate[1].hits[i].position, out.mate[0].hits[i].position + 300);
    }
    EXPECT_EQ(places.size(), 10u);
  }
}

TEST_F(MapperPaired, RepeatIgnoreDropsAmbiguousPairsAndAmbiguousUnpairedMates) {
  const auto [a, b] = block_mates(*two_);
  OwnedRead m1(a), m2(b);
  const MapperPairedParameters setting{1, 0, 0, 1000};
  Setup setup;
  {
    // Random: one of the two pairs.
    PairedWorker worker(&setup.parameters);
    const PairOut out = worker.map(&m1.read, &m2.read, setting, 1);
    ASSERT_TRUE(out.paired);
    EXPECT_EQ(out.mate[0].hit_total, 2u);
  }
  setup.parameters.repeat_mode = kRepeatIgnore;
  PairedWorker worker(&setup.parameters);
  // Two acceptable placements, one reported: the pair is unmatched.
  PairOut out = worker.map(&m1.read, &m2.read, setting, 1);
  EXPECT_FALSE(out.paired);
  for (int m = 0; m < 2; m++) {
    EXPECT_EQ(out.mate[m].hit_total, 0u);
    EXPECT_TRUE(out.mate[m].hits.empty());
  }
  // No pair: the mate with two hits goes, the unique one stays.
  std::mt19937_64 rng(3);
  const Fragment f = fragment(rng, *genome_, 2, 15000, 300, false, 0);
  OwnedRead unique(f.mate[1]);
  out = worker.map(&m1.read, &unique.read, setting, 2);
  EXPECT_FALSE(out.paired);
  EXPECT_EQ(out.mate[0].hit_total, 0u);
  ASSERT_EQ(out.mate[1].hits.size(), 1u);
  EXPECT_EQ(out.mate[1].hits[0].position, f.start[1]);
  // With room for two, both pairs are kept.
  setup.parameters.max_align = 2;
  PairedWorker roomy(&setup.parameters);
  out = roomy.map(&m1.read, &m2.read, setting, 1);
  EXPECT_TRUE(out.paired);
  EXPECT_EQ(out.mate[0].hits.size(), 2u);
}

TEST_F(MapperPaired, AMateTooShortToMapIsIgnoredAndItsPartnerReportedAlone) {
  Setup setup;
  PairedWorker worker(&setup.parameters);
  std::mt19937_64 rng(4);
  testing::internal::CaptureStderr();
  // A pair that maps first, so that a stale result would show.
  const Fragment good = fragment(rng, *genome_, 2, 25000, 400, false, 0);
  OwnedRead g1(good.mate[0]), g2(good.mate[1]);
  ASSERT_TRUE(worker.map(&g1.read, &g2.read, kFbSs, 0).paired);
  for (int i = 0; i < 3; i++) {
    const Fragment f = random_fragment(rng, false, 0);
    const Symbols short_mate(f.mate[0].begin(), f.mate[0].begin() + 10);
    OwnedRead m1(short_mate), m2(f.mate[1]);
    const PairOut out = worker.map(&m1.read, &m2.read, kFbSs, static_cast<unsigned long long>(i + 1));
    EXPECT_FALSE(out.paired);
    EXPECT_EQ(out.mate[0].hit_total, 0u);
    EXPECT_TRUE(out.mate[0].hits.empty());
    ASSERT_EQ(out.mate[1].hits.size(), 1u);
    EXPECT_EQ(out.mate[1].hit_total, 1u);
    EXPECT_EQ(out.mate[1].hits[0].position, f.start[1]);
    EXPECT_TRUE(out.mate[1].hits[0].reverse);
  }
  // Mate 2 short the other way round.
  OwnedRead s2(Symbols(good.mate[1].begin(), good.mate[1].begin() + 10));
  const PairOut out = worker.map(&g1.read, &s2.read, kFbSs, 9);
  EXPECT_FALSE(out.paired);
  ASSERT_EQ(out.mate[0].hits.size(), 1u);
  EXPECT_EQ(out.mate[0].hits[0].position, good.start[0]);
  EXPECT_EQ(out.mate[1].hit_total, 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Some reads of unsupported length <15 have been ignored.\n");
}

// Many kinds of pair: unique fragments from both strands, pairs from the
// blocks (ten and two placements), pairs that do not pair, and short mates.
std::vector<std::pair<Symbols, Symbols>> pair_workload(std::mt19937_64 &rng, const Genome &g, const Symbols &ten,
                                                       const Symbols &two, int n) {
  std::vector<std::pair<Symbols, Symbols>> pairs;
  for (int i = 0; i < n; i++) {
    const int kind = i % 6;
    if (kind == 0 || kind == 1) {
      const uint32_t sequence = 2;
      const uint32_t length = 250 + static_cast<uint32_t>(rng() % 300);
      const uint32_t at = static_cast<uint32_t>(rng() % (g.sequences[sequence].size() - length));
      const Fragment f = fragment(rng, g, sequence, at, length, kind == 1, 0.02);
      pairs.push_back({f.mate[0], f.mate[1]});
    } else if (kind == 2 || kind == 3) {
      const Symbols &block = kind == 2 ? ten : two;
      pairs.push_back({mutate(rng, Symbols(block.begin(), block.begin() + 100), {0.01, 0, 0}),
                       mutate(rng, reverse_complement(Symbols(block.begin() + 300, block.end())), {0.01, 0, 0})});
    } else if (kind == 4) {
      const Fragment f = fragment(rng, g, 2, 1000 + static_cast<uint32_t>(rng() % 5000), 900, false, 0.01);
      pairs.push_back({f.mate[0], f.mate[1]});
    } else {
      const Fragment f = fragment(rng, g, 2, 1000 + static_cast<uint32_t>(rng() % 5000), 400, false, 0.01);
      pairs.push_back({Symbols(f.mate[0].begin(), f.mate[0].begin() + 5 + rng() % 9), f.mate[1]});
    }
  }
  return pairs;
}

std::vector<PairOut> map_pairs_on_threads(MapperParameters *p, const std::vector<std::pair<Symbols, Symbols>> &pairs,
                                          const MapperPairedParameters &setting, int threads) {
  std::vector<PairOut> out(pairs.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++) {
    pool.emplace_back([&] {
      PairedWorker worker(p);
      for (size_t i; (i = next.fetch_add(1)) < pairs.size();) {
        OwnedRead m1(pairs[i].first), m2(pairs[i].second);
        out[i] = worker.map(&m1.read, &m2.read, setting, i);
      }
    });
  }
  for (std::thread &t : pool) t.join();
  return out;
}

TEST_F(MapperPaired, ThreadCountDoesNotChangeTheOutput) {
  testing::internal::CaptureStderr();
  Setup setup;
  setup.parameters.max_align = 3;
  setup.parameters.mapping_quality = true;
  std::mt19937_64 rng(5);
  const auto pairs = pair_workload(rng, *genome_, *ten_, *two_, kSlowBuild ? 120 : 360);
  const std::vector<PairOut> one = map_pairs_on_threads(&setup.parameters, pairs, kFbSs, 1);
  const std::vector<PairOut> four = map_pairs_on_threads(&setup.parameters, pairs, kFbSs, 4);
  int paired = 0, sampled = 0;
  for (size_t i = 0; i < pairs.size(); i++) {
    EXPECT_EQ(one[i], four[i]) << "pair " << i;
    paired += one[i].paired;
    sampled += one[i].paired && one[i].mate[0].hit_total > one[i].mate[0].hits.size();
  }
  // Worth its name: most pairs pair, and the ten-block pairs were sampled.
  EXPECT_GT(paired, static_cast<int>(pairs.size()) / 2);
  EXPECT_GT(sampled, static_cast<int>(pairs.size()) / 10);
  testing::internal::GetCapturedStderr();
}

TEST_F(MapperPaired, SteadyStateAllocatesNothing) {
  testing::internal::CaptureStderr();
  Setup setup;
  setup.parameters.max_align = 3;
  setup.parameters.mapping_quality = true;
  std::mt19937_64 rng(6);
  const auto pairs = pair_workload(rng, *genome_, *ten_, *two_, 120);
  std::vector<std::unique_ptr<OwnedRead>> reads;
  for (const auto &p : pairs) {
    reads.push_back(std::make_unique<OwnedRead>(p.first));
    reads.push_back(std::make_unique<OwnedRead>(p.second));
  }
  PairedWorker worker(&setup.parameters);
  for (size_t i = 0; i < pairs.size(); i++) worker.map_only(&reads[2 * i]->read, &reads[2 * i + 1]->read, kFbSs, i);
  const uint64_t before = ryx_test::allocation_count();
  for (size_t i = 0; i < pairs.size(); i++)
    worker.map_only(&reads[2 * i]->read, &reads[2 * i + 1]->read, kFbSs, i + 11);
  EXPECT_EQ(ryx_test::allocation_count(), before);
  testing::internal::GetCapturedStderr();
}

}  // namespace
