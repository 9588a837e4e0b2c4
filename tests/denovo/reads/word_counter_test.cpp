// Word counter tables and lookups: word parts and masks, hash values worked
// out by hand-checked big-number arithmetic, canonical words against a
// symbol-by-symbol model, the packing loops against plain models, the
// table life of a build, clones, the generator's draws, and lookups on
// tables filled by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "denovo/reads/word_counter.h"

#include "common/random_state.h"
#include "denovo/reads/word_counter_lookup.h"

namespace {

using Codes = std::vector<uint8_t>;

Codes random_codes(std::mt19937 &rng, int k) {
  Codes c(k);
  for (auto &x : c) x = static_cast<uint8_t>(rng() & 3);
  return c;
}

Codes reverse_complement(const Codes &w) {
  Codes rc(w.size());
  for (size_t i = 0; i < w.size(); i++) rc[i] = static_cast<uint8_t>(3 - w[w.size() - 1 - i]);
  return rc;
}

Codes codes_of(const char *letters) {
  Codes c;
  for (const char *p = letters; *p; p++) c.push_back(static_cast<uint8_t>(std::string("ACGT").find(*p)));
  return c;
}

// The 2k-bit value of a word split into its two parts, symbol by symbol:
// symbol i of k lands at bit 2 (k - 1 - i) of the whole number.
word_value_t value_of(const Codes &w) {
  word_value_t v{0, 0};
  const int k = static_cast<int>(w.size());
  for (int i = 0; i < k; i++) {
    const int bit = 2 * (k - 1 - i);
    if (bit >= 64)
      v.high |= static_cast<uint64_t>(w[i]) << (bit - 64);
    else
      v.low |= static_cast<uint64_t>(w[i]) << bit;
  }
  return v;
}

bool same(word_value_t a, word_value_t b) { return a.high == b.high && a.low == b.low; }

TEST(WordCounterTables, WordPartsMasksAndShifts) {
  const struct {
    int k;
    uint64_t mask;
    int shift;
  } cases[] = {{12, 0xFFFFFF, 22}, {21, (1ull << 42) - 1, 40}, {32, ~0ull, 62},
               {33, 3, 0},         {40, 0xFFFF, 14},           {64, ~0ull, 62}};
  for (const auto &c : cases) {
    word_counter_t *counter = word_counter_new(12, c.k);
    EXPECT_EQ(counter->tables->top_mask, c.mask) << c.k;
    EXPECT_EQ(counter->tables->top_shift, c.shift) << c.k;
    EXPECT_EQ(counter->tables->word_size, c.k);
    EXPECT_EQ(counter->tables->multiplier_cursor, 0);
    word_counter_free(counter);
  }
}

// Expected values from exact integer arithmetic on the full products.
TEST(WordCounterTables, HashValues) {
  const struct {
    const char *word;
    uint32_t multiplier;
    uint64_t high, low, hash;
  } cases[] = {
      {"ACGTACGTACGTACGTACGTACGTACGTACGT", 0xA0A01BFD, 0, 0x1b1b1b1b1b1b1b1b, 0x87968663ae023429},
      {"ACGTACGTACGTACGTACGTACGTACGTACGT", 0xBA4DFD79, 0, 0x1b1b1b1b1b1b1b1b, 0x7261cb81f1ca1f08},
      {"GATTACAGATTACAGATTACAGATTACAGGCC", 0xA0A01BFD, 0, 0xa5ec37b0dec37b0d, 0x3e70033758748ada},
      {"TACGTACGTACGTACGTACGTACGTACGTACGT", 0xA0A01BFD, 3, 0x1b1b1b1b1b1b1b1b, 0x867565bfb903d7ca},
      {"CATCATCATCATCATCATCATCATCATCATCAT", 0xBA4DFD79, 1, 0x34d34d34d34d34d3, 0x6576e6fe334c085d},
      {"GATTACAGATTACAGATTACAGATTACAGATTACAGATTACAGATTACAGATTACAGATTACAC", 0xA0A01BFD, 0xbb0dec37b0dec37b,
       0x0dec37b0dec37b0d, 0x1e78bfad0ee44b66},
      {"ACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGT", 0xBA4DFD79, 0x1b1b1b1b1b1b1b1b,
       0x1b1b1b1b1b1b1b1b, 0x7261e74bd1b1},
      {"TTTTGGGGCCCCAAAATTTTGGGGCCCCAAAATTTTGGGGCCCCAAAATTTTGGGGCCCCAAAA", 0xA0A01BFD, 0xffaa5500ffaa5500,
       0xffaa5500ffaa5500, 0xebd589c37dfd5d89},
  };
  for (const auto &c : cases) {
    const Codes w = codes_of(c.word);
    word_counter_t *counter = word_counter_new(12, static_cast<int32_t>(w.size()));
    const word_value_t x = word_counter_canonical_word(counter, w.data());
    EXPECT_EQ(x.high, c.high) << c.word;
    EXPECT_EQ(x.low, c.low) << c.word;
    EXPECT_EQ(word_hash(x, c.multiplier), c.hash) << c.word;
    counter_table_t table{nullptr, nullptr, 0xFFF, c.multiplier};
    EXPECT_EQ(word_hash_index(x, &table), c.hash & 0xFFF);
    word_counter_free(counter);
  }
}

// For one-part words the three-word product folds to the two-word formula.
TEST(WordCounterTables, NarrowHashIsTheTwoWordFormula) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < 10000; i++) {
    const uint64_t x = rng();
    const uint32_t m = word_hash_multipliers[i % 16];
    const unsigned __int128 p = static_cast<unsigned __int128>(x) * m;
    const uint64_t lo = static_cast<uint64_t>(p), hi = static_cast<uint64_t>(p >> 64);
    ASSERT_EQ(word_hash({0, x}, m), lo ^ (lo >> 40) ^ (hi >> 16) ^ (hi << 24));
  }
}

