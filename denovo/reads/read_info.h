// Read paths: every distinct path of oriented fragments that a mapped read
// passes through, in one flat array of 32-bit words, with a read count per
// path and, once mapping is over, a per-fragment index of every place a
// fragment occurs in a counted path.
//
// Also the two identifiers the path walks rest on:
// - oriented_id_t: 32 bits; bit 31 set = reverse strand, low 31 bits = the
//   index; all ones = none.
// - read_ptr_t: 64 bits; low 63 bits = an element position, bit 63 set =
//   the path is read backwards from there; all ones = none.
//
// Word layout: element e occupies words 2e and 2e+1. Word 2e+1 is the
// element's oriented fragment id as the read sees it. Word 2e is, for the
// first element of a path, its start word (read count << 2 | mark << 1 | 1),
// for every other element its step word (signed distance from the previous
// fragment's end << 1, bit 0 clear). A path ends where the next word 2e has
// bit 0 set. A finished array ends with one terminator word 1, so it holds
// 2N + 1 words for N elements and position N is the end.
//
// Calling order: read_info_new; start paths, add steps, copy paths and
// adjust counts; then exactly one of read_info_finish (batch infos) or
// read_info_make_searchable (infos whose occurrences are looked up). After
// that the words are read-only. The caller owns the info; one thread at a
// time, except that walks and lookups on a finished info may run anywhere.
//
// Stage-file piece (little-endian): a presence byte (1, or 0 for an absent
// info), u64 word count, u64 capacity, u32 fragment count, the words as u32,
// then the bit-field array pieces of offsets, occurrences and reverse order.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/reads/bit_field_array.h"

