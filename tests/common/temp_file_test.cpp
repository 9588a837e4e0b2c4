// Temporary files: directory choice, exclusive private creation, removal at
// exit, concurrent creators, and replacing a file through a temporary copy.
#include "common/temp_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "tests/support/test_support.h"

namespace {

using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

// Names in a directory, sorted.
std::vector<std::string> list_dir(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Escapes the characters that are special in a death-test pattern.
std::string regex_quote(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (strchr(".[]{}()*+?^$|\\", c) != nullptr) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

bool is_symlink(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Saves TMPDIR, TMP and TEMP and puts them back when the test is done.
class TempEnvGuard {
 public:
  TempEnvGuard() {
    for (int i = 0; i < 3; i++) {
      const char *value = getenv(kNames[i]);
      if (value != nullptr) saved_[i] = value;
    }
  }
  ~TempEnvGuard() {
    for (int i = 0; i < 3; i++) {
      if (saved_[i]) setenv(kNames[i], saved_[i]->c_str(), 1);
      else unsetenv(kNames[i]);
    }
  }
  // Sets the three variables; null unsets one.
  static void set(const char *tmpdir, const char *tmp, const char *temp) {
    const char *values[3] = {tmpdir, tmp, temp};
    for (int i = 0; i < 3; i++) {
      if (values[i] != nullptr) setenv(kNames[i], values[i], 1);
      else unsetenv(kNames[i]);
    }
  }

 private:
  static constexpr const char *kNames[3] = {"TMPDIR", "TMP", "TEMP"};
  std::optional<std::string> saved_[3];
};

// A named file in dir, with its path checked against "<dir>/ryx_<digits>".
std::string create_named(const char *dir, const std::string &expected_dir) {
  char *path = nullptr;
  FILE *file = temp_file_create(dir, &path);
  EXPECT_NE(file, nullptr);
  std::string result = path;
  const std::string prefix = expected_dir + "/ryx_";
  EXPECT_EQ(result.compare(0, prefix.size(), prefix), 0) << result;
  const std::string digits = result.substr(std::min(prefix.size(), result.size()));
  EXPECT_FALSE(digits.empty());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << result;
  fclose(file);
  ryx_free(path);
  return result;
}

TEST(TempFile, DirectoryComesFromTmpdirTmpTempThenVarTmp) {
  ScratchDir a, b, c;
  TempEnvGuard guard;
  struct Case {
    const char *tmpdir, *tmp, *temp;
    std::string expected_dir;
  } cases[] = {
      {a.path().c_str(), b.path().c_str(), c.path().c_str(), a.path()},
      {nullptr, b.path().c_str(), c.path().c_str(), b.path()},
      {nullptr, nullptr, c.path().c_str(), c.path()},
      // An empty value names no directory and is passed over.
      {"", "", c.path().c_str(), c.path()},
      // The default is used unchanged, hence two slashes before the name.
      {nullptr, nullptr, nullptr, "/var/tmp/"},
  };
  for (const Case &k : cases) {
    TempEnvGuard::set(k.tmpdir, k.tmp, k.temp);
    const std::string path = create_named(nullptr, k.expected_dir);
    EXPECT_TRUE(file_exists(path.c_str())) << path;
    remove(path.c_str());
  }
}

TEST(TempFile, AnonymousFileIsGoneFromTheDirectoryYetUsable) {
  ScratchDir dir;
  TempEnvGuard guard;
  TempEnvGuard::set(dir.path().c_str(), nullptr, nullptr);
  FILE *file = temp_file_create_anonymous();
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(list_dir(dir.path()).empty());
  struct stat st;
  ASSERT_EQ(fstat(fileno(file), &st), 0);
  EXPECT_EQ(st.st_nlink, 0u);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7 + 3);
  ASSERT_EQ(fwrite(data.data(), 1, data.size(), file), data.size());
  rewind(file);
  std::string back(data.size(), '\0');
  ASSERT_EQ(fread(back.data(), 1, back.size(), file), back.size());
  EXPECT_EQ(back, data);
  fclose(file);
}

TEST(TempFile, NamedFileIsPrivateAndRemovedByTheExitHandler) {
  ScratchDir dir;
  char *path = nullptr;
  FILE *file = temp_file_create(dir.path().c_str(), &path);
  ASSERT_NE(file, nullptr);
  fputs("kept", file);
  fclose(file);
  struct stat st;
  ASSERT_EQ(stat(path, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(read_file(path), "kept");
  temp_file_remove_all();
  EXPECT_FALSE(file_exists(path));
  // A second run over the now empty list is harmless.
  temp_file_remove_all();
  ryx_free(path);
}

// A file made through temp_file_make is on the list as soon as it exists
// (kept) or already gone (not kept); a failed make registers nothing.
TEST(TempFile, MadeFilesAreRegisteredOrUnlinkedAtOnce) {
  ScratchDir dir;
  auto make = [](char *path, void *) { return mkstemp(path); };
  std::string kept = dir.file("kept.XXXXXX"), dropped = dir.file("dropped.XXXXXX");
  const int kept_fd = temp_file_make(kept.data(), make, nullptr, 1);
  const int dropped_fd = temp_file_make(dropped.data(), make, nullptr, 0);
  ASSERT_GE(kept_fd, 0);
  ASSERT_GE(dropped_fd, 0);
  EXPECT_EQ(kept.find("XXXXXX"), std::string::npos);
  EXPECT_TRUE(file_exists(kept.c_str()));
  EXPECT_FALSE(file_exists(dropped.c_str()));
  std::string missing = dir.file("no/such/dir/x.XXXXXX");
  EXPECT_EQ(temp_file_make(missing.data(), make, nullptr, 1), -1);
  EXPECT_EQ(errno, ENOENT);
  temp_file_remove_all();
  EXPECT_FALSE(file_exists(kept.c_str()));
  close(kept_fd);
  close(dropped_fd);
}

TEST(TempFileDeath, NamedFileIsRemovedAtExitWhateverTheStatus) {
  for (int status : {1, 0}) {
    ScratchDir dir;
    const std::string pattern =
        "created " + regex_quote(dir.path()) + "/ryx_[0-9]+ mode 600 data 4\n$";
    EXPECT_EXIT(
        {
          char *path = nullptr;
          FILE *file = temp_file_create(dir.path().c_str(), &path);
          fputs("data", file);
          fclose(file);
          struct stat st;
          if (stat(path, &st) == 0) {
            fprintf(stderr, "created %s mode %o data %lld\n", path,
                    static_cast<unsigned>(st.st_mode & 0777), static_cast<long long>(st.st_size));
          }
          ryx_free(path);
          ryx_exit(status);
        },
        testing::ExitedWithCode(status), pattern);
    EXPECT_TRUE(list_dir(dir.path()).empty()) << "status " << status;
  }
}

// A failure met on one thread while another keeps making named temporary
// files: the process ends with the failure's status and nothing is left in
// the directory, whatever the other thread was doing at that moment.
TEST(TempFileDeath, FailureOnAWorkerLeavesNoFileWhileOthersStillMakeThem) {
  for (int round = 0; round < 20; round++) {
    ScratchDir dir;
    EXPECT_EXIT(
        {
          std::thread maker([&] {
            for (;;) {
              char *path = nullptr;
              FILE *file = temp_file_create(dir.path().c_str(), &path);
              fclose(file);
              ryx_free(path);
            }
          });
          std::thread failing([] {
            usleep(200);
            ryx_exit(3);
          });
          maker.join();
          failing.join();
        },
        testing::ExitedWithCode(3), "");
    EXPECT_TRUE(list_dir(dir.path()).empty()) << "round " << round;
  }
}

TEST(TempFileDeath, UncreatableDirectoryEndsWithMessage) {
  ScratchDir scratch;
  const std::string locked = scratch.file("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  struct Case {
    std::string dir;
    const char *reason;
  } cases[] = {
      {locked, "Permission denied"},
      {scratch.file("missing"), "No such file or directory"},
  };
  for (const Case &k : cases) {
    EXPECT_EXIT(
        {
          // The superuser may write anywhere; drop to an ordinary user so the
          // directory's permissions apply.
          if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
          temp_file_create(k.dir.c_str(), nullptr);
          _exit(98);
        },
        testing::ExitedWithCode(1),
        "^Problem opening temporary file " + regex_quote(k.dir) + "/ryx_[0-9]+, error " + k.reason + "\n$");
  }
  EXPECT_TRUE(list_dir(locked).empty());
}

// Hands out the names 1, 2, 3, ... in order; a test resets the sequence.
uint32_t next_planted_name = 1;
uint32_t planted_sequence(uint32_t) { return next_planted_name++; }

uint32_t always_seven(uint32_t) { return 7; }

TEST(TempFile, ExistingPathsAreNeverOpenedNorRemoved) {
  ScratchDir dir, outside;
  const std::string victim = outside.file("victim");
  write_file(victim, "victim");
  ASSERT_EQ(symlink(victim.c_str(), dir.file("ryx_1").c_str()), 0);
  ASSERT_EQ(symlink(outside.file("absent").c_str(), dir.file("ryx_2").c_str()), 0);
  write_file(dir.file("ryx_3"), "someone else's");

  next_planted_name = 1;
  temp_file_set_name_hook(planted_sequence);
  char *path = nullptr;
  FILE *file = temp_file_create(dir.path().c_str(), &path);
  temp_file_set_name_hook(nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::string(path), dir.file("ryx_4"));
  fputs("ours", file);
  fclose(file);

  EXPECT_EQ(read_file(victim), "victim");
  EXPECT_FALSE(file_exists(outside.file("absent").c_str()));
  EXPECT_EQ(read_file(dir.file("ryx_3")), "someone else's");

  // Only the file we created is on the removal list.
  temp_file_remove_all();
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"ryx_1", "ryx_2", "ryx_3"}));
  EXPECT_TRUE(is_symlink(dir.file("ryx_1")));
  EXPECT_TRUE(is_symlink(dir.file("ryx_2")));
  ryx_free(path);
}

TEST(TempFileDeath, OnlyTakenNamesEndTheSearchWithoutTouchingThem) {
  ScratchDir dir, outside;
  const std::string victim = outside.file("victim");
  write_file(victim, "victim");
  const std::string taken = dir.file("ryx_7");
  for (bool link : {false, true}) {
    if (link) {
      remove(taken.c_str());
      ASSERT_EQ(symlink(victim.c_str(), taken.c_str()), 0);
    } else {
      write_file(taken, "theirs");
    }
    EXPECT_EXIT(
        {
          temp_file_set_name_hook(always_seven);
          char *path = nullptr;
          temp_file_create(dir.path().c_str(), &path);
          _exit(98);
        },
        testing::ExitedWithCode(1),
        "^Problem opening temporary file " + regex_quote(taken) + ", error File exists\n$");
    // The exit handler of the child must not have removed the taken name.
    EXPECT_EQ(is_symlink(taken), link);
    EXPECT_EQ(read_file(taken), link ? "victim" : "theirs");
  }
  EXPECT_EQ(read_file(victim), "victim");
}

TEST(TempFile, ConcurrentCreatorsGetDistinctFiles) {
  ScratchDir dir;
  constexpr int kThreads = 8;
  constexpr int kFiles = 25;
  std::vector<std::vector<std::string>> paths(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kFiles; i++) {
        char *path = nullptr;
        FILE *named = temp_file_create(dir.path().c_str(), &path);
        fprintf(named, "%d/%d", t, i);
        fclose(named);
        paths[t].push_back(path);
        ryx_free(path);
        FILE *anonymous = temp_file_create(dir.path().c_str(), nullptr);
        fclose(anonymous);
      }
    });
  }
  for (auto &thread : threads) thread.join();

  std::set<std::string> distinct;
  for (int t = 0; t < kThreads; t++) {
    for (int i = 0; i < kFiles; i++) {
      const std::string &path = paths[t][i];
      distinct.insert(path);
      // Each file holds what its own creator wrote: no two creators shared one.
      EXPECT_EQ(read_file(path), std::to_string(t) + "/" + std::to_string(i)) << path;
    }
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kFiles));
  EXPECT_EQ(list_dir(dir.path()).size(), static_cast<size_t>(kThreads * kFiles));
  temp_file_remove_all();
  EXPECT_TRUE(list_dir(dir.path()).empty());
}