TEST(WordCounterTables, CanonicalWordsAgainstSymbolModel) {
  std::mt19937 rng(9);
  for (int k : {12, 21, 31, 32, 33, 47, 63, 64}) {
    word_counter_t *counter = word_counter_new(12, k);
    for (int i = 0; i < 300; i++) {
      const Codes w = random_codes(rng, k);
      const Codes rc = reverse_complement(w);
      const word_value_t x = word_counter_canonical_word(counter, w.data());
      ASSERT_TRUE(same(x, value_of(std::max(w, rc)))) << "k " << k;
      ASSERT_TRUE(same(x, word_counter_canonical_word(counter, rc.data())));
      const word_window_t both = word_counter_word_window(counter, w.data());
      ASSERT_TRUE(same(both.forward, value_of(w)));
      ASSERT_TRUE(same(both.reverse, value_of(rc)));
    }
    word_counter_free(counter);
  }
  // A palindrome is its own reverse complement.
  word_counter_t *counter = word_counter_new(12, 14);
  const Codes palindrome = codes_of("ACGTTAGCTAACGT");
  ASSERT_EQ(palindrome, reverse_complement(palindrome));
  EXPECT_TRUE(same(word_counter_canonical_word(counter, palindrome.data()), value_of(palindrome)));
  word_counter_free(counter);
}

TEST(WordCounterTables, ColourWordsAreCanonicalByPlainReversal) {
  word_counter_t *counter = word_counter_new_colour(12, 4);
  const Codes a = {0, 1, 2, 3}, b = {3, 2, 1, 0}, c = {0, 1, 1, 3};
  EXPECT_TRUE(same(word_counter_canonical_word(counter, a.data()), word_counter_canonical_word(counter, b.data())));
  EXPECT_TRUE(same(word_counter_canonical_word(counter, a.data()), value_of(b)));
  // 0113 reversed is 3110, not its complement 2200.
  EXPECT_TRUE(same(word_counter_canonical_word(counter, c.data()), value_of({3, 1, 1, 0})));
  word_counter_free(counter);
}

