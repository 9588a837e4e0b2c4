// The mapping pipeline of the hash mapper: one pass of a mapping context
// over the current reference block, and the merge of a length group's
// results in read order.
//
// map_pipeline_run is seven stages of thread groups joined by six bounded
// queues of common/thread_queue.h (capacity 2N) under one arbiter that lets
// N threads run (in-flight budget 4N batches):
//   1 produce (1 thread)  map_context_next_batch, put with weight 1
//   2 fetch   (1)         read_batch_fetch
//   3 decode  (1)         read_batch_decode
//   4 map     (N)         the mapping callback with the thread's worker
//                         record, then read_batch_encode_results (as the
//                         split will leave the batch)
//   5 reorder (1)         restores sequence order
//   6 encode  (1)         read_batch_split_unmapped into the next-pass
//                         context (when there is one), then
//                         read_batch_release_slots
//   7 store   (1)         read_batch_write (with bitset unless last block),
//                         releasing weight 1 per batch
// so batches reach the temporary files in exactly the order they were
// produced, whatever the thread count and however long each mapping takes.
// The mapping step is a callback with the worker records as its context:
// each map thread takes the next worker index (0, 1, ... in start order)
// and passes that record with every batch it maps.
//
// map_results_merge walks every context of a group together in read order
// and hands each read's final single slot to a record callback, once per
// read, then frees the contexts. With more than one thread, each context's
// batches are read in order and decoded side by side by loading threads
// (shared out by the contexts' batch counts); with the writer's record
// callback, records are chosen on the calling thread and encoded and
// written on others (refmap/merge_writer.h).
//
// Ownership: the pipeline owns its queues, arbiter and threads for one call;
// batches belong to one stage at a time; the context is the caller's, the
// next-pass context goes to the caller.
#pragma once

#include <pthread.h>

#include <cstdint>

struct alignment_info_t;
struct map_context_t;
struct map_writer_context_t;
struct read_batch_t;
struct thread_arbiter_t;
struct thread_queue_t;

// Maps one batch with one worker record; called on a map thread. Every
// random draw must come from the batch's own generator.
typedef void (*map_batch_fn)(map_context_t *context, read_batch_t *batch, void *worker);
// Called for every read of a group in read order: the context holding it,
// its single slot and kind 0 (unpaired read), 1 (read 1 of a pair) or 2
// (read 2); a read held by no context gets no context, no slot and kind 0.
typedef void (*map_record_fn)(map_context_t *context, alignment_info_t *slot, int32_t kind, void *argument);

constexpr int32_t kMapPipelineQueues = 6;

// Shared by every stage of one run; the arbiter comes first by convention.
struct map_pipeline_shared_t {
  thread_arbiter_t *arbiter;
  thread_queue_t *queues[kMapPipelineQueues];
  map_context_t *context;
  void **workers;           // one record per map thread
  map_batch_fn map;
  map_context_t *next;      // collects the reads without hits, or null
  int32_t worker_counter;   // next worker index to hand out
  int32_t last_block;       // batches are written without bitset
  pthread_mutex_t mutex;    // guards worker_counter
};

// Runs one pass of context with n map threads. With next_pass set, the reads
// without hits are split off into a new context, which is returned (else
// null). Afterwards the context's outputs are its inputs (without a new
// output list when next_pass is set), its cursor is back at the first read
// and its first-pass flag is clear.
map_context_t *map_pipeline_run(map_context_t *context, int32_t next_pass, int32_t last_block, int32_t n,
                                map_batch_fn map, void **workers);
// The same pass on the calling thread, batch by batch; map gets argument.
map_context_t *map_pipeline_run_serial(map_context_t *context, int32_t next_pass, int32_t last_block,
                                       map_batch_fn map, void *argument);
// Writes every read of the group [first, end) of contexts[0] once, in read
// order, through record (the latest context holding a read wins), then
// frees every context. With more than one thread, the contexts' batches
// are read and decoded on other threads while record runs on the caller's
// thread; the records are the same.
void map_results_merge(map_context_t **contexts, int32_t count, map_record_fn record, void *argument,
                       int32_t threads);
// map_results_merge writing through map_result_write_read with writer:
// with more than one thread, the random draws stay on the calling thread in
// read order while windows of window_reads reads are encoded on other
// threads and written in order, so the output bytes are those of the
// one-thread merge given the same rand() seed.
void map_results_merge_write(map_context_t **contexts, int32_t count, map_writer_context_t *writer, int32_t threads,
                             int32_t window_reads);

// Stage routines (thread group start routines over map_pipeline_shared_t).
void *map_pipeline_produce(void *args);
void *map_pipeline_fetch(void *args);
void *map_pipeline_decode(void *args);
void *map_pipeline_map(void *args);
void *map_pipeline_reorder(void *args);
void *map_pipeline_encode(void *args);
void *map_pipeline_store(void *args);
