// Read store: the packed group layout against a bit-by-bit model and a
// hand-made group, a hand-written temporary file, round trips of reads and
// pairs with their file indexes, the length limits, the file size, loading
// from sequence files and the fatal paths.
#include "denovo/reads/read_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/bin_codec.h"
#include "common/thread_group.h"
#include "seqio/seq_db.h"
#include "tests/support/test_support.h"

namespace {

using Codes = std::vector<uint8_t>;

// Packs one group bit by bit as the layout describes: symbol 16 r + j sits
// in bits 3r..3r+2 of the 24-bit column value P0[j] + 256 P1[j] + 65536 P2[j].
std::vector<uint8_t> model_pack(const uint8_t *symbols) {
  std::vector<uint8_t> out(48, 0);
  for (int j = 0; j < 16; j++) {
    uint32_t v = 0;
    for (int r = 0; r < 8; r++) v |= static_cast<uint32_t>(symbols[16 * r + j] & 7) << (3 * r);
    out[j] = static_cast<uint8_t>(v);
    out[16 + j] = static_cast<uint8_t>(v >> 8);
    out[32 + j] = static_cast<uint8_t>(v >> 16);
  }
  return out;
}

seq_record_t *record_of(const Codes &codes) {
  seq_record_t *r = seq_record_new(static_cast<uint32_t>(codes.size()));
  if (!codes.empty()) memcpy(r->residues, codes.data(), codes.size());
  return r;
}

Codes codes_of(const seq_record_t *r) { return Codes(r->residues, r->residues + r->length); }

// Splits a block at its separators: the block must open and close with 7.
std::vector<Codes> split_block(const Codes &block) {
  EXPECT_FALSE(block.empty());
  EXPECT_EQ(block.front(), kReadStoreSeparator);
  EXPECT_EQ(block.back(), kReadStoreSeparator);
  std::vector<Codes> reads;
  Codes current;
  for (size_t i = 1; i < block.size(); i++) {
    if (block[i] == kReadStoreSeparator) {
      reads.push_back(current);
      current.clear();
    } else {
      current.push_back(block[i]);
    }
  }
  return reads;
}

struct Block {
  Codes codes;
  int32_t file_index;
};

std::vector<Block> read_pass(read_store_t *store) {
  read_store_rewind(store);
  std::vector<Block> blocks;
  int32_t index = -1;
  while (seq_record_t *r = read_store_next_block(store, &index)) {
    blocks.push_back({codes_of(r), index});
    seq_record_release(r);
  }
  return blocks;
}

std::string file_bytes(read_store_t *store) {
  rewind(store->file);
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, store->file)) > 0) bytes.append(buffer, n);
  return bytes;
}

Codes random_codes(std::mt19937 &rng, size_t length, int symbols) {
  Codes c(length);
  for (auto &x : c) x = static_cast<uint8_t>(rng() % symbols);
  return c;
}

TEST(ReadStorePacking, GroupsMatchTheBitLayoutModelAndRoundTrip) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; trial++) {
    const Codes symbols = random_codes(rng, 128, 8);
    uint8_t packed[48];
    read_store_pack_group(symbols.data(), packed);
    ASSERT_EQ(std::vector<uint8_t>(packed, packed + 48), model_pack(symbols.data())) << "trial " << trial;
    uint8_t back[128];
    read_store_unpack_group(packed, back);
    ASSERT_EQ(Codes(back, back + 128), symbols);
  }
}

TEST(ReadStorePacking, HandMadeGroup) {
  uint8_t symbols[128] = {};
  symbols[0] = 7;        // row 0, column 0
  symbols[16] = 7;       // row 1, column 0
  symbols[32] = 7;       // row 2, column 0: two bits in P0, one in P1
  symbols[81] = 5;       // row 5, column 1: one bit in P1, two in P2
  symbols[114] = 6;      // row 7, column 2
  symbols[51] = 3;       // row 3, column 3
  symbols[67] = 4;       // row 4, column 3
  symbols[111] = 5;      // row 6, column 15
  symbols[31] = 2;       // row 1, column 15
  const std::string expected = ryx_test::hex_bytes(
      "ff 00 00 00 00 00 00 00 00 00 00 00 00 00 00 10"    // P0
      "01 80 00 46 00 00 00 00 00 00 00 00 00 00 00 00"    // P1
      "00 02 c0 00 00 00 00 00 00 00 00 00 00 00 00 14");  // P2
  uint8_t packed[48];
  read_store_pack_group(symbols, packed);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(packed), 48), expected);
}

