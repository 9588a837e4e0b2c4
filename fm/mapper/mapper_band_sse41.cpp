// 32-bit column kernels (SSE2 arithmetic, SSSE3 byte align, SSE4.1 signed
// maxima and the variable blend of the step-up).
//
// The same two passes as the 16-bit kernels with four lanes per vector and
// a two-step prefix maximum (distances 1 and 2). Nothing saturates: minus
// infinity sits a million above INT_MIN, so the few costs subtracted from
// it between two columns cannot wrap.
#include <algorithm>

#include "fm/mapper/mapper_band_kernels.h"

namespace {

inline __m128i load(__m128i const *p) { return _mm_load_si128(p); }
inline void store(__m128i *p, __m128i v) { _mm_store_si128(p, v); }

// Best F entering every lane from the lanes above it. The byte shifts fill
// with zeros, which the scan costs of those lanes turn into minus infinity.
inline __m128i prefix_insertions(__m128i leaving, BandCosts32 const &k) {
  __m128i g = _mm_alignr_epi8(leaving, k.minus_infinity, 12);
  g = _mm_max_epi32(g, _mm_sub_epi32(_mm_slli_si128(g, 4), k.scan[0]));
  g = _mm_max_epi32(g, _mm_sub_epi32(_mm_slli_si128(g, 8), k.scan[1]));
  return g;
}

inline int32_t horizontal_max32(__m128i v) {
  v = _mm_max_epi32(v, _mm_srli_si128(v, 8));
  v = _mm_max_epi32(v, _mm_srli_si128(v, 4));
  return _mm_cvtsi128_si32(v);
}

inline int32_t apply_insertions(__m128i *h, uint32_t segments, __m128i f, BandCosts32 const &k) {
  __m128i best = _mm_set1_epi32(INT_MIN);
  for (uint32_t j = 0; j < segments; j++) {
    __m128i hv = _mm_max_epi32(load(h + j), f);
    store(h + j, hv);
    best = _mm_max_epi32(best, hv);
    f = _mm_sub_epi32(f, k.insertion_cost);
  }
  return horizontal_max32(best);
}

}  // namespace

void band_costs32_init(BandCosts32 *costs, int32_t insertion_open, int32_t insertion_cost, int32_t deletion_open,
                       int32_t deletion_cost, uint32_t segments) {
  costs->insertion_open = _mm_set1_epi32(insertion_open);
  costs->insertion_cost = _mm_set1_epi32(insertion_cost);
  costs->deletion_open = _mm_set1_epi32(deletion_open);
  costs->deletion_cost = _mm_set1_epi32(deletion_cost);
  costs->minus_infinity = _mm_set1_epi32(MapperBand::kMinusInfinity);
  int32_t empty = -MapperBand::kMinusInfinity;
  int64_t t = std::min<int64_t>(static_cast<int64_t>(segments) * insertion_cost, INT32_MAX / 2);
  int32_t t1 = static_cast<int32_t>(t);
  int32_t t2 = static_cast<int32_t>(2 * t);
  costs->scan[0] = _mm_setr_epi32(empty, t1, t1, t1);
  costs->scan[1] = _mm_setr_epi32(empty, empty, t2, t2);
}

int32_t band_column32_linear(__m128i const *hp, __m128i *h, __m128i const *prof, uint32_t segments,
                             BandCosts32 const &k) {
  __m128i f = k.minus_infinity;
  auto step = [&](uint32_t j, __m128i hn) {
    __m128i ev = _mm_sub_epi32(hn, k.deletion_cost);
    __m128i hv = _mm_add_epi32(load(hp + j), load(prof + j));
    hv = _mm_max_epi32(_mm_max_epi32(hv, ev), f);
    store(h + j, hv);
    f = _mm_sub_epi32(hv, k.insertion_cost);
  };
  uint32_t last = segments - 1;
  for (uint32_t j = 0; j < last; j++) step(j, load(hp + j + 1));
  step(last, _mm_alignr_epi8(k.minus_infinity, load(hp), 4));
  return apply_insertions(h, segments, prefix_insertions(f, k), k);
}

int32_t band_column32_affine(__m128i const *hp, __m128i const *ep, __m128i *h, __m128i *e, __m128i const *prof,
                             uint32_t segments, BandCosts32 const &k) {
  __m128i f = k.minus_infinity;
  auto step = [&](uint32_t j, __m128i hn, __m128i en) {
    __m128i ev = _mm_sub_epi32(_mm_max_epi32(_mm_sub_epi32(hn, k.deletion_open), en), k.deletion_cost);
    __m128i hv = _mm_add_epi32(load(hp + j), load(prof + j));
    hv = _mm_max_epi32(_mm_max_epi32(hv, ev), f);
    store(h + j, hv);
    store(e + j, ev);
    f = _mm_sub_epi32(_mm_max_epi32(_mm_sub_epi32(hv, k.insertion_open), f), k.insertion_cost);
  };
  uint32_t last = segments - 1;
  for (uint32_t j = 0; j < last; j++) step(j, load(hp + j + 1), load(ep + j + 1));
  step(last, _mm_alignr_epi8(k.minus_infinity, load(hp), 4), _mm_alignr_epi8(k.minus_infinity, load(ep), 4));
  return apply_insertions(h, segments, prefix_insertions(f, k), k);
}

void band_profile32_extend(__m128i *profile, size_t stride, size_t p, uint32_t segments, int32_t const top[5]) {
  for (int x = 0; x < 5; x++) {
    __m128i *base = profile + x * stride;
    __m128i in = _mm_cvtsi32_si128(top[x]);
    store(base + p, _mm_alignr_epi8(in, load(base + p - segments), 4));
  }
}

void band_step_up(__m128i const *v16, __m128i *v32, uint32_t segments16, int32_t bias) {
  __m128i const floor = _mm_set1_epi32(-32768);
  __m128i const minus_infinity = _mm_set1_epi32(MapperBand::kMinusInfinity);
  __m128i const b = _mm_set1_epi32(bias);
  for (uint32_t j = 0; j < segments16; j++) {
    __m128i v = load(v16 + j);
    // Even lanes hold band rows 2l * S16 + j, odd lanes (2l + 1) * S16 + j;
    // in 32-bit lanes they are vector j and vector S16 + j, lane l.
    __m128i even = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
    __m128i odd = _mm_srai_epi32(v, 16);
    store(v32 + j, _mm_blendv_epi8(_mm_sub_epi32(even, b), minus_infinity, _mm_cmpeq_epi32(even, floor)));
    store(v32 + segments16 + j, _mm_blendv_epi8(_mm_sub_epi32(odd, b), minus_infinity, _mm_cmpeq_epi32(odd, floor)));
  }
}

void band_fill32(__m128i *v, size_t n, int32_t value) {
  __m128i x = _mm_set1_epi32(value);
  for (size_t i = 0; i < n; i++) store(v + i, x);
}
