// The source cache of an nyr file object.
#include "common/memory.h"
#include "seqio/nyr_file.h"

nyr_sources_t *nyr_sources_new() { return static_cast<nyr_sources_t *>(ryx_calloc(sizeof(nyr_sources_t))); }

nyr_sources_t *nyr_sources_free(nyr_sources_t *sources, nyr_file_t *) {
  ryx_free(sources);
  return nullptr;
}
