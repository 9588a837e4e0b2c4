// A candidate of the hash mapper: a query that may align at a reference
// diagonal of the current block.
//
// Two unsigned 32-bit words, the block position of the diagonal (where the
// query's first base would lie) and then the query index. Read as one
// little-endian unsigned 64-bit value the query index is the high half, so
// sorting candidate lists with sort_u64 orders them by query and then by
// position. The seed search produces candidate lists; the scorers and the
// matcher read them.
#pragma once

#include <cstdint>

struct candidate_t {
  uint32_t position;  // block position of the diagonal
  uint32_t query;     // index of the query in its batch
};

static_assert(sizeof(candidate_t) == 8, "a candidate sorts as one 64-bit value");
