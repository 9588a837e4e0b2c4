#include "denovo/graph/fragment_graph.h"

#include <algorithm>
#include <initializer_list>
#include <cstring>
#include <vector>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

constexpr int32_t kInitialNodeCapacity = 10;
constexpr int32_t kInitialEdgeCapacity = 10;
constexpr int32_t kInitialFreeCapacity = 16;
constexpr oriented_id_t kNone = kOrientedIdNone;

inline oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }
inline uint32_t index_of(oriented_id_t id) { return id & ~kOrientedIdReverse; }
inline bool is_reverse(oriented_id_t id) { return (id >> 31) != 0; }

inline fragment_graph_node_t &node_at(const fragment_graph_t *g, oriented_id_t n) { return g->nodes[index_of(n)]; }
inline fragment_graph_edge_t &edge_at(const fragment_graph_t *g, oriented_id_t e) { return g->edges[index_of(e)]; }

template <class T>
void grow_array(T **array, int32_t *capacity, int32_t minimum) {
  const int32_t grown = fragment_graph_grow_capacity(*capacity, minimum);
  *array = static_cast<T *>(ryx_realloc(*array, static_cast<size_t>(grown) * sizeof(T)));
  *capacity = grown;
}

void push_free(int32_t **list, int32_t *count, int32_t *capacity, int32_t value) {
  if (*count >= *capacity) grow_array(list, capacity, kInitialFreeCapacity);
  (*list)[(*count)++] = value;
}

// The sort key of an edge in a next list: its target's oriented fragment
// (unsigned), then its distance.
inline bool key_at_least(const fragment_graph_t *g, oriented_id_t c, oriented_id_t b) {
  const oriented_id_t fc = fragment_graph_get_node_fragment(g, fragment_graph_get_edge_to_node(g, c));
  const oriented_id_t fb = fragment_graph_get_node_fragment(g, fragment_graph_get_edge_to_node(g, b));
  if (fc != fb) return fc > fb;
  return fragment_graph_get_edge_distance(g, b) <= fragment_graph_get_edge_distance(g, c);
}

// Unlinks the slot of edge (any orientation) from node's next list; false
// when the list does not hold it.
bool unlink_slot(fragment_graph_t *g, oriented_id_t node, oriented_id_t edge) {
  oriented_id_t prev = kNone;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(g, e)) {
    if (index_of(e) == index_of(edge)) {
      const oriented_id_t after = fragment_graph_get_sibling_next_edge(g, e);
      if (prev == kNone) {
        fragment_graph_set_first_next_edge(g, node, after);
      } else {
        fragment_graph_set_sibling_next_edge(g, prev, after);
      }
      fragment_graph_set_sibling_next_edge(g, e, kNone);
      return true;
    }
    prev = e;
  }
  return false;
}

[[noreturn]] void remove_error(oriented_id_t a, oriented_id_t b, int32_t distance) {
  fprintf(stderr, "Remove edge error, tried to to remove edge between %x and %x, distance %d\n", a, b, distance);
  ryx_exit(1);
}

oriented_id_t take_edge_slot(fragment_graph_t *g) {
  const int32_t reused = fragment_graph_pop_free_edge(g);
  if (reused >= 0) return static_cast<oriented_id_t>(reused);
  if (g->edge_count >= kGraphMaxSlots) {
    printf("\nError: Too many edges in the de Bruijn graph. Maximum number of edges on your system is %u\n.",
           static_cast<unsigned>(kGraphMaxSlots));
    fflush(stdout);
    ryx_exit(1);
  }
  if (g->edge_count >= g->edge_capacity) grow_array(&g->edges, &g->edge_capacity, kInitialEdgeCapacity);
  return static_cast<oriented_id_t>(g->edge_count++);
}

void fill_edge(fragment_graph_t *g, oriented_id_t edge, oriented_id_t from, oriented_id_t to, int32_t distance) {
  fragment_graph_edge_t &slot = edge_at(g, edge);
  if (is_reverse(edge)) {
    slot.from = flip(to);
    slot.to = flip(from);
  } else {
    slot.from = from;
    slot.to = to;
  }
  slot.distance = distance;
  slot.next_in_from_list = kNone;
  slot.next_in_to_list = kNone;
}

void link_at_head(fragment_graph_t *g, oriented_id_t node, oriented_id_t edge) {
  fragment_graph_set_sibling_next_edge(g, edge, fragment_graph_get_first_next_edge(g, node));
  fragment_graph_set_first_next_edge(g, node, edge);
}

void link_edge(fragment_graph_t *g, oriented_id_t edge, bool sorted) {
  const oriented_id_t from = fragment_graph_get_edge_from_node(g, edge);
  const oriented_id_t to = fragment_graph_get_edge_to_node(g, edge);
  if (sorted) {
    fragment_graph_insert_next_edge(g, from, edge);
    if (flip(to) != from) fragment_graph_insert_next_edge(g, flip(to), flip(edge));
  } else {
    link_at_head(g, from, edge);
    if (flip(to) != from) link_at_head(g, flip(to), flip(edge));
  }
}

