// C-string helpers: copies, appending, substrings and splitting a line into
// words separated by tabs and spaces.
//
// Every string returned is new, from ryx_malloc; the caller frees it with
// ryx_free. Allocation failures end the process with status 69.
#pragma once

#include <cstddef>

#include "common/array_list.h"

// A new copy of text; null gives null.
char *string_duplicate(const char *text);

// Grows text (null counts as empty) to hold more after it and returns the
// new pointer; the old pointer is no longer valid.
char *string_append(char *text, const char *more);

// A new string holding bytes start to end - 1 of text; empty when end is not
// past start. The range must lie within text.
char *string_substring(const char *text, size_t start, size_t end);

// The words of line as an array list of int32_t: for each word its start
// offset, then its end offset (one past its last byte). Words are maximal
// runs of bytes other than tab and space, so a carriage return or line feed
// belongs to a word. The caller frees the list.
array_list_t *string_tokenize_offsets(const char *line);

// The words of line (as string_tokenize_offsets finds them) as an array list
// of char* items, each a new string. The caller frees each string and the
// list.
array_list_t *string_split(const char *line);
