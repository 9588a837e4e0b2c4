// Applying the first two result lists of the paired sweep to the graph:
// the edge removals (kind 1) and the confirmed contig paths (kind 8).
//
// Calling order (one thread, after the sweep; the scaffold links follow in
// scaffolding.h): paired_apply_edge_removals, then paired_apply_contig_paths.
// Both sort the list they are given (a list of paired_optimize_result_t
// pointers owned by the job) and change the graph of the context:
// - an edge removal unlinks the edge once, however often it is named, and
//   sets mark1 on the contig end it was removed from;
// - a confirmed path is built into the graph as its own chain of copied
//   nodes (fragment_graph_build_by_path), which sets mark2 on the copies and
//   the path's two end nodes. A path some of whose consecutive nodes are no
//   longer joined by an edge (an earlier build moved it) is skipped and
//   marked invalid by setting its first node to -1; scaffolding skips such
//   paths.
#pragma once

#include "common/array_list.h"
#include "denovo/app/paired_optimize_records.h"

extern "C" {

// Removes the edges of the kind-1 results in ascending edge id order; an
// edge already removed is left alone. Sorts the list.
void paired_apply_edge_removals(paired_context_t *context, array_list_t *removals);

// Builds the kind-8 node paths into the graph in the order of
// paired_apply_path_order; invalid paths get first node -1. Sorts the list.
// The internal errors of fragment_graph_build_by_path end the process.
void paired_apply_contig_paths(paired_context_t *context, array_list_t *paths);

// Order of the confirmed paths: node index (strand ignored) element by
// element, a path before the longer ones it starts, then smaller distance,
// then the oriented ids (so that equal keys are ordered the same way in
// every run). Negative, zero or positive like strcmp.
int paired_apply_path_order(const contig_path_t *a, const contig_path_t *b);

}  // extern "C"
