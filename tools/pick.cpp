#include "tools/pick.h"

#include <cstring>
#include <iterator>

#include "common/arg_cursor.h"
#include "common/clock.h"
#include "common/cpus.h"
#include "common/memory.h"
#include "common/output_file.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "seqio/seq_for_each.h"
#include "seqio/seq_format.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"
#include "seqio/seq_write.h"
#include "tools/tool_usage.h"

namespace {

// Reads keep the letters of the file: no alphabet is applied.
constexpr uint32_t kLetters = 0;

// The usage text: each entry one paragraph, its lines separated by '\n'.
const char *const kUsageParagraphs[] = {
    "usage: ryx_pick [options] <sequence file>",
    "  Extract a random subset from a sequence file.",
    "Options:",
    "  -h / --help: Display this message.",
    "  -f <fraction> / --fraction <fraction>: The fraction determines the\n"
    "     probability of a given sequence being included in the output.",
    "  -o <file> / --output <file>: Output the result in fasta format.",
    "  -q <file> / --fastq <file>: Output the result in fastq format.",
    "  -p / --paired: Keep pairs together.",
    "  -r <seed> / --seed <seed>: Specify a random seed (integer).",
    "  -s <file> / --quality <file>: Specify separate input quality file.",
    "  -i <file1> <file2> / --interleave <file1> <file2>: Interleave two sequence\n"
    "     files with the same number of sequences. May be used instead of a single\n"
    "     file. This option automatically sets the \"-p\" option.",
};

const char *name_or_default(const seq_record_t *record) { return record->name != nullptr ? record->name : "seq"; }

// The quality record of read, or null without a quality reader. Every
// read's record is checked, kept or not, so that a quality file out of step
// with the reads fails whatever the seed.
seq_record_t *next_quality(pick_state_t *state, const seq_record_t *read) {
  if (state->qualities == nullptr) return nullptr;
  seq_record_t *quality = seq_reader_next(state->qualities);
  if (quality == nullptr) ryx_fail("More nucleotide sequences than quality sequences.\n");
  if (quality->length != read->length) {
    fprintf(stderr, "Sequence and quality sequence have different lengths:\n%s / %s\n", name_or_default(read),
            name_or_default(quality));
    ryx_exit(1);
  }
  return quality;
}

bool keep(pick_state_t *state) { return random_state_draw_double(state->random) < state->fraction; }

void write_read(pick_state_t *state, const seq_record_t *read, const seq_record_t *quality) {
  if (state->fastq != 0)
    seq_record_write_fastq(state->out, read, quality);
  else
    seq_record_write_fasta(state->out, read);
  // A full disk shows here as soon as a buffer could not be written, long
  // before the end of a large input.
  if (ferror(state->out)) ryx_fail("Error writing output file\n");
}

seq_reader_t *open_quality_reader(const pick_options_t *options) {
  if (options->quality_paths[0] == nullptr) return nullptr;
  seq_reader_t *first =
      seq_reader_open(options->quality_paths[0], 0, kLetters, kSeqFormatFastaQuality, 1, 1, 0);
  if (options->quality_paths[1] == nullptr) return first;
  auto **parts = static_cast<seq_reader_t **>(ryx_malloc(2 * sizeof(seq_reader_t *)));
  parts[0] = first;
  parts[1] = seq_reader_open(options->quality_paths[1], 0, kLetters, kSeqFormatFastaQuality, 1, 1, 0);
  return seq_reader_new_interleaved(parts, 2);
}

// Replacing an input by the output would destroy it; refused before
// anything is written.
void refuse_output_among_inputs(const pick_options_t *options) {
  const char *inputs[] = {options->sequence_paths[0], options->sequence_paths[1], options->quality_paths[0],
                          options->quality_paths[1]};
  for (const char *input : inputs) {
    if (input != nullptr && output_file_same_file(options->output_path, input)) {
      fprintf(stderr, "The output file %s is also an input file.\n", options->output_path);
      ryx_exit(1);
    }
  }
}

void stream_reads(const pick_options_t *options, pick_state_t *state) {
  // FASTQ output takes the input's own qualities unless a quality file
  // gives them.
  const bool raw = options->fastq != 0 && state->qualities == nullptr;
  const char *first = options->sequence_paths[0];
  if (options->interleave != 0) {
    const char *second = options->sequence_paths[1];
    if (raw)
      seq_for_each_interleaved_with_raw(first, second, kLetters, kSeqMaskReads, 0, pick_on_pair_with_qualities,
                                        state);
    else
      seq_for_each_interleaved(first, second, kLetters, kSeqMaskReads, 0, pick_on_pair, state);
  } else if (options->paired != 0) {
    if (raw)
      seq_for_each_pair_with_raw(first, kLetters, kSeqMaskReads, 0, pick_on_pair_with_qualities, state);
    else
      seq_for_each_pair(first, kLetters, kSeqMaskReads, 0, pick_on_pair, state);
  } else {
    if (raw)
      seq_for_each_with_raw(first, kLetters, kSeqMaskReads, 0, pick_on_read_with_quality, state);
    else
      seq_for_each(first, kLetters, kSeqMaskReads, 0, pick_on_read, state);
  }
}

}  // namespace

