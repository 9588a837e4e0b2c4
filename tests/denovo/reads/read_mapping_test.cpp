// Read mapping: the sampled fragment word index and its duplicate check,
// the walk of single blocks (paths, strands, N, consistency, tails, pairs,
// pairs-only files), reference sequences, and whole runs on simulated
// genomes: path counts, step distances, pair distances for every
// orientation and distance mode, pairs across fragments, tails, repeat-rich
// genomes through the landed fragment builder, and the same read table for
// any number of threads.
#include "denovo/reads/read_mapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/progress_meter.h"
#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/word_counter_pass.h"
#include "tests/denovo/reads/read_sim.h"
#include "tests/support/test_support.h"
#include "tests/denovo/reads/piece_files.h"

namespace {

using namespace read_sim;
using fragment_test::codes_of;
using fragment_test::letters_of;
using fragment_test::random_codes;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr uint32_t kRev = kOrientedIdReverse;

// A random genome in which no word of k occurs twice on either strand.
Codes unique_genome(uint64_t seed, size_t length, int k) {
  for (uint64_t s = seed;; s++) {
    std::mt19937_64 rng(s);
    const Codes g = random_codes(rng, length);
    std::set<std::string> words;
    bool unique = true;
    for (size_t p = 0; unique && p + k <= g.size(); p++) {
      unique = words.insert(fragment_test::canonical_key(g.data() + p, k)).second;
    }
    if (unique) return g;
  }
}

// One path of a read info: fragments and the distances between them.
struct Path {
  uint32_t count;
  std::vector<int64_t> items;  // fragment, distance, fragment, ...
  bool operator==(const Path &o) const { return count == o.count && items == o.items; }
};

std::vector<Path> paths_of(const read_info_t *info) {
  std::vector<Path> out;
  uint64_t p = 0;
  while (2 * p + 1 < info->count) {
    Path path{read_info_word_count(info->words[2 * p]), {static_cast<uint32_t>(info->words[2 * p + 1])}};
    uint64_t e = p + 1;
    for (; 2 * e + 1 < info->count && !read_info_word_is_start(info->words[2 * e]); e++) {
      path.items.push_back(read_info_word_distance(info->words[2 * e]));
      path.items.push_back(static_cast<uint32_t>(info->words[2 * e + 1]));
    }
    out.push_back(path);
    p = e;
  }
  return out;
}

// A path end names a whole path and the direction it is read in: the
// first fragment of the path in that direction.
oriented_id_t first_fragment(const read_info_t *info, read_ptr_t p) {
  while (read_info_has_prev(info, p)) p = read_info_get_prev(info, p);
  return read_info_get_fragment(info, p);
}

// The mapping of single blocks over a fixed fragment database.
struct BlockMapper {
  seq_db_t *db;
  read_mapping_ctx_t *ctx;
  read_mapping_mapper_t *mapper;
  std::vector<paired_setting_t *> settings;
  std::vector<int32_t> use_flags;

  BlockMapper(const std::vector<Fragment> &fragments, int k, std::vector<paired_setting_t *> file_settings = {nullptr},
              std::vector<int32_t> flags = {})
      : settings(std::move(file_settings)), use_flags(std::move(flags)) {
    db = fragment_db_of(fragments);
    ctx = read_mapping_ctx_new(db, nullptr, settings.data(), use_flags.empty() ? nullptr : use_flags.data(), k,
                               nullptr);
    mapper = read_mapping_mapper_new(ctx);
  }
  ~BlockMapper() {
    read_mapping_mapper_free(mapper);
    read_mapping_ctx_free(ctx);
    seq_db_free(db);
    for (paired_setting_t *s : settings) paired_setting_free(s);
  }
  BlockMapper(const BlockMapper &) = delete;
  BlockMapper &operator=(const BlockMapper &) = delete;

