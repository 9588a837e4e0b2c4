// Alignment codes written as operation runs ("I3 M200 D70": 3 insertions,
// 200 match columns, 70 deletions), shown as hex, and replayed against
// their reference and read.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>

#include "fm/mapper/alignment.h"

namespace align_test {

inline Alignment code_of(const std::string &ops) {
  Alignment a;
  std::istringstream in(ops);
  std::string op;
  while (in >> op) {
    const uint32_t n = static_cast<uint32_t>(std::stoul(op.substr(1)));
    if (op[0] == 'M') a.add_matches(n);
    else if (op[0] == 'I') a.add_insertions(n);
    else a.add_deletions(n);
  }
  return a;
}

inline std::string hex_of(const Alignment &a) {
  std::string s;
  char buffer[4];
  for (uint8_t byte : a.code) {
    std::snprintf(buffer, sizeof buffer, "%s%02X", s.empty() ? "" : " ", byte);
    s += buffer;
  }
  return s;
}

// The code walked against reference and read: the read and reference
// symbols it consumes, the identical columns, and its local score (match
// +match, mismatch -mismatch, each internal gap run open + n x cost; the
// clips at either end free).
struct Replay {
  uint32_t read = 0, reference = 0, identical = 0;
  int64_t score = 0;
};

struct Scores {
  int64_t match = 1, mismatch = 2, gap_open = 0, gap = 3, deletion_open = 0, deletion = 3;
};

inline Replay replay(const Alignment &a, const uint8_t *reference, const uint8_t *read, Scores k = {}) {
  Replay r;
  const size_t n = a.code.size();
  for (size_t i = 0; i < n; i++) {
    const uint8_t kind = alignment_kind(a.code[i]);
    const uint32_t run = alignment_run(a.code[i]);
    if (kind == kMatchBase) {
      for (uint32_t j = 0; j < run; j++, r.read++, r.reference++) {
        const bool same = read[r.read] == reference[r.reference] && read[r.read] < 4;
        r.identical += same;
        r.score += same ? k.match : -k.mismatch;
      }
    } else if (kind == kInsertionBase) {
      // A clip when no match column lies before it or after it.
      bool before = false, after = false;
      for (size_t x = 0; x < i; x++) before |= alignment_kind(a.code[x]) != kInsertionBase;
      for (size_t x = i + 1; x < n; x++) after |= alignment_kind(a.code[x]) != kInsertionBase;
      const bool first_of_run = i == 0 || alignment_kind(a.code[i - 1]) != kInsertionBase;
      if (before && after) r.score -= run * k.gap + (first_of_run ? k.gap_open : 0);
      r.read += run;
    } else {
      const bool first_of_run = i == 0 || alignment_kind(a.code[i - 1]) != kDeletionBase;
      r.score -= run * k.deletion + (first_of_run ? k.deletion_open : 0);
      r.reference += run;
    }
  }
  return r;
}

}  // namespace align_test
