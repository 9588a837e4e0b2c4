// ryx_pick [options] <sequence file>
// ryx_pick [options] -i <file1> <file2>
// Writes a random fraction of the reads (or read pairs) as FASTA or FASTQ.
#include "common/signal_cleanup.h"
#include "tools/pick.h"

int main(int argc, char **argv) {
  signal_cleanup_install();
  pick_options_t options;
  pick_parse_command_line(argc, argv, &options);
  return pick_run(&options);
}
