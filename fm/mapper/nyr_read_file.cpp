#include "fm/mapper/nyr_read_file.h"

#include <utility>

#include "fm/mapper/nyr_fixed_width.h"
#include "fm/runtime/encoding.h"

namespace {
constexpr uint8_t kTwoFiles = 0x01;
constexpr uint8_t kPaired = 0x02;
}  // namespace

NYRReadFile::NYRReadFile(std::string name, bool paired) : NYRReadFile(std::move(name), nullptr, paired) {}

NYRReadFile::NYRReadFile(std::string name, char const *second_name, bool paired)
    : paired_(paired),
      name_(std::move(name)),
      second_name_(second_name != nullptr ? second_name : ""),
      two_files_(second_name != nullptr) {}

void NYRReadFile::add(uint64_t length) {
  read_count_++;
  total_symbols_ += length;
}

void NYRReadFile::serialize(Writer *writer) const {
  uint8_t flags = 0;
  if (two_files_) flags |= kTwoFiles;
  if (paired_) flags |= kPaired;
  nyr_write_u8(writer, flags);
  nyr_write_u64(writer, read_count_);
  nyr_write_u64(writer, total_symbols_);
  file_write_string(writer, name_);
  if (two_files_) file_write_string(writer, second_name_);
}
