// Neighbourhood search on hand-made graphs: distances, the radius and the
// expansion bound, the count limit, repeat-like nodes blocking the way, a
// plain relaxation model on random graphs, the repeat rating of chains and
// the path drawing.
#include "denovo/graph/neighbourhood.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "graph_test_util.h"

namespace {

using namespace graph_test;

// A graph over fragments of the given lengths with the given edges.
struct Graph : HandGraph {
  neighbourhood_t *context = nullptr;
  Graph(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges, int32_t word_size = 21)
      : HandGraph(fragments_of_lengths(lengths), edges, word_size) {}
  ~Graph() { neighbourhood_free(context); }
  neighbourhood_t *ctx() {
    if (context == nullptr) context = neighbourhood_new(graph, 600);
    return context;
  }
  // The hits as node -> distance, checking that they come sorted by node.
  std::map<oriented_id_t, int32_t> search(oriented_id_t start, int32_t radius, int32_t max_count = -1,
                                          const neighbourhood_rating_t *ratings = nullptr) {
    int32_t n = -5;
    neighbourhood_hit_t **hits = neighbourhood_search(ctx(), start, radius, max_count, &n, ratings);
    std::map<oriented_id_t, int32_t> out;
    for (int32_t i = 0; i < n; i++) {
      if (i > 0) {
        EXPECT_LT(hits[i - 1]->node, hits[i]->node);
      }
      out[hits[i]->node] = hits[i]->distance;
    }
    EXPECT_EQ(static_cast<size_t>(n), out.size());
    neighbourhood_hits_free(hits, n);
    return out;
  }
};

std::string captured(const std::function<void()> &fn) {
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// 0 (100) -> 1 (50) at -20 and -> 2 (30) at 10; 1 -> 3 (200) at -20, 2 -> 3
// at 5; 3 -> 4 (40) at 0; 5 has no edge.
const std::vector<uint32_t> kLengths = {100, 50, 30, 200, 40, 60};
const std::vector<Edge> kDiamond = {{0, 1, -20}, {0, 2, 10}, {1, 3, -20}, {2, 3, 5}, {3, 4, 0}};

TEST(NeighbourhoodSearch, ShortestDistancesBothStrands) {
  Graph g(kLengths, kDiamond);
  // 3 is reached over 1 (-20 + 50 - 20) and over 2 (10 + 30 + 5): the
  // shorter stays; 4 lies past 3.
  EXPECT_EQ(g.search(0, 600), (std::map<oriented_id_t, int32_t>{{1, -20}, {2, 10}, {3, 10}, {4, 210}}));
  // Backwards from 4: its prev side read as next edges of its reverse.
  EXPECT_EQ(g.search(rev(4), 600),
            (std::map<oriented_id_t, int32_t>{{rev(3), 0}, {rev(1), 180}, {rev(2), 205}, {rev(0), 210}}));
  // No next edge, or none within the radius.
  EXPECT_TRUE(g.search(4, 600).empty());
  EXPECT_TRUE(g.search(5, 600).empty());
  EXPECT_EQ(g.search(0, 9), (std::map<oriented_id_t, int32_t>{{1, -20}}));
}

TEST(NeighbourhoodSearch, RadiusAndExpansionBound) {
  // 0 -> 1 at 600 and -> 2 at 601. 3 starts 500 bases after 0 and is 120
  // long, so its end lies at 620, below radius + word size (621): its edge to
  // 4 at -20 gives 600. 5 is 121 long: its end at 621 stops the search, so
  // 6 at 621 - 21 = 600 is not found.
  Graph g({10, 10, 10, 120, 10, 121, 10},
          {{0, 1, 600}, {0, 2, 601}, {0, 3, 500}, {3, 4, -20}, {0, 5, 500}, {5, 6, -21}});
  EXPECT_EQ(g.search(0, 600), (std::map<oriented_id_t, int32_t>{{1, 600}, {3, 500}, {4, 600}, {5, 500}}));
}

TEST(NeighbourhoodSearch, StartOnlyWhenPathLeadsBack) {
  Graph g({30, 40}, {{0, 1, -10}, {1, 0, -10}});
  EXPECT_EQ(g.search(0, 600), (std::map<oriented_id_t, int32_t>{{0, 20}, {1, -10}}));
}

TEST(NeighbourhoodSearch, CountLimitKeepsNearest) {
  // A star: leaf i at distance i, inserted in descending order.
  std::vector<Edge> edges;
  for (oriented_id_t i = 300; i >= 1; i--) edges.emplace_back(0, i, static_cast<int32_t>(i));
  Graph g(std::vector<uint32_t>(301, 25), edges);
  const auto hits = g.search(0, 600, 200);
  ASSERT_EQ(hits.size(), 200u);
  for (const auto &[node, d] : hits) {
    EXPECT_LE(node, 200u);
    EXPECT_EQ(d, static_cast<int32_t>(node));
  }
  EXPECT_EQ(g.search(0, 600).size(), 300u);
}

TEST(NeighbourhoodSearch, RepeatLikeNodesAreEnteredNotPassed) {
  Graph g(kLengths, kDiamond);
  std::vector<neighbourhood_rating_t> ratings(kLengths.size(), neighbourhood_rating_t{0, kRatingUnrated});
  ratings[1].state = kRatingRepeat;
  EXPECT_EQ(g.search(0, 600, -1, ratings.data()),
            (std::map<oriented_id_t, int32_t>{{1, -20}, {2, 10}, {3, 45}, {4, 245}}));
  ratings[1].state = kRatingSeed;  // only state 3 blocks
  EXPECT_EQ(g.search(0, 600, -1, ratings.data())[3], 10);
}

// Shortest distances by repeated relaxation under the same rules: a node
// found within the radius passes the search on while its end lies below
// radius + word size.
std::map<oriented_id_t, int32_t> relaxation_model(const fragment_graph_t *g, oriented_id_t start, int32_t radius) {
  std::map<oriented_id_t, int64_t> best;
  auto relax_from = [&](oriented_id_t node, int64_t end) {
    bool changed = false;
    if (end >= static_cast<int64_t>(radius) + g->word_size) return false;
    for (const Step &s : next_list(g, node)) {
      const int64_t d = end + s.second;
      if (d > radius) continue;
      auto it = best.find(s.first);
      if (it == best.end() || d < it->second) {
        best[s.first] = d;
        changed = true;
      }
    }
    return changed;
  };
  relax_from(start, 0);
  for (bool changed = true; changed;) {
    changed = false;
    const auto snapshot = best;
    for (const auto &[node, d] : snapshot) changed |= relax_from(node, d + fragment_graph_get_node_length(g, node));
  }
  std::map<oriented_id_t, int32_t> out;
  for (const auto &[node, d] : best) out[node] = static_cast<int32_t>(d);
  return out;
}

TEST(NeighbourhoodSearch, AgreesWithRelaxationModel) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; round++) {
    const int n = 12 + static_cast<int>(rng() % 20);
    std::vector<uint32_t> lengths;
    for (int i = 0; i < n; i++) lengths.push_back(21 + rng() % 150);
    std::vector<Edge> edges;
    for (int e = 0; e < 2 * n; e++) {
      const oriented_id_t a = (rng() % n) | (rng() % 2 ? R : 0);
      const oriented_id_t b = (rng() % n) | (rng() % 2 ? R : 0);
      edges.emplace_back(a, b, -20 + static_cast<int32_t>(rng() % 120));
    }
    Graph g(lengths, edges);
    for (int s = 0; s < n; s++) {
      for (const oriented_id_t start : {static_cast<oriented_id_t>(s), rev(static_cast<oriented_id_t>(s))}) {
        EXPECT_EQ(g.search(start, 400), relaxation_model(g.graph, start, 400))
            << "round " << round << " start " << start;
      }
    }
  }
}

