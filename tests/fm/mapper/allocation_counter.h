// Counts every plain and array operator new of the mapper test program, so
// that a test can show a stretch of engine work allocates nothing.
#pragma once

#include <cstdint>

namespace ryx_test {

// Allocations through operator new so far, over all threads.
uint64_t allocation_count();

}  // namespace ryx_test
