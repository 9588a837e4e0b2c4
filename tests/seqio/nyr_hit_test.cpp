// Hit records: constructors, counts, clipping to a window, and the record
// readers and writers on their own (no file around them).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "common/chunk_arena.h"
#include "nyr_test_data.h"
#include "seqio/nyr_hit.h"
#include "test_support.h"

namespace {

using nyr_test::code_of;
using nyr_test::owned_code;
using nyr_test::StreamOver;
using nyr_test::written_bytes;
using ryx_test::hex_bytes;
using Bytes = std::vector<uint8_t>;

TEST(NyrHit, ConstructorsSetFlagsAndCounts) {
  nyr_match_t *one = nyr_match_new_counted(nullptr, 2, 40, 1, 1, 1, owned_code({3}));
  EXPECT_EQ(one->flags, kNyrMatchReverse);
  EXPECT_EQ(uint32_t(one->stored_count), 0u);
  EXPECT_EQ(one->quality, kNyrNoQuality);
  EXPECT_EQ(nyr_match_get_count(one), 1u);
  EXPECT_EQ(nyr_match_get_end(one), 44u);
  nyr_match_set_count(one, 7);
  EXPECT_EQ(one->flags, kNyrMatchReverse | kNyrMatchCounted);
  EXPECT_EQ(nyr_match_get_count(one), 7u);
  nyr_match_set_count(one, 1);
  EXPECT_EQ(one->flags, kNyrMatchReverse);
  nyr_match_set_paired(one);
  EXPECT_EQ(nyr_match_is_paired(one), 1);
  nyr_match_clear_paired(one);
  EXPECT_EQ(nyr_match_is_paired(one), 0);
  EXPECT_EQ(nyr_match_get_count(nullptr), 0u);
  EXPECT_EQ(nyr_match_next_hit(nullptr), nullptr);

  // Two clipped read bases, 137 matches, ten clipped at the end; the copy
  // lives in the arena, standing alone.
  chunk_arena_t *arena = chunk_arena_new();
  nyr_match_t *ungapped = nyr_match_new_ungapped(arena, 0, 100, 2, 139, 149, 0, 3);
  EXPECT_EQ(uint32_t(ungapped->position), 102u);
  EXPECT_EQ(code_of(ungapped), (Bytes{129, 127, 8, 137}));
  EXPECT_EQ(nyr_match_get_count(ungapped), 3u);
  EXPECT_EQ(nyr_match_leading_insertions(ungapped), 2u);
  EXPECT_EQ(nyr_match_read_span(ungapped), 139u);
  EXPECT_EQ(nyr_match_read_length(ungapped), 149u);
  ungapped->flags |= kNyrMatchMore;
  ungapped->quality = 9;
  nyr_match_t *copy = nyr_match_copy(nullptr, ungapped);
  EXPECT_EQ(copy->flags, kNyrMatchCounted);
  EXPECT_EQ(copy->quality, kNyrNoQuality);
  EXPECT_EQ(code_of(copy), code_of(ungapped));
  EXPECT_NE(static_cast<const void *>(copy->code), static_cast<const void *>(ungapped->code));
  nyr_match_free(copy);

  aligned_pair_t p[] = {{-1, 0}, {50, 1}, {51, -1}, {52, 2}};
  aligned_pair_t *ptrs[] = {&p[0], &p[1], &p[2], &p[3]};
  aligned_pair_list_t pairs{4, ptrs};
  nyr_match_t *from_pairs = nyr_match_new_from_pairs(arena, 1, &pairs, 4, 0, 1);
  EXPECT_EQ(uint32_t(from_pairs->position), 50u);
  EXPECT_EQ(code_of(from_pairs), (Bytes{128, 0, 192, 0, 128}));
  aligned_pair_t gap = {-1, 0};
  aligned_pair_t *gap_ptr[] = {&gap};
  aligned_pair_list_t no_reference{1, gap_ptr};
  EXPECT_EQ(nyr_match_new_from_pairs(arena, 1, &no_reference, 1, 0, 1), nullptr);
  chunk_arena_free(arena);
  nyr_match_free(one);
  EXPECT_EQ(nyr_match_free(nullptr), nullptr);
}

TEST(NyrHit, EscapeMeasures) {
  nyr_match_t *record = nyr_match_new(nullptr, 0, 0, 0, 0, 6, owned_code({3, 255, 2, 4, 255, 9}));
  EXPECT_EQ(nyr_match_escape_count(record), 2u);
  EXPECT_EQ(nyr_match_last_escape_value(record), 9);
  nyr_match_free(record);
  record = nyr_match_new(nullptr, 0, 0, 0, 0, 1, owned_code({3}));
  EXPECT_EQ(nyr_match_escape_count(record), 0u);
  EXPECT_EQ(nyr_match_last_escape_value(record), 0);
  nyr_match_free(record);
}

TEST(NyrHit, ClipToAWindow) {
  struct Case {
    const char *name;
    uint32_t position;
    Bytes code;
    uint32_t contig_length;
    int64_t w0, w1;
    bool none;
    uint32_t position_after;
    Bytes code_after;
  } cases[] = {
      {"head before the window", 95, {9}, 1000, 100, 200, false, 0, {132, 4}},
      {"wholly inside", 120, {9}, 1000, 100, 200, false, 20, {9}},
      {"tail after the window", 195, {9}, 1000, 100, 200, false, 95, {4, 132}},
      {"before the window", 80, {9}, 1000, 100, 200, true, 0, {}},
      {"one contig length on", 1120, {9}, 1000, 100, 200, false, 20, {9}},
      {"deletion outside dropped, escape kept", 96, {1, 193, 255, 2, 3}, 1000, 100, 200, false, 0, {129, 255, 2, 3}},
      {"deletion inside kept", 98, {1, 193, 255, 2, 3}, 1000, 100, 200, false, 0, {129, 193, 255, 2, 3}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    nyr_match_t *record = nyr_match_new(nullptr, 3, c.position, 0x21, 5, static_cast<uint32_t>(c.code.size()),
                                        owned_code(c.code));
    nyr_match_t *clipped = nyr_match_clip(nullptr, record, c.contig_length, c.w0, c.w1);
    if (c.none) {
      EXPECT_EQ(clipped, nullptr);
    } else {
      ASSERT_NE(clipped, nullptr);
      EXPECT_EQ(uint32_t(clipped->contig), 3u);
      EXPECT_EQ(uint32_t(clipped->position), c.position_after);
      EXPECT_EQ(code_of(clipped), c.code_after);
      EXPECT_EQ(clipped->flags & kNyrMatchReverse, kNyrMatchReverse);
    }
    nyr_match_free(clipped);
    nyr_match_free(record);
  }
  // In an arena the rebuilt code lives there too.
  chunk_arena_t *arena = chunk_arena_new();
  nyr_match_t *record = nyr_match_new(arena, 0, 95, 0, 0, 1, owned_code({9}));
  nyr_match_t *clipped = nyr_match_clip(arena, record, 1000, 100, 200);
  EXPECT_EQ(code_of(clipped), (Bytes{132, 4}));
  ryx_free(record->code);
  chunk_arena_free(arena);
}

TEST(NyrHit, HitWriterLimitsTheHitsToTheMatchCount) {
  // Match count 5 and nine records offered: five hits written.
  std::vector<nyr_match_t *> records;
  for (int i = 0; i < 9; i++) records.push_back(nyr_match_new(nullptr, 0, 10u + i, 0x21, 3, 1, owned_code({0})));
  std::vector<const nyr_match_t *> view(records.begin(), records.end());
  const std::string nine = written_bytes([&](FILE *out) { nyr_match_write_hits(out, 1, 100, nullptr, 9, view.data()); });
  EXPECT_EQ(nine, hex_bytes("07 03 03  01 0A 01 00  01 0B 01 00  01 0C 01 00  01 0D 01 00  01 0E 01 00"));
  const std::string one = written_bytes([&](FILE *out) { nyr_match_write_hits(out, 1, 100, nullptr, 1, view.data()); });
  EXPECT_EQ(one, hex_bytes("03 03  01 0A 01 00"));

  StreamOver stream(nine);
  nyr_match_t *first = nyr_match_read(3, stream.get(), nullptr, 1, 100, nullptr, -1);
  EXPECT_EQ(first->flags, 0x21);
  EXPECT_EQ(input_stream_getc(stream.get()), -1);  // the other four skipped
  nyr_match_free(first);
  StreamOver again(nine);
  nyr_match_t *all = nyr_match_read_all(3, again.get(), nullptr, 1, 100, nullptr, -1);
  int hits = 0;
  for (nyr_match_t *hit = all; hit != nullptr; hit = nyr_match_next_hit(hit), hits++)
    EXPECT_EQ(uint32_t(hit->position), 10u + hits);
  EXPECT_EQ(hits, 5);
  nyr_match_free_hits(all);
  for (nyr_match_t *record : records) nyr_match_free(record);
}

TEST(NyrHit, WrapAtAndBeyondTheContigLength) {
  const uint32_t lengths[] = {1000};
  struct Case {
    uint32_t position;
    const char *hex;
  } cases[] = {
      {1000, "01 01 00 00 04 00 09"},
      {1500, "01 01 F4 01 04 00 09"},
      {2500, "01 01 F4 01 04 01 09"},
      {999, "01 01 E7 03 00 09"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.position);
    nyr_match_t *record = nyr_match_new(nullptr, 0, c.position, 0, 0, 1, owned_code({9}));
    const std::string bytes = written_bytes([&](FILE *out) { nyr_match_write(out, 1, 1000, lengths, record); });
    EXPECT_EQ(bytes, hex_bytes(c.hex));
    StreamOver with(bytes);
    nyr_match_t *resolved = nyr_match_read(3, with.get(), nullptr, 1, 1000, lengths, -1);
    EXPECT_EQ(uint32_t(resolved->position), c.position);
    StreamOver without(bytes);
    nyr_match_t *stored = nyr_match_read(3, without.get(), nullptr, 1, 1000, nullptr, -1);
    EXPECT_EQ(uint32_t(stored->position), c.position % 1000);
    EXPECT_EQ(input_stream_getc(without.get()), -1);
    nyr_match_free(resolved);
    nyr_match_free(stored);
    nyr_match_free(record);
  }
}

TEST(NyrHit, SingleAndVersion0Writers) {
  nyr_match_t *record = nyr_match_new(nullptr, 1, 7, 0x61 | kNyrMatchBitA, 4, 2, owned_code({4, 128}));
  record->quality = 12;  // the single writer writes no quality
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_match_write_single(out, 2, 10, record); }),
            hex_bytes("0B 04  02 01 07 01 04 80"));
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_match_write_v0(out, 2, 10, record); }),
            hex_bytes("02 01 07 63 04 04 80"));
  EXPECT_EQ(written_bytes([&](FILE *out) {
              nyr_match_write_single(out, 2, 10, nullptr);
              nyr_match_write_v0(out, 2, 10, nullptr);
              nyr_match_write(out, 2, 10, nullptr, nullptr);
            }),
            hex_bytes("00 00 00"));
  StreamOver stream(hex_bytes("02 01 07 E3 04 04 80"));  // flag 0x80 in a version-0 file
  nyr_match_t *back = nyr_match_read_v0(stream.get(), nullptr, 2, 10, nullptr, -1);
  EXPECT_EQ(back->flags, 0x63);
  EXPECT_EQ(back->quality, kNyrNoQuality);
  EXPECT_EQ(nyr_match_get_count(back), 6u);
  EXPECT_EQ(nyr_match_next_hit(back), nullptr);
  nyr_match_free(back);
  nyr_match_free(record);
}

