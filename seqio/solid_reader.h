// SOLiD colour-space FASTA (format bit 16): content tests, the
// record-at-a-time reader behind the stream-indexed database and the chunk
// reader of the streaming parser.
//
// The file may begin with comment lines starting with '#'. A record is a
// '>' header line and the sequence lines up to the next '>' that directly
// follows a line feed; the sequence's non-whitespace bytes are the primer
// and the colours (colour_code.h), decoded at once into nucleotide codes
// 0 to 4. A record whose sequence part holds no primer is a record of
// length 0. Reads with a '.' colour become all N and are counted; the count
// is reported at the end of the file.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_record_t;

extern const seq_format_ops_t kSolidFormatOps;
extern const seq_chunk_ops_t kSolidChunkOps;

// Content tests: after the '#' lines, a '>' line, then a primer letter,
// optional dots, and a digit (or, when there were dots, a line end or the
// end of the input).
bool solid_detect(input_stream_t *stream);
bool solid_detect_gz(gzFile gz, const char *path);

// Reads one record; fills record (empty) when given. state is the format's
// colour_state_t, whose ignored count grows for a dotted record on every
// call. Returns the number of colours, or -1 at the end of the input.
// Errors, status 1:
//   "Solid file format error in file %s\n"  no '>' at the record start, or a
//                                           header without a line feed;
//   "Solid format error in file %s\n"       a bad primer or colour (only
//                                           when the record is kept).
int32_t solid_read(void *state, input_stream_t *stream, seq_record_t *record);
// "In file %s: Ignored %lld sequences out of %lld due to dots in Solid data
// format.\n" on standard error when the ignored count is above 0.
void solid_report(int64_t count, void *state, const char *path);

// Chunk parse of a slice that starts with '>'; every fault prints
// "Solid format error in file %s\n" and ends with status 1.
bool solid_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                       seq_record_t *quality, const char *path);
