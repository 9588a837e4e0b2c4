// The window builder: copies per component, the reachable build, disabling
// the window and re-marking the bubbles around it.
#include "denovo/graph/component_build.h"

#include <cstdio>
#include <vector>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/component_builder_trees.h"
#include "denovo/graph/component_paths.h"
#include "denovo/graph/component_threading.h"
#include "denovo/graph/components.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/reads/generic_sort.h"

namespace {

// Walks from start along first next edges through bubble nodes to the first
// bubble end. A step without a next edge ends the walk with -1, or with
// missing_edge_message when one is given; a step to a node that is neither
// a bubble node nor a bubble end is fatal. The walk is bounded by the node
// count, so a cycle of bubble nodes cannot hang it.
oriented_id_t bubble_end_from(const fragment_graph_t *graph, oriented_id_t start, const char *missing_edge_message) {
  oriented_id_t n = start;
  for (int64_t steps = 0; steps <= graph->node_count; steps++) {
    const oriented_id_t e = fragment_graph_get_first_next_edge(graph, n);
    if (e == kOrientedIdNone) {
      if (missing_edge_message != nullptr) ryx_fail_stdout(missing_edge_message);
      return kOrientedIdNone;
    }
    n = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_is_bubble_end(graph, n)) return n;
    if (!fragment_graph_is_bubble_node(graph, n)) break;
  }
  ryx_fail_stdout("error, search_for_bubble_end 1");
}

void mark_window(component_window_t *c) {
  for (int32_t i = 0; i < c->component_node_count; i++) fragment_graph_set_mark1(c->graph, c->component_nodes[i]);
}

void unmark_window(component_window_t *c) {
  for (int32_t i = 0; i < c->component_node_count; i++) fragment_graph_clear_mark1(c->graph, c->component_nodes[i]);
}

// Runs a forward walk from every interior border node, then the backward
// write walk from its reverse with the chain rooted at the node.
template <typename Forward, typename Backward>
void thread_interior_border_nodes(component_window_t *c, component_read_list_t *list, Forward forward,
                                  Backward backward) {
  const window_info_t *info = c->window_info;
  for (int32_t i = 0; i < info->interior_border_node_count; i++) {
    const oriented_id_t b = info->interior_border_nodes[i];
    component_read_list_set_fragment(list, fragment_graph_get_node_fragment(c->graph, b));
    component_read_list_fill(list, c->read_info);
    forward(c, c->graph, c->read_info, b, list->entries, list->flags, list->count, nullptr);
    component_read_list_reverse(c, list, c->read_info);
    component_chain_link_t root{nullptr, b, 0};
    backward(c, c->graph, c->read_info, fragment_graph_reverse_node(b), list->entries, list->flags, list->count, &root,
             c->builder_trees);
    component_window_clear_partial_paths(c);
  }
}

// Disables the window nodes and marks the bubbles around the rebuilt area.
int finish_rebuild(component_window_t *c) {
  unmark_window(c);
  for (int32_t i = 0; i < c->component_node_count; i++) fragment_graph_disable_node(c->graph, c->component_nodes[i]);
  component_window_remark_bubbles(c);
  c->bubble_check_count = 0;
  return 1;
}

void outer_bubble_check(component_window_t *c) {
  fragment_graph_t *graph = c->graph;
  const window_info_t *info = c->window_info;
  for (int32_t i = 0; i < info->interior_border_node_count; i++) {
    const oriented_id_t a = info->interior_border_nodes[i];
    if (fragment_graph_is_bubble_node(graph, a)) {
      const oriented_id_t e = bubble_end_from(graph, a, "error, component_set_outer_bubble_check_nodes node is -1");
      component_set_outer_bubble_check_nodes_sub(c, graph, fragment_graph_reverse_node(e));
      continue;
    }
    if (fragment_graph_is_bubble_start(graph, a)) component_set_outer_bubble_check_nodes_sub(c, graph, a);
    if (fragment_graph_is_bubble_end(graph, a))
      component_set_outer_bubble_check_nodes_sub(c, graph, fragment_graph_reverse_node(a));
  }
}

