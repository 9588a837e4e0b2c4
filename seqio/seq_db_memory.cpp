#include "seqio/seq_db_memory.h"

#include "common/memory.h"
#include "seqio/seq_record.h"

namespace {

struct records_impl_t {
  seq_record_t **records;
};

seq_record_t **records_of(seq_db_t *db) { return static_cast<records_impl_t *>(db->impl)->records; }

seq_record_t *records_get(seq_db_t *db, int64_t index) {
  if (index < 0 || index >= db->sequence_count) return nullptr;
  return records_of(db)[index];
}

uint32_t records_get_length(seq_db_t *db, int64_t index) { return records_of(db)[index]->length; }

// Records of the record-array database belong to it; all others are new.
void release_fetched(seq_db_t *db, seq_record_t *record) {
  if (db->get != records_get) seq_record_release(record);
}

}  // namespace

seq_db_t *seq_db_new() { return static_cast<seq_db_t *>(ryx_calloc(sizeof(seq_db_t))); }

seq_db_t *seq_db_free_shell(seq_db_t *db) {
  ryx_free(db);
  return nullptr;
}

seq_db_t *seq_db_new_from_records(seq_record_t **records, int64_t n) {
  seq_db_t *db = seq_db_new();
  auto *impl = static_cast<records_impl_t *>(ryx_malloc(sizeof(records_impl_t)));
  impl->records = records;
  db->impl = impl;
  db->sequence_count = n;
  for (int64_t i = 0; i < n; i++) db->residue_count += records[i]->length;
  db->get = records_get;
  db->get_length = records_get_length;
  return db;
}

seq_db_t *seq_db_new_from_record(seq_record_t *record) {
  auto **records = static_cast<seq_record_t **>(ryx_malloc(sizeof(seq_record_t *)));
  records[0] = record;
  return seq_db_new_from_records(records, 1);
}

seq_db_t *seq_db_free_records(seq_db_t *db) {
  if (db == nullptr) return nullptr;
  seq_record_t **records = records_of(db);
  for (int64_t i = 0; i < db->sequence_count; i++) seq_record_release(records[i]);
  ryx_free(records);
  ryx_free(db->impl);
  ryx_free(db);
  return nullptr;
}

void seq_db_sum_lengths(seq_db_t *db) {
  int64_t sum = 0;
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *record = db->get(db, i);
    sum += record->length;
    release_fetched(db, record);
  }
  db->residue_count = sum;
}

void seq_db_fetch_all(seq_db_t *db) {
  for (int64_t i = 0; i < db->sequence_count; i++) release_fetched(db, db->get(db, i));
}

void seq_db_release_fetched(seq_db_t *db, seq_record_t *record) { release_fetched(db, record); }

seq_db_t *seq_db_new_summed_shell(seq_db_t **parts, int32_t n) {
  seq_db_t *db = seq_db_new();
  for (int32_t i = 0; i < n; i++) {
    db->sequence_count += parts[i]->sequence_count;
    db->residue_count += parts[i]->residue_count;
  }
  return db;
}
