// Command line of ryx_refmap: the run settings, the read and reference file
// entries, and the scoring values derived from them.
//
// Calling order: refmap_options_parse (every option of the table, file
// names by the current file type), then refmap_options_check (the checks
// that need the whole command line, the derived colour cost, error unit,
// deletion cost and score limit), then the run reads the settings; finally
// refmap_options_free. Every problem ends the process: usage problems print
// their message and the usage text on standard output with status 1, the
// score-limit problems their message on standard error with status 1.
//
// Ownership: the options own the output path, the command-line text, both
// file lists (and their entries) and one paired setting per read-file entry.
#pragma once

#include <cstdint>

struct linked_list_t;
struct paired_setting_t;
struct seq_file_info_list_t;

// Repeat modes.
constexpr int32_t kRefmapRepeatRandom = 0;
constexpr int32_t kRefmapRepeatIgnore = 1;
// Largest move limit.
constexpr int32_t kRefmapMaxMoveLimit = 12;
// Largest maximum pair distance: a pair that far apart must still fit one
// reference block after its leading spacer, with the overlap the blocks
// repeat (pair distance + 6 x read length bound), within the largest block
// the 32-bit index can address. Block arithmetic then stays below 2^31.
int32_t refmap_max_pair_distance(void);

struct refmap_options_t {
  char *output_path;                   // owned, or null until -o
  seq_file_info_list_t *read_files;    // built by refmap_options_check
  seq_file_info_list_t *reference_files;
  paired_setting_t **read_settings;    // one per read-file entry (null: unpaired), owned
  int32_t read_file_count;
  int32_t reference_file_count;
  int32_t mismatch_cost;               // x, 1..3
  int32_t gap_cost;                    // insertion cost, 1..3
  int32_t deletion_cost;               // 1..3, -1 = the gap cost
  int32_t colour_space;
  int32_t colour_error_cost;           // 1..3, -1 = not given
  int32_t gapped;
  int32_t repeat_mode;                 // kRefmapRepeatRandom or kRefmapRepeatIgnore
  int32_t score_limit;                 // -1 = derive
  int32_t move_limit;                  // 0 = none given
  double memory_fraction;              // 0..1
  int32_t report_limit;                // maxalign, >= 1
  int32_t align_mode;                  // 0 local, 1 semi-global, 3 global
  int32_t forward_only;
  int32_t backward_only;
  int64_t block_size;                  // reference positions, 0 = derive from memory
  int32_t cpus;                        // 0 = all processors
  int32_t progress;
  // Derived by refmap_options_check.
  int32_t colour_cost;                 // C: -1 in nucleotide space
  int32_t error_unit;                  // u
  char *command_line;                  // words after the program name joined by spaces, or null
  // Entries while parsing (moved into the lists by refmap_options_check).
  linked_list_t *pending_reads;
  linked_list_t *pending_settings;
  linked_list_t *pending_references;
};

// Prints the usage text on standard output and ends the process with
// status 1.
[[noreturn]] void refmap_print_usage(void);

// Parses the words after the program name. Option problems print their
// message (when there is one) and the usage text and end the process with
// status 1.
refmap_options_t *refmap_options_parse(int argc, char **argv);

// The checks that follow parsing (output, reference and read files given,
// -f with -b, the move limit, a colour error cost without -c), then the
// derived values and the score limit checks. Moves the file entries into
// the two lists.
void refmap_options_check(refmap_options_t *options);

// Frees the options and everything they own (null allowed); returns null.
refmap_options_t *refmap_options_free(refmap_options_t *options);
