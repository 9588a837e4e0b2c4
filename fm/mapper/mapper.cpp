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

Mapper::Mapper(MapperParameters *parameters)
    : parameters_(parameters),
      paired_candidates_{{&random_, parameters->max_align},
                         {&random_, parameters->max_align},
                         {&random_, parameters->max_align},
                         {&random_, parameters->max_align}},
      paired_halves_{{&random_, parameters->max_align}, {&random_, parameters->max_align}} {
  if (parameters->sensitive) {
    normal_seeder_ = new MapperSensitiveSeeder(parameters);
    long_seeder_ = new MapperSensitiveSeeder(parameters);
  } else {
    normal_seeder_ = new MapperStandardSeeder(parameters);
    long_seeder_ = new MapperPacbioSeeder(parameters);
  }
  full_extender_ = new MapperFullExtender(parameters);
  dropoff_extender_ = new MapperDropoffExtender(parameters);
  // The extenders walk the rows the seeding has just stepped through.
  full_extender_->use_step_cache(normal_seeder_->step_cache());
  dropoff_extender_->use_step_cache(normal_seeder_->step_cache());
  seeds_[0].seeds.reserve(1000);
  seeds_[1].seeds.reserve(1000);
  // The mate converted G to A: mate 2 in the candidates of the first
  // conversion (C, D), mate 1 in those of the second (E, F).
  paired_candidates_[0].mate[1].ga_mark = true;
  paired_candidates_[1].mate[1].ga_mark = true;
  paired_candidates_[2].mate[0].ga_mark = true;
  paired_candidates_[3].mate[0].ga_mark = true;
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

MapperSeeder *Mapper::seeder() const { return technology_ == kMapperReadPacbio ? long_seeder_ : normal_seeder_; }

void Mapper::seeder_run(MapperRead *read, MapperSeeds *seeds, unsigned strand_mask,
                        const std::vector<MapperIndex> &indexes) {
  seeder()->run(read, seeds, strand_mask, indexes);
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

void Mapper::seed_mate(MapperRead *read, bool skip, int list, unsigned strand_mask,
                       const std::vector<MapperIndex> &set) {
  seeds_[list].clear();
  if (!skip) seeder_run(read, &seeds_[list], strand_mask, set);
}

void Mapper::paired_run(MapperRead *mate1, MapperRead *mate2, MapperPairedResult *result,
                        const MapperPairedParameters *paired, unsigned long long read_index) {
  const MapperParameters &p = *parameters_;
  result->clear();
  const bool skip1 = check_read_length(mate1);
  const bool skip2 = check_read_length(mate2);
  reseed_using_read_index(read_index);
  pairer_.setup(&result->pairing, *paired);
  if (!p.bisulphite)
    paired_plain(mate1, mate2, skip1, skip2, result);
  else if (!p.non_directional)
    paired_bisulphite_directional(mate1, mate2, skip1, skip2, result);
  else
    paired_bisulphite_non_directional(mate1, mate2, skip1, skip2, result);

  if (p.repeat_mode == kRepeatIgnore) {
    if (result->pairing.pairs_found > p.max_align) {
      result->clear();
    } else if (!result->has_pairs()) {
      for (MapperResult &m : result->mate)
        if (m.hit_count() > p.max_align) m.clear();
    }
  }
}

// Both mates on both strands (the strand options do not apply to pairs),
// then the pairs between them.
void Mapper::paired_plain(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2, MapperPairedResult *result) {
  const MapperParameters &p = *parameters_;
  seeds_[0].clear();
  seeds_[1].clear();
  seeder()->run_two(skip1 ? nullptr : mate1, &seeds_[0], skip2 ? nullptr : mate2, &seeds_[1], 3, p.main_set);
  if (!skip1) extender_run(mate1, &seeds_[0], &result->mate[0]);
  if (!skip2) extender_run(mate2, &seeds_[1], &result->mate[1]);
  if (p.mapping_quality) {
    if (!skip1) result->mate[0].mapping_quality = compute_mapping_quality(seeds_[0], result->mate[0]);
    if (!skip2) result->mate[1].mapping_quality = compute_mapping_quality(seeds_[1], result->mate[1]);
  }
  pairer_.set_pairing(&result->pairing);
  pairer_.compare_results(&result->mate[0], &result->mate[1]);
}

// A directional pair: mate 1 shows the C->T conversion of an original
// strand and mate 2 the G->A conversion of the same fragment's other end.
// Candidate C takes mate 1 as it is against the C->T set and mate 2
// reverse complemented; candidate D the opposite strands against the G->A
// set.
void Mapper::paired_bisulphite_directional(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2,
                                           MapperPairedResult *result) {
  const MapperParameters &p = *parameters_;
  MapperPairedResult &c = paired_candidates_[0], &d = paired_candidates_[1];
  if (!skip1) ct_transform(mate1, mate1->forward_codes);
  if (!skip2) ga_transform(mate2, mate2->forward_codes);
  c.clear();
  d.clear();
  seed_mate(mate1, skip1, 0, 1, p.main_set);
  seed_mate(mate2, skip2, 3, 2, p.main_set);
  seed_mate(mate1, skip1, 2, 2, p.bisulphite_set);
  seed_mate(mate2, skip2, 1, 1, p.bisulphite_set);
  reduce_bisulphite_seeds(mate1->length, &seeds_[0], &seeds_[2]);
  reduce_bisulphite_seeds(mate2->length, &seeds_[1], &seeds_[3]);
  extend_candidates(mate1, mate2, skip1, skip2, 0, &c, &d);
  pair_candidate(&c);
  pair_candidate(&d);
  select_best_bisulphite_results(&c, &d, result, false, nullptr, nullptr);
}

// A non-directional pair may also come from the complementary strands,
// where mate 1 shows G->A and mate 2 C->T conversion: the four candidates
// C, D (first conversion) and E, F (second) are chosen between in two
// rounds, each tie break seeing the candidates as they were before any
// was moved.
void Mapper::paired_bisulphite_non_directional(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2,
                                               MapperPairedResult *result) {
  const MapperParameters &p = *parameters_;
  MapperPairedResult &c = paired_candidates_[0], &d = paired_candidates_[1];
  MapperPairedResult &e = paired_candidates_[2], &f = paired_candidates_[3];
  for (MapperPairedResult *x : {&c, &d, &e, &f}) x->clear();
  const uint32_t n1 = mate1->length, n2 = mate2->length;
  if (unconverted_.size() < n1) unconverted_.resize(n1);
  if (unconverted2_.size() < n2) unconverted2_.resize(n2);
  if (n1 > 0) memcpy(unconverted_.data(), mate1->forward_codes, n1);
  if (n2 > 0) memcpy(unconverted2_.data(), mate2->forward_codes, n2);
  const unsigned char *u1 = unconverted_.data(), *u2 = unconverted2_.data();

  // First conversion: mate 1 C->T, mate 2 G->A.
  if (!skip1) ct_transform(mate1, u1);
  if (!skip2) ga_transform(mate2, u2);
  seed_mate(mate1, skip1, 0, 1, p.main_set);
  seed_mate(mate2, skip2, 3, 2, p.main_set);
  seed_mate(mate1, skip1, 2, 2, p.bisulphite_set);
  seed_mate(mate2, skip2, 1, 1, p.bisulphite_set);
  // Second conversion: mate 1 G->A, mate 2 C->T.
  if (!skip1) ga_transform(mate1, u1);
  if (!skip2) ct_transform(mate2, u2);
  seed_mate(mate1, skip1, 6, 2, p.main_set);
  seed_mate(mate2, skip2, 5, 1, p.main_set);
  seed_mate(mate1, skip1, 4, 1, p.bisulphite_set);
  seed_mate(mate2, skip2, 7, 2, p.bisulphite_set);
  reduce_bisulphite_seeds(n1, &seeds_[0], &seeds_[2], &seeds_[4], &seeds_[6]);
  reduce_bisulphite_seeds(n2, &seeds_[1], &seeds_[3], &seeds_[5], &seeds_[7]);

  if (!skip1) ct_transform(mate1, u1);
  if (!skip2) ga_transform(mate2, u2);
  extend_candidates(mate1, mate2, skip1, skip2, 0, &c, &d);
  pair_candidate(&c);
  pair_candidate(&d);

  if (!skip1) ga_transform(mate1, u1);
  if (!skip2) ct_transform(mate2, u2);
  extend_candidates(mate1, mate2, skip1, skip2, 4, &e, &f);
  pair_candidate(&f);
  pair_candidate(&e);

  const PairedCandidate cc = paired_candidate(&c), cd = paired_candidate(&d);
  const PairedCandidate ce = paired_candidate(&e), cf = paired_candidate(&f);
  MapperPairedResult &a = paired_halves_[0], &b = paired_halves_[1];
  select_best_paired(&c, &e, &a, true, &cd, &cf);
  select_best_paired(&d, &f, &b, true, &cc, &ce);
  select_best_paired(&a, &b, result, false, nullptr, nullptr);
}

void Mapper::extend_candidates(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2, int first,
                               MapperPairedResult *p, MapperPairedResult *q) {
  if (!skip1) {
    extender_run(mate1, &seeds_[first], &p->mate[0]);
    extender_run(mate1, &seeds_[first + 2], &q->mate[0]);
  }
  if (!skip2) {
    extender_run(mate2, &seeds_[first + 1], &q->mate[1]);
    extender_run(mate2, &seeds_[first + 3], &p->mate[1]);
  }
}

void Mapper::pair_candidate(MapperPairedResult *candidate) {
  pairer_.set_pairing(&candidate->pairing);
  pairer_.compare_results(&candidate->mate[0], &candidate->mate[1]);
}

void Mapper::select_best_bisulphite_results(MapperPairedResult *a, MapperPairedResult *b, MapperPairedResult *out,
                                            bool tie_break, MapperPairedResult *c, MapperPairedResult *d) {
  const PairedCandidate cc = c != nullptr ? paired_candidate(c) : PairedCandidate{0, 0};
  const PairedCandidate dc = d != nullptr ? paired_candidate(d) : PairedCandidate{0, 0};
  select_best_paired(a, b, out, tie_break, &cc, &dc);
}

void Mapper::select_best_paired(MapperPairedResult *a, MapperPairedResult *b, MapperPairedResult *out,
                                bool tie_break, const PairedCandidate *c, const PairedCandidate *d) {
  out->clear();
  const bool a_pairs = a->has_pairs(), b_pairs = b->has_pairs();
  if (!a_pairs && !b_pairs) {
    out->combine(a, b);
    return;
  }
  if (!b_pairs || !a_pairs) {
    out->copy(a_pairs ? a : b);
    return;
  }
  const int64_t a_score = a->score(), b_score = b->score();
  if (a_score != b_score) {
    out->copy(a_score > b_score ? a : b);
    return;
  }
  // As for single reads: a tie of single pairs that no other candidate
  // matches is broken by a draw; any other tie keeps both.
  auto below_a = [&](const PairedCandidate *x) { return x->pairs == 0 || x->score < a_score; };
  if (tie_break && a->pairing.pairs_found == 1 && b->pairing.pairs_found == 1 && below_a(c) && below_a(d)) {
    out->copy(random_.draw_double() < 0.5 ? a : b);
    return;
  }
  out->combine(a, b);
}
