// shift_search: finds the departure shifts of at most a few minutes that make
// the optimal vehicle schedule cheapest, and leaves the best timetable found.
//
//   shift_search [DIR] [--max-shift M] [--seconds S] [--seed N]
//                [--move-cost C] [--max-moves K] [--evaluations E]
//                [--max-headway-change H] [--threads N]
//
// DIR (default the current directory) holds Tarsel.ini, Tarsel.bss and the
// optional Tarsel.prr. Standard output: the fewest moved trips found for each
// vehicle saved, the proof when the bound was reached, then one line with a
// JSON object of the figures. Everything else goes to standard error. Exit
// codes: 0 done, 1 bad input, a failure or a signal (nothing written), 2
// wrong command line.
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "common/atomic_file.h"
#include "common/common.h"
#include "common/problem_lock.h"
#include "search/headway.h"
#include "search/result_files.h"
#include "search/shift_network.h"
#include "search/shift_search.h"
#include "search/solver_check.h"
#include "search/timetable_files.h"
#include "search/vehicle_bound.h"
#include "solver/problem.h"

using namespace common;
using namespace solver;
using namespace search;

namespace {

constexpr int LARGEST_SHIFT = 60;

const char* const USAGE =
    "Usage: shift_search [DIR] [--max-shift M] [--seconds S] [--seed N] [--move-cost C] [--max-moves K]\n"
    "                    [--evaluations E] [--max-headway-change H] [--threads N] | --help | --version\n";

const char* const HELP =
    "Moves departures of the timetable in DIR (default: the current directory; Tarsel.ini, Tarsel.bss\n"
    "and the optional Tarsel.prr) by at most M minutes each, keeping every trip's duration, terminals,\n"
    "line key and layover, to find the timetable whose optimal vehicle schedule costs least: the total\n"
    "cost Tovarin writes to Tarsel.sol, plus C per moved trip, with at most K trips moved.\n"
    "\n"
    "  --max-shift M    largest shift of a departure in minutes, 0 to 60 (default 3)\n"
    "  --seconds S      time budget in seconds (default 300)\n"
    "  --seed N         seed of the search; the same seed makes the same moves (default 1)\n"
    "  --move-cost C    cost added per moved trip (default 0)\n"
    "  --max-moves K    most trips moved (default: no limit)\n"
    "  --evaluations E  stop after E evaluations in all (default: no limit)\n"
    "  --max-headway-change H\n"
    "                   consecutive departures of a line from a terminal keep their gap within H\n"
    "                   minutes of the gap read (default: no limit)\n"
    "  --threads N      searches side by side, 1 to 64 (default: the machine's cores)\n"
    "\n"
    "Before searching, the fewest vehicles that no timetable within the shifts can go below is worked\n"
    "out (every connection given the most slack the two trips' shifts allow) and shown on standard\n"
    "error; the search stops once a timetable needs no more. The same seed and thread count give the\n"
    "same result under --evaluations; under the time budget alone, results may differ from run to\n"
    "run. The best timetable found is solved once more by Tovarin (the one beside this program, else\n"
    "the one on the search path) in a scratch directory; its cost must equal the one found, and so\n"
    "for the timetable with the fewest moved trips found for each vehicle count below the start.\n"
    "Then DIR gets Tarsel_best.bss (the best timetable, a trip file Tovarin solves) and\n"
    "Tarsel_shifts.csv (one row per trip: trip number, line, terminals, departure before and after,\n"
    "shift), and Tarsel_best_V.bss and Tarsel_shifts_V.csv for each of those vehicle counts V, all put\n"
    "in place together, replacing all the files of the run before.\n"
    "Standard output: for each vehicle saved, the fewest moved trips found; the proof line when the\n"
    "bound is reached; then one JSON line with initial_cost, initial_vehicles, best_cost,\n"
    "best_vehicles, moved, evaluations, seconds, bound_vehicles and proven. Progress goes to\n"
    "standard error when it is a terminal.\n"
    "\n"
    "Exit codes: 0 done; 1 the problem cannot be read or solved (the solver's messages), a file\n"
    "cannot be written, or a signal (SIGTERM, SIGINT, SIGHUP) stopped the run (nothing written);\n"
    "2 a wrong command line.\n";

struct Options {
  std::string dir;
  int max_shift = 3;
  int max_headway_change = -1;
  SearchOptions search;
};

constexpr int MOST_THREADS = 64;

// The cores this process may run on (as nproc counts them), else the machine's.
int machine_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  int cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores, 1, MOST_THREADS);
}

