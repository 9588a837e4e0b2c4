// Small helpers shared by the benchmark programs: a fast random generator
// for bases and the seconds since a clock reading.
#pragma once

#include <cstdint>

#include "common/clock.h"

namespace bench {

// xorshift64*: cheap and good enough for random bases; the same seed gives
// the same data on every run.
struct Generator {
  uint64_t state;
  explicit Generator(uint64_t seed) : state(seed) {}
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  // Uniform in [0, n), n > 0.
  uint64_t below(uint64_t n) { return next() % n; }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// Seconds since start, a time_get_usec reading.
inline double seconds_since(int64_t start) { return static_cast<double>(time_get_usec() - start) / 1e6; }

}  // namespace bench
