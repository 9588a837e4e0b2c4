#include "fm/mapper/mapper.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fm/mapper/mapper_pacbio_seeder.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_sensitive_seeder.h"
#include "fm/mapper/mapper_standard_seeder.h"

namespace {

// Conversion tables over codes 0 to 5 (A, C, G, T, N, separator).
constexpr unsigned char kCtoT[6] = {0, 3, 2, 3, 4, 5};
constexpr unsigned char kGtoA[6] = {0, 1, 0, 3, 4, 5};
constexpr unsigned char kComplement[6] = {3, 2, 1, 0, 4, 5};

void convert(MapperRead *read, const unsigned char *unconverted, const unsigned char *table) {
  const uint32_t n = read->length;
  for (uint32_t i = 0; i < n; i++) {
    const unsigned char x = unconverted[i];
    const unsigned char t = x < 6 ? table[x] : x;
    read->forward_codes[i] = t;
    read->reverse_codes[n - 1 - i] = t < 6 ? kComplement[t] : t;
  }
}

// The longest seed of a list halved, rounded down.
uint32_t half_longest(const MapperSeeds *seeds) {
  uint32_t longest = 0;
  for (const MapperSearch &s : seeds->seeds) longest = std::max(longest, s.length);
  return static_cast<uint32_t>(longest * 0.5);
}

// The finaliser of a 64-bit splitting generator: a bijection that spreads
// neighbouring indexes over the whole seed space.
uint64_t mix64(uint64_t x) {
  x += UINT64_C(0x9E3779B97F4A7C15);
  x = (x ^ (x >> 30)) * UINT64_C(0xBF58476D1CE4E5B9);
  x = (x ^ (x >> 27)) * UINT64_C(0x94D049BB133111EB);
  return x ^ (x >> 31);
}

}  // namespace

Mapper::Mapper(MapperParameters *parameters) : parameters_(parameters) {
  if (parameters->sensitive) {
    normal_seeder_ = new MapperSensitiveSeeder(parameters);
    long_seeder_ = new MapperSensitiveSeeder(parameters);
  } else {
    normal_seeder_ = new MapperStandardSeeder(parameters);
    long_seeder_ = new MapperPacbioSeeder(parameters);
  }
  full_extender_ = new MapperFullExtender(parameters);
  dropoff_extender_ = new MapperDropoffExtender(parameters);
  seeds_[0].seeds.reserve(1000);
  seeds_[1].seeds.reserve(1000);
}

Mapper::~Mapper() {
  delete normal_seeder_;
  delete long_seeder_;
  delete full_extender_;
  delete dropoff_extender_;
}

void Mapper::mapper_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
}

bool Mapper::check_read_length(MapperRead *read) {
  MapperParameters &p = *parameters_;
  if (read->length < p.min_seed_length) {
    bool expected = false;
    if (p.short_read_warned.compare_exchange_strong(expected, true))
      mapper_error("Some reads of unsupported length <%u have been ignored.\n", p.min_seed_length);
    return true;
  }
  if (read->length > p.max_read_length) {
    bool expected = false;
    if (p.long_read_warned.compare_exchange_strong(expected, true))
      mapper_error("Some reads of unsupported length >%u have been ignored.\n", p.max_read_length);
    return true;
  }
  return false;
}

void Mapper::reseed_using_read_index(unsigned long long read_index) { random_.reseed(mix64(read_index) | 1); }

void Mapper::seeder_run(MapperRead *read, MapperSeeds *seeds, unsigned strand_mask,
                        const std::vector<MapperIndex> &indexes) {
  MapperSeeder *seeder = technology_ == kMapperReadPacbio ? long_seeder_ : normal_seeder_;
  seeder->run(read, seeds, strand_mask, indexes);
}

MapperExtender *Mapper::extender_for(const MapperRead *read) {
  const MapperParameters &p = *parameters_;
  if (p.forced_extender == kExtenderFull) return full_extender_;
  if (p.forced_extender == kExtenderDropoff) return dropoff_extender_;
  if (technology_ == kMapperReadPacbio || read->length > p.normal_type_limit) return dropoff_extender_;
  return full_extender_;
}

