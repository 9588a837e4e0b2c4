// Component windows: the long-lived context of read-supported window
// resolution. A window is a small list of graph nodes; the context holds
// the graph, the read info whose paths are threaded through the window, the
// window's border description (window_info_t) and every pool that the
// threading, component and building steps fill and reuse from one window to
// the next. The pools only grow.
//
// Calling order: component_window_new; then per window
// component_window_set_nodes (or add/remove nodes), after which the window
// info, the read list, crossings, read paths and component index may be
// used; component_window_free at the end. The context owns its pools, its
// window info and its read list; the graph and the read info stay with the
// caller. Single-threaded.
//
// Node marks: every operation that marks nodes clears its marks before it
// returns. Mark 1 means "in the window" while a window operation runs;
// marks 2 and 3 flag listed border nodes inside get_window_info; mark 4
// flags the nodes on the bubble check list of the window builder.
//
// The builder's pools (builder trees, partial paths, chain steps, bubble
// check nodes, component paths) are filled by component_paths,
// component_builder_trees and component_build; the context owns them and
// frees them with itself.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_info.h"

// The border description of the current window.
struct window_info_t {
  int32_t interior_node_count;
  int32_t interior_edge_count;  // edges with both ends in the window, a hairpin once
  int32_t border_edge_count;    // edges with exactly one end in the window, per window-side end
  int32_t exterior_border_node_count;
  int32_t exterior_border_capacity;
  // Outside nodes reached over a border edge, in the orientation reached when
  // leaving the window; no repeats; ascending as unsigned 32-bit values.
  oriented_id_t *exterior_border_nodes;
  int32_t interior_border_node_count;
  int32_t interior_border_capacity;
  // Window nodes with at least one border edge, as given, in discovery order.
  oriented_id_t *interior_border_nodes;
  // Per exterior border node: (component index, component size), (-1, 0) when unset.
  int32_t (*component_index)[2];
};

// A stack of scratch blocks for the recursive walks. Blocks come from the
// buffer while it has room and no heap block is out; otherwise from the
// heap. Blocks are released in the reverse order of allocation. When the
// stack empties the buffer grows to the largest demand seen.
struct component_scratch_stack_t {
  void *buffer;
  int32_t used;
  int32_t capacity;
  int32_t high_water_mark;
  int32_t reserved_total;
  int32_t heap_block_count;
};

// One read occurrence on the listed node: the read's current element (moved
// along by the walks) and a link (first crossing, -1 = none).
struct component_read_entry_t {
  read_ptr_t read_ptr;
  int32_t link;
};

// The reads standing on one oriented fragment, one entry per occurrence,
// with a parallel flag per entry (nonzero once a walk recorded an exit).
struct component_read_list_t {
  component_read_entry_t *entries;
  int32_t *flags;
  oriented_id_t fragment;
  int32_t count;
  int32_t capacity;
};

// One exit of a read from the window found by a forward walk.
struct component_crossing_t {
  uint64_t index_in_path;  // of the read's element on the exit node
  uint64_t read_ptr;       // that element, in the direction of the walk
  oriented_id_t exit_node;
  int32_t next;  // next crossing of the same entry, -1 = last
};

// One read crossing the window from one exterior border node to another,
// normalised: indices (smaller, larger), nodes (smaller, larger) with each
// read pointer kept with its own node.
struct component_read_path {
  uint64_t read_start_ptr;
  uint64_t read_start_index;
  uint64_t read_end_index;
  uint64_t prev_read_ptr;  // at prev_node, or all ones
  uint64_t next_read_ptr;  // at next_node, or all ones
  uint32_t prev_node;
  uint32_t next_node;
};

// One pair of exterior border nodes that reads connect.
struct component_path_group_t {
  // 1 while in no component; inside a component, the next group of it
  // (null ends the list).
  component_path_group_t *link;
  uint32_t prev_node;
  uint32_t next_node;
  int32_t count;
  int32_t more_info_prev;
  int32_t more_info_next;
  read_ptr_t *prev_read_list;
  read_ptr_t *next_read_list;
  int32_t list_length;
  int32_t row;
};

