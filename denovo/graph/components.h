// Components of a window: groups of reads that cross the window between
// pairs of exterior border nodes, joined into components when they share a
// border node.
//
// component_get_components threads every read standing on an interior
// border node through the current window of the context (forward to find
// where it leaves, then backward from the reverse node, pairing the two
// exits into component_read_path records), groups the read paths by their
// pair of border nodes into path groups with a read count (a read passage
// found from several interior border nodes counts once), and joins the
// groups whose count is above a threshold into components. Only reads found
// from the first interior border node carry read pointers into the groups'
// read lists. The path groups stay in the context until the next call, so
// component_get_components_above_count can rebuild the components with
// another threshold. Everything lives in the context's pools; the returned
// list is the context's own. Marks 1 are set on the window nodes during the
// call and cleared before it returns.
#pragma once

#include <cstdint>

#include "denovo/graph/component_window.h"

// Edge counts of one node: real edges on either side, u-turns (edges to or
// from the node's own reverse) and loops (prev edges from the node itself).
struct component_edge_counts_t {
  int32_t real_prev;
  int32_t real_next;
  int32_t prev_u_turns;
  int32_t next_u_turns;
  int32_t loops;
};

extern "C" {

// The components of the current window, built from path groups whose count
// is greater than threshold; empty when the window is not worth resolving.
// Valid until the next call. Fatal (standard output, status 1): an empty
// window "component sanity check, component_node_count is 0", a node -1 or
// a bubble walk without next edge "error, component_get_components node is
// -1", a bubble walk off the bubble "error, search_for_bubble_end 1".
component_list_t *component_get_components(component_window_t *context, int32_t threshold);
// Rebuilds the components of the last component_get_components with a new
// threshold; components is not read.
component_list_t *component_get_components_above_count(component_window_t *context, component_list_t *components,
                                                       int32_t threshold);
// Prints the components with their groups and read lists (standard output).
void component_list_print(const component_list_t *components);

// Path groups: count 0; append (link 1, more-information counts 0); order of
// two group indices (context: the window context) by prev_node, next_node
// unsigned; sort an index array; print.
void component_window_clear_path_groups(component_window_t *context);
void component_window_add_path_group(component_window_t *context, uint32_t prev_node, uint32_t next_node, int32_t count,
                                     read_ptr_t *prev_read_list, read_ptr_t *next_read_list, int32_t list_length);
int component_path_group_compare(const void *a, const void *b, void *context);
void component_sort_group_indices(component_window_t *context, int32_t *indices, int32_t n);
void component_window_print_path_groups(const component_window_t *context);

// Groups the sorted read paths into path groups.
void component_window_group_read_paths(component_window_t *context, const read_info_t *info);
// Joins the path groups with count above threshold into components.
component_list_t *component_window_make_components(component_window_t *context, int32_t threshold);
// Runs the depth-first search over the first row_count group rows.
component_list_t *component_window_collect_components(component_window_t *context, int32_t row_count);
// Adds row r's groups to component i and searches the rows they lead to.
void component_collect_component(component_window_t *context, int32_t row, int32_t component);

// Counts the edges of node.
component_edge_counts_t component_node_edge_counts(const fragment_graph_t *graph, oriented_id_t node);
// Sets (component, size) in the component index for both border nodes of
// every group of every component. Fatal (standard output, status 1): a
// node that is not an exterior border node, or one in two components.
void component_set_component_index_sizes(component_window_t *context, const component_list_t *components);

}  // extern "C"
