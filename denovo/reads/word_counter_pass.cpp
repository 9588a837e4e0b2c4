#include "denovo/reads/word_counter_pass.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/thread_group.h"
#include "denovo/reads/word_counter_error_model.h"

namespace {

// Words whose table entries are prefetched before they are updated; enough
// to cover a memory access with the hashing of the words in between.
constexpr int kPrefetchDepth = 16;
// Symbols gathered into one batch by the database reader.
constexpr int64_t kDbBatchSymbols = 1000000;

uint8_t load_byte(const uint8_t *p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }

bool swap_byte(uint8_t *p, uint8_t *expected, uint8_t desired) {
  return __atomic_compare_exchange_n(p, expected, desired, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED);
}

// The filters do not change during a pass: plain reads suffice.
bool filter_bit(const counter_table_t &table, uint64_t i) { return (table.data[i / 8] >> (i % 8)) & 1; }

// Table entries of one word.
struct word_slots_t {
  uint64_t a, b, c;
};

// First-pass rule on one 2-bit table: +1 saturating at 3; counts the
// counters that reach 2 and 3.
void raise_saturating(const counter_table_t &table, uint64_t i, uint32_t *s2, uint32_t *s3) {
  uint8_t *p = table.data + i / 4;
  const int shift = static_cast<int>(2 * (i % 4));
  uint8_t byte = load_byte(p);
  for (;;) {
    const int v = (byte >> shift) & 3;
    if (v == 3) return;
    if (swap_byte(p, &byte, static_cast<uint8_t>(byte + (1 << shift)))) {
      if (v == 1) ++*s2;
      if (v == 2) ++*s3;
      return;
    }
  }
}

// Refinement rule on the 2-bit table C: +1 while below 2.
void raise_to_two(const counter_table_t &table, uint64_t i, uint32_t *s2) {
  uint8_t *p = table.data + i / 4;
  const int shift = static_cast<int>(2 * (i % 4));
  uint8_t byte = load_byte(p);
  for (;;) {
    const int v = (byte >> shift) & 3;
    if (v >= 2) return;
    if (swap_byte(p, &byte, static_cast<uint8_t>(byte + (1 << shift)))) {
      if (v == 1) ++*s2;
      return;
    }
  }
}

// Final rule on the 4-bit table C: 0 and 1 always rise; from 2 on an entry
// at v rises only when the generator's draw is at least v.
void raise_approximately(word_counter_tables_t *tables, uint64_t i, uint32_t *s2) {
  uint8_t *p = tables->count_table.data + i / 2;
  const int shift = static_cast<int>(4 * (i % 2));
  uint8_t byte = load_byte(p);
  for (;;) {
    const int v = (byte >> shift) & 15;
    if (v >= 2 && v > word_counter_draw(tables)) return;
    if (swap_byte(p, &byte, static_cast<uint8_t>(byte + (1 << shift)))) {
      if (v == 1) ++*s2;
      return;
    }
  }
}

template <int Kind>
void apply(word_counter_tables_t *tables, const word_slots_t &slot, uint32_t *s2, uint32_t *s3) {
  if constexpr (Kind == kWordPassFirst) {
    raise_saturating(tables->filter_a, slot.a, s2, s3);
    raise_saturating(tables->filter_b, slot.b, s2, s3);
  } else {
    // B is looked at only when A lets the word pass.
    if (!filter_bit(tables->filter_a, slot.a) || !filter_bit(tables->filter_b, slot.b)) return;
    if constexpr (Kind == kWordPassRefine)
      raise_to_two(tables->count_table, slot.c, s2);
    else
      raise_approximately(tables, slot.c, s2);
  }
}

// Deferred is the ordered mode of the pass pipeline: the scan only
// collects the entries to raise, so the entries it writes are not
// prefetched (the filters still are, for the final pass's tests).
template <int Kind, bool Deferred>
void prefetch(const word_counter_tables_t *tables, const word_slots_t &slot) {
  if constexpr (Kind == kWordPassFirst) {
    if constexpr (!Deferred) {
      __builtin_prefetch(tables->filter_a.data + slot.a / 4, 1);
      __builtin_prefetch(tables->filter_b.data + slot.b / 4, 1);
    }
  } else {
    __builtin_prefetch(tables->filter_a.data + slot.a / 8);
    __builtin_prefetch(tables->filter_b.data + slot.b / 8);
    if constexpr (!Deferred)
      __builtin_prefetch(tables->count_table.data + slot.c / (Kind == kWordPassRefine ? 4 : 2), 1);
  }
}

// Scans the records and hands every word of k codes 0 to 3, once per
// occurrence, to sink as its table entries. Entries are computed and
// prefetched a few words ahead of the sink; the sink sees the words in
// their order.
template <int Kind, bool Wide, bool Deferred, typename Sink>
void scan_records(word_counter_t *counter, seq_record_t **records, int32_t n, Sink &&sink) {
  word_counter_tables_t *tables = counter->tables;
  const int32_t k = counter->word_size;
  const uint64_t reverse_xor = counter->colour_space ? 0 : 3;
  const uint64_t top_mask = tables->top_mask;
  const int32_t top_shift = tables->top_shift;
  word_slots_t ring[kPrefetchDepth];
  uint64_t queued = 0;
  for (int32_t r = 0; r < n; r++) {
    const uint8_t *residues = records[r]->residues;
    const uint32_t length = records[r]->length;
    word_window_t w{};
    int32_t skip = k - 1;
    for (uint32_t j = 0; j < length; j++) {
      uint64_t c = residues[j];
      if (c > 3) {
        skip = k;
        c = 0;
      }
      word_window_slide(&w, c, c ^ reverse_xor, top_mask, top_shift, Wide);
      if (skip > 0) {
        skip--;
        continue;
      }
      word_value_t x = word_window_canonical(&w);
      if constexpr (!Wide) x.high = 0;
      word_slots_t slot;
      slot.a = word_hash_index(x, &tables->filter_a);
      slot.b = word_hash_index(x, &tables->filter_b);
      slot.c = Kind == kWordPassFirst ? 0 : word_hash_index(x, &tables->count_table);
      prefetch<Kind, Deferred>(tables, slot);
      word_slots_t &place = ring[queued % kPrefetchDepth];
      if (queued >= kPrefetchDepth) sink(place);
      place = slot;
      queued++;
    }
  }
  const uint64_t first = queued > kPrefetchDepth ? queued - kPrefetchDepth : 0;
  for (uint64_t q = first; q < queued; q++) sink(ring[q % kPrefetchDepth]);
}

template <int Kind>
uint32_t count_batch(word_counter_t *clone, seq_record_t **records, int32_t n, uint32_t *s3) {
  uint32_t two = 0, three = 0;
  word_counter_tables_t *tables = clone->tables;
  auto sink = [&](const word_slots_t &slot) { apply<Kind>(tables, slot, &two, &three); };
  if (clone->word_size > 32)
    scan_records<Kind, true, false>(clone, records, n, sink);
  else
    scan_records<Kind, false, false>(clone, records, n, sink);
  clone->tables->reached_two = two;
  clone->tables->reached_three = three;
  if (s3 != nullptr) *s3 = three;
  return two;
}

void release_records(word_batch_t *batch) {
  for (int32_t i = 0; i < batch->record_count; i++) seq_record_release(batch->records[i]);
  batch->record_count = 0;
}

// First-pass check after a batch, on totals read under the mutex: the
// tables are too small when no load estimate exists or when a word seen
// once would be let through too often even after every refinement.
bool first_pass_too_small(const word_pass_ctx_t *ctx, int64_t s2, int64_t s3) {
  double lambda = 0, a = 0;
  if (!word_counter_estimate_loads(kWordPassFirst, ctx->counter->log_size, static_cast<uint64_t>(s2),
                                   static_cast<uint64_t>(s3), 0, 0, &lambda, &a))
    return true;
  return word_counter_single_word_rejection(ctx->max_refinements, a, lambda) < 1 - 0.95 * ctx->target;
}

// Rules of the ordered passes on entries that only the calling thread
// writes during the pass: the same rules as above on plain bytes.
void raise_owned_saturating(uint8_t *data, uint64_t i, uint32_t *s2, uint32_t *s3) {
  uint8_t *p = data + i / 4;
  const int shift = static_cast<int>(2 * (i % 4));
  const int v = (*p >> shift) & 3;
  if (v == 3) return;
  *p = static_cast<uint8_t>(*p + (1 << shift));
  if (v == 1) ++*s2;
  if (v == 2) ++*s3;
}

void raise_owned_to_two(uint8_t *data, uint64_t i, uint32_t *s2) {
  uint8_t *p = data + i / 4;
  const int shift = static_cast<int>(2 * (i % 4));
  const int v = (*p >> shift) & 3;
  if (v >= 2) return;
  *p = static_cast<uint8_t>(*p + (1 << shift));
  if (v == 1) ++*s2;
}

void raise_owned_approximately(uint8_t *data, word_counter_tables_t *generator, uint64_t i, uint32_t *s2) {
  uint8_t *p = data + i / 2;
  const int shift = static_cast<int>(4 * (i % 2));
  const int v = (*p >> shift) & 15;
  if (v >= 2 && v > word_counter_draw(generator)) return;
  *p = static_cast<uint8_t>(*p + (1 << shift));
  if (v == 1) ++*s2;
}

// Log2 of the partition count of a table of 2^log_entries entries: 32
// partitions, more when that keeps a partition's offsets within 32 bits.
// At least 2 entries of every partition share no byte with another
// partition (entries of 2 and 4 bits, tables of at least 2^6 entries).
int32_t log_partitions_for(int32_t log_entries) { return std::max(5, log_entries - 32); }

// A generator seed for partition p from the handle's seed: both mixed so
// that neighbouring partitions start far apart, cut to the 31 bits the
// generator keeps.
uint32_t partition_seed(uint32_t seed, int32_t p) {
  uint64_t z = (static_cast<uint64_t>(seed) << 32 | static_cast<uint32_t>(p)) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<uint32_t>(z) & 0x7FFFFFFFu;
}

// Entries one batch raises in an ordered pass, as offsets inside their
// partition: per partition in A (the first pass) or C (the other passes), and
// in B (the first pass). The buffers keep their capacity between batches.
struct raise_lists_t {
  std::vector<std::vector<uint32_t>> first;
  std::vector<std::vector<uint32_t>> second;
};

// Applies one partition's list to a table in list order, prefetching a few
// entries ahead.
template <typename Raise>
void apply_list(const std::vector<uint32_t> &list, const uint8_t *data, uint64_t base, int32_t entries_per_byte,
                Raise &&raise) {
  const size_t n = list.size();
  for (size_t j = 0; j < n; j++) {
    if (j + kPrefetchDepth < n) __builtin_prefetch(data + (base + list[j + kPrefetchDepth]) / entries_per_byte, 1);
    raise(base + list[j]);
  }
}

// Scans a batch into the lists (all cleared first).
void collect_raises(const word_pass_ctx_t *ctx, word_counter_t *clone, word_batch_t *batch, raise_lists_t *lists) {
  for (auto &list : lists->first) list.clear();
  for (auto &list : lists->second) list.clear();
  const int32_t shift = ctx->partition_shift;
  const uint64_t mask = (1ull << shift) - 1;
  const word_counter_tables_t *tables = clone->tables;
  if (ctx->kind == kWordPassFirst) {
    auto sink = [&](const word_slots_t &slot) {
      lists->first[slot.a >> shift].push_back(static_cast<uint32_t>(slot.a & mask));
      lists->second[slot.b >> shift].push_back(static_cast<uint32_t>(slot.b & mask));
    };
    if (clone->word_size > 32)
      scan_records<kWordPassFirst, true, true>(clone, batch->records, batch->record_count, sink);
    else
      scan_records<kWordPassFirst, false, true>(clone, batch->records, batch->record_count, sink);
  } else {
    auto sink = [&](const word_slots_t &slot) {
      // B is looked at only when A lets the word pass.
      if (!filter_bit(tables->filter_a, slot.a) || !filter_bit(tables->filter_b, slot.b)) return;
      lists->first[slot.c >> shift].push_back(static_cast<uint32_t>(slot.c & mask));
    };
    if (clone->word_size > 32)
      scan_records<kWordPassFinal, true, true>(clone, batch->records, batch->record_count, sink);
    else
      scan_records<kWordPassFinal, false, true>(clone, batch->records, batch->record_count, sink);
  }
}

// Waits until partition p takes batch number seq; false once the pass has
// stopped.
bool wait_for_turn(word_pass_ctx_t *ctx, word_partition_t *part, int32_t seq) {
  pthread_mutex_lock(&part->mutex);
  while (part->next_batch != seq && !ctx->stop.load(std::memory_order_relaxed))
    pthread_cond_wait(&part->turn, &part->mutex);
  const bool go = !ctx->stop.load(std::memory_order_relaxed);
  pthread_mutex_unlock(&part->mutex);
  return go;
}

// Stops an ordered pass: no batch is applied any more and every thread
// waiting for a turn is woken.
void stop_ordered_pass(word_pass_ctx_t *ctx) {
  ctx->stop.store(1, std::memory_order_relaxed);
  for (int32_t p = 0; p < ctx->partition_count; p++) {
    pthread_mutex_lock(&ctx->partitions[p].mutex);
    pthread_cond_broadcast(&ctx->partitions[p].turn);
    pthread_mutex_unlock(&ctx->partitions[p].mutex);
  }
}

// Applies a collected batch partition by partition in batch order. The
// batch's totals join the pass totals, and the first pass's early stop is
// decided, while the last partition is held: totals grow batch by batch.
void apply_raises(word_pass_ctx_t *ctx, int32_t seq, const raise_lists_t &lists) {
  word_counter_tables_t *tables = ctx->counter->tables;
  const int32_t shift = ctx->partition_shift;
  uint32_t s2 = 0, s3 = 0;
  for (int32_t p = 0; p < ctx->partition_count; p++) {
    word_partition_t *part = &ctx->partitions[p];
    if (!wait_for_turn(ctx, part, seq)) return;
    const uint64_t base = static_cast<uint64_t>(p) << shift;
    if (ctx->kind == kWordPassFirst) {
      uint8_t *a = tables->filter_a.data;
      uint8_t *b = tables->filter_b.data;
      apply_list(lists.first[p], a, base, 4, [&](uint64_t i) { raise_owned_saturating(a, i, &s2, &s3); });
      apply_list(lists.second[p], b, base, 4, [&](uint64_t i) { raise_owned_saturating(b, i, &s2, &s3); });
    } else if (ctx->kind == kWordPassRefine) {
      uint8_t *c = tables->count_table.data;
      apply_list(lists.first[p], c, base, 4, [&](uint64_t i) { raise_owned_to_two(c, i, &s2); });
    } else {
      uint8_t *c = tables->count_table.data;
      word_counter_tables_t *generator = &part->generator;
      apply_list(lists.first[p], c, base, 2,
                 [&](uint64_t i) { raise_owned_approximately(c, generator, i, &s2); });
    }
    bool stop = false;
    pthread_mutex_lock(&part->mutex);
    part->next_batch = seq + 1;
    if (p == ctx->partition_count - 1) {
      ctx->s2_total += s2;
      ctx->s3_total += s3;
      stop = ctx->kind == kWordPassFirst && first_pass_too_small(ctx, ctx->s2_total, ctx->s3_total);
      // Set while the turn is still held: the next batch, waiting for this
      // last partition, must see the stop before it could add its totals.
      if (stop) ctx->stop.store(1, std::memory_order_relaxed);
    }
    pthread_cond_broadcast(&part->turn);
    pthread_mutex_unlock(&part->mutex);
    if (stop) stop_ordered_pass(ctx);
  }
}

// Counting thread of an ordered pass.
void count_ordered(word_pass_ctx_t *ctx, thread_args_t *args, word_counter_t *clone) {
  raise_lists_t lists;
  lists.first.resize(static_cast<size_t>(ctx->partition_count));
  lists.second.resize(ctx->kind == kWordPassFirst ? static_cast<size_t>(ctx->partition_count) : 0);
  while (auto *batch = static_cast<word_batch_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    if (!ctx->stop.load(std::memory_order_relaxed)) {
      if (ctx->colour_space) word_counter_colour_convert(batch->records, batch->record_count);
      collect_raises(ctx, clone, batch, &lists);
      // The records are not needed any more: release them before waiting.
      const int32_t seq = batch->tag;
      word_batch_free(batch);
      apply_raises(ctx, seq, lists);
    } else {
      word_batch_free(batch);
    }
  }
}

}  // namespace

