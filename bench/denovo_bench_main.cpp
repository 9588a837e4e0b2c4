// Data and scoring for the assembler benchmark.
//
//   denovo_bench simulate <folder> [genome bases [coverage [error rate]]]
//     writes genome.fa (one chromosome of random sequence with bacterial-like
//     repeats: for 3 Mbp, 36 copies of 12 repeat families of 1 to 6 kb and
//     five copies of one 5 kb rRNA-like operon, scaled with the size; a
//     third of the copies reverse complemented) and the read pairs r1.fq and r2.fq (2 x 100
//     bases, fragments of 300 +- 30, the left mate forward, at the given
//     coverage, default 40, and error rate, default 0.0075: nine tenths
//     substitutions, one tenth small insertions and deletions).
//   denovo_bench evaluate <genome.fa> <contigs.fa>
//     prints the contig count, N50, total and largest length, and the share
//     of contigs (and of contig bases) found exactly in the genome on
//     either strand.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/read_simulation.h"

namespace {

[[noreturn]] void usage() {
  fprintf(stderr,
          "usage: denovo_bench simulate <folder> [genome bases [coverage [error rate]]]\n"
          "       denovo_bench evaluate <genome.fa> <contigs.fa>\n");
  exit(1);
}

void reverse_complement(std::vector<uint8_t> *codes) {
  std::reverse(codes->begin(), codes->end());
  for (uint8_t &c : *codes) c = static_cast<uint8_t>(3 - c);
}

// Copies a repeat of the given length over count random places of the
// sequence, every third copy reverse complemented.
void plant(SimRandom *rng, std::vector<uint8_t> *sequence, uint32_t length, uint32_t count) {
  std::vector<uint8_t> unit(length);
  for (uint8_t &c : unit) c = static_cast<uint8_t>(rng->below(4));
  for (uint32_t i = 0; i < count; i++) {
    std::vector<uint8_t> copy = unit;
    if (i % 3 == 2) reverse_complement(&copy);
    const uint64_t at = rng->below(sequence->size() - length);
    std::copy(copy.begin(), copy.end(), sequence->begin() + static_cast<int64_t>(at));
  }
}

int simulate(int argc, char **argv) {
  if (argc < 3) usage();
  const std::string folder = argv[2];
  const uint64_t size = argc > 3 ? strtoull(argv[3], nullptr, 10) : 3000000;
  const double coverage = argc > 4 ? atof(argv[4]) : 40.0;
  const double error = argc > 5 ? atof(argv[5]) : 0.0075;
  if (size < 100000 || coverage <= 0 || error < 0 || error > 0.1) usage();

  SimRandom rng(2024);
  SimulatedGenome genome;
  genome.names.push_back("chromosome");
  genome.sequences.emplace_back(size);
  for (uint8_t &c : genome.sequences[0]) c = static_cast<uint8_t>(rng.below(4));
  // The repeat load of a 3 Mbp genome, scaled to the size asked for.
  const uint64_t families = std::max<uint64_t>(1, 12 * size / 3000000);
  const auto operons = static_cast<uint32_t>(std::max<uint64_t>(2, 5 * size / 3000000));
  for (uint64_t family = 0; family < families; family++) {
    plant(&rng, &genome.sequences[0], static_cast<uint32_t>(1000 + rng.below(5001)), 3);
  }
  plant(&rng, &genome.sequences[0], 5000, operons);

  FILE *out = fopen((folder + "/genome.fa").c_str(), "w");
  if (out == nullptr || !write_genome_fasta(genome, out) || fclose(out) != 0) {
    fprintf(stderr, "cannot write %s/genome.fa\n", folder.c_str());
    return 1;
  }
  ReadSettings reads;
  reads.length = 100;
  reads.pairs = true;
  reads.fragment_mean = 300;
  reads.fragment_sd = 30;
  reads.substitution = error * 0.9;
  reads.indel = error * 0.1;
  reads.seed = 7;
  const auto pairs = static_cast<uint64_t>(coverage * static_cast<double>(size) / 200.0);
  FILE *left = fopen((folder + "/r1.fq").c_str(), "w");
  FILE *right = fopen((folder + "/r2.fq").c_str(), "w");
  if (left == nullptr || right == nullptr) {
    fprintf(stderr, "cannot write the reads in %s\n", folder.c_str());
    return 1;
  }
  for (uint64_t i = 0; i < pairs; i++) {
    SimulatedRead a, b;
    simulate_read(genome, reads, i, &a, &b);
    if (!write_fastq_record(a, left) || !write_fastq_record(b, right)) {
      fprintf(stderr, "cannot write the reads in %s\n", folder.c_str());
      return 1;
    }
  }
  if (fclose(left) != 0 || fclose(right) != 0) return 1;
  printf("genome %llu bases, %llu pairs of 2 x 100 bases (%.0fx), error rate %.4f\n",
         static_cast<unsigned long long>(size), static_cast<unsigned long long>(pairs), coverage, error);
  return 0;
}

// The sequences of a FASTA file, upper case.
std::vector<std::string> read_fasta(const char *path) {
  std::vector<std::string> sequences;
  FILE *in = fopen(path, "r");
  if (in == nullptr) {
    fprintf(stderr, "cannot read %s\n", path);
    exit(1);
  }
  char line[4096];
  while (fgets(line, sizeof(line), in) != nullptr) {
    if (line[0] == '>') {
      sequences.emplace_back();
      continue;
    }
    if (sequences.empty()) continue;
    for (char *p = line; *p != '\0' && *p != '\n'; p++) sequences.back() += static_cast<char>(toupper(*p));
  }
  fclose(in);
  return sequences;
}

std::string reverse_complement(const std::string &s) {
  std::string r(s.rbegin(), s.rend());
  for (char &c : r) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : c == 'T' ? 'A' : 'N';
  return r;
}

int evaluate(int argc, char **argv) {
  if (argc != 4) usage();
  const std::vector<std::string> genome = read_fasta(argv[2]);
  const std::vector<std::string> contigs = read_fasta(argv[3]);
  std::vector<uint64_t> lengths;
  uint64_t total = 0;
  uint64_t exact = 0;
  uint64_t exact_bases = 0;
  for (const std::string &c : contigs) {
    lengths.push_back(c.size());
    total += c.size();
    const std::string r = reverse_complement(c);
    bool found = false;
    for (const std::string &g : genome) {
      if (g.find(c) != std::string::npos || g.find(r) != std::string::npos) {
        found = true;
        break;
      }
    }
    exact += found;
    exact_bases += found ? c.size() : 0;
  }
  std::sort(lengths.rbegin(), lengths.rend());
  uint64_t n50 = 0;
  uint64_t running = 0;
  for (uint64_t l : lengths) {
    running += l;
    if (2 * running >= total) {
      n50 = l;
      break;
    }
  }
  uint64_t genome_bases = 0;
  for (const std::string &g : genome) genome_bases += g.size();
  printf("contigs: %zu\n", contigs.size());
  printf("N50: %llu\n", static_cast<unsigned long long>(n50));
  printf("total length: %llu (%.1f %% of the genome)\n", static_cast<unsigned long long>(total),
         genome_bases > 0 ? 100.0 * static_cast<double>(total) / static_cast<double>(genome_bases) : 0.0);
  printf("largest: %llu\n", static_cast<unsigned long long>(lengths.empty() ? 0 : lengths[0]));
  printf("exact contigs: %.1f %% (%.1f %% of contig bases)\n",
         contigs.empty() ? 0.0 : 100.0 * static_cast<double>(exact) / static_cast<double>(contigs.size()),
         total == 0 ? 0.0 : 100.0 * static_cast<double>(exact_bases) / static_cast<double>(total));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) usage();
  if (strcmp(argv[1], "simulate") == 0) return simulate(argc, argv);
  if (strcmp(argv[1], "evaluate") == 0) return evaluate(argc, argv);
  usage();
}
