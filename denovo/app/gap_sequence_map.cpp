#include "denovo/app/gap_sequence_map.h"

#include <cstring>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

namespace {

// Key, offset, end and length: the least an entry takes in the file.
constexpr uint64_t kEntryHeaderBytes = 16;

int equal_edges(const void *a, const void *b) {
  return *static_cast<const uint32_t *>(a) == *static_cast<const uint32_t *>(b) ? 0 : 1;
}

uint64_t hash_edge(const void *key) { return *static_cast<const uint32_t *>(key); }

[[noreturn]] void bad_map(const char *format, unsigned long long a = 0, unsigned long long b = 0) {
  fprintf(stderr, "gap_sequence_map_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

}  // namespace

extern "C" {

static_assert(sizeof(gap_sequence_t) == 16, "the map stores 16-byte values");

gap_sequence_map_t *gap_sequence_map_new(void) {
  return generic_hash_map_new(sizeof(uint32_t), sizeof(gap_sequence_t), equal_edges, hash_edge);
}

gap_sequence_map_t *gap_sequence_map_free(gap_sequence_map_t *map) {
  if (map == nullptr) return nullptr;
  generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(map);
  while (generic_hash_map_iterator_next(it)) {
    gap_sequence_t entry;
    memcpy(&entry, it->value, sizeof(entry));
    seq_record_release(entry.sequence);
  }
  generic_hash_map_iterator_free(it);
  return generic_hash_map_free(map);
}

int gap_sequence_map_insert(gap_sequence_map_t *map, oriented_id_t edge, const gap_sequence_t *entry) {
  if (generic_hash_map_contains(map, &edge)) return 0;
  return generic_hash_map_insert(map, &edge, entry);
}

int gap_sequence_map_find(const gap_sequence_map_t *map, oriented_id_t edge, gap_sequence_t *entry) {
  const void *stored = generic_hash_map_find(map, &edge);
  if (stored == nullptr) return 0;
  memcpy(entry, stored, sizeof(*entry));
  return 1;
}

seq_record_t *gap_sequence_map_take_sequence(gap_sequence_map_t *map, oriented_id_t edge) {
  void *stored = generic_hash_map_find(map, &edge);
  if (stored == nullptr) return nullptr;
  gap_sequence_t entry;
  memcpy(&entry, stored, sizeof(entry));
  seq_record_t *sequence = entry.sequence;
  entry.sequence = nullptr;
  memcpy(stored, &entry, sizeof(entry));
  return sequence;
}

void gap_sequence_map_write(FILE *file, const gap_sequence_map_t *map) {
  if (map == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u64(file, map->count);
  generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(const_cast<gap_sequence_map_t *>(map));
  while (generic_hash_map_iterator_next(it)) {
    gap_sequence_t entry;
    memcpy(&entry, it->value, sizeof(entry));
    uint32_t key;
    memcpy(&key, it->key, sizeof(key));
    const uint32_t length = entry.sequence == nullptr ? 0 : entry.sequence->length;
    bin_file_write_u32(file, key);
    bin_file_write_u32(file, static_cast<uint32_t>(entry.offset));
    bin_file_write_u32(file, static_cast<uint32_t>(entry.end));
    bin_file_write_u32(file, length);
    if (length > 0) large_file_write(entry.sequence->residues, length, file);
  }
  generic_hash_map_iterator_free(it);
}

gap_sequence_map_t *gap_sequence_map_read(FILE *file) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_map("presence byte is %llu, not 0 or 1", present);
  const uint64_t count = bin_file_read_u64(file);
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && count > static_cast<uint64_t>(left) / kEntryHeaderBytes) {
    bad_map("%llu entries do not fit in the %llu bytes left in the file", count, static_cast<uint64_t>(left));
  }
  gap_sequence_map_t *map = gap_sequence_map_new();
  for (uint64_t i = 0; i < count; i++) {
    const uint32_t edge = bin_file_read_u32(file);
    gap_sequence_t entry;
    entry.offset = static_cast<int32_t>(bin_file_read_u32(file));
    entry.end = static_cast<int32_t>(bin_file_read_u32(file));
    const uint32_t length = bin_file_read_u32(file);
    if (entry.offset < 0 || entry.end < 0) bad_map("entry %llu covers a negative number of bases", i);
    if (entry.offset > kGapSequenceMaxSide || entry.end > kGapSequenceMaxSide) {
      bad_map("entry %llu covers more than %llu bases on one side", i, kGapSequenceMaxSide);
    }
    if (length > 2 * static_cast<uint32_t>(kGapSequenceMaxSide)) {
      bad_map("the merged sequence of entry %llu is longer than %llu residues", i, 2 * kGapSequenceMaxSide);
    }
    const int64_t rest = large_file_bytes_left(file);
    if (rest >= 0 && length > static_cast<uint64_t>(rest)) {
      bad_map("the %llu residues of entry %llu do not fit in the file", length, i);
    }
    if (generic_hash_map_contains(map, &edge)) {
      fprintf(stderr, "ERROR: edge: %x is already present in map\n", edge);
      ryx_exit(1);
    }
    entry.sequence = seq_record_new(length);
    if (length > 0 && large_file_read(entry.sequence->residues, length, file) != length) {
      fprintf(stderr, "Error reading file: early termination\n");
      ryx_exit(1);
    }
    for (uint32_t j = 0; j < length; j++) {
      if (entry.sequence->residues[j] > 4) bad_map("residue %llu of entry %llu is not a base code", j, i);
    }
    generic_hash_map_insert(map, &edge, &entry);
  }
  return map;
}

void gap_sequence_map_check_edges(const gap_sequence_map_t *map, int32_t edge_count) {
  if (map == nullptr) return;
  generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(const_cast<gap_sequence_map_t *>(map));
  while (generic_hash_map_iterator_next(it)) {
    uint32_t key;
    memcpy(&key, it->key, sizeof(key));
    if ((key & 0x7fffffffu) >= static_cast<uint32_t>(edge_count < 0 ? 0 : edge_count)) {
      fprintf(stderr, "gap_sequence_map_read: edge %x is not an edge of the graph\n", key);
      ryx_exit(1);
    }
  }
  generic_hash_map_iterator_free(it);
}

}  // extern "C"
