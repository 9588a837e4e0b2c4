// Component paths, dominant paths, node copies of one path and partial paths.
#include "denovo/graph/component_paths.h"

#include <cinttypes>
#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/component_build.h"
#include "denovo/reads/generic_sort.h"

namespace {

component_path_one *path_alloc(int32_t length) {
  auto *p = static_cast<component_path_one *>(ryx_calloc(sizeof(component_path_one)));
  p->steps = static_cast<component_path_step_t *>(
      ryx_malloc(static_cast<size_t>(length > 0 ? length : 1) * sizeof(component_path_step_t)));
  p->length = length;
  return p;
}

void append_path(component_window_t *c, component_path_one *path) {
  if (c->component_path_count == c->component_path_capacity) {
    c->component_path_capacity *= 2;
    c->component_paths = static_cast<component_path_one **>(ryx_realloc(
        c->component_paths, static_cast<size_t>(c->component_path_capacity) * sizeof(component_path_one *)));
  }
  c->component_paths[c->component_path_count++] = path;
}

int32_t append_chain_step(component_window_t *c, int32_t next, oriented_id_t node, int32_t distance) {
  if (c->chain_step_count == c->chain_step_capacity) {
    c->chain_step_capacity *= 2;
    c->chain_steps = static_cast<component_chain_step_t *>(
        ryx_realloc(c->chain_steps, static_cast<size_t>(c->chain_step_capacity) * sizeof(component_chain_step_t)));
  }
  c->chain_steps[c->chain_step_count] = {next, node, distance};
  return c->chain_step_count++;
}

bool has_bubble_bits(const fragment_graph_t *graph, oriented_id_t node) {
  return fragment_graph_is_bubble_node(graph, node) || fragment_graph_is_bubble_start(graph, node) ||
         fragment_graph_is_bubble_end(graph, node);
}

// A copy of the window node on the node's own strand.
oriented_id_t copy_on_strand(fragment_graph_t *graph, oriented_id_t node) {
  if (!fragment_graph_node_is_reverse(node)) return fragment_graph_copy_node(graph, node);
  return fragment_graph_reverse_node(fragment_graph_copy_node(graph, fragment_graph_reverse_node(node)));
}

}  // namespace

component_path_one *component_path_one_new(component_window_t *c, const component_chain_link_t *chain,
                                           int32_t first_step, int32_t component_index, uint64_t read_start_ptr,
                                           uint64_t index_a, uint64_t index_b) {
  int32_t length = 0;
  for (const component_chain_link_t *s = chain; s != nullptr; s = s->previous) length++;
  for (int32_t s = first_step; s >= 0; s = c->chain_steps[s].next) length++;
  component_path_one *p = path_alloc(length);
  int32_t i = 0;
  for (const component_chain_link_t *s = chain; s != nullptr; s = s->previous) p->steps[i++] = {s->node, s->distance};
  for (int32_t s = first_step; s >= 0; s = c->chain_steps[s].next)
    p->steps[i++] = {c->chain_steps[s].node, c->chain_steps[s].distance};
  p->component_index = component_index;
  p->count = static_cast<int32_t>(read_info_get_count(c->read_info, read_start_ptr));
  p->read_start_ptr = read_start_ptr;
  p->read_start_index = index_a < index_b ? index_a : index_b;
  p->read_end_index = index_a < index_b ? index_b : index_a;
  return p;
}

component_path_one *component_path_one_reverse(const component_path_one *path) {
  const int32_t n = path->length;
  component_path_one *r = path_alloc(n);
  for (int32_t i = 0; i < n; i++) {
    r->steps[i].node = fragment_graph_reverse_node(path->steps[n - 1 - i].node);
    r->steps[i].distance = i == 0 ? 0 : path->steps[n - i].distance;
  }
  r->component_index = path->component_index;
  r->count = path->count;
  r->read_start_ptr = path->read_start_ptr;
  r->read_start_index = path->read_start_index;
  r->read_end_index = path->read_end_index;
  return r;
}

component_path_one *component_path_one_free(component_path_one *path) {
  if (path == nullptr) return nullptr;
  ryx_free(path->steps);
  ryx_free(path);
  return nullptr;
}

void component_add_path(component_window_t *c, const component_chain_link_t *chain, int32_t first_step,
                        int32_t component_index, uint64_t read_start_ptr, uint64_t index_a, uint64_t index_b) {
  component_path_one *p =
      component_path_one_new(c, chain, first_step, component_index, read_start_ptr, index_a, index_b);
  component_path_one *r = component_path_one_reverse(p);
  if (component_path_one_compare_steps(p, r) <= 0) {
    component_path_one_free(r);
    append_path(c, p);
  } else {
    component_path_one_free(p);
    append_path(c, r);
  }
}

