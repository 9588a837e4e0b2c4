#include "refmap/refmap_program.h"

#include <cstdio>
#include <cstdlib>
#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif

#include "common/clock.h"
#include "common/cpus.h"
#include "common/memory.h"
#include "common/output_file.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "common/string_util.h"
#include "common/version.h"
#include "refmap/length_group.h"
#include "refmap/map_run.h"
#include "refmap/refmap_options.h"
#include "seqio/nyr_file.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_db.h"
#include "seqio/seq_file_list.h"

namespace {

// Nucleotide codes 0 to 4.
constexpr int kResidueCodes = 2;
// Every read format; FASTA and GenBank for references.
constexpr uint32_t kReadFormats = 699;
constexpr uint32_t kReferenceFormats = 5;

// Writing the output over one of the inputs would destroy that input.
void check_output_is_no_input(const char *output, const seq_file_info_list_t *list) {
  for (int32_t i = 0; i < list->count; i++) {
    const seq_file_info_t *entry = list->entries[i];
    const int names = seq_file_info_is_pair(entry) ? 2 : 1;
    for (int k = 0; k < names; k++) {
      if (output_file_same_file(output, entry->names[k])) {
        fprintf(stderr, "The output file %s is also an input file.\n", output);
        ryx_exit(1);
      }
    }
  }
}

}  // namespace