// 2-bit counters of 2^n entries, random, packed to the bits of those that
// reached 2.
TEST(WordCounterTables, PackTwoBitCountersToFilterBits) {
  std::mt19937 rng(13);
  for (int n : {7, 8, 13}) {
    word_counter_t *counter = word_counter_new(n, 21);
    word_counter_alloc_pass1_tables(counter);
    counter_table_t &a = counter->tables->filter_a;
    counter_table_t &b = counter->tables->filter_b;
    const uint64_t entries = 1ull << n;
    std::vector<int> values(entries);
    for (uint64_t i = 0; i < entries; i++) {
      values[i] = static_cast<int>(rng() & 3);
      a.data[i / 4] |= static_cast<uint8_t>(values[i] << (2 * (i % 4)));
      b.data[i / 4] |= static_cast<uint8_t>((i % 4) << (2 * (i % 4)));  // 0, 1, 2, 3 repeated
    }
    word_counter_pack_filters(counter);
    for (uint64_t i = 0; i < entries; i++)
      ASSERT_EQ((a.data[i / 8] >> (i % 8)) & 1, values[i] >= 2 ? 1 : 0) << "n " << n << " entry " << i;
    for (uint64_t i = 0; i < entries / 8; i++) ASSERT_EQ(b.data[i], 0xCC);
    EXPECT_EQ(a.index_mask, entries - 1);
    word_counter_free(counter);
  }
}

TEST(WordCounterTables, ClearOnesLeavesEveryOtherCount) {
  std::mt19937 rng(17);
  word_counter_t *counter = word_counter_new(12, 21);
  word_counter_alloc_final_table(counter);
  counter_table_t &c = counter->tables->count_table;
  const uint64_t entries = 1ull << 11;
  ASSERT_EQ(c.index_mask, entries - 1);
  std::vector<int> values(entries);
  for (uint64_t i = 0; i < entries; i++) {
    values[i] = static_cast<int>(rng() % 4 == 0 ? 1 : rng() & 15);
    c.data[i / 2] |= static_cast<uint8_t>(values[i] << (4 * (i % 2)));
  }
  word_counter_finish_tables(counter);
  uint64_t counts[16];
  EXPECT_EQ(word_counter_count_histogram(counter, counts), entries);
  std::map<int, uint64_t> expected;
  for (uint64_t i = 0; i < entries; i++) {
    const int v = values[i] == 1 ? 0 : values[i];
    ASSERT_EQ((c.data[i / 2] >> (4 * (i % 2))) & 15, v) << i;
    expected[v]++;
  }
  EXPECT_EQ(counts[1], 0u);
  for (int v = 0; v < 16; v++) EXPECT_EQ(counts[v], expected[v]) << v;
  word_counter_free(counter);
}

// Multipliers follow the order of allocation: A 0, B 1, a refinement table
// per pass, then the final table and U.
TEST(WordCounterTables, TableLifeAndMultipliers) {
  word_counter_t *counter = word_counter_new(12, 21);
  word_counter_tables_t *t = counter->tables;
  word_counter_alloc_pass1_tables(counter);
  EXPECT_EQ(t->filter_a.multiplier, 0xA0A01BFDu);
  EXPECT_EQ(t->filter_b.multiplier, 0x9CB944C9u);
  word_counter_pack_filters(counter);
  word_counter_alloc_refine_table(counter);
  EXPECT_EQ(t->count_table.multiplier, word_hash_multipliers[2]);
  EXPECT_EQ(t->count_table.index_mask, (1ull << 12) - 1);
  word_counter_install_refine_table(counter, 0);
  EXPECT_EQ(t->filter_a.multiplier, word_hash_multipliers[2]);
  EXPECT_EQ(t->filter_b.multiplier, word_hash_multipliers[1]);
  EXPECT_EQ(t->count_table.allocation, nullptr);
  word_counter_alloc_refine_table(counter);
  word_counter_install_refine_table(counter, 1);
  EXPECT_EQ(t->filter_b.multiplier, word_hash_multipliers[3]);
  word_counter_alloc_final_table(counter);
  EXPECT_EQ(t->count_table.multiplier, word_hash_multipliers[4]);
  EXPECT_EQ(t->count_table.index_mask, (1ull << 11) - 1);
  word_counter_finish_tables(counter);
  EXPECT_EQ(t->used_table.multiplier, word_hash_multipliers[5]);
  EXPECT_EQ(t->used_table.index_mask, (1ull << 12) - 1);
  for (uint64_t i = 0; i < (1ull << 12) / 8; i++) ASSERT_EQ(t->used_table.data[i], 0);
  for (const counter_table_t *slot : {&t->filter_a, &t->filter_b, &t->count_table, &t->used_table})
    EXPECT_EQ(reinterpret_cast<uintptr_t>(slot->data) - reinterpret_cast<uintptr_t>(slot->allocation) < 64, true);
  word_counter_free(counter);
}

