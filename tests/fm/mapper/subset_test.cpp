// The ordered range set of the standard seeder against a set of integers,
// the interval its removals return to a scan, and the reuse of its nodes.
#include "fm/mapper/subset.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Ranges = std::vector<std::pair<int, int>>;

Ranges ranges_of(const Subset &s) {
  Ranges out;
  for (const SubsetInterval *i = s.head(); i != nullptr; i = i->next) out.push_back({i->begin, i->end});
  return out;
}

// The maximal runs of a set of integers, highest first.
Ranges runs_of(const std::set<int> &model) {
  Ranges out;
  for (auto it = model.rbegin(); it != model.rend();) {
    const int end = *it + 1;
    int begin = *it;
    for (++it; it != model.rend() && *it == begin - 1; ++it) begin--;
    out.push_back({begin, end});
  }
  return out;
}

Subset *make(Subset *s, const Ranges &ranges) {
  for (const auto &[a, b] : ranges) s->add_range(a, b);
  return s;
}

TEST(Subset, AddAndRemoveMatchASetOfPositions) {
  std::mt19937 rng(5);
  Subset s;
  for (int round = 0; round < 20; round++) {
    s.reset();
    std::set<int> model;
    for (int op = 0; op < 300; op++) {
      const int a = static_cast<int>(rng() % 200) - 5;
      const int b = a + static_cast<int>(rng() % 30) - 3;
      if (rng() % 3 == 0) {
        s.add_range(a, b);
        for (int x = a; x < b; x++) model.insert(x);
      } else {
        s.remove_range(a, b);
        for (int x = a; x < b; x++) model.erase(x);
      }
      // Disjoint, descending and never touching: exactly the runs.
      ASSERT_EQ(ranges_of(s), runs_of(model)) << "round " << round << " op " << op;
      ASSERT_EQ(s.empty(), model.empty());
    }
  }
}

// What a scan continues with after each kind of removal from
// [20,30) [10,15) [0,5).
TEST(Subset, RemovalReturnsWhereAScanGoesOn) {
  struct Case {
    int a, b;
    Ranges after;
    int next_begin;  // begin of the interval returned, -1 for null
  } cases[] = {
      {22, 25, {{25, 30}, {20, 22}, {10, 15}, {0, 5}}, 10},  // split: the one below the lower part
      {10, 12, {{20, 30}, {12, 15}, {0, 5}}, -1},            // begin cut: the walk runs on to the end
      {12, 15, {{20, 30}, {10, 12}, {0, 5}}, 0},             // end cut: the one after it
      {12, 40, {{10, 12}, {0, 5}}, 0},                       // one removed, one cut
      {0, 100, {}, -1},                                      // all removed
      {5, 10, {{20, 30}, {10, 15}, {0, 5}}, -1},             // a gap: nothing changes
      {3, 3, {{20, 30}, {10, 15}, {0, 5}}, -1},              // empty range
      {29, 31, {{20, 29}, {10, 15}, {0, 5}}, 10},
  };
  for (const Case &c : cases) {
    Subset s;
    make(&s, {{0, 5}, {20, 30}, {10, 15}});
    const SubsetInterval *next = s.remove_range(c.a, c.b);
    EXPECT_EQ(ranges_of(s), c.after) << c.a << ".." << c.b;
    EXPECT_EQ(next == nullptr ? -1 : next->begin, c.next_begin) << c.a << ".." << c.b;
  }
}

TEST(Subset, AddMergesTouchingAndOverlappingIntervals) {
  Subset s;
  make(&s, {{0, 5}, {10, 15}, {20, 30}, {40, 41}});
  EXPECT_EQ(ranges_of(s), (Ranges{{40, 41}, {20, 30}, {10, 15}, {0, 5}}));
  s.add_range(5, 10);  // touches both neighbours
  EXPECT_EQ(ranges_of(s), (Ranges{{40, 41}, {20, 30}, {0, 15}}));
  s.add_range(14, 41);
  EXPECT_EQ(ranges_of(s), (Ranges{{0, 41}}));
  s.add_range(-3, -1);
  s.add_range(50, 60);
  EXPECT_EQ(ranges_of(s), (Ranges{{50, 60}, {0, 41}, {-3, -1}}));
}

TEST(Subset, NodesComeBackThroughTheCache) {
  Subset s;
  for (int i = 0; i < 50; i++) s.add_range(3 * i, 3 * i + 1);
  EXPECT_EQ(s.nodes_allocated(), 50u);
  for (int round = 0; round < 5; round++) {
    s.reset();
    EXPECT_TRUE(s.empty());
    s.add_range(0, 200);
    for (int i = 1; i < 50; i++) s.remove_range(4 * i, 4 * i + 1);  // 49 splits
    EXPECT_EQ(ranges_of(s).size(), 50u);
  }
  EXPECT_EQ(s.nodes_allocated(), 50u);
  // Explicit links: after the head and at the head.
  s.reset();
  SubsetInterval *first = s.insert_interval_before(nullptr);
  *first = {first->next, 10, 20};
  SubsetInterval *below = s.insert_interval_before(first);
  below->begin = 0;
  below->end = 5;
  EXPECT_EQ(ranges_of(s), (Ranges{{10, 20}, {0, 5}}));
  s.remove_interval_before(nullptr);
  EXPECT_EQ(ranges_of(s), (Ranges{{0, 5}}));
  EXPECT_EQ(s.nodes_allocated(), 50u);
}

}  // namespace
