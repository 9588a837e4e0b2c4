#include "denovo/graph/dead_ends.h"

#include <cstdio>
#include <cstdlib>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/fragment_graph_bubbles.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;

oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }

// Visit mark of a node end: mark 1 for the forward strand, mark 2 for the
// reverse strand.
uint16_t strand_mark(oriented_id_t node) { return fragment_graph_node_is_reverse(node) ? kGraphMark2 : kGraphMark1; }
bool is_marked(const fragment_graph_t *g, oriented_id_t node) {
  return (g->nodes[fragment_graph_node_index(node)].flags & strand_mark(node)) != 0;
}
void set_mark(fragment_graph_t *g, oriented_id_t node) {
  g->nodes[fragment_graph_node_index(node)].flags |= strand_mark(node);
}
void clear_mark(fragment_graph_t *g, oriented_id_t node) {
  g->nodes[fragment_graph_node_index(node)].flags &= static_cast<uint16_t>(~strand_mark(node));
}
void clear_both_marks(fragment_graph_t *g, oriented_id_t node) {
  g->nodes[fragment_graph_node_index(node)].flags &= static_cast<uint16_t>(~(kGraphMark1 | kGraphMark2));
}
bool has_any_mark(const fragment_graph_t *g, oriented_id_t node) {
  return (g->nodes[fragment_graph_node_index(node)].flags & (kGraphMark1 | kGraphMark2)) != 0;
}

// The depth-first stack of the first pass: one edge per level.
struct edge_stack_t {
  oriented_id_t *edges;
  int64_t count;
  int64_t capacity;
};

void stack_push(edge_stack_t *s, oriented_id_t edge) {
  if (s->count == s->capacity) {
    s->capacity *= 2;
    s->edges = static_cast<oriented_id_t *>(ryx_realloc(s->edges, static_cast<size_t>(s->capacity) * sizeof(oriented_id_t)));
  }
  s->edges[s->count++] = edge;
}

int32_t saturated_sum(int64_t value) { return value >= kDeadEndUnbounded ? kDeadEndUnbounded : static_cast<int32_t>(value); }

void compute_reach(fragment_graph_t *graph, int32_t *reach, oriented_id_t a, edge_stack_t *stack) {
  stack->count = 0;
  stack_push(stack, fragment_graph_get_first_next_edge(graph, a));
  set_mark(graph, a);
  for (;;) {
    const oriented_id_t top = stack->edges[stack->count - 1];
    if (top == kNone) {
      if (stack->count == 1) break;
      stack->count--;
      oriented_id_t &p = stack->edges[stack->count - 1];
      const oriented_id_t d = fragment_graph_get_edge_to_node(graph, p);
      const oriented_id_t u = fragment_graph_get_edge_from_node(graph, p);
      int32_t &rd = reach[dead_end_value_index(d)];
      if (rd == kDeadEndUnset) rd = 0;
      const int32_t candidate =
          rd == kDeadEndUnbounded
              ? kDeadEndUnbounded
              : saturated_sum(static_cast<int64_t>(fragment_graph_get_node_length(graph, d)) +
                              fragment_graph_get_edge_distance(graph, p) + rd);
      int32_t &ru = reach[dead_end_value_index(u)];
      if (candidate > ru) ru = candidate;
      clear_mark(graph, d);
      p = fragment_graph_get_sibling_next_edge(graph, p);
      continue;
    }
    const oriented_id_t d = fragment_graph_get_edge_to_node(graph, top);
    if (is_marked(graph, d)) {
      // d lies on the current path: the path can go round for ever.
      reach[dead_end_value_index(d)] = kDeadEndUnbounded;
      stack_push(stack, kNone);
    } else {
      set_mark(graph, d);
      stack_push(stack, reach[dead_end_value_index(d)] == kDeadEndUnset ? fragment_graph_get_first_next_edge(graph, d)
                                                                         : kNone);
    }
  }
  int32_t &ra = reach[dead_end_value_index(a)];
  if (ra == kDeadEndUnset) ra = 0;
  clear_both_marks(graph, a);
}

[[noreturn]] void out_of_memory() {
  printf("Out of memory in remove_dead_ends");
  fflush(stdout);
  ryx_exit(1);
}

}  // namespace

extern "C" {

int64_t dead_end_value_index(oriented_id_t node) {
  return 2 * static_cast<int64_t>(fragment_graph_node_index(node)) + fragment_graph_node_is_reverse(node);
}

void dead_end_compute_reach(fragment_graph_t *graph, int32_t *reach, oriented_id_t a) {
  edge_stack_t stack{static_cast<oriented_id_t *>(ryx_malloc(8 * sizeof(oriented_id_t))), 0, 8};
  compute_reach(graph, reach, a, &stack);
  ryx_free(stack.edges);
}

int dead_end_collect_branch(fragment_graph_t *graph, oriented_id_t n, oriented_id_t root_index,
                            oriented_id_t *branch, int32_t *branch_count, int32_t limit) {
  if (!has_any_mark(graph, n)) {
    if (*branch_count >= limit) return 0;
    branch[(*branch_count)++] = n;
  }
  if (is_marked(graph, n)) return 1;
  set_mark(graph, n);
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, n); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_node_index(t) == root_index) continue;
    if (!dead_end_collect_branch(graph, t, root_index, branch, branch_count, limit)) return 0;
  }
  return 1;
}

