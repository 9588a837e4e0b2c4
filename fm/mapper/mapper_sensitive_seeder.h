// The seeder of the sensitive option, for reads of either technology.
//
// It looks for the whole read first. When the read does not occur whole,
// every window of the minimum seed length becomes a seed of its own, and
// runs of consecutive windows with the same occurrence count (a stretch
// that occurs at the same places) are joined into one longer seed.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/mapper/mapper_seeder.h"

class MapperSensitiveSeeder : public MapperSeeder {
 public:
  explicit MapperSensitiveSeeder(const MapperParameters *parameters);

  // Appends the seeds of read to seeds. Reads shorter than the minimum
  // seed length or longer than the maximum read length get none.
  void run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
           const std::vector<MapperIndex> &indexes) override;

 private:
  // The windows' searches, then the joined ones, of one reference set and
  // strand.
  std::vector<MapperSearch> searches_;
  // Occurrences of each window, saturated at 255; 0 when it does not occur.
  std::vector<uint8_t> counts_;
};
