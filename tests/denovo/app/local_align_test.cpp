// Local aligner: the tie rules and corner cases as a table, alignments
// checked against their own columns on random pairs (rescored, bounds,
// merged residues), the growing matrix, the refused schemes, and the
// alignment pair lists and printer.
#include "denovo/app/local_align.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "denovo/app/local_align_pairs.h"
#include "seqio/seq_record.h"

namespace {

// Codes from "ACGTN".
seq_record_t *codes(const std::string &letters) {
  seq_record_t *r = seq_record_new(static_cast<uint32_t>(letters.size()));
  for (size_t i = 0; i < letters.size(); i++) {
    r->residues[i] = static_cast<uint8_t>(std::string("ACGTN").find(letters[i]));
  }
  return r;
}

std::string letters(const seq_record_t *r) {
  std::string out;
  for (uint32_t i = 0; i < r->length; i++) out += "ACGTN"[r->residues[i]];
  return out;
}

// Five codes, match +match, mismatch mismatch, anything with N n_score,
// linear gap gap.
local_align_scoring_t *scheme(int match, int mismatch, int gap, int n_score = 0) {
  local_align_scoring_t *s = local_align_scoring_new_sized(5);
  s->gap_first = static_cast<int16_t>(gap);
  for (int r = 0; r < 5; r++) {
    for (int c = 0; c < 5; c++) {
      s->matrix[r][c] = static_cast<int16_t>(r == 4 || c == 4 ? n_score : r == c ? match : mismatch);
    }
  }
  return s;
}

struct Aligned {
  int score, start_a, start_b, end_a, end_b;
  std::string merged;
};

Aligned align(const local_align_scoring_t *s, local_align_result_t *r, const std::string &a, const std::string &b) {
  seq_record_t *x = codes(a);
  seq_record_t *y = codes(b);
  local_align(s, r, x, y);
  seq_record_t *m = local_align_merge_sequences(r, s, x, y, 4);
  Aligned out{r->score, r->start_a, r->start_b, r->end_a, r->end_b, letters(m)};
  seq_record_free(m);
  seq_record_free(x);
  seq_record_free(y);
  return out;
}

TEST(LocalAlign, Cases) {
  struct Case {
    const char *name;
    const char *a, *b;
    int match, mismatch, gap, n_score;
    Aligned want;
  } cases[] = {
      {"identical", "ACGTA", "ACGTA", 1, -1, -1, 0, {5, 0, 0, 5, 5, "ACGTA"}},
      {"nothing positive", "AAAA", "CCCC", 1, -1, -1, 0, {0, 0, 0, 0, 0, ""}},
      {"empty first", "", "ACGT", 1, -1, -1, 0, {0, 0, 0, 0, 0, ""}},
      {"empty second", "ACGT", "", 1, -1, -1, 0, {0, 0, 0, 0, 0, ""}},
      {"inner match", "TTACGTT", "GGACGGG", 1, -5, -5, 0, {3, 2, 2, 5, 5, "ACG"}},
      // Two equal best cells: the one met first row by row is kept ("A" of b
      // at row 1 meets the first "A" of a at column 1).
      {"first best cell", "ACA", "A", 1, -1, -1, 0, {1, 0, 0, 1, 1, "A"}},
      // Row 1 of b "AT" against a "TAT": the best 2 ends at column 3; the
      // earlier 1s stay behind.
      {"strictly better later", "TAT", "AT", 1, -1, -1, 0, {2, 1, 0, 3, 2, "AT"}},
      // A gap in b: "ACGT" against "AGT" with gap -1.
      {"gap in b", "AACGTT", "AAGTT", 2, -3, -1, 0, {9, 0, 0, 6, 5, "AACGTT"}},
      {"gap in a", "AAGTT", "AACGTT", 2, -3, -1, 0, {9, 0, 0, 5, 6, "AACGTT"}},
      // N against C keeps N from a; C against N takes b's N.
      {"N in a", "AANAA", "AACAA", 1, -1, -1, 0, {4, 0, 0, 5, 5, "AANAA"}},
      {"N in b", "AACAA", "AANAA", 1, -1, -1, 0, {4, 0, 0, 5, 5, "AANAA"}},
      // With mismatch 0 and gap 0, at cell (row 2, column 1) both the
      // diagonal and the up move reach its score 1: the diagonal is taken,
      // so the second A of b starts the alignment (stepping up first would
      // start at b's first A and merge "AAC").
      {"diagonal before up", "AC", "AAC", 1, 0, 0, 0, {2, 0, 1, 2, 3, "AC"}},
  };
  local_align_result_t *r = local_align_result_new();
  EXPECT_EQ(r->start_a, -1);
  EXPECT_EQ(r->end_b, -1);
  for (const Case &c : cases) {
    local_align_scoring_t *s = scheme(c.match, c.mismatch, c.gap, c.n_score);
    const Aligned got = align(s, r, c.a, c.b);
    EXPECT_EQ(got.score, c.want.score) << c.name;
    EXPECT_EQ(got.start_a, c.want.start_a) << c.name;
    EXPECT_EQ(got.start_b, c.want.start_b) << c.name;
    EXPECT_EQ(got.end_a, c.want.end_a) << c.name;
    EXPECT_EQ(got.end_b, c.want.end_b) << c.name;
    EXPECT_EQ(got.merged, c.want.merged) << c.name;
    local_align_scoring_free(s);
  }
  local_align_result_free(r);
}

// Score of one column under the scheme.
int column_score(const local_align_scoring_t *s, const seq_record_t *a, const seq_record_t *b, const align_pair_t *p) {
  if (p->a < 0 || p->b < 0) return s->gap_first;
  return s->matrix[a->residues[p->a]][b->residues[p->b]];
}

// Best local score by brute force: the best global score of every pair of
// substrings (a plain full-table global alignment each time).
int brute_best(const local_align_scoring_t *s, const std::string &a, const std::string &b) {
  int best = 0;
  const std::string k = "ACGTN";
  for (size_t i0 = 0; i0 < a.size(); i0++) {
    for (size_t j0 = 0; j0 < b.size(); j0++) {
      const size_t n = a.size() - i0, m = b.size() - j0;
      std::vector<std::vector<int>> g(n + 1, std::vector<int>(m + 1));
      for (size_t i = 0; i <= n; i++) g[i][0] = static_cast<int>(i) * s->gap_first;
      for (size_t j = 0; j <= m; j++) g[0][j] = static_cast<int>(j) * s->gap_first;
      for (size_t i = 1; i <= n; i++) {
        for (size_t j = 1; j <= m; j++) {
          g[i][j] = std::max({g[i - 1][j - 1] + s->matrix[k.find(a[i0 + i - 1])][k.find(b[j0 + j - 1])],
                              g[i - 1][j] + s->gap_first, g[i][j - 1] + s->gap_first});
          best = std::max(best, g[i][j]);
        }
      }
    }
  }
  return best;
}

TEST(LocalAlign, RandomPairsAgreeWithTheirColumns) {
  std::mt19937 rng(7);
  local_align_scoring_t *s = scheme(1, -5, -5, 0);
  s->matrix[4][4] = -2;
  local_align_result_t *r = local_align_result_new();
  for (int round = 0; round < 300; round++) {
    std::string a, b;
    const size_t na = rng() % 14, nb = rng() % 14;
    for (size_t i = 0; i < na; i++) a += "ACGTN"[rng() % (round % 3 == 0 ? 5 : 2)];
    for (size_t i = 0; i < nb; i++) b += "ACGTN"[rng() % (round % 3 == 0 ? 5 : 2)];
    if (round % 4 == 1 && !a.empty()) b = a.substr(rng() % a.size()) + b;  // a shared piece
    seq_record_t *x = codes(a);
    seq_record_t *y = codes(b);
    local_align(s, r, x, y);
    ASSERT_EQ(r->score, brute_best(s, a, b)) << a << " / " << b;
    align_pair_array_t *pairs = local_align_to_pairs(r, s, x, y);
    seq_record_t *m = local_align_merge_sequences(r, s, x, y, 4);
    int total = 0;
    int32_t last_a = r->start_a - 1, last_b = r->start_b - 1;
    for (int32_t k = 0; k < pairs->count; k++) {
      const align_pair_t *p = pairs->pairs[k];
      total += column_score(s, x, y, p);
      if (p->a >= 0) {
        EXPECT_EQ(p->a, ++last_a);
      }
      if (p->b >= 0) {
        EXPECT_EQ(p->b, ++last_b);
      }
      const uint8_t want = p->a >= 0 && (p->b < 0 || x->residues[p->a] == 4) ? x->residues[p->a] : y->residues[p->b];
      EXPECT_EQ(m->residues[k], want);
    }
    EXPECT_EQ(total, r->score) << a << " / " << b;
    EXPECT_EQ(last_a, r->end_a - 1);
    EXPECT_EQ(last_b, r->end_b - 1);
    EXPECT_EQ(m->length, static_cast<uint32_t>(pairs->count));
    align_pair_array_free(pairs);
    seq_record_free(m);
    seq_record_free(x);
    seq_record_free(y);
  }
  local_align_result_free(r);
  local_align_scoring_free(s);
}

TEST(LocalAlign, MatrixGrowsOnlyWhenNeeded) {
  local_align_scoring_t *s = scheme(1, -1, -1);
  local_align_result_t *r = local_align_result_new();
  align(s, r, "ACGTACGT", "ACG");
  EXPECT_EQ(r->capacity, 9 * 4);
  const int32_t *first = r->matrix;
  EXPECT_EQ(align(s, r, "AC", "ACGT").score, 2);
  EXPECT_EQ(r->capacity, 9 * 4);
  EXPECT_EQ(r->matrix, first);
  EXPECT_EQ(align(s, r, "ACGTACGTAC", "ACGTA").score, 5);
  EXPECT_EQ(r->capacity, 11 * 6);
  local_align_result_free(r);
  local_align_scoring_free(s);
}

TEST(LocalAlignDeath, RefusedSchemes) {
  local_align_scoring_t *s = scheme(1, -1, -1);
  local_align_result_t *r = local_align_result_new();
  s->gap_extension = -1;
  EXPECT_EXIT(align(s, r, "ACGT", "ACGT"), testing::ExitedWithCode(1),
              "^ERROR: affine gap cost is not implemented yet!\n$");
  s->gap_extension = 0;
  s->size = 4;  // N (code 4) now lies outside the alphabet
  EXPECT_EXIT(align(s, r, "ACGT", "ACNT"), testing::ExitedWithCode(1), "residue 4 is outside the alphabet of 4 codes");
  s->size = 5;
  local_align_result_free(r);
  local_align_scoring_free(s);
}

TEST(LocalAlign, ScoringCopyAndPrint) {
  local_align_scoring_t *s = scheme(1, -5, -5, 0);
  local_align_scoring_t *c = local_align_scoring_copy(s);
  s->matrix[0][0] = 9;  // the copy has rows of its own
  testing::internal::CaptureStdout();
  local_align_scoring_print(c);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "gap first      -5\ngap extension  0\nmatrix:\n"
            "   1  -5  -5  -5   0\n  -5   1  -5  -5   0\n  -5  -5   1  -5   0\n  -5  -5  -5   1   0\n"
            "   0   0   0   0   0\n\n");
  local_align_scoring_free(c);
  local_align_scoring_free(s);
  local_align_scoring_free(nullptr);
}

