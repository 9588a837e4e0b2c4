// FASTQ readers: record reader with markers, skip, the chunk scanner and
// parser, their errors, and the choice of the quality offset.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/array_list.h"
#include "seq_read_paths.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/fastq_reader.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "seqio/seq_write.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::QualityOffsetGuard;
using seqio_test::Rec;

TEST(FastqReader, MarkersAreTheAtSignsAfterLineFeedsInsideRecords) {
  ScratchDir dir;
  const std::string path = dir.file("m.fq");
  // Record 1 starts at 0, its quality lines at 11 and 14; record 2 starts at
  // 17, its quality line at 24.
  ryx_test::write_file(path, "@r\nAC\nGT\n+\n@@\n@@\n@s\nA\n+\n@\n");
  input_stream_t *in = input_stream_open(path.c_str(), "rb");
  array_list_t *markers = array_list_new(sizeof(int64_t));
  EXPECT_EQ(fastq_read(in, nullptr, markers, false), 4);
  EXPECT_EQ(fastq_read(in, nullptr, markers, false), 1);
  EXPECT_EQ(fastq_read(in, nullptr, markers, false), -1);
  std::vector<int64_t> got;
  for (uint64_t i = 0; i < markers->count; i++) got.push_back(*static_cast<int64_t *>(array_list_get_item(markers, i)));
  EXPECT_EQ(got, (std::vector<int64_t>{11, 14, 24}));
  array_list_free(markers);
  // The skip takes the quality lines for record starts.
  input_stream_seek(in, 0, SEEK_SET);
  fastq_skip(in, 2);
  EXPECT_EQ(input_stream_tell(in), 17);
  input_stream_close(in);
}

TEST(FastqReader, RecordReaderErrors) {
  ScratchDir dir;
  struct Case {
    const char *text;
    const char *message;
  };
  const Case cases[] = {
      {"@r", "Fastq file format error in file %s"},                  // header without line feed
      {"@r\nAC\n", "Fastq format error EOF in file %s"},             // no '+' line
      {"@r\nAC\n+\nI", "Fastq format error EOF in file %s"},         // qualities cut short
      {"@r\nAC\n+", "Fastq format error EOF in file %s"},            // '+' line without line feed, qualities due
      {"@r\nA\n+\nI\nX\n", "Fastq format error in file %s"},        // junk after the qualities
      // One quality too many. (Reads of a single base each would make the
      // file colour-space FASTQ: a primer without colours.)
      {"@r\nAC\n+\nIII\n@s\nAC\n+\nII\n", "Fastq format error in file %s"},
  };
  for (const Case &c : cases) {
    const std::string path = dir.file("bad.fq");
    ryx_test::write_file(path, c.text);
    std::string message = c.message;
    message.replace(message.find("%s"), 2, path);
    EXPECT_EXIT(seqio_test::read_db(path, 0, kSeqMaskReads, false, false), testing::ExitedWithCode(1),
                "^" + message + "\n$")
        << c.text;
  }
  const std::string path = dir.file("x.fq");
  ryx_test::write_file(path, "X\n");
  input_stream_t *in = input_stream_open(path.c_str(), "rb");
  EXPECT_EXIT(fastq_read(in, nullptr, nullptr, false), testing::ExitedWithCode(1),
              "^Fastq file format error in file " + path + "\n$");
  input_stream_close(in);
}

TEST(FastqReader, StreamingErrors) {
  ScratchDir dir;
  struct Case {
    const char *text;
    bool qualities;
    const char *message;  // followed by the path and a line feed
  };
  const char *kJunk = "Fastq format error in file ";
  const char *kCut = "Fastq format error EOF in file ";
  const Case cases[] = {
      {"@r\nA\n+\nI\nX\n", false, kJunk},  // junk between records, seen by the scanner
      {"@r\nAC\n", false, kCut},            // no '+' line in the record
      {"@r\nAC\n+", true, kCut},            // '+' line without line feed
      {"@r\nAC\n+", false, kCut},
      {"@r\nAC\n+\nI\n", true, kCut},       // too few qualities
      {"@r\nAC\n+\nI\n", false, kCut},      // a cut last record is never passed on
      {"@r\nAC\n+\nI", false, kCut},
      {"@r1\nA\n+\nI\n@r2\nAC", false, kCut},
  };
  for (const Case &c : cases) {
    const std::string path = dir.file("bad.fq");
    ryx_test::write_file(path, c.text);
    QualityOffsetGuard offsets(33);
    EXPECT_EXIT(seqio_test::read_for_each(path, 0, kSeqMaskReads, c.qualities), testing::ExitedWithCode(1),
                std::string("^") + c.message + path + "\n$")
        << c.text;
  }
}

