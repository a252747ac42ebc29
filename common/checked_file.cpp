#include "common/checked_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace common {

struct CheckedFileState {
  int fd = -1;
  int error_number = 0;  // first failure
  const char* action = "write";
};

namespace {

void note(CheckedFileState& state, int error_number, const char* action) {
  if (state.error_number != 0) return;
  state.error_number = error_number != 0 ? error_number : EIO;
  state.action = action;
}

// After the first failure nothing more reaches the file, so that what stands
// there is a prefix of what was meant and never a patchwork.
ssize_t write_all(void* cookie, const char* data, size_t size) {
  auto& state = *static_cast<CheckedFileState*>(cookie);
  if (state.error_number != 0) return -1;
  size_t done = 0;
  while (done < size) {
    ssize_t w = ::write(state.fd, data + done, size - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      note(state, w < 0 ? errno : EIO, "write");
      return -1;
    }
    done += static_cast<size_t>(w);
  }
  return static_cast<ssize_t>(size);
}

int close_descriptor(void* cookie) {
  auto& state = *static_cast<CheckedFileState*>(cookie);
  if (state.fd >= 0 && ::close(state.fd) != 0) note(state, errno, "close");
  state.fd = -1;
  return state.error_number == 0 ? 0 : -1;
}

bool failed(const CheckedFile& file, FileFailure& failure) {
  if (file.state == nullptr || file.state->error_number == 0) return false;
  failure = FileFailure{file.path, file.state->action, file.state->error_number};
  return true;
}

}  // namespace

std::string FileFailure::text() const {
  return "cannot " + action + " " + path + ": " + std::strerror(error_number);
}

bool adopt_checked_descriptor(int fd, const std::string& path, CheckedFile& file, FileFailure& failure) {
  auto* state = new CheckedFileState{fd, 0, "write"};
  cookie_io_functions_t functions{nullptr, write_all, nullptr, close_descriptor};
  std::FILE* stream = fopencookie(state, "w", functions);
  if (stream == nullptr) {
    failure = FileFailure{path, "write", errno != 0 ? errno : ENOMEM};
    ::close(fd);
    delete state;
    return false;
  }
  file = CheckedFile{stream, path, state};
  return true;
}

bool open_checked_file(const std::string& path, CheckedFile& file, FileFailure& failure) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    failure = FileFailure{path, "create", errno};
    return false;
  }
  return adopt_checked_descriptor(fd, path, file, failure);
}

bool is_open(const CheckedFile& file) { return file.stream != nullptr; }

int checked_descriptor(const CheckedFile& file) { return file.state != nullptr ? file.state->fd : -1; }

bool flush_checked_file(CheckedFile& file, FileFailure& failure) {
  if (file.stream == nullptr) return true;
  std::fflush(file.stream);
  return !failed(file, failure);
}

bool close_checked_file(CheckedFile& file, FileFailure& failure) {
  if (file.stream == nullptr) return true;
  std::fclose(file.stream);
  bool ok = !failed(file, failure);
  delete file.state;
  file = CheckedFile{};
  return ok;
}

void drop_checked_file(CheckedFile& file) {
  FileFailure ignored;
  close_checked_file(file, ignored);
}

}  // namespace common
