// The explorer's command loop on small graphs: a scripted session compared
// with a transcript written by hand, bad ids and unreadable lines that
// change nothing, the editing commands, the files of 's', and the parsers.
#include "denovo/graph/explorer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "denovo/graph/components.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/denovo_file.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "explorer_test_util.h"
#include "test_support.h"

namespace {

using namespace graph_test;

const std::string kF2 = "AAAAAAAAAACCCCCCCCCCGGGGGGGGGG" "TTTTTTTTTT" "ACGTACGTACGTACGTACGTACGTACGTAC";
std::string f3() {
  std::string s;
  for (int i = 0; i < 16; i++) s += "ACGT";
  return s + "A";
}

// 0 (10) -> 1 (6) -> 2 (70) and 4 (5), both -> 3 (65), all at -4; node 5
// is a second node of fragment 2 without edges. Reads: 0 1 2 and 1' 0'.
struct Session : ExplorerFixture {
  Session()
      : ExplorerFixture({"ACGTACGTAC", "GTACCA", kF2, f3(), "CCAGG"},
                        {{0, 1, -4}, {1, 2, -4}, {1, 4, -4}, {2, 3, -4}, {4, 3, -4}},
                        {{{0, 1, 2}, {-4, -4}, 1}, {{R | 1, R | 0}, {-4}, 1}}) {
    fragment_graph_new_node(graph, 2);
  }
};

const char *const kError = "Unknown command. Try 'h' for help.\n";

const char *const kHelp =
    " h                                      help\n"
    " q                                      quit\n"
    " i                                      general info\n"
    " n <frag>                               print fragment sequence\n"
    " r <frag>                               print read info\n"
    " p <frag>                               print paired info\n"
    " j <frag>                               print nodes containing fragment\n"
    " f <symbols>                            find fragments with symbols\n"
    " d <node>                               describe node\n"
    " g [<node>]                             print fragment_graph for node or the whole graph\n"
    " a <max_against> <max_depth>                    apply unfold to all nodes\n"
    " b <node1,node2,...> <max_against> <max_depth>  apply unfold to window node1,node2,...\n"
    " c <node1,node2,...> <max_against> <max_depth>  show components (no changes made)\n"
    " w <node1,node2,...>                            describe window\n"
    " x                                              set other nodes\n"
    " y <node>                                       remove tips (removes all if no node)\n"
    " k <minimum_for> <weak_factor>                  remove_weak_edges\n"
    " v [node]  check if graph or node is valid\n"
    " o optimize graph from paired information\n"
    " s save graph to file in graphviz format\n"
    " e <node> set bubbles\n"
    " z <node> analyze graph\n"
    " m check if reads are part of next\n";

TEST(Explorer, GoldenSession) {
  Session s;
  const auto edges = edge_set(s.graph);
  const std::string input =
      "x\nh\ni\nn 2\nn 1'\nn 3\nf tgg\nf CcTgg1\nf acxt\nd 1\nj 2\nr 1\nt 0 3\nt 3 0\n\n"
      "d 9\nn 7'\nt 0 ffffffff\nw 1,1'\nD 1\n h\nhx\nd 1 2\nd zz\nd ffffffff\n"
      "b 1,2\nb zz 1 2\na 1\nv zz\nv ffffffff\nv\ny zz\nq\n";
  const std::string pad(65, ' ');  // five fillers of 13 spaces
  std::string expected = "\nExplore database:\n";
  expected += "> ";  // x
  expected += std::string("> ") + kHelp;
  expected += "> Fragment count:            5 (5)\n";
  // Fragment 2 has a second node, so its contig is not known.
  expected += "> 70:\nAAAAAAAAAACCCCCCCCCCGGGGGGGGGG ... ACGTACGTACGTACGTACGTACGTACGTAC\ncontig: ?\n";
  // 0 and 1 make contig 0; 1' lies on it backwards.
  expected += "> 6:\nTGGTAC\ncontig: 80000000\n";
  expected += "> 65:\n" + f3() + "\ncontig: 00000002\n";
  expected += "> " "       1'        0 /        6\n" "       4'        2 /        5\n";
  expected += "> " "       4'        0 /        5\n";
  expected += std::string("> ") + kError;
  expected +=
      "> previous edge count  1\nnext edge count      2\nreal_prev_edge_count 1\nreal_next_edge_count 2\n"
      "previous uturn       0\nnext uturn           0\nhas loop             0\n";
  expected += "> " "       2\n" "       5\n";
  // The read 1' 0' read backwards shows 1 with nothing after it and comes
  // first; it starts one step back, at element 4 (slot 9).
  expected += "> " "  1 9 3: " "   " + pad + " " "   0 " " (  -4) " "   1 \n";
  expected += "  1 1 1: " "   " + pad + " " "   0 " " (  -4) " "   1 " " (  -4) " "   2 \n";
  // Back from 3': 2' and 4' at -4, 1' at -4 + 5 - 4 = -3, 0' at -3 + 6 - 4
  // = -1. From 1 the step to 4 costs -4 + 5 - 4, to 2 -4 + 70 - 4.
  expected +=
      "> Path 00000000 00000003\n"
      "path 00000000 (10) 00000003 (65) -1\n"
      "+        00000000 00000001 00000004 00000003\n"
      "  +      -  -  -  -  -  -  00000002 00000003\n"
      "\n";
  expected += "> Path 00000003 00000000\npath 00000003 (65) 00000000 (10) -2147483648\n  -\n";
  expected += "> ";  // empty line
  expected += "> Node 9 is not in the graph.\n";
  expected += "> Fragment 7' is not in the database.\n";
  expected += "> Node ffffffff is not in the graph.\n";
  expected += "> Node 1' is given twice.\n";
  for (int i = 0; i < 5; i++) expected += std::string("> ") + kError;  // D 1, " h", hx, d 1 2, d zz
  expected += "> ";  // d ffffffff does nothing
  expected += "> syntax: b <node1,node2,...> <max_against> <max_depth>\n";
  expected += std::string("> ") + kError + "syntax: b <node1,node2,...> <max_against> <max_depth>\n";
  expected += "> syntax: a <max_against> <max_depth>\n";
  expected += std::string("> ") + kError + "syntax: v [node]\n";
  expected += "> syntax: v [node]\n";
  expected += "> contig graph is valid\n";
  expected += std::string("> ") + kError;
  expected += "> \n";
  EXPECT_EQ(s.run(input), expected);
  EXPECT_EQ(edge_set(s.graph), edges);
}

TEST(Explorer, EndOfInputEndsLikeQuit) {
  Session s;
  EXPECT_EQ(s.run("i"), "\nExplore database:\n> Fragment count:            5 (5)\n> \n");
  EXPECT_EQ(s.run(""), "\nExplore database:\n> \n");
}

TEST(Explorer, OverlongLineIsRefusedWhole) {
  Session s;
  // 1200 characters that would otherwise be read as two lines, the second
  // one starting with 'y'.
  const std::string line = "d 1" + std::string(996, ' ') + "y" + std::string(200, ' ') + "\n";
  const auto edges = edge_set(s.graph);
  EXPECT_EQ(s.run(line + "q\n"), std::string("\nExplore database:\n> ") + kError + "> \n");
  EXPECT_EQ(edge_set(s.graph), edges);
}

// 0 -> 1 -> 2 -> 3 with a tip 4 -> 1: 4 has no prev edge and is short, 0 has
// a long way into 1 (lengths 300 and 300 against 30).
struct TipGraph : ExplorerFixture {
  TipGraph()
      : ExplorerFixture({std::string(300, 'A'), std::string(40, 'C'), std::string(40, 'G'), std::string(40, 'T'),
                         std::string(30, 'A')},
                        {{0, 1, -4}, {1, 2, -4}, {2, 3, -4}, {4, 1, -4}}, {}) {}
  bool tip_present() const { return !next_list(graph, 4).empty(); }
};

TEST(Explorer, TipRemovalNeedsReadableId) {
  struct Case {
    const char *line;
    bool tip_left;
    std::string output;
  };
  const std::vector<Case> cases = {
      {"y zz\n", true, kError},                           // unreadable: nothing happens
      {"y 9\n", true, "Node 9 is not in the graph.\n"},  // out of range
      {"y 3\n", true, ""},                                // not a tip start
      {"y 4\n", false, ""},
      {"y\n", false, ""},                                 // every tip
      {"y ffffffff\n", false, ""},
  };
  for (const Case &c : cases) {
    TipGraph t;
    ASSERT_TRUE(t.tip_present());
    EXPECT_EQ(t.run(std::string(c.line) + "q\n"), "\nExplore database:\n> " + c.output + "> \n") << c.line;
    EXPECT_EQ(t.tip_present(), c.tip_left) << c.line;
    EXPECT_TRUE(fragment_graph_check_links(t.graph, kOrientedIdNone));
  }
}

// 0 -> 2 carried by 10 reads, 1 -> 2 by none: the automatic threshold of
// 'k' drops 1 -> 2.
struct WeakGraph : ExplorerFixture {
  WeakGraph()
      : ExplorerFixture({std::string(40, 'A'), std::string(40, 'C'), std::string(40, 'G')},
                        {{0, 2, -4}, {1, 2, -4}}, {{{0, 2}, {-4}, 10}}) {}
};

TEST(Explorer, WeakEdgesDefaultsAndBadFactor) {
  {
    WeakGraph w;
    EXPECT_EQ(w.run("k\n"), "\nExplore database:\n> > \n");
    EXPECT_EQ(edge_set(w.graph), (std::vector<Edge>{canonical(0, 2, -4)}));
  }
  {
    WeakGraph w;
    const auto edges = edge_set(w.graph);
    EXPECT_EQ(w.run("k 0 0\n"), "\nExplore database:\n> syntax: k <minimum_for> <weak_factor>\n> \n");
    EXPECT_EQ(edge_set(w.graph), edges);
  }
}

// The unfolding graph: X = 4 between A = 0, C = 1 and B = 2, D = 3, E = 5;
// reads A X B (5), C X D (6), C X E (2). Splitting X needs no decision; the
// copy that C's reads share reaches the decision function with C-D and C-E.
struct UnfoldGraph : ExplorerFixture {
  UnfoldGraph()
      : ExplorerFixture(std::vector<std::string>(6, std::string(30, 'A')),
                        {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}, {4, 5, -5}},
                        {{{0, 4, 2}, {-5, -5}, 5}, {{1, 4, 3}, {-5, -5}, 6}, {{1, 4, 5}, {-5, -5}, 2}}, 21) {}
};

