// Bidirectional searches, the acceleration table and match positions
// against scans of the naive index.
#include "fm/index/bidirectional_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>

#include "fm/index/bidirectional_matcher.h"
#include "fm/index/burrows_wheeler_index_builder.h"
#include "naive_index.h"

namespace {

using naive::Reference;
using naive::Symbols;

struct Indexed {
  std::vector<Reference> refs;
  std::unique_ptr<BidirectionalMatcher> matcher;
  std::vector<naive::Rotation> text_rows, reversed_rows;
};

Indexed index_of(std::vector<Reference> refs, unsigned char shift) {
  Indexed ix;
  ix.refs = std::move(refs);
  BurrowsWheelerIndexBuilder builder(nullptr, 2, shift);
  for (const Reference &r : ix.refs) {
    Sequence *s = Sequence::create(static_cast<unsigned int>(r.bases.size()), false, nullptr);
    std::memcpy(s->symbols, r.bases.data(), r.bases.size());
    builder.add_sequence(r.id, s, r.circular, nullptr);
  }
  builder.finish();
  ix.text_rows = naive::text_rows(ix.refs, naive::tie_rank_of(ix.refs, builder.tie_order()));
  ix.reversed_rows = naive::reversed_rows(ix.refs);
  ix.matcher = builder.get_result();
  return ix;
}

Indexed random_index(uint64_t seed, unsigned char shift, size_t count = 12, size_t length = 120) {
  std::mt19937_64 rng(seed);
  return index_of(naive::random_references(rng, count, length), shift);
}

// Both ranges of pattern against the naive rows; empty ranges only need
// to be empty.
void expect_naive_search(const Indexed &ix, const BidirectionalSearch &search, const Symbols &pattern) {
  const naive::Range f = naive::pattern_range(ix.refs, ix.text_rows, pattern, true);
  const naive::Range r = naive::pattern_range(ix.refs, ix.reversed_rows, pattern, false);
  ASSERT_EQ(f.end - f.begin, r.end - r.begin);
  ASSERT_EQ(search.length, static_cast<int>(pattern.size()));
  ASSERT_EQ(search.count(), f.end - f.begin);
  ASSERT_EQ(search.reverse.end - search.reverse.begin, search.count());
  if (search.count() > 0) {
    ASSERT_EQ(search.forward.begin, f.begin);
    ASSERT_EQ(search.reverse.begin, r.begin);
  }
}

// A pattern that occurs: a stretch of a reference read cyclically, so it
// may run over the end of a circular sequence (or through a separator).
Symbols stretch(std::mt19937_64 &rng, const Indexed &ix, size_t length) {
  const Reference &r = ix.refs[rng() % ix.refs.size()];
  const long long start = static_cast<long long>(rng() % r.symbols.size());
  Symbols p;
  for (size_t k = 0; k < length; k++) p.push_back(naive::at(r, start + static_cast<long long>(k)));
  return p;
}

TEST(BidirectionalSearch, MixedDirectionsGiveNaiveRanges) {
  std::mt19937_64 rng(1);
  const Indexed ix = random_index(11, 4);
  for (int round = 0; round < 400; round++) {
    // Grow a target stretch from a random split point, choosing the side
    // at random; now and then a random symbol instead (often absent).
    const Symbols target = stretch(rng, ix, 1 + rng() % 30);
    size_t left = rng() % target.size(), right = left;
    std::deque<unsigned char> pattern;
    BidirectionalSearch search;
    ix.matcher->init_search_empty(&search);
    expect_naive_search(ix, search, {});
    while (left > 0 || right < target.size()) {
      const bool to_right = left == 0 || (right < target.size() && rng() % 2 == 0);
      unsigned char c = to_right ? target[right++] : target[--left];
      if (rng() % 25 == 0) c = static_cast<unsigned char>(rng() % 6);
      search.add_symbol(to_right ? 0 : 1, c);
      if (to_right) pattern.push_back(c);
      else pattern.push_front(c);
      expect_naive_search(ix, search, Symbols(pattern.begin(), pattern.end()));
    }
  }
}

TEST(BidirectionalSearch, AbsentSymbolsLeaveBothRangesEmpty) {
  const Indexed ix = index_of({naive::make_reference(0, {0, 1, 0, 1, 2}, false)}, 4);
  BidirectionalSearch search;
  ix.matcher->init_search_empty(&search);
  search.add_symbol(0, 3);
  EXPECT_EQ(search.count(), 0u);
  EXPECT_EQ(search.reverse.begin, search.reverse.end);
  for (int d : {0, 1, 0}) {
    search.add_symbol(d, 0);
    EXPECT_EQ(search.count(), 0u);
    EXPECT_EQ(search.reverse.begin, search.reverse.end);
  }
  EXPECT_EQ(search.length, 4);
}

TEST(BidirectionalSearch, AllSymbolsAtOnceEqualSingleSteps) {
  std::mt19937_64 rng(2);
  const Indexed ix = random_index(12, 4);
  for (int round = 0; round < 200; round++) {
    const Symbols p = stretch(rng, ix, rng() % 8);
    BidirectionalSearch search;
    ix.matcher->init_search(&search, p.data(), static_cast<int>(p.size()));
    for (int direction : {0, 1}) {
      BidirectionalSearch all[6];
      search.add_all_symbols(direction, all);
      unsigned long long counts[6];
      search.num_matches_for_symbols(direction, counts);
      unsigned long long total = 0;
      for (unsigned char c = 0; c < 6; c++) {
        BidirectionalSearch one = search;
        one.add_symbol(direction, c);
        EXPECT_TRUE(all[c].equal(&one)) << "symbol " << int(c);
        EXPECT_EQ(all[c].matcher, search.matcher);
        EXPECT_EQ(counts[c], one.count());
        total += counts[c];
      }
      EXPECT_EQ(total, search.count());
    }
  }
}

TEST(BidirectionalSearch, EqualityOfSearches) {
  const Indexed ix = random_index(13, 4);
  BidirectionalSearch a, b;
  const unsigned char p[] = {0, 1};
  ix.matcher->init_search(&a, p, 2);
  ix.matcher->init_search_empty(&b);
  b.add_symbol(1, 1);
  EXPECT_FALSE(a.equal(&b));
  EXPECT_FALSE(a.locationally_equal(&b));
  b.add_symbol(1, 0);
  EXPECT_TRUE(a.equal(&b));
  b.length = 3;
  EXPECT_FALSE(a.equal(&b));
  EXPECT_TRUE(a.locationally_equal(&b));
  b = a;
  b.reverse.end++;
  EXPECT_FALSE(a.equal(&b));
  EXPECT_TRUE(a.locationally_equal(&b));
}

// Every pattern over A, C, G, T, N of length up to k + 2 through the table
// and through plain steps.
TEST(AccelerationTable, AgreesWithPlainSteps) {
  Indexed ix = random_index(14, 4, 20, 200);
  for (int k : {1, 2, 3, 5}) {
    SCOPED_TRACE("depth " + std::to_string(k));
    ix.matcher->build_acceleration_table(k);
    ASSERT_EQ(ix.matcher->acceleration_depth(), k);
    ASSERT_EQ(ix.matcher->acceleration_table()->count(), 9u << (2 * (k - 1)));
    for (int n = 0; n <= k + 2 && n <= 6; n++) {
      Symbols p(static_cast<size_t>(n), 0);
      for (;;) {
        BidirectionalSearch fast, slow;
        ix.matcher->init_search(&fast, p.data(), n);
        ix.matcher->init_search_empty(&slow);
        for (unsigned char c : p) slow.add_symbol(0, c);
        ASSERT_EQ(fast.length, n);
        ASSERT_EQ(fast.count(), slow.count());
        if (slow.count() > 0) {
          ASSERT_TRUE(fast.equal(&slow));
        }
        int i = 0;
        while (i < n && p[static_cast<size_t>(i)] == 4) p[static_cast<size_t>(i++)] = 0;
        if (i == n) break;
        p[static_cast<size_t>(i)]++;
      }
    }
  }
  ix.matcher->build_acceleration_table(0);
  EXPECT_EQ(ix.matcher->acceleration_depth(), 0);
  EXPECT_EQ(ix.matcher->acceleration_table(), nullptr);
}

TEST(AccelerationTable, NoTableForOneRow) {
  BurrowsWheelerIndexBuilder builder(nullptr, 1, 4);
  builder.finish();
  std::unique_ptr<BidirectionalMatcher> matcher = builder.get_result();
  matcher->build_acceleration_table(8);
  EXPECT_EQ(matcher->acceleration_depth(), 0);
  const unsigned char p[] = {0, 1, 2, 3, 0, 1, 2, 3};
  BidirectionalSearch search;
  matcher->init_search(&search, p, 8);
  EXPECT_EQ(search.count(), 0u);
}

// Positions of every occurrence in row order against the rotations of the
// naive rows: the row of an occurrence ending at p starts it at p - m + 1.
void expect_naive_positions(const Indexed &ix, const Symbols &pattern, unsigned long long first,
                            unsigned long long count) {
  BidirectionalSearch search;
  ix.matcher->init_search(&search, pattern.data(), static_cast<int>(pattern.size()));
  const naive::Range f = naive::pattern_range(ix.refs, ix.text_rows, pattern, true);
  ASSERT_EQ(search.count(), f.end - f.begin);
  std::vector<_sequence_position> out(count + 1, {0xDEAD, 0xBEEF});
  search.get_match_positions(first, count, out.data());
  for (unsigned long long i = 0; i < count; i++) {
    const naive::Rotation &r = ix.text_rows[f.begin + first + i];
    const long long n = static_cast<long long>(ix.refs[r.seq].symbols.size());
    const long long m = static_cast<long long>(pattern.size());
    const long long start = (((r.p - m + 1) % n) + n) % n;
    ASSERT_EQ(out[i].sequence_id, ix.refs[r.seq].id) << "match " << i;
    ASSERT_EQ(out[i].offset, static_cast<unsigned int>(start)) << "match " << i;
  }
  EXPECT_EQ(out[count].sequence_id, 0xDEADu);
  EXPECT_EQ(out[count].offset, 0xBEEFu);
}

TEST(MatchPositions, EqualTheNaivePlacesForSamplingOneFourAndSixteen) {
  for (unsigned char shift : {1, 4, 16}) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    const Indexed ix = random_index(15 + shift, shift, 14, 150);
    std::mt19937_64 rng(shift);
    for (int round = 0; round < 150; round++) {
      const Symbols p = stretch(rng, ix, 1 + rng() % (round % 5 == 0 ? 3 : 25));
      BidirectionalSearch search;
      ix.matcher->init_search(&search, p.data(), static_cast<int>(p.size()));
      const unsigned long long n = search.count();
      expect_naive_positions(ix, p, 0, n);
      if (n > 2) expect_naive_positions(ix, p, 1, n - 2);
    }
  }
}