// The record of slot s as read from its reverse strand.
fragment_graph_node_t turned_record(const fragment_graph_node_t &s) {
  fragment_graph_node_t t = s;
  t.first_next_edge = flip(s.first_prev_edge);
  t.first_prev_edge = flip(s.first_next_edge);
  t.fragment = flip(s.fragment);
  const uint16_t f = s.flags;
  t.flags = static_cast<uint16_t>((f & ~0x0F) | ((f & 0x01) << 1) | ((f & 0x02) >> 1) | ((f & 0x04) << 1) |
                                  ((f & 0x08) >> 1));
  return t;
}

}  // namespace

extern "C" {

int32_t fragment_graph_grow_capacity(int32_t capacity, int32_t minimum) {
  int64_t grown = 2 * static_cast<int64_t>(capacity);
  if (grown < minimum) grown = minimum;
  if (grown > kGraphMaxSlots) grown = kGraphMaxSlots;
  return static_cast<int32_t>(grown);
}

fragment_graph_t *fragment_graph_new(int32_t node_count, int32_t word_size) {
  auto *g = static_cast<fragment_graph_t *>(ryx_calloc(sizeof(fragment_graph_t)));
  g->word_size = word_size;
  g->node_count = node_count;
  g->node_capacity = node_count > kInitialNodeCapacity ? node_count : kInitialNodeCapacity;
  g->nodes = static_cast<fragment_graph_node_t *>(
      ryx_malloc(static_cast<size_t>(g->node_capacity) * sizeof(fragment_graph_node_t)));
  for (int32_t i = 0; i < node_count; i++) {
    fragment_graph_node_t &n = g->nodes[i];
    n.first_prev_edge = kNone;
    n.first_next_edge = kNone;
    n.fragment = static_cast<oriented_id_t>(i);
    n.other_node = i + 1 < node_count ? static_cast<oriented_id_t>(i + 1) : kNone;
    n.flags = 0x4000;
  }
  g->free_node_capacity = kInitialFreeCapacity;
  g->free_nodes = static_cast<int32_t *>(ryx_malloc(kInitialFreeCapacity * sizeof(int32_t)));
  g->not_done_heads[0] = 0;
  g->not_done_heads[1] = -1;
  g->not_done_current = 0;
  g->not_done_next = 1;
  g->not_done_current_mask = 0x4000;
  g->not_done_next_mask = 0x8000;
  g->not_done_keep_mask = 0xC000;
  g->not_done_count = node_count;
  g->edge_capacity = kInitialEdgeCapacity;
  g->edges = static_cast<fragment_graph_edge_t *>(ryx_malloc(kInitialEdgeCapacity * sizeof(fragment_graph_edge_t)));
  g->free_edge_capacity = kInitialFreeCapacity;
  g->free_edges = static_cast<int32_t *>(ryx_malloc(kInitialFreeCapacity * sizeof(int32_t)));
  return g;
}

fragment_graph_t *fragment_graph_free(fragment_graph_t *graph) {
  if (graph == nullptr) return nullptr;
  ryx_free(graph->nodes);
  ryx_free(graph->edges);
  ryx_free(graph->free_nodes);
  ryx_free(graph->free_edges);
  ryx_free(graph);
  return nullptr;
}

int32_t fragment_graph_get_node_count(const fragment_graph_t *graph) { return graph->node_count; }

int32_t fragment_graph_get_fragment_count(const fragment_graph_t *graph) {
  return graph->fragments == nullptr ? 0 : static_cast<int32_t>(graph->fragments->sequence_count);
}

fragment_graph_node_t *fragment_graph_get_node_record(fragment_graph_t *graph, oriented_id_t node) {
  return &node_at(graph, node);
}

fragment_graph_edge_t *fragment_graph_get_edge_record(fragment_graph_t *graph, oriented_id_t edge) {
  return &edge_at(graph, edge);
}

oriented_id_t fragment_graph_get_node_fragment(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t f = node_at(graph, node).fragment;
  return is_reverse(node) ? flip(f) : f;
}

oriented_id_t fragment_graph_get_fragment_node(const fragment_graph_t *, oriented_id_t fragment) { return fragment; }

oriented_id_t fragment_graph_get_other_node(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t o = node_at(graph, node).other_node;
  return is_reverse(node) ? flip(o) : o;
}

int32_t fragment_graph_get_fragment_length(const fragment_graph_t *graph, oriented_id_t fragment) {
  return static_cast<int32_t>(graph->fragments->get_length(graph->fragments, index_of(fragment)));
}

int32_t fragment_graph_get_node_length(const fragment_graph_t *graph, oriented_id_t node) {
  return fragment_graph_get_fragment_length(graph, node_at(graph, node).fragment);
}

seq_record_t *fragment_graph_get_node_sequence(const fragment_graph_t *graph, oriented_id_t node) {
  return graph->fragments->get(graph->fragments, index_of(node_at(graph, node).fragment));
}

oriented_id_t fragment_graph_get_first_next_edge(const fragment_graph_t *graph, oriented_id_t node) {
  const fragment_graph_node_t &n = node_at(graph, node);
  return is_reverse(node) ? flip(n.first_prev_edge) : n.first_next_edge;
}

oriented_id_t fragment_graph_get_sibling_next_edge(const fragment_graph_t *graph, oriented_id_t edge) {
  const fragment_graph_edge_t &e = edge_at(graph, edge);
  return is_reverse(edge) ? flip(e.next_in_to_list) : e.next_in_from_list;
}

oriented_id_t fragment_graph_get_first_prev_edge(const fragment_graph_t *graph, oriented_id_t node) {
  return flip(fragment_graph_get_first_next_edge(graph, flip(node)));
}

oriented_id_t fragment_graph_get_sibling_prev_edge(const fragment_graph_t *graph, oriented_id_t edge) {
  return flip(fragment_graph_get_sibling_next_edge(graph, flip(edge)));
}

oriented_id_t fragment_graph_get_edge_from_node(const fragment_graph_t *graph, oriented_id_t edge) {
  const fragment_graph_edge_t &e = edge_at(graph, edge);
  return is_reverse(edge) ? flip(e.to) : e.from;
}

oriented_id_t fragment_graph_get_edge_to_node(const fragment_graph_t *graph, oriented_id_t edge) {
  const fragment_graph_edge_t &e = edge_at(graph, edge);
  return is_reverse(edge) ? flip(e.from) : e.to;
}

int32_t fragment_graph_get_edge_distance(const fragment_graph_t *graph, oriented_id_t edge) {
  return edge_at(graph, edge).distance;
}

void fragment_graph_set_edge_distance(fragment_graph_t *graph, oriented_id_t edge, int32_t distance) {
  edge_at(graph, edge).distance = distance;
}

int fragment_graph_edge_is_removed(const fragment_graph_t *graph, oriented_id_t edge) {
  const fragment_graph_edge_t &e = edge_at(graph, edge);
  return e.from == kNone && e.to == kNone;
}

int32_t fragment_graph_count_next_edges(const fragment_graph_t *graph, oriented_id_t node) {
  int32_t n = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    n++;
  }
  return n;
}

