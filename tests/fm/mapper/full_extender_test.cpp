// The full extender on small references built with the real index
// builder, with seeds made by hand so that each case shows one rule.
#include <gtest/gtest.h>

#include "alignment_fixture.h"
#include "fm/mapper/mapper_full_extender.h"
#include "fm/mapper/mapper_standard_seeder.h"
#include "mapping_fixture.h"

namespace {

using namespace map_test;

// Linear sequences, indexed.
struct Reference {
  explicit Reference(std::vector<Symbols> sequences) {
    genome.sequences = std::move(sequences);
    genome.circular.assign(genome.sequences.size(), false);
    index = std::make_unique<MapperIndex>(index_genome(genome));
  }
  Genome genome;
  std::unique_ptr<MapperIndex> index;
};

// Where alignment a starts in the reference: its text's only occurrence
// plus its offset in the text.
_sequence_position start_of(const MapperAlignment &a) {
  EXPECT_EQ(a.hit_count, 1u);
  _sequence_position p{0, 0};
  a.search.search.get_match_positions(0, 1, &p);
  p.offset += a.reference_offset;
  return p;
}

Symbols with_substitutions(Symbols x, std::initializer_list<uint32_t> at) {
  for (uint32_t i : at) x[i] = static_cast<unsigned char>((x[i] + 1) % 4);
  return x;
}

TEST(FullExtender, ExactReadIsOneAlignmentStandingForEveryOccurrence) {
  std::mt19937_64 rng(1);
  const Symbols text = random_bases(rng, 80);
  Symbols a = random_bases(rng, 3000), b = random_bases(rng, 2000);
  std::copy(text.begin(), text.end(), a.begin() + 500);
  std::copy(text.begin(), text.end(), a.begin() + 2100);
  std::copy(text.begin(), text.end(), b.begin() + 900);
  Reference ref({a, b});
  MapperParameters p;
  OwnedRead read(text);
  MapperStandardSeeder seeder(&p);
  MapperSeeds seeds;
  std::vector<MapperIndex> set;
  set.push_back(std::move(*ref.index));
  seeder.run(&read.read, &seeds, 3, set);
  ASSERT_EQ(seeds.seeds.size(), 1u);

  MapperFullExtender extender(&p);
  MapperResult result;
  extender.run(&read.read, &seeds, &result);
  ASSERT_EQ(result.strand[0].alignments.size(), 1u);
  EXPECT_TRUE(result.strand[1].alignments.empty());
  const MapperAlignment &al = result.strand[0].alignments[0];
  EXPECT_EQ(al.hit_count, 3u);
  EXPECT_EQ(result.strand[0].hit_total, 3u);
  EXPECT_EQ(al.alignment.code, align_test::code_of("M80").code);
  EXPECT_EQ(al.reference_offset, 0u);
  EXPECT_EQ(result.best_score, 80);
  EXPECT_EQ(seeds.seeds[0].score, 80);
}

class FullExtenderOnOneSequence : public ::testing::Test {
 protected:
  FullExtenderOnOneSequence() : rng_(7), bases_(random_bases(rng_, 6000)), ref_({bases_}) {}
  Symbols slice(uint32_t from, uint32_t n) const { return Symbols(bases_.begin() + from, bases_.begin() + from + n); }

  std::mt19937_64 rng_;
  Symbols bases_;
  Reference ref_;
  MapperParameters p_;
  MapperResult result_;
};

TEST_F(FullExtenderOnOneSequence, SeedAtTheReadStartWalksOnlyTheRightSide) {
  OwnedRead read(with_substitutions(slice(1000, 100), {80}));
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*ref_.index, read.read, 0, 0, 80));
  MapperFullExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
  const MapperAlignment &a = result_.strand[0].alignments[0];
  EXPECT_EQ(a.alignment.code, align_test::code_of("M100").code);
  EXPECT_EQ(start_of(a).offset, 1000u);
  EXPECT_EQ(result_.best_score, 97);  // 99 matches, one mismatch
  EXPECT_EQ(seeds.seeds[0].score, 97);
}

TEST_F(FullExtenderOnOneSequence, SeedAtTheReadEndWalksTheLeftSide) {
  // On the reverse complement, with the seed ending the read.
  const Symbols source = with_substitutions(slice(3000, 120), {15});
  OwnedRead read(reverse_complement(source));
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*ref_.index, read.read, 1, 16, 104));
  MapperFullExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  ASSERT_EQ(result_.strand[1].alignments.size(), 1u);
  const MapperAlignment &a = result_.strand[1].alignments[0];
  EXPECT_EQ(a.alignment.code, align_test::code_of("M120").code);
  EXPECT_EQ(start_of(a).offset, 3000u);
  EXPECT_EQ(result_.best_score, 117);
}

