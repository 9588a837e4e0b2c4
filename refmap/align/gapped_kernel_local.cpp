// Gapped kernel, nucleotide space, local mode: paths start and end anywhere.
//
// The score zero is the byte floor, so saturating subtraction is the local
// floor of every cell, and every cell (before, inside or after the query)
// is an end cell: cells before the query stay at the floor and cells after
// it lie strictly below the cells they come from.
#include "refmap/align/gapped_kernel.h"

namespace {

template <bool kStore>
void run(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
         uint16_t *masks) {
  const gapped_vectors_t v = gapped_vectors(scorer);
  const __m128i zero_v = _mm_setzero_si128();
  for (int32_t index = 0; index < count; index++) {
    const candidate_t candidate = candidates[index];
    const uint32_t q = candidate.query;
    if (q >= static_cast<uint32_t>(scorer->query_count) || scorer->padded_lengths[q] == 0) {
      scores[index] = 0;
      masks[index] = 0;
      continue;
    }
    const int32_t rows = scorer->padded_lengths[q];
    const uint8_t *padded = scorer->padded[q];
    uint8_t *window = scorer->window;
    gapped_window_unpack(scorer->bases, scorer->known, static_cast<int64_t>(candidate.position) - 7, rows + 16,
                         window);
    uint8_t *sink = scorer->sink_rows;
    int8_t *rebases = scorer->sink_rebases;

    __m128i band = zero_v;
    __m128i running = zero_v;
    int32_t base = 0;
    int32_t best = 0;
    uint32_t mask = 0;
    for (int32_t t = 0; t < rows; t++) {
      const __m128i match = _mm_cmpeq_epi8(gapped_reference_row(window, t), gapped_query_row(padded, t));
      band = gapped_even_pass(band, match, v);
      band = gapped_odd_pass(band, v);
      running = _mm_max_epu8(running, band);
      if (kStore) _mm_store_si128(reinterpret_cast<__m128i *>(sink + 16 * t), band);
      if ((t & (kGappedRebaseRows - 1)) == kGappedRebaseRows - 1 && t + 1 < rows) {
        gapped_fold(running, base, 0, &best, &mask);
        running = zero_v;
        const int32_t amount = gapped_rebase_amount(gapped_centre_byte(band), base);
        band = gapped_shift(band, amount);
        base -= amount;
        if (kStore) *rebases++ = static_cast<int8_t>(amount);
      }
    }
    gapped_fold(running, base, 0, &best, &mask);
    scores[index] = static_cast<uint16_t>(best);
    masks[index] = static_cast<uint16_t>(mask);
  }
}

}  // namespace

void gapped_kernel_local(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
                         uint16_t *masks) {
  if (scorer->sink_rows != nullptr)
    run<true>(scorer, candidates, count, scores, masks);
  else
    run<false>(scorer, candidates, count, scores, masks);
}
