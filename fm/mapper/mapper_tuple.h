// One work item of the mapping pipeline: one read or one read pair, with
// the hits chosen for it.
#pragma once

#include <cstdint>

#include "fm/mapper/mapper.h"
#include "fm/mapper/mapper_pairer.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_sampler.h"

struct MapperTuple {
  uint32_t technology = kMapperReadNormal;  // MapperReadType of the read's file
  uint32_t read_count = 0;                  // 1 or 2
  MapperPairedParameters paired;            // of the read's file, for a pair
  // The source sets only the sequence of each read; the worker adds the
  // reverse complement and the code pointers.
  MapperRead read1;
  MapperRead read2;
  MapperSample sample;
  uint64_t bytes_consumed = 0;  // input bytes read for this item
  uint64_t read_index = 0;      // reseeding key: position in its file plus the read offset
};
