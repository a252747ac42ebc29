// lemon_baseline DIRECTORY
//
// Reads the problem in DIRECTORY (Tarsel.ini, Tarsel.bss and the optional
// Tarsel.prr) with the solver's own readers, solves the whole network, long
// connections included, with LEMON's network simplex, and prints one line:
//
//   optimum=<total cost> vehicles=<flow on the return arc> arcs=<all arcs>
//   short=<arcs the solver holds in memory, as its "Total of Short Arcs">
//   long=<long connections> short_connections=<short connections>
//   solve_seconds=<simplex time> status=<OPTIMAL|INFEASIBLE|UNBOUNDED>
//   int32=<ok|overflow> capacity=<ok|exceeded>
//
// int32=overflow says that an arc cost or the optimum leaves the 32-bit range
// the solver computes in, so its total cannot match. capacity=exceeded says
// that the arcs in memory exceed the solver's arc table.
//
// The readers' console echo goes to standard error, so that standard output
// holds the one line only. Exit code 0 after a solve, 1 when the problem
// cannot be read, 2 on a wrong command line.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "bench/full_network.h"
#include "common/common.h"
#include "solver/problem.h"

using namespace common;
using namespace solver;

namespace {

constexpr int SOLVER_ARC_CAPACITY = 683099;

// Sends standard output to standard error while it lives.
class StdoutToStderr {
 public:
  StdoutToStderr() {
    std::fflush(stdout);
    std::cout.flush();
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  ~StdoutToStderr() {
    std::fflush(stdout);
    std::cout.flush();
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  StdoutToStderr(const StdoutToStderr&) = delete;
  StdoutToStderr& operator=(const StdoutToStderr&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argc > 0 ? argv[0] : "lemon_baseline");
    return 2;
  }
  std::string prefix = argv[1];
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';

  static Problem problem;  // large fixed tables: keep them off the stack
  try {
    StdoutToStderr quiet;
    read_problem(prefix, problem);
  } catch (const FatalError& error) {
    std::fputs(error.message.c_str(), stderr);
    std::fputc('\n', stderr);
    return 1;
  }

  const FullNetworkResult result = solve_full_network(problem);
  std::printf(
      "optimum=%lld vehicles=%lld arcs=%d short=%d long=%d short_connections=%d solve_seconds=%.3f status=%s "
      "int32=%s capacity=%s\n",
      static_cast<long long>(result.optimum), static_cast<long long>(result.vehicles), result.num_arcs,
      result.num_short_arcs, result.num_long_arcs, result.num_short_connections, result.solve_seconds,
      full_network_status_name(result.status), result.fits_int32 ? "ok" : "overflow",
      result.num_short_arcs > SOLVER_ARC_CAPACITY ? "exceeded" : "ok");
  return 0;
}
