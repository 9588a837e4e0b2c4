#include "refmap/alignment_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/array_list.h"
#include "common/bin_codec.h"
#include "common/chunk_arena.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "refmap/map_context.h"
#include "refmap/read_batch.h"
#include "seqio/seq_record.h"

namespace {

// Arena pieces follow each other unaligned; structures and pointer arrays
// are placed at the next multiple of their alignment.
void *arena_alloc_aligned(chunk_arena_t *arena, size_t size, size_t align) {
  auto raw = reinterpret_cast<uintptr_t>(chunk_arena_alloc(arena, size + align - 1));
  return reinterpret_cast<void *>((raw + align - 1) & ~(uintptr_t{align} - 1));
}

// Capacity of a hit array holding n hits: the next power of two (0 for 0).
int32_t hit_capacity(int32_t n) {
  int32_t c = 1;
  while (c < n) c <<= 1;
  return n == 0 ? 0 : c;
}

// Makes room for one more hit pointer, doubling the array in the arena.
void grow_for_one(chunk_arena_t *arena, alignment_info_t *slot) {
  const int32_t capacity = hit_capacity(slot->stored);
  if (slot->stored < capacity) return;
  const int32_t grown = capacity == 0 ? 1 : capacity * 2;
  auto **hits = static_cast<alignment_hit_t **>(
      arena_alloc_aligned(arena, sizeof(alignment_hit_t *) * static_cast<size_t>(grown), alignof(alignment_hit_t *)));
  if (slot->stored > 0) memcpy(hits, slot->hits, sizeof(alignment_hit_t *) * static_cast<size_t>(slot->stored));
  slot->hits = hits;
}

void append_hit(chunk_arena_t *arena, alignment_info_t *slot, alignment_hit_t *copy) {
  grow_for_one(arena, slot);
  slot->hits[slot->stored++] = copy;
}

[[noreturn]] void bad_temp_file() {
  fputs("Error reading temporary file\n", stderr);
  ryx_exit(1);
}

// Bytes a flex number starting with byte b takes.
int32_t flex_size(uint8_t b) { return b < 254 ? 1 : (b == 254 ? 3 : 5); }

uint32_t read_flex_checked(const uint8_t *bytes, int32_t *cursor, int32_t end) {
  if (*cursor >= end || *cursor + flex_size(bytes[*cursor]) > end) bad_temp_file();
  return bin_bytes_read_flex_number(bytes, cursor);
}

uint32_t read_number_checked(const uint8_t *bytes, int32_t *cursor, int32_t end, int32_t limit) {
  if (*cursor + bin_number_size(limit) > end) bad_temp_file();
  return bin_bytes_read_number(bytes, cursor, limit);
}

uint8_t read_u8_checked(const uint8_t *bytes, int32_t *cursor, int32_t end) {
  if (*cursor >= end) bad_temp_file();
  return bin_bytes_read_u8(bytes, cursor);
}

// Score limit of a slot: scores never exceed the read length. A slot of a
// results-only batch has no read: its read is shorter than the context's
// length bound, and both limits take the same width (one byte up to 255).
int32_t score_limit(const alignment_info_t *slot) { return static_cast<int32_t>(slot->read->length) + 1; }
int32_t decode_score_limit(const map_context_t *context, const alignment_info_t *slot) {
  return slot->read != nullptr ? score_limit(slot) : std::max(context->length_bound, 1);
}

}  // namespace

int32_t alignment_info_stored_count(const alignment_info_t *slot, int32_t report_limit) {
  int32_t n = (slot->flags & kAlignmentInfoOverFull) ? slot->hit_count
                                                     : (slot->hit_count < report_limit ? slot->hit_count : report_limit);
  return n < slot->stored ? n : slot->stored;
}

void alignment_info_clear(alignment_info_t *slot) {
  slot->hit_count = 0;
  slot->stored = 0;
  slot->flags = static_cast<uint8_t>(slot->flags & ~kAlignmentInfoOverFull);
}

void alignment_info_raise_score(alignment_info_t *slot, int32_t score) {
  if (score > slot->best_score) {
    alignment_info_clear(slot);
    slot->best_score = score;
  }
}

void alignment_info_raise_prescore(alignment_info_t *slot, int32_t prescore) {
  if (prescore > slot->best_prescore) {
    alignment_info_clear(slot);
    slot->best_score = 0;
    slot->best_prescore = prescore;
  }
}

