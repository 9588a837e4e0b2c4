// Outputs that appear under their name only once committed.
#include "common/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/ryx_exit.h"
#include "test_support.h"

namespace {

using ryx_test::dir_names;
using ryx_test::file_exists;
using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

mode_t mode_of(const std::string &path) {
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(OutputFile, NothingUnderTheNameUntilCommitted) {
  ScratchDir dir;
  const std::string path = dir.file("out.txt");
  output_file_t *out = output_file_open(path.c_str());
  ASSERT_NE(out, nullptr);
  fputs("complete", out->file);
  fflush(out->file);
  EXPECT_FALSE(file_exists(path));
  // The output is written beside its name, hidden.
  const std::vector<std::string> during = dir_names(dir.path());
  ASSERT_EQ(during.size(), 1u);
  EXPECT_EQ(during[0].rfind(".out.txt.", 0), 0u) << during[0];
  ASSERT_EQ(output_file_commit(out), 0);
  EXPECT_EQ(read_file(path), "complete");
  EXPECT_EQ(dir_names(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(OutputFile, AbandonedOutputLeavesTheEarlierFile) {
  ScratchDir dir;
  const std::string path = dir.file("out.txt");
  write_file(path, "earlier");
  output_file_t *out = output_file_open(path.c_str());
  ASSERT_NE(out, nullptr);
  fputs("half", out->file);
  EXPECT_EQ(output_file_abandon(out), nullptr);
  EXPECT_EQ(output_file_abandon(nullptr), nullptr);
  EXPECT_EQ(read_file(path), "earlier");
  EXPECT_EQ(dir_names(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(OutputFile, FailedExitRemovesTheUnfinishedOutput) {
  ScratchDir dir;
  const std::string path = dir.file("out.txt");
  write_file(path, "earlier");
  EXPECT_EXIT(
      {
        output_file_t *out = output_file_open(path.c_str());
        fputs("half", out->file);
        fflush(out->file);
        ryx_exit(74);
      },
      testing::ExitedWithCode(74), "");
  EXPECT_EQ(read_file(path), "earlier");
  EXPECT_EQ(dir_names(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(OutputFile, PermissionsOfTheReplacedFileOrOfANewOne) {
  ScratchDir dir;
  const std::string kept = dir.file("kept.txt");
  write_file(kept, "old");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  output_file_t *out = output_file_open(kept.c_str());
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(output_file_commit(out), 0);
  EXPECT_EQ(mode_of(kept), 0640u);

  const mode_t old_mask = umask(027);
  const std::string fresh = dir.file("fresh.txt");
  out = output_file_open(fresh.c_str());
  umask(old_mask);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(output_file_commit(out), 0);
  EXPECT_EQ(mode_of(fresh), 0640u);
}

TEST(OutputFile, ASymbolicLinkKeepsPointingAtTheNewContent) {
  ScratchDir dir;
  const std::string target = dir.file("target.txt");
  const std::string link = dir.file("link.txt");
  write_file(target, "old");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  output_file_t *out = output_file_open(link.c_str());
  ASSERT_NE(out, nullptr);
  fputs("new", out->file);
  ASSERT_EQ(output_file_commit(out), 0);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read_file(target), "new");
}

TEST(OutputFile, ADeviceIsWrittenInPlace) {
  output_file_t *out = output_file_open("/dev/null");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->temp_path, nullptr);
  fputs("gone", out->file);
  EXPECT_EQ(output_file_commit(out), 0);
}

TEST(OutputFile, OutputsThatCannotBeCreated) {
  ScratchDir dir;
  EXPECT_EQ(output_file_open(dir.file("missing/out.txt").c_str()), nullptr);
  EXPECT_EQ(output_file_open(dir.path().c_str()), nullptr);  // a directory
  // A file the user may not write stays protected even though a rename
  // could replace it (unless the tests run with every permission).
  const std::string locked = dir.file("locked.txt");
  write_file(locked, "keep");
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  if (access(locked.c_str(), W_OK) != 0) {
    EXPECT_EQ(output_file_open(locked.c_str()), nullptr);
    EXPECT_EQ(read_file(locked), "keep");
  }
}

TEST(OutputFile, AFailedWriteFailsTheCommit) {
  // /dev/full takes no byte: the flush in the commit fails.
  output_file_t *out = output_file_open("/dev/full");
  ASSERT_NE(out, nullptr);
  fputs("lost", out->file);
  EXPECT_EQ(output_file_commit(out), -1);
}

TEST(OutputFile, SameFileByDeviceAndInode) {
  ScratchDir dir;
  const std::string a = dir.file("a"), b = dir.file("b"), hard = dir.file("hard"), soft = dir.file("soft");
  write_file(a, "1");
  write_file(b, "1");
  ASSERT_EQ(link(a.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink(a.c_str(), soft.c_str()), 0);
  EXPECT_EQ(output_file_same_file(a.c_str(), a.c_str()), 1);
  EXPECT_EQ(output_file_same_file(a.c_str(), hard.c_str()), 1);
  EXPECT_EQ(output_file_same_file(soft.c_str(), a.c_str()), 1);
  EXPECT_EQ(output_file_same_file((dir.path() + "/./a").c_str(), a.c_str()), 1);
  EXPECT_EQ(output_file_same_file(a.c_str(), b.c_str()), 0);  // equal content is not the same file
  EXPECT_EQ(output_file_same_file(dir.file("none").c_str(), a.c_str()), 0);
  EXPECT_EQ(output_file_same_file(dir.file("none").c_str(), dir.file("none").c_str()), 0);
}

}  // namespace
