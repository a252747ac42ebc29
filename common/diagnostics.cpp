#include "common/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/progress.h"

namespace common {

void warning(const char* format, ...) {
  std::fflush(stdout);
  close_progress_line();
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

namespace {
// Each name stands between line ends.
std::string warned_files() {
  std::string list = "\n";
  if (const char* value = std::getenv(WARNED_FILES_VARIABLE)) list += value;
  return list;
}
bool is_warned(const std::string& list, const std::string& file_name) {
  return list.find("\n" + file_name + "\n") != std::string::npos;
}
}  // namespace

void mark_files_warned(const std::vector<std::string>& file_names) {
  std::string list = warned_files();
  for (const std::string& name : file_names)
    if (!is_warned(list, name)) list += name + "\n";
  ::setenv(WARNED_FILES_VARIABLE, list.c_str() + 1, 1);
}

void warn_lenient_value(const std::string& file_name, int line, const std::string& field,
                        const std::string& text, const std::string& value_used, const char* part) {
  const std::string list = warned_files();
  if (is_warned(list, file_name) || (part != nullptr && is_warned(list, file_name + part))) return;
  warning("%s line %d: %s \"%s\" read as %s\n", file_name.c_str(), line, field.c_str(), text.c_str(),
          value_used.c_str());
}

namespace {
bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

int line_at(std::FILE* file, long offset) {
  const long here = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  int line = 1;
  for (long p = 0; p < offset; ++p) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (c == '\n') ++line;
  }
  std::fseek(file, here, SEEK_SET);
  return line;
}

bool word_goes_on(std::FILE* file) {
  const int next = std::getc(file);
  if (next == EOF) {
    // As if nothing had been read: the end is for the reader to meet.
    std::fseek(file, 0, SEEK_CUR);
    return false;
  }
  std::ungetc(next, file);
  return !is_blank(next);
}

void warn_if_cut(std::FILE* file, long start, const std::string& file_name, const std::string& field,
                 const std::string& value_used) {
  const long after = std::ftell(file);
  if (after < 0 || start < 0 || !word_goes_on(file)) return;

  int line = line_at(file, start);
  std::fseek(file, start, SEEK_SET);
  // The number begins after the blanks that the scan skipped.
  std::string text;
  for (long p = start; p < after; ++p) {
    int c = std::getc(file);
    if (text.empty() && is_blank(c)) {
      if (c == '\n') ++line;
      continue;
    }
    text.push_back(static_cast<char>(c));
  }
  for (int c = std::getc(file); c != EOF && !is_blank(c); c = std::getc(file)) text.push_back(static_cast<char>(c));
  std::fseek(file, after, SEEK_SET);
  warn_lenient_value(file_name, line, field, text, value_used);
}

std::string shown_int(long long value) { return std::to_string(value); }

std::string shown_real(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string shown_clock(int hours, int minutes) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", hours, minutes);
  return text;
}

}  // namespace common
