// Red-black tree with parent links and null leaves (null counts as black).
#include "denovo/reads/rb_tree.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/memory.h"

namespace {

inline bool is_red(const rb_tree_node_t *n) { return n != nullptr && n->colour == kRbTreeRed; }

inline bool is_black(const rb_tree_node_t *n) { return !is_red(n); }

// Puts child where node hangs below node's parent (or at the root).
void replace_child(rb_tree_t *tree, rb_tree_node_t *node, rb_tree_node_t *child) {
  rb_tree_node_t *parent = node->parent;
  if (parent == nullptr) {
    tree->root = child;
  } else if (parent->left == node) {
    parent->left = child;
  } else {
    parent->right = child;
  }
  if (child != nullptr) child->parent = parent;
}

void rotate_left(rb_tree_t *tree, rb_tree_node_t *x) {
  rb_tree_node_t *y = x->right;
  x->right = y->left;
  if (y->left != nullptr) y->left->parent = x;
  replace_child(tree, x, y);
  y->left = x;
  x->parent = y;
}

void rotate_right(rb_tree_t *tree, rb_tree_node_t *x) {
  rb_tree_node_t *y = x->left;
  x->left = y->right;
  if (y->right != nullptr) y->right->parent = x;
  replace_child(tree, x, y);
  y->right = x;
  x->parent = y;
}

rb_tree_node_t *subtree_min(rb_tree_node_t *n) {
  while (n->left != nullptr) n = n->left;
  return n;
}

rb_tree_node_t *subtree_max(rb_tree_node_t *n) {
  while (n->right != nullptr) n = n->right;
  return n;
}

void insert_fixup(rb_tree_t *tree, rb_tree_node_t *z) {
  while (is_red(z->parent)) {
    rb_tree_node_t *parent = z->parent;
    rb_tree_node_t *grand = parent->parent;  // exists: a red parent is never the root
    if (parent == grand->left) {
      rb_tree_node_t *uncle = grand->right;
      if (is_red(uncle)) {
        parent->colour = kRbTreeBlack;
        uncle->colour = kRbTreeBlack;
        grand->colour = kRbTreeRed;
        z = grand;
        continue;
      }
      if (z == parent->right) {
        z = parent;
        rotate_left(tree, z);
        parent = z->parent;
      }
      parent->colour = kRbTreeBlack;
      grand->colour = kRbTreeRed;
      rotate_right(tree, grand);
    } else {
      rb_tree_node_t *uncle = grand->left;
      if (is_red(uncle)) {
        parent->colour = kRbTreeBlack;
        uncle->colour = kRbTreeBlack;
        grand->colour = kRbTreeRed;
        z = grand;
        continue;
      }
      if (z == parent->left) {
        z = parent;
        rotate_right(tree, z);
        parent = z->parent;
      }
      parent->colour = kRbTreeBlack;
      grand->colour = kRbTreeRed;
      rotate_left(tree, grand);
    }
  }
  tree->root->colour = kRbTreeBlack;
}

// Restores the black heights after a black node left the tree. x (possibly
// null) is the subtree that lost one black node, parent its parent.
void rb_tree_delete_fixup(rb_tree_t *tree, rb_tree_node_t *x, rb_tree_node_t *parent) {
  while (x != tree->root && is_black(x)) {
    // The sibling exists: its side holds at least one more black node.
    if (x == parent->left) {
      rb_tree_node_t *w = parent->right;
      if (is_red(w)) {
        w->colour = kRbTreeBlack;
        parent->colour = kRbTreeRed;
        rotate_left(tree, parent);
        w = parent->right;
      }
      if (is_black(w->left) && is_black(w->right)) {
        w->colour = kRbTreeRed;
        x = parent;
        parent = x->parent;
      } else {
        if (is_black(w->right)) {
          w->left->colour = kRbTreeBlack;
          w->colour = kRbTreeRed;
          rotate_right(tree, w);
          w = parent->right;
        }
        w->colour = parent->colour;
        parent->colour = kRbTreeBlack;
        w->right->colour = kRbTreeBlack;
        rotate_left(tree, parent);
        x = tree->root;
      }
    } else {
      rb_tree_node_t *w = parent->left;
      if (is_red(w)) {
        w->colour = kRbTreeBlack;
        parent->colour = kRbTreeRed;
        rotate_right(tree, parent);
        w = parent->left;
      }
      if (is_black(w->left) && is_black(w->right)) {
        w->colour = kRbTreeRed;
        x = parent;
        parent = x->parent;
      } else {
        if (is_black(w->left)) {
          w->right->colour = kRbTreeBlack;
          w->colour = kRbTreeRed;
          rotate_left(tree, w);
          w = parent->left;
        }
        w->colour = parent->colour;
        parent->colour = kRbTreeBlack;
        w->left->colour = kRbTreeBlack;
        rotate_right(tree, parent);
        x = tree->root;
      }
    }
  }
  if (x != nullptr) x->colour = kRbTreeBlack;
}

void free_nodes(rb_tree_node_t *n, rb_tree_item_free_t item_free) {
  if (n == nullptr) return;
  free_nodes(n->left, item_free);
  free_nodes(n->right, item_free);
  if (item_free != nullptr) item_free(n->item);
  ryx_free(n);
}

void walk_nodes(const rb_tree_node_t *n, rb_tree_walk_fn fn, void *context) {
  while (n != nullptr) {
    fn(n->item, context);
    walk_nodes(n->left, fn, context);
    n = n->right;
  }
}

struct CheckState {
  rb_tree_compare_t compare;
  int expected_blacks;             // black nodes on every root-to-null path, the null leaf included
  const rb_tree_node_t *previous;  // the node before the current one in order
};

int fault(const char *message) {
  printf("%s\n", message);
  return 1;
}

// blacks: black nodes from the root down to node's parent.
int rb_tree_check_node(CheckState *state, const rb_tree_node_t *node, int blacks) {
  if (node == nullptr) {
    if (blacks + 1 != state->expected_blacks)
      return fault("Not all simple paths contain the same number of black nodes");
    return 0;
  }
  if (node->colour > 1) return fault("Node is not black or red");
  if (node->left != nullptr) {
    if (node->left->parent != node) return fault("Left child does not point to parent");
    if (is_red(node) && is_red(node->left)) return fault("Parent is red but left child is not BLACK");
  }
  if (node->right != nullptr) {
    if (node->right->parent != node) return fault("Right child does not point to parent");
    if (is_red(node) && is_red(node->right)) return fault("Parent is red but right child is not black");
  }
  const int below = blacks + (node->colour == kRbTreeBlack ? 1 : 0);
  if (rb_tree_check_node(state, node->left, below)) return 1;
  if (state->previous != nullptr && state->compare(state->previous->item, node->item) > 0) {
    return fault("Tree is not sorted");
  }
  state->previous = node;
  return rb_tree_check_node(state, node->right, below);
}

// Prints node and everything below it. The cursor stands where the node's
// text begins; prefix is what a new line needs to reach that column, with a
// "|" under every ancestor whose left subtree is still to come.
void rb_tree_print_node(const rb_tree_node_t *node, rb_tree_to_string_fn to_string, void *context, int show_colours,
                        const std::string &prefix) {
  const char *text = to_string(node->item, context, static_cast<int>(prefix.size()));
  int width;
  if (show_colours) {
    width = printf("%s;%s", text, node->colour == kRbTreeRed ? "r" : "b");
  } else {
    width = printf("%s", text);
  }
  if (node->right != nullptr) {
    std::string right_prefix = prefix;
    right_prefix += node->left != nullptr ? '|' : ' ';
    if (width > 1) right_prefix.append(static_cast<size_t>(width - 1), ' ');
    right_prefix += "   ";
    printf(" - ");
    rb_tree_print_node(node->right, to_string, context, show_colours, right_prefix);
  } else {
    printf("\n");
  }
  if (node->left != nullptr) {
    printf("%s|\n%s", prefix.c_str(), prefix.c_str());
    rb_tree_print_node(node->left, to_string, context, show_colours, prefix);
  }
}

void fill_ascending(const rb_tree_node_t *n, void **out, uint64_t *i) {
  while (n != nullptr) {
    fill_ascending(n->left, out, i);
    out[(*i)++] = n->item;
    n = n->right;
  }
}

}  // namespace

