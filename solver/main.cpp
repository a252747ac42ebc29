// Tovarin: solves the vehicle scheduling problem "Tarsel" of the current
// directory. Its only arguments ask for its usage or its version.
#include <malloc.h>

#include <cstdio>
#include <memory>

#include "common/command_line.h"
#include "common/common.h"
#include "common/run_end.h"
#include "solver/run.h"

using namespace common;
using namespace solver;

namespace {

constexpr ProgramDescription TOVARIN{
    "Tovarin",
    "Finds the cheapest vehicle blocks, from one depot, that cover every trip of the\n"
    "problem Tarsel in the current directory once.\n"
    "\n"
    "Reads:   Tarsel.ini   parameters\n"
    "         Tarsel.bss   terminals, dead-run matrix and trips\n"
    "         Tarsel.prr   link preference groups (optional)\n"
    "Writes:  Tarsel.log, Tarsel.est, Tarsel.lus   run log, solves, long arcs used\n"
    "         Tarsel.arm   flow report\n"
    "         Tarsel.sol   total cost\n"
    "         Tarsel.bla   vehicle blocks and statistics\n"
    "         temp.lng     long connections, while it runs\n"
    "Progress goes to standard output, warnings and error details to standard error.\n"
    "\n"
    "Exit codes: 0 solved; 1 error (after its message it waits for a key, except when\n"
    "the problem is beyond the limits); 2 arguments not understood.\n",
};

}  // namespace

int main(int argc, char** argv) {
  if (int code = handle_arguments(argc, argv, TOVARIN); code != RUN_PROGRAM) return code;
  install_interrupt_handlers();
  // The buffers of a pass and of a solve, made again for every one, then come
  // from memory the allocator keeps rather than from fresh pages each time;
  // the arc tables, far larger, still come from fresh zeroed pages.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  std::unique_ptr<SolverRun> run;
  try {
    run = std::make_unique<SolverRun>();
    run_solver(*run);
  } catch (const FatalError& error) {
    if (run) close_run_files(*run);
    return report_fatal(error);
  } catch (...) {
    if (run) close_run_files(*run);
    return report_unexpected_exception();
  }
  std::fflush(stdout);
  return 0;
}
