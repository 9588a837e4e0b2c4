// FASTA, FASTA quality file and FASTA offset file readers: the record
// readers, skips, chunk starts and chunk parses, and their errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/array_list.h"
#include "seq_read_paths.h"
#include "seqio/fasta_offset_reader.h"
#include "seqio/fasta_quality_reader.h"
#include "seqio/fasta_reader.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::Rec;

Rec rec(const std::string &name, const std::string &residues) { return {name, residues, false, ""}; }

// Runs fn on a stream over text; the stream is named by its file.
void with_stream(const std::string &text, const std::function<void(input_stream_t *, const std::string &)> &fn) {
  ScratchDir dir;
  const std::string path = dir.file("in");
  ryx_test::write_file(path, text);
  input_stream_t *in = input_stream_open(path.c_str(), "rb");
  fn(in, path);
  input_stream_close(in);
}

std::vector<int32_t> starts_of(const std::vector<std::string> &blocks, void *state,
                               void (*find)(const uint8_t *, int32_t, array_list_t *, void *, void *, const char *)) {
  std::vector<int32_t> all;
  int32_t base = 0;
  array_list_t *starts = array_list_new(sizeof(int32_t));
  for (const std::string &b : blocks) {
    starts->count = 0;
    find(reinterpret_cast<const uint8_t *>(b.data()), static_cast<int32_t>(b.size()), starts, state, nullptr, "x");
    for (uint64_t i = 0; i < starts->count; i++) all.push_back(base + *static_cast<int32_t *>(array_list_get_item(starts, i)));
    base += static_cast<int32_t>(b.size());
  }
  array_list_free(starts);
  return all;
}

TEST(FastaReader, RecordReaderAndSkip) {
  with_stream(">a b\r\nAC>G\n\n>empty\n>c\nT", [](input_stream_t *in, const std::string &) {
    seq_record_t *r = seq_record_new_empty();
    EXPECT_EQ(fasta_read(in, r), 4);
    EXPECT_STREQ(r->name, "a b");
    EXPECT_EQ(seqio_test::bytes_of(r), "AC>G");  // '>' inside a line is a residue
    seq_record_free(r);
    EXPECT_EQ(fasta_read(in, nullptr), 0);
    EXPECT_EQ(fasta_read(in, nullptr), 1);
    EXPECT_EQ(fasta_read(in, nullptr), -1);
    // From the first record's start, skips pass record starts, never the
    // one at the starting position.
    input_stream_seek(in, 0, SEEK_SET);
    fasta_skip(in, 0);
    EXPECT_EQ(input_stream_tell(in), 12);  // in front of ">empty"
    input_stream_seek(in, 0, SEEK_SET);
    fasta_skip(in, 1);
    EXPECT_EQ(input_stream_tell(in), 19);  // in front of ">c"
    fasta_skip(in, 5);
    EXPECT_EQ(input_stream_getc(in), -1);
  });
}

// The record reader takes a buffered line at a time, sixteen bytes at a
// time: white space of every kind at every place of long lines, a '>' inside
// a line, and a sequence that runs across many refills of the stream's
// buffer all give the letters a byte-by-byte reading gives.
TEST(FastaReader, LongLinesWithWhiteSpaceAndRecordsAcrossRefills) {
  std::string text, want_first;
  const std::string spaces = " \t\r\v\f";
  for (int line = 0; line < 60; line++) {
    std::string bytes;
    for (int k = 0; k < 37 + line; k++) {
      const char letter = k == 0 ? 'A' : "ACGTN>"[(k * 7 + line) % 6];
      bytes += letter;
      want_first += letter;
      if ((k + line) % 19 == 0) bytes += spaces[(k + line) % spaces.size()];
    }
    text += bytes + "\n";
  }
  // Over 2 MiB of residues in lines of 70: the record crosses refills, some
  // of them inside a line.
  std::string long_line(70, 'G'), want_second;
  text = ">first\n" + text + ">second\n";
  for (int line = 0; line < 31000; line++) {
    text += long_line + "\n";
    want_second += long_line;
  }
  text += ">third\nAC";
  with_stream(text, [&](input_stream_t *in, const std::string &) {
    for (bool keep : {true, false}) {
      input_stream_seek(in, 0, SEEK_SET);
      seq_record_t *r = keep ? seq_record_new_empty() : nullptr;
      EXPECT_EQ(fasta_read(in, r), static_cast<int32_t>(want_first.size()));
      if (r != nullptr) {
        EXPECT_EQ(seqio_test::bytes_of(r), want_first);
      }
      seq_record_free(r);
      r = keep ? seq_record_new_empty() : nullptr;
      EXPECT_EQ(fasta_read(in, r), static_cast<int32_t>(want_second.size()));
      if (r != nullptr) {
        EXPECT_TRUE(seqio_test::bytes_of(r) == want_second);
      }
      seq_record_free(r);
      EXPECT_EQ(fasta_read(in, nullptr), 2);
      EXPECT_EQ(fasta_read(in, nullptr), -1);
    }
  });
}

