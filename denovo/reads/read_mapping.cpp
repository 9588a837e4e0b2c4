// Read mapping: the sampled fragment word index, the read walk of one
// block, the mapping of a reference sequence and the reader -> mappers ->
// merger pipeline.
#include "denovo/reads/read_mapping.h"

#include <cstdio>
#include <cstring>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "common/thread_group.h"
#include "denovo/reads/binary_heap.h"
#include "denovo/reads/read_store.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_complement.h"

namespace {

const uint8_t kEmptyPayload[sizeof(read_mapping_payload_t)] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Code of a fragment residue byte (A, C, G, T stored as 63 to 66).
inline uint8_t fragment_code(uint8_t b) { return static_cast<uint8_t>((b - 63) & 3); }

uint32_t fragment_length(seq_db_t *db, int64_t index) {
  if (db->get_length != nullptr) return db->get_length(db, index);
  seq_record_t *r = db->get(db, index);
  const uint32_t n = r->length;
  seq_record_release(r);
  return n;
}

// Index bits plus the dead-end bits of a fragment name "XY_...".
uint32_t fragment_word_of(uint32_t index, const char *name) {
  uint32_t w = index;
  if (name != nullptr && name[0] == 'E') w |= kReadMappingLeftDead;
  if (name != nullptr && name[0] != '\0' && name[1] == 'E') w |= kReadMappingRightDead;
  return w;
}

void print_letters(const uint8_t *codes, int64_t n) {
  for (int64_t i = 0; i < n; i++) putchar("ACGTN"[codes[i] <= 3 ? codes[i] : 4]);
  putchar('\n');
}

[[noreturn]] void report_duplicate(seq_db_t *db, const read_mapping_payload_t *stored, uint32_t index, int64_t m,
                                   const uint8_t *codes, int64_t length) {
  fprintf(stderr, "table error\n");
  printf("%d %d\n", static_cast<int32_t>(stored->fragment_word), stored->offset);
  printf("%d %d\n", static_cast<int32_t>(index), static_cast<int32_t>(m));
  seq_record_t *other = db->get(db, stored->fragment_word & kReadMappingIndexMask);
  for (uint32_t i = 0; i < other->length; i++) other->residues[i] = fragment_code(other->residues[i]);
  print_letters(other->residues, other->length);
  seq_record_release(other);
  print_letters(codes, length);
  fflush(stdout);
  ryx_exit(1);
}

// Sampled words of a fragment whose home slots are fetched ahead of their
// insertion into the index.
constexpr int64_t kIndexLookahead = 8;

// log2 of a slot count that holds n words below half load.
int table_log_size(int64_t n) {
  int log = 4;
  while (log < 40 && (INT64_C(1) << log) < 2 * n + 16) log++;
  return log;
}

// One accepted hit of a read.
struct hit_t {
  uint32_t index;      // fragment index
  bool reverse;        // reverse hit
  int32_t offset;      // raw offset of the word in the fragment
  int64_t position;    // block position of the window
  int64_t length;      // L
  bool left_dead;      // ends of the oriented fragment
  bool right_dead;
  oriented_id_t id() const { return reverse ? (index | kOrientedIdReverse) : index; }
  // Offset of the window in the oriented fragment.
  int64_t oriented_offset(int32_t k) const { return reverse ? length - k - offset : offset; }
  int64_t start(int32_t k) const { return position - oriented_offset(k); }
  int64_t end(int32_t k) const { return start(k) + length; }
};

// Tail of the read after the hit's word, past the oriented fragment's right
// end (forward), or before the word, past its left end, recorded on the
// flipped fragment; only when the word lies at most M positions from that
// end. Returns 1 when a record was added.
int add_tail(end_info_t *list, const uint8_t *block, const hit_t &hit, int32_t k, bool forward) {
  const int32_t before = list->count;
  if (forward) {
    const int64_t a = hit.reverse ? hit.offset : hit.length - k - hit.offset;
    if (a > list->max_distance) return 0;
    end_info_add_read_tail(list, hit.id(), static_cast<int32_t>(a), block + hit.position + k, 1);
  } else {
    const int64_t a = hit.oriented_offset(k);
    if (a > list->max_distance) return 0;
    end_info_add_read_tail(list, oriented_id_flip(hit.id()), static_cast<int32_t>(a), block + hit.position - 1, 0);
  }
  return list->count > before ? 1 : 0;
}

// Where a mate of a pair lies so far.
struct mate_t {
  read_ptr_t read_ptr;
  oriented_id_t fragment;
  int64_t offset;
  int64_t extent;
  void reset() {
    read_ptr = kReadPtrNone;
    fragment = kOrientedIdNone;
    offset = 0;
    extent = 0;
  }
  bool placed() const { return read_ptr != kReadPtrNone || fragment != kOrientedIdNone; }
};

// The walk of one block: the reads between separators, one at a time.
struct block_walk_t {
  read_mapping_mapper_t *mapper;
  const read_mapping_ctx_t *ctx;
  const uint8_t *block;
  int32_t k;
  read_table_t *batch;
  bool paired;
  bool pairs_only;
  bool capture;
  bool at_start[2];  // each mate measured at its start (else at its end)
  mate_t mates[2];
  int64_t reads;       // reads finished in the block
  int64_t read_start;  // block position of the current read's first symbol
  bool has_hit;
  bool has_path;
  hit_t last;

