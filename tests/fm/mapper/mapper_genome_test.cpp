// The engine on a random genome of several megabases (a tenth of it in the
// sanitizer builds) with planted repeats: exact reads, reads with errors,
// repeats with and without the ignore option, and long reads.
#include <gtest/gtest.h>

#include <cstdlib>

#include "mapping_fixture.h"

namespace {

using namespace map_test;

constexpr size_t kGenomeSize = kSlowBuild ? 500000 : 5000000;
constexpr uint32_t kRepeatLength = 400;

class MapperGenome : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    genome_ = new Genome(random_genome(2024, kGenomeSize, 24, kRepeatLength));
    index_ = new MapperIndex(index_genome(*genome_));
  }
  static void TearDownTestSuite() {
    delete index_;
    delete genome_;
  }

  // Parameters holding the genome's index; the index moves back when the
  // test ends.
  struct Setup {
    explicit Setup(uint32_t max_align = 1) {
      parameters.max_align = max_align;
      parameters.main_set.push_back(std::move(*index_));
    }
    ~Setup() { *index_ = std::move(parameters.main_set[0]); }
    MapperParameters parameters;
  };

  // Every place where the reference text of read r occurs: its own and,
  // when it lies inside a planted repeat, the other copy.
  static std::set<std::tuple<uint32_t, uint32_t, bool>> places(const SimulatedRead &r) {
    std::set<std::tuple<uint32_t, uint32_t, bool>> out{{r.sequence, r.start, r.reverse}};
    const uint32_t n = r.end - r.start;
    for (const Repeat &rep : genome_->repeats) {
      auto inside = [&](uint32_t seq, uint32_t from) {
        return r.sequence == seq && r.start >= from && r.end <= from + rep.length;
      };
      if (inside(rep.source_sequence, rep.source)) {
        const uint32_t o = r.start - rep.source;
        if (rep.reverse)
          out.insert({rep.copy_sequence, rep.copy + rep.length - o - n, !r.reverse});
        else
          out.insert({rep.copy_sequence, rep.copy + o, r.reverse});
      }
      if (inside(rep.copy_sequence, rep.copy)) {
        const uint32_t o = r.start - rep.copy;
        if (rep.reverse)
          out.insert({rep.source_sequence, rep.source + rep.length - o - n, !r.reverse});
        else
          out.insert({rep.source_sequence, rep.source + o, r.reverse});
      }
    }
    return out;
  }

  // A read of length symbols from inside planted repeat k.
  static SimulatedRead repeat_read(std::mt19937_64 &rng, size_t k, uint32_t length, ErrorRates rates) {
    const Repeat &rep = genome_->repeats[k % genome_->repeats.size()];
    SimulatedRead r;
    r.sequence = rep.source_sequence;
    r.start = rep.source + static_cast<uint32_t>(rng() % (rep.length - length));
    r.end = r.start + length;
    const Symbols &s = genome_->sequences[r.sequence];
    r.codes = mutate(rng, Symbols(s.begin() + r.start, s.begin() + r.end), rates);
    r.reverse = rng() % 2 == 1;
    if (r.reverse) r.codes = reverse_complement(r.codes);
    return r;
  }

  static Genome *genome_;
  static MapperIndex *index_;
};

Genome *MapperGenome::genome_ = nullptr;
MapperIndex *MapperGenome::index_ = nullptr;

TEST_F(MapperGenome, ExactReadsMapAtEveryOccurrence) {
  Setup setup(8);
  Worker worker(&setup.parameters);
  std::mt19937_64 rng(1);
  for (int i = 0; i < 300; i++) {
    const uint32_t length = 20 + static_cast<uint32_t>(rng() % (i % 3 == 0 ? 300 : 480));
    const SimulatedRead r =
        i % 3 == 0 ? repeat_read(rng, i, length, {}) : simulate_read(rng, *genome_, length, {}, false);
    OwnedRead read(r.codes);
    const Mapped m = worker.map(&read.read, static_cast<unsigned long long>(i));
    const auto want = places(r);
    ASSERT_EQ(m.hit_total, want.size()) << "read " << i;
    std::set<std::tuple<uint32_t, uint32_t, bool>> got;
    for (const Hit &h : m.hits) {
      got.insert({h.sequence, h.position, h.reverse});
      Alignment all;
      all.add_matches(length);
      EXPECT_EQ(h.code, all.code) << "read " << i;
    }
    EXPECT_EQ(got, want) << "read " << i;
  }
}

// The best local score of read against ref (linear gaps, the default
// costs): what the reported alignment must reach.
int64_t smith_waterman(const Symbols &read, const Symbols &ref) {
  std::vector<int64_t> prev(ref.size() + 1, 0), cur(ref.size() + 1, 0);
  int64_t best = 0;
  for (size_t i = 1; i <= read.size(); i++) {
    for (size_t j = 1; j <= ref.size(); j++) {
      const int64_t diagonal = prev[j - 1] + (read[i - 1] == ref[j - 1] && read[i - 1] < 4 ? 1 : -2);
      cur[j] = std::max({diagonal, prev[j] - 3, cur[j - 1] - 3, int64_t{0}});
      best = std::max(best, cur[j]);
    }
    std::swap(prev, cur);
  }
  return best;
}

