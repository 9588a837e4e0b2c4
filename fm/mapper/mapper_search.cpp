#include "fm/mapper/mapper_search.h"

#include <cstring>

#include "fm/index/bidirectional_matcher.h"
#include "fm/index/mapper_index.h"
#include "fm/index/nucleotide_array.h"

namespace {

// Longest table depth looked up in one step; deeper tables (never built by
// the mapper) are walked symbol by symbol instead.
constexpr uint32_t kMaxBlock = 32;

bool all_bases(const unsigned char *codes, uint32_t n) {
  for (uint32_t j = 0; j < n; j++)
    if (codes[j] >= 4) return false;
  return true;
}

}  // namespace

MapperStepCache::MapperStepCache() {
  for (std::vector<Entry> &e : entries_) e.assign(size_t{1} << kBits, Entry{0, kUnknown, 0, 0});
}

void MapperStepCache::use(const BidirectionalMatcher *matcher) {
  if (matcher == matcher_) return;
  matcher_ = matcher;
  if (++stamp_ == 0) {
    // After 2^32 changes of index the stamps start over on a clean table.
    for (std::vector<Entry> &e : entries_) e.assign(e.size(), Entry{0, kUnknown, 0, 0});
    stamp_ = 1;
  }
}

unsigned char MapperStepCache::only_symbol(int direction, const BidirectionalSearch &search,
                                           BidirectionalSearch *out) {
  if (search.matcher != matcher_) return search.add_only_symbol(direction, out);
  const NucleotideArray *array = direction == 0 ? matcher_->text_array() : matcher_->reversed_array();
  const match_range &own = direction == 0 ? search.forward : search.reverse;
  const match_range &companion = direction == 0 ? search.reverse : search.forward;
  Entry &e = entry(direction, array, own.begin);
  const unsigned char x = e.symbol;
  if (x >= 5) return x;
  if (e.next == kUnknown) {
    e.next = array->C()[x] + array->occ(own.begin, x);
    array->prefetch(e.next);
  }
  // As in add_only_symbol: the row moves on, the companion keeps its begin.
  out->matcher = search.matcher;
  out->length = search.length + 1;
  const match_range own_out = {e.next, e.next + 1};
  const match_range companion_out = {companion.begin, companion.begin + 1};
  out->forward = direction == 0 ? own_out : companion_out;
  out->reverse = direction == 0 ? companion_out : own_out;
  return x;
}

void MapperWalkMarks::start_read(const BidirectionalMatcher *matcher, const unsigned char *codes, uint32_t length) {
  matcher_ = matcher;
  codes_ = codes;
  length_ = length;
  for (int d = 0; d < 2; d++) {
    ends_[d].clear();
    if (marks_[d].size() < size_t{length} + 1) marks_[d].resize(size_t{length} + 1, Mark{0, 0, 0});
  }
  if (++stamp_ == 0) {
    // After 2^32 reads the stamps start over on clean marks.
    for (std::vector<Mark> &m : marks_) m.assign(m.size(), Mark{0, 0, 0});
    stamp_ = 1;
  }
}

void MapperMatch::begin(MapperSearch *record, int direction, const unsigned char *codes, uint32_t pos, uint32_t end,
                        MapperStepCache *cache, MapperWalkMarks *marks) {
  record_ = record;
  direction_ = direction;
  codes_ = codes;
  end_ = end;
  const BidirectionalMatcher *matcher = record->index->matcher.get();
  // A table of another index knows nothing of this one's rows.
  cache_ = cache != nullptr && cache->matcher_ == matcher ? cache : nullptr;
  marks_ = cache_ != nullptr && marks != nullptr && marks->hold_for(matcher, codes, end) ? marks : nullptr;
  matched_ = 0;
  ended_ = false;
  narrow_ = false;
  fetched_ = false;
  BidirectionalSearch &search = record->search;
  const uint32_t k = record->index->acceleration_depth;
  if (k > 0 && k <= kMaxBlock && end > pos && end - pos >= k && all_bases(codes + pos, k)) {
    if (direction == 0) {
      matcher->init_search(&search, codes + pos, static_cast<int>(k));
    } else {
      // The reverse complement of the block.
      unsigned char block[kMaxBlock];
      for (uint32_t j = 0; j < k; j++) block[k - 1 - j] = static_cast<unsigned char>(3 - codes[pos + j]);
      matcher->init_search(&search, block, static_cast<int>(k));
    }
    // An empty block says nothing about how far the match reaches; count
    // only symbols that occur.
    if (search.count() == 0) matcher->init_search_empty(&search);
    else matched_ = k;
  }
  i_ = pos + matched_;
}