rb_tree_t *rb_tree_new(rb_tree_compare_t compare, rb_tree_item_free_t item_free) {
  auto *tree = static_cast<rb_tree_t *>(ryx_malloc(sizeof(rb_tree_t)));
  tree->root = nullptr;
  tree->compare = compare;
  tree->item_free = item_free;
  return tree;
}

rb_tree_t *rb_tree_free(rb_tree_t *tree) {
  if (tree == nullptr) return nullptr;
  free_nodes(tree->root, nullptr);
  ryx_free(tree);
  return nullptr;
}

rb_tree_t *rb_tree_free_with_items(rb_tree_t *tree) {
  if (tree == nullptr) return nullptr;
  free_nodes(tree->root, tree->item_free);
  ryx_free(tree);
  return nullptr;
}

rb_tree_node_t *rb_tree_insert(rb_tree_t *tree, void *item) {
  auto *z = static_cast<rb_tree_node_t *>(ryx_malloc(sizeof(rb_tree_node_t)));
  z->item = item;
  z->left = nullptr;
  z->right = nullptr;
  z->colour = kRbTreeRed;
  rb_tree_node_t *parent = nullptr;
  rb_tree_node_t **link = &tree->root;
  while (*link != nullptr) {
    parent = *link;
    link = tree->compare(item, parent->item) < 0 ? &parent->left : &parent->right;
  }
  z->parent = parent;
  *link = z;
  insert_fixup(tree, z);
  return z;
}

