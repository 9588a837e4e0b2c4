// Helpers shared by the test programs: scratch directories, whole-file
// reads and writes, gzip fixtures, hex fixtures and running a program.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ryx_test {

// A fresh directory under the system temporary directory, removed with
// everything in it when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const;

 private:
  std::string path_;
};

// Bytes from hex text: pairs of hex digits; blanks, line ends and comments
// from '#' to the end of the line are skipped.
std::string hex_bytes(const std::string &hex);
// Reads a hex fixture file from tests/data/<relative>.
std::string hex_fixture(const std::string &relative);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
// Writes bytes gzip-compressed.
void write_gzip_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);
// The names in a directory, hidden ones included, sorted.
std::vector<std::string> dir_names(const std::string &dir);

struct RunResult {
  int status = -1;       // exit status, or 128 + signal number
  std::string out;       // standard output
  std::string err;       // standard error
};

// Runs argv[0] (a path) with the arguments, feeding stdin_bytes on standard
// input; extra_env entries ("NAME=value") are added to the environment.
RunResult run_program(const std::vector<std::string> &argv, const std::string &stdin_bytes = "",
                      const std::vector<std::string> &extra_env = {});

// A named pipe whose write end stays open while the object lives (opened
// read-write, so opening does not wait for a reader): a program reading it
// gets the bytes written and then waits for more, still at work.
class HeldFifo {
 public:
  HeldFifo(const std::string &path, const std::string &bytes);
  ~HeldFifo();
  // Closes the write end early: the reader sees the end of its input.
  void close_end();
  HeldFifo(const HeldFifo &) = delete;
  HeldFifo &operator=(const HeldFifo &) = delete;

 private:
  int fd_;
};

// 1 when dir holds a name starting with prefix.
bool has_name_starting(const std::string &dir, const std::string &prefix);

// Starts argv[0] (a path) with the arguments, its standard streams on
// /dev/null, polls running() until it returns true, then calls act with the
// process id, and waits for the program. Returns the status as run_program
// does (128 + the signal number when a signal ended it), also when the
// program ended before running() held (act is then not called).
int run_and_act(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                const std::function<bool()> &running, const std::function<void(int)> &act);

// run_and_act whose act sends the signal.
int run_and_signal(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                   const std::function<bool()> &running, int signal_number);

// run_program on the program of this build tree named name (see
// program_path) with the given arguments.
RunResult run_tool(const std::string &name, std::vector<std::string> words);

// Path of a program built in this build tree, e.g. program_path("ryx_pick").
std::string program_path(const std::string &name);

// Limits the address space to what the process uses now plus 1 MiB: room
// for small allocations, none for a thread stack. For death tests of
// thread starts (sanitizer runtimes reserve address space, so those builds
// cannot apply it). Exits with 3 or 4 when the limit cannot be read or set.
void limit_address_space_to_current_use();

}  // namespace ryx_test
