#include "fm/mapper/mapper_result.h"

#include <algorithm>
#include <utility>

#include "fm/index/mapper_index.h"

void MapperResult::clear() {
  for (MapperResultStrand &s : strand) {
    for (MapperAlignment &a : s.alignments)
      if (a.alignment.code.capacity() != 0) spare_codes_.push_back(std::move(a.alignment.code));
    s.alignments.clear();
    s.hit_total = 0;
  }
  best_score = 0;
  mapping_quality = 255;
}

void MapperResult::add_alignment(MapperRead *read, const MapperSearch &search, Alignment &&alignment,
                                 uint32_t reference_offset) {
  MapperResultStrand &s = strand[search.strand];
  s.alignments.emplace_back();
  MapperAlignment &entry = s.alignments.back();
  entry.read = read;
  entry.search = search;
  entry.alignment.tag = alignment.tag;
  entry.alignment.code.swap(alignment.code);
  entry.hit_count = static_cast<uint32_t>(std::min<unsigned long long>(search.count(), UINT32_MAX));
  entry.reference_offset = reference_offset;
  entry.flags = static_cast<uint8_t>((search.index != nullptr && search.index->second_set ? kAlignmentSecondSet : 0) |
                                     (ga_mark ? kAlignmentGaMark : 0));
  s.hit_total += entry.hit_count;

  alignment.tag = 0;
  if (!spare_codes_.empty()) {
    alignment.code.swap(spare_codes_.back());
    spare_codes_.pop_back();
  }
  alignment.code.clear();
}

void MapperResult::combine(MapperResult *other) {
  best_score = other->best_score;
  mapping_quality = other->mapping_quality;
  for (int k = 0; k < 2; k++) {
    MapperResultStrand &to = strand[k];
    MapperResultStrand &from = other->strand[k];
    for (MapperAlignment &a : from.alignments) {
      to.hit_total += a.hit_count;
      to.alignments.push_back(std::move(a));
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
