#include "seqio/seq_record.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/chunk_arena.h"
#include "common/memory.h"
#include "seqio/seq_complement.h"

namespace {

const char kCodeLetters[] = "ACGTN";

seq_record_t *record_shell(uint32_t length) {
  auto *record = static_cast<seq_record_t *>(ryx_calloc(sizeof(seq_record_t)));
  record->length = length;
  record->free_callback = seq_record_free;
  return record;
}

// Room for length residues and the spare byte, computed without 32-bit
// overflow.
size_t buffer_size(uint32_t length) { return static_cast<size_t>(length) + 1; }

uint8_t random_symbol(int symbols) {
  return static_cast<uint8_t>(static_cast<double>(rand()) / 2147483648.0 * symbols);
}

// In-place reversal over the full unsigned 32-bit length range.
void reverse_bytes(uint8_t *bytes, uint32_t length) {
  for (uint32_t i = 0; i < length / 2; i++) {
    uint8_t t = bytes[i];
    bytes[i] = bytes[length - 1 - i];
    bytes[length - 1 - i] = t;
  }
}

}  // namespace

seq_record_t *seq_record_new_empty() { return record_shell(0); }

seq_record_t *seq_record_new(uint32_t length) {
  seq_record_t *record = record_shell(length);
  record->residues = static_cast<uint8_t *>(ryx_malloc(buffer_size(length)));
  return record;
}

seq_record_t *seq_record_new_with_qualities(uint32_t length) {
  seq_record_t *record = seq_record_new(length);
  record->qualities = static_cast<uint8_t *>(ryx_malloc(buffer_size(length)));
  return record;
}

seq_record_t *seq_record_new_from_letters(const char *letters) {
  seq_record_t *record = seq_record_new(static_cast<uint32_t>(strlen(letters)));
  for (uint32_t i = 0; i < record->length; i++) {
    auto c = static_cast<uint8_t>(letters[i]);
    record->residues[i] = static_cast<uint8_t>(((c >> 2) & 3) ^ ((c >> 1) & 7));
  }
  return record;
}

seq_record_t *seq_record_new_from_string(const char *text) {
  seq_record_t *record = seq_record_new(static_cast<uint32_t>(strlen(text)));
  memcpy(record->residues, text, record->length);
  return record;
}

seq_record_t *seq_record_new_random(int symbols, uint32_t length) {
  seq_record_t *record = seq_record_new(length);
  for (uint32_t i = 0; i < length; i++) record->residues[i] = random_symbol(symbols);
  return record;
}

seq_record_t *seq_record_new_random_length(int symbols, uint32_t minimum, uint32_t maximum) {
  double span = static_cast<double>(maximum) - static_cast<double>(minimum) + 1.0;
  auto length = minimum + static_cast<uint32_t>(static_cast<double>(rand()) / 2147483648.0 * span);
  return seq_record_new_random(symbols, length);
}

seq_record_t *seq_record_new_range(const seq_record_t *source, uint32_t start, uint32_t end) {
  if (end > source->length) end = source->length;
  uint32_t length = start < end ? end - start : 0;
  seq_record_t *record = source->qualities != nullptr ? seq_record_new_with_qualities(length) : seq_record_new(length);
  if (length > 0) {
    memcpy(record->residues, source->residues + start, length);
    if (source->qualities != nullptr) memcpy(record->qualities, source->qualities + start, length);
  }
  return record;
}

seq_record_t *seq_record_copy(const seq_record_t *source) {
  return seq_record_new_range(source, 0, source->length);
}

seq_record_t *seq_record_copy_to_arena(chunk_arena_t *arena, const seq_record_t *source) {
  // Arena pieces follow each other without alignment, so the record itself
  // is placed at the next multiple of its alignment inside a slightly larger
  // piece.
  constexpr size_t align = alignof(seq_record_t);
  auto raw = reinterpret_cast<uintptr_t>(chunk_arena_alloc(arena, sizeof(seq_record_t) + align - 1));
  auto *record = reinterpret_cast<seq_record_t *>((raw + align - 1) & ~(uintptr_t{align} - 1));
  record->name = nullptr;
  record->length = source->length;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  record->residues = static_cast<uint8_t *>(chunk_arena_alloc(arena, buffer_size(source->length)));
  if (source->length > 0) memcpy(record->residues, source->residues, source->length);
  record->qualities = nullptr;
  if (source->qualities != nullptr) {
    record->qualities = static_cast<uint8_t *>(chunk_arena_alloc(arena, buffer_size(source->length)));
    if (source->length > 0) memcpy(record->qualities, source->qualities, source->length);
  }
  return record;
}

