// FASTA and FASTQ output, and the FASTQ file-name test.
//
// Write errors are not reported here; callers check the close result.
#pragma once

#include <cstdio>

struct seq_record_t;

// Residues per FASTA line.
constexpr int kFastaLineWidth = 60;

// '>', the name ("seq" for a record without one), a line feed, then the
// residue bytes as they are, 60 per line, each line ended by a line feed. A
// record of length 0 gives only the header line.
void seq_record_write_fasta(FILE *out, const seq_record_t *record);
// '@' and the name (or "seq"), the residue bytes, "+", then for each residue
// its quality value plus the output quality offset (only the offset without
// a quality record); every line ends with a line feed. A quality record of
// another length prints "Sequence and quality sequence have different
// lengths:\n" and "%s / %s\n" with both names to standard error and ends the
// process with status 1.
void seq_record_write_fastq(FILE *out, const seq_record_t *record, const seq_record_t *qualities);
// 1 when path ends in ".fastq" or ".fq", compared without regard to case;
// else 0.
int seq_path_is_fastq(const char *path);
