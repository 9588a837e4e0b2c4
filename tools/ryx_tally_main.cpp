// ryx_tally [options] <tag file>
// Counts identical tags of the tag file and lists every tag seen at least
// the minimum number of times, with its count and occurrences, on standard
// output.
#include <cstdio>

#include "common/signal_cleanup.h"
#include "tools/tally.h"

int main(int argc, char **argv) {
  signal_cleanup_install();
  const tally_options_t options = tally_parse_command_line(argc, argv);
  tally_run(&options, stdout);
  return 0;
}
