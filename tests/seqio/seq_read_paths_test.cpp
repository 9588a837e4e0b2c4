// The four ways of reading a file (database fetches in order and in random
// order, seq_for_each, the pull reader) give the same records for FASTA,
// FASTQ and offset files, plain and gzip-compressed; and the differences
// between the paths that are part of the design.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seq_read_paths.h"
#include "seqio/seq_format.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::QualityOffsetGuard;
using seqio_test::Rec;

Rec rec(const std::string &name, const std::string &residues) { return {name, residues, false, ""}; }

Rec rec_q(const std::string &name, const std::string &residues, const std::string &quality) {
  return {name, residues, true, quality};
}

// Quality characters minus 33.
std::string q33(const std::string &chars) {
  std::string out = chars;
  for (char &c : out) c = static_cast<char>(c - 33);
  return out;
}

struct Case {
  const char *name;
  std::string text;
  std::vector<Rec> expected;
  bool qualities;
};

std::vector<Case> cases() {
  std::vector<Case> all;
  all.push_back({"fasta",
                 ">one two\nACGT\nTT\n>empty\n>crlf\r\nAC\r\nGT\r\n\n>gaps\nA C\tG\n\n>last\nNNNN",
                 {rec("one two", "ACGTTT"), rec("empty", ""), rec("crlf", "ACGT"), rec("gaps", "ACG"),
                  rec("last", "NNNN")},
                 false});
  all.push_back({"fastq",
                 "@r1 first\nACGT\n+\nIIII\n"
                 "@r2\nAC\nGT\n+r2\n@@\n@@\n"       // multi-line, quality lines that start with '@'
                 "@empty\n+\n"                     // no residues, no quality line
                 "@crlf\r\nAAC\r\n+\r\n#$%\r\n\r\n"
                 "@r5\nA+C\n+\n+@+\n",             // '+' inside the sequence line is a letter
                 {rec_q("r1 first", "ACGT", q33("IIII")), rec_q("r2", "ACGT", q33("@@@@")),
                  rec_q("empty", "", ""), rec_q("crlf", "AAC", q33("#$%")), rec_q("r5", "A+C", q33("+@+"))},
                 true});
  return all;
}

TEST(SeqReadPaths, FourWaysGiveTheSameRecords) {
  ScratchDir dir;
  QualityOffsetGuard offsets(33);
  for (const Case &c : cases()) {
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (gz ? " gzip" : " plain"));
      const std::string path = dir.file(std::string(c.name) + (gz ? ".gz" : ""));
      if (gz) ryx_test::write_gzip_file(path, c.text);
      else ryx_test::write_file(path, c.text);
      EXPECT_EQ(seqio_test::read_db(path, 0, kSeqMaskReads, c.qualities, false), c.expected);
      EXPECT_EQ(seqio_test::read_db(path, 0, kSeqMaskReads, c.qualities, true), c.expected);
      EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqMaskReads, c.qualities), c.expected);
      EXPECT_EQ(seqio_test::read_pull(path, 0, kSeqMaskReads, c.qualities), c.expected);
    }
  }
}

// An offset file around a FASTA text: the header, owner bytes, the text and
// bytes after it that are not read.
std::string fof_file(const std::string &fasta, const std::string &owner, const std::string &after) {
  std::string out = ".fof";
  out.push_back('\0');
  auto put64 = [&out](uint64_t v) {
    for (int i = 0; i < 8; i++) out.push_back(static_cast<char>(v >> (8 * i)));
  };
  put64(21 + owner.size());
  put64(fasta.size());
  return out + owner + fasta + after;
}

TEST(SeqReadPaths, OffsetFileReadsTheSameByDatabaseAndForEach) {
  ScratchDir dir;
  const std::vector<Rec> expected = {rec("a", "ACGT"), rec("b", ""), rec("c", "GGCC")};
  const std::string text = fof_file(">a\nAC\nGT\n>b\n>c\nGG\nCC\n", "OWNR", ">d\nTTTT\n");
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = dir.file(gz ? "stage.fof.gz" : "stage.fof");
    if (gz) ryx_test::write_gzip_file(path, text);
    else ryx_test::write_file(path, text);
    EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaOffset, false, false), expected);
    EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaOffset, false, true), expected);
    EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqFormatFastaOffset, false), expected);
    // With qualities asked for, the fallback hands out none.
    EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqFormatFastaOffset, true), expected);
    // The pull reader streams only, and offset files are never streamed.
    EXPECT_EXIT(seqio_test::read_pull(path, 0, kSeqFormatFastaOffset, false), testing::ExitedWithCode(1),
                "^Problem with sequence file " + path + "\n$");
  }
}

// Names: the record readers drop only carriage returns, the chunk parsers
// trim whitespace at both ends.
TEST(SeqReadPaths, NamesAreTrimmedOnlyWhenStreamed) {
  ScratchDir dir;
  const std::string path = dir.file("names.fa");
  ryx_test::write_file(path, ">  name one \r\nAC\n>\tx\ty\t\nG\n");
  const std::vector<Rec> stored = {rec("  name one ", "AC"), rec("\tx\ty\t", "G")};
  const std::vector<Rec> trimmed = {rec("name one", "AC"), rec("x\ty", "G")};
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqMaskReads, false, false), stored);
  EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqMaskReads, false), trimmed);
  EXPECT_EQ(seqio_test::read_pull(path, 0, kSeqMaskReads, false), trimmed);
}

// Residue types map the letters on every path alike.
TEST(SeqReadPaths, ResidueTypesMapEveryPath) {
  ScratchDir dir;
  const std::string path = dir.file("types.fq");
  ryx_test::write_file(path, "@r\nACGTNu\n+\nIIIIII\n");
  QualityOffsetGuard offsets(33);
  const std::vector<Rec> codes = {rec_q("r", std::string("\0\1\2\3\4\3", 6), q33("IIIIII"))};
  EXPECT_EQ(seqio_test::read_db(path, 2, kSeqMaskReads, true, false), codes);
  EXPECT_EQ(seqio_test::read_for_each(path, 2, kSeqMaskReads, true), codes);
  EXPECT_EQ(seqio_test::read_pull(path, 2, kSeqMaskReads, true), codes);
  const std::vector<Rec> masks = {rec("r", "\1\2\4\x08\x0f\x08")};
  EXPECT_EQ(seqio_test::read_for_each(path, 1, kSeqMaskReads, false), masks);
}

}  // namespace
