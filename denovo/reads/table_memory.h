// Page backing of the large random-access tables (the word counter's
// tables, the fragment word index).
//
// Those tables are read and written at random over hundreds of megabytes:
// on 4 KiB pages nearly every access also misses the address translation
// cache, and the page walk that follows misses the data caches too. Asking
// for 2 MiB pages over such a table removes most of that second miss.
#pragma once

#include <cstddef>

// Asks the system to back the 2 MiB-aligned part of [p, p + bytes) with
// large pages. Call it before the memory is first written: pages already
// present keep their size. Blocks under 4 MiB, and systems that do not
// offer it, are left as they are; the contents never change.
void table_memory_advise_large_pages(void *p, size_t bytes);
