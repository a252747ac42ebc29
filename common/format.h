// printf into a string, for the reports and files that are built in memory
// and written in large pieces.
#pragma once

#include <cstdarg>
#include <string>

namespace common {

// Appends what printf writes for the format; false (nothing appended) when
// the format cannot be written.
bool append_format(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool append_vformat(std::string& text, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

}  // namespace common
