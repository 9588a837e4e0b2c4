// Every record of a file, in order, handed to a callback: through the
// threaded streaming parser (seq_stream.h) when a streaming format in the
// mask fits the file, else through a random-access database (seq_db.h) of
// the file.
//
// Streamed records live in the parser's buffers and are valid only during
// the callback; records of the database fallback are new and released after
// the callback returns. Either way the callback must copy what it keeps.
// Every failure ends the process with status 1: a file that cannot be opened
// ("Problem opening sequence file %s\n"), a format the database cannot open
// either (the database's message), format errors inside records (the
// reader's message), "Error: odd number of sequences in paired file\n" and
// "Interleaved databases should have the same number of sequences\n".
#pragma once

#include <cstdint>

#include "seqio/seq_stream.h"

// Single records.
void seq_for_each(const char *path, uint32_t residue_type, uint32_t mask, int report, seq_single_fn callback,
                  void *user);
// Single records with their quality records (null for formats without).
void seq_for_each_with_raw(const char *path, uint32_t residue_type, uint32_t mask, int report,
                           seq_single_raw_fn callback, void *user);
// Records 0 and 1, 2 and 3, ... as pairs.
void seq_for_each_pair(const char *path, uint32_t residue_type, uint32_t mask, int report, seq_pair_fn callback,
                       void *user);
void seq_for_each_pair_with_raw(const char *path, uint32_t residue_type, uint32_t mask, int report,
                                seq_pair_raw_fn callback, void *user);
// Record i of both files as a pair.
void seq_for_each_interleaved(const char *path1, const char *path2, uint32_t residue_type, uint32_t mask,
                              int report, seq_pair_fn callback, void *user);
void seq_for_each_interleaved_with_raw(const char *path1, const char *path2, uint32_t residue_type, uint32_t mask,
                                       int report, seq_pair_raw_fn callback, void *user);