uint32_t word_counter_count_first_batch(word_counter_t *clone, seq_record_t **records, int32_t n, uint32_t *s3) {
  return count_batch<kWordPassFirst>(clone, records, n, s3);
}

uint32_t word_counter_count_refine_batch(word_counter_t *clone, seq_record_t **records, int32_t n,
                                         uint32_t *s3) {
  return count_batch<kWordPassRefine>(clone, records, n, s3);
}

uint32_t word_counter_count_final_batch(word_counter_t *clone, seq_record_t **records, int32_t n, uint32_t *s3) {
  return count_batch<kWordPassFinal>(clone, records, n, s3);
}

void word_counter_colour_convert(seq_record_t **records, int32_t n) {
  for (int32_t r = 0; r < n; r++) {
    seq_record_t *record = records[r];
    if (record->length < 2) {
      record->length = 0;
      continue;
    }
    uint8_t *s = record->residues;
    for (uint32_t j = 0; j + 1 < record->length; j++)
      s[j] = s[j] <= 3 && s[j + 1] <= 3 ? static_cast<uint8_t>(s[j] ^ s[j + 1]) : 4;
    record->length--;
  }
}

word_batch_t *word_batch_from_list(array_list_t *list) {
  auto *batch = static_cast<word_batch_t *>(ryx_calloc(sizeof(word_batch_t)));
  batch->record_count = static_cast<int32_t>(array_list_get_count(list));
  batch->records = static_cast<seq_record_t **>(array_list_take_items(list));
  return batch;
}