int g_decision_calls = 0;
int counting_decision(component_window_t *, component_list_t *) {
  g_decision_calls++;
  return 0;
}

TEST(Explorer, UnfoldAllNodesEnds) {
  {
    // A positive max_against is a read-count threshold: C-E (2 reads) goes,
    // and the next round finds nothing to change.
    UnfoldGraph u;
    g_decision_calls = 0;
    const std::string out = u.run("a 3 10\n", counting_decision);
    EXPECT_EQ(out, "\nExplore database:\n> changed 2 nodes\nno changes made\n> \n");
    EXPECT_EQ(g_decision_calls, 0);
    EXPECT_TRUE(next_list(u.graph, 5).empty());
    EXPECT_TRUE(prev_list(u.graph, 5).empty());
  }
  {
    // 0 never claims a change: X is split, C-E stays.
    UnfoldGraph u;
    const std::string out = u.run("a 0 10\n", counting_decision);
    EXPECT_EQ(out, "\nExplore database:\n> changed 1 nodes\nno changes made\n> \n");
    EXPECT_EQ(prev_list(u.graph, 5).size(), 1u);
  }
  {
    // A negative max_against hands the decision to the caller's function.
    UnfoldGraph u;
    g_decision_calls = 0;
    u.run("a -1 10\n", counting_decision);
    EXPECT_GT(g_decision_calls, 0);
    EXPECT_EQ(prev_list(u.graph, 5).size(), 1u);
  }
}

