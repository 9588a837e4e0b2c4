#include "seqio/seq_write.h"

#include <strings.h>

#include <cstring>

#include "common/ryx_exit.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/seq_record.h"

namespace {

const char *name_or_default(const seq_record_t *record) { return record->name != nullptr ? record->name : "seq"; }

bool ends_with(const char *path, size_t length, const char *suffix) {
  const size_t n = strlen(suffix);
  return length >= n && strcasecmp(path + length - n, suffix) == 0;
}

}  // namespace

void seq_record_write_fasta(FILE *out, const seq_record_t *record) {
  fprintf(out, ">%s\n", name_or_default(record));
  for (uint32_t i = 0; i < record->length; i += kFastaLineWidth) {
    uint32_t n = record->length - i < static_cast<uint32_t>(kFastaLineWidth) ? record->length - i : kFastaLineWidth;
    fwrite(record->residues + i, 1, n, out);
    fputc('\n', out);
  }
}

void seq_record_write_fastq(FILE *out, const seq_record_t *record, const seq_record_t *qualities) {
  if (qualities != nullptr && qualities->length != record->length) {
    fprintf(stderr, "Sequence and quality sequence have different lengths:\n");
    fprintf(stderr, "%s / %s\n", name_or_default(record), name_or_default(qualities));
    ryx_exit(1);
  }
  fprintf(out, "@%s\n", name_or_default(record));
  fwrite(record->residues, 1, record->length, out);
  fputs("\n+\n", out);
  const auto offset = static_cast<uint8_t>(fastq_get_output_quality_offset());
  uint8_t line[4096];
  for (uint32_t i = 0; i < record->length;) {
    uint32_t n = record->length - i < sizeof line ? record->length - i : static_cast<uint32_t>(sizeof line);
    for (uint32_t k = 0; k < n; k++)
      line[k] = static_cast<uint8_t>((qualities != nullptr ? qualities->residues[i + k] : 0) + offset);
    fwrite(line, 1, n, out);
    i += n;
  }
  fputc('\n', out);
}

int seq_path_is_fastq(const char *path) {
  const size_t length = strlen(path);
  return ends_with(path, length, ".fastq") || ends_with(path, length, ".fq") ? 1 : 0;
}
