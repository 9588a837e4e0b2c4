#include "denovo/graph/neighbourhood.h"

#include <climits>
#include <cstdio>

#include "common/linked_list.h"
#include "common/memory.h"
#include "denovo/reads/binary_heap.h"
#include "denovo/reads/generic_sort.h"
#include "denovo/reads/rb_tree.h"

namespace {

const neighbourhood_hit_t *hit_of(const void *item) { return static_cast<const neighbourhood_hit_t *>(item); }

// Drops every hit left in the heap.
void drain_heap(binary_heap_t *heap) {
  while (!binary_heap_is_empty(heap)) neighbourhood_free_item(binary_heap_pop(heap));
}

// Both sides of the statistics with their counts.
struct side_t {
  neighbourhood_hit_t **hits;
  int32_t count;
};

// Calls fn(hit node) for every hit of both sides.
template <typename Fn>
void for_each_hit(const neighbourhood_stats_t *stats, Fn fn) {
  if (stats == nullptr) return;
  for (int32_t i = 0; i < stats->forward_count; i++) fn(stats->forward_hits[i]->node);
  for (int32_t i = 0; i < stats->backward_count; i++) fn(stats->backward_hits[i]->node);
}

// First rating of every node; returns the list of rated nodes (count in
// *out_count, room doubling from 10 entries).
neighbourhood_rated_node_t *rate_all(neighbourhood_t *context, neighbourhood_rating_t *ratings, int32_t *out_count) {
  int32_t capacity = 10;
  int32_t count = 0;
  auto *list = static_cast<neighbourhood_rated_node_t *>(ryx_malloc(capacity * sizeof(neighbourhood_rated_node_t)));
  for (int32_t i = 0; i < context->node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    neighbourhood_rate_node(context, &ratings[i], node, kNeighbourhoodRateRadius, kNeighbourhoodRateLimit, nullptr);
    if (ratings[i].state != kRatingRated) continue;
    if (count == capacity) {
      capacity *= 2;
      list = static_cast<neighbourhood_rated_node_t *>(
          ryx_realloc(list, static_cast<size_t>(capacity) * sizeof(neighbourhood_rated_node_t)));
    }
    list[count++] = {node, ratings[i].value};
  }
  *out_count = count;
  return list;
}

}  // namespace

