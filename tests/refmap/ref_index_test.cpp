// Hashed reference index: the index built on 1, 3 and 16 threads against a
// brute-force multiset of (hash, position), in nucleotide and colour space;
// the positions indexed, empty and tiny blocks, the hash test vector's
// bucket, the offsets' pieces, progress and the bucket dump.
#include "refmap/ref_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/progress_meter.h"
#include "refmap/ref_block.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

// Every index costs a 64 MiB offset array, which the sanitizers make slow to
// set up and walk: there the colour mask is built on one thread count only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const std::vector<int32_t> kColourThreadCounts = {16};
#else
const std::vector<int32_t> kColourThreadCounts = {1, 3, 16};
#endif

// One packed block over letter strings, with its list and database.
struct packed_block_t {
  seq_db_t *db = nullptr;
  ref_block_list_t *list = nullptr;
  ref_block_t *block = nullptr;

  packed_block_t(const std::vector<std::string> &letters, int32_t spacer) {
    auto **records = static_cast<seq_record_t **>(malloc(sizeof(seq_record_t *) * letters.size()));
    std::vector<int32_t> lengths;
    for (size_t k = 0; k < letters.size(); k++) {
      records[k] = seq_record_new_from_letters(letters[k].c_str());
      lengths.push_back(static_cast<int32_t>(letters[k].size()));
    }
    db = seq_db_new_from_records(records, static_cast<int64_t>(letters.size()));
    list = ref_block_list_build(static_cast<int32_t>(lengths.size()), lengths.data(), spacer, 10, kRefBlockMaxSize);
    EXPECT_EQ(list->block_count, 1);
    block = ref_block_pack(list->blocks[0], db);
  }
  ~packed_block_t() {
    ref_block_free(block);
    ref_block_list_free(list);
    seq_db_free_records(db);
  }
};

using entry_list_t = std::vector<std::pair<uint8_t, uint32_t>>;  // (check byte, position)

// Every entry of the index by bucket, each bucket's entries sorted; also
// checks that the offsets never decrease.
std::map<uint32_t, entry_list_t> index_contents(const ref_index_t *index) {
  std::map<uint32_t, entry_list_t> out;
  for (uint32_t b = 0; b < kRefIndexBuckets; b++) {
    if (index->offsets[b + 1] < index->offsets[b]) ADD_FAILURE() << "offsets decrease at " << b;
    if (index->offsets[b + 1] == index->offsets[b]) continue;
    uint32_t length = 0;
    const uint8_t *entry = ref_index_get_bucket(index, b, &length);
    entry_list_t &list = out[b];
    for (uint32_t k = 0; k < length; k++, entry += kRefIndexEntryBytes) {
      list.emplace_back(entry[0], ref_index_entry_position(entry));
    }
    std::sort(list.begin(), list.end());
  }
  return out;
}

// The index holds exactly the expected entries: each expected bucket holds
// its entries, and the entry total leaves none for other buckets.
void expect_entries(const ref_index_t *index, const std::map<uint32_t, entry_list_t> &expected,
                    const std::string &label) {
  size_t total = 0;
  for (const auto &[bucket, list] : expected) {
    total += list.size();
    uint32_t length = 0;
    const uint8_t *entry = ref_index_get_bucket(index, bucket, &length);
    entry_list_t got;
    for (uint32_t k = 0; k < length; k++, entry += kRefIndexEntryBytes) {
      got.emplace_back(entry[0], ref_index_entry_position(entry));
    }
    std::sort(got.begin(), got.end());
    ASSERT_TRUE(got == list) << label << " bucket " << bucket;
  }
  EXPECT_EQ(index->offsets[kRefIndexBuckets], total) << label;
}

// The same by brute force: every position from the first piece's start
// whose seed ends within the last piece.
std::map<uint32_t, entry_list_t> brute_force(const ref_block_t *block, const seed_mask_t *mask) {
  std::map<uint32_t, entry_list_t> out;
  const ref_block_desc_t *d = block->desc;
  const int64_t first = d->starts[0];
  const int64_t end = d->starts[d->piece_count - 1] + d->lengths[d->piece_count - 1];
  for (int64_t p = first; p + mask->length <= end; p++) {
    uint32_t h = seed_hash(block->bases, static_cast<uint32_t>(p), mask->words, mask->colour);
    out[seed_hash_bucket(h)].emplace_back(seed_hash_check(h), static_cast<uint32_t>(p));
  }
  for (auto &[bucket, list] : out) std::sort(list.begin(), list.end());
  return out;
}

std::vector<std::string> random_references(uint32_t seed, int count, int most) {
  std::mt19937 rng(seed);
  std::vector<std::string> out;
  for (int k = 0; k < count; k++) {
    std::string s(most / 2 + rng() % (most / 2), 'A');
    for (auto &c : s) c = "ACGTACGTACGTACGTN"[rng() % 17];
    out.push_back(s);
  }
  // A repeat, so that some buckets hold several positions of one seed.
  out.push_back(out[0].substr(0, 300) + out[0].substr(0, 300));
  return out;
}

