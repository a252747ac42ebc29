// The vehicle blocks and schedule statistics (Tarsel.bla), traced on the
// compacted arc table.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "common/common.h"
#include "common/timetable_out.h"
#include "solver/reports.h"

using namespace common;

namespace solver {

namespace {

struct BlockTotals {
  int dead_run = 0;
  int layover = 0;
  int parking = 0;
};

void write_dashes_line(ReportText& out, int count) {
  out.put('-', static_cast<size_t>(count));
  out.put('\n');
}

// The line key goes in as the text "%2.2f" gives it, kept for each key.
void write_trip_line(ReportText& out, KeyTexts& keys, const Problem& problem, int line_number, int trip, int dead_run,
                     int waiting) {
  const Trip& t = problem.trips[trip];
  int dh, dm, ah, am;
  split_minutes(t.departure_time, dh, dm);
  split_minutes(t.arrival_time, ah, am);
  out.printf("%4d    %-8s    %02d:%02d    %-8s    %02d:%02d      %2d       %2d      %s\n", line_number,
             problem.terminal_names[t.origin_terminal], dh, dm, problem.terminal_names[t.destination_terminal], ah, am,
             dead_run, waiting, key_text(keys, t.group_key).c_str());
}

void write_hours_minutes(ReportText& out, const char* format, int minutes) {
  int h, m;
  split_minutes(minutes, h, m);
  out.printf(format, h, m);
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

// One block file being written: where it goes, the flows it follows (each
// vehicle takes its units off the arcs it runs on) and the schedule's totals.
struct BlockWriter {
  ReportText& out;
  CheckedFile& block_file;
  KeyTexts keys{"%2.2f"};
  const Problem& problem;
  Network& net;
  OutArcs leaving;
  BlockTotals total;
  int depot_returns = 0;
};

void write_file_head(ReportText& out, const Problem& problem, int num_buses, int operational_cost) {
  out.printf("#SDVSP solved through Arc Generation Technique\n");
  out.printf("\n#Blocks of trip with number of buses: %d\n", num_buses);
  out.printf("#Total of trips: %d\n", problem.num_trips);
  out.printf("#Total cost of this schedule: %d\n", operational_cost);
  write_hours_minutes(out, "#Minimum depot time: %02d:%02d\n", problem.params.min_depot_time);
  if (problem.link_preference_cost > 0)
    out.printf("\n#This schedule has Link Preferences with cost: %d min.\n", problem.link_preference_cost);
}

// The block's head and its first trip, reached by pull-out from the depot.
void write_block_start(BlockWriter& w, BlockTotals& b, int block, int first) {
  const Problem& problem = w.problem;
  const int pull_out = problem.deadrun_matrix[0][problem.trips[first].origin_terminal];
  w.out.printf(" \n");
  w.out.printf("\n <Vehicle Block --- %d >\n", block);
  int lh, lm;
  split_minutes(problem.trips[first].departure_time - pull_out, lh, lm);
  w.out.printf("\nLeave Depot: %s at %02d:%02d\n", problem.terminal_names[0], lh, lm);
  w.out.printf("\nTrip    <----Partida---->    <----Chegada---->    V.Vazia  T.Espera  Linha ");
  w.out.put('\n');
  write_dashes_line(w.out, 75);
  write_trip_line(w.out, w.keys, problem, 1, first, pull_out, 0);
  b.dead_run += pull_out;
}

// The trip `next` after `prev` in the block: straight on, or by way of the
// depot when there is time to park there.
void write_next_trip(BlockWriter& w, BlockTotals& b, int line_number, int prev, int next) {
  const Problem& problem = w.problem;
  const auto& dr = problem.deadrun_matrix;
  const Trip& pt = problem.trips[prev];
  const Trip& nt = problem.trips[next];
  int gap = nt.departure_time - pt.arrival_time;
  int to_depot = dr[pt.destination_terminal][0];
  int from_depot = dr[0][nt.origin_terminal];
  int dead_run, waiting;
  if (to_depot + from_depot + problem.params.min_depot_time <= gap) {
    int parking = gap - to_depot - from_depot;
    int ph, pm;
    split_minutes(parking, ph, pm);
    w.out.printf("\n    Return to Depot: %s & Park for %02d:%02d      %2d        0\n", problem.terminal_names[0], ph,
                 pm, to_depot);
    w.out.printf("\n");
    b.dead_run += to_depot;
    ++w.depot_returns;
    b.parking += parking;
    dead_run = from_depot;
    waiting = 0;
  } else {
    dead_run = dr[pt.destination_terminal][nt.origin_terminal];
    waiting = gap - dead_run;
  }
  write_trip_line(w.out, w.keys, problem, line_number, next, dead_run, waiting);
  b.dead_run += dead_run;
  b.layover += waiting;
}

// The return to the depot after the block's last trip, and its totals.
void write_block_end(BlockWriter& w, BlockTotals& b, int last) {
  const Problem& problem = w.problem;
  int pull_in = problem.deadrun_matrix[problem.trips[last].destination_terminal][0];
  write_dashes_line(w.out, 75);
  w.out.printf("Return to the Depot: %s - DeadRun: %d\n", problem.terminal_names[0], pull_in);
  b.dead_run += pull_in;
  write_hours_minutes(w.out, "\nTotal Dead Run      \t%02d:%02d  hh:mm\n", b.dead_run);
  write_hours_minutes(w.out, "Total Extra Layover   \t%02d:%02d  hh:mm\n", b.layover);
  write_hours_minutes(w.out, "Total Parking at Depot\t%02d:%02d  hh:mm\n", b.parking);
  w.total.dead_run += b.dead_run;
  w.total.layover += b.layover;
  w.total.parking += b.parking;
  write_dashes_line(w.out, 36);
}

// One vehicle's block, from its pull-out arc k along the arcs with flow.
void write_block(BlockWriter& w, int block, int k) {
  const int T = w.problem.num_trips;
  Network& net = w.net;
  net.flow[k] -= 1;
  BlockTotals b;
  int current = net.head[k];
  write_block_start(w, b, block, current);
  int current_arc = k;
  for (int line_number = 2;; ++line_number) {
    // The arc that carries this vehicle on from the trip's end node.
    // Conservation guarantees one, so none found means the flows were
    // damaged.
    const int j = next_flow_arc(net, w.leaving, trip_end_node(T, current), current_arc);
    if (j == 0) {
      w.out.flush();
      drop_checked_file(w.block_file);
      fatal_diagnostic("\nNo flow leaves the end of trip %d: the flows do not form vehicle blocks.\n", current);
    }
    net.flow[j] -= 1;
    if (net.head[j] == depot_in_node(T)) return write_block_end(w, b, current);
    write_next_trip(w, b, line_number, current, net.head[j]);
    current_arc = j;
    current = net.head[j];
  }
}

ScheduleTotals write_statistics(ReportText& out, const Parameters& p, const BlockTotals& total, int depot_returns) {
  out.printf("\n\n----- Statistics from Schedule -----");
  write_hours_minutes(out, "\nTotal Dead Run      \t%02d:%02d  hh:mm\n", total.dead_run);
  write_hours_minutes(out, "Total Layover         \t%02d:%02d  hh:mm\n", total.layover);
  write_hours_minutes(out, "Total Parking at Depot\t%02d:%02d  hh:mm\n", total.parking);
  out.printf("Total Depot Returns: \t %4d\n", depot_returns);
  ScheduleTotals result{total.dead_run, total.layover, total.parking, depot_returns, 0};
  result.scheduling_cost = static_cast<long long>(p.deadrun_weight) * total.dead_run +
                           static_cast<long long>(p.layover_weight) * total.layover +
                           static_cast<long long>(p.min_depot_time) * depot_returns;
  out.printf("Total Scheduling Cost:\t %4lld\n", result.scheduling_cost);
  write_dashes_line(out, 36);
  return result;
}

}  // namespace

ScheduleTotals write_blocks(const std::string& file_base, Network& net, int num_flow_arcs, const Problem& problem,
                            int num_buses, int operational_cost) {
  const std::string file_name = file_base + ".bla";
  std::printf("\nCreating the Blocks of Trips at file %s\n", file_name.c_str());
  CheckedFile block_file;
  ReportText out{open_report_file(file_name, block_file, "\nFile %s not found\n")};
  write_file_head(out, problem, num_buses, operational_cost);

  BlockWriter w{out, block_file, KeyTexts{"%2.2f"}, problem, net, out_arcs_by_tail(net, num_flow_arcs), {}, 0};
  int block = 0;
  for (int k = 1; k <= num_flow_arcs; ++k)
    if (net.tail[k] == depot_out_node(problem.num_trips) && net.flow[k] > 0) write_block(w, ++block, k);

  const ScheduleTotals result = write_statistics(out, problem.params, w.total, w.depot_returns);
  std::time_t now = std::time(nullptr);
  out.printf("%s", std::ctime(&now));
  out.flush();
  close_report(block_file);
  return result;
}

}  // namespace solver
