// Contig overlap resolution: closes short scaffold gaps whose two contig
// ends overlap in truth. For every scaffold join {from f, to t, gap g} whose
// gap edge is still in place and shorter than twice the word size, the end
// of the sequence before the gap (ending with f) is aligned locally against
// the start of the sequence after it (starting with t); a convincing
// alignment gives a merged sequence, stored in the gap-sequence map under
// the gap edge, and the gap edge becomes an overlap edge of minus the merged
// length. The contig writer later spells the merged sequence in place of
// the two ends.
//
// Calling order: after scaffolding, with bubbles marked and the contig info
// of the scaffolded graph, one call to contig_overlap_resolve. It runs a
// pipeline of one producer (the joins to align, in list order), the worker
// threads (get_number_of_cpus(), each with its own aligner, scoring and two
// side buffers) and one applier.
//
// Determinism: workers only read the graph; every distance they see is the
// one it had before the pipeline. The applier collects the results and,
// once every worker is done, applies them in join order: the gap edge's new
// distance, the map entry and the node marks. The result is therefore the
// same for any worker count and any timing, and equals a one-worker run.
//
// Ownership: the map is created here and returned to the caller, who frees
// it with gap_sequence_map_free; the join list is consumed. The graph and
// the contig info stay the caller's. The fragment database is entered only
// under the shared record's node-sequence mutex.
//
// Marks left on nodes: mark2 on the nodes the merged sequence covers; the
// scaffold end marks (mark4, mark5) are moved to the nodes where the merged
// sequence ends, or cleared where the scaffold no longer has a gap.
#pragma once

#include <pthread.h>

#include <climits>
#include <cstdint>

#include "common/array_list.h"
#include "common/thread_queue.h"
#include "denovo/app/gap_sequence_map.h"
#include "denovo/app/local_align.h"
#include "denovo/app/scaffolding.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"

extern "C" {

// Residues taken at most from either side of a join.
constexpr int32_t kContigOverlapMaxSide = kGapSequenceMaxSide;
// Distance of the gap edge of a rejected join whose gap was 1 or less.
constexpr int32_t kContigOverlapRejectedDistance = 2;
// Marks a result whose gap edge keeps its distance.
constexpr int32_t kContigOverlapKeepDistance = INT32_MIN;

struct contig_overlap_result_t;

// What every thread of the pipeline shares.
struct contig_overlap_shared_t {
  thread_arbiter_t *arbiter;           // the pipeline's arbiter (first member by convention)
  fragment_graph_t *graph;             // read by every thread, changed by the applier after the workers
  gap_sequence_map_t *map;             // filled by the applier
  const array_list_t *joins;           // scaffold_join_t items
  const contig_info_t *info;           // contigs of the scaffolded graph (with node map)
  pthread_mutex_t node_sequence_mutex; // held around every fetch from the fragment database
  contig_overlap_result_t **results;   // by join index, filled by the applier
};

// The outcome of one join, from a worker to the applier.
struct contig_overlap_result_t {
  int64_t index;        // position of the join in the list
  gap_sequence_t *gap;  // new merged-sequence entry (owned) when accepted, else null
  oriented_id_t edge;   // the join's gap edge (also for a rejected join, whose distance may change)
  int32_t distance;     // new distance of edge, or kContigOverlapKeepDistance
};

// Resolves the overlaps of the joins in *join_slot and returns the new
// gap-sequence map; null (nothing done) when the slot or the list it holds
// is null. The list is freed and the slot set to null. table and
// bubble_size are not used.
gap_sequence_map_t *contig_overlap_resolve(fragment_graph_t *graph, const contig_info_t *info, read_table_t *table,
                                           int32_t bubble_size, array_list_t **join_slot);

// The pipeline over the join list (see above); entries go into map.
void contig_overlap_run(fragment_graph_t *graph, gap_sequence_map_t *map, const array_list_t *joins,
                        const contig_info_t *info);

// 1 when join {from, to, gap} is worth aligning: the first next edge of from
// exists, leads to to, has distance gap, and gap is below 2 x word size.
int contig_overlap_join_is_candidate(const fragment_graph_t *graph, const scaffold_join_t *join);

// Aligns one join with the worker's aligner, scoring and side buffers (each
// of kContigOverlapMaxSide residues) and returns its new result. Reads the
// graph only.
contig_overlap_result_t *contig_overlap_align_join(contig_overlap_shared_t *shared, const scaffold_join_t *join,
                                                   local_align_result_t *alignment,
                                                   const local_align_scoring_t *scoring, seq_record_t *a,
                                                   seq_record_t *b);

// 1 when an alignment of score s is convincing for a gap g at word size k:
// s > 0 and either |g| <= k and s > k / 2, or |g| > k and s > min(k, k / 2
// + (|g| - k) / 5), or s > k / 4 with the alignment reaching to within 2
// residues of A's end (end_a >= length_a - 2), starting within B's first 2
// residues (start_b <= 2) and g < k.
int contig_overlap_accepts(int32_t k, int32_t g, int32_t score, int32_t end_a, int32_t length_a, int32_t start_b);

// Copies the codes (0 to 4) along the contig from node start, following
// first next edges and laying overlapping fragments over each other, into
// buffer, at most limit residues; stops before node stop, at a positive
// distance, at an overlap longer than the bases copied from the node before,
// or at a node without next edge. *length gets the residues copied.
void contig_overlap_copy_node_sequence(const fragment_graph_t *graph, oriented_id_t start, int32_t limit,
                                       oriented_id_t stop, int32_t *length, uint8_t *buffer,
                                       contig_overlap_shared_t *shared);

// Widens merged, the merge of alignment a[start_a, end_a) against b[start_b,
// end_b), over the neighbouring columns where exactly one of a and b has an
// N, taking the residue that is not N; moves the alignment's starts and ends
// accordingly. Returns merged itself when nothing is added, else a new
// record (merged is then freed).
seq_record_t *contig_overlap_merge_sequences(local_align_result_t *alignment, const seq_record_t *a,
                                             const seq_record_t *b, seq_record_t *merged);

// The overlap scoring: codes 0 to 4, +1 for equal bases, -5 for different
// ones, 0 for a base against N, -2 for N against N, -5 per gap position.
local_align_scoring_t *contig_overlap_scoring_new(void);

// Applies one result to the graph and the map (see the marks above) and
// frees it. A result whose edge already has a map entry, in either
// orientation, is dropped whole.
void contig_overlap_apply(contig_overlap_shared_t *shared, contig_overlap_result_t *result);

// Frees a result and the entry it still holds (null allowed); returns null.
contig_overlap_result_t *contig_overlap_result_free(contig_overlap_result_t *result);

}  // extern "C"