TEST_F(FullExtenderOnOneSequence, TwoSeedsOfOneAlignmentFileItOnce) {
  OwnedRead read(with_substitutions(slice(2000, 100), {50}));
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*ref_.index, read.read, 0, 0, 50));
  seeds.seeds.push_back(seed_of(*ref_.index, read.read, 0, 51, 49));
  MapperFullExtender extender(&p_);
  extender.run(&read.read, &seeds, &result_);
  ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
  EXPECT_EQ(result_.strand[0].hit_total, 1u);
  EXPECT_EQ(start_of(result_.strand[0].alignments[0]).offset, 2000u);
  EXPECT_EQ(seeds.seeds[0].score, 97);
  EXPECT_EQ(seeds.seeds[1].score, 97);
}

TEST_F(FullExtenderOnOneSequence, LocalEndsClipWhatGlobalEndsAlign) {
  // The last 12 read symbols are Ts against a run of As, so that no gap
  // can win a match back.
  Symbols bases = bases_;
  std::fill(bases.begin() + 4088, bases.begin() + 4120, 0);
  Reference ref({bases});
  Symbols source(bases.begin() + 4000, bases.begin() + 4100);
  std::fill(source.begin() + 88, source.end(), 3);
  OwnedRead read(source);
  for (uint32_t mode : {kAlignLocal, kAlignGlobal}) {
    SCOPED_TRACE(mode);
    p_.align_mode = mode;
    MapperSeeds seeds;
    seeds.seeds.push_back(seed_of(*ref.index, read.read, 0, 10, 60));
    MapperFullExtender extender(&p_);
    result_.clear();
    extender.run(&read.read, &seeds, &result_);
    ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
    const MapperAlignment &a = result_.strand[0].alignments[0];
    EXPECT_EQ(start_of(a).offset, 4000u);
    if (mode == kAlignLocal) {
      EXPECT_EQ(a.alignment.code, align_test::code_of("M88 I12").code);
      EXPECT_EQ(result_.best_score, 88);
    } else {
      EXPECT_EQ(a.alignment.code, align_test::code_of("M100").code);
      EXPECT_EQ(result_.best_score, 88 - 24);
    }
  }
}

TEST_F(FullExtenderOnOneSequence, BetterAlignmentDropsThoseFiledBefore) {
  // Copy A of the read's text carries four substitutions, copy B one; each
  // seed occurs in one copy only.
  const Symbols text = random_bases(rng_, 100);
  Symbols bases = bases_;
  const Symbols a = with_substitutions(text, {10, 30, 75, 90}), b = with_substitutions(text, {50});
  std::copy(a.begin(), a.end(), bases.begin() + 1500);
  std::copy(b.begin(), b.end(), bases.begin() + 4500);
  Reference ref({bases});
  OwnedRead read(text);
  const MapperSearch in_a = seed_of(*ref.index, read.read, 0, 31, 40);  // [31, 71): A only (B differs at 50)
  const MapperSearch in_b = seed_of(*ref.index, read.read, 0, 51, 49);  // [51, 100): B only (A differs at 75, 90)
  ASSERT_EQ(in_a.count(), 1u);
  ASSERT_EQ(in_b.count(), 1u);
  for (bool b_first : {false, true}) {
    SCOPED_TRACE(b_first);
    MapperSeeds seeds;
    seeds.seeds = b_first ? std::vector<MapperSearch>{in_b, in_a} : std::vector<MapperSearch>{in_a, in_b};
    MapperFullExtender extender(&p_);
    result_.clear();
    extender.run(&read.read, &seeds, &result_);
    ASSERT_EQ(result_.strand[0].alignments.size(), 1u);
    EXPECT_EQ(start_of(result_.strand[0].alignments[0]).offset, 4500u);
    EXPECT_EQ(result_.best_score, 97);
    // Filed first, A's alignment was reached in full.
    if (!b_first) {
      EXPECT_EQ(seeds.seeds[0].score, 88);
    }
    EXPECT_EQ(seeds.seeds[b_first ? 0 : 1].score, 97);
  }
}

