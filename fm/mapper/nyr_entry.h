// The record of one read in the result file: its stored hits, how many
// hits it had in all, and whether it was placed as part of a pair.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/mapper/nyr_alignment.h"
#include "fm/runtime/reader_writer.h"

class NYREntry {
 public:
  // An entry without hits; bisulphite marks the records of a bisulphite run.
  explicit NYREntry(bool bisulphite);

  // Appends a hit; the transcript is taken over. mapping_quality 255 means
  // none.
  void add_alignment(uint32_t reference_sequence, uint32_t position, bool shifted, bool reverse,
                     std::vector<uint8_t> transcript, bool second_set, bool ga_mark, uint8_t mapping_quality);
  void set_paired(bool paired);
  // Adds n to the hit total (saturating at 2^32 - 1).
  void add_hits(uint32_t n);

  std::vector<NYRAlignment> const &alignments() const { return alignments_; }
  uint32_t hit_total() const { return hit_total_; }
  bool paired() const { return paired_; }
  bool bisulphite() const { return bisulphite_; }

  // Writes the record with sequence_count reference sequences, the longest
  // of length longest; sequence_lengths holds the sequence_count lengths by
  // global id. Without hits the record is the single byte 8 when paired, else
  // 0. Otherwise the flag byte (matched, 0x20 in a bisulphite run, 8 when
  // paired), the counts and every hit. A hit total below the number of
  // stored hits is raised to it, so the counts always describe the hits
  // that follow. Failures as NYRAlignment::serialize.
  void serialize(Writer *writer, uint32_t sequence_count, uint32_t longest,
                 uint32_t const *sequence_lengths) const;

 private:
  std::vector<NYRAlignment> alignments_;
  uint32_t hit_total_ = 0;
  bool paired_ = false;
  bool bisulphite_;
};
