// Fragment search on exact word counts chosen by the tests: decisions at a
// fragment end (unique, dead, ambiguous, tips, read errors of three kinds),
// the beam step against a one-step model, the alignment tests, the end
// states of an extension, and fragments built from seeds.
#include "denovo/reads/fragment_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "denovo/reads/fragment_builder.h"
#include "tests/denovo/reads/fragment_model.h"

namespace {

using namespace fragment_test;

constexpr int kK = 12;
constexpr int kDepth = kK + kFragmentSearchExtraDepth;

// A random sequence with a position d >= 61 whose neighbours are three
// different letters, so that a substitution, an insertion or a deletion
// at d each changes the first letter after the k - 1 symbols before d.
struct Site {
  Codes g;
  size_t d;
  Codes s() const { return slice(g, d - (kK - 1), kK - 1); }
  uint8_t other() const {  // a letter unlike g[d - 1], g[d] and g[d + 1]
    for (uint8_t x = 0; x < 4; x++)
      if (x != g[d - 1] && x != g[d] && x != g[d + 1]) return x;
    return 0;
  }
};

Site make_site(uint64_t seed) {
  std::mt19937_64 rng(seed);
  Site site{random_codes(rng, 300), 0};
  for (size_t d = 61;; d++) {
    if (site.g[d - 2] != site.g[d - 1] && site.g[d - 1] != site.g[d] && site.g[d] != site.g[d + 1] &&
        site.g[d - 1] != site.g[d + 1]) {
      site.d = d;
      return site;
    }
  }
}

TEST(FragmentDecide, FollowsTheCountedWords) {
  const Site site = make_site(1);
  const Codes &g = site.g;
  const size_t d = site.d;
  const Codes s = site.s();
  const Codes tail = [] {
    std::mt19937_64 rng(2);
    return random_codes(rng, 100);
  }();
  struct Case {
    const char *what;
    std::vector<std::pair<Codes, int>> sequences;
    Codes symbols;
    int32_t result;
    int32_t depth;
  };
  const Codes substituted = concat({s, Codes{site.other()}, slice(g, d + 1, kK + 1)});
  const Codes inserted = concat({s, Codes{site.other()}, slice(g, d, kK)});
  const Codes deleted = concat({s, slice(g, d + 1, kK)});
  const Codes longer = concat({slice(g, 0, d), Codes{site.other()}, tail});
  const Case cases[] = {
      {"one next word", {{g, 6}}, s, g[d], 0},
      {"end of the sequence", {{g, 6}}, slice(g, g.size() - (kK - 1), kK - 1), kFragmentNoBase, 0},
      {"two long branches", {{g, 6}, {longer, 6}}, s, kFragmentAmbiguous, kDepth},
      // The branch of the short sequence has words at steps 0 to 3.
      {"tip of four words", {{g, 6}, {slice(longer, 0, d + 4), 6}}, s, g[d], 4},
      {"weak substitution", {{g, 6}, {substituted, 2}}, s, g[d], kDepth},
      {"substitution not weak enough", {{g, 6}, {substituted, 4}}, s, kFragmentAmbiguous, kDepth},
      {"weak insertion", {{g, 6}, {inserted, 2}}, s, g[d], kDepth},
      {"weak deletion", {{g, 6}, {deleted, 2}}, s, g[d], kDepth},
      {"deletion not weak enough", {{g, 6}, {deleted, 4}}, s, kFragmentAmbiguous, kDepth},
  };
  for (const Case &c : cases) {
    ModelSearch m(kK);
    for (const auto &[sequence, weight] : c.sequences) m.model.add(sequence, weight);
    int32_t depth = -1;
    EXPECT_EQ(m.decide(c.symbols.data(), &depth), c.result) << c.what;
    EXPECT_EQ(depth, c.depth) << c.what;
    EXPECT_EQ(m.decide(c.symbols.data(), nullptr), c.result) << c.what << " without depth";
  }
}

TEST(FragmentDecide, AlignmentTestsAroundTheFirstDifference) {
  const Site site = make_site(3);
  const Codes &g = site.g;
  const size_t d = site.d;
  const Codes s = site.s();
  const int path_length = kDepth + kK - 1;
  const Codes p = concat({s, slice(g, d, path_length)});
  // The inserted symbol repeats the one before it, so the insertion can
  // slide back by one place.
  const Codes slid = concat({s, Codes{g[d - 1]}, slice(g, d, path_length)});
  struct Case {
    const char *what;
    Codes q;
    int32_t shift;
    int32_t holds;
    int32_t n_p, n_q;
  };
  const Case cases[] = {
      {"insertion", concat({s, Codes{site.other()}, slice(g, d, path_length)}), 1, 1, kK - 1, kK},
      {"insertion that slides", slid, 1, 1, kK - 2, kK - 1},
      {"insertion as substitution", concat({s, Codes{site.other()}, slice(g, d, path_length)}), 0, 0, -1, -1},
      {"substitution", concat({s, Codes{site.other()}, slice(g, d + 1, path_length)}), 0, 1, kK, kK},
      {"substitution as insertion", concat({s, Codes{site.other()}, slice(g, d + 1, path_length)}), 1, 0, -1, -1},
      {"deletion", concat({s, slice(g, d + 1, path_length)}), -1, 1, kK, kK - 1},
      {"deletion as substitution", concat({s, slice(g, d + 1, path_length)}), 0, 0, -1, -1},
  };
  for (const Case &c : cases) {
    int32_t n_p = -1, n_q = -1;
    EXPECT_EQ(fragment_paths_match_shifted(p.data(), c.q.data(), kK, path_length, c.shift, &n_p, &n_q), c.holds)
        << c.what;
    if (c.holds) {
      EXPECT_EQ(n_p, c.n_p) << c.what;
      EXPECT_EQ(n_q, c.n_q) << c.what;
    }
  }
}

TEST(FragmentDecide, ExtensionsOrderByScoreThenCandidateThenLetter) {
  std::vector<fragment_extension_t> e = {{5, 1, 2}, {9, 3, 0}, {5, 0, 3}, {5, 1, 0}, {9, 0, 1}, {1, 0, 0}};
  qsort(e.data(), e.size(), sizeof(fragment_extension_t), fragment_candidate_compare);
  const std::vector<std::vector<int>> expected = {{9, 0, 1}, {9, 3, 0}, {5, 0, 3}, {5, 1, 0}, {5, 1, 2}, {1, 0, 0}};
  for (size_t i = 0; i < e.size(); i++)
    EXPECT_EQ((std::vector<int>{e[i].score, e[i].candidate, e[i].letter}), expected[i]) << i;
  const fragment_extension_t a{4, 2, 1};
  EXPECT_EQ(fragment_candidate_compare(&a, &a), 0);
}

// Each beam step against a model of one step: all counted one-letter
// extensions of the previous candidates, best W kept in extension order.
TEST(FragmentDecide, BeamStepKeepsTheBestExtensions) {
  std::mt19937_64 rng(11);
  const Codes s = random_codes(rng, kK - 1);
  ModelSearch m(kK);
  // Many branching continuations of s + A with varied weights.
  std::vector<Codes> tails;
  for (int i = 0; i < 40; i++) {
    Codes tail = concat({s, Codes{0}});
    if (!tails.empty() && (rng() % 3) != 0) {
      const Codes &base = tails[rng() % tails.size()];
      const size_t keep = kK + rng() % 8;
      tail = slice(base, 0, keep);
    }
    while (tail.size() < kK + 14) tail.push_back(static_cast<uint8_t>(rng() & 3));
    m.model.add(tail, 1 + static_cast<int>(rng() % 5));
    tails.push_back(tail);
  }
  fragment_search_t *narrow = fragment_search_new(m.handle, kDepth, 3);
  ASSERT_EQ(fragment_search_start_branch(narrow, 0, s.data(), m.ctx), 1);
  for (int step = 1; step < 14; step++) {
    struct Item {
      Codes path;
      int score;
    };
    std::vector<Item> before;
    const fragment_candidate_list_t *list = narrow->branches[0];
    for (int j = 0; j < list->width && list->items[j].score != 0; j++)
      before.push_back({Codes(list->items[j].path, list->items[j].path + step + kK - 1), list->items[j].score});
    std::vector<std::pair<fragment_extension_t, Codes>> all;
    for (size_t j = 0; j < before.size(); j++) {
      for (uint8_t x = 0; x < 4; x++) {
        Codes path = before[j].path;
        path.push_back(x);
        const int c = m.model.count(path.data() + step);
        if (c > 0) all.push_back({{before[j].score + c, static_cast<int32_t>(j), x}, path});
      }
    }
    std::sort(all.begin(), all.end(), [](const auto &a, const auto &b) {
      return fragment_candidate_compare(&a.first, &b.first) < 0;
    });
    const int32_t alive = fragment_search_extend_branch(narrow, 0, step, m.ctx);
    ASSERT_EQ(alive, all.empty() ? 0 : 1) << step;
    if (all.empty()) break;
    list = narrow->branches[0];
    const size_t kept = std::min<size_t>(3, all.size());
    for (size_t t = 0; t < kept; t++) {
      EXPECT_EQ(list->items[t].score, all[t].first.score) << step << " " << t;
      EXPECT_EQ(Codes(list->items[t].path, list->items[t].path + step + kK), all[t].second) << step << " " << t;
    }
    if (kept < 3) {
      EXPECT_EQ(list->items[kept].score, 0) << step;
    }
  }
  fragment_search_free(narrow);
}

TEST(FragmentExtend, EndStates) {
  std::mt19937_64 rng(21);
  const Codes g = random_codes(rng, 200);
  ASSERT_FALSE(has_hairpin(g, kK));
  {
    SCOPED_TRACE("dead end");
    ModelSearch m(kK);
    m.model.add(g, 5);
    Codes out;
    int32_t depth = -1;
    EXPECT_EQ(m.extend(slice(g, 0, kK), &out, &depth), kFragmentEndDead);
    EXPECT_EQ(out, g);
    EXPECT_EQ(depth, 0);
  }
  {
    SCOPED_TRACE("circle");
    const Codes circle = slice(g, 0, 100);
    ModelSearch m(kK);
    m.model.add(concat({circle, slice(circle, 0, kK - 1)}), 5);
    Codes out;
    EXPECT_EQ(m.extend(slice(circle, 0, kK), &out), kFragmentEndCircle);
    EXPECT_EQ(out, concat({circle, slice(circle, 0, kK - 1)}));
  }
  {
    SCOPED_TRACE("hairpin");
    // a + rc(a): the word at 24 is its own reverse complement; the
    // fragment stops one symbol before it is complete, at 35 symbols.
    const Codes a = slice(g, 0, 30);
    ModelSearch m(kK);
    m.model.add(concat({a, reverse_complement(a)}), 5);
    Codes out;
    int32_t depth = -1;
    EXPECT_EQ(m.extend(slice(a, 0, kK), &out, &depth), kFragmentEndAmbiguous);
    EXPECT_EQ(out, slice(concat({a, reverse_complement(a)}), 0, 35));
    EXPECT_EQ(depth, 0);
  }
  {
    SCOPED_TRACE("two long continuations");
    ModelSearch m(kK);
    m.model.add(g, 5);
    m.model.add(concat({slice(g, 0, 80), Codes{static_cast<uint8_t>(g[80] ^ 1)}, slice(g, 120, 60)}), 5);
    Codes out;
    int32_t depth = -1;
    EXPECT_EQ(m.extend(slice(g, 0, kK), &out, &depth), kFragmentEndAmbiguous);
    EXPECT_EQ(out, slice(g, 0, 80));
    EXPECT_EQ(depth, kDepth);
  }
  {
    SCOPED_TRACE("join");
    // Two sequences run into one shared stretch: its first word has two
    // predecessors, so the fragment ends before it.
    Codes other = random_codes(rng, 60);
    other.back() = static_cast<uint8_t>(g[99] ^ 1);
    ModelSearch m(kK);
    m.model.add(g, 5);
    m.model.add(concat({other, slice(g, 100, 100)}), 5);
    Codes out;
    EXPECT_EQ(m.extend(slice(g, 0, kK), &out), kFragmentEndJoin);
    EXPECT_EQ(out, slice(g, 0, 100 + kK - 1));
  }
}

TEST(FragmentExtend, LeavingAReadErrorIsInconsistent) {
  // A weak copy of g with a substitution at d: extending along the copy,
  // the first word past the error has the strong word of g as its only
  // predecessor once the error branch is discounted.
  const Site site = make_site(31);
  const Codes &g = site.g;
  const size_t d = site.d;
  Codes e = g;
  e[d] = site.other();
  ModelSearch m(kK);
  m.model.add(g, 8);
  m.model.add(slice(e, d - (kK - 1), 2 * kK - 1), 2);
  Codes out;
  EXPECT_EQ(m.extend(slice(e, d - (kK - 1), kK), &out), kFragmentEndInconsistent);
  EXPECT_EQ(out, slice(e, d - (kK - 1), 2 * kK - 1));
}

TEST(FragmentBuild, FromSeeds) {
  std::mt19937_64 rng(42);
  const Codes g = random_codes(rng, 150);
  ASSERT_FALSE(has_hairpin(g, kK));
  {
    SCOPED_TRACE("unique linear sequence, both strands");
    ModelSearch m(kK);
    m.model.add(g, 5);
    for (const Codes &strand : {g, reverse_complement(g)}) {
      int32_t left = -1;
      seq_record_t *r = fragment_build_from_seed(m.search, strand.data() + 40, &left, m.ctx);
      ASSERT_NE(r, nullptr);
      ASSERT_NE(r->name, nullptr);
      EXPECT_STREQ(r->name, "EE_00000000");
      EXPECT_EQ(Codes(r->residues, r->residues + r->length), strand);
      EXPECT_EQ(left, 40);
      seq_record_free(r);
    }
  }
  {
    SCOPED_TRACE("circle");
    const Codes circle = slice(g, 0, 90);
    ModelSearch m(kK);
    m.model.add(concat({circle, slice(circle, 0, kK - 1)}), 5);
    int32_t left = -1;
    seq_record_t *r = fragment_build_from_seed(m.search, circle.data() + 30, &left, m.ctx);
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->name, nullptr);
    EXPECT_EQ(std::string(r->name, 2), "DF");
    ASSERT_EQ(r->length, 90u + kK - 1);
    const Codes got(r->residues, r->residues + r->length);
    // The circle from the seed's left neighbourhood on, closed by its first
    // k - 1 symbols again.
    const Codes twice = concat({circle, circle});
    const Codes rotation = slice(got, 0, 90);
    EXPECT_NE(std::search(twice.begin(), twice.end(), rotation.begin(), rotation.end()), twice.end());
    EXPECT_EQ(slice(got, 90, kK - 1), slice(got, 0, kK - 1));
    EXPECT_EQ(slice(got, left, kK), slice(circle, 30, kK));
    seq_record_free(r);
  }
  {
    SCOPED_TRACE("short isolated stretch without look-ahead");
    ModelSearch m(kK);
    m.model.add(slice(g, 0, kK + 3), 5);
    int32_t left = -1;
    seq_record_t *r = fragment_build_from_seed(m.search, g.data() + 1, &left, m.ctx);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, nullptr);
    EXPECT_EQ(Codes(r->residues, r->residues + r->length), slice(g, 0, kK + 3));
    seq_record_free(r);
  }
  {
    SCOPED_TRACE("seed with two predecessors");
    Codes other = random_codes(rng, 50);
    other.back() = static_cast<uint8_t>(g[79] ^ 1);
    ModelSearch m(kK);
    m.model.add(g, 5);
    m.model.add(concat({other, slice(g, 80, 70)}), 5);
    int32_t left = -1;
    // The seed's suffix of k - 1 symbols is preceded by two letters.
    seq_record_t *r = fragment_build_from_seed(m.search, g.data() + 79, &left, m.ctx);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, nullptr);
    EXPECT_EQ(Codes(r->residues, r->residues + r->length), slice(g, 79, kK));
    EXPECT_EQ(left, 0);
    seq_record_free(r);
  }
  {
    SCOPED_TRACE("seed that is its own reverse complement");
    const Codes half = slice(g, 0, kK / 2);
    const Codes palindrome = concat({half, reverse_complement(half)});
    ModelSearch m(kK);
    m.model.add(concat({slice(g, 50, 30), palindrome, slice(g, 90, 30)}), 5);
    int32_t left = -1;
    EXPECT_EQ(fragment_build_from_seed(m.search, palindrome.data(), &left, m.ctx), nullptr);
  }
}

TEST(FragmentBuffer, GrowsAndTurnsRound) {
  std::mt19937_64 rng(51);
  for (int n : {0, 1, 2, 9, 10, 11, 37, 160}) {
    const Codes c = random_codes(rng, static_cast<size_t>(n));
    fragment_buffer_t *b = fragment_buffer_new();
    EXPECT_EQ(b->capacity, 10);
    for (uint8_t x : c) fragment_buffer_append(b, x);
    EXPECT_GE(b->capacity, n);
    int expected_capacity = 10;
    while (expected_capacity < n) expected_capacity *= 2;
    EXPECT_EQ(b->capacity, expected_capacity) << n;
    fragment_buffer_reverse_complement(b);
    EXPECT_EQ(Codes(b->bytes, b->bytes + b->length), reverse_complement(c)) << n;
    fragment_buffer_free(b);
  }
}

}  // namespace
