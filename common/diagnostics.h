// What the programs say on standard error beside their console texts:
// warnings about input they read leniently. Standard output is flushed
// first, so that a console that shows both keeps them in order.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace common {

// printf-style, on standard error.
void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A value read by the old lenient rules (a number cut at its first
// non-digit, characters left over in its field): `file line N: FIELD "TEXT"
// read as VALUE`. Muted when the file, or the part of it the value lies in
// (`part`, e.g. MATRIX_PART), is in the list below.
void warn_lenient_value(const std::string& file_name, int line, const std::string& field,
                        const std::string& text, const std::string& value_used, const char* part = nullptr);

// A program that runs the solver again and again on input files that stay as
// they are (the annealers) names those files here once a solver run has read
// them; the solver runs it starts later keep quiet about their lenient values,
// which the first one has shown. File names as the solver builds them, each
// ending in a line end.
inline constexpr const char* WARNED_FILES_VARIABLE = "TARSEL_WARNED_FILES";

// The dead-run matrix section of a trip file: the annealers copy it from
// their template into every candidate unchanged, so once a solver run has
// read a candidate, "Tarsel.bss" + MATRIX_PART is listed and only warnings
// about the trip lines remain.
inline constexpr const char* MATRIX_PART = " [DEAD_RUN_MATRIX]";

// Adds the files to the variable, for the programs started from now on.
void mark_files_warned(const std::vector<std::string>& file_names);

// For readers of a stream: a number just read from `file`, whose text began
// at offset `start`, was cut at a character that is no digit when the word
// goes on past it; then warns (with the line found by counting). The stream
// is left where it was.
void warn_if_cut(std::FILE* file, long start, const std::string& file_name, const std::string& field,
                 const std::string& value_used);
// Whether the word goes on at the stream's place (neither a blank nor the
// end follows): the cheap test of warn_if_cut, for readers that build the
// warning's texts only when it holds. The stream is left where it was.
bool word_goes_on(std::FILE* file);

// The line (from 1) of the byte at `offset`; the stream is left where it was.
int line_at(std::FILE* file, long offset);

// The value used, as the warning shows it.
std::string shown_int(long long value);
std::string shown_real(double value);
std::string shown_clock(int hours, int minutes);  // hh:mm

}  // namespace common