TEST(FileExists, ExistingMissingAndDanglingLink) {
  ScratchDir dir;
  write_file(dir.file("here"), "x");
  ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
  EXPECT_EQ(file_exists(dir.file("here").c_str()), 1);
  EXPECT_EQ(file_exists(dir.path().c_str()), 1);
  EXPECT_EQ(file_exists(dir.file("missing").c_str()), 0);
  EXPECT_EQ(file_exists(dir.file("dangling").c_str()), 0);
}

std::string pattern_bytes(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; i++) data[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
  return data;
}

TEST(FileCopy, CopiesExactlyAndReplacesTheDestination) {
  // Sizes around the 2048-byte copy chunk.
  for (size_t size : {0, 1, 2047, 2048, 2049, 10000}) {
    for (bool existing : {false, true}) {
      ScratchDir dir;
      const std::string source = dir.file("source"), destination = dir.file("destination");
      const std::string data = pattern_bytes(size);
      write_file(source, data);
      ASSERT_EQ(chmod(source.c_str(), 0640), 0);
      if (existing) write_file(destination, std::string(30000, 'o'));
      file_copy_via_temp(source.c_str(), destination.c_str());
      EXPECT_EQ(read_file(destination), data) << size;
      EXPECT_EQ(read_file(source), data) << size;
      EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"destination", "source"})) << size;
      struct stat st;
      ASSERT_EQ(stat(destination.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
  }
}

