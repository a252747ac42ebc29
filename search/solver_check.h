// A real Tovarin run on a timetable, in a scratch directory of its own, to
// confirm what the in-process evaluation says: the Tovarin beside this
// program's executable (else the one on the search path), as the annealers
// find it.
#pragma once

#include <cstdint>
#include <string>

namespace search {

struct SolverCheck {
  bool ran = false;      // Tovarin ended with exit code 0 and left a solution
  int64_t total_cost = 0;  // Tarsel.sol
  int vehicles = 0;        // "Num Buses:" of Tarsel.arm
  std::string failure;     // why it did not run, with Tovarin's console
};

// Solves the trip file text with the parameter file and the optional groups
// file of problem_dir (ending in '/').
SolverCheck check_with_solver(const std::string& problem_dir, const std::string& trip_file);

// SIGTERM, SIGINT and SIGHUP only note that the run must stop (and end a
// Tovarin being waited for), so that the program removes its scratch
// directory and leaves the problem's files as they were. Once, early in main.
void install_stop_handlers();
// The signal that asked the run to stop; 0 while none did.
int stop_signal();

}  // namespace search
