#include "common/clock.h"

#include <unistd.h>

#include "common/platform.h"

extern "C" uint32_t time_get_usec32(void) {
  int64_t s, us;
  platform_wall_clock(&s, &us);
  return static_cast<uint32_t>(s) * 1000000u + static_cast<uint32_t>(us);
}

extern "C" int64_t time_get_usec(void) {
  int64_t s, us;
  platform_wall_clock(&s, &us);
  return s * 1000000 + us;
}

extern "C" void time_sleep_ms(int ms) {
  usleep(static_cast<useconds_t>(static_cast<uint32_t>(ms) * 1000u));
}
