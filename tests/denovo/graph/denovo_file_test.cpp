// Stage files: kinds 0 to 4 written, read and written again byte for byte,
// a hand-written container and kind-0 file, the header, version, length and
// checksum checks and their messages, write failures, every changed byte
// refused, and loads of every truncation and of damaged graph and map
// pieces (stamped with a fitting length and checksum, so that the piece
// readers meet them) in child processes.
#include "denovo/graph/denovo_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

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

// A container's content (without its trailer) stamped with its length and
// checksum, as a save would; content shorter than the header is left as it
// is.
std::string stamped(std::string content) {
  const uint64_t length = content.size() + 4;
  if (content.size() >= 37) {
    for (int i = 0; i < 8; i++) content[29 + i] = static_cast<char>(length >> (8 * i));
  }
  uint32_t crc = static_cast<uint32_t>(
      crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef *>(content.data()), static_cast<uInt>(content.size())));
  for (int i = 0; i < 4; i++) content += static_cast<char>(crc >> (8 * i));
  return content;
}

// A container without its checksum trailer.
std::string content_of(const std::string &bytes) { return bytes.substr(0, bytes.size() - 4); }

// Fragments with their names, given as letters.
seq_db_t *named_fragments(const std::vector<std::string> &letters) {
  seq_db_t *db = fragments_of_letters(letters);
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *r = db->get(db, i);
    char name[16];
    snprintf(name, sizeof(name), "EE_%8.8x", static_cast<unsigned>(i));
    r->name = static_cast<char *>(ryx_malloc(strlen(name) + 1));
    memcpy(r->name, name, strlen(name) + 1);
    seq_db_release_fetched(db, r);
  }
  return db;
}

std::string table_bytes(read_table_t *t) {
  return denovo_reads_test::written_bytes([&](FILE *f) { read_table_write(f, t); });
}

