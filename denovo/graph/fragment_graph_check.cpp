#include "denovo/graph/fragment_graph_check.h"

#include <cstdio>
#include <initializer_list>

#include "common/memory.h"
#include "denovo/reads/generic_sort.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;

inline oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }
inline uint32_t index_of(oriented_id_t id) { return id & ~kOrientedIdReverse; }
inline bool is_reverse(oriented_id_t id) { return (id >> 31) != 0; }

// Calls check(id) for the node range of a check: every slot for -1, else
// the one id; disabled slots are skipped. Returns 1 when every call did.
template <class Check>
int for_range(const fragment_graph_t *g, oriented_id_t node, Check check) {
  int valid = 1;
  if (node != kNone) return fragment_graph_is_disabled(g, node) ? 1 : check(node);
  for (int32_t i = 0; i < g->node_count; i++) {
    const auto n = static_cast<oriented_id_t>(i);
    if (!fragment_graph_is_disabled(g, n) && !check(n)) valid = 0;
  }
  return valid;
}

// 1 when node's next list holds exactly the id edge.
bool next_list_holds(const fragment_graph_t *g, oriented_id_t node, oriented_id_t edge) {
  int64_t steps = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, node); e != kNone && steps <= g->edge_count;
       e = fragment_graph_get_sibling_next_edge(g, e), steps++) {
    if (e == edge) return true;
  }
  return false;
}

bool prev_list_holds(const fragment_graph_t *g, oriented_id_t node, oriented_id_t edge) {
  return next_list_holds(g, flip(node), flip(edge));
}

int check_links_at(const fragment_graph_t *g, oriented_id_t c) {
  int valid = 1;
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(g, c); e != kNone;
       e = fragment_graph_get_sibling_prev_edge(g, e)) {
    if (fragment_graph_get_edge_to_node(g, e) != c) {
      printf("edge %x <--- node %x, but edge %x -!-> node %x\n", e, c, e, c);
      valid = 0;
      continue;
    }
    const oriented_id_t s = fragment_graph_get_edge_from_node(g, e);
    if (fragment_graph_is_disabled(g, s)) printf("node %x <--- edge %x, but node %x is disabled\n", s, e, s);
    const oriented_id_t listed = flip(s) == c ? flip(e) : e;
    if (!next_list_holds(g, s, listed)) {
      printf("node %x <--- edge %x, but node %x -!-> edge %x (reachable from node %x)\n", s, e, s, e, c);
      valid = 0;
    }
  }
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, c); e != kNone;
       e = fragment_graph_get_sibling_next_edge(g, e)) {
    if (fragment_graph_get_edge_from_node(g, e) != c) {
      printf("node %x ---> edge %x, but node %x <-!- edge %x\n", c, e, c, e);
      valid = 0;
      continue;
    }
    const oriented_id_t t = fragment_graph_get_edge_to_node(g, e);
    if (fragment_graph_is_disabled(g, t)) printf("edge %x ---> node %x, but node %x is disabled\n", e, t, t);
    const oriented_id_t listed = flip(t) == c ? flip(e) : e;
    if (!prev_list_holds(g, t, listed)) {
      printf("edge %x ---> node %x, but edge %x <-!- node %x (reachable from node %x)\n", e, t, e, t, c);
      valid = 0;
    }
  }
  return valid;
}

bool out_of_order(const fragment_graph_t *g, oriented_id_t node) {
  oriented_id_t prev = kNone;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(g, e)) {
    if (prev != kNone && fragment_graph_compare_edges(&prev, &e, const_cast<fragment_graph_t *>(g)) > 0) return true;
    prev = e;
  }
  return false;
}

void append(oriented_id_t **list, int32_t *count, int32_t *capacity, oriented_id_t value) {
  if (*count >= *capacity) {
    *capacity = *capacity < 10 ? 20 : 2 * *capacity;
    *list = static_cast<oriented_id_t *>(ryx_realloc(*list, static_cast<size_t>(*capacity) * sizeof(oriented_id_t)));
  }
  (*list)[(*count)++] = value;
}

fragment_graph_t *test_graph(const int (*edges)[2], int n) {
  fragment_graph_t *g = fragment_graph_new(16, 20);
  for (int i = 0; i < n; i++) {
    fragment_graph_add_edge(g, static_cast<oriented_id_t>(edges[i][0]), static_cast<oriented_id_t>(edges[i][1]), -19);
  }
  return g;
}

}  // namespace

