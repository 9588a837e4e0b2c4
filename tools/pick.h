// ryx_pick: writes a random subset of the reads of a sequence file as FASTA
// or FASTQ. Each read, or each read pair when pairs are kept together, is
// kept with the given probability, decided by one draw of the run's random
// generator. The input streams through the threaded sequence parser, whose
// consumer thread calls the callbacks below one record (or pair) at a time
// in input order, so a seed selects the same reads whatever the number of
// workers. Qualities for FASTQ output come from the input records or from a
// separate FASTA quality file read in step with the reads.
#pragma once

#include <cstdint>
#include <cstdio>

class RandomState;
struct seq_reader_t;
struct seq_record_t;

// The fraction before -f is given: no valid fraction is this large.
constexpr double kPickFractionUnset = 2.0;
// The parser runs at most this many workers for ryx_pick.
constexpr int kPickMaxWorkers = 6;

// Settings from the command line; the paths are borrowed from argv.
struct pick_options_t {
  const char *output_path;       // the -o or -q file, or null
  int32_t fastq;                 // 1 after -q
  double fraction;               // keep probability, kPickFractionUnset until -f
  uint32_t seed;                 // the -r value, taken as 32 bits
  int32_t seed_given;
  int32_t paired;                // -p, or implied by -i
  const char *quality_paths[2];  // -s file, or -s -i file1 file2; null when absent
  int32_t interleave;            // -i
  const char *sequence_paths[2]; // the sequence file, or both files of -i
};

// The callbacks' context.
struct pick_state_t {
  FILE *out;
  RandomState *random;
  double fraction;          // strictly between 0 and 1
  int32_t fastq;            // 1 writes FASTQ, 0 FASTA
  seq_reader_t *qualities;  // quality records in read order, or null
};

// Prints the usage text with the version on standard output and ends the
// process with status 1.
[[noreturn]] void pick_print_usage();

// Reads the options and the sequence file(s) and checks them in a fixed
// order; any problem prints its message and the usage text on standard
// output and ends the process with status 1.
void pick_parse_command_line(int argc, char **argv, pick_options_t *options);

// Writes the picked reads to the output and returns 0. Fatal errors end the
// process with status 1: an output that is also an input, that cannot be
// created ("Problem opening output file %s\n" on standard output), written
// or closed, too few or too many quality records, and the sequence readers'
// own failures. A failed run leaves no output file behind (an earlier file
// of that name stays as it was).
int pick_run(const pick_options_t *options);

// The parser callbacks: one draw per read (per pair for the pair callbacks)
// keeps it when below the fraction. With a quality reader, one quality
// record per read is taken whether or not the read is kept; none left ends
// the process with "More nucleotide sequences than quality sequences.\n"
// and status 1, one of another length than its read with "Sequence and
// quality sequence have different lengths:\n" and both names. A failed write ends it with "Error writing output file\n"
// and status 1.
//
// Single reads: FASTA, or FASTQ with the quality reader's records.
void pick_on_read(seq_record_t *read, void *state);
// Single reads: FASTQ with the input's own quality record (null: the output
// offset alone for every base).
void pick_on_read_with_quality(seq_record_t *read, seq_record_t *quality, void *state);
// Pairs: FASTA, or FASTQ with the quality reader's records; read 1 first.
void pick_on_pair(seq_record_t *read1, seq_record_t *read2, void *state);
// Pairs: FASTQ with the input's own quality records.
void pick_on_pair_with_qualities(seq_record_t *read1, seq_record_t *quality1, seq_record_t *read2,
                                 seq_record_t *quality2, void *state);
