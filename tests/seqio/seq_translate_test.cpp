// Translation in all six frames, against the standard genetic code written
// out codon by codon.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "seqio/seq_record.h"
#include "seqio/seq_translate.h"

namespace {

std::string translate(const char *letters, int frame) {
  seq_record_t *codes = seq_record_new_from_letters(letters);
  seq_record_t *protein = seq_record_translate(codes, frame);
  EXPECT_EQ(protein->name, nullptr);
  EXPECT_EQ(protein->qualities, nullptr);
  std::string out(reinterpret_cast<char *>(protein->residues), protein->length);
  seq_record_free(protein);
  seq_record_free(codes);
  return out;
}

// The standard code as printed in textbooks: the first base picks the block,
// the second the column, the third the row.
const struct {
  const char *codon;
  char amino;
} kStandardCode[] = {
    {"TTT", 'F'}, {"TTC", 'F'}, {"TTA", 'L'}, {"TTG", 'L'}, {"TCT", 'S'}, {"TCC", 'S'}, {"TCA", 'S'}, {"TCG", 'S'},
    {"TAT", 'Y'}, {"TAC", 'Y'}, {"TAA", '*'}, {"TAG", '*'}, {"TGT", 'C'}, {"TGC", 'C'}, {"TGA", '*'}, {"TGG", 'W'},
    {"CTT", 'L'}, {"CTC", 'L'}, {"CTA", 'L'}, {"CTG", 'L'}, {"CCT", 'P'}, {"CCC", 'P'}, {"CCA", 'P'}, {"CCG", 'P'},
    {"CAT", 'H'}, {"CAC", 'H'}, {"CAA", 'Q'}, {"CAG", 'Q'}, {"CGT", 'R'}, {"CGC", 'R'}, {"CGA", 'R'}, {"CGG", 'R'},
    {"ATT", 'I'}, {"ATC", 'I'}, {"ATA", 'I'}, {"ATG", 'M'}, {"ACT", 'T'}, {"ACC", 'T'}, {"ACA", 'T'}, {"ACG", 'T'},
    {"AAT", 'N'}, {"AAC", 'N'}, {"AAA", 'K'}, {"AAG", 'K'}, {"AGT", 'S'}, {"AGC", 'S'}, {"AGA", 'R'}, {"AGG", 'R'},
    {"GTT", 'V'}, {"GTC", 'V'}, {"GTA", 'V'}, {"GTG", 'V'}, {"GCT", 'A'}, {"GCC", 'A'}, {"GCA", 'A'}, {"GCG", 'A'},
    {"GAT", 'D'}, {"GAC", 'D'}, {"GAA", 'E'}, {"GAG", 'E'}, {"GGT", 'G'}, {"GGC", 'G'}, {"GGA", 'G'}, {"GGG", 'G'},
};

char complement(char base) {
  switch (base) {
    case 'A': return 'T';
    case 'C': return 'G';
    case 'G': return 'C';
    default: return 'A';
  }
}

TEST(SeqTranslate, EveryCodonForwardAndReverse) {
  for (const auto &entry : kStandardCode) {
    EXPECT_EQ(translate(entry.codon, 1), std::string(1, entry.amino)) << entry.codon;
    // The reverse complement read in frame -1 gives the same amino acid.
    std::string reverse = {complement(entry.codon[2]), complement(entry.codon[1]), complement(entry.codon[0])};
    EXPECT_EQ(translate(reverse.c_str(), -1), std::string(1, entry.amino)) << reverse;
  }
  EXPECT_EQ(strlen(seq_codon_table), 64u);
}

TEST(SeqTranslate, SixFrames) {
  // ACGTTTGA; its reverse complement is TCAAACGT.
  const struct {
    int frame;
    const char *protein;
  } cases[] = {{1, "TF"}, {2, "RL"}, {3, "V*"}, {-1, "SN"}, {-2, "QT"}, {-3, "KR"}};
  for (const auto &c : cases) EXPECT_EQ(translate("ACGTTTGA", c.frame), c.protein) << "frame " << c.frame;
}

TEST(SeqTranslate, CodonsWithUnknownBasesGiveX) {
  EXPECT_EQ(translate("NCGTTT", 1), "XF");
  EXPECT_EQ(translate("ANGTTT", 1), "XF");
  EXPECT_EQ(translate("ACNTTT", 1), "XF");
  EXPECT_EQ(translate("TTTACN", -1), "XK");  // reverse complement NGT AAA
  EXPECT_EQ(translate("TTTNCG", -1), "XK");
  seq_record_t *codes = seq_record_new_from_letters("ACGACGACGACG");
  codes->residues[1] = 7;    // read-store separator
  codes->residues[4] = 255;  // any byte of 4 or more
  codes->residues[11] = 5;
  seq_record_t *protein = seq_record_translate(codes, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(protein->residues), protein->length), "XXTX");
  seq_record_free(protein);
  protein = seq_record_translate(codes, -1);
  // Reverse complement codons start from residue 11 down: 11-9, 8-6, 5-3, 2-0.
  EXPECT_EQ(std::string(reinterpret_cast<char *>(protein->residues), protein->length), "XRXX");
  seq_record_free(protein);
  seq_record_free(codes);
}

// Records shorter than their frame translate to nothing (the codon count is
// never negative), and frame 0 translates to nothing at all.
TEST(SeqTranslate, ShortRecordsAndFrameZero) {
  const struct {
    const char *letters;
    int frame;
    const char *protein;
  } cases[] = {
      {"", 1, ""},      {"", 2, ""},     {"", 3, ""},      {"", -1, ""},     {"", -2, ""},     {"", -3, ""},
      {"A", 1, ""},     {"A", 3, ""},    {"A", -3, ""},    {"AT", 1, ""},    {"AT", 3, ""},    {"AT", -3, ""},
      {"ATG", 1, "M"},  {"ATG", 2, ""},  {"ATG", 3, ""},   {"ATG", -1, "H"}, {"ATG", -2, ""},  {"ATG", -3, ""},
      {"ATGG", 1, "M"}, {"ATGG", 2, "W"}, {"ATGG", 3, ""}, {"ATGG", -1, "P"}, {"ATGG", -2, "H"}, {"ATGG", -3, ""},
      {"ATG", 0, ""},   {"ATGGCC", 0, ""}, {"", 0, ""},    {"AT", 7, ""},    {"AT", -7, ""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(translate(c.letters, c.frame), c.protein) << "'" << c.letters << "' frame " << c.frame;
}

}  // namespace
