#include "common/array_list.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"

array_list_t *array_list_new(uint64_t item_size) {
  auto *list = static_cast<array_list_t *>(ryx_malloc(sizeof(array_list_t)));
  list->capacity = 0;
  list->count = 0;
  list->item_size = item_size;
  list->items = nullptr;
  return list;
}

array_list_t *array_list_free(array_list_t *list) {
  if (list == nullptr) return nullptr;
  ryx_free(list->items);
  ryx_free(list);
  return nullptr;
}

void array_list_clear(array_list_t *list) {
  list->items = static_cast<uint8_t *>(ryx_free(list->items));
  list->count = 0;
  list->capacity = 0;
}

void array_list_set_capacity(array_list_t *list, uint64_t n) {
  list->items = static_cast<uint8_t *>(ryx_realloc(list->items, n * list->item_size));
  list->capacity = n;
}

void *array_list_add(array_list_t *list, const void *item) {
  if (list->count == list->capacity) {
    if (static_cast<int64_t>(list->count * list->item_size) < 0) {
      fprintf(stderr, "Out of memory in array_list_add\n");
      ryx_exit(1);
    }
    uint64_t capacity = list->count == 0 ? 10 : list->count * 2;
    list->items = static_cast<uint8_t *>(ryx_realloc(list->items, capacity * list->item_size));
    list->capacity = capacity;
  }
  uint8_t *slot = list->items + list->count * list->item_size;
  memcpy(slot, item, list->item_size);
  list->count++;
  return slot;
}

void array_list_set(array_list_t *list, uint64_t index, const void *item) {
  memcpy(list->items + index * list->item_size, item, list->item_size);
}

uint64_t array_list_add_list(array_list_t *list, const array_list_t *other) {
  uint64_t total = list->count + other->count;
  if (total > list->capacity) array_list_set_capacity(list, total);
  if (other->count > 0)
    memcpy(list->items + list->count * list->item_size, other->items, other->count * list->item_size);
  list->count = total;
  return other->count;
}

uint64_t array_list_get_count(const array_list_t *list) { return list->count; }

void *array_list_get_item(const array_list_t *list, uint64_t index) {
  return list->items + index * list->item_size;
}

void array_list_trim(array_list_t *list) { array_list_set_capacity(list, list->count); }

void *array_list_copy_items(const array_list_t *list) {
  size_t bytes = list->count * list->item_size;
  void *copy = ryx_malloc(bytes);
  if (bytes > 0) memcpy(copy, list->items, bytes);
  return copy;
}

void *array_list_take_items(array_list_t *list) {
  array_list_trim(list);
  void *items = list->items;
  ryx_free(list);
  return items;
}
