// Builder trees: the node copies, interior edges and moved border edges that
// a window rebuild makes, collected per component before anything changes
// in the graph.
//
// A node entry is (node index, component index) and gets one copy of the
// node per component; an edge entry (u, v, distance, component index) joins
// two copies of one component, stored canonically (of u -> v and its
// reverse the one whose first node is smaller, unsigned); a border edge
// entry (outside node a, window node c, distance, component index) is the
// edge a -> c that is moved to end on the copy of c. Equal entries are
// stored once, so a node or edge used by many reads costs one entry.
//
// Calling order: the build walks and component_path_one2component add
// entries; component_the_builder_build turns them into graph edits and
// empties the trees. The tree set is owned by the window context and freed
// with it; entries are freed with the trees.
#pragma once

#include <cstdint>

#include "denovo/graph/component_window.h"
#include "denovo/reads/rb_tree.h"

// One 16-byte tree entry. Node entries: a = node index, b = new node id (-1
// until built), c = 0, component. Edge and border edge entries: a = u (or
// the outside node), b = v (or the window node), c = distance, component.
struct component_tree_entry_t {
  uint32_t a;
  uint32_t b;
  int32_t c;
  int32_t component_index;
};

struct component_tree_set_t {
  rb_tree_t *node_tree;
  rb_tree_t *edge_tree;
  rb_tree_t *border_edge_tree;
  int32_t node_count;  // entries inserted
  int32_t edge_count;
  int32_t border_edge_count;
};

extern "C" {

// Three empty trees, counts 0.
component_tree_set_t *component_tree_set_new(void);
// Frees the trees with their entries and the set; accepts null; returns null.
component_tree_set_t *component_tree_set_free(component_tree_set_t *trees);
// Frees every entry and leaves three empty trees with counts 0.
void component_tree_set_clear(component_tree_set_t *trees);

// Single insertions, each only when no equal entry is stored; the node's
// strand is dropped, the edge is stored canonically.
void component_tree_add_node(component_tree_set_t *trees, oriented_id_t node, int32_t component_index);
void component_tree_add_edge(component_tree_set_t *trees, oriented_id_t u, oriented_id_t v, int32_t distance,
                             int32_t component_index);
void component_tree_add_border_edge(component_tree_set_t *trees, oriented_id_t a, oriented_id_t c, int32_t distance,
                                    int32_t component_index);
// The new node id stored for (node index, component), -1 before the build;
// fatal callers check for a missing entry through the returned pointer.
component_tree_entry_t *component_tree_find_node(const component_tree_set_t *trees, oriented_id_t node,
                                                 int32_t component_index);

// Which parts of one crossing component_tree_add_crossing writes.
struct component_crossing_parts_t {
  int has_exit_x;       // the chain's head is the backward exit node X
  int border_at_x;      // write the border edge X -> s1
  int last_step_exits;  // the partial path's last step Y lies outside the window
  int border_at_y;      // write the border edge reverse(Y) -> reverse(tk)
};

// Writes the entries of one crossing X, s1 ... sm, t1 ... tk, Y under the
// component: the chain (from its head: X when present, then s1 ... sm) and
// the partial path's steps (t1 ... tk, Y) give node entries for the window
// nodes, edge entries between consecutive window nodes and the border edges
// asked for. A last step that exits is not written as a node.
void component_tree_add_crossing(component_window_t *context, component_tree_set_t *trees,
                                 const component_chain_link_t *chain, const component_partial_path_t *partial,
                                 component_crossing_parts_t parts, int32_t component_index);

// Builds the context's trees into the graph: a copy per node entry
// (requested on the not-done list, listed for bubble checks when it carries
// bubble bits), an edge per edge entry, each border edge moved onto its copy;
// then empties the trees. Returns 1. A missing node entry is fatal
// (standard error, status 1).
int component_the_builder_build(component_window_t *context);

}  // extern "C"
