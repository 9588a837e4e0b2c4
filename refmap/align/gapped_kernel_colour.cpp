// Gapped kernel, colour space, every mode.
//
// Four bands, one per decoding state k: a cell of state k compares the
// block base with the query code exclusive-ored with k (code 4 and its
// variants never agree). Each band takes the nucleotide row step; then every
// state takes the larger of itself and the best state minus c (a change of
// state). Start rules: anchored starts begin state 0 at byte 160 and the
// other states at 160 - c (even query) or 160 (odd query); free starts keep
// every state's floor at the byte floor, except that state 0 of an even
// query restarts at byte c (the score zero), so that a change out of it
// lands on the floor of the others. Even queries may end in any state, odd
// ones are tracked in state 0, which the change step already holds at no
// less than the best state minus c.
#include "refmap/align/gapped_kernel.h"

namespace {

template <bool kStore>
void run(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
         uint16_t *masks) {
  const gapped_vectors_t v = gapped_vectors(scorer);
  const __m128i zero_v = _mm_setzero_si128();
  const __m128i one_v = _mm_set1_epi8(1);
  const __m128i state_v[4] = {_mm_set1_epi8(0), _mm_set1_epi8(1), _mm_set1_epi8(2), _mm_set1_epi8(3)};
  for (int32_t index = 0; index < count; index++) {
    const candidate_t candidate = candidates[index];
    const uint32_t q = candidate.query;
    if (q >= static_cast<uint32_t>(scorer->query_count) || scorer->padded_lengths[q] == 0) {
      scores[index] = 0;
      masks[index] = 0;
      continue;
    }
    const gapped_start_t &rules = scorer->starts[q & 1];
    const int32_t n = scorer->lengths[q];
    const int32_t rows = scorer->padded_lengths[q];
    const uint8_t *padded = scorer->padded[q];
    uint8_t *window = scorer->window;
    gapped_window_unpack(scorer->bases, scorer->known, static_cast<int64_t>(candidate.position) - 7, rows + 16,
                         window);
    uint8_t *sink = scorer->sink_rows;
    int8_t *rebases = scorer->sink_rebases;

    __m128i start_v[4];
    __m128i band[4];
    for (int k = 0; k < 4; k++) {
      start_v[k] = _mm_set1_epi8(static_cast<char>(rules.start[k]));
      band[k] = start_v[k];
    }
    // Free starts: the restart value of state 0 (0 unless an even local
    // query).
    const __m128i floor0_v = rules.anchored_start ? zero_v : start_v[0];
    const int32_t first_end = rules.anchored_end ? n - 1 : 0;
    const __m128i above_v = _mm_set1_epi8(static_cast<char>(first_end - 1));
    const __m128i below_v = _mm_set1_epi8(static_cast<char>(n));
    __m128i row_bases = gapped_row_bases_start();

    __m128i running = zero_v;
    int32_t base = 0;
    int32_t best = rules.zero;
    uint32_t mask = 0;
    for (int32_t t = 0; t < rows; t++) {
      row_bases = _mm_add_epi8(row_bases, one_v);
      const __m128i reference = gapped_reference_row(window, t);
      const __m128i query = gapped_query_row(padded, t);
      for (int k = 0; k < 4; k++) {
        const __m128i match = _mm_cmpeq_epi8(reference, _mm_xor_si128(query, state_v[k]));
        band[k] = gapped_even_pass(band[k], match, v);
      }
      if (rules.anchored_start) {
        const __m128i before = _mm_cmpgt_epi8(zero_v, row_bases);
        for (int k = 0; k < 4; k++) band[k] = _mm_max_epu8(band[k], _mm_and_si128(before, start_v[k]));
      }
      for (int k = 0; k < 4; k++) band[k] = gapped_odd_pass(band[k], v);
      band[0] = _mm_max_epu8(band[0], floor0_v);
      const __m128i top = _mm_max_epu8(_mm_max_epu8(band[0], band[1]), _mm_max_epu8(band[2], band[3]));
      const __m128i changed = _mm_subs_epu8(top, v.c);
      for (int k = 0; k < 4; k++) band[k] = _mm_max_epu8(band[k], changed);
      const __m128i tracked = rules.track_state0 ? band[0] : top;
      const __m128i ends =
          _mm_and_si128(_mm_cmpgt_epi8(row_bases, above_v), _mm_cmpgt_epi8(below_v, row_bases));
      running = _mm_max_epu8(running, _mm_and_si128(tracked, ends));
      if (kStore) {
        for (int k = 0; k < 4; k++) _mm_store_si128(reinterpret_cast<__m128i *>(sink + 64 * t + 16 * k), band[k]);
      }
      if ((t & (kGappedRebaseRows - 1)) == kGappedRebaseRows - 1 && t + 1 < rows) {
        gapped_fold(running, base, rules.zero, &best, &mask);
        running = zero_v;
        const int32_t amount = gapped_rebase_amount(gapped_centre_byte(top), base);
        for (int k = 0; k < 4; k++) band[k] = gapped_shift(band[k], amount);
        base -= amount;
        if (kStore) *rebases++ = static_cast<int8_t>(amount);
      }
    }
    gapped_fold(running, base, rules.zero, &best, &mask);
    scores[index] = static_cast<uint16_t>(best - rules.zero);
    masks[index] = static_cast<uint16_t>(mask);
  }
}

}  // namespace

void gapped_kernel_colour(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
                          uint16_t *masks) {
  if (scorer->sink_rows != nullptr)
    run<true>(scorer, candidates, count, scores, masks);
  else
    run<false>(scorer, candidates, count, scores, masks);
}
