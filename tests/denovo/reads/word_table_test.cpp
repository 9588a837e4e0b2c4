// Word table: layout, hash, packing, folding of key bits into the slot
// index, growth, key rebuilding, canonical mode and a model test.
#include "denovo/reads/word_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Word = std::vector<uint8_t>;

const uint32_t kEmpty = 0xFFFFFFFFu;

Word random_word(std::mt19937_64 &rng, int k) {
  Word w(k);
  for (auto &s : w) s = static_cast<uint8_t>(rng() & 3);
  return w;
}

Word reverse_complement(const Word &w) {
  Word rc(w.size());
  for (size_t i = 0; i < w.size(); i++) rc[i] = static_cast<uint8_t>(3 - w[w.size() - 1 - i]);
  return rc;
}

// The larger of a word and its reverse complement, compared symbol by
// symbol from the first.
Word canonical(const Word &w) { return std::max(w, reverse_complement(w)); }

Word word_of(const char *letters) {
  Word w;
  for (const char *p = letters; *p; p++) w.push_back(static_cast<uint8_t>(std::string("ACGTN").find(*p)));
  return w;
}

uint32_t payload_value(const void *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Every stored word, rebuilt from its slot, with its payload.
std::map<Word, uint32_t> walk(const word_table_t *t) {
  std::map<Word, uint32_t> out;
  Word buffer(t->key_bits / 2 + 8);
  for (uint64_t slot = 0; slot < t->size; slot++) {
    const void *p = word_table_get_word(t, slot, buffer.data());
    if (p == nullptr) {
      EXPECT_EQ(word_table_get_payload(t, slot), nullptr);
      continue;
    }
    Word w(buffer.begin(), buffer.begin() + t->key_bits / 2);
    EXPECT_EQ(out.count(w), 0u) << "word listed twice, slot " << slot;
    out[w] = payload_value(p);
  }
  return out;
}

// Finds every expected word with its payload and lists exactly them.
void expect_contents(const word_table_t *t, word_table_key_t *key,
                     const std::map<Word, uint32_t> &expected) {
  ASSERT_EQ(t->element_count, static_cast<int64_t>(expected.size()));
  for (const auto &[w, v] : expected) {
    const void *p = word_table_find_word(t, w.data(), key, nullptr);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(payload_value(p), v);
  }
  ASSERT_EQ(walk(t), expected);
}

// ---------------------------------------------------------------------------
// Layout and hash

struct LayoutCase {
  int w, log_size, offset_bits;
  int stored_bytes, rest_bits;
  int64_t limit;
};

TEST(WordTableLayout, StoredBytesRestBitsAndOffsetLimit) {
  const LayoutCase cases[] = {
      {24, 4, 4, 3, 0, 16},        // small table keeps whole keys, probes the whole table
      {32, 20, 4, 2, 16, 16},      //
      {48, 22, 4, 4, 16, 64},      //
      {24, 24, 4, 0, 24, 1},       // one slot per key: nothing stored
      {128, 20, 4, 14, 16, 16},    // k = 64
      {32, 20, 5, 3, 8, 4096},     // one more stored byte: limit x 256
      {32, 20, 13, 4, 0, 1 << 20}, // all bytes stored: the whole table
      {2, 4, 4, 1, 0, 16},         // k = 1 in a table larger than its key space
  };
  for (const auto &c : cases) {
    word_table_t *t = word_table_new_bits(c.w, 4, &kEmpty, c.log_size, c.offset_bits);
    EXPECT_EQ(t->key_bytes, (c.w + 7) / 8);
    EXPECT_EQ(t->size, uint64_t{1} << c.log_size);
    EXPECT_EQ(t->position_mask, t->size - 1);
    EXPECT_EQ(t->stored_bytes, c.stored_bytes) << c.w << " " << c.log_size << " " << c.offset_bits;
    EXPECT_EQ(t->rest_bits, c.rest_bits) << c.w << " " << c.log_size << " " << c.offset_bits;
    EXPECT_EQ(t->offset_limit, c.limit) << c.w << " " << c.log_size << " " << c.offset_bits;
    EXPECT_EQ(t->element_count, 0);
    for (uint64_t s = 0; s < std::min<uint64_t>(t->size, 1 << 16); s++)
      ASSERT_EQ(word_table_get_payload(t, s), nullptr);
    word_table_free_raw(t);
  }
}

TEST(WordTableHash, GivenValues) {
  const uint8_t a[] = {0x12, 0x34};
  EXPECT_EQ(word_table_hash_bytes(a, 2, 32, 10), 0x1B0u);
  const uint8_t b[] = {0x5D};
  EXPECT_EQ(word_table_hash_bytes(b, 1, 32, 20), 0x3B008u);
  EXPECT_EQ(word_table_hash_bytes(a, 0, 32, 10), 0u);
  EXPECT_EQ(word_table_hash_bytes(a, 2, 32, 0), 0u);
}

// The hash written out bit by bit: bit j of E is the parity of the input
// bits at positions that are subsets of j; F xors E shifted by multiples of
// L; the hash is F's top L bits.
uint64_t naive_hash(const uint8_t *s, int n, int w, int log_size) {
  if (log_size == 0 || n == 0) return 0;
  const int bits = log_size <= 32 ? 32 : 64;
  const int cycle = bits / 8;
  std::vector<int> in(bits, 0);
  for (int i = 0; i < n; i++) {
    uint8_t byte = s[i];
    if (i == n - 1 && 8 * n > w) byte &= static_cast<uint8_t>(0xFF << (8 * n - w));
    const int shift = 8 * ((n - i) % cycle);
    for (int b = 0; b < 8; b++) in[shift + b] ^= (byte >> b) & 1;
  }
  std::vector<int> e(bits, 0);
  for (int j = 0; j < bits; j++)
    for (int i = 0; i < bits; i++)
      if ((i & j) == i) e[j] ^= in[i];
  std::vector<int> f(bits, 0);
  for (int shift = 0; shift < bits; shift += log_size)
    for (int j = shift; j < bits; j++) f[j] ^= e[j - shift];
  uint64_t h = 0;
  for (int j = bits - 1; j >= bits - log_size; j--) h = h << 1 | static_cast<uint64_t>(f[j]);
  return h;
}

TEST(WordTableHash, MatchesBitwiseDefinition) {
  std::mt19937_64 rng(7);
  for (int trial = 0; trial < 400; trial++) {
    const int w = 2 * static_cast<int>(1 + rng() % 70);
    const int n = static_cast<int>(1 + rng() % ((w + 7) / 8));
    const int log_size = static_cast<int>(1 + rng() % 40);
    uint8_t s[18];
    for (auto &b : s) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(word_table_hash_bytes(s, n, w, log_size), naive_hash(s, n, w, log_size))
        << "w " << w << " n " << n << " L " << log_size;
  }
}

TEST(WordTableHash, TableHashUsesItsStoredBytes) {
  word_table_t *t = word_table_new_bits(32, 4, &kEmpty, 20, 4);
  const uint8_t s[] = {0xA7, 0x3C, 0xFF, 0xFF};
  EXPECT_EQ(word_table_hash(t, s), word_table_hash_bytes(s, 2, 32, 20));
  word_table_free_raw(t);
}

// The home slot of a key: the hash of its stored bytes with the rest bits
// R above the low L - x bits. An empty table puts a key at its home slot.
TEST(WordTableHash, KeyGoesToItsFoldedHomeSlot) {
  std::mt19937_64 rng(11);
  for (int trial = 0; trial < 12; trial++) {
    word_table_t *t = word_table_new_bits(32, 4, &kEmpty, 20, 4);  // n 2, x 16
    uint8_t key[4];
    for (auto &b : key) b = static_cast<uint8_t>(rng());
    const uint64_t rest = uint64_t{key[2]} << 8 | key[3];
    const uint64_t home = word_table_hash_bytes(key, 2, 32, 20) ^ (rest << 4);
    const uint32_t v = 5;
    ASSERT_EQ(word_table_try_insert_key(t, key, &v), 1);
    ASSERT_EQ(word_table_find_slot(t, key), static_cast<int64_t>(home));
    uint8_t back[4];
    ASSERT_NE(word_table_get_key(t, home, back), nullptr);
    ASSERT_EQ(memcmp(back, key, 4), 0);
    word_table_free_raw(t);
  }
}

// ---------------------------------------------------------------------------
// Packing

TEST(WordTablePacking, PlainPositionsAndBadCodes) {
  uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};  // garbage the packing must not need cleared
  const Word w = word_of("ACGTTGCAG");        // k 9: 00011011 11100100 10......
  ASSERT_EQ(word_table_pack_word(18, w.data(), out, nullptr), 1);
  EXPECT_EQ(out[0], 0x1B);
  EXPECT_EQ(out[1], 0xE4);
  EXPECT_EQ(out[2], 0x80);

  // A spaced word: symbols 0, 2, 3, 5, 8 of the sequence.
  const int positions[] = {0, 2, 3, 5, 8};
  ASSERT_EQ(word_table_pack_word(10, w.data(), out, positions), 1);  // A G T G G
  EXPECT_EQ(out[0], 0x2E);                                            // 00 10 11 10
  EXPECT_EQ(out[1], 0x80);                                            // 10
  EXPECT_EQ(word_table_word_span(10, positions), 9);
  EXPECT_EQ(word_table_word_span(18, nullptr), 9);

  const Word bad = word_of("ACGTNGCAG");
  EXPECT_EQ(word_table_pack_word(18, bad.data(), out, nullptr), 0);
  const Word bad_tail = word_of("ACGTTGCAN");
  EXPECT_EQ(word_table_pack_word(18, bad_tail.data(), out, nullptr), 0);
  const int skip_n[] = {0, 1, 2, 3, 5};
  EXPECT_EQ(word_table_pack_word(10, bad.data(), out, skip_n), 1);
  const int hit_n[] = {0, 4};
  EXPECT_EQ(word_table_pack_word(4, bad.data(), out, hit_n), 0);
}

