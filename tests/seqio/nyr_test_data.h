// Handles and helpers shared by the nyr tests: the data of the golden
// fixtures under tests/data/seqio, built through the public constructors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/input_stream.h"
#include "common/linked_list.h"
#include "common/memory.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace nyr_test {

inline char *owned(const char *text) {
  if (text == nullptr) return nullptr;
  char *copy = static_cast<char *>(ryx_malloc(strlen(text) + 1));
  strcpy(copy, text);
  return copy;
}

inline uint8_t *owned_code(const std::vector<uint8_t> &code) {
  uint8_t *bytes = static_cast<uint8_t *>(ryx_malloc(code.empty() ? 1 : code.size()));
  if (!code.empty()) memcpy(bytes, code.data(), code.size());
  return bytes;
}

// The data of one_contig_two_reads_v*.nyr.hex: contig of 100, read 0
// unmatched, read 1 one hit at 10 with 10 match columns.
inline nyr_file_t *one_contig_two_reads() {
  const uint32_t lengths[] = {100};
  nyr_file_t *file = nyr_file_new(1, lengths, 2);
  file->program_name = owned("rx");
  file->program_version = owned("1.0");
  file->reference_files = seq_file_info_list_new_single(seq_file_info_new(owned("ref.fa"), 1, 100));
  file->read_files = seq_file_info_list_new_single(seq_file_info_new(owned("reads.fq"), 2, 20));
  file->scheme = nyr_scoring_scheme_new(5, 2, 5, 2, 1, -3, -3, -3, 0);
  nyr_file_set_match(file, 1, nyr_match_new(nullptr, 0, 10, 0, 0, 1, owned_code({9})));
  return file;
}

// The fields of two_contigs_multi_hit_wrap_v3.nyr.hex (no records stored).
inline nyr_file_t *two_contigs_fields() {
  const uint32_t lengths[] = {1000, 300};
  nyr_file_t *file = nyr_file_new(2, lengths, 2);
  nyr_contig_set_circular(file->contigs[0]);
  file->reference_files = seq_file_info_list_new_single(seq_file_info_new(owned("ref.fa"), 2, 1300));
  seq_file_info_t *pair = seq_file_info_new_pair(owned("r_1.fq"), owned("r_2.fq"), 4, 40);
  seq_file_info_set_paired(pair);
  file->read_files = seq_file_info_list_new_single(pair);
  return file;
}

// The three hits of read 0 of two_contigs_multi_hit_wrap_v3 as one heap
// block: match count 5, the first reverse at 1500 (beyond the circular
// contig of 1000), the second with quality 30, the third with both
// alignment bits.
inline nyr_match_t *multi_hit_block() {
  nyr_match_t *block = nyr_match_alloc_array(nullptr, 3);
  block[0] = {0, 1500, 0x21 | kNyrMatchMore, kNyrNoQuality, 3, 1, owned_code({9})};
  block[1] = {1, 20, 0x20 | kNyrMatchMore, 30, 3, 1, owned_code({9})};
  block[2] = {0, 7, 0x20 | kNyrMatchBitA | kNyrMatchBitB, kNyrNoQuality, 3, 1, owned_code({9})};
  return block;
}

inline std::vector<uint8_t> code_of(const nyr_match_t *record) {
  return std::vector<uint8_t>(record->code, record->code + record->code_length);
}

// Bytes written to a stdio file by fn(FILE*).
template <class Fn>
std::string written_bytes(Fn fn) {
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("out.bin");
  FILE *out = fopen(path.c_str(), "wb+");
  fn(out);
  fclose(out);
  return ryx_test::read_file(path);
}

// Writes bytes to a scratch file and opens a stream on it; the stream and
// the file go away with the object.
class StreamOver {
 public:
  explicit StreamOver(const std::string &bytes) : path_(dir_.file("in.bin")) {
    ryx_test::write_file(path_, bytes);
    stream_ = input_stream_open(path_.c_str(), "rb");
  }
  ~StreamOver() { input_stream_close(stream_); }
  StreamOver(const StreamOver &) = delete;
  StreamOver &operator=(const StreamOver &) = delete;
  input_stream_t *get() { return stream_; }
  const std::string &path() const { return path_; }

 private:
  ryx_test::ScratchDir dir_;
  std::string path_;
  input_stream_t *stream_;
};

}  // namespace nyr_test
