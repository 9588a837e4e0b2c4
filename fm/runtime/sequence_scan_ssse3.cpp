// SSSE3 kernels of the line scanners: a byte-shuffle table lookup on the
// low four bits of each byte, compare masks for validity and stop bytes.
#include <immintrin.h>

#include "fm/runtime/sequence_scan.h"

namespace {

// Bytes that stop a scan: CR, LF and NUL (the padding behind the data).
inline unsigned first_stop(__m128i v) {
  __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                              _mm_cmpeq_epi8(v, _mm_setzero_si128()));
  return static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(stop)) | 0x10000U));
}

}  // namespace

unsigned symbol_kernel16(uint8_t const *in, uint8_t *out) {
  // The low nibble picks a candidate: 1 A, 3 C, 4 T, 5 U, 7 G, 14 N. The
  // byte with bits 0 and 5 cleared (0xDE: case and the A/C/G/U low bit)
  // must then equal the candidate's canonical pattern; 0xFF never does.
  const __m128i code_table = _mm_setr_epi8(4, 0, 4, 1, 3, 3, 4, 2, 4, 4, 4, 4, 4, 4, 4, 4);
  const __m128i canon_table = _mm_setr_epi8(-1, 0x40, -1, 0x42, 0x54, 0x54, -1, 0x46, -1, -1, -1, -1, -1, -1, 0x4E, -1);
  __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const *>(in));
  __m128i low = _mm_and_si128(v, _mm_set1_epi8(0x0F));
  __m128i code = _mm_shuffle_epi8(code_table, low);
  __m128i canon = _mm_shuffle_epi8(canon_table, low);
  __m128i valid = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDE))), canon);
  __m128i result = _mm_or_si128(_mm_and_si128(valid, code), _mm_andnot_si128(valid, _mm_set1_epi8(4)));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out), result);
  return first_stop(v);
}

unsigned quality_kernel16(uint8_t const *in, uint8_t *out, uint8_t offset, uint8_t lowest) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const *>(in));
  // Signed compare: bytes from 0x80 up are negative and so below lowest too.
  __m128i invalid = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(lowest)), v);
  __m128i value = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(offset)));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_andnot_si128(invalid, value));
  return first_stop(v);
}

unsigned line_end_kernel16(uint8_t const *in) {
  return first_stop(_mm_loadu_si128(reinterpret_cast<__m128i const *>(in)));
}
