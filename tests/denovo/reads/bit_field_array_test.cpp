// Bit-field array: every width against a plain bit-string model, the word
// layout of straddling fields, growth, shuffle and range sort, concurrent
// writers of neighbouring fields, and the file piece (hand-written bytes,
// round trips and damaged pieces).
#include "denovo/reads/bit_field_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/random_state.h"
#include "piece_files.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::pipe_of;
using denovo_reads_test::u64_bytes;
using denovo_reads_test::written_bytes;

uint64_t low_bits(uint64_t value, uint64_t width) { return width >= 64 ? value : value & ((UINT64_C(1) << width) - 1); }

// The array as one bit string, one bool per bit, written field by field.
struct BitModel {
  uint64_t width;
  std::vector<bool> bits;
  BitModel(uint64_t w, uint64_t count) : width(w), bits(count * w) {}
  void set(uint64_t i, uint64_t value) {
    for (uint64_t b = 0; b < width; b++) bits[i * width + b] = (value >> b) & 1;
  }
  uint64_t get(uint64_t i) const {
    uint64_t v = 0;
    for (uint64_t b = 0; b < width; b++) v |= static_cast<uint64_t>(bits[i * width + b]) << b;
    return v;
  }
};

// The words hold the model's bits and nothing beyond them.
void expect_words_match(const bit_field_array_t *array, const BitModel &model) {
  const uint64_t words = bit_field_array_word_count(array->capacity, array->width);
  for (uint64_t bit = 0; bit < words * 64; bit++) {
    const bool stored = (array->words[bit / 64] >> (bit % 64)) & 1;
    const bool expected = bit < model.bits.size() && model.bits[bit];
    ASSERT_EQ(stored, expected) << "bit " << bit;
  }
}

TEST(BitFieldArray, EveryWidthStoresFieldsAsOneLittleEndianBitString) {
  std::mt19937_64 rng(99);
  for (uint64_t width = 1; width <= 64; width++) {
    SCOPED_TRACE(testing::Message() << "width " << width);
    const uint64_t count = 130;  // every width straddles some word border
    bit_field_array_t *array = bit_field_array_new(count, width);
    EXPECT_EQ(array->capacity, count);
    EXPECT_EQ(array->mask, low_bits(~UINT64_C(0), width));
    EXPECT_EQ(bit_field_array_word_count(count, width), (count * width - width + 128) / 64);
    BitModel model(width, count);
    // Random order and values, some wider than the field; rewrites too.
    for (int round = 0; round < 3; round++) {
      for (uint64_t n = 0; n < count; n++) {
        const uint64_t i = rng() % count;
        const uint64_t value = rng();
        bit_field_array_set(array, i, value);
        model.set(i, value);
      }
    }
    for (uint64_t i = 0; i < count; i++) ASSERT_EQ(bit_field_array_get(array, i), model.get(i)) << "field " << i;
    expect_words_match(array, model);
    bit_field_array_free(array);
  }
}

TEST(BitFieldArray, FieldAcrossTheFirstWordBorderLeavesItsNeighboursAlone) {
  bit_field_array_t *array = bit_field_array_new(20, 7);
  bit_field_array_set(array, 8, 0x55);
  bit_field_array_set(array, 10, 0x2A);
  // Field 9 takes bit 63 of word 0 and bits 0-5 of word 1.
  bit_field_array_set(array, 9, 0x7F);
  EXPECT_EQ(array->words[0] >> 63, 1u);
  EXPECT_EQ(array->words[1] & 0x3F, 0x3Fu);
  EXPECT_EQ(bit_field_array_get(array, 9), 0x7Fu);
  EXPECT_EQ(bit_field_array_get(array, 8), 0x55u);
  EXPECT_EQ(bit_field_array_get(array, 10), 0x2Au);
  bit_field_array_set(array, 9, 0x40);
  EXPECT_EQ(bit_field_array_get(array, 9), 0x40u);
  EXPECT_EQ(bit_field_array_get(array, 8), 0x55u);
  EXPECT_EQ(bit_field_array_get(array, 10), 0x2Au);
  // A value wider than the field keeps its low seven bits only.
  bit_field_array_set(array, 9, 0xFFF81);
  EXPECT_EQ(bit_field_array_get(array, 9), 0x01u);
  EXPECT_EQ(bit_field_array_get(array, 10), 0x2Au);
  bit_field_array_free(array);
}

