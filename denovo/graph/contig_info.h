// Contigs of the fragment graph: maximal paths along which every step is
// forced (each node has one successor node and that successor has one
// predecessor). With bubbles passed, a contig runs from a bubble start
// through the bubble's first branch (the best-supported one after
// fragment_graph_set_bubbles with keep best) to the bubble end and on, and
// the nodes of every branch belong to it.
//
// Contig ids are oriented like nodes: bit 31 reads the contig on the other
// strand, which starts at the reverse of its last node and ends at the
// reverse of its first. A circular contig has end node -1; its first and
// last node are its start node.
//
// Calling order: contig_info_build on a graph with its bubble marks; the
// info describes the graph at that moment, and graph changes are followed
// only through contig_info_update_contig; contig_info_free. The info owns
// its arrays. One thread.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/bit_field_array.h"

extern "C" {

struct contig_info_t {
  int32_t contig_count;
  oriented_id_t *start_nodes;  // first node of each forward contig
  oriented_id_t *end_nodes;    // last node of each forward contig; -1 when circular
  oriented_id_t *node_map;     // per node slot its oriented contig (-1: none), or null
};

// Walks the graph into contigs, passing bubbles when pass_bubbles is set,
// with the node map when with_map is set (then also runs contig_info_check).
// A dead end inside a contig or broken bubble marks end the process with a
// message on standard error and status 1; nodes left without a contig are
// printed and the build goes on.
contig_info_t *contig_info_build(fragment_graph_t *graph, int pass_bubbles, int with_map);
// Frees the arrays and the info (null allowed); returns null.
contig_info_t *contig_info_free(contig_info_t *info);

int32_t contig_info_get_contig_count(const contig_info_t *info);
// First and last node of the contig read in its orientation.
oriented_id_t contig_info_get_first_node(const contig_info_t *info, oriented_id_t contig);
oriented_id_t contig_info_get_last_node(const contig_info_t *info, oriented_id_t contig);
// 1 when the contig has no end node.
int contig_info_is_circular(const contig_info_t *info, oriented_id_t contig);
// The node's oriented contig from the map, reversed for a reverse node; -1
// for a node no contig passed (or without a map).
oriented_id_t contig_info_get_node_contig(const contig_info_t *info, oriented_id_t node);
inline oriented_id_t contig_info_reverse_contig(oriented_id_t contig) { return contig ^ kOrientedIdReverse; }
inline oriented_id_t contig_info_get_contig_index(oriented_id_t contig) { return contig & ~kOrientedIdReverse; }
inline int contig_info_contig_is_reverse(oriented_id_t contig) { return static_cast<int>(contig >> 31); }

// Length in bases along the first-edge path: node lengths plus edge
// distances, the running sum clamped at 0 after each distance; a circular
// contig does not count a positive closing distance. A dead end on the way
// prints "error, contig_info_get_contig_length\n" on standard error and
// exits with status 1.
int32_t contig_info_get_contig_length(const contig_info_t *info, const fragment_graph_t *graph, oriented_id_t contig);
// Nodes on that path (a circular contig's start once); same error.
int32_t contig_info_get_contig_node_count(const contig_info_t *info, const fragment_graph_t *graph,
                                          oriented_id_t contig);

// One forced step from *node (see above); 1 when the walk moved. The
// palindrome flag carries, from a bubble start to its bubble nodes, whether
// the bubble closes on the start's own reverse.
int contig_info_next_node(const fragment_graph_t *graph, oriented_id_t *node, int pass_bubbles, int *palindrome);
// The first and last node of the contig holding node, as the build finds
// them (first -1 and last node for a circular contig: first = last = node).
void contig_info_find_ends(const fragment_graph_t *graph, oriented_id_t node, oriented_id_t *first,
                           oriented_id_t *last, int pass_bubbles);
// The bubble end reached from the bubble start s along first next edges. A
// target that is neither bubble node nor bubble end prints "error,
// search_for_bubble_end 2", a dead end "error, search_for_bubble_end 1",
// both on standard output with status 1.
oriented_id_t search_for_bubble_end(const fragment_graph_t *graph, oriented_id_t s);

// Records contig c on the nodes from a to b (b -1: round to a again) in the
// done table (2-bit fields, bit_field_array_t) and the map (null allowed),
// passing bubbles through set_bubble_done_rec. stack is an edge stack of
// *stack_capacity entries that may be reallocated.
void set_done_rec(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t b, bit_field_array_t *done,
                  oriented_id_t *map, oriented_id_t c, oriented_id_t **stack, int32_t *stack_capacity);
// Records contig c on every node of the bubble at s; returns its bubble end.
oriented_id_t set_bubble_done_rec(const fragment_graph_t *graph, oriented_id_t s, bit_field_array_t *done,
                                  oriented_id_t *map, oriented_id_t c, oriented_id_t **stack, int32_t *stack_capacity);
void contig_info_set_done(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t b, bit_field_array_t *done,
                          oriented_id_t *map, oriented_id_t c, oriented_id_t **stack, int32_t *stack_capacity);

// Walks the contig again from its first node's index after the graph
// changed around it and relabels its nodes in the map (mark 6 as the visit
// mark, clear again afterwards), printing each step on standard output.
void contig_info_update_contig(fragment_graph_t *graph, contig_info_t *info, oriented_id_t contig);
void contig_info_relabel_rec(fragment_graph_t *graph, oriented_id_t node, oriented_id_t stop, oriented_id_t *map,
                             oriented_id_t contig);
void contig_info_clear_relabel_rec(fragment_graph_t *graph, oriented_id_t node, oriented_id_t stop);

// Walks every contig and prints the nodes whose map entry names another
// contig and contigs that end early (whose print then ends the process).
// Returns 1.
int contig_info_check(const contig_info_t *info, const fragment_graph_t *graph);
// "Contig %8.8x (%i) [%8.8x-%8.8x] circular=(%s): " and the nodes of the
// contig's first-edge path, on standard output.
void contig_info_print_contig(const contig_info_t *info, const fragment_graph_t *graph, oriented_id_t contig);

}  // extern "C"