seq_record_t *seq_scratch_set(seq_scratch_t *scratch, const uint8_t *bytes, uint32_t n) {
  if (scratch->capacity < n + 1) {
    const uint32_t grown = n + 1 > 2 * scratch->capacity ? n + 1 : 2 * scratch->capacity;
    ryx_free(scratch->record.residues);
    scratch->record.residues = static_cast<uint8_t *>(ryx_malloc(grown));
    scratch->capacity = grown;
  }
  if (n > 0) memcpy(scratch->record.residues, bytes, n);
  scratch->record.length = n;
  scratch->record.free_callback = seq_record_free_nothing;
  return &scratch->record;
}

void seq_scratch_free(seq_scratch_t *scratch) {
  ryx_free(scratch->record.residues);
  *scratch = seq_scratch_t{};
}

seq_record_t *seq_record_free(seq_record_t *record) {
  if (record == nullptr) return nullptr;
  ryx_free(record->residues);
  ryx_free(record->qualities);
  ryx_free(record->name);
  ryx_free(record);
  return nullptr;
}

seq_record_t *seq_record_free_nothing(seq_record_t *) { return nullptr; }

seq_record_t *seq_record_free_shell(seq_record_t *record) {
  if (record == nullptr) return nullptr;
  ryx_free(record->name);
  ryx_free(record);
  return nullptr;
}

void seq_record_release(seq_record_t *record) {
  if (record != nullptr) record->free_callback(record);
}

int seq_record_release_counted(seq_record_t *record) {
  if (std::atomic_ref<int32_t>(record->use_count).fetch_sub(1) - 1 != 0) return 0;
  record->free_callback(record);
  return 1;
}

void seq_record_append(seq_record_t *record, const seq_record_t *other) {
  // Lengths are taken first: other may be the record itself.
  const uint32_t length = record->length;
  const uint32_t added = other->length;
  const bool other_has_qualities = other->qualities != nullptr;
  const size_t size = static_cast<size_t>(length) + added + 1;
  record->residues = static_cast<uint8_t *>(ryx_realloc(record->residues, size));
  if (added > 0) memcpy(record->residues + length, other->residues, added);
  if (record->qualities != nullptr) {
    record->qualities = static_cast<uint8_t *>(ryx_realloc(record->qualities, size));
    if (added > 0) {
      if (other_has_qualities)
        memcpy(record->qualities + length, other->qualities, added);
      else
        memset(record->qualities + length, 0, added);
    }
  }
  record->length = length + added;
}

void seq_record_reverse_complement(seq_record_t *record) {
  seq_codes_reverse_complement(record->residues, record->length);
  if (record->qualities != nullptr) reverse_bytes(record->qualities, record->length);
}

void seq_record_reverse_complement_letters(seq_record_t *record) {
  reverse_bytes(record->residues, record->length);
  for (uint32_t i = 0; i < record->length; i++) record->residues[i] = seq_letter_complement(record->residues[i]);
  if (record->qualities != nullptr) reverse_bytes(record->qualities, record->length);
}

void seq_record_print_debug(const seq_record_t *record) {
  for (uint32_t i = 0; i < record->length; i++) putchar('A' + record->residues[i]);
  putchar('\n');
}

void seq_record_print_codes(const seq_record_t *record, uint8_t base) {
  for (uint32_t i = 0; i < record->length; i++) {
    auto d = static_cast<uint8_t>(record->residues[i] - base);
    putchar(d <= 4 ? kCodeLetters[d] : 'X');
  }
  putchar('\n');
}

void seq_record_print_raw(const seq_record_t *record) { seq_record_fprint_raw(stdout, record); }

void seq_record_fprint_raw(FILE *out, const seq_record_t *record) {
  if (record->length > 0) fwrite(record->residues, 1, record->length, out);
  fputc('\n', out);
}

void seq_record_fprint_fasta_codes(FILE *out, const seq_record_t *record) {
  if (record->name != nullptr)
    fprintf(out, ">%s\n", record->name);
  else
    fputs(">\n", out);
  for (uint32_t i = 0; i < record->length; i++) {
    uint8_t code = record->residues[i];
    fputc(code <= 4 ? kCodeLetters[code] : 'N', out);
  }
  fputc('\n', out);
}