extern "C" {

int fragment_graph_check_links(const fragment_graph_t *graph, oriented_id_t node) {
  return for_range(graph, node, [graph](oriented_id_t c) { return check_links_at(graph, c); });
}

int fragment_graph_reaches_bubble_end(const fragment_graph_t *graph, oriented_id_t node) {
  oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
  if (e == kNone) return 0;
  for (; e != kNone; e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_is_bubble_end(graph, t)) continue;
    if (!fragment_graph_is_bubble_node(graph, t) || !fragment_graph_reaches_bubble_end(graph, t)) return 0;
  }
  return 1;
}

int fragment_graph_check_bubbles(const fragment_graph_t *graph, oriented_id_t node) {
  return for_range(graph, node, [graph](oriented_id_t c) {
    int valid = 1;
    if (fragment_graph_is_bubble_node(graph, c)) {
      for (const oriented_id_t n : {c, flip(c)}) {
        if (!fragment_graph_reaches_bubble_end(graph, n)) {
          printf("Node %x is bubble node but bubble end could not be reached\n", n);
          valid = 0;
        }
      }
      return valid;
    }
    for (const oriented_id_t n : {c, flip(c)}) {
      if (fragment_graph_is_bubble_start(graph, n) && !fragment_graph_reaches_bubble_end(graph, n)) {
        printf("Node %x is bubble start node but bubble end could not be reached\n", n);
        valid = 0;
      }
    }
    return valid;
  });
}

int fragment_graph_check_marks(const fragment_graph_t *graph, oriented_id_t node) {
  return for_range(graph, node, [graph](oriented_id_t c) {
    const uint16_t flags = graph->nodes[index_of(c)].flags;
    if ((flags & kGraphScratchMarks) == 0) return 1;
    printf("Node %x has mark %d\n", c, static_cast<int>(flags));
    return 0;
  });
}

int fragment_graph_check_sorted(const fragment_graph_t *graph) {
  bool any = false;
  for (int32_t i = 0; i < graph->node_count; i++) {
    if (out_of_order(graph, static_cast<oriented_id_t>(i))) {
      printf("Node %x is not sorted\n", static_cast<unsigned>(i));
      any = true;
    }
  }
  for (int32_t i = 0; i < graph->node_count; i++) {
    const oriented_id_t n = flip(static_cast<oriented_id_t>(i));
    if (out_of_order(graph, n)) {
      printf("Node %x is not sorted\n", n);
      any = true;
    }
  }
  if (!any) return 0;
  printf("Edges in graph is not sorted\n");
  return 1;
}

void fragment_graph_print(const fragment_graph_t *graph, oriented_id_t node) {
  if (node != kNone && fragment_graph_is_disabled(graph, node)) {
    printf("Node %8.8x is disabled\n", node);
    return;
  }
  printf("\n");
  auto print_one = [graph](oriented_id_t n) {
    int32_t k = 0;
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, n); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      k++;
    }
    for (int32_t i = k; i < 4; i++) printf("%19s", "");
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, n); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      printf("%8.8x %3d %3x%s  ", fragment_graph_get_edge_from_node(graph, e), fragment_graph_get_edge_distance(graph, e),
             index_of(e), is_reverse(flip(e)) ? "'" : " ");
    }
    printf("  %8.8x/%8.8x ", n, fragment_graph_get_node_fragment(graph, n));
    char bubble = '.';
    if (fragment_graph_is_bubble_node(graph, n)) {
      bubble = '=';
    } else {
      const bool start = fragment_graph_is_bubble_start(graph, n) != 0;
      const bool end = fragment_graph_is_bubble_end(graph, n) != 0;
      bubble = start && end ? 'X' : start ? '<' : end ? '>' : '.';
    }
    const bool own = fragment_graph_get_end_mark(graph, n) != 0;
    const bool other = fragment_graph_get_other_end_mark(graph, n) != 0;
    const char mark = own && other ? 'X' : other ? '>' : own ? '<' : '.';
    printf("%c (%c) ", bubble, mark);
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, n); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      printf("  %3d %3x%s %8.8x", fragment_graph_get_edge_distance(graph, e), index_of(e), is_reverse(e) ? "'" : " ",
             fragment_graph_get_edge_to_node(graph, e));
    }
    printf("\n");
  };
  if (node != kNone) {
    print_one(node);
  } else {
    for (int32_t i = 0; i < graph->node_count; i++) {
      if (!fragment_graph_is_disabled(graph, static_cast<oriented_id_t>(i))) print_one(static_cast<oriented_id_t>(i));
    }
  }
  printf("\n");
}

