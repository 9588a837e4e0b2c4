#include "fm/mapper/mapper_sampler.h"

#include <algorithm>
#include <utility>

#include "fm/index/mapper_index.h"

MapperSampler::MapperSampler(RandomState *random, uint32_t capacity)
    : random_(random), capacity_(capacity), picks_(capacity) {}

uint32_t MapperSampler::pick_random_sample(uint64_t hits) {
  const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(capacity_, hits));
  if (k == 0) return 0;
  if (k == 1) {
    picks_[0] = random_->draw_ranged(hits);
    return 1;
  }
  for (uint32_t i = 0; i < k; i++) picks_[i] = i;
  for (uint64_t i = k; i < hits; i++) {
    const uint64_t r = random_->draw_ranged(i + 1);
    if (r < k) picks_[r] = i;
  }
  for (uint32_t i = 0; i + 1 < k; i++) {
    const uint64_t r = random_->draw_ranged(k - i);
    if (r > 0) std::swap(picks_[i], picks_[i + r]);
  }
  return k;
}

namespace {

// The place of occurrence number occurrence of alignment.
_sequence_position locate(const MapperAlignment &alignment, uint32_t occurrence) {
  _sequence_position place{0, 0};
  alignment.search.search.get_match_positions(occurrence, 1, &place);
  return place;
}

// entry for alignment at place, with the alignment's first reference
// symbol at position of that sequence.
void fill_at(const MapperAlignment &alignment, const _sequence_position &place, uint32_t position, bool shifted,
             MapperSampleEntry *entry) {
  entry->shifted = shifted;
  entry->reverse = alignment.search.strand != 0;
  entry->tag = alignment.alignment.tag;
  entry->transcript.assign(alignment.alignment.code.begin(), alignment.alignment.code.end());
  entry->reference_sequence = static_cast<uint32_t>(place.sequence_id + alignment.search.index->first_sequence_id);
  entry->position = position;
  entry->second_set = (alignment.flags & kAlignmentSecondSet) != 0;
  entry->ga_mark = (alignment.flags & kAlignmentGaMark) != 0;
}

}  // namespace

void MapperSampler::fill_entry(const MapperAlignment &alignment, uint32_t occurrence, bool shifted,
                               MapperSampleEntry *entry) {
  const _sequence_position place = locate(alignment, occurrence);
  uint64_t position = static_cast<uint64_t>(place.offset) + alignment.reference_offset;
  const MapperIndexRef &ref = alignment.search.index->refs[place.sequence_id];
  // An occurrence near the end of a circular sequence may run on over its
  // start, and so may the alignment's start within it.
  if (ref.circular && ref.length > 0 && position >= ref.length) position %= ref.length;
  fill_at(alignment, place, static_cast<uint32_t>(position), shifted, entry);
}

void MapperSampler::run(const MapperResult *result, MapperSample *sample, int mate) {
  const uint64_t hits = result->hit_count();
  sample->hit_total[mate] = static_cast<uint32_t>(std::min<uint64_t>(hits, UINT32_MAX));
  sample->mapping_quality[mate] = result->mapping_quality;
  MapperSampleEntries &entries = sample->entries[mate];
  if (hits == 0) {
    entries.clear();
    return;
  }
  const uint32_t k = pick_random_sample(hits);
  entries.resize(k);
  for (uint32_t j = 0; j < k; j++) {
    uint32_t occurrence = 0;
    const MapperAlignment *alignment = result->find_hit(picks_[j], &occurrence);
    fill_entry(*alignment, occurrence, false, &entries[j]);
  }
}

void MapperSampler::paired_run(const MapperPairedResult *result, MapperSample *sample) {
  const MapperPairing &pairing = result->pairing;
  if (pairing.pairs_found == 0) {
    sample->paired = false;
    run(&result->mate[0], sample, 0);
    run(&result->mate[1], sample, 1);
    return;
  }
  sample->paired = true;
  for (int m = 0; m < 2; m++) {
    sample->hit_total[m] = pairing.pairs_found;
    sample->mapping_quality[m] = result->mate[m].mapping_quality;
  }
  const uint32_t k = std::min(pairing.valid_count(), capacity_);
  sample->entries[0].resize(k);
  sample->entries[1].resize(k);
  for (uint32_t i = 0; i < k; i++) {
    const MapperPairingEntry &pair = pairing.entries[i];
    // The first part is mate 1 unless the pair was found with mate 2 on the
    // left.
    const int first_mate = pair.swapped ? 1 : 0;
    const MapperAlignment *alignment[2];
    uint32_t occurrence[2];
    alignment[first_mate] = &result->mate[first_mate].strand[pair.first_strand].alignments[pair.first_index];
    occurrence[first_mate] = pair.first_occurrence;
    alignment[1 - first_mate] =
        &result->mate[1 - first_mate].strand[pair.second_strand].alignments[pair.second_index];
    occurrence[1 - first_mate] = pair.second_occurrence;

    // True starts of both hits: the occurrence (as the pairer found it),
    // the alignment's start in it, and one sequence length for the shifted
    // copy.
    _sequence_position place[2];
    place[first_mate] = pair.first_place;
    place[1 - first_mate] = pair.second_place;
    uint64_t start[2];
    for (int m = 0; m < 2; m++) {
      const uint64_t length = alignment[m]->search.index->refs[place[m].sequence_id].length;
      start[m] = static_cast<uint64_t>(place[m].offset) + alignment[m]->reference_offset +
                 ((occurrence[m] & kPairShiftedOccurrence) ? length : 0);
    }
    // Both lie on one sequence. On a circular one, move both back by whole
    // laps until the leftmost starts on the first lap; the other then lies
    // on the first or the second, and one on the second is written as a
    // position on the first with the shifted flag.
    const MapperIndexRef &ref = alignment[0]->search.index->refs[place[0].sequence_id];
    for (int m = 0; m < 2; m++) {
      uint64_t at = start[m];
      bool shifted = false;
      if (ref.circular && ref.length > 0) {
        at -= std::min(start[0], start[1]) / ref.length * ref.length;
        if (at >= ref.length) {
          at -= ref.length;
          shifted = true;
        }
      }
      fill_at(*alignment[m], place[m], static_cast<uint32_t>(at), shifted, &sample->entries[m][i]);
    }
  }
}