TEST(WordTablePacking, CanonicalKeepsTheLargerStrand) {
  word_table_t *t = word_table_new(5, 4, &kEmpty, 1);
  word_table_key_t *key = word_table_key_new(t);
  struct Case {
    const char *word, *expected;
  } cases[] = {
      {"AAAAC", "GTTTT"},  // reverse complement larger
      {"GTTTT", "GTTTT"},  // word larger
      {"ACGTA", "TACGT"},  // first symbols differ the other way
      {"TACGT", "TACGT"},
  };
  for (const auto &c : cases) {
    const Word w = word_of(c.word);
    ASSERT_EQ(word_table_pack_canonical(t, w.data(), key), 1);
    uint8_t expected[2];
    word_table_pack_word(10, word_of(c.expected).data(), expected, nullptr);
    EXPECT_EQ(memcmp(key->buffer[0], expected, 2), 0) << c.word;
  }
  const Word bad = word_of("AAANC");
  EXPECT_EQ(word_table_pack_canonical(t, bad.data(), key), 0);
  word_table_key_free(key);
  word_table_free(t);

  // A word equal to its reverse complement (even k) packs as itself.
  t = word_table_new(4, 4, &kEmpty, 1);
  key = word_table_key_new(t);
  const Word pal = word_of("ACGT");
  ASSERT_EQ(word_table_pack_canonical(t, pal.data(), key), 1);
  EXPECT_EQ(key->buffer[0][0], 0x1B);
  word_table_key_free(key);
  word_table_free(t);
}