TEST(WordCounterTables, ClonesShareTheTables) {
  word_counter_t *counter = word_counter_new(12, 21);
  word_counter_t *other = word_counter_new(12, 21);
  word_counter_alloc_pass1_tables(counter);
  word_counter_alloc_pass1_tables(other);
  EXPECT_EQ(other->tables->filter_a.multiplier, counter->tables->filter_a.multiplier);
  EXPECT_EQ(other->tables->filter_b.multiplier, counter->tables->filter_b.multiplier);
  // A clone takes no seed from the seed source: the seeds drawn after it
  // are those drawn without it.
  set_seed_int_source(99);
  const unsigned int next_seed = get_seed_int();
  set_seed_int_source(99);
  word_counter_t *clone = word_counter_clone(counter);
  EXPECT_EQ(get_seed_int(), next_seed);
  EXPECT_EQ(clone->tables->random_seed, counter->tables->random_seed);
  EXPECT_EQ(clone->log_size, 12);
  EXPECT_EQ(clone->word_size, 21);
  EXPECT_EQ(clone->tables->filter_a.data, counter->tables->filter_a.data);
  EXPECT_EQ(clone->tables->filter_a.allocation, nullptr);
  EXPECT_EQ(clone->tables->filter_b.multiplier, counter->tables->filter_b.multiplier);
  EXPECT_EQ(clone->tables->multiplier_cursor, 0);
  clone->tables->filter_a.data[5] = 0x42;
  word_counter_clone_free(clone);
  EXPECT_EQ(counter->tables->filter_a.data[5], 0x42);
  word_counter_free(other);
  word_counter_free(counter);
}

TEST(WordCounterTables, MemorySize) {
  for (int d : {12, 20, 30}) {
    word_counter_t *counter = word_counter_new(d, 31);
    EXPECT_EQ(word_counter_get_memory_size(counter), 3 * ((1ull << (d - 2)) + 78) + 24) << d;
    word_counter_free(counter);
  }
}

// Draws come from {1, 3, 5, 7, 8, ..., 14} with halving chances, so an
// entry at v rises with the chance the count table promises.
TEST(WordCounterTables, GeneratorDraws) {
  word_counter_tables_t tables{};
  tables.random_seed = 12345;
  std::map<int, int> seen;
  const int draws = 400000;
  for (int i = 0; i < draws; i++) seen[word_counter_draw(&tables)]++;
  for (const auto &[value, count] : seen) {
    EXPECT_TRUE(value == 1 || value == 3 || value == 5 || value >= 7) << value;
    EXPECT_LE(value, 14);
  }
  const struct {
    int v;
    double chance;
  } rises[] = {{2, 1.0 / 2}, {3, 1.0 / 2}, {4, 1.0 / 4}, {6, 1.0 / 8}, {8, 1.0 / 16}, {10, 1.0 / 64}, {15, 0}};
  for (const auto &r : rises) {
    int at_least = 0;
    for (const auto &[value, count] : seen)
      if (value >= r.v) at_least += count;
    const double observed = static_cast<double>(at_least) / draws;
    EXPECT_NEAR(observed, r.chance, 0.15 * r.chance + 0.002) << "v " << r.v;
  }
}

// A finished counter for k = 21 with the given words set by hand: each
// word's bits in A and B, its count in C.
struct HandTables {
  word_counter_t *counter;
  explicit HandTables(int colour = 0) {
    counter = colour ? word_counter_new_colour(14, 21) : word_counter_new(14, 21);
    word_counter_alloc_pass1_tables(counter);
    word_counter_pack_filters(counter);
    word_counter_alloc_final_table(counter);
    word_counter_finish_tables(counter);
  }
  ~HandTables() { word_counter_free(counter); }
  void set_bit(counter_table_t &t, word_value_t x) {
    const uint64_t i = word_hash_index(x, &t);
    t.data[i / 8] |= static_cast<uint8_t>(1 << (i % 8));
  }
  void set(const Codes &w, bool a, bool b, int count) {
    word_counter_tables_t *t = counter->tables;
    const word_value_t x = word_counter_canonical_word(counter, w.data());
    if (a) set_bit(t->filter_a, x);
    if (b) set_bit(t->filter_b, x);
    const uint64_t i = word_hash_index(x, &t->count_table);
    uint8_t &byte = t->count_table.data[i / 2];
    byte = static_cast<uint8_t>((byte & ~(15 << (4 * (i % 2)))) | count << (4 * (i % 2)));
  }
};