TEST(ReadStorePacking, GroupCountsAndSizes) {
  const struct {
    int64_t n, groups, bytes;
  } cases[] = {{0, 0, 0}, {1, 1, 48}, {128, 1, 48}, {129, 2, 96}, {256, 2, 96}, {1048576, 8192, 393216}};
  for (const auto &c : cases) {
    EXPECT_EQ(read_store_group_count(c.n), c.groups) << c.n;
    EXPECT_EQ(read_store_packed_size(c.n), c.bytes) << c.n;
  }
}

// Three read files, the middle one empty: the hand-written file holds no
// block for it, and the third file's block carries index 2. The last read
// reaches into the second row of its group.
TEST(ReadStoreFile, HandWrittenLayoutOfLoadedFiles) {
  ryx_test::ScratchDir dir;
  ryx_test::write_file(dir.file("a.fa"), ">r1\nACGTN\n>r2\nGG\n");
  ryx_test::write_file(dir.file("b.fa"), "");
  ryx_test::write_file(dir.file("c.fa"), ">r3\nTTTTTTTTTTTTTTTTT\n");
  const std::string a = dir.file("a.fa"), b = dir.file("b.fa"), c = dir.file("c.fa");
  read_store_t *store = read_store_new_empty(128);
  read_store_add_file(store, a.c_str(), 0);
  read_store_add_file(store, b.c_str(), 0);
  read_store_add_file(store, c.c_str(), 0);
  read_store_finish(store);
  const std::string zeros16 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
  const std::string expected = ryx_test::hex_bytes(
      "0a 00 00 00  00 00 00 00\n"                         // 10 symbols, file 0
      "07 00 01 02 03 04 07 02 02 07 00 00 00 00 00 00\n" +  // P0: 7 ACGTN 7 GG 7
      zeros16 + zeros16 +
      "13 00 00 00  02 00 00 00\n"                         // 19 symbols, file 2
      "1f 1b 3b 03 03 03 03 03 03 03 03 03 03 03 03 03\n" +  // rows 0 and 1: 7 T*17 7
      zeros16 + zeros16);
  EXPECT_EQ(file_bytes(store), expected);
  EXPECT_EQ(store->block_count, 2);
  EXPECT_EQ(store->file_count, 3);
  EXPECT_EQ(store->read_count, 3u);
  EXPECT_EQ(store->nucleotide_count, 24u);

  const std::vector<Block> blocks = read_pass(store);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].file_index, 0);
  EXPECT_EQ(split_block(blocks[0].codes), (std::vector<Codes>{{0, 1, 2, 3, 4}, {2, 2}}));
  EXPECT_EQ(blocks[1].file_index, 2);
  EXPECT_EQ(split_block(blocks[1].codes), (std::vector<Codes>{Codes(17, 3)}));
  read_store_free(store);
}

TEST(ReadStoreRoundTrip, ReadsAndPairsOverManyBlocksAndFiles) {
  std::mt19937 rng(11);
  read_store_t *store = read_store_new_empty(1024);
  // Per file: the reads in order and whether they were added as pairs.
  std::vector<std::vector<Codes>> files(3);
  for (int f = 0; f < 3; f++) {
    const bool paired = f == 1;
    for (int i = 0; i < 300; i++) {
      Codes r1 = random_codes(rng, rng() % 300, 5);
      if (paired) {
        Codes r2 = random_codes(rng, rng() % 300, 5);
        seq_record_t *a = record_of(r1), *b = record_of(r2);
        read_store_on_pair(a, b, store);
        seq_record_free(a);
        seq_record_free(b);
        files[f].push_back(r1);
        files[f].push_back(r2);
      } else {
        seq_record_t *a = record_of(r1);
        read_store_on_read(a, store);
        seq_record_free(a);
        files[f].push_back(r1);
      }
    }
    read_store_flush_block(store);
    store->file_index++;
  }
  read_store_finish(store);
  EXPECT_EQ(store->file_count, 3);
  EXPECT_EQ(store->read_count, 1200u);

  std::vector<std::vector<Codes>> seen(3);
  for (const Block &block : read_pass(store)) {
    ASSERT_GE(block.file_index, 0);
    ASSERT_LT(block.file_index, 3);
    EXPECT_LE(block.codes.size(), 1024u);
    const std::vector<Codes> reads = split_block(block.codes);
    // Pairs never straddle a block: every block of the paired file holds
    // whole pairs.
    if (block.file_index == 1) {
      EXPECT_EQ(reads.size() % 2, 0u);
    }
    for (const Codes &r : reads) seen[block.file_index].push_back(r);
  }
  EXPECT_EQ(seen, files);
  read_store_free(store);
}

TEST(ReadStoreRoundTrip, NoBlocksUntilRewindAndRepeatablePasses) {
  read_store_t *store = read_store_new_empty(256);
  seq_record_t *r = record_of({0, 1, 2, 3});
  read_store_add_read(store, r);
  seq_record_free(r);
  read_store_finish(store);
  EXPECT_EQ(read_store_next_block(store, nullptr), nullptr);
  const std::vector<Block> first = read_pass(store);
  const std::vector<Block> second = read_pass(store);
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].codes, (Codes{7, 0, 1, 2, 3, 7}));
  EXPECT_EQ(second[0].codes, first[0].codes);
  read_store_free(store);
}

