// ryx_denovo [options] -q <read files>
// Assembles reads de novo into contigs written as FASTA.
#include "common/signal_cleanup.h"
#include "denovo/app/denovo_options.h"
#include "denovo/app/denovo_run.h"

int main(int argc, char **argv) {
  signal_cleanup_install();
  denovo_options_t options;
  denovo_options_parse(argc, argv, &options);
  const int status = denovo_run(&options);
  denovo_options_free(&options);
  return status;
}
