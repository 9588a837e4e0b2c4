// The nyr layout against hand-written fixtures: the writers produce exactly
// the fixture bytes, and the readers read every version of the same data
// identically.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/input_stream.h"
#include "nyr_test_data.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using nyr_test::code_of;
using nyr_test::StreamOver;
using nyr_test::written_bytes;
using ryx_test::hex_bytes;
using ryx_test::hex_fixture;
using ryx_test::ScratchDir;

const std::string kHeaderV3 = hex_bytes("52 59 58 80 00 00 00 03 00 00 00 00 00 00 00 00");

TEST(NyrGolden, WholeFileWriterProducesTheFixture) {
  ScratchDir dir;
  const std::string path = dir.file("out.nyr");
  nyr_file_t *file = nyr_test::one_contig_two_reads();
  nyr_file_write(path.c_str(), file);
  nyr_file_free(file);
  EXPECT_EQ(ryx_test::read_file(path), hex_fixture("seqio/one_contig_two_reads_v3.nyr.hex"));
}

TEST(NyrGolden, StreamingWriterProducesTheMultiHitFixture) {
  nyr_file_t *file = nyr_test::two_contigs_fields();
  nyr_match_t *block = nyr_test::multi_hit_block();
  nyr_match_t *single = nyr_match_new(nullptr, 1, 299, kNyrMatchPaired, 0, 2, nyr_test::owned_code({4, 128}));
  uint32_t *lengths = nyr_file_get_contig_lengths(file);
  const uint32_t longest = nyr_file_get_longest_contig(file);
  const std::string bytes = written_bytes([&](FILE *out) {
    nyr_file_write_start(out, file);
    const nyr_match_t *hits[] = {&block[0], &block[1], &block[2]};
    nyr_match_write_hits(out, file->contig_count, longest, lengths, 3, hits);
    nyr_match_write(out, file->contig_count, longest, lengths, single);
    nyr_file_write_finish(out, file);
  });
  EXPECT_EQ(bytes, hex_fixture("seqio/two_contigs_multi_hit_wrap_v3.nyr.hex"));
  ryx_free(lengths);
  nyr_match_free_hits(block);
  nyr_match_free(single);
  nyr_file_free(file);
}

// Versions 0 and 1 from their writers: the header by hand, the records and
// the version-1 fields block from the library.
TEST(NyrGolden, OlderVersionWritersProduceTheirFixtures) {
  nyr_file_t *file = nyr_test::one_contig_two_reads();
  for (int version : {0, 1}) {
    SCOPED_TRACE(version);
    const std::string bytes = written_bytes([&](FILE *out) {
      std::string header = kHeaderV3;
      header[7] = static_cast<char>(version);
      header[8] = version == 0 ? 21 : 22;
      fwrite(header.data(), 1, header.size(), out);
      for (uint64_t i = 0; i < file->read_count; i++) {
        if (version == 0)
          nyr_match_write_v0(out, 1, 100, nyr_file_get_match(file, i));
        else
          nyr_match_write_single(out, 1, 100, nyr_file_get_match(file, i));
      }
      nyr_fields_write_v1(out, file);
    });
    EXPECT_EQ(bytes, hex_fixture("seqio/one_contig_two_reads_v" + std::to_string(version) + ".nyr.hex"));
  }
  nyr_file_free(file);
}

