// The suite's pseudo-random generator.
//
// Two multiply-with-carry generators (base 2^32, multiplier 1103515245)
// fill a 1024-byte buffer; every draw takes the next little-endian bytes of
// it. The stream is fixed: two generators seeded alike draw the same values
// on every machine, which is what lets the read mapper reseed per read and
// stay independent of thread timing. A RandomState belongs to one thread at
// a time; only get_seed_int() is shared and locked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "draws read the buffer as little-endian words");

class RandomState {
 public:
  static constexpr uint32_t kBufferSize = 1024;
  static constexpr uint64_t kMultiplier = 1103515245;

  // Seeded from four successive values of get_seed_int().
  RandomState();
  // Seeded by hashing 2s + 1 into the four lanes.
  explicit RandomState(unsigned int seed);
  // Seeded as reseed(seed) does.
  explicit RandomState(unsigned long long seed);
  // Same as the unsigned long long seed; lets a uint64_t pick this form on
  // systems where uint64_t is unsigned long.
  explicit RandomState(unsigned long seed) : RandomState(static_cast<unsigned long long>(seed)) {}
  ~RandomState();

  // Sets the lanes (value and carry of generator 0, then of generator 1)
  // and empties the buffer.
  void init_state(unsigned int x0, unsigned int c0, unsigned int x1, unsigned int c1);
  // Seeds the lanes deterministically from s and empties the buffer; the
  // same s always gives the same draws afterwards.
  void reseed(unsigned long long s);
  // Refills the whole buffer from the generators and rewinds the read
  // offset to its start.
  void update_state();
  // Makes n bytes (at most the buffer size) readable at the read offset,
  // refilling when fewer are left; bytes left at the end are skipped.
  void ensure_bytes(unsigned long long n) {
    if (offset_ + n > kBufferSize) update_state();
  }

  // A value uniform in [0, n), by masking and rejection: 32-bit words for
  // n < 2^32, else 64-bit words. n = 1 gives 0 and still uses a word; n = 0
  // gives 0 and draws nothing.
  uint64_t draw_ranged(unsigned long long n);
  // A double in [0, 1) with 52 random mantissa bits.
  double draw_double();

  // The next 1, 2, 4 or 8 bytes as a little-endian value.
  uint8_t draw_u8() { return take<uint8_t>(); }
  uint16_t draw_u16() { return take<uint16_t>(); }
  uint32_t draw_u32() { return take<uint32_t>(); }
  uint64_t draw_u64() { return take<uint64_t>(); }

  // The buffer and the offset of its next unread byte (kBufferSize: empty).
  const uint8_t *buffer() const { return buffer_; }
  uint32_t read_offset() const { return offset_; }

 private:
  template <typename T>
  T take() {
    ensure_bytes(sizeof(T));
    return take_unchecked<T>();
  }
  template <typename T>
  T take_unchecked() {
    T v;
    memcpy(&v, buffer_ + offset_, sizeof(T));
    offset_ += sizeof(T);
    return v;
  }

  uint8_t buffer_[kBufferSize];
  // x0, c0, x1, c1: value and carry of generator 0, then of generator 1.
  uint32_t lanes_[4];
  uint32_t offset_ = kBufferSize;
};

inline uint64_t RandomState::draw_ranged(unsigned long long n) {
  if (n == 0) return 0;
  // Smallest all-ones mask covering n - 1.
  uint64_t m = n - 1;
  m |= m >> 1;
  m |= m >> 2;
  m |= m >> 4;
  m |= m >> 8;
  m |= m >> 16;
  m |= m >> 32;
  if (n < (UINT64_C(1) << 32)) {
    uint32_t m32 = static_cast<uint32_t>(m), r;
    do {
      r = take<uint32_t>() & m32;
    } while (r >= n);
    return r;
  }
  uint64_t r;
  do {
    r = take<uint64_t>() & m;
  } while (r >= n);
  return r;
}

inline double RandomState::draw_double() {
  uint64_t bits = (take<uint64_t>() & UINT64_C(0x000FFFFFFFFFFFFF)) | UINT64_C(0x3FF0000000000000);
  return std::bit_cast<double>(bits) - 1.0;
}

// Next value of the process-wide seed generator, which is seeded from the
// steady clock on first use. Safe to call from any thread.
unsigned int get_seed_int();
// Seeds the process-wide seed generator with a fixed value, so that every
// generator seeded from get_seed_int afterwards draws the same values on
// every run. Call it before the threads that draw seeds are started.
void set_seed_int_source(unsigned int seed);

extern "C" {

// A new generator seeded from get_seed_int().
RandomState *random_state_new(void);
// A new generator from the 32-bit seed.
RandomState *random_state_new_seeded(uint32_t seed);
// Reseeds deterministically; see RandomState::reseed.
void random_state_reseed(RandomState *state, uint64_t seed);
// Frees the generator (null allowed); returns null.
RandomState *random_state_free(RandomState *state);

// The next 8, 4, 2 or 1 bytes of the stream as a little-endian value.
uint64_t random_state_draw_u64(RandomState *state);
uint32_t random_state_draw_u32(RandomState *state);
uint16_t random_state_draw_u16(RandomState *state);
uint8_t random_state_draw_u8(RandomState *state);
// A value uniform in [0, n); see RandomState::draw_ranged.
uint32_t random_state_draw_ranged32(RandomState *state, uint32_t n);
uint64_t random_state_draw_ranged(RandomState *state, uint64_t n);
// 24 random bits of one 32-bit word, in [0, 1).
float random_state_draw_float(RandomState *state);
// 53 random bits of one 64-bit word, in [0, 1). Not the value that
// RandomState::draw_double gives for the same word.
double random_state_draw_double(RandomState *state);
// Fisher-Yates shuffle of n items of item_size bytes, from the front.
void random_state_shuffle(RandomState *state, void *items, uint64_t n, size_t item_size);
// Two standard normal values (Box-Muller) from two 53-bit uniforms; out2
// may be null.
void random_state_draw_normal_pair(RandomState *state, double *out1, double *out2);
// The first value random_state_draw_normal_pair would give.
double random_state_draw_normal(RandomState *state);

}  // extern "C"
