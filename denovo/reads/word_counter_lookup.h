// Lookups in a finished word counter: a word's approximate count, its used
// mark, and setting that mark.
//
// The counter's tables must be final (word_counter_build): A and B 1-bit
// filters, C 4-bit counts with no entry at 1, U the used marks. A word is
// given as k residues; only their low two bits count, so callers pass codes
// 0 to 3 (4 reads as 0). A count is 0 (not repeated, or not seen) or 2 to
// 15 on a roughly logarithmic scale: about 2, 4, 6, 10, 14, 22, 30, 46, 78,
// ... occurrences bring an entry to 2, 3, 4, 5, 6, 7, 8, 9, 10, ...
//
// A, B and C never change after the build, so any number of threads may
// look up counts at once. Used marks are set with an atomic bit operation,
// so a thread testing a mark sees it either before or after it is set.
// Every thread works through its own clone (word_counter_clone).
#pragma once

#include <cstdint>

#include "denovo/reads/word_counter.h"

// The word's count, 0 to 15 (nucleotide and colour-space handles).
int32_t word_counter_get_count(word_counter_t *counter, const uint8_t *residues);
// The word's bit in U, 0 or 1.
int32_t word_counter_is_used(word_counter_t *counter, const uint8_t *residues);
// Sets the word's bit in U.
void word_counter_mark_used(word_counter_t *counter, const uint8_t *residues);
// The index of the word's bit in U: words with the same index share one used
// mark. The two below read and set the mark by that index.
uint64_t word_counter_used_slot(word_counter_t *counter, const uint8_t *residues);
int32_t word_counter_slot_is_used(word_counter_t *counter, uint64_t slot);
void word_counter_mark_slot_used(word_counter_t *counter, uint64_t slot);
// 1 when the word's bits in A and B are both set.
int32_t word_counter_is_repeated(word_counter_t *counter, const uint8_t *residues);
// The used-mark functions end the process with "Not implemented\n" and status 1 on a
// colour-space handle.

// Batched look-ups: the same values as the functions above, for many words
// in one call. Each computes the table entries of a batch of words first
// and asks for their cache lines ahead, then reads them, so that the memory
// waits of the batch overlap instead of following one another.
//
// counts[4 i + x] receives the count of the k - 1 codes at prefixes[i]
// followed by code x (0-3), for i below n.
void word_counter_get_next_counts(word_counter_t *counter, const uint8_t *const *prefixes, int32_t n,
                                  int32_t *counts);
// counts[i] receives the count of the k codes at words[i], for i below n.
void word_counter_get_counts(word_counter_t *counter, const uint8_t *const *words, int32_t n, int32_t *counts);
// slots[p] receives the used-mark index of the word at residues + p, for p
// below words (residues holds words + k - 1 codes); the word is rolled
// along the residues instead of being read again for every window.
void word_counter_used_slots(word_counter_t *counter, const uint8_t *residues, int64_t words, uint64_t *slots);
