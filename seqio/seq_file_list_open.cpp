// Opening the files of a sequence-file list as one random-access database
// or one pull reader, checking the counts the list stored against the files.
#include <cstdio>

#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_composite.h"
#include "seqio/seq_file_list.h"
#include "seqio/seq_reader.h"

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
