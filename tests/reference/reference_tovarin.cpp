// The solve the driver calls, served by the plain steps. Linked with the
// solver's other sources in place of kilter.cpp, this gives a whole Tovarin
// run that differs from the real one in nothing but the solve.
#include "solver/kilter_steps.h"

namespace solver {

SolveStatus solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file) {
  return solve_circulation_by_steps(net, ks, counters, iteration_file);
}

}  // namespace solver
