#include "denovo/graph/contig_info.h"

#include <cstdio>

#include "common/array_list.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;

oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }
uint32_t index_of(oriented_id_t id) { return fragment_graph_node_index(id); }

oriented_id_t first_target(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
  return e == kNone ? kNone : fragment_graph_get_edge_to_node(graph, e);
}

// The map entry for node lying in contig c as the walk sees it.
oriented_id_t entry_for(oriented_id_t node, oriented_id_t c) {
  return fragment_graph_node_is_reverse(node) ? contig_info_reverse_contig(c) : c;
}

// A forced walk never visits more node ends than the graph has; the bound
// only keeps a graph with broken marks from looping.
int64_t walk_limit(const fragment_graph_t *graph) { return 2 * static_cast<int64_t>(graph->node_count) + 2; }

// Walks from start until a step fails or the walk is back at start; *back is
// set when it came back.
oriented_id_t walk(const fragment_graph_t *graph, oriented_id_t start, int pass_bubbles, bool *back) {
  oriented_id_t x = start;
  int palindrome = 0;
  *back = false;
  for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
    if (!contig_info_next_node(graph, &x, pass_bubbles, &palindrome)) break;
    if (x == start) {
      *back = true;
      break;
    }
  }
  return x;
}

void push_edge(oriented_id_t **stack, int32_t *capacity, int32_t *count, oriented_id_t edge) {
  if (*count == *capacity) {
    *capacity *= 2;
    *stack = static_cast<oriented_id_t *>(ryx_realloc(*stack, static_cast<size_t>(*capacity) * sizeof(oriented_id_t)));
  }
  (*stack)[(*count)++] = edge;
}

}  // namespace

extern "C" {

oriented_id_t search_for_bubble_end(const fragment_graph_t *graph, oriented_id_t s) {
  oriented_id_t a = s;
  for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
    const oriented_id_t t = first_target(graph, a);
    if (t == kNone) ryx_fail_stdout("error, search_for_bubble_end 1");
    if (fragment_graph_is_bubble_end(graph, t)) return t;
    if (!fragment_graph_is_bubble_node(graph, t)) ryx_fail_stdout("error, search_for_bubble_end 2");
    a = t;
  }
  ryx_fail_stdout("error, search_for_bubble_end 2");
}

int contig_info_next_node(const fragment_graph_t *graph, oriented_id_t *node, int pass_bubbles, int *palindrome) {
  const oriented_id_t a = *node;
  const oriented_id_t t = first_target(graph, a);
  if (t == kNone) return 0;
  if (pass_bubbles) {
    if (fragment_graph_is_bubble_start(graph, a)) {
      *palindrome = flip(search_for_bubble_end(graph, a)) == a ? 1 : 0;
      if (*palindrome && t == flip(a)) return 0;
      *node = t;
      return 1;
    }
    if (fragment_graph_is_bubble_node(graph, a)) {
      if (*palindrome && !fragment_graph_is_bubble_node(graph, t)) return 0;
      *node = t;
      return 1;
    }
  }
  if (t == flip(a)) return 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    if (fragment_graph_get_edge_to_node(graph, e) != t) return 0;
  }
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, t); e != kNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    if (fragment_graph_get_edge_from_node(graph, e) != a) return 0;
  }
  *node = t;
  return 1;
}

void contig_info_find_ends(const fragment_graph_t *graph, oriented_id_t node, oriented_id_t *first,
                           oriented_id_t *last, int pass_bubbles) {
  bool back = false;
  const oriented_id_t f = walk(graph, flip(node), pass_bubbles, &back);
  if (back) {
    *first = node;
    *last = node;
    return;
  }
  *first = flip(f);
  *last = walk(graph, node, pass_bubbles, &back);
}

