// The per-read mapping engine.
//
// A Mapper maps one read at a time against the index sets of its
// parameters: it picks the seeder by the read's technology and the
// extender by technology and length, converts reads for bisulphite mapping
// and chooses between the candidates of the conversions, computes the
// mapping quality, and drops reads with too many hits when asked to. Every
// worker thread owns one Mapper; all its members except the parameters are
// scratch state that each read overwrites, and buffers only grow, so that
// mapping allocates nothing once reads of every size have passed.
//
// Random choices made for a read (ties between bisulphite candidates, the
// sample of reported hits) draw only from the Mapper's own generator,
// which is reseeded from the read's index before the read is mapped: the
// output does not depend on which thread maps which read.
#pragma once

#include <cstdint>
#include <vector>

#include "common/random_state.h"
#include "fm/index/mapper_index.h"
#include "fm/mapper/mapper_dropoff_extender.h"
#include "fm/mapper/mapper_full_extender.h"
#include "fm/mapper/mapper_paired_result.h"
#include "fm/mapper/mapper_pairer.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_result.h"
#include "fm/mapper/mapper_seeder.h"

class MapperParameters;

// The technology of a read file.
enum MapperReadType : uint32_t {
  kMapperReadNormal = 0,
  kMapperReadPacbio = 1,
};

class Mapper {
 public:
  // Seeders and extenders for the settings of parameters, which must be
  // final (index sets built) and outlive the Mapper. The pointer is not
  // const only because of the once-only warning flags.
  explicit Mapper(MapperParameters *parameters);
  ~Mapper();
  Mapper(const Mapper &) = delete;
  Mapper &operator=(const Mapper &) = delete;

  // The technology of the next read (that of its file).
  void set_technology(MapperReadType technology) { technology_ = technology; }

  // Maps read into result. A read of unsupported length leaves result
  // cleared and draws nothing. Otherwise the generator is reseeded from
  // read_index first.
  void single_run(MapperRead *read, MapperResult *result, unsigned long long read_index);
  // Maps a read pair into result: both mates on both strands, then the
  // accepted pairs of the paired parameters. A mate of unsupported length
  // is not mapped (its result stays empty, so it cannot pair) while its
  // partner is. The generator is reseeded from read_index (one index per
  // pair) before anything is drawn.
  void paired_run(MapperRead *mate1, MapperRead *mate2, MapperPairedResult *result,
                  const MapperPairedParameters *paired, unsigned long long read_index);

  // True when read is to be ignored for its length: shorter than the
  // minimum seed length or longer than the maximum read length. The first
  // such read of the run, over all threads, prints "Some reads of
  // unsupported length <%u have been ignored.\n" (the minimum seed length)
  // or "Some reads of unsupported length >%u have been ignored.\n" (the
  // maximum read length) on standard error, each at most once.
  bool check_read_length(MapperRead *read);
  // Prints a printf-style message on standard error; the run goes on.
  static void mapper_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

  // Reseeds the generator from a read index. RandomState::reseed(0) would
  // leave every lane 0 and draw only zeros, so the index is first spread
  // by a fixed 64-bit mix and forced odd: every index gives its own
  // sound stream.
  void reseed_using_read_index(unsigned long long read_index);

  // Runs the seeder of the current technology on read into seeds (which
  // the caller has emptied) for the strands of strand_mask.
  // The seeder of the current technology.
  MapperSeeder *seeder() const;
  void seeder_run(MapperRead *read, MapperSeeds *seeds, unsigned strand_mask, const std::vector<MapperIndex> &indexes);
  // Runs the extender chosen for the read's technology and length.
  void extender_run(MapperRead *read, MapperSeeds *seeds, MapperResult *result);
  // The extender chosen for read: forced by the parameters, else drop-off
  // for pacbio reads and reads longer than the normal read-type limit.
  MapperExtender *extender_for(const MapperRead *read);

  // Bisulphite conversions of read from its unconverted codes (which may
  // be the read's own forward codes): the forward codes become C->T (or
  // G->A) converted, the reverse-complement codes their complement.
  void ct_transform(MapperRead *read, const unsigned char *unconverted);
  void ga_transform(MapperRead *read, const unsigned char *unconverted);

  // Drops, from every list of one read of read_length symbols, the seeds
  // shorter than half the longest seed of any of the lists.
  static void reduce_bisulphite_seeds(unsigned read_length, MapperSeeds *a, MapperSeeds *b);
  static void reduce_bisulphite_seeds(unsigned read_length, MapperSeeds *a, MapperSeeds *b, MapperSeeds *c,
                                      MapperSeeds *d);

