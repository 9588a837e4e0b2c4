// The per-read engine: length checks and their warnings, reseeding, the
// choice of extender, the strand mask, the mapping quality, the
// bisulphite conversions and the choice between bisulphite candidates.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "mapping_fixture.h"

namespace {

using namespace map_test;

// A small genome, indexed into the parameters' main set.
struct SmallGenome {
  explicit SmallGenome(size_t size = 200000) : genome(random_genome(11, size, 4, 300)) {
    parameters.main_set.push_back(index_genome(genome));
  }
  Genome genome;
  MapperParameters parameters;
};

TEST(Mapper, ReadIgnoredForItsLengthLeavesAnEmptyResult) {
  SmallGenome g;
  Worker worker(&g.parameters);
  std::mt19937_64 rng(1);
  OwnedRead good(simulate_read(rng, g.genome, 60, {}, true).codes);
  OwnedRead short_read(Symbols(good.read.forward_codes, good.read.forward_codes + 14));
  testing::internal::CaptureStderr();
  EXPECT_EQ(worker.map(&good.read, 0).hit_total, 1u);
  // The previous read's hits must not survive in the result.
  const Mapped m = worker.map(&short_read.read, 1);
  EXPECT_EQ(m.hit_total, 0u);
  EXPECT_TRUE(m.hits.empty());
  EXPECT_EQ(worker.result.hit_count(), 0u);
  EXPECT_TRUE(worker.result.strand[0].alignments.empty() && worker.result.strand[1].alignments.empty());
  EXPECT_EQ(worker.result.mapping_quality, 255);
  worker.map(&short_read.read, 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Some reads of unsupported length <15 have been ignored.\n");
}

TEST(Mapper, EachLengthWarningIsPrintedOnceOverAllThreads) {
  SmallGenome g;
  g.parameters.max_read_length = 200;
  std::mt19937_64 rng(2);
  const Symbols source = simulate_read(rng, g.genome, 300, {}, true).codes;
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  std::atomic<int> unmatched{0};
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      Worker worker(&g.parameters);
      for (int i = 0; i < 20; i++) {
        OwnedRead tiny(Symbols(source.begin(), source.begin() + 14));
        OwnedRead huge(source);
        unmatched += worker.map(&tiny.read, static_cast<unsigned long long>(t * 100 + i)).hit_total == 0;
        unmatched += worker.map(&huge.read, static_cast<unsigned long long>(t * 100 + i)).hit_total == 0;
      }
    });
  }
  for (std::thread &t : threads) t.join();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(unmatched.load(), 160);
  const std::string short_warning = "Some reads of unsupported length <15 have been ignored.\n";
  const std::string long_warning = "Some reads of unsupported length >200 have been ignored.\n";
  EXPECT_TRUE(err == short_warning + long_warning || err == long_warning + short_warning) << err;
}

TEST(Mapper, ReadIndexZeroGivesASoundStream) {
  SmallGenome g(20000);
  Mapper mapper(&g.parameters);
  auto draws = [&](unsigned long long index) {
    mapper.reseed_using_read_index(index);
    std::vector<uint32_t> v;
    for (int i = 0; i < 600; i++) v.push_back(mapper.random_state()->draw_u32());  // past one buffer
    return v;
  };
  const std::vector<uint32_t> zero = draws(0);
  EXPECT_EQ(draws(0), zero);
  EXPECT_NE(draws(1), zero);
  EXPECT_NE(draws(1ULL << 63), zero);
  // Not degenerate: the words are spread over the whole range.
  std::set<uint32_t> distinct(zero.begin(), zero.end());
  EXPECT_GT(distinct.size(), 590u);
  int high_bits = 0;
  for (uint32_t w : zero) high_bits += w >> 31;
  EXPECT_GT(high_bits, 240);
  EXPECT_LT(high_bits, 360);
}

