// Bit-field array: packed fields with compare-and-swap writes, and its
// stage-file piece.
#include "denovo/reads/bit_field_array.h"

#include <bit>
#include <cstring>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"

static_assert(std::endian::native == std::endian::little, "the piece stores the words as they lie in memory");

namespace {

constexpr uint64_t kMaxWidth = 64;
// Fields per growth step once doubling stops.
constexpr uint64_t kGrowthStep = 0x8000000;
constexpr uint64_t kEmptyCapacity = 8;

uint64_t mask_for(uint64_t width) { return width == 0 || width == 64 ? ~UINT64_C(0) : (UINT64_C(1) << width) - 1; }

// Bits of capacity fields; a size that cannot exist in memory ends the
// process as a failed allocation would.
uint64_t field_bits_or_exit(uint64_t capacity, uint64_t width) {
  uint64_t bits;
  if (__builtin_mul_overflow(capacity, width, &bits) || bits > UINT64_MAX - 128) ryx_malloc_check(nullptr, SIZE_MAX);
  return bits;
}

uint64_t word_bytes_or_exit(uint64_t capacity, uint64_t width) {
  field_bits_or_exit(capacity, width);
  return bit_field_array_word_count(capacity, width) * sizeof(uint64_t);
}

// Bytes of the piece that hold fields 0 .. count-1.
uint64_t field_bytes(uint64_t count, uint64_t width) {
  const uint64_t bits = count * width;
  return bits / 8 + (bits % 8 != 0 ? 1 : 0);
}

// The largest capacity that the array's own growth leaves for count fields
// (a fresh empty array, or doubling when the count reaches the capacity).
// Larger stored capacities are taken as damage, so a bad piece cannot ask
// for a giant allocation; the writer stores no more than this.
uint64_t plausible_capacity(uint64_t count) {
  if (count > UINT64_MAX / 2) return UINT64_MAX;
  return count * 2 > kEmptyCapacity ? count * 2 : kEmptyCapacity;
}

[[noreturn]] void bad_piece(const char *format, unsigned long long a, unsigned long long b = 0) {
  fprintf(stderr, "bit_field_array_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

// Replaces the bits of word under m by those of bits, retrying until no
// other writer got in between.
inline void update_word(uint64_t *word, uint64_t m, uint64_t bits) {
  uint64_t old = __atomic_load_n(word, __ATOMIC_RELAXED);
  while (!__atomic_compare_exchange_n(word, &old, (old & ~m) | (bits & m), true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
  }
}

}  // namespace

uint64_t bit_field_array_word_count(uint64_t capacity, uint64_t width) {
  // width <= 64 < 128, so the sum never drops below 64 bits.
  return (capacity * width + 128 - width) / 64;
}

bit_field_array_t *bit_field_array_new(uint64_t count, uint64_t width) {
  if (width > kMaxWidth) {
    fprintf(stderr, "Maximum supported field size is 64 bits\n");
    ryx_exit(1);
  }
  auto *array = static_cast<bit_field_array_t *>(ryx_malloc(sizeof(bit_field_array_t)));
  array->width = width;
  array->count = count;
  array->capacity = count;
  array->mask = mask_for(width);
  array->words = static_cast<uint64_t *>(ryx_calloc(word_bytes_or_exit(count, width)));
  return array;
}

bit_field_array_t *bit_field_array_new_for_max(uint64_t count, uint64_t max_value) {
  return bit_field_array_new(count, static_cast<uint64_t>(std::bit_width(max_value)));
}

bit_field_array_t *bit_field_array_new_empty(uint64_t width) {
  bit_field_array_t *array = bit_field_array_new(0, width);
  bit_field_array_set_capacity(array, kEmptyCapacity);
  return array;
}

bit_field_array_t *bit_field_array_free(bit_field_array_t *array) {
  if (array == nullptr) return nullptr;
  ryx_free(array->words);
  ryx_free(array);
  return nullptr;
}

void bit_field_array_clear(bit_field_array_t *array) {
  memset(array->words, 0, bit_field_array_word_count(array->count, array->width) * sizeof(uint64_t));
}

void bit_field_array_set(bit_field_array_t *array, uint64_t index, uint64_t value) {
  // A zero-width field holds nothing; its all-ones mask must not reach the
  // words, or fields would read back non-zero.
  if (array->width == 0) return;
  const uint64_t bit = index * array->width;
  const uint64_t w = bit / 64;
  const unsigned s = static_cast<unsigned>(bit % 64);
  update_word(&array->words[w], array->mask << s, value << s);
  if (array->width + s > 64) {
    // The field continues into the next word; s > 0 here.
    const uint64_t keep = ~UINT64_C(0) << (array->width + s - 64);
    update_word(&array->words[w + 1], ~keep, value >> (64 - s));
  }
}

void bit_field_array_set_capacity(bit_field_array_t *array, uint64_t capacity) {
  const uint64_t old_words = bit_field_array_word_count(array->capacity, array->width);
  const uint64_t bytes = word_bytes_or_exit(capacity, array->width);
  const uint64_t new_words = bytes / sizeof(uint64_t);
  array->words = static_cast<uint64_t *>(ryx_realloc(array->words, bytes));
  if (new_words > old_words) memset(array->words + old_words, 0, (new_words - old_words) * sizeof(uint64_t));
  array->capacity = capacity;
}

void bit_field_array_append(bit_field_array_t *array, uint64_t value) {
  const uint64_t index = array->count++;
  if (array->count >= array->capacity) {
    // An array of capacity 0 could never double; it restarts at the
    // capacity of a fresh empty array.
    uint64_t capacity = array->capacity == 0 ? kEmptyCapacity : array->capacity;
    while (capacity <= array->count) capacity = capacity < kGrowthStep ? capacity * 2 : capacity + kGrowthStep;
    bit_field_array_set_capacity(array, capacity);
  }
  bit_field_array_set(array, index, value);
}

void bit_field_array_trim(bit_field_array_t *array) { bit_field_array_set_capacity(array, array->count); }

void bit_field_array_write(FILE *file, const bit_field_array_t *array) {
  if (array == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  const uint64_t capacity =
      array->capacity < plausible_capacity(array->count) ? array->capacity : plausible_capacity(array->count);
  bin_file_write_u8(file, 1);
  bin_file_write_u64(file, array->width);
  bin_file_write_u64(file, array->count);
  bin_file_write_u64(file, capacity);
  bin_file_write_u64(file, array->mask);
  large_file_write(array->words, field_bytes(array->count, array->width), file);
}

bit_field_array_t *bit_field_array_read(FILE *file) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const uint64_t width = bin_file_read_u64(file);
  const uint64_t count = bin_file_read_u64(file);
  const uint64_t capacity = bin_file_read_u64(file);
  const uint64_t mask = bin_file_read_u64(file);
  if (width > kMaxWidth) bad_piece("field width %llu is above 64", width);
  if (mask != mask_for(width)) bad_piece("mask %#llx does not belong to the field width %llu", mask, width);
  if (capacity < count) bad_piece("capacity %llu is below the count %llu", capacity, count);
  if (capacity > plausible_capacity(count)) bad_piece("capacity %llu is implausible for %llu fields", capacity, count);
  uint64_t bits;
  if (__builtin_mul_overflow(capacity, width, &bits) || bits > UINT64_MAX - 128) {
    bad_piece("%llu fields of %llu bits cannot be held in memory", capacity, width);
  }
  const uint64_t bytes = field_bytes(count, width);
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && bytes > static_cast<uint64_t>(left)) {
    bad_piece("the fields need %llu bytes but the file holds %llu more", bytes, static_cast<uint64_t>(left));
  }
  auto *array = static_cast<bit_field_array_t *>(ryx_malloc(sizeof(bit_field_array_t)));
  array->width = width;
  array->count = count;
  array->capacity = capacity;
  array->mask = mask;
  array->words = static_cast<uint64_t *>(ryx_calloc(bit_field_array_word_count(capacity, width) * sizeof(uint64_t)));
  const uint64_t got = large_file_read(array->words, bytes, file);
  if (got < bytes) bad_piece("the fields need %llu bytes but the file holds %llu more", bytes, got);
  return array;
}

void bit_field_array_shuffle(bit_field_array_t *array, RandomState *random, uint64_t first, uint64_t end) {
  if (first + 1 >= end) return;
  for (uint64_t a = first; a + 1 < end; a++) {
    // random_state_draw_ranged draws exactly as the 32-bit form below 2^32
    // and stays uniform for longer ranges.
    const uint64_t r = random_state_draw_ranged(random, end - a);
    if (r == 0) continue;
    const uint64_t x = bit_field_array_get(array, a);
    const uint64_t y = bit_field_array_get(array, a + r);
    bit_field_array_set(array, a, y);
    bit_field_array_set(array, a + r, x);
  }
}

void bit_field_array_sort_range(bit_field_array_t *array, uint64_t first, uint64_t end, generic_sort_compare_t compare,
                                void *context) {
  const uint64_t n = end - first;
  if (n == 0) return;
  auto *values = static_cast<uint64_t *>(ryx_malloc(n * sizeof(uint64_t)));
  for (uint64_t i = 0; i < n; i++) values[i] = bit_field_array_get(array, first + i);
  generic_sort(values, n, sizeof(uint64_t), compare, context);
  for (uint64_t i = 0; i < n; i++) bit_field_array_set(array, first + i, values[i]);
  ryx_free(values);
}
