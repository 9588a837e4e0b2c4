// Read threading: the merge walk against a plain recursive model that tries
// every edge for every read, on hand-made cases (parallel edges of one key,
// reads that end, near-miss distances, strands) and on random graphs with
// copied nodes; the gathering of read paths from both sides of a node.
#include "denovo/graph/component_threading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "component_test_util.h"

namespace {

using namespace graph_test;

#ifdef __SANITIZE_ADDRESS__
constexpr int kRandomRounds = 60;
#else
constexpr int kRandomRounds = 400;
#endif

// (entry, exit node, index in path, read pointer)
using Crossing = std::tuple<int32_t, oriented_id_t, uint64_t, uint64_t>;

struct Model {
  const fragment_graph_t *graph;
  const read_info_t *info;
  bool windowed;
  std::vector<bool> in_window;  // by node index

  bool entered(oriented_id_t t) const { return !windowed || in_window[fragment_graph_node_index(t)]; }

  // Tries every next edge of node for the read at p; returns the flag the
  // walk should give the read (exit recorded, or in the unwindowed walk,
  // read ended).
  int walk(int32_t entry, oriented_id_t node, read_ptr_t p, std::vector<Crossing> *out) const {
    if (!read_info_has_next(info, p)) return windowed ? 0 : 1;
    const int32_t d = read_info_get_next_distance(info, p);
    const read_ptr_t q = read_info_get_next(info, p);
    const oriented_id_t f = read_info_get_fragment(info, q);
    int flag = 0;
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kOrientedIdNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
      if (fragment_graph_get_edge_distance(graph, e) != d || fragment_graph_get_node_fragment(graph, t) != f) continue;
      if (entered(t)) {
        flag |= walk(entry, t, q, out);
      } else {
        out->emplace_back(entry, t, read_info_get_index_in_path(info, q), q);
        flag = 1;
      }
    }
    return flag;
  }
};

void mark_window(fragment_graph_t *g, const std::vector<oriented_id_t> &w, bool on) {
  for (oriented_id_t n : w) on ? fragment_graph_set_mark1(g, n) : fragment_graph_clear_mark1(g, n);
}

std::vector<Crossing> crossings_of(component_window_t *c, const component_read_list_t *list) {
  std::vector<Crossing> out;
  for (int32_t i = 0; i < list->count; i++)
    for (auto *x = component_window_first_crossing(c, &list->entries[i]); x; x = component_window_next_crossing(c, x))
      out.emplace_back(i, x->exit_node, x->index_in_path, x->read_ptr);
  std::sort(out.begin(), out.end());
  return out;
}

struct Expected {
  std::vector<Crossing> crossings;
  std::vector<int32_t> flags;
};

Expected model_crossings(const WindowFixture &f, const component_read_list_t *list, oriented_id_t start,
                         const std::vector<oriented_id_t> &window, bool windowed) {
  Model m{f.graph, f.info, windowed, std::vector<bool>(f.graph->node_count, false)};
  for (oriented_id_t n : window) m.in_window[fragment_graph_node_index(n)] = true;
  Expected e;
  for (int32_t i = 0; i < list->count; i++)
    e.flags.push_back(m.walk(i, start, list->entries[i].read_ptr, &e.crossings));
  std::sort(e.crossings.begin(), e.crossings.end());
  return e;
}

// Runs the crossing walk from start and compares it with the model.
void check_crossings(WindowFixture &f, oriented_id_t start, const std::vector<oriented_id_t> &window,
                     const char *what) {
  component_read_list_t *list = f.context->read_list;
  component_read_list_set_fragment(list, fragment_graph_get_node_fragment(f.graph, start));
  component_read_list_fill(list, f.info);
  const Expected e = model_crossings(f, list, start, window, true);
  std::vector<read_ptr_t> before;
  for (int32_t i = 0; i < list->count; i++) before.push_back(list->entries[i].read_ptr);
  component_window_clear_crossings(f.context);
  mark_window(f.graph, window, true);
  component_get_crossings(f.context, start, list);
  mark_window(f.graph, window, false);
  EXPECT_EQ(crossings_of(f.context, list), e.crossings) << what;
  EXPECT_EQ(std::vector<int32_t>(list->flags, list->flags + list->count), e.flags) << what;
  EXPECT_EQ(f.context->int_scratch.used, 0) << what;
  EXPECT_EQ(f.context->int_scratch.heap_block_count, 0) << what;
  EXPECT_EQ(f.context->u64_scratch.used, 0) << what;
  EXPECT_EQ(f.context->u64_scratch.heap_block_count, 0) << what;
}

