#include "search/timetable_files.h"

using namespace common;
using namespace solver;

namespace search {

namespace {
// The header value of the trip files the batch annealer writes.
constexpr int TRIP_HEADER_VALUE = 5;
}  // namespace

Timetable shifted_timetable(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order) {
  Timetable t;
  for (int k = 0; k < problem.num_terminals; ++k) {
    t.terminal_names.push_back(problem.terminal_names[k]);
    t.deadrun_minutes.insert(t.deadrun_minutes.end(), problem.deadrun_matrix[k],
                             problem.deadrun_matrix[k] + problem.num_terminals);
  }
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
  const Timetable timetable = shifted_timetable(problem, shift, order);
  return format_trip_file(timetable, format_matrix_section(timetable), TRIP_HEADER_VALUE,
                          local_clock_text().c_str(), text, error);
}

}  // namespace search
