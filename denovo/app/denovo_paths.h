// Checks of the files a ryx_denovo run names, made before any stage runs so
// that a run that cannot end well stops at once rather than after hours of
// work.
//
// Every input (read files, the reference, the stage file to load) is read
// more than once: opened to detect its format, indexed in one pass and
// fetched from again, so it must be a regular file. No output (-o, -f, -e,
// --memoryusage, the stage files to save and the files of --savegraph) may
// be one of the inputs under any name, since writing it would destroy that
// input. Each problem prints its message on standard error and ends the
// process with status 1.
#pragma once

#include <string>

#include "denovo/app/denovo_options.h"

// The two files --savegraph writes for a prefix.
std::string denovo_fragment_gexf_path(const char *prefix);
std::string denovo_contig_gexf_path(const char *prefix);

// Refuses an output that is also an input ("The output file %s is also an
// input file.\n"), then an input that exists but is not a regular file or a
// folder ("The input file %s is a pipe or device: ryx_denovo reads it more
// than once and needs a regular file.\n"). Inputs that do not exist, and
// folders, are left to the readers, which say so in their own words.
void denovo_check_paths(const denovo_options_t *options);

// Makes sure that an output written only at the end of the run can be
// created: a name that exists as a pipe or device must be writable, any
// other must be creatable in its folder (tried with a hidden file that is
// removed at once). Failure: "Unable to open file %s\n" on standard error,
// status 1.
void denovo_check_output_path(const char *path);
