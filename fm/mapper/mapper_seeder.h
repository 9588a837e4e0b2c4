// Seeds and the seeder interface.
//
// A seeder finds exact matches of substrings of a read, or of its reverse
// complement, in each reference set of an index set, and appends them to a
// seed list that the extenders then grow into alignments. Strand masks:
// bit 0 asks for seeds on the read as given, bit 1 for seeds on its
// reverse complement.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/index/mapper_index.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_search.h"

class MapperParameters;

// The seeds of one read and one seeding run.
struct MapperSeeds {
  std::vector<MapperSearch> seeds;
  // From how many other places a read almost wholly covered by one seed
  // could also come; written by the seeders when mapping qualities are
  // asked for, read by the mapping-quality step.
  uint32_t alt_hit_score = 0;

  // Empties the list, keeping its room, and forgets the score, so that a
  // seeder that writes no score leaves none from an earlier read.
  void clear() {
    seeds.clear();
    alt_hit_score = 0;
  }
};

class MapperSeeder {
 public:
  explicit MapperSeeder(const MapperParameters *parameters) : parameters_(parameters) {}
  virtual ~MapperSeeder() = default;
  MapperSeeder(const MapperSeeder &) = delete;
  MapperSeeder &operator=(const MapperSeeder &) = delete;

  // Appends the seeds of read on the strands of strand_mask in every
  // reference set of indexes to seeds.
  virtual void run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
                   const std::vector<MapperIndex> &indexes) = 0;
  // run() for first into first_seeds and second into second_seeds; a null
  // read is skipped. Seeders that can work on both at once do.
  virtual void run_two(MapperRead *first, MapperSeeds *first_seeds, MapperRead *second, MapperSeeds *second_seeds,
                       uint32_t strand_mask, const std::vector<MapperIndex> &indexes) {
    if (first != nullptr) run(first, first_seeds, strand_mask, indexes);
    if (second != nullptr) run(second, second_seeds, strand_mask, indexes);
  }

  // The step table the seeder's searches fill, for the extenders to walk
  // the same rows with; null for a seeder without one.
  virtual MapperStepCache *step_cache() { return nullptr; }

  // Searches read symbols [from, to) whole in every reference set and on
  // every strand of the mask (strand 0 first), appending to out a record
  // for each search that matched all of them: offset from on strand 0,
  // read length - to on strand 1. Returns the number appended; 0 when the
  // stretch is shorter than the minimum seed length. 0 <= from and
  // to <= read length.
  uint32_t subsequence_search(MapperRead *read, int64_t from, int64_t to, uint32_t strand_mask,
                              const std::vector<MapperIndex> &indexes, std::vector<MapperSearch> *out) const;

  // The alternative-hit score of a read whose longest seed, of length
  // longest, leaves fewer than 10 read symbols uncovered (0 otherwise):
  // occurrence counts of thirds of the read elsewhere than at the seed.
  // scratch is cleared and reused. The seeds' offsets are the searched
  // read positions (strand 1 not yet converted). Saturates at 2^32 - 1.
  uint32_t alt_nuc_hit_search(MapperRead *read, const MapperSeeds *seeds, uint32_t strand_mask,
                              const std::vector<MapperIndex> &indexes, std::vector<MapperSearch> *scratch,
                              uint32_t longest) const;

 protected:
  const MapperParameters *parameters_;
};
