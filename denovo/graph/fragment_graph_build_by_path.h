// Building a node path into the graph as an unbranched chain of its own.
//
// fragment_graph_build_by_path takes a path start -> inner nodes -> end whose
// consecutive nodes are joined by edges and gives the inner nodes fresh
// copies, so that the path becomes a chain that no other path shares: the
// first edge of start into the first inner node and the first edge of the
// last inner node into end are moved onto the copies, and the edges between
// inner nodes are copied between the copies. The original inner nodes keep
// their other edges (the graph's other paths through them). The copies and
// both ends get mark2. A symmetric path (end = reverse(start) and the last
// inner node = reverse(first)) reads the same on both strands; its end edge
// is the reverse of its start edge, so the end gets a new edge instead of a
// moved one.
//
// The copies are new node slots whose other-node chains are not linked;
// fragment_graph_set_other_nodes restores the chains. One thread.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"

extern "C" {

// Builds the path start, inner[0 .. inner_count - 1], end. Returns 1 when the
// graph changed, 0 when every inner node already has exactly one prev and
// one next edge (the path is unique; nothing changes). Unless skip_checks is
// set or the path is symmetric, an inner node without prev edge or without
// next edge is an internal error; so is inner_count < 1 and a missing start
// or end edge. Internal errors print "internal error in
// fragment_graph_build_by_path N\n" on standard error and exit with status 1.
int fragment_graph_build_by_path(fragment_graph_t *graph, oriented_id_t start, const oriented_id_t *inner,
                                 int32_t inner_count, oriented_id_t end, int skip_checks);

// The first edge of from's next list that leads to to, or -1.
oriented_id_t fragment_graph_find_next_edge_to(const fragment_graph_t *graph, oriented_id_t from, oriented_id_t to);

// 1 when every consecutive pair of the node path is joined by an edge.
int fragment_graph_path_is_connected(const fragment_graph_t *graph, const oriented_id_t *nodes, int32_t count);

}  // extern "C"
