// The more-information test and the expandable node groups of a window.
#include "denovo/graph/component_expansion.h"

#include <cstdio>
#include <initializer_list>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/component_threading.h"
#include "denovo/reads/generic_sort.h"

namespace {

[[noreturn]] void fail_node(const char *format, oriented_id_t node) {
  printf(format, node);
  fflush(stdout);
  ryx_exit(1);
}

inline oriented_id_t first_target(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
  return e == kOrientedIdNone ? kOrientedIdNone : fragment_graph_get_edge_to_node(graph, e);
}

// Walks from start along first next edges through bubble nodes to the first
// bubble end and returns it; -1 when a step has no next edge. The walk is
// bounded by the node count, so a cycle of bubble nodes ends as a failure
// instead of hanging.
oriented_id_t bubble_end_from(const fragment_graph_t *graph, oriented_id_t start) {
  oriented_id_t n = start;
  for (int64_t steps = 0; steps <= graph->node_count; steps++) {
    const oriented_id_t t = first_target(graph, n);
    if (t == kOrientedIdNone) return kOrientedIdNone;
    if (fragment_graph_is_bubble_end(graph, t)) return t;
    if (!fragment_graph_is_bubble_node(graph, t)) break;
    n = t;
  }
  ryx_fail_stdout("error, search_for_bubble_end 1\n");
}

void append_node(oriented_id_t **buffer, int32_t *count, int32_t *capacity, oriented_id_t node) {
  if (*count == *capacity) {
    *capacity = *capacity > 0 ? 2 * *capacity : 16;
    *buffer = static_cast<oriented_id_t *>(ryx_realloc(*buffer, static_cast<size_t>(*capacity) * sizeof(oriented_id_t)));
  }
  (*buffer)[(*count)++] = node;
}

// Calls f on every path group of the current selection: all path groups of
// the context, or the groups of one component.
template <typename F>
void for_each_group(component_window_t *c, component_path_group_t *first_of_component, F f) {
  if (first_of_component == nullptr) {
    for (int32_t i = 0; i < c->path_group_count; i++) f(&c->path_groups[i]);
  } else {
    for (component_path_group_t *g = first_of_component; g != nullptr; g = g->link) f(g);
  }
}

// A border node with the number of path group ends it stands for and how
// many of them carry more information.
struct NodeEntry {
  oriented_id_t node;
  int32_t count;
  int32_t informed;
};

// (node index of a candidate, node index of the other end of its group).
struct NodePair {
  uint32_t first;
  uint32_t second;
};

int compare_entries(const void *a, const void *b, void *) {
  const uint32_t x = static_cast<const NodeEntry *>(a)->node, y = static_cast<const NodeEntry *>(b)->node;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int compare_pairs(const void *a, const void *b, void *) {
  const uint32_t x = static_cast<const NodePair *>(a)->first, y = static_cast<const NodePair *>(b)->first;
  return x < y ? -1 : (x > y ? 1 : 0);
}

inline bool is_candidate(const fragment_graph_t *graph, oriented_id_t node) {
  return fragment_graph_get_mark2(graph, node) || fragment_graph_get_mark3(graph, node);
}

void mark_window(component_window_t *c, bool on) {
  for (int32_t i = 0; i < c->component_node_count; i++) {
    if (on) {
      fragment_graph_set_mark1(c->graph, c->component_nodes[i]);
    } else {
      fragment_graph_clear_mark1(c->graph, c->component_nodes[i]);
    }
  }
}

// Replaces a border node lying in a bubble (a bubble node or a bubble end)
// by the bubble start before it, which must be a window node.
oriented_id_t border_node_outside_bubble(const fragment_graph_t *graph, oriented_id_t node, const char *message) {
  if (!fragment_graph_is_bubble_node(graph, node) && !fragment_graph_is_bubble_end(graph, node)) return node;
  const oriented_id_t start = component_bubble_start_before(graph, node);
  if (start == kOrientedIdNone || !fragment_graph_get_mark1(graph, start)) fail_node(message, start);
  return start;
}

// The outside prev-side neighbours of the first window node, each passed to
// f (bubble nodes replaced by the bubble start before them).
template <typename F>
void for_each_first_node_neighbour(const fragment_graph_t *graph, oriented_id_t first_node, F f) {
  const oriented_id_t r = fragment_graph_reverse_node(first_node);
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, r); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_get_mark1(graph, t)) continue;
    if (fragment_graph_is_bubble_node(graph, t)) t = component_bubble_start_before(graph, t);
    if (t != kOrientedIdNone) f(t);
  }
}

