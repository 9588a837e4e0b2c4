// ryx_denovo's explorer on the graph that the paired stage hands over,
// driven from standard input: every command of its help once, with valid
// arguments, and the run then writes its contigs; a session that only looks,
// on the paired graph saved by a run and loaded again, leaves the contigs
// and their annotation as that run wrote them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/read_simulation.h"
#include "test_support.h"
#include "tests/denovo/app/denovo_program_util.h"

namespace {

using namespace denovo_program;
using ryx_test::file_exists;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;

constexpr uint64_t kGenomeLength = 20000;
// Stretches of the genome that no read covers: the paired stage leaves a
// scaffold gap across each.
constexpr uint64_t kHoles[] = {6500, 13500};
constexpr uint64_t kHoleLength = 150;

bool in_hole(uint64_t start, uint64_t length) {
  for (uint64_t h : kHoles) {
    if (start < h + kHoleLength && h < start + length) return true;
  }
  return false;
}

// 4000 "fb" pairs of 2 x 100 bases, 500 +- 25 apart with 2 % substitutions,
// over a genome with six copies of a 300-base repeat and two holes. On such
// data the paired stage joins contigs across the repeats, removes edges at
// contig ends and scaffolds across the holes, and leaves the marks of all
// three on the nodes for the contig writer.
void write_paired_reads(const std::string &path1, const std::string &path2) {
  GenomeSettings g;
  g.size = kGenomeLength;
  g.sequences = 1;
  g.repeats = 6;
  g.repeat_length = 300;
  g.seed = 3;
  const SimulatedGenome genome = simulate_genome(g);
  ReadSettings r;
  r.pairs = true;
  r.fragment_mean = 500;
  r.fragment_sd = 25;
  r.substitution = 0.02;
  r.indel = 0;
  r.seed = 4;
  FILE *out1 = fopen(path1.c_str(), "w");
  FILE *out2 = fopen(path2.c_str(), "w");
  ASSERT_TRUE(out1 != nullptr && out2 != nullptr);
  uint64_t written = 0;
  for (uint64_t i = 0; written < 4000; i++) {
    SimulatedRead a, b;
    simulate_read(genome, r, i, &a, &b);
    if (in_hole(a.start, a.codes.size()) || in_hole(b.start, b.codes.size())) continue;
    ASSERT_TRUE(write_fastq_record(a, out1) && write_fastq_record(b, out2));
    written++;
  }
  fclose(out1);
  fclose(out2);
}

// The explorer writes its Graphviz files into the working directory: the
// program runs in the scratch directory.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string &dir) {
    if (getcwd(saved_, sizeof(saved_)) == nullptr || chdir(dir.c_str()) != 0) abort();
  }
  ~WorkingDirectory() {
    if (chdir(saved_) != 0) abort();
  }

 private:
  char saved_[4096];
};