int fragment_graph_is_disabled(const fragment_graph_t *graph, oriented_id_t node) {
  return (node_at(graph, node).flags & kGraphDisabledBit) != 0;
}

int fragment_graph_is_bubble_node(const fragment_graph_t *graph, oriented_id_t node) {
  return (node_at(graph, node).flags & kGraphBubbleNodeBit) != 0;
}

int fragment_graph_is_bubble_start(const fragment_graph_t *graph, oriented_id_t node) {
  const uint16_t bit = is_reverse(node) ? kGraphBubbleEndBit : kGraphBubbleStartBit;
  return (node_at(graph, node).flags & bit) != 0;
}

int fragment_graph_is_bubble_end(const fragment_graph_t *graph, oriented_id_t node) {
  const uint16_t bit = is_reverse(node) ? kGraphBubbleStartBit : kGraphBubbleEndBit;
  return (node_at(graph, node).flags & bit) != 0;
}

void fragment_graph_set_bubble_start(fragment_graph_t *graph, oriented_id_t node) {
  node_at(graph, node).flags |= is_reverse(node) ? kGraphBubbleEndBit : kGraphBubbleStartBit;
}

void fragment_graph_clear_bubble_end(fragment_graph_t *graph, oriented_id_t node) {
  printf("cnode->flags &= ~BUBBLE_END_BIT\n");
  const uint16_t bit = is_reverse(node) ? kGraphBubbleStartBit : kGraphBubbleEndBit;
  node_at(graph, node).flags &= static_cast<uint16_t>(~bit);
}

void fragment_graph_clear_node_flags(fragment_graph_t *graph, oriented_id_t node) {
  node_at(graph, node).flags &= kGraphNotDoneBits;
}

void fragment_graph_clear_flags(fragment_graph_t *graph, uint16_t mask) {
  for (int32_t i = 0; i < graph->node_count; i++) graph->nodes[i].flags &= static_cast<uint16_t>(~mask);
}

void fragment_graph_clear_all_flags(fragment_graph_t *graph) {
  for (int32_t i = 0; i < graph->node_count; i++) graph->nodes[i].flags = 0;
}

void fragment_graph_set_disabled_flag(fragment_graph_t *graph, oriented_id_t node) {
  node_at(graph, node).flags |= kGraphDisabledBit;
}

void fragment_graph_clear_disabled_flag(fragment_graph_t *graph, oriented_id_t node) {
  node_at(graph, node).flags &= static_cast<uint16_t>(~kGraphDisabledBit);
}

void fragment_graph_set_end_mark(fragment_graph_t *graph, oriented_id_t node) {
  node_at(graph, node).flags |= is_reverse(node) ? kGraphEndMarkReverse : kGraphEndMarkForward;
}

int fragment_graph_get_end_mark(const fragment_graph_t *graph, oriented_id_t node) {
  const uint16_t bit = is_reverse(node) ? kGraphEndMarkReverse : kGraphEndMarkForward;
  return (node_at(graph, node).flags & bit) != 0;
}

int fragment_graph_get_other_end_mark(const fragment_graph_t *graph, oriented_id_t node) {
  const uint16_t bit = is_reverse(node) ? kGraphEndMarkForward : kGraphEndMarkReverse;
  return (node_at(graph, node).flags & bit) != 0;
}

#define RYX_GRAPH_MARK_DEF(n)                                                          \
  void fragment_graph_set_mark##n(fragment_graph_t *graph, oriented_id_t node) {       \
    node_at(graph, node).flags |= kGraphMark##n;                                        \
  }                                                                                    \
  int fragment_graph_get_mark##n(const fragment_graph_t *graph, oriented_id_t node) {  \
    return (node_at(graph, node).flags & kGraphMark##n) != 0;                          \
  }                                                                                    \
  void fragment_graph_clear_mark##n(fragment_graph_t *graph, oriented_id_t node) {     \
    node_at(graph, node).flags &= static_cast<uint16_t>(~kGraphMark##n);                \
  }
