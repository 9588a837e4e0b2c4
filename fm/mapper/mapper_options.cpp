#include "fm/mapper/mapper_options.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/cpus.h"
#include "common/string_builder.h"
#include "fm/index/index_file.h"
#include "fm/mapper/mapper.h"
#include "fm/mapper/mapper_output.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/runtime/buffered_reader.h"
#include "fm/runtime/file.h"

#define BOLD "\33[1m"
#define PLAIN "\33[0m"

namespace {

// Largest --readoffset: 10^18, beyond the 32-bit integers of the parser.
constexpr uint64_t kMaxReadOffset = 1000000000000000000ULL;

// An integer within [min, max]; false after the consumer recorded the
// problem.
bool bounded(CmdLineArgs *args, long long min, long long max, long long *value) {
  return args->internal_consume_bounded_integer(min, max, value) == 0;
}

// ---- references and reads

// True when path names a regular file, through any symbolic links.
bool is_regular_file(std::string const &path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

void handle_references(mapper_parser_t *o, CmdLineArgs *args) {
  File *file = nullptr;
  if (args->internal_consume_file(&file) != 0) return;
  Reader *source = file;
  if (!file->is_buffered()) source = new BufferedReader(file);
  reference_file_t entry;
  entry.name = file->name();
  entry.source = source;
  entry.circular = o->pending_circular;
  o->pending_circular = false;
  if (is_mapping_index(static_cast<BufferedReader *>(source))) {
    o->index_references.push_back(std::move(entry));
  } else if (!is_regular_file(entry.name)) {
    // A FASTA reference is opened here to tell its kind and again, by its
    // name, when it is indexed: a pipe or a device would give nothing the
    // second time (an index file is read once, from this opening).
    args->user_add_problem("FASTA reference " BOLD "%s" PLAIN " must be a regular file: it is read twice.",
                           entry.name.c_str());
    args->argument_was_invalid();
    delete source;
  } else {
    o->fasta_references.push_back(std::move(entry));
  }
}

void handle_circular(mapper_parser_t *o, CmdLineArgs *) { o->pending_circular = true; }

// An output is only named here; the file is made once the whole command
// line and the references were accepted, so a rejected run never truncates
// an existing file.
void take_output_path(CmdLineArgs *args, std::string *path) {
  char const *word = nullptr;
  if (args->internal_consume_string(&word) != 0) return;
  if (!MapperOutput::usable(word)) {
    args->user_add_problem("Could not open " BOLD "%s" PLAIN ".", word);
    args->argument_was_invalid();
    return;
  }
  *path = word;
}

void handle_index_output(mapper_parser_t *o, CmdLineArgs *args) { take_output_path(args, &o->index_output); }

void handle_output(mapper_parser_t *o, CmdLineArgs *args) { take_output_path(args, &o->output); }

void handle_reads(mapper_parser_t *o, CmdLineArgs *args) {
  File *file = nullptr;
  if (args->internal_consume_file(&file) != 0) return;
  read_file_t entry;
  entry.first = file;
  entry.technology = o->pending_technology;
  entry.paired = o->pending_paired;
  entry.paired_settings = o->pending_paired_settings;
  entry.read_offset = o->pending_read_offset;
  o->pending_read_offset = 0;
  o->read_files.push_back(entry);
}

void handle_paired(mapper_parser_t *o, CmdLineArgs *args) {
  static char const *modes[] = {"ff", "fb", "bf", "bb", "no"};
  static char const *distances[] = {"ss", "se", "es", "ee"};
  long long mode = 0, distance = 0, minimum = 0, maximum = 0;
  if (args->internal_consume_specific_string(5, modes, &mode) != 0) return;
  if (mode == 4) {
    o->pending_paired = false;
    return;
  }
  if (args->internal_consume_specific_string(4, distances, &distance) != 0) return;
  if (!bounded(args, 0, 100000, &minimum)) return;
  if (!bounded(args, minimum, 100000, &maximum)) return;
  o->pending_paired = true;
  o->pending_paired_settings.mode = static_cast<uint32_t>(mode);
  o->pending_paired_settings.distance_mode = static_cast<uint32_t>(distance);
  o->pending_paired_settings.min_distance = static_cast<uint32_t>(minimum);
  o->pending_paired_settings.max_distance = static_cast<uint32_t>(maximum);
}

void handle_interleave(mapper_parser_t *o, CmdLineArgs *args) {
  File *first = nullptr, *second = nullptr;
  const int a = args->internal_consume_file(&first);
  const int b = args->internal_consume_file(&second);
  if (!o->pending_paired)
    args->user_add_problem("The -i/--interleave parameter must have a preceeding -p/--paired parameter.");
  if (a != 0 || b != 0 || !o->pending_paired) {
    delete first;
    delete second;
    return;
  }
  read_file_t entry;
  entry.first = first;
  entry.second = second;
  entry.technology = kMapperReadNormal;
  entry.paired = true;
  entry.paired_settings = o->pending_paired_settings;
  entry.read_offset = 0;
  o->read_files.push_back(entry);
}

// Digits only, up to 10^18: offsets reach past the 32-bit integers of the
// generic consumer.
void handle_read_offset(mapper_parser_t *o, CmdLineArgs *args) {
  char const *word = nullptr;
  if (args->internal_consume_string(&word) != 0) return;
  char const *digits = word[0] == '-' ? word + 1 : word;
  bool all_digits = *digits != '\0';
  for (char const *p = digits; *p != '\0'; p++) all_digits = all_digits && *p >= '0' && *p <= '9';
  if (!all_digits) {
    args->argument_had_a_problem("must be an integer.");
    return;
  }
  uint64_t value = 0;
  bool fits = word[0] != '-' || strspn(digits, "0") == strlen(digits);
  for (char const *p = digits; fits && *p != '\0'; p++) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    fits = value <= kMaxReadOffset;
  }
  if (!fits) {
    args->argument_had_a_problem("must be an integer between 0 and %llu.",
                                 static_cast<unsigned long long>(kMaxReadOffset));
    return;
  }
  o->pending_read_offset = value;
}

void handle_type(mapper_parser_t *o, CmdLineArgs *args) {
  static char const *types[] = {"normal", "pacbio"};
  long long type = 0;
  if (args->internal_consume_specific_string(2, types, &type) == 0) o->pending_technology = static_cast<uint32_t>(type);
}

// ---- scoring

void handle_normal_type_limit(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 500, 15000, &v)) o->parameters->normal_type_limit = static_cast<uint32_t>(v);
}

