// One exact-match search in a bidirectional FM index.
//
// A search holds the pattern matched so far as two row intervals of equal
// size: the forward range over the text array (rotations read backward,
// so appending a symbol on the right is one backward-search step there)
// and the reverse range over the reversed array (rotations read forward,
// so prepending a symbol on the left is one step there). Each step narrows
// the other range too: the companion sub-range of symbol c begins after
// the occurrences that continue with a symbol below c, and those are the
// rows of the own range holding such a symbol.
#pragma once

#include <cstdint>

class BidirectionalMatcher;
class NucleotideArray;

// Half-open row interval [begin, end).
struct match_range {
  unsigned long long begin;
  unsigned long long end;
};

// A place in the reference: the sequence id and the offset of the match
// start within that sequence.
struct _sequence_position {
  unsigned int sequence_id;
  unsigned int offset;

  bool operator==(const _sequence_position &) const = default;
};

class BidirectionalSearch {
 public:
  // Appends symbol (0 to 5) on the right (direction 0) or prepends it on
  // the left (direction 1). A symbol that does not continue any occurrence
  // leaves both ranges empty, and they stay empty.
  void add_symbol(int direction, unsigned char symbol);

  // One extension step over array: own is the range over that array,
  // companion the range over the other one; both become the ranges of the
  // pattern extended by symbol.
  static void step(const NucleotideArray *array, match_range *own, match_range *companion, unsigned char symbol);
  // The six one-symbol extensions (codes 0 to 5) of own / companion at
  // once, from two rank look-ups.
  static void step_all(const NucleotideArray *array, const match_range &own, const match_range &companion,
                       match_range own_out[6], match_range companion_out[6]);

  // out[0..5]: this search extended by each symbol 0 to 5 in the direction
  // (0 on the right, 1 on the left).
  void add_all_symbols(int direction, BidirectionalSearch *out) const;
  // For a search whose range in the direction is one row (one occurrence
  // to extend): returns the symbol (0 to 5) that the occurrence continues
  // with and, when it is below 5, sets *out to this search extended by it,
  // exactly as add_all_symbols would (every other extension is empty). One
  // rank look-up on the row's block instead of the six extensions.
  unsigned char add_only_symbol(int direction, BidirectionalSearch *out) const;
  // counts[c]: how many occurrences continue with symbol c (0 to 5) in the
  // direction.
  void num_matches_for_symbols(int direction, unsigned long long *counts) const;

  // Same length and the same four range bounds.
  bool equal(BidirectionalSearch const *other) const;
  // The same forward range or the same reverse range.
  bool locationally_equal(BidirectionalSearch const *other) const;

  // Occurrences matched (the width of either range).
  unsigned long long count() const { return forward.end - forward.begin; }

  // Writes to out[0 .. count - 1] the places of the occurrences first to
  // first + count - 1, in row order of the forward range. Each is found by
  // walking last-to-first steps to a sampled row, or, for a sequence
  // without samples, once around the sequence to its explicit mapping.
  // The text array must carry position samples. An index whose walk finds
  // neither (damaged) ends the process with a message (status 1).
  void get_match_positions(unsigned long long first, unsigned long long count, _sequence_position *out) const;
  // Turns an internal position {record index, text position} into the
  // place offset symbols before it: {sequence id, position - offset},
  // wrapped into the sequence when negative.
  void get_position(_sequence_position *position, int offset) const;

  BidirectionalMatcher const *matcher = nullptr;
  int length = 0;  // symbols matched so far
  match_range forward{0, 0};
  match_range reverse{0, 0};
};
