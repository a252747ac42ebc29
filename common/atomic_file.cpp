#include "common/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace common {

bool open_atomic_file(const std::string& path, AtomicFile& out, FileFailure& failure) {
  out = AtomicFile{};
  out.path = path;
  out.new_path = path + ".new";
  // unlink removes a link itself, never its target; anything it cannot
  // remove (a directory) makes the exclusive create below fail.
  if (::unlink(out.new_path.c_str()) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM) {
    failure = FileFailure{out.new_path, "remove", errno};
    return false;
  }
  int fd = ::open(out.new_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    failure = FileFailure{out.new_path, "create", errno};
    return false;
  }
  // Writes are reported under the name the file is known by.
  if (!adopt_checked_descriptor(fd, out.path, out.file, failure)) {
    ::unlink(out.new_path.c_str());
    return false;
  }
  return true;
}

bool commit_atomic_file(AtomicFile& out, FileFailure& failure) {
  if (!is_open(out.file)) return false;
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

bool write_file_atomically(const std::string& path, const std::string& content, FileFailure& failure) {
  AtomicFile out;
  if (!open_atomic_file(path, out, failure)) return false;
  std::fwrite(content.data(), 1, content.size(), out.file.stream);
  return commit_atomic_file(out, failure);
}

}  // namespace common
