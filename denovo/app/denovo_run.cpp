#include "denovo/app/denovo_run.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/array_list.h"
#include "common/cpus.h"
#include "common/memory.h"
#include "common/output_file.h"
#include "common/progress_meter.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "denovo/app/contig_output.h"
#include "denovo/app/contig_overlap.h"
#include "denovo/app/denovo_paths.h"
#include "denovo/app/gap_sequence_map.h"
#include "denovo/app/memory_report.h"
#include "denovo/app/pair_distance_collection.h"
#include "denovo/app/pair_distance_estimation.h"
#include "denovo/app/paired_optimize.h"
#include "denovo/app/read_optimize.h"
#include "denovo/app/reference_report.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/denovo_file.h"
#include "denovo/graph/explorer.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/graph_export.h"
#include "denovo/reads/end_info.h"
#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/read_mapping.h"
#include "denovo/reads/read_store.h"
#include "denovo/reads/read_table.h"
#include "denovo/reads/word_counter.h"
#include "denovo/reads/word_counter_pass.h"
#include "seqio/seq_db.h"
#include "seqio/seq_format.h"

namespace {

// Gives a finished output its name; a failure prints message (a format
// with the path) and ends the run with status 1. The slot is cleared first,
// so the failed exit does not remove the file twice. Null does nothing.
void commit_output(output_file_t **slot, const char *message, const char *path) {
  output_file_t *file = *slot;
  *slot = nullptr;
  if (file == nullptr || output_file_commit(file) == 0) return;
  fprintf(stderr, message, path);
  ryx_exit(1);
}

// Bytes per block of the packed read store.
constexpr int32_t kReadStoreBlock = 1048576;

// Everything one run builds; the run frees it all before it ends.
struct run_t {
  denovo_options_t *options;
  progress_meter_t *root;
  progress_meter_t *stage;  // child of root, re-ranged for every stage
  output_file_t *memory_file;
  output_file_t *output;   // the contig FASTA, opened before the stages
  output_file_t *feature;  // the GFF or AGP file, or null
  output_file_t *estimates;  // the pair-distance estimate file, or null
  output_file_t *saves[kDenovoStageContigs];  // index 1 to 5: the stage file to save, or null
  read_store_t *store;
  int32_t word_size;
  seq_db_t *fragments;
  read_table_t *table;
  fragment_graph_t *graph;
  gap_sequence_map_t *gaps;
  contig_info_t *contigs;
  seq_db_t *reference_db;
  read_info_t *reference_info;
  // The paired settings by read file, at least as many as the loaded read
  // table has files (those not named on this command line are null).
  paired_setting_t **pair_settings;
};

bool verbose(const run_t *run) { return run->options->verbose != 0; }

// The read mapping gives the reference's path a first element whose word is
// a step word (the first fragment's start in the reference plus 1) rather
// than a start word, so every walk back to the path's start (its count, its
// print) would run off the front of the array. The same elements as one
// proper path of count 1, searchable; the given info is freed.
read_info_t *reference_path_with_start(read_info_t *mapped) {
  read_info_t *path = read_info_new(mapped->fragment_count);
  const uint64_t elements = mapped->count / 2;
  for (uint64_t e = 0; e < elements; e++) {
    const auto fragment = static_cast<oriented_id_t>(mapped->words[2 * e + 1]);
    if (e == 0) {
      read_info_start_path(path, fragment);
    } else {
      read_info_add_step(path, read_info_word_distance(mapped->words[2 * e]), fragment);
    }
  }
  read_info_free(mapped);
  read_info_make_searchable(path);
  return path;
}

void say(const run_t *run, const char *text) {
  if (verbose(run)) printf("%s\n", text);
}

FILE *memory_stream(const run_t *run) { return run->memory_file != nullptr ? run->memory_file->file : nullptr; }

void free_run(run_t *run) {
  run->contigs = contig_info_free(run->contigs);
  run->graph = fragment_graph_free(run->graph);
  run->gaps = gap_sequence_map_free(run->gaps);
  run->table = read_table_free(run->table);
  run->fragments = seq_db_free(run->fragments);
  run->store = read_store_free(run->store);
  run->reference_info = read_info_free(run->reference_info);
  run->reference_db = seq_db_free(run->reference_db);
  run->memory_file = output_file_abandon(run->memory_file);
  run->output = output_file_abandon(run->output);
  run->feature = output_file_abandon(run->feature);
  run->estimates = output_file_abandon(run->estimates);
  for (output_file_t *&save : run->saves) save = output_file_abandon(save);
  ryx_free(run->pair_settings);
  run->pair_settings = nullptr;
  run->stage = progress_meter_free(run->stage);
  run->root = progress_meter_free(run->root);
}

// The paired settings array handed to the stages, padded with null to
// count files.
void set_pair_settings(run_t *run, int32_t count) {
  const denovo_options_t *o = run->options;
  if (count < o->entry_count) count = o->entry_count;
  ryx_free(run->pair_settings);
  run->pair_settings =
      static_cast<paired_setting_t **>(ryx_calloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(void *)));
  for (int32_t i = 0; i < o->entry_count; i++) run->pair_settings[i] = o->settings[i];
}

