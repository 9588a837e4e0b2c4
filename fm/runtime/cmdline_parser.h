// Command-line parser with collected problems.
//
// The program registers its options (long name, short letter, required
// companions, flags, handler, description) and calls finalize(). The words
// are split into blocks, an option word and the argument words after it;
// each option's handler reads its block through a CmdLineArgs cursor. Every
// problem is collected instead of stopping at the first; with any problem
// finalize() prints the usage text, the command line with the faulty words
// highlighted in ANSI colours and the numbered problems, and returns their
// count, for the caller to end the process with status 1.
#pragma once

#include <bitset>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class CmdLineParserBase;
class File;

// A rational number, reduced: numerator / denominator.
struct r32 {
  int32_t numerator;
  int32_t denominator;
};

// Option flags.
constexpr unsigned kCmdLineCollecting = 1;  // any number of arguments; also takes words others leave
constexpr unsigned kCmdLineOnce = 2;        // may be given only once
constexpr unsigned kCmdLineHidden = 4;      // left out of the usage text

// One registered option, or a spacer (a blank line in the usage text).
class CmdLineOptionBase {
 public:
  CmdLineOptionBase(char const *long_name, char short_letter, char const *companions, unsigned flags,
                    char const *description, uint8_t kind);
  virtual ~CmdLineOptionBase();

  // Prints this option's usage line for a column width on out.
  void usage(FILE *out, unsigned int width) const;

  char const *long_name;   // null for a spacer
  char short_letter;       // ' ' when the option has none
  char const *companions;  // letters of options that must be present with it
  bool collecting;
  bool once;
  bool hidden;
  uint8_t kind;  // 0 option, 1 spacer
  char const *description;
  uint32_t use_count = 0;
};

// Cursor over one block. Each consumer takes the next unconsumed word and
// returns 0, or -1 after recording a problem. With no word left every
// consumer except the optional forms records "Option <word> needs more
// arguments." and counts a missing argument after the last consumed word.
// A rejected word is recorded as "The <ordinal> argument of <option> <why>",
// and it and every remaining word of the block are marked faulty.
class CmdLineArgs {
 public:
  // Any word; with optional non-zero a missing word is not a problem (the
  // result is then -1 and *word null).
  int internal_consume_argument(unsigned int optional, char const **word);
  int internal_consume_string(char const **word);
  // The next word, or null when none is left (no problem).
  char const *consume_string_if_any();
  // An optional '-' and digits only, as a 32-bit integer within [min, max].
  int internal_consume_bounded_integer(long long min, long long max, long long *value);
  // A whole word read as a double within [min, max].
  int internal_consume_bounded_float(double min, double max, double *value);
  // n, n/d or n.f in [0, 1], reduced (0 as 0/1).
  int internal_consume_rational(r32 *value);
  // One of count words (null entries are skipped); *index gets its position.
  int internal_consume_specific_string(unsigned int count, char const **words, long long *index);
  // A path opened for reading; "Could not open <path>." when it cannot be.
  int internal_consume_file(File **file);
  // A path created for writing; "Could not open <path>." when it cannot be.
  int internal_consume_file_create(File **file);

  // Counts the next word as consumed.
  void argument_consume();
  // Marks the next word faulty and consumes it.
  void argument_invalid();
  // Marks the last consumed word faulty.
  void argument_was_invalid();
  // Counts one more missing argument after the last consumed word.
  void argument_missing();
  // Marks every remaining word faulty and consumes it.
  void skip_rest_of_block();
  // Records "The <ordinal> argument of <option> <message>" for the last
  // consumed word, marking it and the rest of the block faulty.
  void argument_had_a_problem(char const *format, ...) __attribute__((format(printf, 2, 3)));
  // Records a free-form problem.
  void user_add_problem(char const *format, ...) __attribute__((format(printf, 2, 3)));
  // Runs the block's option (see CmdLineParserBase::validate_block).
  void validate_block();

  // Words left in the block.
  unsigned int remaining() const { return block_size - consumed; }

  CmdLineParserBase *parser = nullptr;
  CmdLineOptionBase *option = nullptr;  // null when the word matched none
  char const *option_word = nullptr;
  uint32_t block_size = 0;  // argument words in the block
  uint32_t consumed = 0;
  uint32_t first = 0;  // argv index of the block's first argument word

