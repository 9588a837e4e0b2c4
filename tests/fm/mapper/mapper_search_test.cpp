// Matching from a read position, forward on the read and backward on its
// reverse complement, against brute-force matching over the references;
// with and without the acceleration table.
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
      TestRead t(read);
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
  TestRead t(read);
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
