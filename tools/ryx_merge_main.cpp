// ryx_merge -o <output nyr file> <input nyr file 1> [<input nyr file 2> ...]
// Joins nyr mapping files made against the same reference files.
#include "common/memory.h"
#include "common/signal_cleanup.h"
#include "tools/merge.h"

int main(int argc, char **argv) {
  signal_cleanup_install();
  merge_options_t options;
  merge_parse_command_line(argc, argv, &options);
  const int status = merge_run(&options);
  ryx_free(options.input_paths);
  return status;
}