  read_table_t *map(const std::vector<Codes> &reads, int32_t file = 0) {
    const Codes b = block_of(reads);
    return read_mapping_map_block(mapper, b.data(), static_cast<int64_t>(b.size()), file);
  }
};

// Every symbol of every tail restates the genome around the fragment end it
// is recorded on: column c of an end at forward position e is genome
// position e - M + c; of a flipped end (a fragment's start s) the
// complement of position s + M - 1 - c. Returns the symbols compared.
size_t expect_tails_restate(const end_info_t *list, const std::vector<Placement> &places, const Codes &genome) {
  const int64_t m = list->max_distance;
  size_t compared = 0;
  for (int32_t r = 0; r < list->count; r++) {
    const end_info_record_t &rec = list->records[r];
    const Placement &p = places[oriented_id_get_index(rec.id)];
    for (int32_t c = 0; c < rec.symbol_count; c++) {
      if (rec.symbols[c] == kEndInfoNoSymbol) continue;
      int64_t g;
      uint8_t expected;
      if (!oriented_id_is_reverse(rec.id)) {
        g = static_cast<int64_t>(p.start + p.length) - m + c;
        expected = g >= 0 && g < static_cast<int64_t>(genome.size()) ? genome[g] : 9;
      } else {
        g = static_cast<int64_t>(p.start) + m - 1 - c;
        expected = g >= 0 && g < static_cast<int64_t>(genome.size()) ? 3 - genome[g] : 9;
      }
      EXPECT_EQ(rec.symbols[c], expected) << "tail " << r << " of " << std::hex << rec.id << std::dec << " column " << c;
      compared++;
    }
  }
  return compared;
}

// ---------------------------------------------------------------------------
// The fragment word index

TEST(ReadMappingIndex, SampledWordsCarryFragmentOffsetAndDeadEnds) {
  struct Case {
    int k;
    int step;
  };
  for (const Case c : {Case{12, 2}, Case{13, 2}, Case{14, 4}, Case{15, 4}, Case{16, 5}, Case{31, 5}, Case{40, 5}}) {
    SCOPED_TRACE(c.k);
    EXPECT_EQ(read_mapping_sampling_step(c.k), c.step);
    const Codes g = unique_genome(7 + c.k, 700, c.k);
    const std::vector<Placement> places = {{0, 150}, {150, 203}, {353, 97}, {450, 250}};
    const std::vector<std::string> ends = {"EC", "CE", "EE", "BB"};
    const std::vector<Fragment> fragments = cut(g, places, ends);
    BlockMapper m(fragments, c.k);
    const word_table_t *table = m.ctx->word_table;
    int64_t sampled = 0;
    for (size_t f = 0; f < fragments.size(); f++) {
      EXPECT_EQ(m.ctx->lengths[f], places[f].length);
      const uint32_t bits = (ends[f][0] == 'E' ? 0x80000000u : 0) | (ends[f][1] == 'E' ? 0x40000000u : 0);
      const Codes &codes = fragments[f].codes;
      for (size_t p = 0; p + c.k <= codes.size(); p++) {
        auto *payload =
            static_cast<const read_mapping_payload_t *>(word_table_lookup_word(table, codes.data() + p, nullptr));
        if (p % c.step != 0) {
          EXPECT_EQ(payload, nullptr) << "fragment " << f << " position " << p;
          continue;
        }
        sampled++;
        ASSERT_NE(payload, nullptr) << "fragment " << f << " position " << p;
        EXPECT_EQ(payload->fragment_word, static_cast<uint32_t>(f) | bits);
        EXPECT_EQ(payload->offset, static_cast<int32_t>(p));
        // Stored as read on the forward strand, not canonically.
        const Codes rc = reverse_complement(slice(codes, p, c.k));
        EXPECT_EQ(word_table_lookup_word(table, rc.data(), nullptr), nullptr);
      }
    }
    EXPECT_EQ(table->element_count, sampled);
  }
}

TEST(ReadMappingIndex, ProgressCoversTheIndexing) {
  const Codes g = unique_genome(3, 3000, 16);
  std::vector<Placement> places;
  for (size_t s = 0; s < 3000; s += 10) places.push_back({s, std::min<size_t>(10 + 15, 3000 - s)});
  const std::vector<Fragment> fragments = cut(g, places, std::vector<std::string>(places.size(), "CC"));
  seq_db_t *db = fragment_db_of(fragments);
  progress_meter_t *meter = progress_meter_new();
  FILE *sink = tmpfile();
  meter->output = sink;
  read_mapping_ctx_t *ctx = read_mapping_ctx_new(db, nullptr, nullptr, nullptr, 16, meter);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(meter), 1.0);
  // Updates came every 100 fragments: the meter printed several values.
  fflush(sink);
  EXPECT_GE(ftell(sink), 3 * static_cast<long>(strlen("Progress:    0.0 %  \r")));
  read_mapping_ctx_free(ctx);
  progress_meter_free(meter);
  fclose(sink);
  seq_db_free(db);
}

TEST(ReadMappingDeath, SampledWordSeenTwiceIsTableError) {
  const Codes g = unique_genome(5, 200, 13);
  // Fragment 1 repeats fragment 0's word at 4 at its own sampled position 6.
  const Codes a = slice(g, 0, 60);
  const Codes b = fragment_test::concat({slice(g, 100, 6), slice(g, 4, 13), slice(g, 130, 20)});
  seq_db_t *db = fragment_db_of({{"EC", a}, {"CB", b}});
  ryx_test::ScratchDir dir;
  const std::string out = dir.file("stdout.txt");
  EXPECT_EXIT(
      {
        if (freopen(out.c_str(), "w", stdout) == nullptr) abort();
        read_mapping_ctx_new(db, nullptr, nullptr, nullptr, 13, nullptr);
      },
      testing::ExitedWithCode(1), "^table error\n$");
  const std::string expected = std::to_string(static_cast<int32_t>(0x80000000u)) + " 4\n1 6\n" + letters_of(a) +
                               "\n" + letters_of(b) + "\n";
  EXPECT_EQ(ryx_test::read_file(out), expected);
  seq_db_free(db);
}

// ---------------------------------------------------------------------------
// Single blocks

struct WalkCase {
  const char *name;
  Codes read;
  std::vector<Path> paths;
};

TEST(ReadMappingBlock, PathsOfSingleReads) {
  constexpr int k = 16;
  const Codes g = unique_genome(11, 900, k);
  // A, B, C neighbours along the genome; D far away, reverse.
  const std::vector<Placement> places = {{0, 200}, {185, 215}, {385, 215}, {650, 250}};
  std::vector<Fragment> fragments = cut(g, places, {"EC", "CC", "CB", "BE"});
  fragments[3].codes = reverse_complement(fragments[3].codes);
  BlockMapper m(fragments, k);
  const int64_t o = -(k - 1);
  Codes with_n = slice(g, 150, 100);
  with_n[50] = 4;
  with_n[51] = 4;
  std::mt19937_64 rng(1);
  const std::vector<WalkCase> cases = {
      {"inside one fragment", slice(g, 20, 100), {}},
      {"across A and B", slice(g, 150, 100), {{1, {0, o, 1}}}},
      {"reverse strand", reverse_complement(slice(g, 150, 100)), {{1, {1 | kRev, o, 0 | kRev}}}},
      {"N inside", with_n, {{1, {0, o, 1}}}},
      {"three fragments", slice(g, 150, 300), {{1, {0, o, 1, o, 2}}}},
      {"onto a reversed fragment with a gap", slice(g, 560, 150), {{1, {2, 650 - 600, 3 | kRev}}}},
      {"random codes", random_codes(rng, 100), {}},
      {"shorter than a word", slice(g, 150, k - 1), {}},
  };
  for (const WalkCase &c : cases) {
    SCOPED_TRACE(c.name);
    read_table_t *batch = m.map({c.read});
    EXPECT_EQ(batch->read_pair_info, nullptr);
    EXPECT_EQ(paths_of(batch->read_info), c.paths);
    EXPECT_EQ(batch->read_info->count, batch->read_info->capacity);  // finished
    read_table_free(batch);
  }
  // All reads in one block: the paths one after another.
  std::vector<Codes> all;
  std::vector<Path> expected;
  for (const WalkCase &c : cases) {
    all.push_back(c.read);
    expected.insert(expected.end(), c.paths.begin(), c.paths.end());
  }
  read_table_t *batch = m.map(all);
  EXPECT_EQ(paths_of(batch->read_info), expected);
  read_table_free(batch);
}