alignment_hit_t *alignment_hit_copy(chunk_arena_t *arena, const alignment_hit_t *hit) {
  auto *copy = static_cast<alignment_hit_t *>(arena_alloc_aligned(arena, sizeof(alignment_hit_t), alignof(alignment_hit_t)));
  *copy = *hit;
  copy->code_capacity = hit->code_length;
  copy->code = nullptr;
  if (hit->code_length > 0) {
    copy->code = static_cast<uint8_t *>(chunk_arena_alloc(arena, static_cast<size_t>(hit->code_length)));
    memcpy(copy->code, hit->code, static_cast<size_t>(hit->code_length));
  }
  return copy;
}

void alignment_info_add_hit(read_batch_t *batch, alignment_info_t *slot, const alignment_hit_t *hit,
                            int32_t report_limit) {
  // Over-full means "holds every hit it counted"; that holds only while
  // every hit so far was stored.
  const bool all_stored = slot->stored == slot->hit_count;
  append_hit(batch->arena, slot, alignment_hit_copy(batch->arena, hit));
  slot->hit_count++;
  if (all_stored && slot->stored > report_limit) slot->flags |= kAlignmentInfoOverFull;
}

void alignment_info_count_hit(read_batch_t *batch, alignment_info_t *slot, int32_t report_limit) {
  if (slot->flags & kAlignmentInfoOverFull) alignment_info_reduce(batch, slot, report_limit);
  slot->hit_count++;
}

void alignment_info_replace_hit(read_batch_t *batch, alignment_info_t *slot, const alignment_hit_t *hit,
                                int32_t report_limit, int32_t *shared_index) {
  if (slot->hit_count < report_limit) {
    alignment_info_add_hit(batch, slot, hit, report_limit);
    return;
  }
  if (slot->flags & kAlignmentInfoOverFull) alignment_info_reduce(batch, slot, report_limit);
  if (*shared_index < 0) {
    *shared_index = report_limit >= 2
                        ? static_cast<int32_t>(random_state_draw_ranged32(batch->random, static_cast<uint32_t>(report_limit)))
                        : 0;
  }
  if (*shared_index >= slot->stored) {
    // Fewer stored hits than the limit (R = 0 or a slot counted without
    // storing): nothing to overwrite, the hit is only counted.
    slot->hit_count++;
    return;
  }
  alignment_hit_t *target = slot->hits[*shared_index];
  if (hit->code_length <= target->code_capacity) {
    if (hit->code_length > 0) memcpy(target->code, hit->code, static_cast<size_t>(hit->code_length));
    const int32_t capacity = target->code_capacity;
    uint8_t *code = target->code;
    *target = *hit;
    target->code = code;
    target->code_capacity = capacity;
  } else {
    slot->hits[*shared_index] = alignment_hit_copy(batch->arena, hit);
  }
  slot->hit_count++;
}

void alignment_info_reduce(read_batch_t *batch, alignment_info_t *slot, int32_t report_limit) {
  if (!(slot->flags & kAlignmentInfoOverFull)) return;
  if (slot->stored < report_limit) {
    fputs("alignment_info_reduce error\n", stderr);
    ryx_exit(1);
  }
  for (int32_t i = 0; i < report_limit; i++) {
    const uint32_t d = random_state_draw_ranged32(batch->random, static_cast<uint32_t>(slot->stored - i));
    if (d != 0) {
      alignment_hit_t *t = slot->hits[i];
      slot->hits[i] = slot->hits[i + static_cast<int32_t>(d)];
      slot->hits[i + static_cast<int32_t>(d)] = t;
    }
  }
  slot->stored = report_limit;
  slot->flags = static_cast<uint8_t>(slot->flags & ~kAlignmentInfoOverFull);
}

void alignment_info_move(read_batch_t *target_batch, alignment_info_t *target, alignment_info_t *source) {
  *target = *source;
  target->hits = nullptr;
  target->stored = 0;
  // A read kept in the source batch's arena goes with the arena: the target
  // gets its own copy.
  if (source->read != nullptr && source->read->free_callback == seq_record_free_nothing) {
    target->read = seq_record_copy_to_arena(target_batch->arena, source->read);
  }
  target->reverse = source->reverse != nullptr ? seq_record_copy_to_arena(target_batch->arena, source->reverse) : nullptr;
  for (int32_t i = 0; i < source->stored; i++) {
    append_hit(target_batch->arena, target, alignment_hit_copy(target_batch->arena, source->hits[i]));
  }
  const int32_t index = source->read_index;
  *source = alignment_info_t{};
  source->read_index = index;
}

void alignment_hit_encode(const map_context_t *context, const alignment_hit_t *hit, array_list_t *bytes) {
  bin_bytes_append_number(bytes, static_cast<uint32_t>(hit->sequence), context->reference_count);
  bin_bytes_append_number(bytes, static_cast<uint32_t>(hit->offset), context->longest_reference);
  bin_bytes_append_u8(bytes, hit->flags);
  bin_bytes_append_flex_number(bytes, static_cast<uint32_t>(hit->code_length));
  for (int32_t i = 0; i < hit->code_length; i++) bin_bytes_append_u8(bytes, hit->code[i]);
}

