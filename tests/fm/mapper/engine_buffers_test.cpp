// The seeders, the filter, the trims and the result keep their buffers
// from read to read: once reads of every size have passed, mapping more
// of them allocates nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "alignment_fixture.h"
#include "allocation_counter.h"
#include "fm/mapper/alignment_trims.h"
#include "fm/mapper/mapper_filter.h"
#include "fm/mapper/mapper_pacbio_seeder.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_result.h"
#include "fm/mapper/mapper_sensitive_seeder.h"
#include "fm/mapper/mapper_standard_seeder.h"
#include "seeding_fixture.h"

namespace {

using namespace seed_test;

struct Engine {
  explicit Engine(const MapperParameters *p) : standard(p), pacbio(p), sensitive(p), filter(p) {
    // As the mapper reserves its first seed lists.
    seeds.seeds.reserve(1000);
  }
  MapperStandardSeeder standard;
  MapperPacbioSeeder pacbio;
  MapperSensitiveSeeder sensitive;
  MapperFilter filter;
  MapperSeeds seeds;
  MapperResult result;
  Alignment code, backward, trimmed;
};

// What the engine does with one read short of extending: every seeder,
// then a transcript per seed filtered, trimmed and filed.
uint64_t map_read(Engine &e, OwnedRead &t, const std::vector<MapperIndex> &indexes, const MapperParameters &p) {
  uint64_t work = 0;
  MapperSeeder *seeders[] = {&e.standard, &e.pacbio, &e.sensitive};
  e.result.clear();
  for (MapperSeeder *seeder : seeders) {
    e.seeds.clear();
    seeder->run(&t.read, &e.seeds, 3, indexes);
    for (const MapperSearch &s : e.seeds.seeds) {
      const unsigned char *codes = t.read.codes(s.strand);
      e.backward.clear();
      e.backward.add_insertions(t.read.length - s.offset - s.length);
      e.backward.add_matches(s.length);
      e.backward.add_insertions(s.offset);
      e.code.assign_reversed(e.backward);
      work += filter_alignment(&e.filter, e.code, codes + s.offset, codes, s.strand == 0);
      uint32_t shift = 0, read_shift = 0;
      work += trim_gap_dropoff_bwd(e.backward, e.code, codes + s.offset, codes, &p, &e.trimmed);
      work += trim_head_and_end(e.code, codes + s.offset, codes, &p, &e.trimmed, &shift, &read_shift,
                                static_cast<int32_t>(s.length));
      e.result.add_alignment(&t.read, s, std::move(e.trimmed), s.offset);
      work += s.length;
    }
  }
  return work + e.result.hit_count();
}

TEST(EngineBuffers, NoAllocationOnceReadsOfEverySizeHavePassed) {
  std::mt19937_64 rng(77);
  std::vector<std::vector<Reference>> sets = {random_references(rng, 4, 300, 1500),
                                              random_references(rng, 3, 200, 800)};
  std::vector<MapperIndex> indexes;
  for (const auto &set : sets) indexes.push_back(build_index(set, 10));
  MapperParameters p;
  p.mapping_quality = true;
  std::vector<std::unique_ptr<OwnedRead>> reads;
  for (int r = 0; r < 60; r++)
    reads.push_back(std::make_unique<OwnedRead>(sample_read(rng, sets[r % 2], 15 + rng() % 400)));
  Engine engine(&p);

  uint64_t work = 0;
  for (auto &t : reads) work += map_read(engine, *t, indexes, p);
  const uint64_t nodes = engine.standard.nodes_allocated();
  std::shuffle(reads.begin(), reads.end(), rng);
  const uint64_t before = ryx_test::allocation_count();
  for (auto &t : reads) work += map_read(engine, *t, indexes, p);
  const uint64_t allocations = ryx_test::allocation_count() - before;
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(engine.standard.nodes_allocated(), nodes);
  EXPECT_GT(work, 0u);
  EXPECT_GT(nodes, 0u);

  // A longer read than any before may grow the buffers once; mapping it
  // again does not.
  OwnedRead longer(sample_read(rng, sets[0], 1200));
  map_read(engine, longer, indexes, p);
  const uint64_t again = ryx_test::allocation_count();
  map_read(engine, longer, indexes, p);
  map_read(engine, *reads[3], indexes, p);
  EXPECT_EQ(ryx_test::allocation_count(), again);
}

}  // namespace
