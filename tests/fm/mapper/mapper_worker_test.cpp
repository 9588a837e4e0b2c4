// The engine as the pipeline's workers run it: one Mapper and sampler per
// thread, reads taken in any order. The output of each read depends only
// on the read and its index, and once reads of every size have passed,
// mapping allocates nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "allocation_counter.h"
#include "mapping_fixture.h"

namespace {

using namespace map_test;

// A genome with many repeats, and reads of every kind the engine meets:
// short reads with errors, reads from repeats, exact reads, reads too
// short to map, and long reads.
struct Workload {
  Workload() : genome(random_genome(31, kSlowBuild ? 100000 : 400000, 30, 300)) {
    // A stretch with six copies: more hits than the three reported.
    std::mt19937_64 rng(6);
    const Symbols many = random_bases(rng, 200);
    for (uint32_t k = 0; k < 6; k++) std::copy(many.begin(), many.end(), genome.sequences[1].begin() + 1000 + 5000 * k);
    parameters.main_set.push_back(index_genome(genome));
    parameters.max_align = 3;
    parameters.mapping_quality = true;
    for (int i = 0; i < 400; i++) {
      const int kind = i % 8;
      if (kind == 2) {
        const uint32_t from = static_cast<uint32_t>(rng() % 60);
        reads.push_back(
            {mutate(rng, Symbols(many.begin() + from, many.begin() + from + 120), {0.01, 0, 0}), kMapperReadNormal});
      } else if (kind < 2) {
        reads.push_back(
            {simulate_read(rng, genome, 60 + rng() % 200, {0.02, 0.002, 0.002}, false).codes, kMapperReadNormal});
      } else if (kind < 6) {
        const Repeat &rep = genome.repeats[rng() % genome.repeats.size()];
        const uint32_t from = rep.source + static_cast<uint32_t>(rng() % 100);
        const Symbols &s = genome.sequences[rep.source_sequence];
        reads.push_back(
            {mutate(rng, Symbols(s.begin() + from, s.begin() + from + 150), {0.01, 0, 0}), kMapperReadNormal});
      } else if (kind == 6) {
        reads.push_back({random_bases(rng, 5 + rng() % 20), kMapperReadNormal});
      } else if (i % 32 == 7) {
        reads.push_back(
            {simulate_read(rng, genome, 1500 + rng() % 1500, {0.04, 0.03, 0.03}, false).codes, kMapperReadPacbio});
      } else {
        reads.push_back({simulate_read(rng, genome, 100, {}, false).codes, kMapperReadNormal});
      }
    }
  }
  struct Read {
    Symbols codes;
    MapperReadType technology;
  };
  Genome genome;
  MapperParameters parameters;
  std::vector<Read> reads;
};

std::vector<Mapped> map_on_threads(Workload &w, int threads, unsigned long long offset) {
  std::vector<Mapped> out(w.reads.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++) {
    pool.emplace_back([&] {
      Worker worker(&w.parameters);
      for (size_t i; (i = next.fetch_add(1)) < w.reads.size();) {
        OwnedRead read(w.reads[i].codes);
        out[i] = worker.map(&read.read, offset + i, w.reads[i].technology);
      }
    });
  }
  for (std::thread &t : pool) t.join();
  return out;
}

TEST(MapperWorkers, OutputDoesNotDependOnTheThreadCount) {
  testing::internal::CaptureStderr();  // the short-read warning
  Workload w;
  const std::vector<Mapped> one = map_on_threads(w, 1, 0);
  const std::vector<Mapped> four = map_on_threads(w, 4, 0);
  ASSERT_EQ(one.size(), four.size());
  int sampled = 0, matched = 0;
  for (size_t i = 0; i < one.size(); i++) {
    EXPECT_EQ(one[i], four[i]) << "read " << i;
    matched += one[i].hit_total > 0;
    sampled += one[i].hit_total > one[i].hits.size();
  }
  // The case is worth its name: most reads map and many had hits to
  // choose from.
  EXPECT_GT(matched, 300);
  EXPECT_GT(sampled, 20);
  // Another read offset changes the draws: some sample differs.
  const std::vector<Mapped> shifted = map_on_threads(w, 2, 1000);
  int differ = 0;
  for (size_t i = 0; i < one.size(); i++) differ += !(shifted[i] == one[i]);
  EXPECT_GT(differ, 0);
  testing::internal::GetCapturedStderr();
}

TEST(MapperWorkers, SteadyStateAllocatesNothing) {
  testing::internal::CaptureStderr();
  Workload w;
  std::vector<std::unique_ptr<OwnedRead>> reads;
  for (const Workload::Read &r : w.reads) reads.push_back(std::make_unique<OwnedRead>(r.codes));
  const uint64_t start = ryx_test::allocation_count();
  Worker worker(&w.parameters);
  for (size_t i = 0; i < reads.size(); i++) worker.map_only(&reads[i]->read, i, w.reads[i].technology);
  const uint64_t before = ryx_test::allocation_count();
  EXPECT_GT(before, start);  // the first pass grew the buffers
  for (size_t i = 0; i < reads.size(); i++) worker.map_only(&reads[i]->read, i + 7, w.reads[i].technology);
  EXPECT_EQ(ryx_test::allocation_count(), before);
  testing::internal::GetCapturedStderr();
}

}  // namespace
