#include "solver/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

#include "common/common.h"
#include "common/format.h"
#include "common/run_end.h"
#include "solver/arcgen.h"
#include "solver/reports.h"

using namespace common;

namespace solver {

namespace {

// A missing file is no error: the first deletion of a run usually finds none.
void delete_long_arc_file(const SolverRun& run) { ::unlink(run.long_arc_path.c_str()); }

void close_long_arc_file(SolverRun& run) {
  if (run.long_arcs.fd >= 0) ::close(run.long_arcs.fd);
  run.long_arcs.fd = -1;
}

// Made afresh right after the deletion, never through a link; it stays open
// until the solve loop ends, so every pass reads the file this run wrote.
void create_long_arc_file(SolverRun& run) {
  run.long_arcs.path = run.long_arc_path;
  run.long_arcs.fd =
      ::open(run.long_arc_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (run.long_arcs.fd < 0)
    fatal_with_detail(long_arc_failure("create", run.long_arcs, -1, ""), "Error creating Temp file.\n");
}

// Pushes what the run logs hold so far to their files: a disk that filled up
// stops the run at the next pass rather than at the end.
void check_run_logs(SolverRun& run) {
  for (CheckedFile* file : {&run.run_log_file, &run.iteration_checked, &run.usage_checked}) {
    FileFailure failure;
    if (!flush_checked_file(*file, failure)) fatal_with_detail(failure.text(), "\nError writing to the file.\n");
  }
}

void write_long_arc_usage(SolverRun& run) {
  const Network& net = run.net;
  const Problem& problem = run.problem;
  const int T = problem.num_trips;
  if (net.num_arcs <= run.counters.num_arcs_before_generation) return;
  int used = 0;
  for (int k = run.counters.num_arcs_before_generation + 1; k <= net.num_arcs; ++k) {
    if (net.flow[k] <= 0) continue;
    int i = net.tail[k] - T;  // trip whose end node is the tail
    int j = net.head[k];      // trip whose start node is the head
    std::fprintf(run.usage_file, "%d\t%d\t%d \t%d\t%d\t%d\t%d\n", net.tail[k] - T - 1,
                 problem.trips[i].destination_terminal, problem.trips[i].arrival_time, net.head[k] - 1,
                 problem.trips[j].origin_terminal, problem.trips[j].departure_time, net.cost[k]);
    ++used;
  }
  std::fprintf(run.usage_file, "----------------------------------------------------\n");
  std::fprintf(run.usage_file, "Total of long arcs used:\t%d", used);
}

void write_iteration_totals(SolverRun& run) {
  FILE* f = run.iteration_file;
  const RunCounters& c = run.counters;
  write_dashes(f, 79);
  std::fputc('\n', f);
  std::fprintf(f, "Total\t%s", format_hh_mm_ss(c.calc_seconds).c_str());
  std::fprintf(f, "\t%s\t%d\n", format_hh_mm_ss(c.disc_seconds).c_str(), c.longs_included);
  std::fprintf(f, "Long Arcs per Node %d\n", LONG_ARCS_PER_NODE);
}

// The run log row's columns from the flow report on: the network's arc
// counts and the solves, then the schedule.
void write_arc_columns(FILE* f, const Network& net, const RunCounters& c) {
  std::fprintf(f, "\t%6d", net.num_short_arcs);
  std::fprintf(f, "\t%6d", net.num_long_arcs);
  std::fprintf(f, "\t%6d", c.longs_included);
  std::fprintf(f, "\t%6d", c.problems_solved);
}

void write_schedule_columns(FILE* f, int num_trips, int num_buses, const ScheduleTotals& s) {
  std::fprintf(f, "\t%5d\t%4d", num_trips, num_buses);
  int h, m;
  for (int minutes : {s.dead_run, s.layover, s.parking}) {
    split_minutes(minutes, h, m);
    std::fprintf(f, "\t\t%02d:%02d", h, m);
  }
  std::fprintf(f, "\t%3d", s.depot_returns);
  std::fprintf(f, "\t%6lld", s.scheduling_cost);
}

void write_closing_lines(SolverRun& run) {
  FILE* f = run.run_log;
  const Parameters& p = run.problem.params;
  std::fputc('\n', f);
  write_dashes(f, 122);
  std::fprintf(f, "\nCPU Time:      \t %.0f ", std::difftime(run.end_time, run.start_time));
  std::fprintf(f, "\nDeadrunWeight: \t %2d ", p.deadrun_weight);
  std::fprintf(f, "\nLayoverWeight: \t %2d ", p.layover_weight);
  int h, m;
  split_minutes(p.short_arc_param, h, m);
  std::fprintf(f, "\nShort Arc Parameter: %02d:%02d", h, m);
  split_minutes(p.min_depot_time, h, m);
  std::fprintf(f, "\nMinimum depot time/cost: %02d:%02d", h, m);
}

}  // namespace

void write_dashes(FILE* f, int count) {
  // One call for the run of a line: the blocks' report has two such lines a block.
  static const char dashes[] =
      "--------------------------------------------------------------------------------------------------------------"
      "------------------";
  static_assert(sizeof(dashes) == 129);
  for (int left = count; left > 0; left -= 128) std::fwrite(dashes, 1, static_cast<size_t>(left < 128 ? left : 128), f);
}

void ReportText::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  append_vformat(text, format, args);
  va_end(args);
  if (text.size() >= 64 * 1024) flush();
}

void ReportText::flush() {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file);
  text.clear();
}

std::string make_file_base(const SolverRun& run) { return make_file_name(run.prefix, run.problem_name, ""); }

