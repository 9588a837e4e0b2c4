// Gapped scorer: padded queries, start rules and the dispatch to the
// kernels.
#include "refmap/align/gapped_scorer.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "refmap/align/gapped_kernel.h"
#include "seqio/seq_record.h"

namespace {

// Four 2-bit fields of a packed byte spread to four bytes (lowest first).
constexpr std::array<uint32_t, 256> make_spread_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t b = 0; b < 256; b++) {
    uint32_t out = 0;
    for (uint32_t slot = 0; slot < 4; slot++) out |= ((b >> (2 * slot)) & 3u) << (8 * slot);
    table[b] = out;
  }
  return table;
}

// 0xff in the byte of every slot of a known-mask byte that is not 3.
constexpr std::array<uint32_t, 256> make_unknown_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t b = 0; b < 256; b++) {
    uint32_t out = 0;
    for (uint32_t slot = 0; slot < 4; slot++)
      if (((b >> (2 * slot)) & 3u) != 3u) out |= 0xffu << (8 * slot);
    table[b] = out;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kSpread = make_spread_table();
constexpr std::array<uint32_t, 256> kUnknown = make_unknown_table();

uint8_t unpack_one(const uint8_t *bases, const uint8_t *known, int64_t position) {
  if (position < 0) return 0xff;
  const int shift = static_cast<int>(2 * (position & 3));
  if (((known[position >> 2] >> shift) & 3) != 3) return 0xff;
  return static_cast<uint8_t>((bases[position >> 2] >> shift) & 3);
}

// Start rules of one parity.
gapped_start_t start_rules(int32_t mode, int32_t colour, int32_t c, int32_t odd) {
  gapped_start_t s;
  memset(&s, 0, sizeof s);
  s.anchored_start = (mode == 3 || (mode == 1 && !odd)) ? 1 : 0;
  s.anchored_end = (mode == 3 || (mode == 1 && odd)) ? 1 : 0;
  s.track_state0 = colour && odd ? 1 : 0;
  if (s.anchored_start) {
    // Every diagonal starts at score 0 before query base 0; in colour space
    // an even query starts in state 0, the others cost c.
    s.zero = kGappedRebaseTarget;
    for (int k = 0; k < 4; k++)
      s.start[k] = static_cast<uint8_t>(k > 0 && colour && !odd ? kGappedRebaseTarget - c : kGappedRebaseTarget);
  } else if (colour && !odd) {
    // Local, even query: state 0 restarts at score 0, one byte step of c
    // above the floor, so that a change out of it lands on the floor of the
    // other states.
    s.zero = c;
    s.start[0] = static_cast<uint8_t>(c);
  }
  return s;
}

}  // namespace

void gapped_window_unpack(const uint8_t *bases, const uint8_t *known, int64_t first, int32_t count, uint8_t *out) {
  int32_t m = 0;
  // Single positions up to a byte boundary (and any below the block).
  while (m < count && (first + m < 0 || ((first + m) & 3) != 0)) {
    out[m] = unpack_one(bases, known, first + m);
    m++;
  }
  // Whole bytes.
  while (m + 4 <= count) {
    const int64_t byte = (first + m) >> 2;
    const uint32_t codes = kSpread[bases[byte]] | kUnknown[known[byte]];
    memcpy(out + m, &codes, 4);
    m += 4;
  }
  while (m < count) {
    out[m] = unpack_one(bases, known, first + m);
    m++;
  }
}

void gapped_scorer_run(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count, uint16_t *scores,
                       uint16_t *masks) {
  if (scorer->colour)
    gapped_kernel_colour(scorer, candidates, count, scores, masks);
  else if (scorer->mode == 0)
    gapped_kernel_local(scorer, candidates, count, scores, masks);
  else
    gapped_kernel_anchored(scorer, candidates, count, scores, masks);
}

gapped_scorer_t *gapped_scorer_new(seq_record_t **queries, int32_t count, const uint8_t *bases,
                                   const uint8_t *known, int16_t x, int16_t g, int16_t d, int32_t mode,
                                   int16_t c) {
  auto *scorer = static_cast<gapped_scorer_t *>(ryx_calloc(sizeof(gapped_scorer_t)));
  scorer->bases = bases;
  scorer->known = known;
  scorer->x = x;
  scorer->g = g;
  scorer->d = d;
  scorer->c = c;
  scorer->mode = mode;
  scorer->colour = c != -1 ? 1 : 0;
  scorer->query_count = count;
  const size_t slots = count > 0 ? static_cast<size_t>(count) : 1;
  scorer->padded = static_cast<uint8_t **>(ryx_calloc(slots * sizeof(uint8_t *)));
  scorer->padded_lengths = static_cast<int32_t *>(ryx_calloc(slots * sizeof(int32_t)));
  scorer->lengths = static_cast<int32_t *>(ryx_calloc(slots * sizeof(int32_t)));
  for (int32_t q = 0; q < count; q++) {
    const seq_record_t *query = queries[q];
    if (query == nullptr) continue;
    const int32_t n = static_cast<int32_t>(query->length);
    if (n > kGappedMaxQueryLength) {
      fprintf(stderr, "Gapped scorer: query %d is longer than %d bases\n", q, kGappedMaxQueryLength);
      ryx_exit(1);
    }
    auto *padded = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(7 + n + kGappedQueryTail)));
    memset(padded, 4, static_cast<size_t>(7 + n + kGappedQueryTail));
    for (int32_t i = 0; i < n; i++) padded[7 + i] = query->residues[i] < 4 ? query->residues[i] : 4;
    scorer->padded[q] = padded;
    scorer->lengths[q] = n;
    scorer->padded_lengths[q] = n > 0 ? n + 7 : 0;
  }
  for (int32_t parity = 0; parity < 2; parity++)
    scorer->starts[parity] = start_rules(mode, scorer->colour, c, parity);
  scorer->window = static_cast<uint8_t *>(ryx_calloc(kGappedWindowBytes));
  return scorer;
}

uint16_t *gapped_scorer_score(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count) {
  if (count <= 0) return nullptr;
  if (count > scorer->result_capacity) {
    ryx_free(scorer->scores);
    ryx_free(scorer->end_masks);
    scorer->scores = static_cast<uint16_t *>(ryx_malloc(static_cast<size_t>(count) * sizeof(uint16_t)));
    scorer->end_masks = static_cast<uint16_t *>(ryx_malloc(static_cast<size_t>(count) * sizeof(uint16_t)));
    scorer->result_capacity = count;
  }
  memset(scorer->scores, 0, static_cast<size_t>(count) * sizeof(uint16_t));
  memset(scorer->end_masks, 0, static_cast<size_t>(count) * sizeof(uint16_t));
  scorer->candidates = candidates;
  scorer->candidate_count = count;
  gapped_scorer_run(scorer, candidates, count, scorer->scores, scorer->end_masks);
  return scorer->scores;
}

uint16_t *gapped_scorer_scores(gapped_scorer_t *scorer) { return scorer->end_masks; }

gapped_scorer_t *gapped_scorer_free(gapped_scorer_t *scorer) {
  if (scorer == nullptr) return nullptr;
  for (int32_t q = 0; q < scorer->query_count; q++) ryx_free(scorer->padded[q]);
  ryx_free(scorer->padded);
  ryx_free(scorer->padded_lengths);
  ryx_free(scorer->lengths);
  ryx_free(scorer->scores);
  ryx_free(scorer->end_masks);
  ryx_free(scorer->window);
  ryx_free(scorer);
  return nullptr;
}
