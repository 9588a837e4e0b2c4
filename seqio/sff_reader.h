// SFF flowgram files (format bit 8): content tests, the record-at-a-time
// reader behind the stream-indexed database and the chunk reader of the
// streaming parser. All integers are big-endian.
//
// Common header (its length, a multiple of 8, counts all of it):
//   offset  size     field
//   0       4        magic ".sff"
//   4       4        version 0, 0, 0, 1
//   8       8        index offset (0: no index)
//   16      4        index length
//   20      4        number of reads
//   24      2        header length
//   26      2        key length
//   28      2        flows per read
//   30      1        flowgram format code, 1
//   31      flows    flow characters
//           key      key sequence
//                    zero padding to a multiple of 8
// Each read, starting at a multiple of 8:
//   0       2        read header length = 16 + name length, padded to 8
//   2       2        name length
//   4       4        number of bases
//   8       2 x 4    clip quality left, right, clip adapter left, right
//                    (1-based, 0 = not set)
//   16      name     the name, then zero padding to the read header length
//   then the flowgram (2 bytes per flow), one flow index byte per base, the
//   bases, one quality byte per base, and zero padding to a multiple of 8
//   counted from the start of the read.
// The index, when present, may stand between the header and the first read,
// between two reads or after the last one; both readers step over it where
// a read would start, padded to a multiple of 8.
//
// A read's residues are its clipped bases (sff_clip); its quality record
// covers the same range of the quality scores. Every size read from the
// file is checked before it is used: a damaged file ends the process with
// a message naming it, never with a crash or a huge allocation.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_db_t;
struct seq_record_t;

extern const seq_format_ops_t kSffFormatOps;
extern const seq_chunk_ops_t kSffChunkOps;

// The format state: what the header says, and the reads counted so far by
// the record reader.
struct sff_state_t {
  uint32_t flows;          // flows per read
  uint32_t reads;          // number of reads
  uint32_t counted;        // reads counted by sff_next_length
  uint64_t index_offset;   // file offset of the index (0: none)
  uint32_t index_length;   // its length in bytes (0: none)
  int64_t data_start;      // file offset where the first block of a stream starts
};

// Content tests: the first eight bytes are '.', 's', 'f', 'f', 0, 0, 0, 1.
bool sff_detect(input_stream_t *stream);
bool sff_detect_gz(gzFile gz, const char *path);

// The clipped range of a read of bases bases: 1-based first base *left and
// the number of residues *length. The right end is the quality clip when set
// and within the read (else the last base), lowered to the adapter clip when
// that is set and smaller; the left end is the larger of the quality clip
// (1 when not set) and the adapter clip. A left end beyond the right one
// gives length 0.
void sff_clip(uint32_t bases, uint32_t quality_left, uint32_t quality_right, uint32_t adapter_left,
              uint32_t adapter_right, uint32_t *left, uint32_t *length);

// Reads the common header from the start of the stream and leaves the
// stream at the first read; returns a new sff_state_t. Errors, status 1:
// "Error reading magic number in sff file %s\n", "Error reading sff file:
// wrong format in file %s\n" (format code other than 1), "Error reading
// header in sff file %s\n" (the header length disagrees or the header is cut
// short); an input ending inside the fixed fields gives "Error reading file:
// early termination\n".
void *sff_open(input_stream_t *stream, seq_db_t *db);
// The same on a gzip handle (rewound first) for streaming; it also steps
// over an index that directly follows the header, so that the first block
// starts with the first read.
void *sff_open_gz(gzFile gz, const char *path);
void sff_free_state(void *state);
// Counts one read: returns its clipped length, or -1 once the header's
// number of reads has been counted. A read header that is cut short or
// inconsistent, or a read cut short, prints "Error reading sequence in sff
// file %s\n", status 1.
int32_t sff_next_length(void *state, input_stream_t *stream, array_list_t *markers);
// Reads the read at the current position into record (empty): the clipped
// bases, or the clipped quality scores when qualities is true. A bad read
// header or name prints "Error reading sequence in sff file %s\n", a read
// whose flowgram, bases or qualities are cut short "Error reading sff bases
// in file %s\n"; status 1.
void sff_read(void *state, input_stream_t *stream, seq_record_t *record, bool qualities);

// Chunk reader. The split state carries, from block to block, where the
// next read starts relative to the next block and how many reads were
// found.
void *sff_new_split_state();
void sff_free_split_state(void *split_state);
// Records the start of every read inside the block. A read header that
// disagrees with its name length prints "Error reading sequence in sff file
// %s\n", status 1.
void sff_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                           void *format_state, const char *path);
// "Error reading sequence in sff file %s\n", status 1, when the input ended
// before the header's number of reads was found.
void sff_end_of_input(void *split_state, void *format_state, const char *path);
// Parses one read slice in place; the name is moved to the slice start.
// A bad read header prints "Error reading sequence in sff file %s\n", a
// slice too short for the read's data "Error reading sff bases in file
// %s\n"; status 1.
bool sff_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                     seq_record_t *quality, const char *path);
