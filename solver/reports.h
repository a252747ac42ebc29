// The two report writers of a finished run: the flow report with the solution
// file, and the vehicle blocks with the schedule statistics. Each takes what it
// reads and returns what it finds; the driver writes the run log's row from
// the results.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "common/checked_file.h"

#include "solver/counters.h"
#include "solver/network.h"
#include "solver/problem.h"

namespace solver {

// Closes a report file, checking its writes; a failure ends the run with a
// message naming the file and the reason.
void close_report(common::CheckedFile& file);
// Opened with mode "w" semantics; a failure ends the run with `message`
// (which holds one %s for the file name) and the system's reason.
FILE* open_report_file(const std::string& file_name, common::CheckedFile& file, const char* message);

// Writes count dashes.
void write_dashes(FILE* f, int count);

// A report's text, formatted in memory and handed to its stream some tens of
// kilobytes at a time: with a library call per line, formatting cost more
// than all the rest of writing the reports.
struct ReportText {
  FILE* file;
  std::string text = {};

  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void put(char c, size_t count = 1) { text.append(count, c); }
  // Hands the text so far to the stream.
  void flush();
};

struct FlowTotals {
  int objective = 0;         // flow x cost over all arcs, vehicles included (the solution file)
  int num_buses = 0;         // flow on the return arc
  int operational_cost = 0;  // objective less VEHICLE_COST per vehicle
};

// Writes file_base + ".arm" (the run's figures and every arc that carries
// flow) and file_base + ".sol" (the objective).
FlowTotals write_flow_report(const std::string& file_base, const Network& net, int num_trips,
                             const RunCounters& counters, std::time_t start_time, std::time_t end_time);

// Moves the arcs that carry flow to the front of the arc table (tail, head,
// flow and cost, in their order); returns how many there are. Lists and bounds
// no longer describe the table afterwards.
int compact_to_flow_arcs(Network& net);

struct ScheduleTotals {
  int dead_run = 0;
  int layover = 0;
  int parking = 0;
  int depot_returns = 0;
  long long scheduling_cost = 0;  // weighted in 64 bits: waiting on a long connection is unbounded
};

// Writes file_base + ".bla": the vehicle blocks traced on the first
// num_flow_arcs arcs of the compacted table, whose flows it consumes, and
// their statistics.
ScheduleTotals write_blocks(const std::string& file_base, Network& net, int num_flow_arcs, const Problem& problem,
                            int num_buses, int operational_cost);

}  // namespace solver
