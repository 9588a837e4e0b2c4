#include "common/linked_list.h"

#include <algorithm>
#include <cstring>

#include "common/memory.h"

linked_list_t *linked_list_new() {
  auto *list = static_cast<linked_list_t *>(ryx_malloc(sizeof(linked_list_t)));
  list->head = nullptr;
  list->tail = nullptr;
  return list;
}

linked_list_t *linked_list_free(linked_list_t *list) {
  if (list == nullptr) return nullptr;
  linked_list_node_t *node = list->head;
  while (node != nullptr) {
    linked_list_node_t *next = node->next;
    ryx_free(node);
    node = next;
  }
  ryx_free(list);
  return nullptr;
}

linked_list_t *linked_list_free_with_items(linked_list_t *list) {
  if (list == nullptr) return nullptr;
  linked_list_node_t *node = list->head;
  while (node != nullptr) {
    linked_list_node_t *next = node->next;
    ryx_free(node->item);
    ryx_free(node);
    node = next;
  }
  ryx_free(list);
  return nullptr;
}

linked_list_node_t *linked_list_node_new(void *item) {
  auto *node = static_cast<linked_list_node_t *>(ryx_malloc(sizeof(linked_list_node_t)));
  node->prev = nullptr;
  node->next = nullptr;
  node->item = item;
  return node;
}

linked_list_node_t *linked_list_node_free(linked_list_node_t *node) {
  ryx_free(node);
  return nullptr;
}

linked_list_node_t *linked_list_append(linked_list_t *list, void *item) {
  linked_list_node_t *node = linked_list_node_new(item);
  node->prev = list->tail;
  if (list->tail != nullptr) list->tail->next = node;
  else list->head = node;
  list->tail = node;
  return node;
}

linked_list_node_t *linked_list_prepend(linked_list_t *list, void *item) {
  linked_list_node_t *node = linked_list_node_new(item);
  node->next = list->head;
  if (list->head != nullptr) list->head->prev = node;
  else list->tail = node;
  list->head = node;
  return node;
}

linked_list_node_t *linked_list_insert_before(linked_list_t *list, linked_list_node_t *node, void *item) {
  if (node == nullptr) return linked_list_append(list, item);
  if (node == list->head) return linked_list_prepend(list, item);
  linked_list_node_t *added = linked_list_node_new(item);
  added->prev = node->prev;
  added->next = node;
  node->prev->next = added;
  node->prev = added;
  return added;
}

linked_list_node_t *linked_list_insert_after(linked_list_t *list, linked_list_node_t *node, void *item) {
  if (node == nullptr) return linked_list_prepend(list, item);
  if (node == list->tail) return linked_list_append(list, item);
  linked_list_node_t *added = linked_list_node_new(item);
  added->prev = node;
  added->next = node->next;
  node->next->prev = added;
  node->next = added;
  return added;
}

void linked_list_remove(linked_list_t *list, linked_list_node_t *node) {
  if (node->prev != nullptr) node->prev->next = node->next;
  else list->head = node->next;
  if (node->next != nullptr) node->next->prev = node->prev;
  else list->tail = node->prev;
  ryx_free(node);
}

int32_t linked_list_get_count(const linked_list_t *list) {
  int32_t count = 0;
  for (const linked_list_node_t *node = list->head; node != nullptr; node = node->next) count++;
  return count;
}

void *linked_list_copy_to_array(const linked_list_t *list, size_t item_size) {
  auto *out = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(linked_list_get_count(list)) * item_size));
  uint8_t *p = out;
  for (const linked_list_node_t *node = list->head; node != nullptr; node = node->next) {
    memcpy(p, node->item, item_size);
    p += item_size;
  }
  return out;
}

void *linked_list_to_array(const linked_list_t *list, size_t element_size) {
  // Zeroed so that an element wider than a pointer holds no stray bytes.
  auto *out = static_cast<uint8_t *>(ryx_calloc(static_cast<size_t>(linked_list_get_count(list)) * element_size));
  const size_t width = std::min(element_size, sizeof(void *));
  uint8_t *p = out;
  for (const linked_list_node_t *node = list->head; node != nullptr; node = node->next) {
    memcpy(p, &node->item, width);
    p += element_size;
  }
  return out;
}