template <int direction>
bool MapperMatch::advance_in() {
  if (ended_) return false;
  if (narrow_) return walk<direction>();
  BidirectionalSearch &search = record_->search;
  if (i_ >= end_ || codes_[i_] >= 4) return finish();
  if (cache_ != nullptr && search.count() == 1) {
    narrow_ = true;
    row_ = direction == 0 ? search.forward.begin : search.reverse.begin;
    walk_start_ = i_;
    if (marks_ != nullptr) walk_ = static_cast<uint32_t>(marks_->ends_[direction].size());
    return walk<direction>();
  }
  const unsigned char c = codes_[i_];
  const unsigned char symbol = direction == 0 ? c : static_cast<unsigned char>(3 - c);
  const BidirectionalSearch before = search;
  search.add_symbol(direction, symbol);
  if (search.count() == 0) {
    search = before;
    return finish();
  }
  matched_++;
  i_++;
  // The step has asked for the rows the next one reads.
  return true;
}

template <int direction>
bool MapperMatch::walk() {
  const BidirectionalMatcher *matcher = record_->index->matcher.get();
  const NucleotideArray *array = direction == 0 ? matcher->text_array() : matcher->reversed_array();
  MapperStepCache &cache = *cache_;
  while (i_ < end_) {
    if (marks_ != nullptr) {
      const MapperWalkMarks::Mark &m = marks_->marks_[direction][i_];
      if (m.stamp == marks_->stamp_ && m.row == row_) {
        const MapperWalkMarks::WalkEnd &w = marks_->ends_[direction][m.walk];
        row_ = w.row;
        i_ = w.pos;
        break;
      }
    }
    const unsigned char c = codes_[i_];
    if (c >= 4) break;
    const unsigned char symbol = direction == 0 ? c : static_cast<unsigned char>(3 - c);
    // A row the table does not know is read from its block: ask for the
    // block and take the step on the next call.
    if (!fetched_ && !cache.knows(direction, row_)) {
      array->prefetch(row_);
      fetched_ = true;
      return true;
    }
    fetched_ = false;
    if (marks_ != nullptr) marks_->marks_[direction][i_] = MapperWalkMarks::Mark{row_, marks_->stamp_, walk_};
    // The row's symbol, and the last-to-first step over it: what
    // BidirectionalSearch::step computes for a one-row range holding it.
    // The other range keeps its one row: the occurrence still starts
    // (ends) where it did.
    MapperStepCache::Entry &e = cache.entry(direction, array, row_);
    if (e.symbol != symbol) break;
    if (e.next == MapperStepCache::kUnknown) e.next = array->C()[symbol] + array->occ(row_, symbol);
    row_ = e.next;
    i_++;
  }
  if (marks_ != nullptr) marks_->ends_[direction].push_back(MapperWalkMarks::WalkEnd{row_, i_});
  const uint32_t n = i_ - walk_start_;
  if (n > 0) {
    BidirectionalSearch &search = record_->search;
    match_range &own = direction == 0 ? search.forward : search.reverse;
    own = {row_, row_ + 1};
    search.length += static_cast<int>(n);
    matched_ += n;
  }
  return finish();
}

bool MapperMatch::advance() { return direction_ == 0 ? advance_in<0>() : advance_in<1>(); }

uint32_t MapperSearch::match(int direction, const unsigned char *codes, uint32_t pos, uint32_t end,
                             MapperStepCache *cache, MapperWalkMarks *marks) {
  MapperMatch m;
  m.begin(this, direction, codes, pos, end, cache, marks);
  while (m.advance()) {
  }
  return m.matched();
}

void MapperSearch::start(const MapperIndex *reference_set) {
  index = reference_set;
  reference_set->matcher->init_search_empty(&search);
}

uint32_t MapperSearch::forward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t) {
  return match(0, codes, pos, end, nullptr, nullptr);
}

uint32_t MapperSearch::backward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t) {
  return match(1, codes, pos, end, nullptr, nullptr);
}

uint32_t MapperSearch::forward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache,
                               MapperWalkMarks *marks) {
  return match(0, codes, pos, end, cache, marks);
}

uint32_t MapperSearch::backward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache,
                                MapperWalkMarks *marks) {
  return match(1, codes, pos, end, cache, marks);
}
