// Counters of a whole solver run, over all solves and arc-generation passes:
// the solve and the passes add to them, the driver zeroes them before the
// solve loop and keeps the reports' results in the last three.
#pragma once

namespace solver {

struct RunCounters {
  int problems_solved = 0;
  int total_iterations = 0;
  int calc_seconds = 0;
  int longs_included = 0;
  int disc_seconds = 0;
  int num_arcs_before_generation = 0;
  int num_buses = 0;
  int total_cost = 0;  // operational cost: the objective less the vehicles
  int num_flow_arcs = 0;
};

}  // namespace solver
