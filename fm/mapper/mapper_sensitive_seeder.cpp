#include "fm/mapper/mapper_sensitive_seeder.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

MapperSensitiveSeeder::MapperSensitiveSeeder(const MapperParameters *parameters) : MapperSeeder(parameters) {
  searches_.reserve(250);
}

void MapperSensitiveSeeder::run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                                const std::vector<MapperIndex> &indexes) {
  const MapperParameters &p = *parameters_;
  const uint32_t L = read->length;
  const uint32_t a = p.min_seed_length;
  if (L < a || L > p.max_read_length) return;

  searches_.clear();
  if (subsequence_search(read, 0, L, strand_mask, indexes, &searches_) > 0) {
    seeds->seeds.insert(seeds->seeds.end(), searches_.begin(), searches_.end());
    if (p.mapping_quality)
      seeds->alt_hit_score = alt_nuc_hit_search(read, seeds, strand_mask, indexes, &searches_, L);
    return;
  }

  const uint32_t windows = L - a + 1;
  if (counts_.size() < windows) counts_.resize(windows);
  for (uint32_t i = 0; i < indexes.size(); i++) {
    for (uint32_t strand = 0; strand < 2; strand++) {
      if ((strand_mask >> strand & 1) == 0) continue;
      searches_.clear();
      auto match = [&](MapperSearch *record, uint32_t from, uint32_t length) {
        record->start(&indexes[i]);
        return strand == 0 ? record->forward(read->forward_codes, from, from + length, L)
                           : record->backward(read->forward_codes, from, from + length, L);
      };
      auto place = [&](MapperSearch *record, uint32_t from, uint32_t length) {
        record->strand = strand;
        record->index_number = i;
        record->length = length;
        record->offset = strand == 0 ? from : L - from - length;
      };

      bool saturated = false;
      for (uint32_t j = 0; j < windows; j++) {
        searches_.emplace_back();
        MapperSearch &record = searches_.back();
        if (match(&record, j, a) < a) {
          counts_[j] = 0;
          continue;
        }
        const unsigned long long occurrences = record.count();
        counts_[j] = static_cast<uint8_t>(std::min<unsigned long long>(occurrences, 255));
        if (occurrences >= 256) saturated = true;
        place(&record, j, a);
      }

      // Runs of windows with one occurrence count, ended by a window with
      // another, become one seed when the joined stretch occurs exactly as
      // often. The last window keeps its own seed.
      for (uint32_t j = 0; !saturated && j < windows;) {
        if (counts_[j] == 0) {
          j++;
          continue;
        }
        const uint32_t first = j;
        while (j < windows && counts_[j] == counts_[first]) j++;
        if (j == windows) break;
        const uint32_t k = j - first;
        if (k < 2) continue;
        const uint32_t length = a + k - 1;
        searches_.emplace_back();
        MapperSearch &joined = searches_.back();
        if (match(&joined, first, length) != length || joined.count() != counts_[first]) {
          searches_.pop_back();
          continue;
        }
        place(&joined, first, length);
        for (uint32_t w = first; w + 1 < j; w++) searches_[w].length = 0;
      }

      for (const MapperSearch &record : searches_)
        if (record.length >= a) seeds->seeds.push_back(record);
    }
  }
}
