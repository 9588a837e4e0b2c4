// Records of the paired optimisation stage: the stage evaluates every contig
// end while the graph is only read, collecting results, and changes the
// graph afterwards on one thread. These records carry the state between the
// two phases.
//
// - paired_context_t names the graph, the read table and the current contig
//   info. The job owns the context and the context owns its contig info
//   until paired_context_take_contig_info hands it out; graph and read table
//   stay the caller's.
// - paired_optimize_result_t is one result of an evaluated contig end:
//   kind 1 an edge to remove, kind 6 a scaffold link, kind 8 a confirmed
//   path of nodes (kind 2 is the search key of the scaffold step, with the
//   layout of kind 6).
// - contig_path_t is a path of oriented ids: in contig form (made by the
//   path enumeration) the oriented contigs from the source contig on, the
//   gap from the end of the source contig to the start of the last contig,
//   and the link the last contig explains; in node form the last node of
//   the source contig, every node of the inner contigs and the first node of
//   the last contig, with distance and link copied.
// - paired_optimize_job_t collects the results in three lists chosen by the
//   bits of the kind (paired_optimize_job_add_result).
//
// Calling order: paired_optimize_job_new; evaluate contig ends (results
// built with the builders below and routed into the job, directly or from
// a collector thread that holds the job's result lock); apply the lists;
// paired_context_take_contig_info; paired_optimize_job_free. Every result
// routed into the job, and the node-form path of every kind-8 result, is
// freed with the job. Contig-form paths live only while one contig end is
// evaluated and are freed by their maker. Nothing here locks: a job shared
// between threads is guarded by its user.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/array_list.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"

struct paired_link_t;  // contig_links.h

