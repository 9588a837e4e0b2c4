// Rank, symbols, records and samples of nucleotide arrays against naive
// counts.
#include "fm/index/nucleotide_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Symbols = std::vector<unsigned char>;

// Array of the given symbols: every separator row gets a non-circular
// record (added in random order), plus circular_records circular ones.
std::unique_ptr<NucleotideArray> build_array(const Symbols &s, int circular_records = 0, int threads = 1) {
  std::vector<uint64_t> separators;
  for (uint64_t r = 0; r < s.size(); r++)
    if (s[r] == 5) separators.push_back(r);
  auto array = std::make_unique<NucleotideArray>(s.size(), static_cast<int>(separators.size()) + circular_records, 1);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; t++) {
    // Interleaved rows: neighbours in one raw byte are written by different
    // threads.
    workers.emplace_back([&, t] {
      NucleotideArrayWriter writer(array.get());
      for (uint64_t r = t; r < s.size(); r += threads) writer.set(r, s[r]);
      writer.finish();
    });
  }
  for (auto &w : workers) w.join();
  std::mt19937_64 rng(s.size());
  std::shuffle(separators.begin(), separators.end(), rng);
  uint32_t id = 0;
  for (uint64_t r : separators) array->add_sequence(id++, 1, false, 0, r);
  for (int k = 0; k < circular_records; k++) array->add_sequence(id++, 7, true, 3, rng() % (s.size() + 1));
  array->finish();
  return array;
}

// get at every row and occ_all_popcnt / occ at every row up to the length.
void expect_naive_counts(const Symbols &s, const NucleotideArray &array) {
  ASSERT_EQ(array.length(), s.size());
  uint64_t counts[6] = {0, 0, 0, 0, 0, 0};
  for (uint64_t r = 0; r <= s.size(); r++) {
    unsigned long long out[7];
    array.occ_all_popcnt(r, out);
    const uint64_t want[7] = {0,
                              counts[0],
                              counts[0] + counts[1],
                              counts[0] + counts[1] + counts[2],
                              counts[0] + counts[1] + counts[2] + counts[3],
                              r - counts[5],
                              r};
    for (int c = 0; c < 7; c++) ASSERT_EQ(out[c], want[c]) << "row " << r << " count " << c;
    if (r % 7 == 0) {
      for (unsigned char c = 0; c < 6; c++) ASSERT_EQ(array.occ(r, c), counts[c]) << "row " << r;
    }
    if (r == s.size()) break;
    ASSERT_EQ(array.get(r), s[r]) << "row " << r;
    counts[s[r]]++;
  }
  uint64_t below = 0;
  for (int c = 0; c < 6; c++) {
    EXPECT_EQ(array.C()[c], below) << "C[" << c << "]";
    below += counts[c];
  }
  EXPECT_EQ(array.non_circular_count(), counts[5]);
}

Symbols uniform(std::mt19937_64 &rng, size_t n, int alphabet) {
  Symbols s(n);
  for (auto &c : s) c = static_cast<unsigned char>(rng() % alphabet);
  return s;
}

// A, C, G, T with a distribution that changes every 64 rows, so the count
// codes of plain blocks take many values; now and then N or a separator.
Symbols biased_acgt(std::mt19937_64 &rng, size_t n, int rare_one_in) {
  Symbols s(n);
  unsigned weights[4] = {1, 1, 1, 1};
  for (size_t i = 0; i < n; i++) {
    if (i % 64 == 0)
      for (auto &w : weights) w = static_cast<unsigned>(rng() % 8);
    if (rare_one_in > 0 && rng() % rare_one_in == 0) {
      s[i] = static_cast<unsigned char>(4 + rng() % 2);
      continue;
    }
    const unsigned total = weights[0] + weights[1] + weights[2] + weights[3] + 1;
    unsigned pick = static_cast<unsigned>(rng() % total);
    unsigned char c = 3;
    for (unsigned char k = 0; k < 4; k++) {
      if (pick < weights[k]) {
        c = k;
        break;
      }
      pick -= weights[k];
    }
    s[i] = c;
  }
  return s;
}

// Runs of one symbol (up to 600 rows): full blocks of N and separators,
// plain blocks of one letter, mixed blocks where runs meet.
Symbols runs(std::mt19937_64 &rng, size_t n) {
  Symbols s;
  while (s.size() < n) {
    const unsigned char c = static_cast<unsigned char>(rng() % 6);
    const size_t length = 1 + rng() % 600;
    s.insert(s.end(), std::min(length, n - s.size()), c);
  }
  return s;
}

