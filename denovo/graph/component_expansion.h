// Window expansion: when a window has a single component that cannot be
// rebuilt, growing the window helps only if the reads that leave it carry
// information beyond it, that is, go on past a point outside where the
// graph branches. component_get_more_info measures that for every path
// group of the last component_get_components; component_get_expandable_nodes
// then proposes groups of outside nodes to add to the window, each group the
// union of the node chains that lead from suitable border nodes to the next
// branching point. The unfolding tries the groups one after another.
//
// Calling order: component_get_components (components.h) on the current
// window, then component_get_more_info and component_get_expandable_nodes,
// which read its path groups. The expansion overwrites a path group's border
// node that lies in a bubble with the bubble start in the window.
//
// Ownership: the expandable node groups belong to the caller
// (component_expandable_nodes_free). All failures are fatal (status 1).
//
// Marks: 1 window membership; 2 and 3 forward and reverse candidates; 4
// candidate taken (before the candidates are chosen: excluded forward node);
// 5 partner of a node taken in the current sweep (before: excluded reverse
// node); 6 node already in the current group's chains. All are clear when a
// call returns.
#pragma once

#include <cstdint>

#include "denovo/graph/component_window.h"
#include "denovo/graph/components.h"

// Groups of outside nodes to add to the window: group i is the group_sizes[i]
// nodes from group_starts[i], all inside the one node buffer.
struct component_expandable_nodes_t {
  oriented_id_t **group_starts;
  int32_t *group_sizes;
  oriented_id_t *nodes;
  int32_t group_count;
};

extern "C" {

// 1 when the node's next edges reach at least two different nodes, except a
// bubble start whose bubble end is its own reverse (0). A bubble walk off the
// bubble: "error, search_for_bubble_end 1" (standard output, status 1).
int component_node_is_branching(const fragment_graph_t *graph, oriented_id_t node);
// 1 when the node's next edges reach at least two different nodes.
int component_node_has_two_successors(const fragment_graph_t *graph, oriented_id_t node);

// Nonzero when some path group of the last component_get_components has
// reads that go on past a branching node outside the window; writes the two
// more-information counts of every path group.
int32_t component_get_more_info(component_window_t *context);

// Appends the nodes of the bubble from bubble_start (except window nodes and
// nodes already carrying mark 6) to the buffer, setting mark 6 on each;
// returns the bubble end (-1 when bubble_start has no next edge). A branch
// node that is neither a bubble node nor a bubble end: "error,
// get_bubble_nodes2\n" on standard error, status 1.
oriented_id_t get_bubble_nodes2(fragment_graph_t *graph, oriented_id_t bubble_start, oriented_id_t **buffer,
                                int32_t *count, int32_t *capacity);
// Appends the chain from node (a window node must be a bubble start: its
// bubble is taken first) to the next branching point; returns the number of
// nodes appended, 0 when the chain does not end well (then the buffer count
// and the nodes' marks 6 are restored). Window nodes are marked 1 by the
// caller. "error 1, get_expandable_node_path\n" (a window node that is not
// a bubble start) and "error 2, get_expandable_node_path\n" (its bubble end
// in the window), standard error, status 1.
int32_t get_expandable_node_path(fragment_graph_t *graph, oriented_id_t node, oriented_id_t **buffer, int32_t *count,
                                 int32_t *capacity);
// The chain walk of get_expandable_node_path from node: 1 when the chain
// ends well (at a branching node, at a bubble whose end is free, or back in
// the window), 0 at a dead end, a taken bubble end or a cycle.
int component_expandable_path_sub(fragment_graph_t *graph, oriented_id_t node, oriented_id_t **buffer,
                                  int32_t *count, int32_t *capacity);

// The expandable node groups of the current window over all path groups of
// the last component_get_components, or null when there is none. A border
// node in a bubble whose bubble start is not a window node:
// "component_get_expandable_nodes error 0 (1), node %x is not in window\n"
// (standard output, status 1).
component_expandable_nodes_t *component_get_expandable_nodes(component_window_t *context);
// The same over the path groups of the single component of components;
// another component count prints "component_get_expandable_nodes,
// components->component_count != 1" and returns null.
component_expandable_nodes_t *component_get_expandable_nodes_of_component(component_window_t *context,
                                                                          const component_list_t *components);
// Frees the groups (null allowed); returns null.
component_expandable_nodes_t *component_expandable_nodes_free(component_expandable_nodes_t *groups);
// Prints the expandable node groups of the current window (standard output).
void component_print_expandable_nodes(component_window_t *context);

// The reverse of the bubble end reached from the reverse of node along first
// next edges through bubble nodes: the bubble start before node. -1 when a
// step has no next edge; a step off the bubble: "error,
// search_for_bubble_end 1" (standard output, status 1).
oriented_id_t component_bubble_start_before(const fragment_graph_t *graph, oriented_id_t node);
// Marks the outside neighbours on the prev side of the first window node
// (bubble nodes replaced by their bubble start) as excluded: mark 4 when
// forward, mark 5 when reverse. Window nodes carry mark 1.
void component_mark_first_node_neighbours(fragment_graph_t *graph, oriented_id_t first_node);
// Clears what component_mark_first_node_neighbours set.
void component_clear_first_node_neighbours(fragment_graph_t *graph, oriented_id_t first_node);

}  // extern "C"
