// Gapped kernel, nucleotide space, semi-global and global modes.
//
// Anchored starts (global; semi-global with an even query) begin every band
// diagonal at byte 160 (score 0) before query base 0: bytes whose cell
// lies before the query are raised to that start value after the first
// half of each row, before the odd bytes read them. Free starts
// (semi-global with an odd query) keep the score zero at the byte floor as
// the local kernel does. End cells are the cells inside the query (free
// end) or those of its last base (anchored end), selected per row by the
// query base each byte holds.
#include "refmap/align/gapped_kernel.h"

namespace {

template <bool kStore>
void run(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
         uint16_t *masks) {
  const gapped_vectors_t v = gapped_vectors(scorer);
  const __m128i zero_v = _mm_setzero_si128();
  const __m128i one_v = _mm_set1_epi8(1);
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

    const __m128i start_v =
        rules.anchored_start ? _mm_set1_epi8(static_cast<char>(rules.start[0])) : zero_v;
    // End cells: query bases first_end .. n - 1.
    const int32_t first_end = rules.anchored_end ? n - 1 : 0;
    const __m128i above_v = _mm_set1_epi8(static_cast<char>(first_end - 1));
    const __m128i below_v = _mm_set1_epi8(static_cast<char>(n));
    __m128i row_bases = gapped_row_bases_start();

    __m128i band = start_v;
    __m128i running = zero_v;
    int32_t base = 0;
    int32_t best = rules.zero;
    uint32_t mask = 0;
    for (int32_t t = 0; t < rows; t++) {
      row_bases = _mm_add_epi8(row_bases, one_v);
      const __m128i match = _mm_cmpeq_epi8(gapped_reference_row(window, t), gapped_query_row(padded, t));
      band = gapped_even_pass(band, match, v);
      band = _mm_max_epu8(band, _mm_and_si128(_mm_cmpgt_epi8(zero_v, row_bases), start_v));
      band = gapped_odd_pass(band, v);
      const __m128i ends =
          _mm_and_si128(_mm_cmpgt_epi8(row_bases, above_v), _mm_cmpgt_epi8(below_v, row_bases));
      running = _mm_max_epu8(running, _mm_and_si128(band, ends));
      if (kStore) _mm_store_si128(reinterpret_cast<__m128i *>(sink + 16 * t), band);
      if ((t & (kGappedRebaseRows - 1)) == kGappedRebaseRows - 1 && t + 1 < rows) {
        gapped_fold(running, base, rules.zero, &best, &mask);
        running = zero_v;
        const int32_t amount = gapped_rebase_amount(gapped_centre_byte(band), base);
        band = gapped_shift(band, amount);
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

void gapped_kernel_anchored(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count,
                            uint16_t *scores, uint16_t *masks) {
  if (scorer->sink_rows != nullptr)
    run<true>(scorer, candidates, count, scores, masks);
  else
    run<false>(scorer, candidates, count, scores, masks);
}
