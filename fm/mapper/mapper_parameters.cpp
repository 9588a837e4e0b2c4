#include "fm/mapper/mapper_parameters.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/activity.h"
#include "common/platform.h"
#include "common/ryx_exit.h"
#include "fm/index/fasta_index_builder.h"
#include "fm/mapper/nyr_reference_file.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/runtime/file.h"

namespace {

// Bytes the builder keeps free for parsing beside the sequences in work.
constexpr unsigned long kBuilderHeadroom = 250000000;

// The global id that follows the last index of a set.
uint64_t next_sequence_id(const std::vector<MapperIndex> &set) {
  return set.empty() ? 0 : set.back().first_sequence_id + set.back().refs.size();
}

}  // namespace

MapperParameters::MapperParameters() { derive_cost_bounds(); }

void MapperParameters::derive_cost_bounds() {
  uint32_t low = std::min({mismatch_cost, gap_cost, deletion_cost});
  uint32_t high = std::max({mismatch_cost, gap_cost, deletion_cost});
  smallest_cost = static_cast<int32_t>(low);
  largest_cost = static_cast<int32_t>(high);
}

void MapperParameters::setup_builder() { fasta_pending = true; }

void MapperParameters::add_reference_file(Reader *source, bool circular_sequences) {
  fasta_paths.emplace_back(source->name());
  circular.push_back(circular_sequences);
  delete source;
}

void MapperParameters::run_index_builder(FastaIndexBuilder &builder) {
  for (size_t i = 0; i < fasta_paths.size(); i++) {
    File *file = File::open(fasta_paths[i].c_str(), false);
    if (file == nullptr) {
      fprintf(stderr, "Could not open reference file %s\n", fasta_paths[i].c_str());
      fflush(stderr);
      ryx_exit(1);
    }
    builder.parse_file(file, circular[i] ? 1 : 0);
  }
  builder.finish();
}

uint64_t MapperParameters::index_memory_budget() const {
  if (index_memory_mb != 0) return index_memory_mb << 20;
  const uint64_t physical_mb = platform_physical_memory_bytes() >> 20;
  return (physical_mb / 2) << 20;
}

void MapperParameters::finalize(NYRWriter *writer, std::vector<MapperFileInfo> &fasta_infos, Activity *activity) {
  if (fasta_pending) {
    const uint64_t budget = index_memory_budget();
    const uint64_t first_id = next_sequence_id(main_set);
    std::unique_ptr<BidirectionalMatcher> matcher;
    std::unique_ptr<BidirectionalMatcher> second_matcher;
    std::vector<FastaIndexBuilder::SequenceInfo> infos;
    if (!bisulphite) {
      FastaIndexBuilder builder(budget, kBuilderHeadroom, position_sampling_shift, activity);
      run_index_builder(builder);
      matcher = builder.get_result();
      infos = builder.get_sequence_info();
    } else {
      Activity *first_half = activity != nullptr ? activity->child(0.5, nullptr) : nullptr;
      Activity *second_half = activity != nullptr ? activity->child(0.5, nullptr) : nullptr;
      {
        FastaIndexBuilder builder(budget, kBuilderHeadroom, position_sampling_shift, first_half);
        builder.set_sequence_filter(bisulphite_map<1, 3>);
        run_index_builder(builder);
        matcher = builder.get_result();
        infos = builder.get_sequence_info();
      }
      // Both indexes together stay within the budget: the second build
      // gets what the first index does not already hold.
      const uint64_t held = matcher->memory_usage();
      FastaIndexBuilder builder(held >= budget ? 0 : budget - held, kBuilderHeadroom, position_sampling_shift,
                                second_half);
      builder.set_sequence_filter(bisulphite_map<2, 0>);
      run_index_builder(builder);
      second_matcher = builder.get_result();
    }

    // One file info per kept path, counted from the sequences indexed; a
    // file without sequences keeps counts 0 and is not announced.
    if (fasta_infos.size() < fasta_paths.size()) {
      for (size_t i = fasta_infos.size(); i < fasta_paths.size(); i++) {
        MapperFileInfo info;
        info.file_name = fasta_paths[i];
        fasta_infos.push_back(std::move(info));
      }
    }
    std::vector<MapperIndexRef> refs;
    refs.reserve(infos.size());
    std::unique_ptr<NYRReferenceFile> reference;
    int64_t current_file = -1;
    for (const FastaIndexBuilder::SequenceInfo &info : infos) {
      if (static_cast<int64_t>(info.file_index) != current_file) {
        if (reference != nullptr && writer != nullptr) writer->add_reference_file(*reference);
        current_file = info.file_index;
        reference = std::make_unique<NYRReferenceFile>(fasta_paths[info.file_index]);
        fasta_infos[info.file_index].sequence_count = 0;
        fasta_infos[info.file_index].total_length = 0;
      }
      reference->add(info.length, info.circular != 0);
      refs.push_back({info.length, info.circular != 0});
      fasta_infos[info.file_index].sequence_count += 1;
      fasta_infos[info.file_index].total_length += info.length;
    }
    if (reference != nullptr && writer != nullptr) writer->add_reference_file(*reference);

    if (bisulphite) {
      std::vector<MapperIndexRef> copy = refs;
      bisulphite_set.emplace_back(std::move(second_matcher), std::move(copy), first_id, acceleration_depth, true);
    }
    main_set.emplace_back(std::move(matcher), std::move(refs), first_id, acceleration_depth, false);
    fasta_pending = false;
  }
  if (activity != nullptr) activity->set_done();
  derive_cost_bounds();
  ready = true;
}
