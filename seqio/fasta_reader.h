// FASTA (format bit 1): content tests, the record-at-a-time reader behind the
// stream-indexed database and the chunk reader of the streaming parser, and
// the chunk helpers that every '>' or '@' header format shares.
//
// A record is a header line starting with '>' and the residue lines up to
// the next '>' that directly follows a line feed. Every non-whitespace byte
// of the residue lines is a residue, taken as it is.
//
// Names differ by reading path: the record reader keeps the whole header
// text except carriage returns; the chunk parser trims whitespace at both
// ends (inner spaces stay).
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_record_t;

extern const seq_format_ops_t kFastaFormatOps;
extern const seq_chunk_ops_t kFastaChunkOps;

// Content tests: the first byte is '>' or the file is empty.
bool fasta_detect(input_stream_t *stream);
bool fasta_detect_gz(gzFile gz, const char *path);

// Reads one record; fills record when it is not null (it must be empty).
// Returns the residue count, or -1 at the end of the input. A first byte
// other than '>' or a header without a line feed prints
// "Fasta file format error in file %s\n" and ends the process with status 1.
int32_t fasta_read(input_stream_t *stream, seq_record_t *record);
// Passes n record starts ('>' directly after a line feed; the byte at the
// starting position never counts) and stops in front of the next, or at the
// end of the input. The FASTA quality file skips the same way.
void fasta_skip(input_stream_t *stream, int32_t n);

// Chunk reader. The split state is a line-start flag, set at the start of a
// file and carried from block to block; new returns it, free releases it.
void *fasta_new_split_state();
void fasta_free_split_state(void *split_state);
// Every '>' at the start of a line is a record start.
void fasta_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                             void *format_state, const char *path);
// Parses a slice that begins with '>'. A header without a line feed in the
// slice prints "Fasta format error in file %s\n" and ends with status 1.
bool fasta_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                       seq_record_t *quality, const char *path);

// Shared chunk helpers.
// Takes the name of a slice whose first byte is the header character: it
// starts at the first non-whitespace byte of the header line, and the line
// feed and the whitespace before it are overwritten with 0 in place. Returns
// the offset of the byte after the header's line feed, or -1 when the slice
// holds no line feed.
int32_t fasta_chunk_name(uint8_t *data, int32_t length, char **name);
// Moves the non-whitespace bytes of data[from, to) together to data + out
// (out at most from), in place; returns their number.
int32_t fasta_chunk_compact(uint8_t *data, int32_t from, int32_t to, int32_t out);
// The same, subtracting minus from every byte moved (modulo 256).
int32_t fasta_chunk_compact_minus(uint8_t *data, int32_t from, int32_t to, int32_t out, uint8_t minus);
// Number of whitespace bytes in data[0, n).
int64_t fasta_count_spaces(const uint8_t *data, int64_t n);
