// Sequence formats: their bits, the masks programs pass, the two tables of
// per-format operations and content detection.
//
// Every format plugs into the rest of the subsystem through one entry of the
// format table (seq_format_table, in detection order):
//   - a content test on an input_stream_t (random access, seq_format_detect)
//     and, for formats that stream, one on a gzip handle (seq_stream_open);
//   - seq_format_ops_t: the record-at-a-time reader behind the
//     stream-indexed database (count, index, skip and fetch records);
//   - seq_chunk_ops_t: the chunk reader of the threaded streaming parser
//     (find record starts in a block, parse one record slice in place);
//   - the alphabet its residues are mapped through.
// Formats without a gzip content test (ABI, the offset file) are never
// streamed.
//
// Whitespace, in every reader of this subsystem, is the bytes 9 to 13 and 32.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "common/array_list.h"
#include "common/input_stream.h"

struct seq_alphabet_t;
struct seq_db_t;
struct seq_record_t;

// Format bits. Bit 64 is never assigned.
constexpr uint32_t kSeqFormatFasta = 1;
constexpr uint32_t kSeqFormatFastq = 2;
constexpr uint32_t kSeqFormatGenbank = 4;
constexpr uint32_t kSeqFormatSff = 8;
constexpr uint32_t kSeqFormatSolid = 16;
constexpr uint32_t kSeqFormatScarf = 32;
constexpr uint32_t kSeqFormatAbi = 128;
constexpr uint32_t kSeqFormatFastaQuality = 256;
constexpr uint32_t kSeqFormatCsfastq = 512;
constexpr uint32_t kSeqFormatFastaOffset = 1024;

// Masks passed by the programs.
constexpr uint32_t kSeqMaskRefmapReads = 699;   // every read format but GenBank
constexpr uint32_t kSeqMaskReads = 703;         // the same and GenBank
constexpr uint32_t kSeqMaskReferences = 5;      // FASTA and GenBank
constexpr uint32_t kSeqMaskFragments = 1;       // FASTA only
constexpr uint32_t kSeqMaskStageFiles = 1024;   // offset files only

// Size of the blocks the streaming parser reads, one gzip read each.
constexpr int32_t kSeqBlockSize = 261120;

// Random-access operations of one format; each takes the format state (null
// for formats without one) and the stream first. Absent operations are null.
struct seq_format_ops_t {
  // Reads a file header if the format has one and leaves the stream at the
  // first record; returns the format state.
  void *(*open_state)(input_stream_t *stream, seq_db_t *db);
  // Reads the record at the current position without keeping it and returns
  // its residue count, or -1 when no record is left. Appends to markers (a
  // list of int64_t, may be null) the offset of every byte inside the record
  // that skip would take for a record start.
  int32_t (*next_length)(void *state, input_stream_t *stream, array_list_t *markers);
  // Reads the record at the current position into an empty record.
  void (*read)(void *state, input_stream_t *stream, seq_record_t *record);
  // The same with the quality values as the record's residues.
  void (*read_qualities)(void *state, input_stream_t *stream, seq_record_t *record);
  // Passes n record-start candidates after the current position (the byte
  // at the position never counts) and stops in front of the next one.
  void (*skip)(void *state, input_stream_t *stream, int32_t n);
  void (*free_state)(void *state);
  // End-of-file report with the number of sequences.
  void (*report)(int64_t count, void *state, const char *path);
};

// Chunk operations of one format for the streaming parser.
struct seq_chunk_ops_t {
  // The splitter's carry-over state for one file, and its release.
  void *(*new_split_state)();
  void (*free_split_state)(void *split_state);
  // Appends to starts (a list of int32_t) the offset of every record start
  // inside the block; the split state carries context to the next block.
  void (*find_starts)(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                      void *format_state, const char *path);
  // Parses one record slice in place into record (name and residues point
  // into the slice). When quality is not null and the format has qualities,
  // fills it as the quality record and returns true; else returns false.
  bool (*parse)(uint8_t *data, int32_t length, void *format_state, seq_record_t *record, seq_record_t *quality,
                const char *path);
  // Reads a file header from the rewound handle and leaves the handle where
  // the first block starts; returns the format state. Null for formats
  // without one.
  void *(*open_state)(gzFile gz, const char *path);
  void (*free_state)(void *format_state);
  void (*report)(int64_t count, void *format_state, const char *path);
  // Called once the last block has been split: ends the process with the
  // format's message when the input stopped inside a record. Null for
  // formats whose records cannot be cut short unnoticed.
  void (*end_of_input)(void *split_state, void *format_state, const char *path);
};

// One format: its bit, its content tests, its two readers and its alphabet.
struct seq_format_t {
  uint32_t bit;
  const char *name;
  // Content test on a stream positioned at 0 by the caller.
  bool (*detect)(input_stream_t *stream);
  // Content test on a freshly opened or rewound gzip handle; null for formats
  // that are never streamed.
  bool (*detect_gz)(gzFile gz, const char *path);
  const seq_format_ops_t *ops;
  const seq_chunk_ops_t *chunk_ops;   // null for formats that are never streamed
  // The alphabet for a residue type (a new one, or null for none).
  seq_alphabet_t *(*alphabet)(uint32_t residue_type);
};

// The format table in detection order (SOLiD, FASTA quality file, FASTA,
// colour-space FASTQ, FASTQ, GenBank, SFF, Scarf, ABI, offset file); *count
// receives its length.
const seq_format_t *seq_format_table(int32_t *count);
// The table entry of a format bit, or null.
const seq_format_t *seq_format_by_bit(uint32_t bit);
// Runs the content tests in table order, each from the start of the stream,
// and returns the bit of the first that fits, or 0. The stream is left at an
// unspecified position.
uint32_t seq_format_detect(input_stream_t *stream);

// Alphabet choosers for the table: by residue type, none at all.
seq_alphabet_t *seq_format_alphabet_by_type(uint32_t residue_type);
seq_alphabet_t *seq_format_alphabet_none(uint32_t residue_type);

// True for the whitespace bytes 9 to 13 and 32 (never for -1 or bytes above
// 127).
inline bool seq_is_space(int c) { return c == ' ' || (c >= 9 && c <= 13); }

// The name readers print for a stream: its path, or a placeholder for a
// wrapped source.
const char *seq_stream_name(const input_stream_t *stream);

// gzgetc for the streaming content tests: the next byte or -1 at the end.
// A read error (a corrupt or truncated gzip file) is no end: it prints
// "Problem reading sequence file %s\n" with the path to standard error and
// ends the process with status 1.
int seq_gz_getc(gzFile gz, const char *path);

// Skips whole lines starting with '#'; returns the first byte after them
// (-1 at the end of the input). The gzip form fails like seq_gz_getc.
int seq_skip_comments(input_stream_t *stream);
int seq_skip_comments_gz(gzFile gz, const char *path);
