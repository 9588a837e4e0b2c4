#include "fm/index/bidirectional_matcher.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/ryx_exit.h"

namespace {

// Record index and sequence id of one text-array record, used only while
// the samples are rewritten.
struct index_id {
  uint32_t index;
  uint32_t sequence_id;
};

}  // namespace

BidirectionalMatcher::BidirectionalMatcher(std::unique_ptr<NucleotideArray> text,
                                           std::unique_ptr<NucleotideArray> reversed, bool remap)
    : text_(std::move(text)), reversed_(std::move(reversed)) {
  if (remap) remap_sequence_ids();
}

BidirectionalMatcher::~BidirectionalMatcher() = default;

void BidirectionalMatcher::remap_sequence_ids() {
  const uint32_t count = text_->sequence_count();
  std::vector<index_id> ids(count);
  for (uint32_t i = 0; i < count; i++) ids[i] = {i, text_->sequence(i).sequence_id};
  std::sort(ids.begin(), ids.end(), [](const index_id &a, const index_id &b) { return a.sequence_id < b.sequence_id; });
  auto record_of = [&](uint32_t id) -> uint32_t {
    auto it = std::lower_bound(ids.begin(), ids.end(), id,
                               [](const index_id &e, uint32_t v) { return e.sequence_id < v; });
    if (it == ids.end() || it->sequence_id != id) {
      fprintf(stderr, "Index builder: a position sample names sequence %u, which the index does not hold.\n", id);
      fflush(stderr);
      ryx_exit(1);
    }
    return it->index;
  };
  if (BitfieldVector *samples = text_->position_samples()) {
    const uint64_t position_bits = text_->header().position_bits;
    const uint64_t position_mask = (1ull << position_bits) - 1;
    for (uint64_t i = 0; i < samples->count(); i++) {
      const uint64_t v = samples->get(i);
      const uint64_t index = record_of(static_cast<uint32_t>(v >> position_bits));
      samples->set(i, (index << position_bits) | (v & position_mask));
    }
  }
  for (NucleotideArray::_position_mapping &m : text_->position_mappings()) m.sequence_id = record_of(m.sequence_id);
}

void BidirectionalMatcher::build_acceleration_table(int k) {
  table_.reset();
  depth_ = 0;
  if (k <= 0 || text_->length() <= 1) return;
  uint64_t fields = 9;
  for (int i = 1; i < k; i++) fields *= 4;
  table_ = std::make_unique<BitfieldVector>(fields, bits_needed(text_->length()));
  BidirectionalSearch empty;
  init_search_empty(&empty);
  fill_table(empty, k, 0);
  depth_ = k;
}

// Depth d >= 2: recurse into the A, C, G and T extensions, each owning the
// next 9 x 4^(d-2) fields. Depth 1: store the nine fields of this prefix.
void BidirectionalMatcher::fill_table(const BidirectionalSearch &search, int depth, uint64_t base) {
  BidirectionalSearch next[6];
  search.add_all_symbols(0, next);
  if (depth == 1) {
    for (int b = 0; b < 4; b++) {
      table_->set(base + 2 * b, next[b].reverse.begin);
      table_->set(base + 2 * b + 1, next[b].forward.begin);
    }
    table_->set(base + 8, next[3].reverse.end);
    return;
  }
  uint64_t stride = 9;
  for (int i = 2; i < depth; i++) stride *= 4;
  for (int b = 0; b < 4; b++) fill_table(next[b], depth - 1, base + b * stride);
}

void BidirectionalMatcher::init_search_empty(BidirectionalSearch *search) const {
  search->matcher = this;
  search->length = 0;
  search->forward = {0, text_->length()};
  search->reverse = {0, reversed_->length()};
}