  int mate() const { return static_cast<int>(reads & 1); }

  // Both strands of the windows prepared so far, rolled along the block
  // (k <= 32): the forward word with its first symbol in the most
  // significant of the low 2k bits, the reverse complement likewise.
  uint64_t rolled_forward;
  uint64_t rolled_reverse;
  int64_t rolled;    // symbols slid in
  int64_t last_bad;  // position of the last code above 3 slid in, or -1

  // A 2k-bit word as a packed key: B bytes, first symbol in the top bits
  // of byte 0, bits past 2k zero.
  static void key_of(uint64_t word, int32_t key_bits, int32_t key_bytes, uint8_t *out) {
    const uint64_t aligned = word << (8 * key_bytes - key_bits);
    for (int32_t b = 0; b < key_bytes; b++) out[b] = static_cast<uint8_t>(aligned >> (8 * (key_bytes - 1 - b)));
  }

  // Packs window j (both strands) into its entry ahead and asks for the
  // table lines its look-ups will read; a window holding a code above 3 is
  // marked as not packed. Windows are prepared in order, one after another.
  void prepare(int64_t j) {
    const word_table_t *table = ctx->word_table;
    const size_t key_bytes = static_cast<size_t>(table->key_bytes);
    const auto entry = static_cast<size_t>(j % kReadMappingLookahead);
    uint8_t *forward = mapper->ahead + 2 * key_bytes * entry;
    uint8_t *backward = forward + key_bytes;
    uint8_t &ok = mapper->ahead_ok[entry];
    if (k <= 32) {
      const uint64_t mask = k == 32 ? ~0ull : (1ull << (2 * k)) - 1;
      for (; rolled < j + k; rolled++) {
        uint64_t c = block[rolled];
        if (c > 3) {
          last_bad = rolled;
          c = 0;
        }
        rolled_forward = ((rolled_forward << 2) | c) & mask;
        rolled_reverse = (rolled_reverse >> 2) | ((c ^ 3) << (2 * k - 2));
      }
      ok = last_bad < j ? 1 : 0;
      if (!ok) return;
      key_of(rolled_forward, table->key_bits, table->key_bytes, forward);
      key_of(rolled_reverse, table->key_bits, table->key_bytes, backward);
    } else {
      ok = static_cast<uint8_t>(word_table_pack_word(table->key_bits, block + j, forward, nullptr));
      if (!ok) return;
      memcpy(mapper->window, block + j, static_cast<size_t>(k));
      seq_codes_reverse_complement(mapper->window, static_cast<uint32_t>(k));
      word_table_pack_word(table->key_bits, mapper->window, backward, nullptr);
    }
    uint64_t *home = mapper->ahead_home + 2 * entry;
    home[0] = word_table_home_slot(table, forward);
    home[1] = word_table_home_slot(table, backward);
    word_table_prefetch_slot(table, home[0]);
    word_table_prefetch_slot(table, home[1]);
  }

