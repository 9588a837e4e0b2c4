// Packed array of fixed-width unsigned fields.
//
// Field i occupies bits i * width to i * width + width - 1 of the
// little-endian sequence of 64-bit words and may straddle two words. The
// word array always ends with at least one spare word, so a field is read
// with two word loads and no branch.
#pragma once

#include <cstdint>
#include <memory>

#include "fm/index/index_buffer.h"

class Reader;
class Writer;

class BitfieldVector {
 public:
  // count zeroed fields of bits bits each (0 to 64), room for capacity
  // fields (at least count). Ends the process like ryx_malloc when the
  // words cannot be had.
  BitfieldVector(uint64_t count, uint64_t bits, uint64_t capacity);
  BitfieldVector(uint64_t count, uint64_t bits) : BitfieldVector(count, bits, count) {}

  // Field i (below the capacity).
  uint64_t get(uint64_t i) const {
    const uint64_t bit = i * bits_;
    const uint64_t w = bit >> 6;
    const unsigned off = static_cast<unsigned>(bit & 63);
    // The second word's contribution is shifted in two steps so that an
    // offset of 0 (shift by 64) gives nothing instead of undefined bits.
    const uint64_t v = (words_[w] >> off) | ((words_[w + 1] << 1) << (63 - off));
    return v & mask_;
  }
  // Asks the processor to fetch the word that field i starts in; no
  // other effect.
  void prefetch(uint64_t i) const { __builtin_prefetch(&words_[(i * bits_) >> 6]); }
  // Stores the low bits bits of v in field i; not safe against concurrent
  // writers of neighbouring fields.
  void set(uint64_t i, uint64_t v);
  // As set, with compare-and-swap on the one or two words the field
  // touches, so threads may fill different fields at the same time.
  void set_atomic(uint64_t i, uint64_t v);

  uint64_t count() const { return count_; }
  uint64_t bits() const { return bits_; }
  uint64_t capacity() const { return capacity_; }
  uint64_t mask() const { return mask_; }
  // Bytes of the packed fields of the count fields, as saved.
  uint64_t packed_bytes() const { return (bits_ * count_ + 7) / 8; }
  // Bytes held: the object and the word array.
  uint64_t memory_usage() const { return sizeof(*this) + words_.bytes(); }

  // Writes one byte 1, bits, count, capacity and mask (unsigned 64-bit
  // each), then the packed bytes of the words. A short write ends the
  // process through Writer::write_error.
  void save(Writer *out) const;
  // Reads what save writes. Returns null when the first byte is 0 (no
  // vector stored). A short read ends the process through
  // Reader::read_error; a marker other than 0 or 1, a width above 64, a
  // mask that does not match the width or a capacity other than the count
  // ends it with "Index file '%s' is corrupt.\n" (status 1).
  static std::unique_ptr<BitfieldVector> load(Reader *in);

 private:
  BitfieldVector() = default;
  void allocate_words();

  uint64_t count_ = 0;
  uint64_t bits_ = 0;
  uint64_t capacity_ = 0;
  uint64_t mask_ = 0;
  IndexBuffer<uint64_t> words_;
};

// Number of bits needed to write v (0 for v = 0).
inline uint64_t bits_needed(uint64_t v) { return v == 0 ? 0 : 64 - __builtin_clzll(v); }
