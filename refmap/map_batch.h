// Batch mapping of the hash mapper: the mapping step of the pipeline
// (map_pipeline.h), which maps one read batch against the current packed
// reference block and folds the hits into the reads' result slots, and the
// pairing of mates.
//
// A read i of a batch becomes two queries of one matcher (align/matcher.h):
// its codes at index 2i and its reverse complement at 2i + 1, the strand
// following from the parity. Both are left out for an absent read, a read
// whose batch bit says it already has hits, or a read shorter than the
// level's minimum query length; the strand options leave out one of them.
// A slot keeps the hits of the best score found over both strands, every
// block and every pass of the level; hits of equal score accumulate, and
// past the report limit R a uniform sample of R is kept while every hit is
// counted.
//
// Paired batches (four slots per pair: read 1 single, read 1 pair, read 2
// single, read 2 pair) also pair the two reads' hits by block position:
// pairs in the file's orientation and distance window go into the two pair
// slots at equal indexes, the rest stay single hits. A read that already
// has hits from an earlier block or pass is not searched again; its stored
// hits in the block serve as its mate's partners.
//
// Everything touched belongs to the batch or to the calling worker; random
// choices draw from the batch's generator; only the progress record is
// shared (under its mutex).
#pragma once

#include <cstdint>

struct alignment_hit_t;
struct alignment_info_t;
struct hit_iterator_t;
struct map_context_t;
struct map_worker_params_t;
struct read_batch_t;
struct ref_block_t;

// The pipeline's mapping step (a map_batch_fn): maps the batch with the
// worker record (a map_worker_params_t), then adds the batch's reads and
// work to the progress record.
void map_batch(map_context_t *context, read_batch_t *batch, void *worker);
// Maps an unpaired batch.
void map_batch_unpaired(map_context_t *context, read_batch_t *batch, map_worker_params_t *worker);
// Maps a paired batch and pairs its mates.
void map_batch_paired(map_context_t *context, read_batch_t *batch, map_worker_params_t *worker);

// Pairs the hits of iterators a and b (both in block-position order): every
// hit goes to its read's single slot (unless that read is done), and every
// pair whose measuring points lie min_distance to max_distance apart (both
// included) on one reference sequence into the pair slots after the two
// single slots. Measuring points are the hit's start when *_at_start is set,
// else its end (swapped on the reverse strand).
void map_pair_mates(map_context_t *context, read_batch_t *batch, hit_iterator_t *a, hit_iterator_t *b,
                    const ref_block_t *block, alignment_info_t *slot_a, alignment_info_t *slot_b, int32_t a_reverse,
                    int32_t b_reverse, int32_t cap, int32_t min_distance, int32_t max_distance, int32_t a_at_start,
                    int32_t b_at_start, int32_t a_done, int32_t b_done);

// Takes the iterator's current hit into a single slot: skipped when it lies
// in the block overlap; cap 0 stores without limit; cap > 0 stores until the
// slot holds cap hits (reducing an over-full slot to R first), then samples;
// cap -1 stores R hits and samples the rest uniformly.
void map_hit_insert(map_context_t *context, read_batch_t *batch, hit_iterator_t *iterator, const ref_block_t *block,
                    alignment_info_t *slot, int32_t reverse, int32_t cap);
// Inserts every remaining hit of the iterator with map_hit_insert.
void map_hits_insert_all(map_context_t *context, read_batch_t *batch, hit_iterator_t *iterator,
                         const ref_block_t *block, alignment_info_t *slot, int32_t reverse, int32_t cap);
// True when the iterator's current hit lies in the stretch a block repeats
// from the previous one: it was found there already.
bool map_hit_in_block_overlap(hit_iterator_t *iterator, const ref_block_t *block);
// map_hit_insert without the overlap test: adds while the slot holds fewer
// than a positive limit, else replaces a sampled hit.
void map_hit_store(map_context_t *context, read_batch_t *batch, hit_iterator_t *iterator, const ref_block_t *block,
                   alignment_info_t *slot, int32_t reverse, int32_t limit);
// The iterator's current hit as a stored-hit record (code borrowed from the
// iterator): sequence index and offset of its aligned start in the block.
void map_hit_from_iterator(hit_iterator_t *iterator, const ref_block_t *block, int32_t reverse,
                           alignment_hit_t *hit);