void BidirectionalMatcher::init_search(BidirectionalSearch *search, const unsigned char *pattern, int length) const {
  init_search_empty(search);
  int i = 0;
  const int k = depth_;
  if (k >= 1 && length >= k) {
    uint64_t v = 0;
    bool plain = true;
    for (int j = 0; j < k; j++) {
      if (pattern[j] >= 4) {
        plain = false;
        break;
      }
      if (j < k - 1) v = 4 * v + pattern[j];
    }
    if (plain) {
      const uint64_t e = 9 * v + 2 * pattern[k - 1];
      const uint64_t reverse_begin = table_->get(e);
      const uint64_t forward_begin = table_->get(e + 1);
      const uint64_t reverse_end = table_->get(e + 2);
      search->reverse = {reverse_begin, reverse_end};
      search->forward = {forward_begin, forward_begin + (reverse_end - reverse_begin)};
      search->length = k;
      i = k;
    }
  }
  for (; i < length; i++) search->add_symbol(0, pattern[i]);
}

void BidirectionalMatcher::prefetch_windows(const unsigned char *codes, uint64_t n) const {
  const int k = depth_;
  if (k < 1 || k > 32 || !table_) return;
  // v: the last k - 1 symbols before position i, as init_search reads
  // them; run: how many symbols below 4 end there.
  const uint64_t mask = (uint64_t{1} << (2 * (k - 1))) - 1;
  uint64_t v = 0;
  uint64_t run = 0;
  for (uint64_t i = 0; i < n; i++) {
    const unsigned char c = codes[i];
    if (c >= 4) {
      run = 0;
      v = 0;
      continue;
    }
    if (run >= static_cast<uint64_t>(k - 1)) {
      const uint64_t e = 9 * v + 2 * c;
      table_->prefetch(e);
      table_->prefetch(e + 2);
    }
    v = ((v << 2) | c) & mask;
    run++;
  }
}

unsigned char BidirectionalMatcher::step_implicit(const NucleotideArray *array, match_range *own,
                                                  match_range *companion, unsigned long long target) {
  unsigned long long lo[7], hi[7];
  array->occ_all_popcnt(own->begin, lo);
  array->occ_all_popcnt(own->end, hi);
  const unsigned long long *C = array->C();
  for (unsigned char c = 0; c < 6; c++) {
    const unsigned long long begin = companion->begin + (hi[c] - lo[c]);
    const unsigned long long end = companion->begin + (hi[c + 1] - lo[c + 1]);
    if (target >= begin && target < end) {
      *own = {C[c] + lo[c + 1] - lo[c], C[c] + hi[c + 1] - hi[c]};
      *companion = {begin, end};
      return c;
    }
  }
  return 255;
}

void BidirectionalMatcher::get_suffix_for_id(unsigned long long target, unsigned char *out, int n) const {
  match_range forward{0, text_->length()}, reverse{0, reversed_->length()};
  for (int i = 0; i < n; i++) out[i] = step_implicit(text_.get(), &forward, &reverse, target);
}

void BidirectionalMatcher::get_prefix_for_id(unsigned long long target, unsigned char *out, int n) const {
  match_range forward{0, text_->length()}, reverse{0, reversed_->length()};
  for (int i = n - 1; i >= 0; i--) out[i] = step_implicit(reversed_.get(), &reverse, &forward, target);
}

void BidirectionalMatcher::save(Writer *out) const {
  text_->save(out);
  reversed_->save(out);
}

std::unique_ptr<BidirectionalMatcher> BidirectionalMatcher::load(Reader *in) {
  std::unique_ptr<NucleotideArray> text = NucleotideArray::load(in);
  if (!text) return nullptr;
  std::unique_ptr<NucleotideArray> reversed = NucleotideArray::load(in);
  if (!reversed) return nullptr;
  return std::make_unique<BidirectionalMatcher>(std::move(text), std::move(reversed), false);
}

unsigned long long BidirectionalMatcher::memory_usage() const {
  unsigned long long bytes = text_->memory_usage() + reversed_->memory_usage() + 32;
  if (table_) bytes += table_->packed_bytes();
  return bytes;
}