void *rb_tree_delete(rb_tree_t *tree, rb_tree_node_t *z) {
  void *item = z->item;
  uint8_t removed_colour = z->colour;
  rb_tree_node_t *x;
  rb_tree_node_t *x_parent;
  if (z->left == nullptr) {
    x = z->right;
    x_parent = z->parent;
    replace_child(tree, z, z->right);
  } else if (z->right == nullptr) {
    x = z->left;
    x_parent = z->parent;
    replace_child(tree, z, z->left);
  } else {
    // The successor node itself moves into z's place and takes z's colour;
    // what leaves the tree is a node of the successor's old colour.
    rb_tree_node_t *y = subtree_min(z->right);
    removed_colour = y->colour;
    x = y->right;
    if (y->parent == z) {
      x_parent = y;
    } else {
      x_parent = y->parent;
      replace_child(tree, y, y->right);
      y->right = z->right;
      y->right->parent = y;
    }
    replace_child(tree, z, y);
    y->left = z->left;
    y->left->parent = y;
    y->colour = z->colour;
  }
  ryx_free(z);
  if (removed_colour == kRbTreeBlack) rb_tree_delete_fixup(tree, x, x_parent);
  return item;
}

rb_tree_node_t *rb_tree_find(const rb_tree_t *tree, const void *key) {
  rb_tree_node_t *n = tree->root;
  while (n != nullptr) {
    const int c = tree->compare(key, n->item);
    if (c == 0) return n;
    n = c < 0 ? n->left : n->right;
  }
  return nullptr;
}

rb_tree_node_t *rb_tree_next(const rb_tree_node_t *node) {
  if (node->right != nullptr) return subtree_min(node->right);
  const rb_tree_node_t *n = node;
  rb_tree_node_t *p = node->parent;
  while (p != nullptr && n == p->right) {
    n = p;
    p = p->parent;
  }
  return p;
}

rb_tree_node_t *rb_tree_prev(const rb_tree_node_t *node) {
  if (node->left != nullptr) return subtree_max(node->left);
  const rb_tree_node_t *n = node;
  rb_tree_node_t *p = node->parent;
  while (p != nullptr && n == p->left) {
    n = p;
    p = p->parent;
  }
  return p;
}

rb_tree_node_t *rb_tree_first(const rb_tree_t *tree) { return subtree_min(tree->root); }

rb_tree_node_t *rb_tree_last(const rb_tree_t *tree) { return subtree_max(tree->root); }

int rb_tree_is_empty(const rb_tree_t *tree) { return tree->root == nullptr; }

uint64_t rb_tree_count_nodes(const rb_tree_node_t *node) {
  uint64_t count = 0;
  while (node != nullptr) {
    count += 1 + rb_tree_count_nodes(node->left);
    node = node->right;
  }
  return count;
}

uint64_t rb_tree_get_count(const rb_tree_t *tree) { return rb_tree_count_nodes(tree->root); }

void **rb_tree_to_array(const rb_tree_t *tree) {
  const uint64_t count = rb_tree_get_count(tree);
  if (count == 0) return nullptr;
  auto **out = static_cast<void **>(ryx_malloc(count * sizeof(void *)));
  uint64_t i = 0;
  fill_ascending(tree->root, out, &i);
  return out;
}

void **rb_tree_to_array_descending(const rb_tree_t *tree) {
  const uint64_t count = rb_tree_get_count(tree);
  void **out = rb_tree_to_array(tree);
  for (uint64_t i = 0, j = count; i + 1 < j; i++) {
    j--;
    void *tmp = out[i];
    out[i] = out[j];
    out[j] = tmp;
  }
  return out;
}

void rb_tree_walk(const rb_tree_t *tree, rb_tree_walk_fn fn, void *context) { walk_nodes(tree->root, fn, context); }

int rb_tree_check(const rb_tree_t *tree) {
  const rb_tree_node_t *root = tree->root;
  if (root == nullptr) return 0;
  if (root->colour == kRbTreeRed) return fault("Root is not black");
  if (root->parent != nullptr) return fault("Root parents is not NULL");
  CheckState state{tree->compare, 1, nullptr};
  for (const rb_tree_node_t *n = root; n != nullptr; n = n->left) {
    if (n->colour == kRbTreeBlack) state.expected_blacks++;
  }
  return rb_tree_check_node(&state, root, 0);
}

void rb_tree_print(const rb_tree_t *tree, rb_tree_to_string_fn to_string, void *context, int show_colours) {
  if (tree->root == nullptr) return;
  rb_tree_print_node(tree->root, to_string, context, show_colours, std::string());
}
