// The pair matcher on alignments placed by hand on a small reference, so
// that every distance is exact; the pair sample; and the index arithmetic
// of copying and combining paired results.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fm/mapper/mapper_pairer.h"
#include "fm/mapper/mapper_paired_result.h"
#include "mapping_fixture.h"

namespace {

using namespace map_test;

constexpr uint32_t kMate = 100;  // reference symbols a placed mate covers

// Sequence 0: 6000 random bases, linear. Sequence 1: 5000 random bases,
// circular in one index and linear in the other.
class PairerOnAReference : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::mt19937_64 rng(12);
    Genome g;
    g.sequences = {random_bases(rng, 6000), random_bases(rng, 5000)};
    g.circular = {false, true};
    genome_ = new Genome(g);
    circular_ = new MapperIndex(index_genome(g));
    g.circular = {false, false};
    linear_ = new MapperIndex(index_genome(g));
  }
  static void TearDownTestSuite() {
    delete circular_;
    delete linear_;
    delete genome_;
  }

  // A mate covering reference [x, x + 100) of sequence on strand, as a
  // local alignment clipping lead read symbols at its reference start and
  // trail at its reference end: the aligned text is [x + lead, x + 100 -
  // trail). With reference_offset, the search covers that many symbols
  // more before the alignment start.
  static MapperAlignment placed(const MapperIndex *index, uint32_t sequence, uint32_t x, uint32_t strand,
                                uint32_t lead = 3, uint32_t trail = 4, uint32_t reference_offset = 0) {
    const Symbols &s = genome_->sequences[sequence];
    Symbols text;
    for (uint32_t i = x + lead - reference_offset; i < x + kMate - trail; i++) text.push_back(s[i % s.size()]);
    MapperAlignment a;
    a.search.index = index;
    index->matcher->init_search(&a.search.search, text.data(), static_cast<int>(text.size()));
    a.search.strand = strand;
    a.alignment.add_insertions(lead);
    a.alignment.add_matches(kMate - lead - trail);
    a.alignment.add_insertions(trail);
    a.hit_count = static_cast<uint32_t>(a.search.count());
    a.reference_offset = reference_offset;
    return a;
  }
  static void file(MapperResult *r, const MapperAlignment &a) {
    MapperResultStrand &s = r->strand[a.search.strand];
    s.alignments.push() = a;
    s.hit_total += a.hit_count;
  }

  // The pairs found between the mates, with setting mode and
  // distance_mode over [min, max].
  static MapperPairing pair(const MapperResult &mate1, const MapperResult &mate2, uint32_t mode,
                            uint32_t distance_mode, uint32_t min, uint32_t max, RandomState *random,
                            uint64_t capacity = 10) {
    MapperPairing pairing(random, capacity);
    MapperPairer pairer;
    pairer.setup(&pairing, {mode, distance_mode, min, max});
    pairer.compare_results(&mate1, &mate2);
    return pairing;
  }

  // The sample of one pair drawn from pairing p of mates m1 and m2 (whose
  // alignments move into the paired result).
  static MapperSample sample_pairs(MapperResult *m1, MapperResult *m2, const MapperPairing &p, RandomState *random) {
    MapperPairedResult result(random, 1);
    result.mate[0].combine(m1);
    result.mate[1].combine(m2);
    result.pairing = p;
    MapperSampler sampler(random, 1);
    MapperSample sample;
    sampler.paired_run(&result, &sample);
    return sample;
  }

  static Genome *genome_;
  static MapperIndex *circular_;
  static MapperIndex *linear_;
};

Genome *PairerOnAReference::genome_ = nullptr;
MapperIndex *PairerOnAReference::circular_ = nullptr;
MapperIndex *PairerOnAReference::linear_ = nullptr;

