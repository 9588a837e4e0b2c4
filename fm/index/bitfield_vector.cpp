#include "fm/index/bitfield_vector.h"

#include <atomic>

namespace {

uint64_t field_mask(uint64_t bits) { return bits >= 64 ? ~0ull : (1ull << bits) - 1; }

// Replaces the bits under mask in word by value, atomically against other
// writers of the same word.
void cas_store(uint64_t &word, uint64_t mask, uint64_t value) {
  std::atomic_ref<uint64_t> ref(word);
  uint64_t old = ref.load(std::memory_order_relaxed);
  while (!ref.compare_exchange_weak(old, (old & ~mask) | value, std::memory_order_relaxed)) {
  }
}

}  // namespace

BitfieldVector::BitfieldVector(uint64_t count, uint64_t bits, uint64_t capacity)
    : count_(count), bits_(bits), capacity_(capacity < count ? count : capacity), mask_(field_mask(bits)) {
  allocate_words();
}

void BitfieldVector::allocate_words() {
  // ((capacity - 1) * bits + 128) / 8 bytes rounded down to whole words:
  // every field plus at least one spare word for the two-word read.
  const uint64_t last = capacity_ == 0 ? 0 : capacity_ - 1;
  words_.allocate((last * bits_ + 128) / 64);
}

void BitfieldVector::set(uint64_t i, uint64_t v) {
  if (bits_ == 0) return;
  v &= mask_;
  const uint64_t bit = i * bits_;
  const uint64_t w = bit >> 6;
  const unsigned off = static_cast<unsigned>(bit & 63);
  words_[w] = (words_[w] & ~(mask_ << off)) | (v << off);
  if (off + bits_ > 64) {
    const unsigned high = static_cast<unsigned>(64 - off);
    words_[w + 1] = (words_[w + 1] & ~(mask_ >> high)) | (v >> high);
  }
}

void BitfieldVector::set_atomic(uint64_t i, uint64_t v) {
  if (bits_ == 0) return;
  v &= mask_;
  const uint64_t bit = i * bits_;
  const uint64_t w = bit >> 6;
  const unsigned off = static_cast<unsigned>(bit & 63);
  cas_store(words_[w], mask_ << off, v << off);
  if (off + bits_ > 64) {
    const unsigned high = static_cast<unsigned>(64 - off);
    cas_store(words_[w + 1], mask_ >> high, v >> high);
  }
}