TEST(Explorer, WindowCommandsCheckTheirNodes) {
  UnfoldGraph u;
  const auto edges = edge_set(u.graph);
  const std::string out = u.run("b 4,9 0 1\nc 4,4' 0 1\nu 4,zz\nm 4,\nw 7fffffff\nb 4 1\nc 4,1 x 1\n");
  EXPECT_EQ(out, std::string("\nExplore database:\n") + "> Node 9 is not in the graph.\n" +
                     "> Node 4' is given twice.\n" + "> " + kError + "> " + kError +
                     "> Node 7fffffff is not in the graph.\n" +
                     "> syntax: b <node1,node2,...> <max_against> <max_depth>\n" +
                     "> syntax: c <node1,node2,...> <max_against> <max_depth>\n" + "> \n");
  EXPECT_EQ(edge_set(u.graph), edges);
}

TEST(Explorer, BuildWindowAndShowComponents) {
  UnfoldGraph u;
  const std::string out = u.run("c 4 0 1\nb 4 0 1\n");
  // X alone splits into two components (A-B, and C with D and E).
  EXPECT_NE(out.find("1 changes\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Getting more info"), std::string::npos) << out;
  EXPECT_TRUE(fragment_graph_is_disabled(u.graph, 4));

  UnfoldGraph v;
  const std::string built = v.run("u 4\n");
  EXPECT_TRUE(fragment_graph_is_disabled(v.graph, 4)) << built;
  EXPECT_TRUE(fragment_graph_check_links(v.graph, kOrientedIdNone));
}

