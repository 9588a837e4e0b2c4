#include "fm/mapper/mapper_extender.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

void ExtensionBuffers::reserve(uint32_t read_length) {
  // A band has at most twice its rows in columns. A drop-off walk pays
  // for each deletion with matches, so with a deletion costing at least a
  // match it stays within twice the read plus the drop-off; with other
  // costs it stops at the limit.
  const uint64_t limit = 2 * static_cast<uint64_t>(read_length) + 128;
  if (limit <= limit_) return;
  limit_ = static_cast<uint32_t>(limit);
  reference_.resize(2 * limit + 1);
  reversed_.resize(read_length + 1);
}

void ExtensionBuffers::reverse_read(const uint8_t *codes, uint32_t read_length) {
  if (reversed_.size() < read_length + 1) reversed_.resize(read_length + 1);
  for (uint32_t j = 0; j < read_length; j++) reversed_[j] = codes[read_length - 1 - j];
  reversed_[read_length] = 255;
}

int32_t extender_floor_score(const MapperParameters *parameters, uint32_t read_length) {
  const int64_t rest = read_length > 0 ? read_length - 1 : 0;
  const int64_t insertions = rest * parameters->gap_cost + 2 * static_cast<int64_t>(parameters->gap_open);
  const int64_t mismatches = rest * parameters->mismatch_cost;
  const int64_t floor = static_cast<int64_t>(parameters->match_score) - std::min(insertions, mismatches);
  return static_cast<int32_t>(std::max<int64_t>(floor, INT_MIN / 2));
}

bool is_duplicate_alignment(const MapperResult *result, const MapperSearch &search) {
  for (const MapperAlignment &a : result->strand[search.strand].alignments) {
    if (a.search.index == search.index && a.search.search.locationally_equal(&search.search)) return true;
  }
  return false;
}
