// The stage sequence of one ryx_denovo run: fragments, reads on fragments,
// initial graph, read-optimised graph, paired-optimised graph, contigs.
//
// Each of the first five stages is built, or loaded from the stage file of
// an earlier run (denovo/graph/denovo_file.h), and may be saved; the run
// stops right after the save of its last stage when that is below 6,
// printing the stage's quit message and ending with status 0. The run owns
// every object a stage builds and frees it all, also before such a quit.
//
// Calling order: denovo_options_parse, then denovo_run (which derives the
// per-entry arrays itself), then denovo_options_free. Before the first
// stage the run checks its inputs and outputs (denovo_paths.h) and creates
// every output, the stage files to save included, so that a path that
// cannot be written ends it at once. Failures inside the stages end the
// process through ryx_exit; the outputs are written through
// common/output_file, so a failed run leaves no partial contig, feature,
// estimate or stage file behind.
#pragma once

#include <cstdint>

#include "denovo/app/denovo_options.h"

extern "C" {

// Seed of the process-wide random sources set before any stage runs, so
// that a run gives the same fragments, read table and contigs every time.
constexpr uint32_t kDenovoRandomSeed = 20061;

// Runs the stages the options ask for and returns 0 once the contigs are
// written (or ends the process with status 0 after a save that ends the
// run).
int denovo_run(denovo_options_t *options);

// The word size of the run: the given one checked against 12 to 64
// ("Minimum word size is 12" or "Maximum word size is 64" and the usage
// text, status 1), or the automatic one for the nucleotide count.
int32_t denovo_resolve_word_size(int32_t given, uint64_t nucleotide_count);

// Ends the process with a message on standard error and status 1 when a
// stage file records another word size than the run's ("Error, stage file
// %s was made with word size %d, this run uses word size %d\n"). A stored
// size of -1 (not recorded) is accepted.
void denovo_check_stage_word_size(const char *path, int32_t stored, int32_t word_size);

}  // extern "C"
