// Ungapped scorer: profiles, constants and the dispatch to the vector
// kernels (ungapped_scorer_nt.cpp, ungapped_scorer_colour.cpp).
#include "refmap/align/ungapped_scorer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

namespace {

// Value of one query slot by its 2-bit code: bit 0 a match, bit 1 a query
// position. Slots outside the query count 0, so that the window's slots
// before and after the query never change a score.
int slot_value(int code, int x) {
  if (code == 3) return 1;
  if (code == 2) return -x;
  return 0;
}

// Nibble tables over two slots a (bits 0-1) and b (bits 2-3): sum, best
// prefix, best suffix and best run, each counting the empty run as 0.
void build_constants(ungapped_scorer_t *scorer) {
  const int x = scorer->mismatch;
  for (int e = 0; e < 16; e++) {
    const int a = slot_value(e & 3, x);
    const int b = slot_value(e >> 2, x);
    const int total = a + b;
    const int prefix = std::max({0, a, total});
    const int suffix = std::max({0, b, total});
    const int best = std::max({0, a, b, total});
    scorer->constants[0][e] = static_cast<uint8_t>(static_cast<int8_t>(total));
    scorer->constants[1][e] = static_cast<uint8_t>(static_cast<int8_t>(prefix));
    scorer->constants[2][e] = static_cast<uint8_t>(static_cast<int8_t>(suffix));
    scorer->constants[3][e] = static_cast<uint8_t>(static_cast<int8_t>(best));
  }
}

// Four phase copies: copy p holds query base i in slot p + 1 + i, so that
// a window loaded from byte (P - 1) / 4 puts base i on block position P + i
// when p = (P - 1) mod 4. A plane of 64 two-bit slots is one little-endian
// 128-bit value (slot s in bits 2s and 2s + 1): copy 0 is built once and
// copy p is copy 0 moved up by 2p bits.
void build_nt_profile(uint8_t *profile, const seq_record_t *query, int32_t length) {
  typedef unsigned __int128 plane_t;
  // Each plane in two 64-bit halves: slots 1 to 31 (bases 0 to 30) lie in
  // the low half, the rest in the high one; each half is built in registers.
  uint64_t bases[2] = {0, 0}, known[2] = {0, 0}, positions[2] = {0, 0};
  auto fill_half = [&](int32_t from, int32_t to, int32_t half) {
    uint64_t b = 0, k = 0, q = 0;
    for (int32_t i = from; i < to; i++) {
      const uint64_t code = query->residues[i];
      const int32_t shift = (2 * (1 + i)) & 63;
      const uint64_t is_known = code < 4 ? 3 : 0;
      b |= (code & is_known) << shift;
      k |= is_known << shift;
      q |= uint64_t{3} << shift;
    }
    bases[half] = b;
    known[half] = k;
    positions[half] = q;
  };
  const int32_t low = length < 31 ? length : 31;
  fill_half(0, low, 0);
  fill_half(low, length, 1);
  auto whole = [](const uint64_t *halves) { return (static_cast<plane_t>(halves[1]) << 64) | halves[0]; };
  const plane_t base_plane = whole(bases), known_plane = whole(known), position_plane = whole(positions);
  for (int32_t p = 0; p < 4; p++) {
    uint8_t *copy = profile + p * kUngappedProfileCopyBytes;
    const plane_t planes[3] = {base_plane << (2 * p), known_plane << (2 * p), position_plane << (2 * p)};
    memcpy(copy, planes, sizeof planes);
  }
}

void build_colour_profile(uint8_t *profile, const seq_record_t *query, int32_t length) {
  memset(profile, 0, kUngappedColourProfileBytes);
  for (int32_t i = 0; i < length; i++) profile[i] = query->residues[i] < 4 ? query->residues[i] : 4;
  memcpy(profile + kUngappedColourProfileBytes - 4, &length, 4);
}

}  // namespace

ungapped_scorer_t *ungapped_scorer_new(seq_record_t *const *queries, int32_t count, const uint8_t *bases,
                                       const uint8_t *known, int16_t x, int16_t c, int32_t mode) {
  auto *scorer = static_cast<ungapped_scorer_t *>(ryx_calloc(sizeof(ungapped_scorer_t)));
  scorer->bases = bases;
  scorer->known = known;
  scorer->mismatch = x;
  scorer->colour_cost = c;
  scorer->colour = c != -1 ? 1 : 0;
  scorer->mode = mode;
  scorer->query_count = count;
  build_constants(scorer);

  const int32_t size = scorer->colour ? kUngappedColourProfileBytes : kUngappedProfileBytes;
  const size_t bytes = static_cast<size_t>(std::max(count, 1)) * size;
  // Every profile is written whole below (a null query's left zero), so the
  // block is not cleared first.
  scorer->profile_block = static_cast<uint8_t *>(ryx_malloc(bytes + 15));
  scorer->profiles = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(scorer->profile_block) + 15) &
                                                 ~static_cast<uintptr_t>(15));
  scorer->lengths = static_cast<int32_t *>(ryx_calloc(sizeof(int32_t) * std::max(count, 1)));
  for (int32_t q = 0; q < count; q++) {
    const seq_record_t *query = queries[q];
    if (query == nullptr) {
      memset(scorer->profiles + static_cast<size_t>(q) * size, 0, static_cast<size_t>(size));
      continue;
    }
    if (query->length > static_cast<uint32_t>(kUngappedMaxQuery)) {
      fprintf(stderr, "Query of %u positions too long for the ungapped scorer\n", query->length);
      ryx_exit(1);
    }
    const int32_t length = static_cast<int32_t>(query->length);
    scorer->lengths[q] = length;
    uint8_t *profile = scorer->profiles + static_cast<size_t>(q) * size;
    if (scorer->colour)
      build_colour_profile(profile, query, length);
    else
      build_nt_profile(profile, query, length);
  }

  scorer->scratch_block = static_cast<uint8_t *>(ryx_calloc(256 + 255));
  scorer->scratch = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(scorer->scratch_block) + 255) &
                                                ~static_cast<uintptr_t>(255));
  // Three rows of four states per position and one more for the end.
  scorer->trace = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * 3 * 4 * (kUngappedMaxQuery + 1)));
  return scorer;
}

const uint16_t *ungapped_scorer_score(ungapped_scorer_t *scorer, const candidate_t *candidates, int32_t count) {
  if (count <= 0) return nullptr;
  if (count > scorer->score_capacity) {
    scorer->scores = static_cast<uint16_t *>(ryx_realloc(scorer->scores, sizeof(uint16_t) * count));
    scorer->score_capacity = count;
  }
  scorer->candidates = candidates;
  scorer->candidate_count = count;
  if (scorer->colour)
    ungapped_score_colour(scorer);
  else if (scorer->mode == kAlignModeLocal)
    ungapped_score_nt_local(scorer);
  else if (scorer->mode == kAlignModeSemiGlobal)
    ungapped_score_nt_semi_global(scorer);
  else
    ungapped_score_nt_global(scorer);
  return scorer->scores;
}

ungapped_scorer_t *ungapped_scorer_free(ungapped_scorer_t *scorer) {
  if (scorer == nullptr) return nullptr;
  ryx_free(scorer->profile_block);
  ryx_free(scorer->lengths);
  ryx_free(scorer->scores);
  ryx_free(scorer->scratch_block);
  ryx_free(scorer->trace);
  ryx_free(scorer);
  return nullptr;
}