// ---------------------------------------------------------------------------
// Insertion, growth and rebuilding keys

TEST(WordTable, EighthWordKeepsSixteenSlotsNinthDoubles) {
  word_table_t *t = word_table_new(12, 4, &kEmpty, 0);
  word_table_key_t *key = word_table_key_new(t);
  std::mt19937_64 rng(3);
  std::map<Word, uint32_t> expected;
  while (expected.size() < 9) {
    const Word w = random_word(rng, 12);
    if (expected.count(w)) continue;
    const uint32_t v = static_cast<uint32_t>(expected.size());
    ASSERT_EQ(word_table_insert_word(t, w.data(), &v, key, nullptr), 1);
    expected[w] = v;
    EXPECT_EQ(t->size, expected.size() <= 8 ? 16u : 32u) << expected.size();
  }
  expect_contents(t, key, expected);
  word_table_key_free(key);
  word_table_free(t);
}

TEST(WordTable, ReinsertReplacesPayloadAndKeepsCount) {
  word_table_t *t = word_table_new(20, 4, &kEmpty, 0);
  word_table_key_t *key = word_table_key_new(t);
  const Word w = word_of("ACGTACGTTTGACCAGGATC");
  const uint32_t one = 1, two = 2;
  ASSERT_EQ(word_table_insert_word(t, w.data(), &one, key, nullptr), 1);
  ASSERT_EQ(word_table_insert_word(t, w.data(), &two, key, nullptr), 1);
  EXPECT_EQ(t->element_count, 1);
  EXPECT_EQ(payload_value(word_table_find_word(t, w.data(), key, nullptr)), 2u);
  word_table_key_free(key);
  word_table_free(t);
}

