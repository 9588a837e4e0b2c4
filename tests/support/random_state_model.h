// A plain model of RandomState written from the description of its stream,
// for tests that predict the generator's draws without using it: two
// multiply-with-carry generators (multiplier 1103515245), 64 passes of four
// words per 1024-byte refill, draws taken from the buffer front to back as
// little-endian values, a draw that does not fit in what is left of the
// buffer skipping those bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace ryx_test {

// The generator spelled out word by word, with the buffer as a vector of
// bytes and no shortcuts.
class RandomStateModel {
 public:
  RandomStateModel(uint32_t x0, uint32_t c0, uint32_t x1, uint32_t c1) : x_{x0, x1}, c_{c0, c1} {}

  static RandomStateModel from_u32(uint32_t s) {
    uint64_t t = static_cast<uint32_t>(2 * s + 1);
    uint32_t x0 = (0xB2F904CADDB4D133ull * t) >> 32;
    uint32_t c0 = (0x951FF34444EDE815ull * x0) >> 32;
    uint32_t x1 = (0x948E24554F0344CFull * c0) >> 32;
    uint32_t c1 = (0xCD161861F4D27367ull * x1) >> 32;
    return RandomStateModel(x0, c0, x1, c1);
  }
  static RandomStateModel from_u64(uint64_t s) {
    uint64_t p = s * 0x106A8DEF8534126Dull;
    uint64_t q = p ^ (s * 0x55284889C0BB1Full);
    return RandomStateModel(uint32_t(p), uint32_t(p >> 32), uint32_t(q), uint32_t(q >> 32));
  }

  uint32_t step(int g) {
    uint64_t t = 1103515245ull * x_[g] + c_[g];
    x_[g] = uint32_t(t);
    c_[g] = uint32_t(t >> 32);
    return x_[g];
  }
  void refill() {
    buf_.clear();
    for (int pass = 0; pass < 64; pass++) {
      uint32_t a0 = step(0), a1 = step(1);
      uint32_t b0 = step(0), b1 = step(1);
      for (uint32_t w : {b0, b1, a0, a1})
        for (int k = 0; k < 4; k++) buf_.push_back(uint8_t(w >> (8 * k)));
    }
    pos_ = 0;
  }
  uint64_t bytes(int n) {
    if (pos_ + n > 1024) refill();
    uint64_t v = 0;
    for (int k = 0; k < n; k++) v |= uint64_t(buf_[pos_ + k]) << (8 * k);
    pos_ += n;
    return v;
  }
  uint64_t ranged(uint64_t n) {
    uint64_t m = 0;
    while (m < n - 1) m = 2 * m + 1;
    int width = n < (1ull << 32) ? 4 : 8;
    for (;;) {
      uint64_t r = bytes(width) & m;
      if (r < n) return r;
    }
  }
  double real52() {
    uint64_t w = bytes(8);
    return double(w & ((1ull << 52) - 1)) / 4503599627370496.0;  // 2^52
  }
  double real53() { return double(bytes(8) & ((1ull << 53) - 1)) / 9007199254740992.0; }
  float real24() { return float(bytes(4) & 0xFFFFFF) / 16777216.0f; }
  uint32_t pos() const { return pos_; }

 private:
  uint32_t x_[2], c_[2];
  std::vector<uint8_t> buf_;
  uint32_t pos_ = 1024;
};

}  // namespace ryx_test
