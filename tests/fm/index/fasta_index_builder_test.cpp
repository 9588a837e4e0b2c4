// Index building from FASTA sources: sequence ids and infos over files,
// filters, circular files, the memory budget and the length limit.
#include "fm/index/fasta_index_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "common/activity.h"
#include "memory_stream.h"
#include "naive_index.h"

namespace {

using naive::Reference;
using naive::Symbols;

std::string letters(const Symbols &bases) {
  std::string s;
  for (unsigned char c : bases) s.push_back("ACGTN"[c]);
  return s;
}

// FASTA text of the bases, lines of at most 60 letters.
std::string fasta(const std::vector<std::pair<std::string, Symbols>> &records) {
  std::string text;
  for (const auto &[name, bases] : records) {
    text += ">" + name + "\n";
    const std::string l = letters(bases);
    for (size_t at = 0; at < l.size(); at += 60) text += l.substr(at, 60) + "\n";
  }
  return text;
}

TEST(FastaIndexBuilderThreads, FilesFilterAndCircularFlags) {
  std::mt19937_64 rng(7);
  const Symbols a = naive::random_bases(rng, 300), b = naive::random_bases(rng, 90), c = naive::random_bases(rng, 45);
  // File 1 (linear): a, an empty record, b, a record the filter drops.
  // File 2 (circular): c and b again. File 3: nothing at all.
  const std::string one = fasta({{"a", a}, {"empty", {}}, {"b", b}, {"skip me", c}});
  const std::string two = fasta({{"c", c}, {"b2", b}});
  RootActivity root;
  FastaIndexBuilder builder(1ul << 30, 1000, 3, &root, 4);
  int seen = 0;
  builder.set_sequence_filter([&](Sequence *s) {
    seen++;
    // C to T, as the bisulphite conversion does.
    for (unsigned int i = 0; i < s->length; i++)
      if (s->symbols[i] == 1) s->symbols[i] = 3;
    return std::string(s->name) != "skip me";
  });
  builder.parse_file(new ryx_test::MemoryReader(one, nullptr, "one.fa"), 0);
  builder.parse_file(new ryx_test::MemoryReader(two, nullptr, "two.fa"), 1);
  builder.parse_file(new ryx_test::MemoryReader("", nullptr, "three.fa"), 0);
  builder.finish();
  const std::vector<FastaIndexBuilder::SequenceInfo> infos = builder.get_sequence_info();
  naive::Built built;
  built.matcher = builder.get_result();
  EXPECT_EQ(seen, 5);

  ASSERT_EQ(infos.size(), 4u);
  const uint32_t want[4][4] = {{0, 0, 300, 0}, {1, 0, 90, 0}, {2, 1, 45, 1}, {3, 1, 90, 1}};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(infos[i].sequence_id, want[i][0]);
    EXPECT_EQ(infos[i].file_index, want[i][1]);
    EXPECT_EQ(infos[i].length, want[i][2]);
    EXPECT_EQ(infos[i].circular, want[i][3]);
  }
  auto converted = [](Symbols x) {
    for (auto &s : x)
      if (s == 1) s = 3;
    return x;
  };
  const std::vector<Reference> refs = {
      naive::make_reference(0, converted(a), false), naive::make_reference(1, converted(b), false),
      naive::make_reference(2, converted(c), true), naive::make_reference(3, converted(b), true)};
  // Four sequences: one merge, in order of length (with separators: 45,
  // 90, 91, 301 rows).
  built.tie_order = {2, 3, 1, 0};
  naive::expect_naive_index(refs, built, 3);
  EXPECT_DOUBLE_EQ(root.get_progress(), 1.0);
}

TEST(FastaIndexBuilderThreads, TinyBudgetKeepsOneSequenceInWork) {
  std::mt19937_64 rng(8);
  std::vector<std::pair<std::string, Symbols>> records;
  std::vector<Reference> refs;
  std::set<Symbols> used;
  for (unsigned int id = 0; id < 60; id++) {
    Symbols bases = naive::random_bases(rng, 1 + rng() % 150);
    while (!used.insert(bases).second) bases = naive::random_bases(rng, 1 + rng() % 150);
    records.push_back({"s" + std::to_string(id), bases});
    refs.push_back(naive::make_reference(id, bases, false));
  }
  const std::string text = fasta(records);
  naive::Built small, large;
  {
    // With nothing to spare, a sequence waits until the one before it is
    // sorted (the first two go together, before any work starts).
    FastaIndexBuilder builder(0, 0, 4, nullptr, 8);
    builder.parse_file(new ryx_test::MemoryReader(text), 0);
    builder.finish();
    small.matcher = builder.get_result();
    EXPECT_LE(builder.peak_sequences_in_work(), 2u);
  }
  {
    FastaIndexBuilder builder(1ul << 32, 0, 4, nullptr, 8);
    builder.parse_file(new ryx_test::MemoryReader(text), 0);
    builder.finish();
    large.matcher = builder.get_result();
  }
  // No two sequences are equal, so no ties need ordering.
  std::vector<unsigned int> ids;
  for (const Reference &r : refs) ids.push_back(r.id);
  small.tie_order = large.tie_order = ids;
  naive::expect_naive_index(refs, small, 4);
  naive::expect_naive_index(refs, large, 4);
}

TEST(FastaIndexBuilder, FilesWithoutSequencesGiveTheEmptyIndex) {
  FastaIndexBuilder builder(1000, 10, 4, nullptr, 2);
  builder.parse_file(new ryx_test::MemoryReader(">empty\n\n>also empty\n"), 0);
  builder.finish();
  EXPECT_TRUE(builder.get_sequence_info().empty());
  std::unique_ptr<BidirectionalMatcher> matcher = builder.get_result();
  EXPECT_EQ(matcher->text_array()->length(), 1u);
  EXPECT_EQ(matcher->text_array()->get(0), 5);
}

TEST(FastaIndexBuilderDeath, TooLongSequencesAreRefusedByName) {
  for (int circular : {0, 1}) {
    EXPECT_EXIT(
        {
          FastaIndexBuilder builder(1000, 10, 4, nullptr, 1);
          // The filter may rewrite a sequence; here it claims the longest
          // length that no longer fits (the symbols are never read).
          builder.set_sequence_filter([circular](Sequence *s) {
            s->length = circular ? 0x80000000u : 0x7FFFFFFFu;
            return true;
          });
          builder.parse_file(new ryx_test::MemoryReader(">chr1 long\nACGT\n", nullptr, "ref.fa"), circular);
        },
        testing::ExitedWithCode(1),
        circular ? "^Sequence 'chr1 long' in ref\\.fa is too long to index: 2147483648 bases, at most 2147483647\\.\n$"
                 : "^Sequence 'chr1 long' in ref\\.fa is too long to index: 2147483647 bases, at most 2147483646\\.\n$");
  }
}

}  // namespace
