// The merge walk of reads against edges, written once with a per-member
// action for reads that end and for steps that leave the window.
#include "denovo/graph/component_threading.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "denovo/graph/component_expansion.h"
#include "denovo/graph/component_paths.h"

namespace {

enum class Member { kThread, kCrossings, kReadPaths, kBuild, kBuildWrite, kReachable, kReachableWrite, kMoreInfo };

struct Walk {
  component_window_t *context;
  fragment_graph_t *graph;
  const read_info_t *info;
  Member member;
  uint64_t mask;
  component_tree_set_t *trees;  // backward build walks
  int32_t *more_info = nullptr;  // kMoreInfo: reads counted so far
};

// kMoreInfo: a step out of the window from a counts as information when a
// lies in the window or branches outside a bubble; elsewhere the walk
// follows the read on along the chain.
bool more_info_counts_at(const Walk &w, oriented_id_t a) {
  return fragment_graph_get_mark1(w.graph, a) ||
         (component_node_is_branching(w.graph, a) && !fragment_graph_is_bubble_node(w.graph, a));
}

bool is_forward_build(Member m) { return m == Member::kBuild || m == Member::kReachable; }
bool is_backward_build(Member m) { return m == Member::kBuildWrite || m == Member::kReachableWrite; }

// The chain one level down, entered over an edge of distance d to t: a
// forward walk pushes (t, d); a backward walk writes d into the current
// head and pushes (reverse of t, 0), so that read from the head the chain
// runs forward towards the start node.
component_chain_link_t push_step(Member m, component_chain_link_t *chain, oriented_id_t t, int32_t d) {
  if (is_backward_build(m)) {
    if (chain != nullptr) chain->distance = d;
    return {chain, fragment_graph_reverse_node(t), 0};
  }
  return {chain, t, d};
}

const component_crossing_parts_t kWholeCrossing{1, 1, 1, 1};

// Forward half under c: the crossing without the border edge at X.
component_crossing_parts_t forward_half(bool has_x) { return {has_x ? 1 : 0, 0, 1, 1}; }

// Backward half under b: from X to the partial path's last step inside the
// window. A partial path that left the window ends on the exit node Y, which
// is outside: the half stops before it, as the forward half does, so that no
// copy of Y is made.
component_crossing_parts_t backward_half(const component_partial_path_t *p) {
  return {1, 1, p->component_index >= 0 ? 1 : 0, 0};
}

// A read that ended inside the window during the backward reachable walk:
// its forward halves, from the current node (the chain's head) on.
void reachable_write_ended(const Walk &w, component_chain_link_t *chain, component_read_entry_t *entry) {
  for (component_partial_path_t *p = component_window_first_partial_path(w.context, entry); p != nullptr;
       p = component_window_next_partial_path(w.context, p)) {
    if (p->component_index < 0) continue;
    if (chain == nullptr) ryx_fail_stdout("error component_get_next_build_reachable_and_write_sub 1");
    component_tree_add_crossing(w.context, w.trees, chain, p, forward_half(false), p->component_index);
  }
}

// Entries that the reachable forward walk leaves inside the window.
void reachable_mark_inside(const Walk &w, component_chain_link_t *chain, component_read_entry_t *entries,
                           int32_t *flags, int32_t from, int32_t to) {
  for (int32_t k = from; k < to; k++) {
    component_window_add_partial_path(w.context, &entries[k], chain, -2, 0);
    flags[k] = 1;
  }
}

// The read's start: its entry's path start and, for the exit element, its
// index in path.
inline uint64_t path_start(const read_info_t *info, read_ptr_t p) {
  return read_info_get_path_start(info, read_ptr_get_index(p));
}

// Keys order fragment first (unsigned), then distance (signed).
struct Key {
  oriented_id_t fragment;
  int32_t distance;
};

inline int key_compare(Key a, Key b) {
  if (a.fragment != b.fragment) return a.fragment < b.fragment ? -1 : 1;
  if (a.distance != b.distance) return a.distance < b.distance ? -1 : 1;
  return 0;
}

inline Key edge_key(const fragment_graph_t *graph, oriented_id_t edge) {
  return {fragment_graph_get_node_fragment(graph, fragment_graph_get_edge_to_node(graph, edge)),
          fragment_graph_get_edge_distance(graph, edge)};
}

// Moves the entry to its next element and returns its key.
inline Key advance(const read_info_t *info, component_read_entry_t *entry) {
  const int32_t d = read_info_get_next_distance(info, entry->read_ptr);
  entry->read_ptr = read_info_get_next(info, entry->read_ptr);
  return {read_info_get_fragment(info, entry->read_ptr), d};
}

// A step over an edge of distance d to the outside node exit_node.
void exit_action(const Walk &w, component_chain_link_t *chain, oriented_id_t exit_node, int32_t d,
                 component_read_entry_t *entries, int32_t *flags, int32_t n) {
  if (w.member == Member::kBuild || w.member == Member::kReachable) {
    component_chain_link_t step = push_step(w.member, chain, exit_node, d);
    const int32_t index = get_component_index(w.context, exit_node);
    for (int32_t i = 0; i < n; i++) {
      const uint64_t value = w.member == Member::kBuild ? read_info_get_index_in_path(w.info, entries[i].read_ptr) : 0;
      component_window_add_partial_path(w.context, &entries[i], &step, index, value);
      flags[i] = 1;
    }
    return;
  }
  if (w.member == Member::kBuildWrite) {
    component_chain_link_t step = push_step(w.member, chain, exit_node, d);
    int32_t index_size[2];
    get_component_index_size(w.context, exit_node, index_size);
    const int32_t b = index_size[0];
    for (int32_t i = 0; i < n; i++) {
      const read_ptr_t p = entries[i].read_ptr;
      for (component_partial_path_t *pp = component_window_first_partial_path(w.context, &entries[i]); pp != nullptr;
           pp = component_window_next_partial_path(w.context, pp)) {
        if (pp->component_index != b) continue;
        if (index_size[1] == 1) {
          component_add_path(w.context, &step, pp->first_step, b, path_start(w.info, p), pp->value,
                             read_info_get_index_in_path(w.info, p));
        } else {
          if (chain == nullptr) ryx_fail_stdout("error component_get_next_build_and_write_sub 2");
          component_tree_add_crossing(w.context, w.trees, &step, pp, kWholeCrossing, b);
        }
      }
      flags[i] = 1;
    }
    return;
  }
  if (w.member == Member::kReachableWrite) {
    component_chain_link_t step = push_step(w.member, chain, exit_node, d);
    const int32_t b = get_component_index(w.context, exit_node);
    for (int32_t i = 0; i < n; i++) {
      for (component_partial_path_t *pp = component_window_first_partial_path(w.context, &entries[i]); pp != nullptr;
           pp = component_window_next_partial_path(w.context, pp)) {
        if (b >= 0) {
          if (chain == nullptr) ryx_fail_stdout("error component_get_next_build_reachable_and_write_sub 2");
          component_tree_add_crossing(w.context, w.trees, &step, pp, backward_half(pp), b);
        }
        if (pp->component_index >= 0)
          component_tree_add_crossing(w.context, w.trees, &step, pp, forward_half(true), pp->component_index);
      }
      flags[i] = 1;
    }
    return;
  }
  for (int32_t i = 0; i < n; i++) {
    component_read_entry_t *entry = &entries[i];
    const read_ptr_t p = entry->read_ptr;
    if (w.member == Member::kCrossings) {
      component_window_add_crossing(w.context, entry, exit_node, read_info_get_index_in_path(w.info, p), p);
    } else if (w.member == Member::kReadPaths) {
      const uint64_t start = path_start(w.info, p);
      const uint64_t index = read_info_get_index_in_path(w.info, p);
      for (const component_crossing_t *c = component_window_first_crossing(w.context, entry); c != nullptr;
           c = component_window_next_crossing(w.context, c)) {
        component_window_add_read_path(w.context, start, c->index_in_path, index, c->read_ptr | w.mask, p | w.mask,
                                       c->exit_node, exit_node);
      }
    } else if (w.member == Member::kMoreInfo && entry->link == 0) {
      entry->link = 1;
      *w.more_info += static_cast<int32_t>(read_info_get_count(w.info, read_ptr_get_index(p)));
    }
    flags[i] = 1;
  }
}

void walk(const Walk &w, oriented_id_t a, component_chain_link_t *chain, component_read_entry_t *entries,
          int32_t *flags, int32_t n) {
  int32_t i = 0;
  while (i < n && !read_info_has_next(w.info, entries[i].read_ptr)) {
    if (w.member == Member::kThread) flags[i] = 1;
    if (w.member == Member::kReachable) reachable_mark_inside(w, chain, entries, flags, i, i + 1);
    if (w.member == Member::kReachableWrite) reachable_write_ended(w, chain, &entries[i]);
    i++;
  }
  if (i == n) return;
  oriented_id_t e = fragment_graph_get_first_next_edge(w.graph, a);
  if (e == kOrientedIdNone) {
    if (w.member == Member::kReachable) reachable_mark_inside(w, chain, entries, flags, i, n);
    return;
  }
  Key ek = edge_key(w.graph, e);
  Key key = advance(w.info, &entries[i]);
  int counts_here = -1;  // kMoreInfo: more_info_counts_at(a), computed when first needed
  for (;;) {
    // Edges below the entry's key lead nowhere for it.
    while (key_compare(ek, key) < 0) {
      e = fragment_graph_get_sibling_next_edge(w.graph, e);
      if (e == kOrientedIdNone) return;
      ek = edge_key(w.graph, e);
    }
    // Entries below the edge's key match no edge.
    if (key_compare(key, ek) < 0) {
      if (w.member == Member::kReachable) reachable_mark_inside(w, chain, entries, flags, i, i + 1);
      if (++i == n) return;
      key = advance(w.info, &entries[i]);
      continue;
    }
    // A run of entries sharing the edge's key.
    int32_t j = i + 1;
    Key next_key = key;
    while (j < n) {
      next_key = advance(w.info, &entries[j]);
      if (key_compare(next_key, key) != 0) break;
      j++;
    }
    const bool list_ended = j == n;
    const int32_t run = j - i;
    int32_t *run_flags = component_window_alloc_ints(w.context, run);
    uint64_t *saved = component_window_alloc_u64s(w.context, run);
    for (int32_t k = 0; k < run; k++) saved[k] = entries[i + k].read_ptr;
    for (;;) {
      const oriented_id_t t = fragment_graph_get_edge_to_node(w.graph, e);
      bool entered = w.member == Member::kThread || fragment_graph_get_mark1(w.graph, t);
      if (!entered && w.member == Member::kMoreInfo) {
        if (counts_here < 0) counts_here = more_info_counts_at(w, a) ? 1 : 0;
        entered = counts_here == 0;
      }
      if (entered) {
        for (int32_t k = 0; k < run; k++) run_flags[k] = 0;
        if (is_forward_build(w.member) || is_backward_build(w.member)) {
          component_chain_link_t step = push_step(w.member, chain, t, ek.distance);
          walk(w, t, &step, entries + i, run_flags, run);
        } else {
          walk(w, t, nullptr, entries + i, run_flags, run);
        }
        for (int32_t k = 0; k < run; k++) flags[i + k] |= run_flags[k];
      } else {
        exit_action(w, chain, t, ek.distance, entries + i, flags + i, run);
      }
      e = fragment_graph_get_sibling_next_edge(w.graph, e);
      if (e == kOrientedIdNone) {
        component_window_release_ints(w.context, run_flags, run);
        component_window_release_u64s(w.context, saved, run);
        return;
      }
      ek = edge_key(w.graph, e);
      if (key_compare(ek, key) != 0) break;
      for (int32_t k = 0; k < run; k++) entries[i + k].read_ptr = saved[k];
    }
    component_window_release_ints(w.context, run_flags, run);
    component_window_release_u64s(w.context, saved, run);
    if (list_ended) return;
    i = j;
    key = next_key;
  }
}

}  // namespace

