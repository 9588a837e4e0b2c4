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
