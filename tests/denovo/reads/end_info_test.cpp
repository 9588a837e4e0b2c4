// End info: read tails (padding, dropping, complementing), the spool file,
// sorting and search, the consensus extension, gap bridging and filling on
// hand-made fragments (the reverse side keeps real flank bases), wide vote
// counters, prints and the stage-file piece.
#include "denovo/reads/end_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "piece_files.h"
#include "seqio/seq_db.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::pipe_of;
using denovo_reads_test::written_bytes;

constexpr uint32_t R = 0x80000000u;
constexpr uint8_t X = 255;  // no read symbol

std::vector<uint8_t> codes_of(const std::string &letters) {
  std::vector<uint8_t> out;
  for (char c : letters) out.push_back(static_cast<uint8_t>(std::string("ACGTN").find(c)));
  return out;
}

std::vector<uint8_t> reverse_complement(const std::vector<uint8_t> &codes) {
  std::vector<uint8_t> out(codes.rbegin(), codes.rend());
  for (uint8_t &c : out) c = c < 4 ? 3 - c : c;
  return out;
}

// A fragment database as the fragment builder makes it: residues are code +
// 63, and every fetch hands out a new record that the caller releases.
class Fragments {
 public:
  explicit Fragments(const std::vector<std::string> &letters) {
    for (const std::string &l : letters) {
      seq_record_t *r = seq_record_new(static_cast<uint32_t>(l.size()));
      const std::vector<uint8_t> codes = codes_of(l);
      for (size_t i = 0; i < codes.size(); i++) r->residues[i] = static_cast<uint8_t>(codes[i] + 63);
      records_.push_back(r);
      codes_.push_back(codes);
    }
    for (auto &c : codes_) sequences_.push_back(c.data());
    for (auto &c : codes_) lengths_.push_back(static_cast<uint32_t>(c.size()));
    db_.sequence_count = static_cast<int64_t>(records_.size());
    db_.impl = this;
    db_.get = [](seq_db_t *db, int64_t i) {
      return seq_record_copy(static_cast<Fragments *>(db->impl)->records_[static_cast<size_t>(i)]);
    };
  }
  ~Fragments() {
    for (seq_record_t *r : records_) seq_record_free(r);
  }
  seq_db_t *db() { return &db_; }
  uint8_t *const *sequences() { return sequences_.data(); }
  const uint32_t *lengths() { return lengths_.data(); }

 private:
  seq_db_t db_ = {};
  std::vector<seq_record_t *> records_;
  std::vector<std::vector<uint8_t>> codes_;
  std::vector<uint8_t *> sequences_;
  std::vector<uint32_t> lengths_;
};

std::vector<uint8_t> symbols_of(const end_info_record_t &r) {
  return std::vector<uint8_t>(r.symbols, r.symbols + r.symbol_count);
}

