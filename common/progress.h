// A line of progress on standard error during long work, rewritten in place
// after every step, so that a user at a terminal sees how far the work is.
// Nothing is shown when standard error is no terminal: logs and pipes get
// only what they always got.
#pragma once

#include <chrono>

namespace common {

struct Progress {
  bool shown = false;
  std::chrono::steady_clock::time_point start;
};

// Starts the clock of the elapsed time shown.
Progress start_progress();

// Rewrites the line with the formatted text and the elapsed time (hh:mm:ss).
void show_progress(const Progress& progress, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Ends a progress line left open, so that what is written next (a warning,
// the prompt of a pause, the end of the work) starts on a line of its own.
void close_progress_line();

}  // namespace common
