// Colour-space FASTQ (format bit 512): content tests, the record-at-a-time
// reader behind the stream-indexed database and the chunk reader of the
// streaming parser.
//
// The file may begin with comment lines starting with '#'. A record is a
// FASTQ record whose sequence is a primer letter and colour digits
// (colour_code.h), decoded at once into nucleotide codes 0 to 4. The
// quality part holds one byte per sequence byte, the primer included; the
// primer's quality is dropped, so a quality record has one value per
// colour: the file byte minus the colour-space FASTQ reader offset
// (fastq_quality_offset.h). Reads with a '.' colour become all N and are
// counted; the count is reported at the end of the file. A record without
// any sequence byte has length 0 and no quality byte.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "seqio/seq_format.h"

struct seq_record_t;

extern const seq_format_ops_t kCsfastqFormatOps;
extern const seq_chunk_ops_t kCsfastqChunkOps;

// Content tests: after the '#' lines, records whose sequence line is a
// primer letter, dots and digits; the first digit decides. A file whose
// records hold only dots is this format when the input ends after them.
bool csfastq_detect(input_stream_t *stream);
bool csfastq_detect_gz(gzFile gz, const char *path);

// Reads one record. state is the format's colour_state_t, whose ignored
// count grows for a dotted record on every call. record (empty) is filled
// when given: with the decoded residues, or with the quality values when
// qualities is true. markers (int64_t offsets), when given, receives every
// '@' that directly follows a line feed inside the record. Returns the
// number of colours, or -1 at the end of the input. Errors, status 1:
//   "Color space fastq file format error in file %s\n"  no '@' at the record
//                                    start, or a header without a line feed;
//   "Color space fastq format error EOF in file %s\n"   the input ends
//                                    before the '+' line's line feed or
//                                    inside the qualities;
//   "Color space fastq format error in file %s\n"       junk after the
//                                    qualities, or a bad colour;
//   "Color space fastq error in file %s\n"              a bad primer.
// Primer and colours are checked only when the residues are kept.
int32_t csfastq_read(void *state, input_stream_t *stream, seq_record_t *record, array_list_t *markers,
                     bool qualities);
// "In file %s: Ignored %lld sequences out of %lld due to dots in csfastq
// data format.\n" on standard error when the ignored count is above 0.
void csfastq_report(int64_t count, void *state, const char *path);

// Chunk reader: FASTQ's scanner (the primer counts as a letter, so it
// expects one quality byte per sequence byte), printing "Color space fastq
// format error in file %s\n" for junk between records, and
// "Color space fastq format error EOF in file %s\n" at the end of an input
// cut inside a record.
void csfastq_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                               void *format_state, const char *path);
void csfastq_end_of_input(void *split_state, void *format_state, const char *path);
// Parses a slice that starts with '@'. A fault in the header or sequence
// prints "Color space fastq format error in file %s\n", one in the quality
// part "Fastq format error in file %s\n"; status 1.
bool csfastq_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                         seq_record_t *quality, const char *path);
