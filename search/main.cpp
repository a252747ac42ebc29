// shift_search: finds the departure shifts of at most a few minutes that make
// the optimal vehicle schedule cheapest, and leaves the best timetable found.
//
//   shift_search [DIR] [--max-shift M] [--seconds S] [--seed N]
//                [--move-cost C] [--max-moves K] [--evaluations E]
//
// DIR (default the current directory) holds Tarsel.ini, Tarsel.bss and the
// optional Tarsel.prr. Standard output: the fewest moved trips found for each
// vehicle saved, then one line with a JSON object of the figures. Everything
// else goes to standard error. Exit codes: 0 done, 1 bad input or a failure
// (nothing written), 2 wrong command line.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "common/atomic_file.h"
#include "common/common.h"
#include "common/problem_lock.h"
#include "search/shift_network.h"
#include "search/shift_search.h"
#include "search/solver_check.h"
#include "search/timetable_files.h"
#include "solver/problem.h"

using namespace common;
using namespace solver;
using namespace search;

namespace {

constexpr int LARGEST_SHIFT = 60;

const char* const USAGE =
    "Usage: shift_search [DIR] [--max-shift M] [--seconds S] [--seed N] [--move-cost C] [--max-moves K]\n"
    "                    [--evaluations E] | --help | --version\n";

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
    "  --evaluations E  stop after E evaluations as well (default: no limit)\n"
    "\n"
    "The best timetable found is solved once more by Tovarin (the one beside this program, else the\n"
    "one on the search path) in a scratch directory; its cost must equal the one found. Then DIR gets\n"
    "Tarsel_best.bss (that timetable, a trip file Tovarin solves) and Tarsel_shifts.csv (one row per\n"
    "trip: trip number, line, terminals, departure before and after, shift), each written whole.\n"
    "Standard output: for each vehicle saved, the fewest moved trips found, then one JSON line with\n"
    "initial_cost, initial_vehicles, best_cost, best_vehicles, moved, evaluations and seconds.\n"
    "Progress goes to standard error when it is a terminal.\n"
    "\n"
    "Exit codes: 0 done; 1 the problem cannot be read or solved (the solver's messages) or a file\n"
    "cannot be written; 2 a wrong command line.\n";

struct Options {
  std::string dir;
  int max_shift = 3;
  SearchOptions search;
};

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

Options parse_arguments(int argc, char** argv) {
  Options o;
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
      const char* v = argv[++a];
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
      } else {
        usage_error("unexpected argument", arg.c_str());
      }
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

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "shift_search: %s\n", message.c_str());
  std::exit(1);
}

// A row of the moves-vehicles table: a timetable the search met, with the
// vehicles Tovarin gives it (the optimum may be reached with more than one
// vehicle count; what counts is the schedule Tovarin writes).
struct TableRow {
  int vehicles = 0;
  int moved = 0;
  int64_t cost = 0;
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
      fail("a timetable of the table cannot be written as a trip file: " + error);
    SolverCheck check = check_with_solver(dir, text);
    if (!check.ran) fail("a timetable of the table cannot be confirmed: " + check.failure);
    if (check.total_cost != point.cost)
      fail("Tovarin gives " + std::to_string(check.total_cost) + " for a timetable of the table, the search " +
           std::to_string(point.cost) + " (internal error); nothing written");
    rows.push_back({check.vehicles, point.moved, point.cost});
  }
  return rows;
}

