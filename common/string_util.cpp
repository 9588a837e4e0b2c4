#include "common/string_util.h"

#include <cstdint>
#include <cstring>

#include "common/memory.h"

char *string_duplicate(const char *text) {
  if (text == nullptr) return nullptr;
  const size_t size = strlen(text) + 1;
  auto *copy = static_cast<char *>(ryx_malloc(size));
  memcpy(copy, text, size);
  return copy;
}

char *string_append(char *text, const char *more) {
  const size_t length = text == nullptr ? 0 : strlen(text);
  const size_t more_size = strlen(more) + 1;
  auto *joined = static_cast<char *>(ryx_realloc(text, length + more_size));
  memcpy(joined + length, more, more_size);
  return joined;
}

char *string_substring(const char *text, size_t start, size_t end) {
  const size_t length = end > start ? end - start : 0;
  auto *part = static_cast<char *>(ryx_malloc(length + 1));
  memcpy(part, text + start, length);
  part[length] = '\0';
  return part;
}

namespace {
bool is_blank(char c) { return c == '\t' || c == ' '; }
}  // namespace

array_list_t *string_tokenize_offsets(const char *line) {
  array_list_t *offsets = array_list_new(sizeof(int32_t));
  int32_t i = 0;
  while (line[i] != '\0') {
    while (is_blank(line[i])) i++;
    if (line[i] == '\0') break;
    const int32_t start = i;
    while (line[i] != '\0' && !is_blank(line[i])) i++;
    array_list_add(offsets, &start);
    array_list_add(offsets, &i);
  }
  return offsets;
}

array_list_t *string_split(const char *line) {
  array_list_t *offsets = string_tokenize_offsets(line);
  array_list_t *words = array_list_new(sizeof(char *));
  const uint64_t count = array_list_get_count(offsets);
  for (uint64_t i = 0; i < count; i += 2) {
    const int32_t start = *static_cast<int32_t *>(array_list_get_item(offsets, i));
    const int32_t end = *static_cast<int32_t *>(array_list_get_item(offsets, i + 1));
    char *word = string_substring(line, static_cast<size_t>(start), static_cast<size_t>(end));
    array_list_add(words, &word);
  }
  array_list_free(offsets);
  return words;
}
