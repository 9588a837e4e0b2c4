// C-string helpers: copies, appending, substrings, word offsets and split.
#include "common/string_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/memory.h"

namespace {

TEST(StringUtil, DuplicateAppendSubstring) {
  EXPECT_EQ(string_duplicate(nullptr), nullptr);
  const char original[] = "tab\there";
  char *copy = string_duplicate(original);
  EXPECT_NE(copy, original);
  EXPECT_STREQ(copy, original);
  ryx_free(copy);

  char *text = string_append(nullptr, "ab");
  EXPECT_STREQ(text, "ab");
  text = string_append(text, "");
  text = string_append(text, std::string(1000, 'c').c_str());
  EXPECT_EQ(std::string(text), "ab" + std::string(1000, 'c'));
  ryx_free(text);

  struct Case {
    size_t start, end;
    const char *expected;
  } cases[] = {{1, 4, "ell"}, {0, 5, "hello"}, {2, 2, ""}, {4, 5, "o"}, {5, 5, ""}, {3, 1, ""}};
  for (const Case &k : cases) {
    char *part = string_substring("hello", k.start, k.end);
    EXPECT_STREQ(part, k.expected) << k.start << ".." << k.end;
    ryx_free(part);
  }
}

using Offsets = std::vector<std::pair<int32_t, int32_t>>;

struct TokenCase {
  const char *line;
  Offsets offsets;
  std::vector<std::string> words;
};

const TokenCase kTokenCases[] = {
    {"ab  c\td", {{0, 2}, {4, 5}, {6, 7}}, {"ab", "c", "d"}},
    {"", {}, {}},
    {"  \t \t", {}, {}},
    {" x", {{1, 2}}, {"x"}},
    {"x ", {{0, 1}}, {"x"}},
    // Line ends are bytes of the word they touch; a lone CR is a word.
    {"a\r\n", {{0, 3}}, {"a\r\n"}},
    {"\tfoo bar\r", {{1, 4}, {5, 9}}, {"foo", "bar\r"}},
    {"one \r two", {{0, 3}, {4, 5}, {6, 9}}, {"one", "\r", "two"}},
    {"a\t\t\tb", {{0, 1}, {4, 5}}, {"a", "b"}},
    {"x,y;z", {{0, 5}}, {"x,y;z"}},
};

TEST(StringUtil, TokenizeOffsets) {
  for (const TokenCase &k : kTokenCases) {
    array_list_t *list = string_tokenize_offsets(k.line);
    ASSERT_EQ(array_list_get_count(list), 2 * k.offsets.size()) << '"' << k.line << '"';
    for (size_t i = 0; i < k.offsets.size(); i++) {
      EXPECT_EQ(*static_cast<int32_t *>(array_list_get_item(list, 2 * i)), k.offsets[i].first);
      EXPECT_EQ(*static_cast<int32_t *>(array_list_get_item(list, 2 * i + 1)), k.offsets[i].second);
    }
    array_list_free(list);
  }
}

TEST(StringUtil, Split) {
  for (const TokenCase &k : kTokenCases) {
    array_list_t *list = string_split(k.line);
    EXPECT_EQ(list->item_size, sizeof(char *));
    ASSERT_EQ(array_list_get_count(list), k.words.size()) << '"' << k.line << '"';
    for (size_t i = 0; i < k.words.size(); i++) {
      char *word = *static_cast<char **>(array_list_get_item(list, i));
      EXPECT_EQ(std::string(word), k.words[i]);
      ryx_free(word);
    }
    array_list_free(list);
  }
}

}  // namespace
