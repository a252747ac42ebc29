// Faults around the files of a run: a file written whole or not at all, one
// run per problem directory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "common/atomic_file.h"
#include "common/problem_lock.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

using namespace common;

namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, PlantedLinkIsReplacedNotWrittenThrough) {
  ScopedSandbox box("atomic_link");
  write_text(box.root + "victim", "keep me");
  fs::create_symlink(box.root + "victim", box.dir + "out.txt.new");
  FileFailure failure;
  ASSERT_TRUE(write_file_atomically(box.dir + "out.txt", "whole\n", failure)) << failure.text();
  EXPECT_EQ(read_whole_file(box.root + "victim"), "keep me");
  EXPECT_EQ(read_whole_file(box.dir + "out.txt"), "whole\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(box.dir + "out.txt.new")));
}

// A write beyond the file size limit fails as on a full disk: the old file
// stays, the new one goes, and the reason names the file.
TEST(AtomicFile, FailedWriteLeavesTheOldFile) {
  ScopedSandbox box("atomic_full");
  const std::string path = box.dir + "out.txt";
  write_text(path, "old\n");
  auto attempt = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    FileFailure failure;
    bool written = write_file_atomically(path, std::string(10000, 'x'), failure);
    bool named = failure.text() == "cannot write " + path + ": File too large";
    std::_Exit(!written && named && read_whole_file(path) == "old\n" && !fs::exists(path + ".new") ? 0 : 1);
  };
  EXPECT_EXIT(attempt(), ::testing::ExitedWithCode(0), "");
}

TEST(ProblemLock, SecondTakerIsRefusedAndAChildWorksUnderTheHold) {
  ScopedSandbox box("lock");
  const std::string path = problem_lock_path(box.dir, "Tarsel");
  ProblemLock first, second;
  int error_number = 0;
  ASSERT_EQ(take_problem_lock(path, first, error_number), LockOutcome::taken) << error_number;
  EXPECT_EQ(take_problem_lock(path, second, error_number), LockOutcome::busy);

  // What the started program finds: the variable naming the held descriptor.
  share_problem_lock(first);
  ASSERT_EQ(take_problem_lock(path, second, error_number), LockOutcome::taken);
  EXPECT_TRUE(second.under_parent);
  // A variable naming a descriptor of another file counts for nothing.
  ::setenv(HELD_LOCK_VARIABLE, "0", 1);
  ProblemLock third;
  EXPECT_EQ(take_problem_lock(path, third, error_number), LockOutcome::busy);
  ::unsetenv(HELD_LOCK_VARIABLE);

  release_problem_lock(first);
  EXPECT_EQ(take_problem_lock(path, third, error_number), LockOutcome::taken);
  release_problem_lock(third);
  EXPECT_TRUE(fs::exists(path));
}

}  // namespace
