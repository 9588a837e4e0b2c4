// Result slots: score raising, adding, replacing in step, counting and the
// random reduction; the slot encoding against hand-written bytes and in
// round trips over the width rule (1, 256, 257 and 300 references),
// scores-only, over-full and report-limited slots; damaged encodings.
#include "refmap/alignment_info.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/array_list.h"
#include "common/chunk_arena.h"
#include "common/random_state.h"
#include "map_fixture.h"

namespace {

using ryx_test::make_hit;

// A context and an empty one-read batch whose read has the given length.
struct SlotBench {
  explicit SlotBench(int32_t read_length, ryx_test::ContextShape shape = {}) : reads({read_length}) {
    shape.file_counts = {1};
    context = ryx_test::make_context(reads.db(), shape);
    batch = read_batch_new(context, 0, 1);
    batch->read_count = 1;
    batch->slot_count = 1;
    slot()->read = reads.db()->get(reads.db(), 0);
    slot()->read_index = 0;
  }
  ~SlotBench() {
    slot()->read = nullptr;  // the database owns it
    read_batch_free(batch);
    map_context_free(context);
  }
  alignment_info_t *slot() { return &batch->slots[0]; }

  ryx_test::ReadSet reads;
  map_context_t *context;
  read_batch_t *batch;
};

std::vector<uint8_t> encode(const map_context_t *context, const alignment_info_t *slot) {
  array_list_t *list = array_list_new(1);
  alignment_info_encode(context, slot, list);
  std::vector<uint8_t> out(list->items, list->items + list->count);
  array_list_free(list);
  return out;
}

// Decodes bytes into a fresh slot of bench (same read).
void decode_into(SlotBench &bench, const std::vector<uint8_t> &bytes) {
  seq_record_t *read = bench.slot()->read;
  *bench.slot() = alignment_info_t{};
  bench.slot()->read = read;
  int32_t cursor = 0;
  alignment_info_decode(bench.context, bench.batch, bench.slot(), bytes.data(), &cursor,
                        static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(cursor, static_cast<int32_t>(bytes.size()));
}

struct HitView {
  int32_t sequence, offset;
  uint8_t flags;
  std::vector<uint8_t> code;
  bool operator==(const HitView &) const = default;
};

std::vector<HitView> hits_of(const alignment_info_t *slot, int32_t n) {
  std::vector<HitView> out;
  for (int32_t i = 0; i < n; i++) {
    const alignment_hit_t *h = slot->hits[i];
    out.push_back({h->sequence, h->offset, h->flags, std::vector<uint8_t>(h->code, h->code + h->code_length)});
  }
  return out;
}

TEST(AlignmentInfo, RaisingAScoreDropsTheHitsRaisingAPrescoreAlsoTheScore) {
  SlotBench b(30, {.report_limit = 3});
  std::vector<uint8_t> code = {0x1D};
  alignment_hit_t hit = make_hit(1, 10, 0, code);
  alignment_info_raise_score(b.slot(), 20);
  alignment_info_add_hit(b.batch, b.slot(), &hit, 3);
  alignment_info_add_hit(b.batch, b.slot(), &hit, 3);
  alignment_info_raise_score(b.slot(), 20);  // equal: nothing changes
  EXPECT_EQ(b.slot()->hit_count, 2);
  alignment_info_raise_score(b.slot(), 19);  // lower: nothing changes
  EXPECT_EQ(b.slot()->best_score, 20);
  alignment_info_raise_score(b.slot(), 25);
  EXPECT_EQ(b.slot()->hit_count, 0);
  EXPECT_EQ(alignment_info_stored_count(b.slot(), 3), 0);
  EXPECT_EQ(b.slot()->best_score, 25);

  alignment_info_add_hit(b.batch, b.slot(), &hit, 3);
  alignment_info_raise_prescore(b.slot(), 12);
  EXPECT_EQ(b.slot()->best_prescore, 12);
  EXPECT_EQ(b.slot()->best_score, 0);
  EXPECT_EQ(b.slot()->hit_count, 0);
  alignment_info_raise_score(b.slot(), 9);
  alignment_info_raise_prescore(b.slot(), 12);  // equal keeps the score
  EXPECT_EQ(b.slot()->best_score, 9);
}

TEST(AlignmentInfo, AddingPastTheLimitMakesTheSlotOverFullUntilReduced) {
  SlotBench b(30, {.report_limit = 2});
  std::vector<std::vector<uint8_t>> codes;
  for (int i = 0; i < 5; i++) codes.push_back({static_cast<uint8_t>(i)});
  for (int i = 0; i < 5; i++) {
    alignment_hit_t hit = make_hit(i, 100 * i, 0, codes[i]);
    alignment_info_add_hit(b.batch, b.slot(), &hit, 2);
    EXPECT_EQ(b.slot()->flags & kAlignmentInfoOverFull, i >= 2 ? kAlignmentInfoOverFull : 0) << i;
    EXPECT_EQ(alignment_info_stored_count(b.slot(), 2), i >= 2 ? i + 1 : i + 1) << i;
  }
  // The hits were copied: changing the caller's code does not reach them.
  codes[0][0] = 99;
  EXPECT_EQ(b.slot()->hits[0]->code[0], 0);
  alignment_info_reduce(b.batch, b.slot(), 2);
  EXPECT_EQ(b.slot()->flags & kAlignmentInfoOverFull, 0);
  EXPECT_EQ(b.slot()->hit_count, 5);
  EXPECT_EQ(alignment_info_stored_count(b.slot(), 2), 2);
  EXPECT_NE(b.slot()->hits[0]->sequence, b.slot()->hits[1]->sequence);
  // Reducing a slot that is not over-full changes nothing.
  const alignment_hit_t *first = b.slot()->hits[0];
  alignment_info_reduce(b.batch, b.slot(), 2);
  EXPECT_EQ(b.slot()->hits[0], first);
}

TEST(AlignmentInfo, ReductionKeepsEachHitWithEqualChance) {
  // R = 1 over three hits: each must be kept about a third of the time.
  SlotBench b(30, {.report_limit = 1});
  std::vector<uint8_t> code = {0x1D};
  int kept[3] = {0, 0, 0};
  constexpr int kTrials = 3000;
  for (int t = 0; t < kTrials; t++) {
    alignment_info_clear(b.slot());
    for (int i = 0; i < 3; i++) {
      alignment_hit_t hit = make_hit(i, i, 0, code);
      alignment_info_add_hit(b.batch, b.slot(), &hit, 1);
    }
    alignment_info_reduce(b.batch, b.slot(), 1);
    ASSERT_EQ(alignment_info_stored_count(b.slot(), 1), 1);
    ASSERT_EQ(b.slot()->hit_count, 3);
    kept[b.slot()->hits[0]->sequence]++;
  }
  for (int i = 0; i < 3; i++) {
    EXPECT_GT(kept[i], kTrials / 3 - 150) << i;
    EXPECT_LT(kept[i], kTrials / 3 + 150) << i;
  }
}

TEST(AlignmentInfo, ReductionFollowsTheBatchGenerator) {
  // Partial Fisher-Yates: draw d in [0, n - i) swaps hit i with hit i + d.
  SlotBench b(30, {.report_limit = 3});
  std::vector<uint8_t> code = {0x01};
  for (int i = 0; i < 9; i++) {
    alignment_hit_t hit = make_hit(i, 0, 0, code);
    alignment_info_add_hit(b.batch, b.slot(), &hit, 3);
  }
  random_state_free(b.batch->random);
  b.batch->random = random_state_new_seeded(77);
  RandomState *model = random_state_new_seeded(77);
  std::vector<int32_t> order = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < 3; i++) {
    const uint32_t d = random_state_draw_ranged32(model, static_cast<uint32_t>(9 - i));
    std::swap(order[i], order[i + d]);
  }
  random_state_free(model);
  alignment_info_reduce(b.batch, b.slot(), 3);
  for (int i = 0; i < 3; i++) EXPECT_EQ(b.slot()->hits[i]->sequence, order[i]) << i;
}

TEST(AlignmentInfo, ReplacementSharesOneIndexBetweenTwoPairSlots) {
  // Two slots of one batch hold the halves of the same pairs at equal
  // places; a replacement with a shared index keeps them in step.
  SlotBench b(30, {.report_limit = 2});
  alignment_info_t other{};
  std::vector<uint8_t> code = {0x1D};
  for (int k = 0; k < 2; k++) {
    int32_t index = -1;
    alignment_hit_t ha = make_hit(k, 0, 0, code), hb = make_hit(k, 500, 1, code);
    alignment_info_replace_hit(b.batch, b.slot(), &ha, 2, &index);
    alignment_info_replace_hit(b.batch, &other, &hb, 2, &index);
    EXPECT_EQ(index, -1) << "below the limit the hits are appended";
  }
  for (int round = 0; round < 20; round++) {
    int32_t index = -1;
    std::vector<uint8_t> longer = {0x05, 0x81, 0x10};
    alignment_hit_t ha = make_hit(10 + round, 0, 0, longer), hb = make_hit(10 + round, 500, 1, longer);
    alignment_info_replace_hit(b.batch, b.slot(), &ha, 2, &index);
    alignment_info_replace_hit(b.batch, &other, &hb, 2, &index);
    ASSERT_GE(index, 0);
    ASSERT_LT(index, 2);
    EXPECT_EQ(b.slot()->hits[index]->sequence, 10 + round);
    EXPECT_EQ(b.slot()->hits[index]->code_length, 3);
    for (int i = 0; i < 2; i++) EXPECT_EQ(b.slot()->hits[i]->sequence, other.hits[i]->sequence) << round;
  }
  EXPECT_EQ(b.slot()->hit_count, 22);
  EXPECT_EQ(other.hit_count, 22);
  EXPECT_EQ(alignment_info_stored_count(b.slot(), 2), 2);
  EXPECT_EQ(b.slot()->flags & kAlignmentInfoOverFull, 0);
}

TEST(AlignmentInfo, CountingAnOverFullSlotReducesItFirst) {
  SlotBench b(30, {.report_limit = 2});
  std::vector<uint8_t> code = {0x1D};
  for (int i = 0; i < 4; i++) {
    alignment_hit_t hit = make_hit(i, 0, 0, code);
    alignment_info_add_hit(b.batch, b.slot(), &hit, 2);
  }
  alignment_info_count_hit(b.batch, b.slot(), 2);
  EXPECT_EQ(b.slot()->hit_count, 5);
  EXPECT_EQ(b.slot()->flags & kAlignmentInfoOverFull, 0);
  // The encoding stays readable: count 5 and two hits.
  std::vector<uint8_t> bytes = encode(b.context, b.slot());
  decode_into(b, bytes);
  EXPECT_EQ(b.slot()->hit_count, 5);
  EXPECT_EQ(alignment_info_stored_count(b.slot(), 2), 2);
}

TEST(AlignmentInfo, EncodedSlotMatchesTheLayoutBytes) {
  // 300 references: 2-byte index; longest 70,000: 3-byte offset; read of
  // 30 bases: 1-byte scores; pre-scores stored; R = 2 of 3 hits.
  SlotBench b(30, {.report_limit = 2, .reference_count = 300, .longest_reference = 70000, .prescore = 1});
  std::vector<uint8_t> ca = {0x1D}, cb = {0x0A, 0x81, 0x11};
  alignment_info_raise_prescore(b.slot(), 25);
  alignment_info_raise_score(b.slot(), 28);
  alignment_hit_t ha = make_hit(257, 65536, 1, ca), hb = make_hit(5, 1000, 0, cb);
  int32_t index = -1;
  alignment_info_replace_hit(b.batch, b.slot(), &ha, 2, &index);
  alignment_info_replace_hit(b.batch, b.slot(), &hb, 2, &index);
  alignment_info_count_hit(b.batch, b.slot(), 2);
  const std::string expected = ryx_test::hex_bytes(
      "03 00 1C 19"            // count 3, flags 0, best score 28, best pre-score 25
      "01 01 00 00 01 01 01 1D"  // reference 257, offset 65536, reverse, code length 1, code
      "05 00 E8 03 00 00 03 0A 81 11");
  std::vector<uint8_t> bytes = encode(b.context, b.slot());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
  decode_into(b, std::vector<uint8_t>(expected.begin(), expected.end()));
  EXPECT_EQ(b.slot()->hit_count, 3);
  EXPECT_EQ(b.slot()->best_score, 28);
  EXPECT_EQ(b.slot()->best_prescore, 25);
  EXPECT_EQ(hits_of(b.slot(), 2), (std::vector<HitView>{{257, 65536, 1, ca}, {5, 1000, 0, cb}}));
}

TEST(AlignmentInfo, ScoresOnlyAndEmptySlotsEncodeShort) {
  SlotBench b(30, {.prescore = 1});
  EXPECT_EQ(encode(b.context, b.slot()), (std::vector<uint8_t>{0x00}));
  // A better pre-score dropped the hits: the scores survive a round trip.
  alignment_info_raise_prescore(b.slot(), 17);
  EXPECT_EQ(encode(b.context, b.slot()), (std::vector<uint8_t>{0x01, 0x40, 0x00, 0x11}));
  alignment_info_raise_score(b.slot(), 21);
  std::vector<uint8_t> bytes = encode(b.context, b.slot());
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x01, 0x40, 0x15, 0x11}));
  decode_into(b, bytes);
  EXPECT_EQ(b.slot()->hit_count, 0);
  EXPECT_EQ(b.slot()->best_score, 21);
  EXPECT_EQ(b.slot()->best_prescore, 17);
  // A slot without a read is empty whatever it holds.
  seq_record_t *read = b.slot()->read;
  b.slot()->read = nullptr;
  EXPECT_EQ(encode(b.context, b.slot()), (std::vector<uint8_t>{0x00}));
  b.slot()->read = read;
}

