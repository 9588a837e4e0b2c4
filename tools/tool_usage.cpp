#include "tools/tool_usage.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/ryx_exit.h"
#include "common/version.h"

void tool_usage_print(const char *const *paragraphs, size_t count, const char *version_key) {
  char *version = version_get_string(version_key);
  fputs("\n", stdout);
  for (size_t i = 0; i < count; i++) printf("%s\n\n", paragraphs[i]);
  printf("Version: %s\n\n", version);
  version_free_string(version);
  ryx_exit(1);
}

void tool_usage_problem(void (*print_usage)(), const char *format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  print_usage();
  // print_usage ends the process; this keeps the promise if it ever did not.
  ryx_exit(1);
}

int tool_usage_option_is(const char *word, const char *short_form, const char *long_form) {
  return strcmp(word, short_form) == 0 || strcmp(word, long_form) == 0;
}