void pick_print_usage() {
  tool_usage_print(kUsageParagraphs, std::size(kUsageParagraphs), "ryx_assembly_version");
}

void pick_parse_command_line(int argc, char **argv, pick_options_t *options) {
  memset(options, 0, sizeof *options);
  options->fraction = kPickFractionUnset;
  arg_cursor_t *cursor = arg_cursor_new(argc, argv);
  bool fraction_given = false;

  char *word;
  while ((word = arg_cursor_next_option(cursor)) != nullptr) {
    if (tool_usage_option_is(word, "-h", "--help")) {
      pick_print_usage();
    } else if (tool_usage_option_is(word, "-o", "--output") || tool_usage_option_is(word, "-q", "--fastq")) {
      const bool fastq = tool_usage_option_is(word, "-q", "--fastq");
      if (fastq && options->fastq != 0) tool_usage_problem(pick_print_usage, "Fastq option used twice.\n");
      if (options->output_path != nullptr) tool_usage_problem(pick_print_usage, "Only one output file allowed.\n");
      options->output_path = arg_cursor_next(cursor);
      if (options->output_path == nullptr)
        tool_usage_problem(pick_print_usage, "No output file set after %s option.\n", word);
      options->fastq = fastq ? 1 : 0;
    } else if (tool_usage_option_is(word, "-f", "--fraction")) {
      if (fraction_given) tool_usage_problem(pick_print_usage, "Fraction file option used twice.\n");
      fraction_given = true;
      const double fraction = arg_cursor_next_double(cursor);
      // Written so that a NaN fails too.
      if (cursor->error != 0 || !(fraction > 0.0 && fraction < 1.0))
        tool_usage_problem(pick_print_usage, "Wrong fraction given.\n");
      options->fraction = fraction;
    } else if (tool_usage_option_is(word, "-p", "--paired")) {
      if (options->paired != 0) tool_usage_problem(pick_print_usage, "Paired option used twice.\n");
      options->paired = 1;
    } else if (tool_usage_option_is(word, "-r", "--seed")) {
      if (options->seed_given != 0) tool_usage_problem(pick_print_usage, "Seed option used twice.\n");
      // The seed is 32 bits wide: 0 to 4294967295, and the negative
      // numbers that earlier runs took as their two's-complement values.
      const int64_t seed = arg_cursor_next_int_in(cursor, INT32_MIN, UINT32_MAX);
      if (cursor->error != 0) tool_usage_problem(pick_print_usage, "Wrong seed given.\n");
      options->seed = static_cast<uint32_t>(seed);
      options->seed_given = 1;
    } else if (tool_usage_option_is(word, "-s", "--quality")) {
      if (options->quality_paths[0] != nullptr)
        tool_usage_problem(pick_print_usage, "Quality file option used twice.\n");
      const char *path = arg_cursor_next(cursor);
      if (path == nullptr) tool_usage_problem(pick_print_usage, "No quality file given.\n");
      if (tool_usage_option_is(path, "-i", "--interleave")) {
        options->quality_paths[0] = arg_cursor_next(cursor);
        options->quality_paths[1] = options->quality_paths[0] != nullptr ? arg_cursor_next(cursor) : nullptr;
        if (options->quality_paths[1] == nullptr)
          tool_usage_problem(pick_print_usage, "Two sequence files should be given for interleaved option.\n");
      } else {
        options->quality_paths[0] = path;
      }
    } else if (tool_usage_option_is(word, "-i", "--interleave")) {
      options->interleave = 1;
      options->paired = 1;
      break;
    } else {
      tool_usage_problem(pick_print_usage, "Unkown option %s\n", word);
    }
  }

  options->sequence_paths[0] = arg_cursor_next(cursor);
  if (options->interleave != 0 && options->sequence_paths[0] != nullptr)
    options->sequence_paths[1] = arg_cursor_next(cursor);
  const char *extra = arg_cursor_next(cursor);
  arg_cursor_free(cursor);

  if (options->sequence_paths[0] == nullptr) tool_usage_problem(pick_print_usage, "No sequence file given.\n");
  if (!fraction_given) tool_usage_problem(pick_print_usage, "No fraction parameter provided.\n");
  if (options->interleave != 0 && options->sequence_paths[1] == nullptr)
    tool_usage_problem(pick_print_usage, "Two sequence files should be given for interleaved option.\n");
  if (extra != nullptr) tool_usage_problem(pick_print_usage, "Too many options.\n");
  if (options->quality_paths[0] != nullptr && options->fastq == 0)
    tool_usage_problem(pick_print_usage,
                       "Quality file given, but output has no quality (fastq format not used for\noutput).\n");
  if (options->output_path == nullptr)
    tool_usage_problem(pick_print_usage,
                       "No output file specified. Use the -o or -q option to specify an output file\n");
}