// P = 0 after a = 2 and b = 3, Q = 1 after P and before c = 4 and d = 5;
// reads a P Q c and b P Q d: P alone shows one component of two path
// groups, whose reads go on past the branching at Q.
TEST(Explorer, SingleComponentGetsMoreInfo) {
  ExplorerFixture f(std::vector<std::string>(6, std::string(30, 'A')),
                    {{2, 0, -5}, {3, 0, -5}, {0, 1, -5}, {1, 4, -5}, {1, 5, -5}},
                    {{{2, 0, 1, 4}, {-5, -5, -5}, 4}, {{3, 0, 1, 5}, {-5, -5, -5}, 4}}, 21);
  const auto edges = edge_set(f.graph);
  const std::string out = f.run("c 0 0 1\n");
  EXPECT_EQ(out.rfind("\nExplore database:\n> Getting more info\ncomponents\n", 0), 0u) << out;
  // Q (1) is the node to grow the window by.
  EXPECT_NE(out.find("expandable nodes\n  group size 1: 1\n"), std::string::npos) << out;
  EXPECT_EQ(edge_set(f.graph), edges);  // showing changes nothing
}

struct PairedCall {
  int calls = 0;
  int32_t bubble_size = 0, scaffolding = 0;
  bool null_meter = false, null_joins = false;
} g_paired;

contig_info_t *fake_paired_optimize(fragment_graph_t *graph, read_table_t *, int32_t bubble_size, int32_t scaffolding,
                                    progress_meter_t *meter, array_list_t **joins) {
  g_paired = {g_paired.calls + 1, bubble_size, scaffolding, meter == nullptr, joins == nullptr};
  // The explorer owns and frees the result (the leak check sees it).
  return contig_info_build(graph, 1, 1);
}

TEST(Explorer, PairedOptimisationThroughTheCallersFunction) {
  Session s;
  g_paired = {};
  EXPECT_EQ(s.run("o\n", nullptr, 25, nullptr, fake_paired_optimize), "\nExplore database:\n> > \n");
  EXPECT_EQ(g_paired.calls, 1);
  EXPECT_EQ(g_paired.bubble_size, 25);
  EXPECT_EQ(g_paired.scaffolding, 1);
  EXPECT_TRUE(g_paired.null_meter);
  EXPECT_TRUE(g_paired.null_joins);
  EXPECT_EQ(s.run("o\n"), "\nExplore database:\n> Paired optimisation is not available.\n> \n");
  EXPECT_EQ(s.run("o x\n", nullptr, 25, nullptr, fake_paired_optimize), std::string("\nExplore database:\n> ") +
                                                                              kError + "> \n");
  EXPECT_EQ(g_paired.calls, 1);
}

// Bubble 0 -> 1, 2 -> 3 with branches of 30 bases.
struct BubbleGraph : ExplorerFixture {
  BubbleGraph()
      : ExplorerFixture({std::string(40, 'A'), std::string(30, 'C'), std::string(30, 'G'), std::string(40, 'T')},
                        {{0, 1, -4}, {0, 2, -4}, {1, 3, -4}, {2, 3, -4}}, {{{0, 1, 3}, {-4, -4}, 3}}) {}
};