// The reference point a distance is measured from: a mate on strand 0
// reads left to right, so its start is its left end; on strand 1 its start
// is one past its right end. Its end is the other side.
uint32_t measure_point(uint32_t strand, bool from_end, uint32_t x) {
  const bool left = (strand == 0) != from_end;
  return left ? x : x + kMate;
}

TEST_F(PairerOnAReference, TheWorkedExampleAndItsOppositeStrand) {
  // fb ss 100 500: mate 1 forward from 1000, mate 2 reverse over 1300 to
  // 1399 (its read start is position 1400).
  RandomState random(1ULL);
  MapperResult m1, m2;
  file(&m1, placed(linear_, 0, 1000, 0, 0, 0));
  file(&m2, placed(linear_, 0, 1300, 1, 0, 0));
  MapperPairing p = pair(m1, m2, 1, 0, 100, 500, &random);
  ASSERT_EQ(p.pairs_found, 1u);
  EXPECT_EQ(p.entries[0], (MapperPairingEntry{0, 0, 0, 0, 0, 1, 0, 400, {0, 1000}, {0, 1300}}));

  // The same fragment read the other way: mate 2 forward at 1000, mate 1
  // reverse over 1300 to 1399; found by the second pass, mate 2's place
  // first.
  MapperResult r1, r2;
  file(&r2, placed(linear_, 0, 1000, 0, 0, 0));
  file(&r1, placed(linear_, 0, 1300, 1, 0, 0));
  p = pair(r1, r2, 1, 0, 100, 500, &random);
  ASSERT_EQ(p.pairs_found, 1u);
  EXPECT_EQ(p.entries[0], (MapperPairingEntry{0, 0, 0, 0, 0, 1, 1, 400, {0, 1000}, {0, 1300}}));
  // Sampled, each mate gets its own place back.
  const MapperSample sample = sample_pairs(&r1, &r2, p, &random);
  ASSERT_TRUE(sample.paired);
  EXPECT_EQ(sample.entries[0][0].position, 1300u);
  EXPECT_TRUE(sample.entries[0][0].reverse);
  EXPECT_EQ(sample.entries[1][0].position, 1000u);
  EXPECT_FALSE(sample.entries[1][0].reverse);
}

TEST_F(PairerOnAReference, EveryOrientationAndDistanceModeAtItsBounds) {
  const char *const modes[] = {"ff", "fb", "bf", "bb"};
  const char *const distance_modes[] = {"ss", "se", "es", "ee"};
  constexpr uint32_t kMin = 300, kMax = 500, kLeft = 1000;
  RandomState random(2ULL);
  int accepted = 0;
  for (uint32_t mode = 0; mode < 4; mode++) {
    for (uint32_t dmode = 0; dmode < 4; dmode++) {
      const uint32_t s1 = mode >> 1, s2 = mode & 1;
      const bool e1 = dmode >> 1, e2 = dmode & 1;
      for (uint32_t distance : {kMin - 1, kMin, kMax, kMax + 1}) {
        for (bool swapped : {false, true}) {
          SCOPED_TRACE(testing::Message() << modes[mode] << " " << distance_modes[dmode] << " distance " << distance
                                          << (swapped ? " swapped" : ""));
          // Mate 1 left on its strand, mate 2 right on its strand; or the
          // fragment from the other strand: mate 2 left and mate 1 right,
          // each on the opposite strand, so that each mate's start and end
          // trade sides.
          const uint32_t left_strand = swapped ? 1 - s2 : s1, right_strand = swapped ? 1 - s1 : s2;
          const bool left_end = swapped ? e2 : e1, right_end = swapped ? e1 : e2;
          const uint32_t from = measure_point(left_strand, left_end, kLeft);
          // The right mate's x such that its measure point is from + distance.
          const uint32_t right = from + distance - (measure_point(right_strand, right_end, 0));
          MapperResult m1, m2;
          const MapperAlignment left = placed(linear_, 0, kLeft, left_strand);
          const MapperAlignment rightmost = placed(linear_, 0, right, right_strand);
          ASSERT_EQ(left.hit_count, 1u);
          ASSERT_EQ(rightmost.hit_count, 1u);
          file(swapped ? &m2 : &m1, left);
          file(swapped ? &m1 : &m2, rightmost);
          const MapperPairing p = pair(m1, m2, mode, dmode, kMin, kMax, &random);
          const bool inside = distance >= kMin && distance <= kMax;
          ASSERT_EQ(p.pairs_found, inside ? 1u : 0u);
          ASSERT_EQ(p.pairs_seen, p.pairs_found);
          if (!inside) continue;
          accepted++;
          EXPECT_EQ(p.entries[0], (MapperPairingEntry{0, 0, static_cast<uint8_t>(left_strand), 0, 0,
                                                      static_cast<uint8_t>(right_strand), swapped, distance,
                                                      {0, kLeft + 3}, {0, right + 3}}));
        }
      }
    }
  }
  EXPECT_EQ(accepted, 4 * 4 * 2 * 2);
}

