// Generic hash map: replacement, growth at the load limit, removal inside
// and across the wrap of probe runs, iteration in slot order, random
// operations against a model, the ready-made callbacks, the fatal sizes and
// the file piece (hand-written bytes, round trip, damaged pieces).
#include "denovo/reads/generic_hash_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "piece_files.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::pipe_of;
using denovo_reads_test::u64_bytes;
using denovo_reads_test::written_bytes;

int32_t key32(const void *p) {
  int32_t k;
  memcpy(&k, p, 4);
  return k;
}

uint64_t value64(const void *p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

// Keys met by a full iteration, in iteration order.
std::vector<int32_t> iterate_keys(generic_hash_map_t *map) {
  std::vector<int32_t> keys;
  generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(map);
  while (generic_hash_map_iterator_next(it)) {
    EXPECT_EQ(generic_hash_map_iterator_get_key(it), it->key);
    EXPECT_EQ(static_cast<uint8_t *>(it->value), static_cast<uint8_t *>(it->key) + map->key_size);
    keys.push_back(key32(it->key));
  }
  EXPECT_EQ(generic_hash_map_iterator_next(it), 0);
  generic_hash_map_iterator_free(it);
  return keys;
}

TEST(GenericHashMap, SecondInsertOfAKeyReplacesItsValue) {
  generic_hash_map_t *map = generic_hash_map_new_int(4, 8);
  const int32_t key = 77;
  const uint64_t first = 1, second = 2;
  EXPECT_EQ(generic_hash_map_insert(map, &key, &first), 1);
  EXPECT_EQ(generic_hash_map_insert(map, &key, &second), 0);
  EXPECT_EQ(map->count, 1u);
  EXPECT_EQ(value64(generic_hash_map_find(map, &key)), 2u);
  EXPECT_EQ(iterate_keys(map), std::vector<int32_t>{77});
  EXPECT_EQ(generic_hash_map_free(map), nullptr);
  EXPECT_EQ(generic_hash_map_free(nullptr), nullptr);
}

TEST(GenericHashMap, GrowsOnTheInsertThatWouldPassTheLoadLimit) {
  generic_hash_map_t *map = generic_hash_map_new_int(8, 8);
  EXPECT_EQ(map->log2_slots, 7);
  EXPECT_FLOAT_EQ(map->max_load, 0.7f);
  for (int64_t k = 0; k < 89; k++) {
    const uint64_t v = static_cast<uint64_t>(k) * 3;
    generic_hash_map_insert(map, &k, &v);
  }
  EXPECT_EQ(map->log2_slots, 7);
  EXPECT_FLOAT_EQ(map->load, 89.0f / 128.0f);
  // 90 / 128 > 0.7: even replacing a value counts as a new key here.
  const int64_t again = 5;
  const uint64_t v5 = 15;
  EXPECT_EQ(generic_hash_map_insert(map, &again, &v5), 0);
  EXPECT_EQ(map->log2_slots, 8);
  const int64_t ninetieth = 1000;
  EXPECT_EQ(generic_hash_map_insert(map, &ninetieth, &v5), 1);
  EXPECT_EQ(map->log2_slots, 8);
  std::multiset<int64_t> seen;
  generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(map);
  while (generic_hash_map_iterator_next(it)) {
    int64_t k;
    memcpy(&k, it->key, 8);
    seen.insert(k);
    EXPECT_EQ(value64(it->value), k == 1000 ? 15u : static_cast<uint64_t>(k) * 3);
  }
  generic_hash_map_iterator_free(it);
  EXPECT_EQ(seen.size(), 90u);
  EXPECT_EQ(std::set<int64_t>(seen.begin(), seen.end()).size(), 90u);

  // Many more keys: the table is always the smallest that the rule allows.
  for (int64_t k = 2000; k < 12000; k++) generic_hash_map_insert(map, &k, &v5);
  int expected_log2 = 7;
  for (uint64_t n = 1; n <= map->count; n++) {
    if (static_cast<float>(n) / static_cast<float>(uint64_t{1} << expected_log2) > 0.7f) expected_log2++;
  }
  EXPECT_EQ(map->log2_slots, expected_log2);
  for (int64_t k = 0; k < 89; k++) EXPECT_TRUE(generic_hash_map_contains(map, &k));
  generic_hash_map_free(map);
}

TEST(GenericHashMap, IterationFollowsSlotOrderNotInsertionOrder) {
  generic_hash_map_t *map = generic_hash_map_new_int(4, 4);
  // The home slot of a 4-byte key is the key itself mod 128; 131 finds
  // slot 3 taken by 3 and moves on to 4, which pushes 4 on to 5.
  for (int32_t k : {100, 3, 131, 4, 127, 0, 255}) generic_hash_map_insert(map, &k, &k);
  EXPECT_EQ(iterate_keys(map), (std::vector<int32_t>{0, 255, 3, 131, 4, 100, 127}));
  for (int32_t k : {0, 3, 4, 100, 127, 131, 255}) EXPECT_EQ(key32(generic_hash_map_find(map, &k)), k);
  generic_hash_map_free(map);
}

TEST(GenericHashMap, RemovingFromAProbeRunKeepsTheOthersReachable) {
  const struct {
    const char *name;
    std::vector<int32_t> keys;
    int32_t removed;
    std::vector<int32_t> order_after;  // iteration order after the removal
  } cases[] = {
      // 5, 133, 261 share home 5; 6 is pushed to 8; removing 133 pulls 261
      // and then 6 back.
      {"middle of a run", {5, 133, 261, 6}, 133, {5, 261, 6}},
      {"head of a run", {5, 133, 261, 6}, 5, {133, 261, 6}},
      {"tail of a run", {5, 133, 261, 6}, 6, {5, 133, 261}},
      // 127 and 255 share home 127; 255 wraps to slot 0 and pushes 0 and 1
      // on to slots 1 and 2; all three move back one slot.
      {"across the wrap", {127, 255, 0, 1}, 127, {0, 1, 255}},
      // 382 (home 126) sits in slot 0 after the wrap and moves back to 127;
      // 0 follows into slot 0.
      {"back across the wrap", {126, 254, 382, 0}, 254, {0, 126, 382}},
      // 6 sits at its home right after the hole and stays; 133 (home 5)
      // passes it to fill the hole.
      {"entry at home stays", {5, 6, 133}, 5, {133, 6}},
      {"absent key", {5, 133}, 261, {5, 133}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    generic_hash_map_t *map = generic_hash_map_new_int(4, 4);
    for (int32_t k : c.keys) generic_hash_map_insert(map, &k, &k);
    const bool present = generic_hash_map_contains(map, &c.removed);
    EXPECT_EQ(generic_hash_map_remove(map, &c.removed), present ? 1 : 0);
    EXPECT_EQ(generic_hash_map_contains(map, &c.removed), 0);
    for (int32_t k : c.keys) {
      if (k == c.removed) continue;
      const void *v = generic_hash_map_find(map, &k);
      ASSERT_NE(v, nullptr) << "key " << k;
      EXPECT_EQ(key32(v), k);
    }
    EXPECT_EQ(iterate_keys(map), c.order_after);
    EXPECT_EQ(map->count, c.order_after.size());
    generic_hash_map_free(map);
  }
}

// Few home slots for many keys, so runs are long and overlap and wrap.
uint64_t crowded_hash(const void *key) { return static_cast<uint64_t>(key32(key)) % 7 + 122; }

TEST(GenericHashMap, RandomInsertsAndRemovesFollowAModel) {
  std::mt19937 rng(31);
  for (auto hash : {generic_hash_map_hash_int32, crowded_hash}) {
    generic_hash_map_t *map = generic_hash_map_new(4, 8, generic_hash_map_equal_int32, hash);
    std::map<int32_t, uint64_t> model;
    for (int step = 0; step < 6000; step++) {
      const int32_t key = static_cast<int32_t>(rng() % 300) - 150;
      if (rng() % 3 == 0) {
        ASSERT_EQ(generic_hash_map_remove(map, &key), model.erase(key) == 1 ? 1 : 0);
      } else {
        const uint64_t value = rng();
        ASSERT_EQ(generic_hash_map_insert(map, &key, &value), model.count(key) == 0 ? 1 : 0);
        model[key] = value;
      }
      ASSERT_EQ(map->count, model.size());
      if (step % 20 == 0) {
        for (int32_t k = -150; k < 150; k++) {
          const void *v = generic_hash_map_find(map, &k);
          auto m = model.find(k);
          if (m == model.end()) {
            ASSERT_EQ(v, nullptr) << "key " << k;
          } else {
            ASSERT_NE(v, nullptr) << "key " << k;
            ASSERT_EQ(value64(v), m->second);
          }
        }
        uint64_t used = 0;
        for (uint64_t s = 0; s < (uint64_t{1} << map->log2_slots); s++) used += generic_hash_map_slot_used(map, s);
        ASSERT_EQ(used, model.size());
      }
    }
    generic_hash_map_free(map);
  }
}

TEST(GenericHashMap, ReadyMadeCallbacks) {
  const int32_t minus_one = -1;
  EXPECT_EQ(generic_hash_map_hash_int32(&minus_one), ~UINT64_C(0));
  const int64_t big = INT64_C(0x123456789);
  EXPECT_EQ(generic_hash_map_hash_int64(&big), 0x123456789u);
  const int32_t a = 4, b = 4, c = 5;
  EXPECT_EQ(generic_hash_map_equal_int32(&a, &b), 0);
  EXPECT_NE(generic_hash_map_equal_int32(&a, &c), 0);
  const int64_t x = INT64_C(1) << 40, y = (INT64_C(1) << 40) + 1;
  EXPECT_EQ(generic_hash_map_equal_int64(&x, &x), 0);
  EXPECT_NE(generic_hash_map_equal_int64(&x, &y), 0);
  // djb2 over signed chars: "ab" = (5381 * 33 + 97) * 33 + 98; the byte
  // 0xFF counts as -1.
  const char *ab = "ab";
  const char *ff = "\xff";
  EXPECT_EQ(generic_hash_map_hash_string(&ab), (UINT64_C(5381) * 33 + 97) * 33 + 98);
  EXPECT_EQ(generic_hash_map_hash_string(&ff), UINT64_C(5381) * 33 - 1);
}

TEST(GenericHashMap, StringMapComparesContentsNotPointers) {
  generic_hash_map_t *map = generic_hash_map_new_string(4);
  char first[] = "contig_1";
  char second[] = "contig_1";
  char other[] = "contig_2";
  const char *p1 = first, *p2 = second, *p3 = other;
  const int32_t v1 = 1, v2 = 2;
  EXPECT_EQ(generic_hash_map_insert(map, &p1, &v1), 1);
  EXPECT_EQ(generic_hash_map_insert(map, &p2, &v2), 0);
  EXPECT_EQ(map->count, 1u);
  EXPECT_EQ(key32(generic_hash_map_find(map, &p1)), 2);
  EXPECT_EQ(generic_hash_map_find(map, &p3), nullptr);
  generic_hash_map_free(map);
}

TEST(GenericHashMap, ImpossibleSizesEndWithTheirMessages) {
  EXPECT_EXIT(generic_hash_map_new_sized(4, 4, generic_hash_map_equal_int32, generic_hash_map_hash_int32, 64),
              testing::ExitedWithCode(1),
              "^Error: Tried to allocate a generic hash map with more than 9223372036854775808 bytes\n$");
  EXPECT_EXIT(generic_hash_map_new_sized(4, 12, generic_hash_map_equal_int32, generic_hash_map_hash_int32, 60),
              testing::ExitedWithCode(1), "^Error: generic hash map out of memory\n$");
  // The message goes to standard output, sent on to standard error here so
  // that the death test can see it.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        generic_hash_map_new_int(5, 4);
      },
      testing::KilledBySignal(SIGABRT), "^Key size must be either 4 or 8 bytes$");
}

