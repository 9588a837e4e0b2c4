// Command-line word cursor: options, words, number readers and the error
// flag.
#include "common/arg_cursor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// Owns the words a cursor borrows.
class Words {
 public:
  Words(std::initializer_list<const char *> words) : store_(words.begin(), words.end()) {
    for (auto &w : store_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(store_.size()); }
  char **argv() { return argv_.data(); }

 private:
  std::vector<std::string> store_;
  std::vector<char *> argv_;
};

std::string str(const char *word) { return word == nullptr ? "(null)" : word; }

TEST(ArgCursor, OptionsAndValuesInOrder) {
  Words words{"prog", "-k", "31", "-x"};
  arg_cursor_t *cursor = arg_cursor_new(words.argc(), words.argv());
  EXPECT_EQ(str(arg_cursor_next_option(cursor)), "-k");
  EXPECT_EQ(arg_cursor_next_int(cursor), 31);
  EXPECT_EQ(str(arg_cursor_next_option(cursor)), "-x");
  EXPECT_EQ(arg_cursor_next_option(cursor), nullptr);
  EXPECT_EQ(arg_cursor_next(cursor), nullptr);
  EXPECT_EQ(cursor->error, 0);
  cursor = arg_cursor_free(cursor);
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(str(words.argv()[1]), "-k");  // the words are left alone
}

TEST(ArgCursor, NonOptionWordStaysForTheNextCall) {
  Words words{"prog", "foo", "-a", "bar"};
  arg_cursor_t *cursor = arg_cursor_new(words.argc(), words.argv());
  EXPECT_EQ(arg_cursor_next_option(cursor), nullptr);
  EXPECT_EQ(arg_cursor_take(cursor, 1), nullptr);
  EXPECT_EQ(str(arg_cursor_next(cursor)), "foo");
  EXPECT_EQ(str(arg_cursor_take(cursor, 1)), "-a");
  EXPECT_EQ(str(arg_cursor_take(cursor, 0)), "bar");
  EXPECT_EQ(arg_cursor_take(cursor, 0), nullptr);
  arg_cursor_free(cursor);

  Words only_program{"prog"};
  cursor = arg_cursor_new(only_program.argc(), only_program.argv());
  EXPECT_EQ(arg_cursor_next(cursor), nullptr);
  EXPECT_EQ(arg_cursor_next_option(cursor), nullptr);
  arg_cursor_free(cursor);
  EXPECT_EQ(arg_cursor_free(nullptr), nullptr);
}

TEST(ArgCursor, IntegerWords) {
  struct Case {
    const char *word;
    int32_t value;
    int error;
  } cases[] = {
      {"31", 31, 0},
      {"-7", -7, 0},
      {"+5", 5, 0},
      {"0", 0, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", INT32_MIN, 0},
      {"", 0, 0},  // an empty word reads as 0 without error
      {"12abc", 0, 1},
      {"abc", 0, 1},
      {"3.5", 0, 1},
      {"99999999999", 0, 1},
      {"2147483648", 0, 1},
      {"-2147483649", 0, 1},
      {"99999999999999999999999", 0, 1},
  };
  for (const Case &k : cases) {
    Words words{"prog", k.word};
    arg_cursor_t *cursor = arg_cursor_new(words.argc(), words.argv());
    EXPECT_EQ(arg_cursor_next_int(cursor), k.value) << '"' << k.word << '"';
    EXPECT_EQ(cursor->error, k.error) << '"' << k.word << '"';
    // The word is consumed whether or not it was a number.
    EXPECT_EQ(arg_cursor_next(cursor), nullptr);
    arg_cursor_free(cursor);
  }
}

// A caller's own range: both ends included, one past either end refused.
TEST(ArgCursor, IntegerWordsInARange) {
  struct Case {
    const char *word;
    int64_t value;
    int error;
  } cases[] = {
      {"4294967295", 4294967295, 0}, {"4294967296", 0, 1}, {"-2147483648", INT32_MIN, 0},
      {"-2147483649", 0, 1},         {"2147483648", 2147483648, 0}, {"12x", 0, 1},
  };
  for (const Case &k : cases) {
    Words words{"prog", k.word};
    arg_cursor_t *cursor = arg_cursor_new(words.argc(), words.argv());
    EXPECT_EQ(arg_cursor_next_int_in(cursor, INT32_MIN, UINT32_MAX), k.value) << '"' << k.word << '"';
    EXPECT_EQ(cursor->error, k.error) << '"' << k.word << '"';
    arg_cursor_free(cursor);
  }
}

TEST(ArgCursor, DoubleWords) {
  struct Case {
    const char *word;
    double value;
    int error;
  } cases[] = {
      {"2.5", 2.5, 0}, {"-0.25", -0.25, 0}, {"1e3", 1000.0, 0}, {"7", 7.0, 0},  {"", 0.0, 0},
      {"3.0x", 0.0, 1}, {"x", 0.0, 1},      {"1e999", 0.0, 1},  {"-1e999", 0.0, 1},
  };
  for (const Case &k : cases) {
    Words words{"prog", k.word};
    arg_cursor_t *cursor = arg_cursor_new(words.argc(), words.argv());
    EXPECT_EQ(arg_cursor_next_double(cursor), k.value) << '"' << k.word << '"';
    EXPECT_EQ(cursor->error, k.error) << '"' << k.word << '"';
    arg_cursor_free(cursor);
  }
}

TEST(ArgCursor, ReadingPastTheEndAndTheFlagStaysSet) {
  Words words{"prog", "-n", "bad", "4", "2.5"};
  arg_cursor_t *cursor = arg_cursor_new(words.argc(), words.argv());
  EXPECT_EQ(str(arg_cursor_next_option(cursor)), "-n");
  EXPECT_EQ(arg_cursor_next_int(cursor), 0);
  EXPECT_EQ(cursor->error, 1);
  // Later good reads return their values but never clear the flag.
  EXPECT_EQ(arg_cursor_next_int(cursor), 4);
  EXPECT_EQ(arg_cursor_next_double(cursor), 2.5);
  EXPECT_EQ(cursor->error, 1);
  arg_cursor_free(cursor);

  for (int as_double = 0; as_double < 2; as_double++) {
    Words none{"prog"};
    cursor = arg_cursor_new(none.argc(), none.argv());
    if (as_double) {
      EXPECT_EQ(arg_cursor_next_double(cursor), 0.0);
    } else {
      EXPECT_EQ(arg_cursor_next_int(cursor), 0);
    }
    EXPECT_EQ(cursor->error, 1);
    arg_cursor_free(cursor);
  }
}

}  // namespace
