#include "fm/mapper/mapper_standard_seeder.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

MapperStandardSeeder::MapperStandardSeeder(const MapperParameters *parameters) : MapperSeeder(parameters) {
  searches_.reserve(100);
}

int32_t MapperStandardSeeder::find_pivot(const SubsetInterval *interval) {
  if (interval->begin <= 0) return interval->begin;
  return (interval->begin + interval->end) / 2;
}

bool MapperStandardSeeder::is_seed_contained(const MapperSeeds *seeds, const MapperSearch &seed) {
  const uint64_t end = static_cast<uint64_t>(seed.offset) + seed.length;
  for (const MapperSearch &s : seeds->seeds) {
    if (s.strand == seed.strand && s.index_number == seed.index_number && seed.offset >= s.offset &&
        end <= static_cast<uint64_t>(s.offset) + s.length)
      return true;
  }
  return false;
}

void MapperStandardSeeder::remove_short_seeds(MapperSeeds *seeds, uint32_t read_length, uint32_t min_length,
                                              bool convert_offsets) {
  std::vector<MapperSearch> &list = seeds->seeds;
  size_t kept = 0;
  for (size_t i = 0; i < list.size(); i++) {
    if (list[i].length < min_length || list[i].length == 0) continue;
    if (kept != i) list[kept] = list[i];
    if (convert_offsets && list[kept].strand == 1)
      list[kept].offset = read_length - list[kept].length - list[kept].offset;
    kept++;
  }
  list.resize(kept);
}

void MapperStandardSeeder::run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                               const std::vector<MapperIndex> &indexes) {
  const MapperParameters &p = *parameters_;
  const int32_t L = static_cast<int32_t>(read->length);
  const uint32_t m = p.min_seed_length;
  if (read->length < m || read->length > p.max_read_length) return;
  // Long reads, and the longest-only option, keep only seeds as long as
  // the longest; others keep seeds of two thirds of it.
  const bool keep_longest_only = p.longest_only || read->length > std::max<uint32_t>(p.normal_type_limit, 2000);

  int32_t c = static_cast<int32_t>(m);  // required seed length
  int32_t b = static_cast<int32_t>(m);  // longest seed so far
  for (uint32_t i = 0; i < indexes.size(); i++) {
    searches_.clear();
    step_cache_.use(indexes[i].matcher.get());
    step_cache_.start_read(read->forward_codes, read->length);
    // Every search starts with a table look-up at its pivot; fetching them
    // all at once overlaps their cache misses.
    if ((strand_mask & 1) != 0) indexes[i].matcher->prefetch_windows(read->forward_codes, read->length);
    if ((strand_mask & 2) != 0) indexes[i].matcher->prefetch_windows(read->reverse_codes, read->length);
    for (Subset &s : subsets_) {
      s.reset();
      s.add_range(0, L - c + 1);
    }
    while (((strand_mask & 1) != 0 && !subsets_[0].empty()) || ((strand_mask & 2) != 0 && !subsets_[1].empty())) {
      for (uint32_t strand = 0; strand < 2; strand++) {
        if ((strand_mask >> strand & 1) == 0) continue;
        Subset &subset = subsets_[strand];
        SubsetInterval *node = subset.head();
        while (node != nullptr) {
          const int32_t pivot = find_pivot(node);
          searches_.emplace_back();
          MapperSearch &q = searches_.back();
          q.start(&indexes[i]);
          const uint32_t end = read->length;
          const int32_t d =
              static_cast<int32_t>(strand == 0 ? q.forward(read->forward_codes, pivot, end, &step_cache_)
                                               : q.backward(read->forward_codes, pivot, end, &step_cache_));
          if (d == 0) {
            searches_.pop_back();
            node = subset.remove_range(pivot, pivot + 1);
            continue;
          }
          q.strand = strand;
          q.index_number = i;
          q.offset = static_cast<uint32_t>(pivot);
          q.length = static_cast<uint32_t>(d);
          if (d >= c) {
            if (d > b) {
              c = keep_longest_only || d == L ? d : std::max(static_cast<int32_t>(0.67 * d), static_cast<int32_t>(m));
              for (Subset &s : subsets_) s.remove_range(L - c + 1, L);
              // No seed of length c starts where it would run through the
              // symbol that ended an earlier match.
              for (const MapperSearch &r : searches_) {
                const int32_t after = static_cast<int32_t>(r.offset + r.length);
                subsets_[r.strand].remove_range(std::max(0, after + 1 - c), static_cast<int32_t>(r.offset));
              }
              b = d;
            }
            if (!is_seed_contained(seeds, q)) {
              const uint32_t q_end = q.offset + q.length;
              for (MapperSearch &s : seeds->seeds) {
                if (s.strand == q.strand && s.index_number == q.index_number && s.offset >= q.offset &&
                    s.offset + s.length <= q_end)
                  s.length = 0;
              }
              seeds->seeds.push_back(q);
            }
          }
          // Positions up to the pivot whose seed would include the symbol
          // after this match; a match to the read end also covers every
          // match that starts inside it.
          node = subset.remove_range(std::max(0, std::min(pivot + c, pivot + d + 1) - c), pivot + 1);
          if (pivot + d == L) node = subset.remove_range(pivot, L);
        }
      }
    }
  }
  if (p.mapping_quality)
    seeds->alt_hit_score =
        alt_nuc_hit_search(read, seeds, strand_mask, indexes, &searches_, static_cast<uint32_t>(b));
  remove_short_seeds(seeds, read->length, static_cast<uint32_t>(c), true);
}
