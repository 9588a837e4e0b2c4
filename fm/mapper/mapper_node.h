// The state of one mapping worker: its engine, its hit sampler and the
// result buffers, reused for every read the worker maps.
#pragma once

#include <vector>

#include "fm/mapper/mapper.h"
#include "fm/mapper/mapper_paired_result.h"
#include "fm/mapper/mapper_sampler.h"
#include "fm/mapper/mapper_tuple.h"

class Activity;
class MapperParameters;

class MapperNode {
 public:
  // An engine over parameters (final, outliving the node); the bytes of
  // every mapped item are added to activity's done count (may be null).
  MapperNode(MapperParameters *parameters, Activity *activity);
  MapperNode(const MapperNode &) = delete;
  MapperNode &operator=(const MapperNode &) = delete;

  // Maps the item's read (or pair) and fills its sample. The reads' reverse
  // complements live in the node's buffers while it maps them; the reads
  // point at none when it returns.
  void map_tuple(MapperTuple *tuple);

 private:
  // Points read at its sequence and its reverse complement, written into
  // the node's buffer of that mate.
  void complete_read(MapperRead *read, int mate);

  Mapper mapper_;
  MapperSampler sampler_;
  // Its mate-1 result also serves single reads.
  MapperPairedResult result_;
  Activity *activity_;
  // Reverse complements of the mates, kept from read to read.
  std::vector<unsigned char> reverse_codes_[2];
};
