// The graph explorer: a console dialogue for inspecting and editing the
// fragment graph by hand. It prints the prompt "> ", reads one command line
// at a time (one lower-case letter and its arguments) and prints what the
// command finds on standard output; most commands call an operation of the
// graph or read modules and print its result. 'h' lists the commands, 'q'
// or the end of the input ends the dialogue.
//
// Identifiers on command lines are hexadecimal; an apostrophe right after
// the digits selects the reverse strand (bit 31 toggled). A node list is
// such ids joined by commas. Every id is checked against the graph (node
// ids) or the fragment database (fragment ids) before use: a bad id prints a
// message and the command changes nothing. A line that cannot be read prints
// "Unknown command. Try 'h' for help." or the command's syntax line.
//
// Calling order: explorer_run with everything loaded; it returns when the
// user quits. The caller keeps ownership of the fragments, the read table,
// the graph (edited in place) and the contig info it passes; what the
// explorer makes for itself (window context, contig info, neighbourhood
// context) it frees before returning. The commands use marks 1 to 6 of the
// graph as scratch bits, so the explorer takes the marks a caller's stage
// left (the paired stage leaves them for the contig writer) off the graph
// for the dialogue and puts them back when it returns, on every node slot
// that still holds the same live fragment; after 'o' the marks of that
// optimisation are the ones put back. The paired optimisation lives above
// the graph library, so the caller hands it in as a function pointer
// (explorer_paired_optimize_fn). Single-threaded.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/array_list.h"
#include "common/progress_meter.h"
#include "denovo/graph/component_unfold.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"
#include "seqio/seq_db.h"

extern "C" {

// The paired optimisation of the assembler's driver: (graph, read table,
// bubble size, scaffolding flag, progress meter or null, join-list slot or
// null) -> the contig info of the resulting graph, owned by the caller.
typedef contig_info_t *(*explorer_paired_optimize_fn)(fragment_graph_t *graph, read_table_t *table,
                                                     int32_t bubble_size, int32_t scaffolding,
                                                     progress_meter_t *progress, array_list_t **joins);

struct explorer_t {
  seq_db_t *fragments;  // borrowed
  read_table_t *table;  // borrowed
  fragment_graph_t *graph;  // borrowed, edited in place
  explorer_paired_optimize_fn paired_optimize;  // null: the 'o' command is refused
  FILE *input;  // command lines; standard input for explorer_run
};

// Longest command line read at once; a longer line is refused whole.
constexpr int32_t kExplorerLineSize = 1000;
// Radius of the neighbourhood searches of the 't' command.
constexpr int32_t kExplorerPathRadius = 600;

// Runs the dialogue on standard input and output until the user quits.
// decision is the caller's decision function for unfolding (used when a
// command's max_against is negative); contigs may be null. Fatal errors of
// the operations called end the process as they do elsewhere.
void explorer_run(seq_db_t *fragments, read_table_t *table, fragment_graph_t *graph, component_max_function decision,
                  int32_t bubble_size, contig_info_t *contigs, explorer_paired_optimize_fn paired_optimize);
// The command loop on context->input; returns at 'q' or the end of the input.
void explorer_loop(explorer_t *context, component_max_function decision, int32_t bubble_size,
                   contig_info_t *contigs);

// The decision function of the 'a' and 'b' commands with max_against >= 0:
// max_against is a read-count threshold. With a positive threshold the
// components are rebuilt from the path groups above it and the window is
// built from them; returns nonzero only when the graph changed. With 0 it
// returns 0 and changes nothing.
int explorer_constant_decision(component_window_t *context, component_list_t *components);
// Sets the threshold that explorer_constant_decision uses.
void explorer_set_decision_value(int32_t value);

// Parsers of command arguments. Ids are hexadecimal with an optional
// apostrophe, numbers decimal; leading blanks are skipped and trailing
// blanks accepted where the line must end.
//
// One id that must end the line: 0 and the id, or the command-error message
// and -1.
int explorer_parse_id(const char *text, oriented_id_t *out);
// Two or three ids, the last ending the line: 0, or -1 without a message.
int explorer_parse_two_ids(const char *text, oriented_id_t *a, oriented_id_t *b);
int explorer_parse_three_ids(const char *text, oriented_id_t *a, oriented_id_t *b, oriented_id_t *c);
// A decimal number that ends the line, or -1.
int32_t explorer_parse_int(const char *text);
// Two decimal numbers ending the line: 0, or -1 without a message.
int explorer_parse_two_ints(const char *text, int32_t *a, int32_t *b);
// An id and a decimal number ending the line: 0, or -1 without a message.
int explorer_parse_id_and_int(const char *text, oriented_id_t *id, int32_t *n);
// A node list ending the line: 0 and a new array (ryx_free) of *count ids;
// when not even a first id can be read, the command-error message and -1.
// Anything else after the list is -1 without a message.
int explorer_parse_node_list(const char *text, oriented_id_t **ids, int32_t *count);
// A node list followed by two decimal numbers ending the line; failures as
// explorer_parse_node_list (no array is left to free).
int explorer_parse_node_list_and_two_ints(const char *text, oriented_id_t **ids, int32_t *count, int32_t *first,
                                          int32_t *second);

// Prints "Unknown command. Try 'h' for help." and a line end.
void explorer_print_command_error(void);
void explorer_print_help(void);
// "Fragment count:   %10lld (%llx)\n".
void explorer_print_fragment_count(const explorer_t *context);
// An id as "%8x" (width 2), "%4x" (width 1) or "%x" (width 0) of its index
// and "'" for the reverse strand or a space; -1 as "[none]", after two
// spaces unless width is 0.
void explorer_print_id(oriented_id_t id, int32_t width);
// "%d:" with the fragment length, a line end, the sequence (letters of the
// id's strand; 66 or more letters as the first 30, " ... " and the last 30)
// and a line end.
void explorer_print_fragment_sequence(const explorer_t *context, oriented_id_t fragment);
// One read row of the 'r' (follow_node -1) or 'l' (the node whose fragment
// the occurrence p lies on) command: up to 6 elements before p and the path
// after it, with distances.
void explorer_print_read_row(const explorer_t *context, read_ptr_t p, oriented_id_t follow_node);
// Prints every place where the residue bytes of the symbols (63 to 67 for
// A, C, G, T, N) occur in a fragment or its reverse complement.
void explorer_find_fragments(const explorer_t *context, const uint8_t *symbols, int32_t count);
// Writes "contigs.txt" in the current directory: one line per contig with
// its first and last node (and their fragments when a node does not carry
// its own). A file that cannot be written prints "Unable to write file
// %s\n" and returns -1; 0 on success.
int explorer_write_contig_ends(const fragment_graph_t *graph, const contig_info_t *contigs, const char *path);

}  // extern "C"