TEST(WordTable, WordWithCodeFourIsNeitherStoredNorFound) {
  word_table_t *t = word_table_new(12, 4, &kEmpty, 0);
  word_table_t *c = word_table_new(12, 4, &kEmpty, 1);
  word_table_key_t *key = word_table_key_new(t);
  const Word w = word_of("ACGTANGTACGT");
  const uint32_t v = 9;
  for (word_table_t *table : {t, c}) {
    EXPECT_EQ(word_table_insert_word(table, w.data(), &v, key, nullptr), 0);
    EXPECT_EQ(word_table_put_word(table, w.data(), &v, nullptr), 0);
    EXPECT_EQ(table->element_count, 0);
    EXPECT_EQ(word_table_find_word(table, w.data(), key, nullptr), nullptr);
    EXPECT_EQ(word_table_lookup_word(table, w.data(), nullptr), nullptr);
    EXPECT_EQ(word_table_find_word_slot(table, w.data(), key, nullptr), -1);
    EXPECT_EQ(word_table_lookup_word_slot(table, w.data(), nullptr), -1);
    EXPECT_TRUE(walk(table).empty());
  }
  word_table_key_free(key);
  word_table_free(t);
  word_table_free(c);
}

// A table laid out with c = 0 and w - L a multiple of 8 starts with an
// offset limit of 1, so the first collision makes it store another key
// byte; filling it then doubles it several times. Every key and payload
// must survive each rebuild, for every word length.
TEST(WordTableGrowth, EveryLengthSurvivesBothKindsOfGrowth) {
  std::mt19937_64 rng(2024);
  for (int k = 12; k <= 64; k++) {
    SCOPED_TRACE("k " + std::to_string(k));
    word_table_t *t = word_table_new_bits(2 * k, 4, &kEmpty, 8 + (2 * k - 8) % 8, 0);
    ASSERT_EQ(t->offset_limit, 1);
    ASSERT_GT(t->rest_bits, 0);  // the first rebuild reads folded keys back
    word_table_key_t *key = word_table_key_new(t);
    std::map<Word, uint32_t> expected;
    int doublings = 0, byte_growths = 0;
    while ((doublings < 3 || byte_growths < 1) && expected.size() < 200000) {
      const Word w = random_word(rng, k);
      const uint32_t v = static_cast<uint32_t>(rng() & 0x7FFFFFFF);
      const int log_size = t->log_size, stored = t->stored_bytes;
      ASSERT_EQ(word_table_insert_word(t, w.data(), &v, key, nullptr), 1);
      expected[w] = v;
      if (t->log_size != log_size || t->stored_bytes != stored) {
        if (t->log_size != log_size) doublings++;
        else byte_growths++;
        ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
      }
    }
    ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
    EXPECT_GE(doublings, 3);
    EXPECT_GE(byte_growths, 1);
    word_table_key_free(key);
    word_table_free_raw(t);
  }
}

// Lengths outside 12..64 also occur: the tag counter makes one table per
// tag length from 1 base up. Short words fill their whole key space and end
// in directly indexed tables.
TEST(WordTableGrowth, ShortAndLongWords) {
  std::mt19937_64 rng(99);
  for (int k : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 65, 80, 100, 150}) {
    SCOPED_TRACE("k " + std::to_string(k));
    word_table_t *t = word_table_new(k, 4, &kEmpty, 0);
    word_table_key_t *key = word_table_key_new(t);
    std::map<Word, uint32_t> expected;
    const size_t wanted = k <= 5 ? size_t{1} << (2 * k) : 2000;
    if (k <= 5) {
      for (uint32_t code = 0; code < wanted; code++) {
        Word w(k);
        for (int i = 0; i < k; i++) w[i] = static_cast<uint8_t>(code >> (2 * (k - 1 - i)) & 3);
        expected[w] = code;
      }
    } else {
      while (expected.size() < wanted) expected[random_word(rng, k)] = static_cast<uint32_t>(rng() % 1000);
    }
    for (const auto &[w, v] : expected) ASSERT_EQ(word_table_insert_word(t, w.data(), &v, key, nullptr), 1);
    ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
    if (k <= 5) {
      EXPECT_LE(t->log_size, std::max(4, 2 * k));  // full key space, no waste
    }
    word_table_key_free(key);
    word_table_free(t);
  }
}

