// Bubbles of the fragment graph: regions where paths leave one node (the
// bubble start), run through alternative branches of nearly equal length and
// meet again at one node (the bubble end). Sequencing errors and small
// variants make them. Marking them lets later work treat a bubble as one
// unit: weak-edge and dead-end removal leave bubble nodes alone and contig
// walks pass over them along the first branch.
//
// Marks: a bubble from s to t sets the bubble start of s, the bubble end of
// t (by strand, see fragment_graph.h) and the bubble-node bit 0x10 on every
// node strictly between them; start and end bits are never left on a node
// that lies inside another bubble.
//
// Calling order: fragment_graph_set_bubbles clears and recomputes every
// mark; with keep best it then moves each bubble's best-supported branch to
// the front of the edge lists, after which the lists are no longer sorted
// until fragment_graph_sort_edges runs again. The read info is only read.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_info.h"

extern "C" {

// Clears bits 0x01 to 0x10 of every live node and marks every bubble whose
// branches have gaps of at most max_size bases differing by at most
// max_difference; with keep_best set, then orders each bubble's best branch
// first.
void fragment_graph_set_bubbles(fragment_graph_t *graph, const read_info_t *read_info, int32_t max_size,
                                int32_t max_difference, int keep_best);
// Looks for a bubble starting at the oriented node s, trying the nodes along
// s's first branch as ends while they lie within max_size, and marks the
// first one confirmed in both directions.
void fragment_graph_find_bubble_at(fragment_graph_t *graph, int32_t max_size, int32_t max_difference,
                                   oriented_id_t s);
// The same operation under the name the component code uses.
void fragment_graph_find_bubble(fragment_graph_t *graph, int32_t max_size, int32_t max_difference, oriented_id_t s);

// Read count of the read paths that step from the edge's from-fragment to
// its to-fragment at exactly the edge's distance (0 when none or without a
// read info).
uint32_t fragment_graph_get_edge_support(const fragment_graph_t *graph, const read_info_t *read_info,
                                         oriented_id_t edge);
// Support of the best branch from the edge to the bubble end, a branch
// being as strong as its weakest edge.
int32_t fragment_graph_get_branch_support(const fragment_graph_t *graph, const read_info_t *read_info,
                                          oriented_id_t edge);
// From the bubble start s to the bubble end, moves the edge of the best
// branch to the front at every step (earlier edge wins a tie); stops early
// at a node without next edges.
void fragment_graph_keep_best_branch(fragment_graph_t *graph, const read_info_t *read_info, oriented_id_t s);
// fragment_graph_keep_best_branch for every marked bubble start.
void fragment_graph_keep_best_branches(fragment_graph_t *graph, const read_info_t *read_info);
// Moves the edge to the head of its from-node's next list and of its
// to-node's prev list (the latter skipped for a hairpin).
void fragment_graph_move_edge_to_front(fragment_graph_t *graph, oriented_id_t edge);
// Moves the edge to the head of the node's next list only.
void fragment_graph_move_next_edge_to_front(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);

}  // extern "C"
