// Detection of all ten formats by content, from file names that give no
// hint, plain and gzip; the masks the programs pass; and the pairs of
// formats whose content tests come close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binary_builders.h"
#include "seq_read_paths.h"
#include "seqio/seq_db.h"
#include "seqio/seq_format.h"
#include "seqio/seq_stream.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

struct Sample {
  const char *name;
  std::string bytes;
  uint32_t bit;
  bool streams;
};

std::vector<Sample> samples() {
  std::string fof = ".fof";
  fof.push_back('\0');
  for (uint64_t v : {uint64_t{21}, uint64_t{8}})
    for (int i = 0; i < 8; i++) fof.push_back(static_cast<char>(v >> (8 * i)));
  fof += ">a\nACGT\n";
  seqio_test::SffRead read;
  read.name = "r";
  read.bases = "ACGT";
  return {
      {"SOLiD", "# comment\n>r_F3\nT0123\n", kSeqFormatSolid, true},
      {"FASTA quality", ">r\n10 20 30\n", kSeqFormatFastaQuality, true},
      {"FASTA", ">r\nACGT\n", kSeqFormatFasta, true},
      {"colour-space FASTQ", "@r\nT0123\n+\n!!!!!\n", kSeqFormatCsfastq, true},
      {"FASTQ", "@r\nACGT\n+\nIIII\n", kSeqFormatFastq, true},
      {"GenBank", "LOCUS       X                 4 bp    DNA\nORIGIN\n        1 acgt\n//\n", kSeqFormatGenbank, true},
      {"SFF", seqio_test::sff_file({read}), kSeqFormatSff, true},
      {"Scarf", "HWI:1:2:3:4#0/1:ACGT:hhhh\n", kSeqFormatScarf, true},
      {"ABI", seqio_test::abi_file({{"PBAS", 1, 2, 1, "ACGT"}}), kSeqFormatAbi, false},
      {"FASTA offset", fof, kSeqFormatFastaOffset, false},
  };
}

uint32_t detect_file(const std::string &path) {
  input_stream_t *in = input_stream_open(path.c_str(), "rb");
  const uint32_t bit = seq_format_detect(in);
  input_stream_close(in);
  return bit;
}

// The bit of the streaming format seq_stream_open picks within mask, or 0.
uint32_t stream_format(const std::string &path, uint32_t mask) {
  seq_stream_t *stream = seq_stream_open(path.c_str(), 0, mask, 0, 0);
  if (stream == nullptr) return 0;
  const uint32_t bit = stream->format->bit;
  seq_stream_close(stream);
  return bit;
}

TEST(SeqFormatDetect, EveryFormatByContent) {
  ScratchDir dir;
  int n = 0;
  for (const Sample &s : samples()) {
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(s.name) + (gz ? ", gzip" : ", plain"));
      const std::string path = dir.file("sample" + std::to_string(n++));
      seqio_test::write_maybe_gzip(path, s.bytes, gz);
      EXPECT_EQ(detect_file(path), s.bit);
      EXPECT_EQ(stream_format(path, 0xffffffffu), s.streams ? s.bit : 0u);
      // Each format is accepted by its own bit alone and refused without it.
      seq_db_t *db = seq_db_open(path.c_str(), 0, s.bit, 0, 0);
      EXPECT_NE(db, nullptr);
      EXPECT_EQ(db != nullptr ? db->sequence_count : -1, 1);
      seq_db_free(db);
      testing::internal::CaptureStderr();
      EXPECT_EQ(seq_db_open(path.c_str(), 0, ~s.bit, 0, 0), nullptr);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "Format problem with file " + path + "\n");
    }
  }
}

