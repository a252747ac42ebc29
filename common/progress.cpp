#include "common/progress.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace common {

namespace {
// Whether the cursor of standard error stands at the end of a progress line.
// One terminal, one such line: it belongs to the program, not to a Progress.
bool line_open = false;
}  // namespace

Progress start_progress() {
  Progress progress;
  progress.shown = isatty(STDERR_FILENO) != 0;
  progress.start = std::chrono::steady_clock::now();
  return progress;
}

void show_progress(const Progress& progress, const char* format, ...) {
  if (!progress.shown) return;
  const auto elapsed = std::chrono::steady_clock::now() - progress.start;
  const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  std::fflush(stdout);
  std::fputc('\r', stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  // The elapsed time, then the rest of a longer earlier line erased.
  std::fprintf(stderr, ", %02ld:%02ld:%02ld\x1b[K", seconds / 3600, seconds / 60 % 60, seconds % 60);
  std::fflush(stderr);
  line_open = true;
}

void close_progress_line() {
  if (!line_open) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  line_open = false;
}

}  // namespace common
