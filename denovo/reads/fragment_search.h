// Walking the counted words: the decision at a fragment end, the extension
// of one end base by base, and the building of a whole fragment from a seed
// word.
//
// A decision looks at the k - 1 symbols at a fragment end and asks which
// of the four possible next words are counted. When more than one is, it
// follows each of them with a beam search (the best W partial paths per
// first letter, up to D steps ahead) and discounts a branch that only
// differs from the strongest one by a substitution or a one-base indel and
// carries clearly fewer reads (a read error); what is left decides.
//
// Counts and used marks are read through the callbacks of the builder
// context (fragment_builder.h), so a caller may put any count source
// behind them. Symbols are codes 0 to 3 throughout.
//
// Calling order: fragment_search_new once per thread, then any number of
// decisions, extensions and builds with it, then fragment_search_free. A
// search state belongs to one thread; the word-counter handle it is given
// (the thread's clone) stays the caller's.
#pragma once

#include <cstdint>

#include "denovo/reads/word_counter.h"
#include "seqio/seq_record.h"

struct fragment_builder_ctx_t;

// Look-ahead beyond the word size and the beam width of the builder.
constexpr int32_t kFragmentSearchExtraDepth = 9;
constexpr int32_t kFragmentSearchWidth = 10;

// Results of fragment_search_decide besides a base 0-3.
constexpr int32_t kFragmentAmbiguous = 254;
constexpr int32_t kFragmentNoBase = 255;

// End states of a fragment end; the name letter is 'A' + state.
constexpr int32_t kFragmentEndInconsistent = 0;  // A: the new word's only predecessor is another word
constexpr int32_t kFragmentEndAmbiguous = 1;     // B: ambiguous next base, or a hairpin
constexpr int32_t kFragmentEndJoin = 2;          // C: the next word has several predecessors
constexpr int32_t kFragmentEndCircle = 3;        // D: closed into a circle (left end only)
constexpr int32_t kFragmentEndDead = 4;          // E: no counted word continues
constexpr int32_t kFragmentEndCircleRight = 5;   // F: right end of a circular fragment

// One partial path of a branch and the summed counts of its words.
struct fragment_candidate_t {
  uint8_t *path;  // length D + k - 1 symbols
  int32_t score;  // 0 ends the list
};

// The candidates of one branch, best first; a score of 0 ends the list.
struct fragment_candidate_list_t {
  int32_t width;
  fragment_candidate_t *items;  // width candidates
};

// One way to extend a candidate by a letter.
struct fragment_extension_t {
  int32_t score;
  int32_t candidate;
  int32_t letter;
};

struct fragment_search_t {
  word_counter_t *counter;                 // the thread's handle, not owned
  int32_t word_size;                       // k
  int32_t depth;                           // D
  int32_t width;                           // W
  fragment_candidate_list_t *branches[4];  // one per first letter
  fragment_candidate_list_t *spare;
  fragment_extension_t *extensions;        // 4 W
  uint8_t *scratch;                        // k symbols
  uint8_t *seed;                           // k symbols: the seed's reverse complement
  uint8_t *word;                           // k symbols: a word asked of the single count callback
  const uint8_t **prefixes;                // W: the candidates' last k - 1 symbols in a step
  int32_t *next_counts;                    // 4 W: the counts of their four next words
};

// Growable array of symbol codes, capacity starting at 10 and doubling.
struct fragment_buffer_t {
  uint8_t *bytes;
  int32_t length;
  int32_t capacity;
};

// A search state over the handle's word size with look-ahead depth and
// beam width (the builder uses k + 9 and 10).
fragment_search_t *fragment_search_new(word_counter_t *counter, int32_t depth, int32_t width);
// Frees the state, not the handle; null allowed; returns null.
fragment_search_t *fragment_search_free(fragment_search_t *search);

// Counts of the four words after each of n prefixes of k - 1 symbols
// (counts[4 i + x]), through the context's batched callback, or its single
// one when that is null.
void fragment_search_next_counts(fragment_search_t *search, fragment_builder_ctx_t *ctx,
                                 const uint8_t *const *prefixes, int32_t n, int32_t *counts);
// The next base after the k - 1 symbols: 0-3, kFragmentAmbiguous or
// kFragmentNoBase. depth_out (may be null) receives the step at which the
// look-ahead stopped: 0 when fewer than two next words are counted, D when
// it ran its full depth.
int32_t fragment_search_decide(fragment_search_t *search, const uint8_t *symbols, int32_t *depth_out,
                               fragment_builder_ctx_t *ctx);
// Step (at least 1) of the beam search for branch letter: every candidate
// tries every letter; the best W extensions become the branch's candidates.
// Returns 0 when no extension is counted (the branch died), else 1.
int32_t fragment_search_extend_branch(fragment_search_t *search, int32_t letter, int32_t step,
                                      fragment_builder_ctx_t *ctx);
// Orders extensions by score descending, then candidate index, then letter
// ascending (qsort callback).
int fragment_candidate_compare(const void *a, const void *b);
// Step 0 of branch letter: its single candidate is the k - 1 symbols plus
// the letter, scored with that word's count. Returns 1 when the count is
// above 0.
int32_t fragment_search_start_branch(fragment_search_t *search, int32_t letter, const uint8_t *symbols,
                                     fragment_builder_ctx_t *ctx);
// 1 when q aligns with p over k + 1 symbols around position k - 1 with the
// given shift (+1: q one symbol longer, 0: a substitution, -1: p one symbol
// longer); n_p and n_q receive how many leading words of each path span
// the difference.
int32_t fragment_paths_match_shifted(const uint8_t *p, const uint8_t *q, int32_t k, int32_t path_length,
                                     int32_t shift, int32_t *n_p, int32_t *n_q);

// Extends the buffer's right end base by base until a decision is not a
// base or a check fails; returns the end state 0-4. depth_out (may be null)
// receives the look-ahead depth of the last decision (0 for a hairpin).
int32_t fragment_extend(fragment_search_t *search, fragment_buffer_t *buffer, int32_t *depth_out,
                        fragment_builder_ctx_t *ctx);
// The fragment through the seed word (k symbols of a read; not changed),
// reading in the seed's direction: a named record "XY_00000000" with the
// end-state letters, an unnamed record when it is rejected, an unnamed
// record of the k seed symbols when the seed is not the unique word in
// both directions, or null for a seed that is its own reverse complement.
// left_extension receives the symbols before the seed in the record.
seq_record_t *fragment_build_from_seed(fragment_search_t *search, const uint8_t *seed, int32_t *left_extension,
                                       fragment_builder_ctx_t *ctx);

// A list of width candidates with paths of path_length symbols, all
// scores 0.
fragment_candidate_list_t *fragment_candidate_list_new(int32_t width, int32_t path_length);
fragment_candidate_list_t *fragment_candidate_list_free(fragment_candidate_list_t *list);

// Fragment buffers.
fragment_buffer_t *fragment_buffer_new(void);
// Grows the capacity by doubling until n symbols fit.
void fragment_buffer_reserve(fragment_buffer_t *buffer, int32_t n);
void fragment_buffer_append(fragment_buffer_t *buffer, uint8_t symbol);
// Reverses the symbols and complements each (c XOR 3).
void fragment_buffer_reverse_complement(fragment_buffer_t *buffer);
fragment_buffer_t *fragment_buffer_free(fragment_buffer_t *buffer);

// An unnamed record holding a copy of n codes.
seq_record_t *fragment_record_from_codes(const uint8_t *codes, int32_t n);
