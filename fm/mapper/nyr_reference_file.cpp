#include "fm/mapper/nyr_reference_file.h"

#include <utility>

#include "fm/mapper/nyr_fixed_width.h"
#include "fm/runtime/encoding.h"

NYRReferenceFile::NYRReferenceFile(std::string name) : name_(std::move(name)) {}

void NYRReferenceFile::add(uint32_t length, bool circular) {
  sequences_.push_back({length, circular});
  sequence_count_++;
  total_length_ += length;
  if (length > longest_) longest_ = length;
}

void NYRReferenceFile::serialize(Writer *writer) const {
  nyr_write_u8(writer, 0);  // reference files are never pairs
  nyr_write_u64(writer, sequence_count_);
  nyr_write_u64(writer, total_length_);
  file_write_string(writer, name_);
}