TEST(WordTableGrowth, DirectlyIndexedTable) {
  word_table_t *t = word_table_new_sized(12, 4, &kEmpty, 0, 24);
  ASSERT_EQ(t->stored_bytes, 0);
  ASSERT_EQ(t->offset_limit, 1);
  word_table_key_t *key = word_table_key_new(t);
  std::mt19937_64 rng(5);
  std::map<Word, uint32_t> expected;
  while (expected.size() < 20000) expected[random_word(rng, 12)] = static_cast<uint32_t>(rng() % 77777);
  // All 4^12 keys fit, so every key sits at the slot its bits spell.
  for (const auto &[w, v] : expected) {
    ASSERT_EQ(word_table_insert_word(t, w.data(), &v, key, nullptr), 1);
    uint64_t code = 0;
    for (uint8_t s : w) code = code << 2 | s;
    ASSERT_EQ(word_table_find_word_slot(t, w.data(), key, nullptr), static_cast<int64_t>(code));
  }
  EXPECT_EQ(t->log_size, 24);
  ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
  word_table_key_free(key);
  word_table_free(t);
}

// A large table of 20-base words: folding with many rest bits, natural
// growth from 16 slots, and lookups of absent words.
TEST(WordTableGrowth, ManyTwentyBaseWords) {
  word_table_t *t = word_table_new(20, 4, &kEmpty, 0);
  word_table_key_t *key = word_table_key_new(t);
  std::mt19937_64 rng(77);
  std::map<Word, uint32_t> expected;
  for (uint32_t i = 0; i < 300000; i++) {
    const Word w = random_word(rng, 20);
    ASSERT_EQ(word_table_insert_word(t, w.data(), &i, key, nullptr), 1);
    expected[w] = i;
  }
  // Doubling lays the table out for 4 offset bits: at 2^20 slots 3 of the
  // 5 key bytes are stored, 16 bits are folded and probes stop after 16.
  EXPECT_EQ(t->log_size, 20);
  EXPECT_EQ(t->stored_bytes, 3);
  EXPECT_EQ(t->rest_bits, 16);
  EXPECT_EQ(t->offset_limit, 16);
  ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
  int absent_found = 0;
  for (int i = 0; i < 100000; i++) {
    const Word w = random_word(rng, 20);
    const void *p = word_table_find_word(t, w.data(), key, nullptr);
    if (expected.count(w)) ASSERT_NE(p, nullptr);
    else absent_found += p != nullptr;
  }
  EXPECT_EQ(absent_found, 0);
  word_table_key_free(key);
  word_table_free(t);
}

// ---------------------------------------------------------------------------
// Canonical mode

TEST(WordTableCanonical, WordAndReverseComplementShareOneSlot) {
  const Word w = word_of("AAAACCCCGGTAGCA");
  const Word rc = reverse_complement(w);
  const uint32_t one = 1, two = 2;
  for (int flag : {0, 1}) {
    SCOPED_TRACE(flag);
    word_table_t *t = word_table_new(15, 4, &kEmpty, flag);
    word_table_key_t *key = word_table_key_new(t);
    ASSERT_EQ(word_table_insert_word(t, w.data(), &one, key, nullptr), 1);
    ASSERT_EQ(word_table_insert_word(t, rc.data(), &two, key, nullptr), 1);
    EXPECT_EQ(t->element_count, flag ? 1 : 2);
    EXPECT_EQ(payload_value(word_table_find_word(t, w.data(), key, nullptr)), flag ? 2u : 1u);
    EXPECT_EQ(payload_value(word_table_find_word(t, rc.data(), key, nullptr)), 2u);
    EXPECT_EQ(word_table_find_word_slot(t, w.data(), key, nullptr) ==
                  word_table_find_word_slot(t, rc.data(), key, nullptr),
              flag == 1);
    if (flag) {
      // The stored form is the larger strand.
      const auto listed = walk(t);
      ASSERT_EQ(listed.size(), 1u);
      EXPECT_EQ(listed.begin()->first, canonical(w));
    }
    word_table_key_free(key);
    word_table_free(t);
  }
}

// ---------------------------------------------------------------------------
// Model test: random inserts, replacements, removals (the template as
// payload) and lookups against a standard map, with and without the
// canonical flag.

struct WordHash {
  size_t operator()(const Word &w) const {
    return std::hash<std::string>()(std::string(w.begin(), w.end()));
  }
};

