#include "refmap/refmap_options.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "common/arg_cursor.h"
#include "common/linked_list.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/string_util.h"
#include "common/version.h"
#include "refmap/map_context.h"
#include "refmap/ref_block.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_file_list.h"

namespace {

// File types of the names that follow -q and -d.
constexpr int32_t kFileTypeNone = 0;
constexpr int32_t kFileTypeReads = 1;
constexpr int32_t kFileTypeReferences = 2;

// The usage text, one entry per paragraph, lines separated by '\n'.
const char *const kUsageParagraphs[] = {
    "usage: ryx_refmap <options>",
    "  Reference some reads to some reference sequences. Maximum read\n"
    "  length is 55.",
    "Options:",
    "  -h / --help: Display this message",
    "  -q / --reads: The files following this option are read files. (may be used\n"
    "     several times)",
    "  -d / --reference: The files following this option are reference files. Fasta\n"
    "     and GenBank formats are allowed. (may be used several times)",
    "  -o <file> / --output <file>: Output mapping result to a nyr file (required)",
    "  -i <file1> <file2> / --interleave <file1> <file2>: Interleave the sequences\n"
    "     in two files immediately following the \"-i\" option, alternating between\n"
    "     the two files when reading the sequences. Only valid for read files. (may\n"
    "     be used several times).",
    "  -x <n> / --mismatchcost <n>: Set the mismatch cost (integer range 1 to 3, default 2)",
    "  -g <n> / --gapcost <n>: Set the gap cost (integer range 1 to 3, default 3)",
    "  -e <n> / --deletioncost <n>: Set the deletion cost in which case the gap cost\n"
    "     setting only applies to insertions. (integer range 1 to 3, default 3)",
    "  -c / --colorspace: Use color space when aligning.",
    "  -y <n> / --colorerrorcost <n>: Set the cost of an error in a color when using\n"
    "     color space. Can only be used with the \"-c\" option. (range 1 to 3, default\n"
    "     3)",
    "  -u / --ungapped: Use ungapped alignment (default is gapped alignment)",
    "  -r <mode> / --repeat <mode>: Set the behavior for reads that match more than\n"
    "     once, i.e. ignore such reads or place them randomly among the valid\n"
    "     locations (ignore / random) (default random)",
    "  -s <n> / --scorelimit <n>: Set the limit for the score. The limit is defined\n"
    "     as the number of points below the read length to accept (default is 8 for\n"
    "     default scoring scheme).",
    "  -n <n> / --movelimit <n>: Move the length limit for short sequences that are\n"
    "     not aligned. By default it is 22, 26, and 30 for 1, 2, and 3 errors,\n"
    "     respectively. By using this option, it is lowered by n.",
    "  -p <par> / --paired <par>: Set the paired read mode for the read files\n"
    "     following this option. (may be used several times)",
    "     par consists of four strings: <mode> <dist_mode> <min_dist> <max_dist>",
    "     mode is ff, fb, bf, bb and sets the relative orientation of read one and\n"
    "     two in a pair (f = forward, b = backward)",
    "     dist_mode is ss, se, es, ee and sets the place on read one and two to\n"
    "     measure the distance (s = start, e = end)",
    "     A typical use would be \"-p fb ss 180 250\" which means that the reads are\n"
    "     inverted and pointing towards each other. The distance includes both the\n"
    "     reads and the sequence between them. The distance may be between 180 and\n"
    "     250, both included.",
    "     To explicitly say that the following reads are not paired, use \"no\" for\n"
    "     par, i.e. \"-p no\".",
    "     For paired end reads split in two files, use the -i option.",
    "  -m <n> / --memory <n>: Set the maximum amount of memory to use as a fraction\n"
    "     of the available memory (default is 1.0).",
    "  -t <n> / --maxalign <n>: Set the maximum number of alignments to report for\n"
    "     each read (default is 1).",
    "  -a <mode> / --alignmode <mode>: Set the alignment mode to one of the\n"
    "     following:",
    "       local: perform local alignment (default)",
    "       global: perform global alignment",
    "       semi-global: perform semi-global alignment",
    "  -f / --forwardonly: Only match reads in the forward direction",
    "  -b / --backwardonly: Only match reads in the backward direction",
    "  --cpus <n>: Set the number of cpus to use.",
    "  --no-progress: Disable progress bar.",
    "Examples:",
    "  Reference assembly a single file with reads to a single file with reference\n"
    "  sequences:",
    "    ryx_refmap -o assembly.nyr -q reads.fasta -d reference.fasta",
    "  Reference assemble reads from two unpaired runs and a paired end run split\n"
    "  across two files. Use two reference sequences:",
    "    ryx_refmap -o assembly.nyr -q unpaired1.fasta unpaired2.fasta\n"
    "                         -p fb ss 180 250 -i paired_1.qf paired_2.qf -d\n"
    "                         reference1.gb reference2.gb",
};

// A usage problem: the message line, then the usage text.
[[noreturn]] void usage_problem(const char *message) {
  puts(message);
  refmap_print_usage();
}

bool is_option(const char *word, const char *short_form, const char *long_form) {
  return (short_form != nullptr && strcmp(word, short_form) == 0) ||
         (long_form != nullptr && strcmp(word, long_form) == 0);
}

// The next word as an integer in [low, high], else the usage text.
int32_t next_int_or_usage(arg_cursor_t *cursor, int32_t low, int32_t high) {
  const int64_t value = arg_cursor_next_int_in(cursor, low, high);
  if (cursor->error) refmap_print_usage();
  return static_cast<int32_t>(value);
}

// Adds a read-file entry with the current paired setting; the entry keeps
// that setting and the current setting becomes a copy of it.
void add_read_entry(refmap_options_t *options, seq_file_info_t *entry, paired_setting_t **current) {
  if (*current != nullptr) seq_file_info_set_paired(entry);
  linked_list_append(options->pending_reads, entry);
  linked_list_append(options->pending_settings, *current);
  *current = paired_setting_copy(*current);
}

// -p: "no", or orientation, distance mode, minimum and maximum distance.
paired_setting_t *parse_paired(arg_cursor_t *cursor) {
  const char *orientation = arg_cursor_next(cursor);
  if (orientation == nullptr) usage_problem("wrong paired parameters");
  if (strcmp(orientation, "no") == 0) return nullptr;
  const char *distance_mode = arg_cursor_next(cursor);
  if (distance_mode == nullptr) usage_problem("wrong paired parameters");
  const int32_t low = arg_cursor_next_int(cursor);
  const int32_t high = arg_cursor_next_int(cursor);
  // Distances outside 0 <= min <= max <= the block limit could never pair
  // or would break the reference blocks' overlap.
  if (cursor->error || low < 0 || high < low || high > refmap_max_pair_distance())
    usage_problem("wrong paired parameters");
  paired_setting_t *setting = paired_setting_parse(orientation, distance_mode, low, high);
  if (setting == nullptr) usage_problem("wrong paired parameters");
  return setting;
}

char *join_command_line(int argc, char **argv) {
  if (argc < 2) return nullptr;
  size_t length = 0;
  for (int i = 1; i < argc; i++) length += strlen(argv[i]) + 1;
  auto *text = static_cast<char *>(ryx_malloc(length));
  char *at = text;
  for (int i = 1; i < argc; i++) {
    if (i > 1) *at++ = ' ';
    const size_t n = strlen(argv[i]);
    memcpy(at, argv[i], n);
    at += n;
  }
  *at = '\0';
  return text;
}

}  // namespace

