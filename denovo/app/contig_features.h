// Annotation lines of the contig output: GFF features (nine tab-separated
// columns, no header) and AGP 2.0 component (W) and gap (N) lines, and a
// reader that takes an AGP file back into records.
//
// Every formatter returns a new zero-terminated string that ends with a
// line end; the caller frees it with ryx_free. Sequence records and texts
// passed in are borrowed. One thread per call; no shared state.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/array_list.h"

struct seq_record_t;

extern "C" {

// The source column of every feature the assembler writes.
#define CONTIG_FEATURE_SOURCE "RYX De Novo Assembler"

struct feature_t;
typedef feature_t *(*feature_free_fn)(feature_t *feature);

// One annotation feature.
struct feature_t {
  seq_record_t *sequence;  // borrowed; its name is the first GFF column (none: "feature")
  const char *source;      // borrowed; none: "unknown_source"
  const char *type;        // borrowed; none: "unknown_type"
  int32_t start;
  int32_t end;
  int32_t score;
  uint8_t strand;        // 1 "+", 255 "-", anything else "."
  int8_t phase;          // -1 ".", else the number
  uint16_t last_column;  // printed as a number
  feature_free_fn free_callback;
};

// An empty feature: no sequence or texts, start and end -1, score 0, strand
// 0, phase -1, last column 0; its free callback is feature_free.
feature_t *feature_new(void);
// A feature with every field given; its free callback is feature_free.
feature_t *feature_new_full(seq_record_t *sequence, const char *source, const char *type, int32_t start, int32_t end,
                            int32_t score, uint8_t strand, int8_t phase, uint16_t last_column);
// Frees the feature record only (null allowed); returns null.
feature_t *feature_free(feature_t *feature);

// One GFF line: name, source, type, start, end, score, strand, phase, last
// column, tab-separated, ending with a line end.
char *feature_format_gff_line(const feature_t *feature);
// The GFF line of an assembler feature of the given type over the walk
// positions a (where it starts in walk order) and b: start min(a, b), end
// max(a, b), score b - a + 1 when b >= a, else b - a - 1; strand and phase
// ".", last column 0.
char *feature_format_gff_range(seq_record_t *sequence, const char *type, int32_t a, int32_t b);

// Writes "##agp-version\t2.0\n".
void agp_write_header(FILE *file);
// One W line: object, begin, end, part, "W", "<object>_<component>", "1",
// end - begin + 1, "+".
char *agp_format_component_line(const seq_record_t *sequence, int32_t begin, int32_t end, int32_t part,
                                int32_t component);
// One N line: object, begin, end, part, "N", end - begin + 1, "scaffold",
// "yes", "paired-ends".
char *agp_format_gap_line(const seq_record_t *sequence, int32_t begin, int32_t end, int32_t part);

// One line of an AGP file read back.
struct agp_record_t {
  char *object;        // owned copy of column 1
  int64_t begin;       // column 2
  int64_t end;         // column 3
  char *component_id;  // owned copy of column 6 on a component line; null on a gap (N) line
  int32_t gap_length;  // column 6 as a number on an N line, else -1
};

// Reads the AGP file at path into an array_list_t of agp_record_t, one per
// line of exactly nine words (split at tabs and spaces). Any other
// non-empty line that does not begin with "#" prints "WARNING: line %d is
// not correctly formatted." on standard output (lines counted from 1). A
// file that cannot be opened prints "ERROR: could not open file: <path>"
// and ends the process with status 1.
array_list_t *agp_read_gap_lengths(const char *path);
// Frees the records' strings and the list (null allowed); returns null.
array_list_t *agp_record_list_free(array_list_t *records);

}  // extern "C"
