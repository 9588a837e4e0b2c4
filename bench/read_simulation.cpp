#include "bench/read_simulation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/ryx_exit.h"

namespace {

uint64_t splitmix64(uint64_t *state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

[[noreturn]] void fail(const char *message) {
  fprintf(stderr, "%s\n", message);
  ryx_exit(1);
}

void reverse_complement(std::vector<uint8_t> *codes) {
  std::reverse(codes->begin(), codes->end());
  for (uint8_t &c : *codes) c = static_cast<uint8_t>(3 - c);
}

// Base after a substitution: one of the three others, evenly.
uint8_t substitute(SimRandom *rng, uint8_t base) { return static_cast<uint8_t>((base + 1 + rng->below(3)) % 4); }

// Length of one small insertion or deletion: 1 (70 %), 2 (20 %) or 3.
uint32_t indel_length(SimRandom *rng) {
  const double u = rng->unit();
  return u < 0.7 ? 1 : u < 0.9 ? 2 : 3;
}

// Reads length bases with errors off reference, walking from anchor to the
// right (forward) or from anchor - 1 to the left (backward, complemented).
// Returns false when the walk runs off the sequence; otherwise fills the
// read's codes, start and strand.
bool read_off(SimRandom *rng, const std::vector<uint8_t> &reference, int64_t anchor, bool backward,
              const ReadSettings &settings, SimulatedRead *read) {
  const int64_t n = static_cast<int64_t>(reference.size());
  const int64_t step = backward ? -1 : 1;
  int64_t p = backward ? anchor - 1 : anchor;
  int64_t low = p;
  read->codes.clear();
  while (read->codes.size() < settings.length) {
    if (p < 0 || p >= n) return false;
    const double u = rng->unit();
    if (u < settings.indel / 2) {
      // Deletion: reference bases that the read skips.
      p += step * indel_length(rng);
      continue;
    }
    if (u < settings.indel) {
      // Insertion: read bases without a reference base.
      for (uint32_t k = indel_length(rng); k > 0 && read->codes.size() < settings.length; k--)
        read->codes.push_back(static_cast<uint8_t>(rng->below(4)));
      continue;
    }
    uint8_t base = reference[p];
    if (backward) base = static_cast<uint8_t>(3 - base);
    if (rng->unit() < settings.substitution) base = substitute(rng, base);
    read->codes.push_back(base);
    low = std::min(low, p);
    p += step;
  }
  read->start = static_cast<uint32_t>(backward ? low : anchor);
  read->reverse = backward;
  return true;
}

}  // namespace

SimRandom::SimRandom(uint64_t seed) {
  uint64_t state = seed;
  for (uint64_t &s : s_) s = splitmix64(&state);
}

uint64_t SimRandom::next() {
  const uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double SimRandom::normal(double mean, double sd) {
  const double u = 1.0 - unit();  // (0, 1]: the logarithm stays finite
  const double v = unit();
  return mean + sd * std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * v);
}

SimulatedGenome simulate_genome(const GenomeSettings &settings) {
  if (settings.sequences == 0) fail("The genome needs at least one sequence.");
  SimRandom rng(settings.seed);
  SimulatedGenome g;
  const uint64_t k = settings.sequences;
  const uint64_t weights = k * (k + 1) / 2;
  uint64_t left = settings.size;
  for (uint64_t i = 0; i < k; i++) {
    const uint64_t n = i + 1 == k ? left : settings.size * (k - i) / weights;
    left -= n;
    std::vector<uint8_t> s(n);
    for (uint8_t &c : s) c = static_cast<uint8_t>(rng.below(4));
    g.names.push_back("seq" + std::to_string(i));
    g.sequences.push_back(std::move(s));
  }
  for (uint32_t r = 0; r < settings.repeats; r++) {
    const uint32_t len = settings.repeat_length;
    const size_t from = rng.below(k), to = rng.below(k);
    if (g.sequences[from].size() <= len || g.sequences[to].size() <= len)
      fail("A genome sequence is too short for the planted repeats.");
    const uint64_t a = rng.below(g.sequences[from].size() - len);
    const uint64_t b = rng.below(g.sequences[to].size() - len);
    std::vector<uint8_t> piece(g.sequences[from].begin() + a, g.sequences[from].begin() + a + len);
    if (r % 3 == 2) reverse_complement(&piece);
    std::copy(piece.begin(), piece.end(), g.sequences[to].begin() + b);
  }
  return g;
}

bool write_genome_fasta(const SimulatedGenome &genome, FILE *out) {
  static const char kLetters[] = "ACGT";
  char line[81];
  for (size_t i = 0; i < genome.sequences.size(); i++) {
    if (fprintf(out, ">%s\n", genome.names[i].c_str()) < 0) return false;
    const std::vector<uint8_t> &s = genome.sequences[i];
    for (size_t p = 0; p < s.size(); p += 80) {
      const size_t n = std::min<size_t>(80, s.size() - p);
      for (size_t j = 0; j < n; j++) line[j] = kLetters[s[p + j]];
      line[n] = '\n';
      if (fwrite(line, 1, n + 1, out) != n + 1) return false;
    }
  }
  return true;
}

void simulate_read(const SimulatedGenome &genome, const ReadSettings &settings, uint64_t index,
                   SimulatedRead *first, SimulatedRead *second) {
  // Read i draws from its own stream, so it does not depend on the reads
  // before it; the constant keeps the streams apart from the genome's,
  // which starts from the same seed.
  uint64_t mix = (settings.seed ^ 0x5EEDF00DCAFEULL) * 0xBF58476D1CE4E5B9ULL + index * 0xD1B54A32D192ED03ULL;
  SimRandom rng(splitmix64(&mix));
  uint64_t total = 0;
  for (const auto &s : genome.sequences) total += s.size();
  const uint64_t need = settings.pairs ? settings.fragment_mean + 4 * settings.fragment_sd : 2 * settings.length;
  for (const auto &s : genome.sequences)
    if (s.size() <= need) fail("A genome sequence is too short for the reads.");
  for (;;) {
    // A sequence with probability proportional to its length.
    uint64_t at = rng.below(total);
    uint32_t seq = 0;
    while (at >= genome.sequences[seq].size()) at -= genome.sequences[seq++].size();
    const std::vector<uint8_t> &ref = genome.sequences[seq];
    const bool reverse = rng.below(2) == 1;
    if (!settings.pairs) {
      const int64_t anchor = static_cast<int64_t>(at);
      if (!read_off(&rng, ref, anchor, reverse, settings, first)) continue;
      first->sequence = seq;
      first->name = simulated_read_name(index, 0, seq, first->start, first->reverse);
      return;
    }
    const double f = std::round(rng.normal(settings.fragment_mean, settings.fragment_sd));
    const int64_t fragment = std::max<int64_t>(settings.length, static_cast<int64_t>(f));
    if (static_cast<int64_t>(at) + fragment > static_cast<int64_t>(ref.size())) continue;
    const int64_t left = static_cast<int64_t>(at), right = left + fragment;
    // The first mate reads the fragment's start on the fragment's strand.
    if (!read_off(&rng, ref, reverse ? right : left, reverse, settings, first)) continue;
    if (!read_off(&rng, ref, reverse ? left : right, !reverse, settings, second)) continue;
    first->sequence = second->sequence = seq;
    first->name = simulated_read_name(index, 1, seq, first->start, first->reverse);
    second->name = simulated_read_name(index, 2, seq, second->start, second->reverse);
    return;
  }
}

std::string simulated_read_name(uint64_t index, int mate, uint32_t sequence, uint32_t start, bool reverse) {
  char buffer[96];
  if (mate == 0) {
    snprintf(buffer, sizeof buffer, "r%llu_s%u_p%u_%c", static_cast<unsigned long long>(index), sequence, start,
             reverse ? 'r' : 'f');
  } else {
    snprintf(buffer, sizeof buffer, "r%llu.%d_s%u_p%u_%c", static_cast<unsigned long long>(index), mate, sequence,
             start, reverse ? 'r' : 'f');
  }
  return buffer;
}

bool parse_simulated_read_name(const char *name, uint32_t *sequence, uint32_t *start, bool *reverse) {
  unsigned long long index = 0;
  unsigned s = 0, p = 0;
  int mate = 0, used = 0;
  char strand = 0;
  // Both forms: with and without the mate number.
  if (sscanf(name, "r%llu.%d_s%u_p%u_%c%n", &index, &mate, &s, &p, &strand, &used) != 5 &&
      sscanf(name, "r%llu_s%u_p%u_%c%n", &index, &s, &p, &strand, &used) != 4)
    return false;
  if (strand != 'f' && strand != 'r') return false;
  const char end = name[used];
  if (end != '\0' && end != ' ' && end != '\t' && end != '\n' && end != '\r') return false;
  *sequence = s;
  *start = p;
  *reverse = strand == 'r';
  return true;
}

bool write_fastq_record(const SimulatedRead &read, FILE *out) {
  static const char kLetters[] = "ACGT";
  std::string text;
  text.reserve(2 * read.codes.size() + read.name.size() + 8);
  text += '@';
  text += read.name;
  text += '\n';
  for (uint8_t c : read.codes) text += kLetters[c];
  text += "\n+\n";
  text.append(read.codes.size(), 'I');
  text += '\n';
  return fwrite(text.data(), 1, text.size(), out) == text.size();
}
