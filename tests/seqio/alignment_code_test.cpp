// Alignment codes: builder run rules, reversal, truncation, the iterator,
// the decoders, end clipping, indel collapsing, the byte-list builders and
// the similarity measures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/array_list.h"
#include "common/memory.h"
#include "seqio/alignment_code.h"
#include "seqio/seq_record.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(alignment_code_t *code) {
  uint8_t *b = alignment_code_get_bytes(code);
  return Bytes(b, b + alignment_code_get_length(code));
}

// Every op the iterator yields, the arguments included.
std::vector<int> walk(const Bytes &code) {
  alignment_code_iter_t *iter = alignment_code_iter_new();
  alignment_code_iter_init(iter, static_cast<int32_t>(code.size()), code.data());
  std::vector<int> ops;
  for (int op; (op = alignment_code_iter_next(iter)) != kCodeOpEnd;) {
    ops.push_back(op);
    if (op == kCodeOpEscape) ops.push_back(alignment_code_iter_next(iter));
  }
  alignment_code_iter_free(iter);
  return ops;
}

TEST(AlignmentCodeBuilder, RunsFillTheirByteThenStartANewOne) {
  struct Case {
    const char *name;
    int op;
    int32_t columns;
    Bytes expected;
  } cases[] = {
      {"130 matches", kCodeOpMatch, 130, {127, 1}},
      {"128 matches fill one byte", kCodeOpMatch, 128, {127}},
      {"64 insertions", kCodeOpInsertion, 64, {191}},
      {"65 insertions", kCodeOpInsertion, 65, {191, 128}},
      {"63 deletions", kCodeOpDeletion, 63, {254}},
      {"64 deletions", kCodeOpDeletion, 64, {254, 192}},
      {"300 matches", kCodeOpMatch, 300, {127, 127, 43}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    alignment_code_t *one = alignment_code_new();
    for (int32_t i = 0; i < c.columns; i++) alignment_code_add(one, c.op);
    alignment_code_t *run = alignment_code_new();
    alignment_code_add_run(run, c.op, c.columns);
    EXPECT_EQ(bytes_of(one), c.expected);
    EXPECT_EQ(bytes_of(run), c.expected);
    EXPECT_EQ(one->column_count, c.columns);
    EXPECT_EQ(run->column_count, c.columns);
    alignment_code_free(one);
    alignment_code_free(run);
  }
}

TEST(AlignmentCodeBuilder, RunsExtendAPartialByteAndMixKinds) {
  alignment_code_t *code = alignment_code_new();
  EXPECT_EQ(alignment_code_is_empty(code), 1);
  alignment_code_add_run(code, kCodeOpMatch, 100);
  alignment_code_add_run(code, kCodeOpMatch, 40);  // fills 99 up to 127, then 12 more
  alignment_code_add(code, kCodeOpInsertion);
  alignment_code_add_run(code, kCodeOpInsertion, 2);
  alignment_code_add(code, kCodeOpDeletion);
  alignment_code_add_run(code, kCodeOpMatch, 0);  // nothing
  EXPECT_EQ(bytes_of(code), (Bytes{127, 11, 130, 192}));
  EXPECT_EQ(code->column_count, 144);
  alignment_code_free(code);
}

TEST(AlignmentCodeBuilder, EscapeArgumentEndsTheRun) {
  alignment_code_t *code = alignment_code_new();
  alignment_code_add(code, kCodeOpEscape);
  alignment_code_add(code, 9);  // the argument, even though 9 is a match byte
  alignment_code_add(code, kCodeOpMatch);
  alignment_code_add(code, kCodeOpMatch);
  EXPECT_EQ(bytes_of(code), (Bytes{255, 9, 1}));
  EXPECT_EQ(code->column_count, 2);
  alignment_code_free(code);

  // A run after an argument starts a byte too.
  code = alignment_code_new();
  alignment_code_add(code, kCodeOpMatch);
  alignment_code_add(code, kCodeOpEscape);
  alignment_code_add(code, 2);
  alignment_code_add_run(code, kCodeOpMatch, 3);
  EXPECT_EQ(bytes_of(code), (Bytes{0, 255, 2, 2}));
  alignment_code_free(code);
}

TEST(AlignmentCodeBuilder, GrowsPastItsFirstCapacity) {
  alignment_code_t *code = alignment_code_new();
  for (int i = 0; i < 100; i++) {
    alignment_code_add(code, kCodeOpMatch);
    alignment_code_add(code, kCodeOpInsertion);
  }
  ASSERT_EQ(code->length, 200);
  EXPECT_GE(code->capacity, 200);
  for (int i = 0; i < 200; i++) ASSERT_EQ(code->bytes[i], i % 2 == 0 ? 0 : 128) << i;
  alignment_code_free(code);
}

TEST(AlignmentCodeBuilderDeath, UnknownOps) {
  EXPECT_EXIT(
      {
        alignment_code_t *code = alignment_code_new();
        alignment_code_add(code, 5);
      },
      testing::ExitedWithCode(1), "^Wrong match type\n$");
  EXPECT_EXIT(
      {
        alignment_code_t *code = alignment_code_new();
        alignment_code_add_run(code, 4, 3);
      },
      testing::ExitedWithCode(1), "^Wrong multi match type\n$");
}

TEST(AlignmentCodeReverse, RestoresCanonicalOrderAndMovesThePosition) {
  alignment_code_t *code = alignment_code_new();
  alignment_code_reset(code, 1000, 0);
  for (uint8_t b : {127, 5, 255, 2, 130}) alignment_code_push_byte(code, b);
  alignment_code_reverse(code);
  EXPECT_EQ(Bytes(code->bytes, code->bytes + code->length), (Bytes{130, 255, 2, 127, 5}));
  EXPECT_EQ(code->reference_position, 1000 - 134);
  EXPECT_EQ(code->reversed_pending, 1);
  alignment_code_free(code);

  // Runs of full and partial bytes of each kind.
  Bytes b = {254, 254, 3, 191, 130, 127, 127, 0};
  alignment_code_reverse_bytes(static_cast<int32_t>(b.size()), b.data());
  EXPECT_EQ(b, (Bytes{127, 127, 0, 191, 130, 3, 254, 254}));
}

TEST(AlignmentCodeReverse, CodeCollectedBackwardsReadsForwards) {
  // Columns appended from the end of the alignment towards its start.
  alignment_code_t *code = alignment_code_new();
  alignment_code_reset(code, 500, 1);
  alignment_code_add_run(code, kCodeOpMatch, 3);     // the last three columns
  alignment_code_add_run(code, kCodeOpDeletion, 2);
  alignment_code_add_run(code, kCodeOpMatch, 130);   // the first 130
  EXPECT_EQ(alignment_code_get_position(code), 500 - 135);
  EXPECT_EQ(bytes_of(code), (Bytes{127, 1, 193, 2}));
  EXPECT_EQ(code->reversed_pending, 0);
  // Reading again applies nothing more.
  EXPECT_EQ(alignment_code_get_position(code), 365);
  alignment_code_free(code);
}

TEST(AlignmentCodeTruncate, KeepsTheFirstColumns) {
  struct Case {
    Bytes code;
    int32_t columns;
    Bytes expected;
  } cases[] = {
      {{2, 130}, 3, {2}},
      {{2, 130}, 4, {2, 128}},
      {{2, 130}, 0, {}},
      {{2, 130}, 10, {2, 130}},
      {{255, 1, 4, 192}, 2, {255, 1, 1}},
  };
  for (const Case &c : cases) {
    alignment_code_t *code = alignment_code_new();
    for (uint8_t b : c.code) alignment_code_push_byte(code, b);
    EXPECT_EQ(alignment_code_truncate(code, c.columns), static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(Bytes(code->bytes, code->bytes + code->length), c.expected);
    alignment_code_free(code);
  }
}

TEST(AlignmentCodeTruncate, TrimEndDropsTheLastColumns) {
  alignment_code_t *code = alignment_code_new();
  alignment_code_reset(code, 40, 0);
  alignment_code_add_run(code, kCodeOpMatch, 5);
  alignment_code_add_run(code, kCodeOpInsertion, 3);
  alignment_code_trim_end(code, 4);
  EXPECT_EQ(bytes_of(code), (Bytes{3}));
  EXPECT_EQ(code->column_count, 4);
  EXPECT_EQ(code->reference_position, 40);
  alignment_code_trim_end(code, 9);  // more than there are
  EXPECT_EQ(code->length, 0);
  EXPECT_EQ(code->column_count, 0);
  EXPECT_EQ(code->reference_position, 0);
  alignment_code_free(code);
}

TEST(AlignmentCodeIterator, YieldsColumnsEscapesAndLongDeletions) {
  EXPECT_EQ(walk({2, 255, 9, 192}), (std::vector<int>{1, 1, 1, 4, 9, 3}));
  EXPECT_EQ(walk({255, 4, 0x2C, 0x01}), std::vector<int>(301, 3));
  std::vector<int> long32 = walk({0, 255, 5, 0x03, 0, 0, 0, 128});
  std::vector<int> expected = {1, 3, 3, 3, 3, 2};
  EXPECT_EQ(long32, expected);
  EXPECT_EQ(walk({}), std::vector<int>{});
}

TEST(AlignmentCodeIterator, CutCodesEndWithoutReadingPastThem) {
  // A marker without its argument, and long deletions without their count.
  EXPECT_EQ(walk({0, 255}), (std::vector<int>{1, 4, 0}));
  EXPECT_EQ(walk({0, 255, 4, 0x10}), (std::vector<int>{1}));
  EXPECT_EQ(walk({255, 5, 1, 0, 0}), std::vector<int>{});
}

TEST(AlignmentCodeDecoders, MeasureReferenceReadAndSpans) {
  struct Case {
    const char *name;
    Bytes code;
    uint32_t reference, read, leading, span;
  } cases[] = {
      {"matches only", {9}, 10, 10, 0, 10},
      {"clipped both ends", {130, 9, 193, 4, 131}, 17, 22, 3, 18},
      {"escape passed over", {129, 255, 200, 0, 255, 1, 192}, 2, 3, 2, 3},
      {"insertions only", {191, 128}, 0, 65, 65, 0},
      {"deletion at the start", {192, 128, 0}, 2, 2, 0, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t n = static_cast<int32_t>(c.code.size());
    EXPECT_EQ(alignment_code_reference_length(n, c.code.data()), c.reference);
    EXPECT_EQ(alignment_code_read_length(n, c.code.data()), c.read);
    EXPECT_EQ(alignment_code_leading_insertions(n, c.code.data()), c.leading);
    EXPECT_EQ(alignment_code_read_span(n, c.code.data()), c.span);
  }
}

TEST(AlignmentCodeClipEnd, TurnsTrailingReferenceColumnsIntoInsertions) {
  struct Case {
    const char *name;
    Bytes code;
    int32_t n;
    Bytes expected;
  } cases[] = {
      {"deletion removed, match shortened", {9, 192}, 2, {8, 128}},
      {"whole match byte", {4, 127}, 128, {4, 191, 191}},
      {"trailing insertions gathered", {9, 130, 1, 129}, 2, {9, 134}},
      {"nothing to clip", {9}, 0, {9}},
      {"long deletion shortened", {3, 200}, 4, {3, 196}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Bytes buffer = c.code;
    buffer.resize(2 * c.code.size() + 1, 0xEE);
    const int32_t length = alignment_code_clip_end(static_cast<int32_t>(c.code.size()), buffer.data(), c.n);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), c.expected);
  }
}

TEST(AlignmentCodeCollapse, PairsInsertionsWithDeletionsBetweenMatches) {
  struct Case {
    const char *name;
    Bytes code;
    Bytes expected;
  } cases[] = {
      {"equal blocks become matches", {4, 130, 194, 4}, {12}},
      {"more deletions", {4, 193, 128, 4}, {5, 192, 4}},
      {"more insertions, after the last match", {4, 131, 192}, {5, 130}},
      {"lone block kept", {4, 130, 4}, {4, 130, 4}},
      {"leading block kept as it is", {130, 192, 4}, {130, 192, 4}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    alignment_code_t *code = alignment_code_new();
    for (uint8_t b : c.code) alignment_code_push_byte(code, b);
    alignment_code_collapse_indels(code);
    EXPECT_EQ(bytes_of(code), c.expected);
    alignment_code_free(code);
  }
}

TEST(AlignmentCodePrint, ShowsGapsOfEachSide) {
  testing::internal::CaptureStdout();
  alignment_code_print(4, Bytes{1, 129, 255, 3}.data());
  alignment_code_t *code = alignment_code_new();
  alignment_code_add(code, kCodeOpDeletion);
  alignment_code_add(code, kCodeOpMatch);
  alignment_code_print_builder(code);
  alignment_code_free(code);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "##--*\n####*\n##\n-#\n");
}

TEST(AlignmentCodeLists, AddOpAndBuildersFromPairsAndUngappedHits) {
  array_list_t *list = array_list_new(1);
  for (int op : {2, 2, 1, 1, 3, 7, 1}) alignment_code_list_add_op(list, op);
  const uint8_t *items = static_cast<uint8_t *>(array_list_get_item(list, 0));
  EXPECT_EQ(Bytes(items, items + array_list_get_count(list)), (Bytes{129, 1, 192, 1}));
  array_list_free(list);

  // Read bases 0 and 1 clipped, 2-3 aligned, a deletion, 4 aligned, an
  // insertion (5), 6 aligned, then 7-9 clipped.
  aligned_pair_t p[] = {{10, 2}, {11, 3}, {12, -1}, {13, 4}, {-1, 5}, {14, 6}};
  aligned_pair_t *ptrs[] = {&p[0], &p[1], &p[2], &p[3], &p[4], &p[5]};
  aligned_pair_list_t pairs{6, ptrs};
  int32_t length = -1;
  uint8_t *code = alignment_code_from_pairs(&pairs, 10, &length);
  EXPECT_EQ(Bytes(code, code + length), (Bytes{129, 1, 192, 0, 128, 0, 130}));
  ryx_free(code);
  aligned_pair_list_t empty{0, nullptr};
  EXPECT_EQ(alignment_code_from_pairs(&empty, 10, &length), nullptr);
  EXPECT_EQ(length, 0);

  code = alignment_code_clipped_ungapped(3, 140, 150, &length);
  EXPECT_EQ(Bytes(code, code + length), (Bytes{130, 127, 8, 137}));
  ryx_free(code);
}

// Packs codes 2 bits per base, lowest bits first.
Bytes pack(const std::vector<int> &codes) {
  Bytes packed((codes.size() + 3) / 4, 0);
  for (size_t i = 0; i < codes.size(); i++) packed[i / 4] |= static_cast<uint8_t>(codes[i] << (2 * (i % 4)));
  return packed;
}

seq_record_t *record_of(const std::vector<int> &codes) {
  seq_record_t *record = seq_record_new(static_cast<uint32_t>(codes.size()));
  for (size_t i = 0; i < codes.size(); i++) record->residues[i] = static_cast<uint8_t>(codes[i]);
  return record;
}

TEST(AlignmentQuality, LongestStretchAboveTheIdentity) {
  const std::vector<int> reference = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
  const Bytes packed = pack(reference);
  std::vector<int> read(reference.begin(), reference.begin() + 10);
  seq_record_t *same = record_of(read);
  const Bytes ten = {9};
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(1, ten.data(), 0, 0, -1, packed.data(), 0.9, nullptr, same), 1.0);

  read[5] = (read[5] + 1) % 4;  // the sixth column disagrees
  seq_record_t *one_off = record_of(read);
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(1, ten.data(), 0, 0, -1, packed.data(), 0.95, nullptr, one_off),
                   0.5);

  // The mask marks reference base 5 unknown: the exact read disagrees there.
  Bytes mask(3, 0xFF);
  mask[1] &= static_cast<uint8_t>(~(3 << 2));
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(1, ten.data(), 0, 0, -1, packed.data(), 0.95, mask.data(), same),
                   0.5);

  // No scored read base: 0 / 0.
  const Bytes deletions = {195};
  EXPECT_TRUE(std::isnan(
      alignment_code_similar_fraction(1, deletions.data(), 0, 0, -1, packed.data(), 0.9, nullptr, same)));
  seq_record_free(same);
  seq_record_free(one_off);
}