TEST(Mapper, ExtenderChoiceByTechnologyLengthAndOption) {
  SmallGenome g(20000);
  struct Case {
    uint32_t forced;
    MapperReadType technology;
    uint32_t length;
    uint32_t limit;
    bool dropoff;
  } cases[] = {
      {kExtenderAutomatic, kMapperReadNormal, 500, 500, false},
      {kExtenderAutomatic, kMapperReadNormal, 501, 500, true},
      {kExtenderAutomatic, kMapperReadNormal, 501, 1000, false},
      {kExtenderAutomatic, kMapperReadPacbio, 100, 500, true},
      {kExtenderFull, kMapperReadPacbio, 5000, 500, false},
      {kExtenderDropoff, kMapperReadNormal, 100, 500, true},
  };
  for (const Case &c : cases) {
    g.parameters.forced_extender = c.forced;
    g.parameters.normal_type_limit = c.limit;
    Mapper mapper(&g.parameters);
    mapper.set_technology(c.technology);
    OwnedRead read(Symbols(c.length, 0));
    MapperExtender *chosen = mapper.extender_for(&read.read);
    EXPECT_EQ(dynamic_cast<MapperDropoffExtender *>(chosen) != nullptr, c.dropoff) << c.length << " " << c.limit;
    EXPECT_EQ(dynamic_cast<MapperFullExtender *>(chosen) != nullptr, !c.dropoff);
  }
}

TEST(Mapper, ForwardOnlyLeavesReverseReadsUnmatched) {
  SmallGenome g;
  std::mt19937_64 rng(3);
  const SimulatedRead forward = simulate_read(rng, g.genome, 80, {}, true, 0);
  const SimulatedRead reverse = simulate_read(rng, g.genome, 80, {}, true, 1);
  for (uint32_t mask : {1u, 2u, 3u}) {
    g.parameters.strand_mask = mask;
    Worker worker(&g.parameters);
    OwnedRead f(forward.codes), r(reverse.codes);
    EXPECT_EQ(worker.map(&f.read, 0).hit_total, (mask & 1) != 0 ? 1u : 0u) << mask;
    EXPECT_EQ(worker.map(&r.read, 1).hit_total, (mask & 2) != 0 ? 1u : 0u) << mask;
  }
}

// A result holding alignments of the given hit counts, on strand 0, with
// the given best score.
void fill(MapperResult *r, std::initializer_list<uint32_t> hit_counts, int32_t best) {
  r->clear();
  for (uint32_t hits : hit_counts) {
    MapperSearch s;
    s.search.forward = {0, hits};
    s.search.reverse = {0, hits};
    Alignment a;
    a.add_matches(hits);
    r->add_alignment(nullptr, s, std::move(a), 0);
  }
  r->best_score = best;
}

MapperSearch scored_seed(uint32_t offset, uint32_t length, int32_t score) {
  MapperSearch s;
  s.offset = offset;
  s.length = length;
  s.score = score;
  return s;
}