// The windows' keys are rolled along the block up to k = 32 and packed one
// by one above: both ways find the same hits, on either strand, next to N
// and in a block of several reads.
TEST(ReadMappingBlock, PathsForWordSizesAroundOneMachineWord) {
  for (const int k : {16, 31, 32, 33, 40}) {
    SCOPED_TRACE(k);
    const Codes g = unique_genome(17 + k, 900, k);
    // Neighbours along the genome, each overlapping the previous by k - 1.
    const size_t b = 200 - (k - 1), c = b + 215 - (k - 1);
    const std::vector<Placement> places = {{0, 200}, {b, 215}, {c, 215}};
    BlockMapper m(cut(g, places, {"EC", "CC", "CB"}), k);
    const int64_t o = -(k - 1);
    Codes with_n = slice(g, 150, 100);
    with_n[80] = 4;
    const std::vector<Codes> reads = {slice(g, 150, 100), reverse_complement(slice(g, 150, 100)), with_n,
                                      slice(g, 150, 300)};
    const std::vector<Path> expected = {
        {1, {0, o, 1}}, {1, {1 | kRev, o, 0 | kRev}}, {1, {0, o, 1}}, {1, {0, o, 1, o, 2}}};
    read_table_t *batch = m.map(reads);
    EXPECT_EQ(paths_of(batch->read_info), expected);
    read_table_free(batch);
  }
}

TEST(ReadMappingBlock, ImplausibleNeighboursAreIgnored) {
  constexpr int k = 16;
  const Codes g = unique_genome(13, 1200, k);
  // X holds g[0, 300); Y starts 19 symbols before X ends (overlap 19 >
  // k + 2); Z lies further on.
  const std::vector<Placement> places = {{0, 300}, {281, 200}, {600, 200}};
  BlockMapper m(cut(g, places, {"CC", "CC", "CC"}), k);
  // Overlap of 18 = k + 2 is still accepted.
  {
    const std::vector<Placement> near = {{0, 300}, {282, 200}};
    BlockMapper n(cut(g, near, {"CC", "CC"}), k);
    read_table_t *batch = n.map({slice(g, 200, 200)});
    EXPECT_EQ(paths_of(batch->read_info), (std::vector<Path>{{1, {0, -(k + 2), 1}}}));
    read_table_free(batch);
  }
  read_table_t *batch = m.map({slice(g, 200, 200)});
  EXPECT_EQ(paths_of(batch->read_info), std::vector<Path>{});
  read_table_free(batch);
  // A read that jumps back from Z's middle to X's start: X would overlap
  // Z by far more than k + 2.
  const Codes back = fragment_test::concat({slice(g, 650, 60), slice(g, 0, 60)});
  batch = m.map({back});
  EXPECT_EQ(paths_of(batch->read_info), std::vector<Path>{});
  read_table_free(batch);
  // A step back on the same fragment is a new occurrence.
  const Codes again = fragment_test::concat({slice(g, 100, 60), slice(g, 20, 60)});
  batch = m.map({again});
  EXPECT_EQ(paths_of(batch->read_info), (std::vector<Path>{{1, {0, 40 - 200, 0}}}));
  read_table_free(batch);
}