TEST(Explorer, SetBubbles) {
  struct Case {
    const char *line;
    bool marked;
  };
  for (const Case &c : std::vector<Case>{{"e\n", true}, {"e 100\n", true}, {"e 0\n", false}, {"e -5\n", false},
                                         {"e 1\n", false}}) {
    BubbleGraph b;
    b.run(c.line, nullptr, 100);
    EXPECT_EQ(fragment_graph_is_bubble_start(b.graph, 0) != 0, c.marked) << c.line;
    EXPECT_EQ(fragment_graph_is_bubble_node(b.graph, 1) != 0, c.marked) << c.line;
  }
  BubbleGraph b;
  EXPECT_EQ(b.run("e x\n", nullptr, 100), std::string("\nExplore database:\n> ") + kError + "> \n");
  EXPECT_FALSE(fragment_graph_is_bubble_start(b.graph, 0));
}

// Runs the loop with the current directory in a scratch directory.
struct InScratch {
  ryx_test::ScratchDir dir;
  std::string old;
  InScratch() {
    char buf[4096];
    old = getcwd(buf, sizeof(buf));
    EXPECT_EQ(chdir(dir.path().c_str()), 0);
  }
  ~InScratch() { EXPECT_EQ(chdir(old.c_str()), 0); }
};

TEST(Explorer, GraphvizFiles) {
  Session s;
  {
    InScratch at;
    EXPECT_EQ(s.run("s\n"), "\nExplore database:\n> Full graph saved to graph.dot\n> \n");
    const std::string dot = ryx_test::read_file(at.dir.file("graph.dot"));
    EXPECT_NE(dot.find("\"00000000\""), std::string::npos) << dot;
    EXPECT_NE(dot.find("\"00000003\""), std::string::npos) << dot;
    EXPECT_FALSE(ryx_test::file_exists(at.dir.file("contigs.txt")));
  }
  {
    InScratch at;
    EXPECT_EQ(s.run("s 1' 2\n"), "\nExplore database:\n> Partial graph for node 80000001 saved to graph.dot\n> \n");
    EXPECT_TRUE(ryx_test::file_exists(at.dir.file("graph.dot")));
  }
  {
    InScratch at;
    EXPECT_EQ(s.run("s 9 2\ns 1\ns x\n"), std::string("\nExplore database:\n> Node 9 is not in the graph.\n> ") +
                                              kError + "> " + kError + "> \n");
    EXPECT_EQ(ryx_test::dir_names(at.dir.path()), std::vector<std::string>{});
  }
  {
    // Contigs without a second node: 0-1, 2, 3, 4, 5 (5 carries fragment 2).
    InScratch at;
    EXPECT_EQ(s.run("x\nsc\n"), "\nExplore database:\n> > Full contig graph saved to graph.dot, start and end nodes "
                                "of contigs saved to contigs.txt\n> \n");
    EXPECT_TRUE(ryx_test::file_exists(at.dir.file("graph.dot")));
    EXPECT_EQ(ryx_test::read_file(at.dir.file("contigs.txt")),
              "00000000: 00000000 - 00000001\n"
              "00000001: 00000002 - 00000002\n"
              "00000002: 00000003 - 00000003\n"
              "00000003: 00000004 - 00000004\n"
              "00000004: 00000005 - 00000005 (00000002 - 00000002)\n");
  }
}

TEST(Explorer, ContigInfoFollowsEdits) {
  // The contig info made for 'n' is made again after an edit: once the tip
  // is gone, 1's contig starts at 0 and runs to 3.
  TipGraph t;
  const std::string out = t.run("x\nn 0\ny 4\nn 3\n");
  EXPECT_NE(out.find("contig: 00000000\n> > 40:"), std::string::npos) << out;
  EXPECT_NE(out.find("contig: 00000000\n> \n"), std::string::npos) << out;
}

TEST(Explorer, CallersContigInfoIsUsedUntilAnEdit) {
  TipGraph t;
  t.run("x\n");
  // A contig info whose node map claims node 3 for contig 7'.
  contig_info_t *given = contig_info_build(t.graph, 1, 1);
  given->node_map[3] = R | 7;
  const std::string out = t.run("n 3\ny 4\nn 3\n", nullptr, 10, given);
  EXPECT_NE(out.find("contig: 80000007\n"), std::string::npos) << out;
  EXPECT_NE(out.find("contig: 00000000\n"), std::string::npos) << out;
  contig_info_free(given);
}

