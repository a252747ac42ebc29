// Reading of the system's hand-editable text files. A file is taken whole into
// memory, CR LF line ends are translated to LF (as a text-mode stream would),
// and the readers walk it with scanf-like steps that never run past its end.
#pragma once

#include <string>

namespace common {

struct TextCursor {
  std::string text;
  size_t pos = 0;
  int line = 1;  // line number of the character at pos, for messages
};

// Loads a file; false when it cannot be opened.
bool load_text_file(const std::string& file_name, TextCursor& cursor);
// Loads text held in memory (tests, fuzzing).
void load_text(const std::string& text, TextCursor& cursor);

bool at_end(const TextCursor& cursor);
// Up to max_chars characters or through the next line end, like fgets into a
// buffer of max_chars + 1; false at the end of the text.
bool read_line(TextCursor& cursor, std::string& line, int max_chars = 149);
// Skips through the next line end (or to the end of the text).
void skip_line(TextCursor& cursor);
// Exactly n characters when they are there (fewer at the end); false when none.
bool read_chars(TextCursor& cursor, int n, std::string& out);
void skip_white(TextCursor& cursor);
// "%d": blanks and line ends first, an optional sign, digits. Leaves the cursor
// where it was when no number follows.
bool scan_int(TextCursor& cursor, int& value);
// "%f" for plain decimal numbers (sign, digits, point, exponent).
bool scan_float(TextCursor& cursor, float& value);
// "%c": one character, white space included.
bool scan_char(TextCursor& cursor, char& c);
// "%s": white space first, then a word of non-blank characters.
bool scan_word(TextCursor& cursor, std::string& word);

// The rest of the current line (without its line end); the cursor stops at the
// line end, which it leaves unread.
std::string rest_of_line(TextCursor& cursor);

// Decimal conversion of a fixed field as atol does it: leading blanks, an
// optional sign, digits up to the first non-digit; 0 when there are none.
int field_to_int(const std::string& field);

// Whether such a field is a number and nothing else: blanks, an optional
// sign, at least one digit, and nothing after them.
bool is_whole_number_field(const std::string& field);

}  // namespace common