// White space inside a sequence or quality line is not a letter: the
// reader of the common one-line record must see it at any place of a line
// (inside its sixteen-byte steps, at their edges, in the tail) and leave
// such a record to the byte-by-byte reading, which passes over it.
TEST(FastqReader, WhiteSpaceAnywhereInALineIsNoLetter) {
  ScratchDir dir;
  const std::string path = dir.file("ws.fq");
  const std::string letters(40, 'C'), qualities(40, 'I');
  for (char space : {' ', '\t', '\r', '\v', '\f'}) {
    for (size_t at = 0; at <= letters.size(); at += (at % 16 == 15 || at % 16 == 0) ? 1 : 5) {
      SCOPED_TRACE(testing::Message() << "byte " << static_cast<int>(space) << " at " << at);
      // The space sits at `at` in the sequence line and at 40 - at in the
      // quality line, so both lines hold 41 bytes for 40 letters.
      std::string sequence = letters, quality = qualities;
      sequence.insert(at, 1, space);
      quality.insert(letters.size() - at, 1, space);
      ryx_test::write_file(path, "@r\n" + sequence + "\n+\n" + quality + "\n@s\nA\n+\nI\n");
      input_stream_t *in = input_stream_open(path.c_str(), "rb");
      seq_record_t *record = seq_record_new_empty();
      EXPECT_EQ(fastq_read(in, record, nullptr, false), 40);
      EXPECT_EQ(std::string(reinterpret_cast<char *>(record->residues), record->length), letters);
      EXPECT_EQ(fastq_read(in, nullptr, nullptr, false), 1);
      seq_record_free(record);
      input_stream_close(in);
    }
  }
}

TEST(FastqReader, LastRecordNeedsNoFinalLineFeed) {
  // Files whose last quality byte is the last byte of the file are common;
  // every path reads them whole, with or without qualities.
  ScratchDir dir;
  QualityOffsetGuard offsets(33);
  const std::string path = dir.file("end.fq");
  ryx_test::write_file(path, "@r1\nAC\n+\nII\n@r2\nACG\n+\nI#5");
  const std::vector<Rec> plain = {{"r1", "AC", false, ""}, {"r2", "ACG", false, ""}};
  EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqMaskReads, false), plain);
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqMaskReads, false, false), plain);
  const std::vector<Rec> with_qualities = seqio_test::read_for_each(path, 0, kSeqMaskReads, true);
  ASSERT_EQ(with_qualities.size(), 2u);
  EXPECT_EQ(with_qualities[1].residues, "ACG");
  EXPECT_EQ(with_qualities, seqio_test::read_db(path, 0, kSeqMaskReads, true, false));
  EXPECT_EQ(with_qualities, seqio_test::read_pull(path, 0, kSeqMaskReads, true));
  // An empty last record whose '+' line has no line feed is complete too.
  ryx_test::write_file(path, "@r1\nA\n+\nI\n@r2\n+");
  EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqMaskReads, true).size(), 2u);
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqMaskReads, true, false).size(), 2u);
}

TEST(FastqReader, ChunkScannerAcrossBlocks) {
  // One record cut into blocks at every byte: the scanner finds exactly the
  // two record starts whatever the cut, including a quality line that
  // starts with '@' and a '+' that is a sequence letter.
  const std::string text = "@r1\nA+\r\nCG\n+r1\n@I\n@I\n\n@r2\nA\n+\n@\n";
  for (size_t cut = 1; cut < text.size(); cut++) {
    void *state = fastq_new_split_state();
    array_list_t *starts = array_list_new(sizeof(int32_t));
    std::vector<int32_t> got;
    for (size_t base : {size_t{0}, cut}) {
      const std::string block = base == 0 ? text.substr(0, cut) : text.substr(cut);
      starts->count = 0;
      fastq_chunk_find_starts(reinterpret_cast<const uint8_t *>(block.data()), static_cast<int32_t>(block.size()),
                              starts, state, nullptr, "x");
      for (uint64_t i = 0; i < starts->count; i++)
        got.push_back(static_cast<int32_t>(base) + *static_cast<int32_t *>(array_list_get_item(starts, i)));
    }
    EXPECT_EQ(got, (std::vector<int32_t>{0, 22})) << "cut at " << cut;
    array_list_free(starts);
    fastq_free_split_state(state);
  }
}

TEST(FastqReader, ChunkParseWithAndWithoutQualities) {
  QualityOffsetGuard offsets(33);
  std::string slice = "@ r1 x \r\nA+\r\nCG\n+r1\n@I\n @I\n\n";
  seq_record_t r;
  seq_record_t q;
  ASSERT_TRUE(fastq_chunk_parse(reinterpret_cast<uint8_t *>(slice.data()), static_cast<int32_t>(slice.size()),
                                nullptr, &r, &q, "x"));
  EXPECT_STREQ(r.name, "r1 x");
  EXPECT_EQ(seqio_test::bytes_of(&r), "A+CG");
  EXPECT_EQ(q.name, nullptr);
  EXPECT_EQ(seqio_test::bytes_of(&q), std::string("\x1f\x28\x1f\x28", 4));
  std::string plain = "@r\nAC\n+\nII\n";
  EXPECT_FALSE(fastq_chunk_parse(reinterpret_cast<uint8_t *>(plain.data()), static_cast<int32_t>(plain.size()),
                                 nullptr, &r, nullptr, "x"));
  EXPECT_EQ(seqio_test::bytes_of(&r), "AC");
}

