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

void map_result_choose(map_writer_context_t *writer, map_context_t *context, alignment_info_t *slot, int32_t kind,
                       map_record_t *record) {
  *record = map_record_t{};
  if (context == nullptr || slot == nullptr || slot->hit_count == 0) return;
  show_progress(writer, context, slot->read_index);
  const int32_t limit = context->report_limit;
  const bool paired = kind != kMapReadUnpaired && slot[1].hit_count > 0;
  alignment_info_t *chosen = paired ? &slot[1] : slot;
  const int32_t total = chosen->hit_count;
  const int32_t stored = alignment_info_stored_count(chosen, limit);
  const int32_t reported = stored < limit ? stored : limit;
  // A record that is matched must carry at least one hit; with nothing to
  // report (a report limit of 0) the read is written unmapped.
  if ((writer->repeat_ignore && total > limit) || reported == 0) return;
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
  record->chosen = chosen;
  record->reported = reported;
  record->total = total;
  record->paired = paired ? 1 : 0;
}

void map_result_encode(const map_writer_context_t *writer, const map_record_t *record, FILE *file,
                       nyr_match_t **scratch, int32_t *capacity) {
  const int32_t reported = record->reported;
  if (record->chosen == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  if (*capacity < reported) {
    *scratch = static_cast<nyr_match_t *>(ryx_realloc(*scratch, sizeof(nyr_match_t) * reported));
    *capacity = reported;
  }
  const nyr_match_t *pointers[64];
  const nyr_match_t **list =
      reported <= 64 ? pointers : static_cast<const nyr_match_t **>(ryx_malloc(sizeof(nyr_match_t *) * reported));
  for (int32_t i = 0; i < reported; i++) {
    const alignment_hit_t *hit = record->chosen->hits[i];
    nyr_match_t *match = &(*scratch)[i];
    match->contig = static_cast<uint32_t>(hit->sequence);
    match->position = static_cast<uint32_t>(hit->offset);
    match->flags = (hit->flags & kAlignmentHitReverse) ? kNyrMatchReverse : 0;
    if (record->paired) match->flags |= kNyrMatchPaired;
    match->quality = kNyrNoQuality;
    match->stored_count = 0;
    if (record->total > 1) {
      match->flags |= kNyrMatchCounted;
      match->stored_count = static_cast<uint32_t>(record->total - 2);
    }
    match->code_length = static_cast<uint32_t>(hit->code_length);
    match->code = hit->code;
    list[i] = match;
  }
  nyr_match_write_hits(file, static_cast<uint32_t>(writer->reference_count),
                       static_cast<uint32_t>(writer->longest_reference), nullptr, static_cast<uint32_t>(reported),
                       list);
  if (list != pointers) ryx_free(list);
}

void map_result_write_read(map_context_t *context, alignment_info_t *slot, int32_t kind, void *argument) {
  auto *writer = static_cast<map_writer_context_t *>(argument);
  map_record_t record;
  map_result_choose(writer, context, slot, kind, &record);
  map_result_encode(writer, &record, writer->output, &writer->records, &writer->record_capacity);
}
