// FASTA and FASTQ parsing: format and offset choice, line ends, letters,
// names, qualities over several lines, errors with their line numbers,
// input larger than a buffer block, and sequences outliving their parser.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fm/runtime/file.h"
#include "fm/runtime/sequence_parser.h"
#include "memory_stream.h"
#include "test_support.h"

using ryx_test::MemoryReader;

namespace {

struct Parsed {
  std::string name;
  std::string codes;      // one digit per symbol
  std::string qualities;  // raw values; empty when none
  bool has_qualities;
};

std::string code_digits(Sequence const &s) {
  std::string out;
  for (unsigned int i = 0; i < s.length; i++) out.push_back(static_cast<char>('0' + s.symbols[i]));
  return out;
}

Parsed describe(Sequence const &s) {
  Parsed p;
  p.name = s.name;
  p.codes = code_digits(s);
  p.has_qualities = s.qualities != nullptr;
  if (p.has_qualities) p.qualities.assign(reinterpret_cast<char const *>(s.qualities), s.length);
  return p;
}

std::vector<Parsed> parse_all(SequenceParser *parser) {
  std::vector<Parsed> out;
  while (Sequence *s = parser->getNextSequence()) {
    EXPECT_EQ(s->symbols[s->length], 255);
    out.push_back(describe(*s));
    delete s;
  }
  return out;
}

std::vector<Parsed> parse_text(std::string const &text) {
  std::unique_ptr<SequenceParser> parser(SequenceParser::create(new MemoryReader(text, nullptr, "reads")));
  return parse_all(parser.get());
}

bool is_fastq(std::string const &text) {
  std::unique_ptr<SequenceParser> parser(SequenceParser::create(new MemoryReader(text)));
  return dynamic_cast<FastqSequenceParser *>(parser.get()) != nullptr;
}

unsigned int offset_of(std::string const &text) {
  std::unique_ptr<SequenceParser> parser(SequenceParser::create(new MemoryReader(text)));
  auto *fastq = dynamic_cast<FastqSequenceParser *>(parser.get());
  return fastq == nullptr ? 0 : fastq->quality_offset();
}

TEST(SequenceParser, FastaOverManyLinesWithCrlf) {
  auto seqs = parse_text(">chr1 first chromosome\r\nACGT\r\nAC\r\n\r\nGGGTTTAAACCC\r\nT\r\n>chr2\r\nNN");
  ASSERT_EQ(seqs.size(), 2u);
  EXPECT_EQ(seqs[0].name, "chr1 first chromosome");
  EXPECT_EQ(seqs[0].codes, "0123" "01" "222333000111" "3");
  EXPECT_FALSE(seqs[0].has_qualities);
  EXPECT_EQ(seqs[1].name, "chr2");
  EXPECT_EQ(seqs[1].codes, "44");
}

TEST(SequenceParser, LettersBecomeCodes) {
  // Lower case and U are bases; IUPAC codes, other letters, blanks, digits,
  // punctuation and control bytes are N.
  auto seqs = parse_text(">s\nACGTUacgtu\nRYKMSWBDHVN\nac gt\t1*-.\x01" "A\xC3\n");
  ASSERT_EQ(seqs.size(), 1u);
  EXPECT_EQ(seqs[0].codes, "0123301233" "44444444444" "01423444444" "04");
}

TEST(SequenceParser, NamesAreTrimmedAndKeptWhole) {
  auto seqs = parse_text(">  \tread/1 sample=7 \xA0 \r\nAC\n>\nG\n>\t \n\n>x y\n");
  ASSERT_EQ(seqs.size(), 4u);
  EXPECT_EQ(seqs[0].name, "read/1 sample=7");
  EXPECT_EQ(seqs[1].name, "");
  EXPECT_EQ(seqs[1].codes, "2");
  EXPECT_EQ(seqs[2].name, "");
  EXPECT_EQ(seqs[2].codes, "");
  EXPECT_EQ(seqs[3].name, "x y");
}

TEST(SequenceParser, EmptyAndTinyInputs) {
  EXPECT_TRUE(parse_text("").empty());
  EXPECT_FALSE(is_fastq(""));
  auto one = parse_text(">");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].codes, "");
  auto no_break = parse_text(">only\nACG");
  ASSERT_EQ(no_break.size(), 1u);
  EXPECT_EQ(no_break[0].codes, "012");
}

