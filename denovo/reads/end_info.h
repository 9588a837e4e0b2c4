// Read tails beyond fragment ends: for each oriented fragment end, the
// symbols of every read that runs on past it, aligned on that end.
//
// Column convention, M = max_distance: column c of a record stands for the
// position c - M relative to the first position beyond the fragment end, so
// columns 0 ... M-1 lie on the fragment's last M positions (seen in the
// record's orientation) and column M is the first position past the end.
// Symbols are codes 0-3, 4 (N) and 255 (no read symbol in this column; only
// before the read's first symbol).
//
// Calling order: the read mapping adds tails to a batch list; the read table
// spools each batch's records into the run list's temporary spool file
// (end_info_spool_records) so that the mapping keeps little in memory. To use
// the tails the owner loads the spool (end_info_read_temp_file) and sorts
// (end_info_sort); consensus and gap filling need that loaded, sorted state.
// A batch list belongs to one worker thread; the run's list and its spool
// file to one thread at a time.
//
// Spool record: u32 id (little-endian), the symbols, then the byte 7.
// Stage-file piece (little-endian): a presence byte (1, or 0 for an absent
// list), u32 count, capacity, max_distance and word_size, then count records
// of u32 id, u32 symbol count and the symbols as bytes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/chunk_arena.h"
#include "denovo/reads/read_info.h"

struct seq_db_t;

extern "C" {

// The byte that ends a spooled record (and separates reads in the read store).
constexpr uint8_t kEndInfoSeparator = 7;
// The symbol of a column before the read's first symbol.
constexpr uint8_t kEndInfoNoSymbol = 255;

struct end_info_record_t {
  oriented_id_t id;      // fragment end: forward = its end, reverse = its start on the reverse strand
  int32_t symbol_count;  // at least 1
  uint8_t *symbols;      // in the list's arena
};

struct end_info_t {
  int32_t count;
  int32_t capacity;
  int32_t max_distance;  // M
  end_info_record_t *records;
  int32_t word_size;     // k; the read table's lists have M = k
  chunk_arena_t *arena;  // every record's symbols
  FILE *spool;           // temporary spool file, or null
};

// An empty list without spool file. max_distance < word_size prints "end
// info: Max distance must be >= word size" on standard error, status 1.
end_info_t *end_info_new(int32_t max_distance, int32_t word_size);
// Frees the arena, the records and the list; closes the spool file (a
// failing close prints "\nERROR: temporary file for end info list was not
// closed correctly\n" on standard error, status 1). Null allowed; returns null.
end_info_t *end_info_free(end_info_t *list);
// Drops the in-memory records (new arena, count 0, capacity 1); the spool
// file keeps its contents.
void end_info_reset(end_info_t *list);
// Appends a record with a copy of n symbols. n <= 0 prints "ERROR: end_info
// symbol length <= 0" on standard error, status 1.
void end_info_add(end_info_t *list, oriented_id_t id, const uint8_t *symbols, int32_t n);
// Appends the tail of a read beyond a fragment end. symbols points at the
// read's first symbol past the fragment (forward) or at its first symbol
// before the fragment start going down (backward) in the read's code string,
// which must hold the code 7 before its first and after its last symbol;
// overlap is how many positions of the fragment the read covers. The tail is
// padded with 255 up to column M - overlap, or loses its first symbols when
// overlap exceeds M; backward tails are complemented. Nothing is added when
// no symbol is left.
void end_info_add_read_tail(end_info_t *list, oriented_id_t id, int32_t overlap, const uint8_t *symbols, int forward);
// Appends every in-memory record to the end of spool; the records stay.
void end_info_spool_records(FILE *spool, const end_info_t *list);
// Appends every record of the list's spool file to memory (records without
// symbols are skipped), then shrinks the record array to the count.
void end_info_read_temp_file(end_info_t *list);
// Orders the records by id (unsigned), longer tail first, and trims the
// arena's block table.
void end_info_sort(end_info_t *list);
// Index of the first record whose id is not below id (sorted list).
int32_t end_info_lower_bound(const end_info_t *list, oriented_id_t id);
// The first record of id and their number in out_count (0 and null when none).
end_info_record_t *end_info_find(const end_info_t *list, oriented_id_t id, int32_t *out_count);

// Consensus beyond one fragment end: a new code array (ryx_malloc, the
// caller frees it) whose first M codes restate the fragment end and whose
// rest extends it, with its length in out_count; null and 0 when no tail of
// id is held. A tail leaves at its end or at its third disagreement. A 255
// in a column the fragment does not reach (fragments shorter than M) casts
// no vote.
uint8_t *end_info_get_consensus(seq_db_t *fragments, const end_info_t *list, oriented_id_t id, int32_t *out_count);
// Majority code per column of the tails over n + 2 x margin columns from
// column 0 (a new ryx_malloc buffer): codes 0-3 vote; the code whose count
// first rises above the running maximum, in tail order, wins; 4 where none
// votes.
uint8_t *end_info_column_majority(int32_t n, int32_t tail_count, const end_info_record_t *const *tails,
                                  int32_t margin);
// Bridges the n-symbol gap from the end of id_a to the start of id_b with
// the tails of id_a that reach k symbols of id_b (sequences and lengths,
// codes per fragment index, or the fragment database when they are null).
// Writes destination offsets -M ... n+M-1: the gap with every column's code
// (4 where none votes), the flanks only with codes 0-3. Returns 1, or 0
// (destination untouched) when no tail bridges.
int end_info_bridge(seq_db_t *fragments, uint8_t *const *sequences, const uint32_t *lengths, const end_info_t *list,
                    oriented_id_t id_a, oriented_id_t id_b, int32_t n, uint8_t *destination);
// Fills the gap: bridged from id_a, else from the flipped id_b towards the
// flipped id_a and turned back (flanks again only with codes 0-3), else the
// n gap positions become 4. The destination needs room for M codes before
// and after the gap.
void end_info_fill_gap(seq_db_t *fragments, uint8_t *const *sequences, const uint32_t *lengths,
                       const end_info_t *list, oriented_id_t id_a, oriented_id_t id_b, int32_t n,
                       uint8_t *destination);

// One record of the piece.
void end_info_write_record(FILE *file, const end_info_record_t *record);
// Reads one record into the list (validated against the bytes left and the
// separator code); ends the process naming end_info_read when damaged.
void end_info_read_record(FILE *file, end_info_t *list);
// Writes the piece from the in-memory records, or the single byte 0 for null.
void end_info_write(FILE *file, const end_info_t *list);
// Writes the piece from the records of the list's spool file (when it has
// one, else from memory), leaving the in-memory records as they are.
void end_info_write_spooled(FILE *file, end_info_t *list);
// Reads a piece: null when absent; else a list whose records have been
// spooled into a new anonymous temporary file and dropped from memory.
// Counts, sizes or symbols that do not fit each other or the bytes in the
// file exit with status 1 and a message naming end_info_read.
end_info_t *end_info_read(FILE *file);

// Capacity and count.
void end_info_print_stats(const end_info_t *list);
// Debug dump of every record under its fragment end.
void end_info_print_list(const end_info_t *list, seq_db_t *fragments);

}  // extern "C"
