#include "seqio/nyr_hit.h"

#include <cstring>

#include "common/bin_codec.h"
#include "common/chunk_arena.h"
#include "common/input_stream.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/nyr_format.h"

namespace {

// Blocks of up to this many hits, and codes of up to this many bytes, are
// allocated as soon as their count is read; larger ones from a stream whose
// section end is unknown grow as their data arrives.
constexpr uint64_t kDirectHits = 1024;
constexpr uint32_t kDirectCodeBytes = 1 << 20;
// The least a hit occupies in a file: its code length and its flags byte.
constexpr uint64_t kMinHitBytes = 2;

void *take(chunk_arena_t *arena, size_t n) {
  if (arena != nullptr) return chunk_arena_alloc(arena, n);
  return ryx_malloc(n > 0 ? n : 1);
}

[[noreturn]] void early_termination_in_match() {
  fprintf(stderr, "Error reading assembly file: early termination in match\n");
  ryx_exit(1);
}

// Bytes left in the record section, or -1 when its end is unknown.
int64_t section_left(input_stream_t *stream, int64_t section_end) {
  if (section_end < 0) return -1;
  const int64_t left = section_end - input_stream_tell(stream);
  return left < 0 ? 0 : left;
}

// n bytes of alignment code from the stream into arena or heap memory.
uint8_t *read_code(input_stream_t *stream, chunk_arena_t *arena, uint32_t n, int64_t section_end) {
  const int64_t left = section_left(stream, section_end);
  if (left >= 0 && static_cast<int64_t>(n) > left) nyr_bad_file();
  if (left >= 0 || n <= kDirectCodeBytes) {
    uint8_t *code = static_cast<uint8_t *>(take(arena, n));
    if (n > 0 && input_stream_read(code, 1, n, stream) != n) early_termination_in_match();
    return code;
  }
  // Unknown end and a large claim: grow with the bytes that really arrive.
  size_t capacity = kDirectCodeBytes, have = 0;
  uint8_t *buffer = static_cast<uint8_t *>(ryx_malloc(capacity));
  while (have < n) {
    if (have == capacity) {
      capacity = capacity * 2 < n ? capacity * 2 : n;
      buffer = static_cast<uint8_t *>(ryx_realloc(buffer, capacity));
    }
    const size_t got = input_stream_read(buffer + have, 1, capacity - have, stream);
    if (got == 0) early_termination_in_match();
    have += got;
  }
  if (arena == nullptr) return buffer;
  uint8_t *code = static_cast<uint8_t *>(chunk_arena_alloc(arena, n));
  memcpy(code, buffer, n);
  ryx_free(buffer);
  return code;
}

// Passes over n code bytes, which must be in the file.
void skip_code(input_stream_t *stream, uint32_t n, int64_t section_end) {
  const int64_t left = section_left(stream, section_end);
  if (left >= 0 && static_cast<int64_t>(n) > left) nyr_bad_file();
  uint8_t piece[4096];
  while (n > 0) {
    const uint32_t want = n < sizeof piece ? n : static_cast<uint32_t>(sizeof piece);
    if (input_stream_read(piece, 1, want, stream) != want) early_termination_in_match();
    n -= want;
  }
}

uint32_t read_contig(input_stream_t *stream, uint32_t contig_limit) {
  const uint32_t contig = bin_stream_read_number(stream, static_cast<int32_t>(contig_limit));
  if (contig >= contig_limit) nyr_bad_file();
  return contig;
}

// The fields of one version 1-3 hit before its code. Returns the code
// length; position, hit flags and quality through the pointers.
struct HitHead {
  uint32_t code_length;
  uint32_t contig;
  uint32_t position;
  uint8_t hit_flags;
  uint8_t quality;
};

HitHead read_hit_head(input_stream_t *stream, uint32_t contig_limit, uint32_t position_limit,
                      const uint32_t *contig_lengths) {
  HitHead head;
  head.code_length = bin_stream_read_flex_number(stream);
  head.contig = read_contig(stream, contig_limit);
  head.position = bin_stream_read_number(stream, static_cast<int32_t>(position_limit));
  head.hit_flags = bin_stream_read_u8(stream);
  head.quality = (head.hit_flags & kNyrHitQuality) ? bin_stream_read_u8(stream) : kNyrNoQuality;
  if (head.hit_flags & kNyrHitWrap) {
    const uint32_t wraps = bin_stream_read_flex_number(stream);
    if (contig_lengths != nullptr) {
      const uint64_t position =
          head.position + (static_cast<uint64_t>(wraps) + 1) * contig_lengths[head.contig];
      if (position > UINT32_MAX) nyr_bad_file();
      head.position = static_cast<uint32_t>(position);
    }
  }
  return head;
}

void fill_hit(nyr_match_t *record, const HitHead &head, uint8_t entry_flags, uint32_t stored_count, bool more) {
  record->contig = head.contig;
  record->position = head.position;
  uint8_t flags = head.hit_flags & kNyrHitReverse;
  if (entry_flags & kNyrEntryMatchCount) flags |= kNyrMatchCounted;
  if (entry_flags & kNyrEntryPaired) flags |= kNyrMatchPaired;
  if (more) flags |= kNyrMatchMore;
  record->flags = flags;
  record->quality = head.quality;
  record->stored_count = stored_count;
  record->code_length = head.code_length;
  record->code = nullptr;
}

uint8_t *copy_code(chunk_arena_t *arena, const uint8_t *code, uint32_t n) {
  uint8_t *bytes = static_cast<uint8_t *>(take(arena, n));
  if (n > 0) memcpy(bytes, code, n);
  return bytes;
}

}  // namespace

