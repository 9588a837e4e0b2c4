// Packed array of equal-width unsigned fields (0 to 64 bits) in 64-bit
// words.
//
// Field i occupies bits i * width .. i * width + width - 1 of the words read
// as one little-endian bit string, so a field may straddle two words. The
// words cover the capacity's fields plus one spare word, so reading any field
// may always load two words. Zero-width fields hold nothing and read 0.
//
// Threads: bit_field_array_set may run in many threads at once on different
// fields of one array, even fields that share a word (every word update is a
// compare-and-swap loop). A field must not be read while it is being written,
// and append, the capacity operations, clear and read need the array to
// themselves.
//
// Stage-file piece (little-endian): a presence byte (1, or 0 for an absent
// array and nothing more), the width, count, capacity and mask as u64, then
// (width * count + 7) / 8 bytes: fields 0 .. count-1 as one bit string,
// field 0 in the lowest bits of the first byte.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/reads/generic_sort.h"

class RandomState;

extern "C" {

struct bit_field_array_t {
  uint64_t width;     // bits per field, 0 to 64
  uint64_t count;     // fields in use
  uint64_t capacity;  // fields the words are allocated for
  uint64_t mask;      // 2^width - 1; all ones for widths 0 and 64
  uint64_t *words;    // bit_field_array_word_count(capacity, width) words
};

// Words that hold capacity fields of the given width, spare word included:
// floor((capacity * width - width + 128) / 64).
uint64_t bit_field_array_word_count(uint64_t capacity, uint64_t width);

// count zeroed fields of the given width, capacity = count. A width above 64
// prints "Maximum supported field size is 64 bits" on standard error and
// exits with status 1.
bit_field_array_t *bit_field_array_new(uint64_t count, uint64_t width);
// bit_field_array_new with the narrowest width that holds max_value (width
// 0 for a maximum of 0).
bit_field_array_t *bit_field_array_new_for_max(uint64_t count, uint64_t max_value);
// Count 0 and capacity 8, for appending.
bit_field_array_t *bit_field_array_new_empty(uint64_t width);
// Frees the words and the array (null allowed); returns null.
bit_field_array_t *bit_field_array_free(bit_field_array_t *array);
// Zeroes the words that hold fields 0 .. count-1 and the spare word.
void bit_field_array_clear(bit_field_array_t *array);

// The value of field index (below the capacity). Two word loads and one
// double shift whatever the width; the spare word makes the second load
// valid for the last field. Relaxed atomic loads keep concurrent setters of
// neighbouring fields race-free at no cost on x86.
inline uint64_t bit_field_array_get(const bit_field_array_t *array, uint64_t index) {
  const uint64_t bit = index * array->width;
  const uint64_t w = bit / 64;
  const unsigned s = static_cast<unsigned>(bit % 64);
  const unsigned __int128 low = __atomic_load_n(&array->words[w], __ATOMIC_RELAXED);
  const unsigned __int128 high = __atomic_load_n(&array->words[w + 1], __ATOMIC_RELAXED);
  return static_cast<uint64_t>((high << 64 | low) >> s) & array->mask;
}

// Stores value AND mask into field index (below the capacity); lock-free.
void bit_field_array_set(bit_field_array_t *array, uint64_t index, uint64_t value);
// Adds a field holding value at the end, growing the capacity when the new
// count reaches it: doubling below 0x8000000 fields, then in steps of
// 0x8000000, until it exceeds the count.
void bit_field_array_append(bit_field_array_t *array, uint64_t value);
// Reallocates the words for capacity fields, zeroing any added words; the
// count is unchanged (the caller keeps it at or below the capacity).
void bit_field_array_set_capacity(bit_field_array_t *array, uint64_t capacity);
// Shrinks the capacity (and the words) to the count.
void bit_field_array_trim(bit_field_array_t *array);

// Writes the stage-file piece of the array, or the single byte 0 for null.
// The stored capacity is at most max(8, 2 * count), what the array's own
// growth leaves and the reader accepts; a capacity raised further by
// bit_field_array_set_capacity is not kept.
void bit_field_array_write(FILE *file, const bit_field_array_t *array);
// Reads a piece written by bit_field_array_write: null when absent, else a
// new array whose words past the stored fields are zero. A piece that is
// inconsistent (presence byte not 0 or 1, width above 64, mask not that of
// the width, capacity below the count or above max(8, 2 * count)) or whose field
// bytes are not all in the file ends the process with a message naming
// bit_field_array_read on standard error and status 1; a file that ends
// inside the numbers ends it through the binary codecs.
bit_field_array_t *bit_field_array_read(FILE *file);

// Fisher-Yates shuffle of fields first .. end-1 with the generator.
void bit_field_array_shuffle(bit_field_array_t *array, RandomState *random, uint64_t first, uint64_t end);
// Sorts fields first .. end-1 (end at or above first) by compare on
// pointers to their values as uint64_t, with generic_sort.
void bit_field_array_sort_range(bit_field_array_t *array, uint64_t first, uint64_t end, generic_sort_compare_t compare,
                                void *context);

}  // extern "C"
