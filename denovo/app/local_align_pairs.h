// Alignment pairs: a local alignment spelled as (index in a, index in b)
// columns, the lists and arrays that hold them, and a printer that lays two
// sequences out aligned. Debugging aids around the local aligner; no stage
// of the assembler calls them.
//
// Calling order: local_align, then local_align_to_pairs for the same
// sequences; print with align_pairs_print*; free the array with
// align_pair_array_free. A pair list owns its nodes and their pairs until it
// is turned into an array (align_pair_list_to_array hands the pairs over)
// or freed. One thread per object.
#pragma once

#include <cstdint>

#include "denovo/app/local_align.h"

extern "C" {

// One alignment column: index in the first and in the second sequence, -1
// where that sequence has a gap.
struct align_pair_t {
  int32_t a;
  int32_t b;
};

struct align_pair_node_t {
  align_pair_node_t *next;
  align_pair_t *pair;
};

// Singly linked list of pairs.
struct align_pair_list_t {
  align_pair_node_t *head;
  align_pair_node_t *tail;
};

// Counted array of pair pointers.
struct align_pair_array_t {
  int32_t count;
  align_pair_t **pairs;
};

// A zeroed pair.
align_pair_t *align_pair_new(void);
// A copy of the pair.
align_pair_t *align_pair_copy(const align_pair_t *pair);
// Frees the pair (null allowed); returns null.
align_pair_t *align_pair_free(align_pair_t *pair);

// An empty list.
align_pair_list_t *align_pair_list_new(void);
// Appends a new pair (a, b) at the tail.
void align_pair_list_append(align_pair_list_t *list, int32_t a, int32_t b);
// Puts a new pair (a, b) at the head.
void align_pair_list_prepend(align_pair_list_t *list, int32_t a, int32_t b);
// Moves every node of second to the end of first; second is left empty.
void align_pair_list_concat(align_pair_list_t *first, align_pair_list_t *second);
// A new array holding the list's pairs in order; the list keeps its nodes
// but no longer owns the pairs, so free it with align_pair_list_free_shell.
align_pair_array_t *align_pair_list_to_array(align_pair_list_t *list);
// Frees the nodes, their pairs and the list (null allowed); returns null.
align_pair_list_t *align_pair_list_free(align_pair_list_t *list);
// Frees the nodes and the list but not the pairs (null allowed); returns null.
align_pair_list_t *align_pair_list_free_shell(align_pair_list_t *list);

// An array of count null pair pointers.
align_pair_array_t *align_pair_array_new(int32_t count);
// Frees every pair, the pointer array and the record (null allowed); returns
// null.
align_pair_array_t *align_pair_array_free(align_pair_array_t *array);

// The columns of the alignment local_align just computed for a and b, in
// forward order: a diagonal step gives (i, j), a residue of a against a gap
// (i, -1), a residue of b against a gap (-1, j). Empty for score 0.
align_pair_array_t *local_align_to_pairs(const local_align_result_t *result, const local_align_scoring_t *scoring,
                                         const seq_record_t *a, const seq_record_t *b);

// Prints a and b aligned by pairs on standard output, width columns per
// block: "%-11.11s " and a's name with its letters ('-' for a gap), 12
// spaces and '|' per column whose two letters are equal, then b's line; a
// line end and two empty lines close each block. letters maps a code to its
// letter. A width below 1 prints the whole array as one block.
void align_pairs_print_width(const seq_record_t *a, const seq_record_t *b, const align_pair_array_t *pairs,
                             const char *letters, int32_t width);
// The same in one block with the given letters.
void align_pairs_print_letters(const seq_record_t *a, const seq_record_t *b, const align_pair_array_t *pairs,
                               const char *letters);
// The same in one block with the letters "ABCDEFGHIJKLMNOPQRSTUVWXYZ".
void align_pairs_print(const seq_record_t *a, const seq_record_t *b, const align_pair_array_t *pairs);

}  // extern "C"
