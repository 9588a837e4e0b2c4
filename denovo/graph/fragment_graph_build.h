// Building the fragment graph from read paths, compacting its node array,
// and the bounded search that tells whether every path from one node
// reaches another (the test behind bubbles).
//
// Building: fragment_graph_build makes one node per fragment and adds an
// edge for every step between two fragments that enough reads take. The
// edges are linked unsorted; the caller runs fragment_graph_sort_edges
// (fragment_graph_check.h) before any operation that inserts sorted.
//
// Compaction (fragment_graph_set_other_nodes) moves the live nodes over the
// disabled slots so that slot i carries fragment i again, puts the extra
// nodes of a fragment after the fragment count, and chains them through the
// other-node field, starting at the fragment's own slot. It is the only
// operation that renumbers nodes; the edge array and the not-done state are
// left as they are.
#pragma once

#include <cstdint>

#include "common/array_list.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_info.h"
#include "seqio/seq_db.h"

extern "C" {

// One tallied step: reads from a fragment to next at this distance.
struct fragment_graph_tally_t {
  int32_t distance;
  oriented_id_t next;
  int32_t count;
};

// Budget of branching edges one path search may spend.
constexpr int32_t kGraphPathSearchBudget = 200;

// A graph of read_info->fragment_count nodes over the fragment database,
// with the edges of every read step taken by at least minimum_count reads.
// A database holding more fragments than the read info knows prints
// "fragment_graph_build: ..." on standard error and exits with status 1.
fragment_graph_t *fragment_graph_build(seq_db_t *fragments, const read_info_t *read_info, int32_t word_size,
                                       int32_t minimum_count);
// For each fragment i of the database, the read edges of i and of its
// reverse strand.
void fragment_graph_build_edges(fragment_graph_t *graph, const read_info_t *read_info, int32_t minimum_count);
// Tallies the steps that leave fragment a in the read paths and adds an
// unsorted edge for each tally that has minimum_count reads, leads to a
// fragment index at or above a's, has distance >= -k, and leaves both
// fragments a positive length past the overlap. tally is an array list of
// fragment_graph_tally_t, emptied first.
void fragment_graph_add_read_edges(fragment_graph_t *graph, const read_info_t *read_info, oriented_id_t a,
                                   int32_t minimum_count, array_list_t *tally);

// Compaction (see above). Afterwards the node free list is empty and the
// node count is the larger of the live nodes and the fragment count.
void fragment_graph_set_other_nodes(fragment_graph_t *graph);

// 1 when every path from start reaches target with a gap of at most
// max_length bases and within the edge budget, else 0; the smallest and
// largest gap found go to *minimum and *maximum, the budget spent to
// *budget (set to max_length, -100 and 0 first).
int fragment_graph_path_search(const fragment_graph_t *graph, oriented_id_t start, oriented_id_t target,
                               int32_t max_length, int32_t *minimum, int32_t *maximum, int32_t *budget);
// The recursion behind it: length is the gap reached at node a; first is 1
// for the call at the start node.
int fragment_graph_path_search_rec(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t target,
                                   int32_t length, int32_t max_length, int32_t *minimum, int32_t *maximum,
                                   int32_t *budget, int first);
// Marks every node strictly between start and end as a bubble node (and
// clears its bubble start and end bits); every path from start must reach
// end, which a successful path search guarantees.
void fragment_graph_mark_bubble_inner(fragment_graph_t *graph, oriented_id_t start, oriented_id_t end, int first);
// fragment_graph_mark_bubble_inner, then the bubble start of start and the
// bubble end of end, each unless that node is a bubble node.
void fragment_graph_mark_bubble(fragment_graph_t *graph, oriented_id_t start, oriented_id_t end);

}  // extern "C"
