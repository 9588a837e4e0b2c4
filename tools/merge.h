// ryx_merge: joins nyr mapping files made against the same reference files
// into one. The record sections are copied byte for byte, in command-line
// order, behind a new version-3 header, so the joined file's reads are those
// of the first input followed by those of the second, and so on. Records
// are parsed while they are copied, to refuse a damaged input, but never
// rewritten, which is why the inputs must agree on everything that fixes
// how a record is laid out: the file version and the contig table (count
// and lengths, which size the contig and position fields).
#pragma once

#include <cstdint>
#include <cstdio>

struct input_stream_t;
struct nyr_file_t;

// Settings from the command line.
struct merge_options_t {
  const char *output_path;  // the -o file (borrowed from argv), or null
  char **input_paths;       // new array (ryx_malloc) of input_count words borrowed from argv
  int32_t input_count;
};

// Prints the usage text with the version on standard output and ends the
// process with status 1.
[[noreturn]] void merge_print_usage();

// Reads the options and the input paths; a problem prints its message and
// the usage text on standard output and ends the process with status 1.
// The caller frees options->input_paths.
void merge_parse_command_line(int argc, char **argv, merge_options_t *options);

// The header of the joined file, a new handle made from the inputs'
// headers. Its file lists share the inputs' entries, so the inputs' headers
// are freed after it. Ends the process with a message on
// standard error and status 1 when an input is version 0 (its records
// cannot be relabelled as version 3), when the file versions differ
// ("File versions do not match, so join cannot be performed.\n") or when
// the contig tables differ in count or lengths ("Contig tables do not
// match, so join cannot be performed.\n").
nyr_file_t *merge_join_headers(nyr_file_t *const *headers, int32_t count, char *const *paths);

// Writes the joined file: the joined header's start, every input's record
// section in order, then the joined fields block. A failed run leaves no
// output behind (an earlier file of that name stays as it was). Failures
// end the process: "Problem opening assembly file\n" (an input or the
// output cannot be opened), "Problem closing assembly file\n", "Problem
// writing output file\n" (status 1 each), the checks of merge_join_headers,
// and the nyr reader's and writer's own messages and statuses. An input
// whose records do not parse, or do not fill its record section exactly
// with one record per read of its header, ends the run with "Assembly file
// %s is damaged: ...\n" or the reader's message followed by "Assembly file
// %s is damaged.\n" (status 65, or the reader's status).
void merge_join_files(nyr_file_t *const *headers, int32_t count, char *const *paths, const char *output_path);

// Copies count bytes from source to destination. A failed write prints
// "Problem writing output file\n" and ends the process with status 1; a
// source that ends early prints "Error reading assembly file %s: the record
// section is shorter than its header states\n" and ends it with status 74.
void merge_copy_bytes(input_stream_t *source, int64_t count, FILE *destination, const char *source_path);

// The whole run after the command line: refuses an output that is also an
// input, reads the headers, checks that every input has the first one's
// reference-file list ("Reference sequence files does not match.\n",
// status 1), joins and returns 0.
int merge_run(const merge_options_t *options);
