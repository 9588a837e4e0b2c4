// GenBank reader: realistic multi-record files on every path, the terminator
// scanner across block borders, and the errors of both readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "seq_read_paths.h"
#include "seqio/seq_db.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::Rec;

constexpr uint32_t kMask = kSeqMaskReferences;

// "LOCUS", the name in columns 12 to 27, the length right-aligned in
// columns 29 to 39.
std::string locus(const std::string &name, long long length, const std::string &eol = "\n") {
  char line[128];
  snprintf(line, sizeof line, "LOCUS       %-16s %11lld bp    DNA     linear   PLN 01-JAN-2000", name.c_str(), length);
  return line + eol;
}

// ORIGIN lines: the position right-aligned in columns 0 to 8, then groups of
// ten residues, sixty per line.
std::string origin(const std::string &residues, const std::string &eol = "\n") {
  std::string out;
  for (size_t i = 0; i < residues.size(); i += 60) {
    char number[32];
    snprintf(number, sizeof number, "%9zu", i + 1);
    out += number;
    for (size_t k = i; k < residues.size() && k < i + 60; k += 10) out += " " + residues.substr(k, 10);
    out += eol;
  }
  return out;
}

std::string residues(size_t n, uint32_t seed) {
  std::string out(n, 'a');
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    out[i] = "acgtn"[(seed >> 16) % 5];
  }
  return out;
}

const char *kFeatures =
    "FEATURES             Location/Qualifiers\n"
    "     source          1..40\n"
    "                     /organism=\"Test organism\"\n"
    "                     /mol_type=\"genomic DNA\"\n"
    "     gene            5..30\n"
    "                     /gene=\"abc\"\n";

Rec rec(const std::string &name, const std::string &residues) { return {name, residues, false, ""}; }

TEST(GenbankReader, MultiRecordFilesOnEveryPath) {
  const std::string s1 = residues(40, 1);
  const std::string s2 = residues(130, 2);
  const std::string s4 = residues(61, 4);
  std::string text = locus("AB000001", 40) + "DEFINITION  Test sequence one.\nACCESSION   AB000001\n" + kFeatures +
                     "ORIGIN      \n" + origin(s1) + "//\n";
  text += "\n   \n\n";  // blank lines, one of spaces, between records
  // CRLF lines, an ORIGIN line with text after it, a blank line before "//".
  text += locus("CRLF_REC", 130, "\r\n") + "DEFINITION  Second.\r\nORIGIN      chromosome 2\r\n" + origin(s2, "\r\n") +
          "\r\n//\r\n";
  // A record of length 0, and a last record whose "//" has trailing blanks
  // and no line feed after blank lines at the end of the file.
  text += locus("EMPTY", 0) + "ORIGIN\n//\n";
  text += locus("LAST", 61) + kFeatures + "ORIGIN\n" + origin(s4) + "// \n\n \n";
  const std::vector<Rec> want = {rec("AB000001", s1), rec("CRLF_REC", s2), rec("EMPTY", ""), rec("LAST", s4)};
  ScratchDir dir;
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = dir.file("genbank");
    seqio_test::write_maybe_gzip(path, text, gz);
    seqio_test::expect_four_paths(path, 0, kMask, false, want);
    seq_db_t *db = seq_db_open(path.c_str(), 2, kMask, 1, 0);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->sequence_count, 4);
    EXPECT_EQ(db->residue_count, 40 + 130 + 61);
    EXPECT_EQ(db->get_qualities, nullptr);
    seq_db_free(db);
  }
}