RYX_GRAPH_MARK_DEF(1)
RYX_GRAPH_MARK_DEF(2)
RYX_GRAPH_MARK_DEF(3)
RYX_GRAPH_MARK_DEF(4)
RYX_GRAPH_MARK_DEF(5)
RYX_GRAPH_MARK_DEF(6)
RYX_GRAPH_MARK_DEF(7)
RYX_GRAPH_MARK_DEF(8)
#undef RYX_GRAPH_MARK_DEF

oriented_id_t fragment_graph_add_edge(fragment_graph_t *graph, oriented_id_t from, oriented_id_t to,
                                      int32_t distance) {
  const oriented_id_t e = take_edge_slot(graph);
  fragment_graph_set_edge(graph, e, from, to, distance);
  return e;
}

oriented_id_t fragment_graph_add_edge_unsorted(fragment_graph_t *graph, oriented_id_t from, oriented_id_t to,
                                               int32_t distance) {
  const oriented_id_t e = take_edge_slot(graph);
  fragment_graph_set_edge_unsorted(graph, e, from, to, distance);
  return e;
}

void fragment_graph_set_edge(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t from, oriented_id_t to,
                             int32_t distance) {
  fill_edge(graph, edge, from, to, distance);
  link_edge(graph, edge, true);
}

void fragment_graph_set_edge_unsorted(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t from,
                                      oriented_id_t to, int32_t distance) {
  fill_edge(graph, edge, from, to, distance);
  link_edge(graph, edge, false);
}

// The slot itself is unlinked (found by its index), so that a parallel edge
// with the same target and distance stays where it is.
void fragment_graph_remove_edge(fragment_graph_t *graph, oriented_id_t edge) {
  const oriented_id_t a = fragment_graph_get_edge_from_node(graph, edge);
  const oriented_id_t b = fragment_graph_get_edge_to_node(graph, edge);
  const int32_t d = fragment_graph_get_edge_distance(graph, edge);
  if (a == kNone || b == kNone) remove_error(a, b, d);
  if (!unlink_slot(graph, a, edge)) remove_error(a, b, d);
  if (flip(b) != a && !unlink_slot(graph, flip(b), edge)) remove_error(flip(b), flip(a), d);
  fragment_graph_edge_t &slot = edge_at(graph, edge);
  slot.from = kNone;
  slot.to = kNone;
  slot.next_in_from_list = kNone;
  slot.next_in_to_list = kNone;
  fragment_graph_push_free_edge(graph, edge);
}

void fragment_graph_unlink_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  if (!unlink_slot(graph, node, edge)) {
    fprintf(stderr, "Remove edge error, tried to to remove next edge %d from node %x\n", static_cast<int32_t>(edge),
            node);
    ryx_exit(1);
  }
}

oriented_id_t fragment_graph_unlink_next_edge_to(fragment_graph_t *graph, oriented_id_t node, int32_t distance,
                                                 oriented_id_t target) {
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    if (fragment_graph_get_edge_to_node(graph, e) == target && fragment_graph_get_edge_distance(graph, e) == distance) {
      if (target != flip(node)) unlink_slot(graph, node, e);
      return e;
    }
  }
  return kNone;
}

oriented_id_t fragment_graph_unlink_prev_edge_from(fragment_graph_t *graph, oriented_id_t node, int32_t distance,
                                                   oriented_id_t source) {
  return flip(fragment_graph_unlink_next_edge_to(graph, flip(node), distance, flip(source)));
}

void fragment_graph_insert_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  oriented_id_t prev = kNone;
  oriented_id_t c = fragment_graph_get_first_next_edge(graph, node);
  while (c != kNone && !key_at_least(graph, c, edge)) {
    prev = c;
    c = fragment_graph_get_sibling_next_edge(graph, c);
  }
  fragment_graph_set_sibling_next_edge(graph, edge, c);
  if (prev == kNone) {
    fragment_graph_set_first_next_edge(graph, node, edge);
  } else {
    fragment_graph_set_sibling_next_edge(graph, prev, edge);
  }
}

void fragment_graph_insert_prev_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  fragment_graph_insert_next_edge(graph, flip(node), flip(edge));
}

void fragment_graph_resort_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  fragment_graph_unlink_next_edge(graph, node, edge);
  fragment_graph_insert_next_edge(graph, node, edge);
}

void fragment_graph_resort_prev_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  fragment_graph_resort_next_edge(graph, flip(node), flip(edge));
}

void fragment_graph_redirect_edge_to(fragment_graph_t *graph, oriented_id_t a, int32_t distance, oriented_id_t c,
                                     oriented_id_t d) {
  // The edge a -> c seen from c's side is reverse(c) -> reverse(a).
  const oriented_id_t seen_from_c = fragment_graph_unlink_next_edge_to(graph, flip(c), distance, flip(a));
  if (seen_from_c == kNone) remove_error(a, c, distance);
  const oriented_id_t e = flip(seen_from_c);
  if (c == flip(a)) {
    fragment_graph_remove_edge(graph, e);
    fragment_graph_add_edge(graph, a, d, distance);
    return;
  }
  fragment_graph_set_edge_to_node(graph, e, d);
  // A new hairpin lies in a's next list alone, which it already is in.
  if (d != flip(a)) fragment_graph_insert_prev_edge(graph, d, e);
  if (fragment_graph_get_node_fragment(graph, d) != fragment_graph_get_node_fragment(graph, c)) {
    fragment_graph_resort_next_edge(graph, a, e);
  }
}

