// Dead-end removal: at a node with several successors, a successor whose
// whole forward continuation is much shorter than the node's longest
// continuation is disabled together with what only it leads to.
//
// Two passes over the graph. The first computes the reach table: for every
// oriented node, the length in bases of the longest path after its end (sum
// of edge distances and node lengths, the node itself not counted); a cycle
// makes it unbounded (INT32_MAX). The second compares each node end's
// successors against its reach: a successor d reached by edge c goes when
// 4 x (reach[d] + length of d + distance of c) is below the node's reach
// (below 4000 when that is unbounded), d's own reach is bounded and d is no
// bubble node. Bubble starts and bubble nodes are never the origin of a
// removal.
//
// A removed branch is everything reachable from d, at most 1000 nodes (a
// larger branch stays), but a node that is also entered from outside the
// branch stays with everything behind it: a short branch that rejoins the
// main path takes only its own nodes. Marks 1 and 2 are the visit marks of
// the forward and reverse strand and are clear again when the call returns.
#pragma once

#include <cstdint>

#include "common/progress_meter.h"
#include "denovo/graph/fragment_graph.h"

extern "C" {

// Reach value not yet computed, and the value of an unbounded reach.
constexpr int32_t kDeadEndUnset = INT32_MIN;
constexpr int32_t kDeadEndUnbounded = INT32_MAX;
// Most nodes one branch removal may take.
constexpr int32_t kDeadEndBranchLimit = 1000;

// Both passes over the whole graph; progress to the meter (null allowed).
// A table that cannot be allocated prints "Out of memory in
// remove_dead_ends" on standard output and exits with status 1.
void remove_dead_ends(fragment_graph_t *graph, progress_meter_t *meter);
// Slot of an oriented node in the reach table: 2 x index + strand.
int64_t dead_end_value_index(oriented_id_t node);
// First pass from one node end: fills the reach of a and of every node end
// it reaches whose value is not known yet.
void dead_end_compute_reach(fragment_graph_t *graph, int32_t *reach, oriented_id_t a);
// Second pass at one node end: removes the successor branches that are too
// short. branch is a buffer of limit node ids; candidates (with its
// capacity) is reused from call to call and may be reallocated.
void dead_end_check_node(fragment_graph_t *graph, const int32_t *reach, oriented_id_t a, oriented_id_t *branch,
                         int32_t *branch_count, int32_t limit, oriented_id_t **candidates,
                         int32_t *candidate_capacity);
// Collects the branch from d and disables the part of it that is entered
// only from within (d itself always); 1 when the branch was removed, 0 when
// it held more than limit nodes (marks cleared, nothing changed).
int dead_end_remove_branch(fragment_graph_t *graph, oriented_id_t d, oriented_id_t *branch, int32_t *branch_count,
                           int32_t limit);
// Appends every node reachable from n (never walking back into the root
// index) to the buffer, marking each by strand; 0 when the buffer filled up.
int dead_end_collect_branch(fragment_graph_t *graph, oriented_id_t n, oriented_id_t root_index,
                            oriented_id_t *branch, int32_t *branch_count, int32_t limit);

}  // extern "C"
