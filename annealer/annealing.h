// The annealing itself: a timetable's cost comes from a run of the solver on
// its trip file, neighbours are accepted by the Metropolis rule, Sorvenna
// searches its starting temperature, and the changed departures are counted
// at the end.
#pragma once

#include <string>

#include "annealer/timetable.h"
#include "common/atomic_file.h"
#include "common/problem_lock.h"
#include "common/timetable_out.h"

namespace annealer {

// The annealing stops once the temperature is no longer above this.
inline constexpr double STOP_TEMPERATURE = 0.001;
// Without this bound a timetable whose every neighbour costs the same (each
// trial has delta 0, which never counts) would heat for ever.
inline constexpr int MAX_HEATING_STEPS = 30;

// What tells Sorvenna and Lurrick apart once they anneal.
struct AnnealerSettings {
  int header_value = 0;               // the "[TRIP] %d" value of every trip file written
  bool pause_after_trip_total = false;
  bool pause_after_temperature = false;
  double cooling_factor = 0.5;
  int evaluations_per_temperature = 10;
};

// Everything one program run works on.
struct AnnealerRun {
  ProblemData problem;
  TripTable current;
  TripTable initial;  // as read; the reference of every move's window
  TripTable best;
  TripTable neighbour;
  common::TripLineCache trip_lines;  // of the last candidate's trip file
  common::RewrittenFile trip_file;   // the candidates' trip file and its spare
  bool candidate_read = false;       // a solver run has read a candidate's trip file
  int fo = 0;  // cost of the current table
  std::string solver_path;
  common::ProblemLock lock;  // Tarsel.lock, shared with the solver runs
};

// One "TRIP" line per record: times in minutes, terminals as numbers.
void print_trips(const TripTable& table, int num_trips, bool line_break_before);

// Reads the first integer of the solution file.
void read_objective(const std::string& file_name, int& value);

// The cost of the timetable in the trip file as it stands now.
int evaluate_trip_file(const AnnealerRun& run);

// Copies the current table into the neighbour table, moves one trip, writes
// the trip file and returns the solver's cost of it.
int evaluate_neighbour(AnnealerRun& run, const AnnealerSettings& settings);

// A worse neighbour passes when exp(-delta / T) exceeds the draw u; so does
// one of equal cost, since u stays below 1.
bool metropolis_accepts(long long delta, double temperature, double u);
// In the temperature search a neighbour of equal cost says nothing about the
// temperature and never counts.
bool counts_in_temperature_search(long long delta, double temperature, double u);

// Anneals from `temperature` down to STOP_TEMPERATURE; on return the current
// table and run.fo hold the best timetable met.
void simulated_annealing(AnnealerRun& run, const AnnealerSettings& settings, double temperature);

// Doubles (by heating_factor) from start_temperature until at least
// trials * ratio neighbours of the current table count as accepted; gives up
// heating after MAX_HEATING_STEPS and says so on standard error. Leaves the
// current table and run.fo as they were.
double initial_temperature(AnnealerRun& run, const AnnealerSettings& settings, double heating_factor,
                           double ratio, int trials, double start_temperature);

struct ChangeCounts {
  int later = 0;
  int later_minutes = 0;
  int earlier = 0;
  int earlier_minutes = 0;  // zero or negative
};

// Record by record, departures of `final_table` against `initial_table`.
ChangeCounts count_changes(int num_trips, const TripTable& final_table, const TripTable& initial_table);

// Prints the final trips and the counts (the CONTADOR report), then pauses.
void report_changes(int num_trips, const TripTable& final_table, const TripTable& initial_table);

}  // namespace annealer