// The scanner carries its state over block borders: records whose "//"
// line is cut by a border, or that end right at one.
TEST(GenbankReader, TerminatorAcrossBlockBorders) {
  const std::string s1 = residues(300, 7);
  const std::string s2 = residues(77, 8);
  struct Case {
    const char *name;
    int64_t where;  // offset in the "//\n" line, or after it, of the first byte of block 2
    const char *between;
  };
  const Case cases[] = {
      {"between the slashes", 1, ""},
      {"before the line feed", 2, ""},
      {"next record at the border", 3, ""},
      {"blank lines across the border", 4, "\n\n\n"},
  };
  ScratchDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string head = locus("FIRST", 300) + "DEFINITION  ";
    const std::string tail = "\nORIGIN\n" + origin(s1);
    // The DEFINITION text pads the record so that its "//" starts where
    // the case wants it.
    const int64_t pad = kSeqBlockSize - c.where - static_cast<int64_t>(head.size() + tail.size());
    const std::string text = head + std::string(static_cast<size_t>(pad), 'x') + tail + "//\n" + c.between +
                             locus("SECOND", 77) + "ORIGIN\n" + origin(s2) + "//\n";
    const std::string path = dir.file("border.gb");
    ryx_test::write_file(path, text);
    seqio_test::expect_four_paths(path, 0, kMask, false, {rec("FIRST", s1), rec("SECOND", s2)});
  }
}

TEST(GenbankReader, DeclaredLengths) {
  ScratchDir dir;
  // Counting reads only the LOCUS length; a record with fewer letters fails
  // when fetched, while streaming delivers the letters found.
  const std::string s = residues(40, 3);
  const std::string short_path = dir.file("short.gb");
  ryx_test::write_file(short_path, locus("SHORT", 50) + "ORIGIN\n" + origin(s) + "//\n");
  seq_db_t *db = seq_db_open(short_path.c_str(), 0, kMask, 1, 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->residue_count, 50);
  EXPECT_EXIT(db->get(db, 0), testing::ExitedWithCode(1), "^Genbank sequence error in file " + short_path + "\n$");
  seq_db_free(db);
  EXPECT_EQ(seqio_test::read_for_each(short_path, 0, kMask, false), std::vector<Rec>{rec("SHORT", s)});
  // More letters than declared: the record reader stops at the length.
  const std::string long_path = dir.file("long.gb");
  ryx_test::write_file(long_path, locus("LONG", 30) + "ORIGIN\n" + origin(s) + "//\n");
  EXPECT_EQ(seqio_test::read_db(long_path, 0, kMask, false, false), std::vector<Rec>{rec("LONG", s.substr(0, 30))});
}

TEST(GenbankReader, Errors) {
  struct Case {
    const char *name;
    std::string text;
    const char *indexed;   // database path; null when it reads the file
    const char *streamed;  // streaming paths, which never read the length; null when they read the file
  };
  const std::string ok = locus("OK", 10) + "ORIGIN\n" + origin("acgtacgtac") + "//\n";
  const char *kLocus = "Genbank format error in file ";
  const char *kStreamed = "GenBank format error in file ";
  const Case cases[] = {
      {"no length", ok + "LOCUS       NOLENGTH\nORIGIN\n        1 acgt\n//\n", kLocus, nullptr},
      {"negative length", ok + locus("NEG", -5) + "ORIGIN\n        1 acgt\n//\n", kLocus, nullptr},
      {"length beyond 31 bits", ok + locus("HUGE", 99999999999LL) + "ORIGIN\n        1 acgt\n//\n", kLocus, nullptr},
      {"no symbols", ok + locus("BARE", 10) + "ORIGIN\n//\n",
       "Error: Genbank file contains a sequence without its symbols in file ", nullptr},
      {"no ORIGIN", ok + locus("NOORIGIN", 10) + "FEATURES\n//\n", "Genbank sequence error in file ", kStreamed},
      {"text that is no record", ok + "JUNK\n", kLocus, kStreamed},
      {"LOCUS with a tab", ok + "LOCUS\tTAB 4 bp\nORIGIN\n        1 acgt\n//\n", kLocus, kStreamed},
  };
  ScratchDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("bad.gb");
    ryx_test::write_file(path, c.text);
    if (c.indexed != nullptr) {
      EXPECT_EXIT(seqio_test::read_db(path, 0, kMask, false, false), testing::ExitedWithCode(1),
                  std::string("^") + c.indexed + path + "\n$");
    }
    if (c.streamed != nullptr) {
      EXPECT_EXIT(seqio_test::read_for_each(path, 0, kMask, false), testing::ExitedWithCode(1),
                  std::string("^") + c.streamed + path + "\n$");
      EXPECT_EXIT(seqio_test::read_pull(path, 0, kMask, false), testing::ExitedWithCode(1),
                  std::string("^") + c.streamed + path + "\n$");
    }
  }
}

}  // namespace