  // Looks up the clean window at i, prepared ahead, and takes its hit,
  // when there is one: the forward key first, then the reverse one.
  void look_up(int64_t i) {
    const word_table_t *table = ctx->word_table;
    const size_t key_bytes = static_cast<size_t>(table->key_bytes);
    const auto entry = static_cast<size_t>(i % kReadMappingLookahead);
    const uint8_t *forward = mapper->ahead + 2 * key_bytes * entry;
    const uint64_t *home = mapper->ahead_home + 2 * entry;
    if (!mapper->ahead_ok[entry]) return;  // a window that does not pack has no hit
    int64_t slot = word_table_find_slot_from(table, forward, home[0]);
    bool reverse = false;
    if (slot < 0) {
      slot = word_table_find_slot_from(table, forward + key_bytes, home[1]);
      reverse = true;
    }
    if (slot < 0) return;
    const auto *payload =
        static_cast<const read_mapping_payload_t *>(word_table_get_payload(table, static_cast<uint64_t>(slot)));
    hit_t hit;
    hit.index = payload->fragment_word & kReadMappingIndexMask;
    hit.reverse = reverse;
    hit.offset = payload->offset;
    hit.position = i;
    hit.length = ctx->lengths[hit.index];
    const bool left = (payload->fragment_word & kReadMappingLeftDead) != 0;
    const bool right = (payload->fragment_word & kReadMappingRightDead) != 0;
    hit.left_dead = reverse ? right : left;
    hit.right_dead = reverse ? left : right;
    take(hit);
  }

  void take(const hit_t &hit) {
    const int64_t d = has_hit ? hit.start(k) - last.end(k) : 0;
    // A new fragment must follow the previous one: start after its start,
    // end after its end, and overlap it by no more than k + 2.
    if (has_hit && hit.index != last.index && (last.length + d <= 0 || d < -(k + 2) || hit.length + d < 1)) return;
    mate_t &m = mates[mate()];
    if (paired && !has_hit && at_start[mate()]) {
      m.fragment = hit.id();
      m.offset = hit.oriented_offset(k) - (hit.position - read_start);
    }
    const bool same_occurrence = has_hit && hit.index == last.index && hit.reverse == last.reverse &&
                                 (hit.reverse ? hit.offset < last.offset : hit.offset > last.offset);
    if (!same_occurrence) new_occurrence(hit, d);
    last = hit;
    has_hit = true;
  }

  void new_occurrence(const hit_t &hit, int64_t d) {
    mate_t &m = mates[mate()];
    if (paired) m.extent += hit.length;
    end_info_t *tails = batch->end_info;
    // A tail taken here stands for the read's passage between the two
    // fragments; the gap tail below is then not needed.
    bool tail = false;
    if (has_hit && last.right_dead && capture) tail = add_tail(tails, block, last, k, true) != 0;
    if (capture && hit.left_dead && add_tail(tails, block, hit, k, false) != 0) tail = true;
    if (!has_hit) return;
    read_info_t *info = batch->read_info;
    if (!has_path) {
      const uint64_t p = pairs_only ? read_info_start_uncounted_path(info, last.id())
                                    : read_info_start_path(info, last.id());
      has_path = true;
      if (paired) m.read_ptr = p;
    }
    read_info_add_step(info, static_cast<int32_t>(d), hit.id());
    if (!tail && d > 0 && !pairs_only) {
      const int64_t a = last.reverse ? last.offset : last.length - k - last.offset;
      end_info_add_read_tail(tails, last.id(), static_cast<int32_t>(a), block + last.position + k, 1);
    }
    if (paired) m.extent += d;
  }

