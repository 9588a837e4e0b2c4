// Colour-space kernel of the ungapped scorer (SSE2/SSSE3): four candidates
// of one query per 16-byte vector.
//
// State k of candidate j sits in byte 4k + j, biased by 192 (= score 0)
// with unsigned saturation, so that values below -192 stick at 0. Per query
// position each state may restart, may take the best state's value minus c,
// and then gains 1 or loses x. A saturated value is at least its true value
// and, with at most 60 gains after it, stays below the bias; it can never
// win over a value of score 0 or more, so every score that reaches 0 or more
// is exact.
#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstring>

#include "refmap/align/ungapped_scorer.h"

namespace {

// Block code of a position for the comparison: the base, or 8 where no
// real base lies (8 XOR k never equals a query code 0-4).
inline uint8_t colour_block_code(const ungapped_scorer_t *s, int64_t position) {
  const int32_t base = ungapped_block_base(s, position);
  return base < 0 ? 8 : static_cast<uint8_t>(base);
}

// Largest of the four states of each candidate, in every state's byte.
inline __m128i max_over_states(__m128i v) {
  v = _mm_max_epu8(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 1, 0, 3)));
  return _mm_max_epu8(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
}

}  // namespace

void ungapped_score_colour(ungapped_scorer_t *s) {
  const int32_t mode = s->mode;
  const int32_t x = s->mismatch;
  const uint8_t cost = static_cast<uint8_t>(s->colour_cost < 0 ? 0 : s->colour_cost > 255 ? 255 : s->colour_cost);
  const __m128i state_codes = _mm_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  const __m128i spread = _mm_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i loss = _mm_set1_epi8(static_cast<char>(x + 1));
  const __m128i change = _mm_set1_epi8(static_cast<char>(cost));
  const __m128i bias = _mm_set1_epi8(static_cast<char>(kUngappedColourBias));
  uint8_t *scratch = s->scratch;

  for (int32_t j = 0; j < s->candidate_count;) {
    const uint32_t query = s->candidates[j].query;
    int32_t group = 1;
    while (group < 4 && j + group < s->candidate_count && s->candidates[j + group].query == query) group++;
    const int32_t n = s->lengths[query];
    if (n == 0) {
      for (int32_t g = 0; g < group; g++) s->scores[j + g] = 0;
      j += group;
      continue;
    }
    for (int32_t g = 0; g < 4; g++) {
      if (g < group) {
        const int64_t p = ungapped_candidate_position(s->candidates[j + g]);
        for (int32_t i = 0; i < n; i++) scratch[4 * i + g] = colour_block_code(s, p + i);
      } else {
        for (int32_t i = 0; i < n; i++) scratch[4 * i + g] = 8;
      }
    }

    const int odd = query & 1;
    const bool restart = mode == kAlignModeLocal || (mode == kAlignModeSemiGlobal && odd);
    const bool free_end = mode == kAlignModeLocal || (mode == kAlignModeSemiGlobal && !odd);
    // Odd queries start in every state, even ones in state 0 only.
    const __m128i start = odd ? bias : _mm_setr_epi32(static_cast<int>(0xC0C0C0C0u), 0, 0, 0);
    const __m128i again = restart ? start : _mm_setzero_si128();
    const uint8_t *codes = ungapped_profile(s, query);
    __m128i v = start;
    __m128i best = _mm_setzero_si128();
    for (int32_t i = 0; i < n; i++) {
      v = _mm_max_epu8(v, again);
      v = _mm_max_epu8(v, _mm_subs_epu8(max_over_states(v), change));
      best = _mm_max_epu8(best, v);
      int32_t block_codes;
      memcpy(&block_codes, scratch + 4 * i, 4);
      const __m128i block = _mm_xor_si128(_mm_shuffle_epi8(_mm_cvtsi32_si128(block_codes), spread), state_codes);
      const __m128i same = _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(codes[i])));
      v = _mm_subs_epu8(_mm_adds_epu8(v, one), _mm_andnot_si128(same, loss));
    }
    if (free_end) v = _mm_max_epu8(v, best);
    // State 0 takes the best end state; an odd query pays c to end elsewhere.
    const __m128i end_cost = odd ? change : _mm_setzero_si128();
    v = _mm_max_epu8(v, _mm_subs_epu8(max_over_states(v), end_cost));
    const uint32_t lanes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_subs_epu8(v, bias)));
    for (int32_t g = 0; g < group; g++) s->scores[j + g] = static_cast<uint16_t>((lanes >> (8 * g)) & 0xFF);
    j += group;
  }
}
