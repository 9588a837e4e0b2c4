// Builder trees and their build into the graph.
#include "denovo/graph/component_builder_trees.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/component_build.h"
#include "denovo/graph/fragment_graph_not_done.h"

namespace {

int compare_u32(uint32_t x, uint32_t y) { return x < y ? -1 : (x > y ? 1 : 0); }
int compare_i32(int32_t x, int32_t y) { return x < y ? -1 : (x > y ? 1 : 0); }

// Node entries: node index (unsigned), then component (signed); the new
// node id does not take part.
int node_entry_compare(const void *pa, const void *pb) {
  const auto *x = static_cast<const component_tree_entry_t *>(pa);
  const auto *y = static_cast<const component_tree_entry_t *>(pb);
  if (int r = compare_u32(x->a, y->a)) return r;
  return compare_i32(x->component_index, y->component_index);
}

// Edge and border edge entries: u, v (unsigned), distance, component
// (signed).
int edge_entry_compare(const void *pa, const void *pb) {
  const auto *x = static_cast<const component_tree_entry_t *>(pa);
  const auto *y = static_cast<const component_tree_entry_t *>(pb);
  if (int r = compare_u32(x->a, y->a)) return r;
  if (int r = compare_u32(x->b, y->b)) return r;
  if (int r = compare_i32(x->c, y->c)) return r;
  return compare_i32(x->component_index, y->component_index);
}

void free_entry(void *item) { ryx_free(item); }

// Inserts a copy of the key unless an equal entry is stored; returns 1 when
// inserted.
int insert_once(rb_tree_t *tree, const component_tree_entry_t &key) {
  if (rb_tree_find(tree, &key) != nullptr) return 0;
  auto *entry = static_cast<component_tree_entry_t *>(ryx_malloc(sizeof(component_tree_entry_t)));
  *entry = key;
  rb_tree_insert(tree, entry);
  return 1;
}

void make_trees(component_tree_set_t *t) {
  t->node_tree = rb_tree_new(node_entry_compare, free_entry);
  t->edge_tree = rb_tree_new(edge_entry_compare, free_entry);
  t->border_edge_tree = rb_tree_new(edge_entry_compare, free_entry);
  t->node_count = 0;
  t->edge_count = 0;
  t->border_edge_count = 0;
}

void free_trees(component_tree_set_t *t) {
  rb_tree_free_with_items(t->node_tree);
  rb_tree_free_with_items(t->edge_tree);
  rb_tree_free_with_items(t->border_edge_tree);
}

// The copy of node in its component, on node's strand; -1 when no entry.
oriented_id_t copy_of(const component_tree_set_t *trees, oriented_id_t node, int32_t component_index) {
  const component_tree_entry_t *e = component_tree_find_node(trees, node, component_index);
  if (e == nullptr) return kOrientedIdNone;
  return e->b | (node & kOrientedIdReverse);
}

void build_node(void *item, void *arg) {
  auto *c = static_cast<component_window_t *>(arg);
  auto *e = static_cast<component_tree_entry_t *>(item);
  fragment_graph_t *graph = c->graph;
  const oriented_id_t g = fragment_graph_copy_node(graph, e->a);
  e->b = g;
  fragment_graph_set_not_done_node(graph, g);
  if (fragment_graph_is_bubble_node(graph, g) || fragment_graph_is_bubble_start(graph, g) ||
      fragment_graph_is_bubble_end(graph, g))
    component_window_add_bubble_check_node(c, g);
}

void build_edge(void *item, void *arg) {
  auto *c = static_cast<component_window_t *>(arg);
  const auto *e = static_cast<const component_tree_entry_t *>(item);
  const oriented_id_t u = copy_of(c->builder_trees, e->a, e->component_index);
  if (u == kOrientedIdNone) {
    fputs("error component_the_builder_build_interior_edges 1: internal error, node not found\n", stderr);
    ryx_exit(1);
  }
  const oriented_id_t v = copy_of(c->builder_trees, e->b, e->component_index);
  if (v == kOrientedIdNone) {
    fputs("error component_the_builder_build_interior_edges 2, internal error, node not found\n", stderr);
    ryx_exit(1);
  }
  fragment_graph_add_edge(c->graph, u, v, e->c);
}

void build_border_edge(void *item, void *arg) {
  auto *c = static_cast<component_window_t *>(arg);
  const auto *e = static_cast<const component_tree_entry_t *>(item);
  const oriented_id_t copy = copy_of(c->builder_trees, e->b, e->component_index);
  if (copy == kOrientedIdNone) {
    fprintf(stderr, "build_group_path6: internal error, node not found, unable to find node %x\n",
            fragment_graph_node_index(e->b));
    ryx_exit(1);
  }
  fragment_graph_redirect_edge_to(c->graph, e->a, e->c, e->b, copy);
}

}  // namespace

