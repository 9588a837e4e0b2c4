#include "denovo/reads/read_store.h"

#include <emmintrin.h>

#include <cstdlib>
#include <cstring>

#include "common/bin_codec.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "common/thread_group.h"
#include "seqio/seq_db.h"
#include "seqio/seq_for_each.h"
#include "seqio/seq_format.h"

namespace {

// Sequence type of nucleotide codes 0-4.
constexpr uint32_t kNucleotideCodes = 2;
constexpr int32_t kGroupSymbols = 128;
constexpr int32_t kGroupBytes = 48;

// Byte masks of the group codec: the two bits of row 2 in P0, the bit of
// row 5 in P1, and the one-, two- and three-bit fields.
struct pack_masks_t {
  __m128i high2;  // 0xC0
  __m128i high1;  // 0x80
  __m128i low1;   // 0x01
  __m128i low2;   // 0x03
  __m128i low3;   // 0x07
};

pack_masks_t read_store_init_pack_masks() {
  return {_mm_set1_epi8(static_cast<char>(0xC0)), _mm_set1_epi8(static_cast<char>(0x80)), _mm_set1_epi8(0x01),
          _mm_set1_epi8(0x03), _mm_set1_epi8(0x07)};
}

// Shifts within 16-bit lanes followed by a byte mask act as byte shifts:
// the mask drops whatever crossed over from the neighbouring byte.
void pack_group(const pack_masks_t &m, const uint8_t *in, uint8_t *out) {
  __m128i s[8];
  for (int r = 0; r < 8; r++) s[r] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16 * r));
  const __m128i p0 = _mm_or_si128(_mm_or_si128(s[0], _mm_slli_epi16(s[1], 3)),
                                  _mm_and_si128(_mm_slli_epi16(s[2], 6), m.high2));
  const __m128i p1 = _mm_or_si128(
      _mm_or_si128(_mm_and_si128(_mm_srli_epi16(s[2], 2), m.low1), _mm_slli_epi16(s[3], 1)),
      _mm_or_si128(_mm_slli_epi16(s[4], 4), _mm_and_si128(_mm_slli_epi16(s[5], 7), m.high1)));
  const __m128i p2 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(s[5], 1), m.low2),
                                  _mm_or_si128(_mm_slli_epi16(s[6], 2), _mm_slli_epi16(s[7], 5)));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out), p0);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), p1);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 32), p2);
}

void unpack_group(const pack_masks_t &m, const uint8_t *in, uint8_t *out) {
  const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
  const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16));
  const __m128i p2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 32));
  const __m128i four = _mm_slli_epi16(m.low1, 2);
  const __m128i six = _mm_slli_epi16(m.low2, 1);
  __m128i s[8];
  s[0] = _mm_and_si128(p0, m.low3);
  s[1] = _mm_and_si128(_mm_srli_epi16(p0, 3), m.low3);
  s[2] = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p0, 6), m.low2), _mm_and_si128(_mm_slli_epi16(p1, 2), four));
  s[3] = _mm_and_si128(_mm_srli_epi16(p1, 1), m.low3);
  s[4] = _mm_and_si128(_mm_srli_epi16(p1, 4), m.low3);
  s[5] = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p1, 7), m.low1), _mm_and_si128(_mm_slli_epi16(p2, 1), six));
  s[6] = _mm_and_si128(_mm_srli_epi16(p2, 2), m.low3);
  s[7] = _mm_and_si128(_mm_srli_epi16(p2, 5), m.low3);
  for (int r = 0; r < 8; r++) _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * r), s[r]);
}

// Opens the block when it is empty: its first symbol is a separator.
void open_block(read_store_t *store) {
  if (store->fill == 0) {
    store->buffer[0] = kReadStoreSeparator;
    store->fill = 1;
  }
}

void append(read_store_t *store, const seq_record_t *record) {
  memcpy(store->buffer + store->fill, record->residues, record->length);
  store->fill += static_cast<int32_t>(record->length);
  store->buffer[store->fill++] = kReadStoreSeparator;
}

// Ends a read file: its last block goes out and the next file gets the
// next index, so blocks never mix files.
void end_file(read_store_t *store) {
  read_store_flush_block(store);
  store->file_index++;
}

}  // namespace

