// The not-done work lists of the fragment graph: window resolution takes
// nodes one by one from the current list and requests every node whose
// neighbourhood changed for the next pass. The two lists live inside the
// graph without allocation: they are linked through the nodes' other-node
// field (-1 ends a list) and membership is one of the two generation bits
// 0x4000 / 0x8000 of the node's flags. When the current list runs out, the
// next list becomes current and an empty list becomes next.
//
// Calling order: fragment_graph_reset_not_done_nodes (fragment_graph_new
// starts a graph in that state), then takes and requests. Compaction
// rewrites every other-node field, so the lists are valid only between a
// reset and the next compaction. Lists hold node indices; the strand of an
// id passed in is ignored.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"

extern "C" {

// Puts every node slot, disabled or not, on the current list in index order
// with the current bit 0x4000; the next list is empty.
void fragment_graph_reset_not_done_nodes(fragment_graph_t *graph);
// Requests the node for the next pass; a node already requested stays
// listed once, a node still waiting in the current list is moved when the
// current list reaches it.
void fragment_graph_set_not_done_node(fragment_graph_t *graph, oriented_id_t node);
// The next node index of the current pass, or -1 when the pass is over (the
// generations are then swapped). Disabled nodes are dropped from the list
// with both generation bits cleared. A listed node without the current bit
// (corrupted lists) prints five diagnostic lines on standard output and
// exits with status 1.
oriented_id_t fragment_graph_get_not_done_node(fragment_graph_t *graph);
// Nodes on either list.
int32_t fragment_graph_get_not_done_count(const fragment_graph_t *graph);

}  // extern "C"