std::string piece_of(const generic_hash_map_t *map) {
  return written_bytes([&](FILE *f) { generic_hash_map_write(f, map); });
}

generic_hash_map_t *read_int32_piece(const std::string &bytes) {
  FILE *f = file_of(bytes);
  generic_hash_map_t *map = generic_hash_map_read(f, 4, 4, generic_hash_map_equal_int32, generic_hash_map_hash_int32);
  fclose(f);
  return map;
}

TEST(GenericHashMap, PieceBytesMatchTheHandWrittenLayout) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/hash_map_two_int32.piece.hex");
  generic_hash_map_t *map = generic_hash_map_new_int(4, 4);
  const int32_t k2 = 2, k1 = 1;
  const uint32_t v2 = 0x11223344, v1 = 0xAABBCCDD;
  generic_hash_map_insert(map, &k2, &v2);
  generic_hash_map_insert(map, &k1, &v1);
  EXPECT_EQ(piece_of(map), golden);
  generic_hash_map_free(map);

  generic_hash_map_t *back = read_int32_piece(golden);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->count, 2u);
  EXPECT_EQ(static_cast<uint32_t>(key32(generic_hash_map_find(back, &k1))), v1);
  EXPECT_EQ(static_cast<uint32_t>(key32(generic_hash_map_find(back, &k2))), v2);
  generic_hash_map_free(back);

  EXPECT_EQ(piece_of(nullptr), std::string(1, '\0'));
  EXPECT_EQ(read_int32_piece(std::string(1, '\0')), nullptr);
}

