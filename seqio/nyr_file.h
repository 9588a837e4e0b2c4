// The nyr mapping file object: contig table, read count, program strings,
// reference-file and read-file lists, scoring scheme, optionally every
// read's hit record, and operation slots that open the listed sequence
// files on demand.
//
// The byte layout is described in nyr_format.h (header and fields block)
// and nyr_hit.h (records). Reading checks the whole header before anything
// is allocated from it: a bad magic, a fields offset of 0 (an unfinished
// file), below 16 or at or beyond the end of the file, or a read count
// larger than the record section can hold is "Error reading assembly
// file\n", status 65. Other failures, each through ryx_exit:
//   file cannot be opened for reading   "Error opening assembly file for reading\n"  66
//   version above 3                     "Error reading assembly file: file version newer than this program.\n"  65
//   scheme type 5 or more               "Unsupported scoring scheme, type %d\n"  65
//   contig pairs in versions 0 and 1    "Read error: contig pairs not implemented\n"  65
//   file cannot be created or reopened  "Error opening assembly file for writing\n"  73
//   a write, seek or flush fails        "Error writing assembly file\n" (the offset patch
//                                        names the failed seek)  74
//   close fails                         "Error closing assembly file\n"  74
//   a listed sequence file cannot be opened: the opener's message, 66
#pragma once

#include <cstdint>
#include <cstdio>

#include "seqio/nyr_format.h"
#include "seqio/nyr_hit.h"
#include "seqio/seq_file_list.h"

struct chunk_arena_t;
struct input_stream_t;
struct seq_db_t;
struct seq_reader_t;
struct seq_record_t;

struct nyr_contig_t {
  uint32_t length;
  uint16_t flags;  // kNyrContigCircular
};

// Lazily opened sequence sources and the per-read record array.
struct nyr_sources_t {
  seq_db_t *read_db;          // over the read-file list
  seq_db_t *reference_db;     // over the reference-file list
  seq_reader_t *read_reader;  // over read-file entries
  nyr_match_t **matches;      // read-count entries; null for an unmatched read
};

struct nyr_file_t {
  uint32_t contig_count;
  uint64_t read_count;
  char *program_name;     // owned, or null
  char *program_version;  // owned, or null
  char *command_line;     // owned, or null
  seq_file_info_list_t *reference_files;
  seq_file_info_list_t *read_files;
  nyr_scoring_scheme_t *scheme;
  nyr_contig_t **contigs;  // contig_count owned entries
  chunk_arena_t *arena;    // holds the records and codes that nyr_file_read loads
  nyr_sources_t *sources;

  // Operation slots, installed by the constructors (see each constructor).
  seq_db_t *(*open_reads)(nyr_file_t *file, int residue_type);
  seq_reader_t *(*open_read_reader)(nyr_file_t *file, int residue_type, int want_qualities);
  seq_reader_t *(*open_read_reader_range)(nyr_file_t *file, int32_t entry, int residue_type, int want_qualities);
  seq_db_t *(*open_references)(nyr_file_t *file, int residue_type);
  nyr_match_t *(*get_match)(nyr_file_t *file, uint64_t read);
  uint32_t (*contig_get_length)(nyr_file_t *file, const nyr_contig_t *contig);
  int (*slot_zero)(nyr_file_t *file);
  seq_record_t *(*get_read)(nyr_file_t *file, int64_t index);
  seq_record_t *(*get_read_raw)(nyr_file_t *file, int64_t index);
  seq_record_t *(*get_reference)(nyr_file_t *file, int64_t index);
  seq_record_t *(*next_read)(nyr_file_t *file, seq_record_t **raw);
  seq_db_t *(*get_reference_db)(nyr_file_t *file);

  int version;            // version byte of the file read; set only by the header reader
  int64_t fields_offset;  // offset of the fields block of the file read; 0 otherwise
  // 1 when the records of the record array live in the arena (nyr_file_read):
  // they go with the arena, and records stored into such a handle with
  // nyr_file_set_match must come from its arena too.
  int records_in_arena;
};

// --- Construction and release ---

// Handle with n contigs of the given lengths (flags 0), the read count, a
// new arena and an empty source cache, slots installed; with a non-zero
// read count a zeroed record array and the get_match and slot_zero slots.
nyr_file_t *nyr_file_new(uint32_t n, const uint32_t *lengths, uint64_t read_count);
// nyr_file_new with each contig's length taken from records[i].
nyr_file_t *nyr_file_new_from_seqs(uint32_t n, const seq_record_t *const *records, uint64_t read_count);
// nyr_file_new with the contig count, lengths and read count of file.
nyr_file_t *nyr_file_new_like(const nyr_file_t *file);
// Handle without contigs or counts, with arena, source cache and the slots
// of nyr_file_new except get_match and slot_zero.
nyr_file_t *nyr_file_new_blank();
// Handle without contigs or counts, with an arena, no source cache and no
// slots; the caller fills it.
nyr_file_t *nyr_file_new_empty();
// Allocates the zeroed record array of read-count entries in the source
// cache (creating the cache when missing) and installs get_match and
// slot_zero; read count 0 leaves the array null.
void nyr_file_alloc_matches(nyr_file_t *file);
// Frees the records (the arena's go with the arena; heap ones one by one,
// every hit of a block), the source cache, the contigs, the scheme, the
// arena, both lists, the strings and the handle (null allowed); returns null.
nyr_file_t *nyr_file_free(nyr_file_t *file);