// The offset the FASTQ readers subtract while none was chosen is 64.
TEST(FastqReader, UnsetOffsetReadsAs64) {
  ScratchDir dir;
  const std::string path = dir.file("q.fq");
  ryx_test::write_file(path, "@r\nAC\n+\n@h\n");
  ASSERT_EQ(fastq_get_quality_offset(), -1);
  EXPECT_EQ(fastq_reader_quality_offset(), 64);
  const std::vector<Rec> want = {{"r", "AC", true, std::string("\x00\x28", 2)}};
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqMaskReads, true, false), want);
}

// Detection changes process-wide settings, so each case runs in a child
// that exits with the chosen offset.
TEST(FastqQualityOffset, DetectionTable) {
  ScratchDir dir;
  struct Case {
    const char *name;
    int lowest;
    int highest;
    int offset;
  };
  const Case cases[] = {
      {"codes 35 to 73", 35, 73, 33},      {"codes 64 to 104", 64, 104, 64},
      {"codes 59 to 104", 59, 104, 64},    {"codes 33 to 74, none fits", 33, 74, 33},
      {"codes 33 to 73", 33, 73, 33},      {"codes 66 to 104", 66, 104, 64},
      {"codes 20 to 60, below 33", 20, 60, 64}, {"codes 70 to 120, none fits", 70, 120, 64},
      {"codes 40 to 80, none fits", 40, 80, 33},
  };
  for (const Case &c : cases) {
    const std::string path = dir.file("q.fq");
    // Two records: one with the lowest and one with the highest code.
    ryx_test::write_file(path, "@a\nACGT\n+\n" + std::string(4, static_cast<char>(c.lowest)) + "\n@b\nAC\n+\n" +
                                   std::string(2, static_cast<char>(c.highest)) + "\n");
    EXPECT_EXIT(exit(seq_quality_detect_offset(path.c_str(), kFastqFormatOps.read_qualities)),
                testing::ExitedWithCode(c.offset), "")
        << c.name;
  }
}

TEST(FastqQualityOffset, EmptyInputsAndTheScanLimit) {
  ScratchDir dir;
  const std::string empty = dir.file("empty.fq");
  ryx_test::write_file(empty, "");
  EXPECT_EXIT(exit(seq_quality_detect_offset(empty.c_str(), kFastqFormatOps.read_qualities)),
              testing::ExitedWithCode(33), "");
  const std::string first_empty = dir.file("first_empty.fq");
  ryx_test::write_file(first_empty, "@a\n+\n@b\nAC\n+\nhh\n");
  EXPECT_EXIT(exit(seq_quality_detect_offset(first_empty.c_str(), kFastqFormatOps.read_qualities)),
              testing::ExitedWithCode(33), "");
  // Only the first 300 records count.
  std::string text;
  for (int i = 0; i < 300; i++) text += "@r\nAC\n+\nhh\n";
  const std::string late = dir.file("late.fq");
  ryx_test::write_file(late, text + "@s\nAC\n+\n##\n");
  EXPECT_EXIT(exit(seq_quality_detect_offset(late.c_str(), kFastqFormatOps.read_qualities)),
              testing::ExitedWithCode(64), "");
}

// The choice is made once per process, sets all four offsets, and the FASTQ
// writer then uses it too.
TEST(FastqQualityOffset, ChosenOnceAndUsedByTheWriter) {
  ScratchDir dir;
  const std::string sanger = dir.file("s.fq");
  ryx_test::write_file(sanger, "@a\nACG\n+\n#5I\n");
  const std::string illumina = dir.file("i.fq");
  ryx_test::write_file(illumina, "@a\nACG\n+\nBXh\n");
  EXPECT_EXIT(
      {
        if (seq_quality_detect_offset(sanger.c_str(), kFastqFormatOps.read_qualities) != 33) exit(2);
        if (seq_quality_detect_offset(illumina.c_str(), kFastqFormatOps.read_qualities) != 33) exit(3);
        if (fastq_get_quality_offset() != 33 || csfastq_get_quality_offset() != 33 ||
            scarf_get_quality_offset() != 33 || fastq_get_output_quality_offset() != 33)
          exit(4);
        seq_record_t *r = seq_record_new_from_string("AC");
        r->name = static_cast<char *>(malloc(2));
        strcpy(r->name, "w");
        seq_record_t *q = seq_record_new(2);
        q->residues[0] = 0;
        q->residues[1] = 40;
        seq_record_write_fastq(stderr, r, q);
        seq_record_free(r);
        seq_record_free(q);
        exit(0);
      },
      testing::ExitedWithCode(0), "^@w\nAC\n\\+\n!I\n$");
  // Streaming a FASTQ with qualities makes the choice.
  EXPECT_EXIT(
      {
        seqio_test::read_for_each(illumina, 0, kSeqMaskReads, true);
        exit(fastq_get_quality_offset());
      },
      testing::ExitedWithCode(64), "");
  // Without qualities nothing is chosen.
  EXPECT_EXIT(
      {
        seqio_test::read_for_each(illumina, 0, kSeqMaskReads, false);
        exit(fastq_get_quality_offset() == -1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