TEST(FastaReader, RecordReaderErrors) {
  const char *cases[] = {"x\n", ">no line feed", ">a\nAC\n>b"};
  for (const char *text : cases) {
    with_stream(text, [text](input_stream_t *in, const std::string &path) {
      EXPECT_EXIT(
          {
            while (fasta_read(in, nullptr) >= 0) {
            }
            exit(0);
          },
          testing::ExitedWithCode(1), "^Fasta file format error in file " + path + "\n$")
          << text;
    });
  }
}

TEST(FastaReader, ChunkStartsCarryTheLineStartAcrossBlocks) {
  void *state = fasta_new_split_state();
  // The first byte of a file starts a line; '>' inside a line is no start;
  // a block that ends with a line feed makes the next block's first byte a
  // line start, one that ends inside a line does not.
  EXPECT_EQ(starts_of({">a\nAC\n", ">b\nG>\nx", ">c\n", "\n>d"}, state, fasta_chunk_find_starts),
            (std::vector<int32_t>{0, 6, 17}));
  fasta_free_split_state(state);
}

TEST(FastaReader, ChunkParseTrimsTheNameAndPacksResidues) {
  std::string slice = ">  name one \t\r\nAC G\r\nT\n\n";
  seq_record_t r;
  EXPECT_FALSE(fasta_chunk_parse(reinterpret_cast<uint8_t *>(slice.data()), static_cast<int32_t>(slice.size()), nullptr,
                                 &r, nullptr, "x"));
  EXPECT_STREQ(r.name, "name one");
  EXPECT_EQ(seqio_test::bytes_of(&r), "ACGT");
  EXPECT_EQ(r.qualities, nullptr);
  std::string blank = ">\nA\n";
  EXPECT_FALSE(fasta_chunk_parse(reinterpret_cast<uint8_t *>(blank.data()), 4, nullptr, &r, nullptr, "x"));
  EXPECT_STREQ(r.name, "");
  std::string cut = ">abc";
  EXPECT_EXIT(fasta_chunk_parse(reinterpret_cast<uint8_t *>(cut.data()), 4, nullptr, &r, nullptr, "f.fa"),
              testing::ExitedWithCode(1), "^Fasta format error in file f.fa\n$");
}

// A record whose header line has no line feed fails on both paths alike.
TEST(FastaReader, HeaderWithoutLineFeedFailsOnEveryPath) {
  ScratchDir dir;
  const std::string path = dir.file("cut.fa");
  ryx_test::write_file(path, ">a\nACGT\n>b");
  EXPECT_EXIT(seqio_test::read_for_each(path, 0, kSeqMaskReads, false), testing::ExitedWithCode(1),
              "^Fasta format error in file " + path + "\n$");
  EXPECT_EXIT(seqio_test::read_db(path, 0, kSeqMaskReads, false, false), testing::ExitedWithCode(1),
              "^Fasta file format error in file " + path + "\n$");
}

TEST(FastaQualityReader, ValuesOnEveryPath) {
  ScratchDir dir;
  // 300 is stored modulo 256; a negative value as 0; the last value of the
  // file has no whitespace after it and is kept.
  const std::string path = dir.file("q.qual");
  ryx_test::write_file(path, "#comment\n# another\n>q1 x\r\n10 20 -5 300\n\n>q2\n 7\t8\n9\n>q3\n\n>q4\n1 2 33");
  const std::vector<Rec> want = {rec("q1 x", std::string("\x0a\x14\x00\x2c", 4)), rec("q2", "\x07\x08\x09"),
                                 rec("q3", ""), rec("q4", "\x01\x02\x21")};
  // The database hands the values out from get and get_qualities alike.
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaQuality, false, false), want);
  std::vector<Rec> with_qualities = want;
  for (Rec &r : with_qualities) {
    r.has_quality = true;
    r.quality = r.residues;
  }
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaQuality, true, true), with_qualities);
  // Streaming delivers them as the main records.
  EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqFormatFastaQuality, false), want);
  EXPECT_EQ(seqio_test::read_pull(path, 0, kSeqFormatFastaQuality, true), want);
  // The mask of the reads does not take a quality file.
  testing::internal::CaptureStderr();
  EXPECT_EQ(seq_db_open(path.c_str(), 0, kSeqMaskReads, 0, 0), nullptr);
  testing::internal::GetCapturedStderr();
}

