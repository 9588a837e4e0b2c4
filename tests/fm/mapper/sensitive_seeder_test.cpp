// The sensitive seeder: whole reads, windows of the minimum seed length
// against brute-force counts, and the joining of runs of equal counts.
#include "fm/mapper/mapper_sensitive_seeder.h"

#include <gtest/gtest.h>

#include <random>

#include "fm/mapper/mapper_parameters.h"
#include "seeding_fixture.h"

namespace {

using namespace seed_test;

struct Seed {
  uint32_t index_number, strand, offset, length;
  bool operator==(const Seed &o) const = default;
};

std::ostream &operator<<(std::ostream &os, const Seed &s) {
  return os << "{set " << s.index_number << " strand " << s.strand << " offset " << s.offset << " length "
            << s.length << "}";
}

std::vector<Seed> seeds_of(const MapperSeeds &seeds) {
  std::vector<Seed> out;
  for (const MapperSearch &s : seeds.seeds) out.push_back({s.index_number, s.strand, s.offset, s.length});
  return out;
}

// Brute-force occurrences of read[from, from + length) on a strand; 0 for
// a stretch holding an N.
uint64_t count(const std::vector<Reference> &refs, const Symbols &read, uint32_t from, uint32_t length, int strand) {
  const Symbols text(read.begin() + from, read.begin() + from + length);
  for (unsigned char c : text)
    if (c >= 4) return 0;
  return occurrences(refs, strand == 0 ? text : reverse_complement(text));
}

// The seeder's rules over brute-force counts, in the seeder's order.
std::vector<Seed> model_seeds(const std::vector<std::vector<Reference>> &sets, const Symbols &read, uint32_t mask,
                              uint32_t a) {
  std::vector<Seed> out;
  const uint32_t L = static_cast<uint32_t>(read.size());
  if (L < a) return out;
  for (uint32_t i = 0; i < sets.size(); i++)
    for (int s = 0; s < 2; s++)
      if ((mask >> s & 1) && count(sets[i], read, 0, L, s) > 0) out.push_back({i, static_cast<uint32_t>(s), 0, L});
  if (!out.empty()) return out;
  const uint32_t W = L - a + 1;
  for (uint32_t i = 0; i < sets.size(); i++)
    for (uint32_t s = 0; s < 2; s++) {
      if ((mask >> s & 1) == 0) continue;
      std::vector<uint64_t> n(W);
      for (uint32_t j = 0; j < W; j++) n[j] = count(sets[i], read, j, a, static_cast<int>(s));
      auto place = [&](uint32_t from, uint32_t length) { return s == 0 ? from : L - from - length; };
      std::vector<bool> kept(W);
      for (uint32_t j = 0; j < W; j++) kept[j] = n[j] > 0;
      std::vector<Seed> joined;
      const bool saturated = std::any_of(n.begin(), n.end(), [](uint64_t x) { return x >= 256; });
      for (uint32_t j = 0; !saturated && j < W;) {
        if (n[j] == 0) {
          j++;
          continue;
        }
        uint32_t k = 1;
        while (j + k < W && n[j + k] == n[j]) k++;
        if (j + k < W && k >= 2 && count(sets[i], read, j, a + k - 1, static_cast<int>(s)) == n[j]) {
          joined.push_back({i, s, place(j, a + k - 1), a + k - 1});
          for (uint32_t w = j; w < j + k - 1; w++) kept[w] = false;
        }
        j += k;
      }
      for (uint32_t j = 0; j < W; j++)
        if (kept[j]) out.push_back({i, s, place(j, a), a});
      out.insert(out.end(), joined.begin(), joined.end());
    }
  return out;
}

TEST(SensitiveSeeder, WindowsAndJoinedRunsFollowBruteForceCounts) {
  std::mt19937_64 rng(23);
  // Repetitive sets: copies of stretches give runs of equal counts.
  std::vector<std::vector<Reference>> sets;
  for (int k = 0; k < 2; k++) {
    std::vector<Reference> refs = random_references(rng, 3, 100, 500);
    std::vector<Symbols> bases;
    for (const Reference &r : refs) bases.push_back(r.bases);
    for (int copy = 0; copy < 3; copy++) {
      const Symbols &from = bases[rng() % 3];
      const size_t at = rng() % (from.size() - 60);
      bases.push_back(concat({random_acgt(rng, 5), Symbols(from.begin() + at, from.begin() + at + 40 + rng() % 20)}));
    }
    sets.push_back(references(bases));
  }
  std::vector<MapperIndex> indexes;
  for (const auto &set : sets) indexes.push_back(build_index(set, 6));
  for (uint32_t a : {10u, 15u}) {
    MapperParameters p;
    p.min_seed_length = a;
    MapperSensitiveSeeder seeder(&p);
    size_t joined = 0, whole = 0;
    for (int r = 0; r < 40; r++) {
      const uint32_t mask = 1 + r % 3;
      const Symbols read = sample_read(rng, sets[r % 2], 12 + rng() % 90);
      OwnedRead t(read);
      MapperSeeds seeds;
      seeder.run(&t.read, &seeds, mask, indexes);
      const std::vector<Seed> want = model_seeds(sets, read, mask, a);
      ASSERT_EQ(seeds_of(seeds), want) << "a " << a << " read " << r << " mask " << mask;
      expect_sound_seeds(seeds.seeds, indexes, sets, read);
      for (const Seed &s : want) {
        joined += s.length > a && s.length < read.size();
        whole += s.length == read.size();
      }
    }
    EXPECT_GT(joined, 0u);
    EXPECT_GT(whole, 0u);
  }
}

// Three windows with 2 occurrences each, then one with none: one joined
// seed of a + 2 symbols, and the last of the three windows keeps its own.
TEST(SensitiveSeeder, JoinsARunEndedByAnotherCount) {
  std::mt19937_64 rng(31);
  const Symbols q = random_acgt(rng, 12);
  const Symbols tail = random_acgt(rng, 20);
  Symbols read = concat({q, tail});
  // The window from 3 (q[3, 12) and the first tail symbol) must not occur.
  const std::vector<Reference> refs =
      references({concat({random_acgt(rng, 8), q, random_acgt(rng, 8)}), concat({q, Symbols{4}})});
  ASSERT_EQ(occurrences(refs, Symbols(read.begin() + 3, read.begin() + 13)), 0u);
  std::vector<MapperIndex> indexes;
  indexes.push_back(build_index(refs, 10));
  MapperParameters p;
  p.min_seed_length = 10;
  MapperSensitiveSeeder seeder(&p);
  OwnedRead t(read);
  MapperSeeds seeds;
  seeder.run(&t.read, &seeds, 1, indexes);
  EXPECT_EQ(seeds_of(seeds), (std::vector<Seed>{{0, 0, 2, 10}, {0, 0, 0, 12}}));
  EXPECT_EQ(seeds.seeds[1].count(), 2u);

  // The reverse complement searched on strand 1 puts the same windows
  // last (read positions 20 to 22): a run lasting to the last window is
  // not joined. Offsets are on the reverse complement.
  OwnedRead u(reverse_complement(read));
  seeds.clear();
  seeder.run(&u.read, &seeds, 2, indexes);
  EXPECT_EQ(seeds_of(seeds), (std::vector<Seed>{{0, 1, 2, 10}, {0, 1, 1, 10}, {0, 1, 0, 10}}));
}

// Windows of 255 or more occurrences: counts saturate and no run is joined.
TEST(SensitiveSeeder, NoJoiningWhenAWindowOccursTooOften) {
  std::mt19937_64 rng(6);
  const Symbols tail = random_acgt(rng, 20);
  const Symbols read = concat({Symbols(12, 0), tail});
  std::vector<MapperIndex> indexes;
  // 400 A: each A window occurs 391 times.
  const std::vector<Reference> refs = references({Symbols(400, 0), concat({Symbols(12, 0), tail})});
  // The read occurs whole: whole-read seed only.
  indexes.push_back(build_index(refs, 10));
  MapperParameters p;
  p.min_seed_length = 10;
  MapperSensitiveSeeder seeder(&p);
  OwnedRead whole(read);
  MapperSeeds seeds;
  seeder.run(&whole.read, &seeds, 1, indexes);
  EXPECT_EQ(seeds_of(seeds), (std::vector<Seed>{{0, 0, 0, 32}}));
  // Without the whole read: three saturated windows stay apart.
  indexes.clear();
  const std::vector<Reference> apart = references({Symbols(400, 0), tail});
  indexes.push_back(build_index(apart, 10));
  seeds.clear();
  seeder.run(&whole.read, &seeds, 1, indexes);
  const std::vector<Seed> got = seeds_of(seeds);
  ASSERT_GE(got.size(), 3u);
  for (uint32_t j = 0; j < 3; j++) {
    EXPECT_EQ(got[j], (Seed{0, 0, j, 10}));
    EXPECT_EQ(seeds.seeds[j].count(), 391u);
  }
  EXPECT_EQ(got, model_seeds({apart}, read, 1, 10));
}

// A read occurring whole gets one seed per reference set and strand where
// it occurs, and with mapping qualities the alternative-hit score.
TEST(SensitiveSeeder, WholeReadSeedsAndAlternativeHits) {
  std::mt19937_64 rng(21);
  const Symbols A = random_acgt(rng, 20), B = random_acgt(rng, 20), C = random_acgt(rng, 20);
  const Symbols read = concat({A, B, C});
  auto flank = [&](const Symbols &x) { return concat({random_acgt(rng, 7), x, random_acgt(rng, 7)}); };
  // Set 0: the read on the reverse strand, B twice more; set 1: the read
  // on both strands.
  const std::vector<std::vector<Reference>> sets = {
      references({flank(reverse_complement(read)), flank(B), flank(B)}),
      references({flank(read), flank(reverse_complement(read))})};
  std::vector<MapperIndex> indexes;
  for (const auto &set : sets) indexes.push_back(build_index(set, 10));
  MapperParameters p;
  MapperSensitiveSeeder seeder(&p);
  OwnedRead t(read);
  MapperSeeds seeds;
  seeder.run(&t.read, &seeds, 3, indexes);
  EXPECT_EQ(seeds_of(seeds), (std::vector<Seed>{{0, 1, 0, 60}, {1, 0, 0, 60}, {1, 1, 0, 60}}));
  EXPECT_EQ(seeds.alt_hit_score, 0u);

  // The first 60-symbol seed is set 0's: its own set counts one less.
  // Probe B [20, 40): set 0 strand 0, 2 occurrences (- 1, x 20) = 20;
  // set 0 strand 1: 1 - 1 = 0, not counted; set 1: 1 on each strand: + 1
  // + 1 = 22. A [0, 20): set 1 strand 0 (1, x 20) = 20, strand 1 + 1 =
  // 21. B again: 22. 43 >= 40.
  p.mapping_quality = true;
  seeds.clear();
  seeder.run(&t.read, &seeds, 3, indexes);
  EXPECT_EQ(seeds.alt_hit_score, 43u);
  // Reads shorter than the seed length get nothing.
  OwnedRead tiny(Symbols(read.begin(), read.begin() + 14));
  seeds.clear();
  seeder.run(&tiny.read, &seeds, 3, indexes);
  EXPECT_TRUE(seeds.seeds.empty());
}

}  // namespace
