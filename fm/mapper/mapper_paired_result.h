// The result of one read pair: each mate's alignments and a uniform random
// sample of the accepted pairs between them.
//
// A pair names one occurrence of one alignment of each mate: the index of
// the alignment in its mate's strand list and the occurrence's number
// within the alignment. The part found first by the pairer ("first") is
// mate 1 unless the pair was found from the reverse strand ("swapped"),
// where it is mate 2. Bit 31 of an occurrence number marks the copy of an
// occurrence on a circular sequence shifted by one sequence length, the
// way a pair across the sequence origin is found.
#pragma once

#include <cstdint>
#include <vector>

#include "common/random_state.h"
#include "fm/mapper/mapper_result.h"

// Bit 31 of an occurrence number: the shifted circular copy.
constexpr uint32_t kPairShiftedOccurrence = UINT32_C(1) << 31;

// One accepted pair.
struct MapperPairingEntry {
  uint32_t first_index = 0;       // alignment index in the strand list of its mate
  uint32_t first_occurrence = 0;  // occurrence number; bit 31 the shifted copy
  uint8_t first_strand = 0;
  uint32_t second_index = 0;
  uint32_t second_occurrence = 0;
  uint8_t second_strand = 0;
  uint8_t swapped = 0;    // 0: the first part is mate 1; 1: it is mate 2
  uint32_t distance = 0;  // biased second position minus biased first position
  // Where the pairer found the two occurrences (the unshifted places), so
  // that the sampler need not walk the index to them again.
  _sequence_position first_place{0, 0};
  _sequence_position second_place{0, 0};

  bool operator==(const MapperPairingEntry &) const = default;
};

// The accepted pairs of a read pair: how many were found and a uniform
// random sample of at most capacity of them, in random order.
class MapperPairing {
 public:
  // Samples with draws from random (the owning Mapper's generator).
  MapperPairing(RandomState *random, uint64_t capacity);

  // Counts an accepted pair as found and offers it to the sample.
  void add_pair(unsigned first_index, unsigned first_occurrence, bool first_strand, unsigned second_index,
                unsigned second_occurrence, bool second_strand, bool swapped, unsigned distance,
                const _sequence_position &first_place, const _sequence_position &second_place);
  // Offers a pair to the sample without counting it as found: one ranged
  // draw r in [0, pairs seen]; a sample not yet full moves entry r to its
  // end and puts the pair at r; a full one puts the pair at r when r is
  // below the capacity and drops it otherwise.
  void offer(const MapperPairingEntry &entry);
  // No pairs found or seen; the room for entries stays.
  void clear() { pairs_found = pairs_seen = 0; }

  // The number of valid entries: min(pairs seen, capacity).
  uint32_t valid_count() const {
    return static_cast<uint32_t>(pairs_seen < capacity ? pairs_seen : capacity);
  }

  uint32_t pairs_found = 0;  // every accepted pair
  uint32_t pairs_seen = 0;   // pairs offered to the sample
  RandomState *random;
  // The sample; entries [0, valid_count()) are valid. It grows as pairs
  // arrive, never beyond the capacity, and never shrinks, so a worker's
  // pairing stops allocating once it has held its largest sample.
  std::vector<MapperPairingEntry> entries;
  uint64_t capacity;
};

class MapperPairedResult {
 public:
  // An empty result whose pair sample draws from random and holds at most
  // capacity pairs (at least 1).
  MapperPairedResult(RandomState *random, long long capacity);
  MapperPairedResult(const MapperPairedResult &) = delete;
  MapperPairedResult &operator=(const MapperPairedResult &) = delete;

  // No pairs; both mates cleared (their G-to-A marks stay).
  void clear();
  // Moves other's alignments to the end of this result's mate lists and
  // offers other's sampled pairs, their alignment indices moved along, to
  // this sample (not counted as found); pairs found grows by other's.
  // other is left without alignments.
  void copy(MapperPairedResult *other);
  // Into this (empty) result: when either candidate has pairs, both
  // candidates' pairs and alignments, first's before second's; otherwise,
  // per mate, the candidate with hits and the better best score, both on
  // equal scores. What is taken is moved out of the candidates.
  void combine(MapperPairedResult *first, MapperPairedResult *second);

  bool has_pairs() const { return pairing.pairs_found > 0; }
  // The two mates' best scores added: the score of a paired candidate.
  int64_t score() const { return static_cast<int64_t>(mate[0].best_score) + mate[1].best_score; }

  MapperResult mate[2];
  MapperPairing pairing;
};