// Block sizes at group boundaries: 128 symbols take one group and no
// padding, 129 symbols two groups; the reader returns exactly n symbols.
TEST(ReadStoreRoundTrip, BlocksAtGroupBoundaries) {
  for (uint32_t n : {128u, 129u}) {
    read_store_t *store = read_store_new_empty(1024);
    const Codes read(n - 2, 2);
    seq_record_t *r = record_of(read);
    read_store_add_read(store, r);
    seq_record_free(r);
    read_store_finish(store);
    EXPECT_EQ(file_bytes(store).size(), 8 + read_store_packed_size(n)) << n;
    const std::vector<Block> blocks = read_pass(store);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].codes.size(), n);
    EXPECT_EQ(split_block(blocks[0].codes), std::vector<Codes>{read});
    read_store_free(store);
  }
}

TEST(ReadStoreRoundTrip, FileIsAboutThreeEighthsOfTheInput) {
  std::mt19937 rng(3);
  read_store_t *store = read_store_new_empty(kReadStoreBlockCapacity);
  uint64_t symbols = 0;
  for (int i = 0; i < 30000; i++) {
    seq_record_t *r = record_of(random_codes(rng, 100, 5));
    read_store_on_read(r, store);
    symbols += r->length;
    seq_record_free(r);
  }
  read_store_finish(store);
  EXPECT_EQ(store->nucleotide_count, symbols);
  const double ratio = static_cast<double>(file_bytes(store).size()) / static_cast<double>(symbols);
  // 3/8 of the reads plus one separator per read and a header per block.
  EXPECT_GT(ratio, 0.375);
  EXPECT_LT(ratio, 0.375 * 1.02);
  read_store_free(store);
}

TEST(ReadStoreLimits, LongestReadAndPairFitAnEmptyBlock) {
  const int32_t capacity = 256;
  read_store_t *store = read_store_new_empty(capacity);
  // A read of capacity - 2 fills an empty block exactly, so the read before
  // it goes out in a block of its own.
  seq_record_t *shortr = record_of({1});
  seq_record_t *longest = record_of(Codes(capacity - 2, 3));
  read_store_add_read(store, shortr);
  read_store_add_read(store, longest);
  EXPECT_EQ(store->fill, capacity);
  // A pair of capacity - 3 symbols with its three separators fits as well.
  seq_record_t *m1 = record_of(Codes(100, 0));
  seq_record_t *m2 = record_of(Codes(capacity - 103, 1));
  read_store_add_pair(store, m1, m2);
  read_store_finish(store);
  const std::vector<Block> blocks = read_pass(store);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].codes, (Codes{7, 1, 7}));
  EXPECT_EQ(blocks[1].codes.size(), static_cast<size_t>(capacity));
  EXPECT_EQ(split_block(blocks[2].codes), (std::vector<Codes>{codes_of(m1), codes_of(m2)}));
  for (seq_record_t *r : {shortr, longest, m1, m2}) seq_record_free(r);
  read_store_free(store);
}

TEST(ReadStoreDeathTest, TooLongReadsAndPairs) {
  const int32_t capacity = 256;
  EXPECT_EXIT(
      {
        read_store_t *store = read_store_new_empty(capacity);
        seq_record_t *r = record_of(Codes(capacity - 1, 0));
        read_store_add_read(store, r);
      },
      testing::ExitedWithCode(1), "^Sequence too long\n$");
  // Each mate alone fits, the pair with its separators does not.
  EXPECT_EXIT(
      {
        read_store_t *store = read_store_new_empty(capacity);
        seq_record_t *a = record_of(Codes(120, 0));
        seq_record_t *b = record_of(Codes(capacity - 122, 0));
        read_store_add_pair(store, a, b);
      },
      testing::ExitedWithCode(1), "^Sequence too long\n$");
}

TEST(ReadStoreDeathTest, CapacityMustBeAPositiveMultipleOf128) {
  for (int32_t capacity : {0, 100, 200}) {
    EXPECT_EXIT(read_store_new_empty(capacity), testing::ExitedWithCode(1),
                "^Read store block capacity -?[0-9]+ is not a positive multiple of 128\n$");
  }
}

