// The merge walk of reads against edges, written once with a per-member
// action for reads that end and for steps that leave the window.
#include "denovo/graph/component_threading.h"

#include "denovo/graph/component_expansion.h"

namespace {

enum class Member { kThread, kCrossings, kReadPaths, kMoreInfo };

struct Walk {
  component_window_t *context;
  fragment_graph_t *graph;
  const read_info_t *info;
  Member member;
  uint64_t mask;
  int32_t *more_info = nullptr;  // kMoreInfo: reads counted so far
};

// kMoreInfo: a step out of the window from a counts as information when a
// lies in the window or branches outside a bubble; elsewhere the walk
// follows the read on along the chain.
bool more_info_counts_at(const Walk &w, oriented_id_t a) {
  return fragment_graph_get_mark1(w.graph, a) ||
         (component_node_is_branching(w.graph, a) && !fragment_graph_is_bubble_node(w.graph, a));
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

void exit_action(const Walk &w, oriented_id_t exit_node, component_read_entry_t *entries, int32_t *flags, int32_t n) {
  for (int32_t i = 0; i < n; i++) {
    component_read_entry_t *entry = &entries[i];
    const read_ptr_t p = entry->read_ptr;
    if (w.member == Member::kCrossings) {
      component_window_add_crossing(w.context, entry, exit_node, read_info_get_index_in_path(w.info, p), p);
    } else if (w.member == Member::kReadPaths) {
      const uint64_t start = read_info_get_path_start(w.info, read_ptr_get_index(p));
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

void walk(const Walk &w, oriented_id_t a, component_read_entry_t *entries, int32_t *flags, int32_t n) {
  int32_t i = 0;
  while (i < n && !read_info_has_next(w.info, entries[i].read_ptr)) {
    if (w.member == Member::kThread) flags[i] = 1;
    i++;
  }
  if (i == n) return;
  oriented_id_t e = fragment_graph_get_first_next_edge(w.graph, a);
  if (e == kOrientedIdNone) return;
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
        walk(w, t, entries + i, run_flags, run);
        for (int32_t k = 0; k < run; k++) flags[i + k] |= run_flags[k];
      } else {
        exit_action(w, t, entries + i, flags + i, run);
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
  walk({context, graph, info, Member::kThread, 0}, node, entries, flags, n);
}

void component_thread_read_list(component_window_t *context, oriented_id_t node, component_read_list_t *list) {
  component_thread_reads(context, context->graph, context->read_info, node, list->entries, list->flags, list->count);
}

void component_get_crossings_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                 oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n) {
  walk({context, graph, info, Member::kCrossings, 0}, node, entries, flags, n);
}

void component_get_crossings(component_window_t *context, oriented_id_t node, component_read_list_t *list) {
  component_get_crossings_sub(context, context->graph, context->read_info, node, list->entries, list->flags,
                              list->count);
}

void component_get_read_paths_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                  oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n,
                                  uint64_t mask) {
  walk({context, graph, info, Member::kReadPaths, mask}, node, entries, flags, n);
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

int32_t component_get_more_info_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                    oriented_id_t node, component_read_entry_t *entries, int32_t n) {
  int32_t total = 0;
  int32_t *flags = component_window_alloc_ints(context, n);
  Walk w{context, graph, info, Member::kMoreInfo, 0};
  w.more_info = &total;
  walk(w, node, entries, flags, n);
  component_window_release_ints(context, flags, n);
  return total;
}

int32_t component_get_more_info_sub_list(component_window_t *context, oriented_id_t node,
                                         component_read_list_t *list) {
  return component_get_more_info_sub(context, context->graph, context->read_info, node, list->entries, list->count);
}