component_expandable_nodes_t *expandable_nodes(component_window_t *c, component_path_group_t *first_of_component) {
  fragment_graph_t *graph = c->graph;
  mark_window(c, true);

  // 1. Two entries per path group, border nodes in bubbles moved to the
  // bubble start in the window.
  int32_t group_count = 0;
  for_each_group(c, first_of_component, [&](component_path_group_t *) { group_count++; });
  const int32_t entry_ints = 2 * group_count * 3;
  auto *entries = reinterpret_cast<NodeEntry *>(component_window_alloc_ints(c, entry_ints));
  int32_t n = 0;
  for_each_group(c, first_of_component, [&](component_path_group_t *g) {
    g->prev_node = border_node_outside_bubble(
        graph, g->prev_node, "component_get_expandable_nodes error 0, node %x is not in window\n");
    g->next_node = border_node_outside_bubble(
        graph, g->next_node, "component_get_expandable_nodes error 1, node %x is not in window\n");
    entries[n++] = {g->prev_node, 1, g->more_info_prev != 0 ? 1 : 0};
    entries[n++] = {g->next_node, 1, g->more_info_next != 0 ? 1 : 0};
  });

  // 2. One entry per node.
  generic_sort(entries, static_cast<uint64_t>(n), sizeof(NodeEntry), compare_entries, nullptr);
  int32_t merged = 0;
  for (int32_t i = 0; i < n; i++) {
    if (merged > 0 && entries[merged - 1].node == entries[i].node) {
      entries[merged - 1].count += entries[i].count;
      entries[merged - 1].informed += entries[i].informed;
    } else {
      entries[merged++] = entries[i];
    }
  }

  // 3 and 4. Candidates: nodes at two or more group ends, every one of them
  // with more information, except the prev-side neighbours of the first
  // window node.
  const oriented_id_t first_node = c->component_nodes[0];
  component_mark_first_node_neighbours(graph, first_node);
  int32_t candidates = 0;
  for (int32_t i = 0; i < merged; i++) {
    const NodeEntry &e = entries[i];
    if (e.count < 2 || e.informed != e.count) continue;
    if (fragment_graph_node_is_reverse(e.node)) {
      if (fragment_graph_get_mark5(graph, e.node) || fragment_graph_get_mark3(graph, e.node)) continue;
      fragment_graph_set_mark3(graph, e.node);
    } else {
      if (fragment_graph_get_mark4(graph, e.node) || fragment_graph_get_mark2(graph, e.node)) continue;
      fragment_graph_set_mark2(graph, e.node);
    }
    candidates++;
  }
  component_clear_first_node_neighbours(graph, first_node);
  component_window_release_ints(c, reinterpret_cast<int32_t *>(entries), entry_ints);
  if (candidates == 0) {
    mark_window(c, false);
    return nullptr;
  }

  // 5. Pairs of node indices: a candidate and the other end of its group.
  const int32_t pair_ints = 2 * group_count * 2;
  auto *pairs = reinterpret_cast<NodePair *>(component_window_alloc_ints(c, pair_ints));
  int32_t pair_count = 0;
  for_each_group(c, first_of_component, [&](component_path_group_t *g) {
    const uint32_t p = fragment_graph_node_index(g->prev_node), q = fragment_graph_node_index(g->next_node);
    if (is_candidate(graph, g->prev_node)) pairs[pair_count++] = {p, q};
    if (is_candidate(graph, g->next_node)) pairs[pair_count++] = {q, p};
  });
  generic_sort(pairs, static_cast<uint64_t>(pair_count), sizeof(NodePair), compare_pairs, nullptr);

  // 6. Sweeps: each sweep takes every candidate not taken before that does
  // not face a candidate taken in the same sweep across a path group, and
  // joins their chains into one group.
  auto *groups = static_cast<component_expandable_nodes_t *>(ryx_calloc(sizeof(component_expandable_nodes_t)));
  groups->group_sizes = static_cast<int32_t *>(ryx_malloc(static_cast<size_t>(candidates) * sizeof(int32_t)));
  int32_t node_count = 0, node_capacity = 0;
  oriented_id_t *nodes = nullptr;
  for (;;) {
    const int32_t group_start = node_count;
    bool taken = false;
    for (int32_t i = 0; i < pair_count;) {
      const uint32_t b = pairs[i].first;
      int32_t end = i;
      while (end < pair_count && pairs[end].first == b) end++;
      if (!fragment_graph_get_mark4(graph, b) && !fragment_graph_get_mark5(graph, b)) {
        taken = true;
        fragment_graph_set_mark4(graph, b);
        if (fragment_graph_get_mark2(graph, b)) get_expandable_node_path(graph, b, &nodes, &node_count, &node_capacity);
        if (fragment_graph_get_mark3(graph, b))
          get_expandable_node_path(graph, fragment_graph_reverse_node(b), &nodes, &node_count, &node_capacity);
        for (int32_t k = i; k < end; k++) fragment_graph_set_mark5(graph, pairs[k].second);
      }
      i = end;
    }
    if (!taken) break;
    for (int32_t k = 0; k < pair_count; k++) fragment_graph_clear_mark5(graph, pairs[k].second);
    for (int32_t k = group_start; k < node_count; k++) fragment_graph_clear_mark6(graph, nodes[k]);
    // A sweep whose chains all ended badly adds nothing to the window, so it
    // makes no group: trying it would repeat the same window one level deeper.
    if (node_count > group_start) groups->group_sizes[groups->group_count++] = node_count - group_start;
  }

  // 7. Group starts; marks cleared.
  groups->nodes = nodes;
  groups->group_starts =
      static_cast<oriented_id_t **>(ryx_malloc(static_cast<size_t>(groups->group_count + 1) * sizeof(oriented_id_t *)));
  for (int32_t i = 0, at = 0; i < groups->group_count; i++) {
    groups->group_starts[i] = nodes + at;
    at += groups->group_sizes[i];
  }
  for (int32_t k = 0; k < pair_count; k++) {
    for (const uint32_t x : {pairs[k].first, pairs[k].second}) {
      fragment_graph_clear_mark2(graph, x);
      fragment_graph_clear_mark3(graph, x);
      fragment_graph_clear_mark4(graph, x);
    }
  }
  component_window_release_ints(c, reinterpret_cast<int32_t *>(pairs), pair_ints);
  mark_window(c, false);
  if (groups->group_count == 0) return component_expandable_nodes_free(groups);
  return groups;
}

}  // namespace

