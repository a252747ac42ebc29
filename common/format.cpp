#include "common/format.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "common/common.h"

namespace common {

namespace {

// The text of one call, gathered on the stack and appended at the end.
struct Out {
  explicit Out(std::string& into) : text(into) {}
  std::string& text;
  char buffer[512];  // left unset: only what is written is read
  size_t used = 0;

  void spill() {
    text.append(buffer, used);
    used = 0;
  }
  // Where n more bytes go in the buffer; none when they go straight to the text.
  char* room(size_t n) {
    if (used + n > sizeof buffer) {
      spill();
      if (n > sizeof buffer) return nullptr;
    }
    char* at = buffer + used;
    used += n;
    return at;
  }
  void put(const char* data, size_t n) {
    if (char* at = room(n))
      std::memcpy(at, data, n);
    else
      text.append(data, n);
  }
  void put(char c) { *room(1) = c; }
  void repeat(char c, size_t n) {
    if (char* at = room(n))
      std::memset(at, c, n);
    else
      text.append(n, c);
  }
};

void put_padded(Out& out, const char* first, size_t length, bool negative, bool left, char fill, int width) {
  const size_t used = length + (negative ? 1 : 0);
  const size_t padding = width > 0 && static_cast<size_t>(width) > used ? static_cast<size_t>(width) - used : 0;
  if (!left && fill == ' ') out.repeat(' ', padding);
  if (negative) out.put('-');
  if (!left && fill == '0') out.repeat('0', padding);
  out.put(first, length);
  if (left) out.repeat(' ', padding);
}

// %d with the flags '-' and '0' and a width.
void put_integer(Out& out, long long value, bool left, bool zero, int width) {
  char digits[24];
  char* const end = digits + sizeof digits;
  char* first = end;
  unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  do {
    *--first = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  put_padded(out, first, static_cast<size_t>(end - first), value < 0, left, zero && !left ? '0' : ' ', width);
}

// One conversion through the library: the floating ones, and a string that
// is no string.
template <class... T>
void put_converted(Out& out, const char* spec, T... values) {
  char line[128];
  const int size = std::snprintf(line, sizeof line, spec, values...);
  if (size < 0) return;
  if (static_cast<size_t>(size) < sizeof line) {
    out.put(line, static_cast<size_t>(size));
    return;
  }
  std::string longer(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(longer.data(), longer.size(), spec, values...);
  out.put(longer.data(), static_cast<size_t>(size));
}

// One conversion of a format, as far as this formatter takes them.
struct Conversion {
  bool left = false, zero = false;
  bool width_argument = false, precision_argument = false;
  int width = -1, precision = -1;
  int longs = 0;  // 'l' length modifiers
  char letter = 0;
  const char* end = nullptr;  // just past it
};

bool is_floating(char c) { return std::strchr("fFeEgGaA", c) != nullptr; }

int read_number(const char*& s) {
  int n = 0;
  while (*s >= '0' && *s <= '9' && n < 100000) n = n * 10 + (*s++ - '0');
  return n;
}

// Reads the conversion that follows a '%'; false for one that the library
// formats instead.
bool read_conversion(const char* s, Conversion& c) {
  for (;; ++s) {
    if (*s == '-')
      c.left = true;
    else if (*s == '0')
      c.zero = true;
    else
      break;
  }
  if (*s == '*') {
    c.width_argument = true;
    ++s;
  } else if (*s >= '0' && *s <= '9') {
    c.width = read_number(s);
  }
  if (*s == '.') {
    ++s;
    if (*s == '*') {
      c.precision_argument = true;
      ++s;
    } else {
      c.precision = read_number(s);
    }
  }
  while (*s == 'l' && c.longs < 2) {
    ++c.longs;
    ++s;
  }
  c.letter = *s;
  c.end = s + 1;
  const bool has_precision = c.precision >= 0 || c.precision_argument;
  switch (c.letter) {
    case '%':
      return true;
    case 'd':
    case 'i':
      return !has_precision;
    case 's':
      return !c.zero && c.longs == 0;
    default:
      return is_floating(c.letter) && c.longs == 0;
  }
}

// Appends a number's digits to a conversion being written out again.
char* put_number(char* at, int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *at++ = digits[--n];
  return at;
}

}  // namespace

void append_vformat(std::string& text, const char* format, va_list args) {
  // A format with a conversion this formatter leaves to the library goes to
  // it whole, from the start.
  va_list whole;
  va_copy(whole, args);
  const size_t start = text.size();
  Out out(text);
  const char* p = format;
  for (;;) {
    const char* percent = p;
    while (*percent != '\0' && *percent != '%') ++percent;
    out.put(p, static_cast<size_t>(percent - p));
    if (*percent == '\0') break;
    Conversion c;
    if (!read_conversion(percent + 1, c)) {
      text.resize(start);
      text += vformat(format, whole);
      va_end(whole);
      return;
    }
    p = c.end;
    if (c.width_argument) {
      c.width = va_arg(args, int);
      if (c.width < 0) {  // as printf takes it: the '-' flag and the width
        c.left = true;
        c.width = c.width == INT_MIN ? INT_MAX : -c.width;
      }
    }
    if (c.precision_argument) c.precision = std::max(va_arg(args, int), -1);  // a negative one is none

    if (c.letter == '%') {
      out.put('%');
    } else if (c.letter == 'd' || c.letter == 'i') {
      const long long value = c.longs == 2   ? va_arg(args, long long)
                              : c.longs == 1 ? va_arg(args, long)
                                             : va_arg(args, int);
      put_integer(out, value, c.left, c.zero, c.width);
    } else if (c.letter == 's') {
      const char* value = va_arg(args, const char*);
      if (value != nullptr) {
        const size_t n = c.precision >= 0 ? strnlen(value, static_cast<size_t>(c.precision)) : std::strlen(value);
        put_padded(out, value, n, false, c.left, ' ', c.width);
      } else {
        put_converted(out, c.left ? "%-*.*s" : "%*.*s", std::max(c.width, 0), c.precision, value);
      }
    } else {
      char spec[40];
      char* at = spec;
      *at++ = '%';
      if (c.left) *at++ = '-';
      if (c.zero) *at++ = '0';
      if (c.width >= 0) at = put_number(at, c.width);
      if (c.precision >= 0) {
        *at++ = '.';
        at = put_number(at, c.precision);
      }
      *at++ = c.letter;
      *at = '\0';
      put_converted(out, spec, va_arg(args, double));
    }
  }
  out.spill();
  va_end(whole);
}

void append_format(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append_vformat(text, format, args);
  va_end(args);
}

}  // namespace common
