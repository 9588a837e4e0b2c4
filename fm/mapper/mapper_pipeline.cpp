#include "fm/mapper/mapper_pipeline.h"

#include <cstdio>

#include "common/activity.h"
#include "common/cpus.h"
#include "common/ryx_exit.h"
#include "fm/mapper/mapper_node.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/nyr_entry.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/mapper/pipeline.h"
#include "fm/runtime/file.h"

MapperPipeline::MapperPipeline(std::vector<read_file_t> *files, NYRWriter *writer, bool bisulphite)
    : files_(files), writer_(writer), bisulphite_(bisulphite) {}

MapperPipeline::~MapperPipeline() = default;

void MapperPipeline::unequal_mates() const {
  fprintf(stderr, "Mate files %s and %s hold different numbers of reads.\n", first_name_.c_str(),
          second_name_.c_str());
  fflush(stderr);
  ryx_exit(1);
}

void MapperPipeline::init_read_file(read_file_t *file) {
  current_ = file;
  next_read_index_ = file->read_offset;
  technology_ = file->technology;
  paired_ = file->paired_settings;
  position_ = 0;
  previous_position_ = 0;
  first_name_ = file->first->name();
  second_name_ = file->second != nullptr ? file->second->name() : "";
  // The parsers take the files over.
  first_.reset(SequenceParser::create(file->first));
  file->first = nullptr;
  if (file->second != nullptr) {
    second_.reset(SequenceParser::create(file->second));
    file->second = nullptr;
  }
  record_ = std::make_unique<NYRReadFile>(first_name_, second_ != nullptr ? second_name_.c_str() : nullptr,
                                          file->paired);
}

void MapperPipeline::finish_read_file() {
  if (second_ != nullptr) {
    // The first file ended: the mate file must end here too.
    Sequence *surplus = second_->getNextSequence();
    if (surplus != nullptr) {
      delete surplus;
      unequal_mates();
    }
  }
  if (writer_ != nullptr) writer_->add_read_file(*record_);
  record_.reset();
  first_.reset();
  second_.reset();
  current_ = nullptr;
}

bool MapperPipeline::load_next_read(MapperTuple *tuple) {
  Sequence *read = nullptr;
  while (read == nullptr) {
    if (first_ == nullptr) {
      if (next_file_ >= files_->size()) return false;
      init_read_file(&(*files_)[next_file_++]);
    }
    read = first_->getNextSequence();
    if (read == nullptr) finish_read_file();
  }
  tuple->technology = technology_;
  tuple->read_index = next_read_index_++;
  tuple->read1 = MapperRead();
  tuple->read2 = MapperRead();
  tuple->read1.sequence = read;
  tuple->read_count = 1;
  position_ = first_->getFilePosition();
  if (current_->paired) {
    Sequence *mate = nullptr;
    if (second_ != nullptr) {
      mate = second_->getNextSequence();
      if (mate == nullptr) unequal_mates();
      position_ += second_->getFilePosition();
    } else {
      mate = first_->getNextSequence();
      position_ = first_->getFilePosition();
    }
    if (mate != nullptr) {
      tuple->read_count = 2;
      tuple->paired = paired_;
      tuple->read2.sequence = mate;
    }
  }
  record_->add(read->length);
  if (tuple->read_count == 2) record_->add(tuple->read2.sequence->length);
  tuple->bytes_consumed = position_ > previous_position_ ? static_cast<uint64_t>(position_ - previous_position_) : 0;
  previous_position_ = position_;
  return true;
}

void MapperPipeline::save_alignment(MapperTuple *tuple) {
  const MapperSample &sample = tuple->sample;
  for (uint32_t mate = 0; mate < tuple->read_count; mate++) {
    if (writer_ != nullptr) {
      NYREntry entry(bisulphite_);
      for (const MapperSampleEntry &hit : sample.entries[mate])
        entry.add_alignment(hit.reference_sequence, hit.position, hit.shifted, hit.reverse, hit.transcript,
                            hit.second_set, hit.ga_mark, sample.mapping_quality[mate]);
      entry.set_paired(sample.paired);
      entry.add_hits(sample.hit_total[mate]);
      writer_->add_entry(entry);
    }
    MapperRead &read = mate == 0 ? tuple->read1 : tuple->read2;
    delete read.sequence;
    read = MapperRead();
  }
}

void mapper_pipeline_run(mapper_parser_t *options, Activity *activity) {
  const int n = get_number_of_cpus();
  Pipeline<MapperTuple> pipeline(n * Pipeline<MapperTuple>::kItemsPerWorker, n);
  // Nodes are built in place and never move: each worker keeps a pointer
  // to its own.
  std::vector<std::unique_ptr<MapperNode>> nodes;
  nodes.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) nodes.push_back(std::make_unique<MapperNode>(options->parameters, activity));
  MapperPipeline state(&options->read_files, options->writer, options->parameters->bisulphite);

  pipeline.source([&state](MapperTuple &tuple) { return state.load_next_read(&tuple); });
  pipeline.stage([&nodes](MapperTuple &tuple, int worker) { nodes[static_cast<size_t>(worker)]->map_tuple(&tuple); });
  pipeline.sink([&state](MapperTuple &tuple) { state.save_alignment(&tuple); });
  if (activity != nullptr) activity->total.store(options->total_read_bytes);
  pipeline.run(true);

  delete options->writer;
  options->writer = nullptr;
  if (activity != nullptr) activity->set_done();
}