TEST(ComponentThreading, HandMadeCrossings) {
  struct Case {
    const char *what;
    std::vector<uint32_t> lengths;
    std::vector<Edge> edges;
    std::vector<PathReads> paths;
    std::vector<oriented_id_t> window;
    oriented_id_t start;
    size_t crossings;  // expected count, besides the model comparison
  } cases[] = {
      {"two reads leave by different edges",
       {30, 30, 30},
       {{0, 1, -5}, {0, 2, -5}},
       {{{0, 1}, {-5}, 2}, {{0, 2}, {-5}}},
       {0},
       0,
       3},
      {"read ends on the start node", {30, 30}, {{0, 1, -5}}, {{{0}, {}}, {{0, 1}, {-5}}}, {0}, 0, 1},
      {"distance off by one matches no edge", {30, 30}, {{0, 1, -5}}, {{{0, 1}, {-4}}, {{0, 1}, {-6}}}, {0}, 0, 0},
      {"node without next edges", {30, 30}, {{1, 0, -5}}, {{{0, 1}, {-5}}}, {0}, 0, 0},
      {"read goes through the window",
       {30, 30, 30, 30},
       {{0, 1, -5}, {1, 2, -5}, {2, 3, -5}},
       {{{0, 1, 2, 3}, {-5, -5, -5}}, {{1, 2}, {-5}}},
       {1, 2},
       1,
       1},
      {"stops at the first exit although it re-enters",
       {30, 30, 30},
       {{0, 1, -5}, {1, 2, -5}},
       {{{0, 1, 2}, {-5, -5}}},
       {0, 2},
       0,
       1},
      {"onto a window node's reverse strand",
       {30, 30, 30},
       {{0, 1 | R, -5}, {1 | R, 2, -5}},
       {{{0, 1 | R, 2}, {-5, -5}}},
       {0, 1},
       0,
       1},
      {"edges with keys below and above the reads'",
       {30, 30, 30, 30, 30},
       {{0, 1, -9}, {0, 2, -5}, {0, 2, -3}, {0, 3, -1}, {0, 4, -5}},
       {{{0, 2}, {-3}}, {{0, 2}, {-4}}, {{0, 4}, {-5}}, {{0, 3}, {-2}}, {{0, 1}, {-9}, 3}},
       {0},
       0,
       5},
  };
  for (const Case &c : cases) {
    WindowFixture f(c.lengths, c.edges, c.paths);
    check_crossings(f, c.start, c.window, c.what);
    size_t n = 0;
    for (int32_t i = 0; i < f.context->read_list->count; i++)
      for (auto *x = component_window_first_crossing(f.context, &f.context->read_list->entries[i]); x;
           x = component_window_next_crossing(f.context, x))
        n++;
    EXPECT_EQ(n, c.crossings) << c.what;
    EXPECT_TRUE(f.marks_clear()) << c.what;
  }
}