// --- Construction and release ---

nyr_match_t *nyr_match_alloc_array(chunk_arena_t *arena, uint64_t n) {
  return static_cast<nyr_match_t *>(take(arena, static_cast<size_t>(n) * sizeof(nyr_match_t)));
}

nyr_match_t *nyr_match_alloc(chunk_arena_t *arena) { return nyr_match_alloc_array(arena, 1); }

nyr_match_t *nyr_match_new(chunk_arena_t *arena, uint32_t contig, uint32_t position, uint8_t flags,
                           uint32_t stored_count, uint32_t code_length, uint8_t *code) {
  nyr_match_t *record = nyr_match_alloc(arena);
  record->contig = contig;
  record->position = position;
  record->flags = flags;
  record->quality = kNyrNoQuality;
  record->stored_count = stored_count;
  record->code_length = code_length;
  record->code = code;
  return record;
}

nyr_match_t *nyr_match_new_counted(chunk_arena_t *arena, uint32_t contig, uint32_t position, int reverse,
                                   uint32_t match_count, uint32_t code_length, uint8_t *code) {
  uint8_t flags = reverse ? kNyrMatchReverse : 0;
  uint32_t stored = 0;
  if (match_count > 1) {
    flags |= kNyrMatchCounted;
    stored = match_count - 2;
  }
  return nyr_match_new(arena, contig, position, flags, stored, code_length, code);
}

nyr_match_t *nyr_match_new_from_pairs(chunk_arena_t *arena, uint32_t contig, const aligned_pair_list_t *pairs,
                                      int32_t read_length, int reverse, uint32_t match_count) {
  if (pairs == nullptr || pairs->count <= 0) return nullptr;
  int32_t first_reference = -1;
  for (int32_t k = 0; k < pairs->count && first_reference < 0; k++)
    first_reference = pairs->pairs[k]->reference_index;
  if (first_reference < 0) return nullptr;
  int32_t length = 0;
  uint8_t *heap_code = alignment_code_from_pairs(pairs, read_length, &length);
  uint8_t *code = heap_code;
  if (arena != nullptr) {
    code = copy_code(arena, heap_code, static_cast<uint32_t>(length));
    ryx_free(heap_code);
  }
  return nyr_match_new_counted(arena, contig, static_cast<uint32_t>(first_reference), reverse, match_count,
                               static_cast<uint32_t>(length), code);
}

