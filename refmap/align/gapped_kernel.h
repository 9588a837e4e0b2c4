// Vector pieces shared by the gapped scorer's kernels (internal to
// refmap_align; the scorer and the aligner are the only users).
//
// Band layout. One 16-byte vector holds the band, byte k for diagonal k, as
// unsigned saturating bytes, staggered: at row t bytes 2w and 2w + 1 hold
// query base t - w, so cell (i, k) lives in row i + k / 2. The three
// predecessors of a cell are then in place when its row is computed: the
// aligned predecessor (i - 1, k) is the same byte of the previous row; for
// an even byte the deletion predecessor (i, k - 1) and the insertion
// predecessor (i - 1, k + 1) are its neighbours in the previous row, for an
// odd byte they are its neighbours in the current row. A row therefore runs
// the gap step twice: from the old band into the even bytes (with the
// aligned step), then from the new band into the odd bytes. A query of n
// bases takes n + 7 rows.
//
// Values. A cell's absolute value is its byte plus the candidate's base
// offset; its score is the absolute value minus the start rule's zero. Modes
// that start anywhere keep zero at the byte floor, so saturation at 0 is the
// floor itself and the base offset never moves (no cell comes near the
// rebase target). Modes that start at query base 0 start every diagonal at
// byte 160 and every 32 rows shift the band so that diagonal 7 is at 160
// again (never upwards past a base offset of 0); with reads of at most
// kGappedMaxQueryLength bases no cell overflows, and a cell that saturates
// at 0 lies so far below the band that neither it nor anything derived
// from it can reach an end cell's best value or lie on a path traced from
// it.
#pragma once

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstdint>

#include "refmap/align/gapped_scorer.h"

// Bytes of the block window unpacked per candidate: rows + 16 positions.
constexpr int32_t kGappedWindowBytes = 128;

// The three kernels. Each scores count candidates into scores and masks;
// with the scorer's column sink set (count 1) it also stores every band row
// and rebase amount.
void gapped_kernel_local(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
                         uint16_t *masks);
void gapped_kernel_anchored(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count,
                            uint16_t *scores, uint16_t *masks);
void gapped_kernel_colour(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
                          uint16_t *masks);
// The kernel of the scorer's space and mode.
void gapped_scorer_run(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
                       uint16_t *masks);

// Unpacks block codes of positions first .. first + count - 1 into out, one
// byte each: the base 0-3 where the known mask is 3, else 0xff. Positions
// below 0 are unknown.
void gapped_window_unpack(const uint8_t *bases, const uint8_t *known, int64_t first, int32_t count, uint8_t *out);

// Cost vectors of one scorer.
struct gapped_vectors_t {
  __m128i x_plus_1;  // added where the bases agree
  __m128i x;         // then subtracted everywhere
  __m128i g;
  __m128i d;
  __m128i c;
  __m128i even;      // 0xff in bytes 0, 2, ..., 14
  __m128i odd;       // 0xff in bytes 1, 3, ..., 15
};

inline gapped_vectors_t gapped_vectors(const gapped_scorer_t *scorer) {
  gapped_vectors_t v;
  v.x_plus_1 = _mm_set1_epi8(static_cast<char>(scorer->x + 1));
  v.x = _mm_set1_epi8(static_cast<char>(scorer->x));
  v.g = _mm_set1_epi8(static_cast<char>(scorer->g));
  v.d = _mm_set1_epi8(static_cast<char>(scorer->d));
  v.c = _mm_set1_epi8(static_cast<char>(scorer->c > 0 ? scorer->c : 0));
  v.even = _mm_set1_epi16(0x00ff);
  v.odd = _mm_set1_epi16(static_cast<short>(0xff00));
  return v;
}

// Block codes of row t: word w holds positions (j + w, j + w + 1) with j the
// window start plus t.
inline __m128i gapped_reference_row(const uint8_t *window, int32_t t) {
  const __m128i order = _mm_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(window + t)), order);
}

// Query codes of row t: word w holds query base t - w in both bytes (the
// padded query has 7 leading code-4 bytes, so base i is padded byte i + 7).
inline __m128i gapped_query_row(const uint8_t *padded, int32_t t) {
  const __m128i order = _mm_setr_epi8(7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(padded + t)), order);
}

// Best gap entry of every byte from its neighbours: the lower one minus d
// (a deletion) and the upper one minus g (an insertion); the band edges
// take nothing from outside.
inline __m128i gapped_gap_terms(__m128i band, const gapped_vectors_t &v) {
  return _mm_max_epu8(_mm_subs_epu8(_mm_slli_si128(band, 1), v.d), _mm_subs_epu8(_mm_srli_si128(band, 1), v.g));
}

// First half of a row: every byte takes its aligned step (match is 0xff
// where the codes agree), the even bytes also their gap entries from the
// previous row.
inline __m128i gapped_even_pass(__m128i band, __m128i match, const gapped_vectors_t &v) {
  const __m128i gaps = _mm_and_si128(gapped_gap_terms(band, v), v.even);
  const __m128i aligned = _mm_subs_epu8(_mm_adds_epu8(band, _mm_and_si128(match, v.x_plus_1)), v.x);
  return _mm_max_epu8(aligned, gaps);
}

// Second half: the odd bytes take their gap entries from the new even bytes.
inline __m128i gapped_odd_pass(__m128i band, const gapped_vectors_t &v) {
  return _mm_max_epu8(band, _mm_and_si128(gapped_gap_terms(band, v), v.odd));
}

// Largest byte.
inline int32_t gapped_hmax(__m128i v) {
  v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 1));
  return _mm_cvtsi128_si32(v) & 0xff;
}

// Byte 7 (the candidate's diagonal).
inline int32_t gapped_centre_byte(__m128i v) { return (_mm_extract_epi16(v, 3) >> 8) & 0xff; }

// Folds a window's running maximum into the candidate's best absolute value
// and its end mask: a larger value replaces both, an equal one adds its
// diagonals. Values below the zero (scores below 0) are no ends.
inline void gapped_fold(__m128i running, int32_t base, int32_t zero, int32_t *best, uint32_t *mask) {
  const int32_t top = gapped_hmax(running);
  const int32_t absolute = top + base;
  if (absolute < zero || absolute < *best) return;
  const uint32_t bits =
      static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(running, _mm_set1_epi8(static_cast<char>(top)))));
  if (absolute > *best) {
    *best = absolute;
    *mask = bits;
  } else {
    *mask |= bits;
  }
}

// The amount added to every cell by a rebase: moves the centre byte to the
// target, upwards by no more than the base offset.
inline int32_t gapped_rebase_amount(int32_t centre, int32_t base) {
  int32_t amount = kGappedRebaseTarget - centre;
  if (amount > base) amount = base;
  return amount;
}

inline __m128i gapped_shift(__m128i band, int32_t amount) {
  if (amount > 0) return _mm_adds_epu8(band, _mm_set1_epi8(static_cast<char>(amount)));
  if (amount < 0) return _mm_subs_epu8(band, _mm_set1_epi8(static_cast<char>(-amount)));
  return band;
}

// Row index vector before row 0: byte k holds -1 - k / 2, so after adding 1
// per row it holds the query base t - k / 2 of its cell.
inline __m128i gapped_row_bases_start() {
  return _mm_setr_epi8(-1, -1, -2, -2, -3, -3, -4, -4, -5, -5, -6, -6, -7, -7, -8, -8);
}
