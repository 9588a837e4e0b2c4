// The threaded index builder against the brute-force index: text array,
// records, samples and mappings, reversed array; the merge tree; limits.
#include "fm/index/burrows_wheeler_index_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "common/activity.h"
#include "naive_index.h"

namespace {

using naive::Reference;
using naive::Symbols;

Sequence *sequence_of(const Symbols &bases) {
  Sequence *s = Sequence::create(static_cast<unsigned int>(bases.size()), false, nullptr);
  std::memcpy(s->symbols, bases.data(), bases.size());
  s->symbols[bases.size()] = 255;
  return s;
}

struct Built {
  std::unique_ptr<BidirectionalMatcher> matcher;
  std::vector<unsigned int> tie_order;
};

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

// Record index holding sequence id.
uint32_t record_of(const NucleotideArray &text, unsigned int id) {
  for (uint32_t k = 0; k < text.sequence_count(); k++)
    if (text.sequence(k).sequence_id == id) return k;
  ADD_FAILURE() << "no record for sequence " << id;
  return 0;
}

// Every row, record, sample and mapping of both arrays against the naive
// construction (equal rotations in the builder's tie order).
void expect_naive_index(const std::vector<Reference> &refs, const Built &built, int shift) {
  const NucleotideArray &text = *built.matcher->text_array();
  const NucleotideArray &reversed = *built.matcher->reversed_array();
  const std::vector<naive::Rotation> rows = naive::text_rows(refs, naive::tie_rank_of(refs, built.tie_order));
  ASSERT_EQ(text.length(), rows.size());
  for (uint64_t i = 0; i < rows.size(); i++) ASSERT_EQ(text.get(i), naive::text_symbol(refs, rows[i])) << "row " << i;

  // Records: the separator's row, or a circular sequence's smallest row.
  ASSERT_EQ(text.sequence_count(), refs.size());
  std::vector<uint64_t> smallest(refs.size(), ~0ull);
  for (uint64_t i = 0; i < rows.size(); i++) smallest[rows[i].seq] = std::min(smallest[rows[i].seq], i);
  for (size_t s = 0; s < refs.size(); s++) {
    const na_sequence &record = text.sequence(record_of(text, refs[s].id));
    const uint32_t length = static_cast<uint32_t>(refs[s].symbols.size());
    EXPECT_EQ(record.length, length);
    EXPECT_EQ(record.circular != 0, refs[s].circular);
    if (refs[s].circular) {
      EXPECT_EQ(record.row, smallest[s]);
      EXPECT_EQ(record.position, naive::text_position(refs, rows[smallest[s]]));
    } else {
      EXPECT_EQ(record.position, length - 1);
      EXPECT_EQ(text.get(record.row), 5);
      EXPECT_EQ(naive::text_position(refs, rows[record.row]), length - 1);
      EXPECT_EQ(rows[record.row].seq, s);
    }
  }

  // Samples name record indexes; sequences without a sampled row have a
  // mapping of their smallest row.
  ASSERT_EQ(text.sampling_shift(), shift);
  std::vector<bool> sampled(refs.size(), false);
  for (uint64_t i = 0; i < rows.size(); i++) {
    if (!text.is_sampled(i)) continue;
    sampled[rows[i].seq] = true;
    const uint64_t v = text.sample(i);
    ASSERT_EQ(text.sample_sequence(v), record_of(text, refs[rows[i].seq].id)) << "row " << i;
    ASSERT_EQ(text.sample_position(v), naive::text_position(refs, rows[i])) << "row " << i;
  }
  size_t unsampled = 0;
  for (size_t s = 0; s < refs.size(); s++) {
    if (sampled[s]) continue;
    unsampled++;
    const auto &mappings = text.position_mappings();
    auto it = std::find_if(mappings.begin(), mappings.end(),
                           [&](const NucleotideArray::_position_mapping &m) { return m.row == smallest[s]; });
    ASSERT_NE(it, mappings.end()) << "sequence " << refs[s].id;
    EXPECT_EQ(it->sequence_id, record_of(text, refs[s].id));
    EXPECT_EQ(it->position, naive::text_position(refs, rows[smallest[s]]));
  }
  EXPECT_EQ(text.position_mappings().size(), unsampled);

  const std::vector<naive::Rotation> forward = naive::reversed_rows(refs);
  ASSERT_EQ(reversed.length(), forward.size());
  for (uint64_t i = 0; i < forward.size(); i++)
    ASSERT_EQ(reversed.get(i), naive::reversed_symbol(refs, forward[i])) << "reversed row " << i;
  EXPECT_EQ(reversed.sequence_count(), refs.size());
  EXPECT_EQ(reversed.non_circular_count(), text.non_circular_count());
  EXPECT_EQ(reversed.sampling_shift(), -1);
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