nyr_match_t *nyr_match_new_ungapped(chunk_arena_t *arena, uint32_t contig, uint32_t position, int32_t h,
                                    int32_t e, int32_t n, int reverse, uint32_t match_count) {
  int32_t length = 0;
  uint8_t *heap_code = alignment_code_clipped_ungapped(h, e, n, &length);
  uint8_t *code = heap_code;
  if (arena != nullptr) {
    code = copy_code(arena, heap_code, static_cast<uint32_t>(length));
    ryx_free(heap_code);
  }
  return nyr_match_new_counted(arena, contig, position + static_cast<uint32_t>(h), reverse, match_count,
                               static_cast<uint32_t>(length), code);
}

nyr_match_t *nyr_match_copy(chunk_arena_t *arena, const nyr_match_t *record) {
  uint8_t *code = copy_code(arena, record->code, record->code_length);
  return nyr_match_new(arena, record->contig, record->position, record->flags & ~kNyrMatchMore,
                       record->stored_count, record->code_length, code);
}

nyr_match_t *nyr_match_clip(chunk_arena_t *arena, const nyr_match_t *record, uint32_t contig_length, int64_t w0,
                            int64_t w1) {
  const int64_t p = record->position;
  const int64_t offset = p < w1 ? 0 : contig_length;
  const int64_t start = p - offset;
  const int64_t end = start + alignment_code_reference_length(static_cast<int32_t>(record->code_length), record->code);
  if (end <= w0) return nullptr;
  if (start >= w0 && end <= w1) {
    nyr_match_t *copy = nyr_match_copy(arena, record);
    copy->position = static_cast<uint32_t>(start - w0);
    return copy;
  }
  alignment_code_t *builder = alignment_code_new();
  alignment_code_reset(builder, static_cast<int32_t>(start - w0 > 0 ? start - w0 : 0), 0);
  alignment_code_iter_t iter;
  alignment_code_iter_init(&iter, static_cast<int32_t>(record->code_length), record->code);
  int64_t i = start;
  bool inside_seen = false;
  int remembered = 0;
  for (int op = alignment_code_iter_next(&iter); op != kCodeOpEnd; op = alignment_code_iter_next(&iter)) {
    if (op == kCodeOpEscape) {
      const int argument = alignment_code_iter_next(&iter);
      if (!inside_seen) {
        remembered = argument;
      } else if (i < w1) {
        alignment_code_add(builder, kCodeOpEscape);
        alignment_code_add(builder, argument);
      }
      continue;
    }
    const bool reference_column = op == kCodeOpMatch || op == kCodeOpDeletion;
    if (reference_column && i >= w0 && i < w1) {
      if (!inside_seen && remembered != 0) {
        alignment_code_add(builder, kCodeOpEscape);
        alignment_code_add(builder, remembered);
      }
      inside_seen = true;
      alignment_code_add(builder, op);
    } else if (op != kCodeOpDeletion) {
      alignment_code_add(builder, kCodeOpInsertion);  // an outside match or an insertion
    }
    if (reference_column) i++;
  }
  const uint32_t length = static_cast<uint32_t>(alignment_code_get_length(builder));
  const uint32_t position = static_cast<uint32_t>(alignment_code_get_position(builder));
  uint8_t *code = alignment_code_get_bytes(builder);
  if (arena != nullptr) {
    code = copy_code(arena, code, length);
    alignment_code_free(builder);
  } else {
    alignment_code_free_shell(builder);
  }
  return nyr_match_new(arena, record->contig, position, record->flags & kNyrMatchReverse, 0, length, code);
}

nyr_match_t *nyr_match_free(nyr_match_t *record) {
  if (record == nullptr) return nullptr;
  ryx_free(record->code);
  ryx_free(record);
  return nullptr;
}

