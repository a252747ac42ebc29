#include "common/text_cursor.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace common {

namespace {
void translate_line_ends(const std::string& raw, std::string& out) {
  out.clear();
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(raw[i]);
  }
}

void advance(TextCursor& c) {
  if (c.text[c.pos] == '\n') ++c.line;
  ++c.pos;
}

bool is_white(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f'; }
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }
}  // namespace

bool load_text_file(const std::string& file_name, TextCursor& cursor) {
  FILE* f = std::fopen(file_name.c_str(), "rb");
  if (!f) return false;
  std::string raw;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) raw.append(buffer, n);
  std::fclose(f);
  translate_line_ends(raw, cursor.text);
  cursor.pos = 0;
  cursor.line = 1;
  return true;
}

void load_text(const std::string& text, TextCursor& cursor) {
  translate_line_ends(text, cursor.text);
  cursor.pos = 0;
  cursor.line = 1;
}

bool at_end(const TextCursor& c) { return c.pos >= c.text.size(); }

bool read_line(TextCursor& c, std::string& line, int max_chars) {
  line.clear();
  if (at_end(c)) return false;
  while (!at_end(c) && static_cast<int>(line.size()) < max_chars) {
    char ch = c.text[c.pos];
    line.push_back(ch);
    advance(c);
    if (ch == '\n') break;
  }
  return true;
}

void skip_line(TextCursor& c) {
  while (!at_end(c)) {
    char ch = c.text[c.pos];
    advance(c);
    if (ch == '\n') break;
  }
}

bool read_chars(TextCursor& c, int n, std::string& out) {
  out.clear();
  while (!at_end(c) && static_cast<int>(out.size()) < n) {
    out.push_back(c.text[c.pos]);
    advance(c);
  }
  return !out.empty();
}

void skip_white(TextCursor& c) {
  while (!at_end(c) && is_white(c.text[c.pos])) advance(c);
}

bool scan_int(TextCursor& c, int& value) {
  const size_t start_pos = c.pos;
  const int start_line = c.line;
  skip_white(c);
  size_t p = c.pos;
  bool negative = false;
  if (p < c.text.size() && (c.text[p] == '+' || c.text[p] == '-')) {
    negative = c.text[p] == '-';
    ++p;
  }
  if (p >= c.text.size() || !is_digit(c.text[p])) {
    c.pos = start_pos;
    c.line = start_line;
    return false;
  }
  long long v = 0;
  while (p < c.text.size() && is_digit(c.text[p])) {
    // Clamp instead of overflowing; such a number is out of every range anyway.
    if (v < 10000000000LL) v = v * 10 + (c.text[p] - '0');
    ++p;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  value = static_cast<int>(v);
  c.pos = p;
  return true;
}

bool scan_float(TextCursor& c, float& value) {
  const size_t start_pos = c.pos;
  const int start_line = c.line;
  skip_white(c);
  size_t p = c.pos;
  const std::string& t = c.text;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
  size_t digits = 0;
  while (p < t.size() && is_digit(t[p])) ++p, ++digits;
  if (p < t.size() && t[p] == '.') {
    ++p;
    while (p < t.size() && is_digit(t[p])) ++p, ++digits;
  }
  if (digits == 0) {
    c.pos = start_pos;
    c.line = start_line;
    return false;
  }
  if (p < t.size() && (t[p] == 'e' || t[p] == 'E')) {
    size_t q = p + 1;
    if (q < t.size() && (t[q] == '+' || t[q] == '-')) ++q;
    if (q < t.size() && is_digit(t[q])) {
      while (q < t.size() && is_digit(t[q])) ++q;
      p = q;
    }
  }
  value = std::strtof(t.substr(c.pos, p - c.pos).c_str(), nullptr);
  c.pos = p;
  return true;
}

bool scan_char(TextCursor& c, char& ch) {
  if (at_end(c)) return false;
  ch = c.text[c.pos];
  advance(c);
  return true;
}

bool scan_word(TextCursor& c, std::string& word) {
  word.clear();
  skip_white(c);
  while (!at_end(c) && !is_white(c.text[c.pos])) {
    word.push_back(c.text[c.pos]);
    advance(c);
  }
  return !word.empty();
}

std::string rest_of_line(TextCursor& c) {
  size_t end = c.text.find('\n', c.pos);
  if (end == std::string::npos) end = c.text.size();
  std::string out = c.text.substr(c.pos, end - c.pos);
  c.pos = end;
  return out;
}

int field_to_int(const std::string& field) {
  size_t p = 0;
  while (p < field.size() && is_white(field[p])) ++p;
  bool negative = false;
  if (p < field.size() && (field[p] == '+' || field[p] == '-')) negative = field[p++] == '-';
  int v = 0;
  while (p < field.size() && is_digit(field[p])) v = v * 10 + (field[p++] - '0');
  return negative ? -v : v;
}

bool is_whole_number_field(const std::string& field) {
  size_t p = 0;
  while (p < field.size() && field[p] == ' ') ++p;
  if (p < field.size() && (field[p] == '+' || field[p] == '-')) ++p;
  size_t digits = p;
  while (p < field.size() && is_digit(field[p])) ++p;
  return p > digits && p == field.size();
}

}  // namespace common
