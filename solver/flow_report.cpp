// The flow report (Tarsel.arm) with the solution file (Tarsel.sol), and the
// compaction of the arc table to the arcs that carry flow.
#include <cstdio>
#include <ctime>

#include "common/atomic_file.h"
#include "common/common.h"
#include "solver/reports.h"

using namespace common;

namespace solver {

FlowTotals write_flow_report(const std::string& file_base, const Network& net, int num_trips,
                             const RunCounters& counters, std::time_t start_time, std::time_t end_time) {
  const RunCounters& c = counters;
  const std::string report_name = file_base + ".arm";
  std::printf("\n\nThe file with solution is  %s\n", report_name.c_str());
  CheckedFile report;
  ReportText out{open_report_file(report_name, report, "\nFile %s not found\n")};
  out.printf("\n OUT-OF-KILTER ALGORITHM FOR MINIMAL COST FLOW WITH ARC GENERATION (2.0)\n");
  out.printf("\n Initial date\t %s", std::ctime(&start_time));
  out.printf(" Final date\t %s", std::ctime(&end_time));
  double elapsed = std::difftime(end_time, start_time);
  out.printf(" Total time: %f seconds", elapsed);
  out.printf(" (aprox. %s)\n", format_hh_mm_ss(static_cast<int>(elapsed)).c_str());
  out.printf("\n Total of iterations:\t\t%12d", c.total_iterations);
  out.printf("\n Total of short arcs:\t\t%12d", net.num_short_arcs);
  out.printf("\n Total of long arcs:\t\t%12d", net.num_long_arcs);
  out.printf("\n Total of longs included:\t%12d", c.longs_included);
  out.printf("\n Total of problems solved:\t%12d", c.problems_solved);

  if (solve_status(net) == SolveStatus::infeasible)
    out.printf("\n\n********** INFEASIBLE FLOW PATTERN ********* \n\n");
  else
    out.printf("\n\n ********** OPTIMAL FLOW PATTERN ********* \n\n");
  out.printf(" NODE-TO-NODE FLOWS\n");
  out.printf("  FROM   TO           FLOW           FLOW\n");
  out.printf("%41s\n", "COST");

  FlowTotals totals;
  for (int k = 1; k <= net.num_arcs; ++k) {
    if (net.flow[k] != 0) {
      totals.objective += net.flow[k] * net.cost[k];
      out.printf("%5d%5d%15d%15d\n", net.tail[k], net.head[k], net.flow[k], net.flow[k] * net.cost[k]);
    }
    if (net.tail[k] == depot_in_node(num_trips) && net.head[k] == depot_out_node(num_trips))
      totals.num_buses = net.flow[k];
  }
  totals.operational_cost = totals.objective - VEHICLE_COST * totals.num_buses;

  out.printf("\n-----------------------------------------");
  out.printf("\n %-23s%16d\n", "Total Cost:", totals.objective);
  out.printf("\n %-23s%16d\n", "Num Buses: ", totals.num_buses);
  out.printf("\n %-23s%16d\n", "Operacional Cost:", totals.operational_cost);
  out.printf("-----------------------------------------");
  out.flush();
  close_report(report);

  // The annealers take this file's integer as the cost of a timetable: it is
  // put in place whole, or the one of an earlier run stays.
  const std::string solution_name = file_base + ".sol";
  std::printf("\n\nThe file with solution is  %s\n", solution_name.c_str());
  AtomicFile solution;
  FileFailure failure;
  if (!open_atomic_file(solution_name, solution, failure))
    fatal_with_detail(failure.text(), "\nFile %s not found\n", solution_name.c_str());
  std::fprintf(solution.file.stream, "%d\n", totals.objective);
  if (!commit_atomic_file(solution, failure)) fatal_with_detail(failure.text(), "\nError writing to the file.\n");
  return totals;
}

int compact_to_flow_arcs(Network& net) {
  int count = 0;
  for (int k = 1; k <= net.num_arcs; ++k) {
    if (net.flow[k] == 0) continue;
    ++count;
    net.tail[count] = net.tail[k];
    net.head[count] = net.head[k];
    net.flow[count] = net.flow[k];
    net.cost[count] = net.cost[k];
  }
  return count;
}

}  // namespace solver