void print_results(const SearchResult& r, const std::vector<TableRow>& rows, int64_t initial_cost,
                   int initial_vehicles, int64_t best_cost, int best_vehicles, int moved, double seconds) {
  std::printf("vehicles saved\tvehicles\tfewest moved trips\tcost\n");
  for (int saved = 1;; ++saved) {
    const TableRow* found = nullptr;
    for (const TableRow& row : rows)
      if (row.vehicles <= initial_vehicles - saved &&
          (!found || row.moved < found->moved || (row.moved == found->moved && row.cost < found->cost)))
        found = &row;
    if (!found) break;
    std::printf("%d\t%d\t%d\t%lld\n", saved, initial_vehicles - saved, found->moved,
                static_cast<long long>(found->cost));
  }
  std::printf(
      "{\"initial_cost\": %lld, \"initial_vehicles\": %d, \"best_cost\": %lld, \"best_vehicles\": %d, "
      "\"moved\": %d, \"evaluations\": %lld, \"seconds\": %.1f}\n",
      static_cast<long long>(initial_cost), initial_vehicles, static_cast<long long>(best_cost), best_vehicles, moved,
      static_cast<long long>(r.evaluations), seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  Options options = parse_arguments(argc, argv);
  options.search.progress = isatty(STDERR_FILENO) != 0;

  ProblemLock lock;
  auto problem = std::make_unique<Problem>();
  try {
    hold_problem_lock(problem_lock_path(options.dir, PROBLEM_NAME), lock);
    StdoutToStderr quiet;
    read_problem(options.dir, *problem);
  } catch (const FatalError& error) {
    return report_fatal(error);
  }

  std::string original;
  {
    std::ifstream in(options.dir + "Tarsel.bss", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    original = s.str();
  }
  SolverCheck initial = check_with_solver(options.dir, original);
  if (!initial.ran) fail("the timetable read cannot be solved: " + initial.failure);

  auto net = std::make_unique<ShiftNetwork>();
  try {
    build_shift_network(*problem, options.max_shift, *net);
  } catch (const FatalError& error) {
    return report_fatal(error);
  }
  if (net->total_cost != initial.total_cost) {
    if (in_departure_order(*problem))
      fail("the in-process evaluation gives " + std::to_string(net->total_cost) + " where Tovarin gives " +
           std::to_string(initial.total_cost) + " (internal error)");
    std::fprintf(stderr,
                 "shift_search: Tarsel.bss does not list the trips in departure order; in that order the "
                 "timetable read costs %lld (Tovarin on the file as it stands: %lld)\n",
                 static_cast<long long>(net->total_cost), static_cast<long long>(initial.total_cost));
  }

  SearchResult result;
  try {
    run_shift_search(*net, options.search, result);
  } catch (const FatalError& error) {
    return report_fatal(error);
  }

  std::string best_file, error;
  const std::vector<int> order = trip_file_order(*net);
  if (!shifted_trip_file(*problem, net->shift, order, best_file, error))
    fail("the best timetable cannot be written as a trip file: " + error);
  SolverCheck confirm = check_with_solver(options.dir, best_file);
  if (!confirm.ran) fail("the best timetable cannot be confirmed: " + confirm.failure);
  if (confirm.total_cost != net->total_cost)
    fail("Tovarin gives " + std::to_string(confirm.total_cost) + " for the best timetable, the search " +
         std::to_string(net->total_cost) + " (internal error); nothing written");

  const std::vector<TableRow> table = confirm_table(options.dir, *problem, result, initial.vehicles);

  // Both files or, when the first cannot be written, neither.
  FileFailure failure;
  std::string shifts_text;
  std::vector<int> unshifted(problem->num_trips + 1, 0), read_order(problem->num_trips);
  for (int k = 0; k < problem->num_trips; ++k) read_order[k] = k + 1;
  if (!format_shifts_file(shifted_timetable(*problem, unshifted, read_order),
                          shifted_timetable(*problem, net->shift, order).trips, options.max_shift, shifts_text, error))
    fail("the shifts file cannot be made: " + error);
  if (!write_file_atomically(options.dir + "Tarsel_best.bss", best_file, failure) ||
      !write_file_atomically(options.dir + "Tarsel_shifts.csv", shifts_text, failure))
    fail(failure.text());

  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  print_results(result, table, initial.total_cost, initial.vehicles, confirm.total_cost, confirm.vehicles, net->moved,
                seconds);
  return 0;
}
