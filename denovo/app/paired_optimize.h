// The paired graph optimisation driver: read pairs improve the fragment
// graph and scaffold it. Every eligible contig end is evaluated while the
// graph is only read: its links to other contigs (contig_links.h) and the
// contig paths that explain them (contig_paths.h) give results of three
// kinds (paired_optimize_records.h): a confirmed path to rebuild as its own
// chain (kind 8), edges at the end that no path uses (kind 1, short-insert
// libraries only) and scaffold links (kind 6). Afterwards the results are
// applied on the calling thread in a fixed order: edge removals and
// confirmed paths (paired_apply.h), then scaffolding (scaffolding.h).
//
// Calling order: paired_optimize_graph (one thread) or
// paired_optimize_graph_threaded (a producer of contig batches, a group of
// evaluating workers and a collector, on the common queues); both give the
// same graph, since the application sorts every list before it uses it.
// Both return the contig info of the final graph and store the scaffold
// join list (array_list_t of scaffold_join_t, possibly empty) into the
// slot; the caller owns both. With a null slot the join list is freed.
//
// Threads: workers read the graph, the contig info and the read table and
// write nothing of them. A contig end is claimed once; the threaded sweep
// keeps its claims in an atomic bitmap of its own, so that no worker writes
// a node's flag word while others read its bubble bits. The single-threaded
// sweep claims through marks 1 and 2 of the end node. The application step
// clears every flag before it changes the graph.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "common/array_list.h"
#include "common/progress_meter.h"
#include "common/thread_group.h"
#include "denovo/app/contig_links.h"
#include "denovo/app/contig_paths.h"
#include "denovo/app/paired_optimize_records.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"

extern "C" {

// A contig shorter than this takes part only when it has an edge.
constexpr int32_t kPairedMinLoneContig = 40;
// Source contigs shorter than this make no scaffold links, and links need a
// target at least this long.
constexpr int32_t kPairedMinScaffoldContig = 120;
// The producer cuts a batch once its summed contig length exceeds this.
constexpr int64_t kPairedBatchLength = 10000;

// Shared by the threads of the threaded sweep (its first member is the
// arbiter, as the thread groups expect).
struct paired_shared_t {
  thread_arbiter_t *arbiter;
  paired_optimize_job_t *job;
  pthread_mutex_t result_mutex;       // guards the job's three lists
  progress_meter_t *meter;            // the sweep meter; only the producer updates it
  std::atomic<uint8_t> *claims;       // per node slot: bit 0 forward end claimed, bit 1 reverse end
  int32_t claim_count;                // slots in claims
};

// Runs the paired stage on one thread. Returns the contig info of the final
// graph; stores the join list into *join_slot (freed when the slot is
// null). Internal errors of path building and scaffolding end the process.
contig_info_t *paired_optimize_graph(fragment_graph_t *graph, read_table_t *table, int32_t bubble_size,
                                     int32_t scaffolding, progress_meter_t *meter, array_list_t **join_slot);
// The same with the sweep on get_number_of_cpus() workers.
contig_info_t *paired_optimize_graph_threaded(fragment_graph_t *graph, read_table_t *table, int32_t bubble_size,
                                              int32_t scaffolding, progress_meter_t *meter,
                                              array_list_t **join_slot);

// 1 when contig index i takes part: not circular, no end in a bubble, and
// not a lone node under 40 bases without edges.
int paired_contig_is_eligible(const paired_context_t *context, int32_t contig_index);

// Evaluates one oriented contig end unless it was claimed before. worker:
// the worker's thread arguments (results go to its output queue) or null
// (results go into the job). links: the end's links when the caller has
// built them (kept, not freed), else null and they are built here; partner
// links are not used and may be null.
void paired_optimize_contig(paired_optimize_job_t *job, thread_args_t *worker, oriented_id_t contig,
                            contig_links_t *links, contig_links_t *partner);
// Turns the links of one end and its enumerated paths (null for none) into
// results; the budget left in links says whether the enumeration was
// complete.
void paired_optimize_evaluate(paired_optimize_job_t *job, thread_args_t *worker, contig_links_t *links,
                              contig_links_t *partner, const contig_path_list_t *paths);
// 0 the first time the oriented contig end is claimed, 1 afterwards.
int contig_end_claim(fragment_graph_t *graph, const contig_info_t *info, oriented_id_t contig,
                     thread_args_t *worker);
// The node form of a contig path: the last node of the first contig, every
// node of the inner contigs along first next edges, the first node of the
// last contig; distance and link copied.
contig_path_t *contig_path_to_nodes(const paired_context_t *context, const contig_path_t *path);
// Emits a kind-1 result for every next edge at the path set's end contig
// (reversed: the far end of the first path) that leads to no first node of
// the set's contigs. Nothing for a null or empty set.
void paired_results_add_edge_removals(paired_optimize_job_t *job, thread_args_t *worker,
                                      const contig_path_list_t *paths, int reversed);
// Emits kind-6 results for the candidate links and for every link that
// passes the placement test (collect mode, targets of at least 120 bases),
// in candidate order, stopping at the first whose gap would swallow either
// contig. Nothing when the source contig is under 120 bases.
void paired_results_add_scaffold_links(paired_optimize_job_t *job, thread_args_t *worker, contig_links_t *links,
                                       array_list_t *candidates);

// The application after the sweep: clears every flag, removes edges,
// builds confirmed paths, scaffolds, frees the job (compacting the graph)
// and returns the final contig info. sweep: the sweep's child meter (re-
// ranged here and freed).
contig_info_t *paired_optimize_apply(paired_optimize_job_t *job, progress_meter_t *meter, progress_meter_t *sweep,
                                     array_list_t **join_slot);

}  // extern "C"
