#include "denovo/reads/fragment_builder.h"

#include <cerrno>
#include <cstring>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "common/thread_group.h"
#include "denovo/reads/binary_heap.h"
#include "denovo/reads/word_counter_lookup.h"
#include "seqio/seq_write.h"

namespace {

[[noreturn]] void fail_write(int error) {
  fprintf(stderr, "\nError writing fragment file: %s\n", strerror(error != 0 ? error : EIO));
  ryx_exit(1);
}

// Sink of a worker: gathers records into batches of the block and queues
// every full batch.
struct worker_sink_t {
  fragment_builder_ctx_t *ctx;
  thread_queue_t *output;
  fragment_batch_t *batch;
};

void worker_take(seq_record_t *record, void *user) {
  auto *sink = static_cast<worker_sink_t *>(user);
  array_list_add(sink->batch->records, &record);
  if (array_list_get_count(sink->batch->records) < static_cast<uint64_t>(kFragmentBatchSize)) return;
  const int64_t block = sink->batch->block;
  const int32_t part = sink->batch->part;
  thread_queue_put(sink->ctx->arbiter, sink->output, sink->batch, 0);
  sink->batch = fragment_batch_new(block, part + 1);
}

}  // namespace

fragment_builder_ctx_t *fragment_builder_ctx_new(read_store_t *store, const int32_t *use_flags,
                                                 word_counter_t *counter, FILE *output, progress_meter_t *meter) {
  auto *ctx = static_cast<fragment_builder_ctx_t *>(ryx_calloc(sizeof(fragment_builder_ctx_t)));
  ctx->store = store;
  ctx->counter = counter;
  ctx->use_flags = use_flags;
  ctx->word_size = counter->word_size;
  ctx->output = output;
  ctx->meter = meter;
  pthread_mutex_init(&ctx->mutex, nullptr);
  ctx->get_count = word_counter_get_count;
  ctx->is_used = word_counter_is_used;
  ctx->mark_used = word_counter_mark_used;
  return ctx;
}

fragment_builder_ctx_t *fragment_builder_ctx_free(fragment_builder_ctx_t *ctx) {
  if (ctx == nullptr) return nullptr;
  pthread_mutex_destroy(&ctx->mutex);
  ryx_free(ctx);
  return nullptr;
}

fragment_batch_t *fragment_batch_new(int64_t block, int32_t part) {
  auto *batch = static_cast<fragment_batch_t *>(ryx_calloc(sizeof(fragment_batch_t)));
  batch->block = block;
  batch->part = part;
  batch->records = array_list_new(sizeof(seq_record_t *));
  return batch;
}

fragment_batch_t *fragment_batch_free(fragment_batch_t *batch) {
  if (batch == nullptr) return nullptr;
  const uint64_t n = array_list_get_count(batch->records);
  for (uint64_t i = 0; i < n; i++)
    seq_record_release(*static_cast<seq_record_t **>(array_list_get_item(batch->records, i)));
  array_list_free(batch->records);
  ryx_free(batch);
  return nullptr;
}

int fragment_batch_compare(const void *a, const void *b) {
  const auto *x = static_cast<const fragment_batch_t *>(a);
  const auto *y = static_cast<const fragment_batch_t *>(b);
  if (x->block != y->block) return x->block < y->block ? -1 : 1;
  if (x->part != y->part) return x->part < y->part ? -1 : 1;
  return 0;
}

void fragment_builder_scan(fragment_builder_ctx_t *ctx, fragment_search_t *search, const uint8_t *reads,
                           int64_t length, fragment_sink_fn sink, void *user) {
  const int32_t k = ctx->word_size;
  // Position after the last symbol above 3 seen so far: windows starting
  // before it hold that symbol.
  int64_t clean_from = 0;
  int64_t checked = 0;  // symbols before this were looked at
  for (int64_t start = 0; start + k <= length; start++) {
    for (; checked < start + k; checked++)
      if (reads[checked] > 3) clean_from = checked + 1;
    if (start < clean_from) continue;
    const uint8_t *word = reads + start;
    if (ctx->get_count(search->counter, word) <= 0 || ctx->is_used(search->counter, word)) continue;
    int32_t left = 0;
    seq_record_t *record = fragment_build_from_seed(search, word, &left, ctx);
    if (record == nullptr) continue;
    // Pass over the windows that lie inside the fragment just built.
    int64_t f = static_cast<int64_t>(left) + k;
    int64_t r = start + k;
    while (f < record->length && r < length && reads[r] == record->residues[f]) {
      f++;
      r++;
      start++;
    }
    sink(record, user);
  }
}

int32_t fragment_builder_take_record(fragment_builder_ctx_t *ctx, word_counter_t *counter, seq_record_t *record) {
  const int32_t k = ctx->word_size;
  const int64_t words = static_cast<int64_t>(record->length) - k + 1;
  int64_t first_new = -1;
  for (int64_t p = 0; p < words && first_new < 0; p++) {
    const uint8_t *word = record->residues + p;
    if (ctx->get_count(counter, word) > 0 && !ctx->is_used(counter, word)) first_new = p;
  }
  if (first_new >= 0) {
    for (int64_t p = first_new; p < words; p++) {
      const uint8_t *word = record->residues + p;
      if (ctx->get_count(counter, word) > 0) ctx->mark_used(counter, word);
    }
  }
  int32_t written = 0;
  if (record->name != nullptr && first_new >= 0) {
    fragment_builder_write_fragment(ctx->output, record, ctx->fragment_count);
    ctx->fragment_count++;
    ctx->has_result = 1;
    written = 1;
  }
  seq_record_free(record);
  return written;
}

