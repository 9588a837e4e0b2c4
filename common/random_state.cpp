#include "common/random_state.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <new>

#include "common/memory.h"
#include "common/platform.h"

namespace {
// The seed source behind get_seed_int: created on first use, destroyed at
// exit. Both are constant-initialised, so a static constructor of another
// file may already call get_seed_int.
std::mutex global_state_mutex;
std::unique_ptr<RandomState> global_state;

// One multiply-with-carry step: t = a * x + c in 64 bits; x = low half,
// c = high half. The carry never exceeds 32 bits because a < 2^32.
inline uint32_t mwc_step(uint64_t &x, uint64_t &c) {
  uint64_t t = RandomState::kMultiplier * x + c;
  x = static_cast<uint32_t>(t);
  c = t >> 32;
  return static_cast<uint32_t>(x);
}
}  // namespace

RandomState::RandomState() {
  unsigned int a = get_seed_int();
  unsigned int b = get_seed_int();
  unsigned int c = get_seed_int();
  unsigned int d = get_seed_int();
  init_state(a, b, c, d);
}

RandomState::RandomState(unsigned int seed) {
  // Each lane is the high half of a 64-bit product with an odd constant,
  // chained so that nearby seeds give unrelated lanes; 2s + 1 keeps the
  // first factor odd, so seed 0 does not give all-zero lanes.
  uint64_t t = static_cast<uint32_t>(2u * seed + 1u);
  uint32_t x0 = static_cast<uint32_t>((UINT64_C(0xB2F904CADDB4D133) * t) >> 32);
  uint32_t c0 = static_cast<uint32_t>((UINT64_C(0x951FF34444EDE815) * x0) >> 32);
  uint32_t x1 = static_cast<uint32_t>((UINT64_C(0x948E24554F0344CF) * c0) >> 32);
  uint32_t c1 = static_cast<uint32_t>((UINT64_C(0xCD161861F4D27367) * x1) >> 32);
  init_state(x0, c0, x1, c1);
}

RandomState::RandomState(unsigned long long seed) { reseed(seed); }

RandomState::~RandomState() {}

void RandomState::init_state(unsigned int x0, unsigned int c0, unsigned int x1, unsigned int c1) {
  lanes_[0] = x0;
  lanes_[1] = c0;
  lanes_[2] = x1;
  lanes_[3] = c1;
  offset_ = kBufferSize;
}

void RandomState::reseed(unsigned long long s) {
  uint64_t p = s * UINT64_C(0x106A8DEF8534126D);
  uint64_t q = p ^ (s * UINT64_C(0x55284889C0BB1F));
  lanes_[0] = static_cast<uint32_t>(p);
  lanes_[1] = static_cast<uint32_t>(p >> 32);
  lanes_[2] = static_cast<uint32_t>(q);
  lanes_[3] = static_cast<uint32_t>(q >> 32);
  offset_ = kBufferSize;
}

// Computed with scalar 64-bit arithmetic rather than SIMD: each generator is
// one serial chain of multiply-adds, so four-lane vector code cannot run
// ahead of that chain, while the scalar form keeps both chains in flight at
// once with a 3-cycle multiply and no lane shuffling. Each 16-byte group
// holds both generators after two steps, then both after one step.
void RandomState::update_state() {
  uint64_t x0 = lanes_[0], c0 = lanes_[1], x1 = lanes_[2], c1 = lanes_[3];
  for (uint32_t pos = 0; pos < kBufferSize; pos += 16) {
    uint32_t words[4];
    words[2] = mwc_step(x0, c0);
    words[3] = mwc_step(x1, c1);
    words[0] = mwc_step(x0, c0);
    words[1] = mwc_step(x1, c1);
    memcpy(buffer_ + pos, words, sizeof words);
  }
  lanes_[0] = static_cast<uint32_t>(x0);
  lanes_[1] = static_cast<uint32_t>(c0);
  lanes_[2] = static_cast<uint32_t>(x1);
  lanes_[3] = static_cast<uint32_t>(c1);
  offset_ = 0;
}

unsigned int get_seed_int() {
  std::lock_guard<std::mutex> lock(global_state_mutex);
  if (!global_state) {
    global_state = std::make_unique<RandomState>(static_cast<unsigned int>(platform_steady_clock_ns()));
  }
  return global_state->draw_u32();
}

void set_seed_int_source(unsigned int seed) {
  std::lock_guard<std::mutex> lock(global_state_mutex);
  global_state = std::make_unique<RandomState>(seed);
}

extern "C" {

RandomState *random_state_new(void) { return new (ryx_malloc(sizeof(RandomState))) RandomState(); }

RandomState *random_state_new_seeded(uint32_t seed) {
  return new (ryx_malloc(sizeof(RandomState))) RandomState(static_cast<unsigned int>(seed));
}

void random_state_reseed(RandomState *state, uint64_t seed) { state->reseed(seed); }

RandomState *random_state_free(RandomState *state) {
  if (state == nullptr) return nullptr;
  state->~RandomState();
  return static_cast<RandomState *>(ryx_free(state));
}

uint64_t random_state_draw_u64(RandomState *state) { return state->draw_u64(); }
uint32_t random_state_draw_u32(RandomState *state) { return state->draw_u32(); }
uint16_t random_state_draw_u16(RandomState *state) { return state->draw_u16(); }
uint8_t random_state_draw_u8(RandomState *state) { return state->draw_u8(); }

uint32_t random_state_draw_ranged32(RandomState *state, uint32_t n) {
  return static_cast<uint32_t>(state->draw_ranged(n));
}

uint64_t random_state_draw_ranged(RandomState *state, uint64_t n) { return state->draw_ranged(n); }

float random_state_draw_float(RandomState *state) {
  return static_cast<float>(state->draw_u32() & 0xFFFFFFu) * 0x1p-24f;
}

double random_state_draw_double(RandomState *state) {
  return static_cast<double>(state->draw_u64() & UINT64_C(0x1FFFFFFFFFFFFF)) * 0x1p-53;
}

void random_state_shuffle(RandomState *state, void *items, uint64_t n, size_t item_size) {
  if (n < 2) return;
  auto *bytes = static_cast<uint8_t *>(items);
  for (uint64_t i = 0; i + 1 < n; i++) {
    // For n below 2^32 this is the 32-bit ranged draw; larger arrays get
    // 64-bit draws instead of a range cut to 32 bits.
    uint64_t a = state->draw_ranged(n - i);
    if (a == 0 || item_size == 0) continue;
    uint8_t *p = bytes + i * item_size;
    uint8_t *q = bytes + (i + a) * item_size;
    uint8_t tmp[64];
    for (size_t done = 0; done < item_size; done += sizeof tmp) {
      size_t k = item_size - done < sizeof tmp ? item_size - done : sizeof tmp;
      memcpy(tmp, p + done, k);
      memcpy(p + done, q + done, k);
      memcpy(q + done, tmp, k);
    }
  }
}

void random_state_draw_normal_pair(RandomState *state, double *out1, double *out2) {
  double u1 = random_state_draw_double(state);
  double u2 = random_state_draw_double(state);
  // 1 - u1 lies in (0, 1], so the logarithm is finite.
  double r = std::sqrt(-2.0 * std::log(1.0 - u1));
  double theta = 6.283185307179586 * u2;
  *out1 = r * std::cos(theta);
  if (out2 != nullptr) *out2 = r * std::sin(theta);
}

double random_state_draw_normal(RandomState *state) {
  double out;
  random_state_draw_normal_pair(state, &out, nullptr);
  return out;
}

}  // extern "C"
