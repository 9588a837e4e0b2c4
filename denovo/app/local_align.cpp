#include "denovo/app/local_align.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

namespace {

// Index of cell (row i, column j) in a matrix of columns + 1 cells per row.
inline int64_t cell(int64_t i, int64_t j, int64_t columns) { return i * (columns + 1) + j; }

void check_alphabet(const seq_record_t *s, int32_t size) {
  for (uint32_t i = 0; i < s->length; i++) {
    if (s->residues[i] >= size) {
      fprintf(stderr, "ERROR: residue %u is outside the alphabet of %d codes\n", s->residues[i], size);
      ryx_exit(1);
    }
  }
}

}  // namespace

extern "C" {

local_align_scoring_t *local_align_scoring_new(void) {
  return static_cast<local_align_scoring_t *>(ryx_calloc(sizeof(local_align_scoring_t)));
}

local_align_scoring_t *local_align_scoring_new_sized(int32_t size) {
  local_align_scoring_t *scoring = local_align_scoring_new();
  scoring->size = size;
  scoring->matrix = static_cast<int16_t **>(ryx_calloc(sizeof(int16_t *) * static_cast<size_t>(std::max(size, 1))));
  for (int32_t r = 0; r < size; r++) {
    scoring->matrix[r] = static_cast<int16_t *>(ryx_calloc(sizeof(int16_t) * static_cast<size_t>(size)));
  }
  return scoring;
}

local_align_scoring_t *local_align_scoring_copy(const local_align_scoring_t *scoring) {
  local_align_scoring_t *copy = local_align_scoring_new_sized(scoring->size);
  copy->gap_first = scoring->gap_first;
  copy->gap_extension = scoring->gap_extension;
  for (int32_t r = 0; r < scoring->size; r++) {
    std::copy(scoring->matrix[r], scoring->matrix[r] + scoring->size, copy->matrix[r]);
  }
  return copy;
}

void local_align_scoring_print(const local_align_scoring_t *scoring) {
  printf("gap first      %d\n", scoring->gap_first);
  printf("gap extension  %d\n", scoring->gap_extension);
  printf("matrix:");
  for (int32_t r = 0; r < scoring->size; r++) {
    printf("\n");
    for (int32_t c = 0; c < scoring->size; c++) printf(" %3d", scoring->matrix[r][c]);
  }
  printf("\n\n");
}

local_align_scoring_t *local_align_scoring_free(local_align_scoring_t *scoring) {
  if (scoring == nullptr) return nullptr;
  if (scoring->matrix != nullptr) {
    for (int32_t r = 0; r < scoring->size; r++) ryx_free(scoring->matrix[r]);
    ryx_free(scoring->matrix);
  }
  ryx_free(scoring);
  return nullptr;
}

local_align_result_t *local_align_result_new(void) {
  auto *result = static_cast<local_align_result_t *>(ryx_calloc(sizeof(local_align_result_t)));
  result->start_a = result->start_b = result->end_a = result->end_b = -1;
  return result;
}

local_align_result_t *local_align_result_free(local_align_result_t *result) {
  if (result == nullptr) return nullptr;
  ryx_free(result->matrix);
  ryx_free(result);
  return nullptr;
}

void local_align(const local_align_scoring_t *scoring, local_align_result_t *result, const seq_record_t *a,
                 const seq_record_t *b) {
  if (scoring->gap_extension != 0) {
    fprintf(stderr, "ERROR: affine gap cost is not implemented yet!\n");
    ryx_exit(1);
  }
  check_alphabet(a, scoring->size);
  check_alphabet(b, scoring->size);
  const int64_t n = a->length;
  const int64_t m = b->length;
  const int64_t cells = (n + 1) * (m + 1);
  if (result->capacity < cells) {
    ryx_free(result->matrix);
    result->matrix = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * static_cast<size_t>(cells)));
    result->capacity = cells;
  }
  int32_t *h = result->matrix;
  const int32_t g = scoring->gap_first;
  std::fill(h, h + n + 1, 0);
  int32_t best = 0;
  int64_t best_i = 0;
  int64_t best_j = 0;
  for (int64_t i = 1; i <= m; i++) {
    int32_t *row = h + cell(i, 0, n);
    const int32_t *above = h + cell(i - 1, 0, n);
    const uint8_t bi = b->residues[i - 1];
    row[0] = 0;
    for (int64_t j = 1; j <= n; j++) {
      const int32_t diagonal = above[j - 1] + scoring->matrix[a->residues[j - 1]][bi];
      const int32_t up = above[j] + g;
      const int32_t left = row[j - 1] + g;
      const int32_t v = std::max({diagonal, up, left, 0});
      row[j] = v;
      if (v > best) {
        best = v;
        best_i = i;
        best_j = j;
      }
    }
  }
  result->score = best;
  result->end_a = static_cast<int32_t>(best_j);
  result->end_b = static_cast<int32_t>(best_i);
  int64_t i = best_i;
  int64_t j = best_j;
  while (h[cell(i, j, n)] > 0) local_align_trace_step(result, scoring, a, b, &i, &j);
  result->start_a = static_cast<int32_t>(j);
  result->start_b = static_cast<int32_t>(i);
}

int local_align_trace_step(const local_align_result_t *result, const local_align_scoring_t *scoring,
                           const seq_record_t *a, const seq_record_t *b, int64_t *i, int64_t *j) {
  const int64_t n = a->length;
  const int32_t *h = result->matrix;
  const int32_t s = h[cell(*i, *j, n)];
  if (h[cell(*i - 1, *j - 1, n)] == s - scoring->matrix[a->residues[*j - 1]][b->residues[*i - 1]]) {
    --*i;
    --*j;
    return kLocalAlignDiagonal;
  }
  if (h[cell(*i, *j - 1, n)] == s - scoring->gap_first) {
    --*j;
    return kLocalAlignGapInB;
  }
  --*i;
  return kLocalAlignGapInA;
}

seq_record_t *local_align_merge_sequences(const local_align_result_t *result, const local_align_scoring_t *scoring,
                                          const seq_record_t *a, const seq_record_t *b, uint8_t n_code) {
  std::vector<uint8_t> merged;
  int64_t i = result->end_b;
  int64_t j = result->end_a;
  const int64_t n = a->length;
  while (result->score > 0 && result->matrix[cell(i, j, n)] > 0) {
    const uint8_t ra = a->residues[j - 1];
    const uint8_t rb = b->residues[i - 1];
    switch (local_align_trace_step(result, scoring, a, b, &i, &j)) {
      case kLocalAlignDiagonal: merged.push_back(ra == n_code ? ra : rb); break;
      case kLocalAlignGapInB: merged.push_back(ra); break;
      default: merged.push_back(rb); break;
    }
  }
  seq_record_t *record = seq_record_new(static_cast<uint32_t>(merged.size()));
  std::reverse_copy(merged.begin(), merged.end(), record->residues);
  return record;
}

}  // extern "C"
