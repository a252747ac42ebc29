// One run per problem directory. A program that reads or writes a problem's
// files holds an exclusive advisory lock (flock) on the problem's lock file,
// prefix + problem name + ".lock" ("Tarsel.lock"), for its whole run; a second
// program on the same directory finds the lock taken and stops at once,
// before it changes any file. The lock file stays in place: removing it would
// let a run still waiting on the old file and a run that made a new one both
// believe they hold the lock.
//
// A program that starts another one on the same problem (the annealers start
// Tovarin for every evaluation) shares its hold instead of releasing it:
// share_problem_lock() keeps the locked descriptor open across exec and puts
// its number in the environment variable TARSEL_HELD_LOCK. A child's
// take_problem_lock() that finds the variable works under that hold when the
// descriptor named there is open on this very lock file and holds its lock;
// otherwise (a variable inherited from elsewhere, another directory) it takes
// the lock as any program does. A child never unlocks the shared descriptor,
// since that would release the parent's hold too; and while a child still
// runs, the hold lasts even if the parent ends first.
#pragma once

#include <string>

namespace common {

inline constexpr const char* HELD_LOCK_VARIABLE = "TARSEL_HELD_LOCK";

struct ProblemLock {
  int fd = -1;
  std::string path;
  bool under_parent = false;  // working under the hold of the program that started this one
};

enum class LockOutcome { taken, busy, failed };

// prefix + name + ".lock".
std::string problem_lock_path(const std::string& prefix, const std::string& name);

// Takes the lock without waiting. `error_number` tells why on `failed`.
LockOutcome take_problem_lock(const std::string& path, ProblemLock& lock, int& error_number);

// Takes the lock or ends the program: a message on standard error naming the
// lock file, exit code 1, no pause (throws FatalError).
void hold_problem_lock(const std::string& path, ProblemLock& lock);

// Lets the programs started from now on work under this hold.
void share_problem_lock(const ProblemLock& lock);

// Closes the descriptor; the lock ends when no process has it open any more.
void release_problem_lock(ProblemLock& lock);

}  // namespace common