void handle_match_score(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 1, 10, &v)) o->parameters->match_score = static_cast<uint32_t>(v);
}

void handle_mismatch_cost(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 1, 10, &v)) o->parameters->mismatch_cost = static_cast<uint32_t>(v);
}

void handle_gap_cost(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (!bounded(args, 1, 3, &v)) return;
  o->parameters->gap_cost = static_cast<uint32_t>(v);
  if (!o->deletion_cost_given) o->parameters->deletion_cost = static_cast<uint32_t>(v);
}

void handle_gap_open(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (!bounded(args, 0, 10, &v)) return;
  o->parameters->gap_open = static_cast<uint32_t>(v);
  if (!o->deletion_open_given) o->parameters->deletion_open = static_cast<uint32_t>(v);
}

void handle_deletion_cost(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (!bounded(args, 1, 3, &v)) return;
  o->parameters->deletion_cost = static_cast<uint32_t>(v);
  o->deletion_cost_given = true;
}

void handle_deletion_open(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (!bounded(args, 0, 10, &v)) return;
  o->parameters->deletion_open = static_cast<uint32_t>(v);
  o->deletion_open_given = true;
}

void handle_align_mode(mapper_parser_t *o, CmdLineArgs *args) {
  // The position of a word is the align mode itself: 0 local, 3 global.
  static char const *modes[] = {"local", nullptr, nullptr, "global"};
  long long mode = 0;
  if (args->internal_consume_specific_string(4, modes, &mode) == 0)
    o->parameters->align_mode = static_cast<uint32_t>(mode);
}

void handle_forward_only(mapper_parser_t *o, CmdLineArgs *args) {
  if ((o->parameters->strand_mask & 1) == 0) {
    args->user_add_problem("Unable to combine the " BOLD "--forwardonly" PLAIN " option with the " BOLD
                           "--backwardonly" PLAIN " option.");
    return;
  }
  o->parameters->strand_mask = 1;
}

void handle_backward_only(mapper_parser_t *o, CmdLineArgs *args) {
  if ((o->parameters->strand_mask & 2) == 0) {
    args->user_add_problem("Unable to combine the " BOLD "--backwardonly" PLAIN " option with the " BOLD
                           "--forwardonly" PLAIN " option.");
    return;
  }
  o->parameters->strand_mask = 2;
}

void handle_bisulphite(mapper_parser_t *o, CmdLineArgs *) { o->parameters->bisulphite = true; }
void handle_non_directional(mapper_parser_t *o, CmdLineArgs *) { o->parameters->non_directional = true; }
void handle_longest_only(mapper_parser_t *o, CmdLineArgs *) { o->parameters->longest_only = true; }
void handle_mapq(mapper_parser_t *o, CmdLineArgs *) { o->parameters->mapping_quality = true; }
void handle_sensitive(mapper_parser_t *o, CmdLineArgs *) { o->parameters->sensitive = true; }

