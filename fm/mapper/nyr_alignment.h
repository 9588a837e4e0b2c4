// One hit of a read in the result file: where it lies, its orientation and
// marks, its mapping quality and its alignment code.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/runtime/reader_writer.h"

class NYRAlignment {
 public:
  // Bits of flags.
  static constexpr uint8_t kReverse = 0x01;
  static constexpr uint8_t kSecondSet = 0x02;  // found in the second (G->A) index set
  static constexpr uint8_t kGaMark = 0x04;     // the read was converted G->A
  static constexpr uint8_t kShifted = 0x08;    // lies one sequence length beyond position
  static constexpr uint8_t kNoQuality = 255;

  NYRAlignment(uint32_t reference_sequence, uint32_t position, uint8_t flags, uint8_t mapping_quality,
               std::vector<uint8_t> transcript);

  // Writes the hit with sequence_count reference sequences of which the
  // longest has length longest; sequence_length is the length of this
  // hit's own sequence. The true position (position, plus the sequence
  // length when shifted) is stored reduced modulo the sequence length when
  // it reaches it, with the wrap bit and the count of extra lengths - 1, so
  // no position is ever cut to the width of the position field.
  // A reference sequence that is not below sequence_count cannot be stored:
  // "Hit on reference sequence %u of only %u\n", status 1. A short write
  // ends the process (write_error).
  void serialize(Writer *writer, uint32_t sequence_count, uint32_t longest, uint32_t sequence_length) const;

  uint32_t reference_sequence;  // global id over all reference files
  uint32_t position;
  uint8_t flags;
  uint8_t mapping_quality;          // kNoQuality: none
  std::vector<uint8_t> transcript;  // alignment code bytes
};
