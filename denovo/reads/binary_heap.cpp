// Binary heap over a 1-based array of item pointers.
#include "denovo/reads/binary_heap.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"

binary_heap_t *binary_heap_new(uint32_t capacity, binary_heap_compare_t compare) {
  auto *heap = static_cast<binary_heap_t *>(ryx_malloc(sizeof(binary_heap_t)));
  heap->capacity = capacity;
  heap->count = 0;
  heap->compare = compare;
  heap->items = static_cast<void **>(ryx_malloc((static_cast<size_t>(capacity) + 1) * sizeof(void *)));
  return heap;
}

binary_heap_t *binary_heap_free(binary_heap_t *heap) {
  if (heap == nullptr) return nullptr;
  ryx_free(heap->items);
  ryx_free(heap);
  return nullptr;
}

int binary_heap_is_empty(const binary_heap_t *heap) { return heap->count == 0; }

int binary_heap_is_full(const binary_heap_t *heap) { return heap->count == heap->capacity; }

uint32_t binary_heap_get_count(const binary_heap_t *heap) { return heap->count; }

uint32_t binary_heap_parent(uint32_t i) { return i / 2; }

uint32_t binary_heap_left(uint32_t i) { return 2 * i; }

uint32_t binary_heap_right(uint32_t i) { return 2 * i + 1; }

void binary_heap_push(binary_heap_t *heap, void *item) {
  if (heap->count == heap->capacity) {
    // Positions are 32-bit; a heap cannot hold more than 2^32 - 1 items.
    if (heap->capacity > UINT32_MAX / 2) {
      fprintf(stderr, "Out of memory in binary_heap_push\n");
      ryx_exit(1);
    }
    // A heap made with capacity 0 would never leave 0 by doubling.
    const uint32_t capacity = heap->capacity == 0 ? 1 : 2 * heap->capacity;
    auto **items = static_cast<void **>(ryx_malloc((static_cast<size_t>(capacity) + 1) * sizeof(void *)));
    memcpy(items, heap->items, (static_cast<size_t>(heap->count) + 1) * sizeof(void *));
    ryx_free(heap->items);
    heap->items = items;
    heap->capacity = capacity;
  }
  binary_heap_push_fixed(heap, item);
}

uint32_t binary_heap_push_fixed(binary_heap_t *heap, void *item) {
  uint32_t p = ++heap->count;
  while (p > 1 && heap->compare(heap->items[p / 2], item) > 0) {
    heap->items[p] = heap->items[p / 2];
    p /= 2;
  }
  heap->items[p] = item;
  return p;
}

void *binary_heap_peek(const binary_heap_t *heap) { return heap->items[1]; }

void binary_heap_sift_down(binary_heap_t *heap, uint32_t position) {
  void **items = heap->items;
  const uint64_t count = heap->count;
  uint64_t c = position;
  for (;;) {
    uint64_t best = c;
    const uint64_t left = 2 * c;
    const uint64_t right = left + 1;
    if (left <= count && heap->compare(items[left], items[c]) < 0) best = left;
    if (right <= count && heap->compare(items[right], items[best]) < 0) best = right;
    if (best == c) return;
    void *tmp = items[c];
    items[c] = items[best];
    items[best] = tmp;
    c = best;
  }
}

void *binary_heap_pop(binary_heap_t *heap) {
  void *top = heap->items[1];
  heap->items[1] = heap->items[heap->count];
  heap->count--;
  binary_heap_sift_down(heap, 1);
  return top;
}

void **binary_heap_take_items(binary_heap_t *heap) {
  void **items = heap->items;
  ryx_free(heap);
  return items;
}

void **binary_heap_sort_free(binary_heap_t *heap) {
  // Each round moves the current top behind the shrinking heap; the count
  // is restored at the end so that the array holds every item.
  const uint32_t count = heap->count;
  while (heap->count > 1) {
    void *top = heap->items[1];
    heap->items[1] = heap->items[heap->count];
    heap->items[heap->count] = top;
    heap->count--;
    binary_heap_sift_down(heap, 1);
  }
  heap->count = count;
  return binary_heap_take_items(heap);
}
