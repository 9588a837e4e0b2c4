// Read optimisation: the assembler's fourth stage, which turns the initial
// fragment graph into the read-optimised graph.
//
// read_optimize_graph cleans the graph (weak edges, dead ends, bubble marks)
// and then resolves it with read support: the window machinery opens a
// window at every node, threads the reads through it, and calls the max
// function, which decides which of the window's read-supported paths are
// real and has the window rebuilt from them. Passes repeat until one
// changes nothing; weak edges and dead ends are removed once more and the
// node array is compacted. After every step the links, bubble marks and
// node marks of the whole graph are checked; a failed check ends the run.
//
// Single-threaded; the graph is changed in place, the fragments and the
// read table are only read. The progress meter (null allowed) is the
// caller's; the window context lives for the call only.
#pragma once

#include <cstdint>

#include "common/progress_meter.h"
#include "denovo/graph/component_window.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"
#include "seqio/seq_db.h"

extern "C" {

// Bands of the progress line over the optimisation passes: ten passes per
// band, the first band [0.11, 0.7625], each next band taking three quarters
// of what is left below 0.98.
constexpr double kReadOptimizeFirstBandLow = 0.11;
constexpr double kReadOptimizeFirstBandHigh = 0.7625;
constexpr double kReadOptimizeBandLimit = 0.98;
// Deepest window the unfolding opens.
constexpr int32_t kReadOptimizeMaxDepth = 10;

// Optimises the graph in place. With a dump path the nodes are written
// there as text before the clean-up. A failed check prints its message
// ("contig graph is not valid ...") on standard error after the checks'
// own details and ends the process with status 1.
void read_optimize_graph(fragment_graph_t *graph, seq_db_t *fragments, read_table_t *table, int32_t bubble_size,
                         const char *dump_path, progress_meter_t *meter);

// Max function that chooses nothing: the windows are only built and
// threaded. Returns 0.
int read_optimize_zero_function(component_window_t *window, component_list_t *components);

// Max function of the passes: in a window of exactly one component, drops
// the path groups whose read count is at or below the threshold of
// read_optimize_threshold (taken over the groups at or above the mean
// count) and rebuilds the window from the rest. Returns nonzero when the
// window was rebuilt. A window of other than one component prints "Error,
// number of components is not 1" on standard output and ends the process
// with status 1.
int read_optimize_max_function(component_window_t *window, component_list_t *components);

// The count threshold for strong groups of mean count x (x >= 1):
// trunc(trunc(trunc(ln x) * 0.5) + x / 16), so 1 gives 0, 16 gives 2, 100
// gives 8 and 1000 gives 65.
int32_t read_optimize_threshold(int32_t x);

// The range of pass r (0 to 9) of the band [low, high].
void read_optimize_pass_range(double low, double high, int32_t r, double *from, double *to);

}  // extern "C"