// The local score of a hit's transcript, its end clips free.
int64_t transcript_score(const Hit &h, const Genome &g, const Symbols &read) {
  const Symbols strand = h.reverse ? reverse_complement(read) : read;
  const Symbols &ref = g.sequences[h.sequence];
  const uint32_t clip_end = read_span(h.code) - [&] {
    uint32_t n = 0;
    for (auto b = h.code.rbegin(); b != h.code.rend() && alignment_kind(*b) == kInsertionBase; ++b)
      n += alignment_run(*b);
    return n;
  }();
  uint32_t r = 0, f = 0;
  int64_t score = 0;
  for (uint8_t b : h.code) {
    const uint32_t k = alignment_run(b);
    if (alignment_kind(b) == kMatchBase) {
      for (uint32_t j = 0; j < k; j++, r++, f++) score += strand[r] == ref[h.position + f] && strand[r] < 4 ? 1 : -2;
    } else if (alignment_kind(b) == kInsertionBase) {
      if (r > 0 && r < clip_end) score -= 3 * k;
      r += k;
    } else {
      score -= 3 * k;
      f += k;
    }
  }
  return score;
}

TEST_F(MapperGenome, ReadsWithErrorsMapAtTheirTrueStart) {
  Setup setup;
  Worker worker(&setup.parameters);
  std::mt19937_64 rng(2);
  const int reads = 2000;
  int right = 0, optimal = 0;
  for (int i = 0; i < reads; i++) {
    const SimulatedRead r = simulate_read(rng, *genome_, 100, {0.01, 0.0005, 0.0005}, true);
    OwnedRead read(r.codes);
    const Mapped m = worker.map(&read.read, static_cast<unsigned long long>(i));
    if (m.hits.size() != 1) continue;
    const Hit &h = m.hits[0];
    // Every transcript covers the whole read, clips included.
    EXPECT_EQ(read_span(h.code), read.read.length);
    if (h.sequence != r.sequence || h.reverse != r.reverse ||
        std::llabs(static_cast<int64_t>(h.position) - static_cast<int64_t>(r.start)) > 10)
      continue;
    right++;
    // The alignment reported is a best local one.
    const Symbols &ref = genome_->sequences[r.sequence];
    const size_t from = r.start >= 30 ? r.start - 30 : 0, to = std::min<size_t>(ref.size(), r.end + 30);
    const int64_t best = smith_waterman(r.reverse ? reverse_complement(r.codes) : r.codes,
                                        Symbols(ref.begin() + from, ref.begin() + to));
    optimal += transcript_score(h, *genome_, r.codes) == best;
  }
  EXPECT_GE(right, reads * 99 / 100);
  EXPECT_EQ(optimal, right);
}

TEST_F(MapperGenome, RepeatsHaveSeveralHitsAndNoQuality) {
  std::mt19937_64 rng(3);
  std::vector<SimulatedRead> repeated, unique;
  for (int i = 0; i < 200; i++) repeated.push_back(repeat_read(rng, i, 100, {0.01, 0, 0}));
  for (int i = 0; i < 200; i++) unique.push_back(simulate_read(rng, *genome_, 100, {0.01, 0, 0}, true));
  for (uint32_t mode : {kRepeatRandom, kRepeatIgnore}) {
    SCOPED_TRACE(mode);
    Setup setup;
    setup.parameters.mapping_quality = true;
    setup.parameters.repeat_mode = mode;
    Worker worker(&setup.parameters);
    int index = 0, full_quality = 0;
    for (const SimulatedRead &r : repeated) {
      OwnedRead read(r.codes);
      const Mapped m = worker.map(&read.read, static_cast<unsigned long long>(index++));
      if (mode == kRepeatIgnore) {
        EXPECT_EQ(m.hit_total, 0u);
        EXPECT_TRUE(m.hits.empty());
        continue;
      }
      EXPECT_GE(m.hit_total, 2u);
      EXPECT_EQ(m.mapping_quality, 0);
      ASSERT_EQ(m.hits.size(), 1u);  // the sampler reports one of them
      bool near_a_copy = false;
      for (const auto &[sequence, position, reverse] : places(r)) {
        near_a_copy |= sequence == m.hits[0].sequence && reverse == m.hits[0].reverse &&
                       std::llabs(static_cast<int64_t>(position) - static_cast<int64_t>(m.hits[0].position)) <= 10;
      }
      EXPECT_TRUE(near_a_copy);
    }
    for (const SimulatedRead &r : unique) {
      OwnedRead read(r.codes);
      const Mapped m = worker.map(&read.read, static_cast<unsigned long long>(index++));
      EXPECT_EQ(m.hit_total, 1u);
      EXPECT_GT(m.mapping_quality, 0);
      full_quality += m.mapping_quality == 60;
    }
    EXPECT_GE(full_quality, 190);
  }
}

TEST_F(MapperGenome, LongReadsOverlapTheirTrueInterval) {
  Setup setup;
  Worker worker(&setup.parameters);
  std::mt19937_64 rng(4);
  const int reads = kSlowBuild ? 4 : 20;
  for (int i = 0; i < reads; i++) {
    const uint32_t length = 5000 + static_cast<uint32_t>(rng() % 5001);
    const SimulatedRead r = simulate_read(rng, *genome_, length, {0.04, 0.03, 0.03}, true);
    OwnedRead read(r.codes);
    const Mapped m = worker.map(&read.read, static_cast<unsigned long long>(i), kMapperReadPacbio);
    ASSERT_EQ(m.hits.size(), 1u) << "read " << i;
    const Hit &h = m.hits[0];
    EXPECT_EQ(h.sequence, r.sequence);
    EXPECT_EQ(h.reverse, r.reverse);
    EXPECT_EQ(read_span(h.code), read.read.length);
    const int64_t from = h.position, to = from + reference_span(h.code);
    const int64_t overlap = std::min<int64_t>(to, r.end) - std::max<int64_t>(from, r.start);
    EXPECT_GE(static_cast<double>(overlap) / (r.end - r.start), 0.9) << "read " << i;
  }
}

}  // namespace
