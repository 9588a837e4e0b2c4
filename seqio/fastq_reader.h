// FASTQ (format bit 2): content tests, the record-at-a-time reader behind
// the stream-indexed database and the chunk reader of the streaming parser.
//
// A record is a header line starting with '@', sequence lines up to a line
// that starts with '+', the rest of that '+' line, and then exactly as many
// non-whitespace quality bytes as the sequence has, across lines if needed.
// A quality line may itself start with '@'; a forward scan for record starts
// cannot tell it from a header, so the record reader reports such bytes as
// markers to the database index.
//
// Quality values are the file byte minus the FASTQ reader offset
// (fastq_quality_offset.h), kept as one byte.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_record_t;
struct seq_scratch_t;

extern const seq_format_ops_t kFastqFormatOps;
extern const seq_chunk_ops_t kFastqChunkOps;

// Content tests: the first byte is '@'.
bool fastq_detect(input_stream_t *stream);
bool fastq_detect_gz(gzFile gz, const char *path);

// Reads one record. record (empty) is filled when given: with the letters,
// or with the quality values as residues when qualities is true. markers (a
// list of int64_t), when given, receives the file offset of every '@' that
// directly follows a line feed inside the record. Returns the residue count,
// or -1 at the end of the input. Errors, each ending the process with
// status 1:
//   "Fastq file format error in file %s\n"  no '@' at the record start, or a
//                                           header without a line feed;
//   "Fastq format error EOF in file %s\n"   the input ends before the '+'
//                                           line's line feed or inside the
//                                           qualities;
//   "Fastq format error in file %s\n"       bytes other than whitespace after
//                                           the qualities.
int32_t fastq_read(input_stream_t *stream, seq_record_t *record, array_list_t *markers, bool qualities);
// fastq_read's letters of one record into the scratch record (no name, no
// qualities): the same count, letters and errors. Returns the count, or -1
// at the end of the input.
int32_t fastq_read_letters(input_stream_t *stream, seq_scratch_t *scratch);
// fasta_skip with '@' for '>'.
void fastq_skip(input_stream_t *stream, int32_t n);

// The common record in one piece: a header line, one sequence line and one
// quality line of the same length without any white space but their line
// feeds, a '+' line, and the next record's '@' right after the quality
// line. begin is the byte after the record's '@'; nothing at or after end
// is read. Returns false for anything else (the byte-by-byte reader's
// case); for such a record fastq_read gives `count` letters and markers at
// the sequence and quality lines when they start with '@'.
struct fastq_common_record_t {
  const uint8_t *header_end;  // the header's line feed
  const uint8_t *sequence;    // first sequence byte
  const uint8_t *quality;     // first quality byte
  size_t count;               // letters (and qualities)
  const uint8_t *next;        // the next record's '@'
};
bool fastq_common_record(const uint8_t *begin, const uint8_t *end, fastq_common_record_t *out);

// Chunk reader. The split state is the state of the scanner below, carried
// from block to block: a state number (0 between records, 1 header, 2
// sequence, 3 '+' line, 4 qualities), a line-start flag and the counts of
// letters and qualities of the current record.
void *fastq_new_split_state();
void fastq_free_split_state(void *split_state);
// End-of-input check of the splitter: "Fastq format error EOF in file %s\n"
// and status 1 when the input stopped inside a record.
void fastq_end_of_input(void *split_state, void *format_state, const char *path);
// True when the scanner stands between records: the input may end there.
bool fastq_split_state_complete(const void *split_state);
// Every '@' met between records is a record start; a byte other than
// whitespace there prints "Fastq format error in file %s\n", status 1.
void fastq_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                             void *format_state, const char *path);
// The scanner behind fastq_chunk_find_starts, printing junk_message (with
// the path) for a byte other than whitespace or '@' between records. The
// colour-space FASTQ reader shares it: its primer counts as a letter.
void fastq_scan_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                       const char *junk_message, const char *path);
// Parses a slice that begins with '@'; with quality given, the qualities
// become a nameless quality record and true is returned. At least one byte
// of the slice must follow the last quality byte. Every fault prints
// "Fastq format error in file %s\n", status 1.
bool fastq_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                       seq_record_t *quality, const char *path);
// The two halves of fastq_chunk_parse, shared with the colour-space FASTQ
// reader. fastq_chunk_letters moves the non-whitespace bytes of the sequence
// lines from body on together at body, stops at the line that starts with
// '+' and stores its offset in *plus; returns the byte count. A slice that
// ends first prints message (with the path), status 1.
int32_t fastq_chunk_letters(uint8_t *data, int32_t length, int32_t body, int32_t *plus, const char *message,
                            const char *path);
// Moves the n quality bytes after the '+' line at plus together right
// behind that line's line feed, each less offset; returns their offset. The
// '+' line of a record with n 0 at the very end may lack its line feed; a
// slice that ends before n bytes prints message (with the path), status 1.
int32_t fastq_chunk_qualities(uint8_t *data, int32_t length, int32_t plus, int32_t n, uint8_t offset,
                              const char *message, const char *path);
