#include "common/arg_cursor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/memory.h"

arg_cursor_t *arg_cursor_new(int argc, char **argv) {
  auto *cursor = static_cast<arg_cursor_t *>(ryx_malloc(sizeof(arg_cursor_t)));
  cursor->argc = argc;
  cursor->argv = argv;
  cursor->next = 1;
  cursor->error = 0;
  return cursor;
}

arg_cursor_t *arg_cursor_free(arg_cursor_t *cursor) {
  ryx_free(cursor);
  return nullptr;
}

char *arg_cursor_next(arg_cursor_t *cursor) {
  if (cursor->next >= cursor->argc) return nullptr;
  return cursor->argv[cursor->next++];
}

char *arg_cursor_next_option(arg_cursor_t *cursor) {
  if (cursor->next >= cursor->argc || cursor->argv[cursor->next][0] != '-') return nullptr;
  return cursor->argv[cursor->next++];
}

char *arg_cursor_take(arg_cursor_t *cursor, int options_only) {
  return options_only != 0 ? arg_cursor_next_option(cursor) : arg_cursor_next(cursor);
}

int32_t arg_cursor_next_int(arg_cursor_t *cursor) {
  return static_cast<int32_t>(arg_cursor_next_int_in(cursor, INT32_MIN, INT32_MAX));
}

int64_t arg_cursor_next_int_in(arg_cursor_t *cursor, int64_t low, int64_t high) {
  const char *word = arg_cursor_next(cursor);
  if (word == nullptr) {
    cursor->error = 1;
    return 0;
  }
  char *end;
  errno = 0;
  const long long value = strtoll(word, &end, 10);
  // The range is checked explicitly rather than letting the value wrap.
  if (errno != 0 || *end != '\0' || value < low || value > high) {
    cursor->error = 1;
    return 0;
  }
  return value;
}

double arg_cursor_next_double(arg_cursor_t *cursor) {
  const char *word = arg_cursor_next(cursor);
  if (word == nullptr) {
    cursor->error = 1;
    return 0;
  }
  char *end;
  errno = 0;
  const double value = strtod(word, &end);
  if (errno != 0 || *end != '\0') {
    cursor->error = 1;
    return 0;
  }
  return value;
}