TEST_F(PairerOnAReference, EveryAlignmentOfOneMateMeetsEveryAlignmentOfTheOther) {
  // Mate 1 at 1000 and 3000, mate 2 at 1300, 1400 and 3300 (fb ss 100
  // 500): the pairs are (1000, 1300), (1000, 1400) and (3000, 3300).
  RandomState random(7ULL);
  MapperResult m1, m2;
  for (uint32_t x : {1000u, 3000u}) file(&m1, placed(linear_, 0, x, 0, 0, 0));
  for (uint32_t x : {1300u, 1400u, 3300u}) file(&m2, placed(linear_, 0, x, 1, 0, 0));
  const MapperPairing p = pair(m1, m2, 1, 0, 100, 500, &random);
  ASSERT_EQ(p.pairs_found, 3u);
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> found;
  for (uint32_t i = 0; i < p.valid_count(); i++)
    found.insert({p.entries[i].first_index, p.entries[i].second_index, p.entries[i].distance});
  EXPECT_EQ(found, (std::set<std::tuple<uint32_t, uint32_t, uint32_t>>{{0, 0, 400}, {0, 1, 500}, {1, 2, 400}}));
}

TEST_F(PairerOnAReference, MatesOnTheWrongStrandsOrSequencesDoNotPair) {
  RandomState random(3ULL);
  // fb expects mate 1 forward and mate 2 reverse: both forward is no pair.
  MapperResult m1, m2;
  file(&m1, placed(linear_, 0, 1000, 0));
  file(&m2, placed(linear_, 0, 1300, 0));
  EXPECT_EQ(pair(m1, m2, 1, 0, 0, 1000, &random).pairs_found, 0u);
  // Mate 2 left of mate 1 on the expected strands: not within a window
  // that starts at mate 1.
  MapperResult l1, l2;
  file(&l1, placed(linear_, 0, 1300, 0));
  file(&l2, placed(linear_, 0, 1000, 1));
  EXPECT_EQ(pair(l1, l2, 1, 0, 0, 1000, &random).pairs_found, 0u);
  // Positions count within their own sequence: mates at 100 of sequence
  // 0 and 300 of sequence 1 look 300 apart but are not on one sequence.
  MapperResult b1, b2;
  file(&b1, placed(linear_, 0, 100, 0));
  file(&b2, placed(linear_, 1, 300, 1));
  EXPECT_EQ(pair(b1, b2, 1, 0, 0, 1000, &random).pairs_found, 0u);
  // Alignments in different reference sets are never compared.
  MapperResult d1, d2;
  file(&d1, placed(linear_, 0, 1000, 0));
  file(&d2, placed(circular_, 0, 1300, 1));
  EXPECT_EQ(pair(d1, d2, 1, 0, 0, 1000, &random).pairs_found, 0u);
}

