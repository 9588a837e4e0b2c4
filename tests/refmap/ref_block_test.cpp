// Reference blocks: the cutting example, the layout and overlap invariants
// on random references and sizes, the block-size bounds, packing with its
// known mask (also on the prefetch thread) and the position lookups.
#include "refmap/ref_block.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

struct piece_view_t {
  int32_t start, sequence, offset, length;
  bool operator==(const piece_view_t &) const = default;
};

std::vector<piece_view_t> pieces_of(const ref_block_desc_t *d) {
  std::vector<piece_view_t> out;
  for (int32_t k = 0; k < d->piece_count; k++) {
    out.push_back({d->starts[k], d->sequences[k], d->offsets[k], d->lengths[k]});
  }
  return out;
}

TEST(RefBlock, CutsALongSequenceIntoOverlappingPieces) {
  const int32_t lengths[] = {2000};
  ref_block_list_t *list = ref_block_list_build(1, lengths, 10, 20, 1000);
  ASSERT_EQ(list->block_count, 3);
  EXPECT_EQ(pieces_of(list->blocks[0]), (std::vector<piece_view_t>{{10, 0, 0, 980}}));
  EXPECT_EQ(pieces_of(list->blocks[1]), (std::vector<piece_view_t>{{10, 0, 960, 980}}));
  EXPECT_EQ(pieces_of(list->blocks[2]), (std::vector<piece_view_t>{{10, 0, 1920, 80}}));
  EXPECT_EQ(list->blocks[0]->length, 1000);
  EXPECT_EQ(list->blocks[1]->length, 1000);
  EXPECT_EQ(list->blocks[2]->length, 100);
  EXPECT_EQ(list->blocks[0]->overlap_limit, 0);
  EXPECT_EQ(list->blocks[1]->overlap_limit, 30);
  EXPECT_EQ(list->blocks[2]->overlap_limit, 30);
  ref_block_list_free(list);
}

TEST(RefBlock, ShortSequencesShareABlockBetweenSpacers) {
  const int32_t lengths[] = {100, 0, 250};
  ref_block_list_t *list = ref_block_list_build(3, lengths, 16, 40, 10000);
  ASSERT_EQ(list->block_count, 1);
  EXPECT_EQ(pieces_of(list->blocks[0]),
            (std::vector<piece_view_t>{{16, 0, 0, 100}, {132, 1, 0, 0}, {148, 2, 0, 250}}));
  EXPECT_EQ(list->blocks[0]->length, 148 + 250 + 16);
  ref_block_list_free(list);

  list = ref_block_list_build(0, nullptr, 16, 40, 10000);
  EXPECT_EQ(list->block_count, 0);
  ref_block_list_free(list);
}

// Checks the layout of every block and that every stretch of up to
// overlap + 1 bases of every sequence lies inside one piece.
void check_layout(const ref_block_list_t *list, const std::vector<int32_t> &lengths, int32_t spacer,
                  int64_t overlap, int64_t size) {
  std::vector<std::vector<piece_view_t>> by_sequence(lengths.size());
  for (int32_t b = 0; b < list->block_count; b++) {
    const ref_block_desc_t *d = list->blocks[b];
    ASSERT_GT(d->piece_count, 0) << "empty block " << b;
    ASSERT_LE(d->length, size);
    int64_t expected_start = spacer;
    for (int32_t k = 0; k < d->piece_count; k++) {
      EXPECT_EQ(d->starts[k], expected_start) << "block " << b << " piece " << k;
      if (k > 0) {
        EXPECT_EQ(d->sequences[k], d->sequences[k - 1] + 1);
      }
      EXPECT_GE(d->lengths[k], 0);
      expected_start += d->lengths[k] + spacer;
      by_sequence[d->sequences[k]].push_back({d->starts[k], d->sequences[k], d->offsets[k], d->lengths[k]});
    }
    EXPECT_EQ(d->length, expected_start);
    EXPECT_EQ(d->overlap_limit, d->offsets[0] == 0 ? 0 : d->starts[0] + overlap);
  }
  for (size_t s = 0; s < lengths.size(); s++) {
    const int64_t stretch = std::min<int64_t>(overlap + 1, lengths[s]);
    ASSERT_FALSE(by_sequence[s].empty()) << "sequence " << s << " missing";
    for (int64_t x = 0; x + stretch <= lengths[s]; x++) {
      bool inside = false;
      for (const auto &p : by_sequence[s]) inside |= p.offset <= x && x + stretch <= p.offset + p.length;
      ASSERT_TRUE(inside) << "sequence " << s << " stretch at " << x;
    }
  }
}