component_tree_set_t *component_tree_set_new(void) {
  auto *t = static_cast<component_tree_set_t *>(ryx_malloc(sizeof(component_tree_set_t)));
  make_trees(t);
  return t;
}

component_tree_set_t *component_tree_set_free(component_tree_set_t *trees) {
  if (trees == nullptr) return nullptr;
  free_trees(trees);
  ryx_free(trees);
  return nullptr;
}

void component_tree_set_clear(component_tree_set_t *trees) {
  free_trees(trees);
  make_trees(trees);
}

void component_tree_add_node(component_tree_set_t *trees, oriented_id_t node, int32_t component_index) {
  trees->node_count +=
      insert_once(trees->node_tree, {fragment_graph_node_index(node), kOrientedIdNone, 0, component_index});
}

void component_tree_add_edge(component_tree_set_t *trees, oriented_id_t u, oriented_id_t v, int32_t distance,
                             int32_t component_index) {
  const oriented_id_t ru = fragment_graph_reverse_node(v), rv = fragment_graph_reverse_node(u);
  if (ru < u) {
    u = ru;
    v = rv;
  }
  trees->edge_count += insert_once(trees->edge_tree, {u, v, distance, component_index});
}

void component_tree_add_border_edge(component_tree_set_t *trees, oriented_id_t a, oriented_id_t c, int32_t distance,
                                    int32_t component_index) {
  trees->border_edge_count += insert_once(trees->border_edge_tree, {a, c, distance, component_index});
}

component_tree_entry_t *component_tree_find_node(const component_tree_set_t *trees, oriented_id_t node,
                                                 int32_t component_index) {
  const component_tree_entry_t key{fragment_graph_node_index(node), kOrientedIdNone, 0, component_index};
  rb_tree_node_t *n = rb_tree_find(trees->node_tree, &key);
  return n == nullptr ? nullptr : static_cast<component_tree_entry_t *>(n->item);
}

void component_tree_add_crossing(component_window_t *c, component_tree_set_t *trees,
                                 const component_chain_link_t *chain, const component_partial_path_t *partial,
                                 component_crossing_parts_t parts, int32_t k) {
  const component_chain_link_t *s = chain;
  if (parts.has_exit_x) {
    if (parts.border_at_x) component_tree_add_border_edge(trees, s->node, s->previous->node, s->previous->distance, k);
    s = s->previous;
  }
  oriented_id_t last = kOrientedIdNone;
  for (; s != nullptr; s = s->previous) {
    component_tree_add_node(trees, s->node, k);
    if (last != kOrientedIdNone) component_tree_add_edge(trees, last, s->node, s->distance, k);
    last = s->node;
  }
  for (int32_t i = partial->first_step; i >= 0;) {
    const component_chain_step_t &step = c->chain_steps[i];
    if (step.next < 0 && parts.last_step_exits) {
      if (parts.border_at_y)
        component_tree_add_border_edge(trees, fragment_graph_reverse_node(step.node), fragment_graph_reverse_node(last),
                                       step.distance, k);
      break;
    }
    component_tree_add_node(trees, step.node, k);
    component_tree_add_edge(trees, last, step.node, step.distance, k);
    last = step.node;
    i = step.next;
  }
}

int component_the_builder_build(component_window_t *context) {
  component_tree_set_t *trees = context->builder_trees;
  rb_tree_walk(trees->node_tree, build_node, context);
  rb_tree_walk(trees->edge_tree, build_edge, context);
  rb_tree_walk(trees->border_edge_tree, build_border_edge, context);
  component_tree_set_clear(trees);
  return 1;
}