TEST_F(PairerOnAReference, ACircularSequencePairsAcrossItsOrigin) {
  // ff ss 0 1000 on a sequence of 5000: mate 1 from 4900, mate 2 from 150
  // pair through mate 2's copy shifted to 5150.
  RandomState random(4ULL);
  MapperResult m1, m2;
  file(&m1, placed(circular_, 1, 4900, 0, 0, 0));
  file(&m2, placed(circular_, 1, 150, 0, 0, 0));
  const MapperPairing p = pair(m1, m2, 0, 0, 0, 1000, &random);
  ASSERT_EQ(p.pairs_found, 1u);
  EXPECT_EQ(p.entries[0], (MapperPairingEntry{0, 0, 0, 0, kPairShiftedOccurrence, 0, 0, 250, {1, 4900}, {1, 150}}));

  // Sampled, mate 2 keeps a position on the sequence and the shifted flag.
  const MapperSample sample = sample_pairs(&m1, &m2, p, &random);
  ASSERT_TRUE(sample.paired);
  ASSERT_EQ(sample.entries[0].size(), 1u);
  EXPECT_EQ(sample.entries[0][0].position, 4900u);
  EXPECT_FALSE(sample.entries[0][0].shifted);
  EXPECT_EQ(sample.entries[1][0].position, 150u);
  EXPECT_TRUE(sample.entries[1][0].shifted);
  EXPECT_EQ(sample.entries[1][0].reference_sequence, 1u);

  // The same places on the sequence taken as linear do not pair.
  MapperResult l1, l2;
  file(&l1, placed(linear_, 1, 4900, 0, 0, 0));
  file(&l2, placed(linear_, 1, 150, 0, 0, 0));
  EXPECT_EQ(pair(l1, l2, 0, 0, 0, 1000, &random).pairs_found, 0u);
}

TEST_F(PairerOnAReference, APairMaySpanNoMoreThanItsCircularSequence) {
  // Mates at 100 and 150 pair directly (distance 50); the shifted copy of
  // mate 2 at 5150 is within the window too, but that pair would span
  // 5150 symbols of a 5000-symbol sequence.
  RandomState random(5ULL);
  MapperResult m1, m2;
  file(&m1, placed(circular_, 1, 100, 0, 0, 0));
  file(&m2, placed(circular_, 1, 150, 0, 0, 0));
  const MapperPairing p = pair(m1, m2, 0, 0, 0, 100000, &random);
  ASSERT_EQ(p.pairs_found, 1u);
  EXPECT_EQ(p.entries[0].distance, 50u);
  EXPECT_EQ(p.entries[0].second_occurrence, 0u);
}

TEST_F(PairerOnAReference, APairWhoseLeftMateStartsPastTheOriginIsReportedOnTheFirstLap) {
  // Mate 1's aligned text runs over the origin (4980 to 109) and its
  // alignment starts 30 symbols into it, at 10 on the sequence; mate 2
  // starts at 150. The pairer sees mate 1 at 5010 and mate 2's shifted
  // copy at 5150.
  RandomState random(6ULL);
  MapperResult m1, m2;
  file(&m1, placed(circular_, 1, 5010, 0, 0, 0, 30));
  file(&m2, placed(circular_, 1, 150, 0, 0, 0));
  ASSERT_EQ(m1.strand[0].alignments[0].hit_count, 1u);
  MapperPairing p = pair(m1, m2, 0, 0, 0, 1000, &random);
  ASSERT_EQ(p.pairs_found, 1u);
  EXPECT_EQ(p.entries[0].distance, 140u);
  EXPECT_EQ(p.entries[0].second_occurrence, kPairShiftedOccurrence);
  // Both are reported on the first lap, 140 apart, neither shifted.
  const MapperSample sample = sample_pairs(&m1, &m2, p, &random);
  EXPECT_EQ(sample.entries[0][0].position, 10u);
  EXPECT_FALSE(sample.entries[0][0].shifted);
  EXPECT_EQ(sample.entries[1][0].position, 150u);
  EXPECT_FALSE(sample.entries[1][0].shifted);
}