TEST(SequenceParser, FastqRecords) {
  const std::string text =
      "@r1 desc\nACGT\n+\nIIII\n"
      "@r2\r\nAC\r\nGT\r\n+r2\r\nII\r\nHH\r\n"  // sequence and qualities over two lines
      "\n@r3\nAC\n+\nIII\nI\n";                  // (r3 below is not read: see errors)
  auto seqs = parse_text(text.substr(0, text.find("\n@r3") + 1));
  ASSERT_EQ(seqs.size(), 2u);
  EXPECT_EQ(seqs[0].name, "r1 desc");
  EXPECT_EQ(seqs[0].codes, "0123");
  ASSERT_TRUE(seqs[0].has_qualities);
  EXPECT_EQ(seqs[0].qualities, std::string(4, 'I' - 33));
  EXPECT_EQ(seqs[1].codes, "0123");
  EXPECT_EQ(seqs[1].qualities, std::string(2, 'I' - 33) + std::string(2, 'H' - 33));
}

TEST(SequenceParser, FastqEmptyReadAndInvalidQualityBytes) {
  // An empty read has an empty quality line; a blank inside the qualities
  // is stored as 0 and counts.
  auto seqs = parse_text("@e\n\n+\n\n@q\nACG\n+\nI I\n");
  ASSERT_EQ(seqs.size(), 2u);
  EXPECT_EQ(seqs[0].codes, "");
  EXPECT_TRUE(seqs[0].has_qualities);
  EXPECT_EQ(seqs[1].qualities, std::string("\x28\x00\x28", 3));
}

TEST(SequenceParser, QualityOffsetChoice) {
  auto record = [](std::string const &q) { return "@r\n" + std::string(q.size(), 'A') + "\n+\n" + q + "\n"; };
  // Only '@' to 'h': offset 64, values from 0.
  std::string high = record("@ABCDhh") + record("hhhhMM");
  EXPECT_EQ(offset_of(high), 64u);
  auto seqs = parse_text(high);
  EXPECT_EQ(seqs[0].qualities, std::string("\x00\x01\x02\x03\x04\x28\x28", 7));
  // One low character anywhere among the first 1000 records: offset 33.
  std::string mixed;
  for (int i = 0; i < 1000; i++) mixed += record(i == 700 ? "hh5h" : "hhhh");
  EXPECT_EQ(offset_of(mixed), 33u);
  // Past the first 1000 records it is no longer looked for.
  std::string late;
  for (int i = 0; i < 1001; i++) late += record(i == 1000 ? "hh5h" : "hhhh");
  EXPECT_EQ(offset_of(late), 64u);
  // Neither low nor high characters: offset 33.
  EXPECT_EQ(offset_of(record("@@@;;")), 33u);
  // With offset 64, characters below ';' are invalid and stored as 0.
  auto low_in_64 = parse_text(late);
  EXPECT_EQ(low_in_64[1000].qualities, std::string("\x28\x28\x00\x28", 4));
}

// Long reads: the first 1000 records span many reader blocks, and a low
// character past the first block still decides the offset; the records are
// parsed whole afterwards.
TEST(SequenceParser, QualityOffsetProbeReadsPastTheFirstBlock) {
  auto record = [](std::string const &q) { return "@r\n" + std::string(q.size(), 'C') + "\n+\n" + q + "\n"; };
  const std::string high(20000, 'h');
  std::string late_low;
  for (int i = 0; i < 300; i++) late_low += record(i == 250 ? high.substr(1) + "5" : high);
  ASSERT_GT(late_low.size(), 2u << 20);
  EXPECT_EQ(offset_of(late_low), 33u);
  auto seqs = parse_text(late_low);
  ASSERT_EQ(seqs.size(), 300u);
  EXPECT_EQ(seqs[250].qualities.back(), '5' - 33);
  EXPECT_EQ(seqs[299].qualities[0], 'h' - 33);
  // The same records without the low character: offset 64, decided at the
  // end of the input rather than at the end of the first block.
  std::string all_high;
  for (int i = 0; i < 300; i++) all_high += record(high);
  EXPECT_EQ(offset_of(all_high), 64u);
}