TEST(RefBlock, RandomReferencesKeepEveryOverlapStretchInOnePiece) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; round++) {
    const int32_t spacer = 1 + static_cast<int32_t>(rng() % 20);
    const int64_t overlap = rng() % 60;
    const int64_t size = ref_block_min_size(spacer, overlap) + static_cast<int64_t>(rng() % 400);
    std::vector<int32_t> lengths(1 + rng() % 6);
    for (auto &l : lengths) l = static_cast<int32_t>(rng() % 900);
    ref_block_list_t *list = ref_block_list_build(static_cast<int32_t>(lengths.size()), lengths.data(), spacer,
                                                  overlap, size);
    check_layout(list, lengths, spacer, overlap, size);
    ref_block_list_free(list);
    if (HasFatalFailure()) return;
  }
}

TEST(RefBlock, BlockSizesAreBroughtIntoTheWorkableRange) {
  // Spacer 10 and overlap 20 need 41 positions; the index bounds the top.
  struct {
    int64_t requested, expected;
  } cases[] = {{0, 41}, {5, 41}, {41, 41}, {1000, 1000}, {-1, kRefBlockMaxSize}, {INT64_C(1) << 40, kRefBlockMaxSize}};
  for (const auto &c : cases) EXPECT_EQ(ref_block_size_fit(c.requested, 10, 20), c.expected) << c.requested;
  // 5 x the largest block still fits the 32-bit entry offsets.
  EXPECT_LT(5 * kRefBlockMaxSize, INT64_C(1) << 32);

  // A size too small for the spacers and overlap no longer loops on empty
  // blocks: every block takes overlap + 1 new bases at least.
  std::vector<int32_t> lengths = {60, 7, 33};
  ref_block_list_t *list = ref_block_list_build(3, lengths.data(), 10, 20, 5);
  check_layout(list, lengths, 10, 20, 41);
  ref_block_list_free(list);
}

TEST(RefBlockDeathTest, OverlapTooLargeForAnyBlock) {
  const int32_t lengths[] = {100};
  EXPECT_EXIT(ref_block_list_build(1, lengths, 240, kRefBlockMaxSize, 0), testing::ExitedWithCode(1),
              "^Maximum pair distance too large for the reference blocks.\n$");
}

// A reference database over letter strings.
seq_db_t *db_of(const std::vector<std::string> &letters) {
  auto **records = static_cast<seq_record_t **>(malloc(sizeof(seq_record_t *) * letters.size()));
  for (size_t k = 0; k < letters.size(); k++) records[k] = seq_record_new_from_letters(letters[k].c_str());
  return seq_db_new_from_records(records, static_cast<int64_t>(letters.size()));
}

uint32_t base_at(const ref_block_t *b, int64_t j) { return (b->bases[j / 4] >> (2 * (j % 4))) & 3; }
uint32_t known_at(const ref_block_t *b, int64_t j) { return (b->known[j / 4] >> (2 * (j % 4))) & 3; }

// Expected base codes (4 for unknown) of every block position.
std::vector<int> expected_codes(const ref_block_desc_t *d, const std::vector<std::string> &letters) {
  std::vector<int> codes(d->length, 4);
  for (int32_t k = 0; k < d->piece_count; k++) {
    for (int32_t j = 0; j < d->lengths[k]; j++) {
      char c = letters[d->sequences[k]][d->offsets[k] + j];
      codes[d->starts[k] + j] = std::string("ACGT").find(c) == std::string::npos ? 4 : static_cast<int>(std::string("ACGT").find(c));
    }
  }
  return codes;
}

