#include "denovo/reads/fragment_builder.h"

#include <cerrno>
#include <cstring>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "common/thread_group.h"
#include "denovo/reads/word_counter_lookup.h"
#include "seqio/seq_write.h"

namespace {

[[noreturn]] void fail_write(int error) {
  fprintf(stderr, "\nError writing fragment file: %s\n", strerror(error != 0 ? error : EIO));
  ryx_exit(1);
}

// What a worker's scan ahead asks before each used test: stop once the
// piece's turn has come, since from there on it can be decided directly.
int32_t worker_poll(fragment_block_t *block, void *user) {
  auto *ctx = static_cast<fragment_builder_ctx_t *>(user);
  return ctx->head.load(std::memory_order_acquire) == block->sequence;
}

// Waits, with the turn mutex held, until the block in turn is at least
// `first`.
void wait_for_head(fragment_builder_ctx_t *ctx, int64_t first) {
  while (ctx->head.load(std::memory_order_relaxed) < first) pthread_cond_wait(&ctx->turn_changed, &ctx->turn_mutex);
}

// Hands a built block to the order: when no thread is deciding blocks, the
// caller decides, in order, every waiting block whose turn has come (with
// its own search state for what must be built again), queues their records
// for the writer and moves the turn on.
void settle_in_order(fragment_builder_ctx_t *ctx, fragment_search_t *search, thread_queue_t *output,
                     fragment_block_t *done) {
  pthread_mutex_lock(&ctx->turn_mutex);
  ctx->finished.push_back(done);
  if (ctx->settling) {
    pthread_mutex_unlock(&ctx->turn_mutex);
    return;
  }
  ctx->settling = 1;
  for (;;) {
    const int64_t head = ctx->head.load(std::memory_order_relaxed);
    fragment_block_t *block = nullptr;
    for (size_t i = 0; i < ctx->finished.size(); i++) {
      if (ctx->finished[i]->sequence != head) continue;
      block = ctx->finished[i];
      ctx->finished[i] = ctx->finished.back();
      ctx->finished.pop_back();
      break;
    }
    if (block == nullptr) break;
    pthread_mutex_unlock(&ctx->turn_mutex);
    if (!block->decided) fragment_block_decide(block, ctx, search);
    fragment_batch_t *batch = fragment_batch_new(block->sequence);
    for (const fragment_kept_t &k : block->kept) array_list_add(batch->records, &k.record);
    block->kept.clear();
    fragment_block_free(block);
    if (array_list_get_count(batch->records) > 0)
      thread_queue_put(ctx->arbiter, output, batch, 0);
    else
      fragment_batch_free(batch);
    pthread_mutex_lock(&ctx->turn_mutex);
    ctx->head.store(head + 1, std::memory_order_release);
    pthread_cond_broadcast(&ctx->turn_changed);
  }
  ctx->settling = 0;
  pthread_mutex_unlock(&ctx->turn_mutex);
}

// A worker's work on one piece. In turn, it is decided at once; ahead of
// its turn it is scanned against its view and left for the thread that
// decides it in turn, unless its turn comes during the scan: then the
// worker decides the rest itself.
void build_block(fragment_builder_ctx_t *ctx, fragment_search_t *search, fragment_block_t *block) {
  if (ctx->head.load(std::memory_order_acquire) != block->sequence) {
    const int64_t stop = fragment_block_scan_ahead(block, ctx, search, kFragmentOverlayLimit, worker_poll, ctx);
    // What a full overlay leaves unbuilt, the piece in turn builds alone.
    if (block->overlay.count >= kFragmentOverlayLimit) ctx->full_pieces.fetch_add(1, std::memory_order_relaxed);
    if (stop >= block->reads->length) return;
  }
  fragment_block_decide(block, ctx, search);
}

// A piece of the block from symbol `from` to `to` (exclusive), copied.
seq_record_t *piece_of(const seq_record_t *reads, int64_t from, int64_t to) {
  seq_record_t *piece = seq_record_new(static_cast<uint32_t>(to - from));
  memcpy(piece->residues, reads->residues + from, static_cast<size_t>(to - from));
  return piece;
}

}  // namespace

fragment_builder_ctx_t *fragment_builder_ctx_new(read_store_t *store, const int32_t *use_flags,
                                                 word_counter_t *counter, FILE *output, progress_meter_t *meter) {
  auto *ctx = new fragment_builder_ctx_t{};
  ctx->store = store;
  ctx->counter = counter;
  ctx->use_flags = use_flags;
  ctx->word_size = counter->word_size;
  ctx->output = output;
  ctx->meter = meter;
  pthread_mutex_init(&ctx->mutex, nullptr);
  pthread_mutex_init(&ctx->turn_mutex, nullptr);
  pthread_cond_init(&ctx->turn_changed, nullptr);
  ctx->head.store(0);
  ctx->full_pieces.store(0);
  ctx->lookahead = kFragmentLookaheadPerThread;
  ctx->get_count = word_counter_get_count;
  ctx->used_slot = word_counter_used_slot;
  ctx->slot_is_used = word_counter_slot_is_used;
  ctx->mark_slot_used = word_counter_mark_slot_used;
  ctx->next_counts = word_counter_get_next_counts;
  ctx->get_counts = word_counter_get_counts;
  ctx->used_slots = word_counter_used_slots;
  return ctx;
}

