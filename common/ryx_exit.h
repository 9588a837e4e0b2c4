// The single exit path of every program.
#pragma once

extern "C" {

// Ends the process with the given status; never returns. Status 0 is a
// normal exit (atexit handlers, such as the removal of named temporary
// files, run). A non-zero status may come from any thread while others
// run: it marks the run as failed (a linked leak checker stays quiet about
// memory still held), removes the temporary files and unfinished outputs,
// flushes the standard streams and ends the process at once, without exit
// handlers or destructors. Only the first call decides; a later one from
// another thread waits for the end.
[[noreturn]] void ryx_exit(int status);

// Prints message as it is on standard error (ryx_fail) or standard output
// (ryx_fail_stdout, for the messages the assembler's graph code prints
// there) and ends the process with status 1 through ryx_exit.
[[noreturn]] void ryx_fail(const char *message);
[[noreturn]] void ryx_fail_stdout(const char *message);

// Sets a line that a failed exit prints on standard error after the
// failure's own message: what the program was working on when a shared
// reader (which knows no file name) gave up, e.g. "Assembly file x is
// damaged.\n". The text is borrowed and must outlive its use; null clears
// it. Set and cleared by the main thread.
void ryx_exit_set_context(const char *text);

// Leak-checker hook: 1 after a failed exit, else 0. Nothing in the suite
// calls it; a leak checker linked into the process looks it up by name.
__attribute__((visibility("default"))) int __lsan_is_turned_off(void);

}  // extern "C"
