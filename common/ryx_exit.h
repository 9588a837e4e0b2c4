// The single exit path of every program.
#pragma once

extern "C" {

// Ends the process with the given status; never returns. A non-zero status
// first marks the run as failed, which tells a linked leak checker to stay
// quiet about memory still held. atexit handlers (such as the removal of
// named temporary files) run in both cases.
[[noreturn]] void ryx_exit(int status);

// Leak-checker hook: 1 after a failed exit, else 0. Nothing in the suite
// calls it; a leak checker linked into the process looks it up by name.
__attribute__((visibility("default"))) int __lsan_is_turned_off(void);

}  // extern "C"
