// The assembler end to end: usage text and the bad command lines with their
// messages and status, read files that cannot be read, the automatic word
// size, single-end assemblies of a simulated genome checked against it,
// saving and loading every stage, resumes with another word size, and the
// same contigs for any number of threads.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/read_simulation.h"
#include "common/cpus.h"
#include "common/version.h"
#include "test_support.h"
#include "tests/denovo/app/denovo_program_util.h"

namespace {

using ryx_test::dir_names;
using ryx_test::file_exists;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using namespace denovo_program;

std::string usage_text() {
  char *version = version_get_string("ryx_assembly_version");
  std::string text =
      "\n"
      "usage: ryx_denovo [options]\n\n"
      "  Assemble some reads and output contig sequences in fasta format.\n\n"
      "Options:\n\n"
      "  -h / --help: Display this message\n\n"
      "  -q / --reads: The files following this option are read files. Fasta, fastq,\n"
      "     and sff formats are allowed. (may be used several times)\n\n"
      "  -i <file1> <file2> / --interleave <file1> <file2>: Interleave the sequences\n"
      "     in two files, alternating between the files when reading the\n"
      "     sequences. Only valid for read files. (may be used several times)\n\n"
      "  -o <file> / --output <file>: Give the output fasta file (required)\n\n"
      "  -f <file> / --feature_output <file>: Output scaffolding annotation in\n"
      "     GFF (default) or AGP format. The file suffix is used to determine the\n"
      "     output format. Use '.gff' for GFF format and '.agp' for AGP format.\n\n"
      "  -m <n> / --min-length <n>: Set the minimum contig/scaffold length to output\n"
      "     (default = 200)\n\n"
      "  -w <n> / --wordsize <n>: Set the word size for the de Bruijn graph (default\n"
      "     is automatic based on input data size)\n\n"
      "  -b <n> / --bubblesize <n>: Set the maximum bubble size for the de Bruijn graph\n"
      "     (default is 50)\n\n"
      "  --cpus <n>: Set the number of cpus to use.\n\n"
      "  -v / --verbose: Output various information while running.\n\n"
      "  -p <par> / --paired <par>: Set the paired read mode for the read files\n"
      "     following this option. (may be used several times)\n\n"
      "     par consists of four strings: <mode> <dist_mode> <min_dist> <max_dist>\n\n"
      "     mode is ff, fb, bf, bb and sets the relative orientation of read one and\n"
      "     two in a pair (f = forward, b = backward)\n\n"
      "     dist_mode is ss, se, es, ee and sets the place on read one and two to\n"
      "     measure the distance (s = start, e = end).\n\n"
      "     A typical use would be \"-p fb ss 180 250\" which means that the reads are\n"
      "     inverted and pointing towards each other. The distance includes both the\n"
      "     reads and the sequence between them. The distance may be between 180 and\n"
      "     250, both included.\n\n"
      "     It is also allowed to insert a \"d\" before the mode. This indicates that\n"
      "     the reads in the following file(s) should only be used for their paired end\n"
      "     information and not to build initial contigs. E.g. \"-p d fb ss 180 250\".\n\n"
      "     To explicitly say that the following reads are not paired, use \"no\" for\n"
      "     par, i.e. \"-p no\".\n\n"
      "     For paired end reads split in two files, use the -i option.\n\n"
      "  -e <file> / --estimatedistances <file> Estimate paired distances for all paired\n"
      "     reads and save the distance estimates in <file>. If it is not possible to\n"
      "     get an accurate distance estimate for a file, the original paired distance\n"
      "     is used.\n\n"
      "  -g <mode> / --fragmentmode <mode>: Set the mode for how reads are used to\n"
      "     create fragments. One mode is \"ignore\", which ignores the nucleotides\n"
      "     when building initial fragments. The other mode is \"use\", which uses\n"
      "     the nucleotides when building initial fragments. This is the default mode.\n"
      "     The mode applies to all read files following this option. The option may be\n"
      "     used repeatedly.\n\n"
      "  -n / --no-scaffolding: Pair info is used for contig creation, but no\n"
      "     scaffolding is performed.\n\n"
      "Examples:\n\n"
      "  Assembly of a single file with reads:\n\n"
      "    ryx_denovo -o contigs.fasta -q reads.fasta\n\n"
      "  Assembly of two interleaved files with paired end reads:\n\n"
      "    ryx_denovo -o contigs.fasta -p fb ss 180 250 -q -i reads1.fq reads2.fq\n\n"
      "Version: " +
      std::string(version) + "\n\n";
  version_free_string(version);
  return text;
}

// ---------------------------------------------------------------- genomes

// One random sequence of the given length.
SimulatedGenome genome_of(uint64_t size, uint64_t seed) {
  GenomeSettings g;
  g.size = size;
  g.sequences = 1;
  g.seed = seed;
  return simulate_genome(g);
}

// count reads (or pairs) at the error rate, as FASTQ; pairs go to path and
// path2 as mates 1 and 2.
void write_reads(const SimulatedGenome &genome, uint64_t count, double error, uint64_t seed, const std::string &path,
                 const std::string &path2 = "") {
  ReadSettings r;
  r.pairs = !path2.empty();
  r.substitution = error * 0.9;
  r.indel = error * 0.1;
  r.seed = seed;
  FILE *out = fopen(path.c_str(), "w");
  FILE *out2 = r.pairs ? fopen(path2.c_str(), "w") : nullptr;
  for (uint64_t i = 0; i < count; i++) {
    SimulatedRead a, b;
    simulate_read(genome, r, i, &a, &b);
    write_fastq_record(a, out);
    if (out2 != nullptr) write_fastq_record(b, out2);
  }
  fclose(out);
  if (out2 != nullptr) fclose(out2);
}

// Edit distance of the contig against the genome stretch it lies on, found
// through an anchoring 24-mer and aligned in a band around that diagonal;
// -1 when no anchor is found on either strand.
int64_t edits_against(const std::string &contig, const std::string &genome) {
  constexpr int64_t kAnchor = 24;
  constexpr int64_t kBand = 40;
  for (const std::string &c : {contig, reverse_complement(contig)}) {
    for (int64_t i = 0; i + kAnchor <= static_cast<int64_t>(c.size()); i += 97) {
      const size_t g = genome.find(c.substr(static_cast<size_t>(i), kAnchor));
      if (g == std::string::npos) continue;
      const int64_t diagonal = static_cast<int64_t>(g) - i;
      const int64_t n = static_cast<int64_t>(c.size());
      const int64_t m = static_cast<int64_t>(genome.size());
      // d[j][k]: contig prefix j against genome prefix diagonal + j + k - kBand.
      const int64_t width = 2 * kBand + 1;
      const int64_t inf = INT64_MAX / 4;
      std::vector<int64_t> prev(width, inf), cur(width, inf);
      for (int64_t k = 0; k < width; k++) {
        if (diagonal + k - kBand >= 0 && k - kBand >= 0) prev[k] = k - kBand;  // genome bases before the contig
      }
      prev[kBand] = 0;
      for (int64_t j = 1; j <= n; j++) {
        for (int64_t k = 0; k < width; k++) {
          const int64_t gpos = diagonal + j + k - kBand;  // genome prefix length
          int64_t best = inf;
          if (gpos >= 1 && gpos <= m) {
            const int64_t sub = prev[k] + (c[j - 1] == genome[gpos - 1] ? 0 : 1);
            best = std::min(best, sub);
            if (k > 0) best = std::min(best, cur[k - 1] + 1);  // genome base not in the contig
          }
          if (k + 1 < width) best = std::min(best, prev[k + 1] + 1);  // contig base not in the genome
          cur[k] = best;
        }
        std::swap(prev, cur);
      }
      return *std::min_element(prev.begin(), prev.end());
    }
  }
  return -1;
}

// Checks the contig file of a run against the genome: names contig_1 on,
// lines of at most 60, every contig an exact substring (errors 0) or at
// least 99 % identical, 95 to 105 % of the genome in total, the longest
// at least half of it.
void expect_assembly_of(const std::string &path, const std::string &genome, bool exact) {
  size_t longest_line = 0;
  const std::vector<Contig> contigs = read_fasta(path, &longest_line);
  ASSERT_FALSE(contigs.empty());
  EXPECT_LE(longest_line, 60u);
  uint64_t total = 0;
  size_t longest = 0;
  for (size_t i = 0; i < contigs.size(); i++) {
    const Contig &c = contigs[i];
    EXPECT_EQ(c.name, "contig_" + std::to_string(i + 1));
    EXPECT_GE(c.sequence.size(), 200u);
    total += c.sequence.size();
    longest = std::max(longest, c.sequence.size());
    if (exact) {
      EXPECT_TRUE(genome.find(c.sequence) != std::string::npos ||
                  genome.find(reverse_complement(c.sequence)) != std::string::npos)
          << c.name << " is not a substring of the genome";
    } else {
      const int64_t edits = edits_against(c.sequence, genome);
      ASSERT_GE(edits, 0) << c.name << " lies nowhere on the genome";
      EXPECT_LE(static_cast<double>(edits), 0.01 * static_cast<double>(c.sequence.size())) << c.name;
    }
  }
  EXPECT_GE(total, genome.size() * 95 / 100);
  EXPECT_LE(total, genome.size() * 105 / 100);
  EXPECT_GE(longest, genome.size() / 2);
}

// ---------------------------------------------------------------- usage

TEST(DenovoProgram, UsageText) {
  for (const auto &words : std::vector<std::vector<std::string>>{{"-h"}, {"--help", "-o", "x"}}) {
    const RunResult r = denovo(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(r.err, "");
  }
}

// Every problem of the command line: its message on standard output, then
// the usage text, status 1, and no output file.
TEST(DenovoProgram, BadCommandLines) {
  ScratchDir dir;
  const std::string reads = dir.file("reads.fa");
  write_file(reads, ">r1\nACGTACGTACGTACGTACGTAAACCCGGGTTT\n>r2\nTTTGGGCCCAAACGTACGTACGTACGTACGT\n");
  const std::string out = dir.file("out.fa");
  const std::string cpus = std::to_string(get_system_number_of_cpus());
  const std::string too_many = std::to_string(get_system_number_of_cpus() + 1);
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{}, "No read files"},
      {{reads}, "File type not set for " + reads + "\n"},
      {{"-o", out, "--frobnicate", "-q", reads}, "Unrecognized option --frobnicate\n"},
      {{"-o", out, "-o", out, "-q", reads}, "Only one output file allowed"},
      {{"-q", reads, "-o"}, "No output file set after -o option\n"},
      {{"-o", out, "-f", "a.gff", "--feature_output", "b.gff", "-q", reads}, "Only one feature output file allowed"},
      {{"-o", out, "-p", "fb", "ss", "180"}, "wrong paired parameters"},
      {{"-o", out, "-p", "fx", "ss", "180", "250", "-q", reads}, "wrong paired parameters"},
      {{"-o", out, "-p", "fb", "ss", "180", "2x0", "-q", reads}, "wrong paired parameters"},
      {{"-o", out, "-p"}, "wrong paired parameters"},
      // No distance lies in a range whose minimum is above its maximum.
      {{"-o", out, "-p", "fb", "ss", "600", "400", "-q", reads}, "wrong paired parameters"},
      {{"-o", out, "-p", "d", "fb", "ss", "-1", "400", "-q", reads}, "wrong paired parameters"},
      {{"-o", out, "-g", "sometimes", "-q", reads}, "Wrong fragment mode"},
      {{"-o", out, "-q", reads, "-g"}, "No fragment mode set"},
      {{"-o", out, "-b", "0", "-q", reads}, "Minumum bubble size is 1"},
      {{"-o", out, "-b", "x", "-q", reads}, ""},
      {{"-o", out, "-m", "12a", "-q", reads}, ""},
      {{"-o", out, "-w", "z", "-q", reads}, ""},
      {{"-o", out, "--cpus", "-1", "-q", reads}, "Must specify a positive number of cpu's."},
      {{"-o", out, "--cpus", too_many, "-q", reads}, "Maximum number of cpu's is " + cpus + "."},
      // A malformed count is a problem of its own option at once.
      {{"-o", out, "--cpus", "two", "-m", "100", "-q", reads}, ""},
      {{"-o", out, "-f", "x.gff", "-q", reads}, "Feature output file specified but there's no paired reads "
                                                "information available for scaffolding"},
      {{"-q", reads}, "No output file"},
      {{"--loadreads", "l", "--savefragments", "s", "-q", reads},
       "Cannot save output at an earlier stage than load stage"},
      {{"--loadreads", "l", "--savereads", "s", "-q", reads},
       "Cannot save output at an earlier stage than load stage"},
      {{"--savereads", "a", "--savereads", "b", "-q", reads}, "Error, option --savereads defined twice"},
      {{"-q", reads, "--savefragments"}, "No fragment file set after --savefragments option\n"},
      {{"-q", reads, "--savereadgraph"}, "No file set after --savereadgraph option\n"},
      {{"--loadreads", "a", "--loadfragments", "b", "-q", reads}, "Error, multiple load files set"},
      {{"-q", reads, "--loadinitialgraph"}, "No file set after --loadinitialgraph option\n"},
      {{"-o", out, "-i", reads, reads}, "Interleaved files only valid for reads"},
      {{"-o", out, "-q", "-i", reads}, "Give two file names for the interleaved option"},
      {{"-o", out, "-e", "a", "-e", "b", "-q", reads}, "The -e option can only be given once.\n"},
      {{"-o", out, "-q", reads, "--estimatedistances"}, "No output file set after the --estimatedistances option\n"},
      {{"-o", out, "--reference", "a", "--reference", "b", "-q", reads}, "Only one reference file allowed"},
      {{"-o", out, "--memoryusage", "a", "--memoryusage", "b", "-q", reads}, "Only one memory usage file allowed"},
      {{"-o", out, "--savegraph", "a", "--savegraph", "b", "-q", reads}, "Only one graph file allowed"},
      // The word size is checked once the reads are loaded.
      {{"-o", out, "-w", "11", "-q", reads}, "Minimum word size is 12"},
      {{"-o", out, "-w", "65", "-q", reads}, "Maximum word size is 64"},
  };
  for (const auto &c : cases) {
    std::string shown;
    for (const auto &w : c.words) shown += w + " ";
    SCOPED_TRACE(shown);
    const RunResult r = denovo(c.words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(without_progress(r.out), c.message + usage_text());
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(file_exists(out));
  }
  EXPECT_EQ(dir_names(dir.path()), std::vector<std::string>{"reads.fa"});
}

// Read files that cannot be read: a message on standard error, status 1,
// no output and no temporary file left behind.
TEST(DenovoProgram, UnreadableReadFiles) {
  ScratchDir dir;
  const std::string out = dir.file("out.fa");
  write_file(dir.file("cut.fq"), "@r1\nACGTACGT\n+\nIIII");
  write_file(dir.file("empty.fa"), "");
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
  struct Case {
    std::string file;
    std::string message;
  } cases[] = {
      {dir.file("missing.fq"), "Problem opening sequence file " + dir.file("missing.fq") + "\n"},
      {dir.file("cut.fq"), "Fastq format error EOF in file " + dir.file("cut.fq") + "\n"},
      {dir.file("folder"), "Problem reading sequence file " + dir.file("folder") + "\n"},
      {dir.file("empty.fa"), "\nNo result found\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    const RunResult r = denovo({"-o", out, "-q", c.file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_EQ(dir_names(dir.path()), (std::vector<std::string>{"cut.fq", "empty.fa", "folder"}));
}

// Outputs that cannot be created end the run before any stage, with
// nothing left behind.
TEST(DenovoProgram, UnwritableOutputs) {
  ScratchDir dir;
  const std::string reads = dir.file("reads.fa");
  write_file(reads, ">r1\nACGTACGTACGTACGTACGTAAACCCGGGTTT\n");
  const std::string nowhere = dir.file("missing/out");
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"-o", nowhere, "-q", reads}, "Problem opening file: " + nowhere + "\n"},
      {{"-o", dir.file("out.fa"), "-f", nowhere, "-p", "fb", "ss", "1", "9", "-q", reads},
       "Problem opening feature file: " + nowhere + "\n"},
      {{"-o", dir.file("out.fa"), "--memoryusage", nowhere, "-q", reads},
       "Could not open file " + nowhere + " for writing\n"},
  };
  for (const auto &c : cases) {
    const RunResult r = denovo(c.words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out.find("Progress"), std::string::npos);
  }
  EXPECT_EQ(dir_names(dir.path()), std::vector<std::string>{"reads.fa"});
}

