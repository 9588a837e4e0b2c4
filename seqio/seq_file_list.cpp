// Sequence-file list entries, lists, their file layout, and opening the
// listed files as one database or one pull reader.
#include "seqio/seq_file_list.h"

#include <climits>
#include <cstring>

#include "common/bin_codec.h"
#include "common/input_stream.h"
#include "common/large_file.h"
#include "common/linked_list.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "seqio/nyr_format.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_composite.h"
#include "seqio/seq_reader.h"

namespace {

seq_file_info_t *entry_new(char **names, uint8_t flags, int64_t sequence_count, int64_t residue_count) {
  auto *entry = static_cast<seq_file_info_t *>(ryx_malloc(sizeof(seq_file_info_t)));
  entry->flags = flags;
  entry->sequence_count = sequence_count;
  entry->residue_count = residue_count;
  entry->names = names;
  return entry;
}

seq_file_info_list_t *list_from_array(seq_file_info_t **entries, int32_t count, int owns) {
  auto *list = static_cast<seq_file_info_list_t *>(ryx_malloc(sizeof(seq_file_info_list_t)));
  list->entries = entries;
  list->count = count;
  list->owns_entries = owns;
  return list;
}

bool same_name(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strcmp(a, b) == 0;
}

}  // namespace

// --- Entries ---

seq_file_info_t *seq_file_info_new(char *name, int64_t sequence_count, int64_t residue_count) {
  char **names = static_cast<char **>(ryx_malloc(sizeof(char *)));
  names[0] = name;
  return entry_new(names, 0, sequence_count, residue_count);
}

seq_file_info_t *seq_file_info_new_pair(char *first, char *second, int64_t sequence_count, int64_t residue_count) {
  char **names = static_cast<char **>(ryx_malloc(2 * sizeof(char *)));
  names[0] = first;
  names[1] = second;
  return entry_new(names, kSeqFileInfoPair, sequence_count, residue_count);
}

seq_file_info_t *seq_file_info_new_raw(char **names, int64_t sequence_count, int64_t residue_count) {
  return entry_new(names, 0, sequence_count, residue_count);
}

seq_file_info_t *seq_file_info_free(seq_file_info_t *entry) {
  if (entry == nullptr) return nullptr;
  ryx_free(entry->names[0]);
  if (entry->flags & kSeqFileInfoPair) ryx_free(entry->names[1]);
  ryx_free(entry->names);
  ryx_free(entry);
  return nullptr;
}

int seq_file_info_is_pair(const seq_file_info_t *entry) { return entry->flags & kSeqFileInfoPair ? 1 : 0; }
void seq_file_info_set_pair(seq_file_info_t *entry) { entry->flags |= kSeqFileInfoPair; }
int seq_file_info_is_paired(const seq_file_info_t *entry) { return entry->flags & kSeqFileInfoPaired ? 1 : 0; }
void seq_file_info_set_paired(seq_file_info_t *entry) { entry->flags |= kSeqFileInfoPaired; }

// --- Lists ---

seq_file_info_list_t *seq_file_info_list_new(const linked_list_t *entries) {
  const int32_t count = linked_list_get_count(entries);
  auto **array = static_cast<seq_file_info_t **>(linked_list_to_array(entries, sizeof(seq_file_info_t *)));
  return list_from_array(array, count, 1);
}

seq_file_info_list_t *seq_file_info_list_new_single(seq_file_info_t *entry) {
  auto **array = static_cast<seq_file_info_t **>(ryx_malloc(sizeof(seq_file_info_t *)));
  array[0] = entry;
  return list_from_array(array, 1, 1);
}

seq_file_info_list_t *seq_file_info_list_free(seq_file_info_list_t *list) {
  if (list == nullptr) return nullptr;
  if (list->owns_entries)
    for (int32_t i = 0; i < list->count; i++) seq_file_info_free(list->entries[i]);
  return seq_file_info_list_free_shell(list);
}

seq_file_info_list_t *seq_file_info_list_free_shell(seq_file_info_list_t *list) {
  if (list == nullptr) return nullptr;
  ryx_free(list->entries);
  ryx_free(list);
  return nullptr;
}

seq_file_info_list_t *seq_file_info_list_concat(const seq_file_info_list_t *first,
                                                const seq_file_info_list_t *second) {
  const int32_t n1 = first != nullptr ? first->count : 0;
  const int32_t n2 = second != nullptr ? second->count : 0;
  auto **array = static_cast<seq_file_info_t **>(
      ryx_malloc(static_cast<size_t>(n1 + n2 > 0 ? n1 + n2 : 1) * sizeof(seq_file_info_t *)));
  for (int32_t i = 0; i < n1; i++) array[i] = first->entries[i];
  for (int32_t i = 0; i < n2; i++) array[n1 + i] = second->entries[i];
  return list_from_array(array, n1 + n2, 0);
}

