#include "fm/mapper/mapper_filter.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

MapperFilter::MapperFilter(const MapperParameters *parameters)
    : MapperFilter(static_cast<uint32_t>(parameters->similarity.numerator),
                   static_cast<uint32_t>(parameters->similarity.denominator),
                   static_cast<uint32_t>(parameters->length_fraction.numerator),
                   static_cast<uint32_t>(parameters->length_fraction.denominator)) {}

MapperFilter::MapperFilter(uint32_t similarity_numerator, uint32_t similarity_denominator,
                           uint32_t length_numerator, uint32_t length_denominator)
    : similarity_numerator(similarity_numerator),
      similarity_denominator(similarity_denominator),
      length_numerator(length_numerator),
      length_denominator(length_denominator) {}

void MapperFilter::add(bool match, uint32_t n) {
  const int32_t value = match ? static_cast<int32_t>(similarity_denominator - similarity_numerator)
                              : -static_cast<int32_t>(similarity_numerator);
  track.insert(track.end(), n, value);
}

bool MapperFilter::disqualified(bool scan_from_end) const {
  const uint64_t n = track.size();
  const uint64_t w = length_denominator == 0 ? 0 : n * length_numerator / length_denominator;
  if (w == 0) return false;
  if (w > n) return true;
  auto value = [&](uint64_t i) -> int64_t { return track[scan_from_end ? n - 1 - i : i]; };
  // best: the greatest sum of a stretch of at least w columns ending at
  // column i; window: the sum of the w columns ending there.
  int64_t window = 0;
  for (uint64_t i = 0; i < w; i++) window += value(i);
  int64_t best = window;
  if (best >= 0) return false;
  for (uint64_t i = w; i < n; i++) {
    window += value(i) - value(i - w);
    best = std::max(best + value(i), window);
    if (best >= 0) return false;
  }
  return true;
}

bool filter_alignment(MapperFilter *filter, const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                      bool scan_from_end) {
  filter->clear();
  uint64_t r = 0, f = 0;
  for (uint8_t byte : alignment.code) {
    const uint8_t kind = alignment_kind(byte);
    const uint32_t k = alignment_run(byte);
    if (kind == kMatchBase) {
      // One value per column, appended directly.
      const int32_t match = static_cast<int32_t>(filter->similarity_denominator - filter->similarity_numerator);
      const int32_t other = -static_cast<int32_t>(filter->similarity_numerator);
      for (uint32_t j = 0; j < k; j++, r++, f++)
        filter->track.push_back(read[r] == reference[f] && read[r] < 4 ? match : other);
    } else if (kind == kInsertionBase) {
      filter->add(false, k);
      r += k;
    } else {
      filter->add(false, k);
      f += k;
    }
  }
  return !filter->disqualified(scan_from_end);
}