TEST(NucleotideArray, CountsEqualNaiveCountsAroundBlockSizes) {
  std::mt19937_64 rng(1);
  const size_t lengths[] = {0, 1, 2, 3, 63, 64, 65, 127, 128, 129, 191, 192, 193, 383, 384, 385, 576, 1000, 5000};
  for (size_t n : lengths) {
    const std::pair<const char *, Symbols> cases[] = {
        {"uniform over six", uniform(rng, n, 6)},
        {"letters only", uniform(rng, n, 4)},
        {"biased letters, rare N and separators", biased_acgt(rng, n, 300)},
        {"runs", runs(rng, n)},
        {"all N", Symbols(n, 4)},
        {"all A", Symbols(n, 0)},
        {"all T", Symbols(n, 3)},
        {"all separators", Symbols(n, 5)},
    };
    for (const auto &[name, s] : cases) {
      SCOPED_TRACE(std::string(name) + ", length " + std::to_string(n));
      expect_naive_counts(s, *build_array(s, static_cast<int>(n % 3)));
    }
  }
}

TEST(NucleotideArray, CountsEqualNaiveCountsBeyondOneMacroBlock) {
  std::mt19937_64 rng(2);
  const size_t macro_rows = 65536ull * 192;
  Symbols s = biased_acgt(rng, macro_rows + 1000, 100000);
  // Runs of N and separators across the macro-block boundary, and a long
  // run of T in the second macro block.
  std::fill(s.begin() + macro_rows - 500, s.begin() + macro_rows + 300, 4);
  s[macro_rows - 1] = 5;
  s[macro_rows] = 5;
  std::fill(s.end() - 400, s.end() - 10, 3);
  expect_naive_counts(s, *build_array(s, 2, 4));
}

TEST(NucleotideArray, BlockKinds) {
  struct Case {
    const char *name;
    Symbols s;
    uint64_t blocks;
    uint32_t extra_blocks;
  };
  Symbols one_n(192, 0);
  one_n[77] = 4;
  Symbols one_separator(192, 2);
  one_separator[191] = 5;
  Symbols plain_then_full(384, 1);
  std::fill(plain_then_full.begin() + 192, plain_then_full.end(), 4);
  Symbols short_mixed_tail(200, 3);
  short_mixed_tail[199] = 4;
  const Case cases[] = {
      {"192 letters: a second, empty block", Symbols(192, 1), 2, 0},
      {"one N among 191 A is mixed", one_n, 2, 1},
      {"one separator among 191 G is mixed", one_separator, 2, 1},
      {"192 N is full", Symbols(192, 4), 2, 0},
      {"plain then full", plain_then_full, 3, 0},
      {"a last block of 8 rows with one N", short_mixed_tail, 2, 1},
      {"191 rows, all separators", Symbols(191, 5), 1, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<NucleotideArray> array = build_array(c.s);
    EXPECT_EQ(array->header().block_count, c.blocks);
    EXPECT_EQ(array->header().extra_block_count, c.extra_blocks);
    expect_naive_counts(c.s, *array);
  }
}

TEST(NucleotideArray, LookupShiftFollowsBlocksPerSequence) {
  struct Case {
    const char *name;
    size_t sequences;
    size_t rows_each;
    uint32_t shift;
  };
  const Case cases[] = {
      {"1000 sequences of 10 rows", 1000, 10, 22},
      {"one sequence of 100 blocks", 1, 192 * 100, 8},
      {"one sequence of 4096 blocks", 1, 192 * 4096, 10},
      {"two sequences of 2^14 blocks", 2, 192 * 16384, 12},
  };
  std::mt19937_64 rng(3);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Symbols s;
    for (size_t k = 0; k < c.sequences; k++) {
      Symbols part = uniform(rng, c.rows_each - 1, 5);
      s.insert(s.end(), part.begin(), part.end());
      s.push_back(5);
    }
    std::unique_ptr<NucleotideArray> array = build_array(s);
    EXPECT_EQ(array->header().lookup_shift, c.shift);
    EXPECT_EQ(array->header().lookup_size, ((array->header().block_count - 1) >> c.shift) + 2);
    if (c.sequences == 1000) expect_naive_counts(s, *array);
  }
}