TEST(WordCounterLookup, CountsNeedBothFilterBits) {
  HandTables hand;
  std::mt19937 rng(21);
  const Codes both = random_codes(rng, 21), only_a = random_codes(rng, 21), only_b = random_codes(rng, 21),
              absent = random_codes(rng, 21);
  hand.set(both, true, true, 9);
  hand.set(only_a, true, false, 7);
  hand.set(only_b, false, true, 7);
  word_counter_t *clone = word_counter_clone(hand.counter);
  EXPECT_EQ(word_counter_get_count(clone, both.data()), 9);
  EXPECT_EQ(word_counter_get_count(clone, reverse_complement(both).data()), 9);
  EXPECT_EQ(word_counter_get_count(clone, only_a.data()), 0);
  EXPECT_EQ(word_counter_get_count(clone, only_b.data()), 0);
  EXPECT_EQ(word_counter_get_count(clone, absent.data()), 0);
  EXPECT_EQ(word_counter_is_repeated(clone, both.data()), 1);
  EXPECT_EQ(word_counter_is_repeated(clone, only_a.data()), 0);
  EXPECT_EQ(word_counter_is_repeated(clone, only_b.data()), 0);
  // Residue 4 reads as 0 in the same position.
  Codes with_n = both;
  const int zero_at = static_cast<int>(std::find(both.begin(), both.end(), 0) - both.begin());
  ASSERT_LT(zero_at, 21);
  with_n[zero_at] = 4;
  EXPECT_EQ(word_counter_get_count(clone, with_n.data()), 9);
  word_counter_clone_free(clone);
}

TEST(WordCounterLookup, UsedMarksAreSharedByStrandsAndClones) {
  HandTables hand;
  std::mt19937 rng(23);
  const Codes w = random_codes(rng, 21), other = random_codes(rng, 21);
  word_counter_t *marker = word_counter_clone(hand.counter);
  word_counter_t *reader = word_counter_clone(hand.counter);
  EXPECT_EQ(word_counter_is_used(reader, w.data()), 0);
  word_counter_mark_used(marker, reverse_complement(w).data());
  EXPECT_EQ(word_counter_is_used(reader, w.data()), 1);
  EXPECT_EQ(word_counter_is_used(hand.counter, w.data()), 1);
  EXPECT_EQ(word_counter_is_used(reader, other.data()), 0);
  word_counter_clone_free(marker);
  word_counter_clone_free(reader);
}

TEST(WordCounterLookup, ColourCountsWithPlainReversal) {
  HandTables hand(1);
  std::mt19937 rng(29);
  const Codes w = random_codes(rng, 21);
  const Codes reversed(w.rbegin(), w.rend());
  hand.set(w, true, true, 4);
  EXPECT_EQ(word_counter_get_count(hand.counter, w.data()), 4);
  EXPECT_EQ(word_counter_get_count(hand.counter, reversed.data()), 4);
}