TEST(Explorer, ReadRowsOfNode) {
  Session s;
  // Node 1 lies on both reads. Each row shows how the read continues from
  // the node on both sides: 1 when the rest is in the graph, plus 2 when it
  // leaves a branching node (1 branches to 2 and 4) past an unmarked
  // successor.
  const std::string pad(65, ' ');
  EXPECT_EQ(s.run("l 1\nl 3\nl zz\n"),
            "\nExplore database:\n"
            "> " "  1 9 1 <-> 1: " "   " + pad + " " "   0 " " (  -4) " "   1 \n"
            "  1 1 1 <-> 3: " "   " + pad + " " "   0 " " (  -4) " "   1 " " (  -4) " "   2 \n"
            "read count 2\n"
            "> read count 0\n" +
                std::string("> ") + kError + "> \n");
}

TEST(Explorer, Parsers) {
  struct IdCase {
    const char *text;
    int status;
    oriented_id_t id;
  };
  for (const IdCase &c : std::vector<IdCase>{{" 1a", 0, 0x1a},
                                             {"1A'  \n", 0, R | 0x1a},
                                             {"\t7fffffff'", 0, 0xffffffffu},
                                             {" ffffffff", 0, 0xffffffffu},
                                             {" 100000000", -1, 0},
                                             {" 1a 2", -1, 0},
                                             {" 1a''", -1, 0},
                                             {" g", -1, 0},
                                             {"", -1, 0}}) {
    oriented_id_t id = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(explorer_parse_id(c.text, &id), c.status) << c.text;
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.status == 0) {
      EXPECT_EQ(id, c.id) << c.text;
      EXPECT_EQ(out, "");
    } else {
      EXPECT_EQ(out, kError) << c.text;
    }
  }
  int32_t a = 0, b = 0;
  EXPECT_EQ(explorer_parse_two_ints(" -3 12 ", &a, &b), 0);
  EXPECT_EQ(a, -3);
  EXPECT_EQ(b, 12);
  EXPECT_EQ(explorer_parse_two_ints(" 3", &a, &b), -1);
  EXPECT_EQ(explorer_parse_two_ints(" 3 2147483648", &a, &b), -1);
  EXPECT_EQ(explorer_parse_int(" 42"), 42);
  EXPECT_EQ(explorer_parse_int(" 4x"), -1);
  oriented_id_t x = 0, y = 0, z = 0;
  EXPECT_EQ(explorer_parse_three_ids(" 1 2' 3", &x, &y, &z), 0);
  EXPECT_EQ(y, R | 2);
  EXPECT_EQ(explorer_parse_three_ids(" 1 2' 3 4", &x, &y, &z), -1);
  int32_t n = 0;
  EXPECT_EQ(explorer_parse_id_and_int(" 5' 9", &x, &n), 0);
  EXPECT_EQ(x, R | 5);
  EXPECT_EQ(n, 9);

  oriented_id_t *ids = nullptr;
  int32_t count = 0;
  ASSERT_EQ(explorer_parse_node_list(" 1,2',a", &ids, &count), 0);
  EXPECT_EQ(std::vector<oriented_id_t>(ids, ids + count), (std::vector<oriented_id_t>{1, R | 2, 0xa}));
  ryx_free(ids);
  EXPECT_EQ(explorer_parse_node_list(" 1,", &ids, &count), -1);
  ASSERT_EQ(explorer_parse_node_list_and_two_ints(" 3,4 -1 6", &ids, &count, &a, &b), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, 6);
  ryx_free(ids);
  testing::internal::CaptureStdout();
  EXPECT_EQ(explorer_parse_node_list_and_two_ints(" 3,4 -1", &ids, &count, &a, &b), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // silent without its numbers
  testing::internal::CaptureStdout();
  EXPECT_EQ(explorer_parse_node_list_and_two_ints(" ,3", &ids, &count, &a, &b), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kError);
}

TEST(Explorer, PrintId) {
  struct Case {
    oriented_id_t id;
    int32_t width;
    const char *text;
  };
  for (const Case &c : std::vector<Case>{{0x1a, 2, "      1a "},
                                         {R | 0x1a, 1, "  1a'"},
                                         {0x1a, 0, "1a "},
                                         {kOrientedIdNone, 1, "  [none]"},
                                         {kOrientedIdNone, 0, "[none]"}}) {
    testing::internal::CaptureStdout();
    explorer_print_id(c.id, c.width);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.text);
  }
}

}  // namespace

