#include "refmap/read_batch.h"

#include <cstdio>
#include <cstring>

#include "common/array_list.h"
#include "common/bin_codec.h"
#include "common/bin_decode.h"
#include "common/chunk_arena.h"
#include "common/memory.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "refmap/map_context.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

bool mappable(const map_context_t *context, const seq_record_t *read) {
  return read != nullptr && static_cast<int32_t>(read->length) >= context->shortest_length &&
         static_cast<int32_t>(read->length) < context->length_bound;
}

// The read of index i in the context's scratch record k, or null when it is
// not mappable. Reads are fetched into reusable records and only the ones
// a batch takes are copied into its arena: no allocation per read.
seq_record_t *fetch_mappable(map_context_t *context, int32_t index, int32_t k) {
  seq_record_t *read = seq_db_fetch_letters(context->reads, index, &context->scratch[k]);
  return read != nullptr && mappable(context, read) ? read : nullptr;
}

// The batch's own copy of a fetched read, in its arena (null stays null).
seq_record_t *keep_in_arena(read_batch_t *batch, const seq_record_t *read) {
  return read != nullptr ? seq_record_copy_to_arena(batch->arena, read) : nullptr;
}

// Releases the reads of every slot; a pair slot shares its single slot's.
void release_reads(read_batch_t *batch) {
  if (batch->slots == nullptr) return;
  const int32_t step = read_batch_slots_per_read(batch);
  for (int32_t s = 0; s < batch->slot_count; s += step) {
    if (batch->slots[s].read != nullptr) seq_db_release_fetched(batch->source, batch->slots[s].read);
    for (int32_t k = 0; k < step; k++) batch->slots[s + k].read = nullptr;
  }
}

// Puts read (or null) with its index into the slots of batch read r.
void place_read(read_batch_t *batch, int32_t r, int32_t read_index, seq_record_t *read) {
  const int32_t step = read_batch_slots_per_read(batch);
  for (int32_t k = 0; k < step; k++) {
    alignment_info_t *slot = &batch->slots[r * step + k];
    slot->read = read;
    slot->read_index = read_index;
  }
}

// Record flags.
constexpr uint8_t kBitsetFlag = 1;
constexpr uint8_t kReadsFlag = 2;
// The length byte of an absent read in the reads section.
constexpr uint8_t kAbsentRead = 255;

[[noreturn]] void temporary_file_broken() {
  fputs("Error reading temporary file\n", stderr);
  ryx_exit(1);
}

// n bytes of the file into out; a file that ends first stops the run.
void read_exactly(FILE *file, void *out, size_t n) {
  if (n > 0 && fread(out, 1, n, file) != n) bin_early_termination();
}

// The reads of a batch in the layout of a record's reads section.
uint8_t *store_reads(const read_batch_t *batch, int32_t *length) {
  const int32_t step = read_batch_slots_per_read(batch);
  size_t size = 0;
  for (int32_t r = 0; r < batch->read_count; r++) {
    const seq_record_t *read = batch->slots[r * step].read;
    size += 1 + (read != nullptr ? read->length : 0);
  }
  auto *bytes = static_cast<uint8_t *>(ryx_malloc(size > 0 ? size : 1));
  size_t at = 0;
  for (int32_t r = 0; r < batch->read_count; r++) {
    const seq_record_t *read = batch->slots[r * step].read;
    if (read == nullptr) {
      bytes[at++] = kAbsentRead;
      continue;
    }
    // Mappable reads are shorter than the length bound, which is at most 255.
    if (read->length >= kAbsentRead) temporary_file_broken();
    bytes[at++] = static_cast<uint8_t>(read->length);
    memcpy(bytes + at, read->residues, read->length);
    at += read->length;
  }
  *length = static_cast<int32_t>(at);
  return bytes;
}

[[noreturn]] void write_failed() {
  fputs("Error writing temporary file\n", stderr);
  ryx_exit(1);
}

void write_u32(FILE *file, uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  if (fwrite(b, 1, 4, file) != 4) write_failed();
}

}  // namespace

read_batch_t *read_batch_new(map_context_t *context, int32_t file_index, int32_t capacity) {
  auto *batch = static_cast<read_batch_t *>(ryx_calloc(sizeof(read_batch_t)));
  batch->file_index = file_index;
  batch->setting = file_index < context->file_count ? context->file_settings[file_index] : nullptr;
  batch->source = context->reads;
  batch->arena = chunk_arena_new();
  batch->random = random_state_new();
  const int32_t slots = capacity * read_batch_slots_per_read(batch);
  batch->slots = static_cast<alignment_info_t *>(ryx_calloc(sizeof(alignment_info_t) * static_cast<size_t>(slots > 0 ? slots : 1)));
  return batch;
}