extern "C" {

// Result kinds.
constexpr int32_t kPairedResultEdgeRemoval = 1;
constexpr int32_t kPairedResultSearchKey = 2;
constexpr int32_t kPairedResultScaffoldLink = 6;
constexpr int32_t kPairedResultContigPath = 8;

// A library is short when its minimum plus maximum distance is at most this;
// edge removals are made only when some library is short.
constexpr int32_t kPairedShortLibrarySpan = 2001;

struct paired_context_t {
  fragment_graph_t *graph;  // not owned
  read_table_t *table;      // not owned
  contig_info_t *contigs;   // owned; replaced by the scaffold step
};

struct contig_path_t {
  int32_t count;       // ids in the path
  oriented_id_t *ids;  // count oriented contig (contig form) or node (node form) ids; owned
  int32_t distance;    // gap in bases from the end of the source contig to the start of the last one
  paired_link_t *link; // the link the last contig explains; not owned
};

// Kind 1: the edge leaving the end of an evaluated contig that no path uses.
struct paired_edge_removal_t {
  oriented_id_t edge;    // the edge to remove
  oriented_id_t node;    // last node of the evaluated contig
  oriented_id_t target;  // the edge's target node
};

// Kinds 2, 4 and 6: an edge asked for from the end of node from to the start
// of node to, at gap bases (signed). A link with from or to -1 is dead.
struct paired_scaffold_link_t {
  oriented_id_t from;  // last node of the evaluated contig
  oriented_id_t to;    // first node of the target contig in path orientation
  int32_t gap;         // link centre in bases
};

struct paired_optimize_result_t {
  int32_t kind;
  union {
    paired_edge_removal_t removal;  // kind 1
    paired_scaffold_link_t link;    // kinds 2, 4, 6 (and any other three-field kind)
    contig_path_t *path;            // kind 8: node form, owned
  };
};

struct paired_optimize_job_t {
  array_list_t *edge_removals;   // paired_optimize_result_t *, kind 1
  array_list_t *scaffold_links;  // paired_optimize_result_t *, kinds 2, 4, 6
  array_list_t *contig_paths;    // paired_optimize_result_t *, kind 8
  paired_context_t *context;     // owned
  int32_t short_library;         // 1 when some paired library has min + max <= 2001
  int32_t bubble_size;           // from the command line
  int32_t scaffolding;           // 0 when scaffolding is switched off
};

// Result builders; each returns a new record owned by the caller until it
// is routed into a job. Allocation failure ends the process (status 69).
// Kind 1.
paired_optimize_result_t *paired_result_new_edge_removal(oriented_id_t edge, oriented_id_t node, oriented_id_t target);
// Kind 6.
paired_optimize_result_t *paired_result_new_scaffold_link(oriented_id_t from, oriented_id_t to, int32_t gap);
// Kind 8; takes ownership of the node-form path.
paired_optimize_result_t *paired_result_new_contig_path(contig_path_t *path);
// Any kind with three int32 fields (stored as removal for kind 1, else as
// link).
paired_optimize_result_t *paired_result_new(int32_t kind, int32_t field1, int32_t field2, int32_t field3);
// A kind-2 search key by value (for lookups in sorted link lists).
paired_optimize_result_t paired_result_search_key(oriented_id_t from, oriented_id_t to, int32_t gap);
// Frees the result and, for kind 8, its node-form path (null allowed);
// returns null.
paired_optimize_result_t *paired_result_free(paired_optimize_result_t *result);

// Index of the job list a kind goes to: 0 edge removals (bit 0), 1 scaffold
// links (bit 1 or 2), 2 contig paths (bit 3), -1 none.
int paired_result_list_index(int32_t kind);

// Path records. A path of count ids, left unset, with distance and link.
contig_path_t *contig_path_new(int32_t count, int32_t distance, paired_link_t *link);
// A path of one id.
contig_path_t *contig_path_new_first(oriented_id_t first, int32_t distance, paired_link_t *link);
// A copy with its own ids (same link pointer); null for null.
contig_path_t *contig_path_copy(const contig_path_t *path);
// Frees the ids and the path (null allowed); returns null.
contig_path_t *contig_path_free(contig_path_t *path);
// Prints the ids as "%8.8x" joined by " -> " and then " (%i)\n" with the
// distance.
void contig_path_print(FILE *out, const contig_path_t *path);
// Prints "Contig path %4.4x: " (contig_form 1) or "Path %4.4x: " before
// each of the count paths; "(NULL)\n" when paths is null.
void contig_path_print_set(FILE *out, contig_path_t *const *paths, int32_t count, int contig_form);

// The context over graph and table with the given contig info (owned from
// now on, null allowed).
paired_context_t *paired_context_new(fragment_graph_t *graph, read_table_t *table, contig_info_t *contigs);
// Hands the current contig info to the caller and leaves none.
contig_info_t *paired_context_take_contig_info(paired_context_t *context);
// Frees the contig info still held and the context (null allowed); returns
// null.
paired_context_t *paired_context_free(paired_context_t *context);

// 1 when some read file with a pair-distance histogram has a paired setting
// whose minimum plus maximum distance is at most 2001, else 0.
int32_t paired_short_library(const read_table_t *table);

// Creates the three lists, marks bubbles (bubble size, bubble size / 5,
// keeping the best branch), builds the contig info across bubbles with the
// node map, and sets the short-library flag.
paired_optimize_job_t *paired_optimize_job_new(fragment_graph_t *graph, read_table_t *table, int32_t bubble_size,
                                               int32_t scaffolding);
// Compacts the graph's nodes (fragment_graph_set_other_nodes), frees the
// context with the contig info it still holds, every result with its
// node-form path, the lists and the job (null allowed); returns null.
paired_optimize_job_t *paired_optimize_job_free(paired_optimize_job_t *job);
// Appends the result to the list its kind selects and returns 1; a kind
// that selects no list is freed at once and 0 is returned.
int paired_optimize_job_add_result(paired_optimize_job_t *job, paired_optimize_result_t *result);

}  // extern "C"