void fragment_graph_redirect_edge_from(fragment_graph_t *graph, oriented_id_t a, int32_t distance, oriented_id_t c,
                                       oriented_id_t d) {
  // c -> a read backwards is reverse(a) -> reverse(c).
  fragment_graph_redirect_edge_to(graph, flip(a), distance, flip(c), flip(d));
}

oriented_id_t fragment_graph_new_node(fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, node);
  int32_t slot = fragment_graph_pop_free_node(graph);
  if (slot >= 0) {
    graph->nodes[slot].flags &= graph->not_done_keep_mask;
  } else {
    if (graph->node_count >= kGraphMaxSlots) {
      printf("\nError: Too many nodes in the de Bruijn graph. Maximum number of nodes on your system is %u\n.",
             static_cast<unsigned>(kGraphMaxSlots));
      fflush(stdout);
      ryx_exit(1);
    }
    if (graph->node_count >= graph->node_capacity) {
      grow_array(&graph->nodes, &graph->node_capacity, kInitialNodeCapacity);
    }
    slot = graph->node_count++;
    graph->nodes[slot].flags = 0;
    graph->nodes[slot].other_node = kNone;
  }
  fragment_graph_node_t &n = graph->nodes[slot];
  n.first_prev_edge = kNone;
  n.first_next_edge = kNone;
  n.fragment = fragment;
  return static_cast<oriented_id_t>(slot);
}

oriented_id_t fragment_graph_copy_node(fragment_graph_t *graph, oriented_id_t node) {
  const uint16_t source = node_at(graph, node).flags;
  const oriented_id_t copy = fragment_graph_new_node(graph, node);
  uint16_t bits = source & kGraphBubbleNodeBit;
  if (is_reverse(node)) {
    if (source & kGraphBubbleStartBit) bits |= kGraphBubbleEndBit;
    if (source & kGraphBubbleEndBit) bits |= kGraphBubbleStartBit;
  } else {
    bits |= source & (kGraphBubbleStartBit | kGraphBubbleEndBit);
  }
  graph->nodes[copy].flags |= bits;
  return copy;
}

void fragment_graph_disable_node(fragment_graph_t *graph, oriented_id_t node) {
  if (fragment_graph_is_disabled(graph, node)) {
    printf("Node %x is already disabled\n", node);
    fflush(stdout);
    ryx_exit(1);
  }
  for (oriented_id_t e; (e = fragment_graph_get_first_next_edge(graph, node)) != kNone;) {
    fragment_graph_remove_edge(graph, e);
  }
  for (oriented_id_t e; (e = fragment_graph_get_first_prev_edge(graph, node)) != kNone;) {
    fragment_graph_remove_edge(graph, e);
  }
  fragment_graph_release_node(graph, node);
}

void fragment_graph_swap_nodes(fragment_graph_t *graph, oriented_id_t a, oriented_id_t b) {
  if (a == b) return;
  // Every edge slot at either node, once: the forward node's two lists cover
  // both strands.
  std::vector<uint32_t> slots;
  for (oriented_id_t n : {a, b}) {
    if (fragment_graph_is_disabled(graph, n)) continue;
    const oriented_id_t forward = n & ~kOrientedIdReverse;
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, forward); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      slots.push_back(index_of(e));
    }
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, forward); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      slots.push_back(index_of(e));
    }
  }
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  auto rename = [a, b](oriented_id_t x) -> oriented_id_t {
    if (x == kNone) return x;
    if (x == b) return a;
    if (x == flip(b)) return flip(a);
    if (x == a) return b;
    if (x == flip(a)) return flip(b);
    return x;
  };
  for (const uint32_t s : slots) {
    fragment_graph_edge_t &e = graph->edges[s];
    e.from = rename(e.from);
    e.to = rename(e.to);
  }
  const bool turn = is_reverse(a) != is_reverse(b);
  fragment_graph_node_t &na = node_at(graph, a);
  fragment_graph_node_t &nb = node_at(graph, b);
  if (index_of(a) == index_of(b)) {
    // A node exchanged with its own reverse strand is turned over.
    const oriented_id_t other = na.other_node;
    na = turned_record(na);
    na.other_node = other;
    return;
  }
  fragment_graph_node_t old_a = na;
  fragment_graph_node_t old_b = nb;
  if (turn) {
    old_a = turned_record(old_a);
    old_b = turned_record(old_b);
  }
  const oriented_id_t other_a = na.other_node;
  const oriented_id_t other_b = nb.other_node;
  na = old_b;
  nb = old_a;
  na.other_node = other_a;
  nb.other_node = other_b;
}

void fragment_graph_set_first_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  fragment_graph_node_t &n = node_at(graph, node);
  if (is_reverse(node)) {
    n.first_prev_edge = flip(edge);
  } else {
    n.first_next_edge = edge;
  }
}

void fragment_graph_set_first_prev_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  fragment_graph_set_first_next_edge(graph, flip(node), flip(edge));
}

void fragment_graph_set_sibling_next_edge(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t sibling) {
  fragment_graph_edge_t &e = edge_at(graph, edge);
  if (is_reverse(edge)) {
    e.next_in_to_list = flip(sibling);
  } else {
    e.next_in_from_list = sibling;
  }
}

