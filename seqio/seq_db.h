// Random-access sequence databases, and the stream-indexed database that
// every sequence file opened by path becomes.
//
// A seq_db_t tells how many sequences and residues a source holds and hands
// out sequence i by index. Opening a stream-indexed database detects the
// format by content, reads the file once and records where every sequence
// starts; a fetch seeks there and reads one record with the format's reader.
// Fetches in ascending order never seek. With more than 1024 sequences of a
// format that can skip, the starts are kept in the compact offset index
// (common/offset_index.h) instead of 8 bytes per sequence; a random fetch
// then seeks below the record and skips a few record starts forward.
//
// Records returned by get and get_qualities of a stream-indexed database are
// new: the caller releases them through their free callback. A
// stream-indexed database keeps one stream position; use it from one thread
// at a time.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/input_stream.h"
#include "common/offset_index.h"
#include "seqio/seq_format.h"

struct seq_alphabet_t;
struct seq_record_t;
struct seq_scratch_t;
struct seq_db_t;

typedef uint32_t (*seq_db_length_fn)(seq_db_t *db, int64_t index);
typedef seq_record_t *(*seq_db_get_fn)(seq_db_t *db, int64_t index);
typedef seq_record_t *(*seq_db_letters_fn)(seq_db_t *db, int64_t index, seq_scratch_t *scratch);

struct seq_db_t {
  int64_t sequence_count;
  int64_t residue_count;          // sum of the lengths, 0 when unknown
  seq_db_length_fn get_length;    // null when lengths were not kept
  seq_db_get_fn get;              // residues mapped through the database's alphabet
  seq_db_get_fn get_qualities;    // quality record (residues are the values); null without qualities
  void *impl;                     // the kind's own data
  seq_db_letters_fn get_letters;  // seq_db_fetch_letters without a record of its own, or null
};

// The residues of sequence index as get gives them, in the scratch record
// (valid until the scratch is filled again; never released), or null where
// get gives null. Databases that can read straight into the scratch do so
// without allocating; the others go through get.
seq_record_t *seq_db_fetch_letters(seq_db_t *db, int64_t index, seq_scratch_t *scratch);

// The stream-indexed database's own data.
struct seq_db_stream_impl_t {
  input_stream_t *stream;         // owned
  seq_alphabet_t *alphabet;       // owned, or null
  const seq_format_ops_t *ops;
  void *state;                    // the format state, or null
  int64_t *starts;                // one start offset per sequence, or null with the index
  offset_index_t *index;          // compact starts above 1024 sequences of a format with skip
  int64_t last;                   // index of the sequence read last, -1 before any
  int32_t min_length;             // -1 until a sequence was seen
  int32_t max_length;
  uint32_t *lengths;              // every length when kept, else null
  int64_t data_start;             // stream offset of the first record
  int32_t *histogram;             // counts of lengths 0 .. buckets - 1, or null
  int32_t buckets;
  char *path;                     // owned copy of the path the stream names, or null
};

// Opens path (plain or gzip) and builds the database. A path that cannot be
// opened prints "Could not open file %s for reading\n", a format that is
// unknown or not in mask "Format problem with file %s\n", both on standard
// error; both return null. Format errors inside the file end the process
// with the reader's message and status 1.
// keep_lengths non-zero keeps every length and provides get_length; buckets
// above 0 makes a histogram over the lengths 0 .. buckets - 1.
seq_db_t *seq_db_open(const char *path, uint32_t residue_type, uint32_t mask, int keep_lengths, int32_t buckets);
// Process-wide choice for seq_db_open (off by default): when on, a gzip
// file is decompressed once, as it is opened, into an anonymous temporary
// file that the database then reads, so that fetches out of order seek in
// plain bytes instead of decompressing the file again from its start on
// every backward seek. With the opening pass on several threads
// (seq_db_set_index_threads), the file is written on a thread of its own
// and a FASTQ file is scanned in parts while it is decompressed
// (gzip_spool.h). Messages still name the path; a corrupt or cut gzip
// file fails as it does when read directly. A temporary file that cannot be
// written prints "Problem writing temporary file\n" and ends the process
// with status 1. Set it before opening, from one thread.
void seq_db_set_gzip_spooling(int on);
// Process-wide thread count for the opening pass (1 by default): with more,
// the pass over a plain FASTQ file (also a spooled one) of at least two
// parts of part_bytes runs in parts on up to that many threads
// (fastq_index_scan.h); the database is the same. Set it before opening,
// from one thread.
constexpr int64_t kSeqDbIndexPartBytes = int64_t{8} << 20;
void seq_db_set_index_threads(int32_t threads, int64_t part_bytes = kSeqDbIndexPartBytes);
// The same over an open plain FILE (no gzip), which the database then owns.
// Failure prints "Format problem with file\n", closes the file and returns
// null.
seq_db_t *seq_db_open_file(FILE *file, uint32_t residue_type, uint32_t mask, int keep_lengths, int32_t buckets);
// Detects the stream's format and, when its bit is in mask, builds the
// database, which then owns the stream; otherwise returns null without a
// message and the stream stays the caller's.
seq_db_t *seq_db_open_stream(input_stream_t *stream, uint32_t residue_type, uint32_t mask, int keep_lengths,
                             int32_t buckets);
// Builds the database from caller-supplied operations, format state and
// alphabet (all taken over). Without next_length no index is built: the
// counts stay 0 and get reaches a record by skipping from the data start or
// from the last record read.
seq_db_t *seq_db_new_indexed_stream(input_stream_t *stream, const seq_format_ops_t *ops, void *state,
                                    seq_alphabet_t *alphabet, int keep_lengths, int32_t buckets);
// Frees a stream-indexed database: the format state, the starts or index,
// the alphabet, lengths and histogram, and closes the stream. A failing
// close prints "Problem closing file\n" and ends the process with status 1.
// Null allowed; returns null.
seq_db_t *seq_db_free(seq_db_t *db);
// Runs the format's end-of-file report, when it has one, with the sequence
// count and path.
void seq_db_report(seq_db_t *db, const char *path);
// Shortest and longest sequence length; -1 for an empty database.
int32_t seq_db_get_min_length(const seq_db_t *db);
int32_t seq_db_get_max_length(const seq_db_t *db);
// The histogram counts (buckets entries), or null when none was asked for.
const int32_t *seq_db_get_length_histogram(const seq_db_t *db);
