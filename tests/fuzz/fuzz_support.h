// What the fuzz targets share: a quiet console, a private scratch directory
// for the readers that open files by name, and a stop that every fuzzer and
// the replay see as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The readers report on the console; thousands of runs a second of that only
// slow the fuzzer down. Idempotent.
void silence_console();

// A directory of this process's own, made on first use and removed at exit.
const std::string& scratch_dir();

// Writes the bytes to scratch_dir() + name and gives the full path.
std::string scratch_file(const std::string& name, const uint8_t* data, size_t size);

// A broken invariant: prints what and aborts, which the fuzzer records as a
// crash with the input that caused it.
[[noreturn]] void invariant_failed(const char* what);
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) invariant_failed(#condition); \
  } while (0)