void fragment_graph_set_sibling_prev_edge(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t sibling) {
  fragment_graph_set_sibling_next_edge(graph, flip(edge), flip(sibling));
}

void fragment_graph_set_edge_to_node(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t node) {
  fragment_graph_edge_t &e = edge_at(graph, edge);
  if (is_reverse(edge)) {
    e.from = flip(node);
  } else {
    e.to = node;
  }
}

void fragment_graph_set_edge_from_node(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t node) {
  fragment_graph_edge_t &e = edge_at(graph, edge);
  if (is_reverse(edge)) {
    e.to = flip(node);
  } else {
    e.from = node;
  }
}

void fragment_graph_release_node(fragment_graph_t *graph, oriented_id_t node) {
  node_at(graph, node).flags |= kGraphDisabledBit;
  push_free(&graph->free_nodes, &graph->free_node_count, &graph->free_node_capacity,
            static_cast<int32_t>(index_of(node)));
}

void fragment_graph_push_free_edge(fragment_graph_t *graph, oriented_id_t edge) {
  push_free(&graph->free_edges, &graph->free_edge_count, &graph->free_edge_capacity,
            static_cast<int32_t>(index_of(edge)));
}

int32_t fragment_graph_pop_free_node(fragment_graph_t *graph) {
  return graph->free_node_count == 0 ? -1 : graph->free_nodes[--graph->free_node_count];
}

int32_t fragment_graph_pop_free_edge(fragment_graph_t *graph) {
  return graph->free_edge_count == 0 ? -1 : graph->free_edges[--graph->free_edge_count];
}

void fragment_graph_trim_arrays(fragment_graph_t *graph) {
  graph->nodes = static_cast<fragment_graph_node_t *>(
      ryx_realloc(graph->nodes, static_cast<size_t>(graph->node_count) * sizeof(fragment_graph_node_t)));
  graph->edges = static_cast<fragment_graph_edge_t *>(
      ryx_realloc(graph->edges, static_cast<size_t>(graph->edge_count) * sizeof(fragment_graph_edge_t)));
}

void fragment_graph_print_edge(const fragment_graph_t *graph, oriented_id_t edge) {
  printf(" %x (edge %x) %x\n", fragment_graph_get_edge_from_node(graph, edge), edge,
         fragment_graph_get_edge_to_node(graph, edge));
}

void fragment_graph_print_disabled_nodes(const fragment_graph_t *graph) {
  printf("Disabled nodes:");
  if (graph->free_node_count == 0) printf(" none");
  for (int32_t i = 0; i < graph->free_node_count; i++) printf(" %x", graph->free_nodes[i]);
  printf("\n");
}

void fragment_graph_print_flags(const fragment_graph_t *graph, oriented_id_t node) {
  const uint16_t f = node_at(graph, node).flags;
  for (const uint16_t bit : {0x01, 0x02, 0x04, 0x08}) putchar((f & bit) ? '1' : '0');
  putchar(' ');
  for (const uint16_t bit : {0x10, 0x20, 0x40, 0x80}) putchar((f & bit) ? '1' : '0');
  printf(" 0000 0000");
}

}  // extern "C"

