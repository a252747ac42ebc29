// Tovarin: solves the vehicle scheduling problem "Tarsel" of the current
// directory. It reads no arguments.
#include <cstdio>
#include <memory>

#include "common/common.h"
#include "solver/run.h"

int main() {
  auto run = std::make_unique<SolverRun>();
  try {
    run_solver(*run);
  } catch (const FatalError& error) {
    close_run_files(*run);
    return report_fatal(error);
  }
  std::fflush(stdout);
  return 0;
}
