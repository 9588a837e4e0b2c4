// Scaffolding: joins contig ends across gaps with gap edges, from the
// scaffold links that the paired sweep collected (kind-6 results: from node,
// to node, gap in bases).
//
// Calling order (one thread, after the edge removals and the confirmed
// paths have been built into the graph): paired_scaffold with the job, its
// scaffold-link list and its contig-path list. It
//  1. keeps only the links confirmed from both strands (scaffold_links_pair),
//  2. moves links that start inside a confirmed path to the path's far end
//     (scaffold_links_move_to_path_ends),
//  3. rebuilds bubbles and the contig info and drops links that became
//     useless (scaffold_links_drop_unusable),
//  4. repeats passes of moving links to contig ends, adding gap edges
//     (scaffold_links_join), rebuilding the contig info and dropping useless
//     links, until a pass leaves no link or does not shorten the list.
// Each gap edge sets the scaffold end mark of its two nodes (mark4 for the
// first gap edge at a node, mark5 for a second). Each gap edge shorter than
// twice the word size is recorded as a scaffold_join_t, which overlap
// resolution later may close with a merged sequence.
//
// Ownership: the links stay owned by the job; the join list is created here
// and handed to the caller through the slot (the caller frees it). When no
// slot is given the list is freed here. The job's contig info is replaced
// by each rebuild; the last one describes the final graph.
#pragma once

#include <cstdint>

#include "common/array_list.h"
#include "denovo/reads/read_info.h"

struct fragment_graph_t;
struct paired_optimize_job_t;
struct paired_context_t;
struct paired_optimize_result_t;
struct contig_path_t;
struct progress_meter_t;

extern "C" {

// One gap edge short enough that the contig ends on both sides may overlap.
// Items of the join list are stored by value.
struct scaffold_join_t {
  int32_t flags;       // always 0 when made by scaffolding
  oriented_id_t from;  // node the gap edge leaves
  oriented_id_t to;    // node the gap edge enters
  int32_t gap;         // edge distance in bases
};

// Largest gap difference (bases) at which two links, or a link and its
// partner from the other strand, count as the same join.
constexpr int32_t kScaffoldPairTolerance = 40;
// A link may be moved to its contig end over at most this many bases when
// the move makes it overlap by more than the word size.
constexpr int32_t kScaffoldMaxEndMove = 2000;

// Runs scaffolding over the job's graph. links: the kind-6 results
// (pointers, owned by the job; the list is sorted, the links changed); paths: the kind-8
// results after path building (invalid paths have first node -1). Stores a
// new array_list_t of scaffold_join_t into *join_slot, or frees it when the
// slot is null. A link whose node lies in no contig ends the process with
// status 1 (see scaffold_links_move_to_contig_ends).
void paired_scaffold(paired_optimize_job_t *job, array_list_t *links, const array_list_t *paths,
                     progress_meter_t *meter, array_list_t **join_slot);

// The steps, in the order paired_scaffold runs them. Link lists are
// array_list_t of paired_optimize_result_t pointers; dead links have from
// or to -1.

// A new list of the links (of list) that a partner link on the other strand
// confirms: {reverse(to), reverse(from)} with a gap within 40 bases, both
// gaps then set to their mean. Sorts list by (from, to, gap).
array_list_t *scaffold_links_pair(array_list_t *list);
// Moves links that start on a confirmed path node to the path's far end
// (or kills them, see the source); sorts list by (from, to, gap).
void scaffold_links_move_to_path_ends(paired_context_t *context, array_list_t *list, const array_list_t *paths);
// Bases between node path[j] and the path's end: forward, from the end of
// path[j] to the end of the last node; reverse, from the start of path[0] to
// the start of path[j]. -1 when an edge needed is missing.
int32_t contig_path_distance_to_end(const fragment_graph_t *graph, const contig_path_t *path, int32_t j,
                                    int reverse);
// Removes links that are dead, lie within one contig, or touch a contig
// that is its own reverse.
void scaffold_links_drop_unusable(paired_context_t *context, array_list_t *list);
// Moves every link to the last node of its from contig and the first node
// of its to contig, or drops it when the move would make it overlap by more
// than the word size over too long a stretch. A node in no contig prints
// "Internal error: " and the link on standard output and exits with status 1.
void scaffold_links_move_to_contig_ends(paired_context_t *context, array_list_t *list);
// Adds a gap edge for each link confirmed by its partner and first at its
// node; appends a join for gaps below 2 x word size. Sorts list by (from,
// gap, to).
void scaffold_links_join(paired_context_t *context, array_list_t *list, array_list_t *joins);
// Adds the edge (from, to, gap) unless one already leads from from to to
// (returns 1 when added), then removes every other next edge of from and of
// reverse(to).
int scaffold_link_apply(fragment_graph_t *graph, const paired_optimize_result_t *link);

}  // extern "C"