oriented_id_t set_bubble_done_rec(const fragment_graph_t *graph, oriented_id_t s, bit_field_array_t *done,
                                  oriented_id_t *map, oriented_id_t c, oriented_id_t **stack, int32_t *stack_capacity) {
  oriented_id_t bubble_end = kNone;
  int32_t count = 0;
  push_edge(stack, stack_capacity, &count, fragment_graph_get_first_next_edge(graph, s));
  while (count > 0) {
    const oriented_id_t e = (*stack)[count - 1];
    if (e == kNone) {
      count--;
      if (count > 0) (*stack)[count - 1] = fragment_graph_get_sibling_next_edge(graph, (*stack)[count - 1]);
      continue;
    }
    const oriented_id_t d = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_is_bubble_end(graph, d)) {
      bubble_end = d;
      (*stack)[count - 1] = fragment_graph_get_sibling_next_edge(graph, e);
      continue;
    }
    if (!fragment_graph_is_bubble_node(graph, d)) ryx_fail("error, set_bubble_done_rec\n");
    const uint64_t bit = fragment_graph_node_is_reverse(d) ? 2 : 1;
    const uint64_t field = bit_field_array_get(done, index_of(d));
    if (field & bit) {
      (*stack)[count - 1] = fragment_graph_get_sibling_next_edge(graph, e);
      continue;
    }
    bit_field_array_set(done, index_of(d), field | bit);
    if (field == 0 && map != nullptr) map[index_of(d)] = entry_for(d, c);
    push_edge(stack, stack_capacity, &count, fragment_graph_get_first_next_edge(graph, d));
  }
  if (bubble_end == kNone) ryx_fail("error, set_bubble_done_rec, bubble_end_node == -1\n");
  return bubble_end;
}

void set_done_rec(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t b, bit_field_array_t *done,
                  oriented_id_t *map, oriented_id_t c, oriented_id_t **stack, int32_t *stack_capacity) {
  for (int64_t steps = 0; steps <= walk_limit(graph); steps++) {
    if (map != nullptr) map[index_of(a)] = entry_for(a, c);
    bit_field_array_set(done, index_of(a), 1);
    if (a == b) return;
    oriented_id_t g;
    if (fragment_graph_is_bubble_start(graph, a)) {
      g = set_bubble_done_rec(graph, a, done, map, c, stack, stack_capacity);
      if (bit_field_array_get(done, index_of(g)) != 0) return;
    } else {
      g = first_target(graph, a);
      if (g == kNone) ryx_fail("error, set_done_rec edge != -1\n");
    }
    if (b == kNone) b = a;
    a = g;
  }
}

void contig_info_set_done(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t b, bit_field_array_t *done,
                          oriented_id_t *map, oriented_id_t c, oriented_id_t **stack, int32_t *stack_capacity) {
  set_done_rec(graph, a, b, done, map, c, stack, stack_capacity);
}

contig_info_t *contig_info_build(fragment_graph_t *graph, int pass_bubbles, int with_map) {
  const int32_t node_count = graph->node_count;
  bit_field_array_t *done = bit_field_array_new(static_cast<uint64_t>(node_count), 2);
  array_list_t *starts = array_list_new(sizeof(oriented_id_t));
  array_list_t *ends = array_list_new(sizeof(oriented_id_t));
  int32_t stack_capacity = 20;
  auto *stack = static_cast<oriented_id_t *>(ryx_malloc(static_cast<size_t>(stack_capacity) * sizeof(oriented_id_t)));
  auto *info = static_cast<contig_info_t *>(ryx_calloc(sizeof(contig_info_t)));
  if (with_map) {
    info->node_map = static_cast<oriented_id_t *>(ryx_malloc((node_count > 0 ? node_count : 1) * sizeof(oriented_id_t)));
    for (int32_t i = 0; i < node_count; i++) info->node_map[i] = kNone;
  }
  for (int32_t i = 0; i < node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    if (fragment_graph_is_disabled(graph, node) || bit_field_array_get(done, i) != 0) continue;
    // Bubble nodes get their contig when a walk passes their bubble.
    if (fragment_graph_is_bubble_node(graph, node)) continue;
    bool circular = false;
    const oriented_id_t f = walk(graph, flip(node), pass_bubbles, &circular);
    oriented_id_t end = kNone;
    if (!circular) {
      bool back = false;
      end = walk(graph, node, pass_bubbles, &back);
    }
    const oriented_id_t start = circular ? node : flip(f);
    array_list_add(starts, &start);
    array_list_add(ends, &end);
    const auto k = static_cast<oriented_id_t>(info->contig_count);
    set_done_rec(graph, node, end, done, info->node_map, k, &stack, &stack_capacity);
    bit_field_array_set(done, i, 0);
    set_done_rec(graph, flip(node), f, done, info->node_map, contig_info_reverse_contig(k), &stack, &stack_capacity);
    info->contig_count++;
  }
  info->start_nodes = static_cast<oriented_id_t *>(array_list_take_items(starts));
  info->end_nodes = static_cast<oriented_id_t *>(array_list_take_items(ends));
  for (int32_t i = 0; i < node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    if (fragment_graph_is_disabled(graph, node) || bit_field_array_get(done, i) != 0) continue;
    const bool bubble = fragment_graph_is_bubble_node(graph, node) != 0;
    if (bubble && search_for_bubble_end(graph, node) == search_for_bubble_end(graph, flip(node))) continue;
    fprintf(stderr, "error, contig_info node %x not set\n", node);
    fprintf(stderr, "is_bubble_node %s\n\n", bubble ? "yes" : "no");
    if (bubble) {
      printf("bubble end node %x\n", search_for_bubble_end(graph, node));
      printf("bubble start node %x\n", search_for_bubble_end(graph, flip(node)));
    }
  }
  ryx_free(stack);
  bit_field_array_free(done);
  if (with_map) contig_info_check(info, graph);
  return info;
}