TEST(NucleotideArray, RecordsNonCircularFirstSortedByRow) {
  std::mt19937_64 rng(4);
  Symbols s = uniform(rng, 3000, 6);
  std::unique_ptr<NucleotideArray> array = build_array(s, 40);
  const uint32_t non_circular = array->non_circular_count();
  ASSERT_EQ(array->sequence_count(), non_circular + 40);
  for (uint32_t i = 0; i < array->sequence_count(); i++) {
    EXPECT_EQ(array->sequence(i).circular, i < non_circular ? 0 : 1) << i;
    if (i < non_circular) {
      EXPECT_EQ(array->get(array->sequence(i).row), 5);
      if (i > 0) {
        EXPECT_LT(array->sequence(i - 1).row, array->sequence(i).row);
      }
    }
  }
}

TEST(NucleotideArray, EachWindowSamplesExactlyOneRow) {
  for (int shift : {0, 1, 3, 5, 8}) {
    const uint64_t window = 1ull << shift;
    const uint64_t mask = window - 1;
    for (uint64_t base = 0; base < 300 * window; base += window) {
      int sampled = 0;
      for (uint64_t r = base; r < base + window; r++) sampled += NucleotideArray::is_sampled_row(r, mask);
      ASSERT_EQ(sampled, 1) << "shift " << shift << " window at " << base;
    }
  }
  // With shift 0 every row is sampled, and row 0 always is.
  for (uint64_t r = 0; r < 1000; r++) EXPECT_TRUE(NucleotideArray::is_sampled_row(r, 0));
  EXPECT_TRUE(NucleotideArray::is_sampled_row(0, 0xFFFF));
}

TEST(NucleotideArray, SampleCountCoversTheLastSampledRow) {
  for (uint64_t length : {1ull, 2ull, 15ull, 16ull, 17ull, 100ull, 1000ull, 4097ull}) {
    for (int shift : {0, 2, 4, 6}) {
      NucleotideArray array(length, 3, 100);
      array.init_position_sampling(shift);
      uint64_t largest = 0;
      for (uint64_t r = 0; r < length; r++)
        if (array.is_sampled(r)) largest = r;
      EXPECT_EQ(array.header().sample_count, (largest >> shift) + 1) << length << " " << shift;
      // 7 position bits (99) + 2 id bits (2).
      EXPECT_EQ(array.position_samples()->bits(), 9u);
    }
  }
}

// Sequences written row by row from several threads at once: record
// slots, separators, samples (compare-and-swap on shared words) and the
// mapping of sequences without a sampled row.
TEST(NucleotideArray, SequenceWritersFromManyThreads) {
  const uint32_t sequences = 8, length = 1000;
  const uint64_t rows = uint64_t{sequences} * length;
  NucleotideArray array(rows, sequences, length);
  array.init_position_sampling(4);
  std::mt19937_64 rng(9);
  Symbols s = uniform(rng, rows, 5);
  // Row r belongs to sequence r % 8 at position r / 8; the last position of
  // each sequence is its separator.
  for (uint64_t r = rows - sequences; r < rows; r++) s[r] = 5;
  std::vector<std::thread> workers;
  for (uint32_t id = 0; id < sequences; id++) {
    workers.emplace_back([&, id] {
      NucleotideArraySequenceWriter writer(&array, id, length);
      for (uint64_t r = id; r < rows; r += sequences) writer.set(r, static_cast<unsigned int>(r / sequences), s[r]);
      writer.finish();
    });
  }
  for (auto &w : workers) w.join();
  array.finish();
  expect_naive_counts(s, array);
  ASSERT_EQ(array.non_circular_count(), sequences);
  for (uint32_t i = 0; i < sequences; i++) {
    const na_sequence &record = array.sequence(i);
    EXPECT_EQ(record.row, rows - sequences + i);
    EXPECT_EQ(record.sequence_id, i);
    EXPECT_EQ(record.position, length - 1);
    EXPECT_EQ(record.length, length);
  }
  for (uint64_t r = 0; r < rows; r++) {
    if (!array.is_sampled(r)) continue;
    const uint64_t v = array.sample(r);
    ASSERT_EQ(array.sample_sequence(v), r % sequences) << r;
    ASSERT_EQ(array.sample_position(v), r / sequences) << r;
  }
  // Every sequence met sampled rows: no mappings.
  EXPECT_TRUE(array.position_mappings().empty());
  EXPECT_EQ(array.header().mapping_count, 0u);
}

