// Matcher of the hash mapper: the per-worker object through which the batch
// mapping sees the seed search, the scorers and the aligners for one batch
// of queries against one reference block.
//
// A query is one strand of one read: forward strands at even indexes, their
// reverse complements at the following odd ones. matcher_next_query hands
// out one hit iterator per query, in index order from 0. Behind it the
// matcher runs the seed search for a run of queries (a lookup batch),
// scores every candidate with the ungapped and/or the gapped scorer, and
// keeps per query the candidates that reach the query's best score:
//   ungapped only   the seed search's candidates, scored ungapped;
//   gapped only     near candidates merged (below), scored gapped;
//   both            ungapped pre-scores; per query only the candidates of
//                   the highest pre-score survive; those are merged and
//                   scored gapped.
// Near-merge: over a list sorted by query and position, a run takes every
// following candidate of the same query at most 8 positions after the run's
// first; the run becomes one candidate at (first + last) / 2.
//
// Gapped iterators yield one alignment per distinct end diagonal of a
// candidate's end mask, dropping diagonals that the previous kept candidate
// already reached; ungapped ones one hit per kept candidate. Alignments are
// built only when an alignment operation or the fraction test needs them.
// Outside local mode an alignment that runs past the piece of the block
// holding its start is clipped to the piece (the outside columns become
// insertions).
//
// Hits are accepted by their score alone when the query's best score is
// within the score limit, or, without a limit, when best / length reaches
// both the length fraction L and the upper score rate; otherwise each
// alignment must cover at least the fraction L of the query with a stretch
// of identity at least s.
//
// The seed search, the query packing and the piece lookups belong to the
// refmap library, which links after this one; the driver passes them in a
// matcher_services_t (refmap's functions fit the slots as they are).
//
// Calling order: matcher_new per batch and block, matcher_next_query once
// per query (the iterators of four consecutive queries stay valid at the
// same time), matcher_free. The matcher owns its scorers, iterators,
// aligners and candidate filter; it borrows the hit hash, the block and the
// queries. One matcher belongs to one worker thread.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"
#include "refmap/hit_hash.h"

struct alignment_code_t;
struct candidate_filter_t;
struct gapped_aligner_t;
struct gapped_scorer_t;
struct hit_hash_t;
struct hit_iterator_t;
struct ref_block_t;
struct seq_record_t;
struct ungapped_scorer_t;

// The reference-side services the matcher calls.
struct matcher_services_t {
  // Packs the batch's queries into the hit hash (hit_hash_pack_queries).
  void (*pack_queries)(hit_hash_t *hash, seq_record_t *const *queries, int32_t count);
  // Runs one lookup batch and returns the first query it did not cover,
  // leaving the sorted candidates in the hit hash (seed_search_batch).
  int32_t (*search_batch)(hit_hash_t *hash);
  // Attaches (or, with null, detaches) a candidate filter
  // (hit_hash_attach_filter).
  void (*attach_filter)(hit_hash_t *hash, candidate_filter_t *filter, hit_hash_filter_fn apply);
  // Clamps [start, end) to the block piece of start
  // (ref_block_clamp_to_piece).
  void (*clamp_to_piece)(const ref_block_t *block, int64_t *start, int64_t *end);
};

// Iterators handed out round-robin: a query's iterator is the one at its
// index modulo this count.
constexpr int32_t kMatcherIterators = 4;
// Initial room of the candidate buffer and of each kept list.
constexpr int32_t kMatcherInitialCapacity = 1000;
// Candidates of one query at most this far after a run's first are merged.
constexpr uint32_t kMatcherMergeDistance = 8;

struct matcher_state_t;

// The payload of a matcher iterator: one query's kept candidates and the
// state of the walk over them.
struct matcher_query_t {
  matcher_state_t *state;
  int32_t query;
  alignment_code_t *code;          // the aligners write here
  alignment_code_t *clamped;       // a code rewritten to its piece
  uint32_t previous_mask;          // end mask of the kept candidate before the current
  uint32_t full_mask;              // end mask of the current candidate
  uint32_t remaining_mask;         // its diagonals not covered by the previous one
  int32_t aligned_start;
  const uint8_t *code_bytes;
  int32_t code_length;             // -1: not built for the current hit
  int32_t more_ends;               // the current candidate may give further alignments
  int32_t kept_index;              // -1 before the first next
  int32_t kept_count;
  int32_t kept_capacity;
  uint16_t best;
  uint16_t prescore;
  uint16_t *kept_masks;            // gapped iterators only
  candidate_t *kept;
  int32_t accept_all;              // hits need no fraction test
  int32_t had_candidates;
  int32_t new_candidate;           // the next build is the first of a new candidate
  // The mark.
  int32_t mark_index;
  uint32_t mark_previous_mask, mark_full_mask, mark_remaining_mask;
  int32_t mark_more_ends;
  int32_t mark_further;
  // The state of the last yielded hit, which the mark copies.
  uint32_t yield_previous_mask, yield_full_mask, yield_remaining_mask;
  int32_t yield_more_ends;
  int32_t further;                 // alignments built for the current candidate after its first
  gapped_aligner_t *aligner;       // gapped iterators only
};

