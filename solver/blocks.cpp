// The vehicle blocks and schedule statistics (Tarsel.bla), traced on the
// compacted arc table.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "common/common.h"
#include "solver/reports.h"

using namespace common;

namespace solver {

namespace {

struct BlockTotals {
  int dead_run = 0;
  int layover = 0;
  int parking = 0;
};

void write_dashes_line(FILE* f, int count) {
  write_dashes(f, count);
  std::fputc('\n', f);
}

void write_trip_line(FILE* f, const Problem& problem, int line_number, int trip, int dead_run, int waiting) {
  const Trip& t = problem.trips[trip];
  int dh, dm, ah, am;
  split_minutes(t.departure_time, dh, dm);
  split_minutes(t.arrival_time, ah, am);
  std::fprintf(f, "%4d    %-8s    %02d:%02d    %-8s    %02d:%02d      %2d       %2d      %2.2f\n", line_number,
               problem.terminal_names[t.origin_terminal], dh, dm, problem.terminal_names[t.destination_terminal], ah,
               am, dead_run, waiting, t.group_key);
}

void write_hours_minutes(FILE* f, const char* format, int minutes) {
  int h, m;
  split_minutes(minutes, h, m);
  std::fprintf(f, format, h, m);
}

// The flow arcs leaving each node, by rising arc number: node n's are
// arcs[start[n]] up to arcs[start[n + 1]].
struct OutArcs {
  std::vector<int> start, arcs;
};

OutArcs out_arcs_by_tail(const Network& net, int num_arcs) {
  int top = 0;
  for (int k = 1; k <= num_arcs; ++k) top = std::max(top, net.tail[k]);
  OutArcs out;
  out.start.assign(static_cast<size_t>(top) + 2, 0);
  out.arcs.resize(static_cast<size_t>(num_arcs));
  for (int k = 1; k <= num_arcs; ++k) ++out.start[static_cast<size_t>(net.tail[k]) + 1];
  for (size_t n = 1; n < out.start.size(); ++n) out.start[n] += out.start[n - 1];
  std::vector<int> fill(out.start.begin(), out.start.end() - 1);
  for (int k = 1; k <= num_arcs; ++k) out.arcs[static_cast<size_t>(fill[static_cast<size_t>(net.tail[k])]++)] = k;
  return out;
}

// The first arc with flow out of node after arc `after`, the search wrapping
// around once through the whole table; 0 when there is none.
int next_flow_arc(const Network& net, const OutArcs& out, int node, int after) {
  if (node < 0 || static_cast<size_t>(node) + 1 >= out.start.size()) return 0;
  const int* first = out.arcs.data() + out.start[static_cast<size_t>(node)];
  const int* last = out.arcs.data() + out.start[static_cast<size_t>(node) + 1];
  const int* later = std::upper_bound(first, last, after);
  for (const int* a = later; a < last; ++a)
    if (net.flow[*a] > 0) return *a;
  for (const int* a = first; a < later; ++a)
    if (net.flow[*a] > 0) return *a;
  return 0;
}

}  // namespace

ScheduleTotals write_blocks(const std::string& file_base, Network& net, int num_flow_arcs, const Problem& problem,
                            int num_buses, int operational_cost) {
  const Parameters& p = problem.params;
  const int T = problem.num_trips;
  const auto& dr = problem.deadrun_matrix;
  const char* depot_name = problem.terminal_names[0];

  const std::string file_name = file_base + ".bla";
  std::printf("\nCreating the Blocks of Trips at file %s\n", file_name.c_str());
  CheckedFile block_file;
  FILE* f = open_report_file(file_name, block_file, "\nFile %s not found\n");

  std::fprintf(f, "#SDVSP solved through Arc Generation Technique\n");
  std::fprintf(f, "\n#Blocks of trip with number of buses: %d\n", num_buses);
  std::fprintf(f, "#Total of trips: %d\n", T);
  std::fprintf(f, "#Total cost of this schedule: %d\n", operational_cost);
  write_hours_minutes(f, "#Minimum depot time: %02d:%02d\n", p.min_depot_time);
  if (problem.link_preference_cost > 0)
    std::fprintf(f, "\n#This schedule has Link Preferences with cost: %d min.\n", problem.link_preference_cost);

  int depot_returns = 0;
  BlockTotals total;
  int block = 0;
  const int m = num_flow_arcs;
  const OutArcs out = out_arcs_by_tail(net, m);
  for (int k = 1; k <= m; ++k) {
    if (net.tail[k] != depot_out_node(T) || net.flow[k] <= 0) continue;
    ++block;
    net.flow[k] -= 1;
    int line_number = 1;
    BlockTotals b;
    int first = net.head[k];
    int pull_out = dr[0][problem.trips[first].origin_terminal];

    std::fprintf(f, " \n");
    std::fprintf(f, "\n <Vehicle Block --- %d >\n", block);
    int lh, lm;
    split_minutes(problem.trips[first].departure_time - pull_out, lh, lm);
    std::fprintf(f, "\nLeave Depot: %s at %02d:%02d\n", depot_name, lh, lm);
    std::fprintf(f, "\nTrip    <----Partida---->    <----Chegada---->    V.Vazia  T.Espera  Linha ");
    std::fputc('\n', f);
    write_dashes_line(f, 75);
    write_trip_line(f, problem, line_number, first, pull_out, 0);
    b.dead_run += pull_out;
    ++line_number;
    int current_arc = k;
    int current = first;

    for (;;) {
      // The arc that carries this vehicle on from the trip's end node.
      // Conservation guarantees one, so none found means the flows were
      // damaged.
      const int j = next_flow_arc(net, out, trip_end_node(T, current), current_arc);
      if (j == 0) {
        drop_checked_file(block_file);
        fatal_diagnostic("\nNo flow leaves the end of trip %d: the flows do not form vehicle blocks.\n", current);
      }
      net.flow[j] -= 1;
      const Trip& prev = problem.trips[current];
      if (net.head[j] == depot_in_node(T)) {
        int pull_in = dr[prev.destination_terminal][0];
        write_dashes_line(f, 75);
        std::fprintf(f, "Return to the Depot: %s - DeadRun: %d\n", depot_name, pull_in);
        b.dead_run += pull_in;
        write_hours_minutes(f, "\nTotal Dead Run      \t%02d:%02d  hh:mm\n", b.dead_run);
        write_hours_minutes(f, "Total Extra Layover   \t%02d:%02d  hh:mm\n", b.layover);
        write_hours_minutes(f, "Total Parking at Depot\t%02d:%02d  hh:mm\n", b.parking);
        total.dead_run += b.dead_run;
        total.layover += b.layover;
        total.parking += b.parking;
        write_dashes_line(f, 36);
        break;
      }
      const int next = net.head[j];
      const Trip& nt = problem.trips[next];
      int gap = nt.departure_time - prev.arrival_time;
      int to_depot = dr[prev.destination_terminal][0];
      int from_depot = dr[0][nt.origin_terminal];
      int dead_run, waiting;
      if (to_depot + from_depot + p.min_depot_time <= gap) {
        int parking = gap - to_depot - from_depot;
        int ph, pm;
        split_minutes(parking, ph, pm);
        std::fprintf(f, "\n    Return to Depot: %s & Park for %02d:%02d      %2d        0\n", depot_name, ph, pm,
                     to_depot);
        std::fprintf(f, "\n");
        b.dead_run += to_depot;
        ++depot_returns;
        b.parking += parking;
        dead_run = from_depot;
        waiting = 0;
      } else {
        dead_run = dr[prev.destination_terminal][nt.origin_terminal];
        waiting = gap - dead_run;
      }
      write_trip_line(f, problem, line_number, next, dead_run, waiting);
      b.dead_run += dead_run;
      b.layover += waiting;
      ++line_number;
      current_arc = j;
      current = next;
    }
  }

  std::fprintf(f, "\n\n----- Statistics from Schedule -----");
  write_hours_minutes(f, "\nTotal Dead Run      \t%02d:%02d  hh:mm\n", total.dead_run);
  write_hours_minutes(f, "Total Layover         \t%02d:%02d  hh:mm\n", total.layover);
  write_hours_minutes(f, "Total Parking at Depot\t%02d:%02d  hh:mm\n", total.parking);
  std::fprintf(f, "Total Depot Returns: \t %4d\n", depot_returns);
  ScheduleTotals result{total.dead_run, total.layover, total.parking, depot_returns, 0};
  result.scheduling_cost = static_cast<long long>(p.deadrun_weight) * total.dead_run +
                           static_cast<long long>(p.layover_weight) * total.layover +
                           static_cast<long long>(p.min_depot_time) * depot_returns;
  std::fprintf(f, "Total Scheduling Cost:\t %4lld\n", result.scheduling_cost);
  write_dashes_line(f, 36);
  std::time_t now = std::time(nullptr);
  std::fprintf(f, "%s", std::ctime(&now));
  close_report(block_file);
  return result;
}

}  // namespace solver