contig_info_t *contig_info_free(contig_info_t *info) {
  if (info == nullptr) return nullptr;
  ryx_free(info->start_nodes);
  ryx_free(info->end_nodes);
  ryx_free(info->node_map);
  ryx_free(info);
  return nullptr;
}

int32_t contig_info_get_contig_count(const contig_info_t *info) { return info->contig_count; }

int contig_info_is_circular(const contig_info_t *info, oriented_id_t contig) {
  return info->end_nodes[contig_info_get_contig_index(contig)] == kNone ? 1 : 0;
}

oriented_id_t contig_info_get_first_node(const contig_info_t *info, oriented_id_t contig) {
  const uint32_t k = contig_info_get_contig_index(contig);
  const oriented_id_t start = info->start_nodes[k];
  const oriented_id_t end = info->end_nodes[k];
  if (!contig_info_contig_is_reverse(contig)) return start;
  return flip(end == kNone ? start : end);
}

oriented_id_t contig_info_get_last_node(const contig_info_t *info, oriented_id_t contig) {
  const uint32_t k = contig_info_get_contig_index(contig);
  const oriented_id_t start = info->start_nodes[k];
  const oriented_id_t end = info->end_nodes[k];
  if (contig_info_contig_is_reverse(contig)) return flip(start);
  return end == kNone ? start : end;
}

oriented_id_t contig_info_get_node_contig(const contig_info_t *info, oriented_id_t node) {
  if (info->node_map == nullptr) return kNone;
  const oriented_id_t entry = info->node_map[index_of(node)];
  if (entry == kNone) return kNone;
  return fragment_graph_node_is_reverse(node) ? contig_info_reverse_contig(entry) : entry;
}

int32_t contig_info_get_contig_length(const contig_info_t *info, const fragment_graph_t *graph,
                                      oriented_id_t contig) {
  const oriented_id_t a = contig_info_get_first_node(info, contig);
  const oriented_id_t z = contig_info_get_last_node(info, contig);
  const bool circular = contig_info_is_circular(info, contig) != 0;
  int64_t length = fragment_graph_get_node_length(graph, a);
  if (a == z && !circular) return static_cast<int32_t>(length);
  oriented_id_t x = a;
  for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
    const oriented_id_t e = fragment_graph_get_first_next_edge(graph, x);
    if (e == kNone) break;
    const int32_t distance = fragment_graph_get_edge_distance(graph, e);
    const int64_t before = length;
    length += distance;
    if (length < 0) length = 0;
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (t == z) {
      if (circular) return static_cast<int32_t>(distance > 0 ? before : length);
      return static_cast<int32_t>(length + fragment_graph_get_node_length(graph, z));
    }
    length += fragment_graph_get_node_length(graph, t);
    x = t;
  }
  ryx_fail("error, contig_info_get_contig_length\n");
}

int32_t contig_info_get_contig_node_count(const contig_info_t *info, const fragment_graph_t *graph,
                                          oriented_id_t contig) {
  const oriented_id_t a = contig_info_get_first_node(info, contig);
  const oriented_id_t z = contig_info_get_last_node(info, contig);
  const bool circular = contig_info_is_circular(info, contig) != 0;
  if (a == z && !circular) return 1;
  int32_t count = 1;
  oriented_id_t x = a;
  for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
    const oriented_id_t t = first_target(graph, x);
    if (t == kNone) break;
    if (t == z) return circular ? count : count + 1;
    count++;
    x = t;
  }
  ryx_fail("error, contig_info_get_contig_length\n");
}