[[noreturn]] void usage_error(const char* what, const char* value) {
  std::fprintf(stderr, "shift_search: %s%s%s\n%s", what, value ? " " : "", value ? value : "", USAGE);
  std::fprintf(stderr, "Run \"shift_search --help\" for what it does and the files it uses.\n");
  std::exit(2);
}

long long whole_number(const char* option, const char* text, long long largest) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0) usage_error("not a whole number:", text);
  if (v < 0) usage_error("a negative value makes no sense for", option);
  if (v > largest) usage_error(largest == LARGEST_SHIFT ? "at most 60 minutes for" : "too large a value for", option);
  return v;
}

// An option that takes a value, with the value that follows it.
void take_option(const std::string& arg, const char* v, Options& o) {
  if (arg == "--max-shift") {
    o.max_shift = static_cast<int>(whole_number("--max-shift", v, LARGEST_SHIFT));
  } else if (arg == "--seconds") {
    char* end = nullptr;
    double s = std::strtod(v, &end);
    if (*v == '\0' || *end != '\0' || !(s == s)) usage_error("not a number:", v);
    if (s < 0) usage_error("a negative value makes no sense for", "--seconds");
    o.search.seconds = s;
  } else if (arg == "--seed") {
    o.search.seed = static_cast<unsigned>(whole_number("--seed", v, 4294967295LL));
  } else if (arg == "--move-cost") {
    o.search.move_cost = whole_number("--move-cost", v, 1000000000LL);
  } else if (arg == "--max-moves") {
    o.search.max_moves = static_cast<int>(whole_number("--max-moves", v, 1000000000LL));
  } else if (arg == "--evaluations") {
    o.search.max_evaluations = whole_number("--evaluations", v, 1LL << 60);
  } else if (arg == "--max-headway-change") {
    o.max_headway_change = static_cast<int>(whole_number("--max-headway-change", v, 2 * LARGEST_SHIFT));
  } else if (arg == "--threads") {
    o.search.threads = static_cast<int>(whole_number("--threads", v, MOST_THREADS));
    if (o.search.threads == 0) usage_error("at least one thread for", "--threads");
  } else {
    usage_error("unexpected argument", arg.c_str());
  }
}

Options parse_arguments(int argc, char** argv) {
  Options o;
  o.search.threads = machine_cores();
  bool have_dir = false;
  for (int a = 1; a < argc; ++a) {
    std::string arg = argv[a];
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      std::fputs("\n", stdout);
      std::fputs(HELP, stdout);
      std::exit(0);
    }
    if (arg == "--version") {
      std::printf("shift_search %s\n", TARSEL_VERSION);
      std::exit(0);
    }
    if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
      if (a + 1 >= argc) usage_error("a value must follow", arg.c_str());
      take_option(arg, argv[++a], o);
      continue;
    }
    if (have_dir) usage_error("more than one directory:", arg.c_str());
    o.dir = arg;
    have_dir = true;
  }
  if (!o.dir.empty() && o.dir.back() != '/') o.dir += '/';
  return o;
}

