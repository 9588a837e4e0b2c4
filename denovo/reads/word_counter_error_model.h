// Error model of the word counter: how likely a word seen once is rejected
// by the cascade of filters and the final count table, given the tables'
// loads, and the estimate of those loads from the counts of counters that
// the passes saw reach 2 and 3.
//
// Two loads per table entry, Poisson distributed: a, the distinct words
// that occur often enough to saturate a counter on their own, and lambda,
// the words that occur once. Plain double arithmetic; nothing here touches
// a table or keeps state.
#pragma once

#include <cstdint>

// Target error rate and refinement limit of every build.
constexpr double kWordCounterTargetError = 0.05;
constexpr int32_t kWordCounterMaxRefinements = 4;

// Entry-level form of the rejection chance after the first pass, n
// refinement passes and the final pass: one minus the product of the two
// newest filters' and the final table's shares of entries that reach 2.
// Writes the newest filter's share to last_rate when it is not null; the
// refinement estimate matches that share against the counts.
double word_counter_error_model(int32_t n, double a, double lambda, double *last_rate);
// The chance that a word seen once ends with a count of 0 after the first
// pass, n refinements and the final pass: it must pass both filters and
// then share its final entry with another word that passed. This, not the
// entry-level product above (which counts an entry as reached only when
// two words besides the one looked at fall into it, and so puts the false
// counts several times too low), decides the table size.
double word_counter_single_word_rejection(int32_t n, double a, double lambda);
// word_counter_error_model without the out argument for n >= 1; 1 for
// n <= 0.
double word_counter_error_model_plain(int32_t n, double a, double lambda);
// Loads from a pass's totals. Kind 0 (first pass, tables A and B of 2^d
// counters each): from s2 and s3; returns 0 when every counter reached 2.
// Kind 1 (after refinement pass r, table C of 2^d counters): from the
// first pass's total t and this pass's s2, by a 20-step search. Any other
// kind returns 0 and writes nothing; else both loads are written and 1
// returned.
int32_t word_counter_estimate_loads(int32_t kind, int32_t d, uint64_t s2, uint64_t s3, uint64_t t, int32_t r,
                                    double *lambda, double *a);
