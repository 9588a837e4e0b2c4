// Bisulphite mapping on a random genome indexed twice, C->T and G->A
// converted: reads of the two original strands (directional) and of their
// complements (non-directional) map at their true place; choices between
// equal candidates depend only on the read index.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "allocation_counter.h"
#include "bisulphite_fixture.h"

namespace {

using namespace map_test;

constexpr size_t kGenomeSize = kSlowBuild ? 150000 : 1000000;

class MapperBisulphite : public BisulphiteSuite<MapperBisulphite> {
 protected:
  static void SetUpTestSuite() {
    Genome genome = random_genome(77, kGenomeSize, 0, 0);
    // Two stretches of As and Ts only: their reads look the same converted
    // either way, so two candidates tie.
    std::mt19937_64 rng(8);
    for (uint32_t at : {10000u, 30000u}) plant_at_stretch(genome, rng, at, 300);
    index_both_ways(std::move(genome));
  }

  // A read of 100 symbols with 1 substitution in 200 from a random place
  // of sequence 0 or 1.
  static SimulatedRead bisulphite_read(std::mt19937_64 &rng, Kind kind) {
    const uint32_t sequence = static_cast<uint32_t>(rng() % 2);
    const uint32_t start = static_cast<uint32_t>(rng() % (genome_->sequences[sequence].size() - 100));
    return bisulphite_read(rng, kind, sequence, start, 0.005);
  }
  // The same from [start, start + 100) of sequence.
  static SimulatedRead bisulphite_read(std::mt19937_64 &rng, Kind kind, uint32_t sequence, uint32_t start,
                                       double substitutions) {
    SimulatedRead r;
    r.sequence = sequence;
    const Symbols &s = genome_->sequences[sequence];
    r.start = start;
    r.end = r.start + 100;
    const Symbols top(s.begin() + r.start, s.begin() + r.end);
    const bool bottom = kind == kOriginalBottom || kind == kComplementBottom;
    Symbols read = convert(rng, bottom ? reverse_complement(top) : top);
    if (kind == kComplementTop || kind == kComplementBottom) read = reverse_complement(read);
    r.codes = mutate(rng, read, {substitutions, 0, 0});
    // The read matches the top strand as it is for OT and CTOB.
    r.reverse = kind == kOriginalBottom || kind == kComplementTop;
    return r;
  }

  // Maps reads of the given kinds and counts those at their true place,
  // strand and reference set.
  static int map_kinds(Worker &worker, std::mt19937_64 &rng, std::initializer_list<Kind> kinds, int per_kind) {
    int right = 0, index = 0;
    for (Kind kind : kinds) {
      for (int i = 0; i < per_kind; i++) {
        const SimulatedRead r = bisulphite_read(rng, kind);
        OwnedRead read(r.codes);
        const Mapped m = worker.map(&read.read, static_cast<unsigned long long>(index++));
        EXPECT_EQ(m.mapping_quality, 255);  // never computed in bisulphite runs
        if (m.hits.size() != 1) continue;
        const Hit &h = m.hits[0];
        // The G->A set holds the matches of the read's G->A side: the
        // bottom strand's reads read as it is, the top strand's reversed.
        const bool second_set = kind == kOriginalBottom || kind == kComplementBottom;
        right += h.sequence == r.sequence && h.reverse == r.reverse && h.second_set == second_set &&
                 std::llabs(static_cast<int64_t>(h.position) - static_cast<int64_t>(r.start)) <= 10;
      }
    }
    return right;
  }
};

TEST_F(MapperBisulphite, DirectionalReadsOfBothOriginalStrandsMap) {
  Setup setup(false);
  setup.parameters.mapping_quality = true;
  // The strand options do not apply to bisulphite runs.
  setup.parameters.strand_mask = 1;
  Worker worker(&setup.parameters);
  std::mt19937_64 rng(1);
  const int per_kind = kSlowBuild ? 100 : 500;
  EXPECT_GE(map_kinds(worker, rng, {kOriginalTop, kOriginalBottom}, per_kind), 2 * per_kind * 97 / 100);
}

TEST_F(MapperBisulphite, NonDirectionalReadsOfAllFourStrandsMap) {
  Setup setup(true);
  Worker worker(&setup.parameters);
  std::mt19937_64 rng(2);
  const int per_kind = kSlowBuild ? 50 : 250;
  EXPECT_GE(map_kinds(worker, rng, {kOriginalTop, kOriginalBottom, kComplementTop, kComplementBottom}, per_kind),
            4 * per_kind * 97 / 100);
}

TEST_F(MapperBisulphite, EqualCandidatesAreChosenByTheReadIndexAlone) {
  // Reads from the A/T stretches match the C->T set as they are and the
  // G->A set as they are: a tie of single hits, broken by one draw.
  Setup setup(true);
  std::mt19937_64 rng(3);
  std::vector<Symbols> reads;
  for (uint32_t i = 0; i < 60; i++)
    reads.push_back(bisulphite_read(rng, kOriginalTop, 0, (i % 2 ? 10000 : 30000) + i, 0).codes);
  for (int i = 0; i < 240; i++) reads.push_back(bisulphite_read(rng, static_cast<Kind>(i % 4)).codes);
  std::shuffle(reads.begin(), reads.end(), rng);

  // One worker, in order.
  std::vector<Mapped> alone(reads.size());
  {
    Worker worker(&setup.parameters);
    for (size_t i = 0; i < reads.size(); i++) {
      OwnedRead read(reads[i]);
      alone[i] = worker.map(&read.read, i);
    }
  }
  int second_set = 0, ties = 0;
  for (size_t i = 0; i < reads.size(); i++) {
    const bool at_only =
        std::all_of(reads[i].begin(), reads[i].end(), [](unsigned char c) { return c == 0 || c == 3; });
    if (!at_only) continue;
    ties++;
    ASSERT_EQ(alone[i].hit_total, 1u);
    second_set += alone[i].hits[0].second_set;
  }
  EXPECT_EQ(ties, 60);
  EXPECT_GT(second_set, 10);
  EXPECT_LT(second_set, 50);

  // Four workers taking reads as they come: the same output.
  std::vector<Mapped> shared(reads.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      Worker worker(&setup.parameters);
      for (size_t i; (i = next.fetch_add(1)) < reads.size();) {
        OwnedRead read(reads[i]);
        shared[i] = worker.map(&read.read, i);
      }
    });
  }
  for (std::thread &t : threads) t.join();
  for (size_t i = 0; i < reads.size(); i++) EXPECT_EQ(shared[i], alone[i]) << "read " << i;
}

TEST_F(MapperBisulphite, SteadyStateAllocatesNothing) {
  Setup setup(true);
  std::mt19937_64 rng(4);
  // Each read twice: the mapping converts a read in place.
  std::vector<std::unique_ptr<OwnedRead>> first, again;
  for (int i = 0; i < 80; i++) {
    const Symbols codes = bisulphite_read(rng, static_cast<Kind>(i % 4)).codes;
    first.push_back(std::make_unique<OwnedRead>(codes));
    again.push_back(std::make_unique<OwnedRead>(codes));
  }
  Worker worker(&setup.parameters);
  for (size_t i = 0; i < first.size(); i++) worker.map_only(&first[i]->read, i);
  const uint64_t before = ryx_test::allocation_count();
  for (size_t i = 0; i < again.size(); i++) worker.map_only(&again[i]->read, i);
  EXPECT_EQ(ryx_test::allocation_count(), before);
}

}  // namespace
