#include "fm/index/bitfield_vector.h"

#include <atomic>
#include <cstdio>

#include "common/ryx_exit.h"
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

namespace {

[[noreturn]] void corrupt(Reader *in) {
  fprintf(stderr, "Index file '%s' is corrupt.\n", in->name());
  fflush(stderr);
  ryx_exit(1);
}

void write_exact(Writer *out, const void *data, uint64_t bytes) {
  if (bytes != 0 && out->attempt_write(data, static_cast<long long>(bytes)) != static_cast<long long>(bytes))
    out->write_error();
}

void read_exact(Reader *in, void *data, uint64_t bytes) {
  if (bytes != 0 && in->attempt_read(data, static_cast<long long>(bytes)) != static_cast<long long>(bytes))
    in->read_error();
}

}  // namespace

void BitfieldVector::save(Writer *out) const {
  const uint8_t marker = 1;
  const uint64_t fields[4] = {bits_, count_, capacity_, mask_};
  write_exact(out, &marker, 1);
  write_exact(out, fields, sizeof(fields));
  write_exact(out, words_.data(), packed_bytes());
}

std::unique_ptr<BitfieldVector> BitfieldVector::load(Reader *in) {
  uint8_t marker = 0;
  read_exact(in, &marker, 1);
  if (marker == 0) return nullptr;
  if (marker != 1) corrupt(in);
  uint64_t fields[4];
  read_exact(in, fields, sizeof(fields));
  std::unique_ptr<BitfieldVector> vector(new BitfieldVector());
  vector->bits_ = fields[0];
  vector->count_ = fields[1];
  vector->capacity_ = fields[2];
  vector->mask_ = fields[3];
  // The suite saves full vectors only; a count this large cannot have its
  // bits counted in 64 bits.
  if (vector->bits_ > 64 || vector->mask_ != field_mask(vector->bits_) || vector->capacity_ != vector->count_ ||
      vector->count_ >= (1ull << 57))
    corrupt(in);
  vector->allocate_words();
  read_exact(in, vector->words_.data(), vector->packed_bytes());
  return vector;
}
