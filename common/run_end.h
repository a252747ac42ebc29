// How a run ends when it cannot finish: on SIGTERM, SIGINT or SIGHUP the
// files registered here (scratch files that only this run uses) are removed,
// a child that is being waited for is asked to end too, and the program ends
// with exit code 1; an exception that no part of the program expects (out of
// memory above all) becomes a message and exit code 1 instead of an abort.
#pragma once

#include <sys/types.h>

#include <string>

namespace common {

// Once per program, at the start of main.
void install_interrupt_handlers();

// A file removed if a signal ends the run; at most a few at a time. Forget it
// once the run has removed it or handed it on.
void remove_on_interrupt(const std::string& path);
void forget_on_interrupt(const std::string& path);

// The child process a signal must end with this one; 0 for none.
void end_child_on_interrupt(pid_t child);

// For a catch (...) in main: names what was thrown on standard error, pauses
// (reads one character) and returns exit code 1.
int report_unexpected_exception();

}  // namespace common
