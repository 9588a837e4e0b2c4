// ryx_refmap <options>
// Maps reads of 15 to 55 bases onto reference sequences with hashed spaced
// seeds and writes an nyr mapping file.
#include "common/signal_cleanup.h"
#include "refmap/refmap_options.h"
#include "refmap/refmap_program.h"

int main(int argc, char **argv) {
  // Before any thread starts, so that an interrupt removes the partial
  // output and the temporary batch files.
  signal_cleanup_install();
  refmap_options_t *options = refmap_options_parse(argc, argv);
  return refmap_program_run(options);
}
