#include "seqio/seq_db_composite.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db.h"

namespace {

seq_db_parts_t *parts_of(const seq_db_t *db) { return static_cast<seq_db_parts_t *>(db->impl); }

// Interleaved: sequence i is sequence i / n of part i mod n.
seq_db_t *interleaved_part(seq_db_t *db, int64_t *index) {
  seq_db_parts_t *p = parts_of(db);
  seq_db_t *part = p->parts[*index % p->count];
  *index /= p->count;
  return part;
}

// Concatenated: subtract the parts' counts until the index falls inside one.
seq_db_t *concat_part(seq_db_t *db, int64_t *index) {
  seq_db_parts_t *p = parts_of(db);
  for (int32_t k = 0; k < p->count; k++) {
    if (*index < p->parts[k]->sequence_count) return p->parts[k];
    *index -= p->parts[k]->sequence_count;
  }
  return nullptr;
}

template <seq_db_t *(*Locate)(seq_db_t *, int64_t *)>
seq_record_t *composite_get(seq_db_t *db, int64_t index) {
  if (index < 0 || index >= db->sequence_count) return nullptr;
  seq_db_t *part = Locate(db, &index);
  return part->get(part, index);
}

template <seq_db_t *(*Locate)(seq_db_t *, int64_t *)>
seq_record_t *composite_get_qualities(seq_db_t *db, int64_t index) {
  if (index < 0 || index >= db->sequence_count) return nullptr;
  seq_db_t *part = Locate(db, &index);
  return part->get_qualities(part, index);
}

template <seq_db_t *(*Locate)(seq_db_t *, int64_t *)>
seq_record_t *composite_get_letters(seq_db_t *db, int64_t index, seq_scratch_t *scratch) {
  if (index < 0 || index >= db->sequence_count) return nullptr;
  seq_db_t *part = Locate(db, &index);
  return seq_db_fetch_letters(part, index, scratch);
}

template <seq_db_t *(*Locate)(seq_db_t *, int64_t *)>
uint32_t composite_get_length(seq_db_t *db, int64_t index) {
  if (index < 0 || index >= db->sequence_count) return 0;
  seq_db_t *part = Locate(db, &index);
  return part->get_length(part, index);
}

template <seq_db_t *(*Locate)(seq_db_t *, int64_t *)>
seq_db_t *composite_new(seq_db_t **parts, int32_t n) {
  auto *db = static_cast<seq_db_t *>(ryx_calloc(sizeof(seq_db_t)));
  auto *p = static_cast<seq_db_parts_t *>(ryx_malloc(sizeof(seq_db_parts_t)));
  p->parts = parts;
  p->count = n;
  db->impl = p;
  bool qualities = true;
  bool lengths = true;
  for (int32_t k = 0; k < n; k++) {
    db->sequence_count += parts[k]->sequence_count;
    db->residue_count += parts[k]->residue_count;
    qualities = qualities && parts[k]->get_qualities != nullptr;
    lengths = lengths && parts[k]->get_length != nullptr;
  }
  db->get = composite_get<Locate>;
  db->get_qualities = qualities ? composite_get_qualities<Locate> : nullptr;
  db->get_letters = composite_get_letters<Locate>;
  // A part without lengths would have nothing to answer with.
  db->get_length = lengths ? composite_get_length<Locate> : nullptr;
  return db;
}

}  // namespace

seq_db_t *seq_db_new_interleaved(seq_db_t **parts, int32_t n) {
  for (int32_t k = 1; k < n; k++) {
    if (parts[k]->sequence_count != parts[0]->sequence_count) {
      fprintf(stderr, "Interleaved databases must be of the same length.\n");
      ryx_exit(1);
    }
  }
  return composite_new<interleaved_part>(parts, n);
}

seq_db_t *seq_db_new_concat(seq_db_t **parts, int32_t n) { return composite_new<concat_part>(parts, n); }

seq_db_t *seq_db_free_parts(seq_db_t *db) {
  if (db == nullptr) return nullptr;
  seq_db_parts_t *p = parts_of(db);
  ryx_free(p->parts);
  ryx_free(p);
  ryx_free(db);
  return nullptr;
}

seq_db_t *seq_db_get_part(const seq_db_t *db, int32_t i) { return parts_of(db)->parts[i]; }
