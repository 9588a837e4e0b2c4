// FASTA offset file (format bit 1024, ".fof"): a FASTA text embedded in a
// larger binary file. The file starts with a 21-byte little-endian header:
//
//   offset  size  field
//   0       4     magic, the bytes ".fof"
//   4       1     version, 0
//   5       8     byte offset of the FASTA text from the start of the file
//   13      8     length of the FASTA text in bytes
//
// What lies between the header and the text belongs to the file's owner. The
// records are those of the region [offset, offset + length), read by the
// FASTA rules; the reader never reads past the region. The format state is
// the exclusive end offset of the region. Offset files are only read through
// the database; the streaming parser never selects them.
#pragma once

#include <cstdint>

#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_db_t;
struct seq_record_t;

extern const seq_format_ops_t kFofFormatOps;

// Content test: the first four bytes are ".fof" and the fifth is 0.
bool fof_detect(input_stream_t *stream);

// Reads the header and moves the stream to the FASTA text; returns the new
// end offset (freed by fof_free_state). Another magic prints "Unable to read
// fasta offset file\n", a version other than 0 "Fasta offset version
// error\n", both with status 1; a header cut short ends the process through
// the stream codecs.
void *fof_open(input_stream_t *stream, seq_db_t *db);
void fof_free_state(void *state);
// As fasta_read inside the region: -1 once the position reaches the end. A
// first byte other than '>' or a header without a line feed inside the
// region prints "Fasta file format error in file %s\n", status 1.
int32_t fof_read(void *state, input_stream_t *stream, seq_record_t *record);
// As fasta_skip, also stopping at the end of the region.
void fof_skip(void *state, input_stream_t *stream, int32_t n);