// Lists node (marks 3 for reverse, 2 for forward ids as listing flags)
// unless it is a window node or listed already.
void collect_once(fragment_graph_t *graph, std::vector<oriented_id_t> *out, oriented_id_t node) {
  if (fragment_graph_get_mark1(graph, node)) return;
  if (fragment_graph_node_is_reverse(node)) {
    if (fragment_graph_get_mark3(graph, node)) return;
    fragment_graph_set_mark3(graph, node);
  } else {
    if (fragment_graph_get_mark2(graph, node)) return;
    fragment_graph_set_mark2(graph, node);
  }
  out->push_back(node);
}

// The outside ends of the bubbles that reach into the window, and the
// branches from them that now run only into the window: when some branch of
// such a bubble still reaches an end outside, the others are cut off.
void remove_bubble_branches_into_window(component_window_t *c) {
  fragment_graph_t *graph = c->graph;
  const window_info_t *info = c->window_info;
  std::vector<oriented_id_t> ends;
  for (int32_t i = 0; i < info->interior_border_node_count; i++) {
    const oriented_id_t a = info->interior_border_nodes[i];
    const bool node = fragment_graph_is_bubble_node(graph, a) != 0;
    if (node || fragment_graph_is_bubble_start(graph, a)) {
      const oriented_id_t e = bubble_end_from(graph, a, nullptr);
      if (e != kOrientedIdNone) collect_once(graph, &ends, fragment_graph_reverse_node(e));
    }
    if (node || fragment_graph_is_bubble_end(graph, a)) {
      const oriented_id_t e = bubble_end_from(graph, fragment_graph_reverse_node(a), nullptr);
      if (e != kOrientedIdNone) collect_once(graph, &ends, fragment_graph_reverse_node(e));
    }
  }
  for (oriented_id_t x : ends) {
    fragment_graph_clear_mark2(graph, x);
    fragment_graph_clear_mark3(graph, x);
  }
  int32_t node_capacity = 16, edge_capacity = 16;
  auto *nodes = static_cast<oriented_id_t *>(ryx_malloc(16 * sizeof(oriented_id_t)));
  auto *edges = static_cast<oriented_id_t *>(ryx_malloc(16 * sizeof(oriented_id_t)));
  for (oriented_id_t x : ends) {
    // An end cut off by an earlier one has no branches left to look at.
    if (fragment_graph_is_disabled(graph, x)) continue;
    int32_t node_count = 0, edge_count = 0;
    const int reaches_outside = component_remove_bubble_death_end(graph, x, &nodes, &node_count, &node_capacity, &edges,
                                                                  &edge_count, &edge_capacity);
    for (int32_t i = 0; i < node_count; i++) fragment_graph_clear_mark2(graph, nodes[i]);
    if (!reaches_outside) continue;
    generic_sort(edges, static_cast<uint64_t>(edge_count), sizeof(oriented_id_t), component_edge_index_compare,
                 nullptr);
    for (int32_t i = 0; i < edge_count; i++)
      if (i == 0 || edges[i] != edges[i - 1]) fragment_graph_remove_edge(graph, edges[i]);
    for (int32_t i = 0; i < node_count; i++) {
      fragment_graph_clear_mark4(graph, nodes[i]);
      fragment_graph_disable_node(graph, nodes[i]);
    }
  }
  ryx_free(nodes);
  ryx_free(edges);
}

// Every remaining exterior border node becomes its own component, except
// that the border nodes of one bubble share one.
void number_exterior_border_nodes(component_window_t *c) {
  fragment_graph_t *graph = c->graph;
  const window_info_t *info = c->window_info;
  component_window_reset_component_index(c);
  int32_t j = 0;
  for (int32_t i = 0; i < info->exterior_border_node_count; i++) {
    if (info->component_index[i][0] != -1) continue;
    const oriented_id_t y = info->exterior_border_nodes[i];
    const oriented_id_t toward = fragment_graph_reverse_node(y);
    if (fragment_graph_is_bubble_start(graph, toward)) {
      component_set_bubble_component_index(c, graph, toward, j);
    } else if (fragment_graph_is_bubble_node(graph, toward)) {
      const oriented_id_t e = bubble_end_from(graph, y, "error, search_for_bubble_end 1");
      component_set_bubble_component_index(c, graph, fragment_graph_reverse_node(e), j);
    } else {
      set_component_index(c, y, j);
    }
    j++;
  }
  for (int32_t i = 0; i < info->exterior_border_node_count; i++) {
    if (info->component_index[i][0] != -1) continue;
    printf("error, component_the_builder_build_reachable_paths index %d, node %x\n", i, info->exterior_border_nodes[i]);
    fflush(stdout);
    ryx_exit(1);
  }
}

}  // namespace

