// One read file (or two-file pair) as the result file lists it: names,
// pairing, and the number of reads and symbols taken from it.
#pragma once

#include <cstdint>
#include <string>

#include "fm/runtime/reader_writer.h"

class NYRReadFile {
 public:
  // A single file, its reads paired (interleaved) or not.
  NYRReadFile(std::string name, bool paired);
  // With a second name, the mate file of a two-file pair; null for a
  // single file.
  NYRReadFile(std::string name, char const *second_name, bool paired);

  // Counts one read of length symbols.
  void add(uint64_t length);

  bool paired() const { return paired_; }
  bool two_files() const { return two_files_; }
  std::string const &name() const { return name_; }
  std::string const &second_name() const { return second_name_; }
  uint64_t read_count() const { return read_count_; }
  uint64_t total_symbols() const { return total_symbols_; }

  // Writes the list entry: flags (bit 0 two files, bit 1 paired), 64-bit
  // read count, 64-bit total symbols, the name and, for two files, the
  // second name. A short write ends the process.
  void serialize(Writer *writer) const;

 private:
  bool paired_;
  std::string name_;
  std::string second_name_;
  bool two_files_;
  uint64_t read_count_ = 0;
  uint64_t total_symbols_ = 0;
};