TEST(WordTableModel, RandomOperationsMatchUnorderedMap) {
  for (int k : {12, 13, 16, 20, 31, 32, 33, 48, 64}) {
    for (int flag : {0, 1}) {
      SCOPED_TRACE("k " + std::to_string(k) + " canonical " + std::to_string(flag));
      std::mt19937_64 rng(1000 * k + flag);
      word_table_t *t = word_table_new(k, 4, &kEmpty, flag);
      word_table_key_t *key = word_table_key_new(t);
      std::unordered_map<Word, uint32_t, WordHash> model;
      // A pool of words, so that operations hit present words often; in
      // canonical mode some are reverse complements of others.
      std::vector<Word> pool;
      for (int i = 0; i < 4000; i++) {
        if (flag && i > 0 && rng() % 4 == 0) pool.push_back(reverse_complement(pool[rng() % pool.size()]));
        else pool.push_back(random_word(rng, k));
      }
      for (int op = 0; op < 40000; op++) {
        const Word &w = pool[rng() % pool.size()];
        const Word id = flag ? canonical(w) : w;
        const unsigned kind = static_cast<unsigned>(rng() % 10);
        if (kind < 5) {
          const uint32_t v = static_cast<uint32_t>(rng() % 0xFFFFFFFFu);
          ASSERT_EQ(word_table_insert_word(t, w.data(), &v, key, nullptr), 1);
          model[id] = v;
        } else if (kind < 7) {
          ASSERT_EQ(word_table_insert_word(t, w.data(), &kEmpty, key, nullptr), 1);
          model.erase(id);
        } else {
          const void *p = word_table_find_word(t, w.data(), key, nullptr);
          auto it = model.find(id);
          if (it == model.end()) ASSERT_EQ(p, nullptr) << op;
          else {
            ASSERT_NE(p, nullptr) << op;
            ASSERT_EQ(payload_value(p), it->second) << op;
          }
        }
        ASSERT_EQ(t->element_count, static_cast<int64_t>(model.size())) << op;
      }
      std::map<Word, uint32_t> expected(model.begin(), model.end());
      ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
      word_table_key_free(key);
      word_table_free(t);
    }
  }
}

// Removing a key from the middle of a probe run keeps the later keys of
// the run reachable. A 64-slot table holding whole keys probes the whole
// table; filled to just under half it has runs of several keys, and every
// other key is removed (through insertion of the template or through the
// slot) with all survivors checked after each removal.
TEST(WordTable, RemovalKeepsProbeRunsReachable) {
  std::mt19937_64 rng(8);
  for (int round = 0; round < 20; round++) {
    word_table_t *t = word_table_new_bits(24, 4, &kEmpty, 6, 6);  // whole keys, limit 64
    ASSERT_EQ(t->offset_limit, 64);
    word_table_key_t *key = word_table_key_new(t);
    std::map<Word, uint32_t> expected;
    while (expected.size() < 31) {
      const Word w = random_word(rng, 12);
      const uint32_t v = static_cast<uint32_t>(rng() % 1000);
      word_table_insert_word(t, w.data(), &v, key, nullptr);
      expected[w] = v;
    }
    ASSERT_EQ(t->size, 64u);
    int i = 0;
    for (auto it = expected.begin(); it != expected.end(); i++) {
      if (i % 2) {
        ++it;
        continue;
      }
      const Word w = it->first;
      const int64_t slot = word_table_find_word_slot(t, w.data(), key, nullptr);
      ASSERT_GE(slot, 0);
      if (i % 4 == 0) word_table_insert_word(t, w.data(), &kEmpty, key, nullptr);
      else word_table_set_payload(t, static_cast<uint64_t>(slot), &kEmpty);
      it = expected.erase(it);
      ASSERT_NO_FATAL_FAILURE(expect_contents(t, key, expected));
    }
    word_table_key_free(key);
    word_table_free_raw(t);
  }
}

// ---------------------------------------------------------------------------
// Slot access

