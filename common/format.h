// printf into a string, for the reports and files that are written line by
// line: tens of thousands of lines a run, where the library's own formatting
// costs more than the rest of writing them.
#pragma once

#include <cstdarg>
#include <string>

namespace common {

// Appends what printf writes for the format. %d and %s (with the flags '-'
// and '0', widths, and for %s a precision) are done here, the floating
// conversions by snprintf one at a time; a format with any other conversion
// goes to vsnprintf whole.
void append_format(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append_vformat(std::string& text, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

}  // namespace common