int32_t refmap_max_pair_distance(void) {
  const int32_t spacer = 2 * kMapLengthBound + 128;
  return static_cast<int32_t>(kRefBlockMaxSize - ref_block_min_size(spacer, 6 * kMapLengthBound));
}

void refmap_print_usage(void) {
  fputs("\n", stdout);
  for (const char *paragraph : kUsageParagraphs) printf("%s\n\n", paragraph);
  char *version = version_get_string("ryx_assembly_version");
  printf("Version: %s\n\n", version);
  version_free_string(version);
  fflush(stdout);
  ryx_exit(1);
}

refmap_options_t *refmap_options_parse(int argc, char **argv) {
  auto *options = static_cast<refmap_options_t *>(ryx_calloc(sizeof(refmap_options_t)));
  options->mismatch_cost = 2;
  options->gap_cost = 3;
  options->deletion_cost = -1;
  options->colour_error_cost = -1;
  options->gapped = 1;
  options->repeat_mode = kRefmapRepeatRandom;
  options->score_limit = -1;
  options->memory_fraction = 1.0;
  options->report_limit = 1;
  options->progress = 1;
  options->colour_cost = -1;
  options->pending_reads = linked_list_new();
  options->pending_settings = linked_list_new();
  options->pending_references = linked_list_new();
  options->command_line = join_command_line(argc, argv);

  arg_cursor_t *cursor = arg_cursor_new(argc, argv);
  int32_t file_type = kFileTypeNone;
  paired_setting_t *current = nullptr;
  bool cpus_given = false, no_progress_given = false;
  for (;;) {
    const char *word = arg_cursor_next_option(cursor);
    if (word == nullptr) {
      const char *name = arg_cursor_next(cursor);
      if (name == nullptr) break;
      if (file_type == kFileTypeNone) {
        printf("File type not set for %s\n", name);
        refmap_print_usage();
      }
      seq_file_info_t *entry = seq_file_info_new(string_duplicate(name), -1, -1);
      if (file_type == kFileTypeReads)
        add_read_entry(options, entry, &current);
      else
        linked_list_append(options->pending_references, entry);
      continue;
    }
    if (is_option(word, "-h", "--help")) {
      refmap_print_usage();
    } else if (is_option(word, "-q", "--reads")) {
      file_type = kFileTypeReads;
    } else if (is_option(word, "-d", "--references")) {
      file_type = kFileTypeReferences;
    } else if (is_option(word, "-o", "--output")) {
      if (options->output_path != nullptr) usage_problem("Only one output file allowed");
      const char *path = arg_cursor_next(cursor);
      if (path == nullptr) {
        printf("No output file set after %s option\n", word);
        refmap_print_usage();
      }
      options->output_path = string_duplicate(path);
    } else if (is_option(word, "-i", "--interleave") || strcmp(word, "--interleaved") == 0) {
      if (file_type != kFileTypeReads) usage_problem("Interleaved files only valid for reads");
      const char *first = arg_cursor_next(cursor);
      const char *second = first != nullptr ? arg_cursor_next(cursor) : nullptr;
      if (second == nullptr) usage_problem("Give two file names for the interleaved option");
      add_read_entry(options, seq_file_info_new_pair(string_duplicate(first), string_duplicate(second), -1, -1),
                     &current);
    } else if (is_option(word, "-x", "--mismatchcost")) {
      options->mismatch_cost = next_int_or_usage(cursor, 1, 3);
    } else if (is_option(word, "-c", "--colorspace")) {
      options->colour_space = 1;
    } else if (is_option(word, "-y", "--colorerrorcost")) {
      options->colour_error_cost = next_int_or_usage(cursor, 1, 3);
    } else if (is_option(word, "-g", "--gapcost")) {
      options->gap_cost = next_int_or_usage(cursor, 1, 3);
    } else if (is_option(word, "-e", "--deletioncost")) {
      options->deletion_cost = next_int_or_usage(cursor, 1, 3);
    } else if (is_option(word, "-u", "--ungapped")) {
      options->gapped = 0;
    } else if (is_option(word, "-r", "--repeat")) {
      const char *mode = arg_cursor_next(cursor);
      if (mode != nullptr && strcmp(mode, "ignore") == 0)
        options->repeat_mode = kRefmapRepeatIgnore;
      else if (mode != nullptr && strcmp(mode, "random") == 0)
        options->repeat_mode = kRefmapRepeatRandom;
      else
        usage_problem("wrong repeat mode");
    } else if (is_option(word, "-s", "--scorelimit")) {
      options->score_limit = next_int_or_usage(cursor, 0, INT32_MAX);
    } else if (is_option(word, "-n", "--movelimit")) {
      options->move_limit = next_int_or_usage(cursor, 1, INT32_MAX);
    } else if (is_option(word, "-p", "--paired")) {
      current = paired_setting_free(current);
      current = parse_paired(cursor);
    } else if (is_option(word, "-m", "--memory")) {
      const double fraction = arg_cursor_next_double(cursor);
      if (cursor->error || !(fraction >= 0.0 && fraction <= 1.0)) refmap_print_usage();
      options->memory_fraction = fraction;
    } else if (is_option(word, "-t", "--maxalign")) {
      // At least one: a matched record must carry a hit to be readable.
      options->report_limit = next_int_or_usage(cursor, 1, INT32_MAX);
    } else if (is_option(word, "-a", "--alignmode")) {
      const char *mode = arg_cursor_next(cursor);
      if (mode != nullptr && strcmp(mode, "local") == 0)
        options->align_mode = 0;
      else if (mode != nullptr && strcmp(mode, "global") == 0)
        options->align_mode = 3;
      else if (mode != nullptr && strcmp(mode, "semi-global") == 0)
        options->align_mode = 1;
      else
        usage_problem("wrong align mode");
    } else if (is_option(word, "-f", "--forwardonly")) {
      options->forward_only = 1;
    } else if (is_option(word, "-b", "--backwardonly")) {
      options->backward_only = 1;
    } else if (strcmp(word, "--blocksize") == 0) {
      options->block_size = next_int_or_usage(cursor, 0, INT32_MAX);
    } else if (strcmp(word, "--cpus") == 0) {
      if (cpus_given) usage_problem("Number of cpus set twice");
      cpus_given = true;
      const int64_t n = arg_cursor_next_int_in(cursor, 1, INT32_MAX);
      if (cursor->error) usage_problem("Number of cpus must be a positive number");
      options->cpus = static_cast<int32_t>(n);
    } else if (strcmp(word, "--no-progress") == 0) {
      if (no_progress_given) usage_problem("No progress option defined twice");
      no_progress_given = true;
      options->progress = 0;
    } else {
      refmap_print_usage();
    }
  }
  paired_setting_free(current);
  arg_cursor_free(cursor);
  return options;
}