TEST(Mapper, MappingQualityFromSeedScores) {
  struct Case {
    const char *what;
    std::vector<MapperSearch> seeds;
    uint32_t alt;
    uint32_t hits;
    uint8_t quality;
  } cases[] = {
      {"one hit, lone seed", {scored_seed(0, 60, 90)}, 0, 1, 60},
      {"two hits", {scored_seed(0, 60, 90)}, 0, 2, 0},
      {"overlapping seed as good", {scored_seed(0, 60, 90), scored_seed(30, 50, 90)}, 0, 1, 0},
      // w = (8100 - 50^2) / 8100; ceil(60 w) = ceil(41.48)
      {"overlapping seed worse", {scored_seed(0, 60, 90), scored_seed(30, 50, 50)}, 0, 1, 42},
      {"same offset does not count", {scored_seed(0, 60, 90), scored_seed(0, 50, 90)}, 0, 1, 60},
      {"same length does not count", {scored_seed(0, 60, 90), scored_seed(10, 60, 90)}, 0, 1, 60},
      {"disjoint seed does not count", {scored_seed(0, 60, 90), scored_seed(60, 40, 90)}, 0, 1, 60},
      // w = (8100 - 30^2) / 8100; ceil(53.33)
      {"alternative hits", {scored_seed(0, 60, 90)}, 30, 1, 54},
      // v = min(500, 89): w = (8100 - 7921) / 8100; ceil(1.33)
      {"many alternative hits", {scored_seed(0, 60, 90)}, 500, 1, 2},
      {"no scores, no alternatives", {scored_seed(0, 60, 0)}, 0, 1, 60},
      {"no scores, alternatives", {scored_seed(0, 60, 0)}, 5, 1, 0},
  };
  for (const Case &c : cases) {
    MapperSeeds seeds;
    seeds.seeds = c.seeds;
    seeds.alt_hit_score = c.alt;
    MapperResult result;
    fill(&result, {c.hits}, 90);
    EXPECT_EQ(Mapper::compute_mapping_quality(seeds, result), c.quality) << c.what;
  }
}

TEST(Mapper, BisulphiteConversionsOfBothStrands) {
  SmallGenome g(20000);
  Mapper mapper(&g.parameters);
  const Symbols acgtn = {0, 1, 2, 3, 4, 1, 2};
  OwnedRead read(acgtn);
  mapper.ct_transform(&read.read, acgtn.data());
  EXPECT_EQ(Symbols(read.read.forward_codes, read.read.forward_codes + 7), (Symbols{0, 3, 2, 3, 4, 3, 2}));
  EXPECT_EQ(Symbols(read.read.reverse_codes, read.read.reverse_codes + 7), (Symbols{1, 0, 4, 0, 1, 0, 3}));
  mapper.ga_transform(&read.read, acgtn.data());
  EXPECT_EQ(Symbols(read.read.forward_codes, read.read.forward_codes + 7), (Symbols{0, 1, 0, 3, 4, 1, 0}));
  EXPECT_EQ(Symbols(read.read.reverse_codes, read.read.reverse_codes + 7), (Symbols{3, 2, 4, 0, 3, 2, 3}));
  // In place, from the read's own codes.
  mapper.ct_transform(&read.read, read.read.forward_codes);
  EXPECT_EQ(Symbols(read.read.forward_codes, read.read.forward_codes + 7), (Symbols{0, 3, 0, 3, 4, 3, 0}));
}

TEST(Mapper, BisulphiteSeedsShorterThanHalfTheLongestAreDropped) {
  MapperSeeds a, b, c, d;
  a.seeds = {scored_seed(0, 40, 0), scored_seed(50, 19, 0), scored_seed(70, 20, 0)};
  b.seeds = {scored_seed(0, 24, 0), scored_seed(30, 12, 0)};
  Mapper::reduce_bisulphite_seeds(100, &a, &b);
  ASSERT_EQ(a.seeds.size(), 2u);
  EXPECT_EQ(a.seeds[1].length, 20u);
  ASSERT_EQ(b.seeds.size(), 1u);
  EXPECT_EQ(b.seeds[0].offset, 0u);  // offsets stay as they are
  a.seeds = {scored_seed(0, 15, 0)};
  b.seeds = {scored_seed(0, 16, 0)};
  c.seeds = {scored_seed(0, 33, 0), scored_seed(0, 15, 0)};
  Mapper::reduce_bisulphite_seeds(100, &a, &b, &c, &d);
  EXPECT_TRUE(a.seeds.empty());
  EXPECT_EQ(b.seeds.size(), 1u);
  EXPECT_EQ(c.seeds.size(), 1u);
  EXPECT_TRUE(d.seeds.empty());
}