 private:
  // Takes the next word; false (after recording the missing argument
  // unless optional) when none is left.
  bool next_word(bool optional, char const **word);
  // Records the rejection of the last consumed word with a specific text.
  int reject(std::string const &why);
  unsigned int last_consumed_index() const { return first + consumed - 1; }
};

class CmdLineParserBase {
 public:
  // required: letters of which at least one option must be given (may be
  // empty).
  CmdLineParserBase(int argc, char **argv, std::string display_name, std::string version, char const *required);
  // Calls the option's handler with the program's options and the cursor.
  virtual void invoke_handler(CmdLineOptionBase *option, CmdLineArgs *args) = 0;
  virtual ~CmdLineParserBase();
  CmdLineParserBase(const CmdLineParserBase &) = delete;
  CmdLineParserBase &operator=(const CmdLineParserBase &) = delete;

  // Parses the words and checks the dependencies; returns the number of
  // problems (0 = success) after printing the usage text and the problem
  // report when there are any.
  int finalize();
  // argv[1..] joined with blanks (argv[0] when there are none); valid after
  // a successful finalize().
  std::string const &get_commandline() const { return commandline_; }
  // Appends a printf-formatted problem.
  void add_problem(char const *format, ...) __attribute__((format(printf, 2, 3)));
  void add_problem_text(std::string text);
  std::vector<std::string> const &problems() const { return problems_; }

  // Usage text on the output stream.
  void usage();
  // The command line with faulty words in red, missing arguments as red
  // underscores, and the numbered problems.
  void dump_cmdline_with_errors_highlighted();
  void parse_arguments();
  void check_dependencies();
  // The option an option word names, or null.
  CmdLineOptionBase *find_option(char const *word);
  // Hands the unconsumed words of the current block, one at a time, to the
  // last collecting option.
  void invoke_catch_all_handler();
  void internal_invalidate_argument(unsigned int index);
  bool argument_is_valid(unsigned int index) const;
  void add_missing_argument(unsigned int index);

  // Where the usage text and the report go (standard output by default).
  void set_output(FILE *out) { out_ = out; }

  int argc() const { return argc_; }
  char **argv() const { return argv_; }

 protected:
  // Takes ownership of option; a short letter other than ' ' is indexed.
  void register_option(CmdLineOptionBase *option);

 private:
  friend class CmdLineArgs;

  // A word beginning with '-' followed by anything but digits only.
  static bool is_option_word(char const *word);
  void validate_block();
  // Hands one word to the last collecting option; a word it leaves is a
  // stray argument.
  void hand_to_collector(unsigned int index);

  int argc_;
  char **argv_;
  std::vector<bool> invalid_;
  std::vector<uint32_t> missing_;
  std::vector<std::string> problems_;
  std::string display_name_;
  std::string version_;
  std::vector<CmdLineOptionBase *> options_;
  int16_t letter_index_[256];
  std::bitset<256> used_letters_;
  char const *required_;
  CmdLineArgs args_;
  CmdLineOptionBase *last_collecting_ = nullptr;
  char const *last_collecting_word_ = nullptr;
  std::string commandline_;
  FILE *out_;
};

// The parser of one program: handlers take the program's option structure
// and the cursor.
template <typename Options>
class CmdLineParser : public CmdLineParserBase {
 public:
  using Handler = std::function<void(Options &, CmdLineArgs *)>;

  CmdLineParser(Options &options, int argc, char **argv, std::string display_name, std::string version,
                char const *required)
      : CmdLineParserBase(argc, argv, std::move(display_name), std::move(version), required), options_(options) {}

  // Registers an option; flags are kCmdLine* values.
  void add(char const *long_name, char short_letter, char const *companions, unsigned flags, Handler handler,
           char const *description) {
    register_option(new Option(long_name, short_letter, companions, flags, std::move(handler), description, 0));
  }
  // Registers a blank line of the usage text.
  void add_spacer() { register_option(new Option(nullptr, ' ', "", 0, Handler(), "", 1)); }

  void invoke_handler(CmdLineOptionBase *option, CmdLineArgs *args) override {
    auto *typed = static_cast<Option *>(option);
    if (typed->handler) typed->handler(options_, args);
  }

 private:
  struct Option : CmdLineOptionBase {
    Option(char const *long_name, char short_letter, char const *companions, unsigned flags, Handler h,
           char const *description, uint8_t kind)
        : CmdLineOptionBase(long_name, short_letter, companions, flags, description, kind), handler(std::move(h)) {}
    Handler handler;
  };

  Options &options_;
};
