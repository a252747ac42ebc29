#include "search/timetable_files.h"

#include <cstdio>
#include <ctime>

#include "common/common.h"

using namespace common;
using namespace solver;

namespace search {

namespace {
std::string hours_minutes(int minutes) {
  int h, m;
  split_minutes(minutes, h, m);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d:%02d", h, m);
  return buffer;
}

// The header value of the trip files the batch annealer writes.
constexpr int TRIP_HEADER_VALUE = 5;
}  // namespace

std::string matrix_section(const Problem& problem) {
  const int n = problem.num_terminals;
  std::string out = "[DEAD_RUN_MATRIX]\nNUM_TERMINALS = " + std::to_string(n) + "\n";
  out += "# dead runs in h:mm from the row's terminal to the column's; terminal 0 is the depot\n";
  char cell[64];
  out += "        ";
  for (int t = 0; t < n; ++t) {
    std::snprintf(cell, sizeof cell, " %8s", problem.terminal_names[t]);
    out += cell;
  }
  for (int r = 0; r < n; ++r) {
    std::snprintf(cell, sizeof cell, "\n%-8s", problem.terminal_names[r]);
    out += cell;
    for (int c = 0; c < n; ++c) {
      std::snprintf(cell, sizeof cell, " %8s", hours_minutes(problem.deadrun_matrix[r][c]).c_str());
      out += cell;
    }
  }
  return out;
}

Timetable shifted_timetable(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order) {
  Timetable t;
  for (int k = 0; k < problem.num_terminals; ++k) t.terminal_names.push_back(problem.terminal_names[k]);
  for (int k : order) {
    const Trip& trip = problem.trips[k];
    t.trips.push_back(TimetableTrip{trip.departure_time + shift[k], trip.arrival_time + shift[k],
                                    trip.origin_terminal, trip.destination_terminal, trip.group_key,
                                    trip.aux_value, trip.min_layover});
  }
  return t;
}

bool shifted_trip_file(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order,
                       std::string& text, std::string& error) {
  std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return format_trip_file(shifted_timetable(problem, shift, order), matrix_section(problem), TRIP_HEADER_VALUE,
                          local ? std::asctime(local) : "", text, error);
}

}  // namespace search