  // The read ending at the separator at i.
  void finish_read(int64_t i) {
    if (paired && has_hit && !at_start[mate()]) {
      mate_t &m = mates[mate()];
      m.fragment = last.id();
      m.offset = m.extent - (last.end(k) - i);
    }
    reads++;
    if (paired && (reads & 1) == 0) emit_pair();
    if (has_hit && last.right_dead && capture) add_tail(batch->end_info, block, last, k, true);
    has_hit = false;
    has_path = false;
  }

  void emit_pair() {
    const mate_t &a = mates[0];
    const mate_t &b = mates[1];
    if (!a.placed() || !b.placed()) {
      if (pairs_only) {
        if (a.read_ptr != kReadPtrNone) {
          read_info_truncate(batch->read_info, a.read_ptr);
        } else if (b.read_ptr != kReadPtrNone) {
          read_info_truncate(batch->read_info, b.read_ptr);
        }
      }
      read_table_add_pair(batch, kReadPtrNone, kOrientedIdNone, static_cast<int32_t>(a.offset),
                          static_cast<int32_t>(a.extent), kReadPtrNone, kOrientedIdNone,
                          static_cast<int32_t>(b.offset), static_cast<int32_t>(b.extent));
    } else {
      read_table_add_pair(batch, a.read_ptr, a.read_ptr != kReadPtrNone ? kOrientedIdNone : a.fragment,
                          static_cast<int32_t>(a.offset), static_cast<int32_t>(a.extent), b.read_ptr,
                          b.read_ptr != kReadPtrNone ? kOrientedIdNone : b.fragment, static_cast<int32_t>(b.offset),
                          static_cast<int32_t>(b.extent));
    }
    mates[0].reset();
    mates[1].reset();
  }
};

}  // namespace

int32_t read_mapping_sampling_step(int32_t k) { return k < 14 ? 2 : k < 16 ? 4 : 5; }

read_mapping_ctx_t *read_mapping_ctx_new(seq_db_t *fragment_db, read_store_t *store,
                                         paired_setting_t *const *pair_par_array, const int32_t *use_flags,
                                         int32_t k, progress_meter_t *meter) {
  const int64_t count = fragment_db->sequence_count;
  if (count > static_cast<int64_t>(kReadMappingIndexMask) + 1) {
    fprintf(stderr, "Too many fragments to map reads onto: %lld\n", static_cast<long long>(count));
    ryx_exit(1);
  }
  auto *ctx = static_cast<read_mapping_ctx_t *>(ryx_calloc(sizeof(read_mapping_ctx_t)));
  ctx->store = store;
  ctx->fragment_db = fragment_db;
  ctx->pair_par_array = pair_par_array;
  ctx->use_flags = use_flags;
  ctx->word_size = k;
  ctx->meter = meter;
  ctx->fragment_count = static_cast<uint32_t>(count);
  ctx->lengths = static_cast<uint32_t *>(ryx_malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(uint32_t)));

  const int32_t step = read_mapping_sampling_step(k);
  const int64_t residues = fragment_db->residue_count;
  word_table_t *table = word_table_new_sized(k, sizeof(read_mapping_payload_t), kEmptyPayload, 0,
                                             table_log_size(residues / step + count));
  word_table_key_t *key = word_table_key_new(table);
  word_table_key_t *ahead = word_table_key_new(table);
  int64_t indexed = 0;
  for (int64_t i = 0; i < count; i++) {
    seq_record_t *f = fragment_db->get(fragment_db, i);
    uint8_t *codes = f->residues;
    const int64_t length = f->length;
    for (int64_t j = 0; j < length; j++) codes[j] = fragment_code(codes[j]);
    ctx->lengths[i] = f->length;
    read_mapping_payload_t payload{fragment_word_of(static_cast<uint32_t>(i), f->name), 0};
    // The home slot of the word kIndexLookahead samples on is fetched
    // while this one is looked up and inserted.
    const int64_t ahead_distance = kIndexLookahead * static_cast<int64_t>(step);
    for (int64_t m = 0; m < ahead_distance && m + k <= length; m += step)
      word_table_prefetch_word(table, codes + m, ahead);
    for (int64_t m = 0; m + k <= length; m += step) {
      if (m + ahead_distance + k <= length) word_table_prefetch_word(table, codes + m + ahead_distance, ahead);
      auto *stored = static_cast<const read_mapping_payload_t *>(word_table_find_word(table, codes + m, key, nullptr));
      if (stored != nullptr) report_duplicate(fragment_db, stored, static_cast<uint32_t>(i), m, codes, length);
      payload.offset = static_cast<int32_t>(m);
      word_table_insert_word(table, codes + m, &payload, key, nullptr);
    }
    indexed += length;
    seq_record_release(f);
    if (i % 100 == 0 && residues > 0) progress_meter_update(meter, static_cast<double>(indexed) / residues);
  }
  progress_meter_update(meter, 1.0);
  word_table_key_free(key);
  word_table_key_free(ahead);
  ctx->word_table = table;
  return ctx;
}