nyr_match_t *nyr_match_free_hits(nyr_match_t *first) {
  if (first == nullptr) return nullptr;
  for (nyr_match_t *hit = first; hit != nullptr; hit = nyr_match_next_hit(hit)) ryx_free(hit->code);
  ryx_free(first);
  return nullptr;
}

// --- Accessors ---

uint32_t nyr_match_get_position(const nyr_match_t *record) { return record->position; }

uint64_t nyr_match_get_end(const nyr_match_t *record) {
  return static_cast<uint64_t>(record->position) +
         alignment_code_reference_length(static_cast<int32_t>(record->code_length), record->code);
}

int nyr_match_is_reverse(const nyr_match_t *record) { return record->flags & kNyrMatchReverse ? 1 : 0; }

uint64_t nyr_match_get_count(const nyr_match_t *record) {
  if (record == nullptr) return 0;
  if (record->flags & kNyrMatchCounted) return static_cast<uint64_t>(record->stored_count) + 2;
  return 1;
}

void nyr_match_set_count(nyr_match_t *record, uint32_t n) {
  if (n <= 1) {
    record->flags &= ~kNyrMatchCounted;
    record->stored_count = 0;
  } else {
    record->flags |= kNyrMatchCounted;
    record->stored_count = n - 2;
  }
}

int nyr_match_is_paired(const nyr_match_t *record) { return record->flags & kNyrMatchPaired ? 1 : 0; }
void nyr_match_set_paired(nyr_match_t *record) { record->flags |= kNyrMatchPaired; }
void nyr_match_clear_paired(nyr_match_t *record) { record->flags &= ~kNyrMatchPaired; }

nyr_match_t *nyr_match_next_hit(nyr_match_t *record) {
  if (record == nullptr || !(record->flags & kNyrMatchMore)) return nullptr;
  return record + 1;
}

uint32_t nyr_match_leading_insertions(const nyr_match_t *record) {
  return alignment_code_leading_insertions(static_cast<int32_t>(record->code_length), record->code);
}

uint32_t nyr_match_read_span(const nyr_match_t *record) {
  return alignment_code_read_span(static_cast<int32_t>(record->code_length), record->code);
}

uint32_t nyr_match_read_length(const nyr_match_t *record) {
  return alignment_code_read_length(static_cast<int32_t>(record->code_length), record->code);
}

uint32_t nyr_match_escape_count(const nyr_match_t *record) {
  uint32_t count = 0;
  for (uint32_t i = 0; i < record->code_length; i++)
    if (record->code[i] == kCodeEscape) {
      count++;
      i++;
    }
  return count;
}

uint8_t nyr_match_last_escape_value(const nyr_match_t *record) {
  uint8_t value = 0;
  for (uint32_t i = 0; i < record->code_length; i++)
    if (record->code[i] == kCodeEscape) {
      value = i + 1 < record->code_length ? record->code[i + 1] : 0;
      i++;
    }
  return value;
}

uint32_t nyr_code_reference_length(int32_t length, const uint8_t *bytes) {
  return alignment_code_reference_length(length, bytes);
}
uint32_t nyr_code_leading_insertions(int32_t length, const uint8_t *bytes) {
  return alignment_code_leading_insertions(length, bytes);
}
uint32_t nyr_code_read_span(int32_t length, const uint8_t *bytes) { return alignment_code_read_span(length, bytes); }

// --- Readers ---

nyr_match_t *nyr_match_read_v0(input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                               uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end) {
  (void)contig_lengths;  // version 0 has no wrap counts
  const uint32_t code_length = bin_stream_read_flex_number(stream);
  if (code_length == 0) return nullptr;
  const uint32_t contig = read_contig(stream, contig_limit);
  const uint32_t position = bin_stream_read_number(stream, static_cast<int32_t>(position_limit));
  const uint8_t flags = bin_stream_read_u8(stream) & ~kNyrMatchMore;
  const uint32_t stored = (flags & kNyrMatchCounted) ? bin_stream_read_flex_number(stream) : 0;
  uint8_t *code = read_code(stream, arena, code_length, section_end);
  return nyr_match_new(arena, contig, position, flags, stored, code_length, code);
}