void component_thread_reads(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                            oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n) {
  walk({context, graph, info, Member::kThread, 0, nullptr}, node, nullptr, entries, flags, n);
}

void component_thread_read_list(component_window_t *context, oriented_id_t node, component_read_list_t *list) {
  component_thread_reads(context, context->graph, context->read_info, node, list->entries, list->flags, list->count);
}

void component_get_crossings_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                 oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n) {
  walk({context, graph, info, Member::kCrossings, 0, nullptr}, node, nullptr, entries, flags, n);
}

void component_get_crossings(component_window_t *context, oriented_id_t node, component_read_list_t *list) {
  component_get_crossings_sub(context, context->graph, context->read_info, node, list->entries, list->flags,
                              list->count);
}

void component_get_read_paths_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                  oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n,
                                  uint64_t mask) {
  walk({context, graph, info, Member::kReadPaths, mask, nullptr}, node, nullptr, entries, flags, n);
}

void component_get_read_paths(component_window_t *context, oriented_id_t node, component_read_list_t *list,
                              uint64_t mask) {
  const int32_t n = list->count;
  uint64_t *saved = component_window_alloc_u64s(context, n);
  for (int32_t i = 0; i < n; i++) saved[i] = list->entries[i].read_ptr;
  component_get_read_paths_sub(context, context->graph, context->read_info, node, list->entries, list->flags, n, mask);
  for (int32_t i = 0; i < n; i++) list->entries[i].read_ptr = saved[i];
  component_window_release_u64s(context, saved, n);
}