TEST(RefIndexThread, EqualsTheBruteForceOnOneThreeAndSixteenThreads) {
  srand(3);
  packed_block_t packed(random_references(17, 6, 5000), 30);
  struct {
    const char *mask;
    int32_t colour;
  } masks[] = {{"##-###-###-###-###-##", 0}, {"###--###--###--###", 1}};
  for (const auto &m : masks) {
    seed_mask_t *mask = seed_mask_parse(m.mask);
    mask->colour = m.colour;
    const std::map<uint32_t, entry_list_t> expected = brute_force(packed.block, mask);
    for (int32_t threads : m.colour ? kColourThreadCounts : std::vector<int32_t>{1, 3, 16}) {
      ref_index_t *index = ref_index_build(packed.block, mask, threads, nullptr);
      EXPECT_EQ(index->mask, mask);
      EXPECT_EQ(index->offsets[0], 0u);
      expect_entries(index, expected, std::string(m.mask) + " threads " + std::to_string(threads));
      ref_index_free(index);
    }
    seed_mask_free(mask);
  }
}

// A build on the storage of an earlier index (a larger block, then a
// smaller one, then the larger block under a shorter mask, which has more
// positions than the first build used) gives what a fresh build gives: the
// old counts and entries leave no trace. The entry array is sized for every
// position of the block, so no mask of the same block needs a new one.
TEST(RefIndexThread, BuildOnASpareIndexEqualsAFreshBuild) {
  srand(5);
  packed_block_t large(random_references(23, 6, 5000), 30);
  packed_block_t small(random_references(29, 2, 1500), 30);
  seed_mask_t *first = seed_mask_parse("##-###-###-###-###-##");
  seed_mask_t *second = seed_mask_parse("###--###--###--###");
  ref_index_t *index = ref_index_build_reusing(large.block, first, 3, nullptr, nullptr);
  expect_entries(index, brute_force(large.block, first), "fresh");
  const uint64_t capacity = index->entry_capacity;
  const uint8_t *entries = index->entries;
  EXPECT_EQ(capacity, static_cast<uint64_t>(ref_index_block_end(large.block) - large.block->desc->starts[0]));
  EXPECT_GT(capacity, index->offsets[kRefIndexBuckets]);
  ref_index_t *again = ref_index_build_reusing(small.block, second, 4, nullptr, index);
  EXPECT_EQ(again, index);
  EXPECT_EQ(again->mask, second);
  EXPECT_EQ(again->entry_capacity, capacity);
  EXPECT_TRUE(index_contents(again) == brute_force(small.block, second));
  again = ref_index_build_reusing(large.block, second, 1, nullptr, again);
  expect_entries(again, brute_force(large.block, second), "reused, more positions");
  EXPECT_EQ(again->entries, entries);
  EXPECT_EQ(again->entry_capacity, capacity);
  ref_index_free(again);
  seed_mask_free(first);
  seed_mask_free(second);
}

TEST(RefIndexThread, MoreThreadsThanPositions) {
  srand(4);
  packed_block_t packed({"ACGTTGCAACGTAGCTAGCC"}, 8);
  seed_mask_t *mask = seed_mask_parse("###-###-###-###");
  // 20 bases under a 15-character mask: 6 positions for 16 threads.
  ref_index_t *index = ref_index_build(packed.block, mask, 16, nullptr);
  EXPECT_EQ(index->offsets[kRefIndexBuckets], 6u);
  EXPECT_TRUE(index_contents(index) == brute_force(packed.block, mask));
  ref_index_free(index);
  seed_mask_free(mask);
}

TEST(RefIndex, BlockShorterThanTheMaskHasNoEntries) {
  packed_block_t packed({"ACGTACGTAC"}, 8);
  seed_mask_t *mask = seed_mask_parse("###-###-###-###");
  ref_index_t *index = ref_index_build(packed.block, mask, 2, nullptr);
  EXPECT_TRUE(std::all_of(index->offsets, index->offsets + kRefIndexBuckets + 1, [](uint32_t v) { return v == 0; }));
  ref_index_free(index);
  seed_mask_free(mask);

  // A block without pieces indexes nothing either.
  ref_block_desc_t empty{};
  uint8_t bytes[kRefBlockPadBytes] = {};
  ref_block_t block{0, bytes, bytes, &empty};
  EXPECT_EQ(ref_index_block_end(&block), 0);
  mask = seed_mask_parse("#");
  index = ref_index_build(&block, mask, 1, nullptr);
  EXPECT_EQ(index->offsets[kRefIndexBuckets], 0u);
  ref_index_free(index);
  seed_mask_free(mask);
}