TEST(NucleotideArray, SequenceWithoutSampledRowGetsOneMapping) {
  // Shift 4: rows 0..31 form two windows; row 0 and one row of the second
  // window are sampled. Sequence 1 takes three rows that are not sampled.
  const uint64_t mask = 15;
  std::vector<uint64_t> unsampled;
  for (uint64_t r = 1; r < 32 && unsampled.size() < 3; r++)
    if (!NucleotideArray::is_sampled_row(r, mask)) unsampled.push_back(r);
  NucleotideArray array(32, 2, 29);
  array.init_position_sampling(4);
  NucleotideArraySequenceWriter first(&array, 0, 29);
  NucleotideArraySequenceWriter second(&array, 1, 3);
  unsigned int position = 0;
  for (uint64_t r = 0; r < 32; r++) {
    if (std::find(unsampled.begin(), unsampled.end(), r) != unsampled.end()) continue;
    first.set(r, position++, 2);
  }
  second.set(unsampled[2], 2, 1);
  second.set(unsampled[1], 1, 1);
  second.set(unsampled[0], 0, 3);
  first.finish();
  second.finish();
  array.finish();
  ASSERT_EQ(array.position_mappings().size(), 1u);
  const NucleotideArray::_position_mapping &m = array.position_mappings()[0];
  EXPECT_EQ(m.row, unsampled[0]);
  EXPECT_EQ(m.sequence_id, 1u);
  EXPECT_EQ(m.position, 0u);
  EXPECT_EQ(array.sequence_count(), 2u);
  EXPECT_EQ(array.non_circular_count(), 0u);
}

TEST(NucleotideArray, ShrinkAndFinishEqualsTheShortArray) {
  std::mt19937_64 rng(12);
  Symbols s = runs(rng, 700);
  std::vector<uint64_t> separators;
  for (uint64_t r = 0; r < s.size(); r++)
    if (s[r] == 5) separators.push_back(r);
  NucleotideArray array(1000, static_cast<int>(separators.size()) + 5, 1);
  NucleotideArrayWriter writer(&array);
  for (uint64_t r = 0; r < s.size(); r++) writer.set(r, s[r]);
  for (uint64_t r : separators) array.add_sequence(0, 1, false, 0, r);
  array.shrink_and_finish(700, static_cast<int>(separators.size()));
  expect_naive_counts(s, array);
}

TEST(NucleotideArray, MemoryUsageCountsEveryArray) {
  std::mt19937_64 rng(13);
  Symbols s = uniform(rng, 10000, 6);
  std::unique_ptr<NucleotideArray> array = build_array(s);
  const na_header &h = array->header();
  const uint64_t arrays = h.block_count * 64 + h.extra_block_count * 96 + h.macro_block_count * 32 +
                          h.sequence_count * 24 + h.lookup_size * 4;
  EXPECT_EQ(array->memory_usage(), sizeof(NucleotideArray) + arrays);
}

TEST(NucleotideArrayDeath, BuilderFaultsAreReported) {
  EXPECT_EXIT(
      {
        NucleotideArray array(10, 1, 10);
        array.add_sequence(0, 10, true, 0, 0);
        array.add_sequence(1, 10, true, 0, 0);
      },
      testing::ExitedWithCode(1), "^Nucleotide array: more sequence records than announced\\.\n$");
  EXPECT_EXIT(
      {
        NucleotideArray array(10, 1, 10);
        NucleotideArrayWriter writer(&array);
        writer.set(3, 5);
        writer.set(4, 5);
        array.add_sequence(0, 10, false, 0, 3);
        array.finish();
      },
      testing::ExitedWithCode(1),
      "^Nucleotide array: separators and non-circular sequence records do not match\\.\n$");
  EXPECT_EXIT(
      {
        NucleotideArray array(10, 1, 10);
        array.init_position_sampling(64);
      },
      testing::ExitedWithCode(1), "^Nucleotide array: sampling shift out of range\\.\n$");
  EXPECT_EXIT(
      {
        NucleotideArray array(10, 2, 10);
        array.init_position_sampling(2);
        NucleotideArraySequenceWriter writer(&array, 2, 10);
      },
      testing::ExitedWithCode(1), "^Nucleotide array: sequence id beyond the sample width\\.\n$");
}

}  // namespace
