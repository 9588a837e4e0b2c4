// Ungapped scorer of the hash mapper: one score per candidate, the best
// score of the query laid on the reference block along the candidate's
// diagonal without gaps, under the alignment mode's end rules, in
// nucleotide or colour space.
//
// Scores count +1 per identical position and -x per other position (a
// query code above 3, an unknown or spacer block position, or a position
// before the block); in colour space a decoding state k in 0..3 compares
// the query code with the block base XOR k, and every change of state costs
// c. The modes:
//   local (0)        the best run of consecutive positions, at least 0;
//   semi-global (1)  even (forward) queries: the best run starting at query
//                    position 0; odd (reverse-complement) queries: the best
//                    run ending at the last position; at least 0;
//   global (3)       the whole query, 0 when negative.
// In colour space an even query starts in state 0 and may end in any state;
// an odd query may start in any state and pays c once more when it ends in
// a state other than 0. Restarts (a fresh start at a later position) are
// allowed in local mode and for odd queries in semi-global mode; a free end
// (the best value at any position) in local mode and for even queries in
// semi-global mode.
//
// Calling order: ungapped_scorer_new once per matcher (it builds the query
// profiles), ungapped_scorer_score for each candidate list, then
// ungapped_scorer_free. ungapped_align (ungapped_align.h) reads the same
// scorer to turn a scored candidate into an alignment code.
//
// Ownership: the scorer owns its profiles, score buffer and scratch areas;
// it borrows the block's bases and known mask, which must stay unchanged,
// and reads the queries only while it is created. Candidate windows read up
// to 16 bytes of the block from byte (P - 1) / 4 on (P the candidate
// position), so the block needs its spare bytes past the last base. A scorer
// belongs to one thread.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"

struct seq_record_t;

// Longest query the profiles hold.
constexpr int32_t kUngappedMaxQuery = 60;
// Bytes of one nucleotide profile: four phase copies of three 16-byte
// planes (bases, known-base mask, query-position mask).
constexpr int32_t kUngappedProfileCopyBytes = 48;
constexpr int32_t kUngappedProfileBytes = 4 * kUngappedProfileCopyBytes;
// Bytes of one colour-space profile: the codes (values above 3 stored as 4)
// and the length as a 32-bit word in the last four bytes.
constexpr int32_t kUngappedColourProfileBytes = 64;
// Score bias of the colour-space byte lanes: 192 stands for 0.
constexpr int32_t kUngappedColourBias = 192;

// Alignment modes.
constexpr int32_t kAlignModeLocal = 0;
constexpr int32_t kAlignModeSemiGlobal = 1;
constexpr int32_t kAlignModeGlobal = 3;

struct ungapped_scorer_t {
  // 16-byte constants of the nucleotide kernels, set from x: nibble tables
  // (two query slots each) of the sum, best prefix, best suffix and best run.
  alignas(16) uint8_t constants[4][16];
  const uint8_t *bases;   // block bases, 2 bits per position (borrowed)
  const uint8_t *known;   // block known mask, 3 per real base (borrowed)
  uint8_t *profiles;      // per query, 16-byte aligned (owned)
  uint8_t *profile_block; // the allocation behind profiles
  int32_t *lengths;       // per query (0 for a null query)
  int32_t query_count;
  const candidate_t *candidates;  // the list being scored (borrowed)
  int32_t candidate_count;
  uint16_t *scores;       // one per candidate of the last call
  int32_t score_capacity;
  int32_t mismatch;       // x, 1 to 3
  int32_t colour_cost;    // c, -1 in nucleotide space
  uint8_t *scratch;       // colour space: 64 positions x 4 candidates of block codes
  uint8_t *scratch_block; // the allocation behind scratch
  int32_t *trace;         // colour traceback rows of the aligner
  int32_t mode;           // kAlignMode*
  int32_t colour;         // 1 when c is not -1
};

// A scorer over count queries (entries may be null; at most
// kUngappedMaxQuery positions each; a longer one prints a message and ends
// the process with status 1) and a packed block, with mismatch cost
// x (1 to 3), colour cost c (-1 for nucleotide space) and alignment mode.
ungapped_scorer_t *ungapped_scorer_new(seq_record_t *const *queries, int32_t count, const uint8_t *bases,
                                       const uint8_t *known, int16_t x, int16_t c, int32_t mode);
// Scores count candidates (query indexes below the scorer's query count);
// returns one score per candidate in list order, valid until the next call,
// or null for count 0. Candidates of one query are taken in groups in
// colour space, so lists sorted by query score fastest.
const uint16_t *ungapped_scorer_score(ungapped_scorer_t *scorer, const candidate_t *candidates, int32_t count);
// Frees profiles, scores, scratch and the scorer (null allowed); returns
// null.
ungapped_scorer_t *ungapped_scorer_free(ungapped_scorer_t *scorer);

// The kernels behind ungapped_scorer_score: each scores the scorer's
// current candidate list into its score buffer (sized for it).
void ungapped_score_nt_local(ungapped_scorer_t *scorer);
void ungapped_score_nt_semi_global(ungapped_scorer_t *scorer);
void ungapped_score_nt_global(ungapped_scorer_t *scorer);
void ungapped_score_colour(ungapped_scorer_t *scorer);

// Profile and block access shared by the kernels and the aligner.
// Nucleotide profile of a query: copy p holds query base i in 2-bit slot
// p + 1 + i.
inline const uint8_t *ungapped_profile(const ungapped_scorer_t *scorer, uint32_t query) {
  const int32_t size = scorer->colour ? kUngappedColourProfileBytes : kUngappedProfileBytes;
  return scorer->profiles + static_cast<uint64_t>(query) * size;
}
// Query code at position i (0-3, or 4 for an N or other code).
inline int32_t ungapped_query_code(const ungapped_scorer_t *scorer, uint32_t query, int32_t i) {
  const uint8_t *profile = ungapped_profile(scorer, query);
  if (scorer->colour) return profile[i];
  const int32_t slot = i + 1;
  const int32_t shift = 2 * (slot & 3);
  if (((profile[16 + slot / 4] >> shift) & 3) == 0) return 4;
  return (profile[slot / 4] >> shift) & 3;
}
// Block base at a position (0-3), or -1 where the block holds no real base
// (spacer, unknown, or before the block).
inline int32_t ungapped_block_base(const ungapped_scorer_t *scorer, int64_t position) {
  if (position < 0) return -1;
  const uint8_t shift = static_cast<uint8_t>(2 * (position & 3));
  if (((scorer->known[position >> 2] >> shift) & 3) != 3) return -1;
  return (scorer->bases[position >> 2] >> shift) & 3;
}
// Block position of a candidate as a signed value: a search over a split
// window may give diagonals a little before the block, stored as large
// unsigned values.
inline int64_t ungapped_candidate_position(candidate_t candidate) {
  return static_cast<int32_t>(candidate.position);
}