void handle_min_seed_length(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 10, 99, &v)) o->parameters->min_seed_length = static_cast<uint32_t>(v);
}

// ---- reporting

void handle_repeat(mapper_parser_t *o, CmdLineArgs *args) {
  static char const *modes[] = {"random", "ignore"};
  long long mode = 0;
  if (args->internal_consume_specific_string(2, modes, &mode) == 0)
    o->parameters->repeat_mode = static_cast<uint32_t>(mode);
}

void handle_max_align(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 1, 1000000, &v)) o->parameters->max_align = static_cast<uint32_t>(v);
}

void handle_similarity(mapper_parser_t *o, CmdLineArgs *args) {
  r32 v;
  if (args->internal_consume_rational(&v) == 0) o->parameters->similarity = v;
}

void handle_length_fraction(mapper_parser_t *o, CmdLineArgs *args) {
  r32 v;
  if (args->internal_consume_rational(&v) == 0) o->parameters->length_fraction = v;
}

// ---- resources

void handle_no_progress(mapper_parser_t *o, CmdLineArgs *) { o->parameters->progress_off = true; }

void handle_cpus(mapper_parser_t *, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 1, 1000, &v)) set_number_of_cpus(static_cast<int>(v));
}

void handle_index_memory(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 1, 1000000, &v)) o->parameters->index_memory_mb = static_cast<uint64_t>(v);
}

void handle_mapper_memory(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 4000, 1000000, &v)) o->parameters->mapper_memory_mb = static_cast<uint64_t>(v);
}

void force_extender_use(mapper_parser_t *o, CmdLineArgs *args) {
  static char const *extenders[] = {nullptr, "full", "dropoff"};
  long long choice = 0;
  if (args->internal_consume_specific_string(3, extenders, &choice) == 0)
    o->parameters->forced_extender = static_cast<uint32_t>(choice);
}

void handle_index_pos_rate(mapper_parser_t *o, CmdLineArgs *args) {
  long long v;
  if (bounded(args, 1, 16, &v)) o->parameters->position_sampling_shift = static_cast<uint8_t>(v);
}

using HandlerFunction = void (*)(mapper_parser_t *, CmdLineArgs *);

CmdLineParser<mapper_parser_t>::Handler bind(HandlerFunction f) {
  return [f](mapper_parser_t &o, CmdLineArgs *args) { f(&o, args); };
}

}  // namespace

std::string build_version_string() {
  StringBuilder text;
  text.printf("%d.%d.%d.%d", 23, 0, 0, 263791);
  return text.take();
}

bool is_mapping_index(BufferedReader *source) {
  if (source->end() - source->position() < 4 && source->reserveNewBlock(4) < 4) return false;
  return is_index_file_magic(source->buffer() + source->position());
}