int component_build(component_window_t *c, component_list_t *components) {
  if (components == nullptr || components->component_count == 0) return 0;
  const component_tree_set_t *trees = c->builder_trees;
  if (trees->node_count != 0 || trees->edge_count != 0 || trees->border_edge_count != 0)
    ryx_fail_stdout("red black tree contains elements");
  if (c->component_node_count == 0) ryx_fail_stdout("component sanity check, component_node_count is 0");
  mark_window(c);
  component_window_reset_component_index(c);
  component_set_component_index_sizes(c, components);
  thread_interior_border_nodes(c, c->read_list, component_get_next_build_sub, component_get_next_build_and_write_sub);
  const int rebuilt = component_build_window(c, components);
  component_window_free_paths(c);
  // After a rebuild the window nodes are disabled with their marks cleared.
  if (!rebuilt) unmark_window(c);
  return rebuilt;
}

int component_build_window(component_window_t *c, component_list_t *components) {
  component_tree_set_t *trees = c->builder_trees;
  const window_info_t *info = c->window_info;
  outer_bubble_check(c);
  if (components->component_count == 1) {
    if (component_build_component_paths(c, trees, 0)) {
      component_tree_set_clear(trees);
      component_the_builder_build_reachable_paths(c, c->read_list);
      return finish_rebuild(c);
    }
    if (trees->border_edge_count == info->border_edge_count && trees->edge_count == info->interior_edge_count) {
      // Nothing to gain: the component's reads use the whole window. The
      // listed bubble check nodes lose marks 4 and, for the outside nodes
      // listed by the outer check, 2.
      component_tree_set_clear(trees);
      for (int32_t i = 0; i < c->bubble_check_count; i++) {
        fragment_graph_clear_mark4(c->graph, c->bubble_check_nodes[i]);
        fragment_graph_clear_mark2(c->graph, c->bubble_check_nodes[i]);
      }
      c->bubble_check_count = 0;
      return 0;
    }
  } else {
    component_build_component_paths(c, trees, 1);
  }
  component_the_builder_build(c);
  component_the_builder_build_reachable_paths(c, c->read_list);
  return finish_rebuild(c);
}

int component_the_builder_build_reachable_paths(component_window_t *c, component_read_list_t *list) {
  remove_bubble_branches_into_window(c);
  component_window_compact_bubble_check_nodes(c);
  // Border edges moved onto copies no longer reach the window.
  component_window_update_exterior_border_nodes(c);
  number_exterior_border_nodes(c);
  thread_interior_border_nodes(c, list, component_get_next_build_reachable_sub,
                               component_get_next_build_reachable_and_write_sub);
  component_the_builder_build(c);
  return 0;
}

void component_set_outer_bubble_check_nodes_sub(component_window_t *c, fragment_graph_t *graph, oriented_id_t x) {
  if (!fragment_graph_get_mark1(graph, x)) {
    component_window_add_bubble_check_node(c, x);
    fragment_graph_set_mark2(graph, x);
  }
  component_set_outer_bubble_check_nodes_sub2(c, graph, x);
}

void component_set_outer_bubble_check_nodes_sub2(component_window_t *c, fragment_graph_t *graph, oriented_id_t x) {
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, x); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (!fragment_graph_get_mark1(graph, t) && !fragment_graph_get_mark4(graph, t))
      component_window_add_bubble_check_node(c, t);
    if (fragment_graph_is_bubble_end(graph, t)) continue;
    if (!fragment_graph_is_bubble_node(graph, t)) ryx_fail_stdout("error, component_set_outer_bubble_check_nodes_sub2");
    component_set_outer_bubble_check_nodes_sub2(c, graph, t);
  }
}

namespace {

void push(oriented_id_t **array, int32_t *count, int32_t *capacity, oriented_id_t value) {
  if (*count == *capacity) {
    *capacity *= 2;
    *array = static_cast<oriented_id_t *>(ryx_realloc(*array, static_cast<size_t>(*capacity) * sizeof(oriented_id_t)));
  }
  (*array)[(*count)++] = value;
}

}  // namespace

