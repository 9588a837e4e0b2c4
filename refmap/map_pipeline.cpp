#include "refmap/map_pipeline.h"

#include "common/memory.h"
#include "common/thread_group.h"
#include "common/thread_queue.h"
#include "refmap/map_context.h"
#include "refmap/map_result.h"
#include "refmap/merge_writer.h"
#include "refmap/read_batch.h"

namespace {

map_pipeline_shared_t *shared_of(void *args) {
  return static_cast<map_pipeline_shared_t *>(static_cast<thread_args_t *>(args)->context);
}

// Batches waiting for their turn in the reorder stage, at sequence number
// modulo the table size; the table doubles until a newcomer's place is free.
struct pending_table_t {
  read_batch_t **batches;
  int32_t size;
};

void pending_put(pending_table_t *table, read_batch_t *batch) {
  while (table->batches[batch->sequence % table->size] != nullptr) {
    const int32_t grown = table->size * 2;
    auto **batches = static_cast<read_batch_t **>(ryx_calloc(sizeof(read_batch_t *) * static_cast<size_t>(grown)));
    for (int32_t i = 0; i < table->size; i++) {
      read_batch_t *b = table->batches[i];
      if (b != nullptr) batches[b->sequence % grown] = b;
    }
    ryx_free(table->batches);
    table->batches = batches;
    table->size = grown;
  }
  table->batches[batch->sequence % table->size] = batch;
}

// The batch of sequence number n, taken out of the table, or null.
read_batch_t *pending_take(pending_table_t *table, int32_t n) {
  read_batch_t *&place = table->batches[n % table->size];
  read_batch_t *batch = place;
  if (batch == nullptr || batch->sequence != n) return nullptr;
  place = nullptr;
  return batch;
}

// Passes batches from input to output unchanged after work(context, batch).
void *pass_through(void *args, void (*work)(map_context_t *, read_batch_t *)) {
  auto *a = static_cast<thread_args_t *>(args);
  map_pipeline_shared_t *shared = shared_of(args);
  while (auto *batch = static_cast<read_batch_t *>(thread_queue_get(shared->arbiter, a->input, 0))) {
    work(shared->context, batch);
    thread_queue_put(shared->arbiter, a->output, batch, 0);
  }
  thread_queue_producer_done(shared->arbiter, a->output, 0);
  return nullptr;
}

// Split and encode of one batch; keeps the next-pass partial batch.
read_batch_t *encode_one(map_context_t *context, map_context_t *next, read_batch_t *batch, read_batch_t *partial) {
  if (next != nullptr) partial = read_batch_split_unmapped(next, batch, partial);
  read_batch_encode(context, batch);
  return partial;
}

// What every run does after its last batch: the next-pass context gets its
// files, the context turns its outputs into inputs.
void finish_pass(map_context_t *context, map_context_t *next, read_batch_t *partial, int32_t next_pass) {
  if (next != nullptr) map_context_flush_next_pass(next, partial);
  map_context_swap_temp_files(context, next_pass);
  map_context_reset_cursor(context);
  context->first_pass = 0;
}

// Batches of results a loader keeps ready ahead of the merge, per
// decoding thread.
constexpr int32_t kLoadAhead = 3;

// A context's batches of results, read and decoded ahead while the merge
// writes the records of the batches before; or, with no thread, loaded in
// place when the merge asks. Its threads take turns reading the context's
// next batch (a context's files and cursor are only touched under reading)
// and decode their batches side by side; the merge takes them in order.
struct batch_loader_t {
  map_context_t *context;
  int32_t threads;                   // decoding threads, 0: none
  thread_group_t *group;             // the threads, or null
  pthread_mutex_t reading;           // one thread reads at a time
  pthread_mutex_t mutex;             // guards what follows
  pthread_cond_t changed;
  read_batch_t **ready;              // capacity places, batch n at n % capacity
  int32_t capacity;
  int64_t issued;                    // batches read so far
  int64_t taken;                     // batches the merge took so far
  bool finished;                     // the context has no batch left
  bool stop;                         // the merge takes no more
};

// The context's next batch of results before decoding, or null after the
// last one.
read_batch_t *next_results_batch(map_context_t *context) {
  read_batch_t *batch = map_context_next_batch(context);
  // The records need the results only, not the reads.
  if (batch != nullptr) read_batch_fetch_indexes(context, batch);
  return batch;
}

void *loader_thread(void *args) {
  auto *loader = static_cast<batch_loader_t *>(static_cast<thread_args_t *>(args)->context);
  for (;;) {
    pthread_mutex_lock(&loader->reading);
    pthread_mutex_lock(&loader->mutex);
    while (loader->issued - loader->taken == loader->capacity && !loader->stop) {
      pthread_cond_wait(&loader->changed, &loader->mutex);
    }
    const bool quit = loader->stop || loader->finished;
    const int64_t sequence = loader->issued;
    pthread_mutex_unlock(&loader->mutex);
    read_batch_t *batch = quit ? nullptr : next_results_batch(loader->context);
    pthread_mutex_lock(&loader->mutex);
    if (batch != nullptr) {
      loader->issued++;
    } else if (!quit) {
      loader->finished = true;
      pthread_cond_broadcast(&loader->changed);
    }
    pthread_mutex_unlock(&loader->mutex);
    pthread_mutex_unlock(&loader->reading);
    if (batch == nullptr) return nullptr;
    read_batch_decode(loader->context, batch);
    pthread_mutex_lock(&loader->mutex);
    loader->ready[sequence % loader->capacity] = batch;
    pthread_cond_broadcast(&loader->changed);
    pthread_mutex_unlock(&loader->mutex);
  }
}

void loader_start(batch_loader_t *loader, map_context_t *context, int32_t threads) {
  loader->context = context;
  loader->threads = threads;
  if (threads == 0) return;
  pthread_mutex_init(&loader->reading, nullptr);
  pthread_mutex_init(&loader->mutex, nullptr);
  pthread_cond_init(&loader->changed, nullptr);
  loader->capacity = kLoadAhead * threads;
  loader->ready =
      static_cast<read_batch_t **>(ryx_calloc(sizeof(read_batch_t *) * static_cast<size_t>(loader->capacity)));
  loader->group = thread_group_new(threads, loader_thread, nullptr, nullptr, loader);
  thread_group_start(loader->group);
}

// The next batch of the context in order, or null after the last one.
read_batch_t *loader_take(batch_loader_t *loader) {
  if (loader->threads == 0) {
    read_batch_t *batch = loader->finished ? nullptr : next_results_batch(loader->context);
    if (batch != nullptr) read_batch_decode(loader->context, batch);
    loader->finished = batch == nullptr;
    return batch;
  }
  pthread_mutex_lock(&loader->mutex);
  read_batch_t **place = &loader->ready[loader->taken % loader->capacity];
  while (*place == nullptr && !(loader->finished && loader->taken == loader->issued)) {
    pthread_cond_wait(&loader->changed, &loader->mutex);
  }
  read_batch_t *batch = *place;
  if (batch != nullptr) {
    *place = nullptr;
    loader->taken++;
    pthread_cond_broadcast(&loader->changed);
  }
  pthread_mutex_unlock(&loader->mutex);
  return batch;
}

// Stops the loading threads and frees the batches they still held.
void loader_finish(batch_loader_t *loader) {
  if (loader->threads == 0) return;
  pthread_mutex_lock(&loader->mutex);
  loader->stop = true;
  pthread_cond_broadcast(&loader->changed);
  pthread_mutex_unlock(&loader->mutex);
  thread_group_join(loader->group);
  loader->group = thread_group_free(loader->group);
  for (int32_t k = 0; k < loader->capacity; k++) read_batch_free(loader->ready[k]);
  ryx_free(loader->ready);
  pthread_cond_destroy(&loader->changed);
  pthread_mutex_destroy(&loader->mutex);
  pthread_mutex_destroy(&loader->reading);
}

// Decoding threads of each context's loader for a merge on threads
// threads (0 each for one thread): shared out by the contexts' batch
// counts, at least one each.
void share_loader_threads(map_context_t **contexts, int32_t count, int32_t threads, int32_t *shares) {
  int64_t total = 0;
  for (int32_t c = 0; c < count; c++) total += contexts[c]->total_batches;
  for (int32_t c = 0; c < count; c++) {
    if (threads <= 1) {
      shares[c] = 0;
      continue;
    }
    const int64_t share = total > 0 ? (threads * static_cast<int64_t>(contexts[c]->total_batches) + total / 2) / total : 0;
    shares[c] = share < 1 ? 1 : static_cast<int32_t>(share);
  }
}

// Encoding threads of a threaded merge on threads threads: a quarter, at
// least one. Encoding a window costs far less than decoding its batches,
// which is shared out over threads threads; more encoders only take cores
// from the decoding and the merging thread.
int32_t merge_encode_threads(int32_t threads) { return threads / 4 > 1 ? threads / 4 : 1; }

// Walks every context of a group in read order: record(context, slot, kind)
// once per read as map_results_merge describes and retire(batch) for every
// batch once no later read lies in it (and for the batches left at the
// end). The contexts stay the caller's.
template <typename Record, typename Retire>
void merge_walk(map_context_t **contexts, int32_t count, int32_t threads, Record record, Retire retire) {
  auto **batches = static_cast<read_batch_t **>(ryx_calloc(sizeof(read_batch_t *) * static_cast<size_t>(count)));
  auto *positions = static_cast<int32_t *>(ryx_calloc(sizeof(int32_t) * static_cast<size_t>(count)));
  auto *shares = static_cast<int32_t *>(ryx_calloc(sizeof(int32_t) * static_cast<size_t>(count)));
  auto *loaders = static_cast<batch_loader_t *>(ryx_calloc(sizeof(batch_loader_t) * static_cast<size_t>(count)));
  // Takes context c's next batch.
  auto next_batch = [&](int32_t c) {
    batches[c] = loader_take(&loaders[c]);
    positions[c] = 0;
  };
  share_loader_threads(contexts, count, threads, shares);
  for (int32_t c = 0; c < count; c++) loader_start(&loaders[c], contexts[c], shares[c]);
  for (int32_t c = 0; c < count; c++) next_batch(c);
  const int32_t first = contexts[0]->first_read, end = contexts[0]->end_read;
  for (int32_t r = first; r < end; r++) {
    bool written = false;
    for (int32_t c = count - 1; c >= 0; c--) {
      read_batch_t *batch = batches[c];
      if (batch == nullptr || batch->slots[positions[c]].read_index != r) continue;
      const int32_t step = read_batch_slots_per_read(batch);
      alignment_info_t *slot = &batch->slots[positions[c]];
      if (!written) {
        const int32_t kind = step == 1 ? 0 : ((positions[c] / step) % 2 == 0 ? 1 : 2);
        record(contexts[c], slot, kind);
        written = true;
      }
      positions[c] += step;
      if (positions[c] >= batch->slot_count) {
        retire(batch);
        next_batch(c);
      }
    }
    if (!written) record(nullptr, nullptr, 0);
  }
  for (int32_t c = 0; c < count; c++) {
    retire(batches[c]);
    loader_finish(&loaders[c]);
  }
  ryx_free(loaders);
  ryx_free(shares);
  ryx_free(batches);
  ryx_free(positions);
}

}  // namespace