TEST_F(PairerOnAReference, KeysAreBiasedToTheMeasurePointAndSortedWithShiftedCopies) {
  MapperPairer pairer;
  // Lead 3 and trail 4 project back to the mate's full extent [1000,
  // 1100); one past the end is the end key.
  const MapperAlignment a = placed(circular_, 0, 1000, 0);
  ASSERT_EQ(pairer.prepare_indexed_positions(0, &a, false, true), 1u);
  EXPECT_EQ(pairer.track(0).keys[0].position(), kPairPositionBias + 1000);
  ASSERT_EQ(pairer.prepare_indexed_positions(0, &a, true, true), 1u);
  EXPECT_EQ(pairer.track(0).keys[0].position(), kPairPositionBias + 1100);
  // A mate hanging 3 symbols over a sequence start stays positive.
  const MapperAlignment start = placed(circular_, 0, 0, 0, 0, 0);
  MapperAlignment over = start;
  over.alignment.clear();
  over.alignment.add_insertions(3);
  over.alignment.add_matches(kMate);
  ASSERT_EQ(pairer.prepare_indexed_positions(0, &over, false, false), 1u);
  EXPECT_EQ(pairer.track(0).keys[0].position(), kPairPositionBias - 3);
  // On the circular sequence every occurrence gets its shifted copy, the
  // keys sorted by position.
  const MapperAlignment c = placed(circular_, 1, 4000, 0, 0, 0);
  ASSERT_EQ(pairer.prepare_indexed_positions(1, &c, false, true), 2u);
  EXPECT_EQ(pairer.track(1).keys[0].key, (static_cast<uint64_t>(kPairPositionBias + 4000) << 32));
  EXPECT_EQ(pairer.track(1).keys[1].key,
            (static_cast<uint64_t>(kPairPositionBias + 9000) << 32 | kPairShiftedOccurrence));
  ASSERT_EQ(pairer.prepare_indexed_positions(1, &c, false, false), 1u);
}

TEST(MapperPairing, TheSampleIsUniformAndHoldsAtMostTheCapacity) {
  RandomState random(1ULL);
  auto offer_ten = [](MapperPairing *p) {
    for (unsigned i = 0; i < 10; i++) p->add_pair(i, 0, false, 0, 0, true, false, 100 + i, {0, i}, {0, 0});
  };
  // Capacity 1: one of ten, each about as often.
  std::map<unsigned, int> chosen;
  for (int round = 0; round < 5000; round++) {
    random.reseed(static_cast<unsigned long long>(2 * round + 1));
    MapperPairing p(&random, 1);
    offer_ten(&p);
    ASSERT_EQ(p.pairs_found, 10u);
    ASSERT_EQ(p.valid_count(), 1u);
    ASSERT_EQ(p.entries[0].distance, 100 + p.entries[0].first_index);
    chosen[p.entries[0].first_index]++;
  }
  ASSERT_EQ(chosen.size(), 10u);
  for (const auto &[i, n] : chosen) {
    EXPECT_GT(n, 400) << i;
    EXPECT_LT(n, 600) << i;
  }
  // Capacity 10 (and more): all ten, in an order the draws alone decide.
  std::set<std::vector<unsigned>> orders;
  for (int round = 0; round < 20; round++) {
    std::vector<unsigned> order[2];
    for (int c = 0; c < 2; c++) {
      random.reseed(static_cast<unsigned long long>(round + 1));
      MapperPairing p(&random, c == 0 ? 10 : 25);
      offer_ten(&p);
      ASSERT_EQ(p.valid_count(), 10u);
      for (uint32_t i = 0; i < 10; i++) order[c].push_back(p.entries[i].first_index);
      EXPECT_EQ(std::set<unsigned>(order[c].begin(), order[c].end()).size(), 10u);
    }
    EXPECT_EQ(order[0], order[1]);
    orders.insert(order[0]);
  }
  EXPECT_GT(orders.size(), 15u);
  // Three of ten: each pair in about 3 of 10 samples.
  std::map<unsigned, int> kept;
  for (int round = 0; round < 5000; round++) {
    random.reseed(static_cast<unsigned long long>(2 * round + 1));
    MapperPairing p(&random, 3);
    offer_ten(&p);
    ASSERT_EQ(p.valid_count(), 3u);
    for (uint32_t i = 0; i < 3; i++) kept[p.entries[i].first_index]++;
  }
  for (const auto &[i, n] : kept) {
    EXPECT_GT(n, 1300) << i;
    EXPECT_LT(n, 1700) << i;
  }
  // Offering without finding: seen grows, found does not.
  MapperPairing p(&random, 2);
  p.offer({});
  EXPECT_EQ(p.pairs_found, 0u);
  EXPECT_EQ(p.pairs_seen, 1u);
}

