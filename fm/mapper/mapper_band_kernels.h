// Column kernels of the vectorised band. hp/ep are the previous column,
// h/e the column being computed, S vectors each, and prof its query
// profile (S vectors in 32-bit lanes; in 16-bit lanes S read-code words
// and the reference code's score tables, see BandProfile16); every kernel
// returns the column maximum in its own lane units
// (stored 16-bit values, or 32-bit scores).
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "fm/mapper/mapper_band.h"

void band_costs16_init(BandCosts16 *costs, int32_t insertion_open, int32_t insertion_cost, int32_t deletion_open,
                       int32_t deletion_cost, uint32_t segments);
void band_costs32_init(BandCosts32 *costs, int32_t insertion_open, int32_t insertion_cost, int32_t deletion_open,
                       int32_t deletion_cost, uint32_t segments);

// The 16-bit profile of one column: vector j holds in lane l the 16-bit
// value whose low byte is low[b] and high byte high[b], b being byte l of
// rows[j] (a code below 16).
struct BandProfile16 {
  uint64_t const *rows;
  __m128i low;
  __m128i high;
};

int32_t band_column16_linear(__m128i const *hp, __m128i *h, BandProfile16 const &prof, uint32_t segments,
                             BandCosts16 const &costs);
int32_t band_column16_affine(__m128i const *hp, __m128i const *ep, __m128i *h, __m128i *e, BandProfile16 const &prof,
                             uint32_t segments, BandCosts16 const &costs);
int32_t band_column32_linear(__m128i const *hp, __m128i *h, __m128i const *prof, uint32_t segments,
                             BandCosts32 const &costs);
int32_t band_column32_affine(__m128i const *hp, __m128i const *ep, __m128i *h, __m128i *e, __m128i const *prof,
                             uint32_t segments, BandCosts32 const &costs);

// The most a path leaving a 16-bit column can still score, in stored
// units: over every band row F of the column (S vectors), its value plus
// match for each read row below it, match * max(0, rest - F). rest must lie
// in 0..32767; 32767 when the sum reaches the top of the 16-bit range.
int32_t band_reach16(__m128i const *h, uint32_t segments, int32_t match, int32_t rest);

// Appends profile vector p for each of the five codes (stride vectors
// apart): vector p - S moved down one lane with top[x] in the top lane.
void band_profile32_extend(__m128i *profile, size_t stride, size_t p, uint32_t segments, int32_t const top[5]);

// Sets every lane of n vectors to value.
void band_fill16(__m128i *v, size_t n, int16_t value);
void band_fill32(__m128i *v, size_t n, int32_t value);

// Converts one 16-bit column of S16 vectors to the 32-bit layout of
// 2 * S16 vectors, every band row keeping its place: stored - bias, and
// minus infinity for the floor value -32768.
void band_step_up(__m128i const *v16, __m128i *v32, uint32_t segments16, int32_t bias);