TEST(FastaQualityReader, Errors) {
  ScratchDir dir;
  const std::string bad = dir.file("bad.qual");
  ryx_test::write_file(bad, ">q\n10 2x 3\n");
  const std::string file_error = "^Fasta qual file format error in file " + bad + "\n$";
  EXPECT_EXIT(seqio_test::read_db(bad, 0, kSeqFormatFastaQuality, false, false), testing::ExitedWithCode(1),
              file_error);
  EXPECT_EXIT(seqio_test::read_for_each(bad, 0, kSeqFormatFastaQuality, false), testing::ExitedWithCode(1),
              file_error);
  const std::string cut = dir.file("cut.qual");
  ryx_test::write_file(cut, ">q\n10\n>r");
  EXPECT_EXIT(seqio_test::read_db(cut, 0, kSeqFormatFastaQuality, false, false), testing::ExitedWithCode(1),
              "^Fasta qual file format error in file " + cut + "\n$");
  EXPECT_EXIT(seqio_test::read_for_each(cut, 0, kSeqFormatFastaQuality, false), testing::ExitedWithCode(1),
              "^Fasta qual format error in file " + cut + "\n$");
}

// The offset file fixture: a 21-byte header, 4 bytes of its owner, the FASTA
// text and bytes after the region.
TEST(FastaOffsetReader, ReadsExactlyTheEmbeddedText) {
  ScratchDir dir;
  const std::string path = dir.file("stage.fof");
  ryx_test::write_file(path, ryx_test::hex_fixture("seqio/stage_two_records.fof.hex"));
  const std::vector<Rec> want = {rec("a", "ACGT"), rec("b x", "GG")};
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaOffset, false, false), want);
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaOffset, false, true), want);
  seq_db_t *db = seq_db_open(path.c_str(), 0, kSeqFormatFastaOffset, 0, 0);
  EXPECT_EQ(static_cast<seq_db_stream_impl_t *>(db->impl)->data_start, 25);
  seq_db_free(db);
}

std::string fof(uint64_t offset, uint64_t length, const std::string &rest) {
  std::string out = ".fof";
  out.push_back('\0');
  for (uint64_t v : {offset, length})
    for (int i = 0; i < 8; i++) out.push_back(static_cast<char>(v >> (8 * i)));
  return out + rest;
}

TEST(FastaOffsetReader, Errors) {
  ScratchDir dir;
  struct Case {
    const char *name;
    std::string text;
    const char *message;  // with %s for the path where there is one
  };
  const Case cases[] = {
      {"text not starting with '>'", fof(21, 6, "ACGT\n>"), "Fasta file format error in file %s"},
      {"header line cut by the region", fof(21, 4, ">name\nACGT\n"), "Fasta file format error in file %s"},
  };
  for (const Case &c : cases) {
    const std::string path = dir.file("bad.fof");
    ryx_test::write_file(path, c.text);
    std::string message = c.message;
    message.replace(message.find("%s"), 2, path);
    EXPECT_EXIT(seqio_test::read_db(path, 0, kSeqFormatFastaOffset, false, false), testing::ExitedWithCode(1),
                "^" + message + "\n$")
        << c.name;
  }
  // Header checks of fof_open itself (detection already refuses both).
  with_stream(".fox\0", [](input_stream_t *in, const std::string &) {
    EXPECT_EXIT(fof_open(in, nullptr), testing::ExitedWithCode(1), "^Unable to read fasta offset file\n$");
  });
  with_stream(std::string(".fof\x01", 5) + std::string(16, '\0'), [](input_stream_t *in, const std::string &) {
    EXPECT_EXIT(fof_open(in, nullptr), testing::ExitedWithCode(1), "^Fasta offset version error\n$");
  });
  with_stream(std::string(".fof\0\x15\0\0", 8), [](input_stream_t *in, const std::string &) {
    EXPECT_EXIT(fof_open(in, nullptr), testing::ExitedWithCode(1), "^Error reading file: early termination\n$");
  });
}

}  // namespace
