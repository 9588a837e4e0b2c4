#include "refmap/align/hit_iterator.h"

#include "common/memory.h"

hit_iterator_t *hit_iterator_alloc() { return static_cast<hit_iterator_t *>(ryx_calloc(sizeof(hit_iterator_t))); }

hit_iterator_t *hit_iterator_dealloc(hit_iterator_t *it) {
  ryx_free(it);
  return nullptr;
}