read_mapping_ctx_t *read_mapping_ctx_free(read_mapping_ctx_t *ctx) {
  if (ctx == nullptr) return nullptr;
  word_table_free(ctx->word_table);
  ryx_free(ctx->lengths);
  ryx_free(ctx);
  return nullptr;
}

read_mapping_mapper_t *read_mapping_mapper_new(read_mapping_ctx_t *ctx) {
  auto *mapper = static_cast<read_mapping_mapper_t *>(ryx_calloc(sizeof(read_mapping_mapper_t)));
  mapper->ctx = ctx;
  mapper->window = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(ctx->word_size)));
  mapper->ahead = static_cast<uint8_t *>(
      ryx_malloc(2 * static_cast<size_t>(ctx->word_table->key_bytes) * kReadMappingLookahead));
  mapper->ahead_home = static_cast<uint64_t *>(ryx_calloc(2 * sizeof(uint64_t) * kReadMappingLookahead));
  mapper->ahead_ok = static_cast<uint8_t *>(ryx_calloc(kReadMappingLookahead));
  return mapper;
}

read_mapping_mapper_t *read_mapping_mapper_free(read_mapping_mapper_t *mapper) {
  if (mapper == nullptr) return nullptr;
  ryx_free(mapper->window);
  ryx_free(mapper->ahead);
  ryx_free(mapper->ahead_home);
  ryx_free(mapper->ahead_ok);
  ryx_free(mapper);
  return nullptr;
}

read_table_t *read_mapping_map_block(read_mapping_mapper_t *mapper, const uint8_t *block, int64_t length,
                                     int32_t file_index) {
  const read_mapping_ctx_t *ctx = mapper->ctx;
  const int32_t k = ctx->word_size;
  const paired_setting_t *setting = ctx->pair_par_array != nullptr ? ctx->pair_par_array[file_index] : nullptr;
  block_walk_t w{};
  w.mapper = mapper;
  w.ctx = ctx;
  w.block = block;
  w.k = k;
  w.paired = setting != nullptr;
  w.pairs_only = setting != nullptr && setting->pair_info_only != 0;
  w.capture = (ctx->use_flags == nullptr || ctx->use_flags[file_index] != 0) && !w.pairs_only;
  if (setting != nullptr) {
    const int mode = setting->distance_mode;  // ss, se, es, ee
    w.at_start[0] = mode == 0 || mode == 1;
    w.at_start[1] = mode == 0 || mode == 2;
  }
  w.mates[0].reset();
  w.mates[1].reset();
  w.read_start = -1;
  w.last_bad = -1;
  w.batch = read_table_new_batch(ctx->fragment_count, setting, file_index, k);

  // Every window is prepared kReadMappingLookahead - 1 positions before
  // the walk reaches it, so that its table lines arrive in the meantime;
  // the entries then hold the window in turn and those prepared after it.
  const int64_t windows = length - k + 1;
  const int64_t distance = kReadMappingLookahead - 1;
  for (int64_t j = 0; j < distance && j < windows; j++) w.prepare(j);
  // bad: the first position at or after i holding a code above 3.
  int64_t bad = 0;
  for (int64_t i = 0; i < length; i++) {
    if (i + distance < windows) w.prepare(i + distance);
    if (block[i] == kReadStoreSeparator) {
      if (w.read_start >= 0) w.finish_read(i);
      w.read_start = i + 1;
      continue;
    }
    if (w.read_start < 0) continue;
    if (bad < i) bad = i;
    if (bad == i) {
      while (bad < length && block[bad] <= 3) bad++;
    }
    if (i + k <= bad) w.look_up(i);
  }
  read_info_finish(w.batch->read_info);
  return w.batch;
}

