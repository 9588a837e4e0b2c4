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

  // search.add_only_symbol(direction, out), for a search whose range in
  // the direction is one row, with the row's step taken from the table
  // when a search of the same index took it before. The extenders' walks
  // go over the rows of a read's place once per seed, and over those the
  // seeding went through.
  unsigned char only_symbol(int direction, const BidirectionalSearch &search, BidirectionalSearch *out);

 private:
  friend class MapperMatch;
  static constexpr int kBits = 11;
  static constexpr uint64_t kUnknown = ~0ull;
  struct Entry {
    uint64_t row;
    uint64_t next;  // row after stepping over the symbol; kUnknown when not yet needed
    uint32_t stamp;
    uint8_t symbol;
  };
  Entry &slot(int direction, uint64_t row) {
    return entries_[direction][(row * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
  }
  // Whether the table knows the symbol of row in direction.
  bool knows(int direction, uint64_t row) {
    const Entry &e = slot(direction, row);
    return e.stamp == stamp_ && e.row == row;
  }
  // The entry of row in direction, made anew (its step not yet known)
  // when it held another row or a stamp of before.
  Entry &entry(int direction, const NucleotideArray *array, uint64_t row) {
    Entry &e = slot(direction, row);
    if (e.stamp != stamp_ || e.row != row) e = Entry{row, kUnknown, stamp_, array->get(row)};
    return e;
  }

  std::vector<Entry> entries_[2];
  const BidirectionalMatcher *matcher_ = nullptr;
  uint32_t stamp_ = 1;  // entries of other stamps are empty
};

// Where the one-occurrence walks of one read went.
//
// A walk is fixed by its row and read position: from there it compares the
// same read symbols with the same rows and stops at the same place. So
// each read position keeps the row the latest walk held there and that
// walk's number; a later walk of the same read holding the same row at the
// same position goes straight to that walk's end. The searches of a read
// start from pivots inside the stretches earlier searches matched, and
// their walks join the earlier ones after a few symbols.
class MapperWalkMarks {
 public:
  // Starts the walks of one read over codes[0 .. length - 1] on matcher's
  // index: walks that run to length on those codes leave their marks and
  // follow those of the walks before them; walks on other codes, to
  // another end or on another index do neither. Call it again for each
  // new read, also when its codes lie in the same buffer.
  void start_read(const BidirectionalMatcher *matcher, const unsigned char *codes, uint32_t length);

 private:
  friend class MapperMatch;
  struct Mark {
    uint64_t row;
    uint32_t stamp;  // the read's stamp; other stamps are empty
    uint32_t walk;
  };
  struct WalkEnd {
    uint64_t row;
    uint32_t pos;
  };
  bool hold_for(const BidirectionalMatcher *matcher, const unsigned char *codes, uint32_t end) const {
    return stamp_ != 0 && matcher == matcher_ && codes == codes_ && end == length_;
  }

  std::vector<Mark> marks_[2];
  std::vector<WalkEnd> ends_[2];
  const BidirectionalMatcher *matcher_ = nullptr;
  const unsigned char *codes_ = nullptr;
  uint32_t length_ = 0;
  uint32_t stamp_ = 0;
};

struct MapperSearch;

// One match of read symbols in progress, taken a step at a time: a step
// whose memory is not yet at hand is asked for and left to the next call,
// so that a caller with several matches to make can work on another while
// it arrives.
class MapperMatch {
 public:
  // Begins matching, in record (after its start()), codes[pos],
  // codes[pos + 1], ... forward on the read (direction 0) or as the
  // reverse complement growing leftwards (direction 1), exactly as
  // MapperSearch::forward and backward do; once the match is down to one
  // occurrence its steps go through cache, and through marks when they
  // hold for the walk (either may be null; a cache pointed at another
  // index is not used). The first acceleration-depth symbols come from
  // the index's table when they hold no N.
  void begin(MapperSearch *record, int direction, const unsigned char *codes, uint32_t pos, uint32_t end,
             MapperStepCache *cache, MapperWalkMarks *marks);
  // Takes steps until the next one needs memory not at hand, which it asks
  // the processor for, and returns true; returns false once the match has
  // ended, with the record holding it.
  bool advance();
  // Symbols matched so far; all of the match once advance() returned false.
  uint32_t matched() const { return matched_; }

 private:
  template <int direction>
  bool advance_in();
  template <int direction>
  bool walk();
  bool finish() {
    ended_ = true;
    return false;
  }

  MapperSearch *record_ = nullptr;
  const unsigned char *codes_ = nullptr;
  MapperStepCache *cache_ = nullptr;
  MapperWalkMarks *marks_ = nullptr;  // null when they do not hold for this match
  int direction_ = 0;
  uint32_t end_ = 0;
  uint32_t i_ = 0;        // next read position to match
  uint32_t matched_ = 0;  // symbols matched
  bool ended_ = true;
  // The one-occurrence walk: its row, where it began, its number among
  // the read's walks, and whether its next row has been asked for.
  bool narrow_ = false;
  bool fetched_ = false;
  uint64_t row_ = 0;
  uint32_t walk_start_ = 0;
  uint32_t walk_ = 0;
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
  // at this record's index) and the read's walk marks (may be null): the
  // result and the search state are those of the forms above.
  uint32_t forward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache,
                   MapperWalkMarks *marks = nullptr);
  uint32_t backward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache,
                    MapperWalkMarks *marks = nullptr);

 private:
  uint32_t match(int direction, const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache,
                 MapperWalkMarks *marks);
};
