// The threaded index builder against the brute-force index: text array,
// records, samples and mappings, reversed array; the merge tree; limits.
#include "fm/index/burrows_wheeler_index_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "common/activity.h"
#include "naive_index.h"

namespace {

using naive::expect_naive_index;
using naive::Reference;
using naive::Symbols;

Sequence *sequence_of(const Symbols &bases) {
  Sequence *s = Sequence::create(static_cast<unsigned int>(bases.size()), false, nullptr);
  std::memcpy(s->symbols, bases.data(), bases.size());
  s->symbols[bases.size()] = 255;
  return s;
}

using naive::Built;

// Hands the references to a builder in list order, then builds.
Built build(const std::vector<Reference> &refs, int threads, unsigned char shift, Activity *activity = nullptr) {
  BurrowsWheelerIndexBuilder builder(activity, threads, shift);
  for (const Reference &r : refs) builder.add_sequence(r.id, sequence_of(r.bases), r.circular, nullptr);
  builder.finish();
  Built built;
  built.tie_order = builder.tie_order();
  built.matcher = builder.get_result();
  return built;
}

TEST(IndexBuilderThreads, ArraysEqualTheNaiveIndexOnOneAndEightThreads) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 24; round++) {
    const size_t count = 1 + rng() % 30;
    const std::vector<Reference> refs = naive::random_references(rng, count, 1 + rng() % 80);
    const int shift = round % 3 == 0 ? 1 : (round % 3 == 1 ? 4 : 16);
    for (int threads : {1, 8}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(threads) + " threads");
      const Built built = build(refs, threads, static_cast<unsigned char>(shift));
      expect_naive_index(refs, built, shift);
    }
  }
}

TEST(IndexBuilderThreads, ManySequencesMergeOverSeveralLevels) {
  std::mt19937_64 rng(9);
  const std::vector<Reference> refs = naive::random_references(rng, 150, 40);
  RootActivity root;
  const Built built = build(refs, 8, 3, &root);
  expect_naive_index(refs, built, 3);
  EXPECT_DOUBLE_EQ(root.get_progress(), 1.0);
}

TEST(IndexBuilderThreads, LongSequencesWithRepeats) {
  // Long shared stretches make the rank settling walk far; a long run of
  // one base makes the reversed array's intervals deep.
  std::mt19937_64 rng(13);
  Symbols a = naive::random_bases(rng, 1500);
  Symbols b = a;
  b[700] = (b[700] + 1) % 4;
  Symbols run(800, 0);
  run.push_back(1);
  Symbols periodic;
  for (int k = 0; k < 300; k++) periodic.insert(periodic.end(), {0, 1, 2});
  periodic.push_back(3);
  const std::vector<Reference> refs = {
      naive::make_reference(0, a, false),        naive::make_reference(1, b, false),
      naive::make_reference(2, a, true),         naive::make_reference(3, run, false),
      naive::make_reference(4, periodic, true),  naive::make_reference(5, a, false),
  };
  const Built built = build(refs, 4, 2);
  expect_naive_index(refs, built, 2);
}

TEST(IndexBuilder, MergeTreeTakesTheSmallestFirst) {
  // Lengths 1 to 5 (2 to 6 rows with the separator): the first merge
  // takes the four shortest (14 rows), the root the longest (6 rows, not
  // above 14, so it comes first) and that merge.
  std::vector<Reference> refs;
  for (unsigned int id = 0; id < 5; id++) refs.push_back(naive::make_reference(id, Symbols(id + 1, 2), false));
  const Built built = build(refs, 2, 4);
  EXPECT_EQ(built.tie_order, (std::vector<unsigned int>{4, 0, 1, 2, 3}));
  expect_naive_index(refs, built, 4);
}

TEST(IndexBuilder, IdenticalCircularSequencesKeepInputOrder) {
  const Symbols word = {0, 3, 3, 1, 2, 0, 1};
  std::vector<Reference> refs = {naive::make_reference(0, word, true), naive::make_reference(1, word, true)};
  const Built built = build(refs, 2, 0);
  ASSERT_EQ(built.tie_order, (std::vector<unsigned int>{0, 1}));
  // Every pair of equal rotations: the first sequence's row comes first.
  const NucleotideArray &text = *built.matcher->text_array();
  for (uint64_t row = 0; row < text.length(); row += 2) {
    const uint64_t a = text.sample(row), b = text.sample(row + 1);
    EXPECT_EQ(text.sequence(text.sample_sequence(a)).sequence_id, 0u) << row;
    EXPECT_EQ(text.sequence(text.sample_sequence(b)).sequence_id, 1u) << row;
    EXPECT_EQ(text.sample_position(a), text.sample_position(b)) << row;
  }
  expect_naive_index(refs, built, 0);
}

