#include "fm/mapper/mapper_pacbio_seeder.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

namespace {

// Skipped read symbols one forward extension may step over.
constexpr int kSkipBudget = 10;

// The part of a region that a symbol step may have to undo.
struct RegionState {
  BidirectionalSearch forward;
  BidirectionalSearch reverse;
  int64_t forward_count;
  int64_t reverse_count;
};

RegionState state_of(const MapperDoubleSearch &r) {
  return {r.forward.search, r.reverse.search, r.forward_count, r.reverse_count};
}

void restore(MapperDoubleSearch *r, const RegionState &s) {
  r->forward.search = s.forward;
  r->reverse.search = s.reverse;
  r->forward_count = s.forward_count;
  r->reverse_count = s.reverse_count;
}

// Adds read symbol c to both strands of the region: on strand 0 in
// direction forward_direction (1 prepends, 0 appends), complemented on
// strand 1 in the other direction. Each strand takes it only while it
// still occurs. Returns whether either strand still occurs. A read N
// occurs on neither: it would only ever match a reference N.
bool add_to_region(MapperDoubleSearch *r, unsigned char c, int forward_direction) {
  if (c >= 4) return false;
  if (r->forward_count != 0) {
    r->forward.search.add_symbol(forward_direction, c);
    r->forward_count = static_cast<int64_t>(r->forward.search.count());
  }
  if (r->reverse_count != 0) {
    r->reverse.search.add_symbol(1 - forward_direction, static_cast<unsigned char>(3 - c));
    r->reverse_count = static_cast<int64_t>(r->reverse.search.count());
  }
  return r->forward_count != 0 || r->reverse_count != 0;
}

}  // namespace

MapperPacbioSeeder::MapperPacbioSeeder(const MapperParameters *parameters) : MapperSeeder(parameters) {
  regions_.reserve(1000);
}

void MapperPacbioSeeder::run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                             const std::vector<MapperIndex> &indexes) {
  seeds->clear();
  if (read->length > parameters_->max_read_length) return;
  strand_mask_ = strand_mask;
  for (uint32_t i = 0; i < indexes.size(); i++) find_pacbio_seeds(read, &indexes[i], i, 0, 0, seeds);
}

void MapperPacbioSeeder::start_region(const MapperIndex *index, MapperDoubleSearch *region) const {
  region->forward.start(index);
  region->reverse.start(index);
  region->forward_count = (strand_mask_ & 1) != 0 ? static_cast<int64_t>(region->forward.count()) : 0;
  region->reverse_count = (strand_mask_ & 2) != 0 ? static_cast<int64_t>(region->reverse.count()) : 0;
  region->start = 0;
  region->exact_length = 0;
  region->total_length = 0;
}

int64_t MapperPacbioSeeder::extend_backward(MapperRead *read, int64_t position, MapperDoubleSearch *region) const {
  const unsigned char *codes = read->forward_codes;
  int64_t taken = 0;
  for (int64_t q = position; q >= 0; q--) {
    const RegionState before = state_of(*region);
    if (!add_to_region(region, codes[q], 1)) {
      restore(region, before);
      break;
    }
    taken++;
  }
  return taken;
}

void MapperPacbioSeeder::extend_forward(MapperRead *read, int64_t position, int64_t required,
                                        MapperDoubleSearch *region) const {
  const unsigned char *codes = read->forward_codes;
  const int64_t stop = static_cast<int64_t>(read->length) - required;
  int skips = 0;
  int64_t matched = 0;           // symbols taken
  int64_t matched_at_skip = 0;   // symbols taken before the first skip
  RegionState exact{};           // the state at the first skip
  const RegionState entry = state_of(*region);
  for (int64_t q = position; q < stop; q++) {
    const RegionState before = state_of(*region);
    if (add_to_region(region, codes[q], 0)) {
      matched++;
      continue;
    }
    restore(region, before);
    if (skips == kSkipBudget) break;
    skips++;
    if (skips == 1) {
      exact = before;
      matched_at_skip = matched;
    }
  }
  if (skips == 0) {
    // A run without any skip keeps only what the backward step found.
    restore(region, entry);
    return;
  }
  restore(region, exact);
  region->exact_length += matched_at_skip;
  region->total_length += matched;
}

void MapperPacbioSeeder::find_pacbio_seeds(MapperRead *read, const MapperIndex *index, uint32_t index_number,
                                           int64_t, int64_t, MapperSeeds *seeds) {
  regions_.clear();
  const int64_t L = read->length;
  int64_t c = parameters_->min_seed_length;
  if (L <= c) return;
  MapperDoubleSearch region;
  for (int64_t i = 0; i < L - c;) {
    start_region(index, &region);
    const int64_t n = extend_backward(read, i, &region);
    if (n == 0) {
      i++;
      continue;
    }
    region.start = i + 1 - n;
    region.exact_length = n;
    region.total_length = n;
    extend_forward(read, i + 1, c, &region);
    if (region.total_length >= c - 2) {
      c = std::max(c, region.total_length);
      regions_.push_back(region);
    }
    // On just past the end of the exact part.
    i += region.exact_length - n + 1;
  }
  for (const MapperDoubleSearch &r : regions_) {
    if (r.total_length < c - 2) continue;
    if (r.forward_count != 0) {
      MapperSearch seed = r.forward;
      seed.strand = 0;
      seed.index_number = index_number;
      seed.offset = static_cast<uint32_t>(r.start);
      seed.length = static_cast<uint32_t>(r.exact_length);
      seed.score = 0;
      seeds->seeds.push_back(seed);
    }
    if (r.reverse_count != 0) {
      MapperSearch seed = r.reverse;
      seed.strand = 1;
      seed.index_number = index_number;
      seed.offset = static_cast<uint32_t>(L - r.start - r.exact_length);
      seed.length = static_cast<uint32_t>(r.exact_length);
      seed.score = 0;
      seeds->seeds.push_back(seed);
    }
  }
}
