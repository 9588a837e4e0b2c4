// One read as the mapping engine sees it: the parsed sequence, its reverse
// complement, and direct pointers to the symbol codes of both.
//
// Codes are 0 A, 1 C, 2 G, 3 T, 4 N. Both sequences belong to the
// pipeline's tuple; the engine only rewrites their codes in place (the
// bisulphite conversions).
#pragma once

#include <cstdint>

#include "fm/runtime/sequence.h"

struct MapperRead {
  Sequence *sequence = nullptr;
  Sequence *reverse_complement = nullptr;
  uint32_t length = 0;
  unsigned char *forward_codes = nullptr;
  unsigned char *reverse_codes = nullptr;

  // Points the record at a read and its reverse complement (a reversed
  // copy of it, of the same length).
  void assign(Sequence *read, Sequence *read_reverse_complement) {
    sequence = read;
    reverse_complement = read_reverse_complement;
    length = read->length;
    forward_codes = read->symbols;
    reverse_codes = read_reverse_complement->symbols;
  }

  // The codes of strand 0 (the read) or strand 1 (its reverse complement).
  unsigned char *codes(uint32_t strand) const { return strand == 0 ? forward_codes : reverse_codes; }
};
