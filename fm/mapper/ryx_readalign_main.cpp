// ryx_readalign: maps reads onto references indexed in a bidirectional FM
// index and writes their alignments as an nyr mapping file.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "common/activity.h"
#include "common/cpus.h"
#include "common/ryx_exit.h"
#include "common/signal_cleanup.h"
#include "fm/index/index_file.h"
#include "fm/mapper/mapper_options.h"
#include "fm/mapper/mapper_output.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_pipeline.h"
#include "fm/mapper/nyr_reference_file.h"
#include "fm/mapper/nyr_scoring_scheme.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/runtime/buffered_writer.h"
#include "fm/runtime/file.h"
#include "fm/runtime/out_of_memory.h"
#include "fm/runtime/progress.h"

// The program's operator new: an allocation the system cannot give ends
// the run with the out-of-memory message and status 69 on whatever thread
// asked, removing the unfinished outputs, instead of throwing an exception
// that nothing catches and that would abort the process and leave them.
// The blocks come from malloc and go back to free, which is all new and
// delete must agree on.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void *operator new(size_t n) { return OutOfMemory::allocate(n, 0); }
void *operator new[](size_t n) { return OutOfMemory::allocate(n, 0); }
void *operator new(size_t n, std::align_val_t a) { return OutOfMemory::allocate(n, static_cast<size_t>(a)); }
void *operator new[](size_t n, std::align_val_t a) { return OutOfMemory::allocate(n, static_cast<size_t>(a)); }
// The forms that may fail give null, as their callers expect (a sort asks
// for a scratch buffer this way and does without when there is none).
void *operator new(size_t n, std::nothrow_t const &) noexcept { return malloc(n == 0 ? 1 : n); }
void *operator new[](size_t n, std::nothrow_t const &) noexcept { return malloc(n == 0 ? 1 : n); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }
void operator delete(void *p, std::align_val_t) noexcept { free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { free(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { free(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { free(p); }
void operator delete(void *p, std::nothrow_t const &) noexcept { free(p); }
void operator delete[](void *p, std::nothrow_t const &) noexcept { free(p); }

namespace {

[[noreturn]] void fail(char const *format, char const *path, int status) {
  fprintf(stderr, format, path);
  fflush(stderr);
  ryx_exit(status);
}

// An output must not replace one of the inputs, nor the other output.
void check_outputs(mapper_parser_t const &options) {
  std::vector<std::string> inputs;
  for (reference_file_t const &r : options.fasta_references) inputs.push_back(r.name);
  for (reference_file_t const &r : options.index_references) inputs.push_back(r.name);
  for (read_file_t const &f : options.read_files) {
    inputs.push_back(f.first->name());
    if (f.second != nullptr) inputs.push_back(f.second->name());
  }
  for (std::string const *output : {&options.output, &options.index_output}) {
    if (output->empty()) continue;
    for (std::string const &input : inputs)
      if (MapperOutput::same_file(output->c_str(), input.c_str()))
        fail("Output file %s is also an input file.\n", output->c_str(), 1);
  }
  if (!options.output.empty() && !options.index_output.empty() &&
      (options.output == options.index_output ||
       MapperOutput::same_file(options.output.c_str(), options.index_output.c_str())))
    fail("Output file %s is named twice.\n", options.output.c_str(), 1);
}

// References that hold no base leave nothing to map onto or index: the run
// fails, naming the reference files, before any output is written.
void check_references_hold_sequence(mapper_parser_t const &options, MapperParameters const &parameters) {
  uint64_t bases = 0;
  for (MapperIndex const &index : parameters.main_set)
    for (MapperIndexRef const &ref : index.refs) bases += ref.length;
  if (bases != 0) return;
  std::string names;
  for (auto const *list : {&options.index_references, &options.fasta_references})
    for (reference_file_t const &r : *list) names += (names.empty() ? "" : ", ") + r.name;
  if (names.empty()) return;
  fail("No reference sequence in %s.\n", names.c_str(), 1);
}

// Announces to the writer the reference files of one index file: the
// sequences of the indexes it added, in order, dealt out to its file infos
// by their sequence counts.
void announce_index_files(NYRWriter *writer, std::vector<MapperIndex> const &set, size_t first_index,
                          std::vector<MapperFileInfo> const &infos, size_t first_info) {
  size_t index = first_index;
  size_t sequence = 0;
  for (size_t f = first_info; f < infos.size(); f++) {
    NYRReferenceFile reference(infos[f].file_name);
    for (uint64_t k = 0; k < infos[f].sequence_count; k++) {
      while (index < set.size() && sequence >= set[index].refs.size()) {
        index++;
        sequence = 0;
      }
      if (index == set.size()) break;
      MapperIndexRef const &ref = set[index].refs[sequence++];
      reference.add(static_cast<uint32_t>(ref.length), ref.circular);
    }
    writer->add_reference_file(reference);
  }
}

}  // namespace

int main(int argc, char **argv) {
  // Before any thread starts: an interrupt then removes the unfinished outputs.
  signal_cleanup_install();
  RootActivity root(nullptr);
  auto *parameters = new MapperParameters();
  mapper_parser_t options;
  options.parameters = parameters;
  std::vector<MapperFileInfo> all_files;
  std::vector<MapperFileInfo> fasta_files;
  std::string const version = build_version_string();

  auto *parser = new CmdLineParser<mapper_parser_t>(options, argc, argv, "RYX Read Mapper", version, "nq");
  mapper_register_options(*parser);
  if (parser->finalize() != 0) ryx_exit(1);
  check_outputs(options);

  Progress *progress = parameters->progress_off ? nullptr : new Progress(stdout, &root);

  MapperOutput result(options.output);
  if (!options.output.empty()) {
    File *file = result.open();
    if (file == nullptr) fail("Could not create output file %s\n", options.output.c_str(), 73);
    NYRScoringScheme scheme(static_cast<int16_t>(parameters->match_score),
                            static_cast<int16_t>(parameters->mismatch_cost), static_cast<int16_t>(parameters->gap_open),
                            static_cast<int16_t>(parameters->gap_cost), static_cast<int16_t>(parameters->deletion_open),
                            static_cast<int16_t>(parameters->deletion_cost), parameters->align_mode == kAlignGlobal);
    options.writer = new NYRWriter(file, scheme);
    options.writer->set_program_info("ryx_readalign", version, parser->get_commandline());
  }

  for (reference_file_t &reference : options.index_references) {
    size_t const indexes_before = parameters->main_set.size();
    size_t const files_before = all_files.size();
    read_index_file(parameters->main_set, parameters->bisulphite_set, parameters->acceleration_depth, all_files,
                    parameters->bisulphite, reference.source);
    delete reference.source;
    reference.source = nullptr;
    if (options.writer != nullptr)
      announce_index_files(options.writer, parameters->main_set, indexes_before, all_files, files_before);
  }

  bool const fasta = !options.fasta_references.empty();
  if (fasta) {
    parameters->setup_builder();
    for (reference_file_t &reference : options.fasta_references) {
      MapperFileInfo info;
      info.file_name = reference.name;
      fasta_files.push_back(info);
      parameters->add_reference_file(reference.source, reference.circular);
      reference.source = nullptr;
    }
  }
  bool const reads = !options.read_files.empty();
  parameters->finalize(options.writer, fasta_files, root.child(reads ? 0.1 : 1.0, nullptr));
  all_files.insert(all_files.end(), fasta_files.begin(), fasta_files.end());
  check_references_hold_sequence(options, *parameters);

  // The indexes are built by now, so a lower count applies to mapping only.
  if (parameters->mapper_memory_mb != 0) {
    uint64_t const threads = mapper_memory_threads(parameters->mapper_memory_mb, parameters->normal_type_limit);
    if (threads < static_cast<uint64_t>(get_number_of_cpus())) set_number_of_cpus(static_cast<int>(threads));
  }

  bool sizes_known = true;
  for (read_file_t const &f : options.read_files) {
    for (File const *file : {f.first, f.second}) {
      if (file == nullptr) continue;
      if (file->size() < 0) sizes_known = false;
      else options.total_read_bytes += static_cast<uint64_t>(file->size());
    }
  }
  if (!sizes_known) {
    fprintf(stderr, "Some file sizes could not be determined. Progress reporting is unreliable.\n");
    options.total_read_bytes = 0;
  }

  if (!options.index_output.empty()) {
    MapperOutput index_output(options.index_output);
    File *file = index_output.open();
    if (file == nullptr) fail("Could not create output file %s\n", options.index_output.c_str(), 73);
    auto *writer = new BufferedWriter(file);
    write_index_file(static_cast<unsigned int>(parameters->main_set.size()), parameters->main_set.data(),
                     parameters->bisulphite ? parameters->bisulphite_set.data() : nullptr, all_files, writer);
    delete writer;
    index_output.commit();
  }

  if (reads) {
    mapper_pipeline_run(&options, root.child(fasta ? 0.9 : 1.0, nullptr));
    if (!options.output.empty()) result.commit();
  }

  delete parameters;
  mapper_parser_release(&options);
  root.set_done();
  if (progress != nullptr) {
    progress->stop();
    delete progress;
  }
  delete parser;
  return 0;
}
