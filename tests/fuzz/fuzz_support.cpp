#include "tests/fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

void silence_console() {
  static bool done = false;
  if (done) return;
  done = true;
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

namespace {
std::string made_dir;
void remove_scratch_dir() {
  std::error_code ignored;
  if (!made_dir.empty()) std::filesystem::remove_all(made_dir, ignored);
}
}  // namespace

const std::string& scratch_dir() {
  if (made_dir.empty()) {
    std::string base = std::filesystem::temp_directory_path().string() + "/tarsel-fuzz-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) std::abort();
    made_dir = base + "/";
    std::atexit(remove_scratch_dir);
  }
  return made_dir;
}

std::string scratch_file(const std::string& name, const uint8_t* data, size_t size) {
  std::string path = scratch_dir() + name;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    ssize_t w = ::write(fd, data + done, size - done);
    if (w <= 0) std::abort();
    done += static_cast<size_t>(w);
  }
  ::close(fd);
  return path;
}

void invariant_failed(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}
