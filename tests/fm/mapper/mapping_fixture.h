// Shared pieces of the mapping tests: random genomes with planted repeats
// indexed by the real builder, simulated reads that know where they come
// from, and a worker's engine (Mapper, result, sampler, sample) that maps
// one read or one pair and lists the reported hits.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fm/index/burrows_wheeler_index_builder.h"
#include "fm/index/mapper_index.h"
#include "fm/mapper/alignment.h"
#include "fm/mapper/mapper.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_result.h"
#include "fm/mapper/mapper_sampler.h"
#include "fm/runtime/sequence.h"
#include "owned_read.h"

namespace map_test {

using Symbols = std::vector<unsigned char>;

// The sanitizer builds run the same cases on smaller genomes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif

inline Symbols reverse_complement(const Symbols &x) {
  Symbols r(x.rbegin(), x.rend());
  for (unsigned char &c : r)
    if (c < 4) c = static_cast<unsigned char>(3 - c);
  return r;
}

inline Symbols random_bases(std::mt19937_64 &rng, size_t n) {
  Symbols x(n);
  for (unsigned char &c : x) c = static_cast<unsigned char>(rng() % 4);
  return x;
}

// A stretch of one sequence copied elsewhere, as it is or reverse
// complemented.
struct Repeat {
  uint32_t source_sequence, source, copy_sequence, copy, length;
  bool reverse;
};

struct Genome {
  std::vector<Symbols> sequences;
  std::vector<bool> circular;
  std::vector<Repeat> repeats;
};

// total random bases over four sequences (the last one circular), with
// repeats copies of repeat_length bases each, placed in disjoint blocks
// away from the sequence ends.
inline Genome random_genome(uint64_t seed, size_t total, int repeats, uint32_t repeat_length) {
  std::mt19937_64 rng(seed);
  Genome g;
  const double shares[4] = {0.4, 0.3, 0.2, 0.1};
  for (int s = 0; s < 4; s++) {
    g.sequences.push_back(random_bases(rng, static_cast<size_t>(total * shares[s])));
    g.circular.push_back(s == 3);
  }
  if (repeats == 0 || repeat_length == 0) return g;
  // Blocks of 4 repeat lengths on the first three sequences; each repeat
  // takes two distinct blocks.
  const uint32_t block = 4 * repeat_length;
  std::vector<std::pair<uint32_t, uint32_t>> blocks;
  for (uint32_t s = 0; s < 3; s++)
    for (uint32_t b = 1; (b + 2) * block < g.sequences[s].size(); b++) blocks.push_back({s, b * block});
  std::shuffle(blocks.begin(), blocks.end(), rng);
  for (int r = 0; r < repeats && 2 * r + 1 < static_cast<int>(blocks.size()); r++) {
    Repeat rep{blocks[2 * r].first,      blocks[2 * r].second, blocks[2 * r + 1].first,
               blocks[2 * r + 1].second, repeat_length,        r % 3 == 2};
    const Symbols &src = g.sequences[rep.source_sequence];
    Symbols piece(src.begin() + rep.source, src.begin() + rep.source + repeat_length);
    if (rep.reverse) piece = reverse_complement(piece);
    std::copy(piece.begin(), piece.end(), g.sequences[rep.copy_sequence].begin() + rep.copy);
    g.repeats.push_back(rep);
  }
  return g;
}

// The genome indexed by the real builder, its codes first mapped through
// table when one is given (the bisulphite conversions).
inline MapperIndex index_genome(const Genome &g, const unsigned char *table = nullptr, bool second_set = false) {
  BurrowsWheelerIndexBuilder builder(nullptr, 2, 4);
  std::vector<MapperIndexRef> refs;
  for (size_t i = 0; i < g.sequences.size(); i++) {
    const Symbols &bases = g.sequences[i];
    Sequence *s = Sequence::create(static_cast<unsigned int>(bases.size()), false, nullptr);
    for (size_t j = 0; j < bases.size(); j++) s->symbols[j] = table != nullptr ? table[bases[j]] : bases[j];
    builder.add_sequence(static_cast<unsigned int>(i), s, g.circular[i], nullptr);
    refs.push_back({bases.size(), g.circular[i]});
  }
  builder.finish();
  return MapperIndex(builder.get_result(), std::move(refs), 0, 10, second_set);
}

using ryx_test::OwnedRead;

// The seed of strand codes [offset, offset + length) of read, searched
// in index.
inline MapperSearch seed_of(const MapperIndex &index, const MapperRead &read, uint32_t strand, uint32_t offset,
                     uint32_t length) {
  MapperSearch s;
  s.index = &index;
  index.matcher->init_search(&s.search, read.codes(strand) + offset, static_cast<int>(length));
  s.strand = strand;
  s.offset = offset;
  s.length = length;
  return s;
}

// A simulated read: its codes and the reference interval it came from.
struct SimulatedRead {
  Symbols codes;
  uint32_t sequence = 0;
  uint32_t start = 0;  // first reference base
  uint32_t end = 0;    // one past the last
  bool reverse = false;
};

// Errors per base: substitutions, insertions and deletions.
struct ErrorRates {
  double substitution = 0, insertion = 0, deletion = 0;
};

// Reference bases [start, start + span) with errors.
inline Symbols mutate(std::mt19937_64 &rng, const Symbols &source, ErrorRates rates) {
  std::uniform_real_distribution<double> u(0, 1);
  Symbols out;
  for (unsigned char c : source) {
    const double roll = u(rng);
    if (roll < rates.deletion) continue;
    if (roll < rates.deletion + rates.insertion) out.push_back(static_cast<unsigned char>(rng() % 4));
    if (u(rng) < rates.substitution)
      out.push_back(static_cast<unsigned char>((c + 1 + rng() % 3) % 4));
    else
      out.push_back(c);
  }
  return out;
}

// A read of about length symbols from a random place of a linear sequence
// (or of sequence only, when given), on a random strand unless strand is
// 0 or 1. The interval avoids the planted repeats when unique is set.
inline SimulatedRead simulate_read(std::mt19937_64 &rng, const Genome &g, uint32_t length, ErrorRates rates,
                                   bool unique, int strand = -1, int sequence = -1) {
  for (;;) {
    SimulatedRead r;
    r.sequence = sequence >= 0 ? static_cast<uint32_t>(sequence) : static_cast<uint32_t>(rng() % 3);
    const Symbols &s = g.sequences[r.sequence];
    r.start = static_cast<uint32_t>(rng() % (s.size() - length));
    r.end = r.start + length;
    if (unique) {
      bool clash = false;
      for (const Repeat &rep : g.repeats) {
        clash |= rep.source_sequence == r.sequence && r.start < rep.source + rep.length && rep.source < r.end;
        clash |= rep.copy_sequence == r.sequence && r.start < rep.copy + rep.length && rep.copy < r.end;
      }
      if (clash) continue;
    }
    r.codes = mutate(rng, Symbols(s.begin() + r.start, s.begin() + r.end), rates);
    r.reverse = strand >= 0 ? strand == 1 : rng() % 2 == 1;
    if (r.reverse) r.codes = reverse_complement(r.codes);
    return r;
  }
}

// One reported hit.
struct Hit {
  uint32_t sequence;
  uint32_t position;
  bool reverse;
  std::vector<uint8_t> code;
  bool second_set;
  bool operator==(const Hit &o) const {
    return std::tie(sequence, position, reverse, code, second_set) ==
           std::tie(o.sequence, o.position, o.reverse, o.code, o.second_set);
  }
};

struct Mapped {
  uint32_t hit_total = 0;
  uint8_t mapping_quality = 255;
  std::vector<Hit> hits;
  bool operator==(const Mapped &o) const {
    return hit_total == o.hit_total && mapping_quality == o.mapping_quality && hits == o.hits;
  }
};

// A worker's engine: what the pipeline's node holds.
struct Worker {
  explicit Worker(MapperParameters *p) : mapper(p), sampler(mapper.random_state(), p->max_align) {}
  Mapper mapper;
  MapperResult result;
  MapperSampler sampler;
  MapperSample sample;