TEST(GenericHashMap, PieceRoundTripKeepsEveryEntry) {
  std::mt19937_64 rng(12);
  for (int n : {0, 1, 200, 3000}) {
    SCOPED_TRACE(testing::Message() << n << " entries");
    generic_hash_map_t *map = generic_hash_map_new_int(8, 8);
    std::map<int64_t, uint64_t> model;
    for (int i = 0; i < n; i++) {
      const int64_t key = static_cast<int64_t>(rng());
      const uint64_t value = rng();
      generic_hash_map_insert(map, &key, &value);
      model[key] = value;
    }
    const std::string bytes = piece_of(map);
    EXPECT_EQ(bytes.size(), 25 + 16 * model.size());
    FILE *f = file_of(bytes);
    generic_hash_map_t *back =
        generic_hash_map_read(f, 8, 8, generic_hash_map_equal_int64, generic_hash_map_hash_int64);
    fclose(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->count, model.size());
    for (const auto &[key, value] : model) {
      const void *v = generic_hash_map_find(back, &key);
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(value64(v), value);
    }
    generic_hash_map_free(back);
    generic_hash_map_free(map);
  }
}

std::string header(uint64_t key_size, uint64_t value_size, uint64_t count) {
  return std::string(1, '\1') + u64_bytes(key_size) + u64_bytes(value_size) + u64_bytes(count);
}

