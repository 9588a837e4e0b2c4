// A bidirectional FM index over a set of reference sequences: the text
// array (rotations read backward, with position samples) and the reversed
// array (rotations read forward, no samples), plus an optional k-mer
// acceleration table.
//
// Acceleration table of depth k: 9 x 4^(k-1) fields as wide as the bits of
// the text length. For a prefix P of k - 1 symbols from A, C, G, T read as
// a base-4 number v (first symbol most significant), fields 9v .. 9v + 8
// hold, for b = A, C, G, T, the reverse-range begin and the forward-range
// begin of P b, and last the reverse-range end of P T. The reverse range
// of P b ends where that of P (b + 1) begins, so three reads give both
// ranges of a k-symbol pattern.
#pragma once

#include <memory>

#include "fm/index/bidirectional_search.h"
#include "fm/index/bitfield_vector.h"
#include "fm/index/nucleotide_array.h"

class Reader;
class Writer;

class BidirectionalMatcher {
 public:
  // Takes both arrays (finished, of equal length). With remap set (an
  // index fresh from the builder) every position sample and explicit
  // mapping of the text array that names a sequence id is rewritten to
  // name the index of that sequence's record; a loaded index already holds
  // record indexes. Ends the process (status 1) when a sample or mapping
  // names an id that no record has.
  BidirectionalMatcher(std::unique_ptr<NucleotideArray> text, std::unique_ptr<NucleotideArray> reversed, bool remap);
  ~BidirectionalMatcher();
  BidirectionalMatcher(const BidirectionalMatcher &) = delete;
  BidirectionalMatcher &operator=(const BidirectionalMatcher &) = delete;

  // Replaces the table by one of depth k; k <= 0, or a text of at most one
  // row, leaves no table (depth 0). Runs alone, before any search.
  void build_acceleration_table(int k);

  // The empty pattern: both full ranges.
  void init_search_empty(BidirectionalSearch *search) const;
  // The pattern of length symbols, appended left to right; its first k
  // symbols come from the table when they are all A, C, G or T.
  void init_search(BidirectionalSearch *search, const unsigned char *pattern, int length) const;

  // Asks the processor to fetch the table fields that init_search reads
  // for every window of k symbols of codes[0, n) that holds no N; no other
  // effect. A seeder calls it before searching from many places of a read,
  // so that the table's cache misses overlap instead of following one
  // another.
  void prefetch_windows(const unsigned char *codes, uint64_t n) const;

  // Steps own / companion over array with the symbol whose companion
  // sub-range holds row target, and returns that symbol; 255 (nothing
  // changed) when target lies outside the companion range.
  static unsigned char step_implicit(const NucleotideArray *array, match_range *own, match_range *companion,
                                     unsigned long long target);
  // The first n symbols read forward from the rotation of reversed-array
  // row target, into out[0 .. n-1].
  void get_suffix_for_id(unsigned long long target, unsigned char *out, int n) const;
  // The n symbols that end the rotation of text-array row target, read
  // left to right, into out[0 .. n-1].
  void get_prefix_for_id(unsigned long long target, unsigned char *out, int n) const;

  // Saves the text array, then the reversed array. A short write ends the
  // process (Writer::write_error).
  void save(Writer *out) const;
  // Loads what save writes; null when either array is null (samples
  // announced but not stored). The matcher has no table. Damaged images end
  // the process as NucleotideArray::load does.
  static std::unique_ptr<BidirectionalMatcher> load(Reader *in);

  // Bytes held: both arrays, 32 for the matcher itself, and the table's
  // packed fields.
  unsigned long long memory_usage() const;

  const NucleotideArray *text_array() const { return text_.get(); }
  const NucleotideArray *reversed_array() const { return reversed_.get(); }
  int acceleration_depth() const { return depth_; }
  const BitfieldVector *acceleration_table() const { return table_.get(); }

 private:
  void remap_sequence_ids();
  void fill_table(const BidirectionalSearch &search, int depth, uint64_t base);

  std::unique_ptr<NucleotideArray> text_;
  std::unique_ptr<NucleotideArray> reversed_;
  int depth_ = 0;
  std::unique_ptr<BitfieldVector> table_;
};