// The automatic word size at the edges of its first steps, shown in the
// verbose summary; the run stops after saving the fragments.
TEST(DenovoProgram, AutomaticWordSizeBoundaries) {
  ScratchDir dir;
  const SimulatedGenome genome = genome_of(300000, 11);
  const std::string g = letters(genome.sequences[0]);
  struct Case {
    uint64_t nucleotides;
    int word_size;
  } cases[] = {{30000, 12}, {30001, 13}, {270008, 14}, {270009, 15}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.nucleotides);
    // Reads of 100 bases and one shorter read make up the exact count.
    std::string fasta;
    uint64_t left = c.nucleotides;
    for (uint64_t i = 0; left > 0; i++) {
      const uint64_t n = std::min<uint64_t>(100, left);
      fasta += ">r" + std::to_string(i) + "\n" + g.substr((i * 37) % (g.size() - 100), n) + "\n";
      left -= n;
    }
    const std::string reads = dir.file("reads.fa");
    write_file(reads, fasta);
    const RunResult r = denovo({"-v", "--savefragments", dir.file("f.fa"), "-q", reads});
    ASSERT_EQ(r.status, 0) << r.err;
    char line[64];
    snprintf(line, sizeof(line), "Word size:        %12d\n", c.word_size);
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    char count[64];
    snprintf(count, sizeof(count), "Nucleotide count: %12llu\n", static_cast<unsigned long long>(c.nucleotides));
    EXPECT_NE(r.out.find(count), std::string::npos);
    EXPECT_NE(r.out.find("Fragment file saved. Quitting...\n"), std::string::npos);
    EXPECT_NE(read_file(dir.file("f.fa")).find(" word_size=" + std::to_string(c.word_size) + "\n"),
              std::string::npos);
  }
}