TEST(RefIndex, IndexesFromTheFirstPieceToTheLastSeedThatFits) {
  srand(6);
  // Pieces at 8 (40 bases) and 56 (12 bases): positions 8 .. 52 for a
  // 16-character mask, seeds across the spacer between the pieces included.
  packed_block_t packed({std::string(40, 'C'), "ACGTACGTACGT"}, 8);
  EXPECT_EQ(ref_index_block_end(packed.block), 68);
  seed_mask_t *mask = seed_mask_parse("################");
  ref_index_t *index = ref_index_build(packed.block, mask, 3, nullptr);
  std::vector<uint32_t> positions;
  for (const auto &[bucket, list] : index_contents(index))
    for (const auto &e : list) positions.push_back(e.second);
  std::sort(positions.begin(), positions.end());
  ASSERT_EQ(positions.size(), 45u);
  EXPECT_EQ(positions.front(), 8u);
  EXPECT_EQ(positions.back(), 52u);
  // The runs of C at 8 .. 32 share one seed, so one bucket holds all 25.
  uint32_t h = seed_hash(packed.block->bases, 8, mask->words, 0);
  uint32_t length = 0;
  ref_index_get_bucket(index, seed_hash_bucket(h), &length);
  EXPECT_EQ(length, 25u);
  ref_index_free(index);
  seed_mask_free(mask);
}

TEST(RefIndex, TestVectorSeedLandsInItsBucket) {
  packed_block_t packed({"CGTA"}, 8);
  seed_mask_t *mask = seed_mask_parse("####");
  ref_index_t *index = ref_index_build(packed.block, mask, 1, nullptr);
  uint32_t length = 0;
  const uint8_t *entry = ref_index_get_bucket(index, 0x5A1A12, &length);
  ASSERT_EQ(length, 1u);
  EXPECT_EQ(entry[0], 0x3Au);
  EXPECT_EQ(ref_index_entry_position(entry), 8u);
  EXPECT_EQ(index->offsets[kRefIndexBuckets], 1u);
  ref_index_free(index);
  seed_mask_free(mask);
}

TEST(RefIndex, PrefixSumInSlicesGivesTheSumsBeforeEachValue) {
  // Bucket sizes one place up, as the counting pass leaves them: buckets 0,
  // 5 and the last hold 2, 3 and 4 positions.
  std::vector<uint32_t> counts(kRefIndexBuckets + 1, 0);
  counts[1] = 2;
  counts[6] = 3;
  counts[kRefIndexBuckets] = 4;
  for (int32_t threads : {1, 3, 8}) {
    SCOPED_TRACE(threads);
    std::vector<uint32_t> offsets = counts;
    EXPECT_EQ(ref_index_prefix_sum(offsets.data(), threads), 9u);
    // offsets[b + 1] is bucket b's start; filling moves it to the bucket's
    // end, so offsets[b] ends as the start of bucket b.
    EXPECT_EQ(offsets[0], 0u);
    EXPECT_EQ(offsets[1], 0u);
    EXPECT_EQ(offsets[2], 2u);
    EXPECT_EQ(offsets[6], 2u);
    EXPECT_EQ(offsets[7], 5u);
    EXPECT_EQ(offsets[kRefIndexBuckets], 5u);
    // Every slice boundary carries the running sum on.
    for (uint32_t b : {kRefIndexBuckets / 3, kRefIndexBuckets / 2, kRefIndexBuckets - 1}) EXPECT_EQ(offsets[b], 5u);
  }
}

TEST(RefIndexThread, ProgressRunsToTheEndOfTheCallersMeter) {
  srand(8);
  packed_block_t packed(random_references(9, 2, 4000), 30);
  seed_mask_t *mask = seed_mask_parse("###-###-###-###");
  testing::internal::CaptureStdout();
  progress_meter_t *root = progress_meter_new();
  progress_meter_t *parent = progress_meter_new_child(root, 0.5, 1.0);
  ref_index_t *index = ref_index_build(packed.block, mask, 4, parent);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(root), 1.0);
  progress_meter_free(parent);
  progress_meter_free(root);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Progress:  100.0 %  \r"), std::string::npos) << out;
  ref_index_free(index);
  seed_mask_free(mask);
}

TEST(RefIndexDeathTest, BlockWithMorePositionsThanEntryOffsetsCanAddress) {
  // The descriptor alone decides the positions; the check comes before any
  // base is read.
  int32_t start = 0, sequence = 0, offset = 0, length = 900000000;
  ref_block_desc_t desc{1, length, &start, &sequence, &offset, &length, 0};
  uint8_t bytes[kRefBlockPadBytes] = {};
  ref_block_t block{length, bytes, bytes, &desc};
  seed_mask_t *mask = seed_mask_parse("####");
  EXPECT_EXIT(ref_index_build(&block, mask, 1, nullptr), testing::ExitedWithCode(1),
              "^Reference block too large for the index\n$");
  seed_mask_free(mask);
}

TEST(RefIndex, DumpsABucket) {
  const uint32_t counts[] = {0, 2};
  const uint8_t entries[] = {0x3A, 0x08, 0x00, 0x00, 0x00, 0xFF, 0x78, 0x56, 0x34, 0x12};
  testing::internal::CaptureStdout();
  ref_index_dump_bucket(counts, entries, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "# --------------------\n# 3a 00000008\n# ff 12345678\n# \n");
}

}  // namespace
