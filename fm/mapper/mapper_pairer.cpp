#include "fm/mapper/mapper_pairer.h"

#include <algorithm>

#include "fm/index/mapper_index.h"

namespace {

// Read symbols a transcript leaves unaligned at its start (lead) and at its
// end (trail): its opening and closing insertion runs.
struct Clips {
  uint32_t lead = 0;
  uint32_t trail = 0;
};

Clips clips_of(const Alignment &a) {
  Clips c;
  const std::vector<uint8_t> &code = a.code;
  size_t i = 0;
  for (; i < code.size() && alignment_kind(code[i]) == kInsertionBase; i++) c.lead += alignment_run(code[i]);
  // A code of insertions only is all lead.
  if (i == code.size()) return c;
  for (size_t j = code.size(); j > 0 && alignment_kind(code[j - 1]) == kInsertionBase; j--)
    c.trail += alignment_run(code[j - 1]);
  return c;
}

// Where an alignment placed at biased position p (its start, or one past
// its end) starts and ends, in biased reference coordinates. The read
// symbols stand in for the aligned reference length.
void placed_extent(const MapperAlignment *a, uint32_t p, bool by_end, uint32_t *start, uint32_t *end) {
  const Clips c = clips_of(a->alignment);
  const uint32_t read_symbols = a->alignment.read_length();
  if (by_end) {
    *start = p + c.lead - read_symbols;
    *end = p - c.trail;
  } else {
    *start = p + c.lead;
    *end = p + read_symbols - c.trail;
  }
}

}  // namespace

void MapperPairer::setup(MapperPairing *pairing, const MapperPairedParameters &parameters) {
  pairing_ = pairing;
  mate1_strand_ = static_cast<uint8_t>((parameters.mode >> 1) & 1);
  mate2_strand_ = static_cast<uint8_t>(parameters.mode & 1);
  mate1_end_ = static_cast<uint8_t>((parameters.distance_mode >> 1) & 1);
  mate2_end_ = static_cast<uint8_t>(parameters.distance_mode & 1);
  min_distance_ = parameters.min_distance;
  max_distance_ = parameters.max_distance;
}

size_t MapperPairer::prepare_indexed_positions(unsigned track, const MapperAlignment *alignment, bool by_end,
                                               bool circular_copies) {
  MapperPairerTrack &t = tracks_[track];
  const uint32_t hits = alignment->hit_count;
  t.positions.resize(hits);
  t.keys.clear();
  if (hits == 0) return 0;
  alignment->search.search.get_match_positions(0, hits, t.positions.data());

  // The bias moves the key from the aligned text's start to the place the
  // distance is measured from: the read's first symbol projected back over
  // the clipped lead, or one past its last projected over the trail.
  const Clips c = clips_of(alignment->alignment);
  uint32_t bias = by_end ? kPairPositionBias + alignment->alignment.reference_length() + c.trail
                         : kPairPositionBias - c.lead;
  bias += alignment->reference_offset;

  const MapperIndex *index = alignment->search.index;
  for (uint32_t m = 0; m < hits; m++) {
    const _sequence_position &place = t.positions[m];
    const uint32_t position = bias + place.offset;
    t.keys.push_back({static_cast<uint64_t>(position) << 32 | m});
    if (circular_copies) {
      const MapperIndexRef &ref = index->refs[place.sequence_id];
      if (ref.circular) {
        const uint32_t shifted = position + static_cast<uint32_t>(ref.length);
        t.keys.push_back({static_cast<uint64_t>(shifted) << 32 | m | kPairShiftedOccurrence});
      }
    }
  }
  std::sort(t.keys.begin(), t.keys.end(),
            [](const MapperPairerIndexedPosition &a, const MapperPairerIndexedPosition &b) { return a.key < b.key; });
  return t.keys.size();
}

uint32_t MapperPairer::compute_reference_span(const MapperAlignment *first, const MapperAlignment *second, uint32_t p,
                                              uint32_t q, bool first_by_end, bool second_by_end) {
  uint32_t start1, end1, start2, end2;
  placed_extent(first, p, first_by_end, &start1, &end1);
  placed_extent(second, q, second_by_end, &start2, &end2);
  return std::max(end1, end2) - std::min(start1, start2);
}

