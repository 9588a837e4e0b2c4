// Scarf reader: records on every path with their qualities, empty and
// clamped fields, many lines through the offset index, and errors.
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

constexpr uint32_t kMask = kSeqMaskReads;

Rec rec_q(const std::string &name, const std::string &residues, const std::string &quality) {
  return {name, residues, true, quality};
}

// Quality characters minus 64, below 0 or above 127 stored as 0.
std::string q64(const std::string &chars) {
  std::string out;
  for (char c : chars) {
    const int v = static_cast<unsigned char>(c) - 64;
    out.push_back(static_cast<char>(v >= 0 && v <= 127 ? v : 0));
  }
  return out;
}

TEST(ScarfReader, LinesOnEveryPath) {
  QualityOffsetGuard offsets(64);
  const std::string text =
      "HWI-EAS100R:6:73:941:1973#0/1:GATCTGGAAG:hhhhhhhhgg\n"
      "HWI-EAS100R:6:73:942:17#0/2:NACG:BB5h\n"  // '5' lies below the offset
      "HWI-EAS100R:6:73:943:1#0/1::\n"           // no sequence, no qualities
      "HWI-EAS100R:6:73:944:2#0/1:ACGT:hhhh\r\n"  // CRLF
      "HWI-EAS100R:6:73:945:3#0/1:TTTT:ghgh";     // no final line feed
  const std::vector<Rec> want = {
      rec_q("HWI-EAS100R:6:73:941:1973#0/1", "GATCTGGAAG", q64("hhhhhhhhgg")),
      rec_q("HWI-EAS100R:6:73:942:17#0/2", "NACG", q64("BB5h")),
      rec_q("HWI-EAS100R:6:73:943:1#0/1", "", ""),
      rec_q("HWI-EAS100R:6:73:944:2#0/1", "ACGT", q64("hhhh")),
      rec_q("HWI-EAS100R:6:73:945:3#0/1", "TTTT", q64("ghgh")),
  };
  std::vector<Rec> plain = want;
  for (Rec &r : plain) r = {r.name, r.residues, false, ""};
  ScratchDir dir;
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = dir.file("reads");
    seqio_test::write_maybe_gzip(path, text, gz);
    seqio_test::expect_four_paths(path, 0, kMask, true, want);
    seqio_test::expect_four_paths(path, 0, kMask, false, plain);
  }
}

TEST(ScarfReader, ManyLinesThroughTheOffsetIndex) {
  QualityOffsetGuard offsets(64);
  std::string text;
  std::vector<Rec> want;
  for (int i = 0; i < 3000; i++) {
    const std::string name = "M:1:2:" + std::to_string(i) + ":" + std::to_string(i % 97) + "#0/1";
    const std::string seq = std::string("ACGT").substr(0, 1 + i % 4) + "GATTACA";
    const std::string qual(seq.size(), static_cast<char>('@' + i % 40));
    text += name + ":" + seq + ":" + qual + "\n";
    want.push_back(rec_q(name, seq, q64(qual)));
  }
  ScratchDir dir;
  const std::string path = dir.file("many");
  ryx_test::write_file(path, text);
  seqio_test::expect_four_paths(path, 0, kMask, true, want);
}

TEST(ScarfReader, Errors) {
  struct Case {
    const char *name;
    const char *text;
    const char *indexed;   // database path
    const char *streamed;  // streaming with qualities; null when it reads the line
  };
  const char *kFile = "Scarf file format error in file ";
  const char *kEof = "Scarf format error EOF in file ";
  const char *kLength = "Scarf format error quality data length in file ";
  const Case cases[] = {
      {"line ends inside the name", "a:1:2:3:4#0/1:AC:hh\nb:1:2\n", kFile, kFile},
      {"line ends inside the sequence", "a:1:2:3:4#0/1:AC:hh\nb:1:2:3:4:ACGT\n", kEof, kFile},
      {"blank line", "a:1:2:3:4#0/1:AC:hh\n\n", kFile, kFile},
      {"too few qualities", "a:1:2:3:4#0/1:ACGT:hhh\n", kLength, kFile},
      {"too many qualities", "a:1:2:3:4#0/1:ACGT:hhhhh\n", kEof, kFile},
      {"a seventh field", "a:1:2:3:4#0/1:ACGT:hhhh:x\n", kEof, nullptr},
  };
  ScratchDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("bad");
    ryx_test::write_file(path, c.text);
    EXPECT_EXIT(seqio_test::read_db(path, 0, kMask, true, false), testing::ExitedWithCode(1),
                std::string("^") + c.indexed + path + "\n$");
    if (c.streamed != nullptr) {
      EXPECT_EXIT(seqio_test::read_for_each(path, 0, kMask, true), testing::ExitedWithCode(1),
                  std::string("^") + c.streamed + path + "\n$");
      EXPECT_EXIT(seqio_test::read_pull(path, 0, kMask, true), testing::ExitedWithCode(1),
                  std::string("^") + c.streamed + path + "\n$");
    }
  }
}

}  // namespace
