// Runs a real program in a directory, feeding its standard input, and takes
// its exit status and console output; plus the masking of dates and clock
// times for comparing report files.
#pragma once

#include <string>
#include <vector>

#include "tests/support/files.h"

struct ProgramResult {
  int exit_code = -1;  // -1 when it ended by a signal
  int signal = 0;
  std::string output;  // standard output and standard error
};

struct RunLimits {
  int timeout_seconds = 120;
  // Standard input stays open and empty until the program ends, so that a
  // program that waits for a key runs into the timeout; otherwise it holds
  // `input` and ends.
  bool keep_stdin_open = false;
  std::string input;
  // Largest file the program and its children may write, 0 for no limit; a
  // write beyond it fails (as on a full disk) instead of ending the program.
  long file_size_limit = 0;
  // Largest address space of the program in bytes, 0 for no limit: an
  // allocation beyond it fails.
  long memory_limit = 0;
  // When set, `interrupt_signal` is sent to the program as soon as the file
  // `interrupt_when_exists` is there (a run in the middle of its work).
  int interrupt_signal = 0;
  std::string interrupt_when_exists;
  // "NAME=value" settings the program gets besides the test's environment.
  std::vector<std::string> environment;
};
ProgramResult run_limited(const std::string& program, const std::string& dir, const RunLimits& limits);

ProgramResult run_program(const std::string& program, const std::string& dir, const std::string& input = "",
                          int timeout_seconds = 120);

// Replaces calendar dates ("Mon Dec  7 23:19:21 2026"), clock times and
// durations ("00:00:00"), and elapsed seconds by fixed marks.
std::string mask_times(const std::string& text);