read_batch_t *read_batch_free(read_batch_t *batch) {
  if (batch == nullptr) return nullptr;
  release_reads(batch);
  ryx_free(batch->slots);
  ryx_free(batch->encoded);
  chunk_arena_free(batch->arena);
  random_state_free(batch->random);
  bit_set_free(batch->has_hits);
  ryx_free(batch->stored_reads);
  ryx_free(batch);
  return nullptr;
}

int32_t read_batch_slots_per_read(const read_batch_t *batch) { return batch->setting != nullptr ? 2 : 1; }

int read_batch_has_hits(const read_batch_t *batch, int32_t read) { return bit_set_get(batch->has_hits, read); }

alignment_info_t *read_batch_single_slot(read_batch_t *batch, int32_t read) {
  return &batch->slots[read * read_batch_slots_per_read(batch)];
}

read_batch_t *read_batch_take_unpaired(map_context_t *context) {
  read_batch_t *batch = nullptr;
  while (context->cursor < context->file_end && context->cursor < context->end_read &&
         (batch == nullptr || batch->read_count < context->batch_size)) {
    const int32_t index = context->cursor++;
    seq_record_t *read = seq_db_fetch_letters(context->reads, index, &context->scratch[0]);
    if (read == nullptr) continue;
    const auto length = static_cast<int32_t>(read->length);
    if (length < context->class_lower || length >= context->class_upper || !mappable(context, read)) continue;
    if (batch == nullptr) batch = read_batch_new(context, context->current_file, context->batch_size);
    place_read(batch, batch->read_count++, index, keep_in_arena(batch, read));
    map_context_mark_read(context, index);
    context->reads_taken++;
  }
  if (batch != nullptr) batch->slot_count = batch->read_count;
  return batch;
}

read_batch_t *read_batch_take_paired(map_context_t *context) {
  read_batch_t *batch = nullptr;
  const int32_t pair_limit = context->batch_size / 2;
  while (context->cursor + 1 < context->file_end && context->cursor + 1 < context->end_read &&
         (batch == nullptr || batch->read_count / 2 < pair_limit)) {
    const int32_t index = context->cursor;
    context->cursor += 2;
    seq_record_t *reads[2] = {fetch_mappable(context, index, 0), fetch_mappable(context, index + 1, 1)};
    bool below_upper = false, below_lower = false;
    for (seq_record_t *read : reads) {
      if (read == nullptr) continue;
      const auto length = static_cast<int32_t>(read->length);
      if (length < context->class_lower) below_lower = true;
      if (length < context->class_upper) below_upper = true;
    }
    if (below_lower || !below_upper) continue;  // also a pair of two absent reads
    if (batch == nullptr) batch = read_batch_new(context, context->current_file, context->batch_size);
    for (int32_t k = 0; k < 2; k++) {
      place_read(batch, batch->read_count++, index + k, keep_in_arena(batch, reads[k]));
      map_context_mark_read(context, index + k);
    }
    context->reads_taken += 2;
  }
  // An odd read at the end of a paired file belongs to no pair.
  if (context->cursor + 1 == context->file_end) context->cursor++;
  if (batch != nullptr) batch->slot_count = batch->read_count * 2;
  return batch;
}

read_batch_t *read_batch_load(map_context_t *context) {
  const int32_t n = context->batches_read;
  const int32_t f = map_context_file_of_batch(context, n);
  FILE *file = context->inputs != nullptr ? context->inputs[f] : nullptr;
  if (file == nullptr) {
    temporary_file_broken();
  }
  const uint32_t length = bin_file_read_u32(file);
  const uint32_t reads = bin_file_read_u32(file);
  const uint32_t file_index = bin_file_read_u32(file);
  const uint8_t flags = bin_file_read_u8(file);
  // Nothing read from the file is trusted: a batch never holds more reads
  // than the batch size, nor comes from a file the context does not know,
  // and its slot bytes must be present before they are allocated for.
  if (reads == 0 || reads > static_cast<uint32_t>(context->batch_size) ||
      file_index >= static_cast<uint32_t>(context->file_count) || flags > (kBitsetFlag | kReadsFlag) ||
      length > (1u << 30)) {
    temporary_file_broken();
  }
  read_batch_t *batch = read_batch_new(context, static_cast<int32_t>(file_index), static_cast<int32_t>(reads));
  batch->read_count = static_cast<int32_t>(reads);
  batch->slot_count = batch->read_count * read_batch_slots_per_read(batch);
  if (flags & kBitsetFlag) {
    batch->has_hits = bit_set_new(batch->read_count);
    read_exactly(file, batch->has_hits, (reads + 7) / 8);
  }
  batch->encoded_length = static_cast<int32_t>(length);
  batch->encoded = static_cast<uint8_t *>(ryx_malloc(length > 0 ? length : 1));
  read_exactly(file, batch->encoded, length);
  if (flags & kReadsFlag) {
    // A read takes its length byte and at most 254 codes.
    const uint32_t stored = bin_file_read_u32(file);
    if (stored > reads * 255u) temporary_file_broken();
    batch->stored_length = static_cast<int32_t>(stored);
    batch->stored_reads = static_cast<uint8_t *>(ryx_malloc(stored > 0 ? stored : 1));
    read_exactly(file, batch->stored_reads, stored);
  }
  const bool last_in_file = n + 1 >= context->total_batches || map_context_file_of_batch(context, n + 1) != f;
  if (last_in_file) {
    FILE *done = context->inputs[f];
    context->inputs[f] = nullptr;
    if (fclose(done) != 0) {
      fputs("Error closing temporary file\n", stderr);
      ryx_exit(1);
    }
  }
  return batch;
}

