#include "fm/mapper/mapper_node.h"

#include "common/activity.h"
#include "fm/mapper/mapper_parameters.h"

MapperNode::MapperNode(MapperParameters *parameters, Activity *activity)
    : mapper_(parameters),
      sampler_(mapper_.random_state(), parameters->max_align),
      result_(mapper_.random_state(), parameters->max_align),
      activity_(activity) {}

void MapperNode::complete_read(MapperRead *read, int mate) {
  Sequence *forward = read->sequence;
  std::vector<unsigned char> &buffer = reverse_codes_[mate];
  if (buffer.size() < size_t{forward->length} + 1) buffer.resize(size_t{forward->length} + 1);
  Sequence::reverse_complement(forward->symbols, forward->length, buffer.data());
  buffer[forward->length] = 255;
  read->assign(forward, buffer.data());
}

void MapperNode::map_tuple(MapperTuple *tuple) {
  mapper_.set_technology(static_cast<MapperReadType>(tuple->technology));
  complete_read(&tuple->read1, 0);
  MapperSample &sample = tuple->sample;
  sample.clear_mate(0);
  sample.clear_mate(1);
  sample.paired = false;
  if (tuple->read_count == 1) {
    sample.two_reads = false;
    mapper_.single_run(&tuple->read1, &result_.mate[0], tuple->read_index);
    sampler_.run(&result_.mate[0], &sample, 0);
  } else {
    complete_read(&tuple->read2, 1);
    sample.two_reads = true;
    mapper_.paired_run(&tuple->read1, &tuple->read2, &result_, &tuple->paired, tuple->read_index);
    sampler_.paired_run(&result_, &sample);
  }
  // The buffers serve the next item.
  tuple->read1.reverse_codes = nullptr;
  tuple->read2.reverse_codes = nullptr;
  if (activity_ != nullptr) activity_->done.fetch_add(tuple->bytes_consumed, std::memory_order_relaxed);
}