namespace {

using namespace graph_test;

// The dialogue end to end: a graph saved as a stage file, loaded by a
// program of its own and driven through a pipe.
TEST(ExplorerProgram, SessionOnSavedGraph) {
  ryx_test::ScratchDir dir;
  const std::string stage = dir.file("graph.fof");
  {
    Session s;
    fragment_graph_set_other_nodes(s.graph);
    ASSERT_EQ(denovo_file_write(stage.c_str(), 2, s.db, s.table, s.graph, nullptr), 1);
  }
  const std::string program = std::string(RYX_BINARY_DIR) + "/tests/explorer_stage_session";
  const ryx_test::RunResult r = ryx_test::run_program({program, stage}, "i\nn 1'\nj 2\nd 9\nZ\nt 0 3\ny\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string("\nExplore database:\n") +
                       "> Fragment count:            5 (5)\n"
                       "> 6:\nTGGTAC\ncontig: 80000000\n"
                       "> " "       2\n" "       5\n"
                       "> Node 9 is not in the graph.\n"
                       "> " + kError +
                       "> Path 00000000 00000003\n"
                       "path 00000000 (10) 00000003 (65) -1\n"
                       "+        00000000 00000001 00000004 00000003\n"
                       "  +      -  -  -  -  -  -  00000002 00000003\n"
                       "\n"
                       "> > \n");

  const ryx_test::RunResult missing = ryx_test::run_program({program, dir.file("none.fof")}, "q\n");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("Unable to open file"), std::string::npos) << missing.err;
}

}  // namespace