void *map_pipeline_produce(void *args) {
  auto *a = static_cast<thread_args_t *>(args);
  map_pipeline_shared_t *shared = shared_of(args);
  while (read_batch_t *batch = map_context_next_batch(shared->context)) {
    thread_queue_put(shared->arbiter, a->output, batch, 1);
  }
  thread_queue_producer_done(shared->arbiter, a->output, 0);
  return nullptr;
}

void *map_pipeline_fetch(void *args) { return pass_through(args, read_batch_fetch); }

void *map_pipeline_decode(void *args) { return pass_through(args, read_batch_decode); }

void *map_pipeline_map(void *args) {
  auto *a = static_cast<thread_args_t *>(args);
  map_pipeline_shared_t *shared = shared_of(args);
  pthread_mutex_lock(&shared->mutex);
  void *worker = shared->workers != nullptr ? shared->workers[shared->worker_counter] : nullptr;
  shared->worker_counter++;
  pthread_mutex_unlock(&shared->mutex);
  while (auto *batch = static_cast<read_batch_t *>(thread_queue_get(shared->arbiter, a->input, 0))) {
    shared->map(shared->context, batch, worker);
    // The results are encoded here, on the N map threads, as the encode
    // stage will leave them after its split; that stage, on one thread,
    // then only moves the reads without hits on in order.
    read_batch_encode_results(shared->context, batch, shared->next != nullptr);
    thread_queue_put(shared->arbiter, a->output, batch, 0);
  }
  thread_queue_producer_done(shared->arbiter, a->output, 0);
  return nullptr;
}