fragment_builder_ctx_t *fragment_builder_ctx_free(fragment_builder_ctx_t *ctx) {
  if (ctx == nullptr) return nullptr;
  for (fragment_block_t *block : ctx->finished) fragment_block_free(block);
  pthread_mutex_destroy(&ctx->mutex);
  pthread_mutex_destroy(&ctx->turn_mutex);
  pthread_cond_destroy(&ctx->turn_changed);
  delete ctx;
  return nullptr;
}

fragment_batch_t *fragment_batch_new(int64_t block) {
  auto *batch = static_cast<fragment_batch_t *>(ryx_calloc(sizeof(fragment_batch_t)));
  batch->block = block;
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

int32_t fragment_builder_take_record(fragment_builder_ctx_t *ctx, word_counter_t *counter, seq_record_t *record) {
  seq_record_t *kept = fragment_block_take(ctx, counter, record);
  if (kept == nullptr) return 0;
  fragment_builder_write_fragment(ctx->output, kept, ctx->fragment_count);
  ctx->fragment_count++;
  ctx->has_result = 1;
  seq_record_free(kept);
  return 1;
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
  int64_t piece_size = kFragmentFirstPieceSymbols;
  int64_t full_pieces_seen = 0;
  while (seq_record_t *reads = read_store_next_block(ctx->store, &file_index)) {
    if (ctx->use_flags != nullptr && ctx->use_flags[file_index] == 0) {
      seq_record_release(reads);
      continue;
    }
    // Cut after the separator that ends a read, once a piece is long
    // enough; both pieces hold that separator, so every window stays as
    // clean or unclean as in the whole block.
    const int64_t length = reads->length;
    bool cut = false;
    int64_t from = 0;
    while (from < length) {
      int64_t to = length;
      if (length - from > 2 * piece_size) {
        to = from + piece_size;
        while (to < length && reads->residues[to] != kReadStoreSeparator) to++;
        to = to < length ? to + 1 : length;
      }
      if (from == 0 && to < length) cut = true;
      seq_record_t *piece = cut ? piece_of(reads, from, to) : reads;
      fragment_block_t *block = fragment_block_new(sequence++, piece);
      const int64_t next = to < length ? to - 1 : length;
      block->share = static_cast<double>(next - from) / static_cast<double>(length);
      thread_queue_put(ctx->arbiter, args->output, block, 0);
      from = next;
      if (sequence % kFragmentPieceGrowth == 0) {
        // Pieces ahead that filled their overlay: the reads still find
        // more new sequence than a piece ahead may build, and the rest
        // would be built by the piece in turn alone. Smaller pieces spread
        // that building over the workers again.
        const int64_t full = ctx->full_pieces.load(std::memory_order_relaxed);
        if (full > full_pieces_seen) {
          full_pieces_seen = full;
          if (piece_size > kFragmentFirstPieceSymbols) piece_size /= 2;
        } else if (piece_size < kFragmentPieceSymbols) {
          piece_size *= 2;
        }
      }
    }
    if (cut) seq_record_release(reads);
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
    // Far ahead of the piece in turn, wait: pieces waiting for their turn
    // hold their reads and what was built for them.
    if (block->sequence >= ctx->head.load(std::memory_order_acquire) + ctx->lookahead) {
      pthread_mutex_lock(&ctx->turn_mutex);
      wait_for_head(ctx, block->sequence - ctx->lookahead + 1);
      pthread_mutex_unlock(&ctx->turn_mutex);
    }
    build_block(ctx, search, block);
    pthread_mutex_lock(&ctx->mutex);
    ctx->blocks_processed += block->share;
    if (ctx->store->block_count > 0)
      progress_meter_update(ctx->meter, static_cast<double>(ctx->blocks_processed) / ctx->store->block_count);
    pthread_mutex_unlock(&ctx->mutex);
    settle_in_order(ctx, search, args->output, block);
  }
  fragment_search_free(search);
  word_counter_clone_free(clone);
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

void *fragment_builder_writer_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<fragment_builder_ctx_t *>(args->context);
  // Pieces are settled one at a time, in order, and each is queued before
  // the turn moves on: the batches arrive in piece order.
  while (auto *batch = static_cast<fragment_batch_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    const uint64_t n = array_list_get_count(batch->records);
    for (uint64_t i = 0; i < n; i++) {
      auto *record = *static_cast<seq_record_t **>(array_list_get_item(batch->records, i));
      fragment_builder_write_fragment(ctx->output, record, ctx->fragment_count);
      ctx->fragment_count++;
      ctx->has_result = 1;
    }
    fragment_batch_free(batch);
  }
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
  ctx->lookahead = static_cast<int64_t>(kFragmentLookaheadPerThread) * thread_count;

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
