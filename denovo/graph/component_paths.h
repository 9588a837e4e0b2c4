// Component paths: the node paths that reads take through a window, the
// choice between laying a component's dominant path as a chain of node
// copies and rebuilding the component from all its paths, and the partial
// paths that the forward build walks record.
//
// A component_path_one is one read's path from one exterior border node
// through window nodes to another, in forward orientation: step 0 and the
// last step are the border nodes, each step carries the signed distance from
// the step before it (0 for step 0). The backward build walk appends paths
// to the context (component_add_path, stored in the smaller of the two
// orientations); component_build_component_paths merges equal paths,
// builds each component's dominant path (component_build_path) or
// registers all of its paths in the builder trees; the window builder frees
// the paths (component_window_free_paths) once it has decided.
//
// Partial paths and their chain steps live in the context's arrays and are
// cleared after every interior border node.
#pragma once

#include <cstdint>

#include "denovo/graph/component_builder_trees.h"
#include "denovo/graph/component_window.h"

struct component_path_step_t {
  oriented_id_t node;
  int32_t distance;
};

struct component_path_one {
  component_path_step_t *steps;
  int32_t component_index;
  int32_t count;   // reads that follow the path
  int32_t length;  // steps
  uint64_t read_start_ptr;
  uint64_t read_start_index;
  uint64_t read_end_index;
};

extern "C" {

// A path of the chain's nodes from its head, then the partial path's steps
// from first_step on; count is the read count of read_start_ptr and the two
// indices are stored as (smaller, larger).
component_path_one *component_path_one_new(component_window_t *context, const component_chain_link_t *chain,
                                           int32_t first_step, int32_t component_index, uint64_t read_start_ptr,
                                           uint64_t index_a, uint64_t index_b);
// The path read backwards (a new path, other fields copied).
component_path_one *component_path_one_reverse(const component_path_one *path);
// Frees the path (null allowed); returns null.
component_path_one *component_path_one_free(component_path_one *path);
// Makes the path and its reverse and appends the smaller one (steps
// compared; a tie keeps the path) to the context's paths.
void component_add_path(component_window_t *context, const component_chain_link_t *chain, int32_t first_step,
                        int32_t component_index, uint64_t read_start_ptr, uint64_t index_a, uint64_t index_b);
// Frees every path of the context; count 0.
void component_window_free_paths(component_window_t *context);
// Order of two component_path_one pointers: component index, steps (node
// unsigned, distance signed, a prefix first), read_start_ptr,
// read_start_index ascending, read_end_index descending.
int component_path_one_compare(const void *a, const void *b, void *context);
// The steps alone, same rule.
int component_path_one_compare_steps(const component_path_one *a, const component_path_one *b);
void component_path_one_print(const component_path_one *path);

// Lays the path as a chain of node copies joined to its two border nodes;
// returns 1 when the graph changed, 0 when (without force) every window node
// of the path already has exactly one prev and one next edge. Fatal
// (standard error, status 1): fewer than 3 steps "error, component_build_path
// 1\n", a window node without prev or next edge "... 2\n" / "... 3\n".
int component_build_path(component_window_t *context, const component_path_one *path, int force);
// Registers the path's nodes, interior edges and two border edges in the
// trees under its component. Fewer than 3 steps: "error,
// component_path_one2component" (standard output, status 1).
void component_path_one2component(component_window_t *context, component_tree_set_t *trees,
                                  const component_path_one *path);
// Merges equal paths, then per component builds the dominant path (at least
// nine tenths of the reads; strictly more for the component sorting last)
// or registers all its paths; returns nonzero when any build changed the
// graph.
int component_build_component_paths(component_window_t *context, component_tree_set_t *trees, int force);

// Partial paths: clear (with the chain steps); add one for the entry with
// the chain copied from head to root; walk an entry's list (null at the end).
void component_window_clear_partial_paths(component_window_t *context);
void component_window_add_partial_path(component_window_t *context, component_read_entry_t *entry,
                                       const component_chain_link_t *chain, int32_t component_index, uint64_t value);
component_partial_path_t *component_window_first_partial_path(component_window_t *context,
                                                              const component_read_entry_t *entry);
component_partial_path_t *component_window_next_partial_path(component_window_t *context,
                                                             const component_partial_path_t *partial);

}  // extern "C"