void fragment_graph_collect_neighbours(fragment_graph_t *graph, oriented_id_t a, int32_t depth,
                                       int32_t maximum_depth, oriented_id_t **list, int32_t *count,
                                       int32_t *capacity) {
  if (depth == maximum_depth) return;
  auto visit = [&](oriented_id_t x) {
    if (!fragment_graph_get_mark2(graph, x)) {
      append(list, count, capacity, x);
      fragment_graph_set_mark2(graph, x);
    }
    fragment_graph_collect_neighbours(graph, x, depth + 1, maximum_depth, list, count, capacity);
  };
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    visit(fragment_graph_get_edge_to_node(graph, e));
  }
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, a); e != kNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    visit(fragment_graph_get_edge_from_node(graph, e));
  }
}

void fragment_graph_collect_node_neighbours(fragment_graph_t *graph, oriented_id_t a, int32_t maximum_depth,
                                            oriented_id_t **list, int32_t *count, int32_t *capacity) {
  const int32_t first = *count;
  fragment_graph_set_mark2(graph, a);
  fragment_graph_collect_neighbours(graph, a, 0, maximum_depth, list, count, capacity);
  fragment_graph_clear_mark2(graph, a);
  for (int32_t i = first; i < *count; i++) fragment_graph_clear_mark2(graph, (*list)[i]);
}

void fragment_graph_print_neighbour_average(fragment_graph_t *graph, int32_t depth) {
  int32_t capacity = 20;
  auto *list = static_cast<oriented_id_t *>(ryx_malloc(static_cast<size_t>(capacity) * sizeof(oriented_id_t)));
  long long sum = 0;
  long long nodes = 0;
  for (int32_t i = 0; i < graph->node_count; i++) {
    const auto n = static_cast<oriented_id_t>(i);
    if (fragment_graph_is_disabled(graph, n)) continue;
    int32_t count = 0;
    fragment_graph_collect_node_neighbours(graph, n, depth, &list, &count, &capacity);
    sum += count;
    nodes++;
  }
  ryx_free(list);
  printf("Average neighbour count %lld\n", nodes == 0 ? 0LL : sum / nodes);
}

int fragment_graph_compare_edges(const void *a, const void *b, void *context) {
  const auto *g = static_cast<const fragment_graph_t *>(context);
  const oriented_id_t ea = *static_cast<const oriented_id_t *>(a);
  const oriented_id_t eb = *static_cast<const oriented_id_t *>(b);
  const oriented_id_t fa = fragment_graph_get_node_fragment(g, fragment_graph_get_edge_to_node(g, ea));
  const oriented_id_t fb = fragment_graph_get_node_fragment(g, fragment_graph_get_edge_to_node(g, eb));
  if (fa != fb) return fa < fb ? -1 : 1;
  const int32_t da = fragment_graph_get_edge_distance(g, ea);
  const int32_t db = fragment_graph_get_edge_distance(g, eb);
  return da < db ? -1 : (da > db ? 1 : 0);
}

void fragment_graph_sort_next_edges(fragment_graph_t *graph, oriented_id_t node, oriented_id_t **buffer,
                                    int32_t *capacity) {
  int32_t n = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    append(buffer, &n, capacity, e);
  }
  if (n < 2) return;
  generic_sort(*buffer, static_cast<uint64_t>(n), sizeof(oriented_id_t), fragment_graph_compare_edges, graph);
  fragment_graph_set_first_next_edge(graph, node, (*buffer)[0]);
  for (int32_t i = 0; i < n; i++) {
    fragment_graph_set_sibling_next_edge(graph, (*buffer)[i], i + 1 < n ? (*buffer)[i + 1] : kNone);
  }
}

void fragment_graph_sort_edges(fragment_graph_t *graph) {
  int32_t capacity = 10;
  auto *buffer = static_cast<oriented_id_t *>(ryx_malloc(static_cast<size_t>(capacity) * sizeof(oriented_id_t)));
  for (int32_t i = 0; i < graph->node_count; i++) {
    fragment_graph_sort_next_edges(graph, static_cast<oriented_id_t>(i), &buffer, &capacity);
    fragment_graph_sort_next_edges(graph, flip(static_cast<oriented_id_t>(i)), &buffer, &capacity);
  }
  ryx_free(buffer);
}

fragment_graph_t *fragment_graph_new_test_graph1(void) {
  static const int kEdges[][2] = {{3, 4},  {2, 4},  {1, 4}, {0, 4},  {4, 8},  {4, 7},  {4, 6},
                                  {4, 5},  {10, 1}, {1, 11}, {12, 5}, {13, 7}, {14, 8}};
  return test_graph(kEdges, static_cast<int>(sizeof(kEdges) / sizeof(kEdges[0])));
}

fragment_graph_t *fragment_graph_new_test_graph2(void) {
  static const int kEdges[][2] = {{4, 2}, {4, 3}, {2, 1}, {3, 1}, {1, 4}};
  return test_graph(kEdges, static_cast<int>(sizeof(kEdges) / sizeof(kEdges[0])));
}

}  // extern "C"
