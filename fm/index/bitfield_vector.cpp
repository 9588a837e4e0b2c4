#include "fm/index/bitfield_vector.h"

#include <atomic>

#include "fm/index/index_file.h"
#include "fm/runtime/reader_writer.h"

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

// Stores v (already masked) as field i of bits bits through
// store(word, mask, value), which replaces the bits under mask in word; a
// field that crosses a word boundary takes two stores.
template <typename Store>
void store_field(uint64_t *words, uint64_t bits, uint64_t mask, uint64_t i, uint64_t v, Store store) {
  const uint64_t bit = i * bits;
  const uint64_t w = bit >> 6;
  const unsigned off = static_cast<unsigned>(bit & 63);
  store(words[w], mask << off, v << off);
  if (off + bits > 64) {
    const unsigned high = static_cast<unsigned>(64 - off);
    store(words[w + 1], mask >> high, v >> high);
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
  store_field(words_.data(), bits_, mask_, i, v & mask_,
              [](uint64_t &word, uint64_t mask, uint64_t value) { word = (word & ~mask) | value; });
}

void BitfieldVector::set_atomic(uint64_t i, uint64_t v) {
  if (bits_ == 0) return;
  store_field(words_.data(), bits_, mask_, i, v & mask_, cas_store);
}

void BitfieldVector::save(Writer *out) const {
  const uint8_t marker = 1;
  const uint64_t fields[4] = {bits_, count_, capacity_, mask_};
  out->write_exact(&marker, 1);
  out->write_exact(fields, sizeof(fields));
  out->write_exact(words_.data(), packed_bytes());
}

std::unique_ptr<BitfieldVector> BitfieldVector::load(Reader *in) {
  uint8_t marker = 0;
  in->read_exact(&marker, 1);
  if (marker == 0) return nullptr;
  if (marker != 1) index_file_corrupt(in);
  uint64_t fields[4];
  in->read_exact(fields, sizeof(fields));
  std::unique_ptr<BitfieldVector> vector(new BitfieldVector());
  vector->bits_ = fields[0];
  vector->count_ = fields[1];
  vector->capacity_ = fields[2];
  vector->mask_ = fields[3];
  // The suite saves full vectors only; a count this large cannot have its
  // bits counted in 64 bits.
  if (vector->bits_ > 64 || vector->mask_ != field_mask(vector->bits_) || vector->capacity_ != vector->count_ ||
      vector->count_ >= (1ull << 57))
    index_file_corrupt(in);
  vector->allocate_words();
  in->read_exact(vector->words_.data(), vector->packed_bytes());
  return vector;
}