// Paired results built by hand: alignments identified by their tags, pairs
// naming them by index.
class PairedResultArithmetic : public ::testing::Test {
 protected:
  static void add(MapperResult *r, uint32_t strand, uint64_t tag, uint32_t hits, int32_t best) {
    MapperAlignment &a = r->strand[strand].alignments.push();
    a = MapperAlignment{};
    a.search.strand = strand;
    a.alignment.tag = tag;
    a.hit_count = hits;
    r->strand[strand].hit_total += hits;
    r->best_score = std::max(r->best_score, best);
  }
  // The tags a pair names, mate 1's first.
  static std::pair<uint64_t, uint64_t> tags(const MapperPairedResult &r, const MapperPairingEntry &e) {
    const int first = e.swapped ? 1 : 0;
    const uint64_t a = r.mate[first].strand[e.first_strand].alignments[e.first_index].alignment.tag;
    const uint64_t b = r.mate[1 - first].strand[e.second_strand].alignments[e.second_index].alignment.tag;
    return e.swapped ? std::make_pair(b, a) : std::make_pair(a, b);
  }
  static std::set<std::pair<uint64_t, uint64_t>> pair_tags(const MapperPairedResult &r) {
    std::set<std::pair<uint64_t, uint64_t>> out;
    for (uint32_t i = 0; i < r.pairing.valid_count(); i++) out.insert(tags(r, r.pairing.entries[i]));
    return out;
  }
  // x: mate 1 with 2 forward and 1 reverse alignments, mate 2 with 1
  // forward and 2 reverse; pairs (mate 1 forward 1, mate 2 reverse 1) and,
  // swapped, (mate 2 forward 0, mate 1 reverse 0). Tags: mate * 100 +
  // strand * 10 + index, plus base.
  static void fill(MapperPairedResult *r, uint64_t base, int32_t best) {
    for (int m = 0; m < 2; m++)
      for (uint32_t k = 0; k < 2; k++)
        for (uint32_t i = 0; i < (m == static_cast<int>(k) ? 2u : 1u); i++)
          add(&r->mate[m], k, base + 100 * (m + 1) + 10 * k + i, 1, best);
    r->pairing.add_pair(1, 0, false, 1, 0, true, false, 300, {0, 0}, {0, 0});
    r->pairing.add_pair(0, 0, false, 0, 0, true, true, 320, {0, 0}, {0, 0});
  }

  RandomState random_{9ULL};
};