extern "C" {

typedef uint32_t oriented_id_t;
typedef uint64_t read_ptr_t;

constexpr oriented_id_t kOrientedIdNone = 0xFFFFFFFFu;
constexpr oriented_id_t kOrientedIdReverse = 0x80000000u;
constexpr read_ptr_t kReadPtrNone = ~UINT64_C(0);
constexpr read_ptr_t kReadPtrReverse = UINT64_C(1) << 63;

// The id with bit 31 cleared.
inline oriented_id_t oriented_id_get_index(oriented_id_t id) { return id & ~kOrientedIdReverse; }
// The same index on the other strand.
inline oriented_id_t oriented_id_flip(oriented_id_t id) { return id ^ kOrientedIdReverse; }
// 1 for the reverse strand, else 0.
inline int oriented_id_is_reverse(oriented_id_t id) { return static_cast<int>(id >> 31); }

// The element position (bit 63 cleared).
inline uint64_t read_ptr_get_index(read_ptr_t p) { return p & ~kReadPtrReverse; }
// The same position read the other way.
inline read_ptr_t read_ptr_flip(read_ptr_t p) { return p ^ kReadPtrReverse; }
// 1 when the path is read backwards from the element, else 0.
inline int read_ptr_is_reverse(read_ptr_t p) { return static_cast<int>(p >> 63); }

struct read_info_t {
  int32_t *words;                    // the paths (see the layout above)
  uint64_t count;                    // words in use
  uint64_t capacity;                 // words allocated
  uint32_t fragment_count;           // fragments of the fragment database
  bit_field_array_t *offsets;        // fragment_count + 1 starts into occurrences, or null
  bit_field_array_t *occurrences;    // position << 1 | reversed, grouped by fragment, or null
  bit_field_array_t *reverse_order;  // per fragment, its occurrences in reverse-strand order, or null
};

// Word decoders.
inline int read_info_word_is_start(int32_t word) { return word & 1; }
inline uint32_t read_info_word_count(int32_t word) { return static_cast<uint32_t>(word) >> 2; }
inline int read_info_word_mark(int32_t word) { return (word >> 1) & 1; }
inline int32_t read_info_word_distance(int32_t word) { return word >> 1; }

// An empty info for fragment_count fragments: 1024 words allocated, no index.
read_info_t *read_info_new(uint32_t fragment_count);
// Frees the words, the index arrays and the info (null allowed); returns null.
read_info_t *read_info_free(read_info_t *info);

// Appends a path of count 1 starting at fragment; returns its position.
uint64_t read_info_start_path(read_info_t *info, oriented_id_t fragment);
// Appends a path of count 0 (a read used for pair information only).
uint64_t read_info_start_uncounted_path(read_info_t *info, oriented_id_t fragment);
// Appends one element, distance after the previous one, to the path being built.
void read_info_add_step(read_info_t *info, int32_t distance, oriented_id_t fragment);
// Drops everything from element position on (the path being built).
void read_info_truncate(read_info_t *info, uint64_t position);
// Appends a copy of source's path at position, with count 1 (0 when the
// source path's count is 0) and no mark; returns the new path's position.
// source may be info itself.
uint64_t read_info_copy_path(read_info_t *info, const read_info_t *source, uint64_t position);
// One more read on the path holding element position (its start word).
void read_info_increment_count(read_info_t *info, uint64_t position);
// Sets the read count of the path starting at position; clears its mark.
void read_info_set_count(read_info_t *info, uint64_t position, uint32_t n);
// Appends the terminator and shrinks the words to fit.
void read_info_finish(read_info_t *info);
// Single-word appends under the growth rule.
void read_info_push_word(read_info_t *info, int32_t word);
void read_info_push_counted_start(read_info_t *info);
void read_info_push_end(read_info_t *info);

// Walking. No checks: positions must be valid elements of the info.
inline uint64_t read_info_get_first_path(const read_info_t *) { return 0; }
// 1 when position is the end of a finished info.
inline int read_info_is_end(const read_info_t *info, uint64_t position) { return 2 * position + 1 == info->count; }
inline uint64_t read_info_get_element_count(const read_info_t *info) { return info->count >> 1; }
// Word index of an element's fragment word.
inline uint64_t read_info_get_fragment_slot(read_ptr_t p) { return 2 * read_ptr_get_index(p) + 1; }
// The element's fragment, flipped when p is reverse.
inline oriented_id_t read_info_get_fragment(const read_info_t *info, read_ptr_t p) {
  const auto f = static_cast<oriented_id_t>(info->words[read_info_get_fragment_slot(p)]);
  return read_ptr_is_reverse(p) ? oriented_id_flip(f) : f;
}
// The next element in p's direction (a reverse p moves to the lower position).
inline read_ptr_t read_info_get_next(const read_info_t *, read_ptr_t p) { return read_ptr_is_reverse(p) ? p - 1 : p + 1; }
// The previous element in p's direction.
inline read_ptr_t read_info_get_prev(const read_info_t *, read_ptr_t p) { return read_ptr_is_reverse(p) ? p + 1 : p - 1; }
// Word index of the step word between p and its next element.
inline uint64_t read_info_next_step_slot(read_ptr_t p) {
  return 2 * (read_ptr_get_index(p) + (read_ptr_is_reverse(p) ? 0 : 1));
}
// Word index of the step word between p and its previous element.
inline uint64_t read_info_prev_step_slot(read_ptr_t p) {
  return 2 * (read_ptr_get_index(p) + (read_ptr_is_reverse(p) ? 1 : 0));
}
// Distance from the element to the next one in p's direction.
inline int32_t read_info_get_next_distance(const read_info_t *info, read_ptr_t p) {
  return read_info_word_distance(info->words[read_info_next_step_slot(p)]);
}
// Distance from the previous element in p's direction to this one.
inline int32_t read_info_get_prev_distance(const read_info_t *info, read_ptr_t p) {
  return read_info_word_distance(info->words[read_info_prev_step_slot(p)]);
}
// 1 when the path goes on after (before) the element in p's direction.
inline int read_info_has_next(const read_info_t *info, read_ptr_t p) {
  return !read_info_word_is_start(info->words[read_info_next_step_slot(p)]);
}
inline int read_info_has_prev(const read_info_t *info, read_ptr_t p) {
  return !read_info_word_is_start(info->words[read_info_prev_step_slot(p)]);
}

// Word index of the start word of the path holding the element (a direction
// bit on position is ignored).
uint64_t read_info_get_start_slot(const read_info_t *info, uint64_t position);
// Position of the first element of that path.
uint64_t read_info_get_path_start(const read_info_t *info, uint64_t position);
// The start word of that path.
int32_t read_info_get_start_word(const read_info_t *info, uint64_t position);
// The read count of that path.
uint32_t read_info_get_count(const read_info_t *info, uint64_t position);
// Position of p (bit 63 cleared) minus the start of its path.
uint64_t read_info_get_index_in_path(const read_info_t *info, read_ptr_t p);
// The mark bit of the path holding the element.
int read_info_get_mark(const read_info_t *info, uint64_t position);
void read_info_set_mark(read_info_t *info, uint64_t position);
void read_info_clear_mark(read_info_t *info, uint64_t position);
// Clears the mark of every path; returns the word count.
uint64_t read_info_clear_marks(read_info_t *info);
// Elements of the path starting at position.
uint64_t read_info_get_path_length(const read_info_t *info, uint64_t position);

// 64-bit hash of the path starting at position, equal for the path and the
// same path read backwards with every fragment flipped; stores its element
// count in out_length when given.
uint64_t read_info_hash_path(const read_info_t *info, uint64_t position, uint64_t *out_length);
// 1 when the paths at the two positions are equal, -1 when other's path read
// backwards equals this one, else 0 (a palindromic path gives 1).
int read_info_match_path(const read_info_t *info, uint64_t position, const read_info_t *other,
                         uint64_t other_position);

// Orders two encoded occurrences (uint64_t values, context: the info) by
// what follows them: a path that stops sooner first, then by the next
// oriented fragment, then by the distance to it, element by element.
int read_info_compare_continuations(const void *a, const void *b, void *context);
// The same order on two read_ptr_t values taken as they are.
int read_info_compare_read_ptrs(const void *a, const void *b, void *context);
// Sorts n read pointers by read_info_compare_read_ptrs.
void read_info_sort_read_ptrs(read_info_t *info, read_ptr_t *read_ptrs, uint64_t n);
// Context of read_info_compare_reverse_occurrences.
struct read_info_reverse_context_t {
  const read_info_t *info;
  uint64_t offset;  // start of the fragment's range in occurrences
};
// Orders two slots of one fragment's range by what follows the fragment on
// its reverse strand.
int read_info_compare_reverse_occurrences(const void *a, const void *b, void *context);

// Appends the terminator and builds the per-fragment index (offsets,
// occurrences, reverse order), each fragment's occurrences sorted by what
// follows it. Paths of count 0 get no occurrences. The info must not have
// been finished before. An occurrence counter table that cannot be allocated
// prints "Out of memory" on standard error and exits with status 1.
void read_info_make_searchable(read_info_t *info);
// Sorts each fragment's occurrences and builds the reverse order. Without
// offsets: "Error: Read info must be made searchable before it can be
// sorted" on standard output, status 1.
void read_info_sort_occurrences(read_info_t *info);

// Occurrences of a fragment (strand ignored) in counted paths.
uint64_t read_info_get_occurrence_count(const read_info_t *info, oriented_id_t fragment);
// The i-th occurrence, as the element read in the direction in which it
// shows the fragment exactly as asked.
read_ptr_t read_info_get_occurrence(const read_info_t *info, oriented_id_t fragment, uint64_t i);
// As read_info_get_occurrence, sorted by what follows the fragment in the
// direction asked (a reverse fragment goes through the reverse order).
read_ptr_t read_info_get_sorted_occurrence(const read_info_t *info, oriented_id_t fragment, uint64_t i);
// The reverse-order slot of the fragment's i-th occurrence.
uint64_t read_info_get_sorted_index(const read_info_t *info, oriented_id_t fragment, uint64_t i);

// One line per path: hash, count, fragments and distances.
void read_info_print(const read_info_t *info);
// Word count and capacity.
void read_info_print_stats(const read_info_t *info);
// Prints an end of a read pair as one 64-character column: for a fragment
// end (read_ptr -1) the fragment id, for a path end the whole path in the
// read_ptr's direction. Side 0 aligns right, side 1 left.
void read_info_print_path_block(const read_info_t *info, read_ptr_t read_ptr, oriented_id_t fragment, int side);

// Writes the stage-file piece, or the single byte 0 for null.
void read_info_write(FILE *file, const read_info_t *info);
// Reads a piece: null when absent. A stored fragment count other than the
// given one prints "Error, in read_info_read fragment_count !=
// info->fragment_count" on standard error and exits with status 1; counts,
// sizes or index arrays that do not fit each other or the bytes in the file
// exit with status 1 and a message naming read_info_read.
read_info_t *read_info_read(FILE *file, uint32_t fragment_count);

}  // extern "C"