word_batch_t *word_batch_of_one(seq_record_t *record) {
  auto *batch = static_cast<word_batch_t *>(ryx_calloc(sizeof(word_batch_t)));
  batch->record_count = 1;
  batch->records = static_cast<seq_record_t **>(ryx_malloc(sizeof(seq_record_t *)));
  batch->records[0] = record;
  return batch;
}

word_batch_t *word_batch_new_aux(int32_t tag, void *aux) {
  auto *batch = static_cast<word_batch_t *>(ryx_calloc(sizeof(word_batch_t)));
  batch->tag = tag;
  batch->aux = aux;
  return batch;
}

word_batch_t *word_batch_free(word_batch_t *batch) {
  if (batch == nullptr) return nullptr;
  release_records(batch);
  ryx_free(batch->records);
  ryx_free(batch->aux);
  ryx_free(batch);
  return nullptr;
}

void *word_counter_reader_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<word_pass_ctx_t *>(args->context);
  if (ctx->rewind) read_store_rewind(ctx->store);
  int32_t file_index = 0;
  int32_t seq = 0;
  while (seq_record_t *block = read_store_next_block(ctx->store, &file_index)) {
    if (ctx->use_flags != nullptr && ctx->use_flags[file_index] == 0) {
      seq_record_release(block);
    } else {
      word_batch_t *batch = word_batch_of_one(block);
      batch->tag = seq++;
      thread_queue_put(ctx->arbiter, args->output, batch, 0);
    }
    if (ctx->stop.load(std::memory_order_relaxed)) break;
  }
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

