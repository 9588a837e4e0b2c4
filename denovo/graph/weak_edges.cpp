#include "denovo/graph/weak_edges.h"

#include <climits>
#include <cmath>

#include "common/memory.h"
#include "denovo/reads/rb_tree.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;

oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }

// One candidate edge of a node and the reads that take it.
struct edge_support_t {
  oriented_id_t edge;
  int32_t support;
};

void add_candidate(rb_tree_t *table, oriented_id_t edge) {
  const edge_support_t key{edge, 0};
  if (rb_tree_find(table, &key) != nullptr) return;
  auto *item = static_cast<edge_support_t *>(ryx_malloc(sizeof(edge_support_t)));
  *item = key;
  rb_tree_insert(table, item);
}

void add_support(rb_tree_t *table, oriented_id_t edge, uint32_t count) {
  if (edge == kNone) return;
  const edge_support_t key{edge, 0};
  rb_tree_node_t *found = rb_tree_find(table, &key);
  if (found != nullptr) static_cast<edge_support_t *>(found->item)->support += static_cast<int32_t>(count);
}

// The single target all next edges of a lead to, or -1 (also for none).
oriented_id_t single_target(const fragment_graph_t *graph, oriented_id_t a) {
  oriented_id_t target = kNone;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (target == kNone) {
      target = t;
    } else if (t != target) {
      return kNone;
    }
  }
  return target;
}

void free_item(void *item) { ryx_free(item); }

}  // namespace

extern "C" {

int fragment_graph_compare_edge_ids(const void *a, const void *b) {
  const oriented_id_t x = static_cast<const edge_support_t *>(a)->edge;
  const oriented_id_t y = static_cast<const edge_support_t *>(b)->edge;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int fragment_graph_compare_edge_pairs(const void *a, const void *b) {
  const auto *x = static_cast<const uint32_t *>(a);
  const auto *y = static_cast<const uint32_t *>(b);
  if (x[0] != y[0]) return x[0] < y[0] ? -1 : 1;
  if (x[1] != y[1]) return x[1] < y[1] ? -1 : 1;
  return 0;
}

void fragment_graph_count_node_edges(const fragment_graph_t *graph, oriented_id_t node, int32_t *prev_count,
                                     int32_t *next_count, int32_t *prev_from_others, int32_t *next_to_others,
                                     int32_t *prev_from_reverse, int32_t *next_to_reverse, int32_t *prev_from_itself) {
  *prev_count = *next_count = *prev_from_others = *next_to_others = 0;
  *prev_from_reverse = *next_to_reverse = *prev_from_itself = 0;
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    const oriented_id_t from = fragment_graph_get_edge_from_node(graph, e);
    (*prev_count)++;
    if (from == flip(node)) {
      (*prev_from_reverse)++;
    } else if (from == node) {
      (*prev_from_itself)++;
    } else {
      (*prev_from_others)++;
    }
  }
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
    (*next_count)++;
    if (to == flip(node)) {
      (*next_to_reverse)++;
    } else if (to != node) {
      (*next_to_others)++;
    }
  }
}

oriented_id_t fragment_graph_find_read_edge(const fragment_graph_t *graph, const read_info_t *read_info,
                                            read_ptr_t position, oriented_id_t node) {
  if (!read_info_has_next(read_info, position)) return kNone;
  const int32_t distance = read_info_get_next_distance(read_info, position);
  const oriented_id_t fragment = read_info_get_fragment(read_info, read_info_get_next(read_info, position));
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    if (fragment_graph_get_edge_distance(graph, e) == distance &&
        fragment_graph_get_node_fragment(graph, fragment_graph_get_edge_to_node(graph, e)) == fragment) {
      return e;
    }
  }
  return kNone;
}