struct matcher_state_t {
  hit_hash_t *hash;
  const ref_block_t *block;
  seq_record_t **queries;
  int32_t query_count;
  double length_fraction;          // L
  double similarity;               // s
  double upper_rate, lower_rate;
  int32_t score_limit;             // -1: none
  gapped_scorer_t *gapped;         // owned, or null
  ungapped_scorer_t *ungapped;     // owned, or null
  int32_t mode;                    // 0 local, 1 semi-global, 3 global
  hit_iterator_t *iterators[kMatcherIterators];
  int32_t current_query;           // -1 before the first
  int32_t batch_end;               // first query not covered by the last lookup
  int32_t cursor;                  // into the lookup batch's candidates
  int32_t candidate_count;
  int32_t capacity;                // candidates the buffer holds, the spare entry not counted
  const uint16_t *scores;          // final score per candidate
  const uint16_t *prescores;       // ungapped scores when both scorers run, else null
  const uint16_t *end_masks;       // gapped end mask per candidate, else null
  uint16_t *prescore_buffer;       // pre-scores of the merged survivors (owned)
  int32_t prescore_capacity;
  candidate_t *candidates;         // capacity + 1 entries (owned)
  candidate_filter_t *filter;      // owned, or null
  matcher_services_t services;
  int32_t colour_cost;             // effective: -1 in nucleotide space
};

struct matcher_t {
  matcher_state_t *state;
};

// A matcher over count queries (entries may be null) against the block:
// costs x, g, d and c (c -1: nucleotide space; a c above a non-negative
// score limit also runs in nucleotide space), length fraction L, similarity
// s, score limit (-1: none), the two scorer flags (at least one set),
// alignment mode (0, 1, 3) and candidate filter mode (-1 off, 0 to 2).
// Packs the queries into the hit hash and attaches the filter.
matcher_t *matcher_new(hit_hash_t *hash, const ref_block_t *block, int16_t x, int16_t g, int16_t d, int16_t c,
                       double length_fraction, double similarity, int32_t score_limit, int32_t ungapped_flag,
                       int32_t gapped_flag, int32_t mode, int32_t filter_mode, seq_record_t **queries,
                       int32_t query_count, const matcher_services_t *services);
// The iterator of the next query (call exactly once per query, in order).
// Runs a lookup batch when the query is the first one the last did not
// cover.
hit_iterator_t *matcher_next_query(matcher_t *matcher);
// Frees the matcher and everything it created, detaching its filter from
// the hit hash (null allowed); returns null.
matcher_t *matcher_free(matcher_t *matcher);

// Merges near candidates of list (sorted by query, then position) into out
// and returns the merged count (at most count). With prescores, the merged
// candidate k keeps the pre-score of its run's first candidate in
// out_prescores[k].
int32_t matcher_near_merge(const candidate_t *list, int32_t count, candidate_t *out, const uint16_t *prescores,
                           uint16_t *out_prescores);
// Keeps, per query, only the candidates whose pre-score equals the query's
// highest (all of them when that is 0), in order, moving them and their
// pre-scores to the front; returns their number.
int32_t matcher_keep_best_prescores(candidate_t *list, uint16_t *prescores, int32_t count);
// Upper and lower score rates for costs x, g, d, similarity s and length
// fraction L.
void matcher_score_rates(int32_t x, int32_t g, int32_t d, double similarity, double length_fraction, double *upper,
                         double *lower);
// The colour cost the matcher works with: c, or -1 when a non-negative
// score limit is below it.
int32_t matcher_effective_colour_cost(int32_t c, int32_t score_limit);
// Population count of the low 16 bits.
int32_t matcher_mask_bits(uint32_t mask);
