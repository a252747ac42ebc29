#include <cstdio>

#include "common/common.h"
#include "solver/run.h"

namespace {
FILE* open_output(const std::string& file_name) {
  std::printf("\n\nThe file with solution is  %s\n", file_name.c_str());
  FILE* f = std::fopen(file_name.c_str(), "w");
  if (!f) fatal("\nFile %s not found\n", file_name.c_str());
  return f;
}
}  // namespace

void write_flow_report(SolverRun& run) {
  Network& net = run.net;
  RunCounters& c = run.counters;
  const int T = run.problem.num_trips;
  const std::string base = make_file_base(run);

  FILE* f = open_output(base + ".arm");
  std::fprintf(f, "\n OUT-OF-KILTER ALGORITHM FOR MINIMAL COST FLOW WITH ARC GENERATION (2.0)\n");
  std::fprintf(f, "\n Initial date\t %s", std::ctime(&run.start_time));
  std::fprintf(f, " Final date\t %s", std::ctime(&run.end_time));
  double elapsed = std::difftime(run.end_time, run.start_time);
  std::fprintf(f, " Total time: %f seconds", elapsed);
  int s = static_cast<int>(elapsed);
  std::fprintf(f, " (aprox. %02d:%02d:%02d)\n", s / 3600, (s % 3600) / 60, s % 60);
  std::fprintf(f, "\n Total of iterations:\t\t%12d", c.total_iterations);
  std::fprintf(f, "\n Total of short arcs:\t\t%12d", net.num_short_arcs);
  std::fprintf(f, "\n Total of long arcs:\t\t%12d", net.num_long_arcs);
  std::fprintf(f, "\n Total of longs included:\t%12d", c.longs_included);
  std::fprintf(f, "\n Total of problems solved:\t%12d", c.problems_solved);

  std::fprintf(run.run_log, "\t%6d", net.num_short_arcs);
  std::fprintf(run.run_log, "\t%6d", net.num_long_arcs);
  std::fprintf(run.run_log, "\t%6d", c.longs_included);
  std::fprintf(run.run_log, "\t%6d", c.problems_solved);

  if (!net.feasible)
    std::fprintf(f, "\n\n********** INFEASIBLE FLOW PATTERN ********* \n\n");
  else
    std::fprintf(f, "\n\n ********** OPTIMAL FLOW PATTERN ********* \n\n");
  std::fprintf(f, " NODE-TO-NODE FLOWS\n");
  std::fprintf(f, "  FROM   TO           FLOW           FLOW\n");
  std::fprintf(f, "%41s\n", "COST");

  c.total_cost = 0;
  int count = 0;
  for (int k = 1; k <= net.num_arcs; ++k) {
    if (net.flow[k] != 0) {
      c.total_cost += net.flow[k] * net.cost[k];
      std::fprintf(f, "%5d%5d%15d%15d\n", net.tail[k], net.head[k], net.flow[k], net.flow[k] * net.cost[k]);
      ++count;
      net.tail[count] = net.tail[k];
      net.head[count] = net.head[k];
      net.flow[count] = net.flow[k];
      net.cost[count] = net.cost[k];
    }
    if (net.tail[k] == depot_in_node(T) && net.head[k] == depot_out_node(T)) c.num_buses = net.flow[k];
  }
  c.num_flow_arcs = count;

  std::fprintf(f, "\n-----------------------------------------");
  std::fprintf(f, "\n %-23s%16d\n", "Total Cost:", c.total_cost);
  const int total_with_vehicles = c.total_cost;
  c.total_cost -= VEHICLE_COST * c.num_buses;
  std::fprintf(f, "\n %-23s%16d\n", "Num Buses: ", c.num_buses);
  std::fprintf(f, "\n %-23s%16d\n", "Operacional Cost:", c.total_cost);
  std::fprintf(f, "-----------------------------------------");
  std::fclose(f);

  FILE* sol = open_output(base + ".sol");
  std::fprintf(sol, "%d\n", total_with_vehicles);
  std::fclose(sol);
}