  // Maps one read under index read_index and returns its reported hits.
  Mapped map(MapperRead *read, unsigned long long read_index, MapperReadType technology = kMapperReadNormal) {
    map_only(read, read_index, technology);
    Mapped m;
    m.hit_total = sample.hit_total[0];
    m.mapping_quality = sample.mapping_quality[0];
    for (const MapperSampleEntry &e : sample.entries[0])
      m.hits.push_back({e.reference_sequence, e.position, e.reverse, e.transcript, e.second_set});
    return m;
  }
  // The same without collecting the hits: what a worker does per read.
  void map_only(MapperRead *read, unsigned long long read_index, MapperReadType technology = kMapperReadNormal) {
    mapper.set_technology(technology);
    mapper.single_run(read, &result, read_index);
    sample.clear_mate(0);
    sampler.run(&result, &sample, 0);
  }
};

// What a worker reports for a pair.
struct PairOut {
  bool paired = false;
  Mapped mate[2];
  bool operator==(const PairOut &o) const { return paired == o.paired && mate[0] == o.mate[0] && mate[1] == o.mate[1]; }
};

// A worker's engine for pairs: what the pipeline's node holds.
struct PairedWorker {
  explicit PairedWorker(MapperParameters *p)
      : mapper(p), result(mapper.random_state(), p->max_align), sampler(mapper.random_state(), p->max_align) {}