extern "C" {

int64_t neighbourhood_strand_slot(oriented_id_t node) {
  return 2 * static_cast<int64_t>(fragment_graph_node_index(node)) + fragment_graph_node_is_reverse(node);
}

neighbourhood_hit_t *neighbourhood_hit_new(oriented_id_t node, int32_t distance) {
  auto *hit = static_cast<neighbourhood_hit_t *>(ryx_malloc(sizeof(neighbourhood_hit_t)));
  hit->node = node;
  hit->distance = distance;
  return hit;
}

void neighbourhood_free_item(void *item) { ryx_free(item); }

path_branch_t *path_branch_new(oriented_id_t node, int32_t column) {
  auto *branch = static_cast<path_branch_t *>(ryx_malloc(sizeof(path_branch_t)));
  branch->node = node;
  branch->column = column;
  return branch;
}

int neighbourhood_compare_distance(const void *a, const void *b) {
  const int64_t d = static_cast<int64_t>(hit_of(a)->distance) - hit_of(b)->distance;
  return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

int neighbourhood_compare_node(const void *a, const void *b) {
  const oriented_id_t x = hit_of(a)->node;
  const oriented_id_t y = hit_of(b)->node;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int neighbourhood_bsearch_compare(const void *key, const void *element) {
  const oriented_id_t x = *static_cast<const oriented_id_t *>(key);
  const oriented_id_t y = (*static_cast<neighbourhood_hit_t *const *>(element))->node;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int neighbourhood_compare_ratings(const void *a, const void *b, void *) {
  const auto *x = static_cast<const neighbourhood_rated_node_t *>(a);
  const auto *y = static_cast<const neighbourhood_rated_node_t *>(b);
  if (x->value != y->value) return x->value < y->value ? -1 : 1;
  const oriented_id_t ix = fragment_graph_node_index(x->node);
  const oriented_id_t iy = fragment_graph_node_index(y->node);
  return ix > iy ? -1 : (ix < iy ? 1 : 0);
}

int neighbourhood_stats_compare(const void *a, const void *b) {
  const auto *x = static_cast<const neighbourhood_stats_t *>(a);
  const auto *y = static_cast<const neighbourhood_stats_t *>(b);
  if (x->product != y->product) return x->product < y->product ? -1 : 1;
  if (x->mean != y->mean) return x->mean > y->mean ? -1 : 1;
  return 0;
}

neighbourhood_t *neighbourhood_new(fragment_graph_t *graph, int32_t radius) {
  auto *context = static_cast<neighbourhood_t *>(ryx_calloc(sizeof(neighbourhood_t)));
  context->graph = graph;
  context->radius = radius;
  context->word_size = graph->word_size;
  context->node_count = graph->node_count;
  const size_t slots = 2 * static_cast<size_t>(graph->node_count);
  context->marks = static_cast<int32_t *>(ryx_malloc((slots > 0 ? slots : 1) * sizeof(int32_t)));
  for (size_t i = 0; i < slots; i++) context->marks[i] = kNeighbourhoodMarkPlain;
  context->results = static_cast<neighbourhood_hit_t **>(ryx_calloc((slots > 0 ? slots : 1) * sizeof(void *)));
  neighbourhood_prepare(context);
  return context;
}

neighbourhood_t *neighbourhood_free(neighbourhood_t *context) {
  if (context == nullptr) return nullptr;
  const size_t slots = 2 * static_cast<size_t>(context->node_count);
  for (size_t i = 0; i < slots; i++) ryx_free(context->results[i]);
  ryx_free(context->results);
  ryx_free(context->marks);
  ryx_free(context);
  return nullptr;
}

void neighbourhood_prepare(neighbourhood_t *context) { neighbourhood_rate_nodes(context); }

neighbourhood_hit_t **neighbourhood_search(neighbourhood_t *context, oriented_id_t start, int32_t radius,
                                           int32_t max_count, int32_t *out_count,
                                           const neighbourhood_rating_t *ratings) {
  const fragment_graph_t *graph = context->graph;
  binary_heap_t *heap = binary_heap_new(10, neighbourhood_compare_distance);
  rb_tree_t *visited = rb_tree_new(neighbourhood_compare_node, neighbourhood_free_item);
  int32_t visited_count = 0;
  binary_heap_push(heap, neighbourhood_hit_new(start, 0));
  bool first = true;
  while (!binary_heap_is_empty(heap)) {
    auto *hit = static_cast<neighbourhood_hit_t *>(binary_heap_pop(heap));
    // Sums in 64 bits: node lengths and edge distances are arbitrary 32-bit
    // values. Pushes beyond the radius are skipped; they would be dropped
    // unseen when popped.
    int64_t d = hit->distance;
    if (d > radius) {
      neighbourhood_free_item(hit);
      continue;
    }
    const oriented_id_t node = hit->node;
    bool owned_by_tree = false;
    if (first) {
      first = false;
    } else {
      if (rb_tree_find(visited, hit) != nullptr) {
        neighbourhood_free_item(hit);
        continue;
      }
      rb_tree_insert(visited, hit);
      owned_by_tree = true;
      visited_count++;
      if (max_count >= 0 && visited_count >= max_count) {
        drain_heap(heap);
        break;
      }
      d += fragment_graph_get_node_length(graph, node);
    }
    const bool blocked =
        ratings != nullptr && ratings[fragment_graph_node_index(node)].state == kRatingRepeat;
    if (!blocked && d < static_cast<int64_t>(radius) + context->word_size) {
      for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kOrientedIdNone;
           e = fragment_graph_get_sibling_next_edge(graph, e)) {
        const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
        const int64_t next = d + fragment_graph_get_edge_distance(graph, e);
        if (next > radius) continue;
        neighbourhood_hit_t key{to, 0};
        if (rb_tree_find(visited, &key) != nullptr) continue;
        binary_heap_push(heap, neighbourhood_hit_new(to, static_cast<int32_t>(next)));
      }
    }
    if (!owned_by_tree) neighbourhood_free_item(hit);
  }
  binary_heap_free(heap);
  *out_count = visited_count;
  auto **hits = reinterpret_cast<neighbourhood_hit_t **>(rb_tree_to_array(visited));
  rb_tree_free(visited);
  return hits;
}

neighbourhood_hit_t **neighbourhood_hits_free(neighbourhood_hit_t **hits, int32_t count) {
  if (hits == nullptr) return nullptr;
  for (int32_t i = 0; i < count; i++) ryx_free(hits[i]);
  ryx_free(hits);
  return nullptr;
}

neighbourhood_stats_t *neighbourhood_stats_new(neighbourhood_t *context, oriented_id_t node, int32_t radius,
                                               int32_t max_count, const neighbourhood_rating_t *ratings) {
  side_t forward{};
  side_t backward{};
  forward.hits = neighbourhood_search(context, node, radius, max_count, &forward.count, ratings);
  backward.hits = neighbourhood_search(context, fragment_graph_reverse_node(node), radius, max_count,
                                       &backward.count, ratings);
  if (forward.count == 0 || backward.count == 0) {
    neighbourhood_hits_free(forward.hits, forward.count);
    neighbourhood_hits_free(backward.hits, backward.count);
    return nullptr;
  }
  auto *stats = static_cast<neighbourhood_stats_t *>(ryx_malloc(sizeof(neighbourhood_stats_t)));
  stats->node = node;
  stats->forward_count = forward.count;
  stats->forward_hits = forward.hits;
  stats->backward_count = backward.count;
  stats->backward_hits = backward.hits;
  stats->product = forward.count * backward.count;
  double sum = 0;
  for (int32_t i = 0; i < forward.count; i++) sum += forward.hits[i]->distance;
  for (int32_t i = 0; i < backward.count; i++) sum += backward.hits[i]->distance;
  stats->mean = sum / (forward.count + backward.count);
  return stats;
}

neighbourhood_stats_t *neighbourhood_stats_free(neighbourhood_stats_t *stats) {
  if (stats == nullptr) return nullptr;
  neighbourhood_hits_free(stats->forward_hits, stats->forward_count);
  neighbourhood_hits_free(stats->backward_hits, stats->backward_count);
  ryx_free(stats);
  return nullptr;
}

void neighbourhood_rate_node(neighbourhood_t *context, neighbourhood_rating_t *rating, oriented_id_t node,
                             int32_t radius, int32_t c, const neighbourhood_rating_t *ratings) {
  neighbourhood_stats_t *stats = neighbourhood_stats_new(context, node, radius, c, ratings);
  rating->state = kRatingUnrated;
  if (stats != nullptr && static_cast<int64_t>(stats->product) >= static_cast<int64_t>(c) * c) {
    rating->state = kRatingRated;
    rating->value = static_cast<float>(stats->mean);
  }
  neighbourhood_stats_free(stats);
}

void neighbourhood_rate_nodes(neighbourhood_t *context) {
  const int32_t n = context->node_count;
  auto *ratings = static_cast<neighbourhood_rating_t *>(
      ryx_calloc((n > 0 ? static_cast<size_t>(n) : 1) * sizeof(neighbourhood_rating_t)));
  int32_t listed = 0;
  neighbourhood_rated_node_t *list = rate_all(context, ratings, &listed);
  generic_sort(list, static_cast<uint64_t>(listed), sizeof(*list), neighbourhood_compare_ratings, nullptr);
  for (int32_t round = 0; round < kNeighbourhoodRateRounds; round++) {
    // The most crowded rated nodes become repeat seeds; a rated node near a
    // seed is rated again later instead.
    for (int32_t i = 0; i < listed; i++) {
      const oriented_id_t node = list[i].node;
      const oriented_id_t index = fragment_graph_node_index(node);
      if (ratings[index].state != kRatingRated) continue;
      neighbourhood_stats_t *stats =
          neighbourhood_stats_new(context, node, kNeighbourhoodRateRadius, kNeighbourhoodRateLimit, nullptr);
      bool near_seed = false;
      for_each_hit(stats, [&](oriented_id_t hit) {
        const oriented_id_t h = fragment_graph_node_index(hit);
        if (h == index) return;
        if (ratings[h].state == kRatingSeed) near_seed = true;
        if (ratings[h].state == kRatingRated) ratings[h].state = kRatingRerate;
      });
      neighbourhood_stats_free(stats);
      ratings[index].state = near_seed ? kRatingRerate : kRatingSeed;
    }
    for (int32_t i = 0; i < listed; i++) {
      neighbourhood_rating_t &r = ratings[fragment_graph_node_index(list[i].node)];
      if (r.state == kRatingSeed) r.state = kRatingRepeat;
    }
    // Nodes to re-rate are searched without passing repeat-like nodes.
    for (int32_t i = 0; i < listed; i++) {
      neighbourhood_rating_t &r = ratings[fragment_graph_node_index(list[i].node)];
      if (r.state != kRatingRerate) continue;
      neighbourhood_rate_node(context, &r, list[i].node, kNeighbourhoodRateRadius, kNeighbourhoodRateLimit, ratings);
      list[i].value = r.state == kRatingRated ? r.value : static_cast<float>(kNeighbourhoodRateRadius + 1);
    }
    generic_sort(list, static_cast<uint64_t>(listed), sizeof(*list), neighbourhood_compare_ratings, nullptr);
  }
  for (int32_t i = 0; i < n; i++) {
    const int32_t mark = ratings[i].state == kRatingRepeat ? kNeighbourhoodMarkRepeat : kNeighbourhoodMarkPlain;
    context->marks[2 * i] = mark;
    context->marks[2 * i + 1] = mark;
  }
  ryx_free(list);
  ryx_free(ratings);
}

int32_t neighbourhood_lookup_distance(neighbourhood_hit_t *const *hits, int32_t count, oriented_id_t node) {
  int32_t lo = 0;
  int32_t hi = count;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int c = neighbourhood_bsearch_compare(&node, &hits[mid]);
    if (c == 0) return hits[mid]->distance;
    if (c < 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return INT_MIN;
}

int32_t neighbourhood_distance(neighbourhood_t *context, oriented_id_t a, oriented_id_t b) {
  int32_t count = 0;
  neighbourhood_hit_t **hits = neighbourhood_search(context, a, context->radius, -1, &count, nullptr);
  const int32_t d = neighbourhood_lookup_distance(hits, count, b);
  neighbourhood_hits_free(hits, count);
  return d;
}

void neighbourhood_print_size(neighbourhood_t *context, oriented_id_t a) {
  int32_t count = 0;
  neighbourhood_hit_t **hits = neighbourhood_search(context, a, context->radius, -1, &count, nullptr);
  printf("%8.8x %d\n", a, count);
  neighbourhood_hits_free(hits, count);
}

void neighbourhood_print_rating(const neighbourhood_rating_t *rating) {
  if (rating->state == kRatingUnrated) {
    printf("     - ");
    return;
  }
  printf("%6.2f", rating->value);
  switch (rating->state) {
    case kRatingRerate:
      printf("-");
      break;
    case kRatingRepeat:
      printf("++");
      break;
    case kRatingSeed:
      printf("+");
      break;
    default:
      printf(" ");
      break;
  }
}

void neighbourhood_print_path(const fragment_graph_t *graph, neighbourhood_t *context, oriented_id_t a,
                              oriented_id_t b) {
  int32_t count = 0;
  neighbourhood_hit_t **hits =
      neighbourhood_search(context, fragment_graph_reverse_node(b), context->radius, -1, &count, nullptr);
  const int32_t d = neighbourhood_lookup_distance(hits, count, fragment_graph_reverse_node(a));
  printf("path %8.8x (%d) %8.8x (%d) %d\n", a, fragment_graph_get_node_length(graph, a), b,
         fragment_graph_get_node_length(graph, b), d);
  if (d == INT_MIN) {
    printf("  -\n");
  } else {
    neighbourhood_print_path_row(graph, context, a, b, 0, 3, hits, count);
    printf("\n");
  }
  neighbourhood_hits_free(hits, count);
}

void neighbourhood_print_path_row(const fragment_graph_t *graph, neighbourhood_t *context, oriented_id_t node,
                                  oriented_id_t target, int32_t column, int32_t budget,
                                  neighbourhood_hit_t *const *hits, int32_t hit_count) {
  if (budget > 2) {
    printf("+      ");
  } else {
    for (int32_t i = 0; i < 3 - budget; i++) printf("  ");
    printf("+");
    for (int32_t i = 0; i < budget; i++) printf("  ");
  }
  for (int32_t i = 0; i < column; i++) printf("  -  -  -");
  printf("  %8.8x", node);
  linked_list_t *branches = linked_list_new();
  oriented_id_t current = node;
  // Each step moves to a node that reaches the target; a walk longer than
  // the hits plus one goes round a cycle and is cut like a dead end.
  int32_t steps = 0;
  while (current != target) {
    oriented_id_t chosen = kOrientedIdNone;
    int64_t best = 0;
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, current); e != kOrientedIdNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
      int64_t cost = fragment_graph_get_edge_distance(graph, e);
      if (to != target) {
        const int32_t h = neighbourhood_lookup_distance(hits, hit_count, fragment_graph_reverse_node(to));
        if (h == INT_MIN) continue;
        cost += static_cast<int64_t>(h) + fragment_graph_get_node_length(graph, to);
      }
      if (chosen == kOrientedIdNone || cost < best) {
        chosen = to;
        best = cost;
      }
    }
    if (chosen != kOrientedIdNone && ++steps > hit_count + 1) chosen = kOrientedIdNone;
    printf(" %8.8x", chosen);
    if (budget > 0 && chosen != kOrientedIdNone) {
      for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, current); e != kOrientedIdNone;
           e = fragment_graph_get_sibling_next_edge(graph, e)) {
        const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
        if (to == chosen || to == target) continue;
        if (neighbourhood_lookup_distance(hits, hit_count, fragment_graph_reverse_node(to)) == INT_MIN) continue;
        linked_list_append(branches, path_branch_new(to, column + 1));
      }
    }
    if (chosen == kOrientedIdNone) {
      printf("|||| ");
      break;
    }
    column++;
    current = chosen;
  }
  printf("\n");
  for (linked_list_node_t *at = branches->head; at != nullptr; at = at->next) {
    const auto *branch = static_cast<const path_branch_t *>(at->item);
    neighbourhood_print_path_row(graph, context, branch->node, target, branch->column, budget - 1, hits, hit_count);
  }
  linked_list_free_with_items(branches);
}

}  // extern "C"
