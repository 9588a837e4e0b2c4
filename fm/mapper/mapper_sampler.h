// The choice of the hits reported for a read.
//
// One alignment stands for every reference place where its aligned text
// occurs, and a read may have several alignments; the output reports at
// most the maximum number of hits per read. The sampler picks which,
// uniformly at random from the Mapper's generator right after the read was
// mapped (so the picks depend only on the read, its index and the
// parameters), and turns each pick into a concrete reference sequence and
// position with the alignment's transcript and flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/random_state.h"
#include "fm/mapper/mapper_paired_result.h"
#include "fm/mapper/mapper_result.h"

// One reported hit.
struct MapperSampleEntry {
  bool shifted = false;             // a circular occurrence's copy one sequence length on (pairs only)
  bool reverse = false;             // on the reverse complement of the read
  uint64_t tag = 0;                 // the alignment's tag
  std::vector<uint8_t> transcript;  // the alignment code
  uint32_t reference_sequence = 0;  // global sequence id
  // Offset of the alignment's first reference symbol in that sequence,
  // always below the sequence length: on a circular sequence an alignment
  // that starts past the end of its occurrence's first lap is given
  // modulo the length.
  uint32_t position = 0;
  bool second_set = false;  // found in the G-to-A set of a bisulphite run
  bool ga_mark = false;     // the read was converted G to A
};

// The hits of one mate. Entries are never freed: shrinking keeps them, with
// their transcript buffers, for later reads.
class MapperSampleEntries {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  MapperSampleEntry &operator[](size_t i) { return entries_[i]; }
  const MapperSampleEntry &operator[](size_t i) const { return entries_[i]; }
  const MapperSampleEntry *begin() const { return entries_.data(); }
  const MapperSampleEntry *end() const { return entries_.data() + count_; }
  // k entries, holding whatever earlier ones left: the caller sets them.
  void resize(size_t k) {
    if (entries_.size() < k) entries_.resize(k);
    count_ = k;
  }
  void clear() { count_ = 0; }

 private:
  std::vector<MapperSampleEntry> entries_;
  size_t count_ = 0;
};

// The hits to write for one read or read pair.
struct MapperSample {
  bool two_reads = false;
  bool paired = false;  // the entries of both mates describe pairs
  MapperSampleEntries entries[2];
  uint32_t hit_total[2] = {0, 0};
  uint8_t mapping_quality[2] = {255, 255};  // 255: none

  // Empties the hits of mate (0 or 1): no entries, hit total 0, no
  // mapping quality.
  void clear_mate(int mate) {
    entries[mate].clear();
    hit_total[mate] = 0;
    mapping_quality[mate] = 255;
  }
};

class MapperSampler {
 public:
  // Draws from random (the worker's Mapper's generator); reports at most
  // capacity hits per read.
  MapperSampler(RandomState *random, uint32_t capacity);

  // Reports result as mate (0 or 1) of sample: hit total (saturated at
  // 2^32 - 1), mapping quality and min(capacity, hits) sampled hits.
  void run(const MapperResult *result, MapperSample *sample, int mate);

  // Reports a read pair. Without accepted pairs each mate on its own, as
  // run() does. With pairs, the pairing's sample as it stands (already
  // uniform and in random order, so nothing is drawn): entry i of both
  // mates is pair i, both hit totals are the pairs found, and the paired
  // flag is set. The two hits of a pair are placed on one lap of a
  // circular sequence: both are moved back by the same whole number of
  // sequence lengths until the leftmost starts below the length, and a
  // hit that then starts one length or more on keeps a position below the
  // length and carries the shifted flag (it lies one length further on).
  void paired_run(const MapperPairedResult *result, MapperSample *sample);

  // Picks min(capacity, hits) distinct hit numbers below hits, each set of
  // them equally likely and in random order, into picks(); returns their
  // number. One pick is one ranged draw; more are reservoir sampling over
  // all hits followed by a shuffle.
  uint32_t pick_random_sample(uint64_t hits);
  const std::vector<uint64_t> &picks() const { return picks_; }

  // Fills entry with occurrence number occurrence of alignment: the
  // occurrence's sequence and offset plus the alignment's start within
  // the aligned text, its transcript and flags.
  static void fill_entry(const MapperAlignment &alignment, uint32_t occurrence, bool shifted, MapperSampleEntry *entry);

 private:
  RandomState *random_;
  uint32_t capacity_;
  std::vector<uint64_t> picks_;
};
