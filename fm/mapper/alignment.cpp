#include "fm/mapper/alignment.h"

#include <algorithm>
#include <cstddef>

void Alignment::add(uint8_t base, uint32_t max_run, uint32_t n) {
  if (n == 0) return;
  if (!code.empty()) {
    const uint8_t last = code.back();
    if (last >= base && static_cast<uint32_t>(last - base) < max_run) {
      code.pop_back();
      n += static_cast<uint32_t>(last - base) + 1;
    }
  }
  while (n > max_run) {
    code.push_back(static_cast<uint8_t>(base + max_run - 1));
    n -= max_run;
  }
  code.push_back(static_cast<uint8_t>(base + n - 1));
}

void Alignment::assign_reversed(const Alignment &backward) {
  tag = backward.tag;
  code.clear();
  for (size_t i = backward.code.size(); i-- > 0;) add_byte(backward.code[i]);
}

void Alignment::assign(const Alignment &other) {
  tag = other.tag;
  code.assign(other.code.begin(), other.code.end());
}

uint32_t Alignment::read_length() const {
  uint32_t n = 0;
  for (uint8_t byte : code)
    if (alignment_kind(byte) != kDeletionBase) n += alignment_run(byte);
  return n;
}

uint32_t Alignment::reference_length() const {
  uint32_t n = 0;
  for (uint8_t byte : code)
    if (alignment_kind(byte) != kInsertionBase) n += alignment_run(byte);
  return n;
}

void AlignmentIterator::append_rest_to(uint32_t read_count, uint32_t reference_count, Alignment *out) const {
  uint64_t r = 0, f = 0;
  const uint64_t a = read_count, b = reference_count;
  for (uint32_t i = index_; i < count_; i++) {
    const uint8_t byte = bytes_[i];
    const uint8_t kind = alignment_kind(byte);
    const uint32_t k = alignment_run(byte) - (i == index_ ? consumed_ : 0);
    if (kind == kMatchBase) {
      // A match consumes one of each: the nearer count ends the copy.
      const uint64_t left = std::min(a - r, b - f);
      if (k >= left) {
        out->add_matches(static_cast<uint32_t>(left));
        return;
      }
      out->add_matches(k);
      r += k;
      f += k;
    } else if (kind == kDeletionBase) {
      f += k;
      if (f >= b) {
        out->add_deletions(static_cast<uint32_t>(b - (f - k)));
        return;
      }
      out->add_deletions(k);
    } else {
      r += k;
      if (r >= a) {
        out->add_insertions(static_cast<uint32_t>(a - (r - k)));
        return;
      }
      out->add_insertions(k);
    }
  }
}