TEST(EndInfo, ReadTailsArePaddedCutAndComplemented) {
  // A read in its code string, framed by the separator 7.
  const std::vector<uint8_t> read = {7, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 2, 2, 1, 7};
  const struct {
    const char *name;
    int32_t overlap;
    size_t at;  // where the symbols pointer starts in read
    int forward;
    std::vector<uint8_t> expected;  // empty: nothing added
  } cases[] = {
      {"forward, overlap 2", 2, 13, 1, {X, X, 2, 2, 1}},
      {"forward, overlap 4 = M", 4, 13, 1, {2, 2, 1}},
      {"forward, overlap 6 drops two", 6, 13, 1, {1}},
      {"forward, overlap past the tail", 7, 13, 1, {}},
      {"forward at the read end", 0, 16, 1, {}},
      {"backward, overlap 1", 1, 3, 0, {X, X, X, 1, 2, 3}},
      {"backward, overlap 5 drops one", 5, 3, 0, {2, 3}},
      {"backward at the read start", 0, 0, 0, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    end_info_t *list = end_info_new(4, 4);
    end_info_add_read_tail(list, 9 | R, c.overlap, read.data() + c.at, c.forward);
    if (c.expected.empty()) {
      EXPECT_EQ(list->count, 0);
    } else {
      ASSERT_EQ(list->count, 1);
      EXPECT_EQ(list->records[0].id, 9 | R);
      EXPECT_EQ(symbols_of(list->records[0]), c.expected);
    }
    end_info_free(list);
  }

  // With M = 31: overlap 10 pads 21 columns, overlap 40 drops 9 symbols.
  std::vector<uint8_t> long_read(1, 7);
  for (int i = 0; i < 50; i++) long_read.push_back(static_cast<uint8_t>(i % 4));
  long_read.push_back(7);
  end_info_t *list = end_info_new(31, 31);
  end_info_add_read_tail(list, 1, 10, long_read.data() + 1, 1);
  end_info_add_read_tail(list, 2, 40, long_read.data() + 1, 1);
  ASSERT_EQ(list->count, 2);
  EXPECT_EQ(list->records[0].symbol_count, 71);
  EXPECT_EQ(std::vector<uint8_t>(list->records[0].symbols, list->records[0].symbols + 21), std::vector<uint8_t>(21, X));
  EXPECT_EQ(list->records[0].symbols[21], 0);
  EXPECT_EQ(list->records[1].symbol_count, 41);
  EXPECT_EQ(list->records[1].symbols[0], 9 % 4);
  end_info_free(list);
}

TEST(EndInfo, FatalArguments) {
  EXPECT_EXIT(end_info_new(3, 4), testing::ExitedWithCode(1), "^end info: Max distance must be >= word size\n$");
  EXPECT_EXIT(
      {
        end_info_t *list = end_info_new(4, 4);
        const uint8_t s = 0;
        end_info_add(list, 1, &s, 0);
      },
      testing::ExitedWithCode(1), "^ERROR: end_info symbol length <= 0\n$");
  EXPECT_EQ(end_info_free(nullptr), nullptr);
}

TEST(EndInfo, SpoolRoundTripSkipsEmptyRecords) {
  end_info_t *run = end_info_new(4, 4);
  run->spool = tmpfile();
  end_info_t *batch = end_info_new(4, 4);
  const uint8_t a[] = {X, 0, 1}, b[] = {3};
  end_info_add(batch, 5, a, 3);
  end_info_add(batch, 0xFFFFFFFFu, b, 1);
  end_info_spool_records(run->spool, batch);
  // An id followed directly by the separator: a record without symbols.
  const uint8_t empty[] = {4, 0, 0, 0, 7};
  fwrite(empty, 1, sizeof(empty), run->spool);
  end_info_spool_records(run->spool, batch);
  end_info_free(batch);

  end_info_read_temp_file(run);
  ASSERT_EQ(run->count, 4);
  EXPECT_EQ(run->capacity, 4);
  EXPECT_EQ(run->records[0].id, 5u);
  EXPECT_EQ(symbols_of(run->records[0]), std::vector<uint8_t>(a, a + 3));
  EXPECT_EQ(run->records[1].id, 0xFFFFFFFFu);
  EXPECT_EQ(symbols_of(run->records[3]), std::vector<uint8_t>(b, b + 1));

  // Reset keeps the spool: loading again gives the same records.
  end_info_reset(run);
  EXPECT_EQ(run->count, 0);
  EXPECT_EQ(run->capacity, 1);
  end_info_read_temp_file(run);
  EXPECT_EQ(run->count, 4);
  // Spooling after a load appends at the end.
  end_info_spool_records(run->spool, run);
  end_info_reset(run);
  end_info_read_temp_file(run);
  EXPECT_EQ(run->count, 8);
  end_info_free(run);
}

TEST(EndInfo, SortOrdersByIdThenLongerFirst) {
  end_info_t *list = end_info_new(2, 2);
  const uint8_t s[] = {0, 1, 2, 3, 0};
  const struct {
    uint32_t id;
    int32_t n;
  } added[] = {{7 | R, 2}, {3, 1}, {7, 2}, {3, 4}, {7, 5}, {1, 1}, {3, 2}};
  for (const auto &a : added) end_info_add(list, a.id, s, a.n);
  end_info_sort(list);
  const std::vector<std::pair<uint32_t, int32_t>> expected = {{1, 1}, {3, 4}, {3, 2}, {3, 1},
                                                              {7, 5}, {7, 2}, {7 | R, 2}};
  ASSERT_EQ(list->count, 7);
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(list->records[i].id, expected[i].first) << i;
    EXPECT_EQ(list->records[i].symbol_count, expected[i].second) << i;
  }
  int32_t n;
  EXPECT_EQ(end_info_find(list, 3, &n), list->records + 1);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(end_info_find(list, 7 | R, &n), list->records + 6);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(end_info_find(list, 4, &n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(end_info_lower_bound(list, 4), 4);
  EXPECT_EQ(end_info_lower_bound(list, 0), 0);
  EXPECT_EQ(end_info_lower_bound(list, 0xFFFFFFFFu), 7);
  end_info_free(list);
}

std::vector<uint8_t> consensus(Fragments &fragments, const std::vector<std::vector<uint8_t>> &tails, uint32_t id) {
  end_info_t *list = end_info_new(4, 4);
  for (const auto &t : tails) end_info_add(list, id, t.data(), static_cast<int32_t>(t.size()));
  end_info_sort(list);
  int32_t n = -1;
  uint8_t *c = end_info_get_consensus(fragments.db(), list, id, &n);
  std::vector<uint8_t> out;
  if (c != nullptr) out.assign(c, c + n);
  EXPECT_EQ(c == nullptr, n == 0);
  free(c);
  end_info_free(list);
  return out;
}

TEST(EndInfoConsensus, HandMadeCases) {
  // Fragment 0 ends GGTA; read on its reverse strand it ends GGTT. Fragment
  // 1 is shorter than M.
  Fragments fragments({"AACCGGTA", "AC"});
  const struct {
    const char *name;
    uint32_t id;
    std::vector<std::vector<uint8_t>> tails;
    std::vector<uint8_t> expected;
  } cases[] = {
      {"one tail restates itself", 0, {{X, X, 3, 0, 1, 1, 2}}, {2, 2, 3, 0, 1, 1, 2}},
      {"one tail up to its first N", 0, {{X, X, 3, 0, 1, 4, 2}}, {2, 2, 3, 0, 1}},
      {"reverse strand reference", 0 | R, {{X, X, X, X, 1}}, {2, 2, 3, 3, 1}},
      {"tie in votes and weights: the lower code", 0, {{X, X, 3, 0, 0}, {X, X, 3, 0, 1}}, {2, 2, 3, 0, 0}},
      {"tie in votes: the longer clean tail", 0, {{X, X, 3, 0, 0}, {X, X, 3, 0, 1, 1}}, {2, 2, 3, 0, 1, 1}},
      {"all tails show N", 0, {{X, X, 3, 0, 4, 0}, {X, X, 3, 0, 4}}, {2, 2, 3, 0}},
      {"a tail leaves at its third disagreement",
       0,
       {{X, X, 3, 0, 0, 0, 0, 0}, {X, X, 3, 0, 0, 0, 0, 0}, {X, X, 3, 0, 1, 1, 1, 2, 2, 2}},
       {2, 2, 3, 0, 0, 0, 0, 0}},
      {"majority over a disagreeing reference", 0, {{X, 1, 3, 0, 2}, {X, 1, 3, 0, 2}, {X, X, 3, 0}},
       {2, 1, 3, 0, 2}},
      {"short fragment with a full tail", 1, {{1, 1, 0, 1, 3}}, {1, 1, 0, 1, 3}},
      {"short fragment: padded columns it does not reach cast no vote", 1, {{X, X, 0, 1, 3}}, {}},
      {"no tail of the id", 1 | R, {}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(consensus(fragments, c.tails, c.id), c.expected);
  }
}

// Three fragments around two gaps of the truth A + CAT + B (M = k = 4).
struct GapCase {
  std::string a = "TTGACCAG", gap = "CAT", b = "GGTACTTA";
  std::vector<uint8_t> truth = codes_of(a + gap + b);
  int32_t n = 3;
  static constexpr int32_t kM = 4;
  // Columns of a tail beyond the end of the fragment whose last base is at
  // truth position end - 1 in the given strand's sequence, covering the
  // last overlap bases, with count symbols after the padding.
  static std::vector<uint8_t> tail(const std::vector<uint8_t> &strand, size_t end, int overlap, size_t count) {
    std::vector<uint8_t> out(static_cast<size_t>(kM - overlap), X);
    for (size_t i = 0; i < count; i++) out.push_back(strand[end - static_cast<size_t>(overlap) + i]);
    return out;
  }
  // The destination: M bases before the gap, the gap, M after, all 9.
  std::vector<uint8_t> fresh() const { return std::vector<uint8_t>(static_cast<size_t>(n + 2 * kM), 9); }
};

TEST(EndInfoGap, BridgesFromTheFirstFragment) {
  GapCase g;
  Fragments fragments({g.a, g.b});
  end_info_t *list = end_info_new(4, 4);
  const std::vector<uint8_t> t = GapCase::tail(g.truth, 8, 2, 11);
  end_info_add(list, 0, t.data(), static_cast<int32_t>(t.size()));
  end_info_sort(list);
  for (bool arrays : {false, true}) {
    SCOPED_TRACE(arrays ? "code arrays" : "fragment database");
    std::vector<uint8_t> dest = g.fresh();
    const int ok = end_info_bridge(fragments.db(), arrays ? fragments.sequences() : nullptr,
                                   arrays ? fragments.lengths() : nullptr, list, 0, 1, g.n, dest.data() + 4);
    EXPECT_EQ(ok, 1);
    // The two padded columns leave A's flank alone; the rest is the truth.
    std::vector<uint8_t> expected(g.truth.begin() + 4, g.truth.begin() + 15);
    expected[0] = expected[1] = 9;
    EXPECT_EQ(dest, expected);
    std::vector<uint8_t> filled = g.fresh();
    end_info_fill_gap(fragments.db(), nullptr, nullptr, list, 0, 1, g.n, filled.data() + 4);
    EXPECT_EQ(filled, expected);
  }
  // A tail whose bases past the gap match no k bases of B at any shift
  // bridges nothing (B's fourth base lies in every window the tail reaches).
  std::vector<uint8_t> wrong = t;
  wrong[10] = static_cast<uint8_t>(3 - wrong[10]);
  end_info_t *other = end_info_new(4, 4);
  end_info_add(other, 0, wrong.data(), static_cast<int32_t>(wrong.size()));
  std::vector<uint8_t> dest = g.fresh();
  EXPECT_EQ(end_info_bridge(fragments.db(), nullptr, nullptr, other, 0, 1, g.n, dest.data() + 4), 0);
  EXPECT_EQ(dest, g.fresh());
  end_info_free(other);
  end_info_free(list);
}

TEST(EndInfoGap, FillsFromTheReverseSideWithoutWritingNOverRealBases) {
  GapCase g;
  Fragments fragments({g.a, g.b});
  const std::vector<uint8_t> reverse = reverse_complement(g.truth);
  end_info_t *list = end_info_new(4, 4);
  // A tail beyond B's start on the reverse strand, covering two of B's
  // bases: the columns of B's other two first bases carry no read symbol.
  const std::vector<uint8_t> t = GapCase::tail(reverse, 8, 2, 11);
  end_info_add(list, 1 | R, t.data(), static_cast<int32_t>(t.size()));
  end_info_sort(list);
  std::vector<uint8_t> dest = g.fresh();
  end_info_fill_gap(fragments.db(), nullptr, nullptr, list, 0, 1, g.n, dest.data() + 4);
  std::vector<uint8_t> expected(g.truth.begin() + 4, g.truth.begin() + 15);
  expected[9] = expected[10] = 9;  // left as they were, not N
  EXPECT_EQ(dest, expected);

  // With B's real bases in place they survive.
  std::vector<uint8_t> real(g.truth.begin() + 4, g.truth.begin() + 15);
  std::fill(real.begin() + 4, real.begin() + 7, 9);
  end_info_fill_gap(fragments.db(), nullptr, nullptr, list, 0, 1, g.n, real.data() + 4);
  EXPECT_EQ(real, std::vector<uint8_t>(g.truth.begin() + 4, g.truth.begin() + 15));
  end_info_free(list);
}

TEST(EndInfoGap, NothingBridgesGivesNInTheGapOnly) {
  GapCase g;
  Fragments fragments({g.a, g.b});
  end_info_t *list = end_info_new(4, 4);
  std::vector<uint8_t> dest = g.fresh();
  end_info_fill_gap(fragments.db(), nullptr, nullptr, list, 0, 1, g.n, dest.data() + 4);
  EXPECT_EQ(dest, (std::vector<uint8_t>{9, 9, 9, 9, 4, 4, 4, 9, 9, 9, 9}));
  end_info_free(list);
}

TEST(EndInfoGap, ColumnVotesCountPastAByte) {
  // 150 tails vote G, then 200 vote C in column 1: C has more votes and must
  // win, which an 8-bit counter stuck at its limit would not let it do.
  std::vector<end_info_record_t> records;
  std::vector<std::vector<uint8_t>> symbols;
  for (int i = 0; i < 350; i++) symbols.push_back({0, static_cast<uint8_t>(i < 150 ? 2 : 1), X});
  for (auto &s : symbols) records.push_back({0, 3, s.data()});
  std::vector<const end_info_record_t *> tails;
  for (auto &r : records) tails.push_back(&r);
  uint8_t *columns = end_info_column_majority(1, static_cast<int32_t>(tails.size()), tails.data(), 1);
  EXPECT_EQ(std::vector<uint8_t>(columns, columns + 3), (std::vector<uint8_t>{0, 1, 4}));
  free(columns);
  // Equal counts go to the code that reached them first.
  const std::vector<uint8_t> g = {2}, c = {1};
  const end_info_record_t rg = {0, 1, const_cast<uint8_t *>(g.data())}, rc = {0, 1, const_cast<uint8_t *>(c.data())};
  const end_info_record_t *pair[] = {&rg, &rc};
  columns = end_info_column_majority(1, 2, pair, 0);
  EXPECT_EQ(columns[0], 2);
  free(columns);
}

TEST(EndInfo, PrintsStatsAndList) {
  Fragments fragments({"AACCGGTA"});
  end_info_t *list = end_info_new(4, 4);
  const std::vector<uint8_t> a = {X, X, 3, 0, 1}, b = {X, 1, 3, 2, 1};
  end_info_add(list, 0, a.data(), 5);
  end_info_add(list, 0, b.data(), 5);
  testing::internal::CaptureStdout();
  end_info_print_stats(list);
  end_info_print_list(list, fragments.db());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nEnd info:\n  alloc              2\n  count              2\n"
            "\nList:\n00000000:\n  GGTA\n  ..,,C\n  .CTGC\n\n");
  end_info_free(list);
}

TEST(EndInfoPiece, BytesMatchTheHandWrittenLayout) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/end_info_two_records.piece.hex");
  end_info_t *list = end_info_new(4, 4);
  const uint8_t a[] = {X, X, 0, 1, 2}, b[] = {3, 4, 0};
  end_info_add(list, 3 | R, a, 5);
  end_info_add(list, 1, b, 3);
  EXPECT_EQ(written_bytes([&](FILE *f) { end_info_write(f, list); }), golden);
  // Without a spool file the spooled writer writes the records in memory.
  EXPECT_EQ(written_bytes([&](FILE *f) { end_info_write_spooled(f, list); }), golden);
  EXPECT_EQ(list->count, 2);
  const std::string record = written_bytes([&](FILE *f) { end_info_write_record(f, &list->records[1]); });
  EXPECT_EQ(record, golden.substr(30));
  end_info_free(list);

  // Reading spools the records and keeps none in memory; loading them back
  // and writing from the spool gives the same bytes.
  FILE *f = file_of(golden);
  end_info_t *back = end_info_read(f);
  fclose(f);
  ASSERT_NE(back, nullptr);
  ASSERT_NE(back->spool, nullptr);
  EXPECT_EQ(back->count, 0);
  EXPECT_EQ(back->max_distance, 4);
  EXPECT_EQ(written_bytes([&](FILE *out) { end_info_write_spooled(out, back); }), golden);
  EXPECT_EQ(back->count, 0);
  end_info_read_temp_file(back);
  ASSERT_EQ(back->count, 2);
  EXPECT_EQ(back->records[0].id, 3 | R);
  EXPECT_EQ(symbols_of(back->records[0]), std::vector<uint8_t>(a, a + 5));
  EXPECT_EQ(symbols_of(back->records[1]), std::vector<uint8_t>(b, b + 3));
  end_info_free(back);

  EXPECT_EQ(written_bytes([](FILE *out) { end_info_write(out, nullptr); }), std::string(1, '\0'));
  FILE *absent = file_of(std::string(1, '\0'));
  EXPECT_EQ(end_info_read(absent), nullptr);
  fclose(absent);
}

TEST(EndInfoPiece, DamagedPiecesEndWithAMessageAndStatus1) {
  auto head = [](const char *hex) { return ryx_test::hex_bytes(std::string("01 ") + hex); };
  const struct {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\3'), "^end_info_read: presence byte is 3, not 0 or 1\n$"},
      {"count above capacity", head("03000000 02000000 04000000 04000000"),
       "^end_info_read: count 3 and capacity 2 do not fit\n$"},
      {"word size above max distance", head("00000000 01000000 03000000 04000000"),
       "^end_info_read: max distance 3 is below the word size 4\n$"},
      {"records beyond the file", head("00000040 00000040 04000000 04000000 01000000 01000000 00"),
       "^end_info_read: 1073741824 records do not fit in the 9 bytes left in the file\n$"},
      {"record without symbols", head("01000000 01000000 04000000 04000000 01000000 00000000 00"),
       "^end_info_read: record 0 has 0 symbols\n$"},
      {"symbols beyond the file", head("01000000 01000000 04000000 04000000 01000000 00010000 00"),
       "^end_info_read: record 0 needs 256 symbol bytes beyond the end of the file\n$"},
      {"separator in the symbols", head("01000000 01000000 04000000 04000000 01000000 02000000 0007"),
       "^end_info_read: record 0 holds the separator code 7\n$"},
      {"short header", head("01000000 01"), "^Error reading file: early termination\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          FILE *f = file_of(c.bytes);
          end_info_read(f);
        },
        testing::ExitedWithCode(1), c.message);
  }
  EXPECT_EXIT(
      {
        FILE *p = pipe_of(head("01000000 01000000 04000000 04000000 01000000 03000000 0001"));
        end_info_read(p);
      },
      testing::ExitedWithCode(1), "^end_info_read: the file ends inside record 0\n$");
}

}  // namespace