TEST(FileCopy, DestinationWithoutDirectoryIsReplacedInTheWorkingDirectory) {
  ScratchDir dir;
  write_file(dir.file("source"), "abc");
  const std::string old_cwd = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  file_copy_via_temp("source", "copy");
  ASSERT_EQ(chdir(old_cwd.c_str()), 0);
  EXPECT_EQ(read_file(dir.file("copy")), "abc");
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"copy", "source"}));
}

uint32_t always_five(uint32_t) { return 5; }

// The copy no longer lives under its temporary name, so a later file that
// gets that name must survive the exit handler.
TEST(FileCopy, TheTemporaryNameIsNotRemovedAtExitOnceRenamed) {
  ScratchDir dir;
  write_file(dir.file("source"), "abc");
  temp_file_set_name_hook(always_five);
  file_copy_via_temp(dir.file("source").c_str(), dir.file("destination").c_str());
  temp_file_set_name_hook(nullptr);
  EXPECT_EQ(read_file(dir.file("destination")), "abc");
  write_file(dir.file("ryx_5"), "a stranger's file");
  temp_file_remove_all();
  EXPECT_EQ(read_file(dir.file("ryx_5")), "a stranger's file");
}

struct CopyFailure {
  const char *name;
  const char *source_kind;       // "file" or "directory"
  size_t source_size;
  const char *destination_kind;  // "file", "directory" or "in-missing-directory"
  rlim_t size_limit;             // 0: none
  const char *message;           // pattern after the paths are filled in
};