TEST(BitFieldArray, Width64KeepsWholeWordsAndWidthZeroReadsZero) {
  bit_field_array_t *array = bit_field_array_new(3, 64);
  EXPECT_EQ(array->mask, ~UINT64_C(0));
  const uint64_t values[] = {~UINT64_C(0), 0x8000000000000001u, 0x0123456789ABCDEFu};
  for (uint64_t i = 0; i < 3; i++) bit_field_array_set(array, i, values[i]);
  for (uint64_t i = 0; i < 3; i++) EXPECT_EQ(bit_field_array_get(array, i), values[i]);
  EXPECT_EQ(bit_field_array_word_count(3, 64), 4u);
  bit_field_array_free(array);

  bit_field_array_t *none = bit_field_array_new_for_max(5, 0);
  EXPECT_EQ(none->width, 0u);
  EXPECT_EQ(none->mask, ~UINT64_C(0));
  bit_field_array_set(none, 2, 12345);
  for (uint64_t i = 0; i < 5; i++) EXPECT_EQ(bit_field_array_get(none, i), 0u);
  bit_field_array_free(none);
}

TEST(BitFieldArray, WidthForAMaximumIsItsHighestBitPlusOne) {
  const struct {
    uint64_t max, width;
  } cases[] = {{0, 0}, {1, 1}, {5, 3}, {7, 3}, {8, 4}, {255, 8}, {256, 9}, {~UINT64_C(0), 64}};
  for (const auto &c : cases) {
    bit_field_array_t *array = bit_field_array_new_for_max(4, c.max);
    EXPECT_EQ(array->width, c.width) << "max " << c.max;
    bit_field_array_set(array, 3, c.max);
    EXPECT_EQ(bit_field_array_get(array, 3), c.max);
    bit_field_array_free(array);
  }
}

TEST(BitFieldArray, WidthAbove64EndsWithItsMessage) {
  EXPECT_EXIT(bit_field_array_new(10, 65), testing::ExitedWithCode(1), "^Maximum supported field size is 64 bits\n$");
}

TEST(BitFieldArray, AppendGrowsByDoublingAndCapacityChangesZeroNewWords) {
  bit_field_array_t *array = bit_field_array_new_empty(13);
  EXPECT_EQ(array->count, 0u);
  EXPECT_EQ(array->capacity, 8u);
  std::vector<uint64_t> capacities;
  for (uint64_t i = 0; i < 40; i++) {
    bit_field_array_append(array, i * 97);
    EXPECT_EQ(array->count, i + 1);
    EXPECT_GT(array->capacity, array->count);
    if (capacities.empty() || capacities.back() != array->capacity) capacities.push_back(array->capacity);
  }
  EXPECT_EQ(capacities, (std::vector<uint64_t>{8, 16, 32, 64}));
  for (uint64_t i = 0; i < 40; i++) EXPECT_EQ(bit_field_array_get(array, i), (i * 97) & 0x1FFF);

  bit_field_array_trim(array);
  EXPECT_EQ(array->capacity, 40u);
  bit_field_array_set_capacity(array, 200);
  for (uint64_t i = 40; i < 200; i++) EXPECT_EQ(bit_field_array_get(array, i), 0u) << "field " << i;
  for (uint64_t i = 0; i < 40; i++) EXPECT_EQ(bit_field_array_get(array, i), (i * 97) & 0x1FFF);

  // An array of capacity 0 restarts its growth rather than doubling 0.
  bit_field_array_t *zero = bit_field_array_new(0, 5);
  bit_field_array_append(zero, 9);
  EXPECT_EQ(zero->count, 1u);
  EXPECT_EQ(zero->capacity, 8u);
  EXPECT_EQ(bit_field_array_get(zero, 0), 9u);
  bit_field_array_free(zero);

  bit_field_array_clear(array);
  for (uint64_t i = 0; i < 40; i++) EXPECT_EQ(bit_field_array_get(array, i), 0u);
  EXPECT_EQ(bit_field_array_free(array), nullptr);
  EXPECT_EQ(bit_field_array_free(nullptr), nullptr);
}

TEST(BitFieldArray, ShuffleFollowsForwardFisherYatesOnTheGenerator) {
  const uint64_t count = 300, first = 17, end = 250;
  bit_field_array_t *array = bit_field_array_new(count, 11);
  std::vector<uint64_t> model(count);
  for (uint64_t i = 0; i < count; i++) {
    bit_field_array_set(array, i, i);
    model[i] = i;
  }
  RandomState *random = random_state_new_seeded(77);
  RandomState *twin = random_state_new_seeded(77);
  bit_field_array_shuffle(array, random, first, end);
  for (uint64_t a = first; a + 1 < end; a++) {
    const uint64_t r = random_state_draw_ranged32(twin, static_cast<uint32_t>(end - a));
    std::swap(model[a], model[a + r]);
  }
  for (uint64_t i = 0; i < count; i++) EXPECT_EQ(bit_field_array_get(array, i), model[i]) << "field " << i;
  // The generators stand at the same place afterwards.
  EXPECT_EQ(random_state_draw_u64(random), random_state_draw_u64(twin));

  // A range of one field draws nothing and changes nothing.
  const uint32_t offset = random->read_offset();
  bit_field_array_shuffle(array, random, 5, 6);
  EXPECT_EQ(random->read_offset(), offset);
  EXPECT_EQ(bit_field_array_get(array, 5), model[5]);
  random_state_free(random);
  random_state_free(twin);
  bit_field_array_free(array);
}