  // Clears out and moves into it the better of the candidates a and b:
  // the one with hits, or the higher best score. On equal scores both go
  // in, a first, except that with tie_break set, one hit each, and neither
  // c nor d holding hits that score at least as well as a (compared as
  // unsigned numbers), one draw picks one of them. What goes into out is
  // moved; a candidate not taken keeps its alignments.
  void select_best_bisulphite_results(MapperResult *a, MapperResult *b, MapperResult *out, bool tie_break,
                                      MapperResult *c, MapperResult *d);

  // The paired form: clears out and moves into it the candidate with pairs,
  // or of two with pairs the one with the higher score (both mates' best
  // scores added); on equal scores both, a first, except that with
  // tie_break set, one pair each, and neither c nor d holding pairs that
  // score at least as well as a, one draw picks one. Without pairs on
  // either side each mate takes the better of the two (both when equal).
  // c and d may be null.
  void select_best_bisulphite_results(MapperPairedResult *a, MapperPairedResult *b, MapperPairedResult *out,
                                      bool tie_break, MapperPairedResult *c, MapperPairedResult *d);

  // The choice among the four candidates of a non-directional read: P and
  // Q of its C->T conversion (read, reverse complement), R and S of its
  // G->A conversion. The better of P and R and the better of Q and S, each
  // with the tie break against the other two, then the better of those
  // two. Every tie break sees the candidates as they were before any was
  // moved.
  void select_best_of_four_bisulphite_results(MapperResult *p, MapperResult *q, MapperResult *r, MapperResult *s,
                                              MapperResult *out);

  // The mapping quality of a read whose seeds (with the scores its
  // extension wrote) gave result: 0 to 60, 0 unless result holds exactly
  // one hit.
  static uint8_t compute_mapping_quality(const MapperSeeds &seeds, const MapperResult &result);

  // The generator the sampler of the same worker draws from.
  RandomState *random_state() { return &random_; }
  // Seed list i (0 to 7) of the last read.
  const MapperSeeds &seed_list(int i) const { return seeds_[i]; }
  MapperParameters *parameters() const { return parameters_; }

 private:
  // Hit count and best score of a candidate, taken before candidates are
  // moved, so that a later tie break still sees what an earlier selection
  // moved away.
  struct Candidate {
    uint64_t hits;
    int32_t best;
  };
  static Candidate candidate(const MapperResult *r) { return {r->hit_count(), r->best_score}; }
  void select_best(MapperResult *a, MapperResult *b, MapperResult *out, bool tie_break, const Candidate *c,
                   const Candidate *d);
  void bisulphite_directional(MapperRead *read, MapperResult *result);
  void bisulphite_non_directional(MapperRead *read, MapperResult *result);
  // Score and pairs of a paired candidate, taken before candidates move.
  struct PairedCandidate {
    uint32_t pairs;
    int64_t score;
  };
  static PairedCandidate paired_candidate(const MapperPairedResult *r) {
    return {r->pairing.pairs_found, r->score()};
  }
  void select_best_paired(MapperPairedResult *a, MapperPairedResult *b, MapperPairedResult *out, bool tie_break,
                          const PairedCandidate *c, const PairedCandidate *d);
  void paired_plain(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2, MapperPairedResult *result);
  void paired_bisulphite_directional(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2,
                                     MapperPairedResult *result);
  void paired_bisulphite_non_directional(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2,
                                         MapperPairedResult *result);
  // Extends the seeds of one conversion of a pair into candidates p and q:
  // mate 1's lists first and first + 2 into p and q, mate 2's lists
  // first + 1 and first + 3 into q and p. A skipped mate is not extended.
  void extend_candidates(MapperRead *mate1, MapperRead *mate2, bool skip1, bool skip2, int first,
                         MapperPairedResult *p, MapperPairedResult *q);
  // Pairs a candidate's mates into its own pairing.
  void pair_candidate(MapperPairedResult *candidate);
  // Seeds a mate into list (emptied first) unless it is skipped.
  void seed_mate(MapperRead *read, bool skip, int list, unsigned strand_mask, const std::vector<MapperIndex> &set);

  MapperParameters *parameters_;
  MapperSeeder *normal_seeder_;
  MapperSeeder *long_seeder_;
  MapperExtender *full_extender_;
  MapperExtender *dropoff_extender_;
  RandomState random_;
  MapperSeeds seeds_[8];
  MapperReadType technology_ = kMapperReadNormal;
  // Bisulphite candidates (P, Q, R, S), the two halves of the
  // non-directional choice, and the saved unconverted codes.
  MapperResult candidates_[4];
  MapperResult halves_[2];
  std::vector<unsigned char> unconverted_;
  // Pair matching: the pairer, the paired bisulphite candidates (C, D, E,
  // F of a non-directional pair; C and D of a directional one), the two
  // halves of the non-directional choice, and the saved codes of mate 2.
  MapperPairer pairer_;
  MapperPairedResult paired_candidates_[4];
  MapperPairedResult paired_halves_[2];
  std::vector<unsigned char> unconverted2_;
};