// Saves stage s when asked; when s is the last stage to reach, prints the
// quit message, frees everything and ends the process with status 0.
void save_stage(run_t *run, int32_t stage, const char *quit_message) {
  const denovo_options_t *o = run->options;
  const char *path = o->save_paths[stage];
  if (path == nullptr) return;
  output_file_t *save = run->saves[stage];
  run->saves[stage] = nullptr;
  denovo_file_write_output(save, path, stage - 1, run->word_size, run->fragments, run->table, run->graph, run->gaps);
  if (o->last_stage != stage) return;
  // The memory report is a finished output of its own once the run stops.
  commit_output(&run->memory_file, "Problem closing file (out of tmp space?): %s\n", o->memory_path);
  printf("%s\n", quit_message);
  free_run(run);
  denovo_options_free(run->options);
  ryx_exit(0);
}

// Loads stage file kind stage - 1 and checks the word size it records.
void load_stage(run_t *run, int32_t stage, int32_t file_count) {
  const denovo_options_t *o = run->options;
  denovo_file_read(o->load_path, stage - 1, &run->fragments, &run->table, run->pair_settings, file_count, &run->graph,
                   &run->gaps);
  const int32_t stored = denovo_file_word_size(stage - 1, run->fragments, run->table, run->graph);
  if (run->word_size == -1) {
    run->word_size = stored;
  } else {
    denovo_check_stage_word_size(o->load_path, stored, run->word_size);
  }
}

// The longest read of the files whose reads build fragments.
int64_t longest_fragment_read(read_store_t *store, const int32_t *use_flags) {
  int64_t longest = 0;
  read_store_rewind(store);
  int32_t file_index = 0;
  while (seq_record_t *block = read_store_next_block(store, &file_index)) {
    if (use_flags[file_index] != 0) {
      int64_t length = 0;
      for (uint32_t i = 0; i < block->length; i++) {
        if (block->residues[i] != kReadStoreSeparator) {
          length++;
          continue;
        }
        if (length > longest) longest = length;
        length = 0;
      }
      if (length > longest) longest = length;
    }
    seq_record_release(block);
  }
  return longest;
}

// Fragments are built from the words of the reads, so reads that are all
// shorter than the word size can give none. The fragment builder would say
// only "No result found"; this says why first. The reads are looked through
// only when their mean length leaves it possible.
void check_reads_hold_a_word(run_t *run) {
  const denovo_options_t *o = run->options;
  read_store_t *store = run->store;
  if (store->read_count == 0) return;
  bool every_file_used = true;
  for (int32_t i = 0; i < o->entry_count; i++) every_file_used = every_file_used && o->use_flags[i] != 0;
  const auto k = static_cast<uint64_t>(run->word_size);
  if (every_file_used && store->nucleotide_count >= store->read_count * k) return;
  const int64_t longest = longest_fragment_read(store, o->use_flags);
  if (longest == 0 || longest >= run->word_size) return;
  fprintf(stderr, "Every read is shorter than the word size %d: the longest has %lld bases.\n", run->word_size,
          static_cast<long long>(longest));
  ryx_fail("\nNo result found\n");
}

