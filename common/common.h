// Helpers shared by the solver and the annealers: minutes split into hours and
// minutes, names cut at their first blank, file names built from the fixed
// problem name, and the one way a fatal error ends a program.
#pragma once

#include <cstdarg>
#include <string>

namespace common {

// Every program works on files named prefix + problem name + extension in the
// current directory.
inline constexpr const char* PROBLEM_NAME = "Tarsel";
inline constexpr int FILE_NAME_CAPACITY = 150;

// Truncating signed division on purpose: -5 minutes gives 0 hours and -5
// minutes, which the reports print as "00:-5".
void split_minutes(int total_minutes, int& hours, int& minutes);

// A duration of whole seconds as the reports print it: "%02d:%02d:%02d" of
// hours, minutes and seconds.
std::string format_hh_mm_ss(int seconds);

// Ends the text at its first blank; returns the number of characters kept.
int cut_at_blank(char* text);

// prefix + name + extension, cut to the 149 characters the fixed buffer holds.
std::string make_file_name(const std::string& prefix, const std::string& name, const char* extension);

// vsnprintf into a string of the length it needs; the format itself when it
// cannot be formatted.
std::string vformat(const char* format, va_list args);

// A fatal error travels as an exception up to main, which prints the message,
// pauses (reads one character) when asked to, and ends with the exit code.
// Tests catch it instead. The message is the console text the programs have
// always printed; what it leaves out (which file, the system's reason) is the
// detail, printed as a line of its own on standard error.
struct FatalError {
  std::string message;
  int exit_code = 1;
  bool pause = true;
  std::string detail;
  // The message is the system's own explanation rather than one of the
  // console texts the programs have always printed: it goes to standard
  // error, so that standard output carries those texts alone.
  bool to_stderr = false;
};

// printf-style; throws FatalError with the formatted message.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatal_without_pause(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatal_with(int exit_code, bool pause, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// As fatal, with a detail line.
[[noreturn]] void fatal_with_detail(const std::string& detail, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// As fatal, for a message of the system's own (to_stderr).
[[noreturn]] void fatal_diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints the message on the console, pauses if asked, returns the exit code.
int report_fatal(const FatalError& error);

// Reads one character from standard input: the programs' "press a key".
void pause_for_key();

}  // namespace common
