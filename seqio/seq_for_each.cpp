#include "seqio/seq_for_each.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "seqio/seq_db.h"
#include "seqio/seq_record.h"

namespace {

// Which callback a run calls; exactly one is set.
struct callbacks_t {
  seq_single_fn single = nullptr;
  seq_single_raw_fn single_raw = nullptr;
  seq_pair_fn pair = nullptr;
  seq_pair_raw_fn pair_raw = nullptr;
  bool qualities() const { return single_raw != nullptr || pair_raw != nullptr; }
};

seq_db_t *open_fallback(const char *path, uint32_t residue_type, uint32_t mask) {
  seq_db_t *db = seq_db_open(path, residue_type, mask, 0, 0);
  if (db == nullptr) ryx_exit(1);  // seq_db_open has told why
  return db;
}

seq_record_t *fetch_qualities(seq_db_t *db, int64_t i) {
  return db->get_qualities != nullptr ? db->get_qualities(db, i) : nullptr;
}

void close_fallback(seq_db_t *db, const char *path, int report) {
  if (report != 0) seq_db_report(db, path);
  seq_db_free(db);
}

// One file: stream it, or read it through a database.
void run_one(const char *path, uint32_t residue_type, uint32_t mask, int report, const callbacks_t &cb,
             void *user) {
  seq_stream_t *stream = seq_stream_open(path, residue_type, mask, cb.qualities() ? 1 : 0, report);
  if (stream != nullptr) {
    seq_stream_run(stream, cb.single, cb.single_raw, cb.pair, cb.pair_raw, user);
    seq_stream_close(stream);
    return;
  }
  seq_db_t *db = open_fallback(path, residue_type, mask);
  const int64_t n = db->sequence_count;
  if (cb.pair != nullptr || cb.pair_raw != nullptr) {
    if (n % 2 != 0) {
      fprintf(stderr, "Error: odd number of sequences in paired file\n");
      ryx_exit(1);
    }
    for (int64_t i = 0; i < n; i += 2) {
      seq_record_t *r1 = db->get(db, i);
      seq_record_t *q1 = cb.pair_raw != nullptr ? fetch_qualities(db, i) : nullptr;
      seq_record_t *r2 = db->get(db, i + 1);
      seq_record_t *q2 = cb.pair_raw != nullptr ? fetch_qualities(db, i + 1) : nullptr;
      if (cb.pair_raw != nullptr) cb.pair_raw(r1, q1, r2, q2, user);
      else cb.pair(r1, r2, user);
      seq_record_release(r1);
      seq_record_release(q1);
      seq_record_release(r2);
      seq_record_release(q2);
    }
  } else {
    for (int64_t i = 0; i < n; i++) {
      seq_record_t *record = db->get(db, i);
      seq_record_t *quality = cb.single_raw != nullptr ? fetch_qualities(db, i) : nullptr;
      if (cb.single_raw != nullptr) cb.single_raw(record, quality, user);
      else cb.single(record, user);
      seq_record_release(record);
      seq_record_release(quality);
    }
  }
  close_fallback(db, path, report);
}

void run_two(const char *path1, const char *path2, uint32_t residue_type, uint32_t mask, int report,
             const callbacks_t &cb, void *user) {
  const int qualities = cb.qualities() ? 1 : 0;
  seq_stream_t *stream1 = seq_stream_open(path1, residue_type, mask, qualities, report);
  seq_stream_t *stream2 = seq_stream_open(path2, residue_type, mask, qualities, report);
  if (stream1 != nullptr && stream2 != nullptr) {
    seq_stream_run_interleaved(stream1, stream2, cb.pair, cb.pair_raw, user);
    seq_stream_close(stream1);
    seq_stream_close(stream2);
    return;
  }
  seq_stream_close(stream1);
  seq_stream_close(stream2);
  seq_db_t *db1 = open_fallback(path1, residue_type, mask);
  seq_db_t *db2 = open_fallback(path2, residue_type, mask);
  if (db1->sequence_count != db2->sequence_count) {
    fprintf(stderr, "Interleaved databases should have the same number of sequences\n");
    ryx_exit(1);
  }
  for (int64_t i = 0; i < db1->sequence_count; i++) {
    seq_record_t *r1 = db1->get(db1, i);
    seq_record_t *q1 = cb.pair_raw != nullptr ? fetch_qualities(db1, i) : nullptr;
    seq_record_t *r2 = db2->get(db2, i);
    seq_record_t *q2 = cb.pair_raw != nullptr ? fetch_qualities(db2, i) : nullptr;
    if (cb.pair_raw != nullptr) cb.pair_raw(r1, q1, r2, q2, user);
    else cb.pair(r1, r2, user);
    seq_record_release(r1);
    seq_record_release(q1);
    seq_record_release(r2);
    seq_record_release(q2);
  }
  close_fallback(db1, path1, report);
  close_fallback(db2, path2, report);
}

}  // namespace

void seq_for_each(const char *path, uint32_t residue_type, uint32_t mask, int report, seq_single_fn callback,
                  void *user) {
  callbacks_t cb;
  cb.single = callback;
  run_one(path, residue_type, mask, report, cb, user);
}

void seq_for_each_with_raw(const char *path, uint32_t residue_type, uint32_t mask, int report,
                           seq_single_raw_fn callback, void *user) {
  callbacks_t cb;
  cb.single_raw = callback;
  run_one(path, residue_type, mask, report, cb, user);
}

void seq_for_each_pair(const char *path, uint32_t residue_type, uint32_t mask, int report, seq_pair_fn callback,
                       void *user) {
  callbacks_t cb;
  cb.pair = callback;
  run_one(path, residue_type, mask, report, cb, user);
}

void seq_for_each_pair_with_raw(const char *path, uint32_t residue_type, uint32_t mask, int report,
                                seq_pair_raw_fn callback, void *user) {
  callbacks_t cb;
  cb.pair_raw = callback;
  run_one(path, residue_type, mask, report, cb, user);
}

void seq_for_each_interleaved(const char *path1, const char *path2, uint32_t residue_type, uint32_t mask,
                              int report, seq_pair_fn callback, void *user) {
  callbacks_t cb;
  cb.pair = callback;
  run_two(path1, path2, residue_type, mask, report, cb, user);
}

void seq_for_each_interleaved_with_raw(const char *path1, const char *path2, uint32_t residue_type, uint32_t mask,
                                       int report, seq_pair_raw_fn callback, void *user) {
  callbacks_t cb;
  cb.pair_raw = callback;
  run_two(path1, path2, residue_type, mask, report, cb, user);
}
