// In-place sort of fixed-size elements with a caller context.
//
// The elements lie contiguously; compare(a, b, context) returns a negative
// value when a comes first, 0 when equal, else a positive value. The sort is
// not stable, and no caller relies on the order of equal elements.
//
// Ranges of 32 elements or more are split around a pivot drawn with the C
// library's rand(), so the process-wide rand() state advances; shorter ranges
// are finished by insertion and draw nothing. The split is three-way: all
// elements equal to the pivot are set aside at once, so many equal keys cost
// one pass instead of a quadratic walk.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int (*generic_sort_compare_t)(const void *a, const void *b, void *context);

// Sorts n elements of element_size bytes at base by compare(a, b, context).
void generic_sort(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare, void *context);

// Two-way partition around the element at pivot (below n): afterwards every
// element before the returned index compares below the pivot, the pivot
// itself lies at that index and every element after it compares at or above
// it.
uint64_t generic_sort_partition(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare,
                                void *context, uint64_t pivot);

// Three-way partition around the element at pivot (below n): afterwards the
// elements before *equal_begin compare below the pivot, those from
// *equal_begin to *equal_end - 1 compare equal to it (the pivot among them,
// so the run is never empty) and those from *equal_end on compare above it.
void generic_sort_partition3(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare, void *context,
                             uint64_t pivot, uint64_t *equal_begin, uint64_t *equal_end);

// Insertion sort: each element moves left past every neighbour that does
// not compare below it. Quadratic; meant for short runs.
void generic_insertion_sort(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare, void *context);

// Swaps two elements of element_size bytes byte for byte (32 bytes at a time
// for long elements).
void generic_sort_swap(void *a, void *b, size_t element_size);

}  // extern "C"
