// 16-bit column kernels (SSE2 saturating arithmetic, SSSE3 byte align).
//
// Striped column: pass 1 walks the S vectors once, taking deletions from
// the previous column and the diagonal from the profile, and carries
// insertions (F) down each lane's segment. The F leaving the last vector
// belongs to the next lane's first row; a three-step prefix maximum over
// the lanes (distances 1, 2, 4) gives every lane the best F entering it
// from all segments above, and pass 2 applies it once more to every
// vector. All arithmetic saturates at -32768 and 32767; the band's bias
// keeps every score of a read row strictly above -32768.
#include <algorithm>

#include "fm/mapper/mapper_band_kernels.h"

namespace {

inline __m128i shift_up_lanes(__m128i v, __m128i fill, int lanes) {
  switch (lanes) {
    case 1: return _mm_alignr_epi8(v, fill, 14);
    case 2: return _mm_alignr_epi8(v, fill, 12);
    default: return _mm_alignr_epi8(v, fill, 8);
  }
}

// Best F entering every lane from the lanes above it.
inline __m128i prefix_insertions(__m128i leaving, BandCosts16 const &k) {
  __m128i g = _mm_alignr_epi8(leaving, k.floor, 14);
  static constexpr int kDistance[3] = {1, 2, 4};
  for (int step = 0; step < 3; step++) {
    __m128i moved = _mm_subs_epi16(shift_up_lanes(g, k.floor, kDistance[step]), k.scan_first[step]);
    if (k.split_scan) moved = _mm_subs_epi16(moved, k.scan_second[step]);
    g = _mm_max_epi16(g, moved);
  }
  return g;
}

inline int32_t horizontal_max16(__m128i v) {
  v = _mm_max_epi16(v, _mm_srli_si128(v, 8));
  v = _mm_max_epi16(v, _mm_srli_si128(v, 4));
  v = _mm_max_epi16(v, _mm_srli_si128(v, 2));
  return static_cast<int16_t>(_mm_cvtsi128_si32(v) & 0xFFFF);
}

inline __m128i load(__m128i const *p) { return _mm_load_si128(p); }
inline void store(__m128i *p, __m128i v) { _mm_store_si128(p, v); }

// Pass 2: the carried insertions, minus the insertion cost per row.
inline int32_t apply_insertions(__m128i *h, uint32_t segments, __m128i f, BandCosts16 const &k) {
  __m128i best = k.floor;
  for (uint32_t j = 0; j < segments; j++) {
    __m128i hv = _mm_max_epi16(load(h + j), f);
    store(h + j, hv);
    best = _mm_max_epi16(best, hv);
    f = _mm_subs_epi16(f, k.insertion_cost);
  }
  return horizontal_max16(best);
}

inline __m128i clamp16(int64_t v) {
  return _mm_set1_epi16(static_cast<int16_t>(std::clamp<int64_t>(v, 0, 32767)));
}

}  // namespace

void band_costs16_init(BandCosts16 *costs, int32_t insertion_open, int32_t insertion_cost, int32_t deletion_open,
                       int32_t deletion_cost, uint32_t segments) {
  costs->insertion_open = clamp16(insertion_open);
  costs->insertion_cost = clamp16(insertion_cost);
  costs->deletion_open = clamp16(deletion_open);
  costs->deletion_cost = clamp16(deletion_cost);
  costs->floor = _mm_set1_epi16(-32768);
  costs->split_scan = false;
  int64_t s = static_cast<int64_t>(segments) * insertion_cost;
  static constexpr int kDistance[3] = {1, 2, 4};
  for (int step = 0; step < 3; step++) {
    // Two saturating subtractions of at most 32767 each; 65534 already
    // takes every stored value (at most 32767) to the floor.
    int64_t total = std::min<int64_t>(s * kDistance[step], 65534);
    int16_t first = static_cast<int16_t>(std::min<int64_t>(total, 32767));
    int16_t second = static_cast<int16_t>(total - first);
    if (second != 0) costs->split_scan = true;
    // Lanes that the shift fills hold the floor, which any cost keeps there.
    int16_t lanes_a[8];
    int16_t lanes_b[8];
    for (int l = 0; l < 8; l++) {
      bool filled = l < kDistance[step];
      lanes_a[l] = filled ? 32767 : first;
      lanes_b[l] = filled ? 0 : second;
    }
    costs->scan_first[step] = _mm_loadu_si128(reinterpret_cast<__m128i const *>(lanes_a));
    costs->scan_second[step] = _mm_loadu_si128(reinterpret_cast<__m128i const *>(lanes_b));
  }
}

