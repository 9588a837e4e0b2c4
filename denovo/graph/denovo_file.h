// Stage files of the assembler: the state after each of the first five
// stages, saved so that a later run can start from it.
//
// Kinds (the driver's stage n is kind n - 1):
//   0  the fragments as a plain FASTA file, letters A, C, G, T;
//   1  container: fragments, read table;
//   2, 3  container: fragments, read table, graph;
//   4  container: fragments, read table, graph, gap-sequence map.
//
// A kind-0 file is FASTA that any reader accepts; the name of its first
// fragment carries the file's version and what a load checks the file
// against:
//   ">EE_00000000 stage_version=1 fragments=<n> bases=<b> crc32=<c> word_size=<k>"
// n is the number of fragments, b the sum of their lengths, c (8 lower-case
// hexadecimal digits) the zlib crc32 of every fragment in order as its
// name (the first without this tag), a line end, its letters and a line
// end; " word_size=<k>" is there only when the save knew the word size.
//
// Container layout (little-endian):
//   offset 0   4 bytes  ".fof"
//          4   1        0 (the version of the FASTA offset file header)
//          5   8        offset of the fragment section: 37
//          13  8        length of the fragment section in bytes
//          21  4        kind
//          25  4        stage-file version: 1
//          29  8        length of the whole file, trailer included
//          37  length   fragment section: one FASTA record per fragment in
//                       fragment order, residues as stored (bytes 63 to 66),
//                       60 per line
//   then the pieces in the order above, each in its owner's layout, and a
//   4-byte trailer: the zlib crc32 of every byte before it. Bytes 0 to 20
//   are a FASTA offset file header, so the fragment section opens as a
//   sequence database.
// Version 0, the first layout, had neither the version, the file length nor
// the trailer, and its fragments began at offset 25 (a kind-0 file without
// the tag above); such a file is refused with the version message.
//
// Saving writes under a temporary name and renames the file into place only
// once every byte is written and flushed, so a failed save (a full disk)
// never leaves a file that cannot be loaded. Loading checks the whole file
// against its length, counts and checksum before it reads a piece, then the
// header and every piece; a foreign, cut, changed or otherwise damaged file
// ends the process with a message and status 1. The caller owns everything
// it passes in and everything loaded.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/output_file.h"
#include "denovo/app/gap_sequence_map.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_db.h"

extern "C" {

// Size of the container header; the fragment section starts here.
constexpr int64_t kDenovoFileHeaderSize = 37;
// Size of the checksum trailer of a container.
constexpr int64_t kDenovoFileTrailerSize = 4;
// Version of the stage-file layout this code writes and reads.
constexpr uint32_t kDenovoFileVersion = 1;
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
// Creates the output of a stage file to be saved later (under a hidden name
// until that save is complete), so that a path that cannot be written ends
// the run before the work that leads to the save. Failure: "Unable to open
// file %s\n" on standard error, status 1.
output_file_t *denovo_file_create(const char *path);
// denovo_file_write_with_word_size into an output made by denovo_file_create
// for path; the save commits and frees the output. Returns 1.
int32_t denovo_file_write_output(output_file_t *output, const char *path, int32_t kind, int32_t word_size,
                                 seq_db_t *fragments, read_table_t *table, const fragment_graph_t *graph,
                                 const gap_sequence_map_t *gaps);
// The word size a loaded stage file of the kind records: the graph's (kinds
// 2 to 4), the read table's tail list's (kind 1), the tag after the first
// fragment's name (kind 0); -1 when it records none (a kind-0 file saved
// without it, or without fragments).
int32_t denovo_file_word_size(int32_t kind, seq_db_t *fragments, const read_table_t *table,
                              const fragment_graph_t *graph);
// Writes the container header (the file length left 0 for the caller to
// fill in) and the fragment section and leaves the file positioned at the
// end. A seek that fails prints "Unable to write file %s\n" with the given
// name and exits with status 1.
void denovo_file_write_fragments(FILE *file, const char *path, int32_t kind, seq_db_t *fragments);
// Writes every sequence of the database as FASTA, residues 63 to 66 turned
// into A, C, G, T (the records of a kind-0 file, without its tag).
void denovo_file_write_fasta(FILE *file, seq_db_t *fragments);

// Loads a stage file of the given kind into the outputs the kind holds (the
// others are left as they are) and returns 1; a kind above 4 reads nothing.
// The paired settings per read file and the read-file count (-1: unknown,
// nothing compared) are compared with what the stored read table was made
// from. Failures, each on standard error with status 1: "Unable to open
// file %s\n"; "ERROR: Could not create the fragment database.\n"; "Error,
// %s is not a de novo stage file\n"; "Error, de novo file %s is not a
// regular file\n"; "Error, de novo file %s is damaged: <what is wrong>\n";
// "Error, de novo file version is %d, expected version %d\n" (the stored
// and the asked kind, or the stored and the current stage-file version);
// "Error, stage file %s was saved from other reads or settings: <what
// differs>\n"; and the piece readers' own messages, after which the line
// "De novo file %s is damaged.\n" names the file.
int32_t denovo_file_read(const char *path, int32_t kind, seq_db_t **fragments, read_table_t **table,
                         paired_setting_t *const *pair_par_array, int32_t file_count, fragment_graph_t **graph,
                         gap_sequence_map_t **gaps);

}  // extern "C"