// Two nodes carrying fragment 1 at the same distance from node 0: the run is
// walked through both, and a read that leaves through both gets two
// crossings at the same read position.
TEST(ComponentThreading, ParallelEdgesOfOneKey) {
  WindowFixture f({30, 30, 30, 30}, {}, {{{0, 1, 2}, {-5, -5}}, {{0, 1, 3}, {-5, -5}}, {{0, 1}, {-5}}});
  const oriented_id_t copy = fragment_graph_new_node(f.graph, 1);
  ASSERT_EQ(copy, 4u);
  fragment_graph_add_edge(f.graph, 0, 1, -5);
  fragment_graph_add_edge(f.graph, 0, copy, -5);
  fragment_graph_add_edge(f.graph, 1, 2, -5);
  fragment_graph_add_edge(f.graph, copy, 2, -5);
  fragment_graph_add_edge(f.graph, copy, 3, -5);
  f.set({0, 1, copy});
  check_crossings(f, 0, {0, 1, copy}, "parallel edges");
  const auto got = crossings_of(f.context, f.context->read_list);
  // Read 0-1-2 leaves through both 1 and the copy, read 0-1-3 only through the copy.
  std::multiset<oriented_id_t> exits;
  for (const auto &x : got) exits.insert(std::get<1>(x));
  EXPECT_EQ(exits, (std::multiset<oriented_id_t>{2, 2, 3}));
  EXPECT_TRUE(f.marks_clear());
}

// Random graphs over few fragments with copied nodes (so parallel edges of
// one key occur), reads that mostly follow the graph, random windows.
struct RandomCase {
  std::vector<Edge> edges;
  std::vector<PathReads> paths;
  std::vector<oriented_id_t> window;
  int32_t copies;
};

RandomCase random_case(std::mt19937 &rng, int32_t fragments) {
  RandomCase r;
  r.copies = static_cast<int32_t>(rng() % 4);
  const int32_t nodes = fragments + r.copies;
  auto node_fragment = [&](oriented_id_t n) {
    const oriented_id_t i = fragment_graph_node_index(n);
    const oriented_id_t fi = i < (oriented_id_t)fragments ? i : (i - fragments) % 2;  // copies of 0 and 1
    return fi | (n & R);
  };
  auto any_node = [&]() { return static_cast<oriented_id_t>(rng() % nodes) | (rng() % 2 ? R : 0); };
  const int edge_count = 4 + static_cast<int>(rng() % 14);
  for (int i = 0; i < edge_count; i++)
    r.edges.push_back({any_node(), any_node(), -5 - static_cast<int32_t>(rng() % 2)});
  // Reads: walks along the edges, sometimes with a wrong step.
  const int read_count = 6 + static_cast<int>(rng() % 12);
  for (int i = 0; i < read_count; i++) {
    PathReads p;
    oriented_id_t at = any_node();
    p.fragments.push_back(node_fragment(at));
    const int len = static_cast<int>(rng() % 6);
    for (int s = 0; s < len; s++) {
      std::vector<Edge> out;
      for (const Edge &e : r.edges) {
        if (std::get<0>(e) == at) out.push_back(e);
        if (std::get<1>(e) == (at ^ R)) out.push_back({at, std::get<0>(e) ^ R, std::get<2>(e)});
      }
      if (out.empty() || rng() % 8 == 0) {
        at = any_node();
        p.distances.push_back(-5 - static_cast<int32_t>(rng() % 3));
      } else {
        const Edge &e = out[rng() % out.size()];
        at = std::get<1>(e);
        p.distances.push_back(std::get<2>(e));
      }
      p.fragments.push_back(node_fragment(at));
    }
    p.reads = 1 + static_cast<int>(rng() % 2);
    r.paths.push_back(p);
  }
  for (int32_t i = 0; i < nodes; i++)
    if (rng() % 2) r.window.push_back(static_cast<oriented_id_t>(i) | (rng() % 2 ? R : 0));
  if (r.window.empty()) r.window.push_back(0);
  return r;
}

WindowFixture *build(const RandomCase &r, int32_t fragments) {
  auto *f = new WindowFixture(std::vector<uint32_t>(fragments, 30), {}, r.paths);
  for (int32_t i = 0; i < r.copies; i++) fragment_graph_new_node(f->graph, static_cast<oriented_id_t>(i % 2));
  for (const Edge &e : r.edges) fragment_graph_add_edge(f->graph, std::get<0>(e), std::get<1>(e), std::get<2>(e));
  return f;
}

