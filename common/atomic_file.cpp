#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace common {

namespace {

// NAME.new made afresh: a descriptor for writing, or -1 with the failure.
int create_new_file(const std::string& new_path, FileFailure& failure) {
  // unlink removes a link itself, never its target; anything it cannot
  // remove (a directory) makes the exclusive create below fail.
  if (::unlink(new_path.c_str()) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM) {
    failure = FileFailure{new_path, "remove", errno};
    return -1;
  }
  int fd = ::open(new_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) failure = FileFailure{new_path, "create", errno};
  return fd;
}

// The spare of the last exchange, if it is still this run's own: a regular
// file with no other name, which may be written over. -1 otherwise.
int reopen_spare(const std::string& spare_path, off_t& size) {
  // Not blocking on a FIFO put in the spare's place.
  int fd = ::open(spare_path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
    ::close(fd);
    return -1;
  }
  size = status.st_size;
  return fd;
}

}  // namespace

bool open_atomic_file(const std::string& path, AtomicFile& out, FileFailure& failure) {
  out = AtomicFile{};
  out.path = path;
  out.new_path = path + ".new";
  int fd = create_new_file(out.new_path, failure);
  if (fd < 0) return false;
  // Writes are reported under the name the file is known by.
  if (!adopt_checked_descriptor(fd, out.path, out.file, failure)) {
    ::unlink(out.new_path.c_str());
    return false;
  }
  return true;
}

namespace {

// Flushes, waits for the disk and closes; on a failure removes the new file.
bool finish_new_file(AtomicFile& out, FileFailure& failure) {
  bool ok = flush_checked_file(out.file, failure);
  if (ok && ::fsync(checked_descriptor(out.file)) != 0) {
    failure = FileFailure{out.path, "write", errno};
    ok = false;
  }
  FileFailure at_close;
  if (!close_checked_file(out.file, at_close) && ok) {
    failure = at_close;
    ok = false;
  }
  if (!ok) ::unlink(out.new_path.c_str());
  return ok;
}

}  // namespace

bool stage_file(const std::string& path, const std::string& content, FileFailure& failure) {
  AtomicFile out;
  if (!open_atomic_file(path, out, failure)) return false;
  std::fwrite(content.data(), 1, content.size(), out.file.stream);
  return finish_new_file(out, failure);
}

bool commit_atomic_file(AtomicFile& out, FileFailure& failure) {
  if (!is_open(out.file)) return false;
  bool ok = finish_new_file(out, failure);
  if (ok && std::rename(out.new_path.c_str(), out.path.c_str()) != 0) {
    failure = FileFailure{out.path, "rename " + out.new_path + " to", errno};
    ok = false;
  }
  if (!ok) ::unlink(out.new_path.c_str());
  return ok;
}

void discard_atomic_file(AtomicFile& out) {
  if (!is_open(out.file)) return;
  drop_checked_file(out.file);
  ::unlink(out.new_path.c_str());
}

RewrittenFile::~RewrittenFile() { remove_spare(*this); }

bool open_rewrite(RewrittenFile& file, FileFailure& failure) {
  file.spare_path = file.path + ".new";
  if (file.fd >= 0) ::close(file.fd);
  file.spare_size = 0;
  file.fd = file.spare_kept ? reopen_spare(file.spare_path, file.spare_size) : -1;
  file.spare_kept = false;
  if (file.fd < 0) file.fd = create_new_file(file.spare_path, failure);
  return file.fd >= 0;
}

bool commit_rewrite(RewrittenFile& file, const std::string& content, FileFailure& failure) {
  if (file.fd < 0) return false;
  const int fd = file.fd;
  file.fd = -1;
  // Failures are reported under the name the file is known by.
  failure = FileFailure{file.path, "write", 0};
  for (size_t done = 0; failure.error_number == 0 && done < content.size();) {
    const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
    if (written > 0) done += static_cast<size_t>(written);
    else if (written == 0) failure.error_number = EIO;
    else if (errno != EINTR) failure.error_number = errno;
  }
  // A spare written over may have held a longer version. The data are on
  // the disk before the names change, so that the name never stands for a
  // version only partly written; the times of the file need no wait.
  const off_t size = static_cast<off_t>(content.size());
  if (failure.error_number == 0 &&
      ((file.spare_size > size && ::ftruncate(fd, size) != 0) || ::fdatasync(fd) != 0))
    failure.error_number = errno;
  if (::close(fd) != 0 && failure.error_number == 0) failure.error_number = errno;
  // Only a regular file is exchanged; anything else in its place meets the
  // rename below, as with a plain atomic write.
  struct stat status {};
  if (failure.error_number == 0 && file.can_exchange && ::lstat(file.path.c_str(), &status) == 0 &&
      S_ISREG(status.st_mode)) {
    if (::renameat2(AT_FDCWD, file.spare_path.c_str(), AT_FDCWD, file.path.c_str(), RENAME_EXCHANGE) == 0) {
      file.spare_kept = true;
      return true;
    }
    // Where the file system cannot exchange names the spare takes the file's
    // place by rename, from now on.
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) file.can_exchange = false;
    else if (errno != ENOENT) failure = FileFailure{file.path, "rename " + file.spare_path + " to", errno};
  }
  if (failure.error_number == 0 && std::rename(file.spare_path.c_str(), file.path.c_str()) != 0)
    failure = FileFailure{file.path, "rename " + file.spare_path + " to", errno};
  if (failure.error_number == 0) return true;
  ::unlink(file.spare_path.c_str());
  return false;
}

void remove_spare(RewrittenFile& file) {
  // A spare opened for a version not yet written is this run's too.
  if (file.spare_kept || file.fd >= 0) ::unlink(file.spare_path.c_str());
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  file.spare_kept = false;
}

bool write_file_atomically(const std::string& path, const std::string& content, FileFailure& failure) {
  AtomicFile out;
  if (!open_atomic_file(path, out, failure)) return false;
  std::fwrite(content.data(), 1, content.size(), out.file.stream);
  return commit_atomic_file(out, failure);
}

}  // namespace common