// ---------------------------------------------------------------- assemblies

// A 50 kb genome from error-free reads (every contig exact) and from reads
// with 1 % errors (every contig at least 99 % identical).
TEST(DenovoProgram, AssemblesReadsWithAndWithoutErrors) {
  const struct {
    uint64_t genome_seed;
    double error_rate;
    uint64_t read_seed;
    bool exact;
  } cases[] = {{5, 0.0, 6, true}, {7, 0.01, 8, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.error_rate);
    ScratchDir dir;
    const SimulatedGenome genome = genome_of(50000, c.genome_seed);
    write_reads(genome, 20000, c.error_rate, c.read_seed, dir.file("reads.fq"));
    const RunResult r = denovo({"-o", dir.file("contigs.fa"), "-q", dir.file("reads.fq")});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_assembly_of(dir.file("contigs.fa"), letters(genome.sequences[0]), c.exact);
  }
}

// Reads with and without errors give the same read table and contigs for
// any number of threads and on every run. With errors the word counter's
// approximate counts come from random draws, and the fragments built from
// them would show any dependence of those draws on the threads' timing.
TEST(DenovoProgram, SameContigsForAnyThreadCount) {
  ScratchDir dir;
  const SimulatedGenome genome = genome_of(20000, 9);
  write_reads(genome, 8000, 0.0, 10, dir.file("clean.fq"));
  write_reads(genome, 8000, 0.01, 10, dir.file("noisy.fq"));
  const int most = std::min(8, get_system_number_of_cpus());
  struct Case {
    const char *reads;
    std::vector<int> cpus;
  } cases[] = {{"clean.fq", {1, most, 1, 2}}, {"noisy.fq", {1, most, 1, 2, most}}};
  for (const auto &c : cases) {
    std::string first_contigs, first_table;
    for (int cpus : c.cpus) {
      SCOPED_TRACE(std::string(c.reads) + " " + std::to_string(cpus));
      const std::string out = dir.file("contigs.fa");
      const std::string table = dir.file("reads.stage");
      const std::vector<std::string> input = {"--cpus", std::to_string(cpus), "-q", dir.file(c.reads)};
      std::vector<std::string> words = {"-o", out, "--savereads", table};
      words.insert(words.end(), input.begin(), input.end());
      ASSERT_EQ(denovo(words).status, 0);
      if (first_contigs.empty()) {
        first_contigs = read_file(out);
        first_table = read_file(table);
        ASSERT_FALSE(first_contigs.empty());
      } else {
        EXPECT_EQ(read_file(out), first_contigs);
        EXPECT_EQ(read_file(table), first_table);
      }
    }
  }
}

