#include "fm/mapper/mapper_standard_seeder.h"

#include <algorithm>
#include <coroutine>

#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_seeding_steps.h"


MapperStandardSeeder::MapperStandardSeeder(const MapperParameters *parameters) : MapperSeeder(parameters) {
  for (Lane &lane : lanes_) lane.searches.reserve(100);
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

bool MapperStandardSeeder::takes(const MapperRead *read) const {
  return read->length >= parameters_->min_seed_length && read->length <= parameters_->max_read_length;
}

uint64_t MapperStandardSeeder::nodes_allocated() const {
  uint64_t n = 0;
  for (const Lane &lane : lanes_) n += lane.subsets[0].nodes_allocated() + lane.subsets[1].nodes_allocated();
  return n;
}

void MapperStandardSeeder::run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                               const std::vector<MapperIndex> &indexes) {
  if (!takes(read)) return;
  MapperSeedingSteps steps = search(lanes_[0], read, seeds, strand_mask, indexes);
  while (steps.resume()) {
  }
  finish(lanes_[0], read, seeds, strand_mask, indexes);
}

void MapperStandardSeeder::run_two(MapperRead *first, MapperSeeds *first_seeds, MapperRead *second,
                                   MapperSeeds *second_seeds, uint32_t strand_mask,
                                   const std::vector<MapperIndex> &indexes) {
  if (indexes.size() > 1) {
    // The step table holds the rows of one index: reads searching two
    // indexes side by side would keep making it forget the other's.
    MapperSeeder::run_two(first, first_seeds, second, second_seeds, strand_mask, indexes);
    return;
  }
  MapperRead *reads[2] = {first, second};
  MapperSeeds *seeds[2] = {first_seeds, second_seeds};
  MapperSeedingSteps steps[2];
  bool seeded[2], going[2];
  for (int k = 0; k < 2; k++) {
    seeded[k] = going[k] = reads[k] != nullptr && takes(reads[k]);
    if (seeded[k]) steps[k] = search(lanes_[k], reads[k], seeds[k], strand_mask, indexes);
  }
  while (going[0] || going[1]) {
    for (int k = 0; k < 2; k++)
      if (going[k]) going[k] = steps[k].resume();
  }
  for (int k = 0; k < 2; k++)
    if (seeded[k]) finish(lanes_[k], reads[k], seeds[k], strand_mask, indexes);
}

MapperSeedingSteps MapperStandardSeeder::search(Lane &lane, MapperRead *read, MapperSeeds *seeds,
                                                uint32_t strand_mask, const std::vector<MapperIndex> &indexes) {
  const MapperParameters &p = *parameters_;
  const int32_t L = static_cast<int32_t>(read->length);
  const uint32_t m = p.min_seed_length;
  // Long reads, and the longest-only option, keep only seeds as long as
  // the longest; others keep seeds of two thirds of it.
  const bool keep_longest_only = p.longest_only || read->length > std::max<uint32_t>(p.normal_type_limit, 2000);

  int32_t c = static_cast<int32_t>(m);  // required seed length
  int32_t b = static_cast<int32_t>(m);  // longest seed so far
  std::vector<MapperSearch> &searches = lane.searches;
  Subset *subsets = lane.subsets;
  MapperMatch match;
  for (uint32_t i = 0; i < indexes.size(); i++) {
    searches.clear();
    step_cache_.use(indexes[i].matcher.get());
    lane.marks.start_read(indexes[i].matcher.get(), read->forward_codes, read->length);
    // Every search starts with a table look-up at its pivot; fetching them
    // all at once overlaps their cache misses.
    if ((strand_mask & 1) != 0) indexes[i].matcher->prefetch_windows(read->forward_codes, read->length);
    if ((strand_mask & 2) != 0) indexes[i].matcher->prefetch_windows(read->reverse_codes, read->length);
    for (int s = 0; s < 2; s++) {
      subsets[s].reset();
      subsets[s].add_range(0, L - c + 1);
    }
    while (((strand_mask & 1) != 0 && !subsets[0].empty()) || ((strand_mask & 2) != 0 && !subsets[1].empty())) {
      for (uint32_t strand = 0; strand < 2; strand++) {
        if ((strand_mask >> strand & 1) == 0) continue;
        Subset &subset = subsets[strand];
        SubsetInterval *node = subset.head();
        while (node != nullptr) {
          const int32_t pivot = find_pivot(node);
          searches.emplace_back();
          searches.back().start(&indexes[i]);
          match.begin(&searches.back(), static_cast<int>(strand), read->forward_codes, static_cast<uint32_t>(pivot),
                      read->length, &step_cache_, &lane.marks);
          while (match.advance()) co_await std::suspend_always{};
          const int32_t d = static_cast<int32_t>(match.matched());
          if (d == 0) {
            searches.pop_back();
            node = subset.remove_range(pivot, pivot + 1);
            continue;
          }
          MapperSearch &q = searches.back();
          q.strand = strand;
          q.index_number = i;
          q.offset = static_cast<uint32_t>(pivot);
          q.length = static_cast<uint32_t>(d);
          if (d >= c) {
            if (d > b) {
              c = keep_longest_only || d == L ? d : std::max(static_cast<int32_t>(0.67 * d), static_cast<int32_t>(m));
              for (int s = 0; s < 2; s++) subsets[s].remove_range(L - c + 1, L);
              // No seed of length c starts where it would run through the
              // symbol that ended an earlier match.
              for (const MapperSearch &r : searches) {
                const int32_t after = static_cast<int32_t>(r.offset + r.length);
                subsets[r.strand].remove_range(std::max(0, after + 1 - c), static_cast<int32_t>(r.offset));
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
  lane.required = c;
  lane.longest = b;
}

void MapperStandardSeeder::finish(Lane &lane, MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                                  const std::vector<MapperIndex> &indexes) {
  if (parameters_->mapping_quality)
    seeds->alt_hit_score = alt_nuc_hit_search(read, seeds, strand_mask, indexes, &lane.searches,
                                              static_cast<uint32_t>(lane.longest));
  remove_short_seeds(seeds, read->length, static_cast<uint32_t>(lane.required), true);
}
