// Two-base colour encoding shared by the colour-space readers (SOLiD colour
// files and colour-space FASTQ).
//
// A read is a primer base letter (a, c, g or t in either case) followed by
// colour digits 0 to 3. Each colour is the XOR of two neighbouring base
// codes, so the bases follow from the primer: base = primer code, then for
// every colour d, base = base XOR d, and that base is the next residue. The
// record's length is the number of colours; the primer is no residue. A '.'
// stands for an unknown colour: such a read keeps its length but every
// residue becomes 4 (N), and it is counted as ignored for the report at the
// end of the file.
#pragma once

#include <pthread.h>
#include <zlib.h>

#include <cstdint>

#include "common/input_stream.h"

// Format state of both colour-space formats: the ignored (dotted) reads.
// Streaming parsers add to the count from several threads, hence the mutex.
struct colour_state_t {
  int64_t ignored;
  pthread_mutex_t mutex;
};

// A state with count 0; colour_state_free releases it (null allowed).
colour_state_t *colour_state_new();
void colour_state_free(void *state);
// Adds 1 to the ignored count under the mutex.
void colour_state_count_dotted(colour_state_t *state);

// Random-access open: skips whole lines starting with '#' from the start of
// the stream and leaves it at the first byte after them; returns a new state.
colour_state_t *colour_open_stream(input_stream_t *stream);
// Streaming open: the same on a gzip handle, which it rewinds first and
// leaves so that the next read returns the first byte after the comments.
colour_state_t *colour_open_gz(gzFile gz, const char *path);

// Code 0 to 3 of a primer letter, or -1 for any other byte.
int colour_primer_code(int c);
// Decodes n colour digits from colours into residues (which may be
// colours - 1, as in place). Returns false at the first byte that is not
// '0' to '3'.
bool colour_decode(int primer_code, const uint8_t *colours, uint32_t n, uint8_t *residues);
// Decodes n colours like colour_decode, except that a dotted read (dotted
// true) gets residue 4 throughout. Returns false on a bad colour digit.
bool colour_decode_read(int primer_code, const uint8_t *colours, uint32_t n, bool dotted, uint8_t *residues);
// Decodes in place a read of n bytes (primer, then n - 1 colours) that a
// chunk parser has already compacted: the residues land at read[0] on. A
// dotted read is counted in state. Returns the residue count (0 for n 0),
// or -1 for a bad primer or colour digit.
int32_t colour_decode_in_place(uint8_t *read, int32_t n, colour_state_t *state);
