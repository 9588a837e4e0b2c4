// Nucleotide-space kernels of the ungapped scorer (SSE2/SSSE3), one
// candidate per 16-byte vector.
//
// A candidate at position P loads 16 bytes (64 slots) of block bases and
// known mask from byte (P - 1) / 4 and the profile copy (P - 1) mod 4, so
// that query base i and block position P + i share slot p + 1 + i. Each
// slot gets a 2-bit code (bit 0 a match, bit 1 a query position); a
// byte-shuffle table turns every nibble (two slots) into its sum, best
// prefix, best suffix and best run, two nibbles merge into the byte's four
// values, and a logarithmic scan over the 16 bytes with signed saturating
// adds finishes the mode's recurrence. Saturation at -128 never changes a
// result: a window holds at most 64 matches, so a saturated partial sum
// stays below -64 and can never raise a maximum that is at least 0.
#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstring>

#include "refmap/align/ungapped_scorer.h"

namespace {

inline __m128i max_i8(__m128i a, __m128i b) {
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  return _mm_xor_si128(_mm_max_epu8(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip)), flip);
}

// Largest signed byte of the vector.
inline int32_t horizontal_max_i8(__m128i v) {
  v = max_i8(v, _mm_srli_si128(v, 8));
  v = max_i8(v, _mm_srli_si128(v, 4));
  v = max_i8(v, _mm_srli_si128(v, 2));
  v = max_i8(v, _mm_srli_si128(v, 1));
  return static_cast<int8_t>(_mm_cvtsi128_si32(v) & 0xFF);
}

// Per-byte values of one candidate window: sum, best prefix, best suffix,
// best run of its four slots (signed bytes).
struct window_t {
  __m128i total, prefix, suffix, best;
  __m128i match_bits;  // bit 2k of each byte: slot k matches
};

// The 16 block bytes from byte offset on; bytes before the block read as
// unknown.
inline void load_block(const ungapped_scorer_t *s, int64_t offset, __m128i *bases, __m128i *known) {
  if (offset >= 0) {
    *bases = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s->bases + offset));
    *known = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s->known + offset));
    return;
  }
  alignas(16) uint8_t b[16] = {0}, k[16] = {0};
  for (int64_t j = 0; j < 16; j++) {
    if (offset + j < 0) continue;
    b[j] = s->bases[offset + j];
    k[j] = s->known[offset + j];
  }
  *bases = _mm_load_si128(reinterpret_cast<const __m128i *>(b));
  *known = _mm_load_si128(reinterpret_cast<const __m128i *>(k));
}

inline window_t load_window(const ungapped_scorer_t *s, candidate_t c) {
  const int64_t shifted = ungapped_candidate_position(c) - 1;
  const int64_t phase = shifted & 3;
  const uint8_t *copy = ungapped_profile(s, c.query) + phase * kUngappedProfileCopyBytes;
  __m128i bases, known;
  load_block(s, shifted >> 2, &bases, &known);
  const __m128i q = _mm_load_si128(reinterpret_cast<const __m128i *>(copy));
  const __m128i valid = _mm_load_si128(reinterpret_cast<const __m128i *>(copy + 16));
  const __m128i inside = _mm_load_si128(reinterpret_cast<const __m128i *>(copy + 32));
  const __m128i c55 = _mm_set1_epi8(0x55);
  const __m128i c0f = _mm_set1_epi8(0x0f);

  // A slot matches when both bits of bases XOR query are 0 and both masks
  // are set; the 16-bit shift only moves bits that the 0x55 mask drops.
  const __m128i diff = _mm_xor_si128(bases, q);
  const __m128i differs = _mm_or_si128(diff, _mm_srli_epi16(diff, 1));
  const __m128i match = _mm_andnot_si128(differs, _mm_and_si128(_mm_and_si128(known, valid), c55));
  const __m128i code = _mm_or_si128(match, _mm_and_si128(inside, _mm_set1_epi8(static_cast<char>(0xAA))));
  const __m128i lo = _mm_and_si128(code, c0f);
  const __m128i hi = _mm_and_si128(_mm_srli_epi16(code, 4), c0f);

  const __m128i *t = reinterpret_cast<const __m128i *>(s->constants);
  const __m128i t_lo = _mm_shuffle_epi8(t[0], lo), t_hi = _mm_shuffle_epi8(t[0], hi);
  const __m128i p_lo = _mm_shuffle_epi8(t[1], lo), p_hi = _mm_shuffle_epi8(t[1], hi);
  const __m128i s_lo = _mm_shuffle_epi8(t[2], lo), s_hi = _mm_shuffle_epi8(t[2], hi);
  const __m128i b_lo = _mm_shuffle_epi8(t[3], lo), b_hi = _mm_shuffle_epi8(t[3], hi);

  window_t w;
  w.total = _mm_add_epi8(t_lo, t_hi);
  w.prefix = max_i8(p_lo, _mm_add_epi8(t_lo, p_hi));
  w.suffix = max_i8(s_hi, _mm_add_epi8(s_lo, t_hi));
  w.best = max_i8(max_i8(b_lo, b_hi), _mm_add_epi8(s_lo, p_hi));
  w.match_bits = match;
  return w;
}

