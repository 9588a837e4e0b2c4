// The seeder of long reads of the pacbio technology.
//
// Such reads carry many inserted and deleted symbols, so long exact
// matches are rare. The seeder grows a region leftwards from a read
// position on both strands at once, then rightwards, stepping over up to
// ten read symbols that no occurrence continues with (an inserted symbol
// in the read). A region is kept when its total matched length comes
// within two symbols of the longest found; its seeds are its exact part.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/mapper/mapper_seeder.h"

// One region matched on both strands at once.
struct MapperDoubleSearch {
  MapperSearch forward;  // the region in the read's own orientation
  MapperSearch reverse;  // its reverse complement
  // Occurrences left on each strand; 0 for a strand not asked for.
  int64_t forward_count = 0;
  int64_t reverse_count = 0;
  int64_t start = 0;         // read position of the region's first symbol
  int64_t exact_length = 0;  // symbols matched exactly from start (what both searches hold)
  int64_t total_length = 0;  // exact length plus the symbols matched past skipped ones
};

class MapperPacbioSeeder : public MapperSeeder {
 public:
  explicit MapperPacbioSeeder(const MapperParameters *parameters);

  // Clears seeds and fills it with the seeds of every reference set in
  // order; reads longer than the maximum read length get none.
  void run(MapperRead *read, MapperSeeds *seeds, uint32_t strand_mask,
           const std::vector<MapperIndex> &indexes) override;

  // The seeds of read in one reference set, numbered index_number. The two
  // 64-bit arguments are not read.
  void find_pacbio_seeds(MapperRead *read, const MapperIndex *index, uint32_t index_number, int64_t, int64_t,
                         MapperSeeds *seeds);
  // Grows region leftwards from read position, symbol by symbol, while
  // either strand still occurs; returns the symbols taken. An N ends it.
  int64_t extend_backward(MapperRead *read, int64_t position, MapperDoubleSearch *region) const;
  // Grows region rightwards from position, up to required symbols before
  // the read end, skipping up to 10 symbols that occur on neither strand
  // (an N always counts as one). Without a skip the region is left as it
  // was; with one it holds the exact part up to the first skip, and its
  // total length counts every symbol matched.
  void extend_forward(MapperRead *read, int64_t position, int64_t required, MapperDoubleSearch *region) const;

  // Set up a fresh region on index for the strands of the current run.
  void start_region(const MapperIndex *index, MapperDoubleSearch *region) const;

 private:
  std::vector<MapperDoubleSearch> regions_;
  uint32_t strand_mask_ = 3;
};