TEST(NyrGolden, EveryVersionOfTheSameDataReadsIdentically) {
  for (int version = 0; version <= 3; version++) {
    SCOPED_TRACE(version);
    ScratchDir dir;
    const std::string path = dir.file("in.nyr");
    ryx_test::write_file(path, hex_fixture("seqio/one_contig_two_reads_v" + std::to_string(version) + ".nyr.hex"));
    nyr_file_t *file = nyr_file_read(path.c_str(), 1);
    EXPECT_EQ(file->version, version);
    ASSERT_EQ(file->contig_count, 1u);
    EXPECT_EQ(file->contigs[0]->length, 100u);
    EXPECT_EQ(file->contigs[0]->flags, 0);
    EXPECT_EQ(file->read_count, 2u);
    EXPECT_STREQ(file->program_name, "rx");
    EXPECT_STREQ(file->program_version, "1.0");
    EXPECT_EQ(file->command_line, nullptr);
    ASSERT_EQ(file->reference_files->count, 1);
    EXPECT_STREQ(file->reference_files->entries[0]->names[0], "ref.fa");
    EXPECT_EQ(file->reference_files->entries[0]->sequence_count, 1);
    EXPECT_EQ(file->reference_files->entries[0]->residue_count, 100);
    ASSERT_EQ(file->read_files->count, 1);
    EXPECT_STREQ(file->read_files->entries[0]->names[0], "reads.fq");
    EXPECT_EQ(file->read_files->entries[0]->flags, 0);
    EXPECT_EQ(file->read_files->entries[0]->sequence_count, 2);
    EXPECT_EQ(file->read_files->entries[0]->residue_count, 20);
    ASSERT_NE(file->scheme, nullptr);
    EXPECT_EQ(file->scheme->insertion_first, 5);
    EXPECT_EQ(file->scheme->insertion_further, 2);
    EXPECT_EQ(file->scheme->deletion_first, 5);
    EXPECT_EQ(file->scheme->deletion_further, 2);
    EXPECT_EQ(file->scheme->match, 1);
    EXPECT_EQ(file->scheme->mismatch[0], -3);
    EXPECT_EQ(file->scheme->mismatch[2], -3);
    EXPECT_EQ(file->scheme->colour_error, -1);
    EXPECT_EQ(file->scheme->optional[0], -1);
    EXPECT_EQ(file->scheme->mode, 0);
    EXPECT_EQ(nyr_file_get_match(file, 0), nullptr);
    const nyr_match_t *hit = nyr_file_get_match(file, 1);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(uint32_t(hit->contig), 0u);
    EXPECT_EQ(uint32_t(hit->position), 10u);
    EXPECT_EQ(hit->flags, 0);
    EXPECT_EQ(hit->quality, kNyrNoQuality);
    EXPECT_EQ(nyr_match_get_count(hit), 1u);
    EXPECT_EQ(code_of(hit), std::vector<uint8_t>{9});
    nyr_file_free(file);
  }
}

TEST(NyrGolden, MultiHitFileReadsFirstHitsAndAllHits) {
  const std::string bytes = hex_fixture("seqio/two_contigs_multi_hit_wrap_v3.nyr.hex");
  ScratchDir dir;
  const std::string path = dir.file("in.nyr");
  ryx_test::write_file(path, bytes);
  for (int resolve : {1, 0}) {
    SCOPED_TRACE(resolve);
    nyr_file_t *file = nyr_file_read(path.c_str(), resolve);
    EXPECT_EQ(nyr_contig_is_circular(file->contigs[0]), 1);
    EXPECT_EQ(nyr_contig_is_circular(file->contigs[1]), 0);
    EXPECT_EQ(file->program_name, nullptr);
    EXPECT_EQ(file->scheme, nullptr);
    const seq_file_info_t *pair = file->read_files->entries[0];
    EXPECT_EQ(seq_file_info_is_pair(pair), 1);
    EXPECT_EQ(seq_file_info_is_paired(pair), 1);
    EXPECT_STREQ(pair->names[1], "r_2.fq");
    const nyr_match_t *first = nyr_file_get_match(file, 0);
    EXPECT_EQ(uint32_t(first->position), resolve ? 1500u : 500u);
    EXPECT_EQ(first->flags, 0x21);  // reverse, counted; no follower kept
    EXPECT_EQ(nyr_match_get_count(first), 5u);
    const nyr_match_t *second = nyr_file_get_match(file, 1);
    EXPECT_EQ(uint32_t(second->contig), 1u);
    EXPECT_EQ(uint32_t(second->position), 299u);
    EXPECT_EQ(second->flags, kNyrMatchPaired);
    EXPECT_EQ(code_of(second), (std::vector<uint8_t>{4, 128}));
    nyr_file_free(file);
  }

  // All hits of read 0 through the stream, after the header.
  StreamOver stream(bytes);
  nyr_file_t *file = nyr_file_read_header_stream(stream.get());
  EXPECT_EQ(input_stream_tell(stream.get()), 16);
  uint32_t *lengths = nyr_file_get_contig_lengths(file);
  chunk_arena_t *arena = file->arena;
  nyr_match_t *hits = nyr_match_read_all(3, stream.get(), arena, 2, 1000, lengths, file->fields_offset);
  ASSERT_NE(hits, nullptr);
  const nyr_match_t *h = hits;
  EXPECT_EQ(uint32_t(h->position), 1500u);
  EXPECT_EQ(h->flags, 0x21 | kNyrMatchMore);
  h = nyr_match_next_hit(hits);
  EXPECT_EQ(uint32_t(h->contig), 1u);
  EXPECT_EQ(uint32_t(h->position), 20u);
  EXPECT_EQ(h->quality, 30);
  EXPECT_EQ(h->flags, 0x20 | kNyrMatchMore);
  h = nyr_match_next_hit(hits + 1);
  EXPECT_EQ(uint32_t(h->position), 7u);
  EXPECT_EQ(h->flags, 0x20);  // the alignment bits stay in the file
  EXPECT_EQ(h->quality, kNyrNoQuality);
  EXPECT_EQ(nyr_match_next_hit(hits + 2), nullptr);
  ryx_free(lengths);
  nyr_file_free(file);
}