TEST(AlignmentInfo, WithoutPrescoresOnlyAPositiveScoreIsKept) {
  SlotBench b(30);
  alignment_info_raise_prescore(b.slot(), 17);
  EXPECT_EQ(encode(b.context, b.slot()), (std::vector<uint8_t>{0x00}));
  alignment_info_raise_score(b.slot(), 3);
  EXPECT_EQ(encode(b.context, b.slot()), (std::vector<uint8_t>{0x01, 0x40, 0x03}));
}

TEST(AlignmentInfo, RoundTripsOverTheWidthRule) {
  struct Case {
    int32_t references, longest, read_length, report_limit, hits;
    bool reduce;
    size_t hit_bytes;  // index + offset widths
  };
  const Case cases[] = {
      {1, 1, 15, 1, 1, false, 0},         // one reference of one base: both fields vanish
      {256, 256, 55, 3, 3, false, 2},
      {257, 257, 55, 3, 5, true, 4},       // 257 references: 2-byte index and offset
      {300, 65537, 40, 10, 12, false, 5},  // over-full: every hit stored
      {300, 100000, 255, 2, 7, true, 5},   // 255 bases still score in one byte
      {2, 1 << 24, 20, 1, 7, true, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.references << " refs, longest " << c.longest << ", " << c.hits << " hits");
    SlotBench b(c.read_length, {.report_limit = c.report_limit,
                                .reference_count = c.references,
                                .longest_reference = c.longest,
                                .prescore = 1});
    alignment_info_raise_prescore(b.slot(), c.read_length - 1);
    alignment_info_raise_score(b.slot(), c.read_length);
    std::vector<std::vector<uint8_t>> codes;
    for (int i = 0; i < c.hits; i++) codes.push_back(std::vector<uint8_t>(1 + i % 4, static_cast<uint8_t>(i)));
    for (int i = 0; i < c.hits; i++) {
      alignment_hit_t hit = make_hit((i * 7) % c.references, (c.longest - 1 - i * 13 % c.longest), i & 1, codes[i]);
      alignment_info_add_hit(b.batch, b.slot(), &hit, c.report_limit);
    }
    if (c.reduce) alignment_info_reduce(b.batch, b.slot(), c.report_limit);
    const int32_t stored = alignment_info_stored_count(b.slot(), c.report_limit);
    EXPECT_EQ(stored, c.reduce ? std::min(c.hits, c.report_limit) : c.hits);
    const std::vector<HitView> before = hits_of(b.slot(), stored);
    std::vector<uint8_t> bytes = encode(b.context, b.slot());
    size_t code_bytes = 0;
    for (const HitView &h : before) code_bytes += h.code.size();
    const size_t score_bytes = c.read_length + 1 > 256 ? 2 : 1;
    const size_t count_bytes = c.hits < 254 ? 1 : 3;
    EXPECT_EQ(bytes.size(), count_bytes + 1 + 2 * score_bytes + stored * (c.hit_bytes + 2) + code_bytes);
    const uint8_t flags = b.slot()->flags;
    decode_into(b, bytes);
    EXPECT_EQ(b.slot()->hit_count, c.hits);
    EXPECT_EQ(b.slot()->flags, flags);
    EXPECT_EQ(b.slot()->best_score, c.read_length);
    EXPECT_EQ(b.slot()->best_prescore, c.read_length - 1);
    EXPECT_EQ(hits_of(b.slot(), alignment_info_stored_count(b.slot(), c.report_limit)), before);
  }
}