// Chains of n nodes of the word size joined at -20: each step adds one base.
// A node is rated when 200 nodes lie on both sides, all with the same mean,
// so the highest-index rated node seeds first, and every further rated node
// 201 places below the last seed seeds too; the nodes between are cut off by
// the seeds when rated again.
TEST(NeighbourhoodRating, ChainSeedsEvery201Nodes) {
  struct Case {
    int32_t n;
    std::vector<int32_t> repeats;
  };
  for (const Case &c : std::vector<Case>{{399, {}}, {401, {200}}, {1000, {397, 598, 799}}}) {
    std::vector<Edge> edges;
    for (int32_t i = 0; i + 1 < c.n; i++) edges.emplace_back(i, i + 1, -20);
    Graph g(std::vector<uint32_t>(c.n, 21), edges);
    neighbourhood_t *ctx = g.ctx();
    std::vector<int32_t> repeats;
    for (int32_t i = 0; i < c.n; i++) {
      EXPECT_EQ(ctx->marks[2 * i], ctx->marks[2 * i + 1]);
      if (ctx->marks[2 * i] == kNeighbourhoodMarkRepeat) {
        repeats.push_back(i);
      } else {
        EXPECT_EQ(ctx->marks[2 * i], kNeighbourhoodMarkPlain);
      }
    }
    EXPECT_EQ(repeats, c.repeats) << "chain of " << c.n;
  }
}

