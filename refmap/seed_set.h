// Seed levels and spaced-seed design of the hash mapper.
//
// A read is found through exact matches of spaced seeds: masks of '#' (a
// position that must match) and '-' (a position that is ignored), each laid
// at a list of start offsets of the read. Reads are mapped in levels: the
// first allows one error unit, the second two and so on, and a read without
// hits moves on to the next level. seed_sets_choose decides, for one read
// length class of a length group, how many levels there are and the error
// budget of each; seed_set_design designs one level's masks and placements
// so that every way of spending the budget on a read of the level's minimum
// length leaves at least one placement free of errors. A gapped run gets one
// extra level with a single fixed mask after the last designed one.
//
// Error model of the design (positions are read positions, e the cost of a
// mismatch over a match and u' = e + 1): a read of length L with budget c
// may lose c positions to clipping, split in any way between its ends, and
// each mismatch, which must lie at least u' positions inside the aligned
// part, costs u' of the budget. With f = c / u' the design covers clipping
// alone (f >= 1), one mismatch (f >= 2) and two mismatches (f >= 3), the
// rest of the budget clipped. A colour-space pattern (colour flag) makes a
// '#' at position p also depend on position p - 1.
//
// Ownership: seed_set_design returns a set freed with seed_set_free;
// seed_sets_choose returns an array of sets freed with seed_sets_free. A set
// owns its patterns, their mask strings and start arrays. Failures end the
// process with status 1.
#pragma once

#include <cstdint>

struct seed_pattern_t {
  char *mask;               // '#' and '-', ending with '#' (owned)
  int32_t span;             // string length
  int32_t placement_count;
  int32_t *starts;          // placement start offsets from the read start (owned)
  int32_t colour;           // 1: used in colour space, starts refer to colour positions
};

struct seed_set_t {
  seed_pattern_t *patterns;  // owned
  int32_t pattern_count;
  int32_t min_length;        // shorter reads are not searched at this level
  int32_t length_bound;      // exclusive read length bound
  int32_t score_limit;
  int32_t extra;             // 1: the extra fixed-mask level, no start offsets
};

// Placement modes of the coverage check.
enum seed_placement_mode_t : int32_t {
  kSeedPlacementsDesigned = 0,  // the patterns' own start lists
  kSeedPlacementsEvery = 1,     // every start 0 .. L - span
};

// The levels of one length class: group shortest length and exclusive
// length bound, class boundaries [lower, upper), move limit, mismatch cost x,
// colour cost (-1 in nucleotide space), score limit, align mode (0 local,
// 1 semi-global, 3 global) and gapped flag. Writes the level count (the
// extra level included) to out_count.
seed_set_t *seed_sets_choose(int32_t group_shortest, int32_t group_bound, int32_t class_lower,
                             int32_t class_upper, int32_t move_limit, int32_t mismatch_cost, int32_t colour_cost,
                             int32_t score_limit, int32_t align_mode, int32_t gapped, int32_t *out_count);
// Frees count sets of an array from seed_sets_choose and the array (null
// allowed); returns null.
seed_set_t *seed_sets_free(seed_set_t *sets, int32_t count);

// One level for reads of at least min_length bases: error cost e0 (the unit
// is e0 + 1), error budget c, colour flag. A budget above three units prints
// "too many possible mismatches\n", a design that leaves configurations
// uncovered "pattern error %d %d %d %d\n", both on standard error, and ends
// the process with status 1. The caller sets the score limit.
seed_set_t *seed_set_design(int32_t min_length, int32_t length_bound, int32_t error_cost, int32_t budget,
                            int32_t colour);
// Frees one set from seed_set_design with everything it owns (null
// allowed); returns null.
seed_set_t *seed_set_free(seed_set_t *set);

// Design building blocks. A pattern list is a growable array of patterns.
struct seed_pattern_list_t {
  seed_pattern_t *patterns;
  int32_t count;
  int32_t capacity;
};

// Appends period string s tiled over windows a >= b: the mask is s repeated
// up to its last '#' within b - len(s) + 1 characters, laid to end at every
// position from b - len(s) + 1 to a. Nothing is appended when no '#' fits.
void seed_pattern_tile(seed_pattern_list_t *list, int32_t colour, int32_t window_a, int32_t window_b,
                       const char *period);
// Appends one contiguous mask for windows a >= b (at most 40 long), laid at
// starts e - 1, 2e - 1, ... that fit within a.
void seed_pattern_contiguous(seed_pattern_list_t *list, int32_t window_a, int32_t window_b);
// Appends the patterns of family f (0 to 3) for windows a and b; colour
// space uses its own period strings.
void seed_pattern_family(seed_pattern_list_t *list, int32_t family, int32_t window_a, int32_t window_b,
                         int32_t colour);
// Frees the patterns of a list and empties it.
void seed_pattern_list_clear(seed_pattern_list_t *list);

// The word of one placement at start: bit (start + j) mod 64 set for each
// '#' at string position j, widened by its lower neighbour (word OR
// word >> 1) for a colour pattern.
uint64_t seed_pattern_word(const seed_pattern_t *pattern, int32_t start);
// Coverage of the error configurations for f units (see the error model) by
// every placement word of the patterns, for reads of min_length with error
// unit u' and budget c: 3 when a two-mismatch configuration hits every
// placement, else 2 for a one-mismatch configuration, else 1 for clipping
// alone, else 0.
int32_t seed_coverage_check(int32_t family, const seed_pattern_t *patterns, int32_t pattern_count,
                            seed_placement_mode_t mode, int32_t min_length, int32_t unit, int32_t budget);

// The mask of the extra fixed-mask level, by the last designed level's
// minimum length, whether the class has exactly two designed levels, and
// the space. A static string.
const char *seed_extra_mask(int32_t min_length, int32_t two_levels, int32_t colour);
