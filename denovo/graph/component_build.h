// The window builder: the graph edit of read-supported window resolution.
//
// Given the components of the current window (component_get_components),
// component_build threads the reads once more to collect, per component,
// the full paths or the node and edge structure its reads use; it lays a
// component's dominant path as a chain of node copies or rebuilds the
// component from its own copies (builder trees); the reachable build then
// gives every remaining exterior border node its own copy of what its reads
// reach; finally every old window node is disabled and the bubbles around
// the rebuilt area are marked again.
//
// Calling order: component_window_set_nodes, component_get_components (or
// component_get_components_above_count), then component_build with that
// list. Everything lives in the context's pools; copies made by the tree
// builds are requested on the not-done list for the next unfolding pass.
// Marks: 1 (window membership) while the call runs, 2 and 3 as listing
// flags, 4 on listed bubble check nodes; all are clear on return, and after
// a rebuild the old window nodes are disabled.
#pragma once

#include <cstdint>

#include "denovo/graph/component_window.h"

extern "C" {

// Rebuilds the window from the components; returns nonzero when the graph
// changed, 0 (graph untouched) when there is no component or the single
// component already uses every border and interior edge of the window.
// Fatal (standard output, status 1): non-empty builder trees "red black
// tree contains elements", an empty window "component sanity check,
// component_node_count is 0".
int component_build(component_window_t *context, component_list_t *components);

// The decision step inside component_build (window nodes marked 1, paths
// and trees collected): nonzero when the window was rebuilt and disabled.
int component_build_window(component_window_t *context, component_list_t *components);

// Gives every remaining exterior border node its own copies of what the
// reads reach from it (window nodes marked 1); returns 0.
int component_the_builder_build_reachable_paths(component_window_t *context, component_read_list_t *list);

// Outer bubble check: lists x (when outside the window, with mark 2) and the
// bubble nodes and ends after it for re-marking.
void component_set_outer_bubble_check_nodes_sub(component_window_t *context, fragment_graph_t *graph,
                                                oriented_id_t node);
void component_set_outer_bubble_check_nodes_sub2(component_window_t *context, fragment_graph_t *graph,
                                                 oriented_id_t node);

// Collects the bubble branches from node that only run into bubble ends in
// the window (nodes with mark 2, and the edges into those ends); returns
// nonzero when some branch reaches a bubble end outside the window.
int component_remove_bubble_death_end(fragment_graph_t *graph, oriented_id_t node, oriented_id_t **nodes,
                                      int32_t *node_count, int32_t *node_capacity, oriented_id_t **edges,
                                      int32_t *edge_count, int32_t *edge_capacity);
// Unsigned order of two edge indices.
int component_edge_index_compare(const void *a, const void *b, void *context);

// Gives component index k to every exterior border node entered from the
// bubble branches after node.
void component_set_bubble_component_index(component_window_t *context, fragment_graph_t *graph, oriented_id_t node,
                                          int32_t k);

// Bubble check list: clear (count 0); add (unless the slot has mark 4: set
// it and append the index); compact (keep entries still marked 4, clearing
// the mark); clear marks; print; re-mark the bubbles around listed nodes.
void component_window_clear_bubble_check_nodes(component_window_t *context);
void component_window_add_bubble_check_node(component_window_t *context, oriented_id_t node);
void component_window_compact_bubble_check_nodes(component_window_t *context);
void component_window_clear_bubble_check_marks(component_window_t *context);
void component_window_print_bubble_check_nodes(const component_window_t *context);
void component_window_remark_bubbles(component_window_t *context);

}  // extern "C"
