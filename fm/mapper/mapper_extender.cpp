#include "fm/mapper/mapper_extender.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

MapperExtender::MapperExtender(const MapperParameters *parameters) : parameters_(parameters), filter_(parameters) {}

void MapperExtender::start_read(MapperRead *read, MapperResult *result) {
  read_ = read;
  result_ = result;
  read_length_ = read->length;
  buffers_.reserve(read_length_);
  result->best_score = extender_floor_score(parameters_, read_length_);
}

void MapperExtender::start_seed(const MapperSearch &seed, MapperExtensionSide *left, MapperExtensionSide *right) {
  seed_ = seed;
  left_part_ = seed.offset;
  right_part_ = read_length_ - seed.offset - seed.length;
  codes_ = read_->codes(seed.strand);
  // Bit 0 of the mode is the read's right end, bit 1 its left end; on the
  // reverse complement they change places.
  const uint32_t mode = parameters_->align_mode;
  right->global = ((seed.strand == 0 ? mode : mode >> 1) & 1) != 0;
  left->global = ((seed.strand == 0 ? mode >> 1 : mode) & 1) != 0;
}

int32_t MapperExtender::file_whole_read_seed(const MapperSearch &seed) {
  const int32_t score = clamp_score(static_cast<int64_t>(read_length_) * parameters_->match_score);
  raise_best_score(score);
  forward_.clear();
  forward_.add_matches(read_length_);
  result_->add_alignment(read_, seed, std::move(forward_), 0);
  return score;
}

void MapperExtender::prepare_walks(MapperExtensionSide *left, MapperExtensionSide *right) {
  buffers_.reverse_read(codes_, read_length_);
  memcpy(buffers_.reference() + buffers_.middle(), codes_ + left_part_, seed_.length);
  left->part_length = left_part_;
  right->part_length = right_part_;
  left->search = seed_;
}

int64_t MapperExtender::global_end_cost(uint32_t part) const {
  const int64_t n = part;
  return std::min<int64_t>(n * parameters_->gap_cost + parameters_->gap_open, n * parameters_->mismatch_cost);
}
