// Helpers of the end-to-end tests of ryx_denovo: running the program,
// cleaning its standard output of progress lines, letters of codes,
// simulated genomes with holes no read covers and error-free read pairs,
// and reading the contig FASTA back.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/read_simulation.h"
#include "test_support.h"

namespace denovo_program {

inline ryx_test::RunResult denovo(std::vector<std::string> words) {
  return ryx_test::run_tool("ryx_denovo", std::move(words));
}

// Runs the assembler with the bytes on its standard input.
inline ryx_test::RunResult denovo_with_input(std::vector<std::string> words, const std::string &input) {
  words.insert(words.begin(), ryx_test::program_path("ryx_denovo"));
  return ryx_test::run_program(words, input);
}

// Standard output without the progress lines, each of which ends with a
// carriage return to be overwritten by the next.
inline std::string without_progress(std::string out) {
  for (size_t at = out.find("Progress: "); at != std::string::npos; at = out.find("Progress: ", at)) {
    const size_t end = out.find('\r', at);
    if (end == std::string::npos) break;
    out.erase(at, end + 1 - at);
  }
  return out;
}

inline std::string letters(const std::vector<uint8_t> &codes) {
  std::string s;
  for (uint8_t c : codes) s += "ACGTN"[c < 4 ? c : 4];
  return s;
}

inline std::string reverse_complement(const std::string &s) {
  std::string r(s.rbegin(), s.rend());
  for (char &c : r) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : c == 'T' ? 'A' : 'N';
  return r;
}

struct Contig {
  std::string name;
  std::string sequence;
};

// The records of a FASTA file; longest_line receives the longest sequence
// line.
inline std::vector<Contig> read_fasta(const std::string &path, size_t *longest_line) {
  std::vector<Contig> contigs;
  *longest_line = 0;
  const std::string text = ryx_test::read_file(path);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (!line.empty() && line[0] == '>') {
      contigs.push_back({line.substr(1), ""});
    } else if (!contigs.empty()) {
      contigs.back().sequence += line;
      *longest_line = std::max(*longest_line, line.size());
    }
    at = end + 1;
  }
  return contigs;
}

inline std::vector<Contig> read_fasta(const std::string &path) {
  size_t longest_line = 0;
  return read_fasta(path, &longest_line);
}

// The lines of a text, split at tabs.
inline std::vector<std::vector<std::string>> tab_lines(const std::string &text) {
  std::vector<std::vector<std::string>> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields;
    size_t f = at;
    while (true) {
      const size_t tab = text.find('\t', f);
      if (tab == std::string::npos || tab > end) {
        fields.push_back(text.substr(f, end - f));
        break;
      }
      fields.push_back(text.substr(f, tab - f));
      f = tab + 1;
    }
    lines.push_back(fields);
    at = end + 1;
  }
  return lines;
}

constexpr size_t kMate = 100;
constexpr size_t kHole = 150;

// A random genome with planted repeat copies and stretches (holes) that no
// read covers.
struct Genome {
  std::string letters;
  std::vector<size_t> holes;
};

inline std::string random_letters(SimRandom &random, size_t length) {
  std::string s(length, 'A');
  for (char &c : s) c = "ACGT"[random.below(4)];
  return s;
}

inline Genome make_genome(uint64_t seed, size_t length, size_t repeat_length,
                          const std::vector<size_t> &repeat_places, std::vector<size_t> holes) {
  SimRandom random(seed);
  Genome g{random_letters(random, length), std::move(holes)};
  const std::string repeat = random_letters(random, repeat_length);
  for (size_t at : repeat_places) g.letters.replace(at, repeat_length, repeat);
  return g;
}

inline bool touches_hole(const Genome &g, size_t start, size_t length) {
  for (size_t h : g.holes) {
    if (start < h + kHole && h < start + length) return true;
  }
  return false;
}

inline void write_fastq(FILE *out, const std::string &name, const std::string &letters) {
  fprintf(out, "@%s\n%s\n+\n%s\n", name.c_str(), letters.c_str(), std::string(letters.size(), 'I').c_str());
}

// count error-free "fb" pairs of 2 x 100 bases whose outer ends lie
// insert +- sd apart (normal), none touching a hole; mate 1 to path1, mate
// 2 to path2.
inline void write_pairs(const Genome &g, uint64_t count, double insert, double sd, uint64_t seed,
                        const std::string &path1, const std::string &path2) {
  SimRandom random(seed);
  FILE *out1 = fopen(path1.c_str(), "w");
  FILE *out2 = fopen(path2.c_str(), "w");
  if (out1 == nullptr || out2 == nullptr) abort();
  const std::string reverse = reverse_complement(g.letters);
  const size_t n = g.letters.size();
  for (uint64_t i = 0; i < count;) {
    const auto span = static_cast<size_t>(std::max(2.0 * kMate, random.normal(insert, sd) + 0.5));
    const size_t start = random.below(n - span + 1);
    if (touches_hole(g, start, kMate) || touches_hole(g, start + span - kMate, kMate)) continue;
    const bool backward = random.below(2) == 1;
    // On the template's strand: mate 1 reads its start forward, mate 2 its
    // end backward.
    const std::string &strand = backward ? reverse : g.letters;
    const size_t s = backward ? n - start - span : start;
    const std::string mate1 = strand.substr(s, kMate);
    const std::string mate2 = reverse_complement(strand.substr(s + span - kMate, kMate));
    const std::string name = "p" + std::to_string(i);
    write_fastq(out1, name + "/1", mate1);
    write_fastq(out2, name + "/2", mate2);
    i++;
  }
  fclose(out1);
  fclose(out2);
}

}  // namespace denovo_program