// Contig indexes and positions take the bytes their limits need.
TEST(NyrGolden, NumberWidthsFollowTheContigCountAndLongestContig) {
  struct Case {
    const char *name;
    uint32_t contigs, longest, contig, position;
    const char *hex;
  } cases[] = {
      {"one contig, contig of length 1", 1, 1, 0, 0, "01 01 00 09"},
      {"longest 256", 1, 256, 0, 255, "01 01 FF 00 09"},
      {"longest 257", 1, 257, 0, 256, "01 01 00 01 00 09"},
      {"256 contigs", 256, 100, 255, 5, "01 01 FF 05 00 09"},
      {"257 contigs", 257, 100, 256, 5, "01 01 00 01 05 00 09"},
      {"three and four bytes", 65537, 16777217, 65536, 16777216, "01 01 00 00 01 00 00 00 01 00 09"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    nyr_match_t *record = nyr_match_new(nullptr, c.contig, c.position, 0, 0, 1, nyr_test::owned_code({9}));
    const std::string bytes =
        written_bytes([&](FILE *out) { nyr_match_write(out, c.contigs, c.longest, nullptr, record); });
    EXPECT_EQ(bytes, hex_bytes(c.hex));
    StreamOver stream(bytes);
    nyr_match_t *back = nyr_match_read(3, stream.get(), nullptr, c.contigs, c.longest, nullptr, -1);
    EXPECT_EQ(uint32_t(back->contig), c.contig);
    EXPECT_EQ(uint32_t(back->position), c.position);
    EXPECT_EQ(input_stream_getc(stream.get()), -1);
    nyr_match_free(back);
    nyr_match_free(record);
  }
}

TEST(NyrGolden, ScoringSchemeTypes) {
  nyr_scoring_scheme_t *scheme = nyr_scoring_scheme_new(5, 2, 5, 2, 1, -3, -3, -3, 0);
  const std::string type3 = hex_bytes("03 0500 0200 0500 0200 0100 FDFF FDFF FDFF FFFF 00");
  ASSERT_EQ(type3.size(), 20u);
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_scoring_scheme_write(out, scheme); }), type3);
  // Only the second or fourth optional cost set: still type 3, cost lost.
  scheme->optional[1] = 7;
  scheme->optional[3] = 8;
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_scoring_scheme_write(out, scheme); }), type3);
  // The first optional cost makes it type 4, with all four and the colour cost.
  scheme->optional[0] = 6;
  scheme->colour_error = 4;
  scheme->mode = 3;
  const std::string type4 = hex_bytes("04 0500 0200 0500 0200 0600 0700 FFFF 0800 0100 FDFF FDFF FDFF 0400 03");
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_scoring_scheme_write(out, scheme); }), type4);
  StreamOver stream(type4);
  nyr_scoring_scheme_t *back = nyr_scoring_scheme_read(stream.get());
  EXPECT_EQ(back->optional[0], 6);
  EXPECT_EQ(back->optional[1], 7);
  EXPECT_EQ(back->optional[2], -1);
  EXPECT_EQ(back->optional[3], 8);
  EXPECT_EQ(back->colour_error, 4);
  EXPECT_EQ(back->mode, 3);
  nyr_scoring_scheme_free(back);
  nyr_scoring_scheme_free(scheme);
  EXPECT_EQ(written_bytes([&](FILE *out) { nyr_scoring_scheme_write(out, nullptr); }), hex_bytes("00"));

  // Types 1 and 2 are only read: no colour cost, and no mode for type 1.
  StreamOver older(hex_bytes("01 0100 0200 0300 0400 0500 F9FF FAFF FBFF  02 0100 0200 0300 0400 0500 F9FF FAFF FBFF 06"));
  nyr_scoring_scheme_t *one = nyr_scoring_scheme_read(older.get());
  nyr_scoring_scheme_t *two = nyr_scoring_scheme_read(older.get());
  EXPECT_EQ(one->deletion_further, 4);
  EXPECT_EQ(one->match, 5);
  EXPECT_EQ(one->mismatch[2], -5);
  EXPECT_EQ(one->colour_error, -1);
  EXPECT_EQ(one->mode, 0);
  EXPECT_EQ(two->mode, 2);  // only the low two bits of 6 count
  EXPECT_EQ(input_stream_getc(older.get()), -1);
  nyr_scoring_scheme_free(one);
  nyr_scoring_scheme_free(two);
}

}  // namespace
