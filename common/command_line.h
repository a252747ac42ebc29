// The command line of the three programs. They work on the files of the
// current directory and take no arguments; the only ones they understand ask
// for their usage or their version, and are answered before any file is
// touched.
#pragma once

namespace common {

// Exit code of a program started with arguments it does not understand.
inline constexpr int EXIT_BAD_ARGUMENTS = 2;
// handle_arguments' answer when the program is to run as usual.
inline constexpr int RUN_PROGRAM = -1;

struct ProgramDescription {
  const char* name;
  // What follows the "Usage:" line of --help: what the program does, the
  // files it reads and writes, its exit codes.
  const char* usage;
};

// RUN_PROGRAM without arguments. Otherwise the exit code to end with at once:
// 0 after --help, -h or --version (answered on standard output), and
// EXIT_BAD_ARGUMENTS after anything else (a usage message on standard error).
int handle_arguments(int argc, const char* const* argv, const ProgramDescription& program);

}  // namespace common