void contig_info_relabel_rec(fragment_graph_t *graph, oriented_id_t node, oriented_id_t stop, oriented_id_t *map,
                             oriented_id_t contig) {
  printf("Update: %8.8x for contig %8.8x\n", node, contig);
  if (fragment_graph_get_mark6(graph, node)) return;
  if (map != nullptr) map[index_of(node)] = entry_for(node, contig);
  fragment_graph_set_mark6(graph, node);
  if (node == stop) return;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    printf("Next: %8.8x\n", t);
    contig_info_relabel_rec(graph, t, stop, map, contig);
  }
}

void contig_info_clear_relabel_rec(fragment_graph_t *graph, oriented_id_t node, oriented_id_t stop) {
  if (!fragment_graph_get_mark6(graph, node)) return;
  fragment_graph_clear_mark6(graph, node);
  if (node == stop) return;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    contig_info_clear_relabel_rec(graph, fragment_graph_get_edge_to_node(graph, e), stop);
  }
}

void contig_info_update_contig(fragment_graph_t *graph, contig_info_t *info, oriented_id_t contig) {
  const uint32_t k = contig_info_get_contig_index(contig);
  const oriented_id_t node = index_of(contig_info_get_first_node(info, contig));
  bool circular = false;
  const oriented_id_t f = walk(graph, flip(node), 1, &circular);
  bool back = false;
  const oriented_id_t last = circular ? kNone : walk(graph, node, 1, &back);
  const oriented_id_t start = circular ? node : flip(f);
  info->start_nodes[k] = start;
  info->end_nodes[k] = last;
  // A circular contig has no stop node: the walk goes round until it meets
  // the start again, which mark 6 then stops.
  const oriented_id_t stop = last;
  contig_info_relabel_rec(graph, start, stop, info->node_map, k);
  contig_info_clear_relabel_rec(graph, start, stop);
}

void contig_info_print_contig(const contig_info_t *info, const fragment_graph_t *graph, oriented_id_t contig) {
  const oriented_id_t first = contig_info_get_first_node(info, contig);
  const oriented_id_t last = contig_info_get_last_node(info, contig);
  const bool circular = contig_info_is_circular(info, contig) != 0;
  printf("Contig %8.8x (%i) [%8.8x-%8.8x] circular=(%s): ", contig, contig_info_get_contig_length(info, graph, contig),
         first, last, circular ? "yes" : "no ");
  printf("%8.8x", first);
  oriented_id_t x = first;
  for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
    if (!circular && x == last) break;
    const oriented_id_t t = first_target(graph, x);
    if (t == kNone) {
      fflush(stdout);
      ryx_fail("error, contig_info_get_contig_length\n");
    }
    if (circular && t == first) break;
    if (t != last || circular) printf(" %8.8x", t);
    x = t;
  }
  if (!circular) printf(" %8.8x", last);
  printf("\n");
}

int contig_info_check(const contig_info_t *info, const fragment_graph_t *graph) {
  for (int32_t k = 0; k < info->contig_count; k++) {
    const auto contig = static_cast<oriented_id_t>(k);
    const oriented_id_t first = contig_info_get_first_node(info, contig);
    const oriented_id_t last = contig_info_get_last_node(info, contig);
    oriented_id_t x = first;
    for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
      const oriented_id_t entry = info->node_map == nullptr ? kNone : info->node_map[index_of(x)];
      if (info->node_map != nullptr && contig_info_get_contig_index(entry) != static_cast<uint32_t>(k)) {
        printf("\nNode %8.8x is supposed to be contained in contig %8.8x but was in %8.8x\n", x, contig, entry);
        contig_info_print_contig(info, graph, contig);
        contig_info_print_contig(info, graph, contig);
      }
      if (x == last && (steps > 0 || !contig_info_is_circular(info, contig))) break;
      const oriented_id_t t = first_target(graph, x);
      if (t == kNone) {
        printf("\nContig %8.8x ended prematurely with node %8.8x\n", contig, x);
        contig_info_print_contig(info, graph, contig);
        break;
      }
      x = t;
    }
  }
  return 1;
}

}  // extern "C"