int component_remove_bubble_death_end(fragment_graph_t *graph, oriented_id_t a, oriented_id_t **nodes,
                                      int32_t *node_count, int32_t *node_capacity, oriented_id_t **edges,
                                      int32_t *edge_count, int32_t *edge_capacity) {
  if (fragment_graph_get_first_next_edge(graph, a) != kOrientedIdNone) {
    int result = 0;
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kOrientedIdNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
      if (!fragment_graph_is_bubble_end(graph, t)) {
        if (!fragment_graph_is_bubble_node(graph, t)) {
          fputs("error, component_remove_bubble_death_end\n", stderr);
          ryx_exit(1);
        }
        result += component_remove_bubble_death_end(graph, t, nodes, node_count, node_capacity, edges, edge_count,
                                                    edge_capacity);
      } else if (fragment_graph_get_mark1(graph, t)) {
        push(edges, edge_count, edge_capacity, fragment_graph_edge_index(e));
      } else {
        result = 1;
      }
    }
    if (result != 0) return result;
  }
  if (fragment_graph_get_mark1(graph, a) || fragment_graph_get_mark2(graph, a)) return 0;
  push(nodes, node_count, node_capacity, a);
  fragment_graph_set_mark2(graph, a);
  return 0;
}

int component_edge_index_compare(const void *a, const void *b, void *) {
  const uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void component_set_bubble_component_index(component_window_t *c, fragment_graph_t *graph, oriented_id_t a, int32_t k) {
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t d = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_get_mark1(graph, d)) {
      const oriented_id_t ra = fragment_graph_reverse_node(a);
      const int32_t index = get_component_index(c, ra);
      if (index != -1 && index != k) {
        printf("error, component_set_bubble_component_index 0, rev_node %x, component_index %d\n", ra, k);
        fflush(stdout);
        ryx_exit(1);
      }
      set_component_index(c, ra, k);
      continue;
    }
    if (fragment_graph_is_bubble_end(graph, d)) continue;
    if (!fragment_graph_is_bubble_node(graph, d)) ryx_fail_stdout("error, component_set_bubble_component_index 1");
    component_set_bubble_component_index(c, graph, d, k);
  }
}

void component_window_clear_bubble_check_nodes(component_window_t *c) { c->bubble_check_count = 0; }

void component_window_add_bubble_check_node(component_window_t *c, oriented_id_t node) {
  if (fragment_graph_get_mark4(c->graph, node)) return;
  fragment_graph_set_mark4(c->graph, node);
  if (c->bubble_check_count == c->bubble_check_capacity) {
    c->bubble_check_capacity *= 2;
    c->bubble_check_nodes = static_cast<oriented_id_t *>(
        ryx_realloc(c->bubble_check_nodes, static_cast<size_t>(c->bubble_check_capacity) * sizeof(oriented_id_t)));
  }
  c->bubble_check_nodes[c->bubble_check_count++] = fragment_graph_node_index(node);
}

void component_window_compact_bubble_check_nodes(component_window_t *c) {
  int32_t kept = 0;
  for (int32_t i = 0; i < c->bubble_check_count; i++) {
    const oriented_id_t node = c->bubble_check_nodes[i];
    if (!fragment_graph_get_mark4(c->graph, node)) continue;
    fragment_graph_clear_mark4(c->graph, node);
    c->bubble_check_nodes[kept++] = node;
  }
  c->bubble_check_count = kept;
}

void component_window_clear_bubble_check_marks(component_window_t *c) {
  for (int32_t i = 0; i < c->bubble_check_count; i++) fragment_graph_clear_mark4(c->graph, c->bubble_check_nodes[i]);
}

void component_window_print_bubble_check_nodes(const component_window_t *c) {
  printf("Bubble check nodes:");
  for (int32_t i = 0; i < c->bubble_check_count; i++) printf(" %x", c->bubble_check_nodes[i]);
  printf("\n");
}

void component_window_remark_bubbles(component_window_t *c) {
  fragment_graph_t *graph = c->graph;
  for (int32_t i = 0; i < c->bubble_check_count; i++) fragment_graph_clear_node_flags(graph, c->bubble_check_nodes[i]);
  for (int32_t i = 0; i < c->bubble_check_count; i++) {
    const oriented_id_t x = c->bubble_check_nodes[i];
    fragment_graph_find_bubble(graph, c->bubble_size, c->bubble_size / 5, x);
    fragment_graph_find_bubble(graph, c->bubble_size, c->bubble_size / 5, fragment_graph_reverse_node(x));
  }
}