// Empty source cache.
nyr_sources_t *nyr_sources_new();
// Frees the cached databases and reader (over the handle's lists) and the
// cache, not the record array (null allowed); returns null.
nyr_sources_t *nyr_sources_free(nyr_sources_t *sources, nyr_file_t *file);

// --- Slot operations (each takes the handle first) ---

// The read-file list as one database (mask 699), cached; a file that cannot
// be opened ends the process with status 66.
seq_db_t *nyr_file_open_reads(nyr_file_t *file, int residue_type);
// A new pull reader over all read files (mask 699), replacing a cached one.
seq_reader_t *nyr_file_open_read_reader(nyr_file_t *file, int residue_type, int want_qualities);
// The same over the one read-file entry.
seq_reader_t *nyr_file_open_read_reader_range(nyr_file_t *file, int32_t entry, int residue_type, int want_qualities);
// The reference-file list as one database (mask 5, lengths kept), cached;
// status 66 when a file cannot be opened.
seq_db_t *nyr_file_open_references(nyr_file_t *file, int residue_type);
// The record of read index (null: unmatched).
nyr_match_t *nyr_file_get_match(nyr_file_t *file, uint64_t read);
uint32_t nyr_contig_get_length(nyr_file_t *file, const nyr_contig_t *contig);
// Always 0.
int nyr_file_slot_zero(nyr_file_t *file);
// Sequence index of the cached read database (its qualities for _raw).
seq_record_t *nyr_file_get_read(nyr_file_t *file, int64_t index);
seq_record_t *nyr_file_get_read_raw(nyr_file_t *file, int64_t index);
// Sequence index of the cached reference database.
seq_record_t *nyr_file_get_reference(nyr_file_t *file, int64_t index);
// The next read of the cached read reader, its quality record through raw.
seq_record_t *nyr_file_next_read(nyr_file_t *file, seq_record_t **raw);
seq_db_t *nyr_file_get_reference_db(nyr_file_t *file);

// --- Plain accessors ---

// Stores record as the record of read index (the array must exist).
void nyr_file_set_match(nyr_file_t *file, int64_t index, nyr_match_t *record);
// The largest contig length, 0 without contigs.
uint32_t nyr_file_get_longest_contig(const nyr_file_t *file);
// New array (ryx_malloc) of the contig lengths in table order.
uint32_t *nyr_file_get_contig_lengths(const nyr_file_t *file);
// Low 32 bits of the sequence count of read-file (reference-file) entry i.
uint32_t nyr_file_get_read_file_sequence_count(const nyr_file_t *file, int32_t i);
uint32_t nyr_file_get_reference_file_sequence_count(const nyr_file_t *file, int32_t i);

nyr_contig_t *nyr_contig_new(uint32_t length, uint16_t flags);
nyr_contig_t *nyr_contig_free(nyr_contig_t *contig);
void nyr_contig_set_circular(nyr_contig_t *contig);
int nyr_contig_is_circular(const nyr_contig_t *contig);
// A contig from a 32-bit length and 16-bit flags; a short file: the
// codec's message, status 1.
nyr_contig_t *nyr_contig_read(input_stream_t *stream);
void nyr_contig_write(FILE *file, const nyr_contig_t *contig);

// --- Files ---

// A new handle from the header and fields block of the stream, which must
// stand at byte 0; leaves the stream at byte 16.
nyr_file_t *nyr_file_read_header_stream(input_stream_t *stream);
// Opens path (plain or gzip), reads header and fields block, closes.
nyr_file_t *nyr_file_read_header(const char *path);
// nyr_file_read_header, then every read's record (first hit only) into the
// handle's arena. With resolve_wraps set, wrap counts are resolved against
// the contig lengths; otherwise positions stay as stored. The records must
// fill the record section exactly.
nyr_file_t *nyr_file_read(const char *path, int resolve_wraps);
// Size of the record section (fields offset - 16) of an open stdio file
// after checking its header as the reader does; leaves the file at byte 16.
int64_t nyr_file_get_records_size(FILE *file);
// The same over a stream standing at byte 0.
int64_t nyr_file_get_records_size_stream(input_stream_t *stream);
// Writes a complete version-3 file: every read's record (one hit, wrap
// counts against the contig lengths), then the fields block.
void nyr_file_write(const char *path, nyr_file_t *file);
void nyr_file_save(const char *path, nyr_file_t *file);
// Writes the 8 header bytes for version 3 and a 64-bit 0 at the start of a
// new file. The handle is not used and may be null.
void nyr_file_write_start(FILE *out, const nyr_file_t *file);
// The version-2/3 fields block at the current position. Writes are not
// checked here.
void nyr_fields_write(FILE *out, const nyr_file_t *file);
// Appends the fields block, patches its offset into the header and flushes;
// any failed write, seek or flush ends the process with status 74. The file
// is left standing behind the patched offset.
void nyr_file_write_finish(FILE *out, const nyr_file_t *file);
// A version-0/1 fields block: 32-bit read count and list sequence counts,
// closing contig-pair count 0.
void nyr_fields_write_v1(FILE *out, const nyr_file_t *file);
// Replaces the fields block of an existing file and stamps version 2. The
// header is checked (as the reader does) before anything is written; a
// version-0 file, whose records only version 0 can read, is refused with
// "Cannot rewrite the fields of a version 0 assembly file\n", status 65.
void nyr_file_rewrite_fields(const char *path, const nyr_file_t *file);
// Of a header laid out with its fields from byte 8 on (the oldest layout):
// the count that follows its contig table.
uint32_t nyr_file_read_legacy_pair_count(FILE *file);
