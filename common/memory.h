// Fail-fast allocation and the machine's memory size.
//
// A failed allocation of a non-zero size prints
// "Out of memory allocating <n> bytes." to standard error and ends the
// process with status 69, so callers never test the result for null.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// malloc; size 0 returns whatever malloc gave (possibly null).
void *ryx_malloc(size_t size);
// malloc followed by zero-filling the block.
void *ryx_calloc(size_t size);
// realloc; size 0 returns whatever realloc gave.
void *ryx_realloc(void *p, size_t size);
// free unless null; always returns null so callers can store it back.
void *ryx_free(void *p);
// The failure rule on its own: exits with 69 when p is null and size is not 0.
void ryx_malloc_check(const void *p, size_t size);

// Physical memory in whole MiB (rounded down). When the system cannot tell,
// 4096 MiB is assumed so that memory budgets derived from it stay sane.
int64_t get_phys_mem_size_mb(void);
// No measurement is made; always 0.
int64_t get_memory_usage_kb(void);

}  // extern "C"