void component_window_free_paths(component_window_t *c) {
  for (int32_t i = 0; i < c->component_path_count; i++) component_path_one_free(c->component_paths[i]);
  c->component_path_count = 0;
}

int component_path_one_compare_steps(const component_path_one *a, const component_path_one *b) {
  const int32_t n = a->length < b->length ? a->length : b->length;
  for (int32_t i = 0; i < n; i++) {
    const uint32_t x = a->steps[i].node, y = b->steps[i].node;
    if (x != y) return x < y ? -1 : 1;
    const int32_t dx = a->steps[i].distance, dy = b->steps[i].distance;
    if (dx != dy) return dx < dy ? -1 : 1;
  }
  if (a->length != b->length) return a->length < b->length ? -1 : 1;
  return 0;
}

int component_path_one_compare(const void *pa, const void *pb, void *) {
  const component_path_one *a = *static_cast<component_path_one *const *>(pa);
  const component_path_one *b = *static_cast<component_path_one *const *>(pb);
  if (a->component_index != b->component_index) return a->component_index < b->component_index ? -1 : 1;
  if (int r = component_path_one_compare_steps(a, b)) return r;
  if (a->read_start_ptr != b->read_start_ptr) return a->read_start_ptr < b->read_start_ptr ? -1 : 1;
  if (a->read_start_index != b->read_start_index) return a->read_start_index < b->read_start_index ? -1 : 1;
  if (a->read_end_index != b->read_end_index) return a->read_end_index > b->read_end_index ? -1 : 1;
  return 0;
}

void component_path_one_print(const component_path_one *p) {
  printf(
      "component_path_one (%d count, %d length, %d component_index, read_start_ptr %d, read_start_index %d, "
      "read_end_index %d):",
      p->count, p->length, p->component_index, static_cast<int>(p->read_start_ptr),
      static_cast<int>(p->read_start_index), static_cast<int>(p->read_end_index));
  for (int32_t i = 0; i < p->length; i++) {
    if (i > 0) printf(" (%d)", p->steps[i].distance);
    printf(" %x", p->steps[i].node);
  }
  printf("\n");
}

int component_build_path(component_window_t *c, const component_path_one *path, int force) {
  fragment_graph_t *graph = c->graph;
  const int32_t n = path->length;
  if (n < 3) ryx_fail("error, component_build_path 1\n");
  const component_path_step_t *q = path->steps;
  const bool own_reverse = q[0].node == fragment_graph_reverse_node(q[n - 1].node) &&
                           q[1].node == fragment_graph_reverse_node(q[n - 2].node) &&
                           q[1].distance == q[n - 1].distance;
  if (!force && !own_reverse) {
    bool branching = false;
    for (int32_t i = 1; i <= n - 2; i++) {
      const oriented_id_t prev = fragment_graph_get_first_prev_edge(graph, q[i].node);
      if (prev == kOrientedIdNone) ryx_fail("error, component_build_path 2\n");
      const oriented_id_t next = fragment_graph_get_first_next_edge(graph, q[i].node);
      if (next == kOrientedIdNone) ryx_fail("error, component_build_path 3\n");
      if (fragment_graph_get_sibling_prev_edge(graph, prev) != kOrientedIdNone ||
          fragment_graph_get_sibling_next_edge(graph, next) != kOrientedIdNone)
        branching = true;
    }
    if (!branching) return 0;
  }
  // Copies g1 ... g(n-2), chained at the path's distances.
  oriented_id_t first = kOrientedIdNone, last = kOrientedIdNone;
  for (int32_t i = 1; i <= n - 2; i++) {
    const oriented_id_t g = copy_on_strand(graph, q[i].node);
    if (has_bubble_bits(graph, g)) component_window_add_bubble_check_node(c, g);
    if (i > 1) fragment_graph_add_edge(graph, last, g, q[i].distance);
    if (i == 1) first = g;
    last = g;
  }
  fragment_graph_redirect_edge_to(graph, q[0].node, q[1].distance, q[1].node, first);
  if (own_reverse) {
    fragment_graph_add_edge(graph, last, q[n - 1].node, q[n - 1].distance);
  } else {
    fragment_graph_redirect_edge_from(graph, q[n - 1].node, q[n - 1].distance, q[n - 2].node, last);
  }
  return 1;
}