TEST(MatchPositions, WrapAroundCircularSequences) {
  // ACGTTGCAAC circular: "ACAC" runs over the end at offset 8; "CAACAC"
  // starts at 6 and wraps; a pattern longer than the sequence wraps twice.
  const Symbols circular = {0, 1, 2, 3, 3, 2, 1, 0, 0, 1};
  for (unsigned char shift : {0, 16}) {
    const Indexed ix = index_of({naive::make_reference(0, {2, 2, 2, 2}, false), naive::make_reference(1, circular, true)},
                                shift);
    struct Case {
      Symbols pattern;
      unsigned int offset;
    };
    const Case cases[] = {{{0, 1, 0, 1}, 8}, {{1, 0, 0, 1, 0, 1}, 6}, {{3, 2, 1, 0, 0, 1, 0, 1, 2, 3, 3, 2, 1, 0}, 4}};
    for (const Case &c : cases) {
      BidirectionalSearch search;
      ix.matcher->init_search(&search, c.pattern.data(), static_cast<int>(c.pattern.size()));
      ASSERT_EQ(search.count(), 1u);
      _sequence_position place{};
      search.get_match_positions(0, 1, &place);
      EXPECT_EQ(place.sequence_id, 1u);
      EXPECT_EQ(place.offset, c.offset);
      expect_naive_positions(ix, c.pattern, 0, 1);
    }
  }
}

