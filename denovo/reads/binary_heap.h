// Binary min-heap of item pointers ordered by a compare callback.
//
// The item array is used 1-based: position 1 is the top (the item that
// compares smallest), the children of position i are 2i and 2i + 1 and its
// parent i / 2. The heap never owns its items. Calling order:
// binary_heap_new with a capacity of at least 1, pushes and pops (test
// binary_heap_is_empty before peeking or popping), then binary_heap_free, or
// binary_heap_take_items / binary_heap_sort_free to keep the array. One
// thread at a time.
#pragma once

#include <cstdint>

extern "C" {

// Negative when a belongs above b, 0 when equal, positive otherwise.
typedef int (*binary_heap_compare_t)(const void *a, const void *b);

struct binary_heap_t {
  uint32_t capacity;  // items the array holds
  uint32_t count;     // items in the heap, at positions 1 .. count
  binary_heap_compare_t compare;
  void **items;  // capacity + 1 entries; entry 0 unused
};

// An empty heap with room for capacity items (at least 1).
binary_heap_t *binary_heap_new(uint32_t capacity, binary_heap_compare_t compare);
// Frees the item array and the heap, not the items (null allowed); returns
// null.
binary_heap_t *binary_heap_free(binary_heap_t *heap);

int binary_heap_is_empty(const binary_heap_t *heap);
int binary_heap_is_full(const binary_heap_t *heap);
uint32_t binary_heap_get_count(const binary_heap_t *heap);

// Adds an item, doubling the capacity first when the heap is full. A heap
// that cannot double within 32-bit positions prints "Out of memory in
// binary_heap_push" on standard error and exits with status 1.
void binary_heap_push(binary_heap_t *heap, void *item);
// Adds an item without the growth test (the caller guarantees room);
// returns the item's final position.
uint32_t binary_heap_push_fixed(binary_heap_t *heap, void *item);
// The top item; the heap must not be empty.
void *binary_heap_peek(const binary_heap_t *heap);
// Removes and returns the top item; the heap must not be empty.
void *binary_heap_pop(binary_heap_t *heap);
// Moves the item at position down until neither child belongs above it.
void binary_heap_sift_down(binary_heap_t *heap, uint32_t position);

uint32_t binary_heap_parent(uint32_t i);
uint32_t binary_heap_left(uint32_t i);
uint32_t binary_heap_right(uint32_t i);

// Frees the heap shell and returns its item array (items at 1 .. count;
// read the count first). The caller frees the array with ryx_free.
void **binary_heap_take_items(binary_heap_t *heap);
// Heap sort: frees the heap and returns its item array with the items at
// positions 1 .. count ordered so that the top-most item comes last
// (descending for an ascending compare). The caller frees the array.
void **binary_heap_sort_free(binary_heap_t *heap);

}  // extern "C"