void *map_pipeline_reorder(void *args) {
  auto *a = static_cast<thread_args_t *>(args);
  map_pipeline_shared_t *shared = shared_of(args);
  pending_table_t table = {static_cast<read_batch_t **>(ryx_calloc(sizeof(read_batch_t *))), 1};
  int32_t expected = 0;
  while (auto *batch = static_cast<read_batch_t *>(thread_queue_get(shared->arbiter, a->input, 0))) {
    pending_put(&table, batch);
    while (read_batch_t *ready = pending_take(&table, expected)) {
      thread_queue_put(shared->arbiter, a->output, ready, 0);
      expected++;
    }
  }
  ryx_free(table.batches);
  thread_queue_producer_done(shared->arbiter, a->output, 0);
  return nullptr;
}

void *map_pipeline_encode(void *args) {
  auto *a = static_cast<thread_args_t *>(args);
  map_pipeline_shared_t *shared = shared_of(args);
  read_batch_t *partial = nullptr;
  while (auto *batch = static_cast<read_batch_t *>(thread_queue_get(shared->arbiter, a->input, 0))) {
    if (shared->next != nullptr) partial = read_batch_split_unmapped(shared->next, batch, partial);
    read_batch_release_slots(batch);
    thread_queue_put(shared->arbiter, a->output, batch, 0);
  }
  if (shared->next != nullptr) map_context_flush_next_pass(shared->next, partial);
  thread_queue_producer_done(shared->arbiter, a->output, 0);
  return nullptr;
}

