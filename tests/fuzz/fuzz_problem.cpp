// A whole problem as the solver takes it (parameters, trips, groups), read,
// built into a network and solved with arc generation, for small timetables.
// The schedule it ends with is checked for optimality on its own terms: every
// arc in memory in kilter with the final prices, every long connection left
// in the file without a negative reduced cost, flow conserved at every node.
// Together these prove that no schedule over all connections is cheaper.
//
// Input: the parameter file, a NUL byte, the trip file, optionally a NUL byte
// and the groups file.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/common.h"
#include "common/text_cursor.h"
#include "solver/arcgen.h"
#include "solver/kilter.h"
#include "solver/network.h"
#include "solver/problem.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace solver;

namespace {

constexpr int MAX_FUZZ_TRIPS = 40;

struct World {
  Problem problem;
  Network net;
  KilterState ks;
};

long long reduced(const KilterState& ks, int tail, int head, int cost) {
  return static_cast<long long>(cost) + ks.price[tail] - ks.price[head];
}

void check_optimal(const World& w, const std::string& long_arc_path) {
  const Network& net = w.net;
  const KilterState& ks = w.ks;
  std::vector<long long> balance(static_cast<size_t>(net.num_nodes) + 1, 0);
  for (int a = 1; a <= net.num_arcs; ++a) {
    const int f = net.flow[a];
    FUZZ_CHECK(f >= net.lower[a] && f <= net.upper[a]);
    const long long rc = reduced(ks, net.tail[a], net.head[a], net.cost[a]);
    if (rc > 0) FUZZ_CHECK(f == net.lower[a]);
    if (rc < 0) FUZZ_CHECK(f == net.upper[a]);
    balance[net.tail[a]] -= f;
    balance[net.head[a]] += f;
  }
  for (int n = 1; n <= net.num_nodes; ++n) FUZZ_CHECK(balance[n] == 0);

  FILE* f = std::fopen(long_arc_path.c_str(), "rb");
  FUZZ_CHECK(f != nullptr);
  LongArcRecord r;
  while (std::fread(&r, sizeof r, 1, f) == 1)
    if (r.included == 0) FUZZ_CHECK(reduced(ks, r.tail, r.head, r.cost) >= 0);
  std::fclose(f);

  // The reported total is the sum, and connections only lead to later trips,
  // so every vehicle leaves the depot.
  const int T = w.problem.num_trips;
  long long total = 0;
  for (int a = 1; a <= net.num_arcs; ++a) total += static_cast<long long>(net.flow[a]) * net.cost[a];
  int vehicles = -1;
  FUZZ_CHECK(objective_value(net, T, vehicles) == total);
  FUZZ_CHECK(vehicles >= (T > 0 ? 1 : 0) && vehicles <= T);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  static World* world = new World;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t first = input.find('\0');
  if (first == std::string::npos) return 0;
  const size_t second = input.find('\0', first + 1);
  const std::string ini = input.substr(0, first);
  const std::string bss = input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);

  World& w = *world;
  w.problem = Problem{};
  w.net.num_arcs = 0;
  w.net.num_nodes = 0;
  reset_kilter(w.ks);
  const std::string long_arc_path = scratch_dir() + "temp.lng";
  try {
    TextCursor cursor;
    load_text(ini, cursor);
    parse_parameters("Tarsel.ini", cursor, w.problem.params);
    load_text(bss, cursor);
    parse_trip_file("Tarsel.bss", cursor, w.problem);
    if (w.problem.num_trips > MAX_FUZZ_TRIPS) return 0;
    if (second != std::string::npos) {
      load_text(input.substr(second + 1), cursor);
      w.problem.link_preference_cost = parse_groups("Tarsel.prr", cursor, w.problem);
    }
    build_network(w.problem, w.net, long_arc_path);
  } catch (const FatalError& error) {
    FUZZ_CHECK(error.exit_code == 1);
    return 0;
  }

  RunCounters counters;
  counters.num_arcs_before_generation = w.net.num_arcs;
  // Every pass that goes on adds at least one record, and no record twice.
  const int most_passes = w.net.num_long_arcs + 1;
  int passes = 0;
  try {
    for (;;) {
      solve_circulation(w.net, w.ks, counters, nullptr);
      ++passes;
      FUZZ_CHECK(passes <= most_passes);
      if (!generate_arcs(w.net, w.ks, counters, w.problem.num_trips, long_arc_path, nullptr)) break;
    }
  } catch (const FatalError& error) {
    // Only the arc table's capacity may stop a solve of a problem that was read.
    FUZZ_CHECK(error.message.find("arcs in memory") != std::string::npos);
    return 0;
  }
  FUZZ_CHECK(w.net.feasible);
  check_optimal(w, long_arc_path);
  return 0;
}