// The batched look-ups against the single ones, on tables of 2^8 filter
// entries filled at random (most words share entries with others, and many
// pass both filters) and a sequence holding codes 4: the same count for
// every word, the same used slot for every window, across batch ends.
TEST(WordCounterLookup, BatchesGiveWhatSingleLookUpsGive) {
  const struct {
    int k;
    int colour;
  } cases[] = {{1, 0}, {5, 0}, {16, 0}, {22, 0}, {31, 0}, {32, 0}, {33, 0}, {47, 0}, {64, 0}, {21, 1}, {40, 1}};
  for (const auto &c : cases) {
    word_counter_t *counter = c.colour ? word_counter_new_colour(8, c.k) : word_counter_new(8, c.k);
    word_counter_alloc_pass1_tables(counter);
    word_counter_pack_filters(counter);
    word_counter_alloc_final_table(counter);
    word_counter_finish_tables(counter);
    std::mt19937 rng(static_cast<unsigned>(100 * c.k + c.colour));
    word_counter_tables_t *t = counter->tables;
    for (int i = 0; i < 256 / 8; i++) {
      t->filter_a.data[i] = static_cast<uint8_t>(rng() | rng());
      t->filter_b.data[i] = static_cast<uint8_t>(rng() | rng());
    }
    for (int i = 0; i < 128 / 2; i++) t->count_table.data[i] = static_cast<uint8_t>(rng());
    // A sequence of 300 words with codes 4 here and there.
    Codes sequence = random_codes(rng, 300 + c.k - 1);
    for (int i = 0; i < 6; i++) sequence[rng() % sequence.size()] = 4;
    const int words = 300;
    std::vector<const uint8_t *> starts(words);
    std::vector<int32_t> single(words), batched(words, -7);
    int nonzero = 0;
    for (int p = 0; p < words; p++) {
      starts[p] = sequence.data() + p;
      single[p] = word_counter_get_count(counter, starts[p]);
      if (single[p] > 0) nonzero++;
    }
    ASSERT_GT(nonzero, 20) << "k " << c.k << ": the tables let too few words through to compare counts";
    // Batches of 1, 31, 32, 33 and all words.
    for (const int n : {1, 31, 32, 33, words}) {
      std::fill(batched.begin(), batched.end(), -7);
      word_counter_get_counts(counter, starts.data(), n, batched.data());
      for (int p = 0; p < words; p++)
        EXPECT_EQ(batched[p], p < n ? single[p] : -7) << "k " << c.k << " colour " << c.colour << " n " << n
                                                      << " word " << p;
    }
    // The four next words of prefixes: 1, 7, 8, 9 and 20 prefixes.
    for (const int n : {1, 7, 8, 9, 20}) {
      std::vector<int32_t> next(4 * static_cast<size_t>(n) + 4, -7);
      word_counter_get_next_counts(counter, starts.data(), n, next.data());
      Codes word(static_cast<size_t>(c.k));
      for (int i = 0; i < n; i++) {
        std::copy(starts[i], starts[i] + c.k - 1, word.begin());
        for (int x = 0; x < 4; x++) {
          word[c.k - 1] = static_cast<uint8_t>(x);
          EXPECT_EQ(next[4 * i + x], word_counter_get_count(counter, word.data()))
              << "k " << c.k << " colour " << c.colour << " prefix " << i << " letter " << x;
        }
      }
      for (size_t j = 4 * static_cast<size_t>(n); j < next.size(); j++) EXPECT_EQ(next[j], -7);
    }
    if (!c.colour) {
      std::vector<uint64_t> slots(words + 1, ~0ull);
      word_counter_used_slots(counter, sequence.data(), words, slots.data());
      for (int p = 0; p < words; p++)
        EXPECT_EQ(slots[p], word_counter_used_slot(counter, starts[p])) << "k " << c.k << " window " << p;
      EXPECT_EQ(slots[words], ~0ull);
    }
    word_counter_free(counter);
  }
}

TEST(WordCounterLookupDeathTest, UsedMarksAreNotForColourWords) {
  const Codes w(21, 1);
  EXPECT_EXIT(
      {
        HandTables hand(1);
        word_counter_is_used(hand.counter, w.data());
      },
      testing::ExitedWithCode(1), "^Not implemented\n$");
  EXPECT_EXIT(
      {
        HandTables hand(1);
        word_counter_mark_used(hand.counter, w.data());
      },
      testing::ExitedWithCode(1), "^Not implemented\n$");
  EXPECT_EXIT(
      {
        HandTables hand(1);
        word_counter_is_repeated(hand.counter, w.data());
      },
      testing::ExitedWithCode(1), "^Not implemented\n$");
}

TEST(WordCounterDeathTest, WordAndTableSizesOutOfRange) {
  EXPECT_EXIT(word_counter_new(12, 0), testing::ExitedWithCode(1), "^Word size 0 is outside 1 to 64\n$");
  EXPECT_EXIT(word_counter_new(12, 65), testing::ExitedWithCode(1), "^Word size 65 is outside 1 to 64\n$");
  EXPECT_EXIT(word_counter_new(6, 21), testing::ExitedWithCode(1), "^Word counter table size 2\\^6 is outside");
}

}  // namespace