TEST(AlignmentQuality, ClipsPhaseChangesSkipsAndWrap) {
  const std::vector<int> reference = {0, 1, 2, 3, 0, 1, 2, 3};
  const Bytes packed = pack(reference);
  // Two soft-clipped bases, then 4 agreeing matches: the clip never counts.
  seq_record_t *read = record_of({3, 3, 0, 1, 2, 3});
  const Bytes clipped = {129, 3};
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(2, clipped.data(), 0, 0, -1, packed.data(), 0.9, nullptr, read),
                   4.0 / 6.0);
  // Skipping insertions (escape 10) leaves them unscored.
  const Bytes skipped = {255, 10, 129, 3};
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(4, skipped.data(), 0, 0, -1, packed.data(), 0.9, nullptr, read),
                   1.0);
  seq_record_free(read);

  // After a phase change to 3 the read codes are compared exclusive-ored.
  seq_record_t *flipped = record_of({0, 1, 2 ^ 3, 3 ^ 3});
  const Bytes phase = {1, 255, 3, 1};
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(4, phase.data(), 0, 0, -1, packed.data(), 0.5, nullptr, flipped),
                   1.0);
  seq_record_free(flipped);

  // Starting at 6, the reference wraps from 8 back to 0.
  seq_record_t *across = record_of({2, 3, 0, 1});
  const Bytes four = {3};
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction(1, four.data(), 6, 0, 8, packed.data(), 0.9, nullptr, across),
                   1.0);
  seq_record_free(across);
}

