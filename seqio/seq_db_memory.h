// Databases without a file: the empty shell and databases over records in
// memory.
//
// The record-array database returns its stored records from get; the caller
// must not release them. It has no get_qualities.
#pragma once

#include <cstdint>

#include "seqio/seq_db.h"

struct seq_record_t;

// An empty shell: counts 0, no operations, no data.
seq_db_t *seq_db_new();
// Frees a shell (null allowed); returns null.
seq_db_t *seq_db_free_shell(seq_db_t *db);
// A database over n record pointers; the array (ryx_malloc'd) passes to the
// database, the records stay owned by it until seq_db_free_records. The
// residue count is the sum of the lengths.
seq_db_t *seq_db_new_from_records(seq_record_t **records, int64_t n);
// The same over one record.
seq_db_t *seq_db_new_from_record(seq_record_t *record);
// Releases every record, the array and the database; returns null.
seq_db_t *seq_db_free_records(seq_db_t *db);
// Sets the residue count to the sum of the lengths of every record fetched
// with get (new records are released again).
void seq_db_sum_lengths(seq_db_t *db);
// Fetches and releases every record in order (reads a database through once).
void seq_db_fetch_all(seq_db_t *db);
// Releases a record fetched with db->get, except from the record-array
// database, which keeps its records; lets code read any database alike.
void seq_db_release_fetched(seq_db_t *db, seq_record_t *record);
// A shell whose counts are the sums over the n parts; it has no operations.
seq_db_t *seq_db_new_summed_shell(seq_db_t **parts, int32_t n);
