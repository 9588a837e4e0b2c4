#include "refmap/map_result.h"

#include <cstdlib>
#include <initializer_list>

#include "common/bin_codec.h"
#include "common/memory.h"
#include "common/progress_meter.h"
#include "refmap/alignment_info.h"
#include "refmap/map_context.h"
#include "seqio/nyr_hit.h"

namespace {

void write_unmapped(map_writer_context_t *writer) { bin_file_write_u8(writer->output, 0); }

void show_progress(map_writer_context_t *writer, const map_context_t *context, int32_t read_index) {
  if ((read_index >> 16) == (writer->last_shown >> 16)) return;
  const double span = static_cast<double>(context->end_read - context->first_read);
  if (span > 0) progress_meter_update(writer->meter, (read_index - context->first_read) / span);
  writer->last_shown = read_index;
}

}  // namespace

map_writer_context_t *map_writer_context_new(int32_t reference_count, int32_t longest_reference,
                                             int32_t repeat_ignore, progress_meter_t *meter, FILE *output) {
  auto *writer = static_cast<map_writer_context_t *>(ryx_calloc(sizeof(map_writer_context_t)));
  writer->reference_count = reference_count;
  writer->longest_reference = longest_reference;
  writer->repeat_ignore = repeat_ignore;
  writer->meter = meter;
  writer->output = output;
  return writer;
}

map_writer_context_t *map_writer_context_free(map_writer_context_t *writer) {
  if (writer == nullptr) return nullptr;
  ryx_free(writer->records);
  ryx_free(writer);
  return nullptr;
}

void map_result_shuffle_hits(alignment_info_t *slot, alignment_info_t *partner, int32_t reported, int32_t stored) {
  for (int32_t i = 0, m = stored; i < reported && m > 0; i++, m--) {
    const int32_t d = rand() % m;
    if (d == 0) continue;
    for (alignment_info_t *s : {slot, partner}) {
      if (s == nullptr) continue;
      alignment_hit_t *t = s->hits[i];
      s->hits[i] = s->hits[i + d];
      s->hits[i + d] = t;
    }
  }
}

void map_result_write_read(map_context_t *context, alignment_info_t *slot, int32_t kind, void *argument) {
  auto *writer = static_cast<map_writer_context_t *>(argument);
  if (context == nullptr || slot == nullptr || slot->hit_count == 0) {
    write_unmapped(writer);
    return;
  }
  show_progress(writer, context, slot->read_index);
  const int32_t limit = context->report_limit;
  const bool paired = kind != kMapReadUnpaired && slot[1].hit_count > 0;
  alignment_info_t *chosen = paired ? &slot[1] : slot;
  const int32_t total = chosen->hit_count;
  const int32_t stored = alignment_info_stored_count(chosen, limit);
  const int32_t reported = stored < limit ? stored : limit;
  // A record that is matched must carry at least one hit; with nothing to
  // report (a report limit of 0) the read is written unmapped.
  if ((writer->repeat_ignore && total > limit) || reported == 0) {
    write_unmapped(writer);
    return;
  }
  if (total > 1) {
    if (!paired) {
      map_result_shuffle_hits(chosen, nullptr, reported, stored);
    } else if (kind == kMapReadFirst) {
      // Read 2's record follows with the same order, so that its pair
      // halves stay at the places of read 1's.
      alignment_info_t *partner = &slot[3];
      const bool in_step = alignment_info_stored_count(partner, limit) >= stored;
      map_result_shuffle_hits(chosen, in_step ? partner : nullptr, reported, stored);
    }
  }
  if (writer->record_capacity < reported) {
    writer->records = static_cast<nyr_match_t *>(ryx_realloc(writer->records, sizeof(nyr_match_t) * reported));
    writer->record_capacity = reported;
  }
  const nyr_match_t *pointers[64];
  const nyr_match_t **list =
      reported <= 64 ? pointers : static_cast<const nyr_match_t **>(ryx_malloc(sizeof(nyr_match_t *) * reported));
  for (int32_t i = 0; i < reported; i++) {
    const alignment_hit_t *hit = chosen->hits[i];
    nyr_match_t *record = &writer->records[i];
    record->contig = static_cast<uint32_t>(hit->sequence);
    record->position = static_cast<uint32_t>(hit->offset);
    record->flags = (hit->flags & kAlignmentHitReverse) ? kNyrMatchReverse : 0;
    if (paired) record->flags |= kNyrMatchPaired;
    record->quality = kNyrNoQuality;
    record->stored_count = 0;
    if (total > 1) {
      record->flags |= kNyrMatchCounted;
      record->stored_count = static_cast<uint32_t>(total - 2);
    }
    record->code_length = static_cast<uint32_t>(hit->code_length);
    record->code = hit->code;
    list[i] = record;
  }
  nyr_match_write_hits(writer->output, static_cast<uint32_t>(writer->reference_count),
                       static_cast<uint32_t>(writer->longest_reference), nullptr, static_cast<uint32_t>(reported),
                       list);
  if (list != pointers) ryx_free(list);
}
