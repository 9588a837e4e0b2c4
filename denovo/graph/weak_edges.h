// Cleaning of the fragment graph by read support and by length.
//
// remove_weak_edges drops, at every branching node, the edges that few reads
// support compared with the node's well-supported edges. Bubble nodes keep
// every edge, a bubble start its next edges and a bubble end its prev
// edges, so set the bubble marks first when bubbles are to be kept.
// Threshold per node: a given minimum, or (minimum -1) the automatic one
// from the supports: with mean the integer mean of the candidates' supports
// and m the mean of the supports at or above it, floor(0.5 ln m + m /
// factor); an edge goes when its support is at or below the threshold. With
// m = 0 (every support 0) the threshold is -1 and nothing goes.
//
// remove_tips deletes short dead-end branches at a graph start: a tip of at
// most 500 bases goes when a competing branch into the node where it joins
// is at least twice as long.
//
// Also the read-threading test: whether a read's remaining path is present
// in the graph from a node. All of it runs on one thread and reads the read
// info only.
#pragma once

#include <cstdint>

#include "common/progress_meter.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_info.h"
#include "denovo/reads/read_table.h"

extern "C" {

// Tip length beyond which a tip walk gives up, and the call budget shared by
// the walk and its competing-branch searches.
constexpr int32_t kTipMaxLength = 500;
constexpr int32_t kTipBudget = 200;

// Treats every live node that branches (or touches its own reverse): see
// above. minimum -1 selects the automatic threshold. Reports progress to
// the meter (null allowed) and clears mark 7 of every node treated. Returns 0.
int32_t remove_weak_edges(fragment_graph_t *graph, const read_table_t *table, int32_t minimum, int32_t weak_factor,
                          progress_meter_t *meter);
// The removal at one node index; the edge counts size its table.
void remove_weak_edges_at_node(fragment_graph_t *graph, const read_table_t *table, oriented_id_t node,
                               int32_t minimum, int32_t weak_factor, int32_t prev_count, int32_t next_count);
// The threshold of the automatic rule for these supports (see above).
int32_t remove_weak_edges_threshold(const int32_t *supports, int32_t count, int32_t weak_factor);
// Edge census of a node: prev list size, next list size, prev edges from
// nodes other than node and its reverse, next edges to such nodes, prev
// edges from its reverse, next edges to its reverse, prev edges from itself.
void fragment_graph_count_node_edges(const fragment_graph_t *graph, oriented_id_t node, int32_t *prev_count,
                                     int32_t *next_count, int32_t *prev_from_others, int32_t *next_to_others,
                                     int32_t *prev_from_reverse, int32_t *next_to_reverse, int32_t *prev_from_itself);
// The edge of node's next list that the read at position takes to its next
// element (same distance, target carrying that fragment), or -1.
oriented_id_t fragment_graph_find_read_edge(const fragment_graph_t *graph, const read_info_t *read_info,
                                            read_ptr_t position, oriented_id_t node);
// Orders two {edge id, support} table entries by edge id as unsigned.
int fragment_graph_compare_edge_ids(const void *a, const void *b);
// Orders two (uint32, uint32) pairs by the first, then the second value.
int fragment_graph_compare_edge_pairs(const void *a, const void *b);

// remove_tip_at for every live node index and its reverse; progress to the
// meter (null allowed).
void remove_tips(fragment_graph_t *graph, progress_meter_t *meter);
// When s has no prev edge and all its next edges (at least one) lead to one
// node, walks the tip from s and disables it if a competing branch wins.
void remove_tip_at(fragment_graph_t *graph, oriented_id_t s);
// One step of the tip walk at a, reached by arrival (or -1) with length
// bases of tip before a; 1 when the tip was removed (a included).
int fragment_graph_tip_walk(fragment_graph_t *graph, oriented_id_t a, oriented_id_t arrival, int32_t length,
                            int32_t *budget);
// 1 when some path from a, with length bases before it, reaches target.
int fragment_graph_reaches_length(const fragment_graph_t *graph, oriented_id_t a, int32_t length, int32_t target,
                                  int32_t *budget);

// Bit 1: the read's remaining path from position is present in the graph
// from node. Bit 2: on the way the read entered, at a branching node outside
// bubbles, a successor outside bubbles that lacks mark 1.
int fragment_graph_read_follows_graph(const fragment_graph_t *graph, const read_info_t *read_info,
                                      read_ptr_t position, oriented_id_t node);
// The same for the reversed position from the reverse node.
int fragment_graph_read_follows_graph_reverse(const fragment_graph_t *graph, const read_info_t *read_info,
                                              read_ptr_t position, oriented_id_t node);

}  // extern "C"