void alignment_info_encode(const map_context_t *context, const alignment_info_t *slot, array_list_t *bytes) {
  const bool scores = slot->best_score > 0 || (context->prescore_flag && slot->best_prescore > 0);
  if (slot->read == nullptr || (slot->hit_count == 0 && !scores)) {
    bin_bytes_append_flex_number(bytes, 0);
    return;
  }
  uint8_t flags = static_cast<uint8_t>(slot->flags & kAlignmentInfoOverFull);
  if (slot->hit_count == 0) {
    bin_bytes_append_flex_number(bytes, 1);
    flags = kAlignmentInfoScoresOnly;
  } else {
    bin_bytes_append_flex_number(bytes, static_cast<uint32_t>(slot->hit_count));
  }
  bin_bytes_append_u8(bytes, flags);
  bin_bytes_append_number(bytes, static_cast<uint32_t>(slot->best_score), score_limit(slot));
  if (context->prescore_flag) bin_bytes_append_number(bytes, static_cast<uint32_t>(slot->best_prescore), score_limit(slot));
  if (slot->hit_count == 0) return;
  const int32_t n = alignment_info_stored_count(slot, context->report_limit);
  // The reader derives the number of hits from the count and the flag, so
  // an over-full slot must hold every hit it counted (the slot operations
  // keep it so).
  if ((slot->flags & kAlignmentInfoOverFull) && n != slot->hit_count) {
    fputs("alignment_info_encode error\n", stderr);
    ryx_exit(1);
  }
  for (int32_t i = 0; i < n; i++) alignment_hit_encode(context, slot->hits[i], bytes);
}

void alignment_hit_decode(const map_context_t *context, chunk_arena_t *arena, alignment_hit_t *hit,
                          const uint8_t *bytes, int32_t *cursor, int32_t end) {
  hit->sequence = static_cast<int32_t>(read_number_checked(bytes, cursor, end, context->reference_count));
  hit->offset = static_cast<int32_t>(read_number_checked(bytes, cursor, end, context->longest_reference));
  hit->flags = read_u8_checked(bytes, cursor, end);
  const uint32_t length = read_flex_checked(bytes, cursor, end);
  if (length > static_cast<uint32_t>(end - *cursor)) bad_temp_file();
  hit->code_length = static_cast<int32_t>(length);
  hit->code_capacity = hit->code_length;
  hit->code = nullptr;
  if (length > 0) {
    hit->code = static_cast<uint8_t *>(chunk_arena_alloc(arena, length));
    memcpy(hit->code, bytes + *cursor, length);
    *cursor += static_cast<int32_t>(length);
  }
}

void alignment_info_decode(const map_context_t *context, read_batch_t *batch, alignment_info_t *slot,
                           const uint8_t *bytes, int32_t *cursor, int32_t end) {
  slot->best_score = 0;
  slot->best_prescore = 0;
  slot->hit_count = 0;
  slot->hits = nullptr;
  slot->stored = 0;
  slot->flags = 0;
  const uint32_t count = read_flex_checked(bytes, cursor, end);
  if (count == 0) return;
  if (slot->read == nullptr && !batch->results_only) bad_temp_file();
  const int32_t limit_of_scores = decode_score_limit(context, slot);
  const uint8_t flags = read_u8_checked(bytes, cursor, end);
  slot->best_score = static_cast<int32_t>(read_number_checked(bytes, cursor, end, limit_of_scores));
  if (context->prescore_flag) {
    slot->best_prescore = static_cast<int32_t>(read_number_checked(bytes, cursor, end, limit_of_scores));
  }
  if (flags & kAlignmentInfoScoresOnly) return;
  slot->hit_count = static_cast<int32_t>(count);
  slot->flags = static_cast<uint8_t>(flags & kAlignmentInfoOverFull);
  const uint32_t limit = static_cast<uint32_t>(context->report_limit);
  const uint32_t n = (flags & kAlignmentInfoOverFull) ? count : (count < limit ? count : limit);
  // Every hit takes at least 2 bytes (flags and code length).
  if (n > static_cast<uint32_t>(end - *cursor) / 2) bad_temp_file();
  for (uint32_t i = 0; i < n; i++) {
    auto *hit = static_cast<alignment_hit_t *>(
        arena_alloc_aligned(batch->arena, sizeof(alignment_hit_t), alignof(alignment_hit_t)));
    alignment_hit_decode(context, batch->arena, hit, bytes, cursor, end);
    append_hit(batch->arena, slot, hit);
  }
}