std::string entry(int32_t key, int32_t value) {
  std::string out(8, '\0');
  memcpy(out.data(), &key, 4);
  memcpy(out.data() + 4, &value, 4);
  return out;
}

TEST(GenericHashMap, DamagedPiecesEndWithAMessageAndStatus1) {
  const struct {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\3'), "^generic_hash_map_read: presence byte is 3, not 0 or 1\n$"},
      {"key size", header(8, 4, 0), "^generic_hash_map_read: key size 8, expected 4\n$"},
      {"value size", header(4, 16, 0), "^generic_hash_map_read: value size 16, expected 4\n$"},
      {"count beyond the file", header(4, 4, 1ull << 50) + entry(1, 1),
       "^generic_hash_map_read: 1125899906842624 entries do not fit in the 8 bytes left in the file\n$"},
      {"count beyond 64 bits", header(4, 4, 1ull << 62) + entry(1, 1),
       "^generic_hash_map_read: 4611686018427387904 entries of 8 bytes cannot exist\n$"},
      {"repeated key", header(4, 4, 3) + entry(1, 1) + entry(2, 2) + entry(1, 3),
       "^generic_hash_map_read: entry 2 repeats an earlier key\n$"},
      {"short header", header(4, 4, 3).substr(0, 12), "^Error reading file: early termination\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(read_int32_piece(c.bytes), testing::ExitedWithCode(1), c.message);
  }
  EXPECT_EXIT(
      {
        FILE *pipe = pipe_of(header(4, 4, 2) + entry(1, 1) + "abc");
        generic_hash_map_read(pipe, 4, 4, generic_hash_map_equal_int32, generic_hash_map_hash_int32);
      },
      testing::ExitedWithCode(1), "^generic_hash_map_read: the file ends in entry 1 of 2\n$");
}

}  // namespace