size_t count_of(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// The dialogue part of the standard output: from the explorer's greeting
// to its last line end.
std::string session_of(const RunResult &r) {
  const std::string out = without_progress(r.out);
  const size_t at = out.find("\nExplore database:\n");
  return at == std::string::npos ? std::string() : out.substr(at);
}

// The commands that only look. Nodes 1 and 2 are live in the paired graph
// of these reads, and fragment 1 carries reads that leave it.
const std::string kLooking =
    "h\ni\nn 1\nr 1\np 1\nj 1\nf ACGTACGT\nd 1\ng 1\nw 1,2\nc 1,2 0 3\nm 1,2\nl 1\nt 1 2\nz 2\nv\nv 1\ns\n"
    "s 1 2\nsc\n";
// The commands that change the graph come after them, so that the ids
// above still name live nodes; the graph is checked at the end.
const std::string kEditing = "e 20\nb 1,2 3 3\na 3 3\nu 1,2\nx\ny\nk\no\nv\nq\n";

TEST(DenovoExplorerProgram, EveryCommandOnThePairedGraph) {
  ScratchDir dir;
  write_paired_reads(dir.file("r1.fq"), dir.file("r2.fq"));
  const std::vector<std::string> input = {"-p", "fb", "ss", "400", "600", "-q", "-i", dir.file("r1.fq"),
                                          dir.file("r2.fq")};
  std::vector<std::string> words = {"-o", dir.file("plain.fa"), "-f", dir.file("plain.gff"), "--savepairedgraph",
                                    dir.file("paired.rdn")};
  words.insert(words.end(), input.begin(), input.end());
  ASSERT_EQ(denovo(words).status, 0);
  // The annotation shows what the paired stage marked: joins and scaffold
  // gaps.
  const std::string gff = read_file(dir.file("plain.gff"));
  ASSERT_NE(gff.find("\tContigs joined\t"), std::string::npos) << gff;
  ASSERT_NE(gff.find("\tScaffold\t"), std::string::npos) << gff;

  WorkingDirectory here(dir.path());
  {
    // Looking only, on the paired graph loaded as that run saved it, marks
    // and all: the contigs and the annotation are those of the run without
    // the explorer, whatever the commands did with the marks.
    words = {"-o", dir.file("looked.fa"), "-f", dir.file("looked.gff"), "--loadpairedgraph", dir.file("paired.rdn"),
             "--explore"};
    words.insert(words.end(), input.begin(), input.end());
    const RunResult r = denovo_with_input(words, kLooking + "q\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string session = session_of(r);
    ASSERT_FALSE(session.empty()) << r.out;
    EXPECT_EQ(count_of(session, "contig graph is valid\n"), 2u) << session;
    EXPECT_EQ(count_of(session, "not valid"), 0u) << session;
    for (const char *refusal : {"Unknown command", "syntax:", "is not in the graph", "is not in the database",
                                "No read information", "given twice"}) {
      EXPECT_EQ(count_of(session, refusal), 0u) << refusal << "\n" << session;
    }
    EXPECT_NE(session.find("> Fragment count: "), std::string::npos);
    EXPECT_NE(session.find("> window information, nodes 1 2\n"), std::string::npos);
    EXPECT_NE(session.find("> Path 00000001 00000002\n"), std::string::npos);
    EXPECT_NE(session.find("> Average neighbour count "), std::string::npos);
    EXPECT_NE(session.find("> Full graph saved to graph.dot\n"), std::string::npos);
    EXPECT_NE(session.find("> Partial graph for node 00000001 saved to graph.dot\n"), std::string::npos);
    EXPECT_NE(session.find("> Full contig graph saved to graph.dot, start and end nodes of contigs saved to "
                           "contigs.txt\n"),
              std::string::npos);
    EXPECT_TRUE(file_exists(dir.file("graph.dot")));
    EXPECT_FALSE(read_file(dir.file("contigs.txt")).empty());
    EXPECT_EQ(session.substr(session.size() - 4), "> \n\n");
    EXPECT_EQ(read_file(dir.file("looked.fa")), read_file(dir.file("plain.fa")));
    EXPECT_EQ(read_file(dir.file("looked.gff")), gff);
  }
  {
    // Every command of the help on the graph as the paired stage of the run
    // hands it over: those that look, then those that change the graph,
    // ending with the check of the whole graph; the run goes on to write
    // its contigs.
    words = {"-o", dir.file("edited.fa"), "--explore"};
    words.insert(words.end(), input.begin(), input.end());
    const RunResult r = denovo_with_input(words, kLooking + kEditing);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string session = session_of(r);
    ASSERT_FALSE(session.empty()) << r.out;
    for (const char *refusal : {"Unknown command", "syntax:", "is not in the graph", "No read information",
                                "not valid", "not available"}) {
      EXPECT_EQ(count_of(session, refusal), 0u) << refusal << "\n" << session;
    }
    EXPECT_NE(session.find(" changes\n> "), std::string::npos) << session;
    EXPECT_NE(session.find("no changes made\n> "), std::string::npos) << session;
    EXPECT_NE(session.find("contig graph is valid\n> \n"), std::string::npos) << session;
    const auto contigs = read_fasta(dir.file("edited.fa"));
    ASSERT_FALSE(contigs.empty());
    size_t bases = 0;
    for (const Contig &c : contigs) bases += c.sequence.size();
    EXPECT_GT(bases, kGenomeLength / 2);
  }
}

}  // namespace