namespace {

using namespace graph_test;

// What a function prints on standard output.
std::string printed(const std::function<void()> &fn) {
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Commands that print what another module's operation prints: the session
// output is that operation's output between the prompts.
TEST(Explorer, CommandsPrintTheirOperation) {
  struct Case {
    const char *line;
    std::function<void(Session &)> direct;
  };
  const std::vector<Case> cases = {
      {"g\n", [](Session &s) { fragment_graph_print(s.graph, kOrientedIdNone); }},
      {"g 1'\n", [](Session &s) { fragment_graph_print(s.graph, R | 1); }},
      {"z 2\n", [](Session &s) { fragment_graph_print_neighbour_average(s.graph, 2); }},
      {"w 1,2\n",
       [](Session &s) {
         component_window_t *w = component_window_new(s.graph, s.table->read_info, 10);
         const oriented_id_t nodes[] = {1, 2};
         component_window_set_nodes(w, nodes, 2);
         component_window_print(w);
         component_window_free(w);
       }},
      {"m 1\n",
       [](Session &s) {
         component_window_t *w = component_window_new(s.graph, s.table->read_info, 10);
         const oriented_id_t nodes[] = {1};
         component_window_set_nodes(w, nodes, 1);
         component_list_print(component_get_components(w, 0));
         component_window_free(w);
       }},
  };
  for (const Case &c : cases) {
    Session s;
    const std::string expected = printed([&] { c.direct(s); });
    ASSERT_FALSE(expected.empty()) << c.line;
    EXPECT_EQ(s.run(c.line), "\nExplore database:\n> " + expected + "> \n") << c.line;
  }
}

TEST(Explorer, PairedReadsOfFragment) {
  Session s;
  EXPECT_EQ(s.run("p 0\n"), "\nExplore database:\n> No read pair information loaded.\n> \n");
  // Pairs 0 - 3 and 4' - 0.
  read_pair_info_t *pairs = read_pair_info_new(5);
  read_pair_info_add(pairs, kReadPtrNone, 0, 2, kReadPtrNone, 3, 5);
  read_pair_info_add(pairs, kReadPtrNone, R | 4, 1, kReadPtrNone, 0, 7);
  read_pair_info_sort(pairs);
  s.table->read_pair_info = pairs;
  uint64_t n = 0;
  const std::string first = printed([&] {
    read_pair_info_print_pair(pairs, read_pair_info_find_by_fragment1(pairs, 0, &n), s.table->read_info);
  });
  const std::string second = printed([&] {
    read_pair_info_print_pair(pairs, read_pair_info_find_by_fragment2(pairs, 0, &n), s.table->read_info);
  });
  ASSERT_NE(first, second);
  EXPECT_EQ(s.run("p 0\np 3\n"),
            "\nExplore database:\n> " + first + "---\n" + second + "> ---\n" + printed([&] {
              read_pair_info_print_pair(pairs, read_pair_info_find_by_fragment2(pairs, 3, &n), s.table->read_info);
            }) + "> \n");
}

// The marks a stage leaves on the graph for the contig writer: each node's
// flag bits among marks 1 to 6.
std::vector<uint16_t> marks_of(const fragment_graph_t *graph) {
  std::vector<uint16_t> marks;
  for (int32_t i = 0; i < graph->node_count; i++) marks.push_back(graph->nodes[i].flags & kGraphScratchMarks);
  return marks;
}

// The window of node 2 in the session graph: one edge in from 1, one out
// to 3.
const char *const kWindowOf2 =
    "window information, nodes 2\n"
    "  interior node count        1\n"
    "  interior edge count        0\n"
    "  border edge count          2\n"
    "  exterior border node count 2\n"
    "  exterior border nodes      3 80000001\n"
    "  interior border node count 1\n"
    "  interior border nodes      2\n";

// A graph as the paired stage hands it over: scaffold ends (marks 4 and 5),
// joined nodes (mark 2) and an end whose alternatives were excluded (mark 1).
// The commands see it without them: the mark check passes, and a window
// beside the node with mark 1 is described as it stands (that mark would
// make node 3 count as a window node, and the window info end the process
// over an odd edge count). The marks are back when the dialogue ends.
TEST(Explorer, MarksOfTheStageAreKeptOffTheCommands) {
  Session s;
  fragment_graph_set_mark1(s.graph, 3);
  fragment_graph_set_mark2(s.graph, 0);
  fragment_graph_set_mark4(s.graph, 2);
  fragment_graph_set_mark5(s.graph, R | 4);
  const std::vector<uint16_t> before = marks_of(s.graph);
  EXPECT_EQ(s.run("v\nw 2\nv\nq\n"), std::string("\nExplore database:\n> contig graph is valid\n> ") + kWindowOf2 +
                                            "> contig graph is valid\n> \n");
  EXPECT_EQ(marks_of(s.graph), before);
  EXPECT_EQ(fragment_graph_check_marks(s.graph, kOrientedIdNone), 0);
}

// A node the session disabled gets no mark back; the others keep theirs.
TEST(Explorer, MarksStayOffNodesTheSessionRemoved) {
  TipGraph t;
  fragment_graph_set_mark4(t.graph, 4);
  fragment_graph_set_mark2(t.graph, 0);
  EXPECT_EQ(t.run("y 4\nq\n"), "\nExplore database:\n> > \n");
  ASSERT_FALSE(t.tip_present());
  ASSERT_TRUE(fragment_graph_is_disabled(t.graph, 4));
  EXPECT_EQ(fragment_graph_get_mark4(t.graph, 4), 0);
  EXPECT_EQ(fragment_graph_get_mark2(t.graph, 0), 1);
}

// The paired optimisation of 'o' starts from a graph without marks and
// leaves its own: those are kept off the later commands and are the ones
// the graph carries at the end.
contig_info_t *marking_paired_optimize(fragment_graph_t *graph, read_table_t *, int32_t, int32_t,
                                       progress_meter_t *, array_list_t **) {
  fragment_graph_clear_all_flags(graph);
  fragment_graph_set_mark4(graph, 0);
  fragment_graph_set_mark1(graph, 3);
  return contig_info_build(graph, 1, 1);
}

TEST(Explorer, PairedOptimisationMarksReplaceTheStages) {
  Session s;
  fragment_graph_set_mark2(s.graph, 2);
  EXPECT_EQ(s.run("o\nv\nw 2\nq\n", nullptr, 10, nullptr, marking_paired_optimize),
            std::string("\nExplore database:\n> > contig graph is valid\n> ") + kWindowOf2 + "> \n");
  std::vector<uint16_t> want(static_cast<size_t>(s.graph->node_count), 0);
  want[0] = kGraphMark4;
  want[3] = kGraphMark1;
  EXPECT_EQ(marks_of(s.graph), want);
}

}  // namespace