TEST(WordTable, SlotAccess) {
  word_table_t *t = word_table_new(14, 4, &kEmpty, 0);
  word_table_key_t *key = word_table_key_new(t);
  const Word w = word_of("GATTACAGATTACA");
  const uint32_t v = 42, changed = 43;
  ASSERT_EQ(word_table_put_word(t, w.data(), &v, nullptr), 1);
  const int64_t slot = word_table_lookup_word_slot(t, w.data(), nullptr);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(word_table_find_word_slot(t, w.data(), key, nullptr), slot);
  EXPECT_EQ(word_table_lookup_word(t, w.data(), nullptr), word_table_get_payload(t, slot));

  // get_key writes the packed key; get_word the symbols.
  uint8_t packed[4], expected_packed[4];
  word_table_pack_word(28, w.data(), expected_packed, nullptr);
  ASSERT_NE(word_table_get_key(t, slot, packed), nullptr);
  EXPECT_EQ(memcmp(packed, expected_packed, 4), 0);
  EXPECT_EQ(word_table_find_key(t, packed), word_table_get_payload(t, slot));
  EXPECT_EQ(word_table_find_slot(t, packed), slot);

  word_table_set_payload(t, slot, &changed);
  EXPECT_EQ(payload_value(word_table_lookup_word(t, w.data(), nullptr)), 43u);

  // A free slot: no key, no payload, and setting a payload there stores
  // nothing.
  const uint64_t free_slot = (static_cast<uint64_t>(slot) + 1) & t->position_mask;
  uint8_t untouched[4] = {7, 7, 7, 7};
  EXPECT_EQ(word_table_get_key(t, free_slot, untouched), nullptr);
  EXPECT_EQ(untouched[0], 7);
  word_table_set_payload(t, free_slot, &v);
  EXPECT_EQ(word_table_get_payload(t, free_slot), nullptr);
  EXPECT_EQ(t->element_count, 1);

  // The template as payload frees the slot.
  word_table_set_payload(t, slot, &kEmpty);
  EXPECT_EQ(word_table_get_payload(t, slot), nullptr);
  EXPECT_EQ(word_table_lookup_word(t, w.data(), nullptr), nullptr);
  EXPECT_EQ(t->element_count, 0);
  word_table_key_free(key);
  word_table_free(t);
}

TEST(WordTable, PayloadsOfOtherSizes) {
  // Without payload bytes every slot reads as free: nothing is stored.
  {
    word_table_t *t = word_table_new(12, 0, nullptr, 0);
    const Word w = word_of("ACGTACGTACGT");
    EXPECT_EQ(word_table_put_word(t, w.data(), nullptr, nullptr), 1);
    EXPECT_EQ(t->element_count, 0);
    EXPECT_EQ(word_table_lookup_word(t, w.data(), nullptr), nullptr);
    word_table_free(t);
  }
  for (size_t size : {1u, 2u, 8u, 12u}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> empty(size, 0);
    word_table_t *t = word_table_new(16, size, empty.data(), 0);
    word_table_key_t *key = word_table_key_new(t);
    std::mt19937_64 rng(size);
    std::map<Word, std::vector<uint8_t>> expected;
    while (expected.size() < 500) {
      std::vector<uint8_t> p(size);
      for (auto &b : p) b = static_cast<uint8_t>(rng());
      p[0] |= 1;  // never the all-zero template
      const Word w = random_word(rng, 16);
      ASSERT_EQ(word_table_insert_word(t, w.data(), p.data(), key, nullptr), 1);
      expected[w] = p;
    }
    ASSERT_EQ(t->element_count, 500);
    for (const auto &[w, p] : expected) {
      const void *got = word_table_find_word(t, w.data(), key, nullptr);
      ASSERT_NE(got, nullptr);
      ASSERT_EQ(memcmp(got, p.data(), size), 0);
    }
    word_table_key_free(key);
    word_table_free(t);
  }
}

// ---------------------------------------------------------------------------
// Whole-sequence lookups

TEST(WordTable, FindAllWordsAndFindInt) {
  std::mt19937_64 rng(12);
  for (int k : {12, 16, 17}) {
    SCOPED_TRACE(k);
    word_table_t *t = word_table_new(k, 4, &kEmpty, 0);
    word_table_key_t *key = word_table_key_new(t);
    Word seq = random_word(rng, 300);
    seq[100] = 4;
    seq[250] = 4;
    // Store every third word of the sequence.
    for (size_t i = 0; i + k <= seq.size(); i += 3) {
      const uint32_t v = static_cast<uint32_t>(i);
      word_table_insert_word(t, seq.data() + i, &v, key, nullptr);
    }
    const size_t starts = seq.size() - k + 1;
    for (int step : {1, 2, 5}) {
      std::vector<void *> out(starts, reinterpret_cast<void *>(1));
      word_table_find_all_words(t, seq.data(), static_cast<int64_t>(seq.size()), out.data(), key,
                                step, nullptr);
      for (size_t i = 0; i < starts; i++) {
        void *want = i % step == 0 ? word_table_find_word(t, seq.data() + i, key, nullptr) : nullptr;
        ASSERT_EQ(out[i], want) << "step " << step << " start " << i;
        if (i % 3 == 0 && i % step == 0 && (i > 100 || i + k <= 100) && (i > 250 || i + k <= 250)) {
          ASSERT_NE(out[i], nullptr) << i;
        }
      }
    }
    if (k <= 16) {
      uint32_t code = 0;
      for (int i = 0; i < k; i++) code = code << 2 | seq[3 + i];
      EXPECT_EQ(word_table_find_int(t, code), word_table_find_word(t, seq.data() + 3, key, nullptr));
      EXPECT_NE(word_table_find_int(t, code), nullptr);
    }
    word_table_key_free(key);
    word_table_free(t);
  }

  // Spaced words: the span is the last position + 1.
  word_table_t *t = word_table_new(12, 4, &kEmpty, 0);
  word_table_key_t *key = word_table_key_new(t);
  const int positions[] = {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16};
  const Word seq = random_word(rng, 40);
  const uint32_t v = 1;
  word_table_insert_word(t, seq.data() + 5, &v, key, positions);
  std::vector<void *> out(40 - 17 + 1);
  word_table_find_all_words(t, seq.data(), 40, out.data(), key, 1, positions);
  for (size_t i = 0; i < out.size(); i++)
    EXPECT_EQ(out[i], word_table_find_word(t, seq.data() + i, key, positions));
  EXPECT_NE(out[5], nullptr);
  word_table_key_free(key);
  word_table_free(t);
}

