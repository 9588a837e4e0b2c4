// Command line of the assembler ryx_denovo: the run settings, the read-file
// entries with their paired setting and fragment mode, the checks made once
// every word is read, and the automatic word size.
//
// Calling order: denovo_options_parse fills a denovo_options_t from argv
// (any problem prints its message and the usage text on standard output and
// ends the process with status 1); denovo_options_derive builds the
// per-entry arrays the stages take; the driver (denovo_run.h) runs the
// stages; denovo_options_free releases everything. The options own the
// entries, their names (copied out of argv), the paired settings and the
// derived arrays; the other paths are borrowed from argv.
//
// Stages are numbered 1 (fragments) to 6 (contigs); stage s is saved as
// stage-file kind s - 1.
#pragma once

#include <cstdint>

#include "denovo/reads/read_store.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_file_list.h"

extern "C" {

// Stage numbers of the run.
constexpr int32_t kDenovoStageFragments = 1;
constexpr int32_t kDenovoStageReads = 2;
constexpr int32_t kDenovoStageInitialGraph = 3;
constexpr int32_t kDenovoStageReadGraph = 4;
constexpr int32_t kDenovoStagePairedGraph = 5;
constexpr int32_t kDenovoStageContigs = 6;

// Defaults of the settings.
constexpr int32_t kDenovoDefaultMinLength = 200;
constexpr int32_t kDenovoDefaultBubbleSize = 50;
// Limits of the word size, automatic or given.
constexpr int32_t kDenovoMinWordSize = 12;
constexpr int32_t kDenovoMaxWordSize = 64;

// Fragment modes of -g.
constexpr int32_t kDenovoFragmentUse = 0;
constexpr int32_t kDenovoFragmentIgnore = 1;

struct denovo_options_t {
  const char *output_path;    // -o: contig FASTA, or null
  const char *feature_path;   // -f: GFF or AGP, or null
  const char *estimate_path;  // -e: pair-distance estimates, or null
  int32_t min_length;         // -m
  int32_t word_size;          // -w; -1 chooses it from the reads
  int32_t bubble_size;        // -b; -1 until parsing ends, then 50
  int32_t cpus;               // --cpus; 0 uses every processor
  int32_t verbose;            // -v
  int32_t scaffolding;        // 1 unless -n
  int32_t reads_seen;         // a -q was given
  int32_t any_paired;         // an entry was added under a paired setting
  paired_setting_t *current_setting;  // -p in force, or null
  int32_t current_fragment_mode;      // -g in force
  int32_t load_stage;                 // 1 to 5, 0 when nothing is loaded
  const char *load_path;
  const char *save_paths[kDenovoStageContigs];  // index 1 to 5: the save path of that stage, or null
  int32_t earliest_save;  // lowest stage saved (-o counts as stage 6); 6 when none
  int32_t last_stage;     // highest stage to reach; 0 when nothing is asked
  const char *reference_path;  // --reference
  const char *memory_path;     // --memoryusage
  const char *graph_prefix;    // --savegraph
  int32_t explore;             // --explore
  int32_t show_contigs;        // --showcontigs

  // Read-file entries in command-line order (three parallel arrays).
  int32_t entry_count;
  int32_t entry_capacity;
  seq_file_info_t **entries;      // one or two names; paired flag set under a setting
  paired_setting_t **settings;    // the setting in force when added, or null
  int32_t *fragment_modes;        // the fragment mode in force when added

  // Per entry, made by denovo_options_derive.
  read_store_file_t *name_pairs;  // first name and second name (or null)
  int32_t *paired_flags;          // 1 for an entry added under a setting
  int32_t *use_flags;             // 1 when the entry's reads build fragments
};

// Prints the usage text with the version on standard output and ends the
// process with status 1.
[[noreturn]] void denovo_print_usage(void);

// Reads the command line into options (zeroed by the caller is not needed)
// and runs the six checks. Every problem prints its message and the usage
// text on standard output and ends the process with status 1; on return the
// bubble size is final (50 when not given).
void denovo_options_parse(int argc, char **argv, denovo_options_t *options);

// Fills name_pairs, paired_flags and use_flags from the entries and frees
// the paired setting still in force.
void denovo_options_derive(denovo_options_t *options);

// Frees the entries, their settings and names, and the derived arrays.
void denovo_options_free(denovo_options_t *options);

// The word size for nucleotide_count bases of reads: 12 up to 30000 bases,
// else 13 growing by one per division of the count by 3 while the count is
// above 90002 and the size at most 63 (so at most 64).
int32_t denovo_choose_word_size(uint64_t nucleotide_count);

// 1 when the feature path names an AGP file (".agp" or ".AGP" anywhere in
// it), else 0 (GFF).
int denovo_feature_path_is_agp(const char *path);

}  // extern "C"