read_info_t *read_mapping_map_sequence(seq_db_t *fragment_db, const word_table_t *word_table,
                                       const uint8_t *codes, int64_t length, uint32_t fragment_count) {
  read_info_t *info = read_info_new(fragment_count);
  const int32_t k = word_table->key_bits / 2;
  word_table_key_t *key = word_table_key_new(word_table);
  auto *window = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(k)));
  uint32_t previous = kOrientedIdNone;
  int64_t previous_end = -1;
  int64_t bad = 0;
  for (int64_t i = 0; i + k < length; i++) {
    if (bad < i) bad = i;
    if (bad == i) {
      while (bad < length && codes[bad] <= 3) bad++;
    }
    if (i + k > bad) continue;
    auto *payload = static_cast<const read_mapping_payload_t *>(word_table_find_word(word_table, codes + i, key, nullptr));
    bool reverse = false;
    if (payload == nullptr) {
      memcpy(window, codes + i, static_cast<size_t>(k));
      seq_codes_reverse_complement(window, static_cast<uint32_t>(k));
      payload = static_cast<const read_mapping_payload_t *>(word_table_find_word(word_table, window, key, nullptr));
      reverse = true;
    }
    if (payload == nullptr) continue;
    const uint32_t index = payload->fragment_word & kReadMappingIndexMask;
    if (index == previous) continue;
    const int64_t fragment_length_here = fragment_length(fragment_db, index);
    const int64_t oriented = reverse ? fragment_length_here - k - payload->offset : payload->offset;
    const int64_t start = i - oriented;
    read_info_add_step(info, static_cast<int32_t>(start - previous_end), reverse ? index | kOrientedIdReverse : index);
    previous = index;
    previous_end = start + fragment_length_here;
  }
  ryx_free(window);
  word_table_key_free(key);
  return info;
}

int read_mapping_add_end_tail(end_info_t *end_info, seq_db_t *fragment_db, const uint8_t *block,
                              uint32_t fragment_index, int reverse, int forward, int32_t offset, int64_t position,
                              int32_t k) {
  hit_t hit{};
  hit.index = fragment_index;
  hit.reverse = reverse != 0;
  hit.offset = offset;
  hit.position = position;
  hit.length = fragment_length(fragment_db, fragment_index);
  return add_tail(end_info, block, hit, k, forward != 0);
}

void *read_mapping_reader_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<read_mapping_ctx_t *>(args->context);
  read_store_rewind(ctx->store);
  int32_t file_index = 0;
  int64_t sequence = 0;
  while (seq_record_t *block = read_store_next_block(ctx->store, &file_index)) {
    auto *item = static_cast<read_mapping_item_t *>(ryx_malloc(sizeof(read_mapping_item_t)));
    item->block = block;
    item->file_index = file_index;
    item->sequence = sequence++;
    thread_queue_put(ctx->arbiter, args->output, item, 0);
  }
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

void *read_mapping_worker_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<read_mapping_ctx_t *>(args->context);
  read_mapping_mapper_t *mapper = read_mapping_mapper_new(ctx);
  while (auto *item = static_cast<read_mapping_item_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    auto *batch = static_cast<read_mapping_batch_t *>(ryx_malloc(sizeof(read_mapping_batch_t)));
    batch->sequence = item->sequence;
    batch->table = read_mapping_map_block(mapper, item->block->residues, item->block->length, item->file_index);
    seq_record_release(item->block);
    ryx_free(item);
    thread_queue_put(ctx->arbiter, args->output, batch, 0);
  }
  read_mapping_mapper_free(mapper);
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}