namespace {

constexpr int64_t kNodeRecordBytes = 18;
constexpr int64_t kEdgeRecordBytes = 20;
// A stored capacity may exceed its count (growth by doubling, compaction
// that drops slots), but never by this factor plus the slack; anything
// larger is a damaged piece, refused before it is allocated.
constexpr int64_t kCapacityFactor = 64;
constexpr int64_t kCapacitySlack = 1024;

[[noreturn]] void bad_graph(const char *format, long long a = 0, long long b = 0) {
  fprintf(stderr, "fragment_graph_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

// Reads a count and a capacity and checks them against each other, the
// smallest capacity the graph ever has, and the bytes the records need.
void read_sizes(FILE *file, const char *what, int32_t minimum_capacity, int64_t record_bytes, int32_t *count,
                int32_t *capacity) {
  const uint32_t c = bin_file_read_u32(file);
  const uint32_t cap = bin_file_read_u32(file);
  if (c > static_cast<uint32_t>(kGraphMaxSlots) || cap > static_cast<uint32_t>(kGraphMaxSlots)) {
    fprintf(stderr, "fragment_graph_read: %s count %u or capacity %u is beyond the limit\n", what, c, cap);
    ryx_exit(1);
  }
  if (cap < c || static_cast<int32_t>(cap) < minimum_capacity ||
      static_cast<int64_t>(cap) > kCapacityFactor * c + kCapacitySlack) {
    fprintf(stderr, "fragment_graph_read: %s capacity %u does not fit the count %u\n", what, cap, c);
    ryx_exit(1);
  }
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && static_cast<int64_t>(c) * record_bytes > left) {
    fprintf(stderr, "fragment_graph_read: %u %s records do not fit in the %lld bytes left in the file\n", c, what,
            static_cast<long long>(left));
    ryx_exit(1);
  }
  *count = static_cast<int32_t>(c);
  *capacity = static_cast<int32_t>(cap);
}

// -1, or an id (either strand) whose index is below limit.
bool id_fits(oriented_id_t id, int64_t limit) { return id == kNone || static_cast<int64_t>(index_of(id)) < limit; }

// Reads a free list and checks that it names distinct slots below count for
// which is_free holds.
int32_t *read_free_list(FILE *file, const char *what, int32_t count_limit, int32_t *count, int32_t *capacity,
                        const std::vector<bool> &is_free) {
  read_sizes(file, what, kInitialFreeCapacity, 4, count, capacity);
  auto *list = static_cast<int32_t *>(ryx_malloc(static_cast<size_t>(*capacity) * sizeof(int32_t)));
  std::vector<bool> seen(static_cast<size_t>(count_limit), false);
  for (int32_t i = 0; i < *count; i++) {
    const uint32_t v = bin_file_read_u32(file);
    if (v >= static_cast<uint32_t>(count_limit) || !is_free[v] || seen[v]) {
      ryx_free(list);
      bad_graph("free-list entry %lld names slot %lld, which cannot be reused", i, v);
    }
    seen[v] = true;
    list[i] = static_cast<int32_t>(v);
  }
  return list;
}

// Walks every next list once and counts how often each edge slot is met:
// each live edge must lie in the lists its ends give (twice, a hairpin
// once), each edge met must leave the node whose list holds it, and no list
// may run into a loop (which would meet some slot too often).
void check_lists(const fragment_graph_t *g) {
  std::vector<uint8_t> met(static_cast<size_t>(g->edge_count), 0);
  for (int32_t i = 0; i < g->node_count; i++) {
    const bool disabled = (g->nodes[i].flags & kGraphDisabledBit) != 0;
    if (disabled && (g->nodes[i].first_next_edge != kNone || g->nodes[i].first_prev_edge != kNone)) {
      bad_graph("disabled node %llx has edges", i);
    }
    for (const oriented_id_t n : {static_cast<oriented_id_t>(i), flip(static_cast<oriented_id_t>(i))}) {
      for (oriented_id_t e = fragment_graph_get_first_next_edge(g, n); e != kNone;
           e = fragment_graph_get_sibling_next_edge(g, e)) {
        const uint32_t s = index_of(e);
        if (fragment_graph_get_edge_from_node(g, e) != n) bad_graph("edge %llx is listed at node %llx", e, n);
        if (++met[s] > 2) bad_graph("the edge lists of node %llx run into a loop", n);
      }
    }
  }
  for (int32_t s = 0; s < g->edge_count; s++) {
    const fragment_graph_edge_t &e = g->edges[s];
    const int expected = e.from == kNone ? 0 : (e.to == flip(e.from) ? 1 : 2);
    if (met[s] != expected) bad_graph("edge %llx lies in %lld edge lists", s, met[s]);
  }
}

}  // namespace

extern "C" {

void fragment_graph_write_node_record(FILE *file, const fragment_graph_node_t *node) {
  bin_file_write_u32(file, node->first_prev_edge);
  bin_file_write_u32(file, node->first_next_edge);
  bin_file_write_u32(file, node->fragment);
  bin_file_write_u32(file, node->other_node);
  bin_file_write_u16(file, node->flags);
}

void fragment_graph_read_node_record(FILE *file, fragment_graph_node_t *node) {
  node->first_prev_edge = bin_file_read_u32(file);
  node->first_next_edge = bin_file_read_u32(file);
  node->fragment = bin_file_read_u32(file);
  node->other_node = bin_file_read_u32(file);
  node->flags = bin_file_read_u16(file);
}

void fragment_graph_write_edge_record(FILE *file, const fragment_graph_edge_t *edge) {
  bin_file_write_u32(file, edge->from);
  bin_file_write_u32(file, edge->to);
  bin_file_write_u32(file, edge->next_in_to_list);
  bin_file_write_u32(file, edge->next_in_from_list);
  bin_file_write_u32(file, static_cast<uint32_t>(edge->distance));
}

void fragment_graph_read_edge_record(FILE *file, fragment_graph_edge_t *edge) {
  edge->from = bin_file_read_u32(file);
  edge->to = bin_file_read_u32(file);
  edge->next_in_to_list = bin_file_read_u32(file);
  edge->next_in_from_list = bin_file_read_u32(file);
  edge->distance = static_cast<int32_t>(bin_file_read_u32(file));
}

void fragment_graph_write(FILE *file, const fragment_graph_t *graph) {
  if (graph == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u32(file, static_cast<uint32_t>(graph->word_size));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->node_count));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->node_capacity));
  for (int32_t i = 0; i < graph->node_count; i++) fragment_graph_write_node_record(file, &graph->nodes[i]);
  bin_file_write_u32(file, static_cast<uint32_t>(graph->free_node_count));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->free_node_capacity));
  for (int32_t i = 0; i < graph->free_node_count; i++) bin_file_write_u32(file, graph->free_nodes[i]);
  bin_file_write_u32(file, static_cast<uint32_t>(graph->not_done_heads[0]));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->not_done_heads[1]));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->not_done_current));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->not_done_next));
  bin_file_write_u16(file, graph->not_done_current_mask);
  bin_file_write_u16(file, graph->not_done_next_mask);
  bin_file_write_u16(file, graph->not_done_keep_mask);
  bin_file_write_u32(file, static_cast<uint32_t>(graph->not_done_count));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->edge_count));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->edge_capacity));
  for (int32_t i = 0; i < graph->edge_count; i++) fragment_graph_write_edge_record(file, &graph->edges[i]);
  bin_file_write_u32(file, static_cast<uint32_t>(graph->free_edge_count));
  bin_file_write_u32(file, static_cast<uint32_t>(graph->free_edge_capacity));
  for (int32_t i = 0; i < graph->free_edge_count; i++) bin_file_write_u32(file, graph->free_edges[i]);
}