nyr_match_t *nyr_match_read_v1(input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                               uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end,
                               int all_hits) {
  const uint8_t entry = bin_stream_read_u8(stream);
  if (!(entry & kNyrEntryMatched)) return nullptr;
  const uint32_t stored = (entry & kNyrEntryMatchCount) ? bin_stream_read_flex_number(stream) : 0;
  const uint64_t hits = (entry & kNyrEntryHitCount) ? static_cast<uint64_t>(bin_stream_read_flex_number(stream)) + 2 : 1;
  const int64_t left = section_left(stream, section_end);
  if (left >= 0 && hits * kMinHitBytes > static_cast<uint64_t>(left)) nyr_bad_file();
  const uint64_t fill = all_hits ? hits : 1;

  nyr_match_t *block;
  if (fill <= kDirectHits || left >= 0) {
    block = nyr_match_alloc_array(arena, fill);
    for (uint64_t k = 0; k < fill; k++) {
      const HitHead head = read_hit_head(stream, contig_limit, position_limit, contig_lengths);
      fill_hit(&block[k], head, entry, stored, k + 1 < fill);
      block[k].code = read_code(stream, arena, head.code_length, section_end);
    }
  } else {
    // A large claimed count with no known end: gather the hits on the heap
    // as they arrive, then move them into one block.
    uint64_t capacity = kDirectHits;
    nyr_match_t *gathered = static_cast<nyr_match_t *>(ryx_malloc(capacity * sizeof(nyr_match_t)));
    for (uint64_t k = 0; k < fill; k++) {
      if (k == capacity) {
        capacity = capacity * 2 < fill ? capacity * 2 : fill;
        gathered = static_cast<nyr_match_t *>(ryx_realloc(gathered, capacity * sizeof(nyr_match_t)));
      }
      const HitHead head = read_hit_head(stream, contig_limit, position_limit, contig_lengths);
      fill_hit(&gathered[k], head, entry, stored, k + 1 < fill);
      gathered[k].code = read_code(stream, arena, head.code_length, section_end);
    }
    block = nyr_match_alloc_array(arena, fill);
    memcpy(static_cast<void *>(block), gathered, fill * sizeof(nyr_match_t));
    ryx_free(gathered);
  }
  for (uint64_t k = fill; k < hits; k++) {
    const HitHead head = read_hit_head(stream, contig_limit, position_limit, nullptr);
    skip_code(stream, head.code_length, section_end);
  }
  return block;
}

nyr_match_t *nyr_match_read(int version, input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                            uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end) {
  if (version == 0)
    return nyr_match_read_v0(stream, arena, contig_limit, position_limit, contig_lengths, section_end);
  return nyr_match_read_v1(stream, arena, contig_limit, position_limit, contig_lengths, section_end, 0);
}

nyr_match_t *nyr_match_read_all(int version, input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                                uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end) {
  if (version == 0)
    return nyr_match_read_v0(stream, arena, contig_limit, position_limit, contig_lengths, section_end);
  return nyr_match_read_v1(stream, arena, contig_limit, position_limit, contig_lengths, section_end, 1);
}

// --- Writers ---

void nyr_match_write_v0(FILE *file, uint32_t contig_limit, uint32_t position_limit, const nyr_match_t *record) {
  if (record == nullptr || record->code_length == 0) {
    bin_file_write_flex_number(file, 0);
    return;
  }
  bin_file_write_flex_number(file, record->code_length);
  bin_file_write_number(file, record->contig, static_cast<int32_t>(contig_limit));
  bin_file_write_number(file, record->position, static_cast<int32_t>(position_limit));
  bin_file_write_u8(file, record->flags & ~kNyrMatchMore);
  if (record->flags & kNyrMatchCounted) bin_file_write_flex_number(file, record->stored_count);
  fwrite(record->code, 1, record->code_length, file);
}