int dead_end_remove_branch(fragment_graph_t *graph, oriented_id_t d, oriented_id_t *branch, int32_t *branch_count,
                           int32_t limit) {
  *branch_count = 0;
  const oriented_id_t root_index = fragment_graph_node_index(d);
  if (!dead_end_collect_branch(graph, d, root_index, branch, branch_count, limit)) {
    for (int32_t i = 0; i < *branch_count; i++) clear_both_marks(graph, branch[i]);
    return 0;
  }
  // Keep every node entered from outside the branch, and then everything
  // that only such a node leads to: dropping a node from the branch clears
  // its marks, so its successors see an outside predecessor in turn.
  for (bool changed = true; changed;) {
    changed = false;
    for (int32_t i = 0; i < *branch_count; i++) {
      const oriented_id_t index = fragment_graph_node_index(branch[i]);
      if (index == root_index || !has_any_mark(graph, index)) continue;
      bool outside = false;
      for (int strand = 0; strand < 2 && !outside; strand++) {
        const oriented_id_t node = strand ? flip(index) : index;
        if (!is_marked(graph, node)) continue;
        for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, node); e != kNone && !outside;
             e = fragment_graph_get_sibling_prev_edge(graph, e)) {
          if (!is_marked(graph, fragment_graph_get_edge_from_node(graph, e))) outside = true;
        }
      }
      if (outside) {
        clear_both_marks(graph, index);
        changed = true;
      }
    }
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < *branch_count; i++) {
    const oriented_id_t node = branch[i];
    if (has_any_mark(graph, node)) branch[kept++] = node;
    clear_both_marks(graph, node);
  }
  for (int32_t i = 0; i < kept; i++) fragment_graph_disable_node(graph, branch[i]);
  *branch_count = kept;
  return 1;
}

void dead_end_check_node(fragment_graph_t *graph, const int32_t *reach, oriented_id_t a, oriented_id_t *branch,
                         int32_t *branch_count, int32_t limit, oriented_id_t **candidates,
                         int32_t *candidate_capacity) {
  if (fragment_graph_is_bubble_start(graph, a) || fragment_graph_is_bubble_node(graph, a)) return;
  if (fragment_graph_get_first_next_edge(graph, a) == kNone) return;
  const int32_t ra = reach[dead_end_value_index(a)];
  const int64_t bound = ra == kDeadEndUnbounded ? 4000 : ra;
  int32_t count = 0;
  for (oriented_id_t c = fragment_graph_get_first_next_edge(graph, a); c != kNone;
       c = fragment_graph_get_sibling_next_edge(graph, c)) {
    const oriented_id_t d = fragment_graph_get_edge_to_node(graph, c);
    const int32_t rd = reach[dead_end_value_index(d)];
    if (rd == kDeadEndUnbounded || fragment_graph_is_bubble_node(graph, d)) continue;
    const int64_t continuation =
        static_cast<int64_t>(rd) + fragment_graph_get_node_length(graph, d) + fragment_graph_get_edge_distance(graph, c);
    if (4 * continuation >= bound) continue;
    if (count == *candidate_capacity) {
      *candidate_capacity *= 2;
      *candidates = static_cast<oriented_id_t *>(
          ryx_realloc(*candidates, static_cast<size_t>(*candidate_capacity) * sizeof(oriented_id_t)));
    }
    (*candidates)[count++] = d;
  }
  for (int32_t i = 0; i < count; i++) {
    const oriented_id_t d = (*candidates)[i];
    if (!fragment_graph_is_disabled(graph, d)) dead_end_remove_branch(graph, d, branch, branch_count, limit);
  }
}

void remove_dead_ends(fragment_graph_t *graph, progress_meter_t *meter) {
  const int32_t node_count = graph->node_count;
  const size_t values = 2 * static_cast<size_t>(node_count > 0 ? node_count : 1);
  auto *reach = static_cast<int32_t *>(malloc(values * sizeof(int32_t)));
  auto *branch = static_cast<oriented_id_t *>(malloc(kDeadEndBranchLimit * sizeof(oriented_id_t)));
  int32_t candidate_capacity = 1;
  auto *candidates = static_cast<oriented_id_t *>(malloc(sizeof(oriented_id_t)));
  if (reach == nullptr || branch == nullptr || candidates == nullptr) out_of_memory();
  for (size_t i = 0; i < values; i++) reach[i] = kDeadEndUnset;

  progress_meter_t *child = progress_meter_new_child(meter, 0, 0.6);
  progress_meter_update(meter, 0.1);
  progress_meter_set_range(meter, child, 0.1, 0.6);
  edge_stack_t stack{static_cast<oriented_id_t *>(ryx_malloc(8 * sizeof(oriented_id_t))), 0, 8};
  for (int32_t a = node_count - 1; a >= 0; a--) {
    const auto node = static_cast<oriented_id_t>(a);
    if (fragment_graph_is_disabled(graph, node)) continue;
    compute_reach(graph, reach, node, &stack);
    compute_reach(graph, reach, flip(node), &stack);
  }
  ryx_free(stack.edges);
  progress_meter_update(meter, 0.6);
  progress_meter_set_range(meter, child, 0.6, 1);

  int32_t branch_count = 0;
  for (int32_t i = 0; i < node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    if (fragment_graph_is_disabled(graph, node)) continue;
    dead_end_check_node(graph, reach, node, branch, &branch_count, kDeadEndBranchLimit, &candidates,
                        &candidate_capacity);
    if (fragment_graph_is_disabled(graph, node)) continue;
    dead_end_check_node(graph, reach, flip(node), branch, &branch_count, kDeadEndBranchLimit, &candidates,
                        &candidate_capacity);
  }
  free(candidates);
  free(branch);
  free(reach);
  progress_meter_update(meter, 1);
  progress_meter_free(child);
}

}  // extern "C"
