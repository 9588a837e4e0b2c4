// Diagnostics and order for the fragment graph: the link, bubble and mark
// checks that the read optimisation runs after every step, the text print
// of nodes and edges, a neighbour-count analysis, and the sort that
// restores the order of every edge list after building.
//
// A node argument of -1 means every node slot from 0 to the node count - 1,
// any other value that one id (a reverse id as given). Disabled slots are
// skipped. The checks print what they find on standard output and go on,
// so that one run lists every problem; they return 1 for a valid graph.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"

extern "C" {

// Every edge in a node's prev (next) list ends (starts) at the node and is
// also in the list of its other end.
int fragment_graph_check_links(const fragment_graph_t *graph, oriented_id_t node);
// Every bubble node, and every bubble start, reaches a bubble end on all
// paths.
int fragment_graph_check_bubbles(const fragment_graph_t *graph, oriented_id_t node);
// No live node holds any of marks 1 to 6.
int fragment_graph_check_marks(const fragment_graph_t *graph, oriented_id_t node);
// 1 when every next edge of n leads to a bubble end or to a bubble node
// from which this holds; a node without next edges fails.
int fragment_graph_reaches_bubble_end(const fragment_graph_t *graph, oriented_id_t node);
// 1 when some next list is out of order (each such node is printed, then
// "Edges in graph is not sorted"), 0 when all are sorted.
int fragment_graph_check_sorted(const fragment_graph_t *graph);

// Text print of one node or of all live nodes: prev edges right-aligned in
// four columns, the node and its fragment, bubble and end-mark states, the
// next edges.
void fragment_graph_print(const fragment_graph_t *graph, oriented_id_t node);
// Prints "Average neighbour count %lld\n": the mean number of distinct nodes
// within depth steps of each live node (0 for a graph without live nodes).
void fragment_graph_print_neighbour_average(fragment_graph_t *graph, int32_t depth);
// Appends every node reached from a within maximum_depth - depth steps
// (both directions) that lacks mark 2 to *list, setting mark 2 on it; the
// list (ryx_malloc'd, *capacity items) doubles when full.
void fragment_graph_collect_neighbours(fragment_graph_t *graph, oriented_id_t a, int32_t depth,
                                       int32_t maximum_depth, oriented_id_t **list, int32_t *count,
                                       int32_t *capacity);
// The same for a single node: marks it, collects, and clears mark 2 on the
// node and on everything collected.
void fragment_graph_collect_node_neighbours(fragment_graph_t *graph, oriented_id_t a, int32_t maximum_depth,
                                            oriented_id_t **list, int32_t *count, int32_t *capacity);

// Sorts the next lists of every node on both strands.
void fragment_graph_sort_edges(fragment_graph_t *graph);
// Sorts one node's next list through the edge buffer (*capacity items,
// ryx_malloc'd, doubled when too small).
void fragment_graph_sort_next_edges(fragment_graph_t *graph, oriented_id_t node, oriented_id_t **buffer,
                                    int32_t *capacity);
// Orders two edge ids (context: the graph) by the target node's oriented
// fragment as unsigned, then by distance.
int fragment_graph_compare_edges(const void *a, const void *b, void *context);

// Two fixed graphs of 16 nodes and word size 20 for trying the tools: the
// first with the edges 3->4, 2->4, 1->4, 0->4, 4->8, 4->7, 4->6, 4->5,
// 10->1, 1->11, 12->5, 13->7, 14->8, the second with 4->2, 4->3, 2->1,
// 3->1, 1->4, all at distance -19.
fragment_graph_t *fragment_graph_new_test_graph1(void);
fragment_graph_t *fragment_graph_new_test_graph2(void);

}  // extern "C"
