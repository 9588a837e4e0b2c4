// Removal of a program's temporary files when it is interrupted.
//
// An interrupt (SIGINT), a termination request (SIGTERM) or a hang-up
// (SIGHUP) would end the process without running its exit handlers, leaving
// behind the temporary files and the hidden, half-written outputs on the
// remove-at-exit list of common/temp_file.h. signal_cleanup_install blocks
// these signals in the calling thread, and so in every thread it starts
// afterwards, and hands them to one watcher thread that waits for them with
// sigwait. On the first one the watcher removes every registered file, puts
// back the signal's default action and raises it again, so the process ends
// as the signal would have ended it (its parent sees the signal) and an
// earlier file under an output's name stays as it was.
//
// No signal handler runs: the removal happens on an ordinary thread, which
// may take the list's lock and wait for a thread that holds it.
//
// Call it first thing in main, before any thread is started: a thread
// started earlier keeps the signals unblocked and would take the default
// action without cleaning up. A signal that the process inherited as
// ignored (nohup ignores SIGHUP) stays ignored. Programs that start other
// commands must unblock the signals in the child before exec.
#pragma once

// Installs the watcher once per process; later calls do nothing. Ends the
// process with status 1 and a message when the watcher cannot be started.
void signal_cleanup_install(void);
