// The search over departure shifts: simulated annealing on the exact cost of
// the optimal schedule plus a price per moved trip, with moves taken from
// what the optimal schedule tells (connections missed by a few minutes, ranked
// by their reduced cost), and a last phase that takes moves back while the
// vehicle count holds, which gives the fewest moves found per vehicle count.
// Several searches run side by side, one per thread, each on a network of its
// own and with a seed of its own; they meet after every few thousand
// evaluations, so that a vehicle count that reaches the bound stops them all
// at the same point whatever the threads' speeds: with a budget of
// evaluations the same seed and thread count give the same result.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "search/headway.h"
#include "search/shift_network.h"

namespace search {

struct SearchOptions {
  double seconds = 300;         // stop after this much wall-clock time
  int64_t max_evaluations = -1;  // stop after this many evaluations; -1 no limit
  unsigned seed = 1;
  int64_t move_cost = 0;  // added to the cost per moved trip
  int max_moves = -1;     // most trips moved at once; -1 no limit
  bool progress = false;  // one line on standard error, rewritten in place
  int threads = 1;
  int bound_vehicles = -1;              // stop once a timetable needs no more; -1 none
  const HeadwayRule* headway = nullptr;  // none: no rule
};

struct ParetoPoint {
  int moved = 0;
  int64_t cost = 0;
  std::vector<int> shift;  // per trip
};

struct SearchResult {
  std::vector<int> best_shift;  // per trip, 1..num_trips
  int64_t best_cost = 0;        // the schedule's cost, without the move cost
  int best_vehicles = 0;
  int best_moved = 0;
  int64_t evaluations = 0;
  double seconds = 0;
  bool bound_reached = false;
  // Per vehicle count: the timetable with the fewest moved trips found
  // (the cheapest of those).
  std::map<int, ParetoPoint> pareto;
};

// Starts from the network as it stands (every shift 0) and leaves it at the
// best timetable found. Stops early, without a result worth keeping, once
// stop_signal() tells of a signal.
void run_shift_search(ShiftNetwork& net, const SearchOptions& options, SearchResult& result);

// Brings the network to these shifts (per trip) and keeps them.
void move_network_to(ShiftNetwork& net, const std::vector<int>& shifts);

}  // namespace search
