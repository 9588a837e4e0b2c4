// Brute-force index of a few short sequences for the index tests: every
// rotation sorted by direct comparison, matches found by scanning.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fm/index/bidirectional_matcher.h"
#include "fm/index/nucleotide_array.h"

namespace naive {

using Symbols = std::vector<unsigned char>;

// One sequence as the index holds it: a non-circular one with its
// separator, a circular one cut to the word it repeats.
struct Reference {
  unsigned int id;
  Symbols bases;    // as handed to the builder
  Symbols symbols;  // as indexed
  bool circular;
};

// The shortest word whose copies make up the circular string x.
inline Symbols primitive_word(const Symbols &x) {
  const size_t n = x.size();
  for (size_t p = 1; p < n; p++) {
    if (n % p != 0) continue;
    bool periodic = true;
    for (size_t i = p; i < n && periodic; i++) periodic = x[i] == x[i - p];
    if (periodic) return Symbols(x.begin(), x.begin() + static_cast<long>(p));
  }
  return x;
}

inline Reference make_reference(unsigned int id, const Symbols &bases, bool circular) {
  Reference r{id, bases, bases, circular};
  if (circular) r.symbols = primitive_word(bases);
  else r.symbols.push_back(5);
  return r;
}

// A rotation: sequence index in the reference list and a position.
struct Rotation {
  size_t seq;
  uint32_t p;
};

inline unsigned char at(const Reference &r, long long i) {
  const long long n = static_cast<long long>(r.symbols.size());
  return r.symbols[static_cast<size_t>(((i % n) + n) % n)];
}

// Compares the strings read from two rotations, backward (step -1) or
// forward (step +1). Two periodic strings that agree on the sum of their
// periods agree for ever, so that many symbols decide.
inline int compare(const std::vector<Reference> &refs, const Rotation &a, const Rotation &b, int step) {
  const Reference &x = refs[a.seq], &y = refs[b.seq];
  const long long limit = static_cast<long long>(x.symbols.size() + y.symbols.size());
  for (long long i = 0; i < limit; i++) {
    const unsigned char u = at(x, a.p + step * i), v = at(y, b.p + step * i);
    if (u != v) return u < v ? -1 : 1;
  }
  return 0;
}

// Rows of the text array: rotations read backward, equal ones ordered by
// tie_rank of their sequence index.
inline std::vector<Rotation> text_rows(const std::vector<Reference> &refs, const std::vector<size_t> &tie_rank) {
  std::vector<Rotation> rows;
  for (size_t s = 0; s < refs.size(); s++)
    for (uint32_t p = 0; p < refs[s].symbols.size(); p++) rows.push_back({s, p});
  std::stable_sort(rows.begin(), rows.end(), [&](const Rotation &a, const Rotation &b) {
    const int c = compare(refs, a, b, -1);
    return c != 0 ? c < 0 : tie_rank[a.seq] < tie_rank[b.seq];
  });
  return rows;
}

// Rows of the reversed array: rotations read forward.
inline std::vector<Rotation> reversed_rows(const std::vector<Reference> &refs) {
  std::vector<Rotation> rows;
  for (size_t s = 0; s < refs.size(); s++)
    for (uint32_t p = 0; p < refs[s].symbols.size(); p++) rows.push_back({s, p});
  std::stable_sort(rows.begin(), rows.end(),
                   [&](const Rotation &a, const Rotation &b) { return compare(refs, a, b, +1) < 0; });
  return rows;
}

// Symbol of a text row (the one after the rotation's start) and the text
// position the row stands for.
inline unsigned char text_symbol(const std::vector<Reference> &refs, const Rotation &r) {
  return at(refs[r.seq], r.p + 1);
}
inline uint32_t text_position(const std::vector<Reference> &refs, const Rotation &r) {
  return static_cast<uint32_t>((r.p + 1) % refs[r.seq].symbols.size());
}
// Symbol of a reversed row: the one before the rotation's start.
inline unsigned char reversed_symbol(const std::vector<Reference> &refs, const Rotation &r) {
  return at(refs[r.seq], static_cast<long long>(r.p) - 1);
}

// Rows [first, first + count) of a row list whose rotation reads pattern
// (backward from the rotation for the text array: the pattern ends
// there; forward for the reversed array: it starts there).
struct Range {
  uint64_t begin = 0, end = 0;
};
inline Range pattern_range(const std::vector<Reference> &refs, const std::vector<Rotation> &rows,
                           const Symbols &pattern, bool backward) {
  Range range;
  bool found = false;
  const long long m = static_cast<long long>(pattern.size());
  for (uint64_t i = 0; i < rows.size(); i++) {
    bool match = true;
    for (long long k = 0; k < m && match; k++) {
      const unsigned char c = backward ? at(refs[rows[i].seq], rows[i].p - k) : at(refs[rows[i].seq], rows[i].p + k);
      match = c == (backward ? pattern[static_cast<size_t>(m - 1 - k)] : pattern[static_cast<size_t>(k)]);
    }
    if (match && !found) {
      found = true;
      range.begin = i;
    }
    if (match) range.end = i + 1;
  }
  if (!found) range.begin = range.end = 0;
  return range;
}

// A NucleotideArray holding the naive text rows with their records and
// samples, as the builder would make it (samples name sequence ids).
inline std::unique_ptr<NucleotideArray> text_array(const std::vector<Reference> &refs, const std::vector<Rotation> &rows,
                                                   int sampling_shift) {
  unsigned int longest = 0;
  for (const Reference &r : refs) longest = std::max<unsigned int>(longest, static_cast<unsigned int>(r.symbols.size()));
  auto array = std::make_unique<NucleotideArray>(rows.size(), static_cast<int>(refs.size()), longest);
  array->init_position_sampling(sampling_shift);
  std::vector<std::vector<std::pair<uint64_t, uint32_t>>> per_sequence(refs.size());
  for (uint64_t i = 0; i < rows.size(); i++) per_sequence[rows[i].seq].push_back({i, text_position(refs, rows[i])});
  for (size_t s = 0; s < refs.size(); s++) {
    NucleotideArraySequenceWriter writer(array.get(), refs[s].id, static_cast<unsigned int>(refs[s].symbols.size()));
    for (const auto &[row, position] : per_sequence[s]) writer.set(row, position, refs[s].symbols[position]);
    writer.finish();
  }
  array->finish();
  return array;
}

// Random bases with runs of N and repeated stretches.
inline Symbols random_bases(std::mt19937_64 &rng, size_t n) {
  Symbols x(n);
  for (size_t i = 0; i < n; i++) {
    const unsigned roll = static_cast<unsigned>(rng() % 100);
    if (roll < 3 && i > 8) {
      // Copy an earlier stretch.
      const size_t from = rng() % i, len = 1 + rng() % 12;
      for (size_t k = 0; k < len && i < n; k++, i++) x[i] = x[from + k];
      i--;
    } else if (roll < 5) {
      const size_t len = 1 + rng() % 6;
      for (size_t k = 0; k < len && i < n; k++, i++) x[i] = 4;
      i--;
    } else {
      x[i] = static_cast<unsigned char>(rng() % 4);
    }
  }
  return x;
}

// A random set of references: mostly short, some duplicated, circular
// ones among them, some made of a repeated word.
inline std::vector<Reference> random_references(std::mt19937_64 &rng, size_t count, size_t max_length) {
  std::vector<Reference> refs;
  for (unsigned int id = 0; id < count; id++) {
    const bool circular = rng() % 3 == 0;
    Symbols bases;
    const unsigned roll = static_cast<unsigned>(rng() % 10);
    if (roll == 0 && !refs.empty()) {
      bases = refs[rng() % refs.size()].bases;  // a duplicate
    } else if (roll == 1) {
      const Symbols word = random_bases(rng, 1 + rng() % 4);
      for (size_t k = 0, copies = 1 + rng() % 5; k < copies; k++) bases.insert(bases.end(), word.begin(), word.end());
    } else {
      bases = random_bases(rng, 1 + rng() % max_length);
    }
    refs.push_back(make_reference(id, bases, circular));
  }
  return refs;
}

// Tie rank per sequence index from the builder's tie order of ids.
inline std::vector<size_t> tie_rank_of(const std::vector<Reference> &refs, const std::vector<unsigned int> &order) {
  std::vector<size_t> rank(refs.size(), 0);
  for (size_t k = 0; k < order.size(); k++)
    for (size_t s = 0; s < refs.size(); s++)
      if (refs[s].id == order[k]) rank[s] = k;
  return rank;
}

// A built index and the order in which its builder breaks ties.
struct Built {
  std::unique_ptr<BidirectionalMatcher> matcher;
  std::vector<unsigned int> tie_order;
};

// Record index holding sequence id.
inline uint32_t record_of(const NucleotideArray &text, unsigned int id) {
  for (uint32_t k = 0; k < text.sequence_count(); k++)
    if (text.sequence(k).sequence_id == id) return k;
  ADD_FAILURE() << "no record for sequence " << id;
  return 0;
}

// Every row, record, sample and mapping of both arrays against the naive
// construction (equal rotations in the builder's tie order).
inline void expect_naive_index(const std::vector<Reference> &refs, const Built &built, int shift) {
  const NucleotideArray &text = *built.matcher->text_array();
  const NucleotideArray &reversed = *built.matcher->reversed_array();
  const std::vector<Rotation> rows = text_rows(refs, tie_rank_of(refs, built.tie_order));
  ASSERT_EQ(text.length(), rows.size());
  for (uint64_t i = 0; i < rows.size(); i++) ASSERT_EQ(text.get(i), text_symbol(refs, rows[i])) << "row " << i;

  // Records: the separator's row, or a circular sequence's smallest row.
  ASSERT_EQ(text.sequence_count(), refs.size());
  std::vector<uint64_t> smallest(refs.size(), ~0ull);
  for (uint64_t i = 0; i < rows.size(); i++) smallest[rows[i].seq] = std::min(smallest[rows[i].seq], i);
  for (size_t s = 0; s < refs.size(); s++) {
    const na_sequence &record = text.sequence(record_of(text, refs[s].id));
    const uint32_t length = static_cast<uint32_t>(refs[s].symbols.size());
    EXPECT_EQ(record.length, length);
    EXPECT_EQ(record.circular != 0, refs[s].circular);
    if (refs[s].circular) {
      EXPECT_EQ(record.row, smallest[s]);
      EXPECT_EQ(record.position, text_position(refs, rows[smallest[s]]));
    } else {
      EXPECT_EQ(record.position, length - 1);
      EXPECT_EQ(text.get(record.row), 5);
      EXPECT_EQ(text_position(refs, rows[record.row]), length - 1);
      EXPECT_EQ(rows[record.row].seq, s);
    }
  }

  // Samples name record indexes; sequences without a sampled row have a
  // mapping of their smallest row.
  ASSERT_EQ(text.sampling_shift(), shift);
  std::vector<bool> sampled(refs.size(), false);
  for (uint64_t i = 0; i < rows.size(); i++) {
    if (!text.is_sampled(i)) continue;
    sampled[rows[i].seq] = true;
    const uint64_t v = text.sample(i);
    ASSERT_EQ(text.sample_sequence(v), record_of(text, refs[rows[i].seq].id)) << "row " << i;
    ASSERT_EQ(text.sample_position(v), text_position(refs, rows[i])) << "row " << i;
  }
  size_t unsampled = 0;
  for (size_t s = 0; s < refs.size(); s++) {
    if (sampled[s]) continue;
    unsampled++;
    const auto &mappings = text.position_mappings();
    auto it = std::find_if(mappings.begin(), mappings.end(),
                           [&](const NucleotideArray::_position_mapping &m) { return m.row == smallest[s]; });
    ASSERT_NE(it, mappings.end()) << "sequence " << refs[s].id;
    EXPECT_EQ(it->sequence_id, record_of(text, refs[s].id));
    EXPECT_EQ(it->position, text_position(refs, rows[smallest[s]]));
  }
  EXPECT_EQ(text.position_mappings().size(), unsampled);

  const std::vector<Rotation> forward = reversed_rows(refs);
  ASSERT_EQ(reversed.length(), forward.size());
  for (uint64_t i = 0; i < forward.size(); i++)
    ASSERT_EQ(reversed.get(i), reversed_symbol(refs, forward[i])) << "reversed row " << i;
  EXPECT_EQ(reversed.sequence_count(), refs.size());
  EXPECT_EQ(reversed.non_circular_count(), text.non_circular_count());
  EXPECT_EQ(reversed.sampling_shift(), -1);
}

}  // namespace naive
