// GenBank flat files (format bit 4): content tests, the record-at-a-time
// reader behind the stream-indexed database and the chunk reader of the
// streaming parser.
//
// A record runs from its LOCUS line to a line "//". The LOCUS line gives
// the name (column 12 up to the first whitespace, columns counted from 0)
// and the declared length (the first integer from column 30 on). The
// residues are the letters of the lines after the ORIGIN line, where
// columns 0 to 9 hold position numbers. Blank lines between records belong
// to no record.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_record_t;

extern const seq_format_ops_t kGenbankFormatOps;
extern const seq_chunk_ops_t kGenbankChunkOps;

// Content tests: the file starts with "LOCUS".
bool genbank_detect(input_stream_t *stream);
bool genbank_detect_gz(gzFile gz, const char *path);

// Reads one record; fills record (empty) when given. Lines are read in
// pieces of at most 1023 bytes. Returns the declared length, or -1 when
// only blank lines (or nothing) are left. Counting reads only the LOCUS
// line; a kept record must hold exactly the declared number of residues.
// Errors, status 1:
//   "Genbank format error in file %s\n"  a record without a LOCUS line, or a
//                                        LOCUS line without a length or with
//                                        a negative one;
//   "Error: Genbank file contains a sequence without its symbols in file %s\n"
//                                        an ORIGIN line but no residue;
//   "Genbank sequence error in file %s\n"  no ORIGIN line, or a residue count
//                                        other than the declared one.
int32_t genbank_read(input_stream_t *stream, seq_record_t *record);

// Chunk reader. The split state is the terminator scanner's state (4 before
// a record, 0 inside a line, 1 at a line start, 2 after "/", 3 after "//"),
// carried from block to block; every byte other than whitespace met before
// a record starts one.
void *genbank_new_split_state();
void genbank_free_split_state(void *split_state);
void genbank_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                               void *format_state, const char *path);
// Parses a slice that starts with "LOCUS" and seven spaces; the residues
// are every byte other than digits and whitespace after the ORIGIN line, up
// to a '/' or the end of the slice. Every fault prints "GenBank format error
// in file %s\n" and ends with status 1.
bool genbank_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                         seq_record_t *quality, const char *path);
