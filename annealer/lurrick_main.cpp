// Lurrick: the batch annealer. After the common start-up it anneals at once
// from a fixed temperature, pausing after every temperature.
#include "annealer/move.h"
#include "annealer/program.h"
#include "annealer/solver_process.h"
#include "common/common.h"

namespace {

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
  pause_for_key();
  release_tables(run);
  return 0;
}

}  // namespace

int main() {
  try {
    return run_lurrick();
  } catch (const FatalError& error) {
    return report_fatal(error);
  }
}