int64_t read_store_group_count(int64_t n) { return (n + kGroupSymbols - 1) / kGroupSymbols; }

int64_t read_store_packed_size(int64_t n) { return kGroupBytes * read_store_group_count(n); }

void read_store_pack_group(const uint8_t *symbols, uint8_t *packed) {
  pack_group(read_store_init_pack_masks(), symbols, packed);
}

void read_store_unpack_group(const uint8_t *packed, uint8_t *symbols) {
  unpack_group(read_store_init_pack_masks(), packed, symbols);
}

void read_store_pack_block(read_store_t *store) {
  const pack_masks_t masks = read_store_init_pack_masks();
  const int64_t groups = read_store_group_count(store->fill);
  // Group g moves from byte 128 g to byte 48 g; ascending order never
  // overwrites a group that is still to be read.
  for (int64_t g = 0; g < groups; g++)
    pack_group(masks, store->buffer + kGroupSymbols * g, store->buffer + kGroupBytes * g);
}

void read_store_unpack_block(read_store_t *store) {
  const pack_masks_t masks = read_store_init_pack_masks();
  // Group g moves from byte 48 g to byte 128 g: last group first.
  for (int64_t g = read_store_group_count(store->fill) - 1; g >= 0; g--)
    unpack_group(masks, store->buffer + kGroupBytes * g, store->buffer + kGroupSymbols * g);
}

read_store_t *read_store_new_empty(int32_t block_capacity) {
  if (block_capacity <= 0 || block_capacity % kGroupSymbols != 0) {
    fprintf(stderr, "Read store block capacity %d is not a positive multiple of 128\n", block_capacity);
    ryx_exit(1);
  }
  auto *store = static_cast<read_store_t *>(ryx_calloc(sizeof(read_store_t)));
  store->block_capacity = block_capacity;
  store->allocation = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(block_capacity) + 15));
  store->buffer = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(store->allocation) + 15) &
                                              ~static_cast<uintptr_t>(15));
  store->file = temp_file_create_anonymous();
  return store;
}

read_store_t *read_store_new(int32_t block_capacity, int32_t file_count, const read_store_file_t *files,
                             const int32_t *paired_flags, int report, progress_meter_t *meter) {
  read_store_t *store = read_store_new_empty(block_capacity);
  for (int32_t i = 0; i < file_count; i++) {
    if (files[i].second_path != nullptr)
      read_store_add_interleaved_files(store, files[i].path, files[i].second_path, report);
    else if (paired_flags != nullptr && paired_flags[i] != 0)
      read_store_add_paired_file(store, files[i].path, report);
    else
      read_store_add_file(store, files[i].path, report);
    progress_meter_update(meter, static_cast<double>(i + 1) / file_count);
  }
  store->file_count = file_count;
  read_store_finish(store);
  return store;
}

read_store_t *read_store_free(read_store_t *store) {
  if (store == nullptr) return nullptr;
  ryx_free(store->allocation);
  const int closed = store->file != nullptr ? fclose(store->file) : 0;
  ryx_free(store);
  if (closed != 0) ryx_fail("Error closing temporary file\n");
  return nullptr;
}

void read_store_add_file(read_store_t *store, const char *path, int report) {
  seq_for_each(path, kNucleotideCodes, kSeqMaskReads, report, read_store_on_read, store);
  end_file(store);
}

void read_store_add_paired_file(read_store_t *store, const char *path, int report) {
  seq_for_each_pair(path, kNucleotideCodes, kSeqMaskReads, report, read_store_on_pair, store);
  end_file(store);
}

void read_store_add_interleaved_files(read_store_t *store, const char *path1, const char *path2, int report) {
  seq_for_each_interleaved(path1, path2, kNucleotideCodes, kSeqMaskReads, report, read_store_on_pair, store);
  end_file(store);
}

void read_store_finish(read_store_t *store) {
  read_store_flush_block(store);
  store->block_count = store->block_index;
  if (store->file_count < store->file_index) store->file_count = store->file_index;
  if (fflush(store->file) != 0) ryx_fail("Error writing temporary data\n");
}

