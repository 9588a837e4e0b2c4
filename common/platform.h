// The one place that knows which operating system the suite runs on.
// Everything else asks these functions for machine facts and clocks.
#pragma once

#include <cstdint>

// Physical memory of the machine in bytes, or 0 when the system cannot
// tell.
uint64_t platform_physical_memory_bytes();

// Number of hardware threads; never below 1, so that thread pools sized
// from it always have a worker.
int platform_hardware_threads();

// Monotonic clock in nanoseconds; only differences and low bits are
// meaningful (seed material, interval timing).
uint64_t platform_steady_clock_ns();

// Wall-clock time as seconds and microseconds since 1970.
void platform_wall_clock(int64_t *seconds, int64_t *microseconds);

// Size of a memory page in bytes, or 0 when the system cannot tell.
uint64_t platform_page_size();

// Memory that new processes could still use without swapping, in whole
// pages of platform_page_size(); false (and *pages untouched) when the
// system cannot tell.
bool platform_available_memory_pages(uint64_t *pages);

// Bytes an unprivileged user may still write on the file system that
// holds path; false (and *bytes untouched) when the path cannot be
// examined.
bool platform_free_disk_bytes(const char *path, uint64_t *bytes);

// Runs the processor-identification instruction for a leaf and subleaf and
// stores EAX, EBX, ECX and EDX in regs. False (regs untouched) when the
// processor does not have that leaf (it is above the highest leaf the
// processor reports) or is no x86 processor.
bool platform_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);

// Name of the operating system and processor architecture the programs
// were built for, as shown in logs (for example in the run log of
// ryx_runstat).
const char *platform_name();
