// Pivot seeding against a brute-force enumeration of maximal exact
// matches, its length rules and containment, and the alternative-hit
// search of the mapping quality.
#include "fm/mapper/mapper_standard_seeder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "fm/mapper/mapper_parameters.h"
#include "seeding_fixture.h"

namespace {

using namespace seed_test;

struct Seed {
  uint32_t index_number, strand, offset, length;
  bool operator<(const Seed &o) const {
    return std::tie(index_number, strand, offset, length) < std::tie(o.index_number, o.strand, o.offset, o.length);
  }
  bool operator==(const Seed &o) const = default;
};

std::ostream &operator<<(std::ostream &os, const Seed &s) {
  return os << "{set " << s.index_number << " strand " << s.strand << " offset " << s.offset << " length "
            << s.length << "}";
}

std::vector<Seed> sorted(const std::vector<MapperSearch> &seeds) {
  std::vector<Seed> out;
  for (const MapperSearch &s : seeds) out.push_back({s.index_number, s.strand, s.offset, s.length});
  std::sort(out.begin(), out.end());
  return out;
}

// The seeds pivot seeding must find: with d(p) the longest match from
// read position p (on strand 1, of the reverse complement of read[p, ...)),
// every maximal exact match - p = 0 or d(p - 1) != d(p) + 1, so that it
// cannot be extended to the left - of at least the final required length
// c. The longest match b fixes c: b itself for long reads, reads matched
// whole and the longest-only option, else max(0.67 b, minimum); the
// minimum when nothing is longer than it. Strand-1 offsets are on the
// reverse complement.
std::vector<Seed> brute_force_seeds(const std::vector<std::vector<Reference>> &sets, const Symbols &read,
                                    const MapperParameters &p, uint32_t strand_mask) {
  const uint32_t L = static_cast<uint32_t>(read.size()), m = p.min_seed_length;
  if (L < m || L > p.max_read_length) return {};
  std::vector<std::vector<std::vector<uint32_t>>> d(sets.size(), std::vector<std::vector<uint32_t>>(2));
  uint32_t b = m;
  for (size_t i = 0; i < sets.size(); i++)
    for (int s = 0; s < 2; s++) {
      if ((strand_mask >> s & 1) == 0) continue;
      for (uint32_t q = 0; q < L; q++) d[i][s].push_back(longest_match(sets[i], read, q, s));
      b = std::max(b, *std::max_element(d[i][s].begin(), d[i][s].end()));
    }
  uint32_t c = m;
  if (b > m) {
    const bool whole = p.longest_only || b == L || L > std::max<uint32_t>(p.normal_type_limit, 2000);
    c = whole ? b : std::max(static_cast<uint32_t>(0.67 * b), m);
  }
  std::vector<Seed> out;
  for (uint32_t i = 0; i < sets.size(); i++)
    for (uint32_t s = 0; s < 2; s++)
      for (uint32_t q = 0; q < d[i][s].size(); q++) {
        const uint32_t len = d[i][s][q];
        if (len < c || (q > 0 && d[i][s][q - 1] == len + 1)) continue;
        out.push_back({i, s, s == 0 ? q : L - len - q, len});
      }
  std::sort(out.begin(), out.end());
  return out;
}

struct Config {
  const char *name;
  uint32_t min_seed_length;
  unsigned depth;
  bool longest_only;
  uint32_t strand_mask;
  size_t sets;
  size_t reads;
  size_t min_read, max_read;
  size_t reference_length;
};

void PrintTo(const Config &c, std::ostream *os) { *os << c.name; }

class StandardSeederBruteForce : public testing::TestWithParam<Config> {};

TEST_P(StandardSeederBruteForce, SeedsAreTheMaximalExactMatchesOfTheRequiredLength) {
  const Config cfg = GetParam();
  std::mt19937_64 rng(cfg.min_seed_length * 7919 + cfg.depth * 31 + cfg.strand_mask + cfg.sets);
  MapperParameters p;
  p.min_seed_length = cfg.min_seed_length;
  p.longest_only = cfg.longest_only;
  std::vector<std::vector<Reference>> sets;
  std::vector<MapperIndex> indexes;
  for (size_t i = 0; i < cfg.sets; i++) {
    sets.push_back(random_references(rng, 4, cfg.reference_length / 8, cfg.reference_length / 2));
    indexes.push_back(build_index(sets.back(), cfg.depth));
  }
  MapperStandardSeeder seeder(&p);
  MapperSeeds seeds;
  size_t found = 0, strand1 = 0;
  for (size_t r = 0; r < cfg.reads; r++) {
    // Reads from the first set; the other sets share pieces of them now
    // and then through copied references.
    const size_t length = cfg.min_read + rng() % (cfg.max_read - cfg.min_read + 1);
    const Symbols read = sample_read(rng, sets[rng() % sets.size()], length);
    OwnedRead t(read);
    seeds.clear();
    seeder.run(&t.read, &seeds, cfg.strand_mask, indexes);
    const std::vector<Seed> want = brute_force_seeds(sets, read, p, cfg.strand_mask);
    ASSERT_EQ(sorted(seeds.seeds), want) << cfg.name << " read " << r << " length " << length;
    expect_sound_seeds(seeds.seeds, indexes, sets, read);
    EXPECT_EQ(seeds.alt_hit_score, 0u);
    found += want.size();
    for (const Seed &s : want) strand1 += s.strand;
  }
  // The reads must exercise the seeder.
  EXPECT_GE(found, cfg.reads / 4);
  if (cfg.strand_mask == 3) {
    EXPECT_GT(strand1, 0u);
  }
}

// Two reads seeded side by side get, each, the seed list a run of its own
// gives: the same seeds in the same order with the same index ranges, and
// the same mapping-quality score. Pairs of random reads of every config,
// with mapping qualities on, a read without seeds now and then (too short,
// too long or absent) and the same seeder used for single runs in between.
TEST_P(StandardSeederBruteForce, TwoReadsSideBySideSeedAsEachAlone) {
  const Config cfg = GetParam();
  std::mt19937_64 rng(cfg.min_seed_length * 131 + cfg.depth + cfg.sets);
  MapperParameters p;
  p.min_seed_length = cfg.min_seed_length;
  p.longest_only = cfg.longest_only;
  p.mapping_quality = true;
  p.max_read_length = static_cast<uint32_t>(cfg.max_read);
  std::vector<std::vector<Reference>> sets;
  std::vector<MapperIndex> indexes;
  for (size_t i = 0; i < cfg.sets; i++) {
    sets.push_back(random_references(rng, 4, cfg.reference_length / 8, cfg.reference_length / 2));
    indexes.push_back(build_index(sets.back(), cfg.depth));
  }
  MapperStandardSeeder alone(&p), together(&p);
  auto same = [](const MapperSeeds &a, const MapperSeeds &b) {
    if (a.seeds.size() != b.seeds.size() || a.alt_hit_score != b.alt_hit_score) return false;
    for (size_t k = 0; k < a.seeds.size(); k++) {
      const MapperSearch &x = a.seeds[k], &y = b.seeds[k];
      if (x.index != y.index || x.strand != y.strand || x.index_number != y.index_number || x.offset != y.offset ||
          x.length != y.length || !x.search.equal(&y.search))
        return false;
    }
    return true;
  };
  size_t seeded = 0;
  for (size_t r = 0; r < cfg.reads; r++) {
    size_t lengths[2];
    for (size_t &length : lengths) {
      length = cfg.min_read + rng() % (cfg.max_read - cfg.min_read + 1);
      // Now and then a read the seeder refuses.
      if (rng() % 8 == 0) length = rng() % 2 == 0 ? cfg.min_seed_length - 1 : cfg.max_read + 1;
    }
    OwnedRead a(sample_read(rng, sets[rng() % sets.size()], lengths[0]));
    OwnedRead b(sample_read(rng, sets[rng() % sets.size()], lengths[1]));
    const bool first_absent = rng() % 10 == 0;
    MapperSeeds want[2], got[2];
    if (!first_absent) alone.run(&a.read, &want[0], cfg.strand_mask, indexes);
    alone.run(&b.read, &want[1], cfg.strand_mask, indexes);
    together.run_two(first_absent ? nullptr : &a.read, &got[0], &b.read, &got[1], cfg.strand_mask, indexes);
    EXPECT_TRUE(same(got[0], want[0])) << cfg.name << " pair " << r << " first read";
    EXPECT_TRUE(same(got[1], want[1])) << cfg.name << " pair " << r << " second read";
    seeded += want[0].seeds.size() + want[1].seeds.size();
    // A single run on the same seeder between pairs.
    if (r % 3 == 2) {
      MapperSeeds single, again;
      alone.run(&b.read, &single, cfg.strand_mask, indexes);
      together.run(&b.read, &again, cfg.strand_mask, indexes);
      EXPECT_TRUE(same(again, single)) << cfg.name << " pair " << r << " single";
    }
  }
  EXPECT_GE(seeded, cfg.reads / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Configs, StandardSeederBruteForce,
    testing::Values(Config{"defaults", 15, 10, false, 3, 1, 60, 10, 250, 3000},
                    Config{"short seeds, small table, two sets", 10, 4, false, 3, 2, 50, 8, 200, 2000},
                    Config{"long seeds, no table, read strand only", 20, 0, false, 1, 1, 40, 18, 300, 3000},
                    Config{"longest only, reverse strand only", 15, 6, true, 2, 2, 40, 10, 250, 2400},
                    Config{"long reads: only the longest seeds", 15, 10, false, 3, 1, 3, 2001, 2300, 6000}),
    [](const testing::TestParamInfo<Config> &info) { return std::to_string(info.index); });

// Hand-made cases of the edges: lengths, containment and the index set.
TEST(StandardSeeder, ReadLengthLimits) {
  std::mt19937_64 rng(3);
  const Symbols ref = random_acgt(rng, 200);
  const std::vector<Reference> refs = references({ref});
  std::vector<MapperIndex> indexes;
  indexes.push_back(build_index(refs, 10));
  MapperParameters p;
  p.max_read_length = 100;
  MapperStandardSeeder seeder(&p);

  // Exactly the minimum length, occurring once: one seed, the whole read.
  {
    OwnedRead t(Symbols(ref.begin() + 40, ref.begin() + 55));
    MapperSeeds seeds;
    seeder.run(&t.read, &seeds, 3, indexes);
    ASSERT_EQ(seeds.seeds.size(), 1u);
    EXPECT_EQ(sorted(seeds.seeds)[0], (Seed{0, 0, 0, 15}));
  }
  // Shorter than the minimum, or longer than the maximum: the list stays
  // as it was.
  for (size_t length : {14u, 101u}) {
    const Symbols read(ref.begin(), ref.begin() + static_cast<long>(length));
    OwnedRead t(read);
    MapperSeeds seeds;
    seeds.seeds.emplace_back();
    seeds.seeds.back().offset = 77;
    seeder.run(&t.read, &seeds, 3, indexes);
    ASSERT_EQ(seeds.seeds.size(), 1u) << length;
    EXPECT_EQ(seeds.seeds[0].offset, 77u);
  }
  // No reference set: nothing, and the read's own alternative score is 0.
  {
    p.mapping_quality = true;
    OwnedRead t(Symbols(ref.begin(), ref.begin() + 60));
    MapperSeeds seeds;
    seeds.alt_hit_score = 9;
    const std::vector<MapperIndex> none;
    seeder.run(&t.read, &seeds, 3, none);
    EXPECT_TRUE(seeds.seeds.empty());
    EXPECT_EQ(seeds.alt_hit_score, 0u);
  }
}

// A read whose first 40 symbols occur on the reverse strand and whose last
// 40 occur forward, overlapping by 10: one seed per strand, with the
// strand-1 offset on the reverse complement.
TEST(StandardSeeder, StrandsAndOffsets) {
  std::mt19937_64 rng(8);
  const Symbols x = random_acgt(rng, 70);
  const Symbols left(x.begin(), x.begin() + 40), right(x.begin() + 30, x.end());
  std::vector<MapperIndex> indexes;
  indexes.push_back(build_index(references({concat({random_acgt(rng, 20), reverse_complement(left)}), right}), 10));
  MapperParameters p;
  MapperStandardSeeder seeder(&p);
  OwnedRead t(x);
  MapperSeeds seeds;
  seeder.run(&t.read, &seeds, 3, indexes);
  // Strand 1: matched from read position 0 with 40 symbols, offset
  // 70 - 40 - 0 = 30 on the reverse complement.
  EXPECT_EQ(sorted(seeds.seeds), (std::vector<Seed>{{0, 0, 30, 40}, {0, 1, 30, 40}}));
  seeds.clear();
  seeder.run(&t.read, &seeds, 2, indexes);
  EXPECT_EQ(sorted(seeds.seeds), (std::vector<Seed>{{0, 1, 30, 40}}));
}

TEST(StandardSeeder, ContainedSeedsAreNotKept) {
  std::vector<MapperIndex> none;
  MapperSeeds seeds;
  auto seed = [](uint32_t strand, uint32_t set, uint32_t offset, uint32_t length) {
    MapperSearch s;
    s.strand = strand;
    s.index_number = set;
    s.offset = offset;
    s.length = length;
    return s;
  };
  seeds.seeds = {seed(0, 0, 10, 20), seed(1, 0, 40, 20)};
  EXPECT_TRUE(MapperStandardSeeder::is_seed_contained(&seeds, seed(0, 0, 10, 20)));
  EXPECT_TRUE(MapperStandardSeeder::is_seed_contained(&seeds, seed(0, 0, 12, 18)));
  EXPECT_FALSE(MapperStandardSeeder::is_seed_contained(&seeds, seed(0, 0, 12, 19)));
  EXPECT_FALSE(MapperStandardSeeder::is_seed_contained(&seeds, seed(0, 0, 9, 5)));
  EXPECT_FALSE(MapperStandardSeeder::is_seed_contained(&seeds, seed(1, 0, 12, 5)));
  EXPECT_FALSE(MapperStandardSeeder::is_seed_contained(&seeds, seed(0, 1, 12, 5)));
  EXPECT_TRUE(MapperStandardSeeder::is_seed_contained(&seeds, seed(1, 0, 45, 15)));

  // Compaction keeps order, drops the short and the dropped, converts
  // strand-1 offsets when asked.
  seeds.seeds = {seed(0, 0, 5, 30), seed(1, 0, 5, 30), seed(0, 0, 50, 0), seed(1, 1, 60, 19), seed(0, 1, 2, 20)};
  MapperStandardSeeder::remove_short_seeds(&seeds, 100, 20, true);
  ASSERT_EQ(seeds.seeds.size(), 3u);
  EXPECT_EQ(seeds.seeds[0].offset, 5u);
  EXPECT_EQ(seeds.seeds[1].offset, 100u - 30 - 5);
  EXPECT_EQ(seeds.seeds[2].offset, 2u);
  MapperStandardSeeder::remove_short_seeds(&seeds, 100, 25, false);
  ASSERT_EQ(seeds.seeds.size(), 2u);
  EXPECT_EQ(seeds.seeds[1].offset, 65u);
}

TEST(StandardSeeder, PivotIsTheBeginAtZeroElseTheMidpoint) {
  const struct {
    int32_t begin, end, pivot;
  } cases[] = {{0, 86, 0}, {-4, 3, -4}, {1, 86, 43}, {10, 11, 10}, {10, 13, 11}};
  for (const auto &c : cases) {
    SubsetInterval i{nullptr, c.begin, c.end};
    EXPECT_EQ(MapperStandardSeeder::find_pivot(&i), c.pivot) << c.begin << ".." << c.end;
  }
}

// The alternative-hit score of a 60-symbol read A B C (thirds of 20) that
// occurs whole: counts of its thirds elsewhere. Both seeders that compute
// it (the standard one here, the sensitive one for whole reads) share the
// search; see also the sensitive seeder's test.
struct AltCase {
  const char *name;
  std::vector<std::vector<int>> sets;  // per set: pieces, 0 = the read, 1 A, 2 B, 3 C
  uint32_t want;
};

void check_alt_hits(MapperSeeder &seeder, const MapperParameters &p, const AltCase &c, bool reset_list) {
  std::mt19937_64 rng(21);
  const Symbols A = random_acgt(rng, 20), B = random_acgt(rng, 20), C = random_acgt(rng, 20);
  const Symbols read = concat({A, B, C});
  const Symbols pieces[] = {read, A, B, C};
  std::vector<std::vector<Reference>> sets;
  std::vector<MapperIndex> indexes;
  for (const std::vector<int> &set : c.sets) {
    std::vector<Symbols> bases;
    for (int piece : set) bases.push_back(concat({random_acgt(rng, 7), pieces[piece], random_acgt(rng, 7)}));
    sets.push_back(references(bases));
    indexes.push_back(build_index(sets.back(), 10));
  }
  OwnedRead t(read);
  MapperSeeds seeds;
  if (reset_list) seeds.alt_hit_score = 12345;
  seeder.run(&t.read, &seeds, 3, indexes);
  ASSERT_FALSE(seeds.seeds.empty());
  EXPECT_EQ(seeds.alt_hit_score, p.mapping_quality ? c.want : 12345u * reset_list) << c.name;
}

const AltCase kAltCases[] = {
    // Probe B: 3 - 1 = 2 occurrences elsewhere, weighted by 20: 40. A: 20,
    // B again: 40; 60 >= 2 x 20, so C is not asked.
    {"one set", {{0, 2, 2, 1}}, 60},
    // Probe B: set 0 gives 2 - 1 (x 20), set 1 adds its plain count 2: 22.
    // A: 0 (once, in the read's set). 22 < 40, so C: 3 - 1 = 2 (x 20).
    {"two sets", {{0, 2, 3, 3}, {2, 2}}, 62},
    // Probe B occurs only in the read: 0 at once, whatever A and C do.
    {"unique middle", {{0, 1, 1, 3}}, 0},
};

TEST(StandardSeeder, AlternativeHitScore) {
  for (bool quality : {true, false}) {
    MapperParameters p;
    p.mapping_quality = quality;
    MapperStandardSeeder seeder(&p);
    for (const AltCase &c : kAltCases) check_alt_hits(seeder, p, c, false);
  }
}

// The score is 0 unless the longest seed leaves fewer than 10 read symbols
// uncovered: a read of 60 whose first 60 - f symbols occur twice and whose
// last f are foreign. With f = 9 the seed of 51 gives thirds of t = 17:
// [17, 34) and [0, 17) each occur once elsewhere (17 each), 34 >= 2t.
// With f = 10 the same counts would give a score, but the seed of 50
// leaves too much of the read.
TEST(StandardSeeder, AlternativeHitScoreNeedsANearlyWholeSeed) {
  std::mt19937_64 rng(4);
  MapperParameters p;
  p.mapping_quality = true;
  MapperStandardSeeder seeder(&p);
  const Symbols read = random_acgt(rng, 60);
  for (uint32_t foreign : {10u, 9u}) {
    const Symbols known(read.begin(), read.end() - foreign);
    // A tail that differs from the read's from its first symbol on.
    Symbols tail(read.end() - foreign, read.end());
    for (unsigned char &x : tail) x = static_cast<unsigned char>((x + 1) % 4);
    std::vector<MapperIndex> indexes;
    indexes.push_back(build_index(references({concat({known, tail}), known}), 10));
    OwnedRead t(read);
    MapperSeeds seeds;
    seeder.run(&t.read, &seeds, 1, indexes);
    ASSERT_EQ(seeds.seeds.size(), 1u);
    EXPECT_EQ(seeds.seeds[0].length, 60 - foreign);
    EXPECT_EQ(seeds.alt_hit_score, foreign == 10 ? 0u : 34u);
  }
}

}  // namespace
