#include "common/command_line.h"

#include <cstdio>
#include <cstring>

namespace common {

#ifndef TARSEL_VERSION
#define TARSEL_VERSION "unknown"
#endif

namespace {
void print_usage_line(std::FILE* stream, const char* name) {
  std::fprintf(stream, "Usage: %s [--help | --version]\n", name);
}
}  // namespace

int handle_arguments(int argc, const char* const* argv, const ProgramDescription& program) {
  if (argc <= 1) return RUN_PROGRAM;
  const char* argument = argv[1];
  if (argc == 2 && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)) {
    print_usage_line(stdout, program.name);
    std::fprintf(stdout, "\n%s", program.usage);
    std::fflush(stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argument, "--version") == 0) {
    std::printf("%s %s\n", program.name, TARSEL_VERSION);
    std::fflush(stdout);
    return 0;
  }
  // The one argument that is not understood; a second one after --help or
  // --version is not understood either.
  const char* offending = argument;
  if (argc > 2 && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
                   std::strcmp(argument, "--version") == 0))
    offending = argv[2];
  std::fprintf(stderr, "%s: unexpected argument \"%s\"\n", program.name, offending);
  print_usage_line(stderr, program.name);
  std::fprintf(stderr, "Run \"%s --help\" for what it does and the files it uses.\n", program.name);
  return EXIT_BAD_ARGUMENTS;
}

}  // namespace common
