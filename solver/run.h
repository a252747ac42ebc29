// One solver run: everything the run owns (problem, network, prices,
// counters, the three run logs) and the steps that write the reports.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "solver/arcgen.h"
#include "solver/kilter.h"
#include "solver/network.h"
#include "solver/problem.h"

struct SolverRun {
  std::string prefix;                   // put before every file name; empty for the program
  std::string problem_name = "Tarsel";
  std::string long_arc_path = "temp.lng";  // in the problem's own directory
  Problem problem;
  Network net;
  KilterState kilter;
  RunCounters counters;
  FILE* run_log = nullptr;         // Tarsel.log
  FILE* iteration_file = nullptr;  // Tarsel.est
  FILE* usage_file = nullptr;      // Tarsel.lus
  std::time_t start_time = 0;
  std::time_t end_time = 0;
};

std::string make_file_base(const SolverRun& run);

// The whole run, from the run logs to the closing lines. Throws FatalError.
void run_solver(SolverRun& run);

// Flow report (Tarsel.arm), solution file (Tarsel.sol), compaction of the arc
// table to the arcs that carry flow; fills four columns of the run log row.
void write_flow_report(SolverRun& run);

// Vehicle blocks and schedule statistics (Tarsel.bla); consumes the flows of
// the compacted arc table; fills the rest of the run log row.
void write_blocks(SolverRun& run);

// Closes whatever run log is still open (after a fatal error).
void close_run_files(SolverRun& run);
