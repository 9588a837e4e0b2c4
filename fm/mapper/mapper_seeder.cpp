#include "fm/mapper/mapper_seeder.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

uint32_t MapperSeeder::subsequence_search(MapperRead *read, int64_t from, int64_t to, uint32_t strand_mask,
                                          const std::vector<MapperIndex> &indexes,
                                          std::vector<MapperSearch> *out) const {
  // A stretch that ends before it starts can match nothing.
  if (to - from < static_cast<int64_t>(parameters_->min_seed_length)) return 0;
  const uint32_t f = static_cast<uint32_t>(from), g = static_cast<uint32_t>(to);
  const uint32_t want = g - f;
  uint32_t found = 0;
  for (uint32_t i = 0; i < indexes.size(); i++) {
    for (uint32_t strand = 0; strand < 2; strand++) {
      if ((strand_mask >> strand & 1) == 0) continue;
      out->emplace_back();
      MapperSearch &record = out->back();
      record.start(&indexes[i]);
      const uint32_t d = strand == 0 ? record.forward(read->forward_codes, f, g, read->length)
                                     : record.backward(read->forward_codes, f, g, read->length);
      if (d != want) {
        out->pop_back();
        continue;
      }
      record.strand = strand;
      record.index_number = i;
      record.offset = strand == 0 ? f : read->length - g;
      record.length = want;
      found++;
    }
  }
  return found;
}

uint32_t MapperSeeder::alt_nuc_hit_search(MapperRead *read, const MapperSeeds *seeds, uint32_t strand_mask,
                                          const std::vector<MapperIndex> &indexes,
                                          std::vector<MapperSearch> *scratch, uint32_t longest) const {
  const MapperSearch *seed = nullptr;
  for (const MapperSearch &s : seeds->seeds) {
    if (s.length == longest) {
      seed = &s;
      break;
    }
  }
  const int64_t l = longest;
  if (seed == nullptr || l <= static_cast<int64_t>(read->length) - 10) return 0;
  const uint32_t home = seed->index_number;
  const int64_t o = seed->offset;
  const int64_t t = l / 3;

  // Occurrences of read symbols [f, g) other than the seed's own: one less
  // in the seed's reference set. The first record counted weighs its count
  // by its length; later ones add their plain count.
  auto sum = [&](int64_t f, int64_t g) -> uint64_t {
    scratch->clear();
    const uint32_t n = subsequence_search(read, f, g, strand_mask, indexes, scratch);
    uint64_t total = 0;
    bool first = true;
    for (uint32_t k = 0; k < n; k++) {
      const MapperSearch &record = (*scratch)[k];
      const uint64_t w = record.count();
      uint64_t counted;
      if (record.index_number == home) {
        if (w < 2) continue;
        counted = w - 1;
      } else {
        if (w == 0) continue;
        counted = w;
      }
      if (first) {
        total = counted * record.length;
        first = false;
      } else {
        total += w;
      }
    }
    return total;
  };

  if (sum(o + t, o + t + std::min<int64_t>(t, 21)) == 0) return 0;
  // The last two stretches run from the read start with the seed's
  // length: the seed starts within the first 10 read symbols here.
  uint64_t total = sum(o, o + t) + sum(o + t, l - t);
  if (total < static_cast<uint64_t>(2 * t)) total += sum(l - t, l);
  return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}