void MapperPairer::compare_two_alignments(const MapperIndex *index, const MapperAlignment *first,
                                          const MapperAlignment *second, bool first_by_end, bool second_by_end,
                                          unsigned first_index, unsigned second_index, bool swapped) {
  size_t n0;
  if (reuse_left_ && first == left_source_ && first_by_end == left_by_end_) {
    n0 = tracks_[0].keys.size();
  } else {
    n0 = prepare_indexed_positions(0, first, first_by_end, false);
    left_source_ = first;
    left_by_end_ = first_by_end;
  }
  if (n0 == 0) return;
  const size_t n1 = prepare_indexed_positions(1, second, second_by_end, true);
  if (n1 == 0) return;
  const MapperPairerTrack &left = tracks_[0], &right = tracks_[1];
  const bool first_strand = first->search.strand != 0, second_strand = second->search.strand != 0;

  // Both sides are sorted, so the first right key within reach of a left
  // key only moves forward. The window bounds are taken in 64 bits so that
  // they never wrap below the keys they bound.
  size_t k = 0;
  for (size_t i = 0; i < n0; i++) {
    const uint32_t p = left.keys[i].position();
    const uint64_t lowest = static_cast<uint64_t>(p) + min_distance_;
    const uint64_t highest = static_cast<uint64_t>(p) + max_distance_;
    while (k < n1 && right.keys[k].position() < lowest) k++;
    if (k == n1) return;
    const uint32_t occurrence1 = left.keys[i].occurrence();
    const _sequence_position &place1 = left.positions[occurrence1];
    for (size_t j = k; j < n1 && right.keys[j].position() <= highest; j++) {
      const uint32_t q = right.keys[j].position();
      const uint32_t occurrence2 = right.keys[j].occurrence();
      const _sequence_position &place2 = right.positions[occurrence2 & ~kPairShiftedOccurrence];
      if (place1.sequence_id != place2.sequence_id) continue;
      const uint64_t length = index->refs[place1.sequence_id].length;
      if (compute_reference_span(first, second, p, q, first_by_end, second_by_end) > length) continue;
      pairing_->add_pair(first_index, occurrence1, first_strand, second_index, occurrence2, second_strand, swapped,
                         q - p, place1, place2);
    }
  }
}

void MapperPairer::compare_results(const MapperResult *mate1, const MapperResult *mate2) {
  reuse_left_ = true;
  left_source_ = nullptr;
  const unsigned s1 = mate1_strand_, s2 = mate2_strand_;
  const bool e1 = mate1_end_ != 0, e2 = mate2_end_ != 0;
  // Mate 1 on the left, each mate on its expected strand.
  const MapperAlignmentList &a1 = mate1->strand[s1].alignments, &a2 = mate2->strand[s2].alignments;
  for (size_t i = 0; i < a1.size(); i++)
    for (size_t j = 0; j < a2.size(); j++)
      if (a1[i].search.index == a2[j].search.index)
        compare_two_alignments(a1[i].search.index, &a1[i], &a2[j], s1 != e1, s2 != e2, static_cast<unsigned>(i),
                               static_cast<unsigned>(j), false);
  // The same fragment read from the other strand: mate 2 on the left, both
  // mates on the opposite strands, and each mate's start at its other
  // reference end.
  const MapperAlignmentList &b2 = mate2->strand[1 - s2].alignments, &b1 = mate1->strand[1 - s1].alignments;
  for (size_t i = 0; i < b2.size(); i++)
    for (size_t j = 0; j < b1.size(); j++)
      if (b2[i].search.index == b1[j].search.index)
        compare_two_alignments(b2[i].search.index, &b2[i], &b1[j], s2 == e2, s1 == e1, static_cast<unsigned>(i),
                               static_cast<unsigned>(j), true);
  reuse_left_ = false;
  left_source_ = nullptr;
}
