// Sequence records: constructors, copies, release paths, joining, in-place
// reversal and printing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/chunk_arena.h"
#include "common/memory.h"
#include "seqio/seq_record.h"

namespace {

std::string residues_of(const seq_record_t *r) { return std::string(reinterpret_cast<char *>(r->residues), r->length); }
std::string qualities_of(const seq_record_t *r) {
  return std::string(reinterpret_cast<char *>(r->qualities), r->length);
}

seq_record_t *with_qualities(const char *residues, const char *qualities) {
  seq_record_t *r = seq_record_new_with_qualities(static_cast<uint32_t>(strlen(residues)));
  memcpy(r->residues, residues, r->length);
  memcpy(r->qualities, qualities, r->length);
  return r;
}

TEST(SeqRecord, Constructors) {
  seq_record_t *empty = seq_record_new_empty();
  EXPECT_EQ(empty->length, 0u);
  EXPECT_EQ(empty->residues, nullptr);
  EXPECT_EQ(empty->qualities, nullptr);
  EXPECT_EQ(empty->name, nullptr);
  EXPECT_EQ(empty->free_callback, seq_record_free);
  seq_record_free(empty);

  seq_record_t *plain = seq_record_new(5);
  EXPECT_EQ(plain->length, 5u);
  EXPECT_NE(plain->residues, nullptr);
  EXPECT_EQ(plain->qualities, nullptr);
  EXPECT_EQ(plain->free_callback, seq_record_free);
  plain->residues[5] = 0;  // the spare byte belongs to the buffer
  seq_record_free(plain);

  seq_record_t *both = seq_record_new_with_qualities(3);
  ASSERT_NE(both->qualities, nullptr);
  both->qualities[3] = 0;
  seq_record_free(both);

  seq_record_t *none = seq_record_new(0);
  EXPECT_NE(none->residues, nullptr);
  seq_record_free(none);
}

TEST(SeqRecord, FromLettersAndFromString) {
  seq_record_t *codes = seq_record_new_from_letters("ACGTNacgtnUuX-");
  EXPECT_EQ(residues_of(codes), std::string("\x00\x01\x02\x03\x04\x00\x01\x02\x03\x04\x03\x03\x06\x05", 14));
  seq_record_free(codes);
  seq_record_t *text = seq_record_new_from_string("ACgt-\x7f");
  EXPECT_EQ(residues_of(text), "ACgt-\x7f");
  EXPECT_EQ(text->qualities, nullptr);
  seq_record_free(text);
  seq_record_t *nothing = seq_record_new_from_letters("");
  EXPECT_EQ(nothing->length, 0u);
  seq_record_free(nothing);
}

TEST(SeqRecord, RandomResiduesFollowRand) {
  srand(12345);
  seq_record_t *r = seq_record_new_random(4, 2000);
  srand(12345);
  int seen[4] = {0, 0, 0, 0};
  for (uint32_t i = 0; i < r->length; i++) {
    ASSERT_LT(r->residues[i], 4);
    // floor(rand / 2^31 * n)
    EXPECT_EQ(r->residues[i], static_cast<uint8_t>(static_cast<int64_t>(rand()) * 4 >> 31)) << i;
    seen[r->residues[i]]++;
  }
  for (int s : seen) EXPECT_GT(s, 300);
  seq_record_free(r);

  for (int rep = 0; rep < 200; rep++) {
    seq_record_t *v = seq_record_new_random_length(5, 10, 20);
    EXPECT_GE(v->length, 10u);
    EXPECT_LE(v->length, 20u);
    for (uint32_t i = 0; i < v->length; i++) EXPECT_LT(v->residues[i], 5);
    seq_record_free(v);
  }
  seq_record_t *exact = seq_record_new_random_length(2, 7, 7);
  EXPECT_EQ(exact->length, 7u);
  seq_record_free(exact);
}

TEST(SeqRecord, Ranges) {
  seq_record_t *source = with_qualities("0123456789", "abcdefghij");
  struct Case {
    uint32_t start, end;
    const char *residues, *qualities;
  };
  const Case cases[] = {{4, 20, "456789", "efghij"}, {0, 3, "012", "abc"}, {7, 7, "", ""},
                        {12, 20, "", ""},           {9, 4, "", ""},       {0, 10, "0123456789", "abcdefghij"}};
  for (const Case &c : cases) {
    seq_record_t *r = seq_record_new_range(source, c.start, c.end);
    EXPECT_EQ(residues_of(r), c.residues) << c.start << ".." << c.end;
    ASSERT_NE(r->qualities, nullptr);
    EXPECT_EQ(qualities_of(r), c.qualities);
    EXPECT_EQ(r->name, nullptr);
    seq_record_free(r);
  }
  seq_record_t *plain = seq_record_new_from_string("ACGTACGT");
  seq_record_t *r = seq_record_new_range(plain, 2, 5);
  EXPECT_EQ(residues_of(r), "GTA");
  EXPECT_EQ(r->qualities, nullptr);
  seq_record_free(r);
  seq_record_free(plain);
  seq_record_free(source);
}

TEST(SeqRecord, CopiesDropTheName) {
  seq_record_t *source = with_qualities("ACGT", "!!#$");
  source->name = static_cast<char *>(ryx_malloc(5));
  memcpy(source->name, "read", 5);
  seq_record_t *copy = seq_record_copy(source);
  EXPECT_EQ(residues_of(copy), "ACGT");
  EXPECT_EQ(qualities_of(copy), "!!#$");
  EXPECT_NE(copy->residues, source->residues);
  EXPECT_EQ(copy->name, nullptr);
  EXPECT_EQ(copy->free_callback, seq_record_free);
  seq_record_free(copy);
  seq_record_free(source);
}

// Arena copies live entirely in the arena: their release frees nothing (the
// address sanitizer would report freeing arena memory), and the record is
// aligned even after odd-sized pieces.
TEST(SeqRecord, ArenaCopies) {
  chunk_arena_t *arena = chunk_arena_new();
  seq_record_t *source = with_qualities("ACGTN", "ABCDE");
  seq_record_t *plain_source = seq_record_new_from_string("GATTACA");
  std::vector<seq_record_t *> copies;
  for (int i = 0; i < 50; i++) {
    chunk_arena_alloc(arena, static_cast<size_t>(1 + i % 7));
    copies.push_back(seq_record_copy_to_arena(arena, i % 2 ? source : plain_source));
  }
  for (size_t i = 0; i < copies.size(); i++) {
    seq_record_t *c = copies[i];
    EXPECT_EQ(reinterpret_cast<uintptr_t>(c) % alignof(seq_record_t), 0u);
    EXPECT_EQ(c->name, nullptr);
    EXPECT_EQ(c->free_callback, seq_record_free_nothing);
    if (i % 2) {
      EXPECT_EQ(residues_of(c), "ACGTN");
      EXPECT_EQ(qualities_of(c), "ABCDE");
    } else {
      EXPECT_EQ(residues_of(c), "GATTACA");
      EXPECT_EQ(c->qualities, nullptr);
    }
    // Record and buffers lie in the arena's current or earlier blocks.
    bool inside = false;
    for (int32_t b = 0; b <= arena->current_block; b++) {
      auto *start = arena->blocks[b];
      auto *p = reinterpret_cast<uint8_t *>(c->residues);
      if (p >= start && p < start + kChunkArenaBlockSize) inside = true;
    }
    EXPECT_TRUE(inside);
    seq_record_release(c);
  }
  EXPECT_EQ(seq_record_free_nothing(copies[0]), nullptr);
  seq_record_free(source);
  seq_record_free(plain_source);
  chunk_arena_free(arena);
}

int released = 0;
seq_record_t *count_release(seq_record_t *record) {
  released++;
  return seq_record_free(record);
}

TEST(SeqRecord, ReleasePaths) {
  released = 0;
  seq_record_t *r = seq_record_new_from_string("AC");
  r->free_callback = count_release;
  seq_record_release(r);
  EXPECT_EQ(released, 1);
  seq_record_release(nullptr);
  EXPECT_EQ(seq_record_free(nullptr), nullptr);

  seq_record_t *counted = seq_record_new_from_string("ACGT");
  counted->free_callback = count_release;
  counted->use_count = 3;
  EXPECT_EQ(seq_record_release_counted(counted), 0);
  EXPECT_EQ(seq_record_release_counted(counted), 0);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(seq_record_release_counted(counted), 1);
  EXPECT_EQ(released, 2);

  // The shell goes, the buffers stay with their owner.
  uint8_t residues[4] = {1, 2, 3, 0};
  uint8_t qualities[4] = {9, 9, 9, 0};
  seq_record_t *shell = seq_record_new_empty();
  shell->residues = residues;
  shell->qualities = qualities;
  shell->length = 3;
  shell->name = static_cast<char *>(ryx_malloc(3));
  EXPECT_EQ(seq_record_free_shell(shell), nullptr);
  EXPECT_EQ(residues[2], 3);
  EXPECT_EQ(seq_record_free_shell(nullptr), nullptr);
}

std::atomic<int> thread_releases{0};
seq_record_t *count_release_atomic(seq_record_t *record) {
  thread_releases++;
  return seq_record_free(record);
}

// Holders on many threads each drop their use: exactly one of them frees.
TEST(SeqRecordThreads, CountedReleaseFreesOnce) {
  for (int rep = 0; rep < 50; rep++) {
    thread_releases = 0;
    seq_record_t *r = seq_record_new_from_string("ACGT");
    r->free_callback = count_release_atomic;
    const int holders = 8;
    r->use_count = holders;
    std::atomic<int> freed_here{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < holders; t++) threads.emplace_back([&] { freed_here += seq_record_release_counted(r); });
    for (std::thread &t : threads) t.join();
    ASSERT_EQ(freed_here.load(), 1);
    ASSERT_EQ(thread_releases.load(), 1);
  }
}

TEST(SeqRecord, Append) {
  struct Case {
    const char *a_res, *a_qual, *b_res, *b_qual;  // null qualities: none
    const char *res;
    const char *qual;  // null: the result has none
    size_t qual_len;
  };
  const Case cases[] = {
      {"AC", nullptr, "GT", "!!", "ACGT", nullptr, 0},       // the result stays without qualities
      {"AC", "ab", "GTA", nullptr, "ACGTA", "ab\0\0\0", 5},  // missing qualities become zero bytes
      {"AC", "ab", "GT", "cd", "ACGT", "abcd", 4},
      {"", nullptr, "GT", nullptr, "GT", nullptr, 0},
      {"AC", "ab", "", "", "AC", "ab", 2},
  };
  for (const Case &c : cases) {
    seq_record_t *a = c.a_qual ? with_qualities(c.a_res, c.a_qual) : seq_record_new_from_string(c.a_res);
    seq_record_t *b = c.b_qual ? with_qualities(c.b_res, c.b_qual) : seq_record_new_from_string(c.b_res);
    seq_record_append(a, b);
    EXPECT_EQ(residues_of(a), c.res);
    if (c.qual == nullptr) {
      EXPECT_EQ(a->qualities, nullptr);
    } else {
      ASSERT_NE(a->qualities, nullptr);
      EXPECT_EQ(qualities_of(a), std::string(c.qual, c.qual_len));
    }
    seq_record_free(a);
    seq_record_free(b);
  }
  // Appending to a record built empty, and appending a record to itself.
  seq_record_t *grown = seq_record_new_empty();
  seq_record_t *part = seq_record_new_from_string("TTA");
  seq_record_append(grown, part);
  seq_record_append(grown, grown);
  EXPECT_EQ(residues_of(grown), "TTATTA");
  seq_record_free(part);
  seq_record_free(grown);
}

TEST(SeqRecord, ReverseComplementInPlace) {
  seq_record_t *codes = with_qualities("......", "abcdef");
  const uint8_t raw[6] = {0, 1, 2, 3, 4, 7};
  memcpy(codes->residues, raw, 6);
  seq_record_reverse_complement(codes);
  EXPECT_EQ(residues_of(codes), std::string("\x07\x04\x00\x01\x02\x03", 6));
  EXPECT_EQ(qualities_of(codes), "fedcba");
  seq_record_free(codes);

  seq_record_t *odd = seq_record_new_from_letters("ACG");
  seq_record_reverse_complement(odd);
  EXPECT_EQ(residues_of(odd), std::string("\x01\x02\x03", 3));
  EXPECT_EQ(odd->qualities, nullptr);
  seq_record_free(odd);

  seq_record_t *letters = with_qualities("AcgRn", "12345");
  seq_record_reverse_complement_letters(letters);
  EXPECT_EQ(residues_of(letters), "nYcgT");
  EXPECT_EQ(qualities_of(letters), "54321");
  seq_record_free(letters);

  seq_record_t *empty = seq_record_new_empty();
  seq_record_reverse_complement(empty);
  seq_record_reverse_complement_letters(empty);
  EXPECT_EQ(empty->length, 0u);
  seq_record_free(empty);
}

TEST(SeqRecord, PrintingToStandardOutput) {
  seq_record_t *codes = seq_record_new_from_letters("ACGTN");
  testing::internal::CaptureStdout();
  seq_record_print_debug(codes);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ABCDE\n");

  seq_record_t *based = seq_record_new(7);
  const uint8_t bytes[7] = {63, 64, 65, 66, 67, 68, 62};
  memcpy(based->residues, bytes, 7);
  testing::internal::CaptureStdout();
  seq_record_print_codes(based, 63);
  seq_record_print_codes(codes, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ACGTNXX\nACGTN\n");

  seq_record_t *text = seq_record_new_from_string("raw bytes");
  testing::internal::CaptureStdout();
  seq_record_print_raw(text);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "raw bytes\n");
  seq_record_free(text);
  seq_record_free(based);
  seq_record_free(codes);
}

TEST(SeqRecord, PrintingToAStream) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  seq_record_t *codes = seq_record_new_from_letters("ACGTNA");
  codes->residues[5] = 9;  // not a nucleotide code
  seq_record_fprint_fasta_codes(out, codes);
  codes->name = static_cast<char *>(ryx_malloc(6));
  memcpy(codes->name, "chr 1", 6);
  seq_record_fprint_fasta_codes(out, codes);
  seq_record_t *text = seq_record_new_from_string("q\tz");
  seq_record_fprint_raw(out, text);
  seq_record_t *empty = seq_record_new_empty();
  seq_record_fprint_raw(out, empty);
  fclose(out);
  EXPECT_EQ(std::string(buffer, size), ">\nACGTNN\n>chr 1\nACGTNN\nq\tz\n\n");
  free(buffer);
  seq_record_free(codes);
  seq_record_free(text);
  seq_record_free(empty);
}

}  // namespace