TEST(MatchPositions, SequencesWithoutSamplesAreFoundThroughTheirMapping) {
  // With windows of 2^16 rows only row 0's window is sampled: most of
  // these sequences have no sampled row and a mapping instead.
  const Indexed ix = random_index(31, 16, 25, 60);
  const NucleotideArray &text = *ix.matcher->text_array();
  ASSERT_GT(text.position_mappings().size(), 10u);
  for (const Reference &r : ix.refs) {
    const Symbols p(r.symbols.begin(), r.symbols.begin() + static_cast<long>(std::min<size_t>(r.symbols.size(), 6)));
    BidirectionalSearch search;
    ix.matcher->init_search(&search, p.data(), static_cast<int>(p.size()));
    expect_naive_positions(ix, p, 0, search.count());
  }
}

TEST(MatchPositions, ManyMatchesCrossBatches) {
  std::mt19937_64 rng(4);
  const Indexed ix = index_of({naive::make_reference(0, naive::random_bases(rng, 3000), false),
                               naive::make_reference(1, naive::random_bases(rng, 700), true)},
                              3);
  const Symbols p = {2};
  BidirectionalSearch search;
  ix.matcher->init_search(&search, p.data(), 1);
  ASSERT_GT(search.count(), 250u);
  expect_naive_positions(ix, p, 0, search.count());
  expect_naive_positions(ix, p, 99, 102);
  expect_naive_positions(ix, p, 5, 0);
}