TEST(SequenceParser, FormatSniffing) {
  EXPECT_FALSE(is_fastq(">a\nACGT\n"));
  EXPECT_FALSE(is_fastq(">a\n>b\n\nA\nAC1\n"));  // one-letter lines decide nothing
  EXPECT_FALSE(is_fastq(">a\n"));
  EXPECT_TRUE(is_fastq("@a\nACGT\n+\nIIII\n"));
  EXPECT_TRUE(is_fastq("@a"));
}

TEST(SequenceParserDeath, UnsupportedFormats) {
  const char *cases[] = {
      ">a\n10 20 30\n",         // a quality file
      ">a\nA1CGT\n",            // a digit before the second letter
      "@a\nT0123\n+\nIIIII\n",  // colour space
      "hello\n",                // no header at all
      "\n>a\nAC\n",             // not even a blank line may lead
  };
  for (const char *text : cases) {
    EXPECT_EXIT(SequenceParser::create(new MemoryReader(text, nullptr, "in.txt")), testing::ExitedWithCode(1),
                "^Unsupported sequence file format in in.txt\n$")
        << text;
  }
}

TEST(SequenceParserDeath, ParseErrorsNameTheLine) {
  const struct {
    const char *text;
    const char *message;
  } cases[] = {
      {"x", "^Parse error in FASTA file reads at line 1: Expected '>'.\n$"},
      {"@r\nAC\n+\nII\n\n\nxx\n", "^Parse error in FASTQ file reads at line 7: Expected '@'.\n$"},
      {"@r\r\nAC\r\n+\r\nII\r\n\r\n\r\nxx\r\n", "^Parse error in FASTQ file reads at line 7: Expected '@'.\n$"},
      // Quality line longer than the sequence.
      {"@a\nAC\n+\nII\n@r\nACGT\n+\nIIIII\n",
       "^Parse error in FASTQ file reads at line 8: Number of quality scores does not match number of symbols\n$"},
      // Shorter: the next lines are taken until the count is passed.
      {"@r\r\nACGT\r\n+\r\nII\r\nIII\r\n",
       "^Parse error in FASTQ file reads at line 5: Number of quality scores does not match number of symbols\n$"},
      // Cut off before the qualities.
      {"@r\nACGT\n+\n", "^Parse error in FASTQ file reads at line 4: Number of quality scores does not match number of symbols\n$"},
      {"@r\nACGT\n", "^Parse error in FASTQ file reads at line 3: Number of quality scores does not match number of symbols\n$"},
  };
  for (const auto &c : cases) {
    EXPECT_EXIT(
        {
          std::unique_ptr<SequenceParser> parser(SequenceParser::create(new MemoryReader(c.text, nullptr, "reads")));
          while (Sequence *s = parser->getNextSequence()) delete s;
        },
        testing::ExitedWithCode(1), c.message)
        << c.text;
  }
}

// Random reads written as FASTQ with assorted line ends and wrapping, more
// than a buffer block in all; plain and gzip input give the same sequences,
// which stay valid after the parser is gone.
struct Generated {
  std::string text;
  std::vector<Parsed> expected;
};

Generated generate_fastq(unsigned seed, int count) {
  std::mt19937 random(seed);
  static const char kLetters[] = "ACGTacgtNnRyU";
  static const unsigned char kCodes[] = {0, 1, 2, 3, 0, 1, 2, 3, 4, 4, 4, 4, 3};
  Generated g;
  for (int i = 0; i < count; i++) {
    const char *eol = random() % 4 == 0 ? "\r\n" : "\n";
    // Mostly short reads, now and then one far longer than a block piece.
    size_t length = random() % 50 == 0 ? 5000 + random() % 20000 : random() % 300;
    size_t wrap = random() % 3 == 0 ? 60 + random() % 40 : 0;
    Parsed p;
    p.name = "read_" + std::to_string(i) + (random() % 2 ? " extra words" : "");
    p.has_qualities = true;
    std::string letters, quals;
    for (size_t k = 0; k < length; k++) {
      size_t pick = random() % 13;
      letters.push_back(kLetters[pick]);
      p.codes.push_back(static_cast<char>('0' + kCodes[pick]));
      char q = static_cast<char>('!' + random() % 60);
      quals.push_back(q);
      p.qualities.push_back(static_cast<char>(q - 33));
    }
    auto wrapped = [&](std::string const &s) {
      std::string out;
      if (wrap == 0) return s + eol;
      for (size_t k = 0; k < s.size(); k += wrap) out += s.substr(k, wrap) + eol;
      return out.empty() ? std::string(eol) : out;
    };
    g.text += "@" + p.name + eol + wrapped(letters) + "+" + eol + wrapped(quals);
    g.expected.push_back(p);
  }
  return g;
}