void *word_counter_db_reader_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<word_pass_ctx_t *>(args->context);
  seq_db_t *db = ctx->source;
  array_list_t *list = nullptr;
  int64_t gathered = 0;
  int32_t seq = 0;
  auto put = [&]() {
    word_batch_t *batch = word_batch_from_list(list);
    batch->tag = seq++;
    thread_queue_put(ctx->arbiter, args->output, batch, 0);
    list = nullptr;
    gathered = 0;
  };
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *record = db->get(db, i);
    if (list != nullptr && gathered > 0 && gathered + record->length > kDbBatchSymbols) put();
    if (list == nullptr) list = array_list_new(sizeof(seq_record_t *));
    array_list_add(list, &record);
    gathered += record->length;
  }
  if (list != nullptr) put();
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

void *word_counter_count_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<word_pass_ctx_t *>(args->context);
  word_counter_t *clone = word_counter_clone(ctx->counter);
  count_ordered(ctx, args, clone);
  word_counter_clone_free(clone);
  return nullptr;
}

int32_t word_counter_run_pass(word_counter_t *counter, seq_db_t *source, read_store_t *store,
                              const int32_t *use_flags, int32_t kind, int32_t refinement, double target,
                              int32_t max_refinements, int32_t colour_space, int32_t thread_count,
                              uint64_t *first_pass_total) {
  auto *ctx = new word_pass_ctx_t{};
  ctx->source = source;
  ctx->store = store;
  ctx->counter = counter;
  ctx->use_flags = use_flags;
  ctx->kind = kind;
  ctx->refinement = refinement;
  ctx->max_refinements = max_refinements;
  ctx->target = target;
  ctx->first_pass_total = *first_pass_total;
  ctx->colour_space = colour_space;
  ctx->stop.store(0);
  ctx->rewind = 1;
  {
    // The first pass splits A and B (2^d entries), a refinement C of 2^d
    // entries, the final pass C of 2^(d-1) entries.
    const int32_t log_entries = kind == kWordPassFinal ? counter->log_size - 1 : counter->log_size;
    const int32_t log_parts = log_partitions_for(log_entries);
    ctx->partition_count = 1 << log_parts;
    ctx->partition_shift = log_entries - log_parts;
    ctx->partitions = new word_partition_t[static_cast<size_t>(ctx->partition_count)]();
    for (int32_t p = 0; p < ctx->partition_count; p++) {
      word_partition_t *part = &ctx->partitions[p];
      pthread_mutex_init(&part->mutex, nullptr);
      pthread_cond_init(&part->turn, nullptr);
      part->generator.random_seed = partition_seed(counter->tables->random_seed, p);
    }
  }

  thread_queue_t *queue = thread_queue_new(4 * thread_count);
  ctx->arbiter = thread_arbiter_new(&queue, 1, thread_count, 0);
  thread_group_t *reader = thread_group_new(
      1, source != nullptr ? word_counter_db_reader_thread : word_counter_reader_thread, nullptr, queue, ctx);
  thread_group_t *counters = thread_group_new(thread_count, word_counter_count_thread, queue, nullptr, ctx);
  thread_queue_reset(queue);
  thread_group_register(reader);
  thread_group_register(counters);
  thread_arbiter_count_threads(ctx->arbiter);
  thread_group_start(reader);
  thread_group_start(counters);
  thread_group_join(counters);
  thread_group_join(reader);

  int32_t result = kWordPassGoOn;
  if (kind == kWordPassFirst) {
    *first_pass_total = static_cast<uint64_t>(ctx->s2_total);
    if (ctx->stop.load()) result = kWordPassTooSmall;
  } else if (kind == kWordPassRefine) {
    double lambda = 0, a = 0;
    word_counter_estimate_loads(kWordPassRefine, counter->log_size, static_cast<uint64_t>(ctx->s2_total), 0,
                                ctx->first_pass_total, refinement, &lambda, &a);
    if (word_counter_single_word_rejection(max_refinements, a, lambda) < 1 - target)
      result = kWordPassTooSmall;
    else if (word_counter_single_word_rejection(refinement + 1, a, lambda) > 1 - target)
      result = kWordPassEnough;
  }

  thread_group_free(reader);
  thread_group_free(counters);
  thread_queue_free(queue);
  for (int32_t p = 0; p < ctx->partition_count; p++) {
    pthread_mutex_destroy(&ctx->partitions[p].mutex);
    pthread_cond_destroy(&ctx->partitions[p].turn);
  }
  delete[] ctx->partitions;
  thread_arbiter_free(ctx->arbiter);
  delete ctx;
  return result;
}

