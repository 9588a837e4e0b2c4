// The single-threaded pull reader: the streaming parser's block logic run on
// the caller's thread, one record per call, and composites that read several
// readers one after another or in turn.
//
// Records returned are independent of the reader (name and residues are
// copied; the residue buffer has 7 bytes beyond the length, zeroed): the
// caller releases them through their free callback. A reader must not be
// shared between threads.
#pragma once

#include <cstdint>

struct seq_record_t;
struct seq_reader_t;

// Opens path with seq_stream_open (the second argument is ignored). When no
// streaming format in mask fits: "Problem with sequence file %s\n" on
// standard error and status 1. drop_names non-zero hands out records without
// names; want_qualities non-zero makes quality records available through
// seq_reader_next_with_raw; report non-zero runs the format's end-of-file
// report when the reader is freed.
seq_reader_t *seq_reader_open(const char *path, int ignored, uint32_t residue_type, uint32_t mask, int drop_names,
                              int want_qualities, int report);
// The next record, or null at the end.
seq_record_t *seq_reader_next(seq_reader_t *reader);
// The same, storing the record's quality record (a new record, or null when
// the format has none or qualities were not wanted) through quality.
seq_record_t *seq_reader_next_with_raw(seq_reader_t *reader, seq_record_t **quality);
// Reads the n parts one after another. Takes over the array (ryx_malloc'd)
// and the parts.
seq_reader_t *seq_reader_new_concat(seq_reader_t **parts, int32_t n);
// Takes one record from each part in turn. Takes over the array and the
// parts. When the parts run out at different records, "Interleaved databases
// should have the same number of sequences\n" and status 1.
seq_reader_t *seq_reader_new_interleaved(seq_reader_t **parts, int32_t n);
// Compressed bytes of the files consumed so far, for progress.
int64_t seq_reader_get_position(const seq_reader_t *reader);
// Total size of the files in bytes.
int64_t seq_reader_get_size(const seq_reader_t *reader);
// Frees composites with their parts; a single reader closes its stream (which
// runs the report when enabled). Null allowed; returns null.
seq_reader_t *seq_reader_free(seq_reader_t *reader);