int32_t remove_weak_edges_threshold(const int32_t *supports, int32_t count, int32_t weak_factor) {
  if (count <= 0) return -1;
  int64_t sum = 0;
  for (int32_t i = 0; i < count; i++) sum += supports[i];
  const int64_t mean = sum / count;
  int64_t upper_sum = 0;
  int64_t upper_count = 0;
  for (int32_t i = 0; i < count; i++) {
    if (supports[i] >= mean) {
      upper_sum += supports[i];
      upper_count++;
    }
  }
  const double m = static_cast<double>(upper_sum) / static_cast<double>(upper_count);
  // ln 0 is minus infinity: the threshold then lies below every support.
  if (!(m > 0)) return -1;
  const double t = std::floor(0.5 * std::log(m) + m / weak_factor);
  if (std::isnan(t)) return -1;
  if (t >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (t <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(t);
}

void remove_weak_edges_at_node(fragment_graph_t *graph, const read_table_t *table, oriented_id_t node,
                               int32_t minimum, int32_t weak_factor, int32_t prev_count, int32_t next_count) {
  (void)prev_count;
  (void)next_count;
  if (fragment_graph_is_bubble_node(graph, node)) return;
  rb_tree_t *candidates = rb_tree_new(fragment_graph_compare_edge_ids, free_item);
  if (!fragment_graph_is_bubble_start(graph, node)) {
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      add_candidate(candidates, e);
    }
  }
  if (!fragment_graph_is_bubble_end(graph, node)) {
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, node); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      add_candidate(candidates, e);
    }
  }
  if (rb_tree_is_empty(candidates)) {
    rb_tree_free_with_items(candidates);
    return;
  }
  const read_info_t *info = table == nullptr ? nullptr : table->read_info;
  if (info != nullptr && info->offsets != nullptr) {
    const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, node);
    const uint64_t n = read_info_get_occurrence_count(info, fragment);
    for (uint64_t i = 0; i < n; i++) {
      const read_ptr_t p = read_info_get_occurrence(info, fragment, i);
      const uint32_t count = read_info_get_count(info, read_ptr_get_index(p));
      // The step the read takes into node, found from the reverse strand.
      const oriented_id_t in = fragment_graph_find_read_edge(graph, info, read_ptr_flip(p), flip(node));
      add_support(candidates, fragment_graph_reverse_edge(in), count);
      add_support(candidates, fragment_graph_find_read_edge(graph, info, p, node), count);
    }
  }
  void **items = rb_tree_to_array(candidates);
  const auto count = static_cast<int32_t>(rb_tree_get_count(candidates));
  int32_t threshold = minimum;
  if (minimum == -1) {
    auto *supports = static_cast<int32_t *>(ryx_malloc(static_cast<size_t>(count) * sizeof(int32_t)));
    for (int32_t i = 0; i < count; i++) supports[i] = static_cast<edge_support_t *>(items[i])->support;
    threshold = remove_weak_edges_threshold(supports, count, weak_factor);
    ryx_free(supports);
  }
  for (int32_t i = 0; i < count; i++) {
    const auto *c = static_cast<edge_support_t *>(items[i]);
    if (c->support <= threshold && !fragment_graph_edge_is_removed(graph, c->edge)) {
      fragment_graph_remove_edge(graph, c->edge);
    }
  }
  ryx_free(items);
  rb_tree_free_with_items(candidates);
}

int32_t remove_weak_edges(fragment_graph_t *graph, const read_table_t *table, int32_t minimum, int32_t weak_factor,
                          progress_meter_t *meter) {
  const int32_t node_count = graph->node_count;
  for (int32_t i = 0; i < node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    if (fragment_graph_is_disabled(graph, node)) continue;
    int32_t prev, next, prev_others, next_others, prev_reverse, next_reverse, prev_itself;
    fragment_graph_count_node_edges(graph, node, &prev, &next, &prev_others, &next_others, &prev_reverse,
                                    &next_reverse, &prev_itself);
    if (next_others == 0 && prev_others == 0) continue;
    if (next_others == 1 && prev_others == 1 && prev_reverse == 0 && next_reverse == 0) continue;
    remove_weak_edges_at_node(graph, table, node, minimum, weak_factor, prev, next);
    progress_meter_update(meter, static_cast<double>(i) / node_count);
    fragment_graph_clear_mark7(graph, node);
  }
  progress_meter_update(meter, 1.0);
  return 0;
}