int compare_descending(const void *a, const void *b, void *context) {
  ++*static_cast<int *>(context);
  const uint64_t x = *static_cast<const uint64_t *>(a), y = *static_cast<const uint64_t *>(b);
  return x > y ? -1 : x < y ? 1 : 0;
}

TEST(BitFieldArray, SortRangeOrdersOnlyTheRange) {
  std::mt19937_64 rng(5);
  const uint64_t count = 500, first = 40, end = 460;
  bit_field_array_t *array = bit_field_array_new(count, 21);
  std::vector<uint64_t> model(count);
  for (uint64_t i = 0; i < count; i++) {
    model[i] = rng() & 0x1FFFFF;
    bit_field_array_set(array, i, model[i]);
  }
  int calls = 0;
  bit_field_array_sort_range(array, first, end, compare_descending, &calls);
  std::sort(model.begin() + first, model.begin() + end, std::greater<uint64_t>());
  for (uint64_t i = 0; i < count; i++) EXPECT_EQ(bit_field_array_get(array, i), model[i]) << "field " << i;
  EXPECT_GT(calls, 0);
  bit_field_array_sort_range(array, 10, 10, compare_descending, &calls);
  bit_field_array_free(array);
}

// Each thread owns every eighth field, so neighbouring fields, which share
// words, belong to different threads; lost updates would leave stale bits.
TEST(BitFieldArrayThread, ConcurrentSetsOfNeighbouringFieldsKeepEveryBit) {
  const int threads = 8;
  const uint64_t count = 2048;
  for (uint64_t width : {1u, 3u, 7u, 13u, 64u}) {
    SCOPED_TRACE(testing::Message() << "width " << width);
    bit_field_array_t *array = bit_field_array_new(count, width);
    auto value_of = [width](uint64_t i, int round) { return low_bits(i * 0x9E3779B97F4A7C15u + round, width); };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
      workers.emplace_back([=] {
        for (int round = 0; round < 20; round++) {
          for (uint64_t i = static_cast<uint64_t>(t); i < count; i += threads)
            bit_field_array_set(array, i, value_of(i, round));
        }
      });
    }
    for (auto &w : workers) w.join();
    for (uint64_t i = 0; i < count; i++) ASSERT_EQ(bit_field_array_get(array, i), value_of(i, 19)) << "field " << i;
    bit_field_array_free(array);
  }
}

std::string piece_of(const bit_field_array_t *array) {
  return written_bytes([&](FILE *f) { bit_field_array_write(f, array); });
}

bit_field_array_t *read_piece(const std::string &bytes) {
  FILE *f = file_of(bytes);
  bit_field_array_t *array = bit_field_array_read(f);
  fclose(f);
  return array;
}

TEST(BitFieldArray, PieceBytesMatchTheHandWrittenLayout) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/bit_field_width7_straddle.piece.hex");
  bit_field_array_t *array = bit_field_array_new(10, 7);
  bit_field_array_set(array, 8, 1);
  bit_field_array_set(array, 9, 127);
  EXPECT_EQ(piece_of(array), golden);
  bit_field_array_free(array);

  bit_field_array_t *back = read_piece(golden);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->width, 7u);
  EXPECT_EQ(back->count, 10u);
  EXPECT_EQ(back->capacity, 10u);
  EXPECT_EQ(back->mask, 0x7Fu);
  for (uint64_t i = 0; i < 10; i++) EXPECT_EQ(bit_field_array_get(back, i), i == 8 ? 1u : i == 9 ? 127u : 0u);
  EXPECT_EQ(back->words[1] >> 6, 0u);  // nothing behind the last field
  bit_field_array_free(back);

  // No array: the single byte 0. No fields: the flag and four numbers.
  EXPECT_EQ(piece_of(nullptr), std::string(1, '\0'));
  EXPECT_EQ(read_piece(std::string(1, '\0')), nullptr);
  bit_field_array_t *empty = bit_field_array_new(0, 12);
  const std::string empty_piece = ryx_test::hex_bytes(
      "01  0C 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  FF 0F 00 00 00 00 00 00");
  EXPECT_EQ(piece_of(empty), empty_piece);
  bit_field_array_free(empty);
  // Five-bit fields 1, 2 and 31: 1 | 2 << 5 | 31 << 10 = 0x7C41; the reader
  // takes a capacity above the count and zeroes the words behind the fields.
  bit_field_array_t *roomy = read_piece(ryx_test::hex_bytes(
      "01  05 00 00 00 00 00 00 00  03 00 00 00 00 00 00 00  06 00 00 00 00 00 00 00  1F 00 00 00 00 00 00 00  41 7C"));
  ASSERT_NE(roomy, nullptr);
  EXPECT_EQ(roomy->capacity, 6u);
  for (uint64_t i = 0; i < 6; i++)
    EXPECT_EQ(bit_field_array_get(roomy, i), (std::vector<uint64_t>{1, 2, 31, 0, 0, 0})[i]);
  bit_field_array_free(roomy);
}

