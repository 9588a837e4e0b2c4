// The scoring of a mapping run as the fields block of the result file
// records it.
#pragma once

#include <cstdint>

#include "fm/runtime/reader_writer.h"

class NYRScoringScheme {
 public:
  // Costs are positive numbers in units of the match score; an open cost of
  // 0 means linear gaps. A gap is an insertion (a read symbol without a
  // reference symbol); global is true for the global align mode.
  NYRScoringScheme(int16_t match, int16_t mismatch, int16_t gap_open, int16_t gap_cost, int16_t deletion_open,
                   int16_t deletion_cost, bool global);

  // Writes the scheme as type 3, 20 bytes: first insertion (open + cost),
  // further insertion, first deletion, further deletion, match score, the
  // mismatch cost negated three times, colour cost -1 (none), mode 3 for
  // global or 0 for local. A short write ends the process (write_error).
  void serialize(Writer *writer) const;

  int16_t match_score;
  int16_t mismatch_cost;
  int16_t gap_open;
  int16_t gap_cost;
  int16_t deletion_open;
  int16_t deletion_cost;
  bool global;
};
