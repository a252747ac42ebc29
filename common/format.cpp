#include "common/format.h"

#include <cstdio>

namespace common {

bool append_vformat(std::string& text, const char* format, va_list args) {
  // Most lines fit the stack buffer; a longer one is formatted again, straight
  // into the string.
  char line[256];
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(line, sizeof line, format, args);
  if (size >= 0 && static_cast<size_t>(size) < sizeof line) {
    text.append(line, static_cast<size_t>(size));
  } else if (size >= 0) {
    const size_t start = text.size();
    text.resize(start + static_cast<size_t>(size) + 1);
    std::vsnprintf(text.data() + start, static_cast<size_t>(size) + 1, format, again);
    text.resize(start + static_cast<size_t>(size));
  }
  va_end(again);
  return size >= 0;
}

bool append_format(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool written = append_vformat(text, format, args);
  va_end(args);
  return written;
}

}  // namespace common