int refmap_program_run(refmap_options_t *options) {
  // Root meter and four nested children: the run, the group, the step and
  // its parts.
  progress_meter_t *root = options->progress ? progress_meter_new() : nullptr;
  progress_meter_t *run_meter = progress_meter_new_child(root, 0, 1);
  if (options->cpus > 0) set_number_of_cpus(options->cpus);
  const int32_t threads = get_number_of_cpus();

  refmap_options_check(options);

  nyr_scoring_scheme_t *scheme = nyr_scoring_scheme_new(
      static_cast<int16_t>(options->gap_cost), static_cast<int16_t>(options->gap_cost),
      static_cast<int16_t>(options->deletion_cost), static_cast<int16_t>(options->deletion_cost), 1,
      static_cast<int16_t>(-options->mismatch_cost), static_cast<int16_t>(-options->mismatch_cost),
      static_cast<int16_t>(-options->mismatch_cost), options->align_mode);
  scheme->colour_error = static_cast<int16_t>(options->colour_cost);

  const uint32_t seed = time_get_usec32();
  srand(seed);
  srand48(seed);

  check_output_is_no_input(options->output_path, options->read_files);
  check_output_is_no_input(options->output_path, options->reference_files);

  const int32_t file_count = options->read_files->count;
  auto **read_dbs = static_cast<seq_db_t **>(ryx_calloc(sizeof(seq_db_t *) * file_count));
  progress_meter_set_range(root, run_meter, 0.0, 0.01);
  // Every pass fetches its reads again by index, and the merge walks several
  // contexts through the reads at once: a gzip read file is decompressed
  // once into a temporary file so that none of this rewinds the compressed
  // stream (which would decompress it from its start on every backward seek).
  seq_db_set_gzip_spooling(1);
  seq_db_set_index_threads(threads);
  seq_db_t *reads = seq_file_info_list_open_db(options->read_files, kResidueCodes, kReadFormats, 0,
                                               kLengthGroupBuckets, run_meter, read_dbs, 0);
  seq_db_set_index_threads(1);
  seq_db_set_gzip_spooling(0);
  if (reads == nullptr) ryx_exit(1);
  progress_meter_set_range(root, run_meter, 0.01, 0.02);
  seq_db_t *references =
      seq_file_info_list_open_db(options->reference_files, kResidueCodes, kReferenceFormats, 1, 0, run_meter, nullptr, 0);
  if (references == nullptr) ryx_exit(1);
  if (references->sequence_count == 0) ryx_fail("The reference file contains no sequences\n");
  if (references->sequence_count > INT32_MAX) ryx_fail("Too many reference sequences\n");

  int64_t total_reads = 0;
  int32_t max_pair_distance = 0;
  for (int32_t i = 0; i < file_count; i++) {
    const int64_t count = read_dbs[i]->sequence_count;
    if (options->read_settings[i] != nullptr) {
      if (count % 2 != 0) ryx_fail("Read file must contain an even number of sequences for paired end data\n");
      if (options->read_settings[i]->max_distance > max_pair_distance)
        max_pair_distance = options->read_settings[i]->max_distance;
    }
    total_reads += count;
  }
  // Read indexes of the mapping run are 32-bit.
  if (total_reads > INT32_MAX) {
    fprintf(stderr, "Too many reads: at most %d reads can be mapped in one run\n", INT32_MAX);
    ryx_exit(1);
  }
  const int32_t reference_count = static_cast<int32_t>(references->sequence_count);
  auto *lengths = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * reference_count));
  auto *contig_lengths = static_cast<uint32_t *>(ryx_malloc(sizeof(uint32_t) * reference_count));
  int32_t longest = 0;
  for (int32_t i = 0; i < reference_count; i++) {
    const uint32_t length = references->get_length(references, i);
    if (length > INT32_MAX) ryx_fail("Reference sequence too long\n");
    lengths[i] = static_cast<int32_t>(length);
    contig_lengths[i] = length;
    if (lengths[i] > longest) longest = lengths[i];
  }

  // The header object; the record array nyr_file_new would make for the
  // read count is not needed here, so the count is set afterwards.
  nyr_file_t *header = nyr_file_new(static_cast<uint32_t>(reference_count), contig_lengths, 0);
  header->read_count = static_cast<uint64_t>(total_reads);
  header->program_name = string_duplicate("ryx_refmap");
  header->program_version = version_get_string("ryx_assembly_version");
  header->read_files = seq_file_info_list_concat(options->read_files, nullptr);
  header->reference_files = seq_file_info_list_concat(options->reference_files, nullptr);
  header->scheme = scheme;
  header->command_line = string_duplicate(options->command_line);
  ryx_free(contig_lengths);

  map_run_settings_t settings{};
  settings.mismatch_cost = options->mismatch_cost;
  settings.gap_cost = options->gap_cost;
  settings.deletion_cost = options->deletion_cost;
  settings.colour_cost = options->colour_cost;
  settings.score_limit = options->score_limit;
  settings.move_limit = options->move_limit;
  settings.report_limit = options->report_limit;
  settings.gapped = options->gapped;
  settings.align_mode = options->align_mode;
  settings.forward_only = options->forward_only;
  settings.backward_only = options->backward_only;
  settings.repeat_ignore = options->repeat_mode == kRefmapRepeatIgnore;
  settings.memory_fraction = options->memory_fraction;
  settings.block_size = options->block_size;
  settings.threads = threads;
  map_run_t *run = map_run_new(&settings, reads, read_dbs, options->read_files, options->read_settings, file_count,
                               references, reference_count, lengths, longest, max_pair_distance, run_meter);

  output_file_t *output = output_file_open(options->output_path);
  if (output == nullptr) ryx_fail("Problem opening assembly output file\n");
#if defined(__GLIBC__)
  // Only this thread writes the output, a byte at a time: stdio need not
  // lock the stream for every byte.
  __fsetlocking(output->file, FSETLOCKING_BYCALLER);
#endif
  nyr_file_write_start(output->file, header);
  progress_meter_set_range(root, run_meter, 0.02, 1.0);

  map_run_execute(run, output->file);

  nyr_file_write_finish(output->file, header);
  if (output_file_commit(output) != 0) ryx_fail("Problem closing assembly file\n");
  if (root != nullptr) {
    printf("\n");
    fflush(stdout);
  }

  map_run_free(run);
  nyr_file_free(header);
  ryx_free(lengths);
  seq_file_info_list_free_db(references, options->reference_files);
  seq_file_info_list_free_db(reads, options->read_files);
  ryx_free(read_dbs);
  progress_meter_free(run_meter);
  progress_meter_free(root);
  refmap_options_free(options);
  return 0;
}