  PairOut map(MapperRead *mate1, MapperRead *mate2, const MapperPairedParameters &setting,
              unsigned long long index) {
    map_only(mate1, mate2, setting, index);
    PairOut out;
    out.paired = sample.paired;
    for (int m = 0; m < 2; m++) {
      out.mate[m].hit_total = sample.hit_total[m];
      out.mate[m].mapping_quality = sample.mapping_quality[m];
      for (const MapperSampleEntry &e : sample.entries[m])
        out.mate[m].hits.push_back({e.reference_sequence, e.position, e.reverse, e.transcript, e.second_set});
    }
    return out;
  }
  // The same for copies of the mates' codes: the engine converts the mates
  // of bisulphite runs in place.
  PairOut map(const Symbols &mate1, const Symbols &mate2, const MapperPairedParameters &setting,
              unsigned long long index) {
    OwnedRead m1(mate1), m2(mate2);
    return map(&m1.read, &m2.read, setting, index);
  }
  void map_only(MapperRead *mate1, MapperRead *mate2, const MapperPairedParameters &setting,
                unsigned long long index) {
    mapper.paired_run(mate1, mate2, &result, &setting, index);
    sampler.paired_run(&result, &sample);
  }

  Mapper mapper;
  MapperPairedResult result;
  MapperSampler sampler;
  MapperSample sample;
};

// fb ss: mate 1 forward at the fragment's left end, mate 2 reverse at its
// right end, mate 2's read start (one past the fragment's end) 200 to 600
// symbols after mate 1's.
const MapperPairedParameters kFbSs{1, 0, 200, 600};

// Read and reference symbols a transcript consumes.
inline uint32_t read_span(const std::vector<uint8_t> &code) {
  uint32_t n = 0;
  for (uint8_t b : code)
    if (alignment_kind(b) != kDeletionBase) n += alignment_run(b);
  return n;
}
inline uint32_t reference_span(const std::vector<uint8_t> &code) {
  uint32_t n = 0;
  for (uint8_t b : code)
    if (alignment_kind(b) != kInsertionBase) n += alignment_run(b);
  return n;
}
// Insertions that open the transcript: the read symbols clipped at its
// start.
inline uint32_t leading_clip(const std::vector<uint8_t> &code) {
  uint32_t n = 0;
  for (uint8_t b : code) {
    if (alignment_kind(b) != kInsertionBase) break;
    n += alignment_run(b);
  }
  return n;
}

// The identical aligned columns of a hit's transcript against the
// reference, read on the hit's strand.
inline uint32_t identical_columns(const Hit &h, const Genome &g, const Symbols &read) {
  const Symbols strand = h.reverse ? reverse_complement(read) : read;
  const Symbols &ref = g.sequences[h.sequence];
  uint32_t r = 0, f = 0, same = 0;
  for (uint8_t b : h.code) {
    const uint32_t k = alignment_run(b);
    for (uint32_t j = 0; j < k; j++) {
      if (alignment_kind(b) == kMatchBase) {
        same += strand[r] == ref[(h.position + f) % ref.size()];
        r++;
        f++;
      } else if (alignment_kind(b) == kInsertionBase) {
        r++;
      } else {
        f++;
      }
    }
  }
  return same;
}

}  // namespace map_test
