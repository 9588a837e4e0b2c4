// Shared pieces of the seeder tests: reference sets indexed with the real
// builder, reads as the engine holds them, and brute-force matching over
// the references' symbols.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fm/index/burrows_wheeler_index_builder.h"
#include "fm/index/mapper_index.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_search.h"
#include "owned_read.h"
#include "tests/fm/index/naive_index.h"

namespace seed_test {

using naive::Reference;
using naive::Symbols;

inline Symbols letters(const std::string &text) {
  Symbols s;
  for (char ch : text) s.push_back(static_cast<unsigned char>(std::string("ACGTN").find(ch)));
  return s;
}

inline Symbols reverse_complement(const Symbols &x) {
  Symbols r(x.rbegin(), x.rend());
  for (unsigned char &c : r)
    if (c < 4) c = static_cast<unsigned char>(3 - c);
  return r;
}

inline Symbols concat(std::initializer_list<Symbols> parts) {
  Symbols all;
  for (const Symbols &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Random bases A, C, G, T only.
inline Symbols random_acgt(std::mt19937_64 &rng, size_t n) {
  Symbols x(n);
  for (unsigned char &c : x) c = static_cast<unsigned char>(rng() % 4);
  return x;
}

// References with ids 0, 1, ... from their bases (none empty).
inline std::vector<Reference> references(const std::vector<Symbols> &bases, const std::vector<bool> &circular = {}) {
  std::vector<Reference> refs;
  for (size_t i = 0; i < bases.size(); i++)
    refs.push_back(naive::make_reference(static_cast<unsigned>(i), bases[i], i < circular.size() && circular[i]));
  return refs;
}

// A random reference set: bases with N runs and repeated stretches, some
// circular sequences, and now and then a copy of an earlier sequence.
inline std::vector<Reference> random_references(std::mt19937_64 &rng, size_t count, size_t min_length,
                                                size_t max_length, bool circular_too = true) {
  std::vector<Symbols> bases;
  std::vector<bool> circular;
  for (size_t i = 0; i < count; i++) {
    if (i > 0 && rng() % 8 == 0) bases.push_back(bases[rng() % i]);
    else bases.push_back(naive::random_bases(rng, min_length + rng() % (max_length - min_length + 1)));
    circular.push_back(circular_too && rng() % 4 == 0);
  }
  return references(bases, circular);
}

// The reference set indexed by the real builder.
inline MapperIndex build_index(const std::vector<Reference> &refs, unsigned int depth, uint64_t first_id = 0,
                               bool second_set = false) {
  BurrowsWheelerIndexBuilder builder(nullptr, 2, 3);
  std::vector<MapperIndexRef> info;
  for (const Reference &r : refs) {
    Sequence *s = Sequence::create(static_cast<unsigned int>(r.bases.size()), false, nullptr);
    std::memcpy(s->symbols, r.bases.data(), r.bases.size());
    builder.add_sequence(r.id, s, r.circular, nullptr);
    info.push_back({r.bases.size(), r.circular});
  }
  builder.finish();
  return MapperIndex(builder.get_result(), std::move(info), first_id, depth, second_set);
}

using ryx_test::OwnedRead;

// Occurrences of pattern (no separators) in the references: every start
// in a sequence's indexed symbols, read cyclically for circular ones.
inline uint64_t occurrences(const std::vector<Reference> &refs, const Symbols &pattern) {
  uint64_t n = 0;
  for (const Reference &r : refs) {
    const long long size = static_cast<long long>(r.symbols.size());
    for (long long s = 0; s < size; s++) {
      size_t j = 0;
      while (j < pattern.size() && naive::at(r, s + static_cast<long long>(j)) == pattern[j]) j++;
      if (j == pattern.size()) n++;
    }
  }
  return n;
}

// The longest d such that read[p, p + d) (strand 0) or its reverse
// complement (strand 1) occurs, never taking an N.
inline uint32_t longest_match(const std::vector<Reference> &refs, const Symbols &read, size_t p, int strand) {
  size_t best = 0;
  for (const Reference &r : refs) {
    const long long size = static_cast<long long>(r.symbols.size());
    for (long long s = 0; s < size; s++) {
      size_t j = 0;
      while (p + j < read.size() && read[p + j] < 4 &&
             (strand == 0 ? naive::at(r, s + static_cast<long long>(j)) == read[p + j]
                          : naive::at(r, s - static_cast<long long>(j)) == 3 - read[p + j]))
        j++;
      best = std::max(best, j);
    }
  }
  return static_cast<uint32_t>(best);
}

// A read from the references: a stretch of one sequence with
// substitutions, small insertions and deletions and the odd N, sometimes a
// chimera of two stretches or random bases, on either strand.
inline Symbols sample_read(std::mt19937_64 &rng, const std::vector<Reference> &refs, size_t length) {
  auto stretch = [&](size_t n) {
    const Reference &r = refs[rng() % refs.size()];
    const size_t from = r.bases.size() > n ? rng() % (r.bases.size() - n + 1) : 0;
    return Symbols(r.bases.begin() + static_cast<long>(from),
                   r.bases.begin() + static_cast<long>(std::min(r.bases.size(), from + n)));
  };
  Symbols source;
  const unsigned kind = static_cast<unsigned>(rng() % 10);
  if (kind == 0) source = random_acgt(rng, length);
  else if (kind == 1) source = concat({stretch(length / 2), stretch(length - length / 2)});
  else source = stretch(length);
  Symbols read;
  for (unsigned char c : source) {
    const unsigned roll = static_cast<unsigned>(rng() % 1000);
    if (roll < 30) read.push_back(static_cast<unsigned char>(rng() % 4));
    else if (roll < 40) continue;
    else if (roll < 50) read.insert(read.end(), {c, static_cast<unsigned char>(rng() % 4)});
    else if (roll < 55) read.push_back(4);
    else read.push_back(c);
  }
  while (read.size() < length) read.push_back(static_cast<unsigned char>(rng() % 4));
  read.resize(length);
  return rng() % 2 == 0 ? read : reverse_complement(read);
}

// The search a seed must hold: its text searched afresh.
inline BidirectionalSearch fresh_search(const MapperIndex &index, const Symbols &pattern) {
  BidirectionalSearch s;
  index.matcher->init_search(&s, pattern.data(), static_cast<int>(pattern.size()));
  return s;
}

// The text of a seed: the read or its reverse complement from the seed's
// offset.
inline Symbols seed_text(const Symbols &read, const MapperSearch &seed) {
  const Symbols strand = seed.strand == 0 ? read : reverse_complement(read);
  return Symbols(strand.begin() + seed.offset, strand.begin() + seed.offset + seed.length);
}

// Checks what every seed must hold: its set, its place within the read,
// its score 0, and a search equal to that of its text, with the naive
// number of occurrences.
inline void expect_sound_seeds(const std::vector<MapperSearch> &seeds, const std::vector<MapperIndex> &indexes,
                               const std::vector<std::vector<Reference>> &sets, const Symbols &read) {
  for (const MapperSearch &seed : seeds) {
    ASSERT_LT(seed.index_number, indexes.size());
    ASSERT_LE(static_cast<size_t>(seed.offset) + seed.length, read.size());
    EXPECT_EQ(seed.index, &indexes[seed.index_number]);
    EXPECT_EQ(seed.score, 0);
    const Symbols text = seed_text(read, seed);
    const BidirectionalSearch want = fresh_search(indexes[seed.index_number], text);
    EXPECT_TRUE(seed.search.equal(&want)) << "seed at " << seed.offset << " strand " << seed.strand;
    EXPECT_EQ(seed.count(), occurrences(sets[seed.index_number], text));
    EXPECT_GT(seed.count(), 0u);
  }
}

}  // namespace seed_test