// Stage 1: the reads, the word size and the fragments.
void run_fragments(run_t *run) {
  denovo_options_t *o = run->options;
  if (o->load_stage == kDenovoStagePairedGraph) {
    progress_meter_set_range(run->root, run->stage, 0.1, 0.3);
    progress_meter_set_range(run->root, run->stage, 0.3, 0.6);
    // No read is read, so the word size is the loaded graph's; one given
    // here is only compared with it.
    run->word_size = o->word_size;
    return;
  }
  say(run, "\nLoading reads...");
  run->store = read_store_new(kReadStoreBlock, o->entry_count, o->name_pairs, o->paired_flags, 1, run->stage);
  run->word_size = denovo_resolve_word_size(o->word_size, run->store->nucleotide_count);
  if (verbose(run)) {
    printf("\n\n");
    printf("Read count:       %12lld\n", static_cast<long long>(run->store->read_count));
    printf("Nucleotide count: %12lld\n", static_cast<long long>(run->store->nucleotide_count));
    printf("Word size:        %12d\n", run->word_size);
    printf("Bubble size:      %12d\n", o->bubble_size);
    printf("\n");
  }
  progress_meter_set_range(run->root, run->stage, 0.1, 0.3);
  if (o->load_stage > 0) {
    progress_meter_set_range(run->root, run->stage, 0.3, 0.6);
    if (o->load_stage == kDenovoStageFragments) {
      printf("Loading fragments...\n");
      load_stage(run, kDenovoStageFragments, -1);
    }
  } else {
    check_reads_hold_a_word(run);
    say(run, "\nCounting words...");
    word_counter_t *counter = word_counter_build(run->store, o->use_flags, run->word_size, run->stage);
    memory_report_write_hash_table(memory_stream(run), counter);
    progress_meter_set_range(run->root, run->stage, 0.3, 0.6);
    say(run, "\nCreating fragments...");
    run->fragments = fragment_builder_run(run->store, o->use_flags, nullptr, counter, run->stage);
    word_counter_free(counter);
  }
  save_stage(run, kDenovoStageFragments, "Fragment file saved. Quitting...");
}

// Stage 2: the reads mapped onto the fragments.
void run_read_mapping(run_t *run) {
  denovo_options_t *o = run->options;
  progress_meter_set_range(run->root, run->stage, 0.6, 0.8);
  if (o->reference_path != nullptr && o->load_stage < kDenovoStageReads) {
    // A reference that cannot be opened (reported by the opener) leaves the
    // mapping without one; the report then has nothing to compare.
    run->reference_db = seq_db_open(o->reference_path, 0, kSeqMaskReads, 0, 0);
  }
  if (o->load_stage == kDenovoStageReads) {
    printf("Loading reads...\n");
    load_stage(run, kDenovoStageReads, run->store->file_count);
  } else if (o->load_stage < kDenovoStageReads) {
    say(run, "\nMapping reads...");
    run->table = read_mapping_run(run->fragments, run->store, run->reference_db,
                                  run->reference_db != nullptr ? &run->reference_info : nullptr, run->pair_settings,
                                  o->use_flags, run->word_size, run->stage);
    if (run->reference_info != nullptr) run->reference_info = reference_path_with_start(run->reference_info);
    memory_report_write_read_table(memory_stream(run), run->table);
  }
  save_stage(run, kDenovoStageReads, "Read file saved. Quitting...");
}

// Stage 3: the initial de Bruijn graph.
void run_initial_graph(run_t *run) {
  const denovo_options_t *o = run->options;
  progress_meter_set_range(run->root, run->stage, 0.8, 0.96);
  if (o->load_stage == kDenovoStageInitialGraph) {
    printf("Loading initial graph...\n");
    load_stage(run, kDenovoStageInitialGraph, run->store->file_count);
  } else if (o->load_stage < kDenovoStageInitialGraph) {
    say(run, "\nConstructing initial graph...");
    run->graph = fragment_graph_build(run->fragments, run->table->read_info, run->word_size, 1);
  }
  save_stage(run, kDenovoStageInitialGraph, "\nInitial de Bruijn graph file saved. Quitting...");
}

// Stage 4: read optimisation.
void run_read_optimisation(run_t *run) {
  const denovo_options_t *o = run->options;
  progress_meter_update(run->stage, 0.01);
  if (o->load_stage == kDenovoStageReadGraph) {
    printf("Loading read optimized graph...\n");
    load_stage(run, kDenovoStageReadGraph, run->store->file_count);
  } else if (o->load_stage < kDenovoStageReadGraph) {
    progress_meter_t *child = progress_meter_new_child(run->stage, 0.01, o->any_paired ? 0.75 : 1.0);
    say(run, "\nPerforming read optimizations...");
    read_optimize_graph(run->graph, run->fragments, run->table, o->bubble_size, nullptr, child);
    progress_meter_free(child);
  }
  save_stage(run, kDenovoStageReadGraph, "Read optimized de Bruijn graph file saved. Quitting...");
}

// Pair distances measured along the contigs of the read-optimised graph
// (-e with paired reads): written to the estimate file, and where an
// estimate holds, put into the file's paired setting, which the read
// table's histograms point to, so that the paired optimisation below uses
// the measured range.
void run_pair_distances(run_t *run) {
  const denovo_options_t *o = run->options;
  say(run, "\nInferring paired distances...");
  paired_distance_collect(run->table, run->graph);
  paired_distance_write_estimates_to(run->table, run->pair_settings, o->name_pairs, run->estimates, o->estimate_path);
  run->estimates = nullptr;  // committed and freed
}

