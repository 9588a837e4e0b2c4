// In-place sorts of integer arrays for the hash mapper's candidate lists.
//
// The seed search sorts every candidate list with sort_u64: a candidate is a
// position word followed by a query-index word, so read as one little-endian
// unsigned 64-bit value the list comes out by query and then by position.
//
// The sort_* forms are quicksorts with a cut-off: ranges of at most 16
// elements are left alone and one insertion pass over the whole array
// finishes them. The quicksort_* forms partition every range of two or more
// elements and need no final pass; with many equal keys they partition
// unevenly. Both keep the pending ranges on a fixed stack on the caller's
// thread (no recursion, no allocation) and always take the smaller part of a
// partition first, so the stack never holds more than about log2(n) ranges
// whatever the input. bubble_sort is a plain bubble sort of elements of any
// size with the caller's compare.
//
// All sorts are ascending, in place, keep no state between calls and may run
// on many threads at once on different arrays. Unsigned kinds put values with
// the top bit set after all others; signed kinds put negative values first.
#pragma once

#include <cstddef>
#include <cstdint>

// An array to sort: its first element and the element count.
struct sort_u32_array_t {
  uint32_t *items;
  uint32_t count;
};
struct sort_i32_array_t {
  int32_t *items;
  uint32_t count;
};
struct sort_u64_array_t {
  uint64_t *items;
  uint32_t count;
};
struct sort_i64_array_t {
  int64_t *items;
  uint32_t count;
};

// Counters of one sort call, filled by the *_measured forms: ranges
// partitioned, scan steps of the partitions (each move of either scan
// index) and the most ranges the stack held at once.
struct sort_stats_t {
  uint64_t partitions;
  uint64_t scan_steps;
  int32_t max_depth;
};

// Quicksort with cut-off 16, then the insertion pass.
void sort_u32_array(sort_u32_array_t array);
void sort_u32(uint32_t *items, uint32_t count);
void sort_i32_array(sort_i32_array_t array);
void sort_i32(int32_t *items, uint32_t count);
void sort_u64_array(sort_u64_array_t array);
// The sort of the seed search's candidate lists.
void sort_u64(uint64_t *items, uint32_t count);
void sort_i64_array(sort_i64_array_t array);
void sort_i64(int64_t *items, uint32_t count);

// Plain quicksort: no cut-off, no insertion pass.
void quicksort_u32_array(sort_u32_array_t array);
void quicksort_u32(uint32_t *items, uint32_t count);
void quicksort_i32_array(sort_i32_array_t array);
void quicksort_i32(int32_t *items, uint32_t count);
void quicksort_u64_array(sort_u64_array_t array);
void quicksort_u64(uint64_t *items, uint32_t count);
void quicksort_i64_array(sort_i64_array_t array);
void quicksort_i64(int64_t *items, uint32_t count);

// sort_u64 and quicksort_u64 that also fill the counters (stats not null).
void sort_u64_measured(uint64_t *items, uint32_t count, sort_stats_t *stats);
void quicksort_u64_measured(uint64_t *items, uint32_t count, sort_stats_t *stats);

// Returns non-zero when the element at a (index i) and the one at b (index
// i + 1) must change places.
typedef int (*bubble_sort_compare_fn)(const void *a, const void *b, void *context);

// Bubble sort of count elements of size bytes each: passes over all
// neighbouring pairs until one makes no swap. The scratch element comes from
// the fail-fast allocator.
void bubble_sort(void *base, size_t count, size_t size, bubble_sort_compare_fn compare, void *context);