void nyr_match_write_single(FILE *file, uint32_t contig_limit, uint32_t position_limit, const nyr_match_t *record) {
  if (record == nullptr || record->code_length == 0) {
    bin_file_write_u8(file, 0);
    return;
  }
  uint8_t entry = kNyrEntryMatched;
  if (record->flags & kNyrMatchCounted) entry |= kNyrEntryMatchCount;
  if (record->flags & kNyrMatchPaired) entry |= kNyrEntryPaired;
  bin_file_write_u8(file, entry);
  if (record->flags & kNyrMatchCounted) bin_file_write_flex_number(file, record->stored_count);
  bin_file_write_flex_number(file, record->code_length);
  bin_file_write_number(file, record->contig, static_cast<int32_t>(contig_limit));
  bin_file_write_number(file, record->position, static_cast<int32_t>(position_limit));
  bin_file_write_u8(file, record->flags & kNyrHitReverse);
  fwrite(record->code, 1, record->code_length, file);
}

void nyr_match_write_hits(FILE *file, uint32_t contig_limit, uint32_t position_limit,
                          const uint32_t *contig_lengths, uint32_t n, const nyr_match_t *const *records) {
  const nyr_match_t *first = n > 0 ? records[0] : nullptr;
  if (first == nullptr || first->code_length == 0) {
    bin_file_write_u8(file, 0);
    return;
  }
  const uint64_t count = nyr_match_get_count(first);
  if (count < n) n = static_cast<uint32_t>(count);
  uint8_t entry = kNyrEntryMatched;
  if (first->flags & kNyrMatchCounted) entry |= n < 2 ? kNyrEntryMatchCount : kNyrEntryMatchCount | kNyrEntryHitCount;
  if (first->flags & kNyrMatchPaired) entry |= kNyrEntryPaired;
  bin_file_write_u8(file, entry);
  if (first->flags & kNyrMatchCounted) {
    bin_file_write_flex_number(file, first->stored_count);
    if (n >= 2) bin_file_write_flex_number(file, n - 2);
  }
  for (uint32_t k = 0; k < n; k++) {
    const nyr_match_t *hit = records[k];
    const uint32_t length =
        (contig_lengths != nullptr && hit->contig < contig_limit) ? contig_lengths[hit->contig] : 0;
    uint32_t position = hit->position;
    uint32_t wraps = 0;  // P div L: 0 when the position lies within its contig
    if (length > 0 && position >= length) {
      wraps = position / length;
      position %= length;
    }
    uint8_t hit_flags = hit->flags & kNyrMatchReverse;
    if (hit->quality != kNyrNoQuality) hit_flags |= kNyrHitQuality;
    if (wraps != 0) hit_flags |= kNyrHitWrap;
    if (hit->flags & kNyrMatchBitB) hit_flags |= kNyrHitBitB;
    if (hit->flags & kNyrMatchBitA) hit_flags |= kNyrHitBitA;
    bin_file_write_flex_number(file, hit->code_length);
    bin_file_write_number(file, hit->contig, static_cast<int32_t>(contig_limit));
    bin_file_write_number(file, position, static_cast<int32_t>(position_limit));
    bin_file_write_u8(file, hit_flags);
    if (hit->quality != kNyrNoQuality) bin_file_write_u8(file, hit->quality);
    if (wraps != 0) bin_file_write_flex_number(file, wraps - 1);
    fwrite(hit->code, 1, hit->code_length, file);
  }
}

void nyr_match_write(FILE *file, uint32_t contig_limit, uint32_t position_limit, const uint32_t *contig_lengths,
                     const nyr_match_t *record) {
  const nyr_match_t *records[1] = {record};
  nyr_match_write_hits(file, contig_limit, position_limit, contig_lengths, 1, records);
}
