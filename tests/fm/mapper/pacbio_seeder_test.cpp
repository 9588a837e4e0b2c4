// The long-read seeder against a model of its rules over brute-force
// occurrence counts, and its regions on hand-made reads.
#include "fm/mapper/mapper_pacbio_seeder.h"

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

// The seeder's rules with every occurrence count taken by brute force. A
// region is a stretch of read symbols with some skipped; it lives while
// its text occurs on a strand that is asked for. An N occurs nowhere.
std::vector<Seed> model_seeds(const std::vector<std::vector<Reference>> &sets, const Symbols &read, uint32_t mask,
                              const MapperParameters &p) {
  std::vector<Seed> out;
  const int64_t L = static_cast<int64_t>(read.size());
  if (read.size() > p.max_read_length) return out;
  for (uint32_t x = 0; x < sets.size(); x++) {
    const std::vector<Reference> &refs = sets[x];
    auto forward_count = [&](const Symbols &t) { return (mask & 1) ? occurrences(refs, t) : 0; };
    auto reverse_count = [&](const Symbols &t) { return (mask & 2) ? occurrences(refs, reverse_complement(t)) : 0; };
    auto lives = [&](const Symbols &t) { return forward_count(t) + reverse_count(t) > 0; };
    struct Region {
      int64_t start, exact, total;
      Symbols text;  // the exact part
    };
    std::vector<Region> regions;
    int64_t c = p.min_seed_length;
    if (L <= c) continue;
    for (int64_t i = 0; i < L - c;) {
      int64_t n = 0;
      while (i - n >= 0 && read[i - n] < 4) {
        const Symbols t(read.begin() + (i - n), read.begin() + i + 1);
        if (!lives(t)) break;
        n++;
      }
      if (n == 0) {
        i++;
        continue;
      }
      Region r{i + 1 - n, n, n, Symbols(read.begin() + (i + 1 - n), read.begin() + i + 1)};
      Symbols text = r.text, exact_text;
      int skips = 0;
      int64_t matched = 0, before_skip = 0;
      for (int64_t q = i + 1; q < L - c; q++) {
        Symbols longer = text;
        longer.push_back(read[q]);
        if (read[q] < 4 && lives(longer)) {
          text = longer;
          matched++;
          continue;
        }
        if (skips == 10) break;
        if (++skips == 1) {
          exact_text = text;
          before_skip = matched;
        }
      }
      if (skips > 0) {
        r.text = exact_text;
        r.exact += before_skip;
        r.total += matched;
      }
      if (r.total >= c - 2) {
        c = std::max(c, r.total);
        regions.push_back(r);
      }
      i += r.exact - n + 1;
    }
    for (const Region &r : regions) {
      if (r.total < c - 2) continue;
      const uint32_t length = static_cast<uint32_t>(r.exact);
      if (forward_count(r.text) > 0) out.push_back({x, 0, static_cast<uint32_t>(r.start), length});
      if (reverse_count(r.text) > 0) out.push_back({x, 1, static_cast<uint32_t>(L - r.start - r.exact), length});
    }
  }
  return out;
}

std::vector<Seed> seeds_of(const MapperSeeds &seeds) {
  std::vector<Seed> out;
  for (const MapperSearch &s : seeds.seeds) out.push_back({s.index_number, s.strand, s.offset, s.length});
  return out;
}

// A long-read copy of a stretch: many inserted symbols, fewer deletions
// and substitutions, on either strand.
Symbols long_read(std::mt19937_64 &rng, const std::vector<Reference> &refs, size_t length) {
  const Reference &r = refs[rng() % refs.size()];
  const size_t from = r.bases.size() > length ? rng() % (r.bases.size() - length) : 0;
  Symbols read;
  for (size_t k = from; k < r.bases.size() && read.size() < length; k++) {
    const unsigned roll = static_cast<unsigned>(rng() % 100);
    if (roll < 6) read.push_back(static_cast<unsigned char>(rng() % 4));  // inserted before the base
    if (roll >= 6 && roll < 8) continue;                                  // deleted
    read.push_back(roll >= 8 && roll < 10 ? static_cast<unsigned char>(rng() % 4) : r.bases[k]);
  }
  while (read.size() < length) read.push_back(static_cast<unsigned char>(rng() % 4));
  return rng() % 2 == 0 ? read : reverse_complement(read);
}

TEST(PacbioSeeder, SeedsFollowTheRegionRulesOnBothStrands) {
  std::mt19937_64 rng(17);
  std::vector<std::vector<Reference>> sets = {random_references(rng, 3, 300, 1200),
                                              random_references(rng, 2, 200, 600)};
  std::vector<MapperIndex> indexes;
  for (const auto &set : sets) indexes.push_back(build_index(set, 8));
  for (uint32_t mask : {3u, 1u, 2u}) {
    MapperParameters p;
    p.min_seed_length = mask == 3 ? 12 : 15;
    MapperPacbioSeeder seeder(&p);
    MapperSeeds seeds;
    size_t total = 0;
    for (int r = 0; r < 16; r++) {
      const Symbols read = long_read(rng, sets[r % 2], 40 + rng() % 300);
      OwnedRead t(read);
      seeds.seeds.emplace_back();  // run clears the list itself
      seeds.alt_hit_score = 5;
      seeder.run(&t.read, &seeds, mask, indexes);
      ASSERT_EQ(seeds_of(seeds), model_seeds(sets, read, mask, p)) << "mask " << mask << " read " << r;
      EXPECT_EQ(seeds.alt_hit_score, 0u);
      expect_sound_seeds(seeds.seeds, indexes, sets, read);
      for (const MapperSearch &s : seeds.seeds) EXPECT_TRUE(mask >> s.strand & 1);
      total += seeds.seeds.size();
    }
    EXPECT_GT(total, 16u) << "mask " << mask;
  }
}