// Best run over the window. The scan composes, byte by byte, the step
// r -> max(suffix, r + total) of the running best run ending at a byte;
// zero bytes shifted in are the identity for r >= 0.
int32_t score_local(const window_t &w) {
  __m128i suffix = w.suffix, total = w.total;
  suffix = max_i8(suffix, _mm_adds_epi8(_mm_slli_si128(suffix, 1), total));
  total = _mm_adds_epi8(_mm_slli_si128(total, 1), total);
  suffix = max_i8(suffix, _mm_adds_epi8(_mm_slli_si128(suffix, 2), total));
  total = _mm_adds_epi8(_mm_slli_si128(total, 2), total);
  suffix = max_i8(suffix, _mm_adds_epi8(_mm_slli_si128(suffix, 4), total));
  total = _mm_adds_epi8(_mm_slli_si128(total, 4), total);
  suffix = max_i8(suffix, _mm_adds_epi8(_mm_slli_si128(suffix, 8), total));
  // Best run ending before each byte, extended into the byte's prefix.
  const __m128i across = _mm_adds_epi8(_mm_slli_si128(suffix, 1), w.prefix);
  const int32_t best = horizontal_max_i8(max_i8(w.best, across));
  return best > 0 ? best : 0;
}

// Best prefix of the query: the sums of all earlier bytes plus each byte's
// best prefix. Slots before the query count 0, so window prefixes that end
// there give the empty run.
int32_t score_prefix(const window_t &w) {
  __m128i sum = w.total;
  sum = _mm_adds_epi8(sum, _mm_slli_si128(sum, 1));
  sum = _mm_adds_epi8(sum, _mm_slli_si128(sum, 2));
  sum = _mm_adds_epi8(sum, _mm_slli_si128(sum, 4));
  sum = _mm_adds_epi8(sum, _mm_slli_si128(sum, 8));
  const int32_t best = horizontal_max_i8(_mm_adds_epi8(_mm_slli_si128(sum, 1), w.prefix));
  return best > 0 ? best : 0;
}

// Best suffix of the query, the mirror image over later bytes.
int32_t score_suffix(const window_t &w) {
  __m128i sum = w.total;
  sum = _mm_adds_epi8(sum, _mm_srli_si128(sum, 1));
  sum = _mm_adds_epi8(sum, _mm_srli_si128(sum, 2));
  sum = _mm_adds_epi8(sum, _mm_srli_si128(sum, 4));
  sum = _mm_adds_epi8(sum, _mm_srli_si128(sum, 8));
  const int32_t best = horizontal_max_i8(_mm_adds_epi8(_mm_srli_si128(sum, 1), w.suffix));
  return best > 0 ? best : 0;
}

// Matches m over the window; score m - x (n - m), 0 when negative.
int32_t score_global(const ungapped_scorer_t *s, candidate_t c, const window_t &w) {
  const __m128i m = w.match_bits;
  __m128i count = _mm_add_epi8(_mm_and_si128(m, _mm_set1_epi8(0x33)),
                               _mm_and_si128(_mm_srli_epi16(m, 2), _mm_set1_epi8(0x33)));
  count = _mm_add_epi8(_mm_and_si128(count, _mm_set1_epi8(0x0f)),
                       _mm_and_si128(_mm_srli_epi16(count, 4), _mm_set1_epi8(0x0f)));
  const __m128i sums = _mm_sad_epu8(count, _mm_setzero_si128());
  const int32_t matches = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
  const int32_t score = matches - s->mismatch * (s->lengths[c.query] - matches);
  return score > 0 ? score : 0;
}

}  // namespace

void ungapped_score_nt_local(ungapped_scorer_t *s) {
  for (int32_t j = 0; j < s->candidate_count; j++) {
    const candidate_t c = s->candidates[j];
    s->scores[j] = static_cast<uint16_t>(s->lengths[c.query] == 0 ? 0 : score_local(load_window(s, c)));
  }
}

void ungapped_score_nt_semi_global(ungapped_scorer_t *s) {
  for (int32_t j = 0; j < s->candidate_count; j++) {
    const candidate_t c = s->candidates[j];
    if (s->lengths[c.query] == 0) {
      s->scores[j] = 0;
      continue;
    }
    const window_t w = load_window(s, c);
    s->scores[j] = static_cast<uint16_t>((c.query & 1) == 0 ? score_prefix(w) : score_suffix(w));
  }
}

void ungapped_score_nt_global(ungapped_scorer_t *s) {
  for (int32_t j = 0; j < s->candidate_count; j++) {
    const candidate_t c = s->candidates[j];
    s->scores[j] = static_cast<uint16_t>(s->lengths[c.query] == 0 ? 0 : score_global(s, c, load_window(s, c)));
  }
}