// The hidden reports: the reference score report on standard output, the
// memory report in its file; a run that loads mapped reads has no
// reference path and says so.
TEST(DenovoProgram, ReportsOnRequest) {
  ScratchDir dir;
  const SimulatedGenome genome = genome_of(20000, 15);
  FILE *g = fopen(dir.file("genome.fa").c_str(), "w");
  write_genome_fasta(genome, g);
  fclose(g);
  write_reads(genome, 8000, 0.0, 16, dir.file("reads.fq"));
  const RunResult r = denovo({"-o", dir.file("c.fa"), "--reference", dir.file("genome.fa"), "--memoryusage",
                              dir.file("memory.txt"), "--savereads", dir.file("reads.stage"), "--savegraph",
                              dir.file("graph"), "-q", dir.file("reads.fq")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Reference:"), std::string::npos);
  EXPECT_NE(r.out.find("Total score:"), std::string::npos);
  const std::string memory = read_file(dir.file("memory.txt"));
  EXPECT_EQ(memory.find("HASH TABLE (deleted after fragments has been created):\n3x hash table size: "), 0u);
  EXPECT_NE(memory.find("\nREAD_TABLE:\nread info: "), std::string::npos);
  for (const char *graph : {"graph_fragment.gexf", "graph_contig.gexf"}) {
    EXPECT_EQ(read_file(dir.file(graph)).substr(0, 5), "<?xml") << graph;
  }

  const RunResult loaded = denovo({"-o", dir.file("c2.fa"), "--reference", dir.file("genome.fa"), "--loadreads",
                                   dir.file("reads.stage"), "-q", dir.file("reads.fq")});
  ASSERT_EQ(loaded.status, 0);
  EXPECT_EQ(loaded.err, "Note: no reference score report when the reads are loaded from a stage file\n");
  EXPECT_EQ(loaded.out.find("Reference:"), std::string::npos);
  EXPECT_EQ(read_file(dir.file("c2.fa")), read_file(dir.file("c.fa")));
}

// ---------------------------------------------------------------- stages

// Error-free paired reads in two entries, so that a feature file may be
// asked for and every thread count gives the same fragments; two holes that
// no read covers make scaffolds with N runs.
struct PairedRun {
  ScratchDir dir;
  std::string reads1 = dir.file("r1.fq");
  std::string reads2 = dir.file("r2.fq");
  std::string reads3 = dir.file("r3.fq");
  std::string reads4 = dir.file("r4.fq");
  std::vector<std::string> input = {"-p", "fb", "ss", "400", "600", "-q", "-i", reads1, reads2, "-i", reads3, reads4};

  PairedRun() {
    const Genome genome = make_genome(12, 24000, 0, {}, {8000, 16000});
    write_pairs(genome, 1800, 500, 25, 13, reads1, reads2);
    write_pairs(genome, 1800, 500, 25, 14, reads3, reads4);
  }
  std::vector<std::string> with(std::vector<std::string> words, bool reads = true) const {
    if (reads) words.insert(words.end(), input.begin(), input.end());
    return words;
  }
};

const char *const kSaves[] = {"", "--savefragments", "--savereads", "--saveinitialgraph", "--savereadgraph",
                              "--savepairedgraph"};
const char *const kLoads[] = {"", "--loadfragments", "--loadreads", "--loadinitialgraph", "--loadreadgraph",
                              "--loadpairedgraph"};

// A run that saves every stage on its way writes the contigs and feature
// file of a straight run; resuming from each stage file gives them again
// byte for byte, with one thread (GFF) and with four (AGP, with the
// distances estimated, which a resume before stage 5 repeats). A save of the
// last stage to reach ends the run with its message and the same stage
// file. Eight threads give the contigs of one.
TEST(DenovoProgram, EveryStageSavedAndLoadedGivesTheSameOutput) {
  PairedRun p;
  const char *quits[] = {"",
                         "Fragment file saved. Quitting...\n",
                         "Read file saved. Quitting...\n",
                         "\nInitial de Bruijn graph file saved. Quitting...\n",
                         "Read optimized de Bruijn graph file saved. Quitting...\n",
                         "Paired optimized de Bruijn graph file saved. Quitting...\n"};
  struct Case {
    int cpus;
    std::string feature;
    bool estimate;  // with -e: the estimates feed the paired stage
  } cases[] = {{1, ".gff", false}, {4, ".agp", true}};
  std::string first_fasta, first_feature;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.cpus);
    const std::string cpus = std::to_string(c.cpus);
    const std::string tag = "c" + cpus + "_";
    const std::string fasta = p.dir.file(tag + "all.fa");
    const std::string feature = p.dir.file(tag + "all" + c.feature);
    std::vector<std::string> words = {"--cpus", cpus, "-o", fasta, "-f", feature};
    const std::string estimates = p.dir.file(tag + "estimates.txt");
    if (c.estimate) words.insert(words.end(), {"-e", estimates});
    for (int stage = 1; stage <= 5; stage++) {
      words.push_back(kSaves[stage]);
      words.push_back(p.dir.file(tag + "stage" + std::to_string(stage)));
    }
    const RunResult whole = denovo(p.with(words));
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string want_fasta = read_file(fasta);
    const std::string want_feature = read_file(feature);
    const std::string want_estimates = c.estimate ? read_file(estimates) : "";
    if (c.estimate) {
      EXPECT_EQ(std::count(want_estimates.begin(), want_estimates.end(), '\n'), 2) << want_estimates;
    }
    ASSERT_FALSE(want_fasta.empty());
    if (c.feature == ".agp") {
      EXPECT_EQ(want_feature.substr(0, 18), "##agp-version\t2.0\n");
      EXPECT_NE(want_feature.find("\tN\t"), std::string::npos) << want_feature;
    } else {
      EXPECT_NE(want_feature.find("\tScaffold\t"), std::string::npos) << want_feature;
      first_fasta = want_fasta;
      first_feature = want_feature;
    }
    for (int stage = 1; stage <= 5; stage++) {
      SCOPED_TRACE(stage);
      const std::string stage_file = p.dir.file(tag + "stage" + std::to_string(stage));
      const std::string out = p.dir.file(tag + "s" + std::to_string(stage) + ".fa");
      const std::string out_feature = p.dir.file(tag + "s" + std::to_string(stage) + c.feature);
      std::vector<std::string> load = {"--cpus", cpus, kLoads[stage], stage_file, "-o", out, "-f", out_feature};
      const std::string out_estimates = p.dir.file(tag + "s" + std::to_string(stage) + "_estimates.txt");
      if (c.estimate) load.insert(load.end(), {"-e", out_estimates});
      const RunResult loaded = denovo(p.with(load));
      ASSERT_EQ(loaded.status, 0) << loaded.err;
      EXPECT_TRUE(read_file(out) == want_fasta);
      EXPECT_TRUE(read_file(out_feature) == want_feature);
      // The paired graph was made after the estimates: nothing to measure,
      // and the file is written empty.
      if (c.estimate && stage < 5) {
        EXPECT_EQ(read_file(out_estimates), want_estimates);
      }
      if (c.estimate && stage == 5) {
        ASSERT_TRUE(file_exists(out_estimates));
        EXPECT_EQ(read_file(out_estimates), "");
      }
      if (c.cpus != 1) continue;
      const std::string alone = p.dir.file("alone" + std::to_string(stage));
      const RunResult saved = denovo(p.with({"--cpus", cpus, kSaves[stage], alone}));
      ASSERT_EQ(saved.status, 0) << saved.err;
      ASSERT_GE(saved.out.size(), strlen(quits[stage]));
      EXPECT_EQ(saved.out.substr(saved.out.size() - strlen(quits[stage])), quits[stage]);
      EXPECT_TRUE(read_file(alone) == read_file(stage_file));
    }
  }
  const int most = std::min(8, get_system_number_of_cpus());
  const RunResult eight = denovo(p.with({"--cpus", std::to_string(most), "-o", p.dir.file("eight.fa"), "-f",
                                         p.dir.file("eight.gff")}));
  ASSERT_EQ(eight.status, 0) << eight.err;
  EXPECT_TRUE(read_file(p.dir.file("eight.fa")) == first_fasta);
  EXPECT_TRUE(read_file(p.dir.file("eight.gff")) == first_feature);

  // The paired graph loads without read files, and with fewer or more than
  // were saved: the stored read table keeps its own files.
  for (const auto &reads : std::vector<std::vector<std::string>>{
           {},
           {"-p", "fb", "ss", "400", "600", "-q", "-i", p.reads1, p.reads2},
           {"-q", p.reads1, p.reads2, p.reads3}}) {
    std::vector<std::string> words = {"--loadpairedgraph", p.dir.file("c1_stage5"), "-o", p.dir.file("again.fa")};
    words.insert(words.end(), reads.begin(), reads.end());
    const RunResult r = denovo(words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(p.dir.file("again.fa")) == first_fasta);
  }
}

// A stage file records the word size it was made with; a resume that
// would use another one is refused before it builds anything.
TEST(DenovoProgram, ResumeWithAnotherWordSizeIsRefused) {
  PairedRun p;
  const std::string out = p.dir.file("out.fa");
  for (int stage = 1; stage <= 5; stage++) {
    SCOPED_TRACE(stage);
    const std::string file = p.dir.file("k21_" + std::to_string(stage));
    ASSERT_EQ(denovo(p.with({"-w", "21", kSaves[stage], file})).status, 0);
    unlink(out.c_str());
    const RunResult r = denovo(p.with({"-w", "23", kLoads[stage], file, "-o", out}, stage < 5));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error, stage file " + file + " was made with word size 21, this run uses word size 23\n");
    EXPECT_FALSE(file_exists(out));
    // The size it was made with, given or chosen alike, is accepted.
    EXPECT_EQ(denovo(p.with({"-w", "21", kLoads[stage], file, "-o", out}, stage < 5)).status, 0);
  }
}

}  // namespace