TEST(ComponentThreading, RandomCrossingsAgainstModel) {
  std::mt19937 rng(11);
  for (int round = 0; round < kRandomRounds; round++) {
    const RandomCase r = random_case(rng, 5);
    WindowFixture *f = build(r, 5);
    f->set(r.window);
    // The merge relies on next lists sorted by (target fragment, distance).
    for (int32_t n = 0; n < f->graph->node_count; n++) {
      for (const oriented_id_t node : {static_cast<oriented_id_t>(n), static_cast<oriented_id_t>(n) | R}) {
        std::vector<std::pair<oriented_id_t, int32_t>> keys;
        for (const Step &s : next_list(f->graph, node))
          keys.emplace_back(fragment_graph_get_node_fragment(f->graph, s.first), s.second);
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
      }
    }
    for (oriented_id_t start : r.window) {
      check_crossings(*f, start, r.window, "random");
      check_crossings(*f, start ^ R, r.window, "random reverse");
    }
    EXPECT_TRUE(f->marks_clear());
    delete f;
    if (HasFailure()) break;
  }
}

TEST(ComponentThreading, RandomThreadReadsAgainstModel) {
  std::mt19937 rng(12);
  for (int round = 0; round < kRandomRounds; round++) {
    const RandomCase r = random_case(rng, 5);
    WindowFixture *f = build(r, 5);
    for (oriented_id_t start = 0; start < 5; start++) {
      for (oriented_id_t s : {start, start | R}) {
        component_read_list_t *list = f->context->read_list;
        component_read_list_set_fragment(list, fragment_graph_get_node_fragment(f->graph, s));
        component_read_list_fill(list, f->info);
        const Expected e = model_crossings(*f, list, s, {}, false);
        component_window_clear_crossings(f->context);
        component_thread_read_list(f->context, s, list);
        EXPECT_EQ(std::vector<int32_t>(list->flags, list->flags + list->count), e.flags);
        EXPECT_EQ(f->context->crossing_count, 0);
        EXPECT_EQ(f->context->int_scratch.used, 0);
      }
    }
    delete f;
    if (HasFailure()) break;
  }
}

// The gathering pair: crossings forward from b, reversal, then read paths
// backward from the reverse of b. Each read crossing from X through b to Y
// gives one record pairing its two exits; with mask all ones the read
// pointers are all ones.
using PathTuple = std::tuple<uint32_t, uint32_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t>;