// The solver's readers echo what they read on standard output, which here
// holds only the results: while they run it goes to standard error.
struct StdoutToStderr {
  int saved = -1;
  StdoutToStderr() {
    std::fflush(stdout);
    saved = dup(STDOUT_FILENO);
    if (saved >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  void restore() {
    std::fflush(stdout);
    if (saved >= 0) {
      dup2(saved, STDOUT_FILENO);
      close(saved);
      saved = -1;
    }
  }
  ~StdoutToStderr() { restore(); }
};

bool in_departure_order(const Problem& p) {
  for (int i = 2; i <= p.num_trips; ++i)
    if (p.trips[i].departure_time < p.trips[i - 1].departure_time) return false;
  return true;
}

// Ends the run with a message of this program's own: main reports it as
// every fatal error, on standard error with exit code 1.
[[noreturn]] void stop_run(const std::string& message) {
  FatalError error;
  error.message = "shift_search: " + message + "\n";
  error.pause = false;
  error.to_stderr = true;
  throw error;
}

// Ends the run when a signal asked for it; the scratch directory of a
// Tovarin run is gone by then and no file of the problem has changed.
void stop_if_signalled() {
  if (int signal_number = stop_signal(); signal_number != 0)
    stop_run("stopped by signal " + std::to_string(signal_number) + "; nothing written");
}

SolverCheck confirmed_run(const std::string& dir, const std::string& trip_file, const char* what) {
  SolverCheck check = check_with_solver(dir, trip_file);
  stop_if_signalled();
  if (!check.ran) stop_run(std::string(what) + " cannot be confirmed: " + check.failure);
  return check;
}

// A row of the moves-vehicles table: a timetable the search met, with the
// vehicles Tovarin gives it (the optimum may be reached with more than one
// vehicle count; what counts is the schedule Tovarin writes).
struct TableRow {
  int vehicles = 0;
  int moved = 0;
  int64_t cost = 0;
  const ParetoPoint* point = nullptr;
  std::string trip_file;
};

// Solves each timetable of the table with Tovarin, which must give the cost
// the search found.
std::vector<TableRow> confirm_table(const std::string& dir, const Problem& problem, const SearchResult& r,
                                    int initial_vehicles) {
  std::vector<TableRow> rows;
  for (const auto& [vehicles, point] : r.pareto) {
    if (vehicles > initial_vehicles) continue;
    std::string text, error;
    if (!shifted_trip_file(problem, point.shift, trip_file_order(problem, point.shift), text, error))
      stop_run("a timetable of the table cannot be written as a trip file: " + error);
    SolverCheck check = confirmed_run(dir, text, "a timetable of the table");
    if (check.total_cost != point.cost)
      stop_run("Tovarin gives " + std::to_string(check.total_cost) + " for a timetable of the table, the search " +
               std::to_string(point.cost) + " (internal error); nothing written");
    rows.push_back({check.vehicles, point.moved, point.cost, &point, std::move(text)});
  }
  return rows;
}

// The fewest moves, then the least cost.
bool fewer_moves(const TableRow& a, const TableRow* b) {
  return !b || a.moved < b->moved || (a.moved == b->moved && a.cost < b->cost);
}

std::string shifts_file(const Problem& problem, const std::vector<int>& shift, int max_shift) {
  std::string text, error;
  std::vector<int> unshifted(problem.num_trips + 1, 0), read_order(problem.num_trips);
  for (int k = 0; k < problem.num_trips; ++k) read_order[k] = k + 1;
  if (!format_shifts_file(shifted_timetable(problem, unshifted, read_order),
                          shifted_timetable(problem, shift, trip_file_order(problem, shift)).trips, max_shift, text,
                          error))
    stop_run("the shifts file cannot be made: " + error);
  return text;
}

// The run's set: the best timetable, and for each vehicle count below the
// start the timetable of the table with exactly that many vehicles and the
// fewest moves.
std::vector<OutputFile> result_files(const Problem& problem, const std::vector<int>& best_shift,
                                     const std::string& best_file, const std::vector<TableRow>& rows,
                                     int initial_vehicles, int max_shift) {
  std::vector<OutputFile> files{{"Tarsel_best.bss", best_file},
                                {"Tarsel_shifts.csv", shifts_file(problem, best_shift, max_shift)}};
  std::map<int, const TableRow*> per_count;
  for (const TableRow& row : rows)
    if (row.vehicles >= 0 && row.vehicles < initial_vehicles && fewer_moves(row, per_count[row.vehicles]))
      per_count[row.vehicles] = &row;
  for (const auto& [vehicles, row] : per_count) {
    const std::string v = std::to_string(vehicles);
    files.push_back({"Tarsel_best_" + v + ".bss", row->trip_file});
    files.push_back({"Tarsel_shifts_" + v + ".csv", shifts_file(problem, row->point->shift, max_shift)});
  }
  return files;
}

struct Figures {
  int64_t initial_cost = 0, best_cost = 0;
  int initial_vehicles = 0, best_vehicles = 0, moved = 0;
  int max_shift = 0, bound = 0;
  bool proven = false;
  int64_t evaluations = 0;
  double seconds = 0;
};

void print_results(const std::vector<TableRow>& rows, const Figures& f) {
  std::printf("vehicles saved\tvehicles\tfewest moved trips\tcost\n");
  for (int saved = 1;; ++saved) {
    const TableRow* found = nullptr;
    for (const TableRow& row : rows)
      if (row.vehicles <= f.initial_vehicles - saved && fewer_moves(row, found)) found = &row;
    if (!found) break;
    std::printf("%d\t%d\t%d\t%lld\n", saved, f.initial_vehicles - saved, found->moved,
                static_cast<long long>(found->cost));
  }
  if (f.proven)
    std::printf("no timetable with departures within %d minutes needs fewer than %d vehicles\n", f.max_shift,
                f.bound);
  std::printf(
      "{\"initial_cost\": %lld, \"initial_vehicles\": %d, \"best_cost\": %lld, \"best_vehicles\": %d, "
      "\"moved\": %d, \"evaluations\": %lld, \"seconds\": %.1f, \"bound_vehicles\": %d, \"proven\": %s}\n",
      static_cast<long long>(f.initial_cost), f.initial_vehicles, static_cast<long long>(f.best_cost),
      f.best_vehicles, f.moved, static_cast<long long>(f.evaluations), f.seconds, f.bound,
      f.proven ? "true" : "false");
}

// The fewest vehicles Tovarin gave a timetable of the run; a count it did not
// write (-1) proves nothing.
int fewest_vehicles(const SolverCheck& initial, const SolverCheck& best, const std::vector<TableRow>& rows) {
  int fewest = INT_MAX;
  for (int v : {initial.vehicles, best.vehicles}) fewest = v >= 0 ? std::min(fewest, v) : fewest;
  for (const TableRow& row : rows) fewest = row.vehicles >= 0 ? std::min(fewest, row.vehicles) : fewest;
  return fewest;
}

// The files go in place with the signals held back, so that a signal cannot
// part the set; one that came before ends the run without them.
void put_in_place(const std::string& dir, const std::vector<OutputFile>& files) {
  sigset_t stops, before;
  sigemptyset(&stops);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, signal_number);
  sigprocmask(SIG_BLOCK, &stops, &before);
  stop_if_signalled();
  std::string error;
  const bool ok = put_file_set(dir, files, error);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (!ok) stop_run(error);
}

// Reads the problem under its lock, after putting in place the file set of a
// run that was stopped while it did so.
void read_input(const Options& options, ProblemLock& lock, Problem& problem) {
  hold_problem_lock(problem_lock_path(options.dir, PROBLEM_NAME), lock);
  std::string error;
  if (!finish_file_set(options.dir, error)) stop_run("the files of an earlier run cannot be put in place: " + error);
  StdoutToStderr quiet;
  read_problem(options.dir, problem);
}

// Tovarin on the trip file as it stands.
SolverCheck solve_as_read(const std::string& dir) {
  std::string original;
  {
    std::ifstream in(dir + "Tarsel.bss", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    original = s.str();
  }
  SolverCheck initial = check_with_solver(dir, original);
  stop_if_signalled();
  if (!initial.ran) stop_run("the timetable read cannot be solved: " + initial.failure);
  return initial;
}

// The in-process evaluation must start from Tovarin's cost; a trip file out
// of departure order is solved by Tovarin in the order it stands, which the
// search cannot keep, and is only noted.
void compare_with_solver(const Problem& problem, const ShiftNetwork& net, const SolverCheck& initial) {
  if (net.total_cost == initial.total_cost) return;
  if (in_departure_order(problem))
    stop_run("the in-process evaluation gives " + std::to_string(net.total_cost) + " where Tovarin gives " +
             std::to_string(initial.total_cost) + " (internal error)");
  std::fprintf(stderr,
               "shift_search: Tarsel.bss does not list the trips in departure order; in that order the "
               "timetable read costs %lld (Tovarin on the file as it stands: %lld)\n",
               static_cast<long long>(net.total_cost), static_cast<long long>(initial.total_cost));
}

// The fewest vehicles any timetable within the window can need, shown before
// the search and given to it as the point to stop at.
int announce_bound(const ShiftNetwork& net, const HeadwayRule& headway, const Options& options) {
  const int bound = vehicle_lower_bound(net, headway);
  std::fprintf(stderr, "shift_search: no timetable with departures within %d minutes can do with fewer than %d "
               "vehicles (the timetable read needs %d)\n", options.max_shift, bound, net.vehicles);
  return bound;
}

// Tovarin on the best timetable found, which must cost what the search says.
SolverCheck confirm_best(const std::string& dir, const Problem& problem, const ShiftNetwork& net,
                         std::string& best_file) {
  std::string error;
  if (!shifted_trip_file(problem, net.shift, trip_file_order(net), best_file, error))
    stop_run("the best timetable cannot be written as a trip file: " + error);
  SolverCheck confirm = confirmed_run(dir, best_file, "the best timetable");
  if (confirm.total_cost != net.total_cost)
    stop_run("Tovarin gives " + std::to_string(confirm.total_cost) + " for the best timetable, the search " +
             std::to_string(net.total_cost) + " (internal error); nothing written");
  return confirm;
}

bool headways_kept(const HeadwayRule& headway, const ShiftNetwork& net, const std::vector<TableRow>& table) {
  bool kept = headways_hold(headway, net.shift);
  for (const TableRow& row : table) kept = kept && headways_hold(headway, row.point->shift);
  return kept;
}

// The figures of the closing lines, once every file is in place.
Figures closing_figures(const SolverCheck& initial, const SolverCheck& confirm, const std::vector<TableRow>& table,
                        const ShiftNetwork& net, int bound, int max_shift) {
  Figures f;
  f.max_shift = max_shift;
  f.bound = bound;
  f.initial_cost = initial.total_cost;
  f.initial_vehicles = initial.vehicles;
  f.best_cost = confirm.total_cost;
  f.best_vehicles = confirm.vehicles;
  f.moved = net.moved;
  const int fewest = fewest_vehicles(initial, confirm, table);
  if (fewest < bound)
    std::fprintf(stderr, "shift_search: a timetable needs %d vehicles, fewer than the bound (internal error)\n",
                 fewest);
  f.proven = fewest == bound;
  return f;
}

// The whole run; whatever ends it early comes up as a FatalError.
int run(Options& options, std::chrono::steady_clock::time_point started) {
  ProblemLock lock;
  auto problem = std::make_unique<Problem>();
  read_input(options, lock, *problem);
  const SolverCheck initial = solve_as_read(options.dir);
  auto net = std::make_unique<ShiftNetwork>();
  build_shift_network(*problem, options.max_shift, *net);
  compare_with_solver(*problem, *net, initial);

  const HeadwayRule headway = make_headway_rule(*problem, options.max_headway_change);
  if (options.max_headway_change >= 0) options.search.headway = &headway;
  const int bound = announce_bound(*net, headway, options);
  options.search.bound_vehicles = bound;
  SearchResult result;
  if (net->vehicles > bound) run_shift_search(*net, options.search, result);
  stop_if_signalled();

  std::string best_file;
  const SolverCheck confirm = confirm_best(options.dir, *problem, *net, best_file);
  const std::vector<TableRow> table = confirm_table(options.dir, *problem, result, initial.vehicles);
  if (!headways_kept(headway, *net, table))
    stop_run("a timetable found breaks the headway rule (internal error); nothing written");
  put_in_place(options.dir, result_files(*problem, net->shift, best_file, table, initial.vehicles,
                                         options.max_shift));

  Figures f = closing_figures(initial, confirm, table, *net, bound, options.max_shift);
  f.evaluations = result.evaluations;
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  print_results(table, f);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  Options options = parse_arguments(argc, argv);
  options.search.progress = isatty(STDERR_FILENO) != 0;
  install_stop_handlers();
  try {
    return run(options, started);
  } catch (const FatalError& error) {
    return report_fatal(error);
  }
}