TEST(NeighbourhoodRating, RateNodeStatisticsAndPrint) {
  // Node 1 of the chain 0 -> 1 -> 2 -> 3: one hit back (-20), two ahead
  // (-20, -19).
  Graph g({21, 21, 21, 21}, {{0, 1, -20}, {1, 2, -20}, {2, 3, -20}});
  neighbourhood_stats_t *s = neighbourhood_stats_new(g.ctx(), 1, 600, -1, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->forward_count, 2);
  EXPECT_EQ(s->backward_count, 1);
  EXPECT_EQ(s->product, 2);
  EXPECT_DOUBLE_EQ(s->mean, (-20 - 19 - 20) / 3.0);
  neighbourhood_stats_free(s);
  EXPECT_EQ(neighbourhood_stats_new(g.ctx(), 0, 600, -1, nullptr), nullptr);  // nothing behind 0

  neighbourhood_rating_t r{0, kRatingRated};
  neighbourhood_rate_node(g.ctx(), &r, 1, 600, 2, nullptr);  // product 2 < 4
  EXPECT_EQ(r.state, kRatingUnrated);
  neighbourhood_rate_node(g.ctx(), &r, 1, 600, 1, nullptr);  // one hit a side
  EXPECT_EQ(r.state, kRatingRated);
  EXPECT_FLOAT_EQ(r.value, -20.0f);

  struct Case {
    neighbourhood_rating_t rating;
    const char *text;
  };
  for (const Case &c : std::vector<Case>{{{1.5f, kRatingRated}, "  1.50 "},
                                         {{2.25f, kRatingRerate}, "  2.25-"},
                                         {{3.0f, kRatingRepeat}, "  3.00++"},
                                         {{4.0f, kRatingSeed}, "  4.00+"},
                                         {{9.0f, kRatingUnrated}, "     - "}}) {
    EXPECT_EQ(captured([&] { neighbourhood_print_rating(&c.rating); }), c.text);
  }
}

TEST(NeighbourhoodCompare, Orders) {
  neighbourhood_rated_node_t a{3, 1.0f}, b{5, 1.0f}, c{1, 0.5f};
  EXPECT_GT(neighbourhood_compare_ratings(&a, &b, nullptr), 0);  // tie: larger index first
  EXPECT_LT(neighbourhood_compare_ratings(&c, &a, nullptr), 0);
  neighbourhood_stats_t x{}, y{};
  x.product = 4;
  y.product = 9;
  EXPECT_LT(neighbourhood_stats_compare(&x, &y), 0);
  y.product = 4;
  x.mean = 2.0;
  y.mean = 1.0;
  EXPECT_LT(neighbourhood_stats_compare(&x, &y), 0);  // tie: larger mean first
  neighbourhood_hit_t h1{R | 1, -5}, h2{2, 7};
  EXPECT_LT(neighbourhood_compare_distance(&h1, &h2), 0);
  EXPECT_GT(neighbourhood_compare_node(&h1, &h2), 0);  // unsigned node order
  EXPECT_EQ(neighbourhood_strand_slot(R | 4), 9);
}