void limit_memory() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  struct rlimit limit = {256u << 20, 256u << 20};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

TEST(NyrHitDeath, RecordsEndingEarlyOrClaimingTooMuch) {
  struct Case {
    const char *name;
    const char *hex;
    int version;
    int status;
    const char *message;
  } cases[] = {
      {"code cut, version 3", "01 05 00 00 09 09", 3, 1, "^Error reading assembly file: early termination in match\n$"},
      {"code cut, version 0", "05 00 00 00 09", 0, 1, "^Error reading assembly file: early termination in match\n$"},
      {"second hit's code cut", "07 00 00  01 00 00 00 09  05 00 00 00 09", 3, 1,
       "^Error reading assembly file: early termination in match\n$"},
      {"huge code length", "01 FF FFFFFFFF 00 00 00 09", 3, 1,
       "^Error reading assembly file: early termination in match\n$"},
      {"huge hit count", "07 00 FF FFFFFFFF 01 00 00 00 09", 3, 1, "^Error reading file: early termination\n$"},
      {"hit field cut", "01 01 00", 3, 1, "^Error reading file: early termination\n$"},
      {"contig index beyond the count", "01 01 05 00 00 09", 3, 65, "^Error reading assembly file\n$"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = hex_bytes(c.hex);
    EXPECT_EXIT(
        {
          limit_memory();
          StreamOver stream(bytes);
          nyr_match_read_all(c.version, stream.get(), nullptr, 2, 256, nullptr, -1);
        },
        testing::ExitedWithCode(c.status), c.message);
  }
}

}  // namespace