TEST(FileCopyDeath, FailuresEndWithTheirMessageAndLeaveTheDestination) {
  const CopyFailure cases[] = {
      {"missing source", "missing", 0, "file", 0, "^Problem opening input file\n$"},
      {"source is a directory", "directory", 0, "file", 0, "^Problem reading input file\n$"},
      {"destination is a directory", "file", 100, "directory", 0,
       "^Problem making destination file DEST, error Is a directory\n$"},
      {"destination directory missing", "file", 100, "in-missing-directory", 0,
       "^Problem opening temporary file DIR/ryx_[0-9]+, error No such file or directory\n$"},
      {"write fails", "file", 100000, "file", 1000, "^Problem writing file\n$"},
      {"close fails", "file", 3000, "file", 1000, "^Problem closing temporary file\n$"},
  };
  for (const CopyFailure &k : cases) {
    SCOPED_TRACE(k.name);
    ScratchDir dir;
    const std::string source = dir.file("source");
    std::string destination = dir.file("destination");
    if (strcmp(k.source_kind, "file") == 0) write_file(source, pattern_bytes(k.source_size));
    if (strcmp(k.source_kind, "directory") == 0) {
      ASSERT_EQ(mkdir(source.c_str(), 0700), 0);
    }
    if (strcmp(k.destination_kind, "file") == 0) write_file(destination, "old");
    if (strcmp(k.destination_kind, "directory") == 0) {
      ASSERT_EQ(mkdir(destination.c_str(), 0700), 0);
    }
    if (strcmp(k.destination_kind, "in-missing-directory") == 0) destination = dir.file("missing/destination");
    const std::vector<std::string> before = list_dir(dir.path());

    std::string pattern = k.message;
    if (size_t at = pattern.find("DEST"); at != std::string::npos)
      pattern.replace(at, 4, regex_quote(destination));
    if (size_t at = pattern.find("DIR"); at != std::string::npos)
      pattern.replace(at, 3, regex_quote(dir.file("missing")));
    EXPECT_EXIT(
        {
          if (k.size_limit != 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = k.size_limit;
            setrlimit(RLIMIT_FSIZE, &limit);
          }
          file_copy_via_temp(source.c_str(), destination.c_str());
          _exit(98);
        },
        testing::ExitedWithCode(1), pattern);
    // No temporary file is left behind and an existing destination is intact.
    EXPECT_EQ(list_dir(dir.path()), before);
    if (strcmp(k.destination_kind, "file") == 0) {
      EXPECT_EQ(read_file(destination), "old");
    }
  }
}

}  // namespace