void Mapper::extender_run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) {
  extender_for(read)->run(read, seeds, result);
}

void Mapper::ct_transform(MapperRead *read, const unsigned char *unconverted) { convert(read, unconverted, kCtoT); }

void Mapper::ga_transform(MapperRead *read, const unsigned char *unconverted) { convert(read, unconverted, kGtoA); }

void Mapper::reduce_bisulphite_seeds(unsigned read_length, MapperSeeds *a, MapperSeeds *b) {
  const uint32_t floor = std::max(half_longest(a), half_longest(b));
  MapperStandardSeeder::remove_short_seeds(a, read_length, floor, false);
  MapperStandardSeeder::remove_short_seeds(b, read_length, floor, false);
}

void Mapper::reduce_bisulphite_seeds(unsigned read_length, MapperSeeds *a, MapperSeeds *b, MapperSeeds *c,
                                     MapperSeeds *d) {
  const uint32_t floor = std::max({half_longest(a), half_longest(b), half_longest(c), half_longest(d)});
  for (MapperSeeds *s : {a, b, c, d}) MapperStandardSeeder::remove_short_seeds(s, read_length, floor, false);
}

void Mapper::select_best_bisulphite_results(MapperResult *a, MapperResult *b, MapperResult *out, bool tie_break,
                                            MapperResult *c, MapperResult *d) {
  const Candidate cc = c != nullptr ? candidate(c) : Candidate{0, 0};
  const Candidate dc = d != nullptr ? candidate(d) : Candidate{0, 0};
  select_best(a, b, out, tie_break, &cc, &dc);
}

void Mapper::select_best(MapperResult *a, MapperResult *b, MapperResult *out, bool tie_break, const Candidate *c,
                         const Candidate *d) {
  out->clear();
  const uint64_t a_hits = a->hit_count(), b_hits = b->hit_count();
  if (a_hits == 0) {
    if (b_hits > 0) out->combine(b);
    return;
  }
  if (b_hits == 0) {
    out->combine(a);
    return;
  }
  if (a->best_score != b->best_score) {
    out->combine(a->best_score > b->best_score ? a : b);
    return;
  }
  // A candidate that scores no worse than a (as unsigned numbers) keeps the
  // tie open for the later selection; only a tie of single hits that no
  // other candidate matches is broken by a draw.
  auto below_a = [&](const Candidate *x) {
    return x->hits == 0 || static_cast<uint32_t>(x->best) < static_cast<uint32_t>(a->best_score);
  };
  if (tie_break && a_hits == 1 && b_hits == 1 && below_a(c) && below_a(d)) {
    out->combine(random_.draw_double() < 0.5 ? a : b);
    return;
  }
  out->combine(a);
  out->combine(b);
}

uint8_t Mapper::compute_mapping_quality(const MapperSeeds &seeds, const MapperResult &result) {
  if (result.hit_count() != 1) return 0;
  // The best seed: the first with the highest score.
  const MapperSearch *best = nullptr;
  for (const MapperSearch &s : seeds.seeds)
    if (s.score > 0 && (best == nullptr || s.score > best->score)) best = &s;
  const uint32_t alt = seeds.alt_hit_score;
  if (best == nullptr) return alt == 0 ? 60 : 0;
  const double t = static_cast<double>(best->score) * best->score;
  double w = 1.0;
  if (alt != 0) {
    const double v = std::min<double>(alt, best->score - 1);
    w = (t - v * v) / t;
  }
  const uint64_t m = best->offset, o = best->length;
  for (const MapperSearch &s : seeds.seeds) {
    const uint64_t end = static_cast<uint64_t>(s.offset) + s.length;
    if (end > m && s.offset < m + o && s.offset != m && s.length != o) {
      const double q = static_cast<double>(s.score) * s.score;
      w *= (t - q) / t;
    }
  }
  const double quality = std::ceil(60.0 * w);
  return static_cast<uint8_t>(std::clamp(quality, 0.0, 60.0));
}

