// Wall-clock microsecond clocks for stage timings and cheap seeds.
#pragma once

#include <cstdint>

extern "C" {

// seconds * 1000000 + microseconds in 32-bit unsigned arithmetic: wraps about
// every 71.6 minutes; good for seeds and short intervals.
uint32_t time_get_usec32(void);
// Microseconds since 1970.
int64_t time_get_usec(void);
// Sleeps ms milliseconds.
void time_sleep_ms(int ms);

}  // extern "C"
