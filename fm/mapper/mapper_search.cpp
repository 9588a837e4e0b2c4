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
  // The walk marks name rows of the index they were made on.
  read_codes_ = nullptr;
  if (++stamp_ == 0) {
    // After 2^32 changes of index the stamps start over on a clean table.
    for (std::vector<Entry> &e : entries_) e.assign(e.size(), Entry{0, kUnknown, 0, 0});
    stamp_ = 1;
  }
}

void MapperStepCache::start_read(const unsigned char *codes, uint32_t length) {
  read_codes_ = codes;
  read_length_ = length;
  for (int d = 0; d < 2; d++) {
    ends_[d].clear();
    if (marks_[d].size() < size_t{length} + 1) marks_[d].resize(size_t{length} + 1, Mark{0, 0, 0});
  }
  if (++read_stamp_ == 0) {
    for (std::vector<Mark> &m : marks_) m.assign(m.size(), Mark{0, 0, 0});
    read_stamp_ = 1;
  }
}

template <int direction>
uint32_t MapperStepCache::walk_narrow(BidirectionalSearch *search, const unsigned char *codes, uint32_t pos,
                                      uint32_t end) {
  match_range &own = direction == 0 ? search->forward : search->reverse;
  const NucleotideArray *array = direction == 0 ? matcher_->text_array() : matcher_->reversed_array();
  uint64_t row = own.begin;
  uint32_t i = pos;
  // Marks only hold for walks over the read the marks were made for.
  const bool marked = codes == read_codes_ && end == read_length_ && read_stamp_ != 0;
  std::vector<WalkEnd> &ends = ends_[direction];
  Mark *marks = marks_[direction].data();
  const uint32_t walk = static_cast<uint32_t>(ends.size());
  for (; i < end; i++) {
    if (marked) {
      Mark &m = marks[i];
      if (m.stamp == read_stamp_ && m.row == row) {
        const WalkEnd &w = ends[m.walk];
        row = w.row;
        i = w.pos;
        break;
      }
      m = Mark{row, read_stamp_, walk};
    }
    const unsigned char c = codes[i];
    if (c >= 4) break;
    const unsigned char symbol = direction == 0 ? c : static_cast<unsigned char>(3 - c);
    // The row's symbol, and the last-to-first step over it: what
    // BidirectionalSearch::step computes for a one-row range holding it.
    // The other range keeps its one row: the occurrence still starts
    // (ends) where it did.
    Entry &e = entry(direction, array, row);
    if (e.symbol != symbol) break;
    if (e.next == kUnknown) e.next = array->C()[symbol] + array->occ(row, symbol);
    row = e.next;
  }
  if (marked) ends.push_back(WalkEnd{row, i});
  const uint32_t n = i - pos;
  if (n > 0) {
    own = {row, row + 1};
    search->length += static_cast<int>(n);
  }
  return n;
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

template <int direction>
uint32_t MapperSearch::match(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache) {
  const BidirectionalMatcher *matcher = index->matcher.get();
  const uint32_t k = index->acceleration_depth;
  uint32_t n = 0;
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
    else n = k;
  }
  for (uint32_t i = pos + n; i < end; i++) {
    const unsigned char c = codes[i];
    if (c >= 4) break;
    const unsigned char symbol = direction == 0 ? c : static_cast<unsigned char>(3 - c);
    if (cache != nullptr && search.count() == 1) {
      n += cache->walk_narrow<direction>(&search, codes, i, end);
      break;
    }
    const BidirectionalSearch before = search;
    search.add_symbol(direction, symbol);
    if (search.count() == 0) {
      search = before;
      break;
    }
    n++;
  }
  return n;
}

void MapperSearch::start(const MapperIndex *reference_set) {
  index = reference_set;
  reference_set->matcher->init_search_empty(&search);
}

uint32_t MapperSearch::forward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t) {
  return match<0>(codes, pos, end, nullptr);
}

uint32_t MapperSearch::backward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t) {
  return match<1>(codes, pos, end, nullptr);
}

uint32_t MapperSearch::forward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache) {
  return match<0>(codes, pos, end, cache);
}

uint32_t MapperSearch::backward(const unsigned char *codes, uint32_t pos, uint32_t end, MapperStepCache *cache) {
  return match<1>(codes, pos, end, cache);
}