void expect_packed(const ref_block_t *block, const std::vector<std::string> &letters) {
  std::vector<int> codes = expected_codes(block->desc, letters);
  ASSERT_EQ(block->length, block->desc->length);
  for (int64_t j = 0; j < block->length; j++) {
    if (codes[j] == 4) {
      ASSERT_EQ(known_at(block, j), 0u) << j;
    } else {
      ASSERT_EQ(known_at(block, j), 3u) << j;
      ASSERT_EQ(base_at(block, j), static_cast<uint32_t>(codes[j])) << j;
    }
  }
  // The spare bytes after the last position read as unknown.
  for (int64_t j = block->length; j < block->length + 4 * kRefBlockPadBytes - 4; j++) ASSERT_EQ(known_at(block, j), 0u);
}

std::vector<std::string> random_letters(std::mt19937 &rng, int count, int most) {
  std::vector<std::string> out;
  for (int k = 0; k < count; k++) {
    std::string s(1 + rng() % most, 'A');
    for (auto &c : s) c = "ACGTACGTACGTN"[rng() % 13];
    out.push_back(s);
  }
  return out;
}

TEST(RefBlock, PacksBasesWithTheKnownMask) {
  srand(1);
  std::vector<std::string> letters = {"ACGTNNAC", "GGTTNA", "T"};
  seq_db_t *db = db_of(letters);
  const int32_t lengths[] = {8, 6, 1};
  ref_block_list_t *list = ref_block_list_build(3, lengths, 3, 2, 1000);
  ASSERT_EQ(list->block_count, 1);
  ref_block_t *block = ref_block_pack(list->blocks[0], db);
  // Spacer of 3, then ACGT (codes 0 1 2 3) from position 3.
  EXPECT_EQ(block->bases[0] >> 6, 0u);
  EXPECT_EQ(block->known[0], 0xC0u);
  // C G T, then an N stored as a random base with mask 0.
  EXPECT_EQ(block->bases[1] & 0x3F, 0x39u);
  EXPECT_EQ(block->known[1], 0x3Fu);
  expect_packed(block, letters);
  ref_block_free(block);
  ref_block_list_free(list);
  seq_db_free_records(db);
}

// Every unknown position (spacers, ambiguous letters) gets one rand() draw,
// in position order, whether it lies in a stretch of known bases packed a
// byte at a time or not: pieces of random lengths start anywhere in a byte.
TEST(RefBlock, UnknownBasesAreDrawnInPositionOrder) {
  std::mt19937 rng(31);
  std::vector<std::string> letters = random_letters(rng, 40, 300);
  seq_db_t *db = db_of(letters);
  std::vector<int32_t> lengths;
  for (const std::string &l : letters) lengths.push_back(static_cast<int32_t>(l.size()));
  ref_block_list_t *list = ref_block_list_build(static_cast<int32_t>(lengths.size()), lengths.data(), 5, 7, 100000);
  ASSERT_EQ(list->block_count, 1);
  srand(41);
  ref_block_t *block = ref_block_pack(list->blocks[0], db);
  expect_packed(block, letters);
  srand(41);
  int64_t unknown = 0;
  for (int64_t j = 0; j < block->length; j++) {
    if (known_at(block, j) != 0) continue;
    ASSERT_EQ(base_at(block, j), static_cast<uint32_t>(rand()) & 3) << j;
    unknown++;
  }
  EXPECT_GT(unknown, 40 * 5);
  ref_block_free(block);
  ref_block_list_free(list);
  seq_db_free_records(db);
}