// The paired optimisation, then, with scaffolding, the overlaps across the
// short scaffold gaps; returns the contig info of the paired graph.
contig_info_t *run_paired_optimisation(run_t *run) {
  const denovo_options_t *o = run->options;
  progress_meter_t *child = progress_meter_new_child(run->stage, 0.75, 1.0);
  array_list_t *joins = nullptr;
  say(run, "\nPerforming paired read optimizations and scaffolding...");
  contig_info_t *contigs =
      o->cpus == 1 || get_number_of_cpus() < 2
          ? paired_optimize_graph(run->graph, run->table, o->bubble_size, o->scaffolding, child, &joins)
          : paired_optimize_graph_threaded(run->graph, run->table, o->bubble_size, o->scaffolding, child, &joins);
  progress_meter_free(child);
  if (o->scaffolding != 0) {
    say(run, "\nResolving contig overlaps...");
    fragment_graph_set_bubbles(run->graph, run->table->read_info, o->bubble_size, o->bubble_size / 5, 1);
    run->gaps = contig_overlap_resolve(run->graph, contigs, run->table, o->bubble_size, &joins);
  }
  // Without scaffolding the joins name no gap edge worth aligning.
  if (joins != nullptr) array_list_free(joins);
  return contigs;
}

// Stage 5: pair distances, the paired optimisation with scaffolding and
// overlap resolution (paired reads only; unpaired data just has its flags
// cleared), or the paired graph loaded with its gap-sequence map; then the
// explorer when asked for.
void run_paired_stage(run_t *run) {
  const denovo_options_t *o = run->options;
  contig_info_t *paired_contigs = nullptr;
  if (o->load_stage == kDenovoStagePairedGraph) {
    printf("Loading paired optimized graph...\n");
    // The stored read table keeps its own file count; the settings array
    // is padded to it, so files missing from this command line count as
    // unpaired and nothing indexes past the array.
    load_stage(run, kDenovoStagePairedGraph, -1);
    set_pair_settings(run, run->table != nullptr ? run->table->file_count : 0);
  } else {
    if (run->estimates != nullptr && o->any_paired) run_pair_distances(run);
    fragment_graph_clear_all_flags(run->graph);
    if (o->any_paired) paired_contigs = run_paired_optimisation(run);
  }
  if (o->explore) {
    explorer_run(run->fragments, run->table, run->graph, read_optimize_max_function, o->bubble_size, nullptr,
                 paired_optimize_graph);
    fragment_graph_set_other_nodes(run->graph);
  }
  contig_info_free(paired_contigs);
  save_stage(run, kDenovoStagePairedGraph, "Paired optimized de Bruijn graph file saved. Quitting...");
}

// Stage 6: contigs, the optional reports and the outputs.
void run_contigs(run_t *run) {
  const denovo_options_t *o = run->options;
  fragment_graph_set_bubbles(run->graph, run->table->read_info, o->bubble_size, o->bubble_size / 5, 1);
  run->contigs = contig_info_build(run->graph, 1, 1);
  progress_meter_update(run->stage, 1.0);
  if (o->reference_path != nullptr && run->reference_info != nullptr) {
    reference_score_report(run->graph, run->table, run->contigs, o->min_length, run->reference_info);
  }
  end_info_t *ends = run->table->end_info;
  if (o->graph_prefix != nullptr) {
    end_info_read_temp_file(ends);
    end_info_sort(ends);
    say(run, "\nSaving contig graph...");
    fragment_graph_write_fragment_gexf(run->graph, run->table, run->contigs,
                                       denovo_fragment_gexf_path(o->graph_prefix).c_str(), o->min_length);
    fragment_graph_write_contig_gexf(run->graph, run->table, run->contigs,
                                     denovo_contig_gexf_path(o->graph_prefix).c_str(), o->min_length);
    read_table_free_reads(run->table);
  } else {
    read_table_free_reads(run->table);
    end_info_read_temp_file(ends);
    end_info_sort(ends);
  }
  say(run, "\nSaving contigs...");
  output_file_t *output = run->output;
  output_file_t *feature = run->feature;
  run->output = nullptr;
  run->feature = nullptr;
  progress_meter_set_range(run->root, run->stage, 0.96, 1.0);
  const int32_t mode = feature != nullptr && denovo_feature_path_is_agp(o->feature_path) ? kContigFeaturesAgp
                                                                                         : kContigFeaturesGff;
  contig_output_write(output->file, feature != nullptr ? feature->file : nullptr, mode, run->graph, run->table,
                      run->contigs, o->min_length, run->stage, o->show_contigs, run->gaps);
  progress_meter_update(run->stage, 1.0);

  // Each output appears under its name only once it is complete; the
  // others still pending are removed by the failed exit.
  commit_output(&run->memory_file, "Problem closing file (out of tmp space?): %s\n", o->memory_path);
  commit_output(&output, "Problem closing file (out of tmp space?): %s\n", o->output_path);
  commit_output(&feature, "Problem closing feature file (out of tmp space?): %s\n", o->feature_path);
  // An estimate file still open holds no estimate (see denovo_run).
  commit_output(&run->estimates, "Problem closing file: %s\n", o->estimate_path);
}

}  // namespace

