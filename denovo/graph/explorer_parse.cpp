// Argument parsers of the explorer's command lines.
#include <cctype>
#include <cstdint>

#include "common/memory.h"
#include "denovo/graph/explorer.h"
#include "denovo/graph/explorer_text.h"

namespace explorer_text {

void skip_blanks(const char **p) {
  while (**p != '\0' && isspace(static_cast<unsigned char>(**p))) (*p)++;
}

bool at_line_end(const char *p) {
  skip_blanks(&p);
  return *p == '\0';
}

bool read_id(const char **p, oriented_id_t *out) {
  const char *s = *p;
  skip_blanks(&s);
  uint64_t value = 0;
  int digits = 0;
  while (isxdigit(static_cast<unsigned char>(*s))) {
    const int c = tolower(static_cast<unsigned char>(*s));
    value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > 0xffffffffu) return false;
    digits++;
    s++;
  }
  if (digits == 0) return false;
  auto id = static_cast<oriented_id_t>(value);
  if (*s == '\'') {
    id ^= kOrientedIdReverse;
    s++;
  }
  *out = id;
  *p = s;
  return true;
}

bool read_int(const char **p, int32_t *out) {
  const char *s = *p;
  skip_blanks(&s);
  bool negative = false;
  if (*s == '-' || *s == '+') {
    negative = *s == '-';
    s++;
  }
  int64_t value = 0;
  int digits = 0;
  while (isdigit(static_cast<unsigned char>(*s))) {
    value = value * 10 + (*s - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) return false;
    digits++;
    s++;
  }
  if (digits == 0) return false;
  if (negative) value = -value;
  if (value > INT32_MAX) return false;
  *out = static_cast<int32_t>(value);
  *p = s;
  return true;
}

}  // namespace explorer_text

using explorer_text::at_line_end;
using explorer_text::read_id;
using explorer_text::read_int;

extern "C" {

int explorer_parse_id(const char *text, oriented_id_t *out) {
  const char *p = text;
  if (!read_id(&p, out) || !at_line_end(p)) {
    explorer_print_command_error();
    return -1;
  }
  return 0;
}

int explorer_parse_two_ids(const char *text, oriented_id_t *a, oriented_id_t *b) {
  const char *p = text;
  return read_id(&p, a) && read_id(&p, b) && at_line_end(p) ? 0 : -1;
}

int explorer_parse_three_ids(const char *text, oriented_id_t *a, oriented_id_t *b, oriented_id_t *c) {
  const char *p = text;
  return read_id(&p, a) && read_id(&p, b) && read_id(&p, c) && at_line_end(p) ? 0 : -1;
}

int32_t explorer_parse_int(const char *text) {
  const char *p = text;
  int32_t n = 0;
  return read_int(&p, &n) && at_line_end(p) ? n : -1;
}

int explorer_parse_two_ints(const char *text, int32_t *a, int32_t *b) {
  const char *p = text;
  return read_int(&p, a) && read_int(&p, b) && at_line_end(p) ? 0 : -1;
}

int explorer_parse_id_and_int(const char *text, oriented_id_t *id, int32_t *n) {
  const char *p = text;
  return read_id(&p, id) && read_int(&p, n) && at_line_end(p) ? 0 : -1;
}

namespace {

// The list part: 0 with the array and *rest after the last id; -1 with the
// command-error message when no first id can be read.
int parse_list(const char *text, oriented_id_t **ids, int32_t *count, const char **rest) {
  const char *p = text;
  oriented_id_t id = 0;
  if (!read_id(&p, &id)) {
    explorer_print_command_error();
    return -1;
  }
  int32_t capacity = 8;
  int32_t n = 0;
  auto *list = static_cast<oriented_id_t *>(ryx_malloc(capacity * sizeof(oriented_id_t)));
  list[n++] = id;
  while (*p == ',') {
    p++;
    if (!read_id(&p, &id)) {
      ryx_free(list);
      return -1;
    }
    if (n == capacity) {
      capacity *= 2;
      list = static_cast<oriented_id_t *>(ryx_realloc(list, static_cast<size_t>(capacity) * sizeof(oriented_id_t)));
    }
    list[n++] = id;
  }
  *ids = list;
  *count = n;
  *rest = p;
  return 0;
}

}  // namespace

int explorer_parse_node_list(const char *text, oriented_id_t **ids, int32_t *count) {
  const char *rest = nullptr;
  if (parse_list(text, ids, count, &rest) != 0) return -1;
  if (!at_line_end(rest)) {
    *ids = static_cast<oriented_id_t *>(ryx_free(*ids));
    return -1;
  }
  return 0;
}

int explorer_parse_node_list_and_two_ints(const char *text, oriented_id_t **ids, int32_t *count, int32_t *first,
                                          int32_t *second) {
  const char *rest = nullptr;
  if (parse_list(text, ids, count, &rest) != 0) return -1;
  if (!read_int(&rest, first) || !read_int(&rest, second) || !at_line_end(rest)) {
    *ids = static_cast<oriented_id_t *>(ryx_free(*ids));
    return -1;
  }
  return 0;
}

}  // extern "C"
