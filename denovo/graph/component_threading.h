// Read threading through windows: the reads standing on a node are followed
// along the graph, edge by edge, for as long as each read's next step (next
// oriented fragment and distance) matches an edge, and every step out of
// the window is recorded.
//
// The walk merges two sorted sequences at every level: the entries, sorted
// by continuation (as component_read_list_fill and component_read_list_reverse
// leave them), and the node's next edges, sorted by (target fragment,
// distance). Entries that share a step form a run, which is handed to the
// next level in place; parallel edges with the same key are each walked with
// the same run (read pointers restored in between). Per-level flags and
// saved read pointers come from the context's scratch stacks and are released
// before a level returns.
//
// The window walks treat a target as inside the window when its slot carries
// mark 1; the caller marks the window nodes and clears the marks afterwards.
// Walks move the entries' read pointers (component_get_read_paths restores
// them) and set flags: a flag becomes 1 once an exit was recorded for the
// entry (or, in component_thread_reads, once the read ended).
//
// The build walks also carry a chain of the nodes they passed, one link per
// level on the call stack. Forward build walks start with no chain and
// record partial paths (component_paths.h) at every exit: the nodes after
// the start node up to the exit node with the exit's component index.
// Backward build walks start from the reverse of the interior border node
// with the chain (that node, 0); at an exit they join the chain with the
// entry's partial paths into component paths or builder tree entries
// (component_builder_trees.h). The component index of the window info must
// be filled before a build walk runs.
#pragma once

#include <cstdint>

#include "denovo/graph/component_builder_trees.h"
#include "denovo/graph/component_window.h"

extern "C" {

// Follows every entry into every matching target (no window); flags entries
// whose read ends on the way.
void component_thread_reads(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                            oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n);
// component_thread_reads over a whole read list.
void component_thread_read_list(component_window_t *context, oriented_id_t node, component_read_list_t *list);

// Window walk recording a crossing (exit node, index in path and read
// pointer of the element on the exit node) per entry at every exit.
void component_get_crossings_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                 oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n);
// component_get_crossings_sub over a whole read list.
void component_get_crossings(component_window_t *context, oriented_id_t node, component_read_list_t *list);

// Window walk pairing each exit with every crossing of the entry into a
// component_read_path; both read pointers are ORed with mask (0 or all ones).
void component_get_read_paths_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                  oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n,
                                  uint64_t mask);
// component_get_read_paths_sub over a whole read list, whose read pointers
// are restored afterwards.
void component_get_read_paths(component_window_t *context, oriented_id_t node, component_read_list_t *list,
                              uint64_t mask);

// Forward build walk: per entry and exit, a partial path with the exit
// node's component index and the index in path of the exit element.
void component_get_next_build_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                  oriented_id_t node, component_read_entry_t *entries, int32_t *flags, int32_t n,
                                  component_chain_link_t *chain);
// Backward build walk: at an exit of component index b, each partial path
// of the entry under b becomes a component path (component size 1) or a
// whole crossing in the trees (other sizes). A whole crossing without chain:
// "error component_get_next_build_and_write_sub 2" (standard output, status 1).
void component_get_next_build_and_write_sub(component_window_t *context, fragment_graph_t *graph,
                                            const read_info_t *info, oriented_id_t node,
                                            component_read_entry_t *entries, int32_t *flags, int32_t n,
                                            component_chain_link_t *chain, component_tree_set_t *trees);
// Forward reachable walk: partial paths with the exit's component index (and
// value 0) at exits, with -2 for reads that end or match no edge inside the
// window.
void component_get_next_build_reachable_sub(component_window_t *context, fragment_graph_t *graph,
                                            const read_info_t *info, oriented_id_t node,
                                            component_read_entry_t *entries, int32_t *flags, int32_t n,
                                            component_chain_link_t *chain);
// Backward reachable walk: at an exit of index b, the backward half under b
// and the forward half under each partial path's own index; for a read that
// ends inside, the forward halves. Missing chain: "error
// component_get_next_build_reachable_and_write_sub 1" or "... 2" (standard
// output, status 1).
void component_get_next_build_reachable_and_write_sub(component_window_t *context, fragment_graph_t *graph,
                                                      const read_info_t *info, oriented_id_t node,
                                                      component_read_entry_t *entries, int32_t *flags, int32_t n,
                                                      component_chain_link_t *chain, component_tree_set_t *trees);
// Information walk from an exterior border node, away from the window: a
// step back into the window is followed; a step out of the window from a
// window node, or from a node outside that branches and is no bubble node,
// counts every entry of the run not counted yet (link 0 -> 1, its path's
// read count added); any other step is followed along the chain. Returns
// the reads counted.
int32_t component_get_more_info_sub(component_window_t *context, fragment_graph_t *graph, const read_info_t *info,
                                    oriented_id_t node, component_read_entry_t *entries, int32_t n);
// component_get_more_info_sub over a whole read list (links 0 to start).
int32_t component_get_more_info_sub_list(component_window_t *context, oriented_id_t node,
                                         component_read_list_t *list);

}  // extern "C"