TEST(Mapper, BestOfTwoBisulphiteCandidates) {
  SmallGenome g(20000);
  Mapper mapper(&g.parameters);
  MapperResult a, b, c, d, out;
  struct Case {
    const char *what;
    std::initializer_list<uint32_t> a_hits, b_hits;
    int32_t a_best, b_best;
    bool tie_break;
    std::initializer_list<uint32_t> c_hits;
    int32_t c_best;
    uint64_t want_hits;  // 0: none; else the hits of what is kept
    int32_t want_best;
  } cases[] = {
      {"neither has hits", {}, {}, 0, 0, false, {}, 0, 0, 0},
      {"only b", {}, {2}, 0, 50, false, {}, 0, 2, 50},
      {"only a", {3}, {}, 40, 0, false, {}, 0, 3, 40},
      {"higher score", {1}, {2}, 40, 50, true, {}, 0, 2, 50},
      {"negative scores compare signed", {1}, {2}, -5, 3, true, {}, 0, 2, 3},
      {"tie without tie break keeps both", {1}, {1}, 50, 50, false, {}, 0, 2, 50},
      {"tie of two hits each keeps both", {2}, {2}, 50, 50, true, {}, 0, 4, 50},
      {"tie that another candidate matches keeps both", {1}, {1}, 50, 50, true, {1}, 50, 2, 50},
      {"tie, another candidate worse: one draw", {1}, {1}, 50, 50, true, {1}, 49, 1, 50},
  };
  for (const Case &k : cases) {
    fill(&a, k.a_hits, k.a_best);
    fill(&b, k.b_hits, k.b_best);
    fill(&c, k.c_hits, k.c_best);
    fill(&d, {}, 0);
    mapper.reseed_using_read_index(7);
    mapper.select_best_bisulphite_results(&a, &b, &out, k.tie_break, &c, &d);
    EXPECT_EQ(out.hit_count(), k.want_hits) << k.what;
    EXPECT_EQ(out.best_score, k.want_best) << k.what;
    // What goes into out is moved, what does not stays.
    uint64_t total = 0;
    for (uint32_t h : k.a_hits) total += h;
    for (uint32_t h : k.b_hits) total += h;
    EXPECT_EQ(out.hit_count() + a.hit_count() + b.hit_count(), total) << k.what;
  }

  // The draw picks either candidate, depending only on the read index.
  int picked_a = 0;
  for (unsigned long long index = 0; index < 400; index++) {
    fill(&a, {1}, 50);
    fill(&b, {1}, 50);
    a.strand[0].alignments[0].reference_offset = 1;
    mapper.reseed_using_read_index(index);
    mapper.select_best_bisulphite_results(&a, &b, &out, true, nullptr, nullptr);
    ASSERT_EQ(out.hit_count(), 1u);
    picked_a += out.strand[0].alignments[0].reference_offset == 1;
  }
  EXPECT_GT(picked_a, 150);
  EXPECT_LT(picked_a, 250);
}

TEST(Mapper, BestOfFourSeesEveryCandidateAsItWas) {
  SmallGenome g(20000);
  Mapper mapper(&g.parameters);
  MapperResult p, q, r, s, out;
  // Four equal single hits: no tie can be broken by a draw, all stay.
  fill(&p, {1}, 60);
  fill(&q, {1}, 60);
  fill(&r, {1}, 60);
  fill(&s, {1}, 60);
  mapper.select_best_of_four_bisulphite_results(&p, &q, &r, &s, &out);
  EXPECT_EQ(out.hit_count(), 4u);
  // P and R tie alone at the top: one of them is drawn; Q and S score less.
  fill(&p, {1}, 60);
  fill(&q, {1}, 50);
  fill(&r, {1}, 60);
  fill(&s, {1}, 40);
  mapper.reseed_using_read_index(3);
  mapper.select_best_of_four_bisulphite_results(&p, &q, &r, &s, &out);
  EXPECT_EQ(out.hit_count(), 1u);
  EXPECT_EQ(out.best_score, 60);
}

}  // namespace