std::vector<PathTuple> gather(WindowFixture &f, oriented_id_t b, const std::vector<oriented_id_t> &window,
                              uint64_t mask) {
  component_read_list_t *list = f.context->read_list;
  component_read_list_set_fragment(list, fragment_graph_get_node_fragment(f.graph, b));
  component_read_list_fill(list, f.info);
  component_window_clear_crossings(f.context);
  component_window_clear_read_paths(f.context);
  mark_window(f.graph, window, true);
  component_get_crossings_sub(f.context, f.graph, f.info, b, list->entries, list->flags, list->count);
  component_read_list_reverse(f.context, list, f.info);
  std::vector<read_ptr_t> before;
  for (int32_t i = 0; i < list->count; i++) before.push_back(list->entries[i].read_ptr);
  component_get_read_paths(f.context, b ^ R, list, mask);
  mark_window(f.graph, window, false);
  for (int32_t i = 0; i < list->count; i++) EXPECT_EQ(list->entries[i].read_ptr, before[i]);
  std::vector<PathTuple> out;
  for (int32_t i = 0; i < f.context->read_path_count; i++) {
    const component_read_path &p = f.context->read_paths[i];
    out.emplace_back(p.prev_node, p.next_node, p.read_start_ptr, p.read_start_index, p.read_end_index, p.prev_read_ptr,
                     p.next_read_ptr);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<PathTuple> model_gather(WindowFixture &f, oriented_id_t b, const std::vector<oriented_id_t> &window,
                                    uint64_t mask) {
  Model m{f.graph, f.info, true, std::vector<bool>(f.graph->node_count, false)};
  for (oriented_id_t n : window) m.in_window[fragment_graph_node_index(n)] = true;
  const oriented_id_t frag = fragment_graph_get_node_fragment(f.graph, b);
  std::vector<PathTuple> out;
  for (uint64_t i = 0; i < read_info_get_occurrence_count(f.info, frag); i++) {
    const read_ptr_t p = read_info_get_sorted_occurrence(f.info, frag, i);
    std::vector<Crossing> fwd, bwd;
    m.walk(0, b, p, &fwd);
    if (fwd.empty()) continue;
    m.walk(0, b ^ R, read_ptr_flip(p), &bwd);
    for (const Crossing &y : bwd) {
      for (const Crossing &x : fwd) {
        const uint64_t ix = std::get<2>(x), iy = std::get<2>(y);
        uint32_t n1 = std::get<1>(x), n2 = std::get<1>(y);
        uint64_t p1 = std::get<3>(x) | mask, p2 = std::get<3>(y) | mask;
        if (n2 < n1) {
          std::swap(n1, n2);
          std::swap(p1, p2);
        }
        out.emplace_back(n1, n2, read_info_get_path_start(f.info, read_ptr_get_index(p)), std::min(ix, iy),
                         std::max(ix, iy), p1, p2);
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ComponentThreading, GatherReadPaths) {
  // Chain 0 - 1 - 2 - 3 - 4, window 1 2 3; reads across, partly across and
  // backwards.
  WindowFixture f({30, 30, 30, 30, 30}, {{0, 1, -5}, {1, 2, -5}, {2, 3, -5}, {3, 4, -5}},
                  {{{0, 1, 2, 3, 4}, {-5, -5, -5, -5}, 2},
                   {{4 | R, 3 | R, 2 | R, 1 | R, 0 | R}, {-5, -5, -5, -5}},
                   {{1, 2, 3, 4}, {-5, -5, -5}},
                   {{0, 1, 2}, {-5, -5}}});
  const std::vector<oriented_id_t> window = {1, 2, 3};
  f.set(window);
  const auto got = gather(f, 1, window, 0);
  EXPECT_EQ(got, model_gather(f, 1, window, 0));
  // Three reads cross from 0' to 4 (two forward, one backwards).
  ASSERT_EQ(got.size(), 3u);
  for (const auto &t : got) {
    EXPECT_EQ(std::get<0>(t), 4u);
    EXPECT_EQ(std::get<1>(t), 0u | R);
    EXPECT_EQ(std::get<3>(t), 0u);
    EXPECT_EQ(std::get<4>(t), 4u);
  }
  const auto masked = gather(f, 1, window, ~UINT64_C(0));
  ASSERT_EQ(masked.size(), 3u);
  for (const auto &t : masked) {
    EXPECT_EQ(std::get<5>(t), ~UINT64_C(0));
    EXPECT_EQ(std::get<6>(t), ~UINT64_C(0));
  }
  EXPECT_TRUE(f.marks_clear());
}

TEST(ComponentThreading, RandomGatherAgainstModel) {
  std::mt19937 rng(13);
  size_t records = 0;
  for (int round = 0; round < kRandomRounds; round++) {
    const RandomCase r = random_case(rng, 5);
    WindowFixture *f = build(r, 5);
    f->set(r.window);
    for (oriented_id_t b : r.window) {
      const auto got = gather(*f, b, r.window, 0);
      records += got.size();
      EXPECT_EQ(got, model_gather(*f, b, r.window, 0));
      EXPECT_EQ(f->context->u64_scratch.used, 0);
    }
    EXPECT_TRUE(f->marks_clear());
    delete f;
    if (HasFailure()) break;
  }
  // The random cases do produce crossing reads.
  EXPECT_GT(records, static_cast<size_t>(kRandomRounds));
}

}  // namespace
