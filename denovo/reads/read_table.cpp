// Read table: the path hash, batch and run tables, pairs, merging of
// batches and the stage-file piece.
#include "denovo/reads/read_table.h"

#include <bit>
#include <cstdlib>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"

static_assert(std::endian::native == std::endian::little, "the piece stores the slots as they lie in memory");

namespace {

constexpr uint32_t kInitialLog2 = 10;
// Above this a slot array could not be addressed.
constexpr uint32_t kMaxLog2 = 58;
enum { kFF = 0, kFB = 1, kBF = 2, kBB = 3 };

uint64_t *new_slots(uint32_t log2) {
  const uint64_t n = UINT64_C(1) << log2;
  auto *slots = static_cast<uint64_t *>(malloc(n * sizeof(uint64_t)));
  if (slots == nullptr) {
    fprintf(stderr, "Out of memory\n");
    ryx_exit(1);
  }
  for (uint64_t i = 0; i < n; i++) slots[i] = kPathHashEmpty;
  return slots;
}

// Stores value in the first empty slot from the home slot of the path at
// that position of info.
void file_position(uint64_t *slots, uint32_t log2, const read_info_t *info, uint64_t value) {
  const uint64_t mask = (UINT64_C(1) << log2) - 1;
  uint64_t h = read_info_hash_path(info, value, nullptr) & mask;
  while (slots[h] != kPathHashEmpty) h = (h + 1) & mask;
  slots[h] = value;
}

[[noreturn]] void bad_piece(const char *format, unsigned long long a = 0, unsigned long long b = 0) {
  fprintf(stderr, "read_table_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

// Turns a pair end to the other strand, mirroring its offset.
void turn(read_ptr_t *read_ptr, oriented_id_t *fragment, int32_t *offset, int32_t extent) {
  if (*read_ptr != kReadPtrNone) {
    *read_ptr = read_ptr_flip(*read_ptr);
  } else {
    *fragment = oriented_id_flip(*fragment);
  }
  *offset = extent - *offset;
}

end_info_t *new_spooled_list(int32_t max_distance) {
  end_info_t *list = end_info_new(max_distance, max_distance);
  list->spool = temp_file_create_anonymous();
  return list;
}

}  // namespace

path_hash_t *path_hash_new(void) {
  auto *hash = static_cast<path_hash_t *>(ryx_calloc(sizeof(path_hash_t)));
  hash->log2_slots = kInitialLog2;
  hash->slots = new_slots(kInitialLog2);
  return hash;
}

path_hash_t *path_hash_free(path_hash_t *hash) {
  if (hash == nullptr) return nullptr;
  free(hash->slots);
  ryx_free(hash);
  return nullptr;
}

void path_hash_write(FILE *file, const path_hash_t *hash) {
  if (hash == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u32(file, hash->log2_slots);
  bin_file_write_u64(file, hash->count);
  large_file_write(hash->slots, (size_t{1} << hash->log2_slots) * sizeof(uint64_t), file);
}

path_hash_t *path_hash_read(FILE *file, uint64_t element_count) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("path hash presence byte is %llu, not 0 or 1", present);
  const uint32_t log2 = bin_file_read_u32(file);
  const uint64_t count = bin_file_read_u64(file);
  if (log2 > kMaxLog2) bad_piece("path hash of 2^%llu slots", log2);
  const uint64_t n = UINT64_C(1) << log2;
  if (count > n / 2) bad_piece("%llu paths in a hash of %llu slots", count, n);
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && n > static_cast<uint64_t>(left) / sizeof(uint64_t)) {
    bad_piece("%llu hash slots do not fit in the %llu bytes left in the file", n, static_cast<uint64_t>(left));
  }
  auto *hash = static_cast<path_hash_t *>(ryx_calloc(sizeof(path_hash_t)));
  hash->log2_slots = log2;
  hash->count = count;
  hash->slots = new_slots(log2);
  if (large_file_read(hash->slots, n * sizeof(uint64_t), file) != n * sizeof(uint64_t)) {
    bad_piece("the file ends inside the %llu hash slots", n);
  }
  uint64_t filed = 0;
  for (uint64_t i = 0; i < n; i++) {
    if (hash->slots[i] == kPathHashEmpty) continue;
    if (hash->slots[i] >= element_count) {
      bad_piece("hash slot %llu holds position %llu beyond the read paths", i, hash->slots[i]);
    }
    filed++;
  }
  if (filed != count) bad_piece("the hash holds %llu paths, not %llu", filed, count);
  return hash;
}

read_table_t *read_table_new(uint32_t fragment_count, paired_setting_t *const *pair_par_array, int32_t file_count,
                             int32_t max_distance) {
  auto *table = static_cast<read_table_t *>(ryx_calloc(sizeof(read_table_t)));
  table->read_info = read_info_new(fragment_count);
  table->file_count = file_count;
  table->pair_dist_info = static_cast<pair_dist_info_t **>(
      ryx_calloc(static_cast<size_t>(file_count > 0 ? file_count : 1) * sizeof(pair_dist_info_t *)));
  for (int32_t i = 0; i < file_count; i++) {
    if (pair_par_array != nullptr && pair_par_array[i] != nullptr) {
      table->pair_dist_info[i] = pair_dist_info_new(pair_par_array[i], i);
    }
  }
  table->read_pair_info = read_pair_info_new(static_cast<int32_t>(fragment_count));
  table->path_hash = path_hash_new();
  table->end_info = new_spooled_list(max_distance);
  return table;
}

read_table_t *read_table_new_batch(uint32_t fragment_count, const paired_setting_t *setting, int32_t file_index,
                                   int32_t max_distance) {
  auto *table = static_cast<read_table_t *>(ryx_calloc(sizeof(read_table_t)));
  table->read_info = read_info_new(fragment_count);
  if (setting != nullptr) {
    table->pair_dist_info = static_cast<pair_dist_info_t **>(ryx_malloc(sizeof(pair_dist_info_t *)));
    table->pair_dist_info[0] = pair_dist_info_new(setting, file_index);
    table->read_pair_info = read_pair_info_new(static_cast<int32_t>(fragment_count));
  }
  table->end_info = end_info_new(max_distance, max_distance);
  table->file_count = 1;
  return table;
}

read_table_t *read_table_free(read_table_t *table) {
  if (table == nullptr) return nullptr;
  read_table_free_reads(table);
  // Normally gone after read_table_finish; a table freed unfinished must not
  // leak its hash.
  table->path_hash = path_hash_free(table->path_hash);
  table->end_info = end_info_free(table->end_info);
  ryx_free(table);
  return nullptr;
}

void read_table_free_reads(read_table_t *table) {
  table->read_info = read_info_free(table->read_info);
  if (table->pair_dist_info != nullptr) {
    for (int32_t i = 0; i < table->file_count; i++) pair_dist_info_free(table->pair_dist_info[i]);
    table->pair_dist_info = static_cast<pair_dist_info_t **>(ryx_free(table->pair_dist_info));
  }
  table->read_pair_info = read_pair_info_free(table->read_pair_info);
}

void read_table_grow_path_hash(read_table_t *table) {
  path_hash_t *hash = table->path_hash;
  if (hash->log2_slots >= kMaxLog2) {
    fprintf(stderr, "Out of memory\n");
    ryx_exit(1);
  }
  const uint32_t log2 = hash->log2_slots + 1;
  uint64_t *slots = new_slots(log2);
  const uint64_t n = UINT64_C(1) << hash->log2_slots;
  for (uint64_t i = 0; i < n; i++) {
    if (hash->slots[i] != kPathHashEmpty) file_position(slots, log2, table->read_info, hash->slots[i]);
  }
  free(hash->slots);
  hash->slots = slots;
  hash->log2_slots = log2;
}

read_ptr_t read_table_insert_path(read_table_t *table, uint64_t value, const read_table_t *source,
                                  uint64_t position, uint64_t *out_length) {
  path_hash_t *hash = table->path_hash;
  if (value != kReadPtrNone) {
    file_position(hash->slots, hash->log2_slots, table->read_info, value);
    return value;
  }
  const read_info_t *from = source->read_info;
  const uint64_t code = read_info_hash_path(from, position, out_length);
  uint64_t mask = (UINT64_C(1) << hash->log2_slots) - 1;
  uint64_t h = code & mask;
  while (hash->slots[h] != kPathHashEmpty) {
    const uint64_t stored = hash->slots[h];
    const int m = read_info_match_path(table->read_info, stored, from, position);
    if (m != 0) {
      if (read_info_word_count(from->words[2 * position]) != 0) read_info_increment_count(table->read_info, stored);
      return m == 1 ? stored : read_ptr_flip(stored);
    }
    h = (h + 1) & mask;
  }
  if (hash->count == (mask + 1) / 2) {
    read_table_grow_path_hash(table);
    mask = (UINT64_C(1) << hash->log2_slots) - 1;
    h = code & mask;
    while (hash->slots[h] != kPathHashEmpty) h = (h + 1) & mask;
  }
  const uint64_t p = read_info_copy_path(table->read_info, from, position);
  hash->slots[h] = p;
  hash->count++;
  return p;
}

read_ptr_t read_table_insert_next_path(read_table_t *table, const read_table_t *source, uint64_t *cursor) {
  uint64_t length = 0;
  const read_ptr_t r = read_table_insert_path(table, kReadPtrNone, source, *cursor, &length);
  *cursor += length;
  return r;
}

read_ptr_t read_table_reinsert_path(read_table_t *table, uint64_t position) {
  return read_table_insert_path(table, position, table, position, nullptr);
}

void read_table_add_pair(read_table_t *batch, read_ptr_t read_ptr1, oriented_id_t fragment1, int32_t offset1,
                         int32_t extent1, read_ptr_t read_ptr2, oriented_id_t fragment2, int32_t offset2,
                         int32_t extent2) {
  pair_dist_info_t *histogram = batch->pair_dist_info[0];
  const bool placed1 = read_ptr1 != kReadPtrNone || fragment1 != kOrientedIdNone;
  const bool placed2 = read_ptr2 != kReadPtrNone || fragment2 != kOrientedIdNone;
  if (!placed1 || !placed2) {
    pair_dist_info_count_not_counted(histogram);
    return;
  }
  if (read_ptr1 == kReadPtrNone && read_ptr2 == kReadPtrNone &&
      oriented_id_get_index(fragment1) == oriented_id_get_index(fragment2)) {
    if (fragment1 == fragment2) {
      pair_dist_info_add(histogram, offset2 - offset1, 0);
    } else {
      pair_dist_info_add(histogram, extent1 - offset1 - offset2, 1);
    }
    return;
  }
  pair_dist_info_count_not_counted(histogram);
  const int orientation = histogram->setting->orientation;
  if (orientation == kBF || orientation == kBB) turn(&read_ptr1, &fragment1, &offset1, extent1);
  if (orientation == kFF || orientation == kBF) turn(&read_ptr2, &fragment2, &offset2, extent2);
  read_pair_info_add(batch->read_pair_info, read_ptr1, fragment1, offset1, read_ptr2, fragment2, offset2);
}

void read_table_merge(read_table_t *batch, read_table_t *global) {
  const read_info_t *paths = batch->read_info;
  if (batch->pair_dist_info == nullptr) {
    for (uint64_t cursor = 0; 2 * cursor + 1 < paths->count;) read_table_insert_next_path(global, batch, &cursor);
    return;
  }
  read_pair_info_t *pairs = batch->read_pair_info;
  const uint64_t f = static_cast<uint64_t>(pairs->fragment_count);
  const pair_dist_info_t *histogram = batch->pair_dist_info[0];
  const int32_t d = histogram->db_num;
  if (d < 0 || d >= global->file_count || global->pair_dist_info[d] == nullptr) {
    fprintf(stderr, "read_table_merge: the run's table has no pair distances for file %d\n", d);
    ryx_exit(1);
  }
  pair_dist_info_merge(histogram, global->pair_dist_info[d]);

  // Pair ends on paths name batch positions; the paths are walked in order
  // and each end found in turn (ends follow their paths' order) is moved to
  // where the path went in the run's table.
  const uint64_t ends = 2 * pairs->count;
  uint64_t e = 0;
  auto end_position = [pairs](uint64_t i) -> uint64_t & {
    read_pair_t &pair = pairs->by_end1[i / 2];
    return i % 2 == 0 ? pair.position1 : pair.position2;
  };
  auto skip_fragment_ends = [&] {
    while (e < ends && read_ptr_get_index(end_position(e)) < f) e++;
  };
  for (uint64_t cursor = 0; 2 * cursor + 1 < paths->count;) {
    const uint64_t start = cursor;
    const read_ptr_t g = read_table_insert_next_path(global, batch, &cursor);
    skip_fragment_ends();
    if (e < ends && read_ptr_get_index(end_position(e)) == f + start) {
      uint64_t &position = end_position(e);
      position = (f + read_ptr_get_index(g)) | ((position ^ g) & kReadPtrReverse);
      e++;
    }
  }
  read_pair_info_merge(pairs, global->read_pair_info, d);
}

void read_table_finish(read_table_t *global) {
  global->path_hash = path_hash_free(global->path_hash);
  read_info_make_searchable(global->read_info);
  if (global->read_pair_info != nullptr) read_pair_info_sort(global->read_pair_info);
}

void read_table_print_stats(const read_table_t *table) {
  read_info_print_stats(table->read_info);
  read_pair_info_print_stats(table->read_pair_info);
  end_info_print_stats(table->end_info);
}

void read_table_write(FILE *file, read_table_t *table) {
  if (table == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u32(file, static_cast<uint32_t>(table->file_count));
  read_info_write(file, table->read_info);
  for (int32_t i = 0; i < table->file_count; i++) {
    pair_dist_info_write(file, table->pair_dist_info != nullptr ? table->pair_dist_info[i] : nullptr);
  }
  read_pair_info_write(file, table->read_pair_info);
  path_hash_write(file, table->path_hash);
  end_info_write_spooled(file, table->end_info);
}

read_table_t *read_table_read(FILE *file, uint32_t fragment_count, paired_setting_t *const *pair_par_array,
                              int32_t file_count) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const uint32_t stored_files = bin_file_read_u32(file);
  const bool known = file_count != -1;
  if (known && stored_files != static_cast<uint32_t>(file_count)) {
    fprintf(stderr, "Error, read_table_read file_count != table->file_count\n");
    ryx_exit(1);
  }
  // Every file's histogram takes at least its presence byte.
  const int64_t left = large_file_bytes_left(file);
  if (stored_files > INT32_MAX || (left >= 0 && stored_files > static_cast<uint64_t>(left))) {
    bad_piece("%llu read files cannot be stored in the rest of the file", stored_files);
  }
  auto *table = static_cast<read_table_t *>(ryx_calloc(sizeof(read_table_t)));
  table->file_count = static_cast<int32_t>(stored_files);
  table->read_info = read_info_read(file, fragment_count);
  table->pair_dist_info = static_cast<pair_dist_info_t **>(
      ryx_calloc((stored_files > 0 ? stored_files : 1) * sizeof(pair_dist_info_t *)));
  for (int32_t i = 0; i < table->file_count; i++) {
    const paired_setting_t *setting = known && pair_par_array != nullptr ? pair_par_array[i] : nullptr;
    table->pair_dist_info[i] = pair_dist_info_read(file, setting, i);
    if (known && (table->pair_dist_info[i] != nullptr) != (setting != nullptr)) {
      fprintf(stderr, "Error, in read_table_read table->pair_dist_info[] and pair_par_array not the same\n");
      ryx_exit(1);
    }
  }
  table->read_pair_info = read_pair_info_read(file, static_cast<int32_t>(fragment_count));
  table->path_hash = path_hash_read(file, table->read_info != nullptr ? table->read_info->count / 2 : 0);
  table->end_info = end_info_read(file);
  return table;
}
