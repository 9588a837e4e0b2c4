// ryx_runstat -l LOG -c PROGRAM [ARGUMENTS...]
// Runs PROGRAM with its arguments, writes the resource log and ends with
// the program's exit status.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/ryx_exit.h"
#include "tools/runstat.h"
#include "tools/runstat_command.h"
#include "tools/runstat_utilisation.h"

namespace {

// Status when the command cannot be started (also the status the child
// ends with when its program cannot be run).
constexpr int kCannotStartStatus = 42;
// Status when the log file cannot be created or written.
constexpr int kCannotCreateOutput = 73;
constexpr int kWriteError = 74;

// Poll interval in units of 50 microseconds: the child is polled every
// 50 ms and memory sampled on every twentieth poll, about once a second.
constexpr unsigned long long kPollInterval = 1000;

}  // namespace

int main(int argc, char **argv) {
  RunstatCommandLine line(argc, argv);
  if (!line.valid()) {
    fputs(line.usage().c_str(), stdout);
    ryx_exit(1);
  }

  RunstatLog log;
  if (!log.open(line.log_path())) {
    fprintf(stderr, "Unable to open log file %s: %s\n", line.log_path(), strerror(errno));
    ryx_exit(kCannotCreateOutput);
  }

  SystemCommand command;
  if (!command.start(line.command_count(), line.command()) || command.get_pid() == 0)
    ryx_exit(kCannotStartStatus);

  UtilisationReporter reporter(command.get_pid());
  int exit_code = command.wait(kPollInterval, [&reporter](int) { reporter.update(); });
  reporter.complete();

  if (!log.write(runstat_log_text(runstat_record(command, reporter)))) {
    fprintf(stderr, "Unable to write log file %s: %s\n", line.log_path(), strerror(errno));
    ryx_exit(kWriteError);
  }
  return exit_code;
}
