// Small generated inputs of the ryx_readalign program tests: a random
// reference with a repeated stretch, and reads, pairs, bisulphite-converted
// and long reads taken from it, written as FASTA and FASTQ.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace readalign_test {

inline std::string reverse_complement(const std::string &s) {
  std::string r(s.rbegin(), s.rend());
  for (char &c : r) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : c == 'T' ? 'A' : c;
  return r;
}

struct Reference {
  std::vector<std::string> names;
  std::vector<std::string> sequences;
};

// Random bases, one sequence of each length, drawn in order from rng.
inline std::vector<std::string> random_sequences(std::mt19937_64 &rng, std::initializer_list<size_t> lengths) {
  std::vector<std::string> out;
  for (size_t length : lengths) {
    std::string s(length, 'A');
    for (char &c : s) c = "ACGT"[rng() % 4];
    out.push_back(std::move(s));
  }
  return out;
}

// Two sequences of 12000 and 8000 random bases; 600 bases of the first
// are copied twice into the second, so reads from there have three hits.
inline Reference make_reference(uint64_t seed) {
  std::mt19937_64 rng(seed);
  Reference ref;
  ref.sequences = random_sequences(rng, {12000, 8000});
  const std::string repeat = ref.sequences[0].substr(3000, 600);
  ref.sequences[1].replace(1000, 600, repeat);
  ref.sequences[1].replace(5000, 600, repeat);
  ref.names = {"chr1", "chr2"};
  return ref;
}

inline std::string fasta(const Reference &ref) {
  std::string text;
  for (size_t i = 0; i < ref.sequences.size(); i++) {
    text += ">" + ref.names[i] + "\n";
    for (size_t p = 0; p < ref.sequences[i].size(); p += 70) text += ref.sequences[i].substr(p, 70) + "\n";
  }
  return text;
}

struct Read {
  std::string name;
  std::string bases;
};

inline std::string fastq(const std::vector<Read> &reads) {
  std::string text;
  for (const Read &r : reads) text += "@" + r.name + "\n" + r.bases + "\n+\n" + std::string(r.bases.size(), 'I') + "\n";
  return text;
}

// A few substitutions, about one per 50 bases.
inline std::string mutate(std::mt19937_64 &rng, std::string s) {
  for (char &c : s)
    if (rng() % 50 == 0) c = "ACGT"[(std::string("ACGT").find(c) + 1 + rng() % 3) % 4];
  return s;
}

// n single reads of length bases on random strands; every fourth read
// shorter than the repeat comes from it (three hits).
inline std::vector<Read> single_reads(const Reference &ref, uint64_t seed, int n, size_t length = 100) {
  std::mt19937_64 rng(seed);
  std::vector<Read> reads;
  for (int i = 0; i < n; i++) {
    const bool repeat = i % 4 == 3 && length < 600;
    const size_t s = repeat ? 0 : rng() % 2;
    size_t start = rng() % (ref.sequences[s].size() - length);
    if (repeat) start = 3000 + rng() % (600 - length);
    std::string bases = mutate(rng, ref.sequences[s].substr(start, length));
    if (rng() % 2 != 0) bases = reverse_complement(bases);
    reads.push_back({"r" + std::to_string(i), bases});
  }
  return reads;
}

// n fragments of 300 bases read from both ends by 100 bases: mate 1
// forward from the fragment start, mate 2 the reverse complement of its
// end, so that the setting fb ss measures 300 from start to start; every
// fifth fragment swapped.
inline void paired_reads(const Reference &ref, uint64_t seed, int n, std::vector<Read> *mate1,
                         std::vector<Read> *mate2) {
  std::mt19937_64 rng(seed);
  for (int i = 0; i < n; i++) {
    const size_t s = rng() % 2;
    const size_t start = rng() % (ref.sequences[s].size() - 300);
    const std::string fragment = ref.sequences[s].substr(start, 300);
    std::string a = mutate(rng, fragment.substr(0, 100));
    std::string b = mutate(rng, reverse_complement(fragment.substr(200, 100)));
    if (i % 5 == 4) std::swap(a, b);
    mate1->push_back({"p" + std::to_string(i) + "/1", a});
    mate2->push_back({"p" + std::to_string(i) + "/2", b});
  }
}

// Reads of a bisulphite run: every C of the read's own strand read as T.
inline std::vector<Read> bisulphite_reads(const Reference &ref, uint64_t seed, int n) {
  std::vector<Read> reads = single_reads(ref, seed, n);
  for (Read &r : reads)
    for (char &c : r.bases)
      if (c == 'C') c = 'T';
  return reads;
}

}  // namespace readalign_test