FILE* open_report_file(const std::string& file_name, CheckedFile& file, const char* message) {
  FileFailure failure;
  if (!open_checked_file(file_name, file, failure)) fatal_with_detail(failure.text(), message, file_name.c_str());
  return file.stream;
}

void close_report(CheckedFile& file) {
  FileFailure failure;
  if (!close_checked_file(file, failure)) fatal_with_detail(failure.text(), "\nError writing to the file.\n");
}

void close_run_files(SolverRun& run) {
  for (CheckedFile* file : {&run.usage_checked, &run.iteration_checked, &run.run_log_file}) drop_checked_file(*file);
  run.usage_file = run.iteration_file = run.run_log = nullptr;
  close_long_arc_file(run);
  if (run.lock.fd >= 0) {
    delete_long_arc_file(run);
    forget_on_interrupt(run.long_arc_path);
  }
  release_problem_lock(run.lock);
}

namespace {

// The run log, the iteration file and the long-arc usage file, each opened
// with its heading.
void open_run_logs(SolverRun& run, const std::string& base) {
  run.run_log = open_report_file(base + ".log", run.run_log_file, "\nProblem to open file %s\n");
  std::time_t now = std::time(nullptr);
  std::fprintf(run.run_log, "%s", std::ctime(&now));
  std::fprintf(run.run_log, "\nTestes Solving the SDVSP through Circulation Problem and Arc Generation Technique\n");
  std::fprintf(run.run_log, "\n\t\t\t\t\t\t\t\t\t\t\t\t---- Depot ---");
  std::fprintf(run.run_log,
               "\nTeste\t Short\t  Long\t   Incl\t   Prob\t#Trips\t#Buses\t\tDeadrun \tLayover \tPark \tReturn "
               "\tTotal Cost");
  std::fputc('\n', run.run_log);
  write_dashes(run.run_log, 122);

  run.iteration_file = open_report_file(base + ".est", run.iteration_checked, "\nProblem to open file %s\n");
  run.usage_file = open_report_file(base + ".lus", run.usage_checked, "\nProblem to open file %s\n");
  std::fprintf(run.usage_file, "Long arcs used into optimal solution\n");
  std::fprintf(run.usage_file, "Tail\tterm\ttime\tHead\ttermi\ttime\tCost\n");
  std::fprintf(run.run_log, "\n%3d", 1);
  std::fprintf(run.iteration_file, "\nIter\tCalc Time\tDisc Time\tIncl\tC Max\tC Min\tZ_Optim\tNum Bus\n");
  write_dashes(run.iteration_file, 79);
  std::fputc('\n', run.iteration_file);
}

// Solve, then price the long records, while arc generation adds arcs.
void solve_with_arc_generation(SolverRun& run) {
  std::printf("\n\nOptimizing...");
  run.start_time = std::time(nullptr);
  RunCounters& c = run.counters;
  c.num_arcs_before_generation = run.net.num_arcs;
  c.calc_seconds = c.disc_seconds = c.longs_included = c.total_iterations = c.problems_solved = 0;
  for (;;) {
    std::printf("\nSolving problem number %d", c.problems_solved + 1);
    std::fprintf(run.iteration_file, "%d", c.problems_solved);
    solve_circulation(run.net, run.kilter, c, run.iteration_file);
#ifdef TARSEL_CHECK_INVARIANTS
    if (std::string broken = check_invariants(run.net, run.kilter); !broken.empty()) {
      std::fprintf(stderr, "\nsolve %d broke an invariant: %s\n", c.problems_solved + 1, broken.c_str());
      std::abort();
    }
#endif
    c.problems_solved += 1;
    const bool added = generate_arcs(run.net, run.kilter, c, run.problem.num_trips, run.long_arcs, run.iteration_file);
    check_run_logs(run);
    if (!added) break;
  }
}

// The flow report, the blocks and the run log's row, once the solves are over.
void write_solution_reports(SolverRun& run, const std::string& base) {
  RunCounters& c = run.counters;
  const FlowTotals flow = write_flow_report(base, run.net, run.problem.num_trips, c, run.start_time, run.end_time);
  write_arc_columns(run.run_log, run.net, c);
  c.num_buses = flow.num_buses;
  c.total_cost = flow.operational_cost;
  c.num_flow_arcs = compact_to_flow_arcs(run.net);
  const ScheduleTotals schedule =
      write_blocks(base, run.net, c.num_flow_arcs, run.problem, c.num_buses, c.total_cost);
  write_schedule_columns(run.run_log, run.problem.num_trips, c.num_buses, schedule);
  write_closing_lines(run);
}

}  // namespace

void run_solver(SolverRun& run) {
  const std::string base = make_file_base(run);
  std::printf("\nThe problem is: %s \n", base.c_str());
  // Before any file is touched: a second run here would rewrite the long-arc
  // file and the reports under the first one.
  hold_problem_lock(problem_lock_path(run.prefix, run.problem_name), run.lock);
  remove_on_interrupt(run.long_arc_path);
  open_run_logs(run, base);

  delete_long_arc_file(run);
  create_long_arc_file(run);
  reset_kilter(run.kilter);
  generate_network(run.prefix, run.problem_name, run.problem, run.net, run.long_arcs);
  solve_with_arc_generation(run);

  write_long_arc_usage(run);
  close_report(run.usage_checked);
  run.usage_file = nullptr;
  write_iteration_totals(run);
  close_report(run.iteration_checked);
  run.iteration_file = nullptr;
  close_long_arc_file(run);
  delete_long_arc_file(run);
  run.end_time = std::time(nullptr);

  write_solution_reports(run, base);
  close_report(run.run_log_file);
  run.run_log = nullptr;
  delete_long_arc_file(run);
  forget_on_interrupt(run.long_arc_path);
  release_problem_lock(run.lock);
}

}  // namespace solver
