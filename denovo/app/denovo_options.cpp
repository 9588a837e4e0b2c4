#include "denovo/app/denovo_options.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/arg_cursor.h"
#include "common/cpus.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/version.h"

namespace {

// The usage paragraphs; each is printed followed by one empty line.
const char *const kUsage[] = {
    "usage: ryx_denovo [options]",
    "  Assemble some reads and output contig sequences in fasta format.",
    "Options:",
    "  -h / --help: Display this message",
    "  -q / --reads: The files following this option are read files. Fasta, fastq,\n"
    "     and sff formats are allowed. (may be used several times)",
    "  -i <file1> <file2> / --interleave <file1> <file2>: Interleave the sequences\n"
    "     in two files, alternating between the files when reading the\n"
    "     sequences. Only valid for read files. (may be used several times)",
    "  -o <file> / --output <file>: Give the output fasta file (required)",
    "  -f <file> / --feature_output <file>: Output scaffolding annotation in\n"
    "     GFF (default) or AGP format. The file suffix is used to determine the\n"
    "     output format. Use '.gff' for GFF format and '.agp' for AGP format.",
    "  -m <n> / --min-length <n>: Set the minimum contig/scaffold length to output\n"
    "     (default = 200)",
    "  -w <n> / --wordsize <n>: Set the word size for the de Bruijn graph (default\n"
    "     is automatic based on input data size)",
    "  -b <n> / --bubblesize <n>: Set the maximum bubble size for the de Bruijn graph\n"
    "     (default is 50)",
    "  --cpus <n>: Set the number of cpus to use.",
    "  -v / --verbose: Output various information while running.",
    "  -p <par> / --paired <par>: Set the paired read mode for the read files\n"
    "     following this option. (may be used several times)",
    "     par consists of four strings: <mode> <dist_mode> <min_dist> <max_dist>",
    "     mode is ff, fb, bf, bb and sets the relative orientation of read one and\n"
    "     two in a pair (f = forward, b = backward)",
    "     dist_mode is ss, se, es, ee and sets the place on read one and two to\n"
    "     measure the distance (s = start, e = end).",
    "     A typical use would be \"-p fb ss 180 250\" which means that the reads are\n"
    "     inverted and pointing towards each other. The distance includes both the\n"
    "     reads and the sequence between them. The distance may be between 180 and\n"
    "     250, both included.",
    "     It is also allowed to insert a \"d\" before the mode. This indicates that\n"
    "     the reads in the following file(s) should only be used for their paired end\n"
    "     information and not to build initial contigs. E.g. \"-p d fb ss 180 250\".",
    "     To explicitly say that the following reads are not paired, use \"no\" for\n"
    "     par, i.e. \"-p no\".",
    "     For paired end reads split in two files, use the -i option.",
    "  -e <file> / --estimatedistances <file> Estimate paired distances for all paired\n"
    "     reads and save the distance estimates in <file>. If it is not possible to\n"
    "     get an accurate distance estimate for a file, the original paired distance\n"
    "     is used.",
    "  -g <mode> / --fragmentmode <mode>: Set the mode for how reads are used to\n"
    "     create fragments. One mode is \"ignore\", which ignores the nucleotides\n"
    "     when building initial fragments. The other mode is \"use\", which uses\n"
    "     the nucleotides when building initial fragments. This is the default mode.\n"
    "     The mode applies to all read files following this option. The option may be\n"
    "     used repeatedly.",
    "  -n / --no-scaffolding: Pair info is used for contig creation, but no\n"
    "     scaffolding is performed.",
    "Examples:",
    "  Assembly of a single file with reads:",
    "    ryx_denovo -o contigs.fasta -q reads.fasta",
    "  Assembly of two interleaved files with paired end reads:",
    "    ryx_denovo -o contigs.fasta -p fb ss 180 250 -q -i reads1.fq reads2.fq",
};

// A usage problem: the message on standard output, then the usage text.
[[noreturn]] __attribute__((format(printf, 1, 2))) void problem(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  denovo_print_usage();
}

bool is(const char *word, const char *short_form, const char *long_form) {
  return (short_form != nullptr && strcmp(word, short_form) == 0) ||
         (long_form != nullptr && strcmp(word, long_form) == 0);
}

char *copy_word(const char *word) {
  const size_t n = strlen(word) + 1;
  char *copy = static_cast<char *>(ryx_malloc(n));
  memcpy(copy, word, n);
  return copy;
}

// Reads the number of a number option; a missing or malformed one is a
// usage problem at once (the cursor's error flag never clears, so a later
// check could not tell which option failed).
int32_t next_number(arg_cursor_t *cursor) {
  const int32_t value = arg_cursor_next_int(cursor);
  if (cursor->error) denovo_print_usage();
  return value;
}

// Appends an entry under the setting and fragment mode in force. The entry
// takes the setting; a copy (keeping the pair-information-only flag, which
// applies to every later file too) stays in force.
void add_entry(denovo_options_t *o, seq_file_info_t *entry) {
  if (o->entry_count == o->entry_capacity) {
    o->entry_capacity = o->entry_capacity == 0 ? 8 : 2 * o->entry_capacity;
    const size_t n = static_cast<size_t>(o->entry_capacity);
    o->entries = static_cast<seq_file_info_t **>(ryx_realloc(o->entries, n * sizeof(seq_file_info_t *)));
    o->settings = static_cast<paired_setting_t **>(ryx_realloc(o->settings, n * sizeof(paired_setting_t *)));
    o->fragment_modes = static_cast<int32_t *>(ryx_realloc(o->fragment_modes, n * sizeof(int32_t)));
  }
  paired_setting_t *setting = o->current_setting;
  if (setting != nullptr) {
    seq_file_info_set_paired(entry);
    o->any_paired = 1;
    o->current_setting = paired_setting_copy(setting);
    o->current_setting->pair_info_only = setting->pair_info_only;
  }
  o->entries[o->entry_count] = entry;
  o->settings[o->entry_count] = setting;
  o->fragment_modes[o->entry_count] = o->current_fragment_mode;
  o->entry_count++;
}

// -p: "no", or [ "d" ] mode dist_mode min max.
void parse_paired(arg_cursor_t *cursor, denovo_options_t *o) {
  const char *word = arg_cursor_next(cursor);
  if (word == nullptr) problem("wrong paired parameters");
  if (strcmp(word, "no") == 0) {
    o->current_setting = paired_setting_free(o->current_setting);
    return;
  }
  int32_t info_only = 0;
  if (strcmp(word, "d") == 0) {
    info_only = 1;
    word = arg_cursor_next(cursor);
  }
  const char *mode = word;
  const char *distance_mode = arg_cursor_next(cursor);
  const int32_t min_distance = arg_cursor_next_int(cursor);
  const int32_t max_distance = arg_cursor_next_int(cursor);
  if (mode == nullptr || distance_mode == nullptr || cursor->error) problem("wrong paired parameters");
  // A range that no distance can fall in would quietly spoil the pairing.
  if (min_distance < 0 || max_distance < min_distance) problem("wrong paired parameters");
  paired_setting_t *setting = paired_setting_parse(mode, distance_mode, min_distance, max_distance);
  if (setting == nullptr) problem("wrong paired parameters");
  setting->pair_info_only = info_only;
  paired_setting_free(o->current_setting);
  o->current_setting = setting;
}

// A save option of stage s; the missing-path message differs for stage 1.
void parse_save(arg_cursor_t *cursor, denovo_options_t *o, const char *option, int32_t stage) {
  if (o->save_paths[stage] != nullptr) problem("Error, option %s defined twice", option);
  const char *path = arg_cursor_next(cursor);
  if (path == nullptr) {
    if (stage == kDenovoStageFragments) problem("No fragment file set after %s option\n", option);
    problem("No file set after %s option\n", option);
  }
  o->save_paths[stage] = path;
  if (stage < o->earliest_save) o->earliest_save = stage;
  if (stage > o->last_stage) o->last_stage = stage;
}

void parse_load(arg_cursor_t *cursor, denovo_options_t *o, const char *option, int32_t stage) {
  if (o->load_stage != 0) problem("Error, multiple load files set");
  const char *path = arg_cursor_next(cursor);
  if (path == nullptr) problem("No file set after %s option\n", option);
  o->load_stage = stage;
  o->load_path = path;
}

// A path option given at most once: twice prints twice_message, a missing
// word missing_format with the option.
void parse_path(arg_cursor_t *cursor, const char **slot, const char *option, const char *twice_message,
                const char *missing_format) {
  if (*slot != nullptr) problem(twice_message, option);
  const char *path = arg_cursor_next(cursor);
  if (path == nullptr) problem(missing_format, option);
  *slot = path;
}

// One option word; false when it is not an option of the program.
bool parse_option(arg_cursor_t *cursor, denovo_options_t *o, const char *word) {
  static const char *const kSaves[] = {nullptr, "--savefragments", "--savereads", "--saveinitialgraph",
                                       "--savereadgraph", "--savepairedgraph"};
  static const char *const kLoads[] = {nullptr, "--loadfragments", "--loadreads", "--loadinitialgraph",
                                       "--loadreadgraph", "--loadpairedgraph"};
  if (is(word, "-h", "--help")) denovo_print_usage();
  if (is(word, "-q", "--reads")) {
    o->reads_seen = 1;
  } else if (is(word, "-i", "--interleave") || is(word, nullptr, "--interleaved")) {
    if (!o->reads_seen) problem("Interleaved files only valid for reads");
    const char *first = arg_cursor_next(cursor);
    const char *second = arg_cursor_next(cursor);
    if (first == nullptr || second == nullptr) problem("Give two file names for the interleaved option");
    add_entry(o, seq_file_info_new_pair(copy_word(first), copy_word(second), -1, -1));
  } else if (is(word, "-o", "--output")) {
    parse_path(cursor, &o->output_path, word, "Only one output file allowed", "No output file set after %s option\n");
    if (o->last_stage < kDenovoStageContigs) o->last_stage = kDenovoStageContigs;
    if (o->earliest_save > kDenovoStageContigs) o->earliest_save = kDenovoStageContigs;
  } else if (is(word, "-f", "--feature_output")) {
    parse_path(cursor, &o->feature_path, word, "Only one feature output file allowed",
               "No feature output file set after %s option\n");
  } else if (is(word, "-e", "--estimatedistances")) {
    parse_path(cursor, &o->estimate_path, word, "The %s option can only be given once.\n",
               "No output file set after the %s option\n");
  } else if (is(word, "-m", "--min-length")) {
    o->min_length = next_number(cursor);
  } else if (is(word, "-w", "--wordsize")) {
    o->word_size = next_number(cursor);
  } else if (is(word, "-b", "--bubblesize")) {
    o->bubble_size = next_number(cursor);
    if (o->bubble_size < 1) problem("Minumum bubble size is 1");
  } else if (is(word, nullptr, "--cpus")) {
    o->cpus = next_number(cursor);
  } else if (is(word, "-v", "--verbose")) {
    o->verbose = 1;
  } else if (is(word, "-p", "--paired")) {
    parse_paired(cursor, o);
  } else if (is(word, "-g", "--fragmentmode")) {
    const char *mode = arg_cursor_next(cursor);
    if (mode == nullptr) problem("No fragment mode set");
    if (strcmp(mode, "use") == 0) {
      o->current_fragment_mode = kDenovoFragmentUse;
    } else if (strcmp(mode, "ignore") == 0) {
      o->current_fragment_mode = kDenovoFragmentIgnore;
    } else {
      problem("Wrong fragment mode");
    }
  } else if (is(word, "-n", "--no-scaffolding")) {
    o->scaffolding = 0;
  } else if (is(word, nullptr, "--reference")) {
    parse_path(cursor, &o->reference_path, word, "Only one reference file allowed",
               "No reference file set after %s option\n");
  } else if (is(word, nullptr, "--memoryusage")) {
    parse_path(cursor, &o->memory_path, word, "Only one memory usage file allowed", "No file set after %s option\n");
  } else if (is(word, nullptr, "--savegraph")) {
    parse_path(cursor, &o->graph_prefix, word, "Only one graph file allowed", "No file set after %s option\n");
  } else if (is(word, nullptr, "--explore")) {
    o->explore = 1;
  } else if (is(word, nullptr, "--showcontigs")) {
    o->show_contigs = 1;
  } else {
    for (int32_t stage = 1; stage < kDenovoStageContigs; stage++) {
      if (strcmp(word, kSaves[stage]) == 0) {
        parse_save(cursor, o, word, stage);
        return true;
      }
      if (strcmp(word, kLoads[stage]) == 0) {
        parse_load(cursor, o, word, stage);
        return true;
      }
    }
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

void denovo_print_usage(void) {
  char *version = version_get_string("ryx_assembly_version");
  fputs("\n", stdout);
  for (const char *paragraph : kUsage) printf("%s\n\n", paragraph);
  printf("Version: %s\n\n", version);
  version_free_string(version);
  ryx_exit(1);
}

void denovo_options_parse(int argc, char **argv, denovo_options_t *o) {
  *o = denovo_options_t{};
  o->min_length = kDenovoDefaultMinLength;
  o->word_size = -1;
  o->bubble_size = -1;
  o->scaffolding = 1;
  o->current_fragment_mode = kDenovoFragmentUse;
  o->earliest_save = kDenovoStageContigs;

  arg_cursor_t *cursor = arg_cursor_new(argc, argv);
  while (const char *word = arg_cursor_next(cursor)) {
    if (word[0] == '-') {
      if (!parse_option(cursor, o, word)) problem("Unrecognized option %s\n", word);
    } else {
      if (!o->reads_seen) problem("File type not set for %s\n", word);
      add_entry(o, seq_file_info_new(copy_word(word), -1, -1));
    }
  }
  arg_cursor_free(cursor);

  if (o->entry_count == 0 && o->load_stage != kDenovoStagePairedGraph) problem("No read files");
  if (o->feature_path != nullptr && !o->any_paired) {
    problem("Feature output file specified but there's no paired reads information available for scaffolding");
  }
  if (o->last_stage == 0) problem("No output file");
  if (o->earliest_save <= o->load_stage) problem("Cannot save output at an earlier stage than load stage");
  if (o->cpus < 0) problem("Must specify a positive number of cpu's.");
  const int32_t available = get_number_of_cpus();
  if (o->cpus > available) problem("Maximum number of cpu's is %i.", available);
  if (o->bubble_size == -1) o->bubble_size = kDenovoDefaultBubbleSize;
}

void denovo_options_derive(denovo_options_t *o) {
  const size_t n = static_cast<size_t>(o->entry_count > 0 ? o->entry_count : 1);
  o->name_pairs = static_cast<read_store_file_t *>(ryx_calloc(n * sizeof(read_store_file_t)));
  o->paired_flags = static_cast<int32_t *>(ryx_calloc(n * sizeof(int32_t)));
  o->use_flags = static_cast<int32_t *>(ryx_calloc(n * sizeof(int32_t)));
  for (int32_t i = 0; i < o->entry_count; i++) {
    const seq_file_info_t *entry = o->entries[i];
    o->name_pairs[i].path = entry->names[0];
    o->name_pairs[i].second_path = seq_file_info_is_pair(entry) ? entry->names[1] : nullptr;
    o->paired_flags[i] = seq_file_info_is_paired(entry);
    const bool info_only = o->settings[i] != nullptr && o->settings[i]->pair_info_only;
    o->use_flags[i] = !info_only && o->fragment_modes[i] != kDenovoFragmentIgnore;
  }
  o->current_setting = paired_setting_free(o->current_setting);
}

void denovo_options_free(denovo_options_t *o) {
  for (int32_t i = 0; i < o->entry_count; i++) {
    seq_file_info_free(o->entries[i]);
    paired_setting_free(o->settings[i]);
  }
  ryx_free(o->entries);
  ryx_free(o->settings);
  ryx_free(o->fragment_modes);
  ryx_free(o->name_pairs);
  ryx_free(o->paired_flags);
  ryx_free(o->use_flags);
  paired_setting_free(o->current_setting);
  *o = denovo_options_t{};
}

int32_t denovo_choose_word_size(uint64_t nucleotide_count) {
  if (nucleotide_count < 30001) return kDenovoMinWordSize;
  int32_t word_size = 13;
  uint64_t n = nucleotide_count;
  while (word_size <= 63 && n > 90002) {
    n /= 3;
    word_size++;
  }
  return word_size;
}

int denovo_feature_path_is_agp(const char *path) {
  return strstr(path, ".agp") != nullptr || strstr(path, ".AGP") != nullptr;
}

}  // extern "C"