void read_store_add_read(read_store_t *store, const seq_record_t *record) {
  for (;;) {
    open_block(store);
    // 64-bit sums: a read length near 2^32 must not wrap the room test.
    if (static_cast<int64_t>(store->fill) + record->length < store->block_capacity) {
      append(store, record);
      return;
    }
    if (store->fill == 1) ryx_fail("Sequence too long\n");
    read_store_flush_block(store);
  }
}

void read_store_add_pair(read_store_t *store, const seq_record_t *record1, const seq_record_t *record2) {
  for (;;) {
    open_block(store);
    if (static_cast<int64_t>(store->fill) + record1->length + record2->length + 2 <= store->block_capacity) {
      append(store, record1);
      append(store, record2);
      return;
    }
    if (store->fill == 1) ryx_fail("Sequence too long\n");
    read_store_flush_block(store);
  }
}

void read_store_flush_block(read_store_t *store) {
  if (store->fill == 0) return;
  const int64_t padded = read_store_group_count(store->fill) * kGroupSymbols;
  memset(store->buffer + store->fill, 0, static_cast<size_t>(padded - store->fill));
  read_store_pack_block(store);
  bin_file_write_u32(store->file, static_cast<uint32_t>(store->fill));
  bin_file_write_u32(store->file, static_cast<uint32_t>(store->file_index));
  const size_t bytes = static_cast<size_t>(read_store_packed_size(store->fill));
  if (fwrite(store->buffer, 1, bytes, store->file) != bytes || ferror(store->file))
    ryx_fail("Error writing temporary data\n");
  store->block_index++;
  store->fill = 0;
}

void read_store_on_read(seq_record_t *record, void *user) {
  auto *store = static_cast<read_store_t *>(user);
  read_store_add_read(store, record);
  store->read_count += 1;
  store->nucleotide_count += record->length;
}

void read_store_on_pair(seq_record_t *record1, seq_record_t *record2, void *user) {
  auto *store = static_cast<read_store_t *>(user);
  read_store_add_pair(store, record1, record2);
  store->read_count += 2;
  store->nucleotide_count += static_cast<uint64_t>(record1->length) + record2->length;
}

void read_store_rewind(read_store_t *store) {
  rewind(store->file);
  store->block_index = 0;
}

seq_record_t *read_store_next_block(read_store_t *store, int32_t *file_index) {
  if (store->block_index >= store->block_count) return nullptr;
  uint8_t header[8];
  if (fread(header, 1, 8, store->file) != 8) ryx_fail("Problem reading temporary data\n");
  const uint32_t n = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                     static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
  const uint32_t index = static_cast<uint32_t>(header[4]) | static_cast<uint32_t>(header[5]) << 8 |
                         static_cast<uint32_t>(header[6]) << 16 | static_cast<uint32_t>(header[7]) << 24;
  // A count beyond the capacity would unpack past the buffer.
  if (n == 0 || n > static_cast<uint32_t>(store->block_capacity) || index > INT32_MAX)
    ryx_fail("Problem reading temporary data\n");
  seq_record_t *record = seq_record_new_empty();
  record->residues = static_cast<uint8_t *>(malloc(static_cast<size_t>(n) + 1));
  if (record->residues == nullptr) ryx_fail("Out of memory\n");
  record->length = n;
  const size_t bytes = static_cast<size_t>(read_store_packed_size(n));
  if (fread(store->buffer, 1, bytes, store->file) != bytes) ryx_fail("Problem reading temporary data\n");
  store->block_index++;
  store->fill = static_cast<int32_t>(n);
  read_store_unpack_block(store);
  memcpy(record->residues, store->buffer, n);
  if (file_index != nullptr) *file_index = static_cast<int32_t>(index);
  return record;
}

void *read_files_open_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<read_files_ctx_t *>(args->context);
  for (int32_t i = 0; i < ctx->file_count; i++) {
    seq_db_t *db = seq_db_open(ctx->paths[i], kNucleotideCodes, kSeqMaskReads, 0, 0);
    // seq_db_open has already said why the file could not be opened.
    if (db == nullptr) ryx_exit(1);
    thread_queue_put(ctx->arbiter, args->output, db, 0);
  }
  thread_queue_producer_done(ctx->arbiter, args->output, 0);
  return nullptr;
}
