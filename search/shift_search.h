// The search over departure shifts: simulated annealing on the exact cost of
// the optimal schedule plus a price per moved trip, with moves taken from
// what the optimal schedule tells (connections missed by a few minutes, ranked
// by their reduced cost), and a last phase that takes moves back while the
// vehicle count holds, which gives the fewest moves found per vehicle count.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "search/shift_network.h"

namespace search {

struct SearchOptions {
  double seconds = 300;         // stop after this much wall-clock time
  int64_t max_evaluations = -1;  // stop after this many evaluations; -1 no limit
  unsigned seed = 1;
  int64_t move_cost = 0;  // added to the cost per moved trip
  int max_moves = -1;     // most trips moved at once; -1 no limit
  bool progress = false;  // one line on standard error, rewritten in place
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
  // Per vehicle count: the timetable with the fewest moved trips found
  // (the cheapest of those).
  std::map<int, ParetoPoint> pareto;
};

// Starts from the network as it stands (every shift 0) and leaves it at the
// best timetable found.
void run_shift_search(ShiftNetwork& net, const SearchOptions& options, SearchResult& result);

}  // namespace search
