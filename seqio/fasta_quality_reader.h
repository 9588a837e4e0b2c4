// FASTA quality file (format bit 256): FASTA-shaped records whose "residues"
// are decimal quality values separated by whitespace, after optional
// leading comment lines that begin with '#'.
//
// A token is a run of non-whitespace bytes: each digit updates the value as
// value * 10 + digit in 8-bit arithmetic and '-' marks the token negative; a
// token stores one byte, 0 when negative, else the value modulo 256. A token
// that ends the file without whitespace after it is stored too.
//
// The database of such a file has no alphabet and delivers the values as
// quality records; streaming delivers them as the main records.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_db_t;
struct seq_record_t;

extern const seq_format_ops_t kFastaQualFormatOps;
extern const seq_chunk_ops_t kFastaQualChunkOps;

// Content tests: comment lines skipped, then '>', the rest of that line,
// spaces (byte 32 only), and a '-' or a decimal digit.
bool fasta_qual_detect(input_stream_t *stream);
bool fasta_qual_detect_gz(gzFile gz, const char *path);

// Seeks to 0 and skips the leading comment lines; the format has no state
// (returns null).
void *fasta_qual_open(input_stream_t *stream, seq_db_t *db);
// Reads one record of values; fills record when it is not null. Returns the
// number of values, or -1 at the end of the input. A first byte other than
// '>', a header without a line feed, or a byte in a value that is neither a
// digit nor '-' prints "Fasta qual file format error in file %s\n" and ends
// the process with status 1.
int32_t fasta_qual_read(input_stream_t *stream, seq_record_t *record);

// Chunk parse: the name as in FASTA (no line feed in the slice: "Fasta qual
// format error in file %s\n"), then the values in place ("Fasta qual file
// format error in file %s\n" for a bad byte); status 1 for both.
bool fasta_qual_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                            seq_record_t *quality, const char *path);
