#include "denovo/app/local_align_pairs.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/memory.h"
#include "seqio/seq_record.h"

namespace {

align_pair_node_t *new_node(int32_t a, int32_t b) {
  auto *node = static_cast<align_pair_node_t *>(ryx_calloc(sizeof(align_pair_node_t)));
  node->pair = align_pair_new();
  node->pair->a = a;
  node->pair->b = b;
  return node;
}

// The letter of residue index of s in the table, '-' for a gap and '?' for
// a code the table does not reach.
char letter_at(const seq_record_t *s, int32_t index, const char *letters) {
  if (index < 0) return '-';
  const uint8_t code = s->residues[index];
  return code < strlen(letters) ? letters[code] : '?';
}

const char *name_of(const seq_record_t *s) { return s->name == nullptr ? "" : s->name; }

}  // namespace

extern "C" {

align_pair_t *align_pair_new(void) { return static_cast<align_pair_t *>(ryx_calloc(sizeof(align_pair_t))); }

align_pair_t *align_pair_copy(const align_pair_t *pair) {
  align_pair_t *copy = align_pair_new();
  *copy = *pair;
  return copy;
}

align_pair_t *align_pair_free(align_pair_t *pair) {
  ryx_free(pair);
  return nullptr;
}

align_pair_list_t *align_pair_list_new(void) {
  return static_cast<align_pair_list_t *>(ryx_calloc(sizeof(align_pair_list_t)));
}

void align_pair_list_append(align_pair_list_t *list, int32_t a, int32_t b) {
  align_pair_node_t *node = new_node(a, b);
  if (list->tail == nullptr) {
    list->head = node;
  } else {
    list->tail->next = node;
  }
  list->tail = node;
}

void align_pair_list_prepend(align_pair_list_t *list, int32_t a, int32_t b) {
  align_pair_node_t *node = new_node(a, b);
  node->next = list->head;
  list->head = node;
  if (list->tail == nullptr) list->tail = node;
}

void align_pair_list_concat(align_pair_list_t *first, align_pair_list_t *second) {
  if (second->head == nullptr) return;
  if (first->tail == nullptr) {
    first->head = second->head;
  } else {
    first->tail->next = second->head;
  }
  first->tail = second->tail;
  second->head = second->tail = nullptr;
}

align_pair_array_t *align_pair_list_to_array(align_pair_list_t *list) {
  int32_t count = 0;
  for (align_pair_node_t *n = list->head; n != nullptr; n = n->next) count++;
  align_pair_array_t *array = align_pair_array_new(count);
  int32_t k = 0;
  for (align_pair_node_t *n = list->head; n != nullptr; n = n->next) array->pairs[k++] = n->pair;
  return array;
}

align_pair_list_t *align_pair_list_free(align_pair_list_t *list) {
  if (list == nullptr) return nullptr;
  for (align_pair_node_t *n = list->head; n != nullptr; n = n->next) n->pair = align_pair_free(n->pair);
  return align_pair_list_free_shell(list);
}

align_pair_list_t *align_pair_list_free_shell(align_pair_list_t *list) {
  if (list == nullptr) return nullptr;
  align_pair_node_t *n = list->head;
  while (n != nullptr) {
    align_pair_node_t *next = n->next;
    ryx_free(n);
    n = next;
  }
  ryx_free(list);
  return nullptr;
}

align_pair_array_t *align_pair_array_new(int32_t count) {
  auto *array = static_cast<align_pair_array_t *>(ryx_calloc(sizeof(align_pair_array_t)));
  array->count = count;
  const size_t slots = static_cast<size_t>(count > 0 ? count : 1);
  array->pairs = static_cast<align_pair_t **>(ryx_calloc(sizeof(align_pair_t *) * slots));
  return array;
}

align_pair_array_t *align_pair_array_free(align_pair_array_t *array) {
  if (array == nullptr) return nullptr;
  for (int32_t k = 0; k < array->count; k++) align_pair_free(array->pairs[k]);
  ryx_free(array->pairs);
  ryx_free(array);
  return nullptr;
}

align_pair_array_t *local_align_to_pairs(const local_align_result_t *result, const local_align_scoring_t *scoring,
                                         const seq_record_t *a, const seq_record_t *b) {
  align_pair_list_t *list = align_pair_list_new();
  int64_t i = result->end_b;
  int64_t j = result->end_a;
  const int64_t n = a->length;
  while (result->score > 0 && result->matrix[i * (n + 1) + j] > 0) {
    const auto ia = static_cast<int32_t>(j - 1);
    const auto ib = static_cast<int32_t>(i - 1);
    switch (local_align_trace_step(result, scoring, a, b, &i, &j)) {
      case kLocalAlignDiagonal: align_pair_list_prepend(list, ia, ib); break;
      case kLocalAlignGapInB: align_pair_list_prepend(list, ia, -1); break;
      default: align_pair_list_prepend(list, -1, ib); break;
    }
  }
  align_pair_array_t *array = align_pair_list_to_array(list);
  align_pair_list_free_shell(list);
  return array;
}

void align_pairs_print_width(const seq_record_t *a, const seq_record_t *b, const align_pair_array_t *pairs,
                             const char *letters, int32_t width) {
  if (width < 1) width = pairs->count;
  for (int32_t from = 0; from < pairs->count; from += width) {
    const int32_t to = from + width < pairs->count ? from + width : pairs->count;
    printf("%-11.11s ", name_of(a));
    for (int32_t k = from; k < to; k++) putchar(letter_at(a, pairs->pairs[k]->a, letters));
    printf("\n            ");
    for (int32_t k = from; k < to; k++) {
      const align_pair_t *p = pairs->pairs[k];
      const bool same = p->a >= 0 && p->b >= 0 && letter_at(a, p->a, letters) == letter_at(b, p->b, letters);
      putchar(same ? '|' : ' ');
    }
    printf("\n%-11.11s ", name_of(b));
    for (int32_t k = from; k < to; k++) putchar(letter_at(b, pairs->pairs[k]->b, letters));
    printf("\n\n\n");
  }
}

void align_pairs_print_letters(const seq_record_t *a, const seq_record_t *b, const align_pair_array_t *pairs,
                               const char *letters) {
  align_pairs_print_width(a, b, pairs, letters, pairs->count);
}

void align_pairs_print(const seq_record_t *a, const seq_record_t *b, const align_pair_array_t *pairs) {
  align_pairs_print_letters(a, b, pairs, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

}  // extern "C"