TEST(AlignmentInfo, ReportLimitOfOneWithSevenHitsStoresOne) {
  SlotBench b(30, {.report_limit = 1});
  std::vector<uint8_t> code = {0x1D};
  alignment_info_raise_score(b.slot(), 30);
  int32_t index = -1;
  for (int i = 0; i < 7; i++) {
    alignment_hit_t hit = make_hit(i % 4, i, 0, code);
    index = -1;
    alignment_info_replace_hit(b.batch, b.slot(), &hit, 1, &index);
  }
  std::vector<uint8_t> bytes = encode(b.context, b.slot());
  EXPECT_EQ(bytes.size(), 3u + 6u);  // count, flags, score, then one hit of 6 bytes
  EXPECT_EQ(bytes[0], 7);
  decode_into(b, bytes);
  EXPECT_EQ(b.slot()->hit_count, 7);
  EXPECT_EQ(alignment_info_stored_count(b.slot(), 1), 1);
}

TEST(AlignmentInfo, MoveCarriesHitsAndReverseIntoAnotherArena) {
  SlotBench b(30, {.report_limit = 4});
  std::vector<uint8_t> code = {0x1D, 0x80};
  b.slot()->reverse = seq_record_copy_to_arena(b.batch->arena, b.slot()->read);
  alignment_info_raise_score(b.slot(), 29);
  for (int i = 0; i < 3; i++) {
    alignment_hit_t hit = make_hit(i, 10 * i, 0, code);
    alignment_info_add_hit(b.batch, b.slot(), &hit, 4);
  }
  read_batch_t *target = read_batch_new(b.context, 0, 1);
  target->read_count = 1;
  target->slot_count = 1;
  alignment_info_move(target, &target->slots[0], b.slot());
  seq_record_t *read = target->slots[0].read;
  EXPECT_NE(read, nullptr);
  EXPECT_EQ(b.slot()->read, nullptr);
  EXPECT_EQ(b.slot()->hit_count, 0);
  EXPECT_EQ(b.slot()->read_index, 0);
  // The source arena goes; the moved slot still reads its hits.
  chunk_arena_free(b.batch->arena);
  b.batch->arena = chunk_arena_new();
  EXPECT_EQ(target->slots[0].hit_count, 3);
  EXPECT_EQ(target->slots[0].best_score, 29);
  EXPECT_EQ(hits_of(&target->slots[0], 3),
            (std::vector<HitView>{{0, 0, 0, code}, {1, 10, 0, code}, {2, 20, 0, code}}));
  EXPECT_EQ(target->slots[0].reverse->length, 30u);
  target->slots[0].read = nullptr;  // the database owns it
  read_batch_free(target);
  b.slot()->read = read;
}