// The profile vector of read-code word *row: the 16-bit table entries of
// its eight code bytes.
inline __m128i profile_vector(uint64_t const *row, BandProfile16 const &p) {
  __m128i codes = _mm_loadl_epi64(reinterpret_cast<__m128i const *>(row));
  return _mm_unpacklo_epi8(_mm_shuffle_epi8(p.low, codes), _mm_shuffle_epi8(p.high, codes));
}

int32_t band_column16_linear(__m128i const *hp, __m128i *h, BandProfile16 const &prof, uint32_t segments,
                             BandCosts16 const &k) {
  __m128i f = k.floor;
  uint32_t last = segments - 1;
  for (uint32_t j = 0; j < last; j++) {
    __m128i ev = _mm_subs_epi16(load(hp + j + 1), k.deletion_cost);
    __m128i hv = _mm_adds_epi16(load(hp + j), profile_vector(prof.rows + j, prof));
    hv = _mm_max_epi16(_mm_max_epi16(hv, ev), f);
    store(h + j, hv);
    f = _mm_subs_epi16(hv, k.insertion_cost);
  }
  // The row below the last vector's is the first vector's, one lane on.
  __m128i ev = _mm_subs_epi16(_mm_alignr_epi8(k.floor, load(hp), 2), k.deletion_cost);
  __m128i hv = _mm_adds_epi16(load(hp + last), profile_vector(prof.rows + last, prof));
  hv = _mm_max_epi16(_mm_max_epi16(hv, ev), f);
  store(h + last, hv);
  f = _mm_subs_epi16(hv, k.insertion_cost);
  return apply_insertions(h, segments, prefix_insertions(f, k), k);
}

int32_t band_column16_affine(__m128i const *hp, __m128i const *ep, __m128i *h, __m128i *e, BandProfile16 const &prof,
                             uint32_t segments, BandCosts16 const &k) {
  __m128i f = k.floor;
  auto step = [&](uint32_t j, __m128i hn, __m128i en) {
    __m128i ev = _mm_subs_epi16(_mm_max_epi16(_mm_subs_epi16(hn, k.deletion_open), en), k.deletion_cost);
    __m128i hv = _mm_adds_epi16(load(hp + j), profile_vector(prof.rows + j, prof));
    hv = _mm_max_epi16(_mm_max_epi16(hv, ev), f);
    store(h + j, hv);
    store(e + j, ev);
    f = _mm_subs_epi16(_mm_max_epi16(_mm_subs_epi16(hv, k.insertion_open), f), k.insertion_cost);
  };
  uint32_t last = segments - 1;
  for (uint32_t j = 0; j < last; j++) step(j, load(hp + j + 1), load(ep + j + 1));
  step(last, _mm_alignr_epi8(k.floor, load(hp), 2), _mm_alignr_epi8(k.floor, load(ep), 2));
  return apply_insertions(h, segments, prefix_insertions(f, k), k);
}

int32_t band_reach16(__m128i const *h, uint32_t segments, int32_t match, int32_t rest) {
  // Lane l of vector j is band row l * S + j. Products past 32767 saturate,
  // which only lowers the rows' deduction and so keeps the bound above.
  int16_t lanes[8];
  for (int l = 0; l < 8; l++)
    lanes[l] = static_cast<int16_t>(std::min<int64_t>(static_cast<int64_t>(match) * l * segments, 32767));
  __m128i row_cost = _mm_loadu_si128(reinterpret_cast<__m128i const *>(lanes));
  const __m128i step = _mm_set1_epi16(static_cast<int16_t>(match));
  const __m128i top = _mm_set1_epi16(static_cast<int16_t>(static_cast<int64_t>(match) * rest));
  const __m128i zero = _mm_setzero_si128();
  __m128i best = _mm_set1_epi16(-32768);
  for (uint32_t j = 0; j < segments; j++) {
    const __m128i gain = _mm_max_epi16(_mm_subs_epi16(top, row_cost), zero);
    best = _mm_max_epi16(best, _mm_adds_epi16(load(h + j), gain));
    row_cost = _mm_adds_epi16(row_cost, step);
  }
  return horizontal_max16(best);
}

void band_fill16(__m128i *v, size_t n, int16_t value) {
  __m128i x = _mm_set1_epi16(value);
  for (size_t i = 0; i < n; i++) store(v + i, x);
}
