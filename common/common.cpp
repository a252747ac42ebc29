#include "common/common.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "common/format.h"
#include "common/progress.h"

namespace common {

void split_minutes(int total_minutes, int& hours, int& minutes) {
  hours = total_minutes / 60;
  minutes = total_minutes % 60;
}

std::string format_hh_mm_ss(int seconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
  return text;
}

int cut_at_blank(char* text) {
  int n = 0;
  while (text[n] != '\0' && text[n] != ' ') ++n;
  text[n] = '\0';
  return n;
}

std::string make_file_name(const std::string& prefix, const std::string& name, const char* extension) {
  std::string result = prefix + name + extension;
  if (result.size() > FILE_NAME_CAPACITY - 1) result.resize(FILE_NAME_CAPACITY - 1);
  return result;
}

std::string vformat(const char* format, va_list args) {
  std::string text;
  if (!append_vformat(text, format, args)) return format;
  return text;
}

void fatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FatalError error{vformat(format, args), 1, true, {}};
  va_end(args);
  throw error;
}

void fatal_without_pause(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FatalError error{vformat(format, args), 1, false, {}};
  va_end(args);
  throw error;
}

void fatal_with(int exit_code, bool pause, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FatalError error{vformat(format, args), exit_code, pause, {}};
  va_end(args);
  throw error;
}

void fatal_with_detail(const std::string& detail, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FatalError error{vformat(format, args), 1, true, detail};
  va_end(args);
  throw error;
}

void fatal_diagnostic(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FatalError error;
  error.message = vformat(format, args);
  error.to_stderr = true;
  va_end(args);
  throw error;
}

void pause_for_key() {
  std::fflush(stdout);
  // At a terminal a bare pause looks like a hang; through a pipe or a file
  // the prompt would only be noise.
  if (isatty(STDIN_FILENO)) {
    close_progress_line();
    std::fputs("press Enter", stderr);
    std::fflush(stderr);
  }
  (void)std::getchar();
}

int report_fatal(const FatalError& error) {
  std::fflush(stdout);
  close_progress_line();
  std::fputs(error.message.c_str(), error.to_stderr ? stderr : stdout);
  std::fflush(error.to_stderr ? stderr : stdout);
  if (!error.detail.empty()) std::fprintf(stderr, "%s\n", error.detail.c_str());
  if (error.pause) pause_for_key();
  return error.exit_code;
}

}  // namespace common
