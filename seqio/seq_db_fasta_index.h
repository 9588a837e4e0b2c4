// A FASTA database over a plain file that serialises its fetches with its
// own mutex, so that several threads may share it.
//
// Opening scans the file once for the offsets at which records start: a
// full scan parses every record and keeps the lengths too; a fast scan only
// looks for lines that begin with '>' and keeps no lengths (the residue
// count stays 0). A fetch reads the bytes from one start to the next in one
// read.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdio>

#include "seqio/seq_db.h"

struct seq_alphabet_t;

struct fasta_index_t {
  int64_t sequence_count;
  int64_t residue_count;
  pthread_mutex_t mutex;     // guards the file position
  FILE *file;
  int64_t *starts;           // sequence_count + 1 offsets, the last one the end of the file
  uint32_t *lengths;         // after a full scan, else null
  seq_alphabet_t *alphabet;  // owned, or null
  int keep_names;
};

// Opens path (plain files only) and scans it; returns null when the file
// cannot be opened. The database takes over the alphabet (null allowed).
// With keep_names 0 the records have no name. A full scan ends the process
// with "Fasta file format error 0\n" and status 1 when a byte other than
// whitespace stands where a record should start. get returns null for
// indexes past the end; a short read prints "Read error\n" and a record that
// does not start with '>' "Fasta file error\n", both with status 1.
// get_length exists only after a full scan.
seq_db_t *seq_db_open_fasta_indexed(const char *path, seq_alphabet_t *alphabet, int keep_names, int full_scan);
// Closes the file ("Error closing fasta file\n" and status 1 when that
// fails) and frees everything (null allowed); returns null.
seq_db_t *seq_db_free_fasta_indexed(seq_db_t *db);
