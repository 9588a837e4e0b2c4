// The quality filter of reported alignments.
//
// Each column of an alignment goes into a track as a value: a match column
// (read and reference symbol equal) adds denominator - numerator of the
// similarity fraction, any other column (mismatch, insertion, deletion,
// soft clip) adds - numerator. A stretch of columns then sums to zero or
// more exactly when its share of match columns is at least the similarity.
// An alignment passes when some stretch of at least the length fraction of
// its columns does.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/mapper/alignment.h"

class MapperParameters;

class MapperFilter {
 public:
  // The similarity and length fraction of the parameters (4/5 and 1/2 by
  // default).
  explicit MapperFilter(const MapperParameters *parameters);
  MapperFilter(uint32_t similarity_numerator, uint32_t similarity_denominator, uint32_t length_numerator,
               uint32_t length_denominator);

  // Empties the track, keeping its room.
  void clear() { track.clear(); }
  // Appends n columns, match columns when match is set.
  void add(bool match, uint32_t n);
  // Whether the track fails: no stretch of at least
  // floor(columns x length fraction) columns reaches the similarity. A
  // length of 0 passes every track. scan_from_end runs the search from the
  // last column; the verdict is the same.
  bool disqualified(bool scan_from_end) const;

  std::vector<int32_t> track;
  uint32_t similarity_numerator;
  uint32_t similarity_denominator;
  uint32_t length_numerator;
  uint32_t length_denominator;
};

// Whether alignment passes filter. reference holds the reference symbols
// from the alignment's start, read the read symbols of its strand from the
// read's start (the code covers the whole read, clips included). Only equal
// bases count as matches: an N never matches, as it never scores as one.
bool filter_alignment(MapperFilter *filter, const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                      bool scan_from_end);