TEST(SeqFormatDetect, CallerMasks) {
  const uint32_t masks[] = {kSeqMaskRefmapReads, kSeqMaskReads, kSeqMaskReferences, kSeqMaskFragments,
                            kSeqMaskStageFiles};
  EXPECT_EQ(kSeqMaskRefmapReads, 699u);
  EXPECT_EQ(kSeqMaskReads, 703u);
  // Which samples each mask accepts, in the order of samples(). No program
  // mask holds the quality file's bit.
  const std::vector<std::vector<bool>> accepted = {
      {true, false, true, true, true, false, true, true, true, false},       // 699
      {true, false, true, true, true, true, true, true, true, false},        // 703
      {false, false, true, false, false, true, false, false, false, false},  // 5
      {false, false, true, false, false, false, false, false, false, false}, // 1
      {false, false, false, false, false, false, false, false, false, true}, // 1024
  };
  ScratchDir dir;
  const std::vector<Sample> all = samples();
  for (size_t m = 0; m < 5; m++) {
    for (size_t k = 0; k < all.size(); k++) {
      const Sample &s = all[k];
      SCOPED_TRACE(std::string(s.name) + " under mask " + std::to_string(masks[m]));
      const std::string path = dir.file("masked");
      ryx_test::write_file(path, s.bytes);
      testing::internal::CaptureStderr();
      seq_db_t *db = seq_db_open(path.c_str(), 0, masks[m], 0, 0);
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(db != nullptr, accepted[m][k]);
      EXPECT_EQ(err, accepted[m][k] ? "" : "Format problem with file " + path + "\n");
      seq_db_free(db);
      // Streaming tries only the formats of the mask, so a quality file
      // streams as the FASTA text it also is when the mask has FASTA.
      uint32_t streamed = accepted[m][k] && s.streams ? s.bit : 0u;
      if (s.bit == kSeqFormatFastaQuality && (masks[m] & kSeqFormatFasta) != 0) streamed = kSeqFormatFasta;
      EXPECT_EQ(stream_format(path, masks[m]), streamed);
    }
  }
}

TEST(SeqFormatDetect, ClosePairs) {
  struct Case {
    const char *name;
    std::string text;
    uint32_t bit;
  };
  const Case cases[] = {
      {"SOLiD: primer and colours", ">r\nT0123\n", kSeqFormatSolid},
      {"FASTA: letters after the primer", ">r\nTACG\n", kSeqFormatFasta},
      {"FASTA: one letter", ">r\nT\n", kSeqFormatFasta},
      {"SOLiD: only dots", ">r\nT...\n", kSeqFormatSolid},
      {"SOLiD: only dots, no line end", ">r\nT..", kSeqFormatSolid},
      {"SOLiD: dots then a digit", ">r\nG..3\n", kSeqFormatSolid},
      {"FASTA: dots then a letter", ">r\nT.A\n", kSeqFormatFasta},
      {"SOLiD: after comment lines", "# a\n# b\n>r\nc01\n", kSeqFormatSolid},
      {"quality file: values", ">q\n10 20\n", kSeqFormatFastaQuality},
      {"quality file: leading spaces", ">q\n   7\n", kSeqFormatFastaQuality},
      {"quality file: a negative value", ">q\n-1 5\n", kSeqFormatFastaQuality},
      {"FASTA: letters under a quality-like header", ">q 10 20\nACGT\n", kSeqFormatFasta},
      {"colour-space FASTQ", "@r\nT0123\n+\n!!!!!\n", kSeqFormatCsfastq},
      {"colour-space FASTQ: all dots, digits in the next read", "@r\nT...\n+\n!!!!\n@s\nA01\n+\n!!!\n",
       kSeqFormatCsfastq},
      {"colour-space FASTQ: all dots, nothing after", "@r\nT...\n+\n!!!!\n", kSeqFormatCsfastq},
      {"colour-space FASTQ: CRLF", "@r\r\nT01\r\n+\r\n!!!\r\n", kSeqFormatCsfastq},
      {"FASTQ: all dots, letters in the next read", "@r\nT...\n+\n!!!!\n@s\nACG\n+\nIII\n", kSeqFormatFastq},
      {"FASTQ: letters", "@r\nACGT\n+\nIIII\n", kSeqFormatFastq},
      {"Scarf", "HWI-EAS100R:6:73:941:1973#0/1:GATC:hhhh\n", kSeqFormatScarf},
      {"Scarf: digit first", "7:6:73:941:1973/1:GATC:hhhh\n", kSeqFormatScarf},
      {"not Scarf: letter among the numbers", "HWI:6:7x:941:1973#0/1:GATC:hhhh\n", 0},
      {"not Scarf: digit in the sequence", "HWI:6:73:941:1973#0/1:GA1C:hhhh\n", 0},
      {"not Scarf: the line ends first", "HWI:6:73:941:1973#0/1:GATC\n", 0},
      {"not Scarf: punctuation first", "-HWI:6:73:941:1973#0/1:GATC:hhhh\n", 0},
      {"GenBank", "LOCUS       X", kSeqFormatGenbank},
      {"not GenBank", "LOCU", 0},
      {"empty file", "", kSeqFormatFasta},
      {"only comment lines", "# nothing\n", kSeqFormatCsfastq},
  };
  ScratchDir dir;
  for (const Case &c : cases) {
    const std::string path = dir.file("pair");
    ryx_test::write_file(path, c.text);
    EXPECT_EQ(detect_file(path), c.bit) << c.name;
    EXPECT_EQ(stream_format(path, 0xffffffffu), c.bit) << c.name;
  }
}

}  // namespace