extern "C" {

int32_t denovo_resolve_word_size(int32_t given, uint64_t nucleotide_count) {
  if (given == -1) return denovo_choose_word_size(nucleotide_count);
  if (given < kDenovoMinWordSize) {
    printf("Minimum word size is 12");
    denovo_print_usage();
  }
  if (given > kDenovoMaxWordSize) {
    printf("Maximum word size is 64");
    denovo_print_usage();
  }
  return given;
}

void denovo_check_stage_word_size(const char *path, int32_t stored, int32_t word_size) {
  if (stored == -1 || stored == word_size) return;
  fprintf(stderr, "Error, stage file %s was made with word size %d, this run uses word size %d\n", path, stored,
          word_size);
  ryx_exit(1);
}

int denovo_run(denovo_options_t *options) {
  denovo_check_paths(options);
  // The reference is mapped together with the reads; a run that loads the
  // mapped reads has no path of it to compare the contigs with.
  if (options->reference_path != nullptr && options->load_stage >= kDenovoStageReads) {
    fprintf(stderr, "Note: no reference score report when the reads are loaded from a stage file\n");
  }
  run_t run{};
  run.options = options;
  run.word_size = -1;
  set_number_of_cpus(options->cpus);
  denovo_options_derive(options);
  set_pair_settings(&run, options->entry_count);

  // Every generator below draws its seed from the process-wide source and
  // some code of the system library draws from rand: both start alike on
  // every run.
  set_seed_int_source(kDenovoRandomSeed);
  srand(kDenovoRandomSeed);

  run.root = progress_meter_new();
  if (options->memory_path != nullptr) {
    run.memory_file = output_file_open(options->memory_path);
    if (run.memory_file == nullptr) {
      fprintf(stderr, "Could not open file %s for writing\n", options->memory_path);
      ryx_exit(1);
    }
  }
  run.stage = progress_meter_new_child(run.root, 0.0, 0.1);
  // The outputs are created (under hidden names until they are complete)
  // before any stage runs, so that a path that cannot be written ends the
  // run at once rather than after the assembly.
  if (options->output_path != nullptr) {
    run.output = output_file_open(options->output_path);
    if (run.output == nullptr) {
      fprintf(stderr, "Problem opening file: %s\n", options->output_path);
      ryx_exit(1);
    }
  }
  if (options->feature_path != nullptr && options->output_path != nullptr) {
    run.feature = output_file_open(options->feature_path);
    if (run.feature == nullptr) {
      fprintf(stderr, "Problem opening feature file: %s\n", options->feature_path);
      ryx_exit(1);
    }
  }

  // The estimates are made only with paired reads, in the paired stage;
  // without them (or from a loaded paired graph, made after the estimates)
  // the file is written empty, so that whatever expects it finds it.
  if (options->estimate_path != nullptr) {
    run.estimates = output_file_open(options->estimate_path);
    if (run.estimates == nullptr) {
      fprintf(stderr, "Problem opening file: %s\n", options->estimate_path);
      ryx_exit(1);
    }
  }
  // The stage files too, and the graph files are tried, so that a save at
  // the end of hours of work cannot fail for its path.
  for (int32_t stage = 1; stage < kDenovoStageContigs; stage++) {
    if (options->save_paths[stage] != nullptr) run.saves[stage] = denovo_file_create(options->save_paths[stage]);
  }
  if (options->graph_prefix != nullptr) {
    denovo_check_output_path(denovo_fragment_gexf_path(options->graph_prefix).c_str());
    denovo_check_output_path(denovo_contig_gexf_path(options->graph_prefix).c_str());
  }

  run_fragments(&run);
  run_read_mapping(&run);
  run_initial_graph(&run);
  run_read_optimisation(&run);
  run_paired_stage(&run);
  run_contigs(&run);

  free_run(&run);
  printf("\n");
  return 0;
}

}  // extern "C"
