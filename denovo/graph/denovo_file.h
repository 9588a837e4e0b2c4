// Stage files of the assembler: the state after each of the first five
// stages, saved so that a later run can start from it.
//
// Kinds (the driver's stage n is kind n - 1):
//   0  the fragments as a plain FASTA file, letters A, C, G, T; when saved
//      with a word size, the first name is followed by " word_size=<k>";
//   1  container: fragments, read table;
//   2, 3  container: fragments, read table, graph;
//   4  container: fragments, read table, graph, gap-sequence map.
// Container layout (little-endian):
//   offset 0   4 bytes  ".fof"
//          4   1        version 0
//          5   8        offset of the fragment section: 25
//          13  8        length of the fragment section in bytes
//          21  4        kind
//          25  length   fragment section: one FASTA record per fragment in
//                       fragment order, residues as stored (bytes 63 to 66),
//                       60 per line
//   then the pieces in the order above, each in its owner's layout. Bytes 0
//   to 20 are a FASTA offset file header, so the fragment section opens as a
//   sequence database.
//
// Saving writes under a temporary name and renames the file into place only
// once every byte is written and flushed, so a failed save (a full disk)
// never leaves a file that cannot be loaded. Loading checks the header and
// every piece; a foreign, truncated or damaged file ends the process with a
// message and status 1. The caller owns everything it passes in and
// everything loaded.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/app/gap_sequence_map.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_db.h"

extern "C" {

// Size of the container header; the fragment section starts here.
constexpr int64_t kDenovoFileHeaderSize = 25;
// Highest kind.
constexpr int32_t kDenovoFileMaxKind = 4;

// Saves a stage file of the given kind; pieces the kind does not hold may be
// null. Returns 1. A kind outside 0 to 4 prints "Error, unknown de novo file
// format\n" before anything is created; a file that cannot be created prints
// "Unable to open file %s\n", one that cannot be written completely "Unable
// to write file %s\n"; all on standard error with status 1.
int32_t denovo_file_write(const char *path, int32_t kind, seq_db_t *fragments, read_table_t *table,
                          const fragment_graph_t *graph, const gap_sequence_map_t *gaps);
// denovo_file_write that also records the word size of the run (when at
// least 1) in a kind-0 file, so that a resume can refuse another size; the
// other kinds record it in their read table and graph anyway.
int32_t denovo_file_write_with_word_size(const char *path, int32_t kind, int32_t word_size, seq_db_t *fragments,
                                         read_table_t *table, const fragment_graph_t *graph,
                                         const gap_sequence_map_t *gaps);
// The word size a loaded stage file of the kind records: the graph's (kinds
// 2 to 4), the read table's tail list's (kind 1), the tag after the first
// fragment's name (kind 0); -1 when it records none (a kind-0 file saved
// without it, or without fragments).
int32_t denovo_file_word_size(int32_t kind, seq_db_t *fragments, const read_table_t *table,
                              const fragment_graph_t *graph);
// Writes the container header and the fragment section and leaves the file
// positioned at the end. A seek that fails prints "Unable to write file
// %s\n" with the given name and exits with status 1.
void denovo_file_write_fragments(FILE *file, const char *path, int32_t kind, seq_db_t *fragments);
// Writes every sequence of the database as FASTA, residues 63 to 66 turned
// into A, C, G, T (the body of a kind-0 file).
void denovo_file_write_fasta(FILE *file, seq_db_t *fragments);

// Loads a stage file of the given kind into the outputs the kind holds (the
// others are left as they are) and returns 1; a kind above 4 reads nothing.
// The paired settings and the file count (-1: unknown) go to
// read_table_read, which checks the stored pair data against them.
// Failures, each on standard error with status 1: "Unable to open file
// %s\n"; "ERROR: Could not create the fragment database.\n"; "Error, %s is
// not a de novo stage file\n"; "Error, de novo file %s is damaged: ...\n";
// "Error, de novo file version is %d, expected version %d\n" (stored and
// asked kind); and the piece readers' own messages, after which the line
// "De novo file %s is damaged.\n" names the file.
int32_t denovo_file_read(const char *path, int32_t kind, seq_db_t **fragments, read_table_t **table,
                         paired_setting_t *const *pair_par_array, int32_t file_count, fragment_graph_t **graph,
                         gap_sequence_map_t **gaps);

}  // extern "C"