namespace {

int compare_batches(const void *a, const void *b) {
  const int64_t x = static_cast<const read_mapping_batch_t *>(a)->sequence;
  const int64_t y = static_cast<const read_mapping_batch_t *>(b)->sequence;
  return x < y ? -1 : x > y ? 1 : 0;
}

void merge_batch(read_mapping_ctx_t *ctx, read_mapping_batch_t *batch) {
  read_table_merge(batch->table, ctx->global);
  end_info_spool_records(ctx->global->end_info->spool, batch->table->end_info);
  read_table_free(batch->table);
  ryx_free(batch);
  ctx->blocks_merged++;
  if (ctx->store->block_count > 0)
    progress_meter_update(ctx->meter, static_cast<double>(ctx->blocks_merged) / ctx->store->block_count);
}

}  // namespace

void *read_mapping_merge_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<read_mapping_ctx_t *>(args->context);
  // Batches that arrive ahead of their turn wait here, smallest block first.
  binary_heap_t *pending = binary_heap_new(16, compare_batches);
  int64_t next = 0;
  while (auto *batch = static_cast<read_mapping_batch_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    binary_heap_push(pending, batch);
    while (!binary_heap_is_empty(pending)) {
      auto *top = static_cast<read_mapping_batch_t *>(binary_heap_peek(pending));
      if (top->sequence != next) break;
      binary_heap_pop(pending);
      merge_batch(ctx, top);
      next++;
    }
  }
  // Every block is mapped, so every batch has had its turn.
  while (!binary_heap_is_empty(pending)) merge_batch(ctx, static_cast<read_mapping_batch_t *>(binary_heap_pop(pending)));
  binary_heap_free(pending);
  return nullptr;
}

read_table_t *read_mapping_run_threads(seq_db_t *fragment_db, read_store_t *store, seq_db_t *reference_db,
                                       read_info_t **reference_info, paired_setting_t *const *pair_par_array,
                                       const int32_t *use_flags, int32_t k, progress_meter_t *meter,
                                       int32_t thread_count) {
  if (thread_count < 1) thread_count = 1;
  const auto fragment_count = static_cast<uint32_t>(fragment_db->sequence_count);
  read_table_t *global = read_table_new(fragment_count, pair_par_array, store->file_count, k);
  progress_meter_t *child = progress_meter_new_child(meter, 0, kReadMappingIndexShare);
  read_mapping_ctx_t *ctx = read_mapping_ctx_new(fragment_db, store, pair_par_array, use_flags, k, child);
  ctx->global = global;
  progress_meter_set_range(meter, child, kReadMappingIndexShare, 1);

  thread_group_run_pipeline(thread_count, 4 * thread_count, read_mapping_reader_thread, read_mapping_worker_thread,
                            read_mapping_merge_thread, ctx, &ctx->arbiter);

  if (reference_db != nullptr) {
    seq_record_t *reference = reference_db->get(reference_db, 0);
    seq_alphabet_t *dna = seq_alphabet_new_dna();
    seq_alphabet_apply(dna, reference);
    seq_alphabet_free(dna);
    read_info_t *info =
        read_mapping_map_sequence(fragment_db, ctx->word_table, reference->residues, reference->length, fragment_count);
    read_info_make_searchable(info);
    *reference_info = info;
    seq_record_release(reference);
  }

  read_mapping_ctx_free(ctx);
  read_table_finish(global);
  progress_meter_free(child);
  return global;
}

read_table_t *read_mapping_run(seq_db_t *fragment_db, read_store_t *store, seq_db_t *reference_db,
                               read_info_t **reference_info, paired_setting_t *const *pair_par_array,
                               const int32_t *use_flags, int32_t k, progress_meter_t *meter) {
  return read_mapping_run_threads(fragment_db, store, reference_db, reference_info, pair_par_array, use_flags, k,
                                  meter, get_number_of_cpus());
}