TEST_F(PairedResultArithmetic, CombineAndCopyKeepEveryPairOnItsAlignments) {
  MapperPairedResult x(&random_, 10), y(&random_, 10);
  fill(&x, 1000, 50);
  fill(&y, 2000, 50);
  const auto x_pairs = pair_tags(x), y_pairs = pair_tags(y);
  ASSERT_EQ(x_pairs, (std::set<std::pair<uint64_t, uint64_t>>{{1101, 1211}, {1110, 1200}}));

  MapperPairedResult both(&random_, 10);
  both.combine(&x, &y);
  EXPECT_EQ(both.pairing.pairs_found, 4u);
  EXPECT_EQ(both.pairing.valid_count(), 4u);
  std::set<std::pair<uint64_t, uint64_t>> expected = x_pairs;
  expected.insert(y_pairs.begin(), y_pairs.end());
  EXPECT_EQ(pair_tags(both), expected);
  // Alignments and hits moved, x's before y's.
  EXPECT_EQ(both.mate[0].strand[0].alignments.size(), 4u);
  EXPECT_EQ(both.mate[0].strand[0].alignments[2].alignment.tag, 2100u);
  EXPECT_EQ(both.mate[1].strand[1].hit_total, 4u);
  EXPECT_EQ(x.mate[0].hit_count(), 0u);
  EXPECT_EQ(y.mate[1].hit_count(), 0u);

  // Copying onto a result that already holds alignments moves the copied
  // pairs past them; pairs found adds up.
  MapperPairedResult z(&random_, 10), w(&random_, 10);
  fill(&z, 3000, 40);
  fill(&w, 4000, 40);
  const auto z_pairs = pair_tags(z), w_pairs = pair_tags(w);
  z.copy(&w);
  EXPECT_EQ(z.pairing.pairs_found, 4u);
  expected = z_pairs;
  expected.insert(w_pairs.begin(), w_pairs.end());
  EXPECT_EQ(pair_tags(z), expected);

  // A smaller sample keeps a subset of valid pairs.
  MapperPairedResult u(&random_, 10), v(&random_, 10), small(&random_, 3);
  fill(&u, 5000, 50);
  fill(&v, 6000, 50);
  expected = pair_tags(u);
  for (const auto &t : pair_tags(v)) expected.insert(t);
  small.combine(&u, &v);
  EXPECT_EQ(small.pairing.pairs_found, 4u);
  EXPECT_EQ(small.pairing.valid_count(), 3u);
  const auto kept = pair_tags(small);
  EXPECT_EQ(kept.size(), 3u);
  for (const auto &t : kept) EXPECT_EQ(expected.count(t), 1u);
}

TEST_F(PairedResultArithmetic, WithoutPairsEachMateTakesTheBetterCandidate) {
  struct Case {
    const char *what;
    uint32_t x_hits, y_hits;
    int32_t x_best, y_best;
    size_t expected_alignments;
    uint64_t expected_first_tag;
  } const cases[] = {
      {"higher score wins", 1, 1, 50, 40, 1, 1},
      {"lower score loses", 1, 1, 40, 50, 1, 2},
      {"equal scores keep both", 1, 1, 50, 50, 2, 1},
      {"only one has hits", 0, 1, 0, 30, 1, 2},
      // A candidate whose alignments were all filtered away may hold a
      // better best score; it must not push out the other's hits.
      {"a score without hits does not count", 1, 0, 30, 60, 1, 1},
      {"neither has hits", 0, 0, 20, 20, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MapperPairedResult x(&random_, 1), y(&random_, 1), out(&random_, 1);
    for (int m = 0; m < 2; m++) {
      if (c.x_hits) add(&x.mate[m], 0, 1, c.x_hits, c.x_best);
      if (c.y_hits) add(&y.mate[m], 0, 2, c.y_hits, c.y_best);
      x.mate[m].best_score = c.x_best;
      y.mate[m].best_score = c.y_best;
    }
    out.combine(&x, &y);
    for (int m = 0; m < 2; m++) {
      ASSERT_EQ(out.mate[m].strand[0].alignments.size(), c.expected_alignments);
      if (c.expected_alignments > 0) {
        EXPECT_EQ(out.mate[m].strand[0].alignments[0].alignment.tag, c.expected_first_tag);
      }
    }
    EXPECT_FALSE(out.has_pairs());
  }
}

}  // namespace
