// One read as the mapping engine sees it: the parsed sequence, its reverse
// complement, and direct pointers to the symbol codes of both.
//
// Codes are 0 A, 1 C, 2 G, 3 T, 4 N. The sequence belongs to the
// pipeline's tuple, the reverse complement to whoever assigned it (a
// mapping worker keeps its own buffer, and no sequence object); the engine
// only rewrites the codes in place (the bisulphite conversions).
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

  // The same with the reverse complement's codes alone (length + 1 bytes,
  // the last one the terminator).
  void assign(Sequence *read, unsigned char *read_reverse_codes) {
    sequence = read;
    reverse_complement = nullptr;
    length = read->length;
    forward_codes = read->symbols;
    reverse_codes = read_reverse_codes;
  }

  // The codes of strand 0 (the read) or strand 1 (its reverse complement).
  unsigned char *codes(uint32_t strand) const { return strand == 0 ? forward_codes : reverse_codes; }
};
