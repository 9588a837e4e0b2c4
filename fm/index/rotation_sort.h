// Sorting the cyclic rotations of a symbol string, and the Burrows-Wheeler
// sequence of one reference sequence built from that order.
//
// Rotations are compared reading backward from their start position (the
// co-lexicographic order): position p stands for the string x[p], x[p-1],
// x[p-2], ... read cyclically. In that order one last-to-first step of the
// finished array moves one position forward in the sequence.
//
// The sort is induced sorting mirrored for backward reading and cyclic
// strings, linear in the length. It needs the n input bytes and the n
// 32-bit output entries; the recursion keeps its reduced string and its
// result inside the output, and each level adds 16 bytes per symbol or
// name for its buckets.
#pragma once

#include <cstdint>
#include <memory>

#include "fm/index/nucleotide_array.h"

// Longest string the sort takes: positions and the empty marker share 32
// bits, and the names of the recursion keep two flag bits beside 30 bits.
constexpr unsigned int kMaxRotationLength = 0x7FFFFFFFu;

// Writes to out[0..n-1] every position of x[0..n-1] (symbols below
// alphabet, at most 64) once, smallest rotation first. When the whole
// string is k >= 2 copies of a shorter word and repeats is not null,
// *repeats is set to k (otherwise left alone: the caller sets it to 0).
// The input bytes carry type flags while the sort runs and are given back
// unchanged. A string longer than kMaxRotationLength, or a symbol outside
// the alphabet, ends the process with a message (status 1).
void make_reverse_rotation_array(unsigned char *x, unsigned int n, int alphabet, unsigned int *out,
                                 unsigned int *repeats);
void make_reverse_rotation_array_byte(unsigned char *x, unsigned int n, int alphabet, unsigned int *out,
                                      unsigned int *repeats);
// The same on 32-bit names below alphabet (below 2^30), as the recursion
// uses it; bits 31 and 30 of the input are taken for flags while it runs.
void make_reverse_rotation_array_int(uint32_t *x, unsigned int n, int alphabet, unsigned int *out,
                                     unsigned int *repeats);

// The finished single-sequence array of x[0..n-1] (codes 0 to 5; a
// non-circular sequence ends with its only separator 5) for sequence id,
// with position samples every 2^sampling_shift rows (-1: none). A string
// that is k >= 2 copies of a word is indexed as one copy (n / k rows). The
// input is given back unchanged. Ends the process (status 1) for an empty
// or too long sequence.
std::unique_ptr<NucleotideArray> make_burrows_wheeler_sequence(unsigned char *x, unsigned int n,
                                                               unsigned int sequence_id, int sampling_shift);
