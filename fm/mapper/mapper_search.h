// One seed: an exact match of read symbols in one reference set.
//
// The record is also what the extenders copy into every alignment they
// file, so it carries the seed's place in the read along with the state of
// the match in the bidirectional index.
#pragma once

#include <cstdint>
#include <vector>

#include "fm/index/bidirectional_search.h"
#include "fm/index/nucleotide_array.h"

class BidirectionalMatcher;
class MapperIndex;

// What the searches of one thread have learnt about single rows of an
// index: the symbol a row holds and the row that stepping over it leads
// to.
//
// Once a search has narrowed to one occurrence its range is one row, and
// that row depends only on where the occurrence ends in the reference
// (where it starts, for the reverse range), not on where the pattern
// began; each further matched symbol moves the row to the next reference
// place while the other range stays put. The searches of one read cover
// the same reference stretches over and over, from different pivots, so
// the rows they step through repeat, and a repeated step is a table
// look-up instead of a rank computation on a cold cache line. The facts
// hold for as long as the index exists; the table forgets them when it is
// used with another index.
class MapperStepCache {
 public:
  MapperStepCache();

  // Matches for the searches of matcher: forgets the facts of any other
  // index.
  void use(const BidirectionalMatcher *matcher);

  // Starts the searches of one read on the index last given to use():
  // walks over codes[0 .. length - 1] that run to length remember where
  // they ended, for the later walks of the same read that reach one of
  // their rows at the same read position. Walks on other codes or to
  // another end, and every walk after use() changes the index, do not use
  // these facts. Call it again for each new read, also when its codes lie
  // in the same buffer.
  void start_read(const unsigned char *codes, uint32_t length);

  // Steps a search whose own range in direction (0 forward over the text
  // array, 1 backward over the reversed array) is the one row of an
  // occurrence by the read symbols codes[pos], codes[pos + 1], ...
  // (complemented in direction 1) while the occurrence continues with
  // them, stopping before an N and at end. Returns the number of symbols
  // matched; the search then holds the extended match exactly as
  // BidirectionalSearch::add_symbol leaves it (unchanged when 0). A search
  // stays on its occurrence, so the loop keeps the row in a register and
  // asks the table for each step.
  template <int direction>
  uint32_t walk_narrow(BidirectionalSearch *search, const unsigned char *codes, uint32_t pos, uint32_t end);

  // search.add_only_symbol(direction, out), for a search whose range in
  // the direction is one row, with the row's step taken from the table
  // when a search of the same index took it before. The extenders' walks
  // go over the rows of a read's place once per seed, and over those the
  // seeding went through.
  unsigned char only_symbol(int direction, const BidirectionalSearch &search, BidirectionalSearch *out);

 private:
  static constexpr int kBits = 11;
  static constexpr uint64_t kUnknown = ~0ull;
  struct Entry {
    uint64_t row;
    uint64_t next;  // row after stepping over the symbol; kUnknown when not yet needed
    uint32_t stamp;
    uint8_t symbol;
  };
  // The entry of row in direction, made anew (its step not yet known)
  // when it held another row or a stamp of before.
  Entry &entry(int direction, const NucleotideArray *array, uint64_t row) {
    Entry &e = entries_[direction][(row * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (e.stamp != stamp_ || e.row != row) e = Entry{row, kUnknown, stamp_, array->get(row)};
    return e;
  }

  std::vector<Entry> entries_[2];
  const BidirectionalMatcher *matcher_ = nullptr;
  uint32_t stamp_ = 1;  // entries of other stamps are empty

  // A walk is fixed by its row and read position: from there it compares
  // the same read symbols with the same rows and stops at the same place.
  // So each read position keeps the row the latest walk held there and
  // that walk's number; a later walk holding the same row at the same
  // position goes straight to that walk's end.
  struct Mark {
    uint64_t row;
    uint32_t stamp;  // the read's stamp; other stamps are empty
    uint32_t walk;
  };
  struct WalkEnd {
    uint64_t row;
    uint32_t pos;
  };
  std::vector<Mark> marks_[2];
  std::vector<WalkEnd> ends_[2];
  const unsigned char *read_codes_ = nullptr;
  uint32_t read_length_ = 0;
  uint32_t read_stamp_ = 0;
};

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

  // The same two searches with a step cache (which the caller has pointed
  // at this record's index): the result and the search state are those of
  // the forms above.
  uint32_t forward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache);
  uint32_t backward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache);

 private:
  template <int direction>
  uint32_t match(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache);
};