TEST(AlignmentQuality, CallbackAndPairVariantsAgree) {
  const std::vector<int> reference = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
  std::vector<uint8_t> read = {0, 1, 2, 3, 0, 2, 2, 3, 0, 1};
  auto fetch = [](int32_t position, void *context) -> int {
    return (*static_cast<const std::vector<int> *>(context))[position];
  };
  const Bytes ten = {9};
  std::vector<int> ref_copy = reference;
  EXPECT_DOUBLE_EQ(alignment_code_similar_fraction_cb(1, ten.data(), read.data(), 0, fetch, &ref_copy, 0.95), 0.5);

  seq_record_t *ref_record = record_of(reference);
  seq_record_t *read_record = record_of(std::vector<int>(read.begin(), read.end()));
  std::vector<aligned_pair_t> p;
  for (int i = 0; i < 10; i++) p.push_back({i, i});
  std::vector<aligned_pair_t *> ptrs;
  for (auto &pair : p) ptrs.push_back(&pair);
  aligned_pair_list_t pairs{10, ptrs.data()};
  EXPECT_EQ(aligned_pairs_similar_span(&pairs, ref_record, read_record, 0.95), 5);
  EXPECT_EQ(aligned_pairs_similar_span(&pairs, ref_record, read_record, 0.5), 10);
  seq_record_free(ref_record);
  seq_record_free(read_record);
}

}  // namespace
