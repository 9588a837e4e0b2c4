#include "fm/mapper/mapper_result.h"

#include <algorithm>

#include "fm/index/mapper_index.h"

MapperAlignment &MapperAlignmentList::push() {
  if (count_ == entries_.size()) entries_.emplace_back();
  return entries_[count_++];
}

void MapperResult::clear() {
  for (MapperResultStrand &s : strand) {
    s.alignments.clear();
    s.hit_total = 0;
  }
  best_score = 0;
  mapping_quality = 255;
}

void MapperResult::add_alignment(MapperRead *read, const MapperSearch &search, Alignment &&alignment,
                                 uint32_t reference_offset) {
  MapperResultStrand &s = strand[search.strand];
  MapperAlignment &entry = s.alignments.push();
  entry.read = read;
  entry.search = search;
  entry.alignment.assign(alignment);
  entry.hit_count = static_cast<uint32_t>(std::min<unsigned long long>(search.count(), UINT32_MAX));
  entry.reference_offset = reference_offset;
  entry.flags = static_cast<uint8_t>((search.index != nullptr && search.index->second_set ? kAlignmentSecondSet : 0) |
                                     (ga_mark ? kAlignmentGaMark : 0));
  s.hit_total += entry.hit_count;
  alignment.clear();
}

void MapperResult::combine(MapperResult *other) {
  best_score = other->best_score;
  mapping_quality = other->mapping_quality;
  for (int k = 0; k < 2; k++) {
    MapperResultStrand &to = strand[k];
    MapperResultStrand &from = other->strand[k];
    for (const MapperAlignment &a : from.alignments) {
      MapperAlignment &entry = to.alignments.push();
      entry.read = a.read;
      entry.search = a.search;
      entry.alignment.assign(a.alignment);
      entry.hit_count = a.hit_count;
      entry.reference_offset = a.reference_offset;
      entry.flags = a.flags;
      to.hit_total += a.hit_count;
    }
    from.alignments.clear();
    from.hit_total = 0;
  }
}

const MapperAlignment *MapperResult::find_hit(uint64_t hit, uint32_t *occurrence) const {
  for (const MapperResultStrand &s : strand) {
    for (const MapperAlignment &a : s.alignments) {
      if (hit < a.hit_count) {
        *occurrence = static_cast<uint32_t>(hit);
        return &a;
      }
      hit -= a.hit_count;
    }
  }
  return nullptr;
}
