// Matching from a read position, forward on the read and backward on its
// reverse complement, against brute-force matching over the references;
// with and without the acceleration table, and with and without a step
// cache.
#include "fm/mapper/mapper_search.h"

#include <gtest/gtest.h>

#include <random>

#include "seeding_fixture.h"

namespace {

using namespace seed_test;

// Every position of random reads, up to the read end and up to a closer
// end, for tables of depth 0 (none), 4 and 10.
TEST(MapperSearch, LongestMatchFromEveryPositionOnBothStrands) {
  std::mt19937_64 rng(11);
  const std::vector<Reference> refs = random_references(rng, 5, 30, 400);
  for (unsigned depth : {0u, 4u, 10u}) {
    const MapperIndex index = build_index(refs, depth);
    for (int r = 0; r < 12; r++) {
      const Symbols read = sample_read(rng, refs, 20 + rng() % 60);
      OwnedRead t(read);
      const uint32_t L = t.read.length;
      for (uint32_t p = 0; p < L; p++) {
        for (uint32_t end : {L, std::min(L, p + 7)}) {
          for (int strand = 0; strand < 2; strand++) {
            MapperSearch s;
            s.start(&index);
            const uint32_t d = strand == 0 ? s.forward(t.read.forward_codes, p, end, L)
                                           : s.backward(t.read.forward_codes, p, end, L);
            const uint32_t want = std::min(longest_match(refs, read, p, strand), end - p);
            ASSERT_EQ(d, want) << "depth " << depth << " pos " << p << " end " << end << " strand " << strand;
            Symbols text(read.begin() + p, read.begin() + p + d);
            if (strand == 1) text = reverse_complement(text);
            const BidirectionalSearch fresh = fresh_search(index, text);
            ASSERT_TRUE(s.search.equal(&fresh)) << "depth " << depth << " pos " << p << " strand " << strand;
          }
        }
      }
    }
  }
}

// With a step cache the searches end where they end without one and hold
// the same ranges: every position, end and strand of reads sampled (with
// errors and Ns) from repetitive references, on two indexes taken in
// turn with one cache, each read searched twice so that the second pass
// runs on what the first one taught the cache. The walks to the read end
// also meet the marks of earlier walks of the same read (searches from
// every position cross each other's rows), the walks to a closer end must
// ignore them.
TEST(MapperSearch, StepCacheChangesNoSearch) {
  std::mt19937_64 rng(23);
  std::vector<Reference> refs = random_references(rng, 4, 200, 900);
  // Copies of stretches make one-occurrence searches arise from wider
  // ranges only after several symbols.
  for (int k = 0; k < 6; k++) {
    const Symbols &from = refs[rng() % refs.size()].bases;
    Symbols &to = refs[rng() % refs.size()].bases;
    const size_t n = 40 + rng() % 40, a = rng() % (from.size() - n), b = rng() % (to.size() - n);
    const Symbols piece(from.begin() + a, from.begin() + a + n);
    std::copy(piece.begin(), piece.end(), to.begin() + b);
  }
  const std::vector<Reference> other_refs = random_references(rng, 3, 200, 600);
  const MapperIndex indexes[2] = {build_index(refs, 10), build_index(other_refs, 4)};
  MapperStepCache cache;
  MapperWalkMarks marks;
  int narrow_steps = 0;
  for (int r = 0; r < 40; r++) {
    const Symbols read = sample_read(rng, r % 4 == 3 ? other_refs : refs, 30 + rng() % 90);
    OwnedRead t(read);
    const uint32_t L = t.read.length;
    for (int pass = 0; pass < 2; pass++) {
      for (int which = 0; which < 2; which++) {
        const MapperIndex &index = indexes[(r + which) % 2];
        cache.use(index.matcher.get());
        marks.start_read(index.matcher.get(), t.read.forward_codes, L);
        for (uint32_t p = 0; p < L; p++) {
          for (uint32_t end : {L, std::min(L, p + 23)}) {
            for (int strand = 0; strand < 2; strand++) {
              MapperSearch plain, cached;
              plain.start(&index);
              cached.start(&index);
              const uint32_t d = strand == 0 ? plain.forward(t.read.forward_codes, p, end, L)
                                             : plain.backward(t.read.forward_codes, p, end, L);
              const uint32_t e = strand == 0 ? cached.forward(t.read.forward_codes, p, end, &cache, &marks)
                                             : cached.backward(t.read.forward_codes, p, end, &cache, &marks);
              ASSERT_EQ(e, d) << "read " << r << " pos " << p << " end " << end << " strand " << strand;
              ASSERT_TRUE(cached.search.equal(&plain.search))
                  << "read " << r << " pos " << p << " end " << end << " strand " << strand;
              narrow_steps += d > 12 ? 1 : 0;
            }
          }
        }
      }
    }
  }
  // The reads matched far enough for one-occurrence steps to be taken.
  EXPECT_GT(narrow_steps, 1000);
}

// A new read in the same buffer with the same length starts with no
// marks: the walks of the first read must not send the second one to
// their ends. The reads differ in one symbol near the end, so the first
// read's walks stop there and the second one's run on.
TEST(MapperSearch, StepCacheForgetsTheWalksOfTheLastRead) {
  std::mt19937_64 rng(5);
  const Symbols bases = random_acgt(rng, 400);
  const std::vector<Reference> refs = references({bases});
  const Symbols read(bases.begin() + 50, bases.begin() + 110);
  OwnedRead t(read);
  const uint32_t L = t.read.length;
  const unsigned char own = bases[50 + L - 3];
  MapperStepCache cache;
  MapperWalkMarks marks;
  const MapperIndex index = build_index(refs, 6);
  cache.use(index.matcher.get());
  for (int round = 0; round < 2; round++) {
    // First another symbol, then the reference's own one.
    t.read.forward_codes[L - 3] = round == 0 ? static_cast<unsigned char>((own + 1) % 4) : own;
    marks.start_read(index.matcher.get(), t.read.forward_codes, L);
    const Symbols now(t.read.forward_codes, t.read.forward_codes + L);
    for (uint32_t p = 0; p + 10 < L; p++) {
      MapperSearch s;
      s.start(&index);
      const uint32_t d = s.forward(t.read.forward_codes, p, L, &cache, &marks);
      ASSERT_EQ(d, longest_match(refs, now, p, 0)) << "round " << round << " pos " << p;
    }
    // The second round matches to the read end from the start.
    if (round == 1) {
      EXPECT_EQ(longest_match(refs, now, 0, 0), L);
    }
  }
}

// The extenders' one-occurrence step through the table gives what the
// index gives: every row of both arrays (separators and Ns among them),
// asked twice so that the second answer comes from the table, and rows of
// another index, which the table must not answer from its own facts.
TEST(MapperSearch, StepCacheTakesOnlySymbolStepsAsTheIndexDoes) {
  std::mt19937_64 rng(31);
  const std::vector<Reference> refs = random_references(rng, 3, 100, 300);
  const std::vector<Reference> other_refs = random_references(rng, 2, 100, 300);
  const MapperIndex index = build_index(refs, 4), other = build_index(other_refs, 4);
  MapperStepCache cache;
  cache.use(index.matcher.get());
  int stepped = 0, stopped = 0;
  for (const MapperIndex *in : {&index, &other, &index}) {
    for (int direction = 0; direction < 2; direction++) {
      const BidirectionalMatcher &m = *in->matcher;
      const unsigned long long rows = (direction == 0 ? m.text_array() : m.reversed_array())->length();
      for (unsigned long long r = 0; r < rows; r++) {
        BidirectionalSearch search;
        search.matcher = &m;
        search.length = 9;
        const match_range own = {r, r + 1}, companion = {rows - 1 - r, rows - r};
        search.forward = direction == 0 ? own : companion;
        search.reverse = direction == 0 ? companion : own;
        BidirectionalSearch want, got;
        const unsigned char x = search.add_only_symbol(direction, &want);
        ASSERT_EQ(cache.only_symbol(direction, search, &got), x) << "direction " << direction << " row " << r;
        if (x >= 5) {
          stopped++;
          continue;
        }
        ASSERT_TRUE(got.equal(&want)) << "direction " << direction << " row " << r;
        ASSERT_EQ(got.matcher, want.matcher);
        stepped++;
      }
    }
  }
  EXPECT_GT(stepped, 1000);
  EXPECT_GT(stopped, 0);
}

// N stops a match, also inside the first table block; a pivot on an N
// matches nothing, and so does an empty or reversed stretch.
TEST(MapperSearch, StopsAtNAndAtTheEnd) {
  const Symbols base = letters("ACGGTCATTGCAGGTACCATGACTTGAC");
  // The bases on both strands, so that every stretch of them matches on
  // both.
  const MapperIndex index = build_index(references({base, reverse_complement(base)}), 6);
  Symbols read = base;
  read[3] = 4;
  read[15] = 4;
  OwnedRead t(read);
  struct Case {
    uint32_t pos, end;
    int strand;
    uint32_t want;
  } cases[] = {
      {0, 28, 0, 3},   {0, 28, 1, 3},  {4, 28, 0, 11}, {4, 28, 1, 11}, {3, 28, 0, 0},
      {15, 28, 1, 0},  {16, 28, 0, 12}, {16, 20, 1, 4}, {5, 5, 0, 0},  {9, 2, 1, 0},
  };
  for (const Case &c : cases) {
    MapperSearch s;
    s.start(&index);
    const uint32_t d = c.strand == 0 ? s.forward(t.read.forward_codes, c.pos, c.end, 28)
                                     : s.backward(t.read.forward_codes, c.pos, c.end, 28);
    EXPECT_EQ(d, c.want) << c.pos << ".." << c.end << " strand " << c.strand;
    EXPECT_EQ(s.search.length, static_cast<int>(d));
  }
}

}  // namespace
