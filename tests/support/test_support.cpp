#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace ryx_test {

ScratchDir::ScratchDir() {
  const char *base = getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ryx_test_XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::file(const std::string &name) const { return path_ + "/" + name; }

std::string hex_bytes(const std::string &hex) {
  std::string out;
  int high = -1;
  for (size_t i = 0; i < hex.size(); i++) {
    char c = hex[i];
    if (c == '#') {
      while (i < hex.size() && hex[i] != '\n') i++;
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    else throw std::runtime_error(std::string("bad hex character: ") + c);
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) throw std::runtime_error("odd number of hex digits");
  return out;
}

std::string hex_fixture(const std::string &relative) {
  return hex_bytes(read_file(std::string(RYX_TEST_DATA_DIR) + "/" + relative));
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void write_gzip_file(const std::string &path, const std::string &bytes) {
  gzFile gz = gzopen(path.c_str(), "wb");
  if (gz == nullptr) throw std::runtime_error("cannot write " + path);
  if (!bytes.empty() && gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size())) <= 0)
    throw std::runtime_error("gzwrite failed");
  if (gzclose(gz) != Z_OK) throw std::runtime_error("gzclose failed");
}

bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> dir_names(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// The arguments and the environment (this process's plus extra_env) of a
// program to start, kept alive with the pointer arrays posix_spawn takes.
struct SpawnWords {
  std::vector<std::string> env_store;
  std::vector<char *> args;
  std::vector<char *> env;

  SpawnWords(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env) {
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (char **e = environ; *e != nullptr; e++) env_store.emplace_back(*e);
    for (const auto &e : extra_env) env_store.push_back(e);
    for (auto &e : env_store) env.push_back(e.data());
    env.push_back(nullptr);
  }
};

int wait_status(pid_t pid) {
  int wstatus;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

}  // namespace

RunResult run_program(const std::vector<std::string> &argv, const std::string &stdin_bytes,
                      const std::vector<std::string> &extra_env) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
    throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
    posix_spawn_file_actions_addclose(&actions, fd);

  SpawnWords words(argv, extra_env);
  pid_t pid;
  int rc = posix_spawn(&pid, words.args[0], &actions, nullptr, words.args.data(), words.env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(rc));
  }

  // Feed standard input and drain both outputs together so that no side
  // blocks on a full pipe.
  RunResult result;
  size_t written = 0;
  signal(SIGPIPE, SIG_IGN);
  if (stdin_bytes.empty()) {
    close(in_pipe[1]);
    in_pipe[1] = -1;
  }
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open || in_pipe[1] >= 0) {
    struct pollfd fds[3];
    int n = 0;
    if (out_open) fds[n++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[n++] = {err_pipe[0], POLLIN, 0};
    if (in_pipe[1] >= 0) fds[n++] = {in_pipe[1], POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (int i = 0; i < n; i++) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_pipe[1]) {
        ssize_t w = write(in_pipe[1], stdin_bytes.data() + written, stdin_bytes.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == stdin_bytes.size()) {
          close(in_pipe[1]);
          in_pipe[1] = -1;
        }
        continue;
      }
      ssize_t r = read(fds[i].fd, buf, sizeof buf);
      if (r <= 0) {
        if (fds[i].fd == out_pipe[0]) out_open = false;
        else err_open = false;
        continue;
      }
      (fds[i].fd == out_pipe[0] ? result.out : result.err).append(buf, static_cast<size_t>(r));
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);

  result.status = wait_status(pid);
  return result;
}

HeldFifo::HeldFifo(const std::string &path, const std::string &bytes) {
  if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("cannot open fifo " + path);
  // The bytes must fit the pipe's buffer, or this write would wait.
  if (bytes.size() > 60000 || write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("cannot fill fifo " + path);
}

HeldFifo::~HeldFifo() { close_end(); }

void HeldFifo::close_end() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool has_name_starting(const std::string &dir, const std::string &prefix) {
  for (const std::string &name : dir_names(dir))
    if (name.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

int run_and_signal(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                   const std::function<bool()> &running, int signal_number) {
  return run_and_act(argv, extra_env, running, [signal_number](int pid) { kill(pid, signal_number); });
}

int run_and_act(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                const std::function<bool()> &running, const std::function<void(int)> &act) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  SpawnWords words(argv, extra_env);
  pid_t pid;
  int rc = posix_spawn(&pid, words.args[0], &actions, nullptr, words.args.data(), words.env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(rc));

  // Polls for the sign that the program is at work; one that ended first
  // is reported as it ended, unsignalled.
  for (;;) {
    int wstatus;
    pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (running()) break;
    usleep(1000);
  }
  act(pid);
  return wait_status(pid);
}

RunResult run_tool(const std::string &name, std::vector<std::string> words) {
  words.insert(words.begin(), program_path(name));
  return run_program(words);
}

std::string program_path(const std::string &name) {
  return std::string(RYX_BINARY_DIR) + "/bin/" + name;
}

void limit_address_space_to_current_use() {
  long pages = 0;
  FILE *statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(3);
  fclose(statm);
  const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1 << 20);
  struct rlimit rl;
  rl.rlim_cur = limit;
  rl.rlim_max = limit;
  if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(4);
}

}  // namespace ryx_test