TEST(MatchPositions, InternalPositionsBecomePlaces) {
  const Indexed ix = index_of({naive::make_reference(0, {0, 1, 2, 3, 0, 1, 2}, true)}, 2);
  BidirectionalSearch search;
  ix.matcher->init_search_empty(&search);
  _sequence_position p{0, 5};
  search.get_position(&p, 2);
  EXPECT_EQ(p.sequence_id, 0u);
  EXPECT_EQ(p.offset, 3u);
  p = {0, 1};
  search.get_position(&p, 3);
  EXPECT_EQ(p.offset, 5u);  // 1 - 3 wrapped into 7 positions
  p = {0, 1};
  search.get_position(&p, 17);
  EXPECT_EQ(p.offset, 5u);
}

TEST(MatchPositions, ARecordOfLengthZeroCannotStallTheWrap) {
  // A damaged text array whose only record claims 0 rows: the match at
  // text position 0 would move before the start, and adding the length 0
  // would never bring it back.
  auto text = std::make_unique<NucleotideArray>(4, 1, 4);
  text->init_position_sampling(0);
  NucleotideArraySequenceWriter writer(text.get(), 0, 4);
  const unsigned char rows[4] = {1, 2, 3, 0};  // ACGT circular
  for (unsigned int r = 0; r < 4; r++) writer.set(r, (r + 1) % 4, rows[r]);
  writer.finish();
  text->sequences()[0].length = 0;
  text->finish();
  auto reversed = std::make_unique<NucleotideArray>(4, 1, 4);
  NucleotideArrayWriter plain(reversed.get());
  for (unsigned int r = 0; r < 4; r++) plain.set(r, (r + 3) % 4);
  reversed->add_sequence(0, 0, true, 0, ~0ull);
  reversed->finish();
  BidirectionalMatcher matcher(std::move(text), std::move(reversed), false);
  const unsigned char t[] = {3};
  BidirectionalSearch search;
  matcher.init_search(&search, t, 1);
  ASSERT_EQ(search.count(), 1u);
  _sequence_position place{7, 7};
  search.get_match_positions(0, 1, &place);
  EXPECT_EQ(place.sequence_id, 0u);
  EXPECT_EQ(place.offset, 0u);
}

TEST(MatchPositionsDeath, ATextArrayWithoutSamplesIsRefused) {
  std::mt19937_64 rng(5);
  const std::vector<Reference> refs = {naive::make_reference(0, naive::random_bases(rng, 50), false)};
  const std::vector<size_t> ranks = {0};
  const std::vector<naive::Rotation> rows = naive::text_rows(refs, ranks);
  BidirectionalMatcher matcher(naive::text_array(refs, rows, -1), naive::text_array(refs, rows, -1), false);
  BidirectionalSearch search;
  matcher.init_search_empty(&search);
  _sequence_position place;
  EXPECT_EXIT(search.get_match_positions(0, 1, &place), testing::ExitedWithCode(1),
              "^Index is damaged: a matched row reaches neither a position sample nor a mapping\\.\n$");
}

TEST(BidirectionalMatcher, PrefixAndSuffixOfRows) {
  const Indexed ix = random_index(16, 4, 6, 40);
  for (uint64_t t = 0; t < ix.text_rows.size(); t++) {
    unsigned char out[9];
    ix.matcher->get_prefix_for_id(t, out, 9);
    const naive::Rotation &r = ix.text_rows[t];
    for (int k = 0; k < 9; k++) ASSERT_EQ(out[k], naive::at(ix.refs[r.seq], static_cast<long long>(r.p) - 8 + k)) << "text row " << t;
    ix.matcher->get_suffix_for_id(t, out, 9);
    const naive::Rotation &f = ix.reversed_rows[t];
    for (int k = 0; k < 9; k++) ASSERT_EQ(out[k], naive::at(ix.refs[f.seq], static_cast<long long>(f.p) + k)) << "reversed row " << t;
  }
  match_range own{0, 5}, companion{0, 5};
  EXPECT_EQ(BidirectionalMatcher::step_implicit(ix.matcher->text_array(), &own, &companion, 9), 255);
  EXPECT_EQ(own.end, 5u);
}

TEST(BidirectionalMatcher, MemoryUsageCountsArraysAndTable) {
  Indexed ix = random_index(17, 4);
  const unsigned long long arrays =
      ix.matcher->text_array()->memory_usage() + ix.matcher->reversed_array()->memory_usage() + 32;
  EXPECT_EQ(ix.matcher->memory_usage(), arrays);
  ix.matcher->build_acceleration_table(4);
  EXPECT_EQ(ix.matcher->memory_usage(), arrays + ix.matcher->acceleration_table()->packed_bytes());
}

}  // namespace
