// Diagnostic routines of the assembler's driver that no stage calls: stage
// timings, a census of live graph nodes that reads pass through, the
// connected components of the graph, and the pairing words of the paired
// option. Kept for runs under a debugger and for tests; all print on
// standard output and only read what they are given.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_info.h"

extern "C" {

// Prints "<label>: <s> s" with one decimal when more than 999999
// microseconds have passed since start (microseconds of time_get_usec),
// else "<label>: <n> ms", then a line of 25 spaces.
void denovo_print_elapsed(const char *label, int64_t start);
// The same, then sets *start to the current time.
void denovo_print_lap(const char *label, int64_t *start);

// Prints "\nactive node <n>\n" with the number of live nodes and returns
// how many of them carry a fragment on which no read path has both a
// previous and a next element.
int64_t denovo_count_active_nodes(const fragment_graph_t *graph, const read_info_t *info);

// Joins the live nodes along their next edges (either strand) into
// components, prints "number of connected components <n>\n" and returns n.
int32_t denovo_count_connected_components(const fragment_graph_t *graph);

// The distance mode that measures an orientation word's pair from its read
// starts inward: "ff" gives "se", "fb" "ss", "bf" "ee", "bb" "es", written
// to out (two letters and a zero byte). Returns 0, or 1 for another word
// (out untouched).
int denovo_orientation_to_distance_mode(const char *orientation, char out[3]);

// 1 for "ss", "se", "es" and "ee", else 0 (also for null).
int denovo_is_distance_mode(const char *word);

}  // extern "C"