fragment_graph_t *fragment_graph_read(FILE *file, seq_db_t *fragments) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_graph("presence byte is %lld, not 0 or 1", present);
  const auto word_size = static_cast<int32_t>(bin_file_read_u32(file));
  if (word_size <= 0) bad_graph("word size %lld is not positive", word_size);
  auto *g = static_cast<fragment_graph_t *>(ryx_calloc(sizeof(fragment_graph_t)));
  g->word_size = word_size;
  g->fragments = fragments;
  read_sizes(file, "node", kInitialNodeCapacity, kNodeRecordBytes, &g->node_count, &g->node_capacity);
  const int64_t fragment_count = fragments == nullptr ? -1 : fragments->sequence_count;
  if (fragment_count > g->node_count) {
    bad_graph("%lld nodes cannot carry the %lld fragments", g->node_count, fragment_count);
  }
  g->nodes = static_cast<fragment_graph_node_t *>(
      ryx_malloc(static_cast<size_t>(g->node_capacity) * sizeof(fragment_graph_node_t)));
  // The edge count is not known yet: edge ids are checked once it is.
  std::vector<bool> disabled(static_cast<size_t>(g->node_count));
  for (int32_t i = 0; i < g->node_count; i++) {
    fragment_graph_node_t &n = g->nodes[i];
    fragment_graph_read_node_record(file, &n);
    if (fragment_count >= 0 && static_cast<int64_t>(index_of(n.fragment)) >= fragment_count) {
      bad_graph("node %llx carries fragment %llx, which the fragments lack", i, n.fragment);
    }
    if (!id_fits(n.other_node, g->node_capacity)) bad_graph("node %llx links to node %llx", i, n.other_node);
    disabled[i] = (n.flags & kGraphDisabledBit) != 0;
  }
  g->free_nodes = read_free_list(file, "node free-list", g->node_count, &g->free_node_count,
                                 &g->free_node_capacity, disabled);
  g->not_done_heads[0] = static_cast<int32_t>(bin_file_read_u32(file));
  g->not_done_heads[1] = static_cast<int32_t>(bin_file_read_u32(file));
  g->not_done_current = static_cast<int32_t>(bin_file_read_u32(file));
  g->not_done_next = static_cast<int32_t>(bin_file_read_u32(file));
  g->not_done_current_mask = bin_file_read_u16(file);
  g->not_done_next_mask = bin_file_read_u16(file);
  g->not_done_keep_mask = bin_file_read_u16(file);
  g->not_done_count = static_cast<int32_t>(bin_file_read_u32(file));
  for (const int32_t head : g->not_done_heads) {
    if (!id_fits(static_cast<oriented_id_t>(head), g->node_capacity)) bad_graph("not-done list head %llx", head);
  }
  if ((g->not_done_current != 0 && g->not_done_current != 1) || g->not_done_next != 1 - g->not_done_current) {
    bad_graph("not-done list indices %lld and %lld", g->not_done_current, g->not_done_next);
  }
  const bool masks_fit = (g->not_done_current_mask | g->not_done_next_mask) == kGraphNotDoneBits &&
                         g->not_done_current_mask != g->not_done_next_mask &&
                         (g->not_done_current_mask == 0x4000 || g->not_done_current_mask == 0x8000) &&
                         g->not_done_keep_mask == kGraphNotDoneBits;
  if (!masks_fit) bad_graph("not-done masks %llx and %llx", g->not_done_current_mask, g->not_done_next_mask);
  read_sizes(file, "edge", kInitialEdgeCapacity, kEdgeRecordBytes, &g->edge_count, &g->edge_capacity);
  g->edges = static_cast<fragment_graph_edge_t *>(
      ryx_malloc(static_cast<size_t>(g->edge_capacity) * sizeof(fragment_graph_edge_t)));
  std::vector<bool> removed(static_cast<size_t>(g->edge_count));
  for (int32_t i = 0; i < g->edge_count; i++) {
    fragment_graph_edge_t &e = g->edges[i];
    fragment_graph_read_edge_record(file, &e);
    removed[i] = e.from == kNone && e.to == kNone;
    const bool ends_fit = removed[i] || (e.from != kNone && e.to != kNone && id_fits(e.from, g->node_count) &&
                                         id_fits(e.to, g->node_count));
    if (!ends_fit || !id_fits(e.next_in_from_list, g->edge_count) || !id_fits(e.next_in_to_list, g->edge_count)) {
      bad_graph("edge %llx names a node or edge that does not exist", i);
    }
  }
  for (int32_t i = 0; i < g->node_count; i++) {
    if (!id_fits(g->nodes[i].first_next_edge, g->edge_count) || !id_fits(g->nodes[i].first_prev_edge, g->edge_count)) {
      bad_graph("node %llx starts its lists at an edge that does not exist", i);
    }
  }
  g->free_edges = read_free_list(file, "edge free-list", g->edge_count, &g->free_edge_count,
                                 &g->free_edge_capacity, removed);
  check_lists(g);
  return g;
}

}  // extern "C"