int component_node_has_two_successors(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
  if (e == kOrientedIdNone) return 0;
  const oriented_id_t first = fragment_graph_get_edge_to_node(graph, e);
  for (oriented_id_t f = fragment_graph_get_sibling_next_edge(graph, e); f != kOrientedIdNone;
       f = fragment_graph_get_sibling_next_edge(graph, f)) {
    if (fragment_graph_get_edge_to_node(graph, f) != first) return 1;
  }
  return 0;
}

int component_node_is_branching(const fragment_graph_t *graph, oriented_id_t node) {
  if (!component_node_has_two_successors(graph, node)) return 0;
  if (!fragment_graph_is_bubble_start(graph, node)) return 1;
  const oriented_id_t end = bubble_end_from(graph, node);
  if (end == kOrientedIdNone) ryx_fail_stdout("error, search_for_bubble_end 1\n");
  return end == fragment_graph_reverse_node(node) ? 0 : 1;
}

int32_t component_get_more_info(component_window_t *c) {
  mark_window(c, true);
  int32_t result = 0;
  component_read_list_t *list = c->read_list;
  for (int32_t i = 0; i < c->path_group_count; i++) {
    component_path_group_t *g = &c->path_groups[i];
    if (g->list_length == 0) continue;
    component_read_list_load(list, g->prev_read_list, g->list_length);
    g->more_info_prev = component_get_more_info_sub_list(c, g->prev_node, list);
    component_read_list_load(list, g->next_read_list, g->list_length);
    g->more_info_next = component_get_more_info_sub_list(c, g->next_node, list);
    result |= g->more_info_prev | g->more_info_next;
  }
  mark_window(c, false);
  return result;
}

oriented_id_t get_bubble_nodes2(fragment_graph_t *graph, oriented_id_t a, oriented_id_t **buffer, int32_t *count,
                                int32_t *capacity) {
  oriented_id_t end = kOrientedIdNone;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t r = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_is_bubble_end(graph, r)) {
      end = r;
      continue;
    }
    if (!fragment_graph_is_bubble_node(graph, r)) ryx_fail("error, get_bubble_nodes2\n");
    if (!fragment_graph_get_mark6(graph, r) && !fragment_graph_get_mark1(graph, r)) {
      append_node(buffer, count, capacity, r);
      fragment_graph_set_mark6(graph, r);
    }
    end = get_bubble_nodes2(graph, r, buffer, count, capacity);
  }
  return end;
}

