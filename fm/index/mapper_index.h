// One searchable set of reference sequences as the read mapper uses it: a
// bidirectional matcher with its acceleration table, the sequences'
// lengths and circular flags, and the global id of its first sequence.
//
// Saved record: the text array, the reversed array, unsigned 64-bit m, m
// unsigned 64-bit sequence lengths, m unsigned 32-bit circular flags (1 or
// 0). The first id, the acceleration depth and the second-set flag are not
// stored.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fm/index/bidirectional_matcher.h"

class Reader;
class Writer;

struct MapperIndexRef {
  uint64_t length;  // bases, no separator
  bool circular;
};

class MapperIndex {
 public:
  // Takes the matcher and the refs (one per sequence, in sequence-id
  // order) and builds the acceleration table of the given depth.
  MapperIndex(std::unique_ptr<BidirectionalMatcher> matcher, std::vector<MapperIndexRef> &&refs,
              uint64_t first_sequence_id, unsigned int acceleration_depth, bool second_set);
  // Loads one record from in and builds the acceleration table. A short
  // read ends the process (Reader::read_error); a record that cannot be
  // loaded or whose parts do not fit together ends it with "Index file
  // '%s' is corrupt.\n" (status 1).
  MapperIndex(uint64_t first_sequence_id, Reader *in, unsigned int acceleration_depth, bool second_set);
  MapperIndex(MapperIndex &&) noexcept = default;
  MapperIndex &operator=(MapperIndex &&) noexcept = default;
  ~MapperIndex();

  // Writes the record. A short write ends the process
  // (Writer::write_error).
  void save(Writer *out) const;

  std::unique_ptr<BidirectionalMatcher> matcher;
  uint64_t first_sequence_id = 0;
  std::vector<MapperIndexRef> refs;
  unsigned int acceleration_depth = 0;
  bool second_set = false;
};