TEST(SequenceParser, LargeInputPlainAndGzip) {
  Generated g = generate_fastq(99, 12000);
  ASSERT_GT(g.text.size(), 3u << 20);
  ryx_test::ScratchDir dir;
  ryx_test::write_file(dir.file("reads.fq"), g.text);
  ryx_test::write_gzip_file(dir.file("reads.fq.gz"), g.text);
  for (const char *name : {"reads.fq", "reads.fq.gz"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    File *file = File::open(path.c_str(), false);
    ASSERT_NE(file, nullptr);
    long long size = file->size();
    SequenceParser *parser = SequenceParser::create(file);
    ASSERT_EQ(offset_of(g.text), 33u);
    std::vector<std::unique_ptr<Sequence>> kept;
    unsigned long long bytes = 0;
    while (Sequence *s = parser->getNextSequenceAndSize(bytes)) kept.emplace_back(s);
    delete parser;
    // The stored positions add up to the file, less the final line break
    // that no sequence consumed.
    EXPECT_LE(bytes, static_cast<unsigned long long>(size));
    EXPECT_GE(bytes + 64, static_cast<unsigned long long>(size));
    ASSERT_EQ(kept.size(), g.expected.size());
    for (size_t i = 0; i < kept.size(); i++) {
      Parsed got = describe(*kept[i]);
      ASSERT_EQ(got.name, g.expected[i].name) << i;
      ASSERT_EQ(got.codes, g.expected[i].codes) << i;
      ASSERT_EQ(got.qualities, g.expected[i].qualities) << i;
      ASSERT_EQ(kept[i]->symbols[kept[i]->length], 255) << i;
    }
  }
}

// Every record length 0 to 100 with letters, IUPAC codes, digits, blanks
// and high bytes, against a per-byte conversion.
TEST(SequenceParser, EveryLengthAgainstAPlainConversion) {
  std::mt19937 random(77);
  static const char kBytes[] = "ACGTUNacgtunRYKMSWBDHVrykmswbdhvXZ-.*0123456789 \t\x01\x7f\x80\xc3\xff";
  std::string text = ">first\nACGT\n";
  std::vector<std::string> expected = {"0123"};
  for (int length = 0; length <= 100; length++) {
    std::string line, codes;
    for (int i = 0; i < length; i++) {
      char c = kBytes[random() % (sizeof(kBytes) - 1)];
      line.push_back(c);
      switch (c) {
        case 'A': case 'a': codes.push_back('0'); break;
        case 'C': case 'c': codes.push_back('1'); break;
        case 'G': case 'g': codes.push_back('2'); break;
        case 'T': case 't': case 'U': case 'u': codes.push_back('3'); break;
        default: codes.push_back('4'); break;
      }
    }
    // A record line must not start with the header character.
    text += ">r" + std::to_string(length) + "\n" + line + (length % 2 ? "\r\n" : "\n");
    expected.push_back(codes);
  }
  auto seqs = parse_text(text);
  ASSERT_EQ(seqs.size(), expected.size());
  for (size_t i = 0; i < seqs.size(); i++) EXPECT_EQ(seqs[i].codes, expected[i]) << i;
}

TEST(SequenceParser, ChromosomeLargerThanTheBlocks) {
  // One sequence far beyond the initial symbol block and the reader's
  // block, with lines of 70.
  std::mt19937 random(5);
  std::string letters(3'000'000, 'A');
  std::string codes(letters.size(), '0');
  for (size_t i = 0; i < letters.size(); i++) {
    int pick = static_cast<int>(random() % 4);
    letters[i] = "ACGT"[pick];
    codes[i] = static_cast<char>('0' + pick);
  }
  std::string text = ">big\n";
  for (size_t i = 0; i < letters.size(); i += 70) text += letters.substr(i, 70) + "\n";
  text += ">small\nGG\n";
  auto seqs = parse_text(text);
  ASSERT_EQ(seqs.size(), 2u);
  EXPECT_EQ(seqs[0].codes, codes);
  EXPECT_EQ(seqs[1].codes, "22");
}

}  // namespace