// The names are compared up to the tag a kind-0 file puts after its first.
void expect_same_fragments(seq_db_t *a, seq_db_t *b) {
  ASSERT_EQ(a->sequence_count, b->sequence_count);
  for (int64_t i = 0; i < a->sequence_count; i++) {
    seq_record_t *x = a->get(a, i);
    seq_record_t *y = b->get(b, i);
    const std::string name = y->name;
    EXPECT_EQ(x->name, name.substr(0, name.find(" stage_version=")));
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
    EXPECT_EQ(bytes.substr(25, 4), std::string("\1\0\0\0", 4));
    // The stamp of a save is the one a plain model of the layout gives.
    EXPECT_EQ(stamped(content_of(bytes)), bytes);
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
  const size_t first_line = text.find('\n') + 1;
  EXPECT_EQ(text.substr(0, 28), ">EE_00000000 stage_version=1");
  EXPECT_EQ(text.substr(28, 25), " fragments=5 bases=151 cr");
  EXPECT_EQ(text.find_first_not_of(">EACGT_0123456789\n", first_line), std::string::npos);
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
  const std::string text = read_file(path);
  EXPECT_EQ(text.substr(text.find('\n') - 13, 14), " word_size=23\n");
  {
    Loaded l;
    denovo_file_read(path.c_str(), 0, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
    EXPECT_EQ(denovo_file_word_size(0, l.db, nullptr, nullptr), 23);
    const std::string again = dir.file("again.fa");
    denovo_file_write_with_word_size(again.c_str(), 0, 31, l.db, nullptr, nullptr, nullptr);
    const std::string retagged = read_file(again);
    EXPECT_EQ(retagged.substr(0, retagged.find(" word_size=")), text.substr(0, text.find(" word_size=")));
    EXPECT_EQ(retagged.substr(retagged.find('\n') - 13, 14), " word_size=31\n");
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
// fragments, no read table, the graph fixture, one gap entry and the
// checksum trailer.
TEST(DenovoFile, GoldenContainer) {
  const std::string golden = hex_fixture("denovo/graph/two_fragments_kind4.stage.hex");
  ASSERT_EQ(golden.size(), 228u);
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

// A kind-0 file written by hand: the tag after the first name counts two
// fragments of 12 bases and holds their checksum and the word size.
TEST(DenovoFile, GoldenFasta) {
  const std::string golden = read_file(std::string(RYX_TEST_DATA_DIR) + "/denovo/graph/two_fragments_kind0.fa");
  ScratchDir dir;
  const std::string path = dir.file("golden.fa");
  write_file(path, golden);
  Loaded l;
  denovo_file_read(path.c_str(), 0, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
  ASSERT_EQ(l.db->sequence_count, 2);
  EXPECT_EQ(denovo_file_word_size(0, l.db, nullptr, nullptr), 21);
  seq_db_t *expected = named_fragments({"ACGTACGT", "TTGG"});
  seq_record_t *first = l.db->get(l.db, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(first->residues), first->length), "?@AB?@AB");
  seq_db_release_fetched(l.db, first);
  const std::string again = dir.file("again.fa");
  denovo_file_write_with_word_size(again.c_str(), 0, 21, expected, nullptr, nullptr, nullptr);
  EXPECT_EQ(read_file(again), golden);
  seq_db_free_records(expected);
}

TEST(DenovoFile, EmptyFragmentsAndAbsentPieces) {
  ScratchDir dir;
  seq_db_t *empty = fragments_of_lengths({});
  const std::string path = dir.file("empty");
  denovo_file_write(path.c_str(), 2, empty, nullptr, nullptr, nullptr);
  EXPECT_EQ(read_file(path), hex_bytes("2e666f66 00 2500000000000000 0000000000000000 02000000 01000000"
                                       "2b00000000000000 00 00 f108a65c"));
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

// Files that are not whole, of another kind or version, or changed: each
// load ends with its message and status 1. Containers whose stamp fits
// their content reach the checks behind the checksum.
TEST(DenovoFileDeath, HeaderMessages) {
  State s;
  ScratchDir dir;
  const std::string path = dir.file("three");
  denovo_file_write(path.c_str(), 3, s.db, s.table, s.graph, nullptr);
  const std::string three = read_file(path);
  const std::string content = content_of(three);
  auto with = [](std::string bytes, size_t at, const std::string &value) { return bytes.replace(at, value.size(), value); };
  // The first layout: a 25-byte header, the fragments, the pieces, no trailer.
  const std::string version0 = hex_bytes("2e666f66 00 1900000000000000 0000000000000000 02000000 00 00");
  const std::string fasta_tag = ">EE_00000000 stage_version=1 fragments=2 bases=12 crc32=61588460 word_size=21\n";
  const std::string fasta = fasta_tag + "ACGTACGT\n>EE_00000001\nTTGG\n";
  struct Case {
    std::string name;
    std::string bytes;  // empty name of a missing file when bytes is "-"
    int32_t kind;
    std::string message;
  } cases[] = {
      {"other_kind", three, 2, "Error, de novo file version is 3, expected version 2\n"},
      {"plain.fa", ">a\nACGT\n", 1, "Error, .*plain.fa is not a de novo stage file\n"},
      {"missing", "-", 1, "Unable to open file .*missing\n"},
      {"missing", "-", 0, "ERROR: Could not create the fragment database.\n"},
      {"empty", "", 3, "Error, de novo file .*empty is damaged: it is empty\n"},
      {"empty", "", 0, "Error, de novo file .*empty is damaged: it is empty\n"},
      {"magic", ".fo", 3, "damaged: the header is cut short\n"},
      {"header", three.substr(0, 30), 3, "damaged: the header is cut short\n"},
      {"cut", three.substr(0, three.size() - 1), 3, "damaged: it is cut short\n"},
      {"tail", three + "x", 3, "damaged: bytes follow its last piece\n"},
      {"changed", with(three, 40, "x"), 3, "damaged: its checksum does not match its content\n"},
      {"trailer", with(three, three.size() - 1, "x"), 3, "damaged: its checksum does not match its content\n"},
      {"long", stamped(with(content, 19, "\1")), 3, "damaged: the fragment section runs past the end of the file\n"},
      {"offset", stamped(with(content, 5, "\x26")), 3, "damaged: the fragments do not start right after the header\n"},
      {"gap", stamped(content + "x"), 3, "damaged: its pieces do not end where its checksum begins\n"},
      {"version0", version0, 2, "Error, de novo file version is 0, expected version 1\n"},
      {"version2", stamped(with(content, 25, "\2")), 3, "Error, de novo file version is 2, expected version 1\n"},
      {"old.fa", ">EE_00000000\nACGT\n", 0, "Error, de novo file version is 0, expected version 1\n"},
      {"old_k.fa", ">EE_00000000 word_size=21\nACGT\n", 0, "Error, de novo file version is 0, expected version 1\n"},
      {"v2.fa", with(fasta, 27, "2"), 0, "Error, de novo file version is 2, expected version 1\n"},
      {"tag.fa", with(fasta, 39, "x"), 0, "damaged: the tag after its first name is not whole\n"},
      {"letter.fa", with(fasta, fasta_tag.size() + 2, "T"), 0, "damaged: its checksum does not match its content\n"},
      {"name.fa", with(fasta, fasta_tag.size() + 19, "2"), 0, "damaged: its checksum does not match its content\n"},
      {"lower.fa", with(fasta, fasta_tag.size() + 2, "g"), 0, "damaged: a fragment holds a letter other than A, C, G or T\n"},
      {"count.fa", fasta.substr(0, fasta_tag.size() + 9), 0, "damaged: it does not hold as many fragments as its first line says\n"},
      {"bases.fa", fasta.substr(0, fasta.size() - 2) + "\n", 0,
       "damaged: its fragments do not hold as many bases as its first line says\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file(c.name);
    if (c.bytes != "-") write_file(file, c.bytes);
    EXPECT_EXIT(
        {
          Loaded l;
          denovo_file_read(file.c_str(), c.kind, &l.db, &l.table, nullptr, -1, &l.graph, &l.gaps);
        },
        testing::ExitedWithCode(1), c.message);
    if (c.bytes != "-") unlink(file.c_str());
  }
}

// The stored read files against this run's: their number and which of them
// are paired. A difference is named, not called damage.
TEST(DenovoFileDeath, OtherReadFiles) {
  State s;
  ScratchDir dir;
  const std::string path = dir.file("one");
  paired_setting_t *setting = paired_setting_parse("fb", "ss", 100, 300);
  read_table_t *paired = read_table_new(5, &setting, 1, 4);
  read_table_finish(paired);
  denovo_file_write(path.c_str(), 1, s.db, paired, nullptr, nullptr);
  paired_setting_t *none[2] = {nullptr, nullptr};
  paired_setting_t *given[2] = {setting, nullptr};
  auto load = [&](paired_setting_t *const *settings, int32_t files) {
    Loaded l;
    denovo_file_read(path.c_str(), 1, &l.db, &l.table, settings, files, &l.graph, &l.gaps);
  };
  EXPECT_EXIT(load(none, 1), testing::ExitedWithCode(1),
              "^Error, stage file .*one was saved from other reads or settings: read file 1 is paired in it and not "
              "paired on this command line\n$");
  EXPECT_EXIT(load(given, 2), testing::ExitedWithCode(1),
              "^Error, stage file .*one was saved from other reads or settings: it holds 1 read file, this run names "
              "2\n$");
  // The same reads and settings load, and the histogram takes this run's
  // setting.
  Loaded l;
  denovo_file_read(path.c_str(), 1, &l.db, &l.table, given, 1, &l.graph, &l.gaps);
  ASSERT_NE(l.table->pair_dist_info[0], nullptr);
  EXPECT_EQ(l.table->pair_dist_info[0]->setting, setting);
  read_table_free(paired);
  paired_setting_free(setting);
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

// Every cut of the content, stamped with a length and checksum that fit it,
// so that the cut reaches the piece readers.
TEST(DenovoFileDeath, EveryTruncationEndsCleanly) {
  State s;
  ScratchDir dir;
  const std::string full = dir.file("full");
  denovo_file_write(full.c_str(), 4, s.db, s.table, s.graph, s.gaps);
  const std::string bytes = content_of(read_file(full));
  const std::string one = dir.file("one");
  denovo_file_write(one.c_str(), 1, s.db, s.table, nullptr, nullptr);
  // The header and this module's pieces (graph and map) are cut at every
  // offset; the fragment section, where every cut meets the same header
  // check, and the read table, whose reader has its own tests, are sampled.
  const size_t graph_start = content_of(read_file(one)).size();
  const std::string cut = dir.file("cut");
  size_t tried = 0;
  for (size_t length = 0; length < bytes.size();) {
    write_file(cut, stamped(bytes.substr(0, length)));
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

// Every byte of the graph and map pieces turned to its complement and the
// file stamped again: the load either refuses the file with a message and
// status 1 or gives a graph whose lists hold together.
TEST(DenovoFileDeath, DamagedGraphAndMapPieces) {
  State s;
  ScratchDir dir;
  const std::string one = dir.file("one");
  denovo_file_write(one.c_str(), 1, s.db, s.table, nullptr, nullptr);
  const size_t graph_start = content_of(read_file(one)).size();
  const std::string full = dir.file("full");
  denovo_file_write(full.c_str(), 4, s.db, s.table, s.graph, s.gaps);
  const std::string bytes = content_of(read_file(full));
  const std::string damaged = dir.file("damaged");
  int refused = 0;
  for (size_t at = graph_start; at < bytes.size(); at += kChildStride) {
    std::string copy = bytes;
    copy[at] = static_cast<char>(~copy[at]);
    write_file(damaged, stamped(copy));
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

// Every byte of a saved container and of a kind-0 file turned to its
// complement, as a disk or a copy might: no load gives a result. A changed
// magic or offset-file version makes the file unknown, a changed version
// field is an unknown version, every other change is damage.
TEST(DenovoFileDeath, EveryChangedByteIsRefused) {
  State s;
  ScratchDir dir;
  const std::string container = dir.file("four");
  denovo_file_write(container.c_str(), 4, s.db, s.table, s.graph, s.gaps);
  const std::string fasta = dir.file("zero.fa");
  denovo_file_write_with_word_size(fasta.c_str(), 0, 21, s.db, nullptr, nullptr, nullptr);
  const std::string damaged = dir.file("damaged");
  for (const auto &[path, kind] : {std::pair<std::string, int32_t>{container, 4}, {fasta, 0}}) {
    const std::string bytes = read_file(path);
    const size_t first_line = bytes.find('\n');
    // The header or tag closely, the rest sampled, the last bytes (the
    // trailer) all.
    std::vector<size_t> offsets;
    const size_t close = kind == 0 ? first_line + 1 : 41;
    for (size_t at = 0; at < bytes.size(); at += (at < close ? 3 : 53) * kChildStride) offsets.push_back(at);
    for (size_t back = 1; back <= 4; back += kChildStride) offsets.push_back(bytes.size() - back);
    for (size_t at : offsets) {
      std::string copy = bytes;
      copy[at] = static_cast<char>(~copy[at]);
      write_file(damaged, copy);
      std::string err;
      const int status = load_in_child(damaged, kind, &err);
      ASSERT_EQ(status, 1) << "kind " << kind << " byte " << at << ": " << err;
      std::string want = "Error, de novo file " + damaged + " is damaged: ";
      if (kind == 4 && at < 5) want = "Error, " + damaged + " is not a de novo stage file\n";
      if (kind == 4 && at >= 25 && at < 29) want = "Error, de novo file version is ";
      if (kind == 0 && at == 0) want = "ERROR: Could not create the fragment database.\n";
      if (kind == 0 && at > 12 && at < first_line) {
        // A changed tag: its key, its version or one of its values.
        if (err.find("Error, de novo file version is ") == 0) want = "Error, de novo file version is ";
      }
      ASSERT_NE(err.find(want), std::string::npos) << "kind " << kind << " byte " << at << ": " << err;
    }
  }
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
