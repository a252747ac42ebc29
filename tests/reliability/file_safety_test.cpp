// Faults around the files of a run: a file written whole or not at all, one
// run per problem directory, and runs that fail (a report that cannot be
// written, memory running out, a signal) end with a message and exit code 1
// and leave no long-arc file behind.
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
  write_whole_file(box.root + "victim", "keep me");
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
  write_whole_file(path, "old\n");
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

// A file rewritten through its spare: each version whole, a shorter one
// without the tail of the one before, a link to an old version kept as it
// was, and no spare left once the writer is gone.
TEST(RewrittenFile, VersionsAreWholeLinksKeptAndNoSpareLeft) {
  ScopedSandbox box("rewritten");
  const std::string path = box.dir + "out.txt";
  write_whole_file(path, "the user's\n");
  fs::create_hard_link(path, box.root + "kept");
  {
    RewrittenFile file(path);
    FileFailure failure;
    for (const char* version : {"first, long version\n", "second\n", "third, longer than the second\n", "4\n"}) {
      ASSERT_TRUE(open_rewrite(file, failure) && commit_rewrite(file, version, failure)) << failure.text();
      EXPECT_EQ(read_whole_file(path), version);
    }
  }
  EXPECT_EQ(read_whole_file(box.root + "kept"), "the user's\n");
  EXPECT_FALSE(fs::exists(path + ".new"));
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

const std::string kGenInstance = std::string(TARSEL_SOURCE_DIR) + "/tools/gen_instance";

// A problem whose solve takes a while and needs some memory.
void generate_large(const std::string& dir) {
  const std::string command =
      "python3 '" + kGenInstance + "' --trips 1500 --terminals 30 --seed 21 '" + dir + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void expect_failed_run(const ProgramResult& r, const std::string& dir, const std::string& message) {
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find(message), std::string::npos) << r.output.substr(r.output.size() > 600 ? r.output.size() - 600 : 0);
  EXPECT_FALSE(fs::exists(dir + "temp.lng"));
  if (fs::exists(dir + "Tarsel.sol")) {
    EXPECT_TRUE(is_solution_text(read_whole_file(dir + "Tarsel.sol")));
  }
}

// Each output in turn cannot be written (a link to a full device) or, for
// the solution file, cannot be made.
TEST(UnwritableOutput, RunStopsNamingTheFileAndTheReason) {
  const struct {
    const char* planted;
    const char* message;
  } cases[] = {{"Tarsel.log", "cannot write Tarsel.log: No space left on device"},
               {"Tarsel.est", "cannot write Tarsel.est: No space left on device"},
               {"Tarsel.lus", "cannot write Tarsel.lus: No space left on device"},
               {"Tarsel.arm", "cannot write Tarsel.arm: No space left on device"},
               {"Tarsel.bla", "cannot write Tarsel.bla: No space left on device"},
               {"Tarsel.sol.new", "\nFile Tarsel.sol not found\ncannot create Tarsel.sol.new: File exists"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planted);
    ScopedSandbox box("unwritable");
    copy_example("small", box.dir);
    if (std::string(c.planted).ends_with(".new"))
      fs::create_directory(box.dir + c.planted);
    else
      fs::create_symlink("/dev/full", box.dir + c.planted);
    expect_failed_run(run_program(kTovarin, box.dir, "x"), box.dir, c.message);
  }
}

// While a run holds the problem, another program there stops at once,
// without waiting for a key and without touching any file.
TEST(ProblemLock, SecondProgramInTheDirectoryChangesNothing) {
  ScopedSandbox box("second_run");
  copy_example("small", box.dir);
  ProblemLock held;
  int error_number = 0;
  ASSERT_EQ(take_problem_lock(problem_lock_path(box.dir, "Tarsel"), held, error_number), LockOutcome::taken);
  const std::vector<std::string> before = list_dir(box.dir);
  const std::string trips = read_whole_file(box.dir + "Tarsel.bss");
  for (const std::string& program : {kTovarin, kBinDir + "/Lurrick", kBinDir + "/Sorvenna"}) {
    SCOPED_TRACE(program);
    ProgramResult r = run_limited(program, box.dir, RunLimits{60, true, "", 0, 0, 0, "", {}});
    EXPECT_EQ(r.signal, 0) << "waited";
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("Another run is working on this problem"), std::string::npos) << r.output;
    EXPECT_EQ(list_dir(box.dir), before);
    EXPECT_EQ(read_whole_file(box.dir + "Tarsel.bss"), trips);
  }
  release_problem_lock(held);
}

TEST(FailedRun, OutOfMemoryEndsWithAMessage) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than any limit leaves";
  ScopedSandbox box("out_of_memory");
  generate_large(box.dir);
  RunLimits limits;
  limits.input = "x";
  limits.memory_limit = 32L << 20;
  expect_failed_run(run_limited(kTovarin, box.dir, limits), box.dir, "\nOut of memory: the run is stopped.\n");
  EXPECT_FALSE(fs::exists(box.dir + "Tarsel.sol"));
}

TEST(FailedRun, SignalsRemoveTheLongArcFile) {
  ScopedSandbox box("signal");
  generate_large(box.dir);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    RunLimits limits;
    limits.input = "x";
    limits.interrupt_signal = signal_number;
    limits.interrupt_when_exists = box.dir + "temp.lng";
    expect_failed_run(run_limited(kTovarin, box.dir, limits), box.dir,
                      "\nEnded by signal " + std::to_string(signal_number) + "\n");
  }
}

}  // namespace
