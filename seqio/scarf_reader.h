// Scarf (format bit 32): one read per line in colon-separated fields,
//
//   name (five fields, four inner colons) : sequence : qualities
//
// with content tests, the record-at-a-time reader behind the stream-indexed
// database and the chunk reader of the streaming parser. Quality values are
// the file byte minus the Scarf reader offset (fastq_quality_offset.h); a
// value outside 0 to 127 is stored as 0. Whitespace inside the sequence and
// quality fields is dropped on every path, and the last line needs no final
// line feed.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_record_t;

extern const seq_format_ops_t kScarfFormatOps;
extern const seq_chunk_ops_t kScarfChunkOps;

// Content tests on the first line: a letter or digit first; fields 2 to 4
// digits only, field 5 digits, '/' and '#', field 6 letters; yes when the
// sixth colon is reached.
bool scarf_detect(input_stream_t *stream);
bool scarf_detect_gz(gzFile gz, const char *path);

// Reads one line; fills record (empty) when given: with the letters, or with
// the quality values when qualities is true. Returns the residue count, or
// -1 at the end of the input. Errors, status 1:
//   "Scarf file format error in file %s\n"  the line ends before the fifth
//                                           colon;
//   "Scarf format error EOF in file %s\n"   the line ends before the sixth
//                                           colon, or more than whitespace
//                                           follows the qualities;
//   "Scarf format error quality data length in file %s\n"  fewer quality
//                                           bytes than residues.
int32_t scarf_read(input_stream_t *stream, seq_record_t *record, bool qualities);
// Passes n line starts (the byte at the starting position never counts) and
// stops in front of the next, or at the end of the input.
void scarf_skip(input_stream_t *stream, int32_t n);

// Chunk reader: every line start is a record start. The split state is a
// line-start flag, set at the start of a file.
void *scarf_new_split_state();
void scarf_free_split_state(void *split_state);
void scarf_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                             void *format_state, const char *path);
// Parses one line in place. A line without six colons, or (with qualities)
// a quality count other than the residue count, prints
// "Scarf file format error in file %s\n" and ends with status 1.
bool scarf_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                       seq_record_t *quality, const char *path);
