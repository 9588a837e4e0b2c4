#include "fm/index/bidirectional_search.h"

#include <algorithm>
#include <cstdio>

#include "common/ryx_exit.h"
#include "fm/index/bidirectional_matcher.h"
#include "fm/index/nucleotide_array.h"

namespace {

// Occurrences are located this many at a time, so that the memory
// fetches of their walks overlap.
constexpr unsigned kBatch = 100;

[[noreturn]] void walk_failed() {
  fputs("Index is damaged: a matched row reaches neither a position sample nor a mapping.\n", stderr);
  fflush(stderr);
  ryx_exit(1);
}

// {sequence id, q - back} of record index, wrapped into the sequence. The
// wrap is taken modulo the record's length; a record of length 0 (never
// one of the text array) gives offset 0 instead of looping.
_sequence_position place(const NucleotideArray *text, uint32_t index, uint64_t q, uint64_t back) {
  const na_sequence &record = text->sequence(index);
  long long p = static_cast<long long>(q) - static_cast<long long>(back);
  if (p < 0) {
    const long long length = record.length;
    p = length == 0 ? 0 : ((p % length) + length) % length;
  }
  return {record.sequence_id, static_cast<unsigned int>(p)};
}

// The counts of the rows before the end of a range from those before its
// begin: a range of one row adds that row's symbol x to every count of the
// symbols above x (count c covers the symbols below c; a separator is not
// counted by count 5), an empty range adds nothing. Most ranges of a search
// are that narrow once a few symbols have matched, and this spares the
// second rank look-up. Returns false for wider ranges.
bool narrow_range_counts(const NucleotideArray *array, const match_range &range, const unsigned long long *lo,
                         unsigned long long *hi, int n) {
  const unsigned long long width = range.end - range.begin;
  if (width > 1) return false;
  const unsigned x = width == 0 ? 7 : array->get(range.begin);
  for (int c = 0; c < n; c++) hi[c] = lo[c] + (x < static_cast<unsigned>(c) ? 1 : 0);
  return true;
}

}  // namespace

void BidirectionalSearch::step(const NucleotideArray *array, match_range *own, match_range *companion,
                               unsigned char symbol) {
  unsigned long long lo[7], hi[7];
  // A, C, G and T need only the first five counts.
  const int n = symbol < 4 ? 5 : 7;
  if (n == 5) array->occ_bases(own->begin, lo);
  else array->occ_all_popcnt(own->begin, lo);
  if (!narrow_range_counts(array, *own, lo, hi, n)) {
    if (n == 5) array->occ_bases(own->end, hi);
    else array->occ_all_popcnt(own->end, hi);
  }
  const unsigned long long base = array->C()[symbol];
  const unsigned long long begin = base + lo[symbol + 1] - lo[symbol];
  const unsigned long long end = base + hi[symbol + 1] - hi[symbol];
  // Occurrences continuing with a symbol below this one come first in the
  // companion range.
  const unsigned long long companion_begin = companion->begin + (hi[symbol] - lo[symbol]);
  own->begin = begin;
  own->end = end;
  companion->begin = companion_begin;
  companion->end = companion_begin + (end - begin);
  array->prefetch(begin);
  array->prefetch(end);
}

void BidirectionalSearch::step_all(const NucleotideArray *array, const match_range &own, const match_range &companion,
                                   match_range own_out[6], match_range companion_out[6]) {
  unsigned long long lo[7], hi[7];
  array->occ_all_popcnt(own.begin, lo);
  if (!narrow_range_counts(array, own, lo, hi, 7)) array->occ_all_popcnt(own.end, hi);
  const unsigned long long *C = array->C();
  for (int c = 0; c < 6; c++) {
    own_out[c] = {C[c] + lo[c + 1] - lo[c], C[c] + hi[c + 1] - hi[c]};
    const unsigned long long begin = companion.begin + (hi[c] - lo[c]);
    companion_out[c] = {begin, begin + (own_out[c].end - own_out[c].begin)};
  }
}

void BidirectionalSearch::add_symbol(int direction, unsigned char symbol) {
  if (direction == 0) step(matcher->text_array(), &forward, &reverse, symbol);
  else step(matcher->reversed_array(), &reverse, &forward, symbol);
  length++;
}

void BidirectionalSearch::add_all_symbols(int direction, BidirectionalSearch *out) const {
  match_range own[6], companion[6];
  if (direction == 0) step_all(matcher->text_array(), forward, reverse, own, companion);
  else step_all(matcher->reversed_array(), reverse, forward, own, companion);
  for (int c = 0; c < 6; c++) {
    out[c].matcher = matcher;
    out[c].length = length + 1;
    out[c].forward = direction == 0 ? own[c] : companion[c];
    out[c].reverse = direction == 0 ? companion[c] : own[c];
  }
}

