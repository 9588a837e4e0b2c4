// Growable array of fixed-size items copied by value.
//
// Items lie contiguously in insertion order; item i is at items + i * item
// size. Pointers into the buffer become invalid when it grows. No operation
// checks indexes; callers stay within the count they know.
#pragma once

#include <cstddef>
#include <cstdint>

struct array_list_t {
  uint64_t capacity;   // items the buffer can hold
  uint64_t count;      // items stored
  uint64_t item_size;  // bytes per item, fixed at creation
  uint8_t *items;      // capacity * item_size bytes; null until the first growth
};

// New empty list; no buffer is allocated yet.
array_list_t *array_list_new(uint64_t item_size);
// Frees the buffer and the list (null allowed); returns null.
array_list_t *array_list_free(array_list_t *list);
// Frees the buffer; count and capacity become 0 and the list stays usable.
void array_list_clear(array_list_t *list);
// Reallocates the buffer to exactly n items (n must be at least the count).
void array_list_set_capacity(array_list_t *list, uint64_t n);
// Appends a copy of *item and returns the stored copy. A full list doubles
// its capacity (10 for an empty one).
void *array_list_add(array_list_t *list, const void *item);
// Copies *item over slot index; no growth, index must be below the capacity.
void array_list_set(array_list_t *list, uint64_t index, const void *item);
// Appends every item of other (same item size), growing to the exact sum;
// returns the number appended.
uint64_t array_list_add_list(array_list_t *list, const array_list_t *other);
uint64_t array_list_get_count(const array_list_t *list);
// Pointer to item index; no bounds check.
void *array_list_get_item(const array_list_t *list, uint64_t index);
// Shrinks the buffer to exactly the count.
void array_list_trim(array_list_t *list);
// A new buffer holding a copy of all items; the caller frees it.
void *array_list_copy_items(const array_list_t *list);
// Trims, frees the list and hands its buffer to the caller (read the count
// first).
void *array_list_take_items(array_list_t *list);