int seq_file_info_list_equal(const seq_file_info_list_t *a, const seq_file_info_list_t *b) {
  const int32_t na = a != nullptr ? a->count : 0;
  const int32_t nb = b != nullptr ? b->count : 0;
  if (na != nb) return 0;
  for (int32_t i = 0; i < na; i++) {
    const seq_file_info_t *x = a->entries[i];
    const seq_file_info_t *y = b->entries[i];
    if (x->flags != y->flags) return 0;
    if (!same_name(x->names[0], y->names[0])) return 0;
    if ((x->flags & kSeqFileInfoPair) && !same_name(x->names[1], y->names[1])) return 0;
  }
  return 1;
}

seq_file_info_list_t *seq_file_info_list_read(int version, input_stream_t *stream) {
  const uint32_t count = bin_stream_read_flex_number(stream);
  if (count > static_cast<uint32_t>(INT32_MAX)) nyr_bad_file();
  // Entries are collected as they are read, so a corrupt count costs no
  // memory beyond what the file really holds.
  linked_list_t *entries = linked_list_new();
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t flags = bin_stream_read_u8(stream);
    const int64_t sequences = version >= 2 ? static_cast<int64_t>(bin_stream_read_u64(stream))
                                           : static_cast<int64_t>(bin_stream_read_u32(stream));
    const int64_t residues = static_cast<int64_t>(bin_stream_read_u64(stream));
    const int pair = flags & kSeqFileInfoPair;
    char **names = static_cast<char **>(ryx_malloc((pair ? 2 : 1) * sizeof(char *)));
    names[0] = nyr_read_string(stream);
    if (pair) names[1] = nyr_read_string(stream);
    linked_list_append(entries, entry_new(names, flags, sequences, residues));
  }
  seq_file_info_list_t *list = seq_file_info_list_new(entries);
  linked_list_free(entries);
  return list;
}

seq_file_info_list_t *seq_file_info_list_read_file(int version, FILE *file) {
  input_stream_t *stream = input_stream_new_file(file);
  seq_file_info_list_t *list = seq_file_info_list_read(version, stream);
  // The stream reads ahead; put the file back just behind the list.
  const int64_t end = input_stream_tell(stream);
  input_stream_free_keep_file(stream);
  large_file_seek(file, end, SEEK_SET);
  return list;
}

void seq_file_info_list_write_version(FILE *file, const seq_file_info_list_t *list, int version) {
  const int32_t count = list != nullptr ? list->count : 0;
  bin_file_write_flex_number(file, static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count; i++) {
    const seq_file_info_t *entry = list->entries[i];
    bin_file_write_u8(file, entry->flags);
    if (version >= 2)
      bin_file_write_u64(file, static_cast<uint64_t>(entry->sequence_count));
    else
      bin_file_write_u32(file, static_cast<uint32_t>(entry->sequence_count));
    bin_file_write_u64(file, static_cast<uint64_t>(entry->residue_count));
    bin_file_write_string(file, entry->names[0]);
    if (entry->flags & kSeqFileInfoPair) bin_file_write_string(file, entry->names[1]);
  }
}

void seq_file_info_list_write(FILE *file, const seq_file_info_list_t *list) {
  seq_file_info_list_write_version(file, list, kNyrVersionWritten);
}

// --- Opening the listed files ---

namespace {

const char *name_or_empty(const char *name) { return name != nullptr ? name : ""; }

seq_db_t *open_one(const char *name, int residue_type, uint32_t format_mask, int keep_lengths, int buckets,
                   int report) {
  seq_db_t *db = seq_db_open(name_or_empty(name), static_cast<uint32_t>(residue_type), format_mask, keep_lengths,
                             buckets);
  if (db != nullptr && report) seq_db_report(db, name_or_empty(name));
  return db;
}

// The stored counts must match the file's unless they are still unknown.
void check_counts(seq_file_info_t *entry, const seq_db_t *db) {
  const bool sequences_differ = entry->sequence_count != -1 && entry->sequence_count != db->sequence_count;
  const bool residues_differ = entry->residue_count != -1 && entry->residue_count != db->residue_count;
  if (sequences_differ || residues_differ) {
    if (entry->flags & kSeqFileInfoPair)
      fprintf(stderr, "File mismatch in %s / %s\n", name_or_empty(entry->names[0]), name_or_empty(entry->names[1]));
    else
      fprintf(stderr, "File mismatch in %s\n", name_or_empty(entry->names[0]));
    fprintf(stderr, "Contains %lld sequences and %lld residues\n", static_cast<long long>(db->sequence_count),
            static_cast<long long>(db->residue_count));
    fprintf(stderr, "Should contain %lld sequences and %lld residues\n",
            static_cast<long long>(entry->sequence_count), static_cast<long long>(entry->residue_count));
    ryx_exit(65);
  }
  entry->sequence_count = db->sequence_count;
  entry->residue_count = db->residue_count;
}

seq_reader_t *open_entry_reader(const seq_file_info_t *entry, int residue_type, uint32_t format_mask,
                                int want_qualities, int report) {
  auto open = [&](const char *name) {
    return seq_reader_open(name_or_empty(name), 0, static_cast<uint32_t>(residue_type), format_mask, 0,
                           want_qualities, report);
  };
  if (!(entry->flags & kSeqFileInfoPair)) return open(entry->names[0]);
  auto **parts = static_cast<seq_reader_t **>(ryx_malloc(2 * sizeof(seq_reader_t *)));
  parts[0] = open(entry->names[0]);
  parts[1] = open(entry->names[1]);
  return seq_reader_new_interleaved(parts, 2);
}

}  // namespace

