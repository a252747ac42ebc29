#include "common/problem_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/common.h"

namespace common {

namespace {

// The descriptor the parent names, when it is this lock file and holds it.
int inherited_descriptor(const std::string& path) {
  const char* value = std::getenv(HELD_LOCK_VARIABLE);
  if (value == nullptr || *value == '\0') return -1;
  char* end = nullptr;
  errno = 0;
  long fd = std::strtol(value, &end, 10);
  if (errno != 0 || *end != '\0' || fd < 0 || fd > 1 << 20) return -1;
  struct stat held {}, here {};
  if (::fstat(static_cast<int>(fd), &held) != 0 || ::stat(path.c_str(), &here) != 0) return -1;
  if (held.st_dev != here.st_dev || held.st_ino != here.st_ino) return -1;
  // On the parent's own open file this succeeds without waiting; on a copy
  // of the file that another run has locked it fails.
  if (::flock(static_cast<int>(fd), LOCK_EX | LOCK_NB) != 0) return -1;
  return static_cast<int>(fd);
}

}  // namespace

std::string problem_lock_path(const std::string& prefix, const std::string& name) {
  return make_file_name(prefix, name, ".lock");
}

LockOutcome take_problem_lock(const std::string& path, ProblemLock& lock, int& error_number) {
  lock = ProblemLock{};
  lock.path = path;
  error_number = 0;
  int fd = inherited_descriptor(path);
  if (fd >= 0) {
    // Closed on exec: only a program that shares its hold passes it on.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    lock.fd = fd;
    lock.under_parent = true;
    return LockOutcome::taken;
  }
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_number = errno;
    return LockOutcome::failed;
  }
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    error_number = errno;
    ::close(fd);
    return error_number == EWOULDBLOCK ? LockOutcome::busy : LockOutcome::failed;
  }
  lock.fd = fd;
  return LockOutcome::taken;
}

void hold_problem_lock(const std::string& path, ProblemLock& lock) {
  int error_number = 0;
  switch (take_problem_lock(path, lock, error_number)) {
    case LockOutcome::taken:
      return;
    case LockOutcome::busy:
      throw FatalError{"",
                       1,
                       false,
                       "Another run is working on this problem in this directory (it holds " + path +
                           "); this run stops without changing any file. Wait until that run ends, or work in "
                           "another directory."};
    case LockOutcome::failed:
      throw FatalError{"", 1, false,
                       "cannot lock " + path + ": " + std::strerror(error_number) +
                           "; without the lock another run could work on the same files, so this run stops."};
  }
}

void share_problem_lock(const ProblemLock& lock) {
  if (lock.fd < 0) return;
  ::fcntl(lock.fd, F_SETFD, 0);
  ::setenv(HELD_LOCK_VARIABLE, std::to_string(lock.fd).c_str(), 1);
}

void release_problem_lock(ProblemLock& lock) {
  if (lock.fd >= 0) ::close(lock.fd);
  lock.fd = -1;
  lock.under_parent = false;
}

}  // namespace common
