// The command-line helpers shared by the read and mapping-file utilities.
// Their usage text is an empty line, then the program's paragraphs and its
// version, each followed by one empty line, all on standard output.
#pragma once

#include <cstddef>

// Prints the paragraphs (their lines separated by '\n') and the version text
// stored under version_key, then ends the process with status 1.
[[noreturn]] void tool_usage_print(const char *const *paragraphs, size_t count, const char *version_key);

// A usage problem: prints the formatted message on standard output, then
// calls print_usage, which must end the process.
[[noreturn]] void tool_usage_problem(void (*print_usage)(), const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// 1 when word is the option's short or long form, else 0.
int tool_usage_option_is(const char *word, const char *short_form, const char *long_form);
