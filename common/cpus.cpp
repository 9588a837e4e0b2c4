#include "common/cpus.h"

#include "common/platform.h"

namespace {
int local_number_of_cpus = 0;
int local_max_number_of_cpus = 0;
}  // namespace

extern "C" int get_system_number_of_cpus(void) { return platform_hardware_threads(); }

extern "C" void set_number_of_cpus(int n) { local_number_of_cpus = n; }

extern "C" int get_number_of_cpus(void) {
  int a = local_number_of_cpus > 0 ? local_number_of_cpus : platform_hardware_threads();
  int m = local_max_number_of_cpus;
  return (m <= 0 || a < m) ? a : m;
}

extern "C" void set_max_number_of_cpus(int m) { local_max_number_of_cpus = m; }

extern "C" int get_max_number_of_cpus(void) { return local_max_number_of_cpus; }
