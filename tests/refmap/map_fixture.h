// Shared pieces of the mapping-context, batch, pipeline and record tests:
// an in-memory read set, a context over it, a temporary directory of the
// test's own, and hits made from a few numbers.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "refmap/alignment_info.h"
#include "refmap/map_context.h"
#include "refmap/read_batch.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace ryx_test {

// Reads of the given lengths in a record-array database; read i has base j
// = (i + j) mod 4, so a read's codes tell its index.
class ReadSet {
 public:
  explicit ReadSet(const std::vector<int32_t> &lengths) {
    auto **records = static_cast<seq_record_t **>(malloc(sizeof(seq_record_t *) * (lengths.empty() ? 1 : lengths.size())));
    for (size_t i = 0; i < lengths.size(); i++) {
      records[i] = seq_record_new(static_cast<uint32_t>(lengths[i]));
      for (int32_t j = 0; j < lengths[i]; j++) records[i]->residues[j] = static_cast<uint8_t>((i + j) % 4);
    }
    db_ = seq_db_new_from_records(records, static_cast<int64_t>(lengths.size()));
  }
  ~ReadSet() { seq_db_free_records(db_); }
  ReadSet(const ReadSet &) = delete;
  ReadSet &operator=(const ReadSet &) = delete;
  seq_db_t *db() const { return db_; }

 private:
  seq_db_t *db_;
};

// Everything map_context_new needs besides the reads.
struct ContextShape {
  std::vector<int32_t> file_counts{};              // reads per file
  std::vector<paired_setting_t *> settings{};      // per file (empty: all unpaired)
  int32_t class_lower = 15, class_upper = 56;
  int32_t report_limit = 1;
  int32_t reference_count = 4;
  int32_t longest_reference = 1000;
  int32_t prescore = 0;
  int32_t batch_size = kMapBatchSize;
};

inline map_context_t *make_context(seq_db_t *reads, const ContextShape &shape) {
  int32_t total = 0;
  for (int32_t n : shape.file_counts) total += n;
  return map_context_new(reads, 0, total, shape.batch_size, shape.reference_count, shape.longest_reference,
                         shape.prescore, shape.report_limit, kMapShortestLength, kMapLengthBound, shape.class_lower,
                         shape.class_upper, static_cast<int32_t>(shape.file_counts.size()), shape.file_counts.data(),
                         shape.settings.empty() ? nullptr : shape.settings.data());
}

// A fresh directory set as TMPDIR while the object lives.
class TempDirScope {
 public:
  TempDirScope() {
    const char *old = getenv("TMPDIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TMPDIR", dir_.path().c_str(), 1);
  }
  ~TempDirScope() {
    if (had_old_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  const std::string &path() const { return dir_.path(); }
  // Names in the directory other than "." and "..".
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const std::string &name : dir_names(dir_.path()))
      if (name != "." && name != "..") out.push_back(name);
    return out;
  }

 private:
  ScratchDir dir_;
  std::string old_;
  bool had_old_ = false;
};

// Open file descriptors of the process.
inline int open_descriptor_count() {
  int n = 0;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) n++;
    closedir(dir);
  }
  return n;
}

// A hit whose code is the given bytes (kept by the caller).
inline alignment_hit_t make_hit(int32_t sequence, int32_t offset, uint8_t flags, std::vector<uint8_t> &code) {
  alignment_hit_t hit{};
  hit.sequence = sequence;
  hit.offset = offset;
  hit.flags = flags;
  hit.code = code.data();
  hit.code_length = static_cast<int32_t>(code.size());
  hit.code_capacity = hit.code_length;
  return hit;
}

}  // namespace ryx_test