TEST(BitFieldArray, PieceRoundTripKeepsEveryFieldAndTheSizes) {
  std::mt19937_64 rng(8);
  for (uint64_t width : {0u, 1u, 7u, 33u, 63u, 64u}) {
    for (uint64_t count : {0u, 1u, 9u, 100u}) {
      SCOPED_TRACE(testing::Message() << "width " << width << " count " << count);
      bit_field_array_t *array = bit_field_array_new_empty(width);
      for (uint64_t i = 0; i < count; i++) bit_field_array_append(array, rng());
      const std::string bytes = piece_of(array);
      EXPECT_EQ(bytes.size(), 33 + (width * count + 7) / 8);
      bit_field_array_t *back = read_piece(bytes);
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(back->width, array->width);
      EXPECT_EQ(back->count, array->count);
      EXPECT_EQ(back->capacity, array->capacity);
      EXPECT_EQ(back->mask, array->mask);
      for (uint64_t i = 0; i < count; i++) ASSERT_EQ(bit_field_array_get(back, i), bit_field_array_get(array, i));
      EXPECT_EQ(piece_of(back), bytes);
      bit_field_array_free(back);
      bit_field_array_free(array);
    }
  }
  // A capacity raised far past the count by hand is stored as twice the
  // count, the most the reader accepts.
  bit_field_array_t *array = bit_field_array_new(5, 9);
  bit_field_array_set_capacity(array, 1000);
  bit_field_array_t *back = read_piece(piece_of(array));
  EXPECT_EQ(back->capacity, 10u);
  bit_field_array_free(back);
  bit_field_array_free(array);
}

// A piece header: present, then width, count, capacity and mask.
std::string header(uint64_t width, uint64_t count, uint64_t capacity, uint64_t mask) {
  return std::string(1, '\1') + u64_bytes(width) + u64_bytes(count) + u64_bytes(capacity) + u64_bytes(mask);
}

TEST(BitFieldArray, DamagedPiecesEndWithAMessageAndStatus1) {
  const struct {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\2'), "^bit_field_array_read: presence byte is 2, not 0 or 1\n$"},
      {"width", header(65, 1, 1, ~0ull) + "12345678912", "^bit_field_array_read: field width 65 is above 64\n$"},
      {"mask", header(7, 1, 1, 0xFF) + "x", "^bit_field_array_read: mask 0xff does not belong to the field width 7\n$"},
      {"capacity below count", header(7, 10, 3, 0x7F) + std::string(9, 'x'),
       "^bit_field_array_read: capacity 3 is below the count 10\n$"},
      {"giant capacity", header(64, 2, 1ull << 40, ~0ull) + std::string(16, 'x'),
       "^bit_field_array_read: capacity 1099511627776 is implausible for 2 fields\n$"},
      {"size beyond 64 bits", header(64, 1ull << 62, 1ull << 62, ~0ull),
       "^bit_field_array_read: 4611686018427387904 fields of 64 bits cannot be held in memory\n$"},
      {"count beyond the file", header(64, 1ull << 40, 1ull << 40, ~0ull) + std::string(100, 'x'),
       "^bit_field_array_read: the fields need 8796093022208 bytes but the file holds 100 more\n$"},
      {"short fields", header(7, 10, 10, 0x7F) + std::string(8, 'x'),
       "^bit_field_array_read: the fields need 9 bytes but the file holds 8 more\n$"},
      {"short header", header(7, 10, 10, 0x7F).substr(0, 20), "^Error reading file: early termination\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(read_piece(c.bytes), testing::ExitedWithCode(1), c.message);
  }
  // A pipe cannot tell its length: the short read itself is caught.
  EXPECT_EXIT(
      {
        FILE *pipe = pipe_of(header(7, 10, 10, 0x7F) + std::string(4, 'x'));
        bit_field_array_read(pipe);
      },
      testing::ExitedWithCode(1), "^bit_field_array_read: the fields need 9 bytes but the file holds 4 more\n$");
}

}  // namespace
