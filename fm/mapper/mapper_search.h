// One seed: an exact match of read symbols in one reference set.
//
// The record is also what the extenders copy into every alignment they
// file, so it carries the seed's place in the read along with the state of
// the match in the bidirectional index.
#pragma once

#include <cstdint>

#include "fm/index/bidirectional_search.h"

class MapperIndex;

struct MapperSearch {
  const MapperIndex *index = nullptr;  // the reference set searched
  BidirectionalSearch search;          // occurrences: the width of its forward range
  uint32_t strand = 0;                 // 0 the read, 1 its reverse complement
  uint32_t index_number = 0;           // place of the index in the index set searched
  uint32_t offset = 0;                 // first seed symbol, on the seed's own strand
  uint32_t length = 0;                 // symbols matched; 0 marks a dropped seed
  int32_t score = 0;                   // best extension score, written by the full extender

  // Points the record at reference set index with the empty search.
  void start(const MapperIndex *reference_set);

  // Occurrences of the matched text.
  unsigned long long count() const { return search.count(); }

  // Matches codes[pos], codes[pos + 1], ... while they occur, never taking
  // an N or a symbol at or beyond end, and returns the number matched (the
  // search holds exactly their range). The first acceleration-depth
  // symbols come from the index's table in one look-up when they hold no
  // N. Call after start(). read_length is not used.
  uint32_t forward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t read_length);
  // The same on the reverse complement: the search grows leftwards by the
  // complement of each further symbol, so the count still runs over read
  // symbols pos, pos + 1, ..., while the match found is that of the
  // reverse complement ending at its position read length - pos.
  uint32_t backward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t read_length);
};
