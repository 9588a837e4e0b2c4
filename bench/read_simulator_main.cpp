// Writes a random reference and simulated reads that know where they came
// from, for the read-mapper benchmarks.
//
//   read_simulator [options] genome.fa reads.fq [mates.fq]
//
// Options (defaults in brackets):
//   --genome-size N      bases over all sequences [5000000]
//   --sequences K        sequences, of decreasing length [4]
//   --repeats R          planted repeat copies [0]
//   --repeat-length L    bases per repeat copy [500]
//   --reads N            reads, or read pairs with --pairs [1000000]
//   --length L           read length [100]
//   --pairs              read pairs: mate 1 and mate 2 interleaved in
//                        reads.fq, or mate 2 in mates.fq when given; the
//                        left mate is forward, the right one backward
//   --fragment MEAN SD   outer fragment length of pairs [300 30]
//   --substitution F     substitutions per read base [0.009]
//   --indel F            insertion or deletion starts per read base,
//                        1 to 3 bases each [0.001]
//   --seed S             [1]
//
// Each read is named r<index>[.<mate>]_s<sequence>_p<start>_<f|r>: the
// index of its genome sequence, the leftmost reference base it covers and
// whether it is the reverse complement. The output depends only on the
// options.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/read_simulation.h"

namespace {

[[noreturn]] void usage(const char *problem) {
  if (problem != nullptr) fprintf(stderr, "read_simulator: %s\n", problem);
  fprintf(stderr,
          "usage: read_simulator [--genome-size N] [--sequences K] [--repeats R] [--repeat-length L]\n"
          "                      [--reads N] [--length L] [--pairs] [--fragment MEAN SD]\n"
          "                      [--substitution F] [--indel F] [--seed S] genome.fa reads.fq [mates.fq]\n");
  exit(1);
}

unsigned long long whole_number(const char *text, unsigned long long low, unsigned long long high) {
  char *end = nullptr;
  const unsigned long long v = strtoull(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-' || v < low || v > high) {
    std::string problem = std::string("bad number '") + text + "'";
    usage(problem.c_str());
  }
  return v;
}

double fraction(const char *text) {
  char *end = nullptr;
  const double v = strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0 && v <= 1)) {
    std::string problem = std::string("bad fraction '") + text + "'";
    usage(problem.c_str());
  }
  return v;
}

FILE *create(const char *path) {
  FILE *f = fopen(path, "wb");
  if (f == nullptr) {
    fprintf(stderr, "read_simulator: cannot create '%s'\n", path);
    exit(1);
  }
  return f;
}

void finish(FILE *f, const char *path, bool ok) {
  if (fclose(f) != 0 || !ok) {
    fprintf(stderr, "read_simulator: error writing '%s'\n", path);
    remove(path);
    exit(1);
  }
}

}  // namespace

int main(int argc, char **argv) {
  GenomeSettings genome_settings;
  ReadSettings read_settings;
  unsigned long long count = 1000000;
  const char *paths[3] = {nullptr, nullptr, nullptr};
  int path_count = 0;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    auto value = [&](int k) -> const char * {
      if (i + k >= argc) usage((std::string(a) + " needs a value").c_str());
      return argv[i + k];
    };
    if (strcmp(a, "--genome-size") == 0) {
      genome_settings.size = whole_number(value(1), 1, 1ULL << 34), i++;
    } else if (strcmp(a, "--sequences") == 0) {
      genome_settings.sequences = static_cast<uint32_t>(whole_number(value(1), 1, 100000)), i++;
    } else if (strcmp(a, "--repeats") == 0) {
      genome_settings.repeats = static_cast<uint32_t>(whole_number(value(1), 0, 10000000)), i++;
    } else if (strcmp(a, "--repeat-length") == 0) {
      genome_settings.repeat_length = static_cast<uint32_t>(whole_number(value(1), 1, 100000000)), i++;
    } else if (strcmp(a, "--reads") == 0) {
      count = whole_number(value(1), 0, 1ULL << 40), i++;
    } else if (strcmp(a, "--length") == 0) {
      read_settings.length = static_cast<uint32_t>(whole_number(value(1), 1, 1000000)), i++;
    } else if (strcmp(a, "--pairs") == 0) {
      read_settings.pairs = true;
    } else if (strcmp(a, "--fragment") == 0) {
      read_settings.fragment_mean = static_cast<uint32_t>(whole_number(value(1), 1, 100000000));
      read_settings.fragment_sd = static_cast<uint32_t>(whole_number(value(2), 0, 100000000));
      i += 2;
    } else if (strcmp(a, "--substitution") == 0) {
      read_settings.substitution = fraction(value(1)), i++;
    } else if (strcmp(a, "--indel") == 0) {
      read_settings.indel = fraction(value(1)), i++;
    } else if (strcmp(a, "--seed") == 0) {
      genome_settings.seed = read_settings.seed = whole_number(value(1), 0, ~0ULL), i++;
    } else if (a[0] == '-' && a[1] != '\0') {
      usage((std::string("unknown option ") + a).c_str());
    } else if (path_count < 3) {
      paths[path_count++] = a;
    } else {
      usage("too many files");
    }
  }
  if (path_count < 2) usage("a genome file and a read file are needed");
  if (path_count == 3 && !read_settings.pairs) usage("a mate file needs --pairs");
  if (read_settings.pairs && read_settings.fragment_mean < read_settings.length)
    usage("the fragment must be at least as long as a read");

  const SimulatedGenome genome = simulate_genome(genome_settings);
  FILE *fasta = create(paths[0]);
  finish(fasta, paths[0], write_genome_fasta(genome, fasta));

  FILE *reads = create(paths[1]);
  FILE *mates = path_count == 3 ? create(paths[2]) : reads;
  bool ok = true;
  SimulatedRead first, second;
  for (unsigned long long i = 0; i < count && ok; i++) {
    simulate_read(genome, read_settings, i, &first, read_settings.pairs ? &second : nullptr);
    ok = write_fastq_record(first, reads);
    if (ok && read_settings.pairs) ok = write_fastq_record(second, mates);
  }
  if (mates != reads) finish(mates, paths[2], ok);
  finish(reads, paths[1], ok);
  return 0;
}
