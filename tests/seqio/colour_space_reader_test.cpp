// Colour-space readers (SOLiD colour files and colour-space FASTQ):
// decoding, dotted reads and their report, qualities, empty records,
// comments, markers and the errors of both formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seq_read_paths.h"
#include "seqio/colour_code.h"
#include "seqio/colour_space_reader.h"
#include "seqio/seq_db.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "seqio/seq_stream.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;
using ryx_test::ScratchDir;
using seqio_test::QualityOffsetGuard;
using seqio_test::Rec;

constexpr uint32_t kMask = kSeqMaskReads;

Rec rec(const std::string &name, const std::string &residues) { return {name, residues, false, ""}; }
Rec rec_q(const std::string &name, const std::string &residues, const std::string &quality) {
  return {name, residues, true, quality};
}
std::string codes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string write(const ScratchDir &dir, const std::string &name, const std::string &text, bool gz = false) {
  const std::string path = dir.file(name);
  seqio_test::write_maybe_gzip(path, text, gz);
  return path;
}

TEST(ColourCode, DecodesFromThePrimer) {
  struct Case {
    char primer;
    const char *colours;
    std::string codes;
  };
  const Case cases[] = {
      {'T', "0123", codes({3, 2, 0, 3})},  // T G A T
      {'g', "3210", codes({1, 3, 2, 2})},  // C T G G
      {'A', "0000", codes({0, 0, 0, 0})},
      {'c', "1", codes({0})},
      {'a', "", ""},
  };
  for (const Case &c : cases) {
    const std::string colours = c.colours;
    std::string out(colours.size(), '?');
    ASSERT_TRUE(colour_decode(colour_primer_code(c.primer), reinterpret_cast<const uint8_t *>(colours.data()),
                              static_cast<uint32_t>(colours.size()), reinterpret_cast<uint8_t *>(out.data())));
    EXPECT_EQ(out, c.codes) << c.primer << colours;
  }
  EXPECT_EQ(colour_primer_code('N'), -1);
  uint8_t out[2];
  EXPECT_FALSE(colour_decode(0, reinterpret_cast<const uint8_t *>("14"), 2, out));
}

// Both formats on every path, as codes and as letters, plain and gzip.
TEST(ColourSpace, FourPathsDecodeAlike) {
  QualityOffsetGuard offsets(33);
  ScratchDir dir;
  struct Case {
    const char *name;
    std::string text;
    std::vector<Rec> as_codes;
    std::vector<Rec> as_letters;
    bool qualities;
  };
  const Case cases[] = {
      {"SOLiD",
       "# Title: run 1\n# another comment\n>r1_F3\nT0123\n>r2\ng32\n10\n>dotted\nT0.23\n>empty\n>blank\n\n>r6\nA33\n",
       {rec("r1_F3", codes({3, 2, 0, 3})), rec("r2", codes({1, 3, 2, 2})), rec("dotted", codes({4, 4, 4, 4})),
        rec("empty", ""), rec("blank", ""), rec("r6", codes({3, 0}))},
       {rec("r1_F3", "TGAT"), rec("r2", "CTGG"), rec("dotted", "NNNN"), rec("empty", ""), rec("blank", ""),
        rec("r6", "TA")},
       false},
      {"colour-space FASTQ",
       "# comment\n@r1\nT0123\n+\n!ABCD\n@r2 two lines\nG3\n210\n+r2\n#@@\n$%\n@dotted\nT..\n+\n!!!\n@empty\n+\n"
       "@crlf\r\nC10\r\n+\r\n!&'\r\n",
       {rec_q("r1", codes({3, 2, 0, 3}), "\x20\x21\x22\x23"),
        rec_q("r2 two lines", codes({1, 3, 2, 2}), "\x1f\x1f\x03\x04"),
        rec_q("dotted", codes({4, 4}), "\0\0"s), rec_q("empty", "", ""), rec_q("crlf", codes({0, 0}), "\x05\x06")},
       {rec_q("r1", "TGAT", "\x20\x21\x22\x23"), rec_q("r2 two lines", "CTGG", "\x1f\x1f\x03\x04"),
        rec_q("dotted", "NN", "\0\0"s), rec_q("empty", "", ""), rec_q("crlf", "AA", "\x05\x06")},
       true},
  };
  for (const Case &c : cases) {
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (gz ? ", gzip" : ", plain"));
      const std::string path = write(dir, "colours", c.text, gz);
      seqio_test::expect_four_paths(path, 2, kMask, c.qualities, c.as_codes);
      seqio_test::expect_four_paths(path, 0, kMask, c.qualities, c.as_letters);
    }
  }
}

// The count of dotted reads and the end-of-file reports.
void count_record(seq_record_t *, void *user) { ++*static_cast<int *>(user); }

