// Lurrick: the batch annealer. After the common start-up it anneals at once
// from a fixed temperature, pausing after every temperature, and hands on the
// best timetable found with the shift of every trip.
#include "annealer/best_timetable.h"
#include "annealer/move.h"
#include "annealer/program.h"
#include "annealer/solver_process.h"
#include "common/command_line.h"
#include "common/common.h"
#include "common/run_end.h"

using namespace common;
using namespace annealer;

namespace {

constexpr ProgramDescription LURRICK{
    "Lurrick",
    "Improves the timetable of the problem Tarsel in the current directory by\n"
    "simulated annealing: shifts one departure at a time by 1 to 3 minutes (at most\n"
    "3 from the timetable read), prices each candidate with Tovarin (the one beside\n"
    "this program, else the one on the PATH) and keeps the cheaper ones. Starts at\n"
    "temperature 10: 25 solver runs, a pause after each temperature.\n"
    "\n"
    "Reads:   Tarsel.bss   the timetable (at most 1500 trips, 20 terminals)\n"
    "         Teste.mvm    the dead-run matrix section copied into each trip file\n"
    "         Tarsel.sol   each candidate's cost, from Tovarin\n"
    "Writes:  Tarsel.bss   rewritten before every solver run: keep a copy of yours\n"
    "         Tarsel_best.bss    the best timetable found, as a trip file\n"
    "         Tarsel_shifts.csv  each trip read with its departure before and after\n"
    "         and, through Tovarin, its reports (Tarsel.log, .est, .lus, .arm, .sol, .bla)\n"
    "Standard input: a key (Enter) at every pause.\n"
    "\n"
    "Exit codes: 0 done; 1 error (after its message and a pause); 2 arguments not\n"
    "understood.\n",
};

constexpr AnnealerSettings LURRICK_SETTINGS{
    .header_value = 5,
    .pause_after_trip_total = false,
    .pause_after_temperature = true,
    .cooling_factor = 0.1,
    .evaluations_per_temperature = 5,
};
constexpr double LURRICK_TEMPERATURE = 10.0;

int run_lurrick() {
  seed_random();
  AnnealerRun run;
  run.solver_path = find_solver();
  start_up(run, LURRICK_SETTINGS);
  simulated_annealing(run, LURRICK_SETTINGS, LURRICK_TEMPERATURE);
  write_best_timetable(run, LURRICK_SETTINGS);
  pause_for_key();
  release_tables(run);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int code = handle_arguments(argc, argv, LURRICK); code != RUN_PROGRAM) return code;
  install_interrupt_handlers();
  try {
    return run_lurrick();
  } catch (const FatalError& error) {
    return report_fatal(error);
  } catch (...) {
    return report_unexpected_exception();
  }
}