// Link value of a path group that belongs to no component.
inline component_path_group_t *component_path_group_unlinked() {
  return reinterpret_cast<component_path_group_t *>(static_cast<uintptr_t>(1));
}

// Scratch row of the component search: a run of sorted group indices.
struct component_group_row_t {
  int32_t *indices;
  int32_t count;
  int32_t visited;
};

// The components of the current window: per component its size (path
// groups) and its first path group (groups chained through their link).
struct component_list_t {
  int32_t component_count;
  int32_t *sizes;
  component_path_group_t **first_groups;
  int32_t capacity;
};

// The builder trees (component_builder_trees.h) and one read's node path
// through the window (component_paths.h).
struct component_tree_set_t;
struct component_path_one;

// What a forward build walk recorded for one read list entry at one exit
// (or, with component index -2, where the read ended or diverged inside the
// window): its steps after the start node, chained through the context's
// chain step array.
struct component_partial_path_t {
  int32_t first_step;       // first chain step, -1 = none
  int32_t next;             // next partial path of the same entry, -1 = last
  int32_t component_index;  // of the exit node; -2 = ended inside the window
  uint64_t value;           // index in path of the exit element, or 0
};

// One stored step of a partial path.
struct component_chain_step_t {
  int32_t next;  // following step towards the exit, -1 = last
  oriented_id_t node;
  int32_t distance;  // from the step before it
};

// The chain a build walk carries on its call stack, one link per level; the
// head is the newest link.
struct component_chain_link_t {
  component_chain_link_t *previous;
  oriented_id_t node;
  int32_t distance;
};

struct component_window_t {
  fragment_graph_t *graph;  // not owned
  read_info_t *read_info;   // not owned; searchable
  window_info_t *window_info;
  component_tree_set_t *builder_trees;
  int32_t bubble_size;
  component_scratch_stack_t int_scratch;
  read_ptr_t *group_prev_reads;
  read_ptr_t *group_next_reads;
  int32_t group_read_capacity;
  component_scratch_stack_t u64_scratch;
  component_read_list_t *read_list;
  component_crossing_t *crossings;
  int32_t crossing_count;
  int32_t crossing_capacity;
  component_read_path *read_paths;
  component_read_path **read_path_ptrs;
  int32_t read_path_count;
  int32_t read_path_capacity;
  component_path_group_t *path_groups;
  component_path_group_t **path_group_ptrs;
  int32_t path_group_count;
  int32_t path_group_capacity;
  component_group_row_t *group_rows;
  int32_t group_row_capacity;
  int32_t component_node_count;
  int32_t component_node_capacity;
  oriented_id_t *component_nodes;
  component_list_t components;
  component_partial_path_t *partial_paths;
  int32_t partial_path_capacity;
  int32_t partial_path_count;
  component_chain_step_t *chain_steps;
  int32_t chain_step_capacity;
  int32_t chain_step_count;
  int32_t bubble_check_count;
  int32_t bubble_check_capacity;
  oriented_id_t *bubble_check_nodes;  // node indices
  int32_t component_path_count;
  int32_t component_path_capacity;
  component_path_one **component_paths;
};

