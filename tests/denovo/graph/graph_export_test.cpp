// Graph export: the dot, GEXF and text files against hand-written golden
// files, a strict parse of every dot file (record ports included), an XML
// parse of every GEXF file, the partial graph's reach and the write
// failures.
#include "denovo/graph/graph_export.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "denovo/reads/read_pair_info.h"
#include "graph_test_util.h"
#include "test_support.h"

namespace {

using namespace graph_test;
using ryx_test::read_file;
using ryx_test::ScratchDir;

std::string golden(const std::string &name) {
  return read_file(std::string(RYX_TEST_DATA_DIR) + "/denovo/graph/" + name);
}

// A strict reader of the dot subset the writers use: an undirected graph of
// attribute statements, node statements and "--" edges between node ids
// with optional ports, attribute lists of ID=ID pairs. Record labels are
// split into fields and their ports collected; every port an edge names
// must exist on its node. Returns "" when the text is accepted, else what
// is wrong.
class DotChecker {
 public:
  explicit DotChecker(const std::string &text) : s_(text) {}

  std::string check() {
    try {
      expect_keyword("graph");
      std::string name;
      if (peek_id()) name = id();
      expect("{");
      while (!at("}")) statement();
      expect("}");
      skip_space();
      if (pos_ != s_.size()) fail("text after the closing brace");
      for (const auto &[node, port] : used_ports_) {
        auto it = ports_.find(node);
        if (it == ports_.end()) fail("edge port on undeclared node " + node);
        if (!it->second.count(port)) fail("node " + node + " has no port " + port);
      }
      if (edges_ == 0) fail("no edges");
    } catch (const std::string &problem) {
      return problem;
    }
    return "";
  }
  int edges() const { return edges_; }
  int nodes() const { return static_cast<int>(ports_.size()); }

