// The ryx_pick program on every sequence input format, plain and
// gzip-compressed: all reads are kept and the FASTA output, and the FASTQ
// output of formats that carry qualities, must match hand-written files
// byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seqio/seq_db.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using ryx_test::file_exists;
using ryx_test::hex_fixture;
using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using ryx_test::write_gzip_file;

const std::string kFolder = "tools/pick_formats/";

std::string data(const std::string &name) { return std::string(RYX_TEST_DATA_DIR) + "/" + kFolder + name; }

bool ends_with(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Copies a fixture into dir, decoding ".hex" fixtures into the bytes they
// describe and compressing when asked; returns the copy's path.
std::string place_input(const ScratchDir &dir, const std::string &fixture, bool gzip) {
  const bool hex = ends_with(fixture, ".hex");
  const std::string bytes = hex ? hex_fixture(kFolder + fixture) : read_file(data(fixture));
  std::string path = dir.file(hex ? fixture.substr(0, fixture.size() - 4) : fixture);
  if (gzip) {
    path += ".gz";
    write_gzip_file(path, bytes);
  } else {
    write_file(path, bytes);
  }
  return path;
}

// Draws are multiples of 2^-53 below 1 and this is the largest double below
// 1, so only the draw 1 - 2^-53 could drop a read; seed 1 never makes it
// for these few reads. A fraction of 1 itself is refused.
const std::vector<std::string> kKeepAll = {"-f", "0.9999999999999999", "-r", "1"};

RunResult pick(const std::vector<std::string> &words) {
  std::vector<std::string> argv{program_path("ryx_pick")};
  argv.insert(argv.end(), kKeepAll.begin(), kKeepAll.end());
  argv.insert(argv.end(), words.begin(), words.end());
  return run_program(argv);
}

struct FormatCase {
  const char *name;     // the expected outputs are <name>.expected.fa and .fq
  const char *input;
  const char *quality;  // separate FASTA quality file, or null
  bool fasta;           // check the FASTA output
  bool fastq;           // check the FASTQ output
};

// What each input shows besides its format:
// - FASTA: a header with spaces, a sequence over two lines joined, an empty
//   record;
// - FASTA with quality file: a '#' line before the first record, values over
//   two lines, a negative value (0) and 300 (44), written with offset 64;
// - FASTQ: multi-line sequence and qualities, a '+' line repeating the name;
//   offset 33 is detected and used for writing too;
// - colour-space FASTQ: colours decoded from the primer, the primer's
//   quality dropped, a read with a '.' turned to N throughout;
// - SOLiD: the same in FASTA shape after a '#' line;
// - GenBank: lower-case residues from the ORIGIN section, position numbers
//   and blanks left out;
// - Scarf: the name is the five fields before the sequence;
// - SFF: one read unclipped, one cut by clip quality left and clip adapter
//   right, qualities written with offset 64;
// - ABI: one trace, read through the database since it cannot stream, its
//   sample name inline in the directory entry.
const FormatCase kCases[] = {
    {"fasta", "fasta.fa", nullptr, true, false},
    {"fasta_quality", "fasta_quality.fa", "fasta_quality.qual", false, true},
    {"fastq", "fastq.fq", nullptr, true, true},
    {"colour_space", "colour_space.fq", nullptr, true, true},
    {"solid", "solid.csfasta", nullptr, true, false},
    {"genbank", "genbank.gb", nullptr, true, false},
    {"scarf", "scarf.txt", nullptr, true, true},
    {"sff", "sff.sff.hex", nullptr, true, true},
    {"abi", "abi.ab1.hex", nullptr, true, true},
};

TEST(PickFormatsProgram, KeepsEveryReadOfEachFormat) {
  for (const FormatCase &c : kCases) {
    for (const bool gzip : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (gzip ? " (gzip)" : " (plain)"));
      ScratchDir dir;
      const std::string input = place_input(dir, c.input, gzip);
      struct Output {
        bool wanted;
        const char *option;
        std::string expected;
      } outputs[] = {
          {c.fasta, "-o", std::string(c.name) + ".expected.fa"},
          {c.fastq, "-q", std::string(c.name) + ".expected.fq"},
      };
      for (const Output &o : outputs) {
        if (!o.wanted) continue;
        const std::string out = dir.file("out");
        std::vector<std::string> words{o.option, out};
        if (c.quality != nullptr && std::string(o.option) == "-q") {
          words.push_back("-s");
          words.push_back(place_input(dir, c.quality, gzip));
        }
        words.push_back(input);
        RunResult r = pick(words);
        EXPECT_EQ(r.status, 0) << o.option << "\n" << r.err;
        EXPECT_EQ(r.out, "") << o.option;
        EXPECT_EQ(r.err, "") << o.option;
        EXPECT_EQ(read_file(out), read_file(data(o.expected))) << o.expected;
      }
    }
  }
}

// Name and residues of every record of a database, as "name:residues\n".
std::string database_text(seq_db_t *db) {
  std::string text;
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *record = db->get(db, i);
    text += std::string(record->name != nullptr ? record->name : "") + ":" +
            std::string(reinterpret_cast<const char *>(record->residues), record->length) + "\n";
    seq_record_release(record);
  }
  return text;
}

// The FASTA offset file is the assembler's stage-file container: it is not
// among the formats that ryx_pick accepts, and is turned away by name with
// no output left behind. The fixture itself is a sound offset file: opened
// as one it yields exactly the records of its embedded text.
TEST(PickFormatsProgram, TurnsAwayTheFastaOffsetFile) {
  for (const bool gzip : {false, true}) {
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    ScratchDir dir;
    const std::string input = place_input(dir, "fasta_offset.fof.hex", gzip);

    seq_db_t *db = seq_db_open(input.c_str(), 0, kSeqFormatFastaOffset, 0, 0);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(database_text(db), "o1:ACGT\no2:GG\n");
    seq_db_free(db);

    for (const char *option : {"-o", "-q"}) {
      const std::string out = dir.file("out");
      RunResult r = pick({option, out, input});
      EXPECT_EQ(r.status, 1) << option;
      EXPECT_EQ(r.out, "") << option;
      EXPECT_EQ(r.err, "Format problem with file " + input + "\n") << option;
      EXPECT_FALSE(file_exists(out)) << option;
    }
  }
}

}  // namespace