TEST(ReadStoreDeathTest, DamagedTemporaryData) {
  auto store_with_one_block = [] {
    read_store_t *store = read_store_new_empty(256);
    seq_record_t *r = record_of(Codes(50, 1));
    read_store_add_read(store, r);
    seq_record_free(r);
    read_store_finish(store);
    return store;
  };
  // A symbol count beyond the block capacity.
  EXPECT_EXIT(
      {
        read_store_t *store = store_with_one_block();
        rewind(store->file);
        bin_file_write_u32(store->file, 0x100000);
        read_store_rewind(store);
        read_store_next_block(store, nullptr);
      },
      testing::ExitedWithCode(1), "^Problem reading temporary data\n$");
  // More blocks expected than the file holds.
  EXPECT_EXIT(
      {
        read_store_t *store = store_with_one_block();
        store->block_count = 2;
        read_store_rewind(store);
        seq_record_release(read_store_next_block(store, nullptr));
        read_store_next_block(store, nullptr);
      },
      testing::ExitedWithCode(1), "^Problem reading temporary data\n$");
}

TEST(ReadStoreLoad, SingleConsecutivePairedAndSideBySideFiles) {
  ryx_test::ScratchDir dir;
  ryx_test::write_file(dir.file("single.fa"), ">a\nACGT\n>b\nGGNA\n");
  ryx_test::write_file(dir.file("pairs.fq"), "@p/1\nAAAA\n+\nIIII\n@p/2\nCC\n+\nII\n");
  ryx_test::write_file(dir.file("left.fa"), ">l1\nTTT\n>l2\nGA\n");
  ryx_test::write_file(dir.file("right.fa"), ">r1\nCA\n>r2\nUG\n");
  const std::string single = dir.file("single.fa"), pairs = dir.file("pairs.fq"), left = dir.file("left.fa"),
                    right = dir.file("right.fa");
  const read_store_file_t files[] = {
      {single.c_str(), nullptr}, {pairs.c_str(), nullptr}, {left.c_str(), right.c_str()}};
  const int32_t paired[] = {0, 1, 0};
  read_store_t *store = read_store_new(kReadStoreBlockCapacity, 3, files, paired, 0, nullptr);
  EXPECT_EQ(store->file_count, 3);
  EXPECT_EQ(store->read_count, 8u);
  EXPECT_EQ(store->nucleotide_count, 23u);
  EXPECT_EQ(store->block_index, store->block_count);
  const std::vector<Block> blocks = read_pass(store);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].file_index, 0);
  EXPECT_EQ(split_block(blocks[0].codes), (std::vector<Codes>{{0, 1, 2, 3}, {2, 2, 4, 0}}));
  EXPECT_EQ(blocks[1].file_index, 1);
  EXPECT_EQ(split_block(blocks[1].codes), (std::vector<Codes>{{0, 0, 0, 0}, {1, 1}}));
  EXPECT_EQ(blocks[2].file_index, 2);
  EXPECT_EQ(split_block(blocks[2].codes), (std::vector<Codes>{{3, 3, 3}, {1, 0}, {2, 0}, {3, 2}}));
  read_store_free(store);
}

struct OpenedFiles {
  thread_arbiter_t *arbiter;
  std::vector<int64_t> sequence_counts;
};

void *collect_databases(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *ctx = static_cast<OpenedFiles *>(args->context);
  while (auto *db = static_cast<seq_db_t *>(thread_queue_get(ctx->arbiter, args->input, 0))) {
    ctx->sequence_counts.push_back(db->sequence_count);
    seq_db_free(db);
  }
  return nullptr;
}

TEST(ReadFilesThread, OpensEachFileInOrder) {
  ryx_test::ScratchDir dir;
  ryx_test::write_file(dir.file("a.fa"), ">a\nACGT\n>b\nGG\n>c\nT\n");
  ryx_test::write_file(dir.file("b.fq"), "@x\nACGT\n+\nIIII\n");
  const std::string a = dir.file("a.fa"), b = dir.file("b.fq");
  const char *paths[] = {a.c_str(), b.c_str()};
  thread_queue_t *queue = thread_queue_new(4);
  thread_arbiter_t *arbiter = thread_arbiter_new(&queue, 1, 2, 0);
  read_files_ctx_t open_ctx{arbiter, 2, paths};
  OpenedFiles collected{arbiter, {}};
  thread_group_t *opener = thread_group_new(1, read_files_open_thread, nullptr, queue, &open_ctx);
  thread_group_t *consumer = thread_group_new(1, collect_databases, queue, nullptr, &collected);
  thread_queue_reset(queue);
  thread_group_register(opener);
  thread_group_register(consumer);
  thread_arbiter_count_threads(arbiter);
  thread_group_start(opener);
  thread_group_start(consumer);
  thread_group_join(consumer);
  thread_group_join(opener);
  EXPECT_EQ(collected.sequence_counts, (std::vector<int64_t>{3, 1}));
  thread_group_free(opener);
  thread_group_free(consumer);
  thread_queue_free(queue);
  thread_arbiter_free(arbiter);
}

}  // namespace
