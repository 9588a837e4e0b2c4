// Read resolution end to end on simulated genomes: a repeat longer than the
// word size but shorter than the reads, and two repeats close together, are
// resolved by unfolding so that the cleaned, compacted graph spells each
// chromosome as one chain. The graph checks pass after every step and at
// every window the decision function sees.
#include <gtest/gtest.h>

#include <random>

#include "read_optimize_harness.h"

namespace {

using namespace optimize_harness;
using fragment_test::concat;
using fragment_test::random_codes;

constexpr int32_t kWord = 21;
constexpr size_t kReadLength = 150;
constexpr size_t kReadStep = 3;
constexpr int32_t kBubbleSize = 50;

struct Outcome {
  OptimizeResult result;
  DecisionLog decisions;
  std::set<Codes> contigs_before, contigs_after;
};

Outcome assemble(const std::vector<Codes> &chromosomes, int32_t max_depth) {
  Assembly a(tiled_reads(chromosomes, kReadLength, kReadStep), kWord);
  Outcome run;
  run.contigs_before = chain_contigs(a.graph);
  g_decisions = {};
  run.result = optimize(a, kBubbleSize, max_depth);
  run.decisions = g_decisions;
  run.contigs_after = chain_contigs(a.graph);
  return run;
}


// A 60-base repeat three times over two chromosomes: twice on the first,
// once on the second. Unique stretches at the chromosome ends are long
// enough that dead-end removal keeps them.
TEST(UnfoldResolution, RepeatShorterThanReadsResolvesIntoChromosomes) {
  std::mt19937_64 rng(11);
  const Codes repeat = random_codes(rng, 60);
  const Codes chr1 = concat({random_codes(rng, 1200), repeat, random_codes(rng, 600), repeat, random_codes(rng, 1200)});
  const Codes chr2 = concat({random_codes(rng, 1200), repeat, random_codes(rng, 1200)});
  const Outcome run = assemble({chr1, chr2}, 10);
  EXPECT_TRUE(run.contigs_before.empty());  // the repeat joins the chromosomes
  EXPECT_TRUE(run.result.invalid_after.empty()) << run.result.invalid_after.front();
  EXPECT_EQ(run.decisions.invalid, 0);
  EXPECT_GT(run.result.unfolded, 0);
  EXPECT_TRUE(contigs_are_chromosomes(run.contigs_after, {chr1, chr2}));
}

// R1 is always followed by R2, which also occurs alone:
// U0 R1 R2 U1 R1 R2 U2 R2 U3. A window on R1 sees one component (its reads
// all go on to R2); only the window grown by R2 separates the three
// passages, so the result needs expansion: with maximum depth 0 it stays
// unresolved.
TEST(UnfoldResolution, AdjacentRepeatsNeedWindowExpansion) {
  std::mt19937_64 rng(23);
  const Codes r1 = random_codes(rng, 30), r2 = random_codes(rng, 30);
  const Codes chr = concat({random_codes(rng, 1200), r1, r2, random_codes(rng, 600), r1, r2, random_codes(rng, 600), r2,
                            random_codes(rng, 1200)});
  const Outcome grown = assemble({chr}, 10);
  EXPECT_TRUE(grown.contigs_before.empty());
  EXPECT_TRUE(grown.result.invalid_after.empty()) << grown.result.invalid_after.front();
  EXPECT_EQ(grown.decisions.invalid, 0);
  EXPECT_TRUE(contigs_are_chromosomes(grown.contigs_after, {chr}));

  const Outcome flat = assemble({chr}, 0);
  EXPECT_TRUE(flat.result.invalid_after.empty()) << flat.result.invalid_after.front();
  EXPECT_GT(flat.decisions.calls, 0);
  EXPECT_EQ(flat.decisions.largest_window, 1);
  EXPECT_TRUE(flat.contigs_after.empty());
}

}  // namespace
