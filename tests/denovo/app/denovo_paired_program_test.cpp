// The assembler end to end on read pairs: pair-distance estimation (-e)
// with its statuses, scaffolding across stretches no read covers (order,
// orientation and length of the N runs, the GFF scaffold features, the AGP
// tiling against the FASTA) and the explorer driven from standard input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/read_simulation.h"
#include "denovo/graph/explorer.h"
#include "test_support.h"
#include "tests/denovo/app/denovo_program_util.h"

namespace {

using namespace denovo_program;
using ryx_test::dir_names;
using ryx_test::file_exists;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;

// -------------------------------------------------------------- estimation

// One line per paired file: a library of 500 +- 25 is measured around
// 500 and one of 150 pairs has no bin with enough pairs; an unpaired file
// gets no line. A library declared with the wrong orientation alone finds
// its pairs across fragments on one strand. (Pairs within one fragment are
// binned or set aside while the reads are mapped; with the other library's
// coverage the genome is one fragment and nothing is left to find.)
TEST(DenovoPairedProgram, EstimatesPairDistances) {
  ScratchDir dir;
  const Genome genome = make_genome(31, 30000, 0, {}, {});
  write_pairs(genome, 6000, 500, 25, 32, dir.file("a1.fq"), dir.file("a2.fq"));
  write_pairs(genome, 150, 500, 25, 33, dir.file("few1.fq"), dir.file("few2.fq"));
  write_pairs(genome, 3000, 500, 25, 34, dir.file("w1.fq"), dir.file("w2.fq"));
  const std::string estimates = dir.file("estimates.txt");
  const RunResult r = denovo({"-o", dir.file("c.fa"), "-e", estimates, "-p", "fb", "ss", "400", "600", "-q", "-i",
                              dir.file("a1.fq"), dir.file("a2.fq"), "-i", dir.file("few1.fq"), dir.file("few2.fq"),
                              "-p", "no", "-q", dir.file("few1.fq")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto lines = tab_lines(read_file(estimates));
  ASSERT_EQ(lines.size(), 2u) << read_file(estimates);
  for (const auto &l : lines) ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(lines[0][0], dir.file("a1.fq"));
  EXPECT_EQ(lines[0][1], dir.file("a2.fq"));
  EXPECT_EQ(lines[0][4], "DISTANCE_ESTIMATED");
  EXPECT_LT(std::stoi(lines[0][2]), 500);
  EXPECT_GT(std::stoi(lines[0][3]), 500);
  EXPECT_GT(std::stoi(lines[0][2]), 350);
  EXPECT_LT(std::stoi(lines[0][3]), 650);
  EXPECT_EQ(lines[1], (std::vector<std::string>{dir.file("few1.fq"), dir.file("few2.fq"), "0", "0", "NO_DATA"}));

  const RunResult wrong = denovo({"-o", dir.file("w.fa"), "-e", estimates, "-p", "ff", "ss", "400", "600", "-q", "-i",
                                  dir.file("w1.fq"), dir.file("w2.fq")});
  ASSERT_EQ(wrong.status, 0) << wrong.err;
  EXPECT_EQ(read_file(estimates), dir.file("w1.fq") + "\t" + dir.file("w2.fq") + "\t0\t0\tWRONG_DIRECTION\n");
  EXPECT_FALSE(read_fasta(dir.file("c.fa")).empty());

  // An estimate file that cannot be created ends the run with its message
  // before any stage (no progress shown) and leaves neither it nor the
  // contigs behind.
  const std::string nowhere = dir.file("missing/estimates.txt");
  const RunResult bad = denovo({"-o", dir.file("bad.fa"), "-e", nowhere, "-p", "fb", "ss", "400", "600", "-q", "-i",
                                dir.file("a1.fq"), dir.file("a2.fq")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "Problem opening file: " + nowhere + "\n");
  EXPECT_EQ(bad.out.find("Progress"), std::string::npos) << bad.out;
  EXPECT_FALSE(file_exists(dir.file("bad.fa")));
  EXPECT_NE(r.out.find("Progress"), std::string::npos) << "a full run shows its progress";

  // Without paired reads there is nothing to estimate: the file is there,
  // empty, for whatever expects it.
  const RunResult single = denovo({"-o", dir.file("s.fa"), "-e", dir.file("none.txt"), "-q", dir.file("a1.fq")});
  ASSERT_EQ(single.status, 0) << single.err;
  ASSERT_TRUE(file_exists(dir.file("none.txt")));
  EXPECT_EQ(read_file(dir.file("none.txt")), "");
}

// -------------------------------------------------------------- scaffolds

// The runs of N in a contig: (start, length).
std::vector<std::pair<size_t, size_t>> n_runs(const std::string &s) {
  std::vector<std::pair<size_t, size_t>> runs;
  for (size_t i = 0; i < s.size();) {
    if (s[i] != 'N') {
      i++;
      continue;
    }
    size_t j = i;
    while (j < s.size() && s[j] == 'N') j++;
    runs.emplace_back(i, j - i);
    i = j;
  }
  return runs;
}

// Where the 40 bases before and after an N run lie on the genome: both
// found once, on one strand, the second after the first. Returns the
// genome distance between them, or a message.
std::string place_run(const std::string &genome, const std::string &contig, size_t start, size_t length,
                      int64_t *gap) {
  const size_t probe = 40;
  if (start < probe || start + length + probe > contig.size()) return "run at a contig end";
  const std::string before = contig.substr(start - probe, probe);
  const std::string after = contig.substr(start + length, probe);
  for (const std::string &strand : {genome, reverse_complement(genome)}) {
    const size_t b = strand.find(before);
    const size_t a = strand.find(after);
    if (b == std::string::npos || a == std::string::npos) continue;
    if (strand.find(before, b + 1) != std::string::npos || strand.find(after, a + 1) != std::string::npos) {
      return "flank repeated";
    }
    if (a < b + probe) return "flanks out of order";
    *gap = static_cast<int64_t>(a) - static_cast<int64_t>(b + probe);
    return "";
  }
  return "flanks not on one strand";
}

// 100 kb with three copies of a 1.5 kb repeat and three holes of 150
// bases, 2 x 100 pairs of 500 +- 25 at 30x; assembled once with a GFF file,
// once with an AGP file and once without scaffolding.
struct Scaffolds {
  ScratchDir dir;
  Genome genome = make_genome(41, 100000, 1500, {20000, 50000, 80000}, {35000, 65000, 92000});
  std::vector<std::string> input;
  RunResult gff, agp, plain;

  Scaffolds() {
    write_pairs(genome, 15000, 500, 25, 42, dir.file("r1.fq"), dir.file("r2.fq"));
    input = {"-p", "fb", "ss", "400", "600", "-q", "-i", dir.file("r1.fq"), dir.file("r2.fq")};
    gff = run({"-o", dir.file("gff.fa"), "-f", dir.file("s.gff")});
    agp = run({"-o", dir.file("agp.fa"), "-f", dir.file("s.agp")});
    plain = run({"-o", dir.file("plain.fa"), "-n"});
  }
  RunResult run(std::vector<std::string> words) const {
    words.insert(words.end(), input.begin(), input.end());
    return denovo(words);
  }
};

const Scaffolds &scaffolds() {
  static const Scaffolds *s = new Scaffolds;
  return *s;
}

TEST(DenovoPairedProgram, ScaffoldsJoinContigsAcrossHoles) {
  const Scaffolds &s = scaffolds();
  ASSERT_EQ(s.gff.status, 0) << s.gff.err;
  ASSERT_EQ(s.plain.status, 0) << s.plain.err;
  const auto contigs = read_fasta(s.dir.file("gff.fa"));
  const auto unscaffolded = read_fasta(s.dir.file("plain.fa"));
  EXPECT_LT(contigs.size(), unscaffolded.size());
  for (const auto &c : unscaffolded) EXPECT_TRUE(n_runs(c.sequence).empty()) << c.name;

  // Every N run lies between flanks that follow each other on one strand
  // of the genome, about as long as the stretch between them; one run per
  // hole.
  size_t runs = 0;
  for (const auto &c : contigs) {
    for (const auto &[start, length] : n_runs(c.sequence)) {
      runs++;
      int64_t gap = 0;
      const std::string problem = place_run(s.genome.letters, c.sequence, start, length, &gap);
      EXPECT_EQ(problem, "") << c.name << " at " << start;
      if (!problem.empty()) continue;
      EXPECT_GE(gap, static_cast<int64_t>(kHole)) << c.name << " at " << start;
      EXPECT_NEAR(static_cast<double>(length), static_cast<double>(gap), 60.0) << c.name << " at " << start;
    }
  }
  EXPECT_EQ(runs, s.genome.holes.size());

  // Each "Scaffold" feature spans an N run of its contig.
  size_t features = 0;
  for (const auto &f : tab_lines(read_file(s.dir.file("s.gff")))) {
    if (f.size() < 5 || f[2] != "Scaffold") continue;
    features++;
    const auto c = std::find_if(contigs.begin(), contigs.end(), [&](const Contig &x) { return x.name == f[0]; });
    ASSERT_NE(c, contigs.end()) << f[0];
    const size_t from = std::stoul(f[3]) - 1;
    const size_t to = std::stoul(f[4]);
    bool spans = false;
    for (const auto &[start, length] : n_runs(c->sequence)) spans |= start >= from && start + length <= to;
    EXPECT_TRUE(spans) << f[0] << " " << f[3] << " " << f[4];
  }
  EXPECT_GT(features, 0u);
}

// The AGP file tiles every object from 1 to its length with consecutive
// part numbers; N lines have a positive length and W lines name whole
// records of the AGP run's FASTA; the objects put together from their
// components and N runs are the contigs of the GFF run, byte for byte.
TEST(DenovoPairedProgram, AgpTilesTheScaffoldsFromTheComponents) {
  const Scaffolds &s = scaffolds();
  ASSERT_EQ(s.agp.status, 0) << s.agp.err;
  std::map<std::string, std::string> components;
  for (const auto &c : read_fasta(s.dir.file("agp.fa"))) components[c.name] = c.sequence;
  const auto scaffolds = read_fasta(s.dir.file("gff.fa"));

  const auto lines = tab_lines(read_file(s.dir.file("s.agp")));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], (std::vector<std::string>{"##agp-version", "2.0"}));
  std::vector<std::string> order;
  std::map<std::string, std::string> objects;
  std::map<std::string, int64_t> next_part;
  std::map<std::string, int64_t> next_begin;
  size_t used_components = 0;
  for (size_t i = 1; i < lines.size(); i++) {
    const auto &l = lines[i];
    ASSERT_EQ(l.size(), 9u) << i;
    const std::string &object = l[0];
    if (!objects.count(object)) {
      order.push_back(object);
      objects[object] = "";
      next_part[object] = 1;
      next_begin[object] = 1;
    }
    const int64_t begin = std::stoll(l[1]);
    const int64_t end = std::stoll(l[2]);
    EXPECT_EQ(begin, next_begin[object]) << object;
    EXPECT_EQ(std::stoll(l[3]), next_part[object]) << object;
    EXPECT_GE(end, begin) << object;
    next_begin[object] = end + 1;
    next_part[object]++;
    if (l[4] == "N") {
      EXPECT_EQ(std::stoll(l[5]), end - begin + 1);
      EXPECT_GT(std::stoll(l[5]), 0);
      EXPECT_EQ(l[6], "scaffold");
      objects[object] += std::string(static_cast<size_t>(end - begin + 1), 'N');
      continue;
    }
    ASSERT_EQ(l[4], "W") << i;
    const auto c = components.find(l[5]);
    ASSERT_NE(c, components.end()) << l[5];
    used_components++;
    EXPECT_EQ(l[6], "1");
    EXPECT_EQ(std::stoull(l[7]), c->second.size()) << l[5];
    EXPECT_EQ(static_cast<size_t>(end - begin + 1), c->second.size()) << l[5];
    objects[object] += l[8] == "-" ? reverse_complement(c->second) : c->second;
  }
  EXPECT_EQ(used_components, components.size());
  ASSERT_EQ(order.size(), scaffolds.size());
  for (size_t i = 0; i < order.size(); i++) {
    EXPECT_EQ(order[i], scaffolds[i].name);
    EXPECT_TRUE(objects[order[i]] == scaffolds[i].sequence) << order[i];
  }
  // Some object is a scaffold of more than one component.
  EXPECT_LT(scaffolds.size(), components.size());
}

// -------------------------------------------------------------- explorer

// A short session on the paired graph, with the commands on standard
// input: the help, the fragment count, one fragment and quit; the run then
// writes its contigs as without the explorer.
TEST(DenovoPairedProgram, ExplorerSessionFromStandardInput) {
  ScratchDir dir;
  const Genome genome = make_genome(51, 20000, 0, {}, {});
  write_pairs(genome, 4000, 300, 30, 52, dir.file("r1.fq"), dir.file("r2.fq"));
  const std::vector<std::string> input = {"-p", "fb", "ss", "240", "360", "-q", "-i", dir.file("r1.fq"),
                                          dir.file("r2.fq")};
  std::vector<std::string> words = {"-o", dir.file("plain.fa"), "--savefragments", dir.file("fragments.fa")};
  words.insert(words.end(), input.begin(), input.end());
  ASSERT_EQ(denovo(words).status, 0);
  const auto fragments = read_fasta(dir.file("fragments.fa"));
  ASSERT_GT(fragments.size(), 1u);

  words = {"-o", dir.file("explored.fa"), "--explore"};
  words.insert(words.end(), input.begin(), input.end());
  const RunResult r = denovo_with_input(words, "h\ni\nn 1\nX\nq\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string out = without_progress(r.out);
  const size_t at = out.find("\nExplore database:\n");
  ASSERT_NE(at, std::string::npos) << out;

  testing::internal::CaptureStdout();
  explorer_print_help();
  const std::string help = testing::internal::GetCapturedStdout();
  EXPECT_NE(help.find(" q                                      quit\n"), std::string::npos);
  char count[64];
  snprintf(count, sizeof(count), "Fragment count:   %10zu (%zx)\n", fragments.size(), fragments.size());
  const std::string &f = fragments[1].sequence;
  const std::string shown = f.size() >= 66 ? f.substr(0, 30) + " ... " + f.substr(f.size() - 30) : f;
  const std::string want_start = "\nExplore database:\n> " + help + "> " + count + "> " +
                                 std::to_string(f.size()) + ":\n" + shown + "\ncontig: ";
  const std::string session = out.substr(at);
  ASSERT_EQ(session.substr(0, want_start.size()), want_start);
  // The contig of the fragment's node: "?" when the fragment has several
  // nodes, else its id in eight hexadecimal digits.
  const std::string rest = session.substr(want_start.size());
  const size_t line_end = rest.find('\n');
  ASSERT_NE(line_end, std::string::npos);
  const std::string contig = rest.substr(0, line_end);
  EXPECT_TRUE(contig == "?" || (contig.size() == 8 && contig.find_first_not_of("0123456789abcdef") ==
                                                          std::string::npos))
      << contig;
  EXPECT_EQ(rest.substr(line_end + 1), "> Unknown command. Try 'h' for help.\n> \n\n");
  EXPECT_EQ(read_file(dir.file("explored.fa")), read_file(dir.file("plain.fa")));
}

}  // namespace