TEST(FullExtender, TouchingInsertionAndDeletionBecomeMatches) {
  // With mismatches dear and gaps cheap the band prefers two insertions and
  // three deletions over two mismatches and a deletion; the traced code is
  // rewritten to one deletion and two match columns.
  std::mt19937_64 rng(9);
  Symbols left = random_bases(rng, 40), right = random_bases(rng, 40);
  for (unsigned char &c : left) c = c == 3 ? 2 : c;  // no T: the read's pair is "TT"
  for (unsigned char &c : right) c = c == 3 ? 2 : c;
  const Symbols read_text = [&] {
    Symbols x = left;
    x.insert(x.end(), {3, 3});
    x.insert(x.end(), right.begin(), right.end());
    return x;
  }();
  Symbols reference = random_bases(rng, 1000);
  Symbols planted = left;
  planted.insert(planted.end(), {1, 1, 1});  // "CCC" in place of "TT"
  planted.insert(planted.end(), right.begin(), right.end());
  std::copy(planted.begin(), planted.end(), reference.begin() + 300);
  Reference ref({reference});
  MapperParameters p;
  p.mismatch_cost = 10;
  p.gap_cost = 1;
  p.deletion_cost = 1;
  OwnedRead read(read_text);
  MapperSeeds seeds;
  seeds.seeds.push_back(seed_of(*ref.index, read.read, 0, 0, 40));
  MapperFullExtender extender(&p);
  MapperResult result;
  extender.run(&read.read, &seeds, &result);
  ASSERT_EQ(result.strand[0].alignments.size(), 1u);
  const MapperAlignment &a = result.strand[0].alignments[0];
  EXPECT_EQ(start_of(a).offset, 300u);
  EXPECT_EQ(result.best_score, 80 - 5);
  // The two read symbols now stand against two of the three reference
  // symbols: one deletion remains and no insertion.
  uint32_t insertions = 0, deletions = 0, matches = 0;
  for (uint8_t byte : a.alignment.code) {
    const uint8_t kind = alignment_kind(byte);
    (kind == kInsertionBase ? insertions : kind == kDeletionBase ? deletions : matches) += alignment_run(byte);
  }
  EXPECT_EQ(insertions, 0u);
  EXPECT_EQ(deletions, 1u);
  EXPECT_EQ(matches, 82u);
}

// Everything a run leaves behind: the best score, the alignments of both
// strands in filing order and each seed's score.
void expect_same_run(const MapperResult &a, const MapperSeeds &seeds_a, const MapperResult &b,
                     const MapperSeeds &seeds_b) {
  ASSERT_EQ(a.best_score, b.best_score);
  for (int s = 0; s < 2; s++) {
    ASSERT_EQ(a.strand[s].alignments.size(), b.strand[s].alignments.size()) << "strand " << s;
    for (size_t i = 0; i < a.strand[s].alignments.size(); i++) {
      const MapperAlignment &x = a.strand[s].alignments[i], &y = b.strand[s].alignments[i];
      EXPECT_EQ(x.alignment.code, y.alignment.code);
      EXPECT_EQ(x.reference_offset, y.reference_offset);
      EXPECT_EQ(x.hit_count, y.hit_count);
      EXPECT_TRUE(x.search.search.equal(&y.search.search));
      EXPECT_EQ(x.search.offset, y.search.offset);
      EXPECT_EQ(x.search.length, y.search.length);
    }
  }
  ASSERT_EQ(seeds_a.seeds.size(), seeds_b.seeds.size());
  for (size_t i = 0; i < seeds_a.seeds.size(); i++) EXPECT_EQ(seeds_a.seeds[i].score, seeds_b.seeds[i].score) << i;
}

// Walks that stop below hopeless one-occurrence nodes find what full walks
// find: reads with substitutions and indels from a genome with repeats, of
// two lengths, with the default, affine and other costs, local and global.
TEST(FullExtender, StoppingHopelessChainsChangesNoResult) {
  const Genome genome = random_genome(11, 40000, 24, 250);
  std::vector<MapperIndex> set;
  set.push_back(index_genome(genome));
  struct Costs {
    uint32_t match, mismatch, gap_open, gap, deletion_open, deletion, mode;
  };
  const Costs costs[] = {
      {1, 2, 0, 3, 0, 3, kAlignLocal},
      {1, 4, 6, 1, 6, 1, kAlignLocal},
      {2, 3, 0, 2, 0, 4, kAlignLocal},
      {1, 2, 0, 3, 0, 3, kAlignGlobal},
  };
  std::mt19937_64 rng(5);
  for (const Costs &k : costs) {
    MapperParameters p;
    p.match_score = k.match;
    p.mismatch_cost = k.mismatch;
    p.gap_open = k.gap_open;
    p.gap_cost = k.gap;
    p.deletion_open = k.deletion_open;
    p.deletion_cost = k.deletion;
    p.align_mode = k.mode;
    MapperStandardSeeder seeder(&p);
    MapperFullExtender stopping(&p), full(&p);
    full.stop_hopeless_chains(false);
    for (int i = 0; i < 120; i++) {
      const uint32_t length = i % 2 == 0 ? 100 : 250;
      const SimulatedRead sim = simulate_read(rng, genome, length, {0.02, 0.004, 0.004}, false);
      OwnedRead read(sim.codes);
      MapperSeeds seeds;
      seeder.run(&read.read, &seeds, 3, set);
      MapperSeeds seeds_full = seeds;
      MapperResult with_stops, without;
      stopping.run(&read.read, &seeds, &with_stops);
      full.run(&read.read, &seeds_full, &without);
      SCOPED_TRACE(testing::Message() << "costs " << &k - costs << ", read " << i);
      expect_same_run(with_stops, seeds, without, seeds_full);
    }
  }
}

}  // namespace