void component_get_next_build_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                  oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n,
                                  component_chain_link_t *chain) {
  walk({context, graph, info, Member::kBuild, 0, nullptr}, node, chain, entries, flags, n);
}

void component_get_next_build_and_write_sub(component_window_t *context, fragment_graph_t *graph,
                                            const read_info_t *info, oriented_id_t node,
                                            component_read_entry_t *entries, int32_t *flags, int32_t n,
                                            component_chain_link_t *chain, component_tree_set_t *trees) {
  walk({context, graph, info, Member::kBuildWrite, 0, trees}, node, chain, entries, flags, n);
}

void component_get_next_build_reachable_sub(component_window_t *context, fragment_graph_t *graph,
                                            const read_info_t *info, oriented_id_t node,
                                            component_read_entry_t *entries, int32_t *flags, int32_t n,
                                            component_chain_link_t *chain) {
  walk({context, graph, info, Member::kReachable, 0, nullptr}, node, chain, entries, flags, n);
}

void component_get_next_build_reachable_and_write_sub(component_window_t *context, fragment_graph_t *graph,
                                                      const read_info_t *info, oriented_id_t node,
                                                      component_read_entry_t *entries, int32_t *flags, int32_t n,
                                                      component_chain_link_t *chain, component_tree_set_t *trees) {
  walk({context, graph, info, Member::kReachableWrite, 0, trees}, node, chain, entries, flags, n);
}

int32_t component_get_more_info_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                    oriented_id_t node, component_read_entry_t *entries, int32_t n) {
  int32_t total = 0;
  int32_t *flags = component_window_alloc_ints(context, n);
  Walk w{context, graph, info, Member::kMoreInfo, 0, nullptr};
  w.more_info = &total;
  walk(w, node, nullptr, entries, flags, n);
  component_window_release_ints(context, flags, n);
  return total;
}

int32_t component_get_more_info_sub_list(component_window_t *context, oriented_id_t node,
                                         component_read_list_t *list) {
  return component_get_more_info_sub(context, context->graph, context->read_info, node, list->entries, list->count);
}