unsigned char BidirectionalSearch::add_only_symbol(int direction, BidirectionalSearch *out) const {
  const NucleotideArray *array = direction == 0 ? matcher->text_array() : matcher->reversed_array();
  const match_range &own = direction == 0 ? forward : reverse;
  const match_range &companion = direction == 0 ? reverse : forward;
  const unsigned char x = array->get(own.begin);
  if (x >= 5) return x;
  // The step of step_all for a one-row range holding x: the row moves by
  // the last-to-first mapping, and no occurrence continues with a symbol
  // below x, so the companion range keeps its begin.
  const unsigned long long begin = array->C()[x] + array->occ(own.begin, x);
  array->prefetch(begin);
  out->matcher = matcher;
  out->length = length + 1;
  const match_range own_out = {begin, begin + 1};
  const match_range companion_out = {companion.begin, companion.begin + 1};
  out->forward = direction == 0 ? own_out : companion_out;
  out->reverse = direction == 0 ? companion_out : own_out;
  return x;
}

void BidirectionalSearch::num_matches_for_symbols(int direction, unsigned long long *counts) const {
  const NucleotideArray *array = direction == 0 ? matcher->text_array() : matcher->reversed_array();
  const match_range &range = direction == 0 ? forward : reverse;
  unsigned long long lo[7], hi[7];
  array->occ_all_popcnt(range.begin, lo);
  array->occ_all_popcnt(range.end, hi);
  for (int c = 0; c < 6; c++) counts[c] = (hi[c + 1] - hi[c]) - (lo[c + 1] - lo[c]);
}

bool BidirectionalSearch::equal(BidirectionalSearch const *other) const {
  return length == other->length && forward.begin == other->forward.begin && forward.end == other->forward.end &&
         reverse.begin == other->reverse.begin && reverse.end == other->reverse.end;
}

bool BidirectionalSearch::locationally_equal(BidirectionalSearch const *other) const {
  return (forward.begin == other->forward.begin && forward.end == other->forward.end) ||
         (reverse.begin == other->reverse.begin && reverse.end == other->reverse.end);
}

void BidirectionalSearch::get_position(_sequence_position *position, int offset) const {
  *position = place(matcher->text_array(), position->sequence_id, position->offset,
                    static_cast<uint64_t>(static_cast<long long>(offset)));
}

void BidirectionalSearch::get_match_positions(unsigned long long first, unsigned long long count,
                                              _sequence_position *out) const {
  const NucleotideArray *text = matcher->text_array();
  if (count == 0) return;
  if (text->sampling_shift() < 0) walk_failed();
  const unsigned long long *C = text->C();
  const auto &mappings = text->position_mappings();
  // In a sound array every walk ends within one sequence length: at a
  // sampled row or back at its start. Anything longer is a damaged index.
  const uint64_t step_limit = uint64_t{text->max_sequence_length()} + 1;

  struct Walk {
    uint64_t start;     // the matched row
    uint64_t row;       // where the walk stands
    uint64_t smallest;  // smallest row seen
    uint64_t smallest_steps;
  };
  Walk walks[kBatch];
  unsigned open[kBatch];

  for (unsigned long long done = 0; done < count; done += kBatch) {
    const unsigned n = static_cast<unsigned>(std::min<unsigned long long>(kBatch, count - done));
    for (unsigned i = 0; i < n; i++) {
      const uint64_t row = forward.begin + first + done + i;
      walks[i] = {row, row, row, 0};
      open[i] = i;
    }
    unsigned open_count = n;
    for (uint64_t s = 0; open_count > 0; s++) {
      if (s > step_limit) walk_failed();
      unsigned kept = 0;
      for (unsigned k = 0; k < open_count; k++) {
        const unsigned i = open[k];
        Walk &w = walks[i];
        _sequence_position *target = out + (w.start - forward.begin - first);
        if (text->is_sampled(w.row)) {
          const uint64_t v = text->sample(w.row);
          *target = place(text, text->sample_sequence(v), text->sample_position(v), s + length);
          continue;
        }
        if (s > 0 && w.row == w.start) {
          // Once around a sequence without samples: its mapping names the
          // smallest of its rows.
          auto it = std::lower_bound(mappings.begin(), mappings.end(), w.smallest,
                                     [](const NucleotideArray::_position_mapping &m, uint64_t r) { return m.row < r; });
          if (it == mappings.end() || it->row != w.smallest) walk_failed();
          *target = place(text, it->sequence_id, it->position, w.smallest_steps + length);
          continue;
        }
        const unsigned char c = text->get(w.row);
        w.row = C[c] + text->occ(w.row, c);
        text->prefetch(w.row);
        if (w.row < w.smallest) {
          w.smallest = w.row;
          w.smallest_steps = s + 1;
        }
        open[kept++] = i;
      }
      open_count = kept;
    }
  }
}
