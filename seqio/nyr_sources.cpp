// The source cache of an nyr file object and the slots that open the
// listed read and reference files on demand.
#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/nyr_file.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_fasta_index.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"

namespace {

// Formats accepted for read files and for reference files.
constexpr uint32_t kReadFormats = 699;
constexpr uint32_t kReferenceFormats = 5;

// A database cached for a list, freed the way it was built.
void free_cached_db(seq_db_t *db, const seq_file_info_list_t *list) {
  if (db == nullptr) return;
  if (list != nullptr)
    seq_file_info_list_free_db(db, list);
  else
    seq_db_free_fasta_indexed(db);
}

seq_record_t *fetch(seq_db_t *db, seq_db_get_fn get, int64_t index) {
  if (db == nullptr || get == nullptr || index < 0 || index >= db->sequence_count) return nullptr;
  return get(db, index);
}

}  // namespace

nyr_sources_t *nyr_sources_new() { return static_cast<nyr_sources_t *>(ryx_calloc(sizeof(nyr_sources_t))); }

nyr_sources_t *nyr_sources_free(nyr_sources_t *sources, nyr_file_t *file) {
  if (sources == nullptr) return nullptr;
  free_cached_db(sources->read_db, file != nullptr ? file->read_files : nullptr);
  if (sources->read_reader != nullptr)
    seq_file_info_list_free_reader(sources->read_reader, file != nullptr ? file->read_files : nullptr);
  free_cached_db(sources->reference_db, file != nullptr ? file->reference_files : nullptr);
  ryx_free(sources);
  return nullptr;
}

seq_db_t *nyr_file_open_reads(nyr_file_t *file, int residue_type) {
  nyr_sources_t *sources = file->sources;
  free_cached_db(sources->read_db, file->read_files);
  sources->read_db = seq_file_info_list_open_db(file->read_files, residue_type, kReadFormats, 0, 0, nullptr,
                                                nullptr, 0);
  if (sources->read_db == nullptr) ryx_exit(66);
  if (sources->read_db->get_qualities == nullptr) file->get_read_raw = nullptr;
  return sources->read_db;
}

seq_reader_t *nyr_file_open_read_reader(nyr_file_t *file, int residue_type, int want_qualities) {
  nyr_sources_t *sources = file->sources;
  seq_file_info_list_free_reader(sources->read_reader, file->read_files);
  sources->read_reader =
      seq_file_info_list_open_reader(file->read_files, residue_type, kReadFormats, want_qualities, 0);
  return sources->read_reader;
}

seq_reader_t *nyr_file_open_read_reader_range(nyr_file_t *file, int32_t entry, int residue_type, int want_qualities) {
  nyr_sources_t *sources = file->sources;
  seq_file_info_list_free_reader(sources->read_reader, file->read_files);
  sources->read_reader =
      seq_file_info_list_open_reader_one(file->read_files, entry, residue_type, kReadFormats, want_qualities, 0);
  return sources->read_reader;
}

seq_db_t *nyr_file_open_references(nyr_file_t *file, int residue_type) {
  nyr_sources_t *sources = file->sources;
  free_cached_db(sources->reference_db, file->reference_files);
  sources->reference_db = seq_file_info_list_open_db(file->reference_files, residue_type, kReferenceFormats, 1, 0,
                                                     nullptr, nullptr, 0);
  if (sources->reference_db == nullptr) ryx_exit(66);
  return sources->reference_db;
}

seq_record_t *nyr_file_get_read(nyr_file_t *file, int64_t index) {
  seq_db_t *db = file->sources->read_db;
  return fetch(db, db != nullptr ? db->get : nullptr, index);
}

seq_record_t *nyr_file_get_read_raw(nyr_file_t *file, int64_t index) {
  seq_db_t *db = file->sources->read_db;
  return fetch(db, db != nullptr ? db->get_qualities : nullptr, index);
}

seq_record_t *nyr_file_get_reference(nyr_file_t *file, int64_t index) {
  seq_db_t *db = file->sources->reference_db;
  return fetch(db, db != nullptr ? db->get : nullptr, index);
}

seq_record_t *nyr_file_next_read(nyr_file_t *file, seq_record_t **raw) {
  if (file->sources->read_reader == nullptr) {
    if (raw != nullptr) *raw = nullptr;
    return nullptr;
  }
  seq_record_t *quality = nullptr;
  seq_record_t *record = seq_reader_next_with_raw(file->sources->read_reader, &quality);
  if (raw != nullptr)
    *raw = quality;
  else
    seq_record_release(quality);
  return record;
}

seq_db_t *nyr_file_get_reference_db(nyr_file_t *file) { return file->sources->reference_db; }
