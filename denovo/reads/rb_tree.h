// Red-black tree of item pointers ordered by a compare callback.
//
// Items that compare equal are kept side by side in insertion order (a new
// item goes right of its equals). The tree owns its nodes, never its items,
// except that rb_tree_free_with_items hands each item to the item free
// callback. A node returned by rb_tree_insert or rb_tree_find stays valid
// until that node is deleted: deletion relinks nodes and never moves an item
// from one node to another. Calling order: rb_tree_new, inserts, finds,
// walks and deletes, then rb_tree_free or rb_tree_free_with_items. One thread
// at a time.
#pragma once

#include <cstdint>

extern "C" {

// Negative when a comes first, 0 when equal, positive otherwise.
typedef int (*rb_tree_compare_t)(const void *a, const void *b);
typedef void (*rb_tree_item_free_t)(void *item);
// Called for each node by rb_tree_walk.
typedef void (*rb_tree_walk_fn)(void *item, void *context);
// Text of an item for rb_tree_print, given the column the text starts at;
// the string stays owned by the callback and must live until its next call.
typedef const char *(*rb_tree_to_string_fn)(const void *item, void *context, int column);

constexpr uint8_t kRbTreeBlack = 0;
constexpr uint8_t kRbTreeRed = 1;

struct rb_tree_node_t {
  void *item;
  rb_tree_node_t *parent;  // null at the root
  rb_tree_node_t *left;
  rb_tree_node_t *right;
  uint8_t colour;  // kRbTreeRed or kRbTreeBlack
};

struct rb_tree_t {
  rb_tree_node_t *root;  // null when empty
  rb_tree_compare_t compare;
  rb_tree_item_free_t item_free;  // used only by rb_tree_free_with_items; may be null
};

// An empty tree.
rb_tree_t *rb_tree_new(rb_tree_compare_t compare, rb_tree_item_free_t item_free);
// Frees every node and the tree, not the items (null allowed); returns null.
rb_tree_t *rb_tree_free(rb_tree_t *tree);
// Frees every node after passing its item to the item free callback, then
// the tree (null allowed); returns null.
rb_tree_t *rb_tree_free_with_items(rb_tree_t *tree);

// Adds the item in a new node and returns the node.
rb_tree_node_t *rb_tree_insert(rb_tree_t *tree, void *item);
// Unlinks and frees the node; returns its item.
void *rb_tree_delete(rb_tree_t *tree, rb_tree_node_t *node);
// The first node met on the descent whose item compares equal to the key,
// or null.
rb_tree_node_t *rb_tree_find(const rb_tree_t *tree, const void *key);

// In-order successor / predecessor; null past the end.
rb_tree_node_t *rb_tree_next(const rb_tree_node_t *node);
rb_tree_node_t *rb_tree_prev(const rb_tree_node_t *node);
// Leftmost / rightmost node; the tree must not be empty.
rb_tree_node_t *rb_tree_first(const rb_tree_t *tree);
rb_tree_node_t *rb_tree_last(const rb_tree_t *tree);

int rb_tree_is_empty(const rb_tree_t *tree);
// Number of nodes, counted by walking the tree.
uint64_t rb_tree_get_count(const rb_tree_t *tree);
// Number of nodes in the subtree below and including node (0 for null).
uint64_t rb_tree_count_nodes(const rb_tree_node_t *node);
// A new array (ryx_malloc; the caller frees it) of the items in ascending /
// descending order, rb_tree_get_count entries long; null for an empty tree.
void **rb_tree_to_array(const rb_tree_t *tree);
void **rb_tree_to_array_descending(const rb_tree_t *tree);
// Calls fn(item, context) in pre-order: a node, then its left subtree, then
// its right subtree (not sorted order).
void rb_tree_walk(const rb_tree_t *tree, rb_tree_walk_fn fn, void *context);

// Checks colours, parent links, order and black heights. Prints the first
// fault found on standard output and returns 1; returns 0 for a valid tree.
int rb_tree_check(const rb_tree_t *tree);
// Debugging print on standard output: each node as its text (with ";r" or
// ";b" when show_colours is set), its right child after " - " on the same
// line and its left child on the lines below, under a "|".
void rb_tree_print(const rb_tree_t *tree, rb_tree_to_string_fn to_string, void *context, int show_colours);

}  // extern "C"