// The index of the next read this pass maps, from the cursor on; the
// cursor moves past it. A batch that asks for more reads than are left
// means the temporary file does not match the pass.
static int32_t next_mapped_read(map_context_t *context) {
  while (context->cursor < context->end_read && !map_context_has_read(context, context->cursor)) context->cursor++;
  if (context->cursor >= context->end_read) {
    temporary_file_broken();
  }
  return context->cursor++;
}

// The reads section of a record gives the batch its reads back, in order,
// as the arena copies a fetch would make (the same lengths and codes).
void take_stored_reads(map_context_t *context, read_batch_t *batch) {
  const uint8_t *bytes = batch->stored_reads;
  const int32_t end = batch->stored_length;
  int32_t at = 0;
  for (int32_t r = 0; r < batch->read_count; r++) {
    const int32_t index = next_mapped_read(context);
    if (at >= end) temporary_file_broken();
    const uint8_t length = bytes[at++];
    seq_record_t *read = nullptr;
    if (length != kAbsentRead) {
      if (end - at < length) temporary_file_broken();
      seq_record_t view{};
      view.residues = const_cast<uint8_t *>(bytes + at);
      view.length = length;
      read = seq_record_copy_to_arena(batch->arena, &view);
      at += length;
    }
    place_read(batch, r, index, read);
  }
  if (at != end) temporary_file_broken();
  batch->stored_reads = static_cast<uint8_t *>(ryx_free(batch->stored_reads));
  batch->stored_length = 0;
}

void read_batch_fetch(map_context_t *context, read_batch_t *batch) {
  if (context->first_pass) return;
  if (batch->stored_reads != nullptr) {
    take_stored_reads(context, batch);
    return;
  }
  for (int32_t r = 0; r < batch->read_count; r++) {
    const int32_t index = next_mapped_read(context);
    place_read(batch, r, index, keep_in_arena(batch, fetch_mappable(context, index, 0)));
  }
}

void read_batch_fetch_indexes(map_context_t *context, read_batch_t *batch) {
  batch->results_only = 1;
  if (context->first_pass) return;
  for (int32_t r = 0; r < batch->read_count; r++) {
    place_read(batch, r, next_mapped_read(context), nullptr);
  }
}

void read_batch_decode(map_context_t *context, read_batch_t *batch) {
  const int32_t step = read_batch_slots_per_read(batch);
  int32_t cursor = 0;
  for (int32_t s = 0; s < batch->slot_count; s++) {
    alignment_info_t *slot = &batch->slots[s];
    if (s % step == 0 && slot->read != nullptr) {
      slot->reverse = seq_record_copy_to_arena(batch->arena, slot->read);
      seq_record_reverse_complement(slot->reverse);
    }
    if (batch->encoded != nullptr) {
      alignment_info_decode(context, batch, slot, batch->encoded, &cursor, batch->encoded_length);
    }
  }
  if (batch->encoded != nullptr && cursor != batch->encoded_length) {
    temporary_file_broken();
  }
  if (!context->first_pass && batch->setting != nullptr) {
    if (batch->has_hits == nullptr) batch->has_hits = bit_set_new(batch->read_count);
    for (int32_t r = 0; r < batch->read_count; r++) {
      if (batch->slots[r * step].hit_count > 0) bit_set_set(batch->has_hits, r);
    }
  }
  batch->encoded = static_cast<uint8_t *>(ryx_free(batch->encoded));
  batch->encoded_length = 0;
}

