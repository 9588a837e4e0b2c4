// Simulated references and reads for the mapper benchmarks.
//
// A genome is a few random sequences, optionally with planted repeats; a
// read or read pair is drawn from it with substitutions and small
// insertions and deletions, and its name records where it came from, so
// that an evaluator can tell whether a mapper put it back in the right
// place. Everything is a pure function of the seed: the same settings give
// the same genome and the same reads on every machine, and read i depends
// only on the seed and i, so any prefix of a read set is the same whatever
// the read count.
//
// Codes are 0 A, 1 C, 2 G, 3 T.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A small, fast generator (xoshiro256** seeded through splitmix64) whose
// stream is fixed by its seed, unlike the distributions of the standard
// library.
class SimRandom {
 public:
  explicit SimRandom(uint64_t seed);
  uint64_t next();
  // Uniform in [0, n); n must be positive.
  uint64_t below(uint64_t n) { return next() % n; }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  // Normal with the given mean and standard deviation (Box-Muller).
  double normal(double mean, double sd);

 private:
  uint64_t s_[4];
};

struct GenomeSettings {
  uint64_t size = 5000000;       // bases over all sequences
  uint32_t sequences = 4;        // sequence i gets a share proportional to sequences - i
  uint32_t repeats = 0;          // planted copies
  uint32_t repeat_length = 500;  // bases per copy
  uint64_t seed = 1;
};

struct SimulatedGenome {
  std::vector<std::string> names;  // "seq0", "seq1", ...
  std::vector<std::vector<uint8_t>> sequences;
};

// Random sequences; every planted repeat copies a random stretch of one
// sequence over another place (every third copy reverse complemented).
// Ends the process with a message when the settings cannot be met (no
// sequences, or a sequence shorter than a repeat).
SimulatedGenome simulate_genome(const GenomeSettings &settings);

// Writes the genome as FASTA, 80 letters a line. Returns false when a
// write fails.
bool write_genome_fasta(const SimulatedGenome &genome, FILE *out);

struct ReadSettings {
  uint32_t length = 100;
  bool pairs = false;
  uint32_t fragment_mean = 300;  // pairs: outer fragment length
  uint32_t fragment_sd = 30;
  double substitution = 0.009;  // per read base
  double indel = 0.001;         // per read base, half insertions, half deletions, 1 to 3 bases
  uint64_t seed = 1;
};

// One simulated read and where it came from.
struct SimulatedRead {
  std::string name;
  std::vector<uint8_t> codes;
  uint32_t sequence = 0;  // index of the genome sequence
  uint32_t start = 0;     // leftmost reference base the read covers
  bool reverse = false;   // the read is the reverse complement of the reference
};

// Read i (or read pair i) of a read set. Single reads take a random strand;
// a pair is a fragment on a random strand whose first mate reads the
// fragment's start on its strand and whose second mate reads the other end
// on the other strand, so that the left mate is forward and the right one
// backward. The genome's sequences must be longer than the fragments
// (ends the process with a message otherwise).
void simulate_read(const SimulatedGenome &genome, const ReadSettings &settings, uint64_t index,
                   SimulatedRead *first, SimulatedRead *second);

// Name of a read: "r<index>_s<sequence>_p<start>_<f|r>" for single reads,
// "r<index>.<mate>_s..." for mates 1 and 2 of a pair.
std::string simulated_read_name(uint64_t index, int mate, uint32_t sequence, uint32_t start, bool reverse);

// Reads the origin back from a name (the text up to the first blank);
// false when the name is not one of ours.
bool parse_simulated_read_name(const char *name, uint32_t *sequence, uint32_t *start, bool *reverse);

// Writes one FASTQ record (qualities all 'I'). Returns false when a write
// fails.
bool write_fastq_record(const SimulatedRead &read, FILE *out);
