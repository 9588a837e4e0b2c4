// The end trims of local alignments on hand-made placements: a block of
// matches moved across a gap it costs as much as, and the clipping of an
// unprofitable start and a score-neutral end. Every result is replayed
// against its reference and read.
#include "fm/mapper/alignment_trims.h"

#include <gtest/gtest.h>

#include <random>

#include "alignment_fixture.h"
#include "fm/mapper/mapper_parameters.h"
#include "seeding_fixture.h"

namespace {

using align_test::code_of;
using align_test::hex_of;
using align_test::replay;
using seed_test::concat;
using seed_test::letters;
using seed_test::Symbols;

Symbols join(const std::vector<Symbols> &pieces) {
  Symbols all;
  for (const Symbols &p : pieces) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The result consumes the whole read, stays within the reference, and
// scores as the original (or, shifted, from the new start).
void expect_replays(const Alignment &out, const uint8_t *reference, size_t reference_length, const Symbols &read,
                    int64_t score) {
  const align_test::Replay r = replay(out, reference, read.data());
  EXPECT_EQ(r.read, read.size()) << hex_of(out);
  EXPECT_LE(r.reference, reference_length) << hex_of(out);
  EXPECT_EQ(r.score, score) << hex_of(out) << " " << testing::PrintToString(read);
}

struct ShiftCase {
  const char *name;
  const char *ops;            // forward code
  std::vector<Symbols> ref;   // pieces of the reference from the alignment start
  std::vector<Symbols> read;  // pieces of the read
  bool head;                  // trim the head (else the tail)
  bool insertions_too;        // the gap-dropoff trims
  const char *want;           // resulting code
  uint32_t shift;             // reference shift at the head
};

const Symbols kTen = letters("GATTCCGATT");  // a fixed stretch of ten

// Defaults: match 1, mismatch 2, gap costs 3, no open costs, so a gap of
// n costs what n mismatches would lose against matches (3 each): moving
// the block is neutral when it then has exactly n more mismatches.
const ShiftCase kShiftCases[] = {
    // ACACA then deletion GT: ACACA against ACAGT further on has 2
    // mismatches, as the deletion of 2 costs.
    {"head deletion", "M5 D2 M10", {letters("ACACAGT"), kTen}, {letters("ACACA"), kTen}, true, false, "0E", 2},
    {"head deletion after a clip", "I2 M5 D2 M10", {letters("ACACAGT"), kTen}, {letters("TT"), letters("ACACA"), kTen},
     true, false, "81 0E", 2},
    // One mismatch only after the move: better, but not equal; kept.
    {"head deletion, not neutral", "M5 D2 M10", {letters("ACACACT"), kTen}, {letters("ACACA"), kTen}, true, false,
     "04 C1 09", 0},
    // An insertion is left to the gap-dropoff trim.
    {"head insertion, deletion trim", "M5 I2 M10", {letters("ACACA"), kTen}, {letters("ACACAGT"), kTen}, true, false,
     "04 81 09", 0},
    {"head insertion", "M5 I2 M10", {letters("ACACA"), kTen}, {letters("ACACAGT"), kTen}, true, true, "81 0E", 0},
    {"head deletion, gap trim", "M5 D2 M10", {letters("ACACAGT"), kTen}, {letters("ACACA"), kTen}, true, true, "0E", 2},
    // Tail: TG then ACACA; TGACA against ACACA has 2 mismatches.
    {"tail deletion", "M10 D2 M5", {kTen, letters("TGACACA")}, {kTen, letters("ACACA")}, false, false, "0E", 0},
    {"tail deletion before a clip", "M10 D2 M5 I3", {kTen, letters("TGACACA")}, {kTen, letters("ACACA"), letters("CCC")},
     false, false, "0E 82", 0},
    {"tail insertion", "M10 I2 M5 I1", {kTen, letters("ACACA")}, {kTen, letters("TGACACA"), letters("C")}, false, true,
     "0E 82", 0},
    {"tail insertion, deletion trim", "M10 I2 M5", {kTen, letters("ACACA")}, {kTen, letters("TGACACA")}, false, false,
     "09 81 04", 0},
    // Clips are no gaps: moving the block into one would pass the cost
    // test (GA against CT loses 6) but lose its matches.
    {"trailing clip is no gap", "I1 M2 I2", {letters("GA")}, {letters("TGACT")}, true, true, "80 01 81", 0},
    {"leading clip is no gap", "I2 M2 I1", {letters("GA")}, {letters("CTGAT")}, false, true, "81 01 80", 0},
    // Only insertions: nothing to move.
    {"only insertions", "I20", {kTen}, {kTen, kTen}, true, true, "93", 0},
    {"only insertions, tail", "I20", {kTen}, {kTen, kTen}, false, true, "93", 0},
    // Matches to the end: no gap follows.
    {"no gap", "I2 M10", {kTen}, {letters("CC"), kTen}, true, true, "81 09", 0},
};

TEST(AlignmentTrims, BlocksMovedAcrossAGapOfEqualCost) {
  MapperParameters p;
  for (const ShiftCase &c : kShiftCases) {
    const Symbols reference = join(c.ref), read = join(c.read);
    const Alignment in = code_of(c.ops);
    ASSERT_EQ(in.read_length(), read.size()) << c.name;
    ASSERT_LE(in.reference_length(), reference.size()) << c.name;
    const int64_t score = replay(in, reference.data(), read.data()).score;
    Alignment out;
    uint32_t shift = 99;
    bool changed;
    if (c.head) {
      changed = c.insertions_too ? trim_gap_dropoff_fwd(in, reference.data(), read.data(), &p, &out, &shift)
                                 : trim_deletion_fwd(in, reference.data(), read.data(), &p, &out, &shift);
      EXPECT_EQ(shift, c.shift) << c.name;
    } else {
      Alignment backward;
      backward.assign_reversed(in);
      changed = c.insertions_too ? trim_gap_dropoff_bwd(backward, in, reference.data(), read.data(), &p, &out)
                                 : trim_deletion_bwd(backward, in, reference.data(), read.data(), &p, &out);
      shift = 0;
    }
    EXPECT_EQ(hex_of(out), c.want) << c.name;
    EXPECT_EQ(changed, hex_of(out) != hex_of(in)) << c.name;
    // Same score from the shifted start.
    expect_replays(out, reference.data() + shift, reference.size() - shift, read, score);
  }
}

// A gap with an open cost costs more than the mismatches the move adds:
// the trim does not apply, though the placement is the same.
TEST(AlignmentTrims, GapOpenCostsKeepTheGap) {
  const Symbols reference = concat({letters("ACACAGT"), kTen}), read = concat({letters("ACACA"), kTen});
  MapperParameters p;
  p.deletion_open = 1;
  Alignment out;
  uint32_t shift = 7;
  EXPECT_FALSE(trim_deletion_fwd(code_of("M5 D2 M10"), reference.data(), read.data(), &p, &out, &shift));
  EXPECT_EQ(hex_of(out), "04 C1 09");
  EXPECT_EQ(shift, 0u);
  // Other costs with the same balance: match 2, mismatch 3, deletion open
  // 4 + 3 per symbol: 2 x 5 = 4 + 2 x 3.
  p.match_score = 2;
  p.mismatch_cost = 3;
  p.deletion_open = 4;
  EXPECT_TRUE(trim_deletion_fwd(code_of("M5 D2 M10"), reference.data(), read.data(), &p, &out, &shift));
  EXPECT_EQ(hex_of(out), "0E");
  EXPECT_EQ(shift, 2u);
}

// A block that loses by more than 10 x (match + mismatch) when moved is
// given up early; the code stays either way.
TEST(AlignmentTrims, LongBlocksThatLoseStay) {
  std::mt19937_64 rng(12);
  const Symbols block = seed_test::random_acgt(rng, 60);
  Symbols moved = block;
  for (unsigned char &c : moved) c = static_cast<unsigned char>((c + 1) % 4);
  const Symbols reference = concat({block, Symbols(2, 0), kTen});
  const Symbols read = concat({block, kTen});
  MapperParameters p;
  Alignment out;
  uint32_t shift = 0;
  EXPECT_FALSE(trim_deletion_fwd(code_of("M60 D2 M10"), reference.data(), read.data(), &p, &out, &shift));
  EXPECT_EQ(hex_of(out), "3B C1 09");
}

struct HeadEndCase {
  const char *name;
  const char *ops;
  const char *reference;
  const char *read;
  int32_t threshold;
  const char *want;
  uint32_t reference_shift, read_shift;
};

// Defaults: match +1, mismatch -2, gap runs -3 per symbol. 'x' in a
// reference marks a mismatching symbol (read C against reference A).
const HeadEndCase kHeadEndCases[] = {
    // Never below 0, ends at the threshold: unchanged.
    {"all matches", "M20", "CCCCCCCCCCCCCCCCCCCC", "CCCCCCCCCCCCCCCCCCCC", 20, "13", 0, 0},
    // Never below 0 and ends before the threshold: unchanged.
    {"short of the threshold", "M5", "CCCCC", "CCCCC", 10, "04", 0, 0},
    // A leading mismatch: -2, then 19 matches up to 17.
    {"leading mismatch", "M20", "ACCCCCCCCCCCCCCCCCCC", "CCCCCCCCCCCCCCCCCCCC", 17, "80 12", 1, 1},
    // 10 matches reach the threshold; the mismatch and 2 matches after it
    // are score-neutral and become clip.
    {"neutral end", "M13", "CCCCCCCCCCACC", "CCCCCCCCCCCCC", 10, "09 82", 0, 0},
    // 3 matches, a deletion (to 0, the latest lowest), 10 matches.
    {"deletion near the start", "M3 D1 M10", "CCCGCCCCCCCCCC", "CCCCCCCCCCCCC", 10, "82 09", 4, 3},
    // Ends before the threshold, lowest -2 below 0: the head is clipped,
    // the rest (trailing clip included) follows.
    {"clipped head only", "I2 M6 I3", "ACCCCC", "GGCCCCCCTTT", 100, "82 04 82", 1, 1},
    // Clip, mismatch, 5 matches to the threshold 3, trailing clip.
    {"both clips kept", "I2 M6 I3", "ACCCCC", "GGCCCCCCTTT", 3, "82 04 82", 1, 1},
    // An internal insertion: 5, then -1, then 10 matches to 9.
    {"insertion near the start", "M5 I2 M10", "CCCCCCCCCCCCCCC", "CCCCCGGCCCCCCCCCC", 9, "86 09", 5, 7},
    // Only insertions: nothing to walk.
    {"only insertions", "I7", "", "CCCCCCC", 1, "86", 0, 0},
};

TEST(AlignmentTrims, HeadAndEnd) {
  MapperParameters p;
  for (const HeadEndCase &c : kHeadEndCases) {
    const Symbols reference = letters(c.reference), read = letters(c.read);
    const Alignment in = code_of(c.ops);
    ASSERT_EQ(in.read_length(), read.size()) << c.name;
    Alignment out;
    uint32_t reference_shift = 99, read_shift = 99;
    const bool changed =
        trim_head_and_end(in, reference.data(), read.data(), &p, &out, &reference_shift, &read_shift, c.threshold);
    EXPECT_EQ(hex_of(out), c.want) << c.name;
    EXPECT_EQ(changed, hex_of(out) != hex_of(in)) << c.name;
    EXPECT_EQ(reference_shift, c.reference_shift) << c.name;
    EXPECT_EQ(read_shift, c.read_shift) << c.name;
    const align_test::Replay r = replay(out, reference.data() + reference_shift, read.data());
    EXPECT_EQ(r.read, read.size()) << c.name;
    EXPECT_LE(r.reference + reference_shift, reference.size()) << c.name;
    // Clipping never lowers the score.
    EXPECT_GE(r.score, replay(in, reference.data(), read.data()).score) << c.name;
  }
}

// Random local alignments of a read against a mutated copy: every trim
// gives a code that consumes the whole read, stays inside the reference,
// and (but for the head-and-end clip, which may only gain) scores the
// same.
TEST(AlignmentTrims, RandomCodesReplay) {
  std::mt19937_64 rng(40);
  MapperParameters p;
  int changed[5] = {};
  for (int round = 0; round < 2000; round++) {
    // Build read and reference along a random path of operations.
    Alignment code;
    Symbols read, reference;
    const int clip = static_cast<int>(rng() % 3);
    for (int k = 0; k < clip; k++) read.push_back(static_cast<unsigned char>(rng() % 4));
    code.add_insertions(static_cast<uint32_t>(clip));
    const int steps = 1 + static_cast<int>(rng() % 6);
    for (int s = 0; s < steps; s++) {
      const uint32_t m = 1 + static_cast<uint32_t>(rng() % 12);
      for (uint32_t k = 0; k < m; k++) {
        const unsigned char b = static_cast<unsigned char>(rng() % 4);
        read.push_back(b);
        reference.push_back(rng() % 6 == 0 ? static_cast<unsigned char>(rng() % 4) : b);
      }
      code.add_matches(m);
      if (s + 1 == steps) break;
      const uint32_t g = 1 + static_cast<uint32_t>(rng() % 3);
      if (rng() % 2 == 0) {
        for (uint32_t k = 0; k < g; k++) reference.push_back(static_cast<unsigned char>(rng() % 4));
        code.add_deletions(g);
      } else {
        for (uint32_t k = 0; k < g; k++) read.push_back(static_cast<unsigned char>(rng() % 4));
        code.add_insertions(g);
      }
    }
    const uint32_t tail = static_cast<uint32_t>(rng() % 3);
    for (uint32_t k = 0; k < tail; k++) read.push_back(static_cast<unsigned char>(rng() % 4));
    code.add_insertions(tail);
    Alignment backward, out;
    backward.assign_reversed(code);
    const int64_t score = replay(code, reference.data(), read.data()).score;
    uint32_t shift = 0, read_shift = 0;

    SCOPED_TRACE(hex_of(code));
    changed[0] += trim_deletion_fwd(code, reference.data(), read.data(), &p, &out, &shift);
    expect_replays(out, reference.data() + shift, reference.size() - shift, read, score);
    changed[1] += trim_gap_dropoff_fwd(code, reference.data(), read.data(), &p, &out, &shift);
    expect_replays(out, reference.data() + shift, reference.size() - shift, read, score);
    changed[2] += trim_deletion_bwd(backward, code, reference.data(), read.data(), &p, &out);
    expect_replays(out, reference.data(), reference.size(), read, score);
    changed[3] += trim_gap_dropoff_bwd(backward, code, reference.data(), read.data(), &p, &out);
    expect_replays(out, reference.data(), reference.size(), read, score);
    changed[4] += trim_head_and_end(code, reference.data(), read.data(), &p, &out, &shift, &read_shift,
                                    static_cast<int32_t>(score));
    const align_test::Replay r = replay(out, reference.data() + shift, read.data());
    ASSERT_EQ(r.read, read.size()) << hex_of(code) << " -> " << hex_of(out);
    EXPECT_LE(r.reference + shift, reference.size());
    EXPECT_GE(r.score, score) << hex_of(code) << " -> " << hex_of(out);
  }
  // Each trim applied now and then.
  for (int k = 0; k < 5; k++) EXPECT_GT(changed[k], 10) << "trim " << k;
}

}  // namespace