extern "C" {

// A context with every pool at its initial room, an empty window and an
// empty component list. The graph and read info are borrowed.
component_window_t *component_window_new(fragment_graph_t *graph, read_info_t *read_info, int32_t bubble_size);
// Frees the context and everything it owns; accepts null; returns null.
component_window_t *component_window_free(component_window_t *context);

// Replaces the window by n node ids (n may be 0) and computes its window
// info. A node given twice (either strand) or already marked 1: "component
// sanity check, node %x defined multiple time\n" on standard output, status 1.
void component_window_set_nodes(component_window_t *context, const oriented_id_t *nodes, int32_t n);
// Appends n node ids (same check) and recomputes the window info.
void component_window_add_nodes(component_window_t *context, const oriented_id_t *nodes, int32_t n);
// Drops the last k window nodes and recomputes the window info.
void component_window_remove_last_nodes(component_window_t *context, int32_t k);
// Fills the window info of the n nodes, whose slots the caller has marked 1
// (and clears afterwards); returns the exterior border node count. An odd
// interior half-count: "get_window_info: error, uneven number of interior
// edges\n" on standard error, status 1.
int32_t get_window_info(fragment_graph_t *graph, window_info_t *info, const oriented_id_t *nodes, int32_t n);
// Recomputes only the sorted exterior border node list of the window (nodes
// marked 1 by the caller).
void component_window_update_exterior_border_nodes(component_window_t *context);
// Prints the window and its info on standard output.
void component_window_print(const component_window_t *context);
// 1 when the node has at least one next edge and all reach one node.
int component_node_has_one_successor(const fragment_graph_t *graph, oriented_id_t node);

// Scratch blocks of n entries (int blocks from the buffer come cleared);
// release in the reverse order of allocation.
int32_t *component_window_alloc_ints(component_window_t *context, int32_t n);
void component_window_release_ints(component_window_t *context, int32_t *block, int32_t n);
uint64_t *component_window_alloc_u64s(component_window_t *context, int32_t n);
void component_window_release_u64s(component_window_t *context, uint64_t *block, int32_t n);

// A read list with room for 10 entries and fragment -1; free accepts null
// and returns null.
component_read_list_t *component_read_list_new(void);
component_read_list_t *component_read_list_free(component_read_list_t *list);
void component_read_list_set_fragment(component_read_list_t *list, oriented_id_t fragment);
// Empties the list and appends every sorted occurrence of its fragment
// (link -1, flag 0).
void component_read_list_fill(component_read_list_t *list, const read_info_t *info);
// Empties the list and appends (read_ptrs[i], link 0) with flag 0.
void component_read_list_load(component_read_list_t *list, const read_ptr_t *read_ptrs, int32_t n);
// Appends one entry.
void component_read_list_add(component_read_list_t *list, read_ptr_t read_ptr, int32_t link, int32_t flag);
// Turns the list of fragment f after a forward walk into the list of the
// reverse of f, keeping only flagged entries (with their links) in the
// sorted order of the reverse fragment; flags become 0.
void component_read_list_reverse(component_window_t *context, component_read_list_t *list, const read_info_t *info);
// Debug dump of the entries with their paths and, by groups, their partial
// paths, else their crossings (standard output).
void component_read_list_print(const component_window_t *context, const component_read_list_t *list,
                               const read_info_t *info, int by_groups);

// Crossings: count 0; head insertion into the entry's list; list walk
// (null at the end).
void component_window_clear_crossings(component_window_t *context);
void component_window_add_crossing(component_window_t *context, component_read_entry_t *entry, oriented_id_t exit_node,
                                   uint64_t index_in_path, uint64_t read_ptr);
component_crossing_t *component_window_first_crossing(component_window_t *context, const component_read_entry_t *entry);
component_crossing_t *component_window_next_crossing(component_window_t *context, const component_crossing_t *crossing);

// Component index, parallel to the sorted exterior border nodes. A node that
// is not an exterior border node ends the process (standard output, status 1).
void component_window_reset_component_index(component_window_t *context);
void set_component_index(component_window_t *context, oriented_id_t node, int32_t index);
void set_component_index_and_size(component_window_t *context, oriented_id_t node, int32_t index, int32_t size);
int32_t get_component_index(const component_window_t *context, oriented_id_t node);
// Writes the node's (index, size) entry to out.
void get_component_index_size(const component_window_t *context, oriented_id_t node, int32_t out[2]);
void component_window_print_component_index(const component_window_t *context);

// Read paths: count 0; append one normalised record; sort the pointer array
// by component_read_path_compare; print.
void component_window_clear_read_paths(component_window_t *context);
void component_window_add_read_path(component_window_t *context, uint64_t read_start_ptr, uint64_t index_a,
                                    uint64_t index_b, uint64_t read_ptr_1, uint64_t read_ptr_2, uint32_t node_1,
                                    uint32_t node_2);
// Order of two component_read_path pointers: prev_node, next_node,
// read_start_ptr, read_start_index ascending, read_end_index descending,
// then the prev read pointer ascending (a record with pointers before its
// copy without).
int component_read_path_compare(const void *a, const void *b, void *context);
void component_window_sort_read_paths(component_window_t *context);
void component_window_print_read_paths(const component_window_t *context);

}  // extern "C"