// ---------------------------------------------------------------------------
// Concurrent lookups: many readers, one key record each, no writer.

TEST(WordTableThreads, ConcurrentLookups) {
  word_table_t *t = word_table_new(20, 4, &kEmpty, 1);
  word_table_key_t *key = word_table_key_new(t);
  std::mt19937_64 rng(31);
  std::vector<Word> words;
  for (uint32_t i = 0; i < 20000; i++) {
    words.push_back(random_word(rng, 20));
    word_table_insert_word(t, words.back().data(), &i, key, nullptr);
  }
  std::vector<int> misses(4, 0);
  std::vector<std::thread> threads;
  for (int id = 0; id < 4; id++) {
    threads.emplace_back([&, id] {
      word_table_key_t *mine = word_table_key_new(t);
      for (const Word &w : words) {
        const Word rc = reverse_complement(w);
        const void *a = word_table_find_word(t, w.data(), mine, nullptr);
        const void *b = word_table_find_word(t, rc.data(), mine, nullptr);
        if (a == nullptr || a != b) misses[id]++;
      }
      word_table_key_free(mine);
    });
  }
  for (auto &th : threads) th.join();
  for (int m : misses) EXPECT_EQ(m, 0);
  word_table_key_free(key);
  word_table_free(t);
}

// ---------------------------------------------------------------------------
// Printing and failures

TEST(WordTable, PrintStatsAndBits) {
  word_table_t *t = word_table_new(12, 4, &kEmpty, 0);
  testing::internal::CaptureStdout();
  word_table_print_stats(t);
  const uint8_t bytes[] = {0xA5, 0x0F, 0xC0};
  word_table_print_bits(bytes, 18);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Word size                  24\n"
            "Word size in bytes          3\n"
            "Element size                4\n"
            "Size                       16\n"
            "Log size                    4\n"
            "Hex size                   10\n"
            "Position mask               f\n"
            "Element count               0\n"
            "Offset limit               16\n"
            "Blocks per word             3\n"
            "\n"
            " 10100101 00001111 11\n");
  word_table_free(t);
}

TEST(WordTable, IntBoxAndNullFrees) {
  int32_t *box = word_table_int_box_new(-5);
  EXPECT_EQ(*box, -5);
  EXPECT_EQ(word_table_int_box_free(box), nullptr);
  EXPECT_EQ(word_table_int_box_free(nullptr), nullptr);
  EXPECT_EQ(word_table_free(nullptr), nullptr);
  EXPECT_EQ(word_table_free_raw(nullptr), nullptr);
  EXPECT_EQ(word_table_key_free(nullptr), nullptr);
}

TEST(WordTableDeath, TableBeyondTheAddressSpace) {
  EXPECT_EXIT(word_table_new_sized(20, 8, &kEmpty, 0, 60), testing::ExitedWithCode(1),
              "^Out of memory\n$");
  // Within the address space but beyond any machine: the allocator's own
  // failure path.
  EXPECT_EXIT(word_table_new_sized(30, 4, &kEmpty, 0, 50), testing::ExitedWithCode(69),
              "Out of memory allocating [0-9]+ bytes\\.\n$");
}

}  // namespace
