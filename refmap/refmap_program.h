// The ryx_refmap program around its mapping run: progress meters, cpu
// count, the checks and derived values of the command line, the scoring
// scheme, the seeding of rand(), the read and reference files, the nyr
// header object, the output file with its header and trailing fields block.
//
// The output is written under a temporary name and appears under its own
// name only once complete (common/output_file.h): a run that fails leaves
// no output behind, and an earlier file of that name stays as it was.
#pragma once

struct refmap_options_t;

// Runs the mapping the parsed options describe and returns 0; every
// failure ends the process with its message and status. Frees the options.
int refmap_program_run(refmap_options_t *options);
