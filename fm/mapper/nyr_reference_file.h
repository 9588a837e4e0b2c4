// One reference file as the result file lists it: its name and, in order,
// the length and circular flag of each of its sequences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fm/runtime/reader_writer.h"

class NYRReferenceFile {
 public:
  struct Sequence {
    uint32_t length;
    bool circular;
  };

  // An entry without sequences.
  explicit NYRReferenceFile(std::string name);

  // Appends a sequence: the count grows by one, the total by its length and
  // the longest length becomes the larger of the two.
  void add(uint32_t length, bool circular);

  std::string const &name() const { return name_; }
  uint64_t sequence_count() const { return sequence_count_; }
  uint64_t total_length() const { return total_length_; }
  uint32_t sequence_longest() const { return longest_; }
  // Sequence index (below sequence_count()).
  Sequence const &get_sequence(uint64_t index) const { return sequences_[index]; }

  // Writes the list entry: flags 0, 64-bit sequence count, 64-bit total
  // length, the name as a string. The sequences themselves go into the
  // contig table, which the writer writes. A short write ends the process.
  void serialize(Writer *writer) const;

 private:
  std::string name_;
  std::vector<Sequence> sequences_;
  uint64_t sequence_count_ = 0;
  uint64_t total_length_ = 0;
  uint32_t longest_ = 0;
};
