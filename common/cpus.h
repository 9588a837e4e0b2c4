// Worker-count settings read by every threaded stage.
//
// The counts are plain process-wide values, set by a program's main while it
// is still single-threaded and only read afterwards.
#pragma once

extern "C" {

// Hardware threads of the machine (at least 1).
int get_system_number_of_cpus(void);
// Requested worker count; 0 or less means as many as the hardware has.
void set_number_of_cpus(int n);
// The worker count: the requested count (or the hardware count when none was
// requested), capped by the maximum when one is set.
int get_number_of_cpus(void);
// Cap on the worker count; 0 or less means no cap.
void set_max_number_of_cpus(int m);
int get_max_number_of_cpus(void);

}  // extern "C"
