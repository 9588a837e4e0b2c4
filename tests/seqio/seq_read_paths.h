// Reading a sequence file every way the subsystem offers, into plain
// records that tests can compare: the database in order and in a shuffled
// order, seq_for_each (single or paired) and the pull reader. Also the
// process-wide settings guards the tests use.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/cpus.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/seq_db.h"
#include "seqio/seq_for_each.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace seqio_test {

struct Rec {
  std::string name;
  std::string residues;
  bool has_quality = false;
  std::string quality;  // the quality record's values

  bool operator==(const Rec &o) const {
    return name == o.name && residues == o.residues && has_quality == o.has_quality && quality == o.quality;
  }
};

inline std::ostream &operator<<(std::ostream &out, const Rec &r) {
  out << "{" << r.name << " | " << r.residues.size() << " residues";
  if (r.has_quality) out << " | " << r.quality.size() << " qualities";
  return out << "}";
}

inline std::string bytes_of(const seq_record_t *r) {
  return std::string(reinterpret_cast<const char *>(r->residues), r->length);
}

inline Rec to_rec(const seq_record_t *record, const seq_record_t *quality) {
  Rec r;
  r.name = record->name != nullptr ? record->name : "";
  r.residues = bytes_of(record);
  if (quality != nullptr) {
    r.has_quality = true;
    r.quality = bytes_of(quality);
  }
  return r;
}

// Every record of a database in the given order, stored at its index.
inline std::vector<Rec> read_db(const std::string &path, uint32_t type, uint32_t mask, bool qualities,
                                bool shuffled) {
  seq_db_t *db = seq_db_open(path.c_str(), type, mask, 1, 0);
  EXPECT_NE(db, nullptr);
  if (db == nullptr) return {};
  std::vector<int64_t> order(static_cast<size_t>(db->sequence_count));
  std::iota(order.begin(), order.end(), 0);
  if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(12345));
  std::vector<Rec> out(order.size());
  for (int64_t i : order) {
    seq_record_t *record = db->get(db, i);
    seq_record_t *quality = qualities && db->get_qualities != nullptr ? db->get_qualities(db, i) : nullptr;
    out[static_cast<size_t>(i)] = to_rec(record, quality);
    EXPECT_EQ(db->get_length(db, i), record->length);
    seq_record_release(record);
    seq_record_release(quality);
  }
  seq_db_free(db);
  return out;
}

inline void collect_single(seq_record_t *record, seq_record_t *quality, void *user) {
  static_cast<std::vector<Rec> *>(user)->push_back(to_rec(record, quality));
}

inline void collect_single_plain(seq_record_t *record, void *user) {
  static_cast<std::vector<Rec> *>(user)->push_back(to_rec(record, nullptr));
}

inline std::vector<Rec> read_for_each(const std::string &path, uint32_t type, uint32_t mask, bool qualities) {
  std::vector<Rec> out;
  if (qualities) seq_for_each_with_raw(path.c_str(), type, mask, 0, collect_single, &out);
  else seq_for_each(path.c_str(), type, mask, 0, collect_single_plain, &out);
  return out;
}

inline void collect_pair(seq_record_t *r1, seq_record_t *q1, seq_record_t *r2, seq_record_t *q2, void *user) {
  auto *out = static_cast<std::vector<Rec> *>(user);
  out->push_back(to_rec(r1, q1));
  out->push_back(to_rec(r2, q2));
}

inline void collect_pair_plain(seq_record_t *r1, seq_record_t *r2, void *user) {
  auto *out = static_cast<std::vector<Rec> *>(user);
  out->push_back(to_rec(r1, nullptr));
  out->push_back(to_rec(r2, nullptr));
}

inline std::vector<Rec> read_pairs(const std::string &path, uint32_t type, uint32_t mask, bool qualities) {
  std::vector<Rec> out;
  if (qualities) seq_for_each_pair_with_raw(path.c_str(), type, mask, 0, collect_pair, &out);
  else seq_for_each_pair(path.c_str(), type, mask, 0, collect_pair_plain, &out);
  return out;
}

inline std::vector<Rec> read_pull(const std::string &path, uint32_t type, uint32_t mask, bool qualities) {
  std::vector<Rec> out;
  seq_reader_t *reader = seq_reader_open(path.c_str(), 0, type, mask, 0, qualities ? 1 : 0, 0);
  for (;;) {
    seq_record_t *quality = nullptr;
    seq_record_t *record = qualities ? seq_reader_next_with_raw(reader, &quality) : seq_reader_next(reader);
    if (record == nullptr) break;
    out.push_back(to_rec(record, quality));
    seq_record_release(record);
    seq_record_release(quality);
  }
  seq_reader_free(reader);
  return out;
}

// Reads a file on all four paths (database in order and shuffled,
// seq_for_each, pull reader) and expects the same records from each.
// Formats that are never streamed have no pull reader: with_pull false.
inline void expect_four_paths(const std::string &path, uint32_t type, uint32_t mask, bool qualities,
                              const std::vector<Rec> &expected, bool with_pull = true) {
  EXPECT_EQ(read_db(path, type, mask, qualities, false), expected) << "database in order";
  EXPECT_EQ(read_db(path, type, mask, qualities, true), expected) << "database shuffled";
  EXPECT_EQ(read_for_each(path, type, mask, qualities), expected) << "seq_for_each";
  if (with_pull) {
    EXPECT_EQ(read_pull(path, type, mask, qualities), expected) << "pull reader";
  }
}

// Writes bytes to path, gzip-compressed when gz is true.
inline void write_maybe_gzip(const std::string &path, const std::string &bytes, bool gz) {
  if (gz) ryx_test::write_gzip_file(path, bytes);
  else ryx_test::write_file(path, bytes);
}

// Sets the worker count for the life of the object.
class CpusGuard {
 public:
  explicit CpusGuard(int n) { set_number_of_cpus(n); }
  ~CpusGuard() { set_number_of_cpus(0); }
  CpusGuard(const CpusGuard &) = delete;
  CpusGuard &operator=(const CpusGuard &) = delete;
};

// Fixes the four quality offsets and puts back the initial ones afterwards.
class QualityOffsetGuard {
 public:
  explicit QualityOffsetGuard(int32_t offset) { seq_quality_set_offset(offset); }
  ~QualityOffsetGuard() {
    fastq_set_quality_offset(-1);
    csfastq_set_quality_offset(64);
    scarf_set_quality_offset(64);
    fastq_set_output_quality_offset(64);
  }
  QualityOffsetGuard(const QualityOffsetGuard &) = delete;
  QualityOffsetGuard &operator=(const QualityOffsetGuard &) = delete;
};

}  // namespace seqio_test
