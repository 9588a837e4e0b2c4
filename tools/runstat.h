// ryx_runstat: runs one command as a child process and writes a log of its
// exit status, the machine, the run time, processor time and the memory
// available while it ran. This module holds the command line, the
// gathering of the log's values and the log file itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class SystemCommand;
class UtilisationReporter;

// The words of a ryx_runstat command line: -l LOG -c PROGRAM [ARGUMENTS...].
class RunstatCommandLine {
 public:
  // Keeps the words (argv must outlive the object; argv[argc] is null).
  RunstatCommandLine(int argc, char **argv);

  // True when there are more than four words (the program's own name
  // included), the first argument begins with "-l" and the third with
  // "-c"; only those two characters are compared.
  bool valid() const;

  // The log path (the second argument); valid() must hold.
  const char *log_path() const { return argv_[2]; }
  // The command: its first word is the path of the program to run, and the
  // whole vector is the program's own argument vector, ending in null.
  int command_count() const { return argc_ - 4; }
  char **command() const { return argv_ + 4; }

  // The usage text with the words that were given, for standard output.
  std::string usage() const;

 private:
  int argc_;
  char **argv_;
};

// The version shown in the usage text.
std::string runstat_version();

// The temporary directory: the first of TMPDIR, TMP and TEMP that is set
// and not empty, else "/var/tmp/".
std::string runstat_temp_directory();

// Every value of the run log. Times are in microseconds, sizes in MiB.
struct RunstatRecord {
  int exit_code = 0;
  int signal = 0;
  bool has_avx2 = false;
  int hardware_threads = 0;
  uint64_t system_memory_mb = 0;
  std::string platform;
  uint64_t time_passed_us = 0;
  uint64_t free_tmp_space_mb = 0;
  uint64_t user_time_us = 0;
  uint64_t system_time_us = 0;
  uint64_t memory_high_mb = 0;
  uint64_t memory_low_mb = 0;
  uint64_t memory_last_mb = 0;
};

// The values for the log of a finished, waited-for command whose reporter
// has completed; the run time is read here, once, and the machine is
// queried (a value the system cannot give stays 0).
RunstatRecord runstat_record(const SystemCommand &command, const UtilisationReporter &reporter);

// The log text: one "key = value" line per value, in a fixed order.
std::string runstat_log_text(const RunstatRecord &record);

// The log file, opened before the command starts so that a path that
// cannot be written is found before the run rather than after it.
class RunstatLog {
 public:
  RunstatLog() = default;
  ~RunstatLog();
  RunstatLog(const RunstatLog &) = delete;
  RunstatLog &operator=(const RunstatLog &) = delete;

  // Creates or empties the file; false (errno set) when it cannot be
  // opened. The file is not handed on to the command.
  bool open(const char *path);

  // Writes the text and closes the file; false (errno set) when a write or
  // the close fails.
  bool write(const std::string &text);

 private:
  FILE *file_ = nullptr;
};