TEST(LocalAlignPairs, ListsAndPrinter) {
  align_pair_list_t *first = align_pair_list_new();
  align_pair_list_t *second = align_pair_list_new();
  align_pair_list_append(first, 1, 1);
  align_pair_list_prepend(first, 0, 0);
  align_pair_list_prepend(second, 2, -1);
  align_pair_list_append(second, 3, 2);
  align_pair_list_concat(first, second);
  EXPECT_EQ(second->head, nullptr);
  align_pair_list_append(second, 9, 9);  // the emptied list is usable again
  align_pair_array_t *array = align_pair_list_to_array(first);
  ASSERT_EQ(array->count, 4);
  const int32_t want[4][2] = {{0, 0}, {1, 1}, {2, -1}, {3, 2}};
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(array->pairs[k]->a, want[k][0]);
    EXPECT_EQ(array->pairs[k]->b, want[k][1]);
  }
  align_pair_t *copy = align_pair_copy(array->pairs[2]);
  EXPECT_EQ(copy->a, 2);
  EXPECT_EQ(copy->b, -1);
  align_pair_free(copy);
  seq_record_t *a = codes("AGTC");
  seq_record_t *b = codes("AGT");
  a->name = static_cast<char *>(malloc(20));
  snprintf(a->name, 20, "first_sequence");
  testing::internal::CaptureStdout();
  align_pairs_print(a, b, array);
  align_pairs_print_width(a, b, array, "acgt", 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "first_seque ACDB\n            ||  \n            AC-D\n\n\n"
            "first_seque agt\n            || \n            ag-\n\n\n"
            "first_seque c\n             \n            t\n\n\n");
  seq_record_free(a);
  seq_record_free(b);
  align_pair_array_free(array);
  align_pair_list_free_shell(first);
  align_pair_list_free(second);
}

}  // namespace
