// Sequence-file lists: entries, equality, concatenation and the file layout
// of versions 0/1 and 2/3.
#include <gtest/gtest.h>

#include <string>

#include "common/input_stream.h"
#include "common/linked_list.h"
#include "nyr_test_data.h"
#include "seqio/seq_file_list.h"
#include "test_support.h"

namespace {

using nyr_test::owned;
using nyr_test::StreamOver;
using nyr_test::written_bytes;
using ryx_test::hex_bytes;

seq_file_info_list_t *list_of(std::initializer_list<seq_file_info_t *> entries) {
  linked_list_t *linked = linked_list_new();
  for (seq_file_info_t *entry : entries) linked_list_append(linked, entry);
  seq_file_info_list_t *list = seq_file_info_list_new(linked);
  linked_list_free(linked);
  return list;
}

seq_file_info_t *pair(const char *a, const char *b, int64_t sequences) {
  return seq_file_info_new_pair(owned(a), owned(b), sequences, -1);
}

TEST(SeqFileList, EntryFlags) {
  seq_file_info_t *single = seq_file_info_new(owned("a.fq"), -1, -1);
  EXPECT_EQ(single->flags, 0);
  EXPECT_EQ(seq_file_info_is_pair(single), 0);
  seq_file_info_set_paired(single);
  EXPECT_EQ(seq_file_info_is_paired(single), 1);
  EXPECT_EQ(seq_file_info_is_pair(single), 0);
  seq_file_info_t *two = pair("a_1.fq", "a_2.fq", 10);
  EXPECT_EQ(seq_file_info_is_pair(two), 1);
  EXPECT_EQ(seq_file_info_is_paired(two), 0);
  EXPECT_STREQ(two->names[1], "a_2.fq");
  char **names = static_cast<char **>(ryx_malloc(sizeof(char *)));
  names[0] = owned("raw.fa");
  seq_file_info_t *raw = seq_file_info_new_raw(names, 3, 30);
  EXPECT_EQ(raw->flags, 0);
  EXPECT_EQ(raw->residue_count, 30);
  seq_file_info_free(single);
  seq_file_info_free(two);
  seq_file_info_free(raw);
  EXPECT_EQ(seq_file_info_free(nullptr), nullptr);
}

TEST(SeqFileList, EqualityComparesFlagsAndNamesNotCounts) {
  auto make = [](int variant) -> seq_file_info_list_t * {
    seq_file_info_t *first = seq_file_info_new(owned("ref.fa"), variant == 1 ? 5 : 4, 100);
    seq_file_info_t *second = pair("r_1.fq", variant == 3 ? "r_3.fq" : "r_2.fq", -1);
    if (variant == 2) seq_file_info_set_paired(second);
    if (variant == 4) {
      seq_file_info_free(second);
      return list_of({first});
    }
    return list_of({first, second});
  };
  seq_file_info_list_t *base = make(0);
  struct Case {
    int variant;
    int equal;
  } cases[] = {{0, 1}, {1, 1}, {2, 0}, {3, 0}, {4, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.variant);
    seq_file_info_list_t *other = make(c.variant);
    EXPECT_EQ(seq_file_info_list_equal(base, other), c.equal);
    EXPECT_EQ(seq_file_info_list_equal(other, base), c.equal);
    seq_file_info_list_free(other);
  }
  seq_file_info_list_free(base);
  seq_file_info_list_t *empty_a = list_of({});
  seq_file_info_list_t *empty_b = list_of({});
  EXPECT_EQ(seq_file_info_list_equal(empty_a, empty_b), 1);
  seq_file_info_list_free(empty_a);
  seq_file_info_list_free(empty_b);
}

TEST(SeqFileList, ConcatSharesTheEntriesAndFreesOnlyItsShell) {
  seq_file_info_list_t *two = list_of({seq_file_info_new(owned("a.fq"), 1, 1), seq_file_info_new(owned("b.fq"), 2, 2)});
  seq_file_info_list_t *joined = seq_file_info_list_concat(nullptr, two);
  ASSERT_EQ(joined->count, 2);
  EXPECT_EQ(joined->entries[0], two->entries[0]);
  EXPECT_EQ(joined->entries[1], two->entries[1]);
  seq_file_info_list_t *single = seq_file_info_list_new_single(seq_file_info_new(owned("c.fq"), 3, 3));
  seq_file_info_list_t *three = seq_file_info_list_concat(joined, single);
  EXPECT_EQ(three->count, 3);
  EXPECT_STREQ(three->entries[2]->names[0], "c.fq");
  // Freeing a joined list leaves the entries to their own lists.
  EXPECT_EQ(seq_file_info_list_free(three), nullptr);
  EXPECT_EQ(seq_file_info_list_free(joined), nullptr);
  EXPECT_STREQ(two->entries[1]->names[0], "b.fq");
  seq_file_info_list_free(two);
  seq_file_info_list_free(single);
  EXPECT_EQ(seq_file_info_list_free(nullptr), nullptr);
  EXPECT_EQ(seq_file_info_list_free_shell(nullptr), nullptr);
}

TEST(SeqFileList, FileLayoutOfBothVersionFamilies) {
  seq_file_info_t *big = seq_file_info_new(owned("big.fq"), 3000000000LL, 450000000000LL);
  seq_file_info_t *mates = pair("m_1.fq", "m_2.fq", 6);
  seq_file_info_set_paired(mates);
  mates->residue_count = 600;
  seq_file_info_list_t *list = list_of({big, mates});
  const std::string v3 = hex_bytes(
      "02"
      "00 005ED0B200000000 001417C668000000 06 6269672E6671"
      "03 0600000000000000 5802000000000000 06 6D5F312E6671 06 6D5F322E6671");
  const std::string v1 = hex_bytes(
      "02"
      "00 005ED0B2 001417C668000000 06 6269672E6671"
      "03 06000000 5802000000000000 06 6D5F312E6671 06 6D5F322E6671");
  EXPECT_EQ(written_bytes([&](FILE *out) { seq_file_info_list_write(out, list); }), v3);
  EXPECT_EQ(written_bytes([&](FILE *out) { seq_file_info_list_write_version(out, list, 1); }), v1);
  seq_file_info_list_free(list);

  for (int version : {3, 1}) {
    SCOPED_TRACE(version);
    StreamOver stream((version == 3 ? v3 : v1) + "Z");
    seq_file_info_list_t *back = seq_file_info_list_read(version, stream.get());
    ASSERT_EQ(back->count, 2);
    EXPECT_EQ(back->entries[0]->sequence_count, 3000000000LL);  // above 2^31 - 1, unchanged
    EXPECT_EQ(back->entries[0]->residue_count, 450000000000LL);
    EXPECT_EQ(back->entries[1]->flags, 3);
    EXPECT_STREQ(back->entries[1]->names[1], "m_2.fq");
    EXPECT_EQ(input_stream_getc(stream.get()), 'Z');
    seq_file_info_list_free(back);
  }

  // The stdio twin leaves the file right behind the list.
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("list.bin");
  ryx_test::write_file(path, v3 + "Z");
  FILE *file = fopen(path.c_str(), "rb");
  seq_file_info_list_t *back = seq_file_info_list_read_file(3, file);
  EXPECT_EQ(back->count, 2);
  EXPECT_EQ(fgetc(file), 'Z');
  fclose(file);
  seq_file_info_list_free(back);

  // No entries; an empty name reads back as null and compares equal to one.
  StreamOver empty(hex_bytes("00 01 00 0100000000000000 0100000000000000 00"));
  seq_file_info_list_t *none = seq_file_info_list_read(3, empty.get());
  EXPECT_EQ(none->count, 0);
  seq_file_info_list_t *unnamed = seq_file_info_list_read(3, empty.get());
  EXPECT_EQ(unnamed->entries[0]->names[0], nullptr);
  seq_file_info_list_free(none);
  seq_file_info_list_free(unnamed);
}

}  // namespace
