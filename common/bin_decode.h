// Decoding shared by the codec families. Each family supplies a byte source:
// a callable returning the next byte as 0..255, which ends the process
// itself when its input is exhausted. Only the codec sources include this.
#pragma once

#include <cstdint>

#include "common/bin_codec.h"

// "Error reading file: early termination\n" on standard error, status 1.
[[noreturn]] void bin_early_termination();

template <class NextByte>
inline uint32_t bin_decode_le(NextByte &next, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; i++) value |= static_cast<uint32_t>(next()) << (8 * i);
  return value;
}

template <class NextByte>
inline uint32_t bin_decode_be(NextByte &next, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; i++) value = value << 8 | static_cast<uint32_t>(next());
  return value;
}

// Low half first; the first half's end-of-input check fires before the
// second half is read.
template <class NextByte>
inline uint64_t bin_decode_u64_le(NextByte &next) {
  const uint64_t low = bin_decode_le(next, 4);
  const uint64_t high = bin_decode_le(next, 4);
  return high << 32 | low;
}

template <class NextByte>
inline uint64_t bin_decode_u64_be(NextByte &next) {
  const uint64_t high = bin_decode_be(next, 4);
  const uint64_t low = bin_decode_be(next, 4);
  return high << 32 | low;
}

template <class NextByte>
inline uint32_t bin_decode_flex(NextByte &next) {
  const uint32_t first = next();
  if (first < 254) return first;
  return bin_decode_le(next, first == 254 ? 2 : 4);
}