int component_expandable_path_sub(fragment_graph_t *graph, oriented_id_t a, oriented_id_t **buffer, int32_t *count,
                                  int32_t *capacity) {
  // A chain without branching point that never returns to the window runs
  // round a cycle; after more steps than there are oriented nodes it is
  // given up like a dead end.
  for (int64_t steps = 0; !fragment_graph_get_mark1(graph, a); steps++) {
    if (steps > 2 * static_cast<int64_t>(graph->node_count)) return 0;
    if (!fragment_graph_get_mark6(graph, a)) {
      append_node(buffer, count, capacity, a);
      fragment_graph_set_mark6(graph, a);
    }
    if (component_node_has_two_successors(graph, a)) {
      if (!fragment_graph_is_bubble_start(graph, a)) return 1;
      const oriented_id_t e = bubble_end_from(graph, a);
      if (e == kOrientedIdNone) ryx_fail_stdout("error, search_for_bubble_end 1\n");
      if (e != fragment_graph_reverse_node(a))
        return !fragment_graph_get_mark1(graph, e) && !fragment_graph_get_mark6(graph, e) ? 1 : 0;
      get_bubble_nodes2(graph, a, buffer, count, capacity);
      return 1;
    }
    const oriented_id_t t = first_target(graph, a);
    if (t == kOrientedIdNone) return 0;
    a = t;
  }
  return 1;
}

int32_t get_expandable_node_path(fragment_graph_t *graph, oriented_id_t x, oriented_id_t **buffer, int32_t *count,
                                 int32_t *capacity) {
  const int32_t c0 = *count;
  if (fragment_graph_get_mark1(graph, x)) {
    if (!fragment_graph_is_bubble_start(graph, x)) ryx_fail("error 1, get_expandable_node_path\n");
    x = get_bubble_nodes2(graph, x, buffer, count, capacity);
    if (x == kOrientedIdNone || fragment_graph_get_mark1(graph, x)) ryx_fail("error 2, get_expandable_node_path\n");
  }
  if (component_expandable_path_sub(graph, x, buffer, count, capacity)) return *count - c0;
  for (int32_t i = c0; i < *count; i++) fragment_graph_clear_mark6(graph, (*buffer)[i]);
  *count = c0;
  return 0;
}

component_expandable_nodes_t *component_get_expandable_nodes(component_window_t *c) {
  return expandable_nodes(c, nullptr);
}

component_expandable_nodes_t *component_get_expandable_nodes_of_component(component_window_t *c,
                                                                          const component_list_t *components) {
  if (components->component_count != 1) {
    printf("component_get_expandable_nodes, components->component_count != 1\n");
    return nullptr;
  }
  // An empty component has no group to start from: nothing to expand.
  if (components->first_groups[0] == nullptr) return nullptr;
  return expandable_nodes(c, components->first_groups[0]);
}

component_expandable_nodes_t *component_expandable_nodes_free(component_expandable_nodes_t *groups) {
  if (groups == nullptr) return nullptr;
  ryx_free(groups->group_starts);
  ryx_free(groups->group_sizes);
  ryx_free(groups->nodes);
  ryx_free(groups);
  return nullptr;
}

void component_print_expandable_nodes(component_window_t *c) {
  component_expandable_nodes_t *groups = component_get_expandable_nodes(c);
  if (groups == nullptr) {
    printf("no expandable nodes\n");
    return;
  }
  printf("expandable nodes\n");
  for (int32_t i = 0; i < groups->group_count; i++) {
    printf("  group size %d:", groups->group_sizes[i]);
    for (int32_t k = 0; k < groups->group_sizes[i]; k++) printf(" %x", groups->group_starts[i][k]);
    printf("\n");
  }
  component_expandable_nodes_free(groups);
}

oriented_id_t component_bubble_start_before(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t end = bubble_end_from(graph, fragment_graph_reverse_node(node));
  return end == kOrientedIdNone ? kOrientedIdNone : fragment_graph_reverse_node(end);
}

void component_mark_first_node_neighbours(fragment_graph_t *graph, oriented_id_t first_node) {
  for_each_first_node_neighbour(graph, first_node, [&](oriented_id_t t) {
    if (fragment_graph_node_is_reverse(t)) {
      fragment_graph_set_mark5(graph, t);
    } else {
      fragment_graph_set_mark4(graph, t);
    }
  });
}

void component_clear_first_node_neighbours(fragment_graph_t *graph, oriented_id_t first_node) {
  for_each_first_node_neighbour(graph, first_node, [&](oriented_id_t t) {
    fragment_graph_clear_mark4(graph, t);
    fragment_graph_clear_mark5(graph, t);
  });
}