 private:
  [[noreturn]] void fail(const std::string &what) { throw what + " at offset " + std::to_string(pos_); }
  void skip_space() {
    while (pos_ < s_.size() && isspace(static_cast<unsigned char>(s_[pos_]))) pos_++;
  }
  bool at(const std::string &token) {
    skip_space();
    return s_.compare(pos_, token.size(), token) == 0;
  }
  void expect(const std::string &token) {
    if (!at(token)) fail("expected " + token);
    pos_ += token.size();
  }
  void expect_keyword(const std::string &word) {
    skip_space();
    if (!peek_id() || id() != word) fail("expected " + word);
  }
  bool peek_id() {
    skip_space();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    return c == '"' || isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  }
  std::string id() {
    skip_space();
    std::string out;
    if (s_[pos_] == '"') {
      pos_++;
      for (;;) {
        if (pos_ >= s_.size()) fail("unterminated string");
        const char c = s_[pos_++];
        if (c == '"') break;
        if (c == '\\' && pos_ < s_.size() && s_[pos_] == '"') {
          out.push_back('"');
          pos_++;
          continue;
        }
        if (c == '\n') fail("line end in a string");
        out.push_back(c);
      }
      return out;
    }
    const char c = s_[pos_];
    if (isalpha(static_cast<unsigned char>(c)) || c == '_') {
      while (pos_ < s_.size() && (isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) out.push_back(s_[pos_++]);
      return out;
    }
    // A numeral: [-]digits[.digits]
    if (c == '-') out.push_back(s_[pos_++]);
    bool digits = false;
    while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) out.push_back(s_[pos_++]), digits = true;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      out.push_back(s_[pos_++]);
      while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) out.push_back(s_[pos_++]), digits = true;
    }
    if (!digits) fail("bad identifier");
    if (pos_ < s_.size() && (isalpha(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) fail("numeral runs into a name");
    return out;
  }
  std::map<std::string, std::string> attributes() {
    std::map<std::string, std::string> out;
    expect("[");
    while (!at("]")) {
      const std::string key = id();
      expect("=");
      if (!peek_id()) fail("attribute " + key + " without a value");
      out[key] = id();
      if (at(",") || at(";")) pos_++;
    }
    expect("]");
    return out;
  }
  // Ports of a record label: fields split by '|', a field's port in <...>;
  // a backslash escapes the next character.
  std::set<std::string> record_ports(const std::string &label) {
    std::set<std::string> ports;
    int depth = 0;
    for (size_t i = 0; i < label.size(); i++) {
      const char c = label[i];
      if (c == '\\') {
        if (++i >= label.size()) fail("label ends in a backslash");
      } else if (c == '<') {
        const size_t close = label.find('>', i);
        if (close == std::string::npos) fail("unclosed port in " + label);
        const std::string port = label.substr(i + 1, close - i - 1);
        if (port.find('<') != std::string::npos || port.empty()) fail("bad port in " + label);
        if (!ports.insert(port).second) fail("port twice in " + label);
        i = close;
      } else if (c == '>') {
        fail("stray > in " + label);
      } else if (c == '{') {
        depth++;
      } else if (c == '}') {
        if (--depth < 0) fail("unbalanced braces in " + label);
      }
    }
    if (depth != 0) fail("unbalanced braces in " + label);
    return ports;
  }
  std::pair<std::string, std::string> node_id() {
    const std::string name = id();
    std::string port;
    if (at(":")) {
      pos_++;
      port = id();
    }
    return {name, port};
  }
  void statement() {
    skip_space();
    const size_t start = pos_;
    if (peek_id()) {
      const std::string word = id();
      if (word == "graph" || word == "node" || word == "edge") {
        attributes();
        if (at(";")) pos_++;
        return;
      }
      pos_ = start;
    }
    const auto first = node_id();
    if (at("->")) fail("directed edge in an undirected graph");
    if (at("--")) {
      pos_ += 2;
      const auto second = node_id();
      if (!first.second.empty()) used_ports_.emplace(first.first, first.second);
      if (!second.second.empty()) used_ports_.emplace(second.first, second.second);
      edges_++;
      if (at("[")) attributes();
    } else {
      if (!first.second.empty()) fail("port on a node statement");
      const auto attrs = attributes();
      auto it = attrs.find("label");
      if (it == attrs.end()) fail("node without label");
      if (ports_.count(first.first)) fail("node " + first.first + " declared twice");
      ports_[first.first] = record_ports(it->second);
    }
    if (at(";")) pos_++;
  }

  std::string s_;
  size_t pos_ = 0;
  std::map<std::string, std::set<std::string>> ports_;
  std::set<std::pair<std::string, std::string>> used_ports_;
  int edges_ = 0;
};

// The number of files an XML parser rejects as not well-formed (one parser
// start for all of them).
int xml_rejected(const std::vector<std::string> &paths) {
  std::string command =
      "python3 -c 'import sys, xml.dom.minidom\n"
      "bad = 0\n"
      "for p in sys.argv[1:]:\n"
      "  try: xml.dom.minidom.parse(p)\n"
      "  except Exception: bad += 1\n"
      "sys.exit(bad)'";
  for (const std::string &p : paths) command += " '" + p + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Six node slots over four fragments: 0 -> 1 (-19), 0 -> reverse(2) (-10),
// a self loop at 3 (-5), node 4 carrying fragment 1 after 2 (+3), node 5
// disabled; mark 1 on node 1; read paths giving supports 2, 1, 0 and 1;
// read pairs 0-2 three times, reverse(1)-3 once and 3 with a path end.
struct SixNodes {
  seq_db_t *db;
  fragment_graph_t *graph;
  read_table_t table{};
  SixNodes() {
    db = fragments_of_letters({"ACGT" "ACGT" "ACGT" "ACGT" "ACGT" "ACGT" "ACGT" "AC", "GGGGGTTTTTCCCCCAAAAAGGGGN",
                               "ACGTACGTACACGTACGTACACGTACGTACACGTACGTACACGTACGTACACGTACGTACACGTACGTACTTTTT",
                               "CATCATCATCATCATCATCATF"});
    graph = fragment_graph_new(4, 20);
    graph->fragments = db;
    fragment_graph_add_edge(graph, 0, 1, -19);
    fragment_graph_add_edge(graph, 0, 2 | R, -10);
    fragment_graph_add_edge(graph, 3, 3, -5);
    EXPECT_EQ(fragment_graph_new_node(graph, 1), 4u);
    EXPECT_EQ(fragment_graph_new_node(graph, 0), 5u);
    fragment_graph_disable_node(graph, 5);
    fragment_graph_add_edge(graph, 2, 4, 3);
    fragment_graph_set_mark1(graph, 1);
    table.read_info = read_paths(4, {{{0, 1}, {-19}, 2}, {{0, 2 | R}, {-10}, 1}, {{2, 1}, {3}, 1}});
    table.read_pair_info = read_pair_info_new(4);
    for (int i = 0; i < 3; i++) read_pair_info_add(table.read_pair_info, kReadPtrNone, 0, 0, kReadPtrNone, 2, 0);
    read_pair_info_add(table.read_pair_info, kReadPtrNone, 1 | R, 0, kReadPtrNone, 3, 0);
    // End 2 on the second element of the first path, which starts on 0.
    read_pair_info_add(table.read_pair_info, kReadPtrNone, 3, 0, 1, kOrientedIdNone, 0);
    read_pair_info_sort(table.read_pair_info);
  }
  ~SixNodes() {
    fragment_graph_free(graph);
    read_info_free(table.read_info);
    read_pair_info_free(table.read_pair_info);
    seq_db_free_records(db);
  }
};

// Fragments of 600, 30, 40, 20, 499 and 500 bases: 0 -> 1, 0 -> reverse(2)
// and reverse(3) -> 1, so that every node is a contig of its own.
struct BranchingContigs : HandGraph {
  read_table_t table{};
  contig_info_t *contigs;
  BranchingContigs()
      : HandGraph(fragments_of_lengths({600, 30, 40, 20, 499, 500}), {{0, 1, -10}, {0, 2 | R, -10}, {3 | R, 1, -5}},
                  20) {
    table.read_info = read_paths(6, {{{0, 1}, {-10}, 2}, {{0, 2 | R}, {-10}, 1}});
    contigs = contig_info_build(graph, 1, 1);
  }
  ~BranchingContigs() {
    contig_info_free(contigs);
    read_info_free(table.read_info);
  }
};

// The dot reader rejects the faults a writer could make.
TEST(GraphExport, DotCheckerRejectsFaults) {
  const std::string pre = "graph G {\n\tgraph [K=1]\tnode[shape=Mrecord,height=0.2];\n";
  const std::string node_a = "\t\"a\" [label=\"<-a> -| a |<+a> +\"]\n";
  const std::string node_b = "\t\"b\" [label=\"<-b> \\>-| b = |<+b> +\\<\"]\n";
  const std::string good_edge = "\t\"a\":\"+a\" -- \"b\":\"-b\" [weight=100, penwidth=1.5, label=2];\n";
  EXPECT_EQ(DotChecker(pre + node_a + node_b + good_edge + "}\n").check(), "");
  const std::pair<const char *, std::string> bad[] = {
      {"unknown port", pre + node_a + node_b + "\t\"a\":\"+x\" -- \"b\":\"-b\";\n}\n"},
      {"directed edge", pre + node_a + node_b + "\t\"a\" -> \"b\";\n}\n"},
      {"unclosed brace", pre + node_a + node_b + good_edge},
      {"stray angle bracket", pre + "\t\"a\" [label=\"<-a> > |<+a> +\"]\n" + node_b + good_edge + "}\n"},
      {"unterminated string", pre + node_a + node_b + "\t\"a\":\"+a -- \"b\":\"-b\";\n}\n"},
      {"attribute without value", pre + node_a + node_b + "\t\"a\" -- \"b\" [label=];\n}\n"},
      {"node declared twice", pre + node_a + node_a + node_b + good_edge + "}\n"},
  };
  for (const auto &[name, text] : bad) EXPECT_NE(DotChecker(text).check(), "") << name;
}

TEST(GraphExport, FullDotGolden) {
  ScratchDir dir;
  SixNodes s;
  const std::string path = dir.file("graph.dot");
  fragment_graph_write_dot(s.graph, &s.table, path.c_str());
  const std::string text = read_file(path);
  EXPECT_EQ(text, golden("six_nodes_read_pairs.dot"));
  DotChecker checker(text);
  EXPECT_EQ(checker.check(), "");
  EXPECT_EQ(checker.nodes(), 5);
  // Without read pairs and reads: no grey lines, supports 0.
  read_table_t bare{};
  fragment_graph_write_dot(s.graph, &bare, path.c_str());
  const std::string plain = read_file(path);
  EXPECT_EQ(plain.find("gray"), std::string::npos);
  EXPECT_NE(plain.find("\"00000000\":\"+00000000\" -- \"00000001\":\"-00000001\" [weight=100, penwidth=1.5, label=0];"),
            std::string::npos);
  EXPECT_EQ(DotChecker(plain).check(), "");
}

TEST(GraphExport, PartialDot) {
  ScratchDir dir;
  SixNodes s;
  s.graph->nodes[0].flags |= kGraphBubbleNodeBit;
  s.graph->nodes[2].flags |= kGraphBubbleStartBit;  // the bubble end of reverse(2)
  const std::string path = dir.file("partial.dot");
  fragment_graph_write_partial_dot(s.graph, &s.table, path.c_str(), 0, 1);
  const std::string text = read_file(path);
  EXPECT_EQ(text, golden("six_nodes_partial_depth1.dot"));
  EXPECT_EQ(DotChecker(text).check(), "");

  // Depth 2 adds the neighbours' neighbours on both of their sides: 1 and
  // reverse(1) lead nowhere new (reverse(1) only back to reverse(0), where
  // it came from), reverse(2) has no successor and 2 leads on to 4.
  rb_tree_t *nodes = rb_tree_new(partial_graph_compare_nodes, partial_graph_free_item);
  rb_tree_t *edges = rb_tree_new(partial_graph_compare_edges, partial_graph_free_item);
  partial_graph_collect(s.graph, nodes, edges, 0, kOrientedIdNone, 0, 2);
  std::set<oriented_id_t> found;
  for (rb_tree_node_t *n = rb_tree_is_empty(nodes) ? nullptr : rb_tree_first(nodes); n != nullptr; n = rb_tree_next(n)) {
    found.insert(static_cast<partial_graph_item_t *>(n->item)->a);
  }
  EXPECT_EQ(found, (std::set<oriented_id_t>{0, 1, 2 | R, 4}));
  EXPECT_EQ(rb_tree_get_count(edges), 3u);
  rb_tree_free_with_items(nodes);
  rb_tree_free_with_items(edges);
  fragment_graph_write_partial_dot(s.graph, &s.table, path.c_str(), 0, 2);
  EXPECT_EQ(DotChecker(read_file(path)).check(), "");
}

TEST(GraphExport, ContigDotGolden) {
  ScratchDir dir;
  BranchingContigs b;
  const std::string path = dir.file("contigs.dot");
  fragment_graph_write_contig_dot(b.graph, &b.table, b.contigs, path.c_str());
  const std::string text = read_file(path);
  EXPECT_EQ(text, golden("branching_contigs.dot"));
  EXPECT_EQ(DotChecker(text).check(), "");
}

TEST(GraphExport, GexfGolden) {
  ScratchDir dir;
  BranchingContigs b;
  const std::string contig_path = dir.file("contigs.gexf");
  fragment_graph_write_contig_gexf(b.graph, &b.table, b.contigs, contig_path.c_str(), 100);
  EXPECT_EQ(read_file(contig_path), golden("branching_contigs.gexf"));

  SixNodes s;
  const std::string fragment_path = dir.file("fragments.gexf");
  fragment_graph_write_fragment_gexf(s.graph, &s.table, nullptr, fragment_path.c_str(), 100);
  EXPECT_EQ(read_file(fragment_path), golden("six_nodes_fragments.gexf"));

  // With a contig info, nodes carry their contig's name.
  const std::string named_path = dir.file("named.gexf");
  fragment_graph_write_fragment_gexf(b.graph, &b.table, b.contigs, named_path.c_str(), 100);
  const std::string named = read_file(named_path);
  EXPECT_NE(named.find("<node id=\"00000000\" label=\"contig_1 (600)\">\n"), std::string::npos);
  EXPECT_NE(named.find("<node id=\"00000001\" label=\"00000001 (30)\">\n"), std::string::npos);
  EXPECT_NE(named.find("<node id=\"00000005\" label=\"contig_3 (500)\">\n"), std::string::npos);

  // No contigs: the header, empty node and edge lists and the end lines.
  contig_info_t none{};
  const std::string empty_path = dir.file("empty.gexf");
  fragment_graph_write_contig_gexf(s.graph, &s.table, &none, empty_path.c_str(), 100);
  const std::string empty = read_file(empty_path);
  EXPECT_EQ(empty.substr(empty.find("<graph")),
            "<graph mode=\"static\">\n<nodes>\n</nodes>\n<edges>\n</edges>\n</graph>\n</gexf>\n");

  EXPECT_EQ(xml_rejected({contig_path, fragment_path, named_path, empty_path}), 0);
  // The parser does reject a file that is not well-formed.
  const std::string broken = dir.file("broken.gexf");
  ryx_test::write_file(broken, "<a><b></a>\n");
  EXPECT_EQ(xml_rejected({broken, contig_path}), 1);
}

TEST(GraphExport, NodeDumpGolden) {
  ScratchDir dir;
  SixNodes s;
  s.graph->nodes[3].flags |= kGraphBubbleEndBit | kGraphBubbleNodeBit;
  const std::string path = dir.file("nodes.txt");
  fragment_graph_write_nodes(s.graph, s.db, &s.table, path.c_str());
  EXPECT_EQ(read_file(path), golden("six_nodes.dump"));
}

TEST(GraphExportDeath, UnwritablePaths) {
  ScratchDir dir;
  SixNodes s;
  BranchingContigs b;
  const std::string missing = dir.file("no/such/dir/out");
  const std::function<void(const char *)> writers[] = {
      [&](const char *p) { fragment_graph_write_dot(s.graph, &s.table, p); },
      [&](const char *p) { fragment_graph_write_contig_dot(b.graph, &b.table, b.contigs, p); },
      [&](const char *p) { fragment_graph_write_partial_dot(s.graph, &s.table, p, 0, 2); },
      [&](const char *p) { fragment_graph_write_contig_gexf(b.graph, &b.table, b.contigs, p, 100); },
      [&](const char *p) { fragment_graph_write_fragment_gexf(s.graph, &s.table, nullptr, p, 100); },
      [&](const char *p) { fragment_graph_write_nodes(s.graph, s.db, &s.table, p); },
  };
  for (const auto &write : writers) {
    EXPECT_EXIT(write(missing.c_str()), testing::ExitedWithCode(1), "Unable to open file .*no/such/dir/out\n");
    if (ryx_test::file_exists("/dev/full")) {
      EXPECT_EXIT(write("/dev/full"), testing::ExitedWithCode(1), "Unable to write file /dev/full\n");
    }
  }
}

}  // namespace