TEST(ReadMappingBlock, TailsAtDeadEndsRestateTheRead) {
  constexpr int k = 16;
  const Codes g = unique_genome(17, 900, k);
  // A and B are separated by a gap of 50 symbols.
  const std::vector<Placement> places = {{100, 200}, {350, 200}};
  struct Case {
    const char *name;
    std::string ends;
    std::vector<int32_t> use;
    Codes read;
    std::vector<oriented_id_t> ids;  // tails expected, in order
  };
  const std::vector<Case> cases = {
      {"across the gap, dead ends", "EE", {}, slice(g, 250, 150), {0, 1 | kRev}},
      {"reverse read across the gap", "EE", {}, reverse_complement(slice(g, 250, 150)), {1 | kRev, 0}},
      {"read ends in the gap", "EE", {}, slice(g, 220, 100), {0}},
      {"read starts before A", "EE", {}, slice(g, 40, 100), {0 | kRev}},
      {"inside A, far from its ends", "EE", {}, slice(g, 150, 100), {}},
      {"across the gap, branch ends: gap tail", "CC", {}, slice(g, 250, 150), {0}},
      {"read ends in the gap, branch end", "CC", {}, slice(g, 220, 100), {}},
      {"file not used: only the gap tail", "EE", {0}, slice(g, 250, 150), {0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BlockMapper m(cut(g, places, {c.ends, c.ends}), k, {nullptr}, c.use);
    read_table_t *batch = m.map({c.read});
    std::vector<oriented_id_t> ids;
    for (int32_t i = 0; i < batch->end_info->count; i++) ids.push_back(batch->end_info->records[i].id);
    EXPECT_EQ(ids, c.ids);
    expect_tails_restate(batch->end_info, places, g);
    read_table_free(batch);
  }
  // A read that leaves A at its dead end and, past a gap, meets B far from
  // B's dead start: A's tail is taken once, not again as a gap tail.
  {
    BlockMapper m(cut(g, places, {"EE", "EE"}), k);
    read_table_t *batch = m.map({fragment_test::concat({slice(g, 250, 90), slice(g, 380, 100)})});
    EXPECT_EQ(paths_of(batch->read_info), (std::vector<Path>{{1, {0, 10, 1}}}));
    ASSERT_EQ(batch->end_info->count, 1);
    EXPECT_EQ(batch->end_info->records[0].id, 0u);
    read_table_free(batch);
  }
  // The read-end tail of A: the last sampled word of A sits at offset 180,
  // 4 positions before the end, so the tail opens with k - 4 empty columns
  // and then holds the read's symbols from there to its end.
  BlockMapper m(cut(g, places, {"EE", "EE"}), k);
  read_table_t *batch = m.map({slice(g, 220, 100)});
  ASSERT_EQ(batch->end_info->count, 1);
  const end_info_record_t &r = batch->end_info->records[0];
  ASSERT_EQ(r.symbol_count, k - 4 + (320 - 296));
  for (int c = 0; c < k - 4; c++) EXPECT_EQ(r.symbols[c], kEndInfoNoSymbol);
  EXPECT_EQ(Codes(r.symbols + k - 4, r.symbols + r.symbol_count), slice(g, 296, 24));
  read_table_free(batch);
}

TEST(ReadMappingBlock, EndTailOfOneHit) {
  constexpr int k = 16;
  const Codes g = unique_genome(19, 400, k);
  seq_db_t *db = fragment_db_of({{"EE", slice(g, 100, 100)}});
  const Codes block = block_of({slice(g, 60, 160)});  // read starts at block position 1
  end_info_t *list = end_info_new(k, k);
  // Forward hit at offset 80 (4 positions from the right end), read
  // position 1 + 120.
  EXPECT_EQ(read_mapping_add_end_tail(list, db, block.data(), 0, 0, 1, 80, 121, k), 1);
  // Offset 60: 24 positions from the end, too far.
  EXPECT_EQ(read_mapping_add_end_tail(list, db, block.data(), 0, 0, 1, 60, 101, k), 0);
  // Left end of the same forward hit at offset 5: recorded on the flipped id.
  EXPECT_EQ(read_mapping_add_end_tail(list, db, block.data(), 0, 0, 0, 5, 46, k), 1);
  // A reverse hit at raw offset 3 lies 3 positions from the oriented
  // fragment's right end, which is the fragment's start.
  const Codes rblock = block_of({reverse_complement(slice(g, 60, 160))});
  EXPECT_EQ(read_mapping_add_end_tail(list, db, rblock.data(), 0, 1, 1, 3, 1 + 160 - 43 - k, k), 1);
  ASSERT_EQ(list->count, 3);
  EXPECT_EQ(list->records[0].id, 0u);
  EXPECT_EQ(list->records[1].id, 0u | kRev);
  EXPECT_EQ(list->records[2].id, 0u | kRev);
  EXPECT_GT(expect_tails_restate(list, {{100, 100}}, g), 100u);
  // A read whose word ends at the separator leaves nothing.
  const Codes flush = block_of({slice(g, 100, 100)});
  EXPECT_EQ(read_mapping_add_end_tail(list, db, flush.data(), 0, 0, 1, 84, 85, k), 0);
  end_info_free(list);
  seq_db_free(db);
}

TEST(ReadMappingBlock, PairsInOneFragmentAndAcross) {
  constexpr int k = 16;
  const Codes g = unique_genome(23, 1000, k);
  const std::vector<Placement> places = {{0, 500}, {485, 515}};
  BlockMapper m(cut(g, places, {"EC", "CE"}), k, {paired_setting_new(1, 0, 100, 400)});
  std::mt19937_64 rng(2);
  // fb ss: mate 1 forward at 100, mate 2 the reverse of [300, 360): 260 apart.
  const std::vector<Codes> reads = {
      slice(g, 100, 60), reverse_complement(slice(g, 300, 60)),  // one fragment
      slice(g, 400, 60), reverse_complement(slice(g, 600, 60)),  // two fragments
      slice(g, 460, 60), reverse_complement(slice(g, 700, 60)),  // mate 1 on a path
      slice(g, 460, 60), random_codes(rng, 60),                  // mate 2 unplaced
  };
  read_table_t *batch = m.map(reads);
  const pair_dist_info_t *h = batch->pair_dist_info[0];
  EXPECT_EQ(h->counted, 1);
  EXPECT_EQ(h->bins[h->radius + 260], 1);
  EXPECT_EQ(h->not_counted, 3);
  ASSERT_EQ(batch->read_pair_info->count, 2u);
  const read_pair_info_t *pairs = batch->read_pair_info;
  const read_pair_t &p = pairs->by_end1[0];
  EXPECT_EQ(read_pair_info_get_fragment1(pairs, &p), 0u);
  EXPECT_EQ(read_pair_info_get_offset1(&p), 400);
  EXPECT_EQ(read_pair_info_get_fragment2(pairs, &p), 1u | kRev);
  EXPECT_EQ(read_pair_info_get_offset2(&p), 515 - (660 - 485));
  const read_pair_t &q = pairs->by_end1[1];
  EXPECT_EQ(read_pair_info_get_read_ptr1(pairs, &q), 0u);  // the batch's first path
  EXPECT_EQ(read_pair_info_get_offset1(&q), 460);
  EXPECT_EQ(read_pair_info_get_fragment2(pairs, &q), 1u | kRev);
  // The unplaced mate leaves the other's path standing in an ordinary file.
  EXPECT_EQ(paths_of(batch->read_info).size(), 2u);
  read_table_free(batch);
}

TEST(ReadMappingBlock, PairsOnlyFileKeepsUncountedPathsAndNoTails) {
  constexpr int k = 16;
  const Codes g = unique_genome(29, 1000, k);
  const std::vector<Placement> places = {{0, 500}, {485, 300}};
  paired_setting_t *s = paired_setting_new(1, 0, 100, 400);
  s->pair_info_only = 1;
  BlockMapper m(cut(g, places, {"EE", "EE"}), k, {s});
  std::mt19937_64 rng(3);
  const std::vector<Codes> reads = {
      slice(g, 460, 60), reverse_complement(slice(g, 700, 100)),  // placed: mate 1 on a path
      slice(g, 460, 60), random_codes(rng, 60),                   // mate 2 unplaced
      random_codes(rng, 60), reverse_complement(slice(g, 470, 60)),  // mate 1 unplaced
  };
  read_table_t *batch = m.map(reads);
  EXPECT_EQ(paths_of(batch->read_info), (std::vector<Path>{{0, {0, -(k - 1), 1}}}));
  EXPECT_EQ(batch->read_pair_info->count, 1u);
  EXPECT_EQ(batch->pair_dist_info[0]->not_counted, 3);
  EXPECT_EQ(batch->end_info->count, 0);
  read_table_free(batch);
}

TEST(ReadMappingSequence, StepsFromTheSequenceStart) {
  constexpr int k = 16;
  const Codes g = unique_genome(31, 1000, k);
  const std::vector<Placement> places = {{100, 300}, {385, 300}, {700, 300}};
  std::vector<Fragment> fragments = cut(g, places, {"EC", "CC", "CE"});
  fragments[1].codes = reverse_complement(fragments[1].codes);
  BlockMapper m(fragments, k);
  read_info_t *info = read_mapping_map_sequence(m.db, m.ctx->word_table, g.data(), 1000, 3);
  read_info_finish(info);
  ASSERT_EQ(info->count, 7u);
  EXPECT_EQ(read_info_word_distance(info->words[0]), 101);
  EXPECT_EQ(static_cast<uint32_t>(info->words[1]), 0u);
  EXPECT_EQ(read_info_word_distance(info->words[2]), -(k - 1));
  EXPECT_EQ(static_cast<uint32_t>(info->words[3]), 1u | kRev);
  EXPECT_EQ(read_info_word_distance(info->words[4]), 15);
  EXPECT_EQ(static_cast<uint32_t>(info->words[5]), 2u);
  read_info_free(info);
  // The window starting at length - k is not looked at.
  info = read_mapping_map_sequence(m.db, m.ctx->word_table, g.data() + 100, k, 3);
  EXPECT_EQ(info->count, 0u);
  read_info_free(info);
  info = read_mapping_map_sequence(m.db, m.ctx->word_table, g.data() + 100, k + 1, 3);
  EXPECT_EQ(info->count, 2u);
  read_info_free(info);
}

// ---------------------------------------------------------------------------
// Whole runs

// A run over a store; the run's table and, with a reference, its info.
struct MappingRun {
  seq_db_t *db = nullptr;
  read_store_t *store = nullptr;
  read_table_t *table = nullptr;
  std::vector<paired_setting_t *> settings;

  MappingRun(const std::vector<Fragment> &fragments, const std::vector<ReadFile> &files, int k, int threads,
      std::vector<paired_setting_t *> file_settings = {}, int32_t capacity = kReadStoreBlockCapacity)
      : settings(std::move(file_settings)) {
    db = fragment_db_of(fragments);
    store = store_of(files, capacity);
    settings.resize(files.size(), nullptr);
    table = read_mapping_run_threads(db, store, nullptr, nullptr, settings.data(), nullptr, k, nullptr, threads);
  }
  ~MappingRun() {
    read_table_free(table);
    read_store_free(store);
    seq_db_free(db);
    for (paired_setting_t *s : settings) paired_setting_free(s);
  }
  MappingRun(const MappingRun &) = delete;
  MappingRun &operator=(const MappingRun &) = delete;
};

TEST(ReadMappingThread, PathCountsAndNeighbourSteps) {
  constexpr int k = 16;
  const size_t length = kSanitized ? 3000 : 12000;
  const Codes g = unique_genome(37, length, k);
  const std::vector<Placement> places = tile(length, 250, k);
  const std::vector<Fragment> fragments = cut(g, places, tile_ends(places.size()));
  std::mt19937_64 rng(41);
  const std::vector<Codes> reads = sampled_reads(rng, g, length / 10, 100, 0);
  const SampleModel model(fragments, k);
  uint64_t multi = 0;
  for (const Codes &r : reads) multi += model.fragments_hit(r) >= 2;
  MappingRun run(fragments, {{reads, false}}, k, 4, {}, 4096);
  const read_info_t *info = run.table->read_info;
  ASSERT_NE(info->offsets, nullptr);  // finished: searchable
  uint64_t counted = 0;
  for (const Path &p : paths_of(info)) {
    counted += p.count;
    for (size_t i = 1; i < p.items.size(); i += 2) EXPECT_EQ(p.items[i], -(k - 1));
  }
  EXPECT_GT(multi, reads.size() / 4);
  EXPECT_EQ(counted, multi);
  // The reads' paths merged into few distinct ones, each over neighbours.
  EXPECT_LT(paths_of(info).size(), multi);
  EXPECT_EQ(run.table->path_hash, nullptr);
  // Only the genome's two ends are dead ends: the few tails are the last
  // symbols of reads that end there.
  end_info_read_temp_file(run.table->end_info);
  for (int32_t i = 0; i < run.table->end_info->count; i++) {
    const oriented_id_t id = run.table->end_info->records[i].id;
    EXPECT_TRUE(id == (0 | kRev) || id == places.size() - 1) << std::hex << id;
  }
  expect_tails_restate(run.table->end_info, places, g);
}

TEST(ReadMappingThread, IdenticalReadsShareOnePath) {
  constexpr int k = 16;
  const Codes g = unique_genome(43, 600, k);
  const std::vector<Placement> places = {{0, 300}, {285, 315}};
  const Codes r = slice(g, 250, 100);
  MappingRun run(cut(g, places, {"EC", "CE"}), {{{r, r, reverse_complement(r), slice(g, 10, 100)}, false}}, k, 2);
  EXPECT_EQ(paths_of(run.table->read_info), (std::vector<Path>{{3, {0, -(k - 1), 1}}}));
}

// Pair distances for every orientation and distance mode: pairs in one
// fragment peak at the simulated distance, pairs across fragments are
// stored turned to fb and are found from both ends.
TEST(ReadMappingThread, PairsForEveryOrientationAndDistanceMode) {
  constexpr int k = 16;
  const size_t length = kSanitized ? 2500 : 6000;
  const Codes g = unique_genome(47, length, k);
  const std::vector<Placement> places = tile(length, 400, k);
  const std::vector<Fragment> fragments = cut(g, places, tile_ends(places.size()));
  const SampleModel model(fragments, k);
  const size_t pair_count = kSanitized ? 150 : 600;
  const char *names[4] = {"ff", "fb", "bf", "bb"};
  for (int orientation = 0; orientation < 4; orientation++) {
    for (int mode = 0; mode < 4; mode++) {
      SCOPED_TRACE(std::string(names[orientation]) + " mode " + std::to_string(mode));
      const int64_t distance = 180 + 10 * mode;
      paired_setting_t *setting = paired_setting_new(orientation, mode, 100, 400);
      std::mt19937_64 rng(53 + 4 * orientation + mode);
      ReadFile file{{}, true};
      std::vector<Pair> pairs;
      while (pairs.size() < pair_count) {
        Pair p;
        if (!draw_pair(rng, g, *setting, 50, distance, &p)) continue;
        pairs.push_back(p);
        file.reads.push_back(p.mate1);
        file.reads.push_back(p.mate2);
      }
      MappingRun run(fragments, {file}, k, 3, {setting}, 2048);

      // Model: a mate in one fragment, or on a path; the fragments it
      // meets, as the read sees them.
      uint64_t same = 0;
      std::multiset<std::pair<oriented_id_t, oriented_id_t>> expected;
      const bool turn1 = orientation == 2 || orientation == 3;
      const bool turn2 = orientation == 0 || orientation == 2;
      for (const Pair &p : pairs) {
        const std::vector<oriented_id_t> h1 = model.hits(p.mate1), h2 = model.hits(p.mate2);
        ASSERT_FALSE(h1.empty());
        ASSERT_FALSE(h2.empty());
        const bool single1 = model.fragments_hit(p.mate1) == 1, single2 = model.fragments_hit(p.mate2) == 1;
        if (single1 && single2 && oriented_id_get_index(h1[0]) == oriented_id_get_index(h2[0])) {
          same++;
          continue;
        }
        // A turned end reads the mate backwards: it starts at the flipped
        // last fragment.
        expected.insert(
            {turn1 ? oriented_id_flip(h1.back()) : h1[0], turn2 ? oriented_id_flip(h2.back()) : h2[0]});
      }
      const pair_dist_info_t *h = run.table->pair_dist_info[0];
      EXPECT_GT(same, pair_count / 4);
      EXPECT_EQ(static_cast<uint64_t>(h->counted), same);
      EXPECT_EQ(static_cast<uint64_t>(h->bins[h->radius + distance]), same);
      EXPECT_EQ(static_cast<uint64_t>(h->counted + h->not_counted), pair_count);

      const read_pair_info_t *stored = run.table->read_pair_info;
      const read_info_t *info = run.table->read_info;
      std::multiset<std::pair<oriented_id_t, oriented_id_t>> found;
      int adjacent = 0;
      for (uint64_t i = 0; i < stored->count; i++) {
        const read_pair_t *pair = &stored->by_end1[i];
        const oriented_id_t f1 = read_pair_info_get_fragment1(stored, pair);
        const oriented_id_t f2 = read_pair_info_get_fragment2(stored, pair);
        const read_ptr_t r1 = read_pair_info_get_read_ptr1(stored, pair);
        const read_ptr_t r2 = read_pair_info_get_read_ptr2(stored, pair);
        found.insert({f1 != kOrientedIdNone ? f1 : first_fragment(info, r1),
                      f2 != kOrientedIdNone ? f2 : first_fragment(info, r2)});
        // Found from either end.
        uint64_t n1 = 0, n2 = 0;
        const read_pair_t *a = f1 != kOrientedIdNone ? read_pair_info_find_by_fragment1(stored, f1, &n1)
                                                     : read_pair_info_find_by_read_ptr1(stored, r1, &n1);
        const read_pair_t *b = f2 != kOrientedIdNone ? read_pair_info_find_by_fragment2(stored, f2, &n2)
                                                     : read_pair_info_find_by_read_ptr2(stored, r2, &n2);
        EXPECT_TRUE(pair >= a && pair < a + n1) << i;
        bool in_end2 = false;
        for (uint64_t j = 0; j < n2; j++) in_end2 = in_end2 || memcmp(&b[j], pair, sizeof(read_pair_t)) == 0;
        EXPECT_TRUE(in_end2) << i;
        // Two neighbouring fragments, the second turned: the offsets add
        // up to the simulated distance across the k - 1 overlap.
        if (f1 != kOrientedIdNone && f2 != kOrientedIdNone) {
          const uint32_t x = oriented_id_get_index(f1), y = oriented_id_get_index(f2);
          const bool follows = oriented_id_is_reverse(f1) ? y + 1 == x : x + 1 == y;
          if (follows && oriented_id_is_reverse(f1) != oriented_id_is_reverse(f2)) {
            adjacent++;
            const int64_t sum = static_cast<int64_t>(places[x].length) - read_pair_info_get_offset1(pair) +
                                static_cast<int64_t>(places[y].length) - read_pair_info_get_offset2(pair) - (k - 1);
            EXPECT_EQ(sum, distance) << i;
          }
        }
      }
      EXPECT_EQ(found, expected);
      EXPECT_GT(adjacent, 0);
    }
  }
}

TEST(ReadMappingThread, TailsAroundGapsRestateTheReads) {
  constexpr int k = 16;
  const Codes g = unique_genome(59, kSanitized ? 2000 : 5000, k);
  // Fragments with gaps between them; every end is a dead end, so reads
  // leave tails at each.
  std::vector<Placement> places;
  for (size_t s = 60; s + 300 < g.size(); s += 340) places.push_back({s, 300});
  const std::vector<Fragment> fragments = cut(g, places, std::vector<std::string>(places.size(), "EE"));
  std::mt19937_64 rng(61);
  const std::vector<Codes> reads = sampled_reads(rng, g, g.size() / 10, 100, 0);
  MappingRun run(fragments, {{reads, false}}, k, 3, {}, 4096);
  end_info_t *tails = run.table->end_info;
  end_info_read_temp_file(tails);
  EXPECT_GT(tails->count, static_cast<int32_t>(places.size()));
  EXPECT_GT(expect_tails_restate(tails, places, g), static_cast<size_t>(tails->count) * 10);
  std::set<oriented_id_t> ends;
  for (int32_t i = 0; i < tails->count; i++) ends.insert(tails->records[i].id);
  EXPECT_EQ(ends.size(), 2 * places.size());
}

// A genome full of repeats: copies of a few units, some turned, a tandem
// run, and reads with errors; the fragments come from the word counter and
// the fragment builder.
Codes repeat_rich_genome(uint64_t seed, size_t length) {
  std::mt19937_64 rng(seed);
  std::vector<Codes> units;
  for (size_t n : {40, 90, 200}) units.push_back(random_codes(rng, n));
  Codes g;
  while (g.size() < length) {
    switch (rng() % 4) {
      case 0: {
        const Codes u = random_codes(rng, 50 + rng() % 200);
        g.insert(g.end(), u.begin(), u.end());
        break;
      }
      case 1: {
        const Codes &u = units[rng() % units.size()];
        const Codes v = (rng() & 1) ? reverse_complement(u) : u;
        g.insert(g.end(), v.begin(), v.end());
        break;
      }
      case 2: {
        const Codes t = random_codes(rng, 3 + rng() % 12);
        for (int i = 0; i < 8; i++) g.insert(g.end(), t.begin(), t.end());
        break;
      }
      default: {
        const Codes u = random_codes(rng, 100);
        g.insert(g.end(), u.begin(), u.end());
      }
    }
  }
  return g;
}

struct BuiltRun {
  read_store_t *store;
  word_counter_t *counter;
  seq_db_t *db;
  std::vector<paired_setting_t *> settings;

  BuiltRun(const std::vector<ReadFile> &files, int k, std::vector<paired_setting_t *> file_settings,
           int32_t capacity)
      : settings(std::move(file_settings)) {
    store = store_of(files, capacity);
    counter = word_counter_build(store, nullptr, k, nullptr);
    db = fragment_builder_run_threads(store, nullptr, nullptr, counter, nullptr, 4);
    settings.resize(files.size(), nullptr);
  }
  ~BuiltRun() {
    seq_db_free(db);
    word_counter_free(counter);
    read_store_free(store);
    for (paired_setting_t *s : settings) paired_setting_free(s);
  }
  BuiltRun(const BuiltRun &) = delete;
  BuiltRun &operator=(const BuiltRun &) = delete;

  read_table_t *map(int k, int threads) {
    return read_mapping_run_threads(db, store, nullptr, nullptr, settings.data(), nullptr, k, nullptr, threads);
  }
};

std::vector<Codes> pair_reads(std::mt19937_64 &rng, const Codes &g, const paired_setting_t &s, size_t n,
                              double error_rate) {
  std::vector<Codes> reads;
  std::uniform_real_distribution<double> unit(0, 1);
  while (reads.size() < 2 * n) {
    Pair p;
    if (!draw_pair(rng, g, s, 100, 300 + static_cast<int64_t>(rng() % 40), &p)) continue;
    for (Codes *m : {&p.mate1, &p.mate2}) {
      for (auto &c : *m)
        if (unit(rng) < error_rate) c = static_cast<uint8_t>((c + 1 + rng() % 3) & 3);
      reads.push_back(*m);
    }
  }
  return reads;
}

TEST(ReadMappingThread, RepeatRichGenomesMapWithoutTableError) {
  constexpr int k = 21;
  for (uint64_t seed : {67, 71, 73}) {
    SCOPED_TRACE(seed);
    const Codes g = repeat_rich_genome(seed, kSanitized ? 3000 : 8000);
    std::mt19937_64 rng(seed);
    paired_setting_t *s = paired_setting_new(1, 0, 250, 400);
    BuiltRun built({{pair_reads(rng, g, *s, g.size() * 15 / 200, 0.01), true},
                    {sampled_reads(rng, g, g.size() * 10 / 100, 100, 0.01), false}},
                   k, {s, nullptr}, 8192);
    ASSERT_GT(built.db->sequence_count, 10);
    read_table_t *table = built.map(k, 4);
    // Every step to another fragment is plausible: no more than k + 2
    // symbols of overlap.
    uint64_t counted = 0;
    for (const Path &p : paths_of(table->read_info)) {
      counted += p.count;
      for (size_t i = 1; i < p.items.size(); i += 2) {
        if (oriented_id_get_index(static_cast<uint32_t>(p.items[i - 1])) !=
            oriented_id_get_index(static_cast<uint32_t>(p.items[i + 1]))) {
          EXPECT_GE(p.items[i], -(k + 2));
        }
      }
    }
    EXPECT_GT(counted, 0u);
    EXPECT_GT(table->pair_dist_info[0]->counted, 0);
    EXPECT_EQ(table->pair_dist_info[1], nullptr);
    read_table_free(table);
  }
}

std::string table_bytes(read_table_t *table) {
  return denovo_reads_test::written_bytes([&](FILE *f) { read_table_write(f, table); });
}

TEST(ReadMappingThread, SameReadTableForOneThreeAndEightThreads) {
  constexpr int k = 21;
  std::mt19937_64 rng(79);
  std::vector<Codes> singles;
  std::vector<Codes> paired;
  paired_setting_t *s = paired_setting_new(1, 1, 250, 400);
  for (int i = 0; i < 4; i++) {
    const Codes g = repeat_rich_genome(80 + i, kSanitized ? 800 : 2000);
    for (Codes &r : sampled_reads(rng, g, g.size() * 10 / 100, 100, 0.01)) singles.push_back(std::move(r));
    for (Codes &r : pair_reads(rng, g, *s, g.size() * 10 / 200, 0.01)) paired.push_back(std::move(r));
  }
  std::shuffle(singles.begin(), singles.end(), rng);
  // Small blocks, so that the mappers finish them out of order.
  BuiltRun built({{singles, false}, {paired, true}}, k, {nullptr, s}, 2048);
  ASSERT_GT(built.store->block_count, 20);
  // Finishing sorts each fragment's occurrences with random pivots, which
  // orders equal continuations by chance: every run starts from one seed.
  srand(7);
  read_table_t *one = built.map(k, 1);
  const std::string expected = table_bytes(one);
  EXPECT_GT(one->read_pair_info->count, 0u);
  read_table_free(one);
  for (int threads : {3, 8, 8}) {
    srand(7);
    read_table_t *many = built.map(k, threads);
    const std::string bytes = table_bytes(many);
    const auto diff = std::mismatch(bytes.begin(), bytes.end(), expected.begin(), expected.end());
    EXPECT_TRUE(bytes == expected) << threads << " threads: " << bytes.size() << " bytes, " << expected.size()
                                   << " expected, first difference at " << (diff.first - bytes.begin());
    read_table_free(many);
  }
}

TEST(ReadMappingThread, ReferenceAndProgress) {
  constexpr int k = 16;
  const Codes g = unique_genome(89, 1200, k);
  const std::vector<Placement> places = tile(1200, 300, k);
  const std::vector<Fragment> fragments = cut(g, places, tile_ends(places.size()));
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("reference.fa");
  FILE *f = fopen(path.c_str(), "w");
  fprintf(f, ">reference\n%s\n", letters_of(slice(g, 100, 1000)).c_str());
  fclose(f);
  seq_db_t *reference = seq_db_open(path.c_str(), 0, kSeqFormatFasta, 1, 0);
  ASSERT_NE(reference, nullptr);
  seq_db_t *db = fragment_db_of(fragments);
  std::mt19937_64 rng(97);
  read_store_t *store = store_of({{sampled_reads(rng, g, 100, 100, 0), false}}, 1024);
  progress_meter_t *meter = progress_meter_new();
  FILE *sink = tmpfile();
  meter->output = sink;
  read_info_t *info = nullptr;
  read_table_t *table = read_mapping_run(db, store, reference, &info, nullptr, nullptr, k, meter);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(meter), 1.0);
  ASSERT_NE(info, nullptr);
  EXPECT_NE(info->offsets, nullptr);
  // The reference starts 100 symbols into fragment 0 and crosses every
  // fragment after it.
  std::vector<int64_t> items;
  for (uint64_t e = 0; 2 * e + 1 < info->count; e++) {
    items.push_back(read_info_word_distance(info->words[2 * e]));
    items.push_back(static_cast<uint32_t>(info->words[2 * e + 1]));
  }
  std::vector<int64_t> expected = {-100 + 1, 0};
  for (size_t i = 1; i < places.size(); i++) {
    expected.push_back(-(k - 1));
    expected.push_back(static_cast<int64_t>(i));
  }
  EXPECT_EQ(items, expected);
  read_info_free(info);
  read_table_free(table);
  progress_meter_free(meter);
  fclose(sink);
  read_store_free(store);
  seq_db_free(db);
  seq_db_free(reference);
}

}  // namespace