void mapper_register_options(CmdLineParser<mapper_parser_t> &p) {
  constexpr unsigned once = kCmdLineOnce;
  constexpr unsigned collect = kCmdLineCollecting;
  constexpr unsigned hidden = kCmdLineHidden;
  p.add("references", 'd', "", collect, bind(handle_references), "Reference database file(s) to use.");
  p.add("circular", 'z', "d", 0, bind(handle_circular),
        "Indicate that the following reference file contains circular sequences, eg. -d -z mito.fa.");
  p.add("indexoutput", 'n', "d", once, bind(handle_index_output), "Save index to file, eg. hg19.idx.");
  p.add_spacer();
  p.add("reads", 'q', "do", collect, bind(handle_reads), "Read file(s) to use, eg. read.fastq.");
  p.add("paired", 'p', "q", 0, bind(handle_paired), "Set paired parameters, eg. fb ss 50 250.");
  p.add("interleave", 'i', "p", 0, bind(handle_interleave),
        "Form read pairs by interleaving two files, eg. -i mate1.fastq mate2.fastq.");
  p.add("readoffset", ' ', "", hidden, bind(handle_read_offset),
        "Add an offset to the read indexes of the next read file.");
  p.add("type", ' ', "", 0, bind(handle_type),
        "Set technology hint to " BOLD "normal" PLAIN " or " BOLD "pacbio" PLAIN " (default is normal).");
  p.add("normaltypelimit", 'S', "qM", once, bind(handle_normal_type_limit),
        "Switch to long read mapping for reads beyond this length (default is 500).");
  p.add_spacer();
  p.add("output", 'o', "q", once, bind(handle_output), "Resulting alignments, eg. result.nyr.");
  p.add_spacer();
  p.add("matchscore", 'm', "q", once, bind(handle_match_score), "Set match score (integer range 1 to 10, default 1).");
  p.add("mismatchcost", 'x', "q", once, bind(handle_mismatch_cost),
        "Set mismatch cost (integer range 1 to 10, default 2).");
  p.add("gapcost", 'g', "q", once, bind(handle_gap_cost),
        "Set insertion and deletion cost (integer range 1 to 3, default 3).");
  p.add("gapopen", 'G', "q", once, bind(handle_gap_open),
        "Set affine insertion and deletion open cost (integer from 0 to 10, default 0 (linear)).");
  p.add("deletioncost", 'e', "q", once, bind(handle_deletion_cost),
        "Set deletion cost (integer range 1 to 3, default is gapcost).");
  p.add("deletionopen", 'E', "q", once, bind(handle_deletion_open),
        "Set affine deletion open cost (integer from 0 to 10, default is gapopen).");
  p.add_spacer();
  p.add("alignmode", 'a', "q", once, bind(handle_align_mode),
        "Set " BOLD "local" PLAIN " or " BOLD "global" PLAIN " alignment mode (default local).");
  p.add("forwardonly", 'f', "q", once, bind(handle_forward_only), "Restrict mapping to the forward strand.");
  p.add("backwardonly", 'b', "q", once, bind(handle_backward_only), "Restrict mapping to the backward strand.");
  p.add("bisulphite", ' ', "", once, bind(handle_bisulphite), "Enable bisulphite indexing/mapping mode.");
  p.add("nondirectional", ' ', "", once | hidden, bind(handle_non_directional),
        "Map bisulphite reads in all four conversions.");
  p.add("longestonly", ' ', "", once | hidden, bind(handle_longest_only), "Keep only the longest seeds.");
  p.add("mapq", ' ', "", once, bind(handle_mapq), "Calculate mapping quality scores.");
  p.add("min-seed-length", ' ', "", once, bind(handle_min_seed_length), "Minimum seed length for the read mapper");
  p.add("sensitive", ' ', "", once, bind(handle_sensitive), "Enable sensitive mode to improve read mapper sensitivity");
  p.add_spacer();
  p.add("repeat", 'r', "q", once, bind(handle_repeat),
        "Report " BOLD "random" PLAIN " hits for multi-hits or " BOLD "ignore" PLAIN " them (default random).");
  p.add("maxalign", 't', "q", once, bind(handle_max_align),
        "Set the maximum number of hits to report for each read (default 1).");
  p.add("similarity", 's', "q", once, bind(handle_similarity), "Set similarity score (default 0.8).");
  p.add("lengthfraction", 'l', "q", once, bind(handle_length_fraction), "Set length fraction (default 0.5).");
  p.add_spacer();
  p.add("noprogress", ' ', "", once, bind(handle_no_progress), "Hide progress indicator.");
  p.add("cpus", ' ', "", once, bind(handle_cpus),
        "Restrict the number of threads to be used, eg. --cpus 20 (default unlimited).");
  p.add("indexmemory", ' ', "", once | hidden, bind(handle_index_memory),
        "Restrict the amount of memory (MB) to use while building indexes.");
  p.add("mappermemory", 'M', "q", once, bind(handle_mapper_memory),
        "Restrict the amount of memory (MB) to use during mapping. Overrides --cpus parameter.");
  p.add("force-extender", ' ', "", hidden, bind(force_extender_use), "Force the full or the drop-off extender.");
  p.add("index-pos-rate", ' ', "", hidden, bind(handle_index_pos_rate), "Sample every 2^n-th index position.");
}

uint64_t mapper_memory_threads(uint64_t mapper_memory_mb, uint32_t normal_type_limit) {
  const uint64_t fixed = 3ULL << 30;
  const uint64_t budget = mapper_memory_mb << 20;
  const uint64_t limit = normal_type_limit;
  const uint64_t threads = budget > fixed ? (budget - fixed) / (48 * limit * limit) : 0;
  return threads < 1 ? 1 : threads;
}

void mapper_parser_release(mapper_parser_t *options) {
  for (reference_file_t &r : options->fasta_references) delete r.source;
  for (reference_file_t &r : options->index_references) delete r.source;
  options->fasta_references.clear();
  options->index_references.clear();
  for (read_file_t &f : options->read_files) {
    delete f.first;
    delete f.second;
  }
  options->read_files.clear();
}
