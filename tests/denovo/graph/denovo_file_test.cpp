// Stage files: kinds 0 to 4 written, read and written again byte for byte,
// a hand-written container, the header checks and messages, write
// failures, and loads of every truncation and of damaged graph and map
// pieces in child processes.
#include "denovo/graph/denovo_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"
#include "test_support.h"
#include "tests/denovo/reads/piece_files.h"

namespace {

using namespace graph_test;
using ryx_test::hex_bytes;
using ryx_test::hex_fixture;
using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kChildStride = 7;  // a sample of offsets: children are slow under the sanitizers
#else
constexpr size_t kChildStride = 1;
#endif

// Everything a kind-4 file holds, built small: five fragments, reads along
// them, the graph built from those reads and a gap map of two entries.
struct State {
  seq_db_t *db = nullptr;
  read_table_t *table = nullptr;
  fragment_graph_t *graph = nullptr;
  gap_sequence_map_t *gaps = nullptr;

  State() {
    db = fragments_of_lengths({30, 25, 41, 22, 33}, 5);
    table = read_table_new(5, nullptr, 1, 4);
    read_info_t *info = table->read_info;
    const std::vector<std::vector<std::pair<int32_t, oriented_id_t>>> paths = {
        {{0, 0}, {-20, 1}, {-20, 2 | R}}, {{0, 2}, {-20, 1 | R}}, {{0, 3}, {-19, 4}}, {{0, 4 | R}, {-19, 3 | R}}};
    for (const auto &p : paths) {
      read_info_start_path(info, p[0].second);
      for (size_t i = 1; i < p.size(); i++) read_info_add_step(info, p[i].first, p[i].second);
    }
    read_table_finish(table);
    graph = fragment_graph_build(db, table->read_info, 21, 1);
    fragment_graph_sort_edges(graph);
    fragment_graph_disable_node(graph, fragment_graph_new_node(graph, 2));
    gaps = gap_sequence_map_new();
    for (uint32_t key : {1u, 0x80000002u}) {
      seq_record_t *r = seq_record_new(key & 7);
      for (uint32_t i = 0; i < r->length; i++) r->residues[i] = static_cast<uint8_t>(i % 5);
      const gap_sequence_t e = {static_cast<int32_t>(key & 3), 4, r};
      gap_sequence_map_insert(gaps, key, &e);
    }
  }
  ~State() {
    gap_sequence_map_free(gaps);
    fragment_graph_free(graph);
    read_table_free(table);
    seq_db_free_records(db);
  }
};

struct Loaded {
  seq_db_t *db = nullptr;
  read_table_t *table = nullptr;
  fragment_graph_t *graph = nullptr;
  gap_sequence_map_t *gaps = nullptr;
  ~Loaded() {
    gap_sequence_map_free(gaps);
    fragment_graph_free(graph);
    read_table_free(table);
    seq_db_free(db);
  }
};

std::string table_bytes(read_table_t *t) {
  return denovo_reads_test::written_bytes([&](FILE *f) { read_table_write(f, t); });
}

void expect_same_fragments(seq_db_t *a, seq_db_t *b) {
  ASSERT_EQ(a->sequence_count, b->sequence_count);
  for (int64_t i = 0; i < a->sequence_count; i++) {
    seq_record_t *x = a->get(a, i);
    seq_record_t *y = b->get(b, i);
    EXPECT_STREQ(x->name, y->name);
    ASSERT_EQ(x->length, y->length);
    EXPECT_EQ(memcmp(x->residues, y->residues, x->length), 0) << i;
    EXPECT_EQ(b->get_length(b, i), x->length);
    seq_db_release_fetched(a, x);
    seq_db_release_fetched(b, y);
  }
}

void expect_same_graph(const fragment_graph_t *a, const fragment_graph_t *b) {
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->word_size, b->word_size);
  ASSERT_EQ(a->node_count, b->node_count);
  EXPECT_EQ(a->node_capacity, b->node_capacity);
  for (int32_t i = 0; i < a->node_count; i++) {
    EXPECT_EQ(a->nodes[i].first_prev_edge, b->nodes[i].first_prev_edge);
    EXPECT_EQ(a->nodes[i].first_next_edge, b->nodes[i].first_next_edge);
    EXPECT_EQ(a->nodes[i].fragment, b->nodes[i].fragment);
    EXPECT_EQ(a->nodes[i].other_node, b->nodes[i].other_node);
    EXPECT_EQ(a->nodes[i].flags, b->nodes[i].flags);
  }
  ASSERT_EQ(a->free_node_count, b->free_node_count);
  EXPECT_EQ(a->free_node_capacity, b->free_node_capacity);
  for (int32_t i = 0; i < a->free_node_count; i++) EXPECT_EQ(a->free_nodes[i], b->free_nodes[i]);
  EXPECT_EQ(a->not_done_heads[0], b->not_done_heads[0]);
  EXPECT_EQ(a->not_done_heads[1], b->not_done_heads[1]);
  EXPECT_EQ(a->not_done_current, b->not_done_current);
  EXPECT_EQ(a->not_done_next, b->not_done_next);
  EXPECT_EQ(a->not_done_current_mask, b->not_done_current_mask);
  EXPECT_EQ(a->not_done_next_mask, b->not_done_next_mask);
  EXPECT_EQ(a->not_done_keep_mask, b->not_done_keep_mask);
  EXPECT_EQ(a->not_done_count, b->not_done_count);
  ASSERT_EQ(a->edge_count, b->edge_count);
  EXPECT_EQ(a->edge_capacity, b->edge_capacity);
  for (int32_t i = 0; i < a->edge_count; i++) {
    EXPECT_EQ(a->edges[i].from, b->edges[i].from);
    EXPECT_EQ(a->edges[i].to, b->edges[i].to);
    EXPECT_EQ(a->edges[i].next_in_to_list, b->edges[i].next_in_to_list);
    EXPECT_EQ(a->edges[i].next_in_from_list, b->edges[i].next_in_from_list);
    EXPECT_EQ(a->edges[i].distance, b->edges[i].distance);
  }
  ASSERT_EQ(a->free_edge_count, b->free_edge_count);
  EXPECT_EQ(a->free_edge_capacity, b->free_edge_capacity);
  for (int32_t i = 0; i < a->free_edge_count; i++) EXPECT_EQ(a->free_edges[i], b->free_edges[i]);
}