void component_path_one2component(component_window_t *, component_tree_set_t *trees, const component_path_one *path) {
  const int32_t n = path->length;
  if (n < 3) {
    fputs("error, component_path_one2component", stdout);
    fflush(stdout);
    ryx_exit(1);
  }
  const component_path_step_t *q = path->steps;
  const int32_t k = path->component_index;
  for (int32_t i = 1; i <= n - 2; i++) component_tree_add_node(trees, q[i].node, k);
  for (int32_t i = 2; i <= n - 2; i++) component_tree_add_edge(trees, q[i - 1].node, q[i].node, q[i].distance, k);
  component_tree_add_border_edge(trees, q[0].node, q[1].node, q[1].distance, k);
  component_tree_add_border_edge(trees, fragment_graph_reverse_node(q[n - 1].node),
                                 fragment_graph_reverse_node(q[n - 2].node), q[n - 1].distance, k);
}

int component_build_component_paths(component_window_t *c, component_tree_set_t *trees, int force) {
  generic_sort(c->component_paths, static_cast<uint64_t>(c->component_path_count), sizeof(component_path_one *),
               component_path_one_compare, nullptr);
  if (c->component_path_count == 0) return 0;
  // Equal paths become one, counting each read passage once: a duplicate
  // from the read last counted that starts inside its counted passage
  // overlaps it.
  component_path_one **paths = c->component_paths;
  int32_t kept = 1;
  uint64_t counted_start = paths[0]->read_start_ptr, counted_end = paths[0]->read_end_index;
  for (int32_t i = 1; i < c->component_path_count; i++) {
    component_path_one *p = paths[i];
    component_path_one *k = paths[kept - 1];
    if (p->component_index != k->component_index || component_path_one_compare_steps(p, k) != 0) {
      paths[kept++] = p;
      counted_start = p->read_start_ptr;
      counted_end = p->read_end_index;
      continue;
    }
    if (!(p->read_start_ptr == counted_start && p->read_start_index < counted_end)) {
      k->count += static_cast<int32_t>(read_info_get_count(c->read_info, p->read_start_ptr));
      counted_start = p->read_start_ptr;
      counted_end = p->read_end_index;
    }
    component_path_one_free(p);
  }
  c->component_path_count = kept;
  // Per component: the dominant path as a chain, or every path registered.
  int result = 0;
  for (int32_t i = 0; i < kept;) {
    int32_t j = i;
    int64_t total = 0, best_count = -1;
    const component_path_one *best = nullptr;
    for (; j < kept && paths[j]->component_index == paths[i]->component_index; j++) {
      total += paths[j]->count;
      if (paths[j]->count >= best_count) {
        best_count = paths[j]->count;
        best = paths[j];
      }
    }
    const bool last_run = j == kept;
    const bool dominant = last_run ? total * 9 < best_count * 10 : total * 9 <= best_count * 10;
    if (dominant) {
      result |= component_build_path(c, best, force);
    } else {
      for (int32_t m = i; m < j; m++) component_path_one2component(c, trees, paths[m]);
    }
    i = j;
  }
  return result;
}

void component_window_clear_partial_paths(component_window_t *c) {
  c->partial_path_count = 0;
  c->chain_step_count = 0;
}

void component_window_add_partial_path(component_window_t *c, component_read_entry_t *entry,
                                       const component_chain_link_t *chain, int32_t component_index, uint64_t value) {
  if (c->partial_path_count == c->partial_path_capacity) {
    c->partial_path_capacity *= 2;
    c->partial_paths = static_cast<component_partial_path_t *>(ryx_realloc(
        c->partial_paths, static_cast<size_t>(c->partial_path_capacity) * sizeof(component_partial_path_t)));
  }
  // The chain runs from its head (the exit) back to the first node after the
  // start; stored in that order with each step linking to the one stored
  // before it, the last stored step is the first node after the start.
  int32_t first = -1;
  for (const component_chain_link_t *s = chain; s != nullptr; s = s->previous)
    first = append_chain_step(c, first, s->node, s->distance);
  c->partial_paths[c->partial_path_count] = {first, entry->link, component_index, value};
  entry->link = c->partial_path_count++;
}

component_partial_path_t *component_window_first_partial_path(component_window_t *c,
                                                              const component_read_entry_t *entry) {
  return entry->link < 0 ? nullptr : &c->partial_paths[entry->link];
}

component_partial_path_t *component_window_next_partial_path(component_window_t *c,
                                                             const component_partial_path_t *partial) {
  return partial->next < 0 ? nullptr : &c->partial_paths[partial->next];
}