void refmap_options_check(refmap_options_t *options) {
  if (options->output_path == nullptr) usage_problem("No output file set");
  options->reference_file_count = linked_list_get_count(options->pending_references);
  options->read_file_count = linked_list_get_count(options->pending_reads);
  if (options->reference_file_count == 0) usage_problem("No reference files set");
  if (options->read_file_count == 0) usage_problem("No read files set");
  if (options->forward_only && options->backward_only) usage_problem("-f and -b options cannot be used together");
  if (options->move_limit > kRefmapMaxMoveLimit)
    usage_problem("You cannot move the minimum length by more than 12 (-n / --movelimit option).");
  if (options->colour_error_cost != -1 && !options->colour_space)
    usage_problem("Color error cost option can only be used with the \"-c\" option set.");

  options->read_files = seq_file_info_list_new(options->pending_reads);
  options->reference_files = seq_file_info_list_new(options->pending_references);
  options->read_settings =
      static_cast<paired_setting_t **>(linked_list_to_array(options->pending_settings, sizeof(paired_setting_t *)));
  options->pending_reads = linked_list_free(options->pending_reads);
  options->pending_references = linked_list_free(options->pending_references);
  options->pending_settings = linked_list_free(options->pending_settings);

  const int32_t x = options->mismatch_cost;
  if (options->colour_error_cost != -1)
    options->colour_cost = options->colour_error_cost;
  else
    options->colour_cost = options->colour_space ? 3 : -1;
  const int32_t c = options->colour_cost;
  options->error_unit = (c == -1 || c > x) ? x + 1 : c;
  if (options->deletion_cost == -1) options->deletion_cost = options->gap_cost;
  const int32_t u = options->error_unit;
  if (options->score_limit == -1) {
    options->score_limit = 3 * u - 1;
    return;
  }
  if (options->colour_space && options->score_limit >= 3 * u) {
    fprintf(stderr, "Maximum score limit is %d for a mismatch cost of %d and color error cost of %d.\n", 3 * u - 1,
            x, c);
    ryx_exit(1);
  }
  if (options->score_limit >= 4 * (x + 1)) {
    fprintf(stderr, "Maximum score limit is %d for a mismatch cost of %d.\n", 4 * (x + 1) - 1, x);
    ryx_exit(1);
  }
}

refmap_options_t *refmap_options_free(refmap_options_t *options) {
  if (options == nullptr) return nullptr;
  for (int32_t i = 0; options->read_settings != nullptr && i < options->read_file_count; i++)
    paired_setting_free(options->read_settings[i]);
  ryx_free(options->read_settings);
  if (options->pending_settings != nullptr) {
    for (linked_list_node_t *node = options->pending_settings->head; node != nullptr; node = node->next)
      paired_setting_free(static_cast<paired_setting_t *>(node->item));
    linked_list_free(options->pending_settings);
  }
  for (linked_list_t *pending : {options->pending_reads, options->pending_references}) {
    if (pending == nullptr) continue;
    for (linked_list_node_t *node = pending->head; node != nullptr; node = node->next)
      seq_file_info_free(static_cast<seq_file_info_t *>(node->item));
    linked_list_free(pending);
  }
  seq_file_info_list_free(options->read_files);
  seq_file_info_list_free(options->reference_files);
  ryx_free(options->output_path);
  ryx_free(options->command_line);
  ryx_free(options);
  return nullptr;
}