void expect_same_gaps(const gap_sequence_map_t *a, const gap_sequence_map_t *b) {
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(a->count, b->count);
  generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(const_cast<gap_sequence_map_t *>(a));
  while (generic_hash_map_iterator_next(it)) {
    gap_sequence_t x, y;
    uint32_t key;
    memcpy(&key, it->key, sizeof(key));
    ASSERT_EQ(gap_sequence_map_find(a, key, &x), 1);
    ASSERT_EQ(gap_sequence_map_find(b, key, &y), 1);
    EXPECT_EQ(x.offset, y.offset);
    EXPECT_EQ(x.end, y.end);
    ASSERT_EQ(x.sequence->length, y.sequence->length);
    EXPECT_EQ(memcmp(x.sequence->residues, y.sequence->residues, x.sequence->length), 0);
  }
  generic_hash_map_iterator_free(it);
}

TEST(DenovoFile, ContainerKindsRoundTrip) {
  State s;
  ScratchDir dir;
  for (int32_t kind = 1; kind <= 4; kind++) {
    SCOPED_TRACE(kind);
    const std::string path = dir.file("stage" + std::to_string(kind));
    EXPECT_EQ(denovo_file_write(path.c_str(), kind, s.db, s.table, s.graph, s.gaps), 1);
    const std::string bytes = read_file(path);
    ASSERT_GT(bytes.size(), 25u);
    EXPECT_EQ(bytes.substr(0, 5), std::string(".fof\0", 5));
    EXPECT_EQ(bytes.substr(21, 4), std::string(1, static_cast<char>(kind)) + std::string(3, '\0'));
    Loaded l;
    EXPECT_EQ(denovo_file_read(path.c_str(), kind, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps), 1);
    expect_same_fragments(s.db, l.db);
    EXPECT_EQ(table_bytes(l.table), table_bytes(s.table));
    if (kind >= 2) {
      expect_same_graph(s.graph, l.graph);
    } else {
      EXPECT_EQ(l.graph, nullptr);
    }
    if (kind == 4) {
      expect_same_gaps(s.gaps, l.gaps);
    } else {
      EXPECT_EQ(l.gaps, nullptr);
    }
    const std::string again = dir.file("again" + std::to_string(kind));
    denovo_file_write(again.c_str(), kind, l.db, l.table, l.graph, l.gaps);
    EXPECT_EQ(read_file(again), bytes);
  }
}

