// Doubly linked list of untyped item pointers.
//
// The list owns its nodes, never its items (except in
// linked_list_free_with_items). Callers iterate themselves, walking from the
// head through the next links. No operation checks that a node belongs to
// the list it is given.
#pragma once

#include <cstddef>
#include <cstdint>

struct linked_list_node_t {
  linked_list_node_t *prev;
  linked_list_node_t *next;
  void *item;
};

struct linked_list_t {
  linked_list_node_t *head;  // null when the list is empty
  linked_list_node_t *tail;  // null when the list is empty
};

// New empty list.
linked_list_t *linked_list_new();
// Frees every node and the list (null allowed); items are untouched.
// Returns null.
linked_list_t *linked_list_free(linked_list_t *list);
// Frees, head first, every node's item (with ryx_free) and the node, then
// the list (null allowed). Returns null.
linked_list_t *linked_list_free_with_items(linked_list_t *list);

// New node holding item at the tail; returns it.
linked_list_node_t *linked_list_append(linked_list_t *list, void *item);
// New node holding item at the head; returns it.
linked_list_node_t *linked_list_prepend(linked_list_t *list, void *item);
// New node just before node, or at the tail when node is null; returns it.
linked_list_node_t *linked_list_insert_before(linked_list_t *list, linked_list_node_t *node, void *item);
// New node just after node, or at the head when node is null; returns it.
linked_list_node_t *linked_list_insert_after(linked_list_t *list, linked_list_node_t *node, void *item);
// Unlinks node, mending head and tail, and frees it; the item is untouched.
void linked_list_remove(linked_list_t *list, linked_list_node_t *node);

// An unlinked node (prev and next null) holding item.
linked_list_node_t *linked_list_node_new(void *item);
// Frees the node (null allowed); returns null.
linked_list_node_t *linked_list_node_free(linked_list_node_t *node);

// Number of nodes, counted by walking from the head.
int32_t linked_list_get_count(const linked_list_t *list);
// New buffer of count * item_size bytes: the item_size bytes each item points
// to, head first. The caller frees it with ryx_free.
void *linked_list_copy_to_array(const linked_list_t *list, size_t item_size);
// New buffer of count * element_size bytes holding the item pointers
// themselves, head first; callers pass sizeof(void *). The caller frees it
// with ryx_free.
void *linked_list_to_array(const linked_list_t *list, size_t element_size);
