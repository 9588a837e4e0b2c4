// Ungapped alignment of the hash mapper: the alignment code of one scored
// candidate.
//
// ungapped_align reproduces the optimum that the ungapped scorer found for
// the candidate: the query laid on the block along the candidate's diagonal,
// the positions outside the optimal run clipped (written as insertion
// columns), and in colour space an escape with the decoding state (argument
// 0-3) before the columns that use it. The code opens with an escape only
// for an odd query that starts in a state other than 0; every later escape
// is a state change. Ties between optimal paths are broken by fixed rules:
// the first run reaching the best score in nucleotide space, the lowest end
// state and the earliest end row in colour space.
//
// The scorer must be the one that scored the candidate; the aligner reads
// its block, profiles and costs and uses its traceback rows, so one call at
// a time per scorer.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"

struct alignment_code_t;
struct ungapped_scorer_t;

// Resets code and fills it with the candidate's alignment; its position
// becomes the block position of the first aligned column. best is the
// candidate's score from the scorer. A colour traceback that cannot explain
// a value prints "\nAlignment error\n" on standard error and ends the
// process with status 1.
void ungapped_align(ungapped_scorer_t *scorer, candidate_t candidate, uint16_t best, alignment_code_t *code);