int pick_run(const pick_options_t *options) {
  refuse_output_among_inputs(options);
  output_file_t *output = output_file_open(options->output_path);
  if (output == nullptr) {
    printf("Problem opening output file %s\n", options->output_path);
    ryx_exit(1);
  }

  pick_state_t state;
  state.out = output->file;
  state.fraction = options->fraction;
  state.fastq = options->fastq;
  state.random = random_state_new_seeded(options->seed_given != 0 ? options->seed : time_get_usec32());
  state.qualities = open_quality_reader(options);

  if (get_number_of_cpus() > kPickMaxWorkers) set_number_of_cpus(kPickMaxWorkers);
  stream_reads(options, &state);

  if (state.qualities != nullptr) {
    seq_record_t *left = seq_reader_next(state.qualities);
    if (left != nullptr) ryx_fail("More quality sequences than nucleotide sequences\n");
  }
  state.random = random_state_free(state.random);
  if (output_file_commit(output) != 0) ryx_fail("Error closing output file\n");
  state.qualities = seq_reader_free(state.qualities);
  return 0;
}

void pick_on_read(seq_record_t *read, void *user) {
  auto *state = static_cast<pick_state_t *>(user);
  seq_record_t *quality = next_quality(state, read);
  if (keep(state)) write_read(state, read, quality);
  seq_record_release(quality);
}

void pick_on_read_with_quality(seq_record_t *read, seq_record_t *quality, void *user) {
  auto *state = static_cast<pick_state_t *>(user);
  if (keep(state)) write_read(state, read, quality);
}

void pick_on_pair(seq_record_t *read1, seq_record_t *read2, void *user) {
  auto *state = static_cast<pick_state_t *>(user);
  seq_record_t *quality1 = next_quality(state, read1);
  seq_record_t *quality2 = next_quality(state, read2);
  if (keep(state)) {
    write_read(state, read1, quality1);
    write_read(state, read2, quality2);
  }
  seq_record_release(quality1);
  seq_record_release(quality2);
}

void pick_on_pair_with_qualities(seq_record_t *read1, seq_record_t *quality1, seq_record_t *read2,
                                 seq_record_t *quality2, void *user) {
  auto *state = static_cast<pick_state_t *>(user);
  if (keep(state)) {
    write_read(state, read1, quality1);
    write_read(state, read2, quality2);
  }
}