int fragment_graph_reaches_length(const fragment_graph_t *graph, oriented_id_t a, int32_t length, int32_t target,
                                  int32_t *budget) {
  const int64_t reached = static_cast<int64_t>(length) + fragment_graph_get_node_length(graph, a);
  const int32_t b = (*budget)++;
  if (reached >= target) return 1;
  if (b >= kTipBudget) return 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const int64_t next = reached + fragment_graph_get_edge_distance(graph, e);
    if (fragment_graph_reaches_length(graph, fragment_graph_get_edge_to_node(graph, e),
                                      static_cast<int32_t>(next), target, budget)) {
      return 1;
    }
  }
  return 0;
}

int fragment_graph_tip_walk(fragment_graph_t *graph, oriented_id_t a, oriented_id_t arrival, int32_t length,
                            int32_t *budget) {
  const int32_t b = (*budget)++;
  if (length > kTipMaxLength || b >= kTipBudget) return 0;
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    if (e == arrival) continue;
    // A competing branch into a, measured backwards from its source.
    if (fragment_graph_reaches_length(graph, flip(fragment_graph_get_edge_from_node(graph, e)),
                                      fragment_graph_get_edge_distance(graph, e), 2 * length, budget)) {
      return 1;
    }
  }
  const oriented_id_t g = single_target(graph, a);
  if (g == kNone) return 0;
  oriented_id_t last = kNone;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    last = e;
  }
  const int32_t walked = length + fragment_graph_get_node_length(graph, a) + fragment_graph_get_edge_distance(graph, last);
  if (fragment_graph_tip_walk(graph, g, last, walked, budget)) {
    fragment_graph_disable_node(graph, a);
    return 1;
  }
  return 0;
}

void remove_tip_at(fragment_graph_t *graph, oriented_id_t s) {
  if (fragment_graph_get_first_prev_edge(graph, s) != kNone) return;
  if (single_target(graph, s) == kNone) return;
  int32_t budget = 0;
  fragment_graph_tip_walk(graph, s, kNone, 0, &budget);
}

void remove_tips(fragment_graph_t *graph, progress_meter_t *meter) {
  const int32_t node_count = graph->node_count;
  for (int32_t i = 0; i < node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    if (fragment_graph_is_disabled(graph, node)) continue;
    remove_tip_at(graph, node);
    remove_tip_at(graph, flip(node));
    progress_meter_update(meter, static_cast<double>(i) / node_count);
  }
  progress_meter_update(meter, 1.0);
}

int fragment_graph_read_follows_graph(const fragment_graph_t *graph, const read_info_t *read_info,
                                      read_ptr_t position, oriented_id_t node) {
  if (!read_info_has_next(read_info, position)) return 1;
  const int32_t distance = read_info_get_next_distance(read_info, position);
  const read_ptr_t next = read_info_get_next(read_info, position);
  const oriented_id_t fragment = read_info_get_fragment(read_info, next);
  int branch = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t g = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_get_sibling_next_edge(graph, e) != kNone && !fragment_graph_is_bubble_start(graph, node)) {
      branch = 1;
    }
    if (fragment_graph_get_edge_distance(graph, e) != distance || fragment_graph_get_node_fragment(graph, g) != fragment) {
      continue;
    }
    const int r = fragment_graph_read_follows_graph(graph, read_info, next, g);
    if (r & 1) {
      const int unmarked = fragment_graph_get_mark1(graph, g) ? 0 : 1;
      if (unmarked && branch && !fragment_graph_is_bubble_node(graph, node) && !fragment_graph_is_bubble_node(graph, g)) {
        return r | 2;
      }
      return r;
    }
  }
  return 0;
}

int fragment_graph_read_follows_graph_reverse(const fragment_graph_t *graph, const read_info_t *read_info,
                                              read_ptr_t position, oriented_id_t node) {
  return fragment_graph_read_follows_graph(graph, read_info, read_ptr_flip(position), flip(node));
}

}  // extern "C"
