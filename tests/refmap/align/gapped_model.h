// Plain models for the gapped scorer and aligner tests: a packed test
// block, the banded dynamic programme cell by cell in whole integers, and a
// rescorer that walks an alignment code and scores it under the same rules.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "seqio/alignment_code.h"
#include "seqio/seq_record.h"

namespace gapped_model {

// A block of positions with codes 0-3, or 4 for an unknown position, and
// its packed bases and known mask with spare bytes after the end.
struct Block {
  std::vector<uint8_t> codes;
  std::vector<uint8_t> bases;
  std::vector<uint8_t> known;

  int code_at(int64_t p) const { return p < 0 || p >= static_cast<int64_t>(codes.size()) ? 4 : codes[p]; }

  void pack() {
    bases.assign(codes.size() / 4 + 64, 0);
    known.assign(codes.size() / 4 + 64, 0);
    for (size_t p = 0; p < codes.size(); p++) {
      const int shift = static_cast<int>(2 * (p & 3));
      if (codes[p] < 4) {
        bases[p / 4] |= static_cast<uint8_t>(codes[p] << shift);
        known[p / 4] |= static_cast<uint8_t>(3 << shift);
      } else {
        // Unknown positions hold some base, as the block packer's do.
        bases[p / 4] |= static_cast<uint8_t>(((p * 7) & 3) << shift);
      }
    }
  }
};

inline Block random_block(std::mt19937 &rng, int length, double unknown_rate) {
  Block block;
  block.codes.resize(length);
  std::uniform_real_distribution<double> u(0, 1);
  for (int p = 0; p < length; p++) block.codes[p] = u(rng) < unknown_rate ? 4 : static_cast<uint8_t>(rng() & 3);
  block.pack();
  return block;
}

// Costs and mode; c = -1 for nucleotide space.
struct Rules {
  int x = 2;
  int g = 3;
  int d = 3;
  int c = -1;
  int mode = 0;
};

struct Result {
  int score = 0;
  uint16_t mask = 0;
};

inline bool anchored_start(const Rules &r, bool odd) { return r.mode == 3 || (r.mode == 1 && !odd); }
inline bool anchored_end(const Rules &r, bool odd) { return r.mode == 3 || (r.mode == 1 && odd); }

// +1 when the block base is known and equals the query code exclusive-ored
// with the state, else -x.
inline int cell_score(const Block &block, const std::vector<uint8_t> &query, int i, int64_t position, int state,
                      int x) {
  const int b = block.code_at(position);
  const int q = query[i];
  return (b < 4 && q < 4 && (q ^ state) == b) ? 1 : -x;
}

// Start value of a state (before query base 0, or the floor of free
// starts): 0, except -c for states 1-3 of an even query in colour space.
inline int start_value(const Rules &r, bool odd, int state) { return state > 0 && r.c >= 0 && !odd ? -r.c : 0; }

// The banded programme over cells (i, k): query base i against block
// position P - 7 + k + i, in whole integers.
inline Result score(const Block &block, const std::vector<uint8_t> &query, bool odd, uint32_t position,
                    const Rules &r) {
  const int n = static_cast<int>(query.size());
  if (n == 0) return {};
  const bool colour = r.c >= 0;
  const int states = colour ? 4 : 1;
  const bool free_start = !anchored_start(r, odd);
  std::vector<int> h(static_cast<size_t>(n) * 16 * states);
  auto at = [&](int i, int k, int s) -> int & { return h[(static_cast<size_t>(i) * 16 + k) * states + s]; };
  const int64_t first = static_cast<int64_t>(position) - 7;
  for (int i = 0; i < n; i++) {
    for (int k = 0; k < 16; k++) {
      int pre[4];
      int top = INT_MIN;
      for (int s = 0; s < states; s++) {
        const int start = start_value(r, odd, s);
        int v = (i == 0 ? start : at(i - 1, k, s)) + cell_score(block, query, i, first + k + i, s, r.x);
        if (k > 0) v = std::max(v, at(i, k - 1, s) - r.d);
        if (k < 15) v = std::max(v, (i == 0 ? start : at(i - 1, k + 1, s)) - r.g);
        if (free_start) v = std::max(v, start);
        pre[s] = v;
        top = std::max(top, v);
      }
      for (int s = 0; s < states; s++) at(i, k, s) = colour ? std::max(pre[s], top - r.c) : pre[s];
    }
  }
  auto tracked = [&](int i, int k) {
    if (!colour || odd) return at(i, k, 0);
    return std::max(std::max(at(i, k, 0), at(i, k, 1)), std::max(at(i, k, 2), at(i, k, 3)));
  };
  const int first_end = anchored_end(r, odd) ? n - 1 : 0;
  int best = INT_MIN;
  for (int i = first_end; i < n; i++)
    for (int k = 0; k < 16; k++) best = std::max(best, tracked(i, k));
  Result result;
  if (best < 0) return result;
  result.score = best;
  for (int i = first_end; i < n; i++)
    for (int k = 0; k < 16; k++)
      if (tracked(i, k) == best) result.mask = static_cast<uint16_t>(result.mask | (1u << k));
  return result;
}

// What an alignment code says under the scoring rules.
struct Rescored {
  int score = 0;
  int read_bases = 0;       // aligned + insertion columns
  bool in_band = true;      // every scored column's cell lies on a band diagonal
  int end_diagonal = -1;    // band diagonal of the last scored column
  int columns = 0;          // aligned, insertion and deletion columns
  int escapes = 0;
};

// Scores code bytes laid at block position start: aligned columns +1 or
// -x, insertions -g (except clipped ones: leading ones in free-start modes,
// trailing ones in free-end modes), deletions -d; in colour space an escape
// sets the state, costing c when it changes it, except that an odd query's
// code may open with its starting state for free; an odd query ending in a
// state other than 0 pays c.
inline Rescored rescore(const Block &block, const std::vector<uint8_t> &query, bool odd, uint32_t position,
                        const Rules &r, const uint8_t *bytes, int32_t length, int32_t start) {
  std::vector<int> ops;
  alignment_code_iter_t *iter = alignment_code_iter_new();
  alignment_code_iter_init(iter, length, bytes);
  for (int op; (op = alignment_code_iter_next(iter)) != 0;) {
    ops.push_back(op);
    if (op == kCodeOpEscape) ops.push_back(100 + alignment_code_iter_next(iter));
  }
  alignment_code_iter_free(iter);
  int first_core = -1;
  int last_core = -1;
  for (int j = 0; j < static_cast<int>(ops.size()); j++)
    if (ops[j] == kCodeOpMatch || ops[j] == kCodeOpDeletion) {
      if (first_core < 0) first_core = j;
      last_core = j;
    }
  const int64_t first = static_cast<int64_t>(position) - 7;
  Rescored out;
  int state = 0;
  int read = 0;
  int64_t ref = start;
  for (int j = 0; j < static_cast<int>(ops.size()); j++) {
    const int op = ops[j];
    if (op == kCodeOpEscape) {
      const int arg = ops[++j] - 100;
      out.escapes++;
      if (!(j == 1 && odd) && arg != state) out.score -= r.c;
      state = arg;
      continue;
    }
    int diagonal = 0;
    bool scored = true;
    if (op == kCodeOpMatch) {
      out.score += cell_score(block, query, read, ref, state, r.x);
      diagonal = static_cast<int>(ref - read - first);
      read++;
      ref++;
    } else if (op == kCodeOpDeletion) {
      out.score -= r.d;
      diagonal = static_cast<int>(ref - (read - 1) - first);
      ref++;
    } else {
      const bool free_start = !anchored_start(r, odd);
      const bool free_end = !anchored_end(r, odd);
      scored = first_core < 0 ? !(free_start || free_end)
                              : !((j < first_core && free_start) || (j > last_core && free_end));
      if (scored) {
        out.score -= r.g;
        diagonal = static_cast<int>(ref - 1 - read - first);
      }
      read++;
    }
    out.columns++;
    if (scored) {
      if (diagonal < 0 || diagonal > 15) out.in_band = false;
      out.end_diagonal = diagonal;
    }
  }
  if (r.c >= 0 && odd && state != 0) out.score -= r.c;
  out.read_bases = read;
  return out;
}

// A query of n codes for a candidate near origin: random codes, a hopeless
// read (all N or every base wrong), or the block read from origin with
// substitutions, insertions, deletions, N and (colour space) changes of the
// exclusive-or state at random rates.
inline std::vector<uint8_t> random_query(const Block &block, std::mt19937 &rng, int n, int64_t origin,
                                         bool colour) {
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<uint8_t> q;
  const int kind = static_cast<int>(rng() % 10);
  if (kind == 0) {
    for (int i = 0; i < n; i++) q.push_back(u(rng) < 0.05 ? 4 : static_cast<uint8_t>(rng() & 3));
    return q;
  }
  if (kind == 1) {
    const bool all_n = (rng() & 1) != 0;
    for (int i = 0; i < n; i++) {
      const int b = block.code_at(origin + i);
      q.push_back(all_n ? 4 : static_cast<uint8_t>(b < 4 ? b ^ 1 : 0));
    }
    return q;
  }
  const double rates[4] = {0, 0.02, 0.06, 0.15};
  const double substitution = rates[rng() % 4];
  const double insertion = rates[rng() % 3];
  const double deletion = rates[rng() % 3];
  const double change = colour ? rates[rng() % 3] : 0;
  int state = colour && (rng() % 4 == 0) ? static_cast<int>(rng() & 3) : 0;
  int64_t ref = origin;
  while (static_cast<int>(q.size()) < n) {
    const double r = u(rng);
    if (r < insertion) {
      q.push_back(static_cast<uint8_t>(rng() & 3));
      continue;
    }
    if (r < insertion + deletion) {
      ref++;
      continue;
    }
    if (u(rng) < change) state = static_cast<int>(rng() & 3);
    int b = block.code_at(ref++);
    if (b > 3) b = static_cast<int>(rng() & 3);
    if (u(rng) < substitution) b = (b + 1 + static_cast<int>(rng() % 3)) & 3;
    q.push_back(u(rng) < 0.01 ? 4 : static_cast<uint8_t>(b ^ state));
  }
  return q;
}

inline seq_record_t *make_record(const std::vector<uint8_t> &codes) {
  seq_record_t *record = seq_record_new(static_cast<uint32_t>(codes.size()));
  if (!codes.empty()) memcpy(record->residues, codes.data(), codes.size());
  record->residues[codes.size()] = 0;
  return record;
}

}  // namespace gapped_model
