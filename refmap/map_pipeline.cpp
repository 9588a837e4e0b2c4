#include "refmap/map_pipeline.h"

#include "common/memory.h"
#include "common/thread_group.h"
#include "common/thread_queue.h"
#include "refmap/map_context.h"
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

// Batches of results a loader keeps ready ahead of the merge.
constexpr int32_t kLoadAhead = 3;

// A context's batches of results, read and decoded ahead on a thread of its
// own while the merge writes the records of the batches before; or, with
// one thread, loaded in place when the merge asks. A context's files and
// cursor are only touched by its loader.
struct batch_loader_t {
  map_context_t *context;
  bool ahead;                        // a loading thread runs
  thread_group_t *group;             // the loading thread, or null
  pthread_mutex_t mutex;             // guards what follows
  pthread_cond_t changed;
  read_batch_t *ready[kLoadAhead];   // loaded batches in order, from head
  int32_t head, count;
  bool finished;                     // the context has no batch left
  bool stop;                         // the merge takes no more
};

// The context's next batch of results, or null after the last one.
read_batch_t *load_batch(map_context_t *context) {
  read_batch_t *batch = map_context_next_batch(context);
  if (batch != nullptr) {
    // The records need the results only, not the reads.
    read_batch_fetch_indexes(context, batch);
    read_batch_decode(context, batch);
  }
  return batch;
}

void *loader_thread(void *args) {
  auto *loader = static_cast<batch_loader_t *>(static_cast<thread_args_t *>(args)->context);
  for (;;) {
    pthread_mutex_lock(&loader->mutex);
    while (loader->count == kLoadAhead && !loader->stop) pthread_cond_wait(&loader->changed, &loader->mutex);
    const bool stop = loader->stop;
    pthread_mutex_unlock(&loader->mutex);
    if (stop) return nullptr;
    read_batch_t *batch = load_batch(loader->context);
    pthread_mutex_lock(&loader->mutex);
    if (batch != nullptr) {
      loader->ready[(loader->head + loader->count) % kLoadAhead] = batch;
      loader->count++;
    } else {
      loader->finished = true;
    }
    pthread_cond_broadcast(&loader->changed);
    pthread_mutex_unlock(&loader->mutex);
    if (batch == nullptr) return nullptr;
  }
}

void loader_start(batch_loader_t *loader, map_context_t *context, bool ahead) {
  loader->context = context;
  loader->ahead = ahead;
  if (!ahead) return;
  pthread_mutex_init(&loader->mutex, nullptr);
  pthread_cond_init(&loader->changed, nullptr);
  loader->group = thread_group_new(1, loader_thread, nullptr, nullptr, loader);
  thread_group_start(loader->group);
}

// The next batch of the context in order, or null after the last one.
read_batch_t *loader_take(batch_loader_t *loader) {
  if (!loader->ahead) {
    read_batch_t *batch = loader->finished ? nullptr : load_batch(loader->context);
    loader->finished = batch == nullptr;
    return batch;
  }
  pthread_mutex_lock(&loader->mutex);
  while (loader->count == 0 && !loader->finished) pthread_cond_wait(&loader->changed, &loader->mutex);
  read_batch_t *batch = nullptr;
  if (loader->count > 0) {
    batch = loader->ready[loader->head];
    loader->head = (loader->head + 1) % kLoadAhead;
    loader->count--;
    pthread_cond_broadcast(&loader->changed);
  }
  pthread_mutex_unlock(&loader->mutex);
  return batch;
}

// Stops the loading thread and frees the batches it still held.
void loader_finish(batch_loader_t *loader) {
  if (!loader->ahead) return;
  pthread_mutex_lock(&loader->mutex);
  loader->stop = true;
  pthread_cond_broadcast(&loader->changed);
  pthread_mutex_unlock(&loader->mutex);
  thread_group_join(loader->group);
  loader->group = thread_group_free(loader->group);
  for (int32_t k = 0; k < loader->count; k++) read_batch_free(loader->ready[(loader->head + k) % kLoadAhead]);
  pthread_cond_destroy(&loader->changed);
  pthread_mutex_destroy(&loader->mutex);
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
  auto **batches = static_cast<read_batch_t **>(ryx_calloc(sizeof(read_batch_t *) * static_cast<size_t>(count)));
  auto *positions = static_cast<int32_t *>(ryx_calloc(sizeof(int32_t) * static_cast<size_t>(count)));
  auto *loaders = static_cast<batch_loader_t *>(ryx_calloc(sizeof(batch_loader_t) * static_cast<size_t>(count)));
  // Takes context c's next batch.
  auto next_batch = [&](int32_t c) {
    batches[c] = loader_take(&loaders[c]);
    positions[c] = 0;
  };
  for (int32_t c = 0; c < count; c++) loader_start(&loaders[c], contexts[c], threads > 1);
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
        record(contexts[c], slot, kind, argument);
        written = true;
      }
      positions[c] += step;
      if (positions[c] >= batch->slot_count) {
        read_batch_free(batch);
        next_batch(c);
      }
    }
    if (!written) record(nullptr, nullptr, 0, argument);
  }
  for (int32_t c = 0; c < count; c++) {
    read_batch_free(batches[c]);
    loader_finish(&loaders[c]);
    map_context_free(contexts[c]);
  }
  ryx_free(loaders);
  ryx_free(batches);
  ryx_free(positions);
}
