// Composite databases over part databases: interleaved (sequence i is
// sequence i / n of part i mod n) and concatenated (the parts one after
// another). A composite owns the parts array it was given, not the parts.
#pragma once

#include <cstdint>

#include "seqio/seq_db.h"

struct seq_db_parts_t {
  seq_db_t **parts;   // ryx_malloc'd array, owned by the composite
  int32_t count;
};

// Interleaves n parts of equal sequence counts; other counts print
// "Interleaved databases must be of the same length.\n" and end the process
// with status 1. The counts are the sums; get_qualities exists when every
// part has it, get_length when every part keeps lengths.
seq_db_t *seq_db_new_interleaved(seq_db_t **parts, int32_t n);
// Concatenates n parts; same rules for the operations. get of an index
// outside the database returns null.
seq_db_t *seq_db_new_concat(seq_db_t **parts, int32_t n);
// Frees the parts array and the composite, not the parts (null allowed);
// returns null.
seq_db_t *seq_db_free_parts(seq_db_t *db);
// Part i of a composite.
seq_db_t *seq_db_get_part(const seq_db_t *db, int32_t i);