seq_db_t *seq_file_info_list_open_db(seq_file_info_list_t *list, int residue_type, uint32_t format_mask,
                                     int keep_lengths, int buckets, progress_meter_t *meter, seq_db_t **per_entry,
                                     int report) {
  const int32_t n = list != nullptr ? list->count : 0;
  auto **dbs = static_cast<seq_db_t **>(ryx_calloc(static_cast<size_t>(n > 0 ? n : 1) * sizeof(seq_db_t *)));
  for (int32_t i = 0; i < n; i++) {
    seq_file_info_t *entry = list->entries[i];
    const bool pair = entry->flags & kSeqFileInfoPair;
    seq_db_t *db = open_one(entry->names[0], residue_type, format_mask, keep_lengths, buckets, report);
    if (db != nullptr && pair) {
      progress_meter_update(meter, (i + 0.5) / n);
      seq_db_t *second = open_one(entry->names[1], residue_type, format_mask, keep_lengths, buckets, report);
      if (second == nullptr) {
        seq_db_free(db);
        db = nullptr;
      } else {
        auto **parts = static_cast<seq_db_t **>(ryx_malloc(2 * sizeof(seq_db_t *)));
        parts[0] = db;
        parts[1] = second;
        db = seq_db_new_interleaved(parts, 2);
      }
    }
    if (db == nullptr) {
      // The opener has said why; the databases opened so far are closed.
      for (int32_t k = 0; k < i; k++) seq_file_info_free_db(dbs[k], seq_file_info_is_pair(list->entries[k]));
      ryx_free(dbs);
      return nullptr;
    }
    dbs[i] = db;
    progress_meter_update(meter, (i + 1.0) / n);
    check_counts(entry, db);
  }
  if (per_entry != nullptr)
    for (int32_t i = 0; i < n; i++) per_entry[i] = dbs[i];
  if (n == 1) {
    seq_db_t *only = dbs[0];
    ryx_free(dbs);
    return only;
  }
  return seq_db_new_concat(dbs, n);
}

void seq_file_info_free_db(seq_db_t *db, int pair) {
  if (db == nullptr) return;
  if (pair) {
    seq_db_free(seq_db_get_part(db, 0));
    seq_db_free(seq_db_get_part(db, 1));
    seq_db_free_parts(db);
  } else {
    seq_db_free(db);
  }
}

void seq_file_info_list_free_db(seq_db_t *db, const seq_file_info_list_t *list) {
  if (db == nullptr) return;
  const int32_t n = list != nullptr ? list->count : 0;
  if (n == 1) {
    seq_file_info_free_db(db, seq_file_info_is_pair(list->entries[0]));
    return;
  }
  for (int32_t i = 0; i < n; i++) seq_file_info_free_db(seq_db_get_part(db, i), seq_file_info_is_pair(list->entries[i]));
  seq_db_free_parts(db);
}

seq_reader_t *seq_file_info_list_open_reader_range(const seq_file_info_list_t *list, int32_t first, int32_t end,
                                                   int residue_type, uint32_t format_mask, int want_qualities,
                                                   int report) {
  const int32_t n = list != nullptr ? list->count : 0;
  if (first < 0) first = 0;
  if (end > n) end = n;
  const int32_t count = end > first ? end - first : 0;
  auto **parts = static_cast<seq_reader_t **>(ryx_malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(seq_reader_t *)));
  for (int32_t i = 0; i < count; i++)
    parts[i] = open_entry_reader(list->entries[first + i], residue_type, format_mask, want_qualities, report);
  if (count == 1) {
    seq_reader_t *only = parts[0];
    ryx_free(parts);
    return only;
  }
  return seq_reader_new_concat(parts, count);
}

seq_reader_t *seq_file_info_list_open_reader(const seq_file_info_list_t *list, int residue_type,
                                             uint32_t format_mask, int want_qualities, int report) {
  return seq_file_info_list_open_reader_range(list, 0, list != nullptr ? list->count : 0, residue_type, format_mask,
                                              want_qualities, report);
}

seq_reader_t *seq_file_info_list_open_reader_one(const seq_file_info_list_t *list, int32_t index,
                                                 int residue_type, uint32_t format_mask, int want_qualities,
                                                 int report) {
  return seq_file_info_list_open_reader_range(list, index, index + 1, residue_type, format_mask, want_qualities,
                                              report);
}

void seq_file_info_list_free_reader(seq_reader_t *reader, const seq_file_info_list_t *) { seq_reader_free(reader); }
