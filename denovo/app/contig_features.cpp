#include "denovo/app/contig_features.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/line_reader.h"
#include "common/memory.h"
#include "common/string_builder.h"
#include "common/string_util.h"
#include "seqio/seq_record.h"

namespace {

// A new ryx_malloc copy of the builder's text.
char *take_line(StringBuilder &builder) {
  const std::string text = builder.take();
  auto *out = static_cast<char *>(ryx_malloc(text.size() + 1));
  memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

const char *object_name(const seq_record_t *sequence) {
  return sequence != nullptr && sequence->name != nullptr ? sequence->name : "feature";
}

}  // namespace

feature_t *feature_new(void) {
  return feature_new_full(nullptr, nullptr, nullptr, -1, -1, 0, 0, -1, 0);
}

feature_t *feature_new_full(seq_record_t *sequence, const char *source, const char *type, int32_t start, int32_t end,
                            int32_t score, uint8_t strand, int8_t phase, uint16_t last_column) {
  auto *f = static_cast<feature_t *>(ryx_malloc(sizeof(feature_t)));
  f->sequence = sequence;
  f->source = source;
  f->type = type;
  f->start = start;
  f->end = end;
  f->score = score;
  f->strand = strand;
  f->phase = phase;
  f->last_column = last_column;
  f->free_callback = feature_free;
  return f;
}

feature_t *feature_free(feature_t *feature) {
  ryx_free(feature);
  return nullptr;
}

char *feature_format_gff_line(const feature_t *f) {
  StringBuilder b;
  const char *strand = f->strand == 1 ? "+" : f->strand == 255 ? "-" : ".";
  b.printf("%s\t%s\t%s\t%i\t%i\t%i\t%s\t", object_name(f->sequence),
           f->source != nullptr ? f->source : "unknown_source", f->type != nullptr ? f->type : "unknown_type",
           f->start, f->end, f->score, strand);
  if (f->phase == -1) {
    b.printf(".");
  } else {
    b.printf("%i", static_cast<int>(f->phase));
  }
  b.printf("\t%i\n", static_cast<int>(f->last_column));
  return take_line(b);
}

char *feature_format_gff_range(seq_record_t *sequence, const char *type, int32_t a, int32_t b) {
  // The score carries the direction of the walk: positive when the feature
  // was met from its start, negative when from its end; never 0.
  const int64_t score = b >= a ? static_cast<int64_t>(b) - a + 1 : static_cast<int64_t>(b) - a - 1;
  feature_t *f = feature_new_full(sequence, CONTIG_FEATURE_SOURCE, type, a < b ? a : b, a < b ? b : a,
                                  static_cast<int32_t>(score), 0, -1, 0);
  char *line = feature_format_gff_line(f);
  f->free_callback(f);
  return line;
}

void agp_write_header(FILE *file) { fputs("##agp-version\t2.0\n", file); }

char *agp_format_component_line(const seq_record_t *sequence, int32_t begin, int32_t end, int32_t part,
                                int32_t component) {
  StringBuilder b;
  const char *name = object_name(sequence);
  b.printf("%s\t%i\t%i\t%i\tW\t%s_%d\t1\t%i\t+\n", name, begin, end, part, name, component,
           static_cast<int32_t>(static_cast<int64_t>(end) - begin + 1));
  return take_line(b);
}

char *agp_format_gap_line(const seq_record_t *sequence, int32_t begin, int32_t end, int32_t part) {
  StringBuilder b;
  b.printf("%s\t%i\t%i\t%i\tN\t%i\tscaffold\tyes\tpaired-ends\n", object_name(sequence), begin, end, part,
           static_cast<int32_t>(static_cast<int64_t>(end) - begin + 1));
  return take_line(b);
}

array_list_t *agp_read_gap_lengths(const char *path) {
  line_reader_t *reader = line_reader_open(path);
  array_list_t *records = array_list_new(sizeof(agp_record_t));
  int line_number = 0;
  int64_t length;
  while ((length = line_reader_next(reader)) >= 0) {
    line_number++;
    array_list_t *words = string_split(reader->buffer);
    const uint64_t n = array_list_get_count(words);
    auto word = [&](uint64_t i) { return *static_cast<char **>(array_list_get_item(words, i)); };
    if (n == 9) {
      agp_record_t record;
      record.object = string_duplicate(word(0));
      record.begin = atol(word(1));
      record.end = atol(word(2));
      const bool gap = word(4)[0] == 'N';
      record.component_id = gap ? nullptr : string_duplicate(word(5));
      record.gap_length = gap ? atoi(word(5)) : -1;
      array_list_add(records, &record);
    } else if (length > 0 && reader->buffer[0] != '#') {
      printf("WARNING: line %d is not correctly formatted.", line_number);
    }
    for (uint64_t i = 0; i < n; i++) ryx_free(word(i));
    array_list_free(words);
  }
  line_reader_free(reader);
  return records;
}

array_list_t *agp_record_list_free(array_list_t *records) {
  if (records == nullptr) return nullptr;
  for (uint64_t i = 0; i < array_list_get_count(records); i++) {
    auto *r = static_cast<agp_record_t *>(array_list_get_item(records, i));
    ryx_free(r->object);
    ryx_free(r->component_id);
  }
  return array_list_free(records);
}
