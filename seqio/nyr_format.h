// The byte layout of the nyr mapping file: constants, the scoring scheme
// and the bounded readers that every part of the nyr code shares.
//
// Layout (all integers little-endian):
//   header, 16 bytes: "RYX", 0x80, three zero bytes, the version byte (0-3),
//     then the 64-bit offset of the fields block (0 while unfinished);
//   records, one per read, from byte 16 up to the fields block;
//   fields block, from its offset to the end of the file.
// Records of version 0 and of versions 1-3 differ (see nyr_hit.h); the fields
// block stores 32-bit read and list sequence counts and a trailing contig
// pair count (always 0) in versions 0 and 1, 64-bit counts and no trailing
// count in versions 2 and 3. Every writer writes version 3; the fields
// rewrite stamps version 2.
//
// A malformed file ends the process through ryx_exit: bad magic, bad
// offsets and out-of-range counts or indexes with "Error reading assembly
// file\n" and status 65, the other messages of the format as documented at
// each reader. Every size, count and index read from a file is checked
// before it is used, and memory for data read from a file grows only as the
// data actually arrives, so a corrupt count never causes a huge allocation.
#pragma once

#include <cstdint>
#include <cstdio>

struct input_stream_t;

constexpr int kNyrHeaderSize = 16;
constexpr int kNyrMagicSize = 7;
// Bytes 0 to 6 of every nyr file.
constexpr uint8_t kNyrMagic[kNyrMagicSize] = {'R', 'Y', 'X', 0x80, 0, 0, 0};
constexpr int kNyrVersionByte = 7;     // offset of the version byte
constexpr int kNyrOffsetField = 8;     // offset of the 64-bit fields offset
constexpr int kNyrVersionWritten = 3;  // what the writers produce
constexpr int kNyrVersionRewritten = 2;
constexpr int kNyrVersionNewest = 3;

// Entry flags of a version 1-3 record.
constexpr uint8_t kNyrEntryMatched = 0x01;
constexpr uint8_t kNyrEntryMatchCount = 0x02;
constexpr uint8_t kNyrEntryHitCount = 0x04;
constexpr uint8_t kNyrEntryPaired = 0x08;
constexpr uint8_t kNyrEntryBisulphite = 0x20;

// Hit flags of a version 1-3 hit.
constexpr uint8_t kNyrHitReverse = 0x01;
constexpr uint8_t kNyrHitQuality = 0x02;
constexpr uint8_t kNyrHitWrap = 0x04;
constexpr uint8_t kNyrHitBitB = 0x08;
constexpr uint8_t kNyrHitBitA = 0x10;

// Contig flags.
constexpr uint16_t kNyrContigCircular = 0x0001;

// Scoring scheme types: 0 none, 1 and 2 read only, 3 and 4 written.
constexpr int kNyrSchemeNone = 0;
constexpr int kNyrSchemeWithColour = 3;
constexpr int kNyrSchemeWithOptional = 4;
constexpr int kNyrSchemeTypes = 5;

struct nyr_scoring_scheme_t {
  int16_t insertion_first;   // cost of the first column of an insertion
  int16_t insertion_further; // cost of each further column
  int16_t deletion_first;
  int16_t deletion_further;
  int16_t optional[4];       // -1 when absent; only type 4 stores them
  int16_t match;             // stored positive
  int16_t mismatch[3];       // stored negative
  int16_t colour_error;      // -1 when absent
  int32_t mode;              // 0 to 3
};

// "Error reading assembly file\n" on standard error, status 65.
[[noreturn]] void nyr_bad_file();
// "Error writing assembly file\n" on standard error, status 74.
[[noreturn]] void nyr_write_error();

// Bytes a number below limit takes in a record (0 to 4); limit 0 takes 4.
int nyr_number_width(uint32_t limit);

// A string of the fields block: null for length 0, else a new text
// (ryx_malloc) grown as its bytes arrive. A file that ends inside it:
// "Read error\n", status 1.
char *nyr_read_string(input_stream_t *stream);
// Passes over a string of a stdio file, growing nothing; the same failure.
void nyr_skip_file_string(FILE *file);

// New scheme with the given costs; optional costs and colour cost -1.
nyr_scoring_scheme_t *nyr_scoring_scheme_new(int16_t insertion_first, int16_t insertion_further,
                                             int16_t deletion_first, int16_t deletion_further, int16_t match,
                                             int16_t mismatch_1, int16_t mismatch_2, int16_t mismatch_3,
                                             int32_t mode);
// New scheme whose optional costs and colour cost are -1 and whose other
// fields are 0 for the caller to set.
nyr_scoring_scheme_t *nyr_scoring_scheme_new_blank();
// Frees it (null allowed); returns null.
nyr_scoring_scheme_t *nyr_scoring_scheme_free(nyr_scoring_scheme_t *scheme);
// The type a scheme is written with: 4 when its first or third optional
// cost is set, else 3; 0 for null.
int nyr_scoring_scheme_type(const nyr_scoring_scheme_t *scheme);
// Reads a scheme; null for type 0. Type 5 or more: "Unsupported scoring
// scheme, type %d\n", status 65; a short file: the codec's message, status 1.
nyr_scoring_scheme_t *nyr_scoring_scheme_read(input_stream_t *stream);
// Writes a scheme with type 3 or 4 (the single byte 0 for null); the second
// and fourth optional costs are lost under type 3. Writes are not checked.
void nyr_scoring_scheme_write(FILE *file, const nyr_scoring_scheme_t *scheme);
