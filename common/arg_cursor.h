// Command-line word cursor of the structure-based programs.
//
// An option loop takes words with arg_cursor_next_option until it returns
// null, reads each option's values with the number readers, and then tests
// the error flag to print its own message. The readers never end the
// process; a failed number read sets the flag, which stays set.
#pragma once

#include <cstdint>

struct arg_cursor_t {
  int32_t argc;    // number of words
  char **argv;     // the words, borrowed from main
  int32_t next;    // index of the next word; starts at 1 past the program name
  int32_t error;   // 1 once a number read has failed; never cleared
};

// A cursor over argv[1] .. argv[argc - 1].
arg_cursor_t *arg_cursor_new(int argc, char **argv);
// Frees the cursor (null allowed), leaving argv alone; returns null.
arg_cursor_t *arg_cursor_free(arg_cursor_t *cursor);

// The next word, consumed; null when all words are used.
char *arg_cursor_next(arg_cursor_t *cursor);
// The next word if it begins with '-', consumed; otherwise null and the word
// stays for the next call.
char *arg_cursor_next_option(arg_cursor_t *cursor);
// arg_cursor_next_option when options_only is non-zero, else arg_cursor_next.
char *arg_cursor_take(arg_cursor_t *cursor, int options_only);

// Consumes the next word as a base-10 integer. No word, characters after the
// number, or a value outside the 32-bit range set the error flag and give 0.
// An empty word gives 0 without error.
int32_t arg_cursor_next_int(arg_cursor_t *cursor);
// arg_cursor_next_int for the range low to high instead of the 32-bit one.
int64_t arg_cursor_next_int_in(arg_cursor_t *cursor, int64_t low, int64_t high);
// Consumes the next word as a floating-point number; failures as for
// arg_cursor_next_int (out of range meaning what strtod reports).
double arg_cursor_next_double(arg_cursor_t *cursor);