void fragment_builder_write_fragment(FILE *output, seq_record_t *record, uint32_t number) {
  for (uint32_t i = 0; i < record->length; i++)
    record->residues[i] = static_cast<uint8_t>(record->residues[i] + kFragmentResidueBase);
  snprintf(record->name + 3, 9, "%8.8x", number);
  errno = 0;
  seq_record_write_fasta(output, record);
  if (ferror(output)) fail_write(errno);
}

void *fragment_builder_reader_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<fragment_builder_ctx_t *>(args->context);
  read_store_rewind(ctx->store);
  int32_t file_index = 0;
  int64_t sequence = 0;
  while (seq_record_t *reads = read_store_next_block(ctx->store, &file_index)) {
    if (ctx->use_flags != nullptr && ctx->use_flags[file_index] == 0) {
      seq_record_release(reads);
      continue;
    }
    auto *block = static_cast<fragment_block_t *>(ryx_malloc(sizeof(fragment_block_t)));
    block->sequence = sequence++;
    block->reads = reads;
    thread_queue_put(ctx->arbiter, args->output, block, 0);
  }
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

void *fragment_builder_worker_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<fragment_builder_ctx_t *>(args->context);
  word_counter_t *clone = word_counter_clone(ctx->counter);
  fragment_search_t *search =
      fragment_search_new(clone, ctx->word_size + kFragmentSearchExtraDepth, kFragmentSearchWidth);
  while (auto *block = static_cast<fragment_block_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    worker_sink_t sink{ctx, args->output, fragment_batch_new(block->sequence, 0)};
    fragment_builder_scan(ctx, search, block->reads->residues, block->reads->length, worker_take, &sink);
    // The block's last batch goes even when empty: the writer waits for it
    // before it moves on to the next block.
    sink.batch->last = 1;
    thread_queue_put(ctx->arbiter, args->output, sink.batch, 0);
    seq_record_release(block->reads);
    ryx_free(block);
    pthread_mutex_lock(&ctx->mutex);
    ctx->blocks_processed++;
    if (ctx->store->block_count > 0)
      progress_meter_update(ctx->meter, static_cast<double>(ctx->blocks_processed) / ctx->store->block_count);
    pthread_mutex_unlock(&ctx->mutex);
  }
  fragment_search_free(search);
  word_counter_clone_free(clone);
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

void *fragment_builder_writer_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<fragment_builder_ctx_t *>(args->context);
  word_counter_t *clone = word_counter_clone(ctx->counter);
  // Batches that arrive ahead of their turn wait here, smallest
  // (block, part) on top.
  binary_heap_t *pending = binary_heap_new(16, fragment_batch_compare);
  int64_t next_block = 0;
  int32_t next_part = 0;
  while (auto *batch = static_cast<fragment_batch_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    binary_heap_push(pending, batch);
    while (!binary_heap_is_empty(pending)) {
      auto *top = static_cast<fragment_batch_t *>(binary_heap_peek(pending));
      if (top->block != next_block || top->part != next_part) break;
      binary_heap_pop(pending);
      const uint64_t n = array_list_get_count(top->records);
      for (uint64_t i = 0; i < n; i++)
        fragment_builder_take_record(ctx, clone, *static_cast<seq_record_t **>(array_list_get_item(top->records, i)));
      array_list_clear(top->records);
      if (top->last) {
        next_block++;
        next_part = 0;
      } else {
        next_part++;
      }
      fragment_batch_free(top);
    }
  }
  // Every block ends with its last batch, so nothing is left over.
  while (!binary_heap_is_empty(pending)) fragment_batch_free(static_cast<fragment_batch_t *>(binary_heap_pop(pending)));
  binary_heap_free(pending);
  word_counter_clone_free(clone);
  return nullptr;
}

seq_db_t *fragment_builder_run_threads(read_store_t *store, const int32_t *use_flags, const char *path,
                                       word_counter_t *counter, progress_meter_t *meter, int32_t thread_count) {
  if (thread_count < 1) thread_count = 1;
  FILE *output = nullptr;
  if (path != nullptr) {
    output = fopen(path, "w+b");
    if (output == nullptr) {
      fprintf(stderr, "\nCould not open fragment file %s: %s\n", path, strerror(errno));
      ryx_exit(1);
    }
  } else {
    output = temp_file_create_anonymous();
  }
  fragment_builder_ctx_t *ctx = fragment_builder_ctx_new(store, use_flags, counter, output, meter);

  thread_group_run_pipeline(thread_count, 4 * thread_count, fragment_builder_reader_thread,
                            fragment_builder_worker_thread, fragment_builder_writer_thread, ctx, &ctx->arbiter);

  const int32_t has_result = ctx->has_result;
  fragment_builder_ctx_free(ctx);
  // Buffered bytes reach the file only now; a full disk shows here.
  errno = 0;
  if (fflush(output) != 0 || ferror(output)) fail_write(errno);
  if (!has_result) ryx_fail("\nNo result found\n");
  if (fseek(output, 0, SEEK_SET) != 0) ryx_fail("\nTemprorary file error\n");
  seq_db_t *db = seq_db_open_file(output, 0, kSeqFormatFasta, 1, 0);
  if (db == nullptr) ryx_fail("\nTemprorary file error\n");
  return db;
}

seq_db_t *fragment_builder_run(read_store_t *store, const int32_t *use_flags, const char *path,
                               word_counter_t *counter, progress_meter_t *meter) {
  return fragment_builder_run_threads(store, use_flags, path, counter, meter, get_number_of_cpus());
}
