// The seeder of reads of the normal technology: pivot seeding.
//
// For each strand a Subset holds the read positions from which a seed of
// the currently required length could still start. Each search starts at
// the middle of an uncovered interval and matches as far right as the
// reference allows; what it finds rules out every position whose seed
// would have to run through the symbol that ended the match. The required
// length rises with the longest seed found (to two thirds of it, or to all
// of it for long reads or with the longest-only option), so a read is
// covered by few searches. The seeds that survive are the maximal exact
// matches of at least the final required length, none inside another.
//
// The searches are bound by memory latency: nearly every step waits for
// an index block. Two reads can be seeded side by side (the mates of a
// pair): each read's seeding runs as a coroutine that stops whenever its
// next step waits for a block it has asked for, and the other one goes on
// meanwhile. The seeds of each read are those it gets alone.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/mapper/mapper_seeder.h"
#include "fm/mapper/subset.h"

class MapperSeedingSteps;

class MapperStandardSeeder : public MapperSeeder {
 public:
  explicit MapperStandardSeeder(const MapperParameters *parameters);

  // Appends the seeds of read to seeds (which the caller has cleared). A
  // read shorter than the minimum seed length or longer than the maximum
  // read length gets none and leaves the list untouched. Strand-1 seeds
  // come out with reverse-complement offsets.
  void run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
           const std::vector<MapperIndex> &indexes) override;
  // Both reads at once, taking turns while either waits for memory.
  void run_two(MapperRead *first, MapperSeeds *first_seeds, MapperRead *second, MapperSeeds *second_seeds,
               uint32_t strand_mask, const std::vector<MapperIndex> &indexes) override;

  // Where to search next in an interval: its begin when that is 0 or less,
  // else its midpoint.
  static int32_t find_pivot(const SubsetInterval *interval);
  // True when seeds holds a seed of the same strand and reference set that
  // starts no later and ends no earlier than seed.
  static bool is_seed_contained(const MapperSeeds *seeds, const MapperSearch &seed);
  // Compacts seeds in place, keeping order: drops seeds shorter than
  // min_length or of length 0; with convert_offsets a kept strand-1 seed's
  // offset becomes read_length - length - offset.
  static void remove_short_seeds(MapperSeeds *seeds, uint32_t read_length, uint32_t min_length, bool convert_offsets);

  MapperStepCache *step_cache() override { return &step_cache_; }

  // Interval nodes allocated by the Subsets so far.
  uint64_t nodes_allocated() const;

 private:
  // The state of the seeding of one read.
  struct Lane {
    // Every search made for the current reference set, found or not.
    std::vector<MapperSearch> searches;
    Subset subsets[2];
    MapperWalkMarks marks;
    int32_t required = 0;  // seed length kept
    int32_t longest = 0;   // longest seed found
  };

  // Whether the seeder seeds read at all: its length is within bounds.
  bool takes(const MapperRead *read) const;
  // The searches of read on lane, stopping whenever a step waits for
  // memory.
  MapperSeedingSteps search(Lane &lane, MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                            const std::vector<MapperIndex> &indexes);
  // After the searches: the mapping-quality score and the seeds too short
  // to keep.
  void finish(Lane &lane, MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
              const std::vector<MapperIndex> &indexes);

  Lane lanes_[2];
  // Steps of one-occurrence searches already taken, which the pivots of a
  // read take again and again; a fact of the index, shared by the lanes.
  MapperStepCache step_cache_;
};
