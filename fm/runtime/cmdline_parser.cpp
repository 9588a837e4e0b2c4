#include "fm/runtime/cmdline_parser.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/string_builder.h"
#include "fm/runtime/file.h"

// Bold, cyan, green and red in the problem report and the usage text.
#define BOLD "\33[1m"
#define PLAIN "\33[0m"

namespace {

std::string format_text(char const *format, va_list args) {
  StringBuilder builder;
  builder.vprintf(format, args);
  return builder.take();
}

// 0 "no", 1..9 as words, otherwise the digits.
std::string humanize_number(unsigned int n) {
  static char const *const kWords[] = {"no", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"};
  if (n < 10) return kWords[n];
  return std::to_string(n);
}

// 0..9 as words; from 10 on the digits with the ending chosen by the last
// digit alone.
std::string humanize_ordinal(unsigned int n) {
  static char const *const kWords[] = {"zeroth", "first",  "second", "third",  "fourth",
                                       "fifth",  "sixth",  "seventh", "eighth", "ninth"};
  static char const *const kEndings[] = {"th", "st", "nd", "rd", "th", "th", "th", "th", "th", "th"};
  if (n < 10) return kWords[n];
  return std::to_string(n) + kEndings[n % 10];
}

bool all_digits(char const *begin, char const *end) {
  if (begin == end) return false;
  for (char const *p = begin; p < end; p++) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// Digits as a non-negative value; false when it exceeds limit.
bool digits_value(char const *begin, char const *end, long long limit, long long *value) {
  long long v = 0;
  for (char const *p = begin; p < end; p++) {
    v = v * 10 + (*p - '0');
    if (v > limit) return false;
  }
  *value = v;
  return true;
}

long long gcd(long long a, long long b) {
  while (b != 0) {
    long long t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

// ---- CmdLineOptionBase

CmdLineOptionBase::CmdLineOptionBase(char const *long_name, char short_letter, char const *companions,
                                     unsigned flags, char const *description, uint8_t kind)
    : long_name(long_name),
      short_letter(short_letter),
      companions(companions != nullptr ? companions : ""),
      collecting((flags & kCmdLineCollecting) != 0),
      once((flags & kCmdLineOnce) != 0),
      hidden((flags & kCmdLineHidden) != 0),
      kind(kind),
      description(description != nullptr ? description : "") {}

CmdLineOptionBase::~CmdLineOptionBase() = default;

void CmdLineOptionBase::usage(FILE *out, unsigned int width) const {
  fputs("  ", out);
  if (short_letter != ' ') {
    fprintf(out, "\33[36m-%c\33[0m ", short_letter);
  } else {
    fputs("   ", out);
  }
  fprintf(out, "\33[32m--%s\33[0m", long_name);
  long pad = static_cast<long>(width) - static_cast<long>(strlen(long_name)) - 3;
  for (long i = 0; i < pad; i++) fputc(' ', out);
  fprintf(out, "%s\n", description);
}

// ---- CmdLineArgs

bool CmdLineArgs::next_word(bool optional, char const **word) {
  if (consumed >= block_size) {
    if (!optional) {
      parser->add_problem("Option " BOLD "%s" PLAIN " needs more arguments.", option_word);
      argument_missing();
    }
    return false;
  }
  *word = parser->argv_[first + consumed];
  consumed++;
  return true;
}

int CmdLineArgs::reject(std::string const &why) {
  parser->add_problem("The %s argument of " BOLD "%s" PLAIN " %s", humanize_ordinal(consumed).c_str(), option_word,
                      why.c_str());
  argument_was_invalid();
  skip_rest_of_block();
  return -1;
}

int CmdLineArgs::internal_consume_argument(unsigned int optional, char const **word) {
  *word = nullptr;
  return next_word(optional != 0, word) ? 0 : -1;
}

int CmdLineArgs::internal_consume_string(char const **word) { return internal_consume_argument(0, word); }

char const *CmdLineArgs::consume_string_if_any() {
  char const *word = nullptr;
  next_word(true, &word);
  return word;
}

int CmdLineArgs::internal_consume_bounded_integer(long long min, long long max, long long *value) {
  char const *word;
  if (!next_word(false, &word)) return -1;
  char const *digits = word[0] == '-' ? word + 1 : word;
  char const *end = digits + strlen(digits);
  if (!all_digits(digits, end)) return reject("must be an integer.");
  long long magnitude = 0;
  // Beyond 32 bits the value is out of every allowed range.
  bool fits = digits_value(digits, end, 1LL << 31, &magnitude);
  long long v = word[0] == '-' ? -magnitude : magnitude;
  if (!fits || v < INT32_MIN || v > INT32_MAX || v < min || v > max) {
    StringBuilder why;
    why.printf("must be an integer between %lld and %lld.", min, max);
    return reject(why.take());
  }
  *value = v;
  return 0;
}

int CmdLineArgs::internal_consume_bounded_float(double min, double max, double *value) {
  char const *word;
  if (!next_word(false, &word)) return -1;
  char *end = nullptr;
  errno = 0;
  double v = strtod(word, &end);
  if (end == word || *end != '\0') return reject("must be a number.");
  if (!(v >= min && v <= max)) {
    StringBuilder why;
    why.printf("must be a number between %f and %f.", min, max);
    return reject(why.take());
  }
  *value = v;
  return 0;
}

int CmdLineArgs::internal_consume_rational(r32 *value) {
  char const *word;
  if (!next_word(false, &word)) return -1;
  char const *end = word + strlen(word);
  char const *slash = strchr(word, '/');
  char const *dot = strchr(word, '.');
  long long numerator = 0;
  long long denominator = 1;
  constexpr long long kLimit = INT32_MAX;
  bool valid;
  if (slash != nullptr) {
    valid = all_digits(word, slash) && all_digits(slash + 1, end) && digits_value(word, slash, kLimit, &numerator) &&
            digits_value(slash + 1, end, kLimit, &denominator) && denominator != 0;
  } else if (dot != nullptr) {
    // n.f: the fraction's digits set the power of ten of the denominator.
    valid = all_digits(word, dot) && all_digits(dot + 1, end) && end - (dot + 1) <= 9;
    long long whole = 0;
    long long fraction = 0;
    if (valid) valid = digits_value(word, dot, kLimit, &whole) && digits_value(dot + 1, end, kLimit, &fraction);
    if (valid) {
      for (char const *p = dot + 1; p < end; p++) denominator *= 10;
      numerator = whole * denominator + fraction;
      valid = numerator <= kLimit;
    }
  } else {
    valid = all_digits(word, end) && digits_value(word, end, kLimit, &numerator);
  }
  if (!valid) return reject("is not a valid number.");
  if (numerator > denominator) return reject("must be a number between 0.0 and 1.0");
  if (numerator == 0) {
    denominator = 1;
  } else {
    long long g = gcd(numerator, denominator);
    numerator /= g;
    denominator /= g;
  }
  value->numerator = static_cast<int32_t>(numerator);
  value->denominator = static_cast<int32_t>(denominator);
  return 0;
}

int CmdLineArgs::internal_consume_specific_string(unsigned int count, char const **words, long long *index) {
  char const *word;
  if (!next_word(false, &word)) return -1;
  std::vector<char const *> choices;
  for (unsigned int i = 0; i < count; i++) {
    if (words[i] == nullptr) continue;
    if (strcmp(word, words[i]) == 0) {
      *index = i;
      return 0;
    }
    choices.push_back(words[i]);
  }
  StringBuilder why;
  if (choices.size() == 1) {
    why.printf("must be " BOLD "%s" PLAIN ".", choices[0]);
  } else {
    why.printf("must be either");
    char const *comma = choices.size() >= 3 ? "," : "";
    for (size_t i = 0; i + 1 < choices.size(); i++) why.printf(" " BOLD "%s" PLAIN "%s", choices[i], comma);
    if (!choices.empty()) why.printf(" or " BOLD "%s" PLAIN ".", choices.back());
  }
  return reject(why.take());
}

int CmdLineArgs::internal_consume_file(File **file) {
  char const *word;
  *file = nullptr;
  if (!next_word(false, &word)) return -1;
  *file = File::open(word, false);
  if (*file != nullptr) return 0;
  parser->add_problem("Could not open " BOLD "%s" PLAIN ".", word);
  argument_was_invalid();
  return -1;
}

int CmdLineArgs::internal_consume_file_create(File **file) {
  char const *word;
  *file = nullptr;
  if (!next_word(false, &word)) return -1;
  *file = File::create(word);
  if (*file != nullptr) return 0;
  parser->add_problem("Could not open " BOLD "%s" PLAIN ".", word);
  argument_was_invalid();
  return -1;
}

void CmdLineArgs::argument_consume() {
  if (consumed < block_size) consumed++;
}

void CmdLineArgs::argument_invalid() {
  if (consumed < block_size) {
    parser->internal_invalidate_argument(first + consumed);
    consumed++;
  }
}

void CmdLineArgs::argument_was_invalid() {
  if (consumed > 0) parser->internal_invalidate_argument(last_consumed_index());
}

void CmdLineArgs::argument_missing() {
  // With nothing consumed the option word itself is the last word.
  parser->add_missing_argument(consumed > 0 ? last_consumed_index() : first - 1);
}

void CmdLineArgs::skip_rest_of_block() {
  while (consumed < block_size) argument_invalid();
}

void CmdLineArgs::argument_had_a_problem(char const *format, ...) {
  va_list args;
  va_start(args, format);
  std::string why = format_text(format, args);
  va_end(args);
  reject(why);
}

void CmdLineArgs::user_add_problem(char const *format, ...) {
  va_list args;
  va_start(args, format);
  parser->add_problem_text(format_text(format, args));
  va_end(args);
}

void CmdLineArgs::validate_block() { parser->validate_block(); }

// ---- CmdLineParserBase

CmdLineParserBase::CmdLineParserBase(int argc, char **argv, std::string display_name, std::string version,
                                     char const *required)
    : argc_(argc),
      argv_(argv),
      invalid_(static_cast<size_t>(argc > 0 ? argc : 0), false),
      missing_(static_cast<size_t>(argc > 0 ? argc : 0), 0),
      display_name_(std::move(display_name)),
      version_(std::move(version)),
      required_(required != nullptr ? required : ""),
      out_(stdout) {
  for (auto &index : letter_index_) index = -1;
}

CmdLineParserBase::~CmdLineParserBase() {
  for (CmdLineOptionBase *option : options_) delete option;
}

void CmdLineParserBase::register_option(CmdLineOptionBase *option) {
  if (option->kind == 0 && option->short_letter != ' ') {
    letter_index_[static_cast<unsigned char>(option->short_letter)] = static_cast<int16_t>(options_.size());
  }
  options_.push_back(option);
}

void CmdLineParserBase::add_problem(char const *format, ...) {
  va_list args;
  va_start(args, format);
  problems_.push_back(format_text(format, args));
  va_end(args);
}

void CmdLineParserBase::add_problem_text(std::string text) { problems_.push_back(std::move(text)); }

void CmdLineParserBase::internal_invalidate_argument(unsigned int index) {
  if (index < invalid_.size()) invalid_[index] = true;
}

bool CmdLineParserBase::argument_is_valid(unsigned int index) const {
  return index >= invalid_.size() || !invalid_[index];
}

void CmdLineParserBase::add_missing_argument(unsigned int index) {
  if (index < missing_.size()) missing_[index]++;
}

bool CmdLineParserBase::is_option_word(char const *word) {
  if (word[0] != '-' || word[1] == '\0') return false;
  for (char const *p = word + 1; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') return true;
  }
  return false;
}

CmdLineOptionBase *CmdLineParserBase::find_option(char const *word) {
  if (word[0] == '-' && word[1] == '-') {
    for (CmdLineOptionBase *option : options_) {
      if (option->kind == 0 && option->long_name != nullptr && strcmp(option->long_name, word + 2) == 0) return option;
    }
    return nullptr;
  }
  if (word[0] != '-' || word[1] == '\0' || word[2] != '\0' || word[1] == ' ') return nullptr;
  int16_t index = letter_index_[static_cast<unsigned char>(word[1])];
  return index < 0 ? nullptr : options_[static_cast<size_t>(index)];
}

void CmdLineParserBase::parse_arguments() {
  int i = 1;
  for (; i < argc_ && !is_option_word(argv_[i]); i++) {
    add_problem("Stray argument \"" BOLD "%s" PLAIN "\" encountered.", argv_[i]);
    internal_invalidate_argument(static_cast<unsigned int>(i));
  }
  while (i < argc_) {
    int next = i + 1;
    while (next < argc_ && !is_option_word(argv_[next])) next++;
    args_ = CmdLineArgs();
    args_.parser = this;
    args_.option = find_option(argv_[i]);
    args_.option_word = argv_[i];
    args_.block_size = static_cast<uint32_t>(next - i - 1);
    args_.consumed = 0;
    args_.first = static_cast<uint32_t>(i + 1);
    validate_block();
    i = next;
  }
}

void CmdLineParserBase::hand_to_collector(unsigned int index) {
  CmdLineArgs single;
  single.parser = this;
  single.option = last_collecting_;
  single.option_word = last_collecting_word_;
  single.block_size = 1;
  single.consumed = 0;
  single.first = index;
  invoke_handler(last_collecting_, &single);
  if (single.consumed == 0) {
    add_problem("Stray argument \"" BOLD "%s" PLAIN "\" encountered.", argv_[index]);
    internal_invalidate_argument(index);
  }
}

void CmdLineParserBase::invoke_catch_all_handler() {
  while (args_.consumed < args_.block_size) {
    unsigned int index = args_.first + args_.consumed;
    args_.consumed++;
    hand_to_collector(index);
  }
}

void CmdLineParserBase::validate_block() {
  CmdLineOptionBase *option = args_.option;
  if (option == nullptr) {
    add_problem("Unknown option " BOLD "%s" PLAIN " provided.", args_.option_word);
    internal_invalidate_argument(args_.first - 1);
    for (uint32_t k = 0; k < args_.block_size; k++) internal_invalidate_argument(args_.first + k);
    return;
  }
  if (option->collecting) {
    last_collecting_ = option;
    last_collecting_word_ = args_.option_word;
  }
  if (option->once && option->use_count > 0) {
    add_problem("Option " BOLD "%s" PLAIN " can only be used once.", args_.option_word);
    return;
  }
  option->use_count++;
  if (option->short_letter != ' ') used_letters_.set(static_cast<unsigned char>(option->short_letter));

  if (option->collecting) {
    for (uint32_t k = 0; k < args_.block_size; k++) hand_to_collector(args_.first + k);
    args_.consumed = args_.block_size;
    return;
  }
  invoke_handler(option, &args_);
  if (args_.consumed >= args_.block_size) return;
  if (last_collecting_ != nullptr) {
    invoke_catch_all_handler();
    return;
  }
  if (args_.consumed > 0) {
    add_problem("Option " BOLD "%s" PLAIN " only needed %s argument%s, %s given.", args_.option_word,
                humanize_number(args_.consumed).c_str(), args_.consumed == 1 ? "" : "s",
                humanize_number(args_.block_size).c_str());
  } else {
    add_problem("Option " BOLD "%s" PLAIN " did not use any arguments, %s given.", args_.option_word,
                humanize_number(args_.block_size).c_str());
  }
  args_.skip_rest_of_block();
}

void CmdLineParserBase::check_dependencies() {
  size_t required = strlen(required_);
  if (required > 0) {
    bool any = false;
    for (size_t i = 0; i < required; i++) any = any || used_letters_.test(static_cast<unsigned char>(required_[i]));
    if (!any) {
      if (required == 1) {
        add_problem("You must provide the mandatory option " BOLD "-%c" PLAIN ".", required_[0]);
      } else if (required == 2) {
        add_problem("You must provide either " BOLD "-%c" PLAIN " or " BOLD "-%c" PLAIN ".", required_[0],
                    required_[1]);
      } else {
        StringBuilder text;
        text.printf("You must provide either");
        for (size_t i = 0; i + 1 < required; i++) text.printf(" " BOLD "-%c" PLAIN ",", required_[i]);
        text.printf(" or " BOLD "-%c" PLAIN ".", required_[required - 1]);
        add_problem_text(text.take());
      }
      return;
    }
  }
  for (unsigned int letter = 0; letter < 256; letter++) {
    if (!used_letters_.test(letter)) continue;
    int16_t index = letter_index_[letter];
    if (index < 0) continue;
    for (char const *c = options_[static_cast<size_t>(index)]->companions; *c != '\0'; c++) {
      if (!used_letters_.test(static_cast<unsigned char>(*c))) {
        add_problem("Option " BOLD "-%c" PLAIN " requires presence of " BOLD "-%c" PLAIN " option.",
                    static_cast<char>(letter), *c);
        return;
      }
    }
  }
}

void CmdLineParserBase::usage() {
  size_t longest = 0;
  for (CmdLineOptionBase *option : options_) {
    if (option->kind == 0 && !option->hidden && strlen(option->long_name) > longest) longest = strlen(option->long_name);
  }
  auto width = static_cast<unsigned int>(7 + longest);
  fprintf(out_, "%s - Version %s\n\nUsage information:\n\n", display_name_.c_str(), version_.c_str());
  for (CmdLineOptionBase *option : options_) {
    if (option->kind == 1) {
      fputc('\n', out_);
    } else if (!option->hidden) {
      option->usage(out_, width);
    }
  }
  fputc('\n', out_);
}

void CmdLineParserBase::dump_cmdline_with_errors_highlighted() {
  fprintf(out_, "There %s with the command you entered:\n\n  \33[36m%s\33[0m",
          problems_.size() == 1 ? "is an issue" : "are a few issues", argc_ > 0 ? argv_[0] : "");
  for (int i = 1; i < argc_; i++) {
    if (invalid_[static_cast<size_t>(i)]) {
      fprintf(out_, " \33[1;31m%s\33[0m", argv_[i]);
    } else if (is_option_word(argv_[i])) {
      fprintf(out_, " \33[36m%s\33[0m", argv_[i]);
    } else {
      fprintf(out_, " \33[32m%s\33[0m", argv_[i]);
    }
    for (uint32_t m = 0; m < missing_[static_cast<size_t>(i)]; m++) fputs(" \33[31m___\33[0m", out_);
  }
  fputs("\n\n", out_);
  for (size_t i = 0; i < problems_.size(); i++) {
    fprintf(out_, "  %u. %s\n", static_cast<unsigned int>(i + 1), problems_[i].c_str());
  }
  fputc('\n', out_);
}

int CmdLineParserBase::finalize() {
  parse_arguments();
  check_dependencies();
  if (!problems_.empty()) {
    usage();
    dump_cmdline_with_errors_highlighted();
    fflush(out_);
    return static_cast<int>(problems_.size());
  }
  commandline_.clear();
  if (argc_ <= 1) {
    if (argc_ == 1) commandline_ = argv_[0];
  } else {
    for (int i = 1; i < argc_; i++) {
      if (i > 1) commandline_ += ' ';
      commandline_ += argv_[i];
    }
  }
  return 0;
}