TEST(ColourSpace, DottedReadsAreCountedAndReported) {
  ScratchDir dir;
  const std::string solid = write(dir, "dots.csfasta", ">a\nT0123\n>b\nT0.23\n>c\nG.\n>d\nA1\n");
  const std::string csfastq = write(dir, "dots.csfq", "@a\nT.1\n+\n!!!\n@b\nT01\n+\n!!!\n");
  const std::string clean = write(dir, "clean.csfasta", ">a\nT0123\n");
  const std::string solid_report =
      "In file " + solid + ": Ignored 2 sequences out of 4 due to dots in Solid data format.\n";
  const std::string csfastq_report =
      "In file " + csfastq + ": Ignored 1 sequences out of 2 due to dots in csfastq data format.\n";

  // Streaming counts every dotted read once, with any number of parsers.
  for (int cpus : {1, 8}) {
    seqio_test::CpusGuard guard(cpus);
    int n = 0;
    testing::internal::CaptureStderr();
    seq_for_each(solid.c_str(), 2, kMask, 1, count_record, &n);
    seq_for_each(csfastq.c_str(), 2, kMask, 1, count_record, &n);
    seq_for_each(clean.c_str(), 2, kMask, 1, count_record, &n);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), solid_report + csfastq_report);
    EXPECT_EQ(n, 7);
  }
  // Without the report flag nothing is printed.
  int n = 0;
  testing::internal::CaptureStderr();
  seq_for_each(solid.c_str(), 2, kMask, 0, count_record, &n);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  // The database counts each dotted read while indexing; fetching one
  // counts it again.
  seq_db_t *db = seq_db_open(solid.c_str(), 2, kMask, 0, 0);
  ASSERT_NE(db, nullptr);
  testing::internal::CaptureStderr();
  seq_db_report(db, solid.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), solid_report);
  seq_record_release(db->get(db, 1));
  testing::internal::CaptureStderr();
  seq_db_report(db, solid.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "In file " + solid + ": Ignored 3 sequences out of 4 due to dots in Solid data format.\n");
  seq_db_free(db);
  db = seq_db_open(clean.c_str(), 2, kMask, 0, 0);
  testing::internal::CaptureStderr();
  seq_db_report(db, clean.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  seq_db_free(db);
}

TEST(ColourSpaceThreads, DottedReadsCountedByEveryParser) {
  // Parsers on all threads add to one count.
  std::string text;
  for (int i = 0; i < 60000; i++) text += ">r" + std::to_string(i) + (i % 3 == 0 ? "\nT0.2301\n" : "\nT012301\n");
  ScratchDir dir;
  const std::string path = write(dir, "many.csfasta", text);
  seqio_test::CpusGuard guard(8);
  int n = 0;
  testing::internal::CaptureStderr();
  seq_for_each(path.c_str(), 2, kMask, 1, count_record, &n);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "In file " + path + ": Ignored 20000 sequences out of 60000 due to dots in Solid data format.\n");
  EXPECT_EQ(n, 60000);
}

TEST(ColourSpace, QualityLinesStartingWithAtSign) {
  // More than 1024 reads put the starts in the offset index; quality lines
  // that begin with '@' (the primer's quality included) are markers.
  QualityOffsetGuard offsets(33);
  std::string text;
  std::vector<Rec> want;
  for (int i = 0; i < 1500; i++) {
    const bool at = i % 2 == 0;
    text += "@r" + std::to_string(i) + "\nT0123\n+\n" + (at ? "@" : "!") + "\n@" + std::to_string(i % 10) + "AB\n";
    // '@' is 31 above the offset, the digit 15 to 24, 'A' and 'B' 32 and 33.
    const std::string quality = std::string(1, 31) + static_cast<char>(15 + i % 10) + "\x20\x21";
    want.push_back(rec_q("r" + std::to_string(i), "TGAT", quality));
  }
  ScratchDir dir;
  const std::string path = write(dir, "at.csfq", text);
  seqio_test::expect_four_paths(path, 0, kMask, true, want);
}

TEST(ColourSpace, Errors) {
  struct Case {
    const char *text;
    const char *indexed;   // message of the database path
    const char *streamed;  // message of the streaming paths
  };
  const Case cases[] = {
      {">r\nT01\n>s", "Solid file format error in file ", "Solid format error in file "},
      {">r\nT01\n>s\nX01\n", "Solid format error in file ", "Solid format error in file "},
      {">r\nT01\n>s\nT041\n", "Solid format error in file ", "Solid format error in file "},
      {">r\nT01\n>s\nT0-1\n", "Solid format error in file ", "Solid format error in file "},
      {"@r\nT01\n+\n!!!\n@s", "Color space fastq file format error in file ",
       "Color space fastq format error EOF in file "},
      {"@r\nT01\n+\n!!\n", "Color space fastq format error EOF in file ",
       "Color space fastq format error EOF in file "},
      {"@r\nT01\n+\n!!!\n@s\nT0\n+", "Color space fastq format error EOF in file ",
       "Color space fastq format error EOF in file "},
      {"@r\nT01\n+\n!!!\nX\n", "Color space fastq format error in file ", "Color space fastq format error in file "},
      {"@r\nT01\n+\n!!!\n@s\nX01\n+\n!!!\n", "Color space fastq error in file ",
       "Color space fastq format error in file "},
      {"@r\nT01\n+\n!!!\n@s\nT05\n+\n!!!\n", "Color space fastq format error in file ",
       "Color space fastq format error in file "},
  };
  ScratchDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = write(dir, "bad", c.text);
    EXPECT_EXIT(seqio_test::read_db(path, 0, kMask, false, false), testing::ExitedWithCode(1),
                std::string("^") + c.indexed + path + "\n$");
    EXPECT_EXIT(seqio_test::read_for_each(path, 0, kMask, true), testing::ExitedWithCode(1),
                std::string("^") + c.streamed + path + "\n$");
    EXPECT_EXIT(seqio_test::read_pull(path, 0, kMask, false), testing::ExitedWithCode(1),
                std::string("^") + c.streamed + path + "\n$");
  }
  // The chunk parser's own checks of the quality part.
  for (const char *slice : {"@r\nT01\n+", "@r\nT01\n+\n!!"}) {
    std::string bytes = slice;
    seq_record_t record = {};
    seq_record_t quality = {};
    EXPECT_EXIT(csfastq_chunk_parse(reinterpret_cast<uint8_t *>(bytes.data()), static_cast<int32_t>(bytes.size()),
                                    nullptr, &record, &quality, "slice"),
                testing::ExitedWithCode(1), "^Fastq format error in file slice\n$");
  }
}

}  // namespace
