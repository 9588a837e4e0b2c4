#include "seqio/seq_format.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "seqio/abi_reader.h"
#include "seqio/colour_space_reader.h"
#include "seqio/fasta_offset_reader.h"
#include "seqio/fasta_quality_reader.h"
#include "seqio/fasta_reader.h"
#include "seqio/fastq_reader.h"
#include "seqio/genbank_reader.h"
#include "seqio/scarf_reader.h"
#include "seqio/seq_alphabet.h"
#include "seqio/sff_reader.h"
#include "seqio/solid_reader.h"

namespace {

// The colour-space readers turn their codes into letters for residue type 0
// and keep the codes for every other type.
seq_alphabet_t *alphabet_colour(uint32_t residue_type) {
  return seq_alphabet_dna_letters_unless(static_cast<int>(residue_type));
}

// Detection order: the first format whose content test fits wins. ABI and
// the offset file are never streamed.
const seq_format_t kFormats[] = {
    {kSeqFormatSolid, "SOLiD", solid_detect, solid_detect_gz, &kSolidFormatOps, &kSolidChunkOps, alphabet_colour},
    {kSeqFormatFastaQuality, "FASTA quality", fasta_qual_detect, fasta_qual_detect_gz, &kFastaQualFormatOps,
     &kFastaQualChunkOps, seq_format_alphabet_none},
    {kSeqFormatFasta, "FASTA", fasta_detect, fasta_detect_gz, &kFastaFormatOps, &kFastaChunkOps,
     seq_format_alphabet_by_type},
    {kSeqFormatCsfastq, "colour-space FASTQ", csfastq_detect, csfastq_detect_gz, &kCsfastqFormatOps,
     &kCsfastqChunkOps, alphabet_colour},
    {kSeqFormatFastq, "FASTQ", fastq_detect, fastq_detect_gz, &kFastqFormatOps, &kFastqChunkOps,
     seq_format_alphabet_by_type},
    {kSeqFormatGenbank, "GenBank", genbank_detect, genbank_detect_gz, &kGenbankFormatOps, &kGenbankChunkOps,
     seq_format_alphabet_by_type},
    {kSeqFormatSff, "SFF", sff_detect, sff_detect_gz, &kSffFormatOps, &kSffChunkOps, seq_format_alphabet_by_type},
    {kSeqFormatScarf, "Scarf", scarf_detect, scarf_detect_gz, &kScarfFormatOps, &kScarfChunkOps,
     seq_format_alphabet_by_type},
    {kSeqFormatAbi, "ABI", abi_detect, nullptr, &kAbiFormatOps, nullptr, seq_format_alphabet_by_type},
    {kSeqFormatFastaOffset, "FASTA offset", fof_detect, nullptr, &kFofFormatOps, nullptr,
     seq_format_alphabet_by_type},
};

constexpr int32_t kFormatCount = static_cast<int32_t>(sizeof kFormats / sizeof kFormats[0]);

}  // namespace

const seq_format_t *seq_format_table(int32_t *count) {
  *count = kFormatCount;
  return kFormats;
}

const seq_format_t *seq_format_by_bit(uint32_t bit) {
  for (const seq_format_t &format : kFormats)
    if (format.bit == bit) return &format;
  return nullptr;
}

uint32_t seq_format_detect(input_stream_t *stream) {
  for (const seq_format_t &format : kFormats) {
    if (format.detect == nullptr) continue;
    input_stream_seek(stream, 0, SEEK_SET);
    if (format.detect(stream)) return format.bit;
  }
  return 0;
}

seq_alphabet_t *seq_format_alphabet_by_type(uint32_t residue_type) { return seq_alphabet_for_type(residue_type); }

seq_alphabet_t *seq_format_alphabet_none(uint32_t) { return nullptr; }

const char *seq_stream_name(const input_stream_t *stream) {
  return stream->path != nullptr ? stream->path : kInputStreamUnnamed;
}

int seq_gz_getc(gzFile gz, const char *path) {
  int c = gzgetc(gz);
  if (c < 0) {
    int state = Z_OK;
    gzerror(gz, &state);
    if (state != Z_OK) {
      fprintf(stderr, "Problem reading sequence file %s\n", path);
      ryx_exit(1);
    }
  }
  return c;
}

int seq_skip_comments(input_stream_t *stream) {
  int c = input_stream_getc(stream);
  while (c == '#') {
    do c = input_stream_getc(stream);
    while (c >= 0 && c != '\n');
    if (c < 0) return c;
    c = input_stream_getc(stream);
  }
  return c;
}

int seq_skip_comments_gz(gzFile gz, const char *path) {
  int c = seq_gz_getc(gz, path);
  while (c == '#') {
    do c = seq_gz_getc(gz, path);
    while (c >= 0 && c != '\n');
    if (c < 0) return c;
    c = seq_gz_getc(gz, path);
  }
  return c;
}