TEST(IndexBuilder, OneSequenceCarriesItsOwnSamples) {
  std::mt19937_64 rng(3);
  const std::vector<Reference> refs = {naive::make_reference(0, naive::random_bases(rng, 500), false)};
  const Built built = build(refs, 2, 2);
  EXPECT_EQ(built.tie_order, (std::vector<unsigned int>{0}));
  expect_naive_index(refs, built, 2);
}

TEST(IndexBuilder, NoSequencesGiveOneSeparatorEachWay) {
  RootActivity root;
  BurrowsWheelerIndexBuilder builder(&root, 2, 4);
  EXPECT_FALSE(builder.is_processing());
  builder.finish();
  std::unique_ptr<BidirectionalMatcher> matcher = builder.get_result();
  for (const NucleotideArray *array : {matcher->text_array(), matcher->reversed_array()}) {
    ASSERT_EQ(array->length(), 1u);
    EXPECT_EQ(array->get(0), 5);
    EXPECT_EQ(array->sequence(0).length, 1u);
  }
  EXPECT_EQ(matcher->text_array()->sampling_shift(), 4);
  EXPECT_EQ(matcher->reversed_array()->sampling_shift(), -1);
  EXPECT_DOUBLE_EQ(root.get_progress(), 1.0);
}

TEST(IndexBuilder, ProcessingStartsWithTheSecondSequence) {
  BurrowsWheelerIndexBuilder builder(nullptr, 2, 4);
  builder.add_sequence(0, sequence_of({0, 1, 2}), false, nullptr);
  EXPECT_FALSE(builder.is_processing());
  int done = 0;
  builder.add_sequence(1, sequence_of({3, 3}), true, [&](Sequence *s) { done += static_cast<int>(s->length); });
  EXPECT_TRUE(builder.is_processing());
  builder.finish();
  EXPECT_NE(builder.get_result(), nullptr);
  EXPECT_EQ(done, 2);
}

TEST(IndexBuilder, UnfinishedBuilderFreesEverything) {
  // Left without finish(): the held-back sequence and the arrays of tasks
  // already run are freed by the destructor (the leak checker watches).
  BurrowsWheelerIndexBuilder builder(nullptr, 2, 4);
  builder.add_sequence(0, sequence_of({0, 1, 2}), false, nullptr);
  BurrowsWheelerIndexBuilder second(nullptr, 2, 4);
  for (unsigned int id = 0; id < 6; id++) second.add_sequence(id, sequence_of({0, 1, 2, 3}), false, nullptr);
}

// A sequence that claims a length without holding the symbols: the limits
// are checked before any symbol is touched.
class LengthOnlySequence : public Sequence {
 public:
  explicit LengthOnlySequence(unsigned int n) { length = n; }
};

TEST(IndexBuilderDeath, SequencesBeyondThirtyOneBitPositionsAreRefused) {
  EXPECT_EXIT(
      {
        BurrowsWheelerIndexBuilder builder(nullptr, 1, 4);
        builder.add_sequence(0, new LengthOnlySequence(0x7FFFFFFFu), false, nullptr);
      },
      testing::ExitedWithCode(1),
      "^Sequence of 2147483647 bases is too long to index \\(at most 2147483647 bases, separator included\\)\\.\n$");
  EXPECT_EXIT(
      {
        BurrowsWheelerIndexBuilder builder(nullptr, 1, 4);
        // 2^32 - 1 bases would wrap to 0 rows with the separator.
        builder.add_sequence(0, new LengthOnlySequence(0xFFFFFFFFu), false, nullptr);
      },
      testing::ExitedWithCode(1), "^Sequence of 4294967295 bases is too long to index");
  EXPECT_EXIT(
      {
        BurrowsWheelerIndexBuilder builder(nullptr, 1, 4);
        builder.add_sequence(0, new LengthOnlySequence(0x80000000u), true, nullptr);
      },
      testing::ExitedWithCode(1), "^Sequence of 2147483648 bases is too long to index");
  EXPECT_EXIT(
      {
        BurrowsWheelerIndexBuilder builder(nullptr, 1, 4);
        builder.add_sequence(0, new LengthOnlySequence(0), true, nullptr);
      },
      testing::ExitedWithCode(1), "^Cannot index a sequence of length 0\\.\n$");
}

}  // namespace