TEST(DenovoFile, FastaKindRoundTrip) {
  State s;
  ScratchDir dir;
  const std::string path = dir.file("fragments.fa");
  denovo_file_write(path.c_str(), 0, s.db, nullptr, nullptr, nullptr);
  const std::string text = read_file(path);
  EXPECT_EQ(text.substr(0, 13), ">EE_00000000\n");
  EXPECT_EQ(text.find_first_not_of(">EACGT_0123456789\n"), std::string::npos);
  // The database's own records were not turned into letters.
  seq_record_t *r = s.db->get(s.db, 0);
  EXPECT_GE(r->residues[0], 63);
  Loaded l;
  denovo_file_read(path.c_str(), 0, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
  expect_same_fragments(s.db, l.db);
  EXPECT_EQ(l.table, nullptr);
  const std::string again = dir.file("again.fa");
  denovo_file_write(again.c_str(), 0, l.db, nullptr, nullptr, nullptr);
  EXPECT_EQ(read_file(again), text);
}

// The word size a stage records: tagged after the first name of a kind-0
// file (the tag replaced, not repeated, when such fragments are saved
// again), the read table's tail list in kind 1, the graph in kinds 2 to 4.
TEST(DenovoFile, RecordedWordSize) {
  State s;
  ScratchDir dir;
  const std::string path = dir.file("fragments.fa");
  denovo_file_write_with_word_size(path.c_str(), 0, 23, s.db, nullptr, nullptr, nullptr);
  EXPECT_EQ(read_file(path).substr(0, 26), ">EE_00000000 word_size=23\n");
  {
    Loaded l;
    denovo_file_read(path.c_str(), 0, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
    EXPECT_EQ(denovo_file_word_size(0, l.db, nullptr, nullptr), 23);
    const std::string again = dir.file("again.fa");
    denovo_file_write_with_word_size(again.c_str(), 0, 31, l.db, nullptr, nullptr, nullptr);
    EXPECT_EQ(read_file(again).substr(0, 26), ">EE_00000000 word_size=31\n");
  }
  const std::string plain = dir.file("plain.fa");
  denovo_file_write(plain.c_str(), 0, s.db, nullptr, nullptr, nullptr);
  {
    Loaded l;
    denovo_file_read(plain.c_str(), 0, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
    EXPECT_EQ(denovo_file_word_size(0, l.db, nullptr, nullptr), -1);
  }
  for (int32_t kind = 1; kind <= 4; kind++) {
    SCOPED_TRACE(kind);
    const std::string stage = dir.file("stage" + std::to_string(kind));
    denovo_file_write_with_word_size(stage.c_str(), kind, 23, s.db, s.table, s.graph, s.gaps);
    Loaded l;
    denovo_file_read(stage.c_str(), kind, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
    // The table's tail list was made for k = 4, the graph for k = 21.
    EXPECT_EQ(denovo_file_word_size(kind, l.db, l.table, l.graph), kind == 1 ? 4 : 21);
  }
}

// A kind-4 container written by hand from the layout: header, two
// fragments, no read table, the graph fixture and one gap entry.
TEST(DenovoFile, GoldenContainer) {
  const std::string fasta = ">EE_00000000\n?@AB?@AB\n>EE_00000001\nBBAA\n";
  ASSERT_EQ(fasta.size(), 0x28u);
  const std::string golden = hex_bytes("2e 66 6f 66  00  19 00 00 00 00 00 00 00  28 00 00 00 00 00 00 00  04 00 00 00") +
                             fasta + std::string(1, '\0') + hex_fixture("denovo/graph/two_nodes_one_edge.graph.hex") +
                             hex_bytes("01 01 00 00 00 00 00 00 00  00 00 00 00  03 00 00 00  02 00 00 00  02 00 00 00  04 01");
  ScratchDir dir;
  const std::string path = dir.file("golden");
  write_file(path, golden);
  Loaded l;
  denovo_file_read(path.c_str(), 4, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
  ASSERT_EQ(l.db->sequence_count, 2);
  EXPECT_EQ(l.db->get_length(l.db, 0), 8u);
  EXPECT_EQ(l.table, nullptr);
  fragment_graph_t *expected = fragment_graph_new(2, 21);
  fragment_graph_add_edge(expected, 0, 1, -20);
  expect_same_graph(expected, l.graph);
  EXPECT_EQ(l.graph->fragments, l.db);
  EXPECT_EQ(fragment_graph_get_node_length(l.graph, 1 | R), 4);
  fragment_graph_free(expected);
  gap_sequence_t e;
  ASSERT_EQ(gap_sequence_map_find(l.gaps, 0, &e), 1);
  EXPECT_EQ(e.offset, 3);
  EXPECT_EQ(e.end, 2);
  ASSERT_EQ(e.sequence->length, 2u);
  EXPECT_EQ(e.sequence->residues[0], 4);
  const std::string again = dir.file("again");
  denovo_file_write(again.c_str(), 4, l.db, l.table, l.graph, l.gaps);
  EXPECT_EQ(read_file(again), golden);
}

TEST(DenovoFile, EmptyFragmentsAndAbsentPieces) {
  ScratchDir dir;
  seq_db_t *empty = fragments_of_lengths({});
  const std::string path = dir.file("empty");
  denovo_file_write(path.c_str(), 2, empty, nullptr, nullptr, nullptr);
  EXPECT_EQ(read_file(path), hex_bytes("2e666f66 00 1900000000000000 0000000000000000 02000000 00 00"));
  Loaded l;
  l.graph = reinterpret_cast<fragment_graph_t *>(0);
  denovo_file_read(path.c_str(), 2, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
  EXPECT_EQ(l.db->sequence_count, 0);
  EXPECT_EQ(l.graph, nullptr);
  // A kind above 4 reads nothing and leaves the outputs alone.
  seq_db_t *untouched = nullptr;
  EXPECT_EQ(denovo_file_read(path.c_str(), 7, &untouched, nullptr, nullptr, -1, nullptr, nullptr), 1);
  EXPECT_EQ(untouched, nullptr);
  seq_db_free_records(empty);
}

TEST(DenovoFile, ReadOnlyFileLoads) {
  State s;
  ScratchDir dir;
  const std::string path = dir.file("readonly");
  denovo_file_write(path.c_str(), 3, s.db, s.table, s.graph, nullptr);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  Loaded l;
  EXPECT_EQ(denovo_file_read(path.c_str(), 3, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps), 1);
  expect_same_graph(s.graph, l.graph);
}

TEST(DenovoFileDeath, HeaderMessages) {
  State s;
  ScratchDir dir;
  const std::string path = dir.file("three");
  denovo_file_write(path.c_str(), 3, s.db, s.table, s.graph, nullptr);
  auto load = [](const std::string &p, int32_t kind) {
    Loaded l;
    denovo_file_read(p.c_str(), kind, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
  };
  EXPECT_EXIT(load(path, 2), testing::ExitedWithCode(1), "Error, de novo file version is 3, expected version 2\n");
  const std::string fasta = dir.file("plain.fa");
  write_file(fasta, ">a\nACGT\n");
  EXPECT_EXIT(load(fasta, 1), testing::ExitedWithCode(1), "is not a de novo stage file");
  EXPECT_EXIT(load(dir.file("missing"), 1), testing::ExitedWithCode(1), "Unable to open file .*missing\n");
  EXPECT_EXIT(load(dir.file("missing"), 0), testing::ExitedWithCode(1), "ERROR: Could not create the fragment database.\n");
  std::string longer = read_file(path);
  longer[19] = 1;
  write_file(dir.file("long"), longer);
  EXPECT_EXIT(load(dir.file("long"), 3), testing::ExitedWithCode(1), "fragment section runs past the end");
  write_file(dir.file("tail"), read_file(path) + "x");
  EXPECT_EXIT(load(dir.file("tail"), 3), testing::ExitedWithCode(1), "bytes follow its last piece");
}

TEST(DenovoFileDeath, WriteFailures) {
  State s;
  ScratchDir dir;
  const std::string bad = dir.file("five");
  EXPECT_EXIT(denovo_file_write(bad.c_str(), 5, s.db, s.table, s.graph, s.gaps), testing::ExitedWithCode(1),
              "Error, unknown de novo file format\n");
  EXPECT_FALSE(ryx_test::file_exists(bad));
  EXPECT_EXIT(denovo_file_write(dir.file("no/such/dir").c_str(), 1, s.db, s.table, s.graph, s.gaps),
              testing::ExitedWithCode(1), "Unable to open file .*no/such/dir\n");
  if (ryx_test::file_exists("/dev/full")) {
    EXPECT_EXIT(denovo_file_write("/dev/full", 4, s.db, s.table, s.graph, s.gaps), testing::ExitedWithCode(1),
                "Unable to write file /dev/full\n");
  }
  // A file size limit stands in for a full disk: the save fails, and
  // neither the name nor a temporary file is left behind.
  const std::string limited = dir.file("limited");
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit;
        limit.rlim_cur = 100;
        limit.rlim_max = 100;
        setrlimit(RLIMIT_FSIZE, &limit);
        denovo_file_write(limited.c_str(), 4, s.db, s.table, s.graph, s.gaps);
      },
      testing::ExitedWithCode(1), "Unable to write file .*limited\n");
  EXPECT_TRUE(ryx_test::dir_names(dir.path()).empty());
}

// Loads path as kind in a child process; returns its exit status (128 +
// signal when killed) and collects its standard error. A load that
// succeeds exits 0 when the graph passes the link check, else 3.
int load_in_child(const std::string &path, int32_t kind, std::string *err) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    seq_db_t *db = nullptr;
    read_table_t *table = nullptr;
    fragment_graph_t *graph = nullptr;
    gap_sequence_map_t *gaps = nullptr;
    denovo_file_read(path.c_str(), kind, &db, &table, nullptr, -1, &graph, &gaps);
    _exit(graph == nullptr || fragment_graph_check_links(graph, kOrientedIdNone) == 1 ? 0 : 3);
  }
  close(fds[1]);
  err->clear();
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof(buf))) > 0;) err->append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool sanitizer_spoke(const std::string &err) {
  return err.find("Sanitizer") != std::string::npos || err.find("runtime error") != std::string::npos;
}

TEST(DenovoFileDeath, EveryTruncationEndsCleanly) {
  State s;
  ScratchDir dir;
  const std::string full = dir.file("full");
  denovo_file_write(full.c_str(), 4, s.db, s.table, s.graph, s.gaps);
  const std::string bytes = read_file(full);
  const std::string one = dir.file("one");
  denovo_file_write(one.c_str(), 1, s.db, s.table, nullptr, nullptr);
  // The header and this module's pieces (graph and map) are cut at every
  // offset; the fragment section, where every cut meets the same header
  // check, and the read table, whose reader has its own tests, are sampled.
  const size_t graph_start = read_file(one).size();
  const std::string cut = dir.file("cut");
  size_t tried = 0;
  for (size_t length = 0; length < bytes.size();) {
    write_file(cut, bytes.substr(0, length));
    std::string err;
    const int status = load_in_child(cut, 4, &err);
    ASSERT_EQ(status, 1) << "cut at " << length << ": " << err;
    ASSERT_FALSE(err.empty()) << "cut at " << length;
    ASSERT_FALSE(sanitizer_spoke(err)) << "cut at " << length << ": " << err;
    tried++;
    const bool everywhere = length < static_cast<size_t>(kDenovoFileHeaderSize) || length + 1 >= graph_start;
    length += everywhere ? kChildStride : 8 * kChildStride;
  }
  EXPECT_GE(tried, (bytes.size() - graph_start) / kChildStride);
}

// Every byte of the graph and map pieces turned to its complement: the
// load either refuses the file with a message and status 1 or gives a
// graph whose lists hold together.
TEST(DenovoFileDeath, DamagedGraphAndMapPieces) {
  State s;
  ScratchDir dir;
  const std::string one = dir.file("one");
  denovo_file_write(one.c_str(), 1, s.db, s.table, nullptr, nullptr);
  const size_t graph_start = read_file(one).size();
  const std::string full = dir.file("full");
  denovo_file_write(full.c_str(), 4, s.db, s.table, s.graph, s.gaps);
  const std::string bytes = read_file(full);
  const std::string damaged = dir.file("damaged");
  int refused = 0;
  for (size_t at = graph_start; at < bytes.size(); at += kChildStride) {
    std::string copy = bytes;
    copy[at] = static_cast<char>(~copy[at]);
    write_file(damaged, copy);
    std::string err;
    const int status = load_in_child(damaged, 4, &err);
    ASSERT_TRUE(status == 0 || status == 1) << "byte " << at << " status " << status << ": " << err;
    ASSERT_FALSE(sanitizer_spoke(err)) << "byte " << at << ": " << err;
    if (status == 1) {
      ASSERT_FALSE(err.empty());
      refused++;
    }
  }
  EXPECT_GT(refused, 0);
}

// A map entry keyed by an edge slot the stored graph does not have is
// refused when the file is loaded.
TEST(DenovoFileDeath, MapEdgeOutsideTheGraph) {
  State s;
  ScratchDir dir;
  const oriented_id_t beyond = static_cast<oriented_id_t>(s.graph->edge_count) | 0x80000000u;
  seq_record_t *r = seq_record_new(1);
  r->residues[0] = 2;
  const gap_sequence_t e = {1, 1, r};
  gap_sequence_map_insert(s.gaps, beyond, &e);
  const std::string path = dir.file("beyond");
  denovo_file_write(path.c_str(), 4, s.db, s.table, s.graph, s.gaps);
  std::string err;
  EXPECT_EQ(load_in_child(path, 4, &err), 1);
  char want[80];
  snprintf(want, sizeof(want), "gap_sequence_map_read: edge %x is not an edge of the graph\n", beyond);
  EXPECT_NE(err.find(want), std::string::npos) << err;
}

}  // namespace
