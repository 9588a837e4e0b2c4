#include "fm/mapper/mapper_search.h"

#include "fm/index/bidirectional_matcher.h"
#include "fm/index/mapper_index.h"

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

void MapperSearch::start(const MapperIndex *reference_set) {
  index = reference_set;
  reference_set->matcher->init_search_empty(&search);
}

uint32_t MapperSearch::forward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t) {
  const BidirectionalMatcher *matcher = index->matcher.get();
  const uint32_t k = index->acceleration_depth;
  uint32_t n = 0;
  if (k > 0 && k <= kMaxBlock && end > pos && end - pos >= k && all_bases(codes + pos, k)) {
    matcher->init_search(&search, codes + pos, static_cast<int>(k));
    // An empty block says nothing about how far the match reaches; count
    // only symbols that occur.
    if (search.count() == 0) matcher->init_search_empty(&search);
    else n = k;
  }
  for (uint32_t i = pos + n; i < end; i++) {
    const unsigned char c = codes[i];
    if (c >= 4) break;
    const BidirectionalSearch before = search;
    search.add_symbol(0, c);
    if (search.count() == 0) {
      search = before;
      break;
    }
    n++;
  }
  return n;
}

uint32_t MapperSearch::backward(const unsigned char *codes, uint32_t pos, uint32_t end, uint32_t) {
  const BidirectionalMatcher *matcher = index->matcher.get();
  const uint32_t k = index->acceleration_depth;
  uint32_t n = 0;
  if (k > 0 && k <= kMaxBlock && end > pos && end - pos >= k && all_bases(codes + pos, k)) {
    unsigned char block[kMaxBlock];
    for (uint32_t j = 0; j < k; j++) block[k - 1 - j] = static_cast<unsigned char>(3 - codes[pos + j]);
    matcher->init_search(&search, block, static_cast<int>(k));
    if (search.count() == 0) matcher->init_search_empty(&search);
    else n = k;
  }
  for (uint32_t i = pos + n; i < end; i++) {
    const unsigned char c = codes[i];
    if (c >= 4) break;
    const BidirectionalSearch before = search;
    search.add_symbol(1, static_cast<unsigned char>(3 - c));
    if (search.count() == 0) {
      search = before;
      break;
    }
    n++;
  }
  return n;
}