void Mapper::single_run(MapperRead *read, MapperResult *result, unsigned long long read_index) {
  const MapperParameters &p = *parameters_;
  if (check_read_length(read)) {
    result->clear();
    return;
  }
  reseed_using_read_index(read_index);
  if (p.bisulphite) {
    if (p.non_directional)
      bisulphite_non_directional(read, result);
    else
      bisulphite_directional(read, result);
    return;
  }
  MapperSeeds &seeds = seeds_[0];
  seeds.clear();
  seeder_run(read, &seeds, p.strand_mask, p.main_set);
  result->clear();
  extender_run(read, &seeds, result);
  if (p.mapping_quality) result->mapping_quality = compute_mapping_quality(seeds, *result);
  if (p.repeat_mode == kRepeatIgnore && result->hit_count() > p.max_align) result->clear();
}

// A directional library holds reads of the two original strands: the read
// C->T converted matches the C->T converted references as it is, and its
// reverse complement the G->A converted ones.
void Mapper::bisulphite_directional(MapperRead *read, MapperResult *result) {
  const MapperParameters &p = *parameters_;
  ct_transform(read, read->forward_codes);
  seeds_[0].clear();
  seeds_[1].clear();
  seeder_run(read, &seeds_[0], 1, p.main_set);
  seeder_run(read, &seeds_[1], 2, p.bisulphite_set);
  reduce_bisulphite_seeds(read->length, &seeds_[0], &seeds_[1]);
  for (int k = 0; k < 2; k++) {
    candidates_[k].clear();
    extender_run(read, &seeds_[k], &candidates_[k]);
  }
  select_best_bisulphite_results(&candidates_[0], &candidates_[1], result, false, nullptr, nullptr);
}

// A non-directional library also holds the complements of the original
// strands, whose reads show G->A conversion: the read is mapped both ways
// and the four candidates are chosen between in two rounds.
void Mapper::bisulphite_non_directional(MapperRead *read, MapperResult *result) {
  const MapperParameters &p = *parameters_;
  const uint32_t n = read->length;
  if (unconverted_.size() < n) unconverted_.resize(n);
  memcpy(unconverted_.data(), read->forward_codes, n);
  for (MapperSeeds &s : seeds_) s.clear();
  ct_transform(read, unconverted_.data());
  seeder_run(read, &seeds_[0], 1, p.main_set);
  seeder_run(read, &seeds_[1], 2, p.bisulphite_set);
  ga_transform(read, unconverted_.data());
  seeder_run(read, &seeds_[3], 2, p.main_set);
  seeder_run(read, &seeds_[2], 1, p.bisulphite_set);
  reduce_bisulphite_seeds(n, &seeds_[0], &seeds_[1], &seeds_[2], &seeds_[3]);
  // P and Q from the C->T read, R and S from the G->A read.
  ct_transform(read, unconverted_.data());
  for (int k = 0; k < 2; k++) {
    candidates_[k].clear();
    extender_run(read, &seeds_[k], &candidates_[k]);
  }
  ga_transform(read, unconverted_.data());
  for (int k = 2; k < 4; k++) {
    candidates_[k].clear();
    extender_run(read, &seeds_[k], &candidates_[k]);
  }
  select_best_of_four_bisulphite_results(&candidates_[0], &candidates_[1], &candidates_[2], &candidates_[3], result);
}

void Mapper::select_best_of_four_bisulphite_results(MapperResult *p, MapperResult *q, MapperResult *r, MapperResult *s,
                                                    MapperResult *out) {
  const Candidate cp = candidate(p), cq = candidate(q), cr = candidate(r), cs = candidate(s);
  select_best(p, r, &halves_[0], true, &cq, &cs);
  select_best(q, s, &halves_[1], true, &cp, &cr);
  select_best(&halves_[0], &halves_[1], out, false, nullptr, nullptr);
}
