// Test helpers of the ungapped scorer and alignment: a packed block built
// from plain codes, a plain scalar model of the ungapped score, the
// rescoring of an alignment code against the block, and random cases.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "refmap/candidate.h"
#include "seqio/alignment_code.h"
#include "seqio/seq_record.h"

namespace ungapped_model {

// Unknown block position (spacer or N).
constexpr int kUnknown = -1;

// A packed block over codes 0-3 and kUnknown, with spare zero bytes after
// the last position as the reference blocks have.
struct packed_t {
  std::vector<int> codes;
  std::vector<uint8_t> bases, known;

  explicit packed_t(const std::vector<int> &c) : codes(c) {
    const size_t bytes = (c.size() + 3) / 4 + 64;
    bases.assign(bytes, 0);
    known.assign(bytes, 0);
    for (size_t j = 0; j < c.size(); j++) {
      const int shift = 2 * (j & 3);
      if (c[j] == kUnknown) {
        bases[j / 4] |= static_cast<uint8_t>((j * 7 & 3) << shift);  // any base, masked off
      } else {
        bases[j / 4] |= static_cast<uint8_t>(c[j] << shift);
        known[j / 4] |= static_cast<uint8_t>(3 << shift);
      }
    }
  }
  int at(int64_t p) const { return p < 0 || p >= static_cast<int64_t>(codes.size()) ? kUnknown : codes[p]; }
};

inline seq_record_t *record(const std::vector<int> &codes) {
  seq_record_t *r = seq_record_new(static_cast<uint32_t>(codes.size()));
  for (size_t i = 0; i < codes.size(); i++) r->residues[i] = static_cast<uint8_t>(codes[i]);
  return r;
}

// Does query position i agree with the block in decoding state k?
inline bool agrees(const packed_t &block, int64_t p, const seq_record_t *q, int i, int k) {
  const int b = block.at(p + i);
  return b != kUnknown && q->residues[i] < 4 && (b ^ k) == q->residues[i];
}

// Nucleotide score by the definitions: best run, best prefix or suffix, or
// the whole query, by mode and strand.
inline int nucleotide_score(const packed_t &block, int64_t p, const seq_record_t *q, int odd, int mode, int x) {
  if (q == nullptr) return 0;
  const int n = static_cast<int>(q->length);
  std::vector<int> v(n);
  for (int i = 0; i < n; i++) v[i] = agrees(block, p, q, i, 0) ? 1 : -x;
  int best = 0;
  if (mode == 3) {
    for (int i = 0; i < n; i++) best += v[i];
    return std::max(best, 0);
  }
  // Every run [a, e) the mode allows, summed from prefix sums.
  std::vector<int> prefix(n + 1, 0);
  for (int i = 0; i < n; i++) prefix[i + 1] = prefix[i] + v[i];
  for (int a = 0; a <= n; a++) {
    for (int e = a; e <= n; e++) {
      if (mode == 1 && !odd && a != 0) continue;
      if (mode == 1 && odd && e != n) continue;
      best = std::max(best, prefix[e] - prefix[a]);
    }
  }
  return best;
}

// Colour-space score: the best path over (position, state), written as a
// table of the best value with which a path can stand before position i in
// state k.
inline int colour_score(const packed_t &block, int64_t p, const seq_record_t *q, int odd, int mode, int x, int c) {
  if (q == nullptr) return 0;
  const int n = static_cast<int>(q->length);
  const int none = -1000000;
  const bool can_restart = mode == 0 || (mode == 1 && odd);
  const bool free_end = mode == 0 || (mode == 1 && !odd);
  auto start_value = [&](int k) { return (k == 0 || odd) ? 0 : none; };
  std::vector<int> value(4);
  for (int k = 0; k < 4; k++) value[k] = start_value(k);
  int result = none;
  auto end_value = [&](int k, int v) { return v - ((odd && k != 0) ? c : 0); };
  for (int i = 0; i < n; i++) {
    for (int k = 0; k < 4; k++) {
      if (can_restart) value[k] = std::max(value[k], start_value(k));
    }
    const int top = *std::max_element(value.begin(), value.end());
    for (int k = 0; k < 4; k++) value[k] = std::max(value[k], top - c);
    if (free_end) {
      for (int k = 0; k < 4; k++) result = std::max(result, end_value(k, value[k]));
    }
    for (int k = 0; k < 4; k++) value[k] += agrees(block, p, q, i, k) ? 1 : -x;
  }
  for (int k = 0; k < 4; k++) result = std::max(result, end_value(k, value[k]));
  return std::max(result, 0);
}

inline int model_score(const packed_t &block, candidate_t cand, const seq_record_t *q, int mode, int x, int c) {
  const int64_t p = static_cast<int32_t>(cand.position);
  const int odd = cand.query & 1;
  return c == -1 ? nucleotide_score(block, p, q, odd, mode, x) : colour_score(block, p, q, odd, mode, x, c);
}

// What a code says: its score against the block (aligned columns +1 or -x
// in the current decoding state, -c per state change, -c for an odd query
// ending in a state other than 0; an escape before the first aligned column
// of an odd query is its starting state and free), the read bases it covers
// and whether it holds anything but aligned, insertion and escape columns.
struct rescored_t {
  int score = 0;
  int read_bases = 0;
  bool foreign_ops = false;
  int64_t diagonal = 0;   // block position faced by query position 0
  bool off_diagonal = false;
};

inline rescored_t rescore(const uint8_t *bytes, int32_t length, int32_t position, const packed_t &block,
                          const seq_record_t *q, int odd, int x, int c) {
  rescored_t out;
  alignment_code_iter_t *it = alignment_code_iter_new();
  alignment_code_iter_init(it, length, bytes);
  int state = 0, read = 0, escapes = 0;
  bool aligned_seen = false;
  int64_t ref = position;
  for (int op = alignment_code_iter_next(it); op != 0; op = alignment_code_iter_next(it)) {
    if (op == 4) {
      const int arg = alignment_code_iter_next(it);
      if (!(odd && !aligned_seen && escapes == 0)) out.score -= c;
      escapes++;
      state = arg;
    } else if (op == 1) {
      // Query position read faces block position ref: the query laid at
      // ref - read, the same for every aligned column.
      if (!aligned_seen) out.diagonal = ref - read;
      if (ref - read != out.diagonal) out.off_diagonal = true;
      out.score += (read < static_cast<int>(q->length) && agrees(block, ref - read, q, read, state)) ? 1 : -x;
      ref++;
      read++;
      aligned_seen = true;
    } else if (op == 2) {
      read++;
    } else {
      out.foreign_ops = true;
      ref++;
    }
  }
  if (c != -1 && odd && state != 0) out.score -= c;
  out.read_bases = read;
  alignment_code_iter_free(it);
  return out;
}

// A random scoring case: a block, queries (some null) and candidates over
// them, in one space and mode.
struct random_case_t {
  std::vector<seq_record_t *> queries;
  std::vector<candidate_t> candidates;
  int mode = 0, x = 1, c = -1;
  ~random_case_t() {
    for (seq_record_t *q : queries) seq_record_free(q);
  }
};

// Random block codes with scattered unknown positions and one spacer run.
inline std::vector<int> random_block_codes(std::mt19937 &rng, int length) {
  std::vector<int> codes(length);
  for (int &v : codes) v = rng() % 40 == 0 ? kUnknown : static_cast<int>(rng() % 4);
  const int spacer = static_cast<int>(rng() % (length - 100));
  for (int j = spacer; j < spacer + 40; j++) codes[j] = kUnknown;
  return codes;
}

// Queries copied from the block with a random error rate, Ns and, in
// colour space, decoding-state changes; candidates near their source
// diagonals, at random places, and before the block.
inline void fill_random_case(random_case_t &rc, std::mt19937 &rng, const packed_t &block, int query_count,
                             int per_query, bool colour) {
  static const int kModes[] = {0, 1, 3};
  static const int kColourCosts[] = {0, 1, 2, 3, 5, 9, 40, 300};
  static const double kRates[] = {0.0, 0.02, 0.08, 0.25, 1.0};
  rc.mode = kModes[rng() % 3];
  rc.x = 1 + static_cast<int>(rng() % 3);
  rc.c = colour ? kColourCosts[rng() % 8] : -1;
  const int size = static_cast<int>(block.codes.size());
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<int> sources;
  for (int qi = 0; qi < query_count; qi++) {
    const int n = rng() % 4 == 0 ? 1 + static_cast<int>(rng() % 60) : 20 + static_cast<int>(rng() % 41);
    const int source = static_cast<int>(rng() % (size - 70));
    sources.push_back(source);
    if (rng() % 12 == 0) {
      rc.queries.push_back(nullptr);
      continue;
    }
    const double rate = kRates[rng() % 5];
    std::vector<int> codes(n);
    int state = colour && rng() % 2 ? static_cast<int>(rng() % 4) : 0;
    for (int i = 0; i < n; i++) {
      if (colour && unit(rng) < 0.06) state = static_cast<int>(rng() % 4);
      const int b = block.at(source + i);
      codes[i] = b == kUnknown ? static_cast<int>(rng() % 4) : (b ^ state);
      if (unit(rng) < rate) codes[i] = static_cast<int>(rng() % 4);
      if (rng() % 50 == 0) codes[i] = 4;
    }
    rc.queries.push_back(record(codes));
  }
  for (int qi = 0; qi < query_count; qi++) {
    for (int k = 0; k < per_query; k++) {
      int64_t p;
      const int pick = static_cast<int>(rng() % 10);
      if (pick < 6)
        p = sources[qi] + static_cast<int>(rng() % 5) - 2;
      else if (pick < 9)
        p = static_cast<int>(rng() % (size - 1));
      else
        p = -static_cast<int>(rng() % 70);
      rc.candidates.push_back({static_cast<uint32_t>(static_cast<int32_t>(p)), static_cast<uint32_t>(qi)});
    }
  }
  // Half the lists come in query order, as the seed search gives them.
  if (rng() % 2) std::shuffle(rc.candidates.begin(), rc.candidates.end(), rng);
}

}  // namespace ungapped_model