void *map_pipeline_store(void *args) {
  auto *a = static_cast<thread_args_t *>(args);
  map_pipeline_shared_t *shared = shared_of(args);
  int32_t release = 0;  // the weight of the batch stored last
  while (auto *batch = static_cast<read_batch_t *>(thread_queue_get(shared->arbiter, a->input, -release))) {
    read_batch_write(shared->context, batch, !shared->last_block);
    release = 1;
  }
  return nullptr;
}

map_context_t *map_pipeline_run(map_context_t *context, int32_t next_pass, int32_t last_block, int32_t n,
                                map_batch_fn map, void **workers) {
  if (n < 1) n = 1;
  map_pipeline_shared_t shared = {};
  shared.context = context;
  shared.workers = workers;
  shared.map = map;
  shared.next = next_pass ? map_context_new_next_pass(context) : nullptr;
  shared.last_block = last_block;
  pthread_mutex_init(&shared.mutex, nullptr);
  for (thread_queue_t *&queue : shared.queues) queue = thread_queue_new(2 * n);
  shared.arbiter = thread_arbiter_new(shared.queues, kMapPipelineQueues, n, 4 * static_cast<int64_t>(n));

  thread_queue_t **q = shared.queues;
  thread_group_t *groups[7] = {
      thread_group_new(1, map_pipeline_produce, nullptr, q[0], &shared),
      thread_group_new(1, map_pipeline_fetch, q[0], q[1], &shared),
      thread_group_new(1, map_pipeline_decode, q[1], q[2], &shared),
      thread_group_new(n, map_pipeline_map, q[2], q[3], &shared),
      thread_group_new(1, map_pipeline_reorder, q[3], q[4], &shared),
      thread_group_new(1, map_pipeline_encode, q[4], q[5], &shared),
      thread_group_new(1, map_pipeline_store, q[5], nullptr, &shared),
  };
  for (thread_queue_t *queue : shared.queues) thread_queue_reset(queue);
  for (thread_group_t *group : groups) thread_group_register(group);
  thread_arbiter_count_threads(shared.arbiter);
  for (thread_group_t *group : groups) thread_group_start(group);
  for (thread_group_t *group : groups) thread_group_join(group);

  for (thread_group_t *group : groups) thread_group_free(group);
  for (thread_queue_t *&queue : shared.queues) queue = thread_queue_free(queue);
  shared.arbiter = thread_arbiter_free(shared.arbiter);
  pthread_mutex_destroy(&shared.mutex);
  // The encode stage has already flushed the next-pass context.
  finish_pass(context, nullptr, nullptr, next_pass);
  return shared.next;
}

map_context_t *map_pipeline_run_serial(map_context_t *context, int32_t next_pass, int32_t last_block,
                                       map_batch_fn map, void *argument) {
  map_context_t *next = next_pass ? map_context_new_next_pass(context) : nullptr;
  read_batch_t *partial = nullptr;
  while (read_batch_t *batch = map_context_next_batch(context)) {
    read_batch_fetch(context, batch);
    read_batch_decode(context, batch);
    map(context, batch, argument);
    partial = encode_one(context, next, batch, partial);
    read_batch_write(context, batch, !last_block);
  }
  finish_pass(context, next, partial, next_pass);
  return next;
}

void map_results_merge(map_context_t **contexts, int32_t count, map_record_fn record, void *argument,
                       int32_t threads) {
  if (count <= 0) return;
  merge_walk(
      contexts, count, threads,
      [&](map_context_t *context, alignment_info_t *slot, int32_t kind) { record(context, slot, kind, argument); },
      [](read_batch_t *batch) { read_batch_free(batch); });
  for (int32_t c = 0; c < count; c++) map_context_free(contexts[c]);
}

void map_results_merge_write(map_context_t **contexts, int32_t count, map_writer_context_t *writer, int32_t threads,
                             int32_t window_reads) {
  if (count <= 0) return;
  if (threads <= 1) {
    map_results_merge(contexts, count, map_result_write_read, writer, threads);
    return;
  }
  merge_writer_t *merge = merge_writer_new(writer, merge_encode_threads(threads), window_reads);
  merge_walk(
      contexts, count, threads,
      [&](map_context_t *context, alignment_info_t *slot, int32_t kind) {
        merge_writer_add(merge, context, slot, kind);
      },
      [&](read_batch_t *batch) { merge_writer_retire(merge, batch); });
  merge_writer_finish(merge);
  for (int32_t c = 0; c < count; c++) map_context_free(contexts[c]);
}