TEST(AlignmentInfoDeathTest, ReducingAnOverFullSlotWithTooFewHitsStops) {
  SlotBench b(30, {.report_limit = 3});
  std::vector<uint8_t> code = {0x1D};
  alignment_hit_t hit = make_hit(0, 0, 0, code);
  alignment_info_add_hit(b.batch, b.slot(), &hit, 3);
  b.slot()->flags |= kAlignmentInfoOverFull;
  EXPECT_EXIT(alignment_info_reduce(b.batch, b.slot(), 3), testing::ExitedWithCode(1), "alignment_info_reduce error");
}

TEST(AlignmentInfoDeathTest, DamagedEncodingsStop) {
  SlotBench b(30, {.report_limit = 2});
  const std::vector<std::vector<uint8_t>> damaged = {
      {0x02, 0x00, 0x1E, 0x01, 0x00, 0x00, 0x05, 0x1D},  // code length 5 past the end
      {0x02, 0x00},                                      // ends before the score
      {0xFE, 0x10},                                      // flex number cut short
      {0x09, 0x00, 0x1E},                                // claims hits that are not there
  };
  for (const auto &bytes : damaged) {
    EXPECT_EXIT(
        {
          int32_t cursor = 0;
          alignment_info_decode(b.context, b.batch, b.slot(), bytes.data(), &cursor,
                                static_cast<int32_t>(bytes.size()));
        },
        testing::ExitedWithCode(1), "Error reading temporary file");
  }
  // Hits for an absent read.
  const std::vector<uint8_t> bytes = {0x01, 0x40, 0x05};
  b.slot()->read = nullptr;
  EXPECT_EXIT(
      {
        int32_t cursor = 0;
        alignment_info_decode(b.context, b.batch, b.slot(), bytes.data(), &cursor, 3);
      },
      testing::ExitedWithCode(1), "Error reading temporary file");
}

}  // namespace
