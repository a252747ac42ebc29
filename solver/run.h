// One solver run: everything the run owns (problem, network, prices,
// counters, the three run logs) and the steps that write the reports.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "common/common.h"
#include "common/checked_file.h"
#include "common/problem_lock.h"
#include "solver/counters.h"
#include "solver/kilter.h"
#include "solver/network.h"
#include "solver/problem.h"

namespace solver {

struct SolverRun {
  std::string prefix;                   // put before every file name; empty for the program
  std::string problem_name = common::PROBLEM_NAME;  // names every file read and written
  std::string long_arc_path = "temp.lng";  // in the problem's own directory
  Problem problem;
  Network net;
  KilterState kilter;
  RunCounters counters;
  common::ProblemLock lock;                // Tarsel.lock, held for the whole run
  LongArcFile long_arcs;           // open from network generation to the end of the solve loop
  // The run logs, written through the streams; every write is checked.
  common::CheckedFile run_log_file, iteration_checked, usage_checked;
  FILE* run_log = nullptr;         // Tarsel.log
  FILE* iteration_file = nullptr;  // Tarsel.est
  FILE* usage_file = nullptr;      // Tarsel.lus
  std::time_t start_time = 0;
  std::time_t end_time = 0;
};

std::string make_file_base(const SolverRun& run);

// The whole run, from the run logs to the closing lines. Throws FatalError.
void run_solver(SolverRun& run);

// After a fatal error: closes whatever is still open, removes the long-arc
// file (when this run holds the lock, so the file is its own) and ends the
// hold on the problem.
void close_run_files(SolverRun& run);


}  // namespace solver
