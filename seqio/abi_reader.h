// ABI chromatogram trace files (ABIF, format bit 128): content test and the
// reader behind the stream-indexed database. A trace holds one sequence;
// it is never streamed (seq_for_each reads it through the database).
//
// All integers are big-endian. Bytes 0 to 3 are "ABIF"; at byte 18 stands
// the number of directory entries and at byte 26 the directory's file
// offset. Each directory entry is 28 bytes:
//   offset  size  field
//   0       4     tag name
//   4       4     tag number
//   8       2     element type
//   10      2     element size
//   12      4     number of elements
//   16      4     data size (element size x number of elements)
//   20      4     data offset; data of at most 4 bytes stands here instead
//   24      4     data handle
// The reader uses three entries: PBAS 1 (the bases, one byte each), PCON 1
// (one quality value per base) and SMPL 1 (the sample name, a string whose
// first byte is its length). Every count and offset read from the file is
// checked before it is used; a damaged trace ends the process with
// "ABI format error in file %s\n" and status 1.
#pragma once

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_db_t;
struct seq_record_t;

extern const seq_format_ops_t kAbiFormatOps;

// Content test: the first four bytes are "ABIF".
bool abi_detect(input_stream_t *stream);

// Reads the directory; returns the format state (freed by abi_free_state).
// A wrong magic, an entry whose data size is not element size x number of
// elements, a PBAS or PCON entry whose elements are not single bytes, PBAS
// and PCON of different lengths, or a directory cut short print "ABI format
// error in file %s\n", status 1.
void *abi_open(input_stream_t *stream, seq_db_t *db);
void abi_free_state(void *state);
// The sequence length the first time, then -1.
int32_t abi_next_length(void *state, input_stream_t *stream, array_list_t *markers);
// Reads the one record into record (empty): the bases, or the quality
// values when qualities is true, and the sample name (empty without SMPL).
// Qualities of a non-empty trace without PCON print "No quality scores\n",
// data cut short "ABI format error in file %s\n"; status 1.
void abi_read(void *state, input_stream_t *stream, seq_record_t *record, bool qualities);