TEST(NeighbourhoodSearch, DistanceAndSize) {
  Graph g(kLengths, kDiamond);
  EXPECT_EQ(neighbourhood_distance(g.ctx(), 0, 3), 10);
  EXPECT_EQ(neighbourhood_distance(g.ctx(), 3, 0), INT_MIN);
  EXPECT_EQ(captured([&] { neighbourhood_print_size(g.ctx(), 0); }), "00000000 4\n");
}

// 0 (50) -> 1 (30) and 2 (40), both -> 3 (60), all at -10; 0 -> 4 (25) at
// 0, a dead end. Searching back from 3': 1' and 2' at -10, 0' at 10.
const std::vector<Edge> kTwoWays = {{0, 1, -10}, {0, 2, -10}, {1, 3, -10}, {2, 3, -10}, {0, 4, 0}};

TEST(NeighbourhoodPath, ShortestRowWithBranch) {
  Graph g({50, 30, 40, 60, 25}, kTwoWays);
  // From 0 the step to 1 costs -10 + 30 - 10 = 10, to 2 -10 + 40 - 10 = 20;
  // 4 cannot reach 3. 2 becomes a branch one column further right.
  EXPECT_EQ(captured([&] { neighbourhood_print_path(g.graph, g.ctx(), 0, 3); }),
            "path 00000000 (50) 00000003 (60) 10\n"
            "+        00000000 00000001 00000003\n"
            "  +      -  -  -  00000002 00000003\n"
            "\n");
  EXPECT_EQ(captured([&] { neighbourhood_print_path(g.graph, g.ctx(), 3, 0); }),
            "path 00000003 (60) 00000000 (50) -2147483648\n"
            "  -\n");
}

TEST(NeighbourhoodPath, RowWithoutWayPrintsDeadEnd) {
  Graph g({50, 30, 40, 60, 25}, kTwoWays);
  int32_t n = 0;
  neighbourhood_hit_t **hits = neighbourhood_search(g.ctx(), rev(3), 600, -1, &n, nullptr);
  EXPECT_EQ(captured([&] { neighbourhood_print_path_row(g.graph, g.ctx(), 4, 3, 0, 0, hits, n); }),
            "      +  00000004 ffffffff|||| \n");
  EXPECT_EQ(captured([&] { neighbourhood_print_path_row(g.graph, g.ctx(), 3, 3, 1, 1, hits, n); }),
            "    +    -  -  -  00000003\n");
  neighbourhood_hits_free(hits, n);
}

TEST(NeighbourhoodPath, CycleOfNoLengthEnds) {
  // 1 and 2 loop at a distance that cancels their length: from 2 the step
  // back to 1 costs as much as the edge to the target and comes first in
  // the list, so the greedy step would go round for ever; the row ends like
  // a dead end instead.
  Graph g({30, 30, 30, 30}, {{0, 1, -10}, {1, 2, -30}, {2, 1, -30}, {2, 3, -10}});
  int32_t n = 0;
  neighbourhood_hit_t **hits = neighbourhood_search(g.ctx(), rev(3), 600, -1, &n, nullptr);
  const std::string row = captured([&] { neighbourhood_print_path_row(g.graph, g.ctx(), 0, 3, 0, 0, hits, n); });
  EXPECT_NE(row.find("|||| \n"), std::string::npos) << row;
  neighbourhood_hits_free(hits, n);
}

}  // namespace
