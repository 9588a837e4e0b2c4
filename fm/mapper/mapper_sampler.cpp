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

void MapperSampler::fill_entry(const MapperAlignment &alignment, uint32_t occurrence, bool shifted,
                               MapperSampleEntry *entry) {
  _sequence_position place{0, 0};
  alignment.search.search.get_match_positions(occurrence, 1, &place);
  const MapperIndex *index = alignment.search.index;
  uint64_t position = static_cast<uint64_t>(place.offset) + alignment.reference_offset;
  const MapperIndexRef &ref = index->refs[place.sequence_id];
  // An occurrence near the end of a circular sequence may run on over its
  // start, and so may the alignment's start within it.
  if (ref.circular && ref.length > 0 && position >= ref.length) position %= ref.length;
  entry->shifted = shifted;
  entry->reverse = alignment.search.strand != 0;
  entry->tag = alignment.alignment.tag;
  entry->transcript.assign(alignment.alignment.code.begin(), alignment.alignment.code.end());
  entry->reference_sequence = static_cast<uint32_t>(place.sequence_id + index->first_sequence_id);
  entry->position = static_cast<uint32_t>(position);
  entry->second_set = (alignment.flags & kAlignmentSecondSet) != 0;
  entry->ga_mark = (alignment.flags & kAlignmentGaMark) != 0;
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
