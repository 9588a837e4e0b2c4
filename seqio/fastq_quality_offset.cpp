#include "seqio/fastq_quality_offset.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

namespace {

int32_t fastq_offset = -1;
int32_t csfastq_offset = 64;
int32_t scarf_offset = 64;
int32_t output_offset = 64;

// Records scanned at most.
constexpr int32_t kScanRecords = 300;

// Offsets a file may use, in order of preference, with the highest quality
// code each allows.
struct candidate_t {
  int32_t offset;
  int32_t highest;
};
constexpr candidate_t kCandidates[] = {{33, 73}, {35, 74}, {59, 104}, {64, 104}, {66, 104}};
constexpr int kCandidateCount = sizeof kCandidates / sizeof kCandidates[0];

// Narrows the valid candidates: first those whose highest code lies far
// above the lowest highest code, then those whose offset lies far below the
// largest offset; "far" is the tolerance or more.
void narrow(bool valid[], int32_t tolerance) {
  int count = 0;
  for (int i = 0; i < kCandidateCount; i++) count += valid[i];
  if (count > 1) {
    int32_t lowest_highest = INT32_MAX;
    for (int i = 0; i < kCandidateCount; i++)
      if (valid[i] && kCandidates[i].highest < lowest_highest) lowest_highest = kCandidates[i].highest;
    for (int i = 0; i < kCandidateCount; i++)
      if (valid[i] && kCandidates[i].highest - lowest_highest >= tolerance) valid[i] = false;
  }
  count = 0;
  for (int i = 0; i < kCandidateCount; i++) count += valid[i];
  if (count > 1) {
    int32_t largest = -1;
    for (int i = 0; i < kCandidateCount; i++)
      if (valid[i] && kCandidates[i].offset > largest) largest = kCandidates[i].offset;
    for (int i = 0; i < kCandidateCount; i++)
      if (valid[i] && largest - kCandidates[i].offset >= tolerance) valid[i] = false;
  }
}

int32_t choose(int64_t lowest, int64_t highest) {
  bool valid[kCandidateCount];
  for (int i = 0; i < kCandidateCount; i++)
    valid[i] = lowest >= kCandidates[i].offset && highest <= kCandidates[i].highest;
  narrow(valid, 3);
  narrow(valid, 1);
  int32_t choice = -1;
  for (int i = 0; i < kCandidateCount && choice < 0; i++)
    if (valid[i]) choice = kCandidates[i].offset;
  if (choice < 0) {
    if (lowest < 33) {
      choice = 64;
    } else {
      for (const candidate_t &c : kCandidates)
        if (c.offset <= lowest) choice = c.offset;
    }
  }
  return choice == 33 || choice == 35 ? 33 : 64;
}

}  // namespace

void seq_quality_set_offset(int32_t offset) {
  fastq_offset = offset;
  csfastq_offset = offset;
  scarf_offset = offset;
  output_offset = offset;
}

int32_t fastq_get_quality_offset() { return fastq_offset; }
void fastq_set_quality_offset(int32_t offset) { fastq_offset = offset; }
int32_t fastq_reader_quality_offset() { return fastq_offset < 0 ? 64 : fastq_offset; }
int32_t csfastq_get_quality_offset() { return csfastq_offset; }
void csfastq_set_quality_offset(int32_t offset) { csfastq_offset = offset; }
int32_t scarf_get_quality_offset() { return scarf_offset; }
void scarf_set_quality_offset(int32_t offset) { scarf_offset = offset; }
int32_t fastq_get_output_quality_offset() { return output_offset; }
void fastq_set_output_quality_offset(int32_t offset) { output_offset = offset; }

int32_t seq_quality_detect_offset(const char *path, seq_read_qualities_fn read_qualities) {
  if (fastq_offset != -1) return fastq_offset;
  // Raw codes while scanning.
  seq_quality_set_offset(0);
  input_stream_t *stream = input_stream_open(path, "rb");
  if (stream == nullptr) {
    fprintf(stderr, "Problem opening sequence file %s\n", path);
    ryx_exit(1);
  }
  int64_t lowest = 1 << 30;
  int64_t highest = 0;
  for (int32_t n = 0; n < kScanRecords; n++) {
    seq_record_t *record = seq_record_new_empty();
    read_qualities(nullptr, stream, record);
    const uint32_t length = record->length;
    for (uint32_t i = 0; i < length; i++) {
      int64_t code = record->residues[i];
      if (code < lowest) lowest = code;
      if (code > highest) highest = code;
    }
    seq_record_free(record);
    if (length == 0) break;
  }
  input_stream_close(stream);
  int32_t offset = choose(lowest, highest);
  seq_quality_set_offset(offset);
  return offset;
}