TEST(RefBlock, PacksFromAReferenceFile) {
  // Records of a file database are new on every fetch and released by the
  // packer; the record-array database above keeps its own.
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("ref.fa");
  ryx_test::write_file(path, ">a\nACGTTGCA\nNNAC\n>b\nGATTACA\n");
  seq_db_t *db = seq_db_open(path.c_str(), 2, 5, 1, 0);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->sequence_count, 2);
  const int32_t lengths[] = {12, 7};
  ref_block_list_t *list = ref_block_list_build(2, lengths, 4, 3, 26);
  ASSERT_EQ(list->block_count, 2);
  for (int32_t b = 0; b < list->block_count; b++) {
    ref_block_t *block = ref_block_pack(list->blocks[b], db);
    expect_packed(block, {"ACGTTGCANNAC", "GATTACA"});
    ref_block_free(block);
  }
  ref_block_list_free(list);
  seq_db_free(db);
}

TEST(RefBlockThread, PrefetchedBlocksEqualDirectPacking) {
  std::mt19937 rng(21);
  std::vector<std::string> letters = random_letters(rng, 7, 700);
  std::vector<int32_t> lengths;
  for (const auto &s : letters) lengths.push_back(static_cast<int32_t>(s.size()));
  seq_db_t *db = db_of(letters);
  ref_block_list_t *list = ref_block_list_build(7, lengths.data(), 12, 30, 600);
  ASSERT_GT(list->block_count, 2);
  // As the driver does it: the next block packs while the current one is
  // looked at.
  ref_block_prefetch_t *next = ref_block_prefetch_start(list->blocks[0], db);
  for (int32_t b = 0; b < list->block_count; b++) {
    ref_block_t *block = ref_block_prefetch_join(next);
    next = b + 1 < list->block_count ? ref_block_prefetch_start(list->blocks[b + 1], db) : nullptr;
    EXPECT_EQ(block->desc, list->blocks[b]);
    expect_packed(block, letters);
    ref_block_free(block);
  }
  ref_block_list_free(list);
  seq_db_free_records(db);
}

// A level reuses the block of the level before when the layouts agree: the
// repacked block must equal a fresh pack byte for byte, random bases of
// spacers and N's included, and leave the random stream where a fresh pack
// leaves it.
TEST(RefBlock, RepackEqualsAFreshPackOfTheSameLayout) {
  std::mt19937 rng(33);
  std::vector<std::string> letters = random_letters(rng, 5, 300);
  letters.push_back("NNNNACGTNN");
  std::vector<int32_t> lengths;
  for (const auto &s : letters) lengths.push_back(static_cast<int32_t>(s.size()));
  seq_db_t *db = db_of(letters);
  ref_block_list_t *first = ref_block_list_build(6, lengths.data(), 5, 20, 100000);
  ref_block_list_t *same = ref_block_list_build(6, lengths.data(), 5, 20, 100000);
  ref_block_list_t *other = ref_block_list_build(6, lengths.data(), 7, 20, 100000);
  ASSERT_EQ(first->block_count, 1);
  EXPECT_TRUE(ref_block_desc_same_layout(first->blocks[0], same->blocks[0]));
  EXPECT_FALSE(ref_block_desc_same_layout(first->blocks[0], other->blocks[0]));

  srand(11);
  ref_block_t *block = ref_block_pack(first->blocks[0], db);
  srand(12);
  ref_block_t *fresh = ref_block_pack(same->blocks[0], db);
  const int after_fresh = rand();
  srand(12);
  ref_block_repack(block, same->blocks[0]);
  EXPECT_EQ(rand(), after_fresh);
  EXPECT_EQ(block->desc, same->blocks[0]);
  const size_t bytes = static_cast<size_t>((block->length + 3) / 4 + kRefBlockPadBytes);
  EXPECT_EQ(memcmp(block->bases, fresh->bases, bytes), 0);
  EXPECT_EQ(memcmp(block->known, fresh->known, bytes), 0);
  expect_packed(block, letters);
  ref_block_free(block);
  ref_block_free(fresh);
  ref_block_list_free(first);
  ref_block_list_free(same);
  ref_block_list_free(other);
  seq_db_free_records(db);
}

