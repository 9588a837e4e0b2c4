// The reversed array read off a text array, against rotations sorted
// forward by brute force.
#include "fm/index/index_reverse.h"

#include <gtest/gtest.h>

#include <random>

#include "common/activity.h"
#include "fm/index/burrows_wheeler_index_builder.h"
#include "naive_index.h"

namespace {

using naive::Reference;
using naive::Symbols;

// Reverses the naive text array of refs on a pool of threads, splitting
// off tasks from task_rows rows, and compares every row and the separator
// records with the naive reversed array.
void expect_naive_reverse(const std::vector<Reference> &refs, int threads, unsigned long long task_rows) {
  std::vector<size_t> ranks(refs.size());
  for (size_t s = 0; s < refs.size(); s++) ranks[s] = s;
  NucleotideArray *text = naive::text_array(refs, naive::text_rows(refs, ranks), -1).release();
  NucleotideArray *reversed = nullptr;
  RootActivity root;
  Activity *reversing = root.child(1.0, nullptr);
  reversing->total = text->length();
  {
    ThreadPool pool(threads);
    const uint64_t id =
        BurrowsWheelerIndexBuilder::schedule_reverse_burrows_wheeler(&text, &reversed, &pool, 0, nullptr, reversing, task_rows);
    pool.wait_for_task(id);
  }
  const std::vector<naive::Rotation> rows = naive::reversed_rows(refs);
  ASSERT_NE(reversed, nullptr);
  ASSERT_TRUE(reversed->is_finished());
  ASSERT_EQ(reversed->length(), rows.size());
  uint32_t separators = 0;
  for (uint64_t i = 0; i < rows.size(); i++) {
    const unsigned char want = naive::reversed_symbol(refs, rows[i]);
    ASSERT_EQ(reversed->get(i), want) << "row " << i;
    separators += want == 5;
  }
  EXPECT_EQ(reversed->non_circular_count(), separators);
  EXPECT_EQ(reversed->sequence_count(), refs.size());
  for (uint32_t k = 0; k < reversed->sequence_count(); k++) {
    const na_sequence &record = reversed->sequence(k);
    EXPECT_EQ(record.length, 0u);
    if (record.circular) {
      EXPECT_EQ(record.row, ~0ull);
    }
  }
  for (int c = 0; c < 6; c++) EXPECT_EQ(reversed->C()[c], text->C()[c]);
  EXPECT_EQ(reversing->done.load(), text->length());
  delete text;
  delete reversed;
}

TEST(ReverseThreads, RandomReferencesEqualTheNaiveReversedArray) {
  std::mt19937_64 rng(21);
  for (int round = 0; round < 30; round++) {
    SCOPED_TRACE(round);
    const std::vector<Reference> refs = naive::random_references(rng, 1 + rng() % 25, 1 + rng() % 90);
    expect_naive_reverse(refs, 1 + static_cast<int>(rng() % 4), 1 + rng() % 40);
  }
}

TEST(ReverseThreads, DeepIntervalsOfRunsAndRepeats) {
  // A long run of one base has a two-group interval at every length: the
  // larger child is taken up in the same call, so nothing recurses deep.
  std::mt19937_64 rng(2);
  Symbols run(1500, 2);
  Symbols unit = naive::random_bases(rng, 37);
  Symbols repeats;
  for (int k = 0; k < 40; k++) repeats.insert(repeats.end(), unit.begin(), unit.end());
  repeats.push_back(0);
  const std::vector<Reference> refs = {
      naive::make_reference(0, run, false),     naive::make_reference(1, repeats, false),
      naive::make_reference(2, repeats, true),  naive::make_reference(3, unit, true),
      naive::make_reference(4, unit, true),     naive::make_reference(5, Symbols(30, 4), false),
  };
  expect_naive_reverse(refs, 4, 64);
  expect_naive_reverse(refs, 1, 100000);
}

TEST(Reverse, SingleSequences) {
  const std::vector<std::pair<const char *, std::vector<Reference>>> cases = {
      {"lone base", {naive::make_reference(0, {3}, false)}},
      {"circular single base", {naive::make_reference(0, {1}, true)}},
      {"all four letters", {naive::make_reference(0, {0, 1, 2, 3}, false)}},
      {"only N", {naive::make_reference(0, {4, 4, 4}, false)}},
      {"two identical", {naive::make_reference(0, {0, 2, 1}, false), naive::make_reference(1, {0, 2, 1}, false)}},
  };
  for (const auto &[name, refs] : cases) {
    SCOPED_TRACE(name);
    expect_naive_reverse(refs, 2, 1);
  }
}

}  // namespace