word_counter_t *word_counter_build_in_space(read_store_t *store, const int32_t *use_flags, int32_t word_size,
                                            int32_t colour_space, progress_meter_t *meter) {
  const int32_t threads = get_number_of_cpus();
  const double t = kWordCounterTargetError;
  const int32_t max_r = kWordCounterMaxRefinements;
  uint64_t first_total = 0;
  double x = 1.0;
  for (int32_t d = 12;; d++) {
    word_counter_t *counter =
        colour_space ? word_counter_new_colour(d, word_size) : word_counter_new(d, word_size);
    word_counter_alloc_pass1_tables(counter);
    if (word_counter_run_pass(counter, nullptr, store, use_flags, kWordPassFirst, 0, t, max_r, colour_space,
                              threads, &first_total) == kWordPassTooSmall) {
      word_counter_free(counter);
      x *= 0.99;
      progress_meter_update(meter, 1 - x);
      continue;
    }
    word_counter_pack_filters(counter);
    x *= 2.0 / 3.0;
    progress_meter_update(meter, 1 - x);
    bool too_small = false;
    for (int32_t r = 0; r < max_r; r++) {
      word_counter_alloc_refine_table(counter);
      const int32_t result = word_counter_run_pass(counter, nullptr, store, use_flags, kWordPassRefine, r, t,
                                                   max_r, colour_space, threads, &first_total);
      if (result == kWordPassTooSmall) {
        word_counter_free(counter);
        x *= 1 - (d - 11) / 100.0;
        progress_meter_update(meter, 1 - x);
        too_small = true;
        break;
      }
      word_counter_install_refine_table(counter, r % 2);
      if (result == kWordPassEnough) break;
      x *= 0.5;
      progress_meter_update(meter, 1 - x);
    }
    if (too_small) continue;
    progress_meter_update(meter, 1 - 0.5 * x);
    word_counter_alloc_final_table(counter);
    word_counter_run_pass(counter, nullptr, store, use_flags, kWordPassFinal, 0, t, max_r, colour_space, threads,
                          &first_total);
    word_counter_finish_tables(counter);
    progress_meter_update(meter, 1.0);
    return counter;
  }
}

word_counter_t *word_counter_build(read_store_t *store, const int32_t *use_flags, int32_t word_size,
                                   progress_meter_t *meter) {
  return word_counter_build_in_space(store, use_flags, word_size, 0, meter);
}

word_counter_t *word_counter_build_colour(read_store_t *store, const int32_t *use_flags, int32_t word_size,
                                          progress_meter_t *meter) {
  return word_counter_build_in_space(store, use_flags, word_size, 1, meter);
}