TEST(RefBlock, PositionLookupsRoundTrip) {
  std::mt19937 rng(5);
  std::vector<std::string> letters = random_letters(rng, 9, 400);
  std::vector<int32_t> lengths;
  for (const auto &s : letters) lengths.push_back(static_cast<int32_t>(s.size()));
  seq_db_t *db = db_of(letters);
  ref_block_list_t *list = ref_block_list_build(9, lengths.data(), 8, 25, 500);
  for (int32_t b = 0; b < list->block_count; b++) {
    ref_block_t *block = ref_block_pack(list->blocks[b], db);
    const ref_block_desc_t *d = block->desc;
    std::vector<bool> in_piece(d->length + 1, false);
    for (int32_t k = 0; k < d->piece_count; k++) {
      for (int64_t p = d->starts[k]; p <= d->starts[k] + d->lengths[k]; p++) {
        in_piece[p] = true;
        int32_t sequence = -2, offset = -2;
        ref_block_to_seq_pos(block, p, &sequence, &offset);
        ASSERT_EQ(sequence, d->sequences[k]);
        ASSERT_EQ(offset, d->offsets[k] + (p - d->starts[k]));
        ASSERT_EQ(ref_block_to_block_pos(block, sequence, offset), p);
      }
      EXPECT_TRUE(ref_block_seq_covers(block, d->sequences[k], d->offsets[k], d->offsets[k] + d->lengths[k]));
      EXPECT_FALSE(ref_block_seq_covers(block, d->sequences[k], d->offsets[k], d->offsets[k] + d->lengths[k] + 1));
    }
    // Spacer positions and positions past the block belong to no sequence.
    for (int64_t p = -3; p < d->length + 5; p++) {
      if (p >= 0 && p <= d->length && in_piece[p]) continue;
      int32_t sequence = -2, offset = -2;
      ref_block_to_seq_pos(block, p, &sequence, &offset);
      ASSERT_EQ(sequence, -1) << p;
      ASSERT_EQ(offset, -1) << p;
    }
    ref_block_free(block);
  }
  ref_block_list_free(list);
  seq_db_free_records(db);
}

TEST(RefBlock, ClampsIntervalsToThePieceHoldingTheStart) {
  const int32_t lengths[] = {100, 50};
  ref_block_list_t *list = ref_block_list_build(2, lengths, 10, 5, 1000);
  ref_block_t block{list->blocks[0]->length, nullptr, nullptr, list->blocks[0]};
  // Pieces [10, 110) and [120, 170).
  struct {
    int64_t start, end, clamped_start, clamped_end;
  } cases[] = {
      {20, 60, 20, 60},     // inside
      {90, 130, 90, 110},   // crosses the first piece's end
      {5, 40, 10, 40},      // starts in the leading spacer
      {114, 140, 120, 140}, // starts in the spacer before the second piece
      {160, 200, 160, 170}, // runs past the last piece
  };
  for (const auto &c : cases) {
    int64_t start = c.start, end = c.end;
    ref_block_clamp_to_piece(&block, &start, &end);
    EXPECT_EQ(start, c.clamped_start) << c.start;
    EXPECT_EQ(end, c.clamped_end) << c.start;
  }
  ref_block_list_free(list);
}

TEST(RefBlockDeathTest, SequenceWithoutAPieceInTheBlock) {
  const int32_t lengths[] = {975, 900};
  ref_block_list_t *list = ref_block_list_build(2, lengths, 10, 20, 1000);
  ASSERT_EQ(list->blocks[0]->sequences[0], 0);
  ref_block_t block{list->blocks[0]->length, nullptr, nullptr, list->blocks[0]};
  ASSERT_EQ(list->blocks[0]->piece_count, 1);
  EXPECT_EXIT(ref_block_to_block_pos(&block, 1, 0), testing::ExitedWithCode(1), "^Sequence index error\n$");
  EXPECT_EXIT(ref_block_to_block_pos(&block, -1, 0), testing::ExitedWithCode(1), "^Sequence index error\n$");
  ref_block_list_free(list);
}

}  // namespace
