// The pair matcher: finds the occurrences of two mates' alignments that lie
// in the expected relative orientation and distance.
//
// Every occurrence of an alignment gets a 64-bit key: its biased position
// (the reference place the distance is measured from, plus 1000000 so that
// a read hanging over a sequence start stays positive in unsigned 32-bit
// arithmetic) in the upper half and its occurrence number in the lower
// half. The keys of the two sides are sorted and swept once: for every key
// of the left side, the right side's keys within [minimum, maximum]
// distance are the candidate partners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fm/index/bidirectional_search.h"
#include "fm/mapper/mapper_paired_result.h"
#include "fm/mapper/mapper_result.h"

class MapperIndex;

// Bias added to every pair position.
constexpr uint32_t kPairPositionBias = 1000000;

// How the mates of a read file lie, as the read file's settings give it.
struct MapperPairedParameters {
  // 0 "ff", 1 "fb", 2 "bf", 3 "bb": bit 1 the strand of mate 1, bit 0 that
  // of mate 2 (0 the read, 1 its reverse complement), for a pair whose
  // mate 1 lies left of mate 2 on the reference.
  uint32_t mode = 1;
  // 0 "ss", 1 "se", 2 "es", 3 "ee": bit 1 set when the distance is measured
  // from the end of mate 1 (else its start), bit 0 the same for mate 2;
  // start and end are the read's own first and last symbol.
  uint32_t distance_mode = 0;
  uint32_t min_distance = 0;  // 0 to 100000
  uint32_t max_distance = 0;  // min_distance to 100000
};

// One occurrence of an alignment in a track.
struct MapperPairerIndexedPosition {
  uint64_t key;  // biased position << 32 | occurrence number (bit 31: shifted copy)

  uint32_t position() const { return static_cast<uint32_t>(key >> 32); }
  uint32_t occurrence() const { return static_cast<uint32_t>(key); }
};

// The occurrences of one alignment: their places and their sorted keys.
struct MapperPairerTrack {
  std::vector<_sequence_position> positions;  // by occurrence number
  std::vector<MapperPairerIndexedPosition> keys;
};

class MapperPairer {
 public:
  // Points the pairer at the pairing to fill and takes the strands, end
  // flags and distances of parameters.
  void setup(MapperPairing *pairing, const MapperPairedParameters &parameters);
  // Points the pairer at another pairing, keeping the settings.
  void set_pairing(MapperPairing *pairing) { pairing_ = pairing; }

  // Adds every acceptable pair of an alignment of mate1 and one of mate2
  // in the same reference set to the pairing: first with mate 1 on the
  // left, then the same fragment seen from the other strand, mate 2 on
  // the left (swapped).
  void compare_results(const MapperResult *mate1, const MapperResult *mate2);
  // Adds the acceptable pairs of occurrences of first (left) and second
  // (right), both in index: the second within [minimum, maximum] of the
  // first by biased position, on the same sequence, spanning no more than
  // that sequence's length. Only the second side gets shifted copies of
  // circular occurrences.
  void compare_two_alignments(const MapperIndex *index, const MapperAlignment *first, const MapperAlignment *second,
                              bool first_by_end, bool second_by_end, unsigned first_index, unsigned second_index,
                              bool swapped);
  // Fills track (0 or 1) with the occurrences of alignment keyed by their
  // start (or one past their end when by_end), plus, with circular_copies,
  // a shifted copy of each occurrence on a circular sequence; returns the
  // number of keys.
  size_t prepare_indexed_positions(unsigned track, const MapperAlignment *alignment, bool by_end,
                                   bool circular_copies);
  // The reference span of two placed alignments: from the leftmost start
  // to the rightmost end, where first lies at biased position p and second
  // at q (each its start or its end as the flags say). Unsigned 32-bit.
  static uint32_t compute_reference_span(const MapperAlignment *first, const MapperAlignment *second, uint32_t p,
                                         uint32_t q, bool first_by_end, bool second_by_end);

  const MapperPairerTrack &track(unsigned t) const { return tracks_[t]; }

 private:
  MapperPairing *pairing_ = nullptr;
  uint8_t mate1_strand_ = 0;
  uint8_t mate2_strand_ = 1;
  uint8_t mate1_end_ = 0;
  uint8_t mate2_end_ = 0;
  uint32_t min_distance_ = 0;
  uint32_t max_distance_ = 0;
  MapperPairerTrack tracks_[2];
  // Within one compare_results, the alignment (and its end flag) track 0
  // already holds: consecutive comparisons share their left alignment, so
  // its occurrences are listed once, not once per right alignment.
  bool reuse_left_ = false;
  const MapperAlignment *left_source_ = nullptr;
  bool left_by_end_ = false;
};
