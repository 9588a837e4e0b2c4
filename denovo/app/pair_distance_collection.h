// Pair-distance collection: measures how far apart the two reads of each
// read pair really lie by walking the contigs of the read-optimised graph.
// Every pair whose two ends fall on one contig adds the distance between
// them to the histogram of its read file (the read table's
// pair_dist_info_t); a pair whose ends lie on the same strand of the contig
// raises that file's wrong-direction counter instead.
//
// Positions: a contig is walked from its first node along next edges; each
// node gets its offset in bases on the contig. An end whose read lies in a
// fragment carried by a single node (a unique fragment) is placed at that
// node; an end on a read path through a repeated fragment is moved along
// its path to the nearest element on a unique fragment (anchoring). Pair
// offsets and read-path offsets then give the exact distance (see
// paired_distance_place_pair).
//
// Calling order: after read optimisation, on a compacted graph
// (fragment_graph_set_other_nodes: the other-node links chain the nodes of
// each fragment) whose bubble marks are valid, and a finished read table
// (searchable read info, sorted pairs):
// paired_distance_collect (the threaded pipeline) or, equally,
// paired_distance_collect_direct (one thread). Both add to what the
// histograms hold and leave node mark1 clear in every node slot. The walker
// and tally functions below are the steps they are built from.
//
// Threads: a producer queues batches of up to 20 contigs, get_number_of_cpus()
// workers walk them, each with its own walker, into a tally per batch, and
// one merger adds the tallies to the read table's histograms. Workers only
// read the graph and the read table, except mark1 on the nodes of their own
// contigs (contigs share no node). The result does not depend on the number
// of threads or on their timing.
#pragma once

#include <cstdint>

#include "common/thread_queue.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"

extern "C" {

// Contigs per batch of the pipeline.
constexpr int32_t kPairedDistanceBatchContigs = 20;

// One read pair whose end 1 was found on the contig being walked.
struct pair_placement_t {
  oriented_id_t mate_fragment;  // unique fragment of end 2 (or of the element end 2 was anchored to)
  int32_t node_offset;          // bits 0-30: offset of end 1's node (plus the anchoring distance); bit 31: end 1 reverse
  const read_pair_t *pair;
  read_ptr_t read_ptr1;  // end 1's read-path element after anchoring; -1 for an end in a fragment
  read_ptr_t read_ptr2;  // end 2's read-path element after anchoring; -1 for an end in a fragment
};

// Offset on the contig of a node that carries a unique fragment.
struct fragment_offset_t {
  oriented_id_t fragment;  // as the node carries it
  int32_t offset;
};

// Up to kPairedDistanceBatchContigs contig indices on their way through
// the pipeline, with the tally of their pairs once walked.
struct paired_distance_tally_t;
struct contig_batch_t {
  int32_t contigs[kPairedDistanceBatchContigs];
  int32_t count;
  paired_distance_tally_t *tally;  // owned; set by the worker
};

// Shared by every thread of one collection; the arbiter comes first.
struct paired_distance_shared_t {
  thread_arbiter_t *arbiter;
  const contig_info_t *info;
  fragment_graph_t *graph;
  read_table_t *table;
};

// Per-thread scratch of the contig walk (lists of placements, fragment
// offsets and the branch stack), reused for every contig.
struct paired_distance_walker_t;

// Fills the read table's histograms from the pairs placed along the
// contigs (contig_info_build (graph, 1, 0), every contig whose first and
// last node differ) with the pipeline, then clears mark1 in every node
// slot. Does nothing without read pairs. Failures end the process (a graph
// whose contigs cannot be built, allocation).
void paired_distance_collect(read_table_t *table, fragment_graph_t *graph);
// The same on the calling thread only; the histograms end up identical.
void paired_distance_collect_direct(read_table_t *table, fragment_graph_t *graph);

// A walker over the graph and read table (both must outlive it).
paired_distance_walker_t *paired_distance_walker_new(fragment_graph_t *graph, const read_table_t *table);
// Frees the walker (null allowed); returns null.
paired_distance_walker_t *paired_distance_walker_free(paired_distance_walker_t *walker);

// An empty tally for the read table's files.
paired_distance_tally_t *paired_distance_tally_new(const read_table_t *table);
// Frees the tally (null allowed); returns null.
paired_distance_tally_t *paired_distance_tally_free(paired_distance_tally_t *tally);
// Adds the tally to the read table's histograms: per placed distance one
// more in its bin and in counted, one less in not counted; the
// wrong-direction counts to the counters. Leaves the tally empty.
void paired_distance_tally_apply(paired_distance_tally_t *tally, read_table_t *table);

// Walks contig (oriented, as contig_info gives it) from its first node,
// sets mark1 on every node visited, collects the pairs whose end 1 lies
// on it and adds every pair whose mate fragment was visited too to the
// tally. At a branch every edge but the last is kept on a stack; a node
// that closes a bubble, is entered by another edge first or was visited
// already is passed over while the stack offers another way. A node is
// never visited twice, so each pair is counted once and the walk ends.
void paired_distance_place_contig(paired_distance_walker_t *walker, const contig_info_t *info, oriented_id_t contig,
                                  paired_distance_tally_t *tally);

// Collects the placements of the pairs [first, first + count) whose end 1
// lies on node at offset (strand flag 1: on the reverse of the node's
// fragment); pairs whose ends cannot be anchored or whose mate lies on no
// unique fragment are skipped.
void paired_distance_collect_ends(paired_distance_walker_t *walker, const read_pair_t *first, uint64_t count,
                                  oriented_id_t node, int64_t offset, int strand);

// Outcomes of paired_distance_place_pair.
constexpr int32_t kPairPlaced = 0;
constexpr int32_t kPairWrongDirection = 1;

// Places a collected pair against the fragment offset of its mate: returns
// kPairWrongDirection when both reads lie on one strand of the contig, else
// kPairPlaced with the signed distance from end 1 to end 2, measured in
// end 1's direction, in out_distance.
int32_t paired_distance_place_pair(const fragment_graph_t *graph, const read_table_t *table,
                                   const fragment_offset_t *mate, const pair_placement_t *placement,
                                   int64_t *out_distance);

// Offset in bases of the element's fragment from the start of its read
// path read in the element's direction (0 for the first element).
int64_t read_path_offset(const fragment_graph_t *graph, const read_info_t *info, read_ptr_t element);

// 1 when the fragment is carried by one node only (its fragment node has no
// other node), else 0.
int paired_distance_fragment_is_unique(const fragment_graph_t *graph, oriented_id_t fragment);

// Moves *element along its read path to the nearest element on a unique
// fragment that the graph reaches from node (-1: any), looking backward
// first, then forward. Returns the signed distance by which the node offset
// of end 1 changes (strand flag as for paired_distance_collect_ends), or 0
// when no element qualifies (*element unchanged).
int64_t read_path_anchor_unique(const fragment_graph_t *graph, const read_info_t *info, read_ptr_t *element,
                                oriented_id_t node, int strand);

// 1 when node is -1, or when following first next edges from node (its
// reverse with reverse set) reaches a node carrying fragment (strand
// ignored) within steps edges without meeting a fragment longer than 200
// bases; else 0.
int graph_reaches_fragment(const fragment_graph_t *graph, oriented_id_t fragment, oriented_id_t node, int32_t steps,
                           int reverse);

// Pipeline threads; args->context is the paired_distance_shared_t.
void *paired_distance_producer(void *args);
void *paired_distance_worker(void *args);
void *paired_distance_merger(void *args);

}  // extern "C"