// One inserted symbol inside a long exact match: the region's exact part
// stops there, its total goes on past it; its seed has the exact length.
TEST(PacbioSeeder, AnInsertionIsSteppedOver) {
  std::mt19937_64 rng(2);
  const Symbols ref = random_acgt(rng, 300);
  const std::vector<Reference> refs = references({ref});
  const MapperIndex index = build_index(refs, 10);
  // Read: ref[100, 140), an inserted symbol, ref[140, 200).
  Symbols inserted = {static_cast<unsigned char>((ref[140] + 1) % 4)};
  const Symbols read = concat({Symbols(ref.begin() + 100, ref.begin() + 140), inserted,
                               Symbols(ref.begin() + 140, ref.begin() + 200)});
  OwnedRead t(read);
  MapperParameters p;
  MapperPacbioSeeder seeder(&p);
  MapperSeeds seeds;
  seeder.run(&t.read, &seeds, 1, {});  // fixes the strand mask: read strand only
  MapperDoubleSearch region;
  seeder.start_region(&index, &region);
  EXPECT_EQ(region.reverse_count, 0);
  const int64_t n = seeder.extend_backward(&t.read, 9, &region);
  EXPECT_EQ(n, 10);
  region.start = 0;
  region.exact_length = region.total_length = n;
  seeder.extend_forward(&t.read, 10, 15, &region);
  EXPECT_EQ(region.exact_length, 40);
  // Up to 15 symbols before the read end: 101 - 15 = 86 symbols in all,
  // one of them skipped.
  EXPECT_EQ(region.total_length, 85);
  EXPECT_EQ(region.forward.count(), 1u);
  const BidirectionalSearch want = fresh_search(index, Symbols(read.begin(), read.begin() + 40));
  EXPECT_TRUE(region.forward.search.equal(&want));

  // Without a skip before the limit, the forward step leaves the region
  // as the backward step made it.
  seeder.start_region(&index, &region);
  EXPECT_EQ(seeder.extend_backward(&t.read, 9, &region), 10);
  region.exact_length = region.total_length = 10;
  const BidirectionalSearch backward_only = region.forward.search;
  seeder.extend_forward(&t.read, 10, 72, &region);  // stops at 29, before the insertion
  EXPECT_EQ(region.exact_length, 10);
  EXPECT_EQ(region.total_length, 10);
  EXPECT_TRUE(region.forward.search.equal(&backward_only));

  // The whole read in one region; read-strand seeds only.
  std::vector<MapperIndex> indexes;
  indexes.push_back(build_index(refs, 10));
  seeder.run(&t.read, &seeds, 1, indexes);
  ASSERT_FALSE(seeds.seeds.empty());
  for (const MapperSearch &s : seeds.seeds) {
    EXPECT_EQ(s.strand, 0u);
    EXPECT_TRUE(s.offset + s.length <= 40 || s.offset >= 41) << "seed across the insertion at " << s.offset;
  }
  EXPECT_EQ(seeds_of(seeds), model_seeds({refs}, read, 1, p));
}

// An N is never part of a seed: it ends the backward step and counts as a
// skipped symbol forward.
TEST(PacbioSeeder, NoSeedHoldsAnN) {
  std::mt19937_64 rng(9);
  const Symbols ref = random_acgt(rng, 400);
  const std::vector<Reference> refs = references({ref, concat({Symbols(30, 4), ref})});
  std::vector<MapperIndex> indexes;
  indexes.push_back(build_index(refs, 10));
  Symbols read(ref.begin() + 50, ref.begin() + 250);
  for (size_t k : {20u, 21u, 90u, 140u}) read[k] = 4;
  OwnedRead t(read);
  MapperParameters p;
  MapperPacbioSeeder seeder(&p);
  MapperSeeds seeds;
  seeder.run(&t.read, &seeds, 3, indexes);
  ASSERT_FALSE(seeds.seeds.empty());
  for (const MapperSearch &s : seeds.seeds)
    for (unsigned char c : seed_text(read, s)) EXPECT_LT(c, 4);
  EXPECT_EQ(seeds_of(seeds), model_seeds({refs}, read, 3, p));
  // Longer than the maximum read length: nothing.
  p.max_read_length = 199;
  seeder.run(&t.read, &seeds, 3, indexes);
  EXPECT_TRUE(seeds.seeds.empty());
}

}  // namespace