void read_batch_encode_results(map_context_t *context, read_batch_t *batch, bool moving) {
  array_list_t *bytes = array_list_new(1);
  const int32_t step = read_batch_slots_per_read(batch);
  // The split moves an unpaired read, or a pair with its four slots, when a
  // single slot of it has no hits, and leaves empty slots behind.
  const int32_t group_slots = (step == 2 ? 2 : 1) * step;
  const alignment_info_t moved{};
  for (int32_t s = 0; s < batch->slot_count; s += group_slots) {
    bool moves = false;
    for (int32_t k = 0; moving && k < group_slots; k += step) moves = moves || batch->slots[s + k].hit_count == 0;
    for (int32_t k = 0; k < group_slots && s + k < batch->slot_count; k++) {
      alignment_info_encode(context, moves ? &moved : &batch->slots[s + k], bytes);
    }
  }
  ryx_free(batch->encoded);
  batch->encoded_length = static_cast<int32_t>(bytes->count);
  batch->encoded = static_cast<uint8_t *>(array_list_take_items(bytes));
}

void read_batch_release_slots(read_batch_t *batch) {
  release_reads(batch);
  batch->slots = static_cast<alignment_info_t *>(ryx_free(batch->slots));
  batch->arena = chunk_arena_free(batch->arena);
}

void read_batch_encode(map_context_t *context, read_batch_t *batch, bool keep_reads) {
  ryx_free(batch->stored_reads);
  batch->stored_reads = keep_reads ? store_reads(batch, &batch->stored_length) : nullptr;
  if (!keep_reads) batch->stored_length = 0;
  read_batch_encode_results(context, batch, false);
  read_batch_release_slots(batch);
}

void read_batch_write(map_context_t *context, read_batch_t *batch, int32_t with_bitset) {
  const int32_t f = map_context_file_of_batch(context, context->batches_written);
  if (context->outputs[f] == nullptr) {
    context->outputs[f] = temp_file_create_anonymous();
    context->output_count++;
  }
  FILE *file = context->outputs[f];
  const bool bitset = with_bitset && batch->has_hits != nullptr;
  write_u32(file, static_cast<uint32_t>(batch->encoded_length));
  write_u32(file, static_cast<uint32_t>(batch->read_count));
  write_u32(file, static_cast<uint32_t>(batch->file_index));
  const uint8_t flags = (bitset ? kBitsetFlag : 0) | (batch->stored_reads != nullptr ? kReadsFlag : 0);
  if (fwrite(&flags, 1, 1, file) != 1) write_failed();
  if (bitset) {
    const size_t n = (static_cast<size_t>(batch->read_count) + 7) / 8;
    if (fwrite(batch->has_hits, 1, n, file) != n) write_failed();
  }
  const auto length = static_cast<size_t>(batch->encoded_length);
  if (length > 0 && fwrite(batch->encoded, 1, length, file) != length) write_failed();
  if (batch->stored_reads != nullptr) {
    const auto stored = static_cast<size_t>(batch->stored_length);
    write_u32(file, static_cast<uint32_t>(stored));
    if (stored > 0 && fwrite(batch->stored_reads, 1, stored, file) != stored) write_failed();
  }
  context->batches_written++;
  read_batch_free(batch);
}

read_batch_t *read_batch_split_unmapped(map_context_t *next, read_batch_t *batch, read_batch_t *partial) {
  if (partial != nullptr && partial->file_index != batch->file_index) {
    read_batch_encode(next, partial, true);
    read_batch_write(next, partial, 0);
    partial = nullptr;
  }
  const int32_t step = read_batch_slots_per_read(batch);
  // Reads moved together: one unpaired read, or a pair with its four slots.
  const int32_t group_reads = step == 2 ? 2 : 1;
  const int32_t group_slots = group_reads * step;
  for (int32_t s = 0; s < batch->slot_count; s += group_slots) {
    bool unmapped = false;
    for (int32_t k = 0; k < group_slots; k += step) unmapped = unmapped || batch->slots[s + k].hit_count == 0;
    if (!unmapped) continue;
    if (partial == nullptr) {
      partial = read_batch_new(next, batch->file_index, next->batch_size);
      partial->source = batch->source;
    }
    for (int32_t k = 0; k < group_slots; k++) {
      // A partial batch is only encoded and written; the next level's pass
      // makes the reverse complements again, so they are not copied.
      batch->slots[s + k].reverse = nullptr;
      alignment_info_move(partial, &partial->slots[partial->slot_count + k], &batch->slots[s + k]);
    }
    // A read lives in its batch's arena: the pair slot shares the single
    // slot's copy in the partial batch.
    if (step == 2) {
      for (int32_t k = 0; k < group_slots; k += step) {
        alignment_info_t *single = &partial->slots[partial->slot_count + k];
        single[1].read = single[0].read;
      }
    }
    partial->slot_count += group_slots;
    for (int32_t k = 0; k < group_slots; k += step) map_context_mark_read(next, partial->slots[partial->slot_count - group_slots + k].read_index);
    partial->read_count += group_reads;
    next->reads_taken += group_reads;
    if (partial->read_count >= next->batch_size) {
      read_batch_encode(next, partial, true);
      read_batch_write(next, partial, 0);
      partial = nullptr;
    }
  }
  return partial;
}
