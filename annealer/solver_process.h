// Running the solver Tovarin as a child process on the trip file just written.
#pragma once

#include <string>

namespace annealer {

// The Tovarin beside this program's own executable when there is one there,
// otherwise the bare name, looked up along the search path when started.
std::string find_solver();

// Deletes the solution file, so that one left by an earlier run can never be
// taken for this run's, then runs the solver in the current directory with
// its standard input on /dev/null (its fatal errors wait for a key) and waits
// for it. A solver that cannot be started, fails or is killed ends the
// program.
void run_solver_process(const std::string& solver_path, const std::string& solution_file_name);

}  // namespace annealer
